#!/usr/bin/env bash
# torvane-fetch.exe under Wine downloads a 50 MB file from a loopback nginx, and the file on disk
# must be byte for byte the served one. Prints the time it took.
#   scripts/windows/check-fetch.sh            (after scripts/windows/build.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/windows/wine-env.sh"
work=$(mktemp -d /tmp/torvane-fetch-check.XXXXXX)
nginx_pid=
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null
    wine_env_end
    rm -rf "$work"
}
trap cleanup EXIT

chmod 755 "$work"  # nginx's workers read as another user
mkdir -p "$work/www" "$work/nginx"
head -c $((50 * 1000 * 1000)) /dev/urandom >"$work/www/big.bin"
port=$((20000 + RANDOM % 20000))
cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path $work/nginx;
    server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
nginx_pid=$!
for _ in $(seq 50); do
    curl -sfI "http://127.0.0.1:$port/big.bin" >/dev/null && break
    sleep 0.1
done

start=$(date +%s.%N)
wine "$root/build-windows/torvane-fetch.exe" "http://127.0.0.1:$port/big.bin" "$work/out.bin"
end=$(date +%s.%N)
cmp "$work/www/big.bin" "$work/out.bin"
[ ! -e "$work/out.bin.torvane" ] || { echo "check-fetch: the checkpoint stayed" >&2; exit 1; }
echo "check-fetch: 50 MB byte-exact under Wine in $(awk "BEGIN { printf \"%.1f\", $end - $start }") s" >&2
