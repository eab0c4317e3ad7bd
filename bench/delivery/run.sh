#!/usr/bin/env bash
# Chunked delivery (OrbDeliveryJob through bench_delivery) next to the other ways to ship
# the same game, all served by one nginx on loopback:
#   update  v1 -> v2 over an installed v1      vs casync extract seeded with the same v1
#   fresh   install of v2 into an empty folder  vs the ZIP: download (bench_download) + unpack (OrbInstaller)
#   verify  the installed v2                    vs openssl dgst -sha256 over all its files in one process
#   limited fresh install of a small game over connections limited to 2 MiB/s each: 4 vs 1,
#           once through a relay that limits every TCP connection (throttle.py) and once
#           straight from nginx's "limit_rate 2m" (which counts per request, see throttle.py)
# Each pair runs ROUNDS times with the order of its two sides alternating; medians [min-max]
# of the bytes nginx sent (its access log), wall time and peak RSS are printed, then the goals.
# Every measured command runs with the shared build lock held, so no build runs meanwhile,
# after a sync, with its inputs in the page cache; outputs are compared with the source.
#
# Usage: bench/delivery/run.sh [--mb 1024] [--rounds 3] [--limited-mb 64] [--keep]
# Everything lives in a temporary folder that is removed afterwards (unless --keep).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORB_BUILD_DIR:-$root/build}
mb=1024
rounds=3
limited_mb=64
keep=0
while [ $# -gt 0 ]; do
  case $1 in
    --mb) mb=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --limited-mb) limited_mb=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 [--mb MiB] [--rounds N] [--limited-mb MiB] [--keep]" >&2; exit 2 ;;
  esac
done
# Loopback only: no proxy may be asked for anything.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work} CCACHE_DIR=${CCACHE_DIR:-/work/.ccache}
targets=(bench_delivery bench_download bench_orbinstaller_extract bench_rusage orbpublish orbsign)
flock /tmp/orb-build.lock nice -n 10 cmake --build "$build" -j 2 --target "${targets[@]}" >/dev/null
bin=$build/bench/bin
tools=$build/tools/bin
for t in "$bin/bench_delivery" "$bin/bench_download" "$bin/bench_orbinstaller_extract" "$bin/bench_rusage" \
         "$tools/orbpublish" "$tools/orbsign"; do
  [ -x "$t" ] || { echo "$t not built" >&2; exit 1; }
done
for t in casync nginx zip openssl python3 curl; do
  command -v "$t" >/dev/null || { echo "$t is not installed (scripts/setup.sh)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/orbdelivbench.XXXXXX")
nginx_pid=""
relay_pid=""
cleanup() {
  if [ -n "$relay_pid" ]; then kill "$relay_pid" 2>/dev/null || true; wait "$relay_pid" 2>/dev/null || true; fi
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  if [ "$keep" = 1 ]; then echo "kept $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT

# Sources of both versions, the store, casync's store, the ZIP, installs and copies.
need_kib=$(( (mb * 12 + limited_mb * 8 + 2048) * 1024 ))
avail_kib=$(df -Pk "$work" | awk 'NR==2 {print $4}')
if [ "$avail_kib" -lt "$need_kib" ]; then
  echo "not enough disk space in $work: need $((need_kib/1024)) MiB, have $((avail_kib/1024)) MiB" >&2
  exit 1
fi

log() { echo "[$(date +%H:%M:%S)] $*" >&2; }
game=Valdane
src=$work/src www=$work/www run=$work/run
mkdir -p "$src" "$www" "$run" "$work/nginx/logs" "$work/keys"

log "generating the game: ${mb} MiB, v1 and v2; small game ${limited_mb} MiB"
python3 "$root/bench/delivery/makegame.py" "$src/v1" --version 1 --mb "$mb"
python3 "$root/bench/delivery/makegame.py" "$src/v2" --version 2 --mb "$mb"
python3 "$root/bench/delivery/makegame.py" "$src/s2" --version 2 --mb "$limited_mb" --small 200
# One modification time for every file of both versions, as a build that keeps the times of
# unchanged files would give: casync's archive records them, the manifest does not.
find "$src" -exec touch -h -d @1700000000 {} +

log "publishing (orbpublish, casync make --compression=zstd, zip)"
"$tools/orbsign" keygen "$work/keys/private.pem" "$work/keys/public.pem" >/dev/null
pub=$work/keys/public.pem
"$tools/orbpublish" build "$src/v1" "$www/store" --version 1.0 --game "$game" --key "$work/keys/private.pem" >&2
"$tools/orbpublish" build "$src/v2" "$www/store" --version 2.0 --game "$game" --key "$work/keys/private.pem" >&2
"$tools/orbpublish" build "$src/s2" "$www/small" --version 2.0 --game "$game" --key "$work/keys/private.pem" >&2
# casync's own default chunk sizes; zstd like the chunk store, so both decompress the same way.
casync make --compression=zstd --store="$www/game.castr" "$www/v1.caidx" "$src/v1" >/dev/null
casync make --compression=zstd --store="$www/game.castr" "$www/v2.caidx" "$src/v2" >/dev/null
(cd "$src/v2" && zip -q -r "$www/v2.zip" .)

# Two servers: one plain, one limiting every connection to 2 MiB/s.
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'; }
port=$(free_port)
lport=$(free_port)
while [ "$lport" = "$port" ]; do lport=$(free_port); done
access=$work/nginx/logs/access.log
user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user root;"
cat > "$work/nginx/nginx.conf" <<CONF
$user_line
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 256; }
http {
  log_format bench '\$server_port \$status \$bytes_sent \$request_uri';
  access_log $access bench;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$port;
    root $www;
  }
  server {
    listen 127.0.0.1:$lport;
    root $www;
    limit_rate 2m;
  }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" &
