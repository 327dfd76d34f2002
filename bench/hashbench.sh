#!/usr/bin/env bash
# The SHA-256 of a 1 GiB file: build/torvane-hash (FileHasher, as the details of a completed
# download and the check at completion compute it) against sha256sum, taking turns, each run
# checked to print the same digest. Prints the median wall time of each and the ratio
# torvane/sha256sum, with the file's pages in memory (warm: the case right after a download) and
# dropped from it before every run (cold: read from the disk; `dd iflag=nocache` drops this one
# file's pages only).
#
# Usage: bench/hashbench.sh [runs] [MiB]   (defaults 5 and 1024; not run by CI)
#        HASH=/path/to/torvane-hash bench/hashbench.sh   measures another build
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
mib=${2:-1024}
hash=${HASH:-./build/torvane-hash}
[ -n "${HASH:-}" ] || ./scripts/build.sh torvane-hash >/dev/null

work=$(mktemp -d /tmp/torvane-hashbench.XXXXXX)
trap 'rm -rf "$work"' EXIT
head -c $((mib * 1024 * 1024)) /dev/urandom >"$work/file"
expected=$(sha256sum "$work/file" | cut -d' ' -f1)

# seconds of one run; fails when the digest is not the expected one
timed() {
  local start end digest
  start=$(date +%s.%N)
  digest=$("$@" "$work/file" | cut -d' ' -f1)
  end=$(date +%s.%N)
  [ "$digest" = "$expected" ] || { echo "WRONG DIGEST from $1: $digest" >&2; exit 1; }
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

median() { sort -n | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%.3f", m}'; }

echo "hashing ${mib} MiB, $runs runs each, load average $(cut -d' ' -f1-3 /proc/loadavg)"
for cache in warm cold; do
  : >"$work/torvane.times"
  : >"$work/sha256sum.times"
  cat "$work/file" >/dev/null
  for ((i = 0; i < runs; i++)); do
    for tool in torvane sha256sum; do
      [ $cache = cold ] && dd if="$work/file" iflag=nocache count=0 status=none
      if [ $tool = torvane ]; then
        timed "$hash" >>"$work/torvane.times"
      else
        timed sha256sum >>"$work/sha256sum.times"
      fi
    done
  done
  t=$(median <"$work/torvane.times")
  s=$(median <"$work/sha256sum.times")
  printf '%-5s torvane-hash %7.3f s   sha256sum %7.3f s   ratio %.2f\n' \
    "$cache" "$t" "$s" "$(awk -v a="$t" -v b="$s" 'BEGIN { print a / b }')"
done
