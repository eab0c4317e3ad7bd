#!/usr/bin/env bash
# Configures and builds everything into build/ (deliverables in rundir/64bit/bin).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORB_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
