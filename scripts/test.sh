#!/usr/bin/env bash
# Sets up the machine (Debian packages), builds, and runs every test headless.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
# Warnings are errors here: they stay at zero.
ORB_PRESET=werror bash "$root/scripts/build.sh"
cd "$root/build"
. "$root/scripts/orb-env.sh"
orb_clear_proxies
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure -j 2 --timeout 900
# The network engine's tests once more under AddressSanitizer with leak checks (own build folder).
if [ "${ORB_SKIP_ASAN:-0}" != "1" ]; then
  bash "$root/tests/network/run-asan.sh"
fi
