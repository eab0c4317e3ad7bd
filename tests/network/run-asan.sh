#!/usr/bin/env bash
# Builds the network library and its tests with AddressSanitizer (leak checking on)
# in a separate build folder and runs them: tests/network/run-asan.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORB_ASAN_BUILD_DIR:-$root/build-asan}
targets=(tst_orbnetconfig tst_orbdnsresolver tst_orbnetrequest tst_orbnetipselector tst_orbnetwork tst_orbnetproxyquery tst_orbhostparser)
if [ ! -f "$build/build.ninja" ]; then
  flock /tmp/orblive-build.lock cmake -S "$root" -B "$build" -G Ninja -DORB_SANITIZE=ON -DORB_BUILD_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=Debug -DORB_RUNDIR="$build/rundir" >/dev/null
fi
flock /tmp/orblive-build.lock cmake --build "$build" --target "${targets[@]}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/network/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$build"
ctest -R "^($(IFS='|'; echo "${targets[*]}"))\$" --output-on-failure
