#!/usr/bin/env bash
# Builds Torvane and starts it. Without a display it starts the program under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
# The application icon is read from the working directory.
cd "$(pwd)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display found; starting Torvane under Xvfb (xvfb-run)." >&2
  exec xvfb-run -a -s "-screen 0 1366x768x24" ./build/torvane
fi
exec ./build/torvane
