#!/usr/bin/env bash
# Both template units run as systemd would run them, with their example
# settings and the build's programs: ExecStart expanded the way systemd
# expands it (${X} one word, $X split at spaces, %i and %S), from the
# unit's Environment= and then the settings file. A camera instance serves,
# the soak of it ends with the SIGTERM of RuntimeMaxSec=: its report is
# whole, and the trace layer's statistics land in the soak's state folder
# and the camera's in its own, both counting the same requests.
#
# Usage: units_run_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail -o noglob
units=$1/deploy/systemd build=$2 instance=cam01
# shellcheck source-path=SCRIPTDIR/../.. source=scripts/lib/camera.sh
. "$1/scripts/lib/camera.sh"
work=$(mktemp -d)
camera='' soak=''
trap '[[ -n $camera ]] && kill -9 $camera 2>/dev/null; [[ -n $soak ]] && kill -9 $soak 2>/dev/null
      rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
state=$work/state

# UNIT CONF: the unit's command line into `argv`, its environment into
# `environment`.
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
    line=${line//%i/$instance} line=${line//%S/$state}
    for word in $line; do
        if [[ $word =~ ^\$\{([A-Za-z_0-9]+)\}$ ]]; then
            argv+=("${environment[${BASH_REMATCH[1]}]-}")
        elif [[ $word =~ ^\$([A-Za-z_0-9]+)$ ]]; then
            # shellcheck disable=SC2206 # split at spaces as systemd splits it; noglob is on
            argv+=(${environment[${BASH_REMATCH[1]}]-})
        else
            argv+=("$word")
        fi
    done
    argv[0]=${argv[0]/#\/usr\/bin\/kovra-camd/$build/kovra_sim/kovra-camd}
    argv[0]=${argv[0]/#\/usr\/bin\/ipc_soak/$build/src/ipc_soak}
}
# UNIT CONF DIR: runs it in the background in DIR, its output in the work
# folder under the unit's name.
start() {
    expand "$1" "$2"
    mkdir -p "$3"
    (
        cd "$3"
        for name in "${!environment[@]}"; do export "$name=${environment[$name]}"; done
        export LD_PRELOAD=${LD_PRELOAD:+$build/kovra_sim/libkovra-trace.so}
        exec "${argv[@]}"
    ) >"$work/${1##*/}.out" 2>"$work/${1##*/}.err" &
}

sed "s#^LISTEN=.*#LISTEN=127.0.0.1:0#; s#^OPTIONS=.*#OPTIONS=--port-file $work/port#" \
    "$units/kovra-camd.conf.example" >"$work/camera.conf"
start "$units/kovra-camd@.service" "$work/camera.conf" "$state/kovra-camd/$instance"
camera=$!
# The unit's command line starts it, so the library only waits.
camera_wait 60 $camera "$work/kovra-camd@.service.err" "$work/port" ||
    fail "the camera did not start: $camera_error"

sed "s#^URL=.*#URL=tcp://127.0.0.1:$camera_port#" "$units/ipc-soak.conf.example" >"$work/soak.conf"
start "$units/ipc-soak@.service" "$work/soak.conf" "$state/ipc-soak/$instance"
soak=$!
# SIGTERM once the soak has run a command (its first progress dot), not
# after a fixed time: it draws the example's whole schedule (8 threads of
# 1000000 commands) first, which under a sanitizer on a busy machine can
# outlast any fixed wait.
deadline=$((SECONDS + 180))
until [[ $(head -c 1 "$work/ipc-soak@.service.out" 2>/dev/null) == . ]]; do
    kill -0 $soak 2>/dev/null || break  # a soak that ended early is judged below
    (( SECONDS < deadline )) || fail "the soak ran no command within 180 s"
    sleep 0.05
done
kill -TERM $soak 2>/dev/null || true
deadline=$((SECONDS + 60))
while kill -0 $soak 2>/dev/null; do
    (( SECONDS < deadline )) || fail "the soak did not stop on SIGTERM"
    sleep 0.05
done
status=0
wait $soak || status=$?
soak=''
[[ $status == 0 ]] || fail "the soak exited $status: $(tail -3 "$work/ipc-soak@.service.err")"
"$build/src/ipc_soak" -c 0 | sed -n 's/ pass\/fail\/total .*//p' >"$work/commands"
"$1/scripts/report-whole.sh" "$work/commands" "$work/ipc-soak@.service.out" || fail "its report is not whole"
ran=$(awk '/^Service:/ {split($NF, n, "/"); total += n[3]} END {print total + 0}' "$work/ipc-soak@.service.out")
(( ran > 0 )) || fail "the soak ran no command"

kill -TERM $camera
wait $camera || fail "the camera exited $?"
camera=
requests() { python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["requests"])' "$1"; }
soaked=$(requests "$state/ipc-soak/$instance/stats.json") || fail "no statistics of the soak"
served=$(requests "$state/kovra-camd/$instance/stats.json") || fail "no statistics of the camera"
[[ -s $state/ipc-soak/$instance/timeline.jsonl ]] || fail "no timeline of the soak"
[[ $soaked == "$served" ]] || fail "the soak made $soaked requests, the camera served $served"
echo "ok: $ran commands, $soaked requests, then SIGTERM"
