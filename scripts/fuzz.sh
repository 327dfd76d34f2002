#!/usr/bin/env bash
# Runs every libFuzzer target for a bounded time from its committed seeds (tests/fuzz/corpus/).
# A broken promise or a sanitizer report fails the run and prints the input that caused it.
# Usage: scripts/fuzz.sh [seconds per target, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
./scripts/install-deps.sh
source scripts/sanitizers/env.sh
configure_asan
targets=(fuzz_headers fuzz_bridgerequest fuzz_mediaprogress fuzz_taskstore)
cmake --build "$asan_dir" --parallel "$(nproc)" --target "${targets[@]}"

failed=0
for t in "${targets[@]}"; do
    work=$(mktemp -d)
    artifacts="$work/artifacts/"
    mkdir -p "$artifacts" "$work/corpus"
    # New inputs go to a scratch folder; the committed seeds stay as they are.
    if "$asan_dir/fuzz/$t" "$work/corpus" "tests/fuzz/corpus/$t" -max_total_time="$seconds" \
        -timeout=10 -max_len=4096 -print_final_stats=1 -artifact_prefix="$artifacts" \
        >"$work/log" 2>&1; then
        echo "fuzz: $t: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$') inputs, no finding"
    else
        failed=1
        echo "fuzz: $t FAILED"
        tail -n 60 "$work/log"
        for f in "$artifacts"*; do
            [ -f "$f" ] || continue
            echo "fuzz: input that failed ($f), escaped:"
            od -An -c "$f" | head -n 40
        done
    fi
    rm -rf "$work"
done
exit $failed
