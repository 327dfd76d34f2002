#!/usr/bin/env bash
# CPU cost of the views: user+system CPU seconds of a 1 GiB loopback download through the main
# window with its card on screen (build/torvane-cardbench under Xvfb) against the headless
# build/torvane-fetch on the same file from nginx. Prints the medians and their ratio.
# Every download is compared byte for byte with the served file.
#
# Usage: bench/cardbench.sh [runs]     (default 3; not run by CI)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
./scripts/build.sh torvane-fetch torvane-cardbench >/dev/null

port=18932
. bench/lib.sh
start_nginx $port
mkdir -p "$work/home"
head -c $((1024 * 1024 * 1024)) /dev/urandom >"$work/www/plain.bin"
head -c 1024 /dev/urandom >"$work/www/tiny.bin"
url="http://127.0.0.1:$port/plain.bin"

# window_run URL -> CPU seconds of one window download (Xvfb, start-up and exit included)
window_run() {
  rm -f "$work/out/file"; sync
  HOME="$work/home" XDG_RUNTIME_DIR="$work/home" QT_QPA_PLATFORM=xcb \
    /usr/bin/time -f "%U %S" -o "$work/cpu" \
    xvfb-run -a -s "-screen 0 1366x768x24" ./build/torvane-cardbench "$1" "$work/out/file" \
    >"$work/card.log" 2>/dev/null
  awk '{print $1 + $2}' "$work/cpu"
}

for i in $(seq "$runs"); do
  rm -f "$work/out/file"; sync
  /usr/bin/time -f "%U %S" -o "$work/cpu" ./build/torvane-fetch "$url" "$work/out/file" >/dev/null 2>&1
  cmp -s "$work/out/file" "$work/www/plain.bin" || { echo "BYTES DIFFER: fetch" >&2; exit 1; }
  awk '{print $1 + $2}' "$work/cpu" >>"$work/fetch.cpu"

  window_run "$url" >>"$work/card.cpu"
  cmp -s "$work/out/file" "$work/www/plain.bin" || { echo "BYTES DIFFER: card" >&2; exit 1; }
  log=$(cat "$work/card.log")
  # The same window on a 1 KiB file: what starting Xvfb and the program costs, download aside.
  window_run "http://127.0.0.1:$port/tiny.bin" >>"$work/start.cpu"
  echo "run $i: fetch $(tail -1 "$work/fetch.cpu") s, window $(tail -1 "$work/card.cpu") s, window start-up $(tail -1 "$work/start.cpu") s CPU ($log)"
done
f=$(median <"$work/fetch.cpu"); c=$(median <"$work/card.cpu"); s0=$(median <"$work/start.cpu")
echo "median CPU seconds: torvane-fetch $f, window with card $c (start-up $s0)"
echo "ratio window/fetch: $(echo "scale=2; $c / $f" | bc); without the window's start-up: $(echo "scale=2; ($c - $s0) / $f" | bc)"
