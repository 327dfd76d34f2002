# Shared by the benchmarks: a throw-away work folder served by nginx on loopback.
#
# start_nginx PORT [EXTRA_SERVER_LINES] - sets $work (served from $work/www), starts nginx there
# and stops it again when the calling script exits. `median` reads numbers, prints their median.

start_nginx() {
  local port=$1 extra=${2:-}
  work=$(mktemp -d /tmp/torvane-bench.XXXXXX)
  trap 'nginx -c "$work/nginx.conf" -s stop 2>/dev/null || true; rm -rf "$work"' EXIT
  chmod 755 "$work" # nginx workers read the files as another user
  mkdir -p "$work/www" "$work/out"
  cat >"$work/nginx.conf" <<CONF
worker_processes 2;
pid $work/nginx.pid;
error_log $work/error.log;
daemon on;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    $extra
  }
}
CONF
  nginx -c "$work/nginx.conf"
}

median() { sort -n | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%.3f", m}'; }
