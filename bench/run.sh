#!/usr/bin/env bash
# Benchmarks ipc_soak with the stand-in client library: instructions, heap
# blocks and peak memory per command, commands per second by thread count,
# the same beside a direct-call loop (the limit), and request/response rates
# and latencies over loopback TCP against kovra-camd beside redis and a raw
# ping-pong; each against its target, then profiles of what bounds it (perf
# at -t 2, strace and CPU per request over TCP). Prints the tables and
# writes docs/performance.md and docs/performance.png; docs/performance.md
# says what each row means.
#
# Usage: bench/run.sh [--smoke] [--keep]
#   --smoke  tiny counts: checks that every stage still runs, in well under a
#            minute; prints the table and leaves docs/ alone
#   --keep   keep the working folder (profiles, journals, raw timings)
# Needs cmake, g++, valgrind, python3 and, for the page's plot, gnuplot; the
# redis rows need redis-server and redis-benchmark (scripts/install-deps.sh),
# the profiles perf (Debian's linux-perf) and strace. What a missing tool
# stops is written on the page as not measured.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
BUILD=build/bench
SMOKE=0
KEEP=0
for arg in "$@"; do
    case $arg in
    --smoke) SMOKE=1 ;;
    --keep) KEEP=1 ;;
    -h | --help)
        sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'
        exit 0
        ;;
    *)
        echo "bench/run.sh: unknown option $arg (try --help)" >&2
        exit 2
        ;;
    esac
done

# Counts. Instructions and heap blocks are exact, so modest counts suffice;
# timings want runs long enough that start-up is noise, and several rounds.
if ((SMOKE)); then
    CG_SMALL=200 CG_LARGE=400
    RSS_COMMANDS=20000 RSS_ROUNDS=1
    TOTAL_COMMANDS=40000 ROUNDS=2 THREADS="1 2"
    TCP_CONNS="1 2" TCP_REQUESTS=2000 TCP_ROUNDS=1
    PERF_ROUNDS=1 TRACE_SMALL=100 TRACE_LARGE=300
else
    CG_SMALL=20000 CG_LARGE=40000
    RSS_COMMANDS=2000000 RSS_ROUNDS=3
    TOTAL_COMMANDS=4000000 ROUNDS=7 THREADS="1 2 4 8"
    TCP_CONNS="1 2 4 8 16" TCP_REQUESTS=30000 TCP_ROUNDS=5
    PERF_ROUNDS=3 TRACE_SMALL=1000 TRACE_LARGE=5000
fi
JOURNAL_COMMANDS=2000
# ipc_soak's frames on the wire, length prefix included, average about 20
# bytes a request and 16-21 a reply (strace of a -t 1 soak; each run measures
# them again for the page): the ping-pong echoes frames a little above both.
FRAME_BYTES=24

# Targets. They live here and on the page, never in a timed test.
INSTRUCTIONS_TARGET=1800        # instructions per command, at most
PROGRAM_INSTRUCTIONS_TARGET=260 # of which the program's own, at most
HEAP_BLOCKS_TARGET=1.5          # heap blocks per command, at most
RSS_TARGET_BYTES=8              # peak RSS per scheduled command at -t 1, at most
MIN_SCALING=1.6                 # -t 2 commands per second over -t 1's, at least
TCP_RPS_TARGET=1.0              # ipc_soak requests/s over redis's, at least
TCP_P99_TARGET=1.5              # ipc_soak p99 over redis's, at most
TCP_TARGET_CONNS="1 4 16"       # connection counts the two TCP targets apply to

SOAK=$BUILD/src/ipc_soak
DIRECT=$BUILD/bench/direct_loop
PROCSTAT=$BUILD/bench/procstat
PINGPONG=$BUILD/bench/pingpong

WORK=$(mktemp -d "${TMPDIR:-/tmp}/ipc_soak_bench.XXXXXX")
BACKGROUND=()

log() { printf '[bench %4ds] %s\n' "$SECONDS" "$*" >&2; }
die() {
    log "ERROR: $*"
    exit 1
}

# Stops the servers we started: TERM, then KILL after 5 seconds.
stop_background() {
    local pid tries
    for pid in "${BACKGROUND[@]}"; do
        kill "$pid" 2>/dev/null || continue
        for ((tries = 0; tries < 50; ++tries)); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    BACKGROUND=()
}

