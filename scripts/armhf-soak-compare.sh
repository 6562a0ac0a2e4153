#!/bin/bash
# Runs the same soaks with the native build and, under qemu-arm, with the
# armhf build, both against the stand-in's in-process simulated camera, and
# fails unless each pair of reports (standard output, standard error and exit
# status) is identical byte for byte. For a given seed the report depends only
# on the program, so any difference is a 32-bit/64-bit or ARM/x86 difference.
#
# Usage: scripts/armhf-soak-compare.sh [NATIVE_BUILD_DIR [ARMHF_BUILD_DIR]]
# (defaults build/ci and build/armhf, as the presets make them).
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
native=${1:-$repo/build/ci}/src/ipc_soak
armhf=${2:-$repo/build/armhf}/src/ipc_soak
sysroot=${IPC_SOAK_ARMHF_SYSROOT:-$repo/sysroot/armhf}

for program in "$native" "$armhf"; do
    [[ -x $program ]] || { echo "missing $program: build the ci and armhf presets first" >&2; exit 1; }
done

# The same emulator line as cmake/toolchains/armhf.cmake gives ctest.
# Debian 12 packages some runtimes (zlib's among them) under /lib.
emulator=(qemu-arm -L /usr/arm-linux-gnueabihf
    -E "LD_LIBRARY_PATH=$sysroot/usr/lib/arm-linux-gnueabihf:$sysroot/lib/arm-linux-gnueabihf")

runs=(
    ""
    "-s 7 -t 2 -c 300"
    "-s 4242 -t 4 -c 500"
)

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

failed=0
for args in "${runs[@]}"; do
    # $args is split into options on purpose.
    # shellcheck disable=SC2086
    { "$native" $args >"$out/native.out" 2>"$out/native.err"; echo "exit $?" >"$out/native.status"; } || true
    # shellcheck disable=SC2086
    { "${emulator[@]}" "$armhf" $args >"$out/armhf.out" 2>"$out/armhf.err"; echo "exit $?" >"$out/armhf.status"; } || true
    label="ipc_soak ${args:-(defaults)}"
    same=1
    for part in out err status; do
        if ! cmp -s "$out/native.$part" "$out/armhf.$part"; then
            same=0
            echo "DIFFERENT $label: $part (native above, armhf below):"
            diff -u "$out/native.$part" "$out/armhf.$part" | head -40 || true
        fi
    done
    if ((same)); then
        echo "same      $label: $(wc -l <"$out/native.out") report lines, $(cat "$out/native.status")"
    else
        failed=1
    fi
done

if ((failed)); then
    echo "armhf and native reports differ" >&2
    exit 1
fi
echo "armhf and native reports are identical for ${#runs[@]} soaks"
