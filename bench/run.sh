#!/usr/bin/env bash
# Benchmarks ipc_soak with the stand-in client library and writes
# docs/performance.md from docs/performance.md.in. Each stage is a small
# script that writes one JSON file; bench/render.py fills the page from them.
#   stage_inprocess.py  instructions, heap blocks, RSS and rates in-process
#   stage_trace.py      the trace layer's cost per call, off and on
#   stage_tcp.py        ipc_soak over TCP beside redis and a raw ping-pong
#   stage_fleet.py      64 soaks of 4 threads against one kovra-camd
#   stage_day.py        a traced day of 8,640 intervals in a few minutes
#
# Usage: bench/run.sh [--smoke] [--keep] [STAGE...]
#   --smoke  tiny counts: checks every stage in a minute or two
#   --keep   keep the working folder (profiles, journals, JSON)
#   STAGE    run only these (inprocess, trace, tcp, fleet, day)
# Only a full run of every stage writes docs/performance.md; any other
# prints its page instead.
# Needs what scripts/install-deps.sh installs: valgrind, strace, redis.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
SMOKE=0 KEEP=0 STAGES=()
for arg in "$@"; do
    case $arg in
    --smoke) SMOKE=1 ;;
    --keep) KEEP=1 ;;
    inprocess | trace | tcp | fleet | day) STAGES+=("$arg") ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2 && exit 2 ;;
    esac
done
((${#STAGES[@]})) || STAGES=(inprocess trace tcp fleet day)

# The targets: read on the page, never in a timed test.
export TARGET_INSTRUCTIONS=1800       # instructions per command, at most
export TARGET_PROGRAM_INSTRUCTIONS=260 # of which ipc_soak's over the direct loop's
export TARGET_HEAP_BLOCKS=1.5         # heap blocks per command, at most
export TARGET_RSS_BYTES=8             # peak RSS per scheduled command at -t 1
export TARGET_TCP_CONNECTIONS="1 4 16"
export TARGET_TCP_RPS=1.0             # requests/s over redis-benchmark's, at least
export TARGET_TCP_P99=1.5             # p99 over redis-benchmark's, at most
export TARGET_PINGPONG=0.7            # requests/s at -t 1 over the raw ping-pong's
export TARGET_SWITCHES=1.1            # client context switches per request at -t 1
export TARGET_FLEET_RSS_MB=64         # kovra-camd's peak RSS under 64 soaks
export TARGET_TRACE_OFF=31            # instructions the layer adds to a call, loaded but off
export TARGET_TRACE_STATS=300         # ... with stats=
export TARGET_TRACE_JOURNAL=1500      # ... with stats= and journal=
export TARGET_DAY_RSS_GROWTH_MB=1     # a traced day's RSS, last quarter over first
export TARGET_DAY_READ_S=5            # kovra-stats reading a day's timeline
export TARGET_DAY_READ_MB=200

export BENCH_WORK BENCH_SMOKE=$SMOKE BENCH_BUILD=build/bench
BENCH_WORK=$(mktemp -d "${TMPDIR:-/tmp}/ipc_soak_bench.XXXXXX")
((KEEP)) || trap 'rm -rf "$BENCH_WORK"' EXIT

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIPC_SOAK_BUILD_TESTS=OFF \
    -DIPC_SOAK_BUILD_BENCH=ON >/dev/null
cmake --build build/bench -j"$(nproc)" >/dev/null

export PAGE_DATE PAGE_COMMIT PAGE_MACHINE PAGE_LOAD PAGE_LOAD_END PAGE_DURATION PAGE_GXX
PAGE_DATE=$(date -u '+%Y-%m-%d %H:%M UTC')
PAGE_COMMIT=$(git rev-parse --short=12 HEAD)$(git diff --quiet HEAD -- || echo ' (with uncommitted changes)')
PAGE_MACHINE="$(uname -srm); $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores, $(free -g | awk '/^Mem/ {print $2}') GiB"
PAGE_GXX=$(c++ --version | head -1)
PAGE_LOAD=$(cut -d' ' -f1-3 /proc/loadavg)

for stage in "${STAGES[@]}"; do
    echo "[bench] stage $stage" >&2
    python3 bench/stage_"$stage".py
done

PAGE_LOAD_END=$(cut -d' ' -f1-3 /proc/loadavg)
PAGE_DURATION="$((SECONDS / 60)) min $((SECONDS % 60)) s"
page=docs/performance.md
((SMOKE == 0 && ${#STAGES[@]} == 5)) || page=$BENCH_WORK/performance.md
python3 bench/render.py docs/performance.md.in "$BENCH_WORK" >"$page"
echo "[bench] wrote $page" >&2
((KEEP == 0)) || echo "[bench] the working folder: $BENCH_WORK" >&2
[[ $page == docs/performance.md ]] || cat "$page"
