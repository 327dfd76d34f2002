#!/usr/bin/env bash
# What a resume costs. A 256 MiB download from nginx on loopback (every connection limited to
# 4 MiB/s) is killed once after a few seconds; that file and its checkpoint are then continued,
# without the limit, RUNS times by each of two builds in turn: build/torvane-fetch (or
# TORVANE_FETCH_BIN) and OTHER_FETCH_BIN (say, a build of the commit before). Every result is
# checked byte for byte. Prints, per build, the median wall time of the resumed run, and how many
# bytes more than the checkpoint lacked its requests asked for and nginx sent (sent bytes vary:
# a connection that takes over half of a slow part leaves bytes of the old request unread).
# (curl and aria2c have no checkpoint of eight parts to continue from, so they are not compared.)
# Usage: OTHER_FETCH_BIN=path bench/resumebench.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
runs=${1:-3}
port=${BENCH_PORT:-18741}
new=${TORVANE_FETCH_BIN:-build/torvane-fetch}
old=${OTHER_FETCH_BIN:?name the build to compare with in OTHER_FETCH_BIN}
start_nginx "$port" "limit_rate 4m;"
head -c $((256 * 1024 * 1024)) /dev/urandom >"$work/www/f.bin"
url="http://127.0.0.1:$port/f.bin"

"$new" "$url" "$work/image" >/dev/null 2>&1 &
pid=$!
sleep 6
kill -9 $pid
wait $pid 2>/dev/null || true
# The rest comes as fast as loopback allows, and every request is logged with its range and bytes.
sed -i -e '/limit_rate 4m;/d' \
  -e "s|access_log off;|log_format asked '\$http_range \$body_bytes_sent'; access_log $work/access.log asked;|" \
  "$work/nginx.conf"
nginx -c "$work/nginx.conf" -s reload
sleep 1

for i in $(seq "$runs"); do
  for build in new old; do
    bin=${!build}
    rm -f "$work/out/"*
    cp "$work/image" "$work/out/f.bin"
    cp "$work/image.torvane" "$work/out/f.bin.torvane"
    : >"$work/access.log"
    start=$(date +%s%N)
    said=$("$bin" "$url" "$work/out/f.bin" 2>&1 >/dev/null | grep -o 'resuming from [0-9]* of [0-9]*')
    end=$(date +%s%N)
    cmp -s "$work/out/f.bin" "$work/www/f.bin" || { echo "BYTES DIFFER: $build" >&2; exit 1; }
    sleep 0.3 # nginx logs a request once its connection is done with it
    lacked=$(echo "$said" | awk '{print $5 - $3}')
    asked=$(awk -F'[ =-]' '$2 != "" {s += $3 - $2 + 1} END {print s - '"$lacked"'}' "$work/access.log")
    sent=$(awk '{s += $2} END {print s - '"$lacked"'}' "$work/access.log")
    echo "$(( (end - start) / 1000000 ))" >>"$work/$build.ms"
    echo "$asked" >>"$work/$build.asked"
    echo "$sent" >>"$work/$build.sent"
    echo "run $i $build: $said, $(( (end - start) / 1000000 )) ms, beyond what it lacked: asked $asked, sent $sent bytes"
  done
done
for build in new old; do
  echo "$build: median $(median <"$work/$build.ms") ms to finish the resumed download; beyond what" \
    "it lacked, asked $(median <"$work/$build.asked") and sent $(median <"$work/$build.sent") bytes"
done