nginx_pid=$!
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" && curl -s -o /dev/null "http://127.0.0.1:$lport/" && break || sleep 0.1
done
base=http://127.0.0.1:$port
rport=$(free_port)
python3 "$root/bench/delivery/throttle.py" "$rport" "$port" 2097152 > "$work/relay.out" &
relay_pid=$!
for _ in $(seq 50); do grep -q ready "$work/relay.out" && break || sleep 0.1; done

# The installed v1 every update starts from, and an installed v2 to verify.
log "installing v1 and v2 once (not measured)"
"$bin/bench_delivery" install "$work/inst-v1" "$base/store" 1.0 "$game" "$pub" >/dev/null
"$bin/bench_delivery" install "$work/inst-v2" "$base/store" 2.0 "$game" "$pub" >/dev/null
# casync's installed v1 is its own extraction, with the metadata its archive records.
casync extract --store="$www/game.castr" "$www/v1.caidx" "$work/cas-v1" >/dev/null

# The same tree as the source, state of the delivery job aside.
same_tree() {
  diff -r -q --no-dereference -x .orbdelivery "$1" "$2" >/dev/null || { echo "$3: result differs from the source" >&2; exit 1; }
}
warm() { find "$@" -type f -print0 | xargs -0 cat > /dev/null; }

# Runs one command under bench_rusage with the build lock held and nginx's log emptied;
# sets wall, rss_kib and sent (bytes nginx sent meanwhile).
measure() {
  local stats=$work/rusage.txt
  sync
  : > "$access"
  flock /tmp/orb-build.lock "$bin/bench_rusage" "$stats" "$@" >"$work/cmd.out" 2>"$work/cmd.err" || true
  local status
  read -r wall _ rss_kib status < "$stats"
  if [ "$status" != 0 ]; then
    echo "failed ($status): $*" >&2
    cat "$work/cmd.err" >&2
    exit 1
  fi
  sent=$(awk '{s += $3} END {printf "%d", s}' "$access")
}

results=$work/results.txt
phases=$work/phases.txt
orb_rss_max=0
record() {  # group side [orb]
  echo "$1 $2 fetched_MiB=$(awk -v b="$sent" 'BEGIN{printf "%.2f", b/1048576}') wall_s=$wall rss_MiB=$(awk -v k="$rss_kib" 'BEGIN{printf "%.1f", k/1024}')" >> "$results"
  if [ "${3:-}" = orb ]; then
    [ "$rss_kib" -gt "$orb_rss_max" ] && orb_rss_max=$rss_kib
    # Where the job's time went, from its own phase timings.
    echo "$1/$2 $(grep -o 'plan_s=.*' "$work/cmd.out")" >> "$phases"
  fi
}

side_update() {
  local out=$run/update
  rm -rf "$out" "$run/seed"
  if [ "$1" = orb ]; then
    cp -a "$work/inst-v1" "$out"
    warm "$out"
    measure "$bin/bench_delivery" install "$out" "$base/store" 2.0 "$game" "$pub"
    record update orb orb
  else
    cp -a "$work/cas-v1" "$run/seed"
    warm "$run/seed"
    measure casync extract --store="$base/game.castr" --seed="$run/seed" "$base/v2.caidx" "$out"
    record update casync
  fi
  same_tree "$src/v2" "$out" "update $1"
  rm -rf "$out" "$run/seed"
}

side_fresh() {
  local out=$run/fresh
  rm -rf "$out" "$run/v2.zip"
  if [ "$1" = orb ]; then
    measure "$bin/bench_delivery" install "$out" "$base/store" 2.0 "$game" "$pub"
    record fresh orb orb
  else
    # Download, then unpack: two processes, their times added, the larger peak kept.
    measure "$bin/bench_download" "$base/v2.zip" "$run/v2.zip"
    local w1=$wall r1=$rss_kib s1=$sent
    mkdir -p "$out"
    measure "$bin/bench_orbinstaller_extract" "$run/v2.zip" "$out"
    echo "fresh/zip download_s=$w1 unpack_s=$wall" >> "$phases"
    wall=$(awk -v a="$w1" -v b="$wall" 'BEGIN{printf "%.6f", a + b}')
    [ "$r1" -gt "$rss_kib" ] && rss_kib=$r1
    sent=$((s1 + sent))
    record fresh zip
  fi
  same_tree "$src/v2" "$out" "fresh $1"
  rm -rf "$out" "$run/v2.zip"
}

