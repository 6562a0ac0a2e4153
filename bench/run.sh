#!/usr/bin/env bash
# Benchmarks ipc_soak with the stand-in client library: instructions, heap
# blocks and peak memory per command, commands per second by thread count,
# the same beside a direct-call loop (the limit), and request/response rates
# over loopback TCP beside redis and a raw ping-pong. Prints a table and
# writes docs/performance.md and docs/performance.png; docs/performance.md
# says what each row means.
#
# Usage: bench/run.sh [--smoke] [--keep]
#   --smoke  tiny counts: checks that every stage still runs, in well under a
#            minute; prints the table and leaves docs/ alone
#   --keep   keep the working folder (profiles, journals, raw timings)
# Needs cmake, g++, valgrind, python3 and, for the page's plot, gnuplot; the
# redis rows need redis-server and redis-benchmark (scripts/install-deps.sh).
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
else
    CG_SMALL=20000 CG_LARGE=40000
    RSS_COMMANDS=2000000 RSS_ROUNDS=3
    TOTAL_COMMANDS=2000000 ROUNDS=7 THREADS="1 2 4 8"
    TCP_CONNS="1 2 4 8 16" TCP_REQUESTS=50000 TCP_ROUNDS=3
fi
JOURNAL_COMMANDS=2000
FRAME_BYTES=64
MIN_SCALING=1.6     # -t 2 should reach this multiple of -t 1
RSS_TARGET_BYTES=8  # peak RSS per scheduled command we aim for

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
    meta mode "$( ((SMOKE)) && echo smoke || echo full)"
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
    meta min_scaling "$MIN_SCALING"
    figure rss_target_bytes "$RSS_TARGET_BYTES"
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

measure_instructions() {
    local bin name c
    for bin in "$SOAK" "$DIRECT"; do
        name=$(basename "$bin")
        log "callgrind: $name -t 1 -c $CG_SMALL and -c $CG_LARGE"
        for c in "$CG_SMALL" "$CG_LARGE"; do
            note "valgrind --tool=callgrind --callgrind-out-file=$WORK/cg-$name-$c.out $bin -t 1 -c $c"
            timeout 1200 valgrind --tool=callgrind --callgrind-out-file="$WORK/cg-$name-$c.out" \
                "$bin" -t 1 -c "$c" >/dev/null 2>"$WORK/cg-$name-$c.log" ||
                die "callgrind of $name failed: $(tail -n 3 "$WORK/cg-$name-$c.log")"
        done
        note "bench/callgrind_split.py --program $name --commands $((CG_LARGE - CG_SMALL)) $WORK/cg-$name-$CG_SMALL.out $WORK/cg-$name-$CG_LARGE.out"
        python3 bench/callgrind_split.py --program "$name" --commands "$((CG_LARGE - CG_SMALL))" \
            "$WORK/cg-$name-$CG_SMALL.out" "$WORK/cg-$name-$CG_LARGE.out" |
            sed "s/^/cg_${name}_/" >>"$WORK/figures.txt"
    done
}

