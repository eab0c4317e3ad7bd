#!/usr/bin/env bash
# Fails when the shipped network library exports a symbol of one of its internal classes
# or functions, or stops exporting one of its public classes.
# Usage: check-exports.sh <libOrbNetwork.so> <network source folder>
# The internal names are read from the private headers (src/*_p.h): every class, struct
# and namespace defined there and every free function declared at their top level.
set -euo pipefail
lib=$1 src=$2
[ -f "$lib" ] || { echo "no library at $lib" >&2; exit 1; }

mapfile -t internal < <(
  {
    sed -nE 's/^(class|struct|namespace) +([A-Z0-9_]+_EXPORT +)?([A-Za-z_][A-Za-z0-9_]*)[^;]*$/\3/p' "$src"/src/*_p.h
    sed -nE 's/^[A-Za-z_][A-Za-z0-9_:<>, *&]*[ *&]([A-Za-z_][A-Za-z0-9_]*)\(.*$/\1/p' "$src"/src/*_p.h
  } | sort -u)
public=(OrbNetwork OrbNetConfig OrbNetRequest OrbNetResponse OrbNetDownloadReq OrbNetDownload
        OrbNetUploadReq OrbNetUpload IOrbCosGetConfig OrbNetProbe OrbIPStatus)
[ ${#internal[@]} -ge 10 ] || { echo "too few internal names found under $src/src (${#internal[@]})" >&2; exit 1; }

# Demangled names of the exported definitions, without the "vtable for " kind of prefix.
names=$(nm -D --defined-only "$lib" | c++filt | sed -E 's/^[0-9a-fA-F]+ [A-Za-z] //' |
        sed -E 's/^((vtable|typeinfo|typeinfo name|VTT|guard variable|construction vtable) for |(non-)?virtual thunk to )+//')

bad=0
for n in "${internal[@]}"; do
  if hits=$(grep -E "^${n}(::|\(|$)" <<<"$names"); then
    echo "internal name exported: $n" >&2
    sed 's/^/    /' <<<"$hits" | head -5 >&2
    bad=1
  fi
done
for n in "${public[@]}"; do
  if ! grep -qE "^${n}(::|\(|$)" <<<"$names"; then
    echo "public class not exported: $n" >&2
    bad=1
  fi
done
grep -qx "DefaultNetConfig" <<<"$names" || { echo "DefaultNetConfig not exported" >&2; bad=1; }
[ $bad -eq 0 ] && echo "exports: public classes only (${#internal[@]} internal names checked)"
exit $bad
