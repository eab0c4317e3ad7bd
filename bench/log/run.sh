#!/usr/bin/env bash
# Builds and runs the log benchmark: 100k lines through the log component and
# 100k lines with fprintf+fflush to a file, alternating over several rounds.
# Extra arguments go to the benchmark (--lines N --rounds R).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORB_BUILD_DIR:-$root/build}
flock /tmp/orb-build.lock cmake --build "$build" --target bench_log >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/orblogbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The log component writes below the user's configuration folder: a throw-away one.
exec env HOME="$work/home" XDG_CONFIG_HOME="$work/config" "$build/bench/bin/bench_log" --workdir "$work" "$@"
