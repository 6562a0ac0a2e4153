#!/usr/bin/env bash
# Checks the Debian packages a build made: the program's package holds the
# program and its manual alone and never a client library, the stand-in's
# package holds the two client libraries (out of the system's library
# folders), its own, and the camera daemon with its unit and manual, and
# both are built for the expected architecture.
#
# Usage: scripts/check-packages.sh BUILD_DIR ARCHITECTURE
set -euo pipefail
dir=$1 arch=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

program=$(ls "$dir"/ipc-soak_*_"$arch".deb) || fail "no ipc-soak package for $arch in $dir"
sim=$(ls "$dir"/kovra-sim_*_"$arch".deb) || fail "no kovra-sim package for $arch in $dir"

files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print $6}'; }
[[ "$(files "$program" | sort | tr '\n' ' ')" == "./usr/bin/ipc_soak ./usr/share/man/man1/ipc_soak.1.gz " ]] ||
    fail "ipc-soak holds more than the program and its manual: $(files "$program")"
for file in lib/kovra-sim/libkovra-core.so lib/kovra-sim/libkovra-interfaces.so lib/kovra-sim/libkovra-sim.so \
    bin/kovra-camd lib/systemd/system/kovra-camd.service share/man/man1/kovra-camd.1.gz; do
    files "$sim" | grep -qx "./usr/$file" || fail "kovra-sim lacks /usr/$file"
done
for deb in "$program" "$sim"; do
    [[ "$(dpkg-deb -f "$deb" Architecture)" == "$arch" ]] || fail "$deb is not $arch"
    if dpkg-deb -f "$deb" Depends | grep -q kovra; then fail "$deb depends on a client library"; fi
done
echo "ok: $(basename "$program") $(basename "$sim")"
