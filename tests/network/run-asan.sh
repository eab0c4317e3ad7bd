#!/usr/bin/env bash
# Builds the network library and its tests with AddressSanitizer and UBSan (leak checking
# on) in a separate build folder and runs them: tests/network/run-asan.sh
# The engine, selector, downloads, download sink, size caps and deadlines, uploads and the kill test's child all run here.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORB_ASAN_BUILD_DIR:-$root/build-asan}
lock=/tmp/orb-build.lock
targets=(tst_orbnetconfig tst_orbdnsresolver tst_orbnetrequest tst_orbnetipselector tst_orbnetwork
         tst_orbnetproxyquery tst_orbhostparser tst_orbnetdownloadsink tst_orbnetdownload tst_orbnetdownloadkill
         tst_orbnetprobe tst_orbnetupload tst_orbnetbounds)
if [ ! -f "$build/build.ninja" ]; then
  flock "$lock" cmake -S "$root" -B "$build" -G Ninja -DORB_SANITIZE=ON -DORB_BUILD_BENCH=OFF \
    -DORB_EXPORT_INTERNALS=ON -DCMAKE_BUILD_TYPE=Debug -DORB_RUNDIR="$build/rundir" >/dev/null
fi
flock "$lock" cmake --build "$build" -j2 --target "${targets[@]}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/network/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
export QT_QPA_PLATFORM=offscreen
cd "$build"
flock "$lock" ctest -R "^($(IFS='|'; echo "${targets[*]}"))\$" --output-on-failure
