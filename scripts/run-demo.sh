#!/usr/bin/env bash
# Sets up the machine, builds, and starts the launcher with the demo game's
# settings beside the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
bin="$root/rundir/64bit/bin"
mkdir -p "$bin/config"
cp "$root/demo/game_settings.ini" "$bin/config/game_settings.ini"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running the launcher inside a virtual X server (xvfb-run)." >&2
  exec xvfb-run -a -s "-screen 0 1600x900x24" "$bin/OrbLive"
fi
exec "$bin/OrbLive"
