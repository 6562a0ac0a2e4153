#!/usr/bin/env bash
# Builds and runs the whole test suite: a formatting check; the native build
# with warnings as errors, the same under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer, and the armhf build
# under qemu-arm; a hard soak of the camera daemon over loopback under both
# sanitizers and valgrind; half a minute of each fuzzer; then checks that both
# architectures report the same soak for the same seed and that the Debian
# packages build for both.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
jobs=$(nproc)
# Each stage's heading says how long the run has taken so far.
stage() { printf '=== %s (at %dm%02ds)\n' "$1" $((SECONDS / 60)) $((SECONDS % 60)); }

stage format
git ls-files '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' | xargs clang-format --dry-run --Werror

# The tests mostly wait on sockets, timers and child programs, so while one
# preset's tests run, the next preset builds beside them, and the tests run
# twice as many at once as there are cores. A build's output is shown once
# it ends, not mixed into the tests'.
logs=$(mktemp -d)
builder=
trap '[[ -n $builder ]] && kill "$builder" 2>/dev/null; rm -rf "$logs"' EXIT
start_build() {  # PRESET
    { cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs"; } >"$logs/$1" 2>&1 &
    builder=$!
}
finish_build() {  # PRESET
    local status=0
    wait "$builder" || status=$?
    builder=
    stage "$1 built"
    cat "$logs/$1"
    return $status
}

presets=(ci asan tsan armhf fuzz)
stage "building ci"
start_build ci
finish_build ci
for i in 0 1 2 3; do
    start_build "${presets[i + 1]}"
    stage "testing ${presets[i]}"
    ctest --preset "${presets[i]}" -j $((2 * jobs))
    finish_build "${presets[i + 1]}"
done

file build/armhf/src/ipc_soak | grep -q 'ELF 32-bit LSB .* ARM' ||
    { echo "build/armhf/src/ipc_soak is not a 32-bit ARM program" >&2; exit 1; }

stage "stress soak over TCP"
scripts/stress-soak.sh build/asan
scripts/stress-soak.sh build/tsan
scripts/stress-soak.sh build/ci --valgrind

stage fuzz
scripts/fuzz.sh 30

stage "armhf soak against native"
scripts/armhf-soak-compare.sh

stage packages
for preset in ci armhf; do
    (cd "build/$preset" && cpack -G DEB >/dev/null)
done
scripts/check-packages.sh build/ci "$(dpkg --print-architecture)"
scripts/check-packages.sh build/armhf armhf
stage "all passed"
