#!/usr/bin/env bash
# Cost of a long download list and of many downloads at once, under one Xvfb, through
# build/torvane-cardbench:
#   list       - saved lists of 1, 1,000 and 10,000 idle entries (the paused and failed ones
#                with a partial file and its checkpoint): time from the program's start
#                until the window is shown and answers, CPU and resident memory then, CPU while
#                idle, and the longest event-loop gap while scrolling (wheel and scroll-bar jumps),
#                clicking each sidebar filter, selecting all (then scrolling), clicking one card,
#                switching theme and language, and saving the list
#   downloads  - N downloads at once (8 parts each) from nginx on loopback, every connection
#                limited to RATE: wall and CPU time, how long starting them all held the event
#                loop, the longest event-loop gap in the first two seconds (connecting) and
#                after them, and cards on screen that missed their task's progress, with the
#                window and with the tasks alone;
#                every file is compared byte for byte with the served one
# Prints medians of the runs. Every run has its own throw-away HOME.
#
# Usage: bench/listbench.sh [runs] [sizes] [downloads] [rate]
#        (defaults: 3 "1 1000 10000" 50 256k; sizes "" skips the list part, downloads 0 the
#        downloads part; not run by CI)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
sizes=${2-1 1000 10000}
downloads=${3:-50}
rate=${4:-256k}
# CARDBENCH names another build of the driver (say, of an older commit) to measure instead, and
# CARDBENCH_SEED the one that writes the lists (by default the same), so both read the same lists;
# both must be named torvane-cardbench, as the data folder follows the program's name.
bin=${CARDBENCH:-./build/torvane-cardbench}
seeder=${CARDBENCH_SEED:-$bin}
[ -n "${CARDBENCH:-}" ] || ./scripts/build.sh torvane-cardbench >/dev/null

port=$(shuf -i 20000-60000 -n 1)
. bench/lib.sh
start_nginx "$port" "location /limited/ { limit_rate $rate; }"
Xvfb -displayfd 1 -screen 0 1366x768x24 -nolisten tcp >"$work/display" 2>/dev/null &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; nginx -c "$work/nginx.conf" -s stop 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")" QT_QPA_PLATFORM=xcb

# in_home CMD... runs CMD with the per-run HOME
in_home() {
  HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config" \
    XDG_RUNTIME_DIR="$work/home/run" "$@"
}
fresh_home() { rm -rf "$work/home" "$work/dl"; mkdir -p "$work/home/run" "$work/dl"; chmod 700 "$work/home/run"; }

# medians FILE KEY... -> "KEY=median" for each KEY over the key=value lines of FILE
medians() {
  local file=$1 key; shift
  for key in "$@"; do
    printf '%s=%s ' "$key" "$(grep -o "\b$key=[0-9.]*" "$file" | cut -d= -f2 | median)"
  done
  echo
}

# Sizes take turns within each run, so that a busy moment of the machine falls on all of them.
for n in $sizes; do : >"$work/list-$n"; done
for i in $(seq "$runs"); do
  for n in $sizes; do
    fresh_home
    in_home "$seeder" --seed "$n" "$work/dl"
    sync
    TORVANE_T0_NS=$(date +%s%N) in_home "$bin" --list >"$work/run" 2>/dev/null
    tr '\n' ' ' <"$work/run" >>"$work/list-$n"; echo >>"$work/list-$n"
    echo "entries $n, run $i: $(tr '\n' ' ' <"$work/run")"
  done
done
for n in $sizes; do
  echo "median, $n entries: $(medians "$work/list-$n" start_ms start_cpu_ms rss_mib idle_cpu_ms_per_3s \
    scroll_wheel_gap_ms scroll_drag_gap_ms filter_gap_ms select_all_gap_ms scroll_selected_gap_ms \
    click_select_gap_ms theme_gap_ms language_gap_ms save_gap_ms)"
done
if [ -s "$work/list-1" ]; then
  one=$(grep -o '\bstart_ms=[0-9]*' "$work/list-1" | cut -d= -f2 | median)
  for n in $sizes; do
    m=$(grep -o '\bstart_ms=[0-9]*' "$work/list-$n" | cut -d= -f2 | median)
    echo "start-up, $n entries against 1: $(echo "scale=2; $m / $one" | bc)"
  done
fi

if [ "$downloads" -gt 0 ]; then
  mkdir -p "$work/www/limited"
  head -c $((16 * 1024 * 1024)) /dev/urandom >"$work/www/limited/file.bin"
  : >"$work/window"; : >"$work/headless"
  for i in $(seq "$runs"); do
    for mode in window headless; do
      fresh_home
      rm -rf /dev/shm/torvane-listbench-$$; mkdir -p /dev/shm/torvane-listbench-$$
      in_home "$bin" --seed "$downloads" /dev/shm/torvane-listbench-$$ \
        "http://127.0.0.1:$port/limited/file.bin"
      flag=(); [ $mode = headless ] && flag=(--headless)
      in_home "$bin" --downloads "${flag[@]}" >"$work/run" 2>/dev/null || true
      for f in /dev/shm/torvane-listbench-$$/f*.bin; do
        cmp -s "$f" "$work/www/limited/file.bin" || { echo "BYTES DIFFER: $mode $f" >&2; exit 1; }
      done
      [ "$(ls /dev/shm/torvane-listbench-$$ | wc -l)" = "$downloads" ] || { echo "FILES MISSING" >&2; exit 1; }
      rm -rf /dev/shm/torvane-listbench-$$
      cat "$work/run" >>"$work/$mode"
      echo "downloads run $i: $(cat "$work/run")"
    done
  done
  w=$(grep -o 'cpu_ms=[0-9]*' "$work/window" | cut -d= -f2 | median)
  h=$(grep -o 'cpu_ms=[0-9]*' "$work/headless" | cut -d= -f2 | median)
  echo "median, $downloads downloads with the window: $(medians "$work/window" seconds cpu_ms start_all_ms opening_gap_ms steady_gap_ms card_samples stale_card_samples)"
  echo "median, $downloads downloads headless:        $(medians "$work/headless" seconds cpu_ms start_all_ms opening_gap_ms steady_gap_ms)"
  echo "CPU window/headless: $(echo "scale=2; $w / $h" | bc)"
fi