cleanup() {
    local status=$?
    stop_background
    if ((KEEP)); then
        log "raw results kept in $WORK"
    else
        rm -rf "$WORK"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Records a command line for the page, with the working folder written as $WORK.
note() { printf '%s\n' "${*//$WORK/\$WORK}" >>"$WORK/commands.txt"; }

# The arguments as a shell reads them back: quoted where they need it.
quoted() {
    local arg words=()
    for arg in "$@"; do
        if [[ $arg =~ ^[A-Za-z0-9_./:=,@+-]+$ ]]; then
            words+=("$arg")
        else
            words+=("'${arg//\'/\'\\\'\'}'")
        fi
    done
    echo "${words[*]}"
}

# key=value lines for the report.
meta() { printf '%s=%s\n' "$1" "$2" >>"$WORK/meta.txt"; }
figure() { printf '%s=%s\n' "$1" "$2" >>"$WORK/figures.txt"; }

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Pulls one key's value out of a "key=value key=value" line.
field() { tr ' ' '\n' | sed -n "s/^$1=//p"; }

# Runs a command once under procstat and prints procstat's line; fails,
# saying why, unless the command exited 0 within 5 minutes.
timed() {
    local line
    line=$("$PROCSTAT" --timeout 300 -- "$@") || true
    [[ $(field exit <<<"$line") == 0 ]] || die "$*: ${line:-procstat did not run}"
    echo "$line"
}

require() {
    command -v "$1" >/dev/null || die "$1 not found; scripts/install-deps.sh installs it"
}

check_tools() {
    require cmake
    require valgrind
    require python3
    ((SMOKE)) || require gnuplot
}

build() {
    log "building $BUILD (RelWithDebInfo)"
    local configure=(cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
        -DIPC_SOAK_BUILD_TESTS=OFF -DIPC_SOAK_BUILD_BENCH=ON)
    local compile=(cmake --build "$BUILD" -j"$(nproc)")
    note "${configure[*]}"
    note "${compile[*]}"
    if ! timeout 1800 "${configure[@]}" >"$WORK/build.log" 2>&1 ||
        ! timeout 1800 "${compile[@]}" >>"$WORK/build.log" 2>&1; then
        tail -n 30 "$WORK/build.log" >&2
        die "the build failed (log above)"
    fi
}

describe_machine() {
    local cxx dirty
    meta date "$(date -u '+%Y-%m-%d %H:%M UTC')"
    meta commit "$(git rev-parse --short=12 HEAD 2>/dev/null || echo unknown)"
    dirty=$(git status --porcelain -- src kovra_sim include bench CMakeLists.txt 2>/dev/null |
        awk '{ print $NF }' | head -n 12 | tr '\n' ' ')
    meta dirty "${dirty:+, plus uncommitted changes in: ${dirty% }}"
    meta machine "$(uname -srm)"
    meta cpu "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
    meta cores "$(nproc)"
    meta memory "$(awk '/^MemTotal/ { printf "%.0f GiB RAM", $2 / 1048576 }' /proc/meminfo)"
    meta loadavg "$(cut -d' ' -f1-3 /proc/loadavg)"
    cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
    meta gxx "$("${cxx:-c++}" --version | head -n 1)"
    meta valgrind "$(valgrind --version)"
    meta redis "$(redis-server --version 2>/dev/null | cut -d' ' -f1-3 || echo 'redis not installed')"
    meta perf "$(perf --version 2>/dev/null || echo 'perf not installed')"
    meta strace "$(strace -V 2>/dev/null | head -n 1 || echo 'strace not installed')"
    meta cg_small "$CG_SMALL"
    meta cg_large "$CG_LARGE"
    meta cg_delta "$((CG_LARGE - CG_SMALL))"
    meta rss_commands "$RSS_COMMANDS"
    meta rss_rounds "$RSS_ROUNDS"
    meta total_commands "$TOTAL_COMMANDS"
    meta rounds "$ROUNDS"
    meta tcp_conns "$TCP_CONNS"
    meta tcp_requests "$TCP_REQUESTS"
    meta tcp_rounds "$TCP_ROUNDS"
    meta frame_bytes "$FRAME_BYTES"
    meta perf_rounds "$PERF_ROUNDS"
    meta trace_small "$TRACE_SMALL"
    meta trace_large "$TRACE_LARGE"
    meta min_scaling "$MIN_SCALING"
    meta tcp_target_conns "$TCP_TARGET_CONNS"
    figure target_instructions "$INSTRUCTIONS_TARGET"
    figure target_program_instructions "$PROGRAM_INSTRUCTIONS_TARGET"
    figure target_heap_blocks "$HEAP_BLOCKS_TARGET"
    figure rss_target_bytes "$RSS_TARGET_BYTES"
    figure target_tcp_rps "$TCP_RPS_TARGET"
    figure target_tcp_p99 "$TCP_P99_TARGET"
}

# The direct loop is only a limit if it makes the program's calls: compare
# the stand-in's journals of both, requests and releases, handles renumbered.
check_same_calls() {
    log "checking that the direct loop makes ipc_soak's calls"
    local bin name
    for bin in "$SOAK" "$DIRECT"; do
        name=$(basename "$bin")
        note "KOVRA_SIM='journal=$WORK/journal-$name' $bin -t 1 -c $JOURNAL_COMMANDS"
        KOVRA_SIM="journal=$WORK/journal-$name" timeout 120 "$bin" -t 1 -c "$JOURNAL_COMMANDS" >/dev/null
        grep -Ev '_initiator_(init|deinit)\(|_event_handler\(|^kovra_core_(init|deinit|logging_init|logging_deinit|ipc_initiator_init|ipc_deinit)\(' \
            "$WORK/journal-$name" | sed -E 's/#[0-9]+/#/g' >"$WORK/calls-$name" || true
    done
    [[ -s $WORK/calls-ipc_soak ]] || die "ipc_soak's journal holds no requests"
    cmp -s "$WORK/calls-ipc_soak" "$WORK/calls-direct_loop" ||
        die "the direct loop's calls differ from ipc_soak's (diff $WORK/calls-*, run with --keep); update bench/direct_loop.cpp"
}

# Runs TOOL on BIN at -t 1 with both counts, whose difference cancels start-up
# and shut-down: $WORK/PREFIX-NAME-COUNT.EXT and .log.
valgrind_both_counts() {  # TOOL PREFIX EXT BIN
    local tool=$1 prefix=$2 ext=$3 bin=$4 name c out
    name=$(basename "$bin")
    log "$tool: $name -t 1 -c $CG_SMALL and -c $CG_LARGE"
    for c in "$CG_SMALL" "$CG_LARGE"; do
        out=$WORK/$prefix-$name-$c
        note "valgrind --tool=$tool --$tool-out-file=$out.$ext $bin -t 1 -c $c"
        timeout 1200 valgrind --tool="$tool" --"$tool"-out-file="$out.$ext" \
            "$bin" -t 1 -c "$c" >/dev/null 2>"$out.log" ||
            die "$tool of $name failed: $(tail -n 3 "$out.log")"
    done
}

measure_instructions() {
    local bin name
    for bin in "$SOAK" "$DIRECT"; do
        name=$(basename "$bin")
        valgrind_both_counts callgrind cg out "$bin"
        note "bench/callgrind_split.py --program $name --commands $((CG_LARGE - CG_SMALL)) --top-out $WORK/cg-top-$name.tsv $WORK/cg-$name-$CG_SMALL.out $WORK/cg-$name-$CG_LARGE.out"
        python3 bench/callgrind_split.py --program "$name" --commands "$((CG_LARGE - CG_SMALL))" \
            --top 40 --top-out "$WORK/cg-top-$name.tsv" "$WORK/cg-$name-$CG_SMALL.out" "$WORK/cg-$name-$CG_LARGE.out" |
            sed "s/^/cg_${name}_/" >>"$WORK/figures.txt"
    done
}

# (B - A) * SCALE / N in FORMAT: what a run of more commands cost per command.
per_command() {  # A B N FORMAT [SCALE]
    awk -v a="$1" -v b="$2" -v n="$3" -v f="$4" -v k="${5:-1}" 'BEGIN { printf f, (b - a) * k / n }'
}

# A number from one dhat log, by SED_SCRIPT, without thousands separators.
dhat_figure() {  # SED_SCRIPT NAME COUNT
    sed -n "$1" "$WORK/dhat-$2-$3.log" | tr -d ,
}

measure_heap_blocks() {
    local bin name total gmax small large gmax_small gmax_large delta=$((CG_LARGE - CG_SMALL))
    for bin in "$SOAK" "$DIRECT"; do
        name=$(basename "$bin")
        valgrind_both_counts dhat dhat json "$bin"
        # "==PID== Total:     10,718,136 bytes in 100,207 blocks"
        # "==PID== At t-gmax: 216,638 bytes in 551 blocks"
        total='s/.*Total: .* in \([0-9,]*\) blocks.*/\1/p'
        gmax='s/.*At t-gmax: *\([0-9,]*\) bytes.*/\1/p'
        small=$(dhat_figure "$total" "$name" "$CG_SMALL") large=$(dhat_figure "$total" "$name" "$CG_LARGE")
        gmax_small=$(dhat_figure "$gmax" "$name" "$CG_SMALL") gmax_large=$(dhat_figure "$gmax" "$name" "$CG_LARGE")
        [[ -n $small && -n $large ]] || die "no block total in dhat's output for $name"
        figure "dhat_${name}_blocks" "$(per_command "$small" "$large" "$delta" %.3f)"
        [[ -z $gmax_small || -z $gmax_large ]] ||
            figure "dhat_${name}_peak_bytes" "$(per_command "$gmax_small" "$gmax_large" "$delta" %.2f)"
        note "bench/dhat_top.py --commands $delta $WORK/dhat-$name-$CG_SMALL.json $WORK/dhat-$name-$CG_LARGE.json"
        python3 bench/dhat_top.py --commands "$delta" "$WORK/dhat-$name-$CG_SMALL.json" \
            "$WORK/dhat-$name-$CG_LARGE.json" >"$WORK/dhat-top-$name.tsv" ||
            die "bench/dhat_top.py could not read the profiles of $name"
    done
}

# Peak RSS of -c N minus that of -c 0, per command; medians of the rounds.
measure_peak_rss() {
    local bin name round c line empty full
    for bin in "$SOAK" "$DIRECT"; do
        name=$(basename "$bin")
        log "peak RSS: $name -t 1 -c 0 and -c $RSS_COMMANDS, $RSS_ROUNDS rounds"
        note "$PROCSTAT -- $bin -t 1 -c 0"
        note "$PROCSTAT -- $bin -t 1 -c $RSS_COMMANDS"
        for ((round = 1; round <= RSS_ROUNDS; ++round)); do
            for c in 0 "$RSS_COMMANDS"; do
                line=$(timed "$bin" -t 1 -c "$c")
                field maxrss_kb <<<"$line" >>"$WORK/rss-$name-$c"
            done
        done
        empty=$(median <"$WORK/rss-$name-0")
        full=$(median <"$WORK/rss-$name-$RSS_COMMANDS")
        figure "rss_${name}_kb_empty" "$empty"
        figure "rss_${name}_kb_full" "$full"
        figure "rss_${name}_bytes" "$(per_command "$empty" "$full" "$RSS_COMMANDS" %.2f 1024)"
    done
}

# Every configuration once per round, in turn, after one warm-up round.
measure_throughput() {
    local round t bin name line
    log "commands per second: $TOTAL_COMMANDS commands at -t ${THREADS// /, }; $ROUNDS rounds"
    for t in $THREADS; do
        note "$PROCSTAT -- $SOAK -t $t -c $((TOTAL_COMMANDS / t))"
        note "$PROCSTAT -- $DIRECT -t $t -c $((TOTAL_COMMANDS / t))"
    done
    for ((round = 0; round <= ROUNDS; ++round)); do
        for t in $THREADS; do
            for bin in "$SOAK" "$DIRECT"; do
                name=$(basename "$bin")
                line=$(timed "$bin" -t "$t" -c "$((TOTAL_COMMANDS / t))")
                ((round == 0)) ||
                    echo "group=$name threads=$t commands=$((TOTAL_COMMANDS / t)) round=$round $line" >>"$WORK/runs.txt"
            done
        done
    done
}

# In-process -t 2 scaling: how many CPUs each program keeps busy at -t 1 and
# -t 2 (perf stat's task-clock over the wall time), and where the time goes
# at -t 2 (perf record, sampled on the CPU clock when the machine has no
# cycle counter). ipc_soak takes one counters mutex per command by design;
# the direct loop takes none, so the two side by side tell the mutex from
# the calls.
profile_scaling() {
    local round t bin name out ms cpus
    if ! perf stat -e task-clock true >/dev/null 2>&1; then
        unavailable perf "perf stat -e task-clock does not run on this machine"
        return 0
    fi
    log "perf: task-clock at -t 1 and -t 2, $PERF_ROUNDS rounds; perf record at -t 2"
    out=$WORK/perf-stat.csv
    for bin in "$SOAK" "$DIRECT"; do
        for t in 1 2; do
            note "perf stat -e task-clock,context-switches,page-faults -- $bin -t $t -c $((TOTAL_COMMANDS / t))"
        done
    done
    for ((round = 1; round <= PERF_ROUNDS; ++round)); do
        for t in 1 2; do
            for bin in "$SOAK" "$DIRECT"; do
                name=$(basename "$bin")
                timeout 300 perf stat -x, -e task-clock,context-switches,page-faults -o "$out" -- \
                    "$bin" -t "$t" -c "$((TOTAL_COMMANDS / t))" >/dev/null ||
                    die "perf stat of $name -t $t failed: $(tail -n 3 "$out")"
                # "165.43,msec,task-clock,165432470,100.00,0.532,CPUs utilized"
                # "1751,,context-switches,165432470,100.00,10.585,K/sec"
                ms=$(awk -F, '$3 ~ /^task-clock/ { print $1 }' "$out")
                cpus=$(awk -F, '$3 ~ /^task-clock/ { print $6 }' "$out")
                [[ -n $ms && -n $cpus ]] || die "no task-clock in perf stat's output: $(cat "$out")"
                echo "group=$name threads=$t round=$round commands=$TOTAL_COMMANDS task_ms=$ms cpus=$cpus" \
                    "switches=$(awk -F, '$3 ~ /^context-switches/ { print $1 }' "$out")" \
                    "faults=$(awk -F, '$3 ~ /^page-faults/ { print $1 }' "$out")" >>"$WORK/perfstat.txt"
            done
        done
    done
    for bin in "$SOAK" "$DIRECT"; do
        name=$(basename "$bin")
        note "perf record -o $WORK/perf-$name.data -- $bin -t 2 -c $((TOTAL_COMMANDS / 2))"
        note "perf report -i $WORK/perf-$name.data --no-children --sort dso,symbol --stdio"
        timeout 300 perf record -o "$WORK/perf-$name.data" -- \
            "$bin" -t 2 -c "$((TOTAL_COMMANDS / 2))" >/dev/null 2>"$WORK/perf-record-$name.log" ||
            die "perf record of $name failed: $(tail -n 3 "$WORK/perf-record-$name.log")"
        timeout 300 perf report -i "$WORK/perf-$name.data" --no-children --sort dso,symbol --stdio \
            >"$WORK/perf-report-$name.txt" 2>/dev/null || true
        grep -q '%' "$WORK/perf-report-$name.txt" || unavailable perf "perf report printed nothing for $name"
    done
}

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits at most $2 seconds for something to listen on 127.0.0.1:$1.
wait_port() {
    local tries
    for ((tries = 0; tries < $2 * 10; ++tries)); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# Starts a server in the background, remembered for the exit trap; its
# process id is then ${BACKGROUND[-1]}.
start_server() {
    local out=$1
    shift
    note "$(quoted "$@") &"
    "$@" >"$out" 2>&1 &
    BACKGROUND+=($!)
}

# A row that cannot be measured, and why.
unavailable() { printf '%s\t%s\n' "$1" "$2" >>"$WORK/unavailable.txt"; }

# The camera daemon, from this build or from PATH; empty when there is none.
find_camd() {
    local camd
    camd=$(find "$BUILD" -name kovra-camd -type f -perm -u+x 2>/dev/null | head -n 1)
    [[ -n $camd ]] || camd=$(command -v kovra-camd || true)
    echo "$camd"
}

CLK_TCK=$(getconf CLK_TCK)

# CPU seconds, user and system, that a running process (all its threads)
# has used so far.
cpu_seconds() {
    sed 's/.*) //' "/proc/$1/stat" | awk -v hz="$CLK_TCK" '{ printf "%.2f", ($12 + $13) / hz }'
}

# Context switches so far, voluntary and not, of the threads a running
# process has now (those that ended are not counted).
thread_switches() {
    cat /proc/"$1"/task/*/status 2>/dev/null |
        awk '/^(voluntary|nonvoluntary)_ctxt_switches/ { s += $2 } END { print s + 0 }'
}

PINGPONG_PORT="" PINGPONG_PID="" REDIS_PORT="" REDIS_PID="" CAMD_PORT="" CAMD_PID=""

# One server of each kind for the whole stage, every round against the same
# one, as a soak meets a camera that has been up a while.
start_tcp_servers() {
    local camd tries

    PINGPONG_PORT=$(free_port)
    start_server "$WORK/pingpong.log" "$PINGPONG" serve --listen "127.0.0.1:$PINGPONG_PORT" \
        --frame "$FRAME_BYTES" --lifetime 1800
    PINGPONG_PID=${BACKGROUND[-1]}
    wait_port "$PINGPONG_PORT" 10 || die "the ping-pong server did not listen"
    note "$PINGPONG load --connect 127.0.0.1:$PINGPONG_PORT -c N -n $TCP_REQUESTS --frame $FRAME_BYTES"

    if command -v redis-server >/dev/null && command -v redis-benchmark >/dev/null; then
        REDIS_PORT=$(free_port)
        start_server "$WORK/redis.log" redis-server --port "$REDIS_PORT" --bind 127.0.0.1 --save '' --appendonly no
        REDIS_PID=${BACKGROUND[-1]}
        wait_port "$REDIS_PORT" 10 || die "redis-server did not listen"
        note "redis-benchmark -h 127.0.0.1 -p $REDIS_PORT -c N -n $TCP_REQUESTS -P 1 -t ping_mbulk --csv --precision 3"
    else
        unavailable redis "redis-server or redis-benchmark not installed"
    fi

    camd=$(find_camd)
    if [[ -z $camd ]]; then
        unavailable ipc_soak_tcp "kovra-camd not built"
        return 0
    fi
    start_server "$WORK/camd.log" "$camd" --listen 127.0.0.1:0 --port-file "$WORK/camd.port" --threads 2
    CAMD_PID=${BACKGROUND[-1]}
    for ((tries = 0; tries < 100; ++tries)); do
        [[ -s $WORK/camd.port ]] && break
        sleep 0.1
    done
    CAMD_PORT=$(cat "$WORK/camd.port" 2>/dev/null || true)
    if [[ -z $CAMD_PORT ]] || ! wait_port "$CAMD_PORT" 10; then
        unavailable ipc_soak_tcp "kovra-camd wrote no port or did not listen: $(tail -n 2 "$WORK/camd.log")"
        CAMD_PORT=""
        return 0
    fi
    note "KOVRA_SIM='stats=$WORK/stats.json' $SOAK -t N -c $TCP_REQUESTS/N -u tcp://127.0.0.1:$CAMD_PORT"
}

# One point: SYSTEM at N connections (threads, for ipc_soak). The client runs
# under procstat; the server's CPU time is read before and after it. Appends
# a line to tcp.txt unless the point is recorded as unavailable.
tcp_point() {
    local system=$1 n=$2 round=$3 server line result before after stats switched
    local out=$WORK/tcp-out.txt
    case $system in
    pingpong)
        server=$PINGPONG_PID
        before=$(cpu_seconds "$server") switched=$(thread_switches "$server")
        line=$("$PROCSTAT" --timeout 300 --stdout "$out" -- "$PINGPONG" load \
            --connect "127.0.0.1:$PINGPONG_PORT" -c "$n" -n "$TCP_REQUESTS" --frame "$FRAME_BYTES") || true
        [[ $(field exit <<<"$line") == 0 ]] || die "ping-pong -c $n failed: $line"
        # requests=R seconds=S rps=X p50_us=A p99_us=B max_us=C
        result=$(tail -n 1 "$out")
        ;;
    redis)
        [[ -n $REDIS_PORT ]] || return 0
        server=$REDIS_PID
        before=$(cpu_seconds "$server") switched=$(thread_switches "$server")
        line=$("$PROCSTAT" --timeout 300 --stdout "$out" -- redis-benchmark -h 127.0.0.1 -p "$REDIS_PORT" \
            -c "$n" -n "$TCP_REQUESTS" -P 1 -t ping_mbulk --csv --precision 3) || true
        [[ $(field exit <<<"$line") == 0 ]] || die "redis-benchmark -c $n failed: $line"
        # "test","rps","avg_latency_ms","min_latency_ms","p50_latency_ms","p95_latency_ms","p99_latency_ms","max_latency_ms"
        # "PING_MBULK","30165.91","0.022","0.016","0.023","0.031","0.055","2.967"
        result=$(tail -n 1 "$out" | tr -d '"' | awk -F, -v n="$TCP_REQUESTS" \
            '{ printf "requests=%d rps=%s p50_us=%.1f p99_us=%.1f", n, $2, $5 * 1000, $7 * 1000 }')
        ;;
    ipc_soak_tcp)
        [[ -n $CAMD_PORT ]] || return 0
        server=$CAMD_PID
        stats=$WORK/stats-$n-$round.json
        before=$(cpu_seconds "$server") switched=$(thread_switches "$server")
        line=$(KOVRA_SIM="stats=$stats" "$PROCSTAT" --timeout 300 -- \
            "$SOAK" -t "$n" -c "$((TCP_REQUESTS / n))" -u "tcp://127.0.0.1:$CAMD_PORT") || true
        if [[ $(field exit <<<"$line") != 0 ]]; then
            unavailable ipc_soak_tcp "ipc_soak -u tcp:// ended with $(field exit <<<"$line")"
            return 0
        elif [[ ! -s $stats ]]; then
            unavailable ipc_soak_tcp "KOVRA_SIM=stats= wrote no file"
            return 0
        elif ! result=$(python3 bench/sim_stats.py "$stats") || [[ $result == *rps=na* ]]; then
            unavailable ipc_soak_tcp "no request rate in the stats file (bench/sim_stats.py)"
            return 0
        fi
        ;;
    esac
    after=$(cpu_seconds "$server")
    switched=$(($(thread_switches "$server") - switched))
    # The ping-pong server's threads end with their connections, and their
    # switches with them.
    [[ $system != pingpong ]] || switched=na
    ((round == 0)) && return 0
    echo "system=$system conns=$n round=$round $result client_cpu_s=$(awk -v u="$(field user_s <<<"$line")" \
        -v s="$(field sys_s <<<"$line")" 'BEGIN { printf "%.3f", u + s }') server_cpu_s=$(awk -v a="$before" \
        -v b="$after" 'BEGIN { printf "%.2f", b - a }') client_vcsw=$(field vcsw <<<"$line")" \
        "client_ivcsw=$(field ivcsw <<<"$line") server_switches=$switched" >>"$WORK/tcp.txt"
}

# Every point once per round, the three systems side by side at each
# connection count, which of them goes first turning round by round; round 0
# is a warm-up at the first count and is not recorded.
measure_tcp() {
    local round n k systems=(pingpong redis ipc_soak_tcp)
    log "TCP on loopback: ${TCP_CONNS// /, } connections, $TCP_REQUESTS requests each, $TCP_ROUNDS rounds"
    start_tcp_servers
    for ((round = 0; round <= TCP_ROUNDS; ++round)); do
        for n in $TCP_CONNS; do
            for k in 0 1 2; do
                tcp_point "${systems[(round + k) % 3]}" "$n" "$round"
            done
            ((round > 0)) || break
        done
    done
    trace_tcp_clients
    stop_background
}

# Syscalls per request of the clients at one connection: strace -f -c of a
# small and a large run, the difference over the difference in requests, so
# start-up and shut-down cancel. redis-benchmark makes as many requests as
# ipc_soak did.
trace_tcp_clients() {
    local c requests
    if ! command -v strace >/dev/null; then
        unavailable strace "strace not installed"
        return 0
    fi
    [[ -n $CAMD_PORT ]] || return 0
    log "strace -f -c: ipc_soak -t 1 -c $TRACE_SMALL and -c $TRACE_LARGE over TCP, redis-benchmark -c 1 alike"
    for c in "$TRACE_SMALL" "$TRACE_LARGE"; do
        note "KOVRA_SIM='stats=$WORK/trace-$c.json' strace -f -c -o $WORK/strace-ipc_soak_tcp-$c.txt $SOAK -t 1 -c $c -u tcp://127.0.0.1:$CAMD_PORT"
        KOVRA_SIM="stats=$WORK/trace-$c.json" timeout 300 strace -f -c -o "$WORK/strace-ipc_soak_tcp-$c.txt" \
            "$SOAK" -t 1 -c "$c" -u "tcp://127.0.0.1:$CAMD_PORT" >/dev/null 2>"$WORK/strace-ipc_soak_tcp-$c.log" ||
            die "strace of ipc_soak failed: $(tail -n 3 "$WORK/strace-ipc_soak_tcp-$c.log")"
        requests=$(python3 bench/sim_stats.py "$WORK/trace-$c.json" | field requests)
        echo "system=ipc_soak_tcp size=$c requests=$requests" >>"$WORK/trace.txt"
        if ((c == TRACE_SMALL)); then
            # The bytes ipc_soak's frames take on the wire, for the page beside the ping-pong's size.
            note "strace -f -qq -e trace=sendto,recvfrom -o $WORK/wire.txt $SOAK -t 1 -c $c -u tcp://127.0.0.1:$CAMD_PORT"
            timeout 300 strace -f -qq -e trace=sendto,recvfrom -o "$WORK/wire.txt" \
                "$SOAK" -t 1 -c "$c" -u "tcp://127.0.0.1:$CAMD_PORT" >/dev/null 2>&1 ||
                die "strace of ipc_soak's frames failed"
            awk -v n="$requests" '
                /sendto/ && / = [0-9]+$/ { sent += $NF; ++sends }
                /recvfrom/ && / = [0-9]+$/ { received += $NF }
                END { if (sends && n) printf "wire_request_bytes=%.1f\nwire_reply_bytes=%.1f\n", sent / sends, received / n }
            ' "$WORK/wire.txt" >>"$WORK/figures.txt"
        fi
        [[ -n $REDIS_PORT ]] || continue
        note "strace -f -c -o $WORK/strace-redis-$c.txt redis-benchmark -h 127.0.0.1 -p $REDIS_PORT -c 1 -n $requests -P 1 -t ping_mbulk -q"
        timeout 300 strace -f -c -o "$WORK/strace-redis-$c.txt" redis-benchmark -h 127.0.0.1 -p "$REDIS_PORT" \
            -c 1 -n "$requests" -P 1 -t ping_mbulk -q >/dev/null 2>&1 || die "strace of redis-benchmark failed"
        echo "system=redis size=$c requests=$requests" >>"$WORK/trace.txt"
    done
}

report() {
    local args=("$WORK" --plot-data "$WORK/plot")
    meta duration "$((SECONDS / 60)) min $((SECONDS % 60)) s"
    meta loadavg_end "$(cut -d' ' -f1-3 /proc/loadavg)"
    if ((!SMOKE)); then
        mkdir -p docs
        args+=(--markdown docs/performance.md --template bench/performance.md.in)
    fi
    echo
    ((!SMOKE)) || echo "Smoke run: counts too small for the figures to mean anything."
    python3 bench/report.py "${args[@]}"
    echo
    if command -v gnuplot >/dev/null; then
        local out=docs/performance.png
        ((!SMOKE)) || out=$WORK/performance.png
        gnuplot -e "data='$WORK/plot'; out='$out'; scaling=$MIN_SCALING; title_note='($(sed -n 's/^commit=//p' "$WORK/meta.txt"), $(sed -n 's/^date=//p' "$WORK/meta.txt"))'" \
            bench/performance.gp 2>"$WORK/gnuplot.log" || die "gnuplot failed: $(cat "$WORK/gnuplot.log")"
    fi
    if ((SMOKE)); then
        log "smoke run done in ${SECONDS} s; docs/ left as it was"
    else
        log "wrote docs/performance.md and docs/performance.png in ${SECONDS} s"
    fi
}

check_tools
build
describe_machine
check_same_calls
measure_instructions
measure_heap_blocks
measure_peak_rss
measure_throughput
profile_scaling
measure_tcp
report
