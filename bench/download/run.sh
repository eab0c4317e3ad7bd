#!/usr/bin/env bash
# Downloads a 1 GiB and a 4 GiB file from nginx on loopback through OrbNetwork
# (bench_download), once plain ("orb") and once verified against its declared SHA-256 and
# size as the launcher verifies packages ("orbsha"), and with curl, ROUNDS times each
# (default 5) with the order rotating (each client first, second and last equally
# often), and prints per client the median, min and max of wall time, CPU time and peak
# RSS, and the ratios of the medians against curl.
# Goals, with and without verification: wall <= 1.05x curl, CPU <= 1.5x curl, peak RSS <= 64 MiB.
# Same conditions for both: each file is written once before its rounds and read back into
# the page cache before every single download; every copy goes to the same folder, is
# compared with the source and removed before the next download starts.
# Usage: [ROUNDS=5] bench/download/run.sh [sizes in MiB...]   (default: 1024 4096)
# The files live in a temporary folder that is removed afterwards.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORB_BUILD_DIR:-$root/build}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1024 4096)
rounds=${ROUNDS:-5}

flock /tmp/orb-build.lock cmake --build "$build" --target bench_download >/dev/null
bin="$build/bench/bin/bench_download"
[ -x "$bin" ] || { echo "bench_download not built" >&2; exit 1; }
# Measure while holding the shared build lock, so no build on the machine runs meanwhile.
exec 9>/tmp/orb-build.lock
flock 9

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

# One download by one client: the source into the page cache, the timed download, the check.
run_client() {
  local client=$1 mib=$2 src=$3 url=$4 out="$work/out/copy.bin" w c rss
  cat "$src" > /dev/null
  if [ "$client" = orb ]; then
    read -r w c rss < <(measure "$bin" "$url" "$out")
  elif [ "$client" = orbsha ]; then
    read -r w c rss < <(measure "$bin" "$url" "$out" "$sha" "$bytes")
  else
    read -r w c rss < <(measure curl -s -o "$out" "$url")
  fi
  cmp -s "$src" "$out" || { echo "$client copy differs from the source" >&2; exit 1; }
  rm -f "$out"
  sync
  echo "${mib}MiB $client wall_s=$w cpu_s=$c rss_MiB=$(awk -v k="$rss" 'BEGIN{print k/1024}')" >> "$work/results.txt"
}

for mib in "${sizes[@]}"; do
  src="$work/www/pkg_${mib}.bin"
  make_file "$src" "$mib"
  sync
  url="http://127.0.0.1:$port/pkg_${mib}.bin"
  sha=$(sha256sum "$src" | cut -d' ' -f1)
  bytes=$(stat -c %s "$src")
  clients=(orb orbsha curl)
  for ((i = 0; i < rounds; i++)); do
    for ((k = 0; k < 3; k++)); do
      run_client "${clients[(i + k) % 3]}" "$mib" "$src" "$url"
    done
  done
  rm -f "$src"
done
python3 "$root/bench/stats.py" orb curl < "$work/results.txt"
echo "with verification:"
python3 "$root/bench/stats.py" orbsha curl < "$work/results.txt"
echo "goals (both): wall ratio <= 1.05, cpu ratio <= 1.5, OrbNetwork peak RSS <= 64 MiB"
