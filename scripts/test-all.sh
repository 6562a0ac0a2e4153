#!/usr/bin/env bash
# Builds and runs the whole test suite: a formatting check; the native build
# with warnings as errors, the same under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer, and the armhf build
# under qemu-arm, each replaying the fuzzers' corpus too; a hard soak of the
# camera daemon over loopback under both sanitizers and valgrind; then checks
# that both architectures report the same soak for the same seed and that the
# Debian packages build for both. (scripts/fuzz.sh runs the fuzzers
# themselves.)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
jobs=$(nproc)
# Each stage's heading says how long the run has taken so far.
stage() { printf '=== %s (at %dm%02ds)\n' "$1" $((SECONDS / 60)) $((SECONDS % 60)); }

stage format
git ls-files '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' | xargs clang-format --dry-run --Werror

# The tests mostly wait on sockets, timers and child programs, so while one
# preset's tests run, the next preset builds beside them (and the soaks of
# the daemon beside the last), and the tests run twice as many at once as
# there are cores. What runs beside shows its output once it ends, not mixed
# into the tests'.
log=$(mktemp)
beside=
trap '[[ -n $beside ]] && kill "$beside" 2>/dev/null; rm -f "$log"' EXIT
start_beside() {  # NAME COMMAND...
    beside_name=$1
    "${@:2}" >"$log" 2>&1 &
    beside=$!
}
finish_beside() {
    local status=0
    wait "$beside" || status=$?
    beside=
    stage "$beside_name: done"
    cat "$log"
    return $status
}
build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs"; }
stress_soaks() {
    scripts/stress-soak.sh build/asan &&
        scripts/stress-soak.sh build/tsan &&
        scripts/stress-soak.sh build/ci --valgrind
}

presets=(ci asan tsan armhf)
stage "building ci"
build ci
for i in "${!presets[@]}"; do
    next=${presets[i + 1]:-}
    if [[ -n $next ]]; then
        start_beside "building $next" build "$next"
    else
        start_beside "stress soaks over TCP" stress_soaks
    fi
    stage "testing ${presets[i]}"
    ctest --preset "${presets[i]}" -j $((2 * jobs))
    finish_beside
done

file build/armhf/src/ipc_soak | grep -q 'ELF 32-bit LSB .* ARM' ||
    { echo "build/armhf/src/ipc_soak is not a 32-bit ARM program" >&2; exit 1; }

stage "armhf soak against native"
scripts/armhf-soak-compare.sh

stage packages
for preset in ci armhf; do
    (cd "build/$preset" && cpack -G DEB >/dev/null)
done
scripts/check-packages.sh build/ci "$(dpkg --print-architecture)"
scripts/check-packages.sh build/armhf armhf
stage "all passed"
