#!/usr/bin/env bash
# Builds the suite with gcc's --coverage into build-coverage/, runs every test and writes a line
# and branch summary per folder of src/ to build-coverage/coverage.txt and coverage.json.
#
# Usage: scripts/coverage.sh [ctest -R pattern] | --per-suite [SUITE...] | --per-test [SUITE...]
#   --per-suite       run each Qt Test suite alone (those named, or all) and keep the lines it
#                     reaches in build-coverage/per-test/<suite>.json
#   --per-test        the same for each test function of the Qt Test suites named (all when none
#                     is named): build-coverage/per-test/<suite>.<function>.json
#   Both then sum their runs into the same summary, and scripts/coverage-unique.py lists the lines
#   only one run reaches.
# Coverage builds at -O0 so that every source line maps to code; tests are slower there, which is
# why the timeouts are longer than in scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh gcovr

dir=build-coverage
mode=all
suites=()
while [ $# -gt 0 ]; do
    case "$1" in
    --per-suite | --per-test) mode=$([ "$1" = --per-suite ] && echo suite || echo function); shift
        while [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; do suites+=("$1"); shift; done ;;
    *) break ;;
    esac
done
pattern="${1:-}"

generator=()
if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S . -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="--coverage -O0" -DCMAKE_EXE_LINKER_FLAGS=--coverage \
    -DCMAKE_SHARED_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$dir" --parallel "$(nproc)"

export QT_QPA_PLATFORM=offscreen
# Only the program's own code counts: generated moc/rcc files and the tests themselves do not.
gcovr_args=(--root . --object-directory "$dir" --filter 'src/' --filter 'tools/' --exclude '.*/moc_.*'
    --exclude '.*/qrc_.*' --exclude '.*_autogen/.*' --gcov-ignore-parse-errors --exclude-throw-branches --exclude-unreachable-branches)
reset() { find "$dir" -name '*.gcda' -delete; }

case "$mode" in
all)
    reset
    start=$SECONDS
    ctest --test-dir "$dir" --output-on-failure --timeout 1800 ${pattern:+-R "$pattern"} || status=$?
    echo "coverage: tests took $((SECONDS - start)) s"
    gcovr "${gcovr_args[@]}" --json "$dir/coverage-files.json" >/dev/null
    python3 scripts/coverage-summary.py "$dir/coverage-files.json" "$dir/coverage.json" \
        | tee "$dir/coverage.txt"
    exit "${status:-0}"
    ;;
suite | function)
    mkdir -p "$dir/per-test"
    # Naming suites records them again and keeps the other suites' records, so that a change to a
    # few suites is measured without running the rest (as long as src/ stayed the same).
    every=
    if [ ${#suites[@]} -eq 0 ]; then
        every=1
        rm -f "$dir"/per-test/*.json
        suites=($(cd "$dir/tests" && ls tst_*))
    fi
    # The data sum up from test to test; each record is what one test function added.
    reset
    rm -f "$dir/snapshot.json"
    python3 scripts/coverage-record.py "$dir" "$dir/snapshot.json"
    start=$SECONDS
    for s in "${suites[@]}"; do
        rm -f "$dir/per-test/$s".*.json "$dir/per-test/$s.json"
        if [ "$mode" = suite ]; then
            ctest --test-dir "$dir" --timeout 1800 -R "^$s\$" >/dev/null || echo "coverage: $s failed"
            python3 scripts/coverage-record.py "$dir" "$dir/snapshot.json" "$dir/per-test/$s.json"
            echo "coverage: recorded $s"
            continue
        fi
        for f in $("$dir/tests/$s" -functions | sed 's/()$//'); do
            (cd "$dir/tests" && LC_ALL=C.UTF-8 timeout 900 "./$s" "$f" >/dev/null 2>&1) \
                || echo "coverage: $s $f failed"
            python3 scripts/coverage-record.py "$dir" "$dir/snapshot.json" \
                "$dir/per-test/$s.$f.json"
            echo "coverage: recorded $s.$f"
        done
    done
    echo "coverage: tests and records took $((SECONDS - start)) s"
    # What all records reach together: the whole suite's figures when every suite ran.
    python3 scripts/coverage-summary.py --records "$dir/per-test" "$dir/snapshot.json" \
        "$dir/coverage-records.json" | tee "$dir/coverage-records.txt"
    # Every suite ran once, its data summed up: gcovr's figures for the whole suite too.
    if [ -n "$every" ]; then
        gcovr "${gcovr_args[@]}" --json "$dir/coverage-files.json" >/dev/null
        python3 scripts/coverage-summary.py "$dir/coverage-files.json" "$dir/coverage.json" \
            | tee "$dir/coverage.txt"
    fi
    ;;
esac
