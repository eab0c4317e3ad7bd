#!/usr/bin/env bash
# Configures and builds everything (deliverables in rundir/64bit/bin) with a preset
# of CMakePresets.json: ORB_PRESET, default "dev" (build/). Extra arguments go to
# the configure step.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=${ORB_PRESET:-dev}
cd "$root"
if [ -n "${ORB_BUILD_DIR:-}" ]; then
  cmake --preset "$preset" -B "$ORB_BUILD_DIR" "$@" >/dev/null
  cmake --build "$ORB_BUILD_DIR" -j "$(nproc)"
else
  cmake --preset "$preset" "$@" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
fi
