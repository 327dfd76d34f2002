#!/usr/bin/env bash
# The speed a download shows and the speed limit, against nginx on loopback:
#   limit   - a 20 MiB file fetched with --limit-rate 2M by build/torvane-fetch and by curl;
#             prints the median wall time (10 s is exact).
#   bursty  - a 200 MiB file behind nginx's per-connection "limit_rate 1m", which sends about once
#             a second; prints the share of progress lines that read near 0 (below 10 % of the
#             true average) and how far the lines after the first 3 s stray from the true average
#             (the slope of bytes over time of those lines).
# Every download is compared byte for byte with the served file.
#
# Usage: bench/speedbench.sh [runs]    (default 3; not run by CI)
#        FETCH=/path/to/torvane-fetch bench/speedbench.sh   measures another build (an older one
#        without --limit-rate skips the limit case); VERBOSE=1 prints every progress line
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
fetch=${FETCH:-./build/torvane-fetch}
[ -n "${FETCH:-}" ] || ./scripts/build.sh torvane-fetch >/dev/null

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
. bench/lib.sh
start_nginx "$port" "location /bursty/ { limit_rate 1m; }"
mkdir -p "$work/www/bursty"
head -c $((20 * 1024 * 1024)) /dev/urandom >"$work/www/limit.bin"
head -c $((200 * 1024 * 1024)) /dev/urandom >"$work/www/bursty/bursty.bin"

check() { cmp -s "$work/out/file" "$1" || { echo "BYTES DIFFER: $1" >&2; exit 1; }; }

if "$fetch" --help 2>&1 | grep -q -- --limit-rate; then
  rm -f "$work"/*.times
  for ((i = 0; i < runs; i++)); do
    for tool in torvane curl; do
      rm -f "$work/out/file"
      start=$(date +%s.%N)
      case $tool in
        torvane) "$fetch" --limit-rate 2M "http://127.0.0.1:$port/limit.bin" "$work/out/file" \
                   >/dev/null 2>&1 ;;
        curl) curl -s --limit-rate 2M -o "$work/out/file" "http://127.0.0.1:$port/limit.bin" ;;
      esac
      end=$(date +%s.%N)
      check "$work/www/limit.bin"
      echo "$end - $start" | bc >>"$work/$tool.times"
    done
  done
  echo "== 20 MiB with --limit-rate 2M ($runs runs each, medians; 10.000 s is exact)"
  for tool in torvane curl; do
    t=$(median <"$work/$tool.times")
    printf '  %-8s %8.3f s  (%+.1f %%)  all: %s\n' $tool "$t" "$(echo "($t - 10) * 10" | bc -l)" \
      "$(sort -n "$work/$tool.times" | tr '\n' ' ')"
  done
fi

echo "== bursty server: 200 MiB, nginx limit_rate 1m per connection ($runs runs)"
for ((i = 0; i < runs; i++)); do
  rm -f "$work/out/file"
  python3 - "$fetch" "http://127.0.0.1:$port/bursty/bursty.bin" "$work/out/file" <<'PY'
import os, re, subprocess, sys, time
proc = subprocess.Popen(sys.argv[1:4], stderr=subprocess.PIPE, stdout=subprocess.DEVNULL, text=True)
start = time.monotonic()
lines = []  # (seconds since start, bytes, shown MiB/s)
for line in proc.stderr:
    m = re.match(r"(\d+) / \d+ bytes\s+([\d.]+) MiB/s", line)
    if m:
        lines.append((time.monotonic() - start, int(m.group(1)), float(m.group(2))))
proc.wait()
# The steady middle: from 3 s on, until the transfer starts to wind down (90 % of the bytes).
total = lines[-1][1] if lines else 0
mid = [l for l in lines if l[0] >= 3.0 and l[1] <= 0.9 * total]
if len(mid) < 2:
    sys.exit("too few progress lines")
# Bursts make any two lines a poor measure of the truth: take the slope of bytes over time.
n = len(mid)
mt = sum(l[0] for l in mid) / n
mb = sum(l[1] for l in mid) / n
true = (sum((l[0] - mt) * (l[1] - mb) for l in mid) / sum((l[0] - mt) ** 2 for l in mid)) / 1048576
near0 = sum(1 for l in lines if l[2] < 0.1 * true)
devs = sorted(abs(l[2] - true) / true * 100 for l in mid)
print(f"  true {true:5.2f} MiB/s  lines near 0: {near0}/{len(lines)}  "
      f"after 3 s: median deviation {devs[len(devs) // 2]:5.1f} %  max {devs[-1]:5.1f} %  "
      f"({len(mid)} lines)")
# Every line, with VERBOSE=1 or when a line strays by more than 30 %.
if os.environ.get("VERBOSE") or devs[-1] > 30:
    for l in lines:
        print(f"    {l[0]:7.3f} s {l[1]:>10} bytes  shown {l[2]:6.2f} MiB/s")
PY
  check "$work/www/bursty/bursty.bin"
done
