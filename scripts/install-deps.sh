#!/usr/bin/env bash
# Installs everything the build and the whole test suite need on Debian 12,
# as root: the native toolchain and libraries, the armhf cross compiler and
# qemu-arm, and the armhf sysroot of Boost and GoogleTest.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails one index now and then: try again, and let
# the install below say plainly if a package is still missing.
for attempt in 1 2 3; do
    apt-get update -q && break
    sleep $((attempt * 10))
done
apt-get install -y -q --no-install-recommends \
    ca-certificates g++ make cmake binutils file dpkg-dev \
    libboost-thread-dev libboost-system-dev libboost-random-dev libboost-program-options-dev \
    libgtest-dev libgmock-dev \
    gcc-arm-linux-gnueabihf g++-arm-linux-gnueabihf qemu-user
scripts/armhf-sysroot.sh
