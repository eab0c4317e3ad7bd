#!/usr/bin/env bash
# Builds the tests labelled asan (the network library's engine, selector, downloads, download
# sink, size caps and deadlines, uploads, the kill test's child and the rest) with
# AddressSanitizer and UBSan (leak checking on) in a separate build folder and runs them:
# tests/network/run-asan.sh
# A test joins the run by carrying the label asan (LABELS ... asan in its CMakeLists.txt).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORB_ASAN_BUILD_DIR:-$root/build-asan}
lock=/tmp/orb-build.lock
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$build/build.ninja" ]; then
  flock "$lock" cmake -S "$root" -B "$build" -G Ninja -DORB_SANITIZE=ON -DORB_BUILD_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=Debug -DORB_RUNDIR="$build/rundir" "${launcher[@]}" >/dev/null
else
  # Picks up tests added or relabelled since the folder was configured.
  flock "$lock" cmake "$build" >/dev/null
fi
# Test names are the names of their programs' targets.
mapfile -t targets < <(cd "$build" && ctest -N -L '^asan$' | sed -nE 's/^ *Test +#[0-9]+: +([^ ]+).*$/\1/p')
[ ${#targets[@]} -gt 0 ] || { echo "no test carries the label asan" >&2; exit 1; }
flock "$lock" nice -n 10 cmake --build "$build" -j2 --target "${targets[@]}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/network/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
export QT_QPA_PLATFORM=offscreen
cd "$build"
flock "$lock" ctest -L '^asan$' --output-on-failure
