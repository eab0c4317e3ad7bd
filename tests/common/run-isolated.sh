#!/usr/bin/env bash
# Runs one test binary with a private HOME / XDG_CONFIG_HOME / TMPDIR that is removed afterwards.
set -u
box=$(mktemp -d "${TMPDIR:-/tmp}/orbtest.XXXXXX")
mkdir -p "$box/home" "$box/config" "$box/tmp" "$box/runtime"
chmod 700 "$box/runtime"
export HOME="$box/home" XDG_CONFIG_HOME="$box/config" TMPDIR="$box/tmp" XDG_RUNTIME_DIR="$box/runtime"
"$@"
rc=$?
rm -rf "$box"
exit $rc
