#!/usr/bin/env bash
# Engine overhead over a bare QNetworkAccessManager: bench/network/run.sh [N] [ROUNDS]
# Each round runs both sides, one process each, against one loopback server, in alternating
# order (OrbNetwork first in odd rounds, the bare transport first in even ones). Reports per
# side the median, min and max of the sequential and concurrent times of N GETs, the
# process's wall time, CPU time (user + sys) and peak RSS, and the ratios of the medians.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORB_BUILD_DIR:-$root/build}
n=${1:-2000}
rounds=${2:-5}
flock /tmp/orb-build.lock cmake --build "$build" --target bench_network >/dev/null
bin="$build/bench/bin/bench_network"
# Measure while holding the shared build lock, so no build on the machine runs meanwhile.
exec 9>/tmp/orb-build.lock
flock 9
. "$root/scripts/orb-env.sh"
orb_clear_proxies
export QT_QPA_PLATFORM=offscreen

work=$(mktemp -d "${TMPDIR:-/tmp}/orbnetbench.XXXXXX")
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$bin" serve > "$work/server.out" &
server_pid=$!
for _ in $(seq 100); do grep -q '^PORT ' "$work/server.out" 2>/dev/null && break; sleep 0.05; done
port=$(awk '/^PORT /{print $2}' "$work/server.out")
[ -n "$port" ] || { echo "server did not start" >&2; exit 1; }
url="http://127.0.0.1:$port/small"

run_side() {
  local side=$1
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$bin" "$side" "$url" "$n" > "$work/out.txt"
  read -r seq conc < "$work/out.txt"
  read -r wall user sys rss < "$work/time.txt"
  echo "$n-GETs $side seq_ms=$seq conc_ms=$conc wall_s=$wall cpu_s=$(awk -v u="$user" -v s="$sys" 'BEGIN{print u+s}') rss_MiB=$(awk -v k="$rss" 'BEGIN{print k/1024}')" >> "$work/results.txt"
}

for ((i = 1; i <= rounds; i++)); do
  if ((i % 2)); then run_side orb; run_side bare; else run_side bare; run_side orb; fi
done
python3 "$root/bench/stats.py" orb bare < "$work/results.txt"
