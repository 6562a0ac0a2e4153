#!/usr/bin/env bash
# Both template units run as systemd would run them, with their example
# settings and the build's programs: ExecStart expanded the way systemd
# expands it (${X} one word, $X split at spaces, %i and %S), from the
# unit's Environment= and then the settings file, and a stop signalled to
# the processes its KillMode= names. A camera instance serves two soak
# instances whose runs are short. One, with a DURATION of a few seconds,
# runs back to back with seeds SEED, SEED+1, ... until the deadline ends it
# by itself; the other, with the example's hour, is stopped with SIGTERM
# while a run after its first is starting up, before ipc_soak catches the
# signal, and that run still ends early with its report. Every run's report
# is whole, the runs that ended by themselves sent what a run of their seed
# sends, the timeline marks each run's start and end with its process and
# seed, each run left its own statistics in the soak's state folder and the
# camera its own in its folder, both counting the same requests, and
# nothing of a soak is left running.
#
# Usage: units_run_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail -o noglob
source=$1 units=$1/deploy/systemd build=$2
# shellcheck source-path=SCRIPTDIR/../.. source=scripts/lib/camera.sh
. "$source/scripts/lib/camera.sh"
work=$(mktemp -d)
camera='' soak=''
trap '[[ -n $camera ]] && kill -9 $camera 2>/dev/null; [[ -n $soak ]] && kill -9 $soak $(pgrep -P $soak) 2>/dev/null
      rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
state=$work/state
threads=2 seed=11

