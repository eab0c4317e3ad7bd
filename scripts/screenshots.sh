#!/usr/bin/env bash
# Saves PNG screenshots of the launcher's main states into docs/screenshots:
# the real launcher under its own Xvfb against the demo publisher on loopback.
# Needs a build (scripts/build.sh); nothing is left running afterwards.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORB_BUILD_DIR:-$root/build}
. "$root/scripts/orb-env.sh"
orb_clear_proxies
export ORB_BUILD_DIR=$build
exec python3 "$root/scripts/screenshots.py" "$@"