side_verify() {
  warm "$work/inst-v2"
  if [ "$1" = orb ]; then
    measure "$bin/bench_delivery" verify "$work/inst-v2" "$game" "$pub"
    record verify orb orb
  else
    measure bash -c 'cd "$1" && find . -path ./.orbdelivery -prune -o -type f -print0 | xargs -0 -n 100000 openssl dgst -sha256 > /dev/null' _ "$work/inst-v2"
    record verify openssl
  fi
}

side_limited() {  # connections, group, port
  local out=$run/limited
  rm -rf "$out"
  measure "$bin/bench_delivery" install "$out" "http://127.0.0.1:$3/small" 2.0 "$game" "$pub" "$1"
  record "$2" "c$1" orb
  same_tree "$src/s2" "$out" "limited c$1"
  rm -rf "$out"
}

for ((i = 0; i < rounds; i++)); do
  log "round $((i + 1))/$rounds"
  if [ $((i % 2)) = 0 ]; then a=0; else a=1; fi
  pairs=("side_update orb|side_update casync" "side_fresh orb|side_fresh zip"
         "side_verify orb|side_verify openssl"
         "side_limited 4 limited $rport|side_limited 1 limited $rport"
         "side_limited 4 limitrate $lport|side_limited 1 limitrate $lport")
  for p in "${pairs[@]}"; do
    first=${p%%|*} second=${p##*|}
    if [ $a = 0 ]; then $first; $second; else $second; $first; fi
  done
done

echo
echo "Game: ${mb} MiB (v1 -> v2), $(find "$src/v2" -type f | wc -l) files, store $(du -sm "$www/store" | cut -f1) MiB," \
     "casync store $(du -sm "$www/game.castr" | cut -f1) MiB, ZIP $(du -sm "$www/v2.zip" | cut -f1) MiB;" \
     "limited: ${limited_mb} MiB, 2 MiB/s per connection"
grep '^update ' "$results" | python3 "$root/bench/stats.py" orb casync
grep '^fresh ' "$results" | python3 "$root/bench/stats.py" orb zip
grep '^verify ' "$results" | python3 "$root/bench/stats.py" orb openssl
grep '^limited ' "$results" | python3 "$root/bench/stats.py" c4 c1
echo "limitrate (nginx limit_rate 2m alone, which never slows a response below 2 MiB):"
grep '^limitrate ' "$results" | python3 "$root/bench/stats.py" c4 c1
echo "where the time goes (medians, seconds):"
python3 - "$phases" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    p = line.split()
    for kv in p[1:]:
        k, v = kv.split("=")
        rows.setdefault(p[0], {}).setdefault(k, []).append(float(v))
for name, metrics in rows.items():
    print(f"  {name:<18} " + "  ".join(f"{k[:-2]} {statistics.median(v):.2f}" for k, v in metrics.items()))
PY
echo
python3 - "$results" "$orb_rss_max" <<'PY'
import statistics, sys
from collections import defaultdict
d = defaultdict(list)
for line in open(sys.argv[1]):
    p = line.split()
    for kv in p[2:]:
        k, v = kv.split("=")
        d[(p[0], p[1], k)].append(float(v))
m = lambda g, s, k: statistics.median(d[(g, s, k)])
rss = int(sys.argv[2]) / 1024
goals = [
    ("update bytes <= 1.1x casync", m("update", "orb", "fetched_MiB") / m("update", "casync", "fetched_MiB"), 1.1, "<="),
    ("update wall <= casync", m("update", "orb", "wall_s") / m("update", "casync", "wall_s"), 1.0, "<="),
    ("fresh wall <= ZIP download + unpack", m("fresh", "orb", "wall_s") / m("fresh", "zip", "wall_s"), 1.0, "<="),
    ("verify wall <= 1.3x openssl", m("verify", "orb", "wall_s") / m("verify", "openssl", "wall_s"), 1.3, "<="),
    ("limited: 4 connections >= 3x 1", m("limited", "c1", "wall_s") / m("limited", "c4", "wall_s"), 3.0, ">="),
    ("  the same, nginx limit_rate alone", m("limitrate", "c1", "wall_s") / m("limitrate", "c4", "wall_s"), 3.0, ">="),
]
print("goals (ratios of medians):")
for name, value, bound, op in goals:
    met = value <= bound if op == "<=" else value >= bound
    print(f"  {name:<40} {value:6.2f}x  {'met' if met else 'MISSED'}")
print(f"  {'peak RSS of every delivery job < 128 MiB':<40} {rss:6.1f} MiB  {'met' if rss < 128 else 'MISSED'}")
PY
exit 0
