#!/usr/bin/env bash
# Builds and runs the extraction benchmark: about 2000 entries and 500 MiB,
# extracted by OrbInstaller, `unzip -q` and `bsdtar -xf` in one run.
# The installer runs with one inflating thread and with its default; the order
# of the tools alternates over the rounds and medians (min/max) are reported.
# Extra arguments go to the benchmark (--entries N --mb M --runs R --threads T --workdir DIR --keep).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORB_BUILD_DIR:-$root/build}
flock /tmp/orb-build.lock cmake --build "$build" --target bench_orbinstaller
exec env QT_QPA_PLATFORM=offscreen "$build/bench/bin/bench_orbinstaller" "$@"
