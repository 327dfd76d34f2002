# Sourced by test-sanitizers.sh and fuzz.sh: the sanitizer build folder and the run-time options.
# shellcheck shell=bash

asan_dir=build-asan
san_dir="$(pwd)/scripts/sanitizers"

# clang with AddressSanitizer and UndefinedBehaviorSanitizer, float-to-integer overflows included
# (GCC's UBSan does not catch those); every report ends the program. Also builds the fuzz targets.
configure_asan() {
    local flags="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all"
    flags+=" -fno-omit-frame-pointer -O1 -gline-tables-only"
    local generator=()
    if [ ! -f "$asan_dir/CMakeCache.txt" ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
    cmake -S . -B "$asan_dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=None \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
        -DTORVANE_FUZZ=ON >/dev/null
}

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$san_dir/ubsan.supp"
export LSAN_OPTIONS="suppressions=$san_dir/lsan.supp:print_suppressions=0"
