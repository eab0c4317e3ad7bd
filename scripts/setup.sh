#!/usr/bin/env bash
# Installs everything the build, the tests, the benchmarks and the demo need.
# Safe to run again: it only installs what is missing.
set -euo pipefail

PKGS=(
  build-essential cmake ninja-build pkg-config git ccache
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools
  qt6-webengine-dev qt6-webengine-dev-tools
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-window qml6-module-qtquick-templates qml6-module-qtqml-workerscript
  qml6-module-qt-labs-platform qml6-module-qtwebengine qml6-module-qtquick-dialogs
  qml6-module-qttest qml6-module-qtquick-shapes qml6-module-qtqml-models
  libqt6opengl6-dev libgl-dev libxkbcommon-dev
  libquazip1-qt6-dev libobs-dev libssl-dev openssl libzstd-dev
  nginx-light tinyproxy microsocks curl unzip libarchive-tools
  xvfb xauth fonts-noto-cjk python3 xdotool imagemagick x11-utils
  nodejs
  casync aria2
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
)

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
  # Packaged services must not run on their own: the tests start their own copies on free ports.
  for svc in nginx tinyproxy microsocks; do
    $SUDO systemctl disable --now "$svc" >/dev/null 2>&1 || true
    $SUDO service "$svc" stop >/dev/null 2>&1 || true
  done
fi

# The upload tests' S3 peer (tests/peers/s3): node packages from its lock file,
# installed again only when the lock file changed since the last install.
# Some nodejs builds carry npm themselves and conflict with Debian's npm package.
if ! command -v npm >/dev/null 2>&1; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends npm
fi
peer="$(cd "$(dirname "$0")/.." && pwd)/tests/peers/s3"
if [ -f "$peer/package-lock.json" ]; then
  stamp="$peer/node_modules/.orb-lock.sha256"
  want=$(sha256sum "$peer/package-lock.json" | cut -d' ' -f1)
  if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ]; then
    (cd "$peer" && npm ci --no-audit --no-fund --loglevel=error)
    echo "$want" > "$stamp"
  fi
fi
