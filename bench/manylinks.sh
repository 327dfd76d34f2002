#!/usr/bin/env bash
# Many links in one add dialog, through build/torvane-cardbench --links under Xvfb: N links to
# files on nginx (loopback, 256 KiB each), probed four at a time, then "Start all" with eight
# downloads at once. Prints, per run, the time until the rows show and until all are probed, the
# longest event-loop gap while probing (how long input would wait), how long "Start all" held the
# event loop, when every download had ended, and the most probes and downloads seen at once
# (sampled); every file is compared byte for byte.
#
# Usage: bench/manylinks.sh [runs] [links]   (defaults: 3 500; not run by CI)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
links=${2:-500}
./scripts/build.sh torvane-cardbench >/dev/null
port=$(shuf -i 20000-60000 -n 1)
. bench/lib.sh
start_nginx "$port"
Xvfb -displayfd 1 -screen 0 1366x768x24 -nolisten tcp >"$work/display" 2>/dev/null &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; nginx -c "$work/nginx.conf" -s stop 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")" QT_QPA_PLATFORM=xcb
mkdir -p "$work/www/many"
for i in $(seq "$links"); do head -c 262144 /dev/urandom >"$work/www/many/$i.bin"; done
for i in $(seq "$runs"); do
  rm -rf "$work/home" "$work/dl"; mkdir -p "$work/home/run" "$work/dl"; chmod 700 "$work/home/run"
  HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config" \
    XDG_RUNTIME_DIR="$work/home/run" ./build/torvane-cardbench --links "$links" \
    "http://127.0.0.1:$port/many/" "$work/dl" 2>/dev/null | tee -a "$work/runs"
  for f in "$work"/www/many/*.bin; do
    cmp -s "$f" "$work/dl/Torvane/Programs/$(basename "$f")" || { echo "BYTES DIFFER: $f" >&2; exit 1; }
  done
done
for key in rows_shown_ms all_probed_ms probing_gap_ms start_all_ms all_done_s most_probes most_running; do
  printf '%s=%s ' "$key" "$(grep -o "\b$key=[0-9.]*" "$work/runs" | cut -d= -f2 | median)"
done
echo
