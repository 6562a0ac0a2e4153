#!/usr/bin/env bash
# Builds the libFuzzer harnesses (preset fuzz: clang with AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs each from the corpus in
# fuzz/corpus, as many at once as there are cores; exits non-zero on any
# crash, leak or sanitizer report, leaving the input that caused it in
# fuzz-artifacts/.
#
# Usage: scripts/fuzz.sh [--merge] [SECONDS | -runs=N]   (default: 60 seconds each)
#   scripts/fuzz.sh -runs=10000000   the long run: ten million inputs each
#   --merge   then adds to fuzz/corpus the inputs that reach code it does not
#             (edges only, so that the corpus stays small), for every build
#             to replay as a test
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
merge=
[[ ${1:-} == --merge ]] && { merge=1; shift; }
limit=${1:-60}
[[ $limit == -runs=* ]] || limit=-max_total_time=$limit

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p fuzz-artifacts
# One harness: its summary once it ends, and its exit status.
run_one() {
    mkdir -p "$work/$1"
    # New inputs go to the scratch corpus; fuzz/corpus changes only by a merge.
    build/fuzz/fuzz/fuzz_"$1" "$limit" -print_final_stats=1 -artifact_prefix=fuzz-artifacts/ \
        "$work/$1" "fuzz/corpus/$1" >"$work/$1.log" 2>&1
    local status=$?
    if [[ $status -eq 0 && -n $merge ]]; then
        build/fuzz/fuzz/fuzz_"$1" -merge=1 -use_counters=0 -use_cmp=0 \
            "fuzz/corpus/$1" "$work/$1" >>"$work/$1.log" 2>&1 || status=$?
    fi
    { echo "=== fuzz_$1 ($limit)"
      grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done|==[0-9]+==|SUMMARY|INFO: Seed|MERGE-OUTER: [0-9]+ new)' \
          "$work/$1.log"
      [[ $status -eq 0 ]] || echo "fuzz_$1 failed; see fuzz-artifacts/"; } >&2
    return $status
}
export -f run_one
export work limit merge
# Each harness is one process, named by its corpus folder: as many run at
# once as there are cores.
(cd fuzz/corpus && printf '%s\n' *) | xargs -P "$(nproc)" -I{} bash -c 'run_one {}' || exit 1
rmdir fuzz-artifacts 2>/dev/null || true
