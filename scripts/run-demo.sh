#!/usr/bin/env bash
# Sets up the machine, builds, starts the demo publisher on loopback and runs the
# launcher against it. The launcher runs from its own copy in build/demo/run, so
# a self-update replaces that copy and never the build output.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORB_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
. "$root/scripts/orb-env.sh"
orb_clear_proxies

run="$build/demo/run"
mkdir -p "$run"
trap 'bash "$root/scripts/demo-publisher.sh" stop "$run"' EXIT INT TERM HUP
bash "$root/scripts/demo-publisher.sh" stop "$run"
base=$(bash "$root/scripts/demo-publisher.sh" start "$build" "$run")
echo "Demo publisher: $base" >&2
if [ "${ORB_DEMO_ZIP_ONLY:-0}" = 1 ]; then
  echo "The game installs from its ZIP package (ORB_DEMO_ZIP_ONLY=1)." >&2
else
  echo "The game installs from the publisher's chunk store (ORB_DEMO_ZIP_ONLY=1 for the ZIP package)." >&2
fi

app="$run/launcher"
if [ ! -x "$app/OrbLive" ] || [ "${ORB_DEMO_FRESH:-0}" = 1 ]; then
  rm -rf "$app"
  mkdir -p "$app/config"
  cp -a "$root/rundir/64bit/bin/." "$app/"
fi
mkdir -p "$app/config"
# The demo launcher trusts the demo publisher's key.
cp "$build/demo/publisher/keys/publisher.pub" "$app/config/publisher.pub"
sed -e "s#^GameSettingsUrl=.*#GameSettingsUrl=$base/game_settings.ini#" \
    -e "s#^WebPageUrl=.*#WebPageUrl=$base/index.html#" \
  "$root/demo/game_settings.ini" > "$app/config/game_settings.ini.new"
# Keep what earlier runs learnt from the publisher; only the address moves.
if [ -f "$app/config/game_settings.ini" ]; then
  sed -i -e "s#http://127.0.0.1:[0-9]*#$base#g" "$app/config/game_settings.ini"
  rm "$app/config/game_settings.ini.new"
else
  mv "$app/config/game_settings.ini.new" "$app/config/game_settings.ini"
fi

# Chromium, inside Qt WebEngine, refuses to start as root with its sandbox on
# (and then ends the launcher); a demo run as root (a container, a CI machine)
# shows the web page without the sandbox.
if [ "$(id -u)" -eq 0 ] && [ -z "${QTWEBENGINE_DISABLE_SANDBOX:-}" ]; then
  echo "Running as root: Qt WebEngine's sandbox is off for this demo (QTWEBENGINE_DISABLE_SANDBOX=1)." >&2
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi

# A self-update ends the first launcher and the updater starts the new one: the
# publisher stays up until no launcher of this copy runs any more.
wait_for_launchers() {
  while pgrep -f "^$app/(OrbLive|OrbUpdate)( |\$)" >/dev/null 2>&1; do sleep 1; done
}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running the launcher inside a virtual X server (xvfb-run)." >&2
  xvfb-run -a -s "-screen 0 1600x900x24" bash -c "\"$app/OrbLive\"; $(declare -f wait_for_launchers); app='$app'; wait_for_launchers"
else
  "$app/OrbLive" || true
  wait_for_launchers
fi
