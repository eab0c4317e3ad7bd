#!/usr/bin/env bash
# Builds and runs the network benchmark: bench/network/run.sh [N]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORB_BUILD_DIR:-$root/build}
flock /tmp/orblive-build.lock cmake --build "$build" --target bench_network >/dev/null
env -u http_proxy -u HTTP_PROXY -u https_proxy -u HTTPS_PROXY -u all_proxy -u ALL_PROXY \
  QT_QPA_PLATFORM=offscreen "$build/bench/bin/bench_network" "${1:-5000}"
