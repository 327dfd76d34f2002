#!/usr/bin/env bash
# Builds Torvane and saves pictures of the main window, the preferences (their proxy block, their
# Schedule page, and their check and combo boxes), the add-download dialog with one link and with
# several, and the login question (Arabic and English,
# light and dark) into docs/, taken under Xvfb on a seeded task list in a throw-away home folder.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh torvane-screenshots
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" \
  XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=xcb \
  timeout 120 xvfb-run -a -s "-screen 0 1366x768x24" ./build/torvane-screenshots docs