measure_heap_blocks() {
    local bin name c small large
    for bin in "$SOAK" "$DIRECT"; do
        name=$(basename "$bin")
        log "dhat: $name -t 1 -c $CG_SMALL and -c $CG_LARGE"
        for c in "$CG_SMALL" "$CG_LARGE"; do
            note "valgrind --tool=dhat --dhat-out-file=/dev/null $bin -t 1 -c $c"
            timeout 1200 valgrind --tool=dhat --dhat-out-file=/dev/null \
                "$bin" -t 1 -c "$c" >/dev/null 2>"$WORK/dhat-$name-$c.log" ||
                die "dhat of $name failed: $(tail -n 3 "$WORK/dhat-$name-$c.log")"
        done
        # "==PID== Total:     10,718,136 bytes in 100,207 blocks"
        small=$(sed -n 's/.*Total: .* in \([0-9,]*\) blocks.*/\1/p' "$WORK/dhat-$name-$CG_SMALL.log" | tr -d ,)
        large=$(sed -n 's/.*Total: .* in \([0-9,]*\) blocks.*/\1/p' "$WORK/dhat-$name-$CG_LARGE.log" | tr -d ,)
        [[ -n $small && -n $large ]] || die "no block total in dhat's output for $name"
        figure "dhat_${name}_blocks" "$(awk -v a="$small" -v b="$large" -v n="$((CG_LARGE - CG_SMALL))" \
            'BEGIN { printf "%.3f", (b - a) / n }')"
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
        figure "rss_${name}_bytes" "$(awk -v a="$empty" -v b="$full" -v n="$RSS_COMMANDS" \
            'BEGIN { printf "%.2f", (b - a) * 1024 / n }')"
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

# Starts a server in the background, remembered for the exit trap.
start_server() {
    local out=$1
    shift
    note "$(quoted "$@") &"
    "$@" >"$out" 2>&1 &
    BACKGROUND+=($!)
}

# A TCP row that cannot be measured, and why.
unavailable() { printf '%s\t%s\n' "$1" "$2" >>"$WORK/unavailable.txt"; }

# The camera daemon, from this build or from PATH; empty when there is none.
find_camd() {
    local camd
    camd=$(find "$BUILD" -name kovra-camd -type f -perm -u+x 2>/dev/null | head -n 1)
    [[ -n $camd ]] || camd=$(command -v kovra-camd || true)
    echo "$camd"
}

measure_tcp() {
    local pingpong_port redis_port="" camd camd_port="" round n line stats
    log "TCP on loopback: ${TCP_CONNS// /, } connections, $TCP_REQUESTS requests each, $TCP_ROUNDS rounds"

    pingpong_port=$(free_port)
    start_server "$WORK/pingpong.log" "$PINGPONG" serve --listen "127.0.0.1:$pingpong_port" --frame "$FRAME_BYTES" --lifetime 1800
    wait_port "$pingpong_port" 10 || die "the ping-pong server did not listen"
    note "$PINGPONG load --connect 127.0.0.1:$pingpong_port -c N -n $TCP_REQUESTS --frame $FRAME_BYTES"

    if command -v redis-server >/dev/null && command -v redis-benchmark >/dev/null; then
        redis_port=$(free_port)
        start_server "$WORK/redis.log" redis-server --port "$redis_port" --bind 127.0.0.1 --save '' --appendonly no
        wait_port "$redis_port" 10 || die "redis-server did not listen"
        note "redis-benchmark -h 127.0.0.1 -p $redis_port -c N -n $TCP_REQUESTS -P 1 -t ping_mbulk --csv --precision 3"
    else
        unavailable redis "redis-server or redis-benchmark not installed"
    fi

    camd=$(find_camd)
    if [[ -z $camd ]]; then
        unavailable ipc_soak_tcp "kovra-camd not built yet"
    else
        camd_port=$(free_port)
        start_server "$WORK/camd.log" "$camd" --listen "127.0.0.1:$camd_port"
        if wait_port "$camd_port" 10; then
            note "KOVRA_SIM='stats=$WORK/stats.json' $SOAK -t N -c $TCP_REQUESTS/N -u tcp://127.0.0.1:$camd_port"
        else
            unavailable ipc_soak_tcp "kovra-camd did not listen on 127.0.0.1:$camd_port"
            camd_port=""
        fi
    fi

    for ((round = 1; round <= TCP_ROUNDS; ++round)); do
        for n in $TCP_CONNS; do
            line=$(timeout 300 "$PINGPONG" load --connect "127.0.0.1:$pingpong_port" -c "$n" \
                -n "$TCP_REQUESTS" --frame "$FRAME_BYTES") || die "ping-pong -c $n failed"
            echo "system=pingpong conns=$n round=$round $line" >>"$WORK/tcp.txt"

            if [[ -n $redis_port ]]; then
                # "PING_MBULK","30165.91","0.022","0.016","0.023","0.031","0.055","2.967"
                line=$(timeout 300 redis-benchmark -h 127.0.0.1 -p "$redis_port" -c "$n" -n "$TCP_REQUESTS" \
                    -P 1 -t ping_mbulk --csv --precision 3 | tail -n 1 | tr -d '"') || die "redis-benchmark -c $n failed"
                echo "system=redis conns=$n round=$round $(awk -F, '{ printf "rps=%s p99_us=%.1f", $2, $7 * 1000 }' <<<"$line")" \
                    >>"$WORK/tcp.txt"
            fi

            if [[ -n $camd_port ]]; then
                stats=$WORK/stats-$n-$round.json
                line=$(KOVRA_SIM="stats=$stats" "$PROCSTAT" --timeout 300 -- \
                    "$SOAK" -t "$n" -c "$((TCP_REQUESTS / n))" -u "tcp://127.0.0.1:$camd_port") || true
                if [[ $(field exit <<<"$line") != 0 ]]; then
                    unavailable ipc_soak_tcp "ipc_soak -u tcp:// ended with $(field exit <<<"$line")"
                elif [[ ! -s $stats ]]; then
                    unavailable ipc_soak_tcp "KOVRA_SIM=stats= wrote no file"
                elif ! line=$(python3 bench/sim_stats.py "$stats") || [[ $line == *rps=na* ]]; then
                    unavailable ipc_soak_tcp "no request rate in the stats file (bench/sim_stats.py)"
                else
                    echo "system=ipc_soak_tcp conns=$n round=$round $line" >>"$WORK/tcp.txt"
                fi
            fi
        done
    done
    stop_background
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
measure_tcp
report
