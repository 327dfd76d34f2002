#!/usr/bin/env bash
# Builds Torvane with clang, AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/ and
# runs the whole CTest suite there (with the fuzz targets' seed inputs). Any report fails the run.
# Usage: scripts/test-sanitizers.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
source scripts/sanitizers/env.sh
configure_asan
cmake --build "$asan_dir" --parallel "$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$asan_dir" --output-on-failure --timeout 1200 "$@"
