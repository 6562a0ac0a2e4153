#!/usr/bin/env bash
# Soaks a camera daemon hard over loopback and fails on any sanitizer
# report, leak or unexpected exit: 64 workers of 2000 commands each against
# a daemon with faults, latency and restarts switched on, which is killed
# mid-run and started again on the same port (the client loses it, its
# calls wait, and the soak goes on against the camera that came back: at
# most 1% more commands fail than the faults alone make fail); then a
# second soak to its end and a clean stop.
#
# Usage: scripts/stress-soak.sh [BUILD_DIR] [--valgrind]
#   BUILD_DIR  a build of the asan, tsan or ci preset (default build/asan)
#   --valgrind run the daemon under valgrind's leak check (a plain build)
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source-path=SCRIPTDIR source=lib/camera.sh
. "$repo/scripts/lib/camera.sh"
build=${1:-$repo/build/asan}
valgrind=()
# shellcheck disable=SC2054 # the commas are valgrind's
[[ ${2:-} == --valgrind ]] && valgrind=(valgrind --leak-check=full --show-leak-kinds=definite,indirect
                                         --errors-for-leak-kinds=definite,indirect --error-exitcode=99)
soak=$build/src/ipc_soak camd=$build/kovra_sim/kovra-camd
work=$(mktemp -d)
daemon=
trap '[[ -n $daemon ]] && kill -9 $daemon 2>/dev/null; rm -rf "$work"' EXIT
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
directives='fail=kovra_api_led_get_state_send@3:-42;fail=kovra_api_imaging_set_contrast_send;latency=300;restart=exposure*20/700;restart=log*5/3000'

start_daemon() {  # [PORT]
    local status=0
    camera_start 20 -p "${1:-0}" "$work/camd.err" "$work/port" "${valgrind[@]}" "$camd" \
        --sim "$directives" --stats "$work/camd.json" || status=$?
    daemon=$camera_pid
    (( status == 0 )) || { cat "$work/camd.err"; echo "daemon did not start" >&2; exit 1; }
    port=$camera_port
}
check_soak() {  # NAME EXIT
    [[ $2 == 0 ]] || { tail "$work/$1.err"; echo "$1 exited $2" >&2; exit 1; }
    [[ $(grep -c '^Service:' "$work/$1.out") == 87 ]] || { echo "$1 printed no whole report" >&2; exit 1; }
    if grep -E 'Sanitizer|runtime error' "$work/$1.err"; then echo "$1: sanitizer report" >&2; exit 1; fi
    echo "$1: $(awk '{split($NF, a, "/"); p += a[1]; t += a[3]} END {print p " of " t " commands passed"}' "$work/$1.out")"
}
failed() {  # NAME: commands that failed
    awk '/^Service:/ {split($NF, a, "/"); f += a[2]} END {print f + 0}' "$work/$1.out"
}

start_daemon
: >"$work/dropped.out"  # for the count below to read before the soak's first dot
KOVRA_SIM="timeout=3000;stats=$work/dropped.json" timeout 600 "$soak" -u "tcp://127.0.0.1:$port" -t 64 -c 2000 \
    >"$work/dropped.out" 2>"$work/dropped.err" &
client=$!
# Half way through (a dot per worker every 100 commands), whatever the build's speed.
until (( $(tr -cd . <"$work/dropped.out" | wc -c) >= 64 * 10 )) || ! kill -0 $client 2>/dev/null; do
    sleep 0.05
done
kill -9 "$daemon"
wait "$daemon" 2>/dev/null || true
start_daemon "$port"
status=0
wait "$client" || status=$?
check_soak dropped $status
grep -q 'lost the camera' "$work/dropped.err" || { echo "the client never saw the daemon go" >&2; exit 1; }
grep -q 'is back' "$work/dropped.err" || { echo "the client never reached the new daemon" >&2; exit 1; }

status=0
KOVRA_SIM="timeout=3000;stats=$work/whole.json" timeout 600 "$soak" -u "tcp://127.0.0.1:$port" -t 64 -c 2000 \
    >"$work/whole.out" 2>"$work/whole.err" || status=$?
check_soak whole $status
if (( $(failed dropped) > $(failed whole) + 128000 / 100 )); then
    echo "the restart cost more than 1% of the soak: $(failed dropped) failed, $(failed whole) without it" >&2
    exit 1
fi

kill -TERM "$daemon"
status=0
wait "$daemon" || status=$?
daemon=
if [[ $status != 0 ]] || grep -E 'Sanitizer|runtime error|definitely lost: [1-9]|indirectly lost: [1-9]' "$work/camd.err"; then
    tail -40 "$work/camd.err"
    echo "the daemon stopped with $status or a report" >&2
    exit 1
fi
grep -E 'definitely lost|indirectly lost|All heap blocks were freed|ERROR SUMMARY' "$work/camd.err" || true
served=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["requests"])' "$work/camd.json")
echo "ok: the daemon served $served requests and stopped cleanly"
