#!/usr/bin/env bash
# The Kubernetes Job's pod script run as a pod would, against a build:
# index 3 soaks a simulated camera of its own until its DURATION runs out,
# and SIGTERM gives a whole report and both ends' statistics; then index 3
# soaks the fourth camera of a list with seed SEED + 3, the same soak as one
# run by hand.
#
# Usage: pod_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
pod=$1/deploy/kubernetes/soak-camera.sh build=$2
soak=$build/src/ipc_soak
# shellcheck source-path=SCRIPTDIR/../.. source=scripts/lib/camera.sh
. "$1/scripts/lib/camera.sh"
work=$(mktemp -d)
camera='' running=''
# A pod still running is its outer timeout's process group: TERM reaches all of it.
trap '[[ -n $camera ]] && kill -9 $camera 2>/dev/null; [[ -n $running ]] && kill -TERM $running 2>/dev/null &&
      wait $running; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export PATH=$build/src:$build/kovra_sim:$PATH TRACE=$build/kovra_sim/libkovra-trace.so
export CAMERA_LIB=$1/scripts/lib/camera.sh
export JOB_COMPLETION_INDEX=3 RESULTS=$work/results
out=$RESULTS/camera-3
"$soak" -c 0 | sed -n 's/ pass\/fail\/total .*//p' >"$work/commands"

# The pod's timeout counts DURATION with SIGALRM: a DURATION longer than
# the test is made to run out by sending that signal once the soak has run
# a command (its first progress dot), however long a sanitizer's soak takes
# to start, not after a fixed time it may spend before its first command.
# A slow camera keeps the short schedule running until then.
SIM=latency=2000 DURATION=600 THREADS=2 COMMANDS=20000 timeout 120 "$pod" >"$work/pod.log" 2>&1 &
running=$!
until [[ $(head -c 1 "$out/report.txt" 2>/dev/null) == . ]]; do
    if ! kill -0 $running 2>/dev/null; then
        running=''
        tail "$work/pod.log"
        fail "the pod's soak ran no command before it ended or its 120 s did"
    fi
    sleep 0.05
done
duration=$(pgrep -x -P "$(pgrep -P $running)" timeout) || fail "no timeout in the pod"
kill -ALRM "$duration"
status=0
wait $running || status=$?
running=
[[ $status == 0 ]] || { tail "$work/pod.log"; fail "a pod of its own camera exited $status"; }
"$1/scripts/report-whole.sh" "$work/commands" "$out/report.txt" || fail "its report is not whole"
ran=$(awk '/^Service:/ {split($NF, n, "/"); total += n[3]} END {print total + 0}' "$out/report.txt")
(( ran < 2 * 20000 )) || fail "the soak ran its whole schedule: DURATION ended nothing"
[[ -s $out/soak.json && -s $out/soak.jsonl && -s $out/camera.json ]] || fail "statistics missing: $(ls "$out")"
echo "ok: its own camera until its DURATION ran out, $ran commands"

camera_start 60 "$work/camera.err" "$work/port" "$build/kovra_sim/kovra-camd" ||
    fail "kovra-camd did not start: $camera_error"
camera=$camera_pid
printf '# cameras\ntcp://127.0.0.1:1\ntcp://127.0.0.1:1\ntcp://127.0.0.1:1\ntcp://127.0.0.1:%s\n' \
    "$camera_port" >"$work/cameras"
status=0
CAMERAS=$work/cameras SEED=7 THREADS=2 COMMANDS=300 timeout 120 "$pod" >"$work/pod.log" 2>&1 || status=$?
[[ $status == 0 ]] || { tail "$work/pod.log"; fail "a pod of a listed camera exited $status"; }
[[ ! -e $out/camera.json ]] || fail "the pod started a camera of its own"
"$soak" -t 2 -c 300 -s 10 >"$work/by-hand.out"
cmp "$out/report.txt" "$work/by-hand.out" || fail "the pod's soak differs from ipc_soak -t 2 -c 300 -s 10"
echo "ok: the fourth camera of the list, seed 7 + 3"
kill -TERM "$camera"
wait "$camera"
camera=
