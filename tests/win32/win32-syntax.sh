#!/usr/bin/env bash
# Parses every source of the libraries and programs as a Windows compiler does
# (MinGW g++ -fsyntax-only, _WIN32 and UNICODE set), with the project's warning
# flags. Fails on any error or warning in the project's own files; warnings from
# Qt's headers (dllimport remarks a Linux Qt build provokes) are not ours.
# Usage: win32-syntax.sh <mingw g++> <source root> <flags file>
# The flags file lists include folders one per line, then "--", then folders
# searched after the system's (OpenSSL's headers, which MinGW does not ship).
set -euo pipefail
cxx=$1 root=$2 flags=$3
args=()
after=0
while IFS= read -r line; do
  [ -z "$line" ] && continue
  if [ "$line" = "--" ]; then after=1; continue; fi
  if [ $after -eq 0 ]; then args+=("-I$line"); else args+=("-idirafter" "$line"); fi
done < "$flags"
args+=(-std=c++17 -fsyntax-only -Wall -Wextra -Wshadow=local -Wnon-virtual-dtor
       -DUNICODE -D_UNICODE -DHAVE_OBSCONFIG_H)

cd "$root"
mapfile -t sources < <(git ls-files 'config/*.cpp' 'network/src/*.cpp' 'app/*.cpp' | grep -v 'Unix\.cpp$')
[ ${#sources[@]} -gt 0 ] || { echo "no sources found under $root" >&2; exit 1; }
out=$(mktemp)
trap 'rm -f "$out"' EXIT
check() {
  local src=$1 defs=()
  # The configuration library's export header is generated for the compiler
  # that configured the build (visibility attributes here); a Windows build's
  # own generated header says this instead.
  case "$src" in
    config/*) defs=(-DORBCONFIG_LIBRARY "-DORBCONFIG_EXPORT=__declspec(dllexport)") ;;
    network/*) defs=(-DORBNETWORK_LIBRARY "-DORBCONFIG_EXPORT=__declspec(dllimport)") ;;
    *) defs=("-DORBCONFIG_EXPORT=__declspec(dllimport)") ;;
  esac
  "$cxx" "${args[@]}" "${defs[@]}" "$src" 2>&1 || echo "$src: failed"
}
export -f check
export cxx
export args_list="${args[*]}"
for src in "${sources[@]}"; do
  check "$src"
done > "$out" 2>&1
# Diagnostics located in the project's own files, or a failed compile.
if grep -E "^(config|network|app)/[^ ]*:[0-9]+:[0-9]+: (warning|error)|: failed$|fatal error" "$out"; then
  echo "Windows syntax check: problems above (${#sources[@]} files)" >&2
  exit 1
fi
echo "Windows syntax check: ${#sources[@]} files parse cleanly"
