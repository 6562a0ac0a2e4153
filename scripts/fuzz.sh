#!/usr/bin/env bash
# Builds the libFuzzer harnesses (preset fuzz: clang with AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs each from the seed corpus in
# fuzz/corpus; exits non-zero on the first crash, leak or sanitizer report,
# leaving the input that caused it in fuzz-artifacts/.
#
# Usage: scripts/fuzz.sh [SECONDS | -runs=N]   (default: 60 seconds each)
#   scripts/fuzz.sh -runs=10000000   the long run: ten million inputs each
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
limit=${1:-60}
[[ $limit == -runs=* ]] || limit=-max_total_time=$limit

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p fuzz-artifacts
for harness in frames handshake directives; do
    echo "=== fuzz_$harness ($limit)"
    mkdir -p "$work/$harness"
    # New inputs go to the scratch corpus; the seeds stay as committed.
    build/fuzz/fuzz/fuzz_"$harness" "$limit" -print_final_stats=1 -artifact_prefix=fuzz-artifacts/ \
        "$work/$harness" "fuzz/corpus/$harness" 2>&1 |
        grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done|==[0-9]+==|SUMMARY|INFO: Seed)' || true
    [[ ${PIPESTATUS[0]} -eq 0 ]] || { echo "fuzz_$harness failed; see fuzz-artifacts/" >&2; exit 1; }
done
rmdir fuzz-artifacts 2>/dev/null || true
