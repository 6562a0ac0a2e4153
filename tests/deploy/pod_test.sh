#!/usr/bin/env bash
# The Kubernetes Job's pod script run as a pod would, against a build:
# index 3 soaks a simulated camera of its own for its DURATION, and SIGTERM
# gives a whole report and both ends' statistics; then index 3 soaks the
# fourth camera of a list with seed SEED + 3, the same soak as one run by
# hand.
#
# Usage: pod_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
pod=$1/deploy/kubernetes/soak-camera.sh build=$2
soak=$build/src/ipc_soak
work=$(mktemp -d)
camera=
trap '[[ -n $camera ]] && kill -9 $camera 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export PATH=$build/src:$build/kovra_sim:$PATH TRACE=$build/kovra_sim/libkovra-trace.so
export JOB_COMPLETION_INDEX=3 RESULTS=$work/results
out=$RESULTS/camera-3
"$soak" -c 0 | sed -n 's/ pass\/fail\/total .*//p' >"$work/commands"

status=0
# A slow camera keeps a short schedule running past DURATION: a long one
# would still be drawn, under a sanitizer, when SIGTERM comes.
SIM=latency=2000 DURATION=2 THREADS=2 COMMANDS=20000 timeout 120 "$pod" >"$work/pod.log" 2>&1 || status=$?
[[ $status == 0 ]] || { tail "$work/pod.log"; fail "a pod of its own camera exited $status"; }
"$1/scripts/report-whole.sh" "$work/commands" "$out/report.txt" || fail "its report is not whole"
[[ -s $out/soak.json && -s $out/soak.jsonl && -s $out/camera.json ]] || fail "statistics missing: $(ls "$out")"
echo "ok: its own camera for 2 s"

"$build/kovra_sim/kovra-camd" --listen 127.0.0.1:0 --port-file "$work/port" 2>"$work/camera.err" &
camera=$!
for _ in $(seq 100); do [[ -s $work/port ]] && break; sleep 0.1; done
[[ -s $work/port ]] || fail "kovra-camd did not start: $(cat "$work/camera.err")"
printf '# cameras\ntcp://127.0.0.1:1\ntcp://127.0.0.1:1\ntcp://127.0.0.1:1\ntcp://127.0.0.1:%s\n' \
    "$(cat "$work/port")" >"$work/cameras"
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
