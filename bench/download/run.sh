#!/usr/bin/env bash
# Downloads a 1 GiB and a 4 GiB file from nginx on loopback, once through OrbNetwork
# (bench_download) and once with curl, and prints wall time, CPU time, peak RSS and
# the ratios. Goals: wall <= 1.05x curl, CPU <= 1.5x curl, peak RSS <= 64 MiB.
# Usage: bench/download/run.sh [sizes in MiB...]   (default: 1024 4096)
# The files live in a temporary folder that is removed afterwards.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORB_BUILD_DIR:-$root/build}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1024 4096)

flock /tmp/orblive-build.lock cmake --build "$build" --target bench_download >/dev/null
bin="$build/bench/bin/bench_download"
[ -x "$bin" ] || { echo "bench_download not built" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/orbdlbench.XXXXXX")
nginx_pid=""
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Source plus one downloaded copy of the largest file must fit, with room to spare.
largest=0
for s in "${sizes[@]}"; do [ "$s" -gt "$largest" ] && largest=$s; done
need_kib=$(( (largest * 2 + 1024) * 1024 ))
avail_kib=$(df -Pk "$work" | awk 'NR==2 {print $4}')
if [ "$avail_kib" -lt "$need_kib" ]; then
  echo "not enough disk space in $work: need $((need_kib/1024)) MiB, have $((avail_kib/1024)) MiB" >&2
  exit 1
fi

mkdir -p "$work/www" "$work/out" "$work/nginx/logs"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user root;"
cat > "$work/nginx/nginx.conf" <<CONF
$user_line
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
  }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" &
nginx_pid=$!
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" && break || sleep 0.1
done

# A sparse file of the given size with random blocks spread over it.
make_file() {
  local path=$1 mib=$2
  fallocate -l "${mib}M" "$path" 2>/dev/null || truncate -s "${mib}M" "$path"
  local step=$(( mib / 64 > 0 ? mib / 64 : 1 ))
  for ((off = 0; off < mib; off += step)); do
    head -c 1048576 /dev/urandom | dd of="$path" bs=1M seek="$off" conv=notrunc status=none
  done
}

# Runs a command under GNU time; prints "wall cpu rss_kib".
measure() {
  local stats="$work/time.txt"
  /usr/bin/time -f "%e %U %S %M" -o "$stats" "$@" || { echo "failed: $*" >&2; exit 1; }
  awk '{printf "%.2f %.2f %d\n", $1, $2 + $3, $4}' "$stats"
}

printf "%-8s %-10s %9s %9s %11s\n" size client wall_s cpu_s peak_rss_MiB
for mib in "${sizes[@]}"; do
  src="$work/www/pkg_${mib}.bin"
  make_file "$src" "$mib"
  cat "$src" > /dev/null  # both clients read it from the page cache
  url="http://127.0.0.1:$port/pkg_${mib}.bin"

  read -r ow oc orss < <(measure "$bin" "$url" "$work/out/orb.bin")
  cmp -s "$src" "$work/out/orb.bin" || { echo "OrbNetwork copy differs from the source" >&2; exit 1; }
  rm -f "$work/out/orb.bin"
  read -r cw cc crss < <(measure curl -s -o "$work/out/curl.bin" "$url")
  cmp -s "$src" "$work/out/curl.bin" || { echo "curl copy differs from the source" >&2; exit 1; }
  rm -f "$work/out/curl.bin"

  printf "%-8s %-10s %9s %9s %11.1f\n" "${mib}M" OrbNetwork "$ow" "$oc" "$(awk -v k="$orss" 'BEGIN{print k/1024}')"
  printf "%-8s %-10s %9s %9s %11.1f\n" "${mib}M" curl "$cw" "$cc" "$(awk -v k="$crss" 'BEGIN{print k/1024}')"
  awk -v ow="$ow" -v cw="$cw" -v oc="$oc" -v cc="$cc" -v orss="$orss" 'BEGIN {
    wr = cw > 0 ? ow / cw : 0; cr = cc > 0 ? oc / cc : 0; rss = orss / 1024;
    printf "%-8s ratios: wall %.2fx (goal <= 1.05), cpu %.2fx (goal <= 1.5), peak RSS %.1f MiB (goal <= 64)\n",
      "", wr, cr, rss }'
  rm -f "$src"
done
