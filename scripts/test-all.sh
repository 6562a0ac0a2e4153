#!/usr/bin/env bash
# Builds and runs the whole test suite: a formatting check; the native build
# with warnings as errors, the same under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer, and the armhf build
# under qemu-arm; a hard soak of the camera daemon over loopback under both
# sanitizers and valgrind; a minute of each fuzzer; then checks that both
# architectures report the same soak for the same seed and that the Debian
# packages build for both.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
jobs=$(nproc)

echo "=== format"
git ls-files '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' | xargs clang-format --dry-run --Werror

for preset in ci asan tsan armhf; do
    echo "=== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done

file build/armhf/src/ipc_soak | grep -q 'ELF 32-bit LSB .* ARM' ||
    { echo "build/armhf/src/ipc_soak is not a 32-bit ARM program" >&2; exit 1; }

echo "=== stress soak over TCP"
scripts/stress-soak.sh build/asan
scripts/stress-soak.sh build/tsan
scripts/stress-soak.sh build/ci --valgrind

echo "=== fuzz"
scripts/fuzz.sh 60

echo "=== armhf soak against native"
scripts/armhf-soak-compare.sh

echo "=== packages"
for preset in ci armhf; do
    (cd "build/$preset" && cpack -G DEB >/dev/null)
done
scripts/check-packages.sh build/ci "$(dpkg --print-architecture)"
scripts/check-packages.sh build/armhf armhf
