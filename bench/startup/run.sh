#!/usr/bin/env bash
# Start-up benchmark: time to the first frame of the launcher window against a
# bare Qt Quick window with one WebEngineView on the same page, both under one
# Xvfb against the demo publisher on loopback. Arguments go on (--rounds N).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORB_BUILD_DIR:-$root/build}
flock /tmp/orb-build.lock cmake --build "$build" --target OrbLive OrbUpdate orb_demo_publisher bench_bare_window bench_bare_window_floor >/dev/null
. "$root/scripts/orb-env.sh"
orb_clear_proxies
export ORB_BUILD_DIR=$build
# Measured under the shared lock too: nothing else of the project builds or runs meanwhile.
exec flock /tmp/orb-build.lock python3 "$root/bench/startup/startup.py" "$@"
