#!/bin/sh
# Checks how ipc_soak is linked: it needs libkovra-core.so and
# libkovra-interfaces.so by those names, nothing of the stand-in's own, no
# RPATH (which would override LD_LIBRARY_PATH), and every client-library
# symbol it imports is a kovra_core_* or kovra_api_* function.
set -eu
program=$1
readelf=${READELF:-readelf}
dynamic=$($readelf -d "$program")
fail() { echo "FAIL: $*" >&2; exit 1; }

echo "$dynamic" | grep -q 'NEEDED.*\[libkovra-core\.so\]' || fail "libkovra-core.so not needed"
echo "$dynamic" | grep -q 'NEEDED.*\[libkovra-interfaces\.so\]' || fail "libkovra-interfaces.so not needed"
if echo "$dynamic" | grep -q 'NEEDED.*kovra-sim'; then fail "links the stand-in's own library"; fi
if echo "$dynamic" | grep -q '(RPATH)'; then fail "has an RPATH; LD_LIBRARY_PATH could not replace the library"; fi

imported=$($readelf --dyn-syms -W "$program" | awk '$7 == "UND" {print $8}' | sed 's/@.*//' | grep '^kovra' || true)
[ -n "$imported" ] || fail "imports no client-library function"
stray=$(echo "$imported" | grep -v -E '^kovra_(core|api)_' || true)
[ -z "$stray" ] || fail "imports functions outside the client library: $stray"
echo "ok: $(echo "$imported" | wc -l) client-library functions imported"
