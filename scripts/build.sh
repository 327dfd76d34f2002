#!/usr/bin/env bash
# Installs what is missing, then configures and builds into build/ at the repository root.
# Usage: scripts/build.sh [target ...]   (default: everything)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
generator=()
if [ ! -f build/CMakeCache.txt ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=()
[ $# -gt 0 ] && targets=(--target "$@")
cmake --build build --parallel "$(nproc)" "${targets[@]}"
