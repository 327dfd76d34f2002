#!/usr/bin/env bash
# Installs what is missing, then configures and builds into build/ at the repository root.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
generator=()
if [ ! -f build/CMakeCache.txt ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)"
