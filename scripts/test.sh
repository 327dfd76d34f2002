#!/usr/bin/env bash
# Builds Torvane and runs every test under CTest. Widget tests run on the offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure --timeout 900 "$@"
