#!/usr/bin/env bash
# Installs everything the build, the whole test suite and the benchmark need
# on Debian 12, as root: the native toolchain and libraries, clang's
# libFuzzer, the armhf cross compiler and qemu-arm, the armhf sysroot of
# Boost, msgpack-cxx and GoogleTest, the checkers of what the daemon
# exposes and ships (promtool, systemd-analyze, yamllint, lintian), what
# the documentation's examples run with (curl, and iproute2 to bring up the
# loopback of the network namespace they run in), and the
# benchmark's tools (valgrind, gnuplot, redis for a side-by-side reference,
# perf and strace for its profiles), and for kovra-stats --html the chart
# library it inlines and the browser its tests load the pages in.
#
# Usage: scripts/install-deps.sh [--native]
#   --native  only what the native build and its unit tests need, for CI to
#             start building while the rest installs
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

native=(
    ca-certificates git g++ make cmake ninja-build pkgconf binutils file dpkg-dev python3
    libboost-dev libboost-thread-dev libboost-system-dev libboost-random-dev
    libboost-program-options-dev libmsgpack-cxx-dev nlohmann-json3-dev
    libsystemd-dev zlib1g-dev libgtest-dev libgmock-dev
)
rest=(
    prometheus systemd yamllint lintian curl iproute2 clang libclang-rt-14-dev clang-format
    gcc-arm-linux-gnueabihf g++-arm-linux-gnueabihf qemu-user
    valgrind gnuplot-nox redis-server redis-tools linux-perf strace time
    libjs-dygraphs chromium
)

export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails one index now and then: try again, and let
# the install below say plainly if a package is still missing.
for attempt in 1 2 3; do
    apt-get update -q && break
    sleep $((attempt * 10))
done
if [[ ${1:-} == --native ]]; then
    apt-get install -y -q --no-install-recommends "${native[@]}"
    exit 0
fi
apt-get install -y -q --no-install-recommends "${native[@]}" "${rest[@]}"
scripts/armhf-sysroot.sh
