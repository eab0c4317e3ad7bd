#!/usr/bin/env bash
# Serves the demo publisher on loopback with Debian's nginx.
#   demo-publisher.sh start BUILD_DIR RUN_DIR   prints the publisher's base URL
#   demo-publisher.sh stop RUN_DIR
# ORB_DEMO_RATE (optional, nginx limit_rate syntax such as 200k) slows the
# packages down, so that a download lasts long enough to be paused.
# ORB_DEMO_PORT (optional) listens on that loopback port instead of a free one,
# so a publisher that was stopped can come back where the launcher expects it.
# ORB_DEMO_KEEP=1 serves what RUN_DIR/www already holds (edited packages and
# settings included) instead of fresh copies from the build.
# ORB_DEMO_ZIP_ONLY=1 leaves the chunk store's manifest out of the served
# settings, so the launcher installs from the ZIP package.
# The server copy of the game settings is written with the chosen port and the
# sizes and hashes of the packages that the build produced. The game is also
# served as a chunk store (RUN_DIR/www/store, both built versions), and the
# settings name the served version's manifest and its SHA-256.
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
[ -f "$pub/game.env" ] && [ -f "$pub/launcher.env" ] && [ -f "$pub/store.env" ] || { echo "demo publisher not built in $build" >&2; exit 1; }
mkdir -p "$run/nginx" "$run/www"

if [ -n "${ORB_DEMO_PORT:-}" ]; then
  [[ "$ORB_DEMO_PORT" =~ ^[0-9]+$ ]] && [ "$ORB_DEMO_PORT" -gt 0 ] && [ "$ORB_DEMO_PORT" -lt 65536 ] \
    || { echo "ORB_DEMO_PORT must be a port number" >&2; exit 1; }
  port=$ORB_DEMO_PORT
else
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
fi
base="http://127.0.0.1:$port"

keep=0
if [ "${ORB_DEMO_KEEP:-0}" = 1 ]; then
  [ -f "$run/www/game_settings.ini" ] || { echo "ORB_DEMO_KEEP=1: nothing served yet in $run/www" >&2; exit 1; }
  grep -q "$base/" "$run/www/game_settings.ini" \
    || { echo "ORB_DEMO_KEEP=1: $run/www/game_settings.ini names another address than $base" >&2; exit 1; }
  keep=1
else
  rm -rf "$run/www/store"
  cp "$pub"/*.zip "$pub/index.html" "$run/www/"
  cp -r "$pub/store" "$run/www/store"
fi

if [ "$keep" = 0 ]; then
  # shellcheck disable=SC1091
  . "$pub/game.env"
  # shellcheck disable=SC1091
  . "$pub/launcher.env"
  # shellcheck disable=SC1091
  . "$pub/store.env"
  [ "$STORE_VERSION" = "$GAME_VERSION" ] || { echo "the store holds $STORE_VERSION, the package $GAME_VERSION" >&2; exit 1; }
  manifest_rule=""
  if [ "${ORB_DEMO_ZIP_ONLY:-0}" = 1 ]; then
    manifest_rule="/^GameManifest/d"
  fi
  sed -e "s#@BASE_URL@#$base#g" \
      -e "s#@LAUNCHER_SERVER_VERSION@#$LAUNCHER_VERSION#" -e "s#@LAUNCHER_PACKAGE@#$LAUNCHER_PACKAGE#" \
      -e "s#@LAUNCHER_SHA256@#$LAUNCHER_SHA256#" -e "s#@LAUNCHER_SIZE@#$LAUNCHER_SIZE#" \
      -e "s#@GAME_PACKAGE@#$GAME_PACKAGE#" -e "s#@GAME_VERSION@#$GAME_VERSION#" \
      -e "s#@GAME_SHA256@#$GAME_SHA256#" -e "s#@GAME_SIZE@#$GAME_SIZE#" \
      -e "s#@GAME_SIZE_TEXT@#$(( (GAME_SIZE + 1048575) / 1048576 ))MB#" \
      -e "s#@MANIFEST_SHA256@#$STORE_SHA256#" -e "$manifest_rule" \
      "$pub/game_settings.ini.in" > "$run/www/game_settings.ini"
  # Signed with the demo publisher's key (serial and expiry filled in), unless
  # ORB_DEMO_UNSIGNED=1 asks for a publisher without signatures.
  if [ "${ORB_DEMO_UNSIGNED:-0}" != 1 ]; then
    "$build/tools/bin/orbsign" sign "$pub/keys/publisher.key" "$run/www/game_settings.ini" \
      --serial "$(date +%s)" --days 30 >/dev/null
  fi
fi

rate_rule=""
if [ -n "${ORB_DEMO_RATE:-}" ]; then
  [[ "$ORB_DEMO_RATE" =~ ^[0-9]+[kKmM]?$ ]] || { echo "ORB_DEMO_RATE must look like 200k" >&2; exit 1; }
  rate_rule="location ~ \\.zip\$ { limit_rate $ORB_DEMO_RATE; }"
fi

# Started as root, nginx hands its workers to an unprivileged user that may not
# be able to read the run folder (below /root, say): the workers then run as the
# user who started it. Otherwise every folder up to the served files has to be
# readable and searchable by the workers, which are then this user anyway.
user_rule=""
if [ "$(id -u)" -eq 0 ]; then
  user_rule="user $(id -un) $(id -gn);"
fi

cat > "$run/nginx/nginx.conf" <<CONF
$user_rule
worker_processes 1;
pid $run/nginx/nginx.pid;
error_log $run/nginx/error.log;
events { worker_connections 64; }
http {
  # The combined format plus the Range header, so a test can tell which chunks a ranged pack request carried.
  log_format orb '\$remote_addr - \$remote_user [\$time_local] "\$request" \$status \$body_bytes_sent "\$http_referer" "\$http_user_agent" "\$http_range"';
  access_log $run/nginx/access.log orb;
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
# A folder the workers cannot read is named before nginx starts, not guessed afterwards.
if [ "$(id -u)" -ne 0 ]; then
  for f in "$run/www/game_settings.ini" "$run/www/index.html"; do
    [ -r "$f" ] || { echo "the demo publisher cannot read $f" >&2; exit 1; }
  done
fi
/usr/sbin/nginx -c "$run/nginx/nginx.conf" -p "$run/nginx" -e "$run/nginx/error.log" \
  || { echo "nginx did not start on 127.0.0.1:$port (see $run/nginx/error.log)" >&2; exit 1; }
status=""
for _ in $(seq 50); do
  status=$(curl -s -o /dev/null -w '%{http_code}' "$base/game_settings.ini" || true)
  [ "$status" = 200 ] && { echo "$base"; exit 0; }
  sleep 0.1
done
echo "the demo publisher did not come up at $base (last answer: ${status:-none})" >&2
if [ -s "$run/nginx/error.log" ]; then
  echo "nginx's error log says:" >&2
  tail -n 5 "$run/nginx/error.log" >&2
fi
exit 1
