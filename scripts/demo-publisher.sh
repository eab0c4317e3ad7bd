#!/usr/bin/env bash
# Serves the demo publisher on loopback with Debian's nginx.
#   demo-publisher.sh start BUILD_DIR RUN_DIR   prints the publisher's base URL
#   demo-publisher.sh stop RUN_DIR
# ORB_DEMO_RATE (optional, nginx limit_rate syntax such as 200k) slows the
# packages down, so that a download lasts long enough to be paused.
# The server copy of the game settings is written with the chosen port and the
# sizes and hashes of the packages that the build produced.
set -euo pipefail

cmd=${1:?start or stop}
if [ "$cmd" = stop ]; then
  run=${2:?run folder}
  if [ -f "$run/nginx/nginx.pid" ]; then
    kill "$(cat "$run/nginx/nginx.pid")" 2>/dev/null || true
    for _ in $(seq 50); do [ -f "$run/nginx/nginx.pid" ] || break; sleep 0.1; done
  fi
  exit 0
fi

build=${2:?build folder}
run=${3:?run folder}
pub="$build/demo/publisher"
[ -f "$pub/game.env" ] && [ -f "$pub/launcher.env" ] || { echo "demo publisher not built in $build" >&2; exit 1; }
mkdir -p "$run/nginx" "$run/www"
cp "$pub"/*.zip "$pub/index.html" "$run/www/"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
base="http://127.0.0.1:$port"

# shellcheck disable=SC1091
. "$pub/game.env"
# shellcheck disable=SC1091
. "$pub/launcher.env"
sed -e "s#@BASE_URL@#$base#g" \
    -e "s#@LAUNCHER_SERVER_VERSION@#$LAUNCHER_VERSION#" -e "s#@LAUNCHER_PACKAGE@#$LAUNCHER_PACKAGE#" \
    -e "s#@LAUNCHER_SHA256@#$LAUNCHER_SHA256#" -e "s#@LAUNCHER_SIZE@#$LAUNCHER_SIZE#" \
    -e "s#@GAME_PACKAGE@#$GAME_PACKAGE#" -e "s#@GAME_VERSION@#$GAME_VERSION#" \
    -e "s#@GAME_SHA256@#$GAME_SHA256#" -e "s#@GAME_SIZE@#$GAME_SIZE#" \
    -e "s#@GAME_SIZE_TEXT@#$(( (GAME_SIZE + 1048575) / 1048576 ))MB#" \
    "$pub/game_settings.ini.in" > "$run/www/game_settings.ini"
# Signed with the demo publisher's key (serial and expiry filled in), unless
# ORB_DEMO_UNSIGNED=1 asks for a publisher without signatures.
if [ "${ORB_DEMO_UNSIGNED:-0}" != 1 ]; then
  "$build/tools/bin/orbsign" sign "$pub/keys/publisher.key" "$run/www/game_settings.ini" \
    --serial "$(date +%s)" --days 30 >/dev/null
fi

rate_rule=""
if [ -n "${ORB_DEMO_RATE:-}" ]; then
  [[ "$ORB_DEMO_RATE" =~ ^[0-9]+[kKmM]?$ ]] || { echo "ORB_DEMO_RATE must look like 200k" >&2; exit 1; }
  rate_rule="location ~ \\.zip\$ { limit_rate $ORB_DEMO_RATE; }"
fi

cat > "$run/nginx/nginx.conf" <<CONF
worker_processes 1;
pid $run/nginx/nginx.pid;
error_log $run/nginx/error.log;
events { worker_connections 64; }
http {
  access_log $run/nginx/access.log;
  client_body_temp_path $run/nginx/tmp;
  proxy_temp_path $run/nginx/tmp;
  fastcgi_temp_path $run/nginx/tmp;
  uwsgi_temp_path $run/nginx/tmp;
  scgi_temp_path $run/nginx/tmp;
  types { text/html html; text/plain ini; application/zip zip; }
  charset utf-8;
  server {
    listen 127.0.0.1:$port;
    root $run/www;
    $rate_rule
  }
}
CONF
mkdir -p "$run/nginx/tmp"
/usr/sbin/nginx -c "$run/nginx/nginx.conf" -p "$run/nginx" -e "$run/nginx/error.log"
for _ in $(seq 50); do
  curl -sf -o /dev/null "$base/game_settings.ini" && { echo "$base"; exit 0; }
  sleep 0.1
done
echo "the demo publisher did not come up" >&2
exit 1