# UNIT CONF INSTANCE: the unit's command line into `argv`, its environment
# into `environment`.
declare -A environment
expand() {
    local line word assignment
    environment=() argv=()
    # shellcheck disable=SC2013 # Environment= holds assignments separated by spaces
    for assignment in $(sed -n 's/^Environment=//p' "$1"); do
        environment[${assignment%%=*}]=${assignment#*=}
    done
    while IFS= read -r line; do
        [[ $line =~ ^([A-Za-z_][A-Za-z0-9_]*)=(.*)$ ]] && environment[${BASH_REMATCH[1]}]=${BASH_REMATCH[2]}
    done <"$2"
    line=$(sed -n 's/^ExecStart=//p' "$1")
    line=${line//%i/$3} line=${line//%S/$state}
    for word in $line; do
        if [[ $word =~ ^\$\{([A-Za-z_0-9]+)\}$ ]]; then
            argv+=("${environment[${BASH_REMATCH[1]}]-}")
        elif [[ $word =~ ^\$([A-Za-z_0-9]+)$ ]]; then
            # shellcheck disable=SC2206 # split at spaces as systemd splits it; noglob is on
            argv+=(${environment[${BASH_REMATCH[1]}]-})
        else
            word=${word/#\/usr\/bin\/kovra-camd/$build/kovra_sim/kovra-camd}
            word=${word/#\/usr\/bin\/ipc_soak/$build/src/ipc_soak}
            argv+=("${word/#\/usr\/lib\/ipc-soak\/soak-runs/$units/soak-runs}")
        fi
    done
}
# UNIT CONF INSTANCE: runs it in the background in its state folder, its
# output in the work folder as INSTANCE.out and INSTANCE.err.
start() {
    local dir=$state/${1##*/}
    dir=${dir%@.service}/$3
    expand "$@"
    mkdir -p "$dir"
    (
        cd "$dir"
        for name in "${!environment[@]}"; do export "$name=${environment[$name]}"; done
        export LD_PRELOAD=${LD_PRELOAD:+$build/kovra_sim/libkovra-trace.so}
        exec "${argv[@]}"
    ) >"$work/$3.out" 2>"$work/$3.err" &
}
# PID: stops the soak unit as systemd does, SIGTERM to what its KillMode=
# names.
kill_mode=$(sed -n 's/^KillMode=//p' "$units/ipc-soak@.service")
stop() {
    local pids=("$1") more=$1 found
    if [[ $kill_mode != @(mixed|process) ]]; then
        while more=$(pgrep -d , -P "$more"); do
            IFS=, read -ra found <<<"$more"
            pids+=("${found[@]}")
        done
    fi
    kill -TERM "${pids[@]}" 2>/dev/null || true
}
# SECONDS INSTANCE: waits for the soak to end within SECONDS; 0 if it ended
# with 0.
ended() {
    local deadline=$((SECONDS + $1)) status=0
    while kill -0 "$soak" 2>/dev/null; do
        (( SECONDS < deadline )) || fail "$2 still runs after $1 s"
        sleep 0.05
    done
    wait "$soak" || status=$?
    soak=''
    [[ $status == 0 ]] || fail "$2 exited $status: $(tail -3 "$work/$2.err")"
}

sed "s#^LISTEN=.*#LISTEN=127.0.0.1:0#; s#^OPTIONS=.*#OPTIONS=--port-file $work/port#" \
    "$units/kovra-camd.conf.example" >"$work/camera.conf"
start "$units/kovra-camd@.service" "$work/camera.conf" cam
camera=$!
# The unit's command line starts it, so the library only waits.
camera_wait 60 $camera "$work/cam.err" "$work/port" || fail "the camera did not start: $camera_error"

# INSTANCE COMMANDS [DURATION]: the example settings with short runs,
# against the camera.
declare -A commands
conf() {
    commands[$1]=$2
    sed "s#^URL=.*#URL=tcp://127.0.0.1:$camera_port#; s#^THREADS=.*#THREADS=$threads#;
         s#^COMMANDS=.*#COMMANDS=$2#; s#^SEED=.*#SEED=$seed#${3:+; s#^DURATION=.*#DURATION=$3#}" \
        "$units/ipc-soak.conf.example" >"$work/$1.conf"
}

"$build/src/ipc_soak" -c 0 | sed -n 's/ pass\/fail\/total .*//p' >"$work/commands"
# INSTANCE: checks its runs; sets `runs`. Each run's output follows the line
# that says its number, seed and process; the last ends with the line that
# says how the soak ended.
check_runs() {
    local dir=$state/ipc-soak/$1 run pid timeline=() marks ends
    mkdir "$work/$1"
    awk -v dir="$work/$1" '/^soak-runs: run [0-9]+, seed / {
            run = $3; seed = $5; sub(/,/, "", run); sub(/,/, "", seed)
            out = dir "/" run; print seed " " $7 > (dir "/runs"); next }
        /^soak-runs: [0-9]+ runs; / { out = ""; next }
        out != "" { printf "%s\n", $0 > out }' "$work/$1.out"
    runs=$(wc -l <"$work/$1/runs")
    mapfile -t timeline < <(sed -n 's/^{"run":{"command":"\([^"]*\)".*"pid":\([0-9]*\),.*/\2 \1/p' "$dir/timeline.jsonl")
    marks=${#timeline[@]} ends=$(grep -c '^{"end":' "$dir/timeline.jsonl" || true)
    (( marks == runs && ends == runs )) || fail "$1: $runs runs, $marks run marks and $ends end marks in its timeline"
    run=0
    while read -r s pid; do
        run=$((run + 1))
        (( s == seed + run - 1 )) || fail "$1: run $run has seed $s, not $((seed + run - 1))"
        [[ ${timeline[run - 1]} == "$pid "*" -t $threads -c ${commands[$1]} -s $s" ]] ||
            fail "$1: run $run is process $pid with seed $s, its run mark says '${timeline[run - 1]}'"
        "$source/scripts/report-whole.sh" "$work/commands" "$work/$1/$run" ||
            fail "$1: run $run's report is not whole"
        [[ -s $dir/stats-$pid.json ]] || fail "$1: run $run left no stats-$pid.json"
        ! kill -0 "$pid" 2>/dev/null || fail "$1: run $run, process $pid, still runs"
    done <"$work/$1/runs"
    [[ $(find "$dir" -name 'stats-*' | wc -l) == "$runs" ]] || fail "$1: statistics files not one a run: $(ls "$dir")"
}
# INSTANCE RUN: the run ended by itself, so it sent every command, the same
# as the in-process soak of its seed.
run_of_seed() {
    local options=(-t "$threads" -c "${commands[$1]}" -s $((seed + $2 - 1)))
    "$build/src/ipc_soak" "${options[@]}" >"$work/by-hand"
    cmp -s "$work/by-hand" "$work/$1/$2" || fail "$1: run $2 differs from ipc_soak ${options[*]}"
}

# A few seconds of runs: the deadline ends the soak by itself, with the
# run under way stopped by SIGINT.
duration=5
conf cam01 100 ${duration}s
began=$EPOCHREALTIME
start "$units/ipc-soak@.service" "$work/cam01.conf" cam01
soak=$!
ended 180 cam01
lasted=$(awk -v a="$began" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
awk -v t="$lasted" -v d=$duration 'BEGIN { exit !(t >= d) }' || fail "cam01 ended after $lasted s, before its DURATION"
tail -1 "$work/cam01.out" | grep -q '^soak-runs: [0-9]* runs; the last ended at the deadline' ||
    fail "cam01 did not end at its deadline: $(tail -1 "$work/cam01.out")"
check_runs cam01
(( runs >= 2 )) || fail "cam01 ran $runs run in its DURATION"
# Each run but the last ended by itself.
for run in 1 $((runs - 1)); do run_of_seed cam01 $run; done
echo "ok: cam01: $runs runs back to back in $lasted s"

# The example's hour, stopped by SIGTERM in a run after the first: cam02
# while that run is starting up (ipc_soak, not catching SIGTERM yet, which
# it does once its client library is up), cam03 once it has run a command.
# The trace layer's latency= makes each call slow, and so each phase long
# enough to be seen. Either way that run must get the signal once, once it
# catches it, and end early with its report, and no run follows.
# INSTANCE: the phase of the soak's latest run if that is run 2 or later:
# "starting" or "running". Builtins only, to see a start-up of about 0.1 s.
phase() {
    local line last='' first='' pid argv0 key value caught=''
    while IFS= read -r line || [[ -n $line ]]; do
        if [[ $line == 'soak-runs: run '* ]]; then
            last=$line first=''
        elif [[ -z $first ]]; then
            first=${line:0:1}
        fi
    done 2>/dev/null <"$work/$1.out"
    [[ $last =~ ^soak-runs:\ run\ ([0-9]+),.*\ ([0-9]+)$ ]] && (( BASH_REMATCH[1] >= 2 )) || return 1
    pid=${BASH_REMATCH[2]}
    if [[ $first == . ]]; then
        echo running
        return
    fi
    IFS= read -r -d '' argv0 2>/dev/null </proc/"$pid"/cmdline && [[ $argv0 == "$build/src/ipc_soak" ]] || return 1
    while read -r key value; do [[ $key == SigCgt: ]] && caught=$value; done 2>/dev/null </proc/"$pid"/status
    [[ -n $caught ]] && (( (16#$caught & 1 << (15 - 1)) == 0 )) && echo starting
}
for instance in cam02:starting cam03:running; do
    when=${instance#*:} instance=${instance%:*}
    conf "$instance" 20  # a run of some seconds, which the signal cannot miss
    sed -i 's#^KOVRA_TRACE=.*#&;latency=50000#' "$work/$instance.conf"
    start "$units/ipc-soak@.service" "$work/$instance.conf" "$instance"
    soak=$!
    deadline=$((SECONDS + 180))
    until [[ $(phase "$instance") == "$when" ]]; do
        kill -0 $soak 2>/dev/null || fail "$instance ended by itself: $(tail -3 "$work/$instance.err")"
        (( SECONDS < deadline )) || fail "$instance had no run after its first $when within 180 s"
        sleep 0.01
    done
    read -r children </proc/$soak/task/$soak/children || true  # no newline at its end
    stop $soak
    ended 60 "$instance"
    tail -1 "$work/$instance.out" | grep -q '^soak-runs: [0-9]* runs; the last ended on SIGTERM' ||
        fail "$instance did not end on SIGTERM: $(tail -3 "$work/$instance.out")"
    # shellcheck disable=SC2086 # process ids
    ! kill -0 $children 2>/dev/null ||
        fail "$instance left processes running: $(ps -o pid=,args= -p "${children// /,}")"
    check_runs "$instance"
    run_of_seed "$instance" 1
    ran=$(awk '/^Service:/ {split($NF, n, "/"); total += n[3]} END {print total + 0}' "$work/$instance/$runs")
    (( ran < threads * commands[$instance] )) ||
        fail "$instance's last run ran all its $ran commands: SIGTERM ended nothing"
    echo "ok: $instance: SIGTERM in run $runs $when ended it after $ran commands"
done

kill -TERM $camera
wait $camera || fail "the camera exited $?"
camera=
requests() { python3 -c 'import json, sys; print(sum(json.load(open(f))["requests"] for f in sys.argv[1:]))' "$@"; }
set +o noglob
soaked=$(requests "$state"/ipc-soak/*/stats-*.json) || fail "no statistics of the soaks"
served=$(requests "$state/kovra-camd/cam/stats.json") || fail "no statistics of the camera"
[[ $soaked == "$served" ]] || fail "the soaks made $soaked requests, the camera served $served"
echo "ok: $soaked requests on both ends"
