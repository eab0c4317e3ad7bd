#!/usr/bin/env bash
# Runs one test binary with a private HOME / XDG_CONFIG_HOME / TMPDIR that is removed afterwards.
# Proxy variables are dropped: a test that wants a system proxy sets one itself.
set -u
box=$(mktemp -d "${TMPDIR:-/tmp}/orbtest.XXXXXX")
mkdir -p "$box/home" "$box/config" "$box/tmp" "$box/runtime"
chmod 700 "$box/runtime"
export HOME="$box/home" XDG_CONFIG_HOME="$box/config" TMPDIR="$box/tmp" XDG_RUNTIME_DIR="$box/runtime"
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY ftp_proxy FTP_PROXY socks_proxy SOCKS_PROXY no_proxy NO_PROXY
"$@"
rc=$?
rm -rf "$box"
exit $rc
