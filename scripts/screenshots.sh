#!/usr/bin/env bash
# Builds Torvane and saves pictures of the main window (Arabic and English, light and dark) into
# docs/, taken under Xvfb on a seeded task list in a throw-away home folder.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
generator=()
if [ ! -f build/CMakeCache.txt ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target torvane-screenshots
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" \
  XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=xcb \
  timeout 120 xvfb-run -a -s "-screen 0 1366x768x24" ./build/torvane-screenshots docs
