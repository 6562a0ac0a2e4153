#!/bin/sh
# One pod of the fleet Job: soaks camera number JOB_COMPLETION_INDEX for
# DURATION seconds at most (SIGTERM then ends it with its report) and keeps
# the report and the statistics in RESULTS/camera-INDEX. The camera is line
# INDEX + 1 of the file CAMERAS (one URL a line, # for a comment); without one, a simulated
# camera runs in the pod beside the soak. The seed is SEED + INDEX.
set -eu
# Starting the camera: scripts/lib/camera.sh, which the kovra-sim package
# installs; CAMERA_LIB names another copy.
# shellcheck source-path=SCRIPTDIR/../.. source=scripts/lib/camera.sh
. "${CAMERA_LIB:-/usr/share/kovra-sim/camera.sh}"
index=${JOB_COMPLETION_INDEX:?not run by an Indexed Job}
out=${RESULTS:-/results}/camera-$index
trace=${TRACE:-/usr/lib/kovra-trace/libkovra-trace.so}
mkdir -p "$out"
rm -f "$out"/*

url=
if [ -n "${CAMERAS:-}" ] && [ -f "$CAMERAS" ]; then
    url=$(grep -v '^#' "$CAMERAS" | sed -n "$((index + 1))p")
fi
camera=
if [ -z "$url" ]; then
    # Well inside the Job's activeDeadlineSeconds.
    camera_start 120 "$out/camera.err" "$out/camera.port" kovra-camd --threads 1 \
        --stats "$out/camera.json" ${SIM:+--sim "$SIM"} || { cat "$out/camera.err" >&2; exit 1; }
    camera=$camera_pid
    url=tcp://127.0.0.1:$camera_port
fi

# Only the soak gets the trace layer: in front of timeout it would write
# statistics of its own. --foreground: timeout signals the soak alone, once;
# otherwise it signals its process group too, and a soak that has handled
# the first SIGTERM takes the second for "stop now" and ends without its
# report.
status=0
timeout --foreground -s TERM "${DURATION:-600}" env LD_PRELOAD="$trace" \
    KOVRA_TRACE="stats=$out/soak.json;timeline=$out/soak.jsonl" \
    ipc_soak -u "$url" -t "${THREADS:-8}" -c "${COMMANDS:-100000}" -s $((${SEED:-1} + index)) \
    >"$out/report.txt" 2>"$out/soak.err" || status=$?
cat "$out/report.txt" "$out/soak.err"
if [ -n "$camera" ]; then
    kill -TERM "$camera"
    wait "$camera"
fi
# 124: the soak ran its full length, and reported on SIGTERM.
[ "$status" -eq 0 ] || [ "$status" -eq 124 ]
