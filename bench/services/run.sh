#!/usr/bin/env bash
# Builds and runs the extraction benchmark: about 2000 entries and 500 MiB,
# extracted by OrbInstaller, `unzip -q` and `bsdtar -xf` in one run.
# Extra arguments go to the benchmark (--entries N --mb M --runs R --workdir DIR --keep).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORB_BUILD_DIR:-$root/build}
flock /tmp/orblive-build.lock cmake --build "$build" --target bench_orbinstaller
exec env QT_QPA_PLATFORM=offscreen "$build/bench/bin/bench_orbinstaller" "$@"
