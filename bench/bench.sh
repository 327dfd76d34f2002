#!/usr/bin/env bash
# Download speed and memory of build/torvane-fetch against aria2c (8 connections) and curl (one),
# all fetching from nginx on loopback:
#   plain    - a 1 GiB random file, no limits
#   limited  - a 100 MiB random file, each connection limited to 4 MiB/s
# Prints the median wall time of each tool, the ratio torvane/aria2c and the peak resident memory.
# Every download is compared byte for byte with the served file.
#
# Usage: bench/bench.sh [runs]       (default 5 runs per tool and case; not run by CI)
# BENCH_PORT overrides the port (for two benchmarks at once); TORVANE_FETCH_BIN another build of
# the program (to compare two builds in turn).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
./scripts/install-deps.sh
fetch=${TORVANE_FETCH_BIN:-./build/torvane-fetch}
[ -x "$fetch" ] || ./scripts/build.sh >/dev/null

port=${BENCH_PORT:-18931}
. bench/lib.sh
start_nginx $port "location /limited/ { limit_rate 4m; }"
mkdir -p "$work/www/limited"
head -c $((1024 * 1024 * 1024)) /dev/urandom >"$work/www/plain.bin"
head -c $((100 * 1024 * 1024)) /dev/urandom >"$work/www/limited/limited.bin"

# run_tool NAME URL SOURCE -> appends "seconds kib" lines to $work/NAME.times
run_tool() {
  local name=$1 url=$2 source=$3 out="$work/out/file"
  rm -f "$out" "$out.aria2" "$out.torvane"
  sync
  local start end
  start=$(date +%s.%N)
  case $name in
    torvane) /usr/bin/time -f %M -o "$work/mem" "$fetch" "$url" "$out" >"$work/fetch.log" 2>&1 || { tail -5 "$work/fetch.log" >&2; exit 1; } ;;
    aria2c) /usr/bin/time -f %M -o "$work/mem" aria2c -q -x8 -s8 -k1M --allow-overwrite=true \
              -d "$work/out" -o file "$url" ;;
    curl) /usr/bin/time -f %M -o "$work/mem" curl -s -o "$out" "$url" ;;
  esac
  end=$(date +%s.%N)
  cmp -s "$out" "$source" || { echo "BYTES DIFFER: $name $url" >&2; exit 1; }
  echo "$(echo "$end - $start" | bc) $(cat "$work/mem")" >>"$work/$name.times"
}

bench_case() {
  local label=$1 url=$2 source=$3
  rm -f "$work"/*.times
  for ((i = 0; i < runs; i++)); do
    for tool in torvane aria2c curl; do run_tool $tool "$url" "$source"; done
  done
  echo "== $label ($runs runs each, medians)"
  local t_torvane t_aria
  for tool in torvane aria2c curl; do
    local t m
    t=$(cut -d' ' -f1 "$work/$tool.times" | median)
    m=$(cut -d' ' -f2 "$work/$tool.times" | sort -n | tail -1)
    printf '  %-8s %8.3f s  %9.1f MiB/s  peak RSS %6.1f MiB\n' "$tool" "$t" \
      "$(echo "$(stat -c %s "$source") / 1048576 / $t" | bc -l)" "$(echo "$m / 1024" | bc -l)"
    [ $tool = torvane ] && t_torvane=$t
    [ $tool = aria2c ] && t_aria=$t
  done
  printf '  ratio torvane/aria2c (wall time): %.3f\n' "$(echo "$t_torvane / $t_aria" | bc -l)"
}

bench_case "plain 1 GiB" "http://127.0.0.1:$port/plain.bin" "$work/www/plain.bin"
bench_case "limited 100 MiB, 4 MiB/s per connection" "http://127.0.0.1:$port/limited/limited.bin" \
  "$work/www/limited/limited.bin"
