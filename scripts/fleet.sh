#!/usr/bin/env bash
# A fleet on one machine: N simulated cameras (kovra-camd, each on a free
# loopback port with its own statistics file) and N soaks at once, one per
# camera, each with its own seed (SEED + its number). Waits for all of them
# within a bound, checks that every soak exited 0 with a whole report (every
# command's line, pass + fail = total on each, and every scheduled command
# counted), stops the cameras and checks they wrote their statistics, and
# merges the cameras' statistics and the soaks' with kovra-stats --merge.
# Exits non-zero on any failure; whatever way it ends, no process of it is
# left running.
#
# Usage: scripts/fleet.sh [-n CAMERAS] [-t THREADS] [-c COMMANDS] [-s SEED]
#                         [-d DIRECTIVES] [-T SECONDS] [-b BUILD_DIR] [-o OUT_DIR]
#   -n  cameras, and soaks (default 32)
#   -t  threads of each soak (default 4)
#   -c  commands each thread runs (default 1000)
#   -s  seed of camera 0's soak; camera I's soak gets SEED + I (default 1)
#   -d  directives for every camera (kovra-camd --sim), e.g. 'latency=200'
#   -T  bound on the whole run in seconds (default 600)
#   -b  build folder holding src/ipc_soak and kovra_sim/ (default build/default)
#   -o  folder for the results, created if needed (default a new temporary one)
# The results: camera-I.json (a camera's statistics), soak-I.out (a report),
# soak-I.json (what the soak's calls cost, as the trace layer in front of
# the client library measures them), cameras.json and soaks.json (the
# merges), and per camera its .err log.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source-path=SCRIPTDIR source=lib/camera.sh
. "$repo/scripts/lib/camera.sh"
cameras=32 threads=4 commands=1000 seed=1 directives='' limit=600 build=$repo/build/default out=''
usage() { sed -n '/^# Usage/,/^# The results/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2; }
while getopts n:t:c:s:d:T:b:o: option; do
    case $option in
        n) cameras=$OPTARG ;; t) threads=$OPTARG ;; c) commands=$OPTARG ;; s) seed=$OPTARG ;;
        d) directives=$OPTARG ;; T) limit=$OPTARG ;; b) build=$OPTARG ;; o) out=$OPTARG ;;
        *) usage ;;
    esac
done
(( $# == OPTIND - 1 )) || usage
for number in "$cameras" "$threads" "$commands" "$seed" "$limit"; do
    [[ $number =~ ^[0-9]+$ ]] || usage
done
(( cameras > 0 && limit > 0 )) || usage
soak=$build/src/ipc_soak camd=$build/kovra_sim/kovra-camd stats=$build/kovra_sim/kovra-stats
trace=$build/kovra_sim/libkovra-trace.so
for program in "$soak" "$camd" "$stats" "$trace"; do
    [[ -x $program ]] || { echo "fleet: no $program; build it first" >&2; exit 2; }
done
out=${out:-$(mktemp -d -t fleet.XXXXXX)}
mkdir -p "$out"
rm -f "$out"/camera-* "$out"/soak-* "$out"/cameras.json "$out"/soaks.json

daemons=() soaks=()
# Reaped, not only killed: once the script has exited, none of them is left.
stop_all() {
    local pid
    for pid in "${soaks[@]}" "${daemons[@]}"; do
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}
trap stop_all EXIT
trap 'exit 130' INT TERM HUP
fail() { echo "fleet: $*" >&2; exit 1; }
deadline=$((SECONDS + limit))
past_deadline() { (( SECONDS >= deadline )); }
# Waits within the bound for element I of the process list LIST (a soak or a
# camera, named WHAT), takes it off the list the trap kills, and fails unless
# it exited 0, quoting the last line of its ERRORS file.
reap() {
    local -n list=$1
    local i=$2 what=$3 errors=$4 status=0
    while kill -0 "${list[i]}" 2>/dev/null; do
        past_deadline && fail "$what $i still running after ${limit}s"
        sleep 0.05
    done
    wait "${list[i]}" || status=$?
    unset 'list[i]'
    (( status == 0 )) || fail "$what $i exited $status: $(tail -1 "$errors")"
}

# One thread serves a camera's one connection; the machine's cores go to
# the soaks. All start at once, then each is waited for.
for ((i = 0; i < cameras; i++)); do
    camera_launch "$out/camera-$i.err" "$out/camera-$i.port" "$camd" --threads 1 \
        --stats "$out/camera-$i.json" ${directives:+--sim "$directives"}
    daemons+=("$camera_pid")
done
ports=()
for ((i = 0; i < cameras; i++)); do
    status=0
    camera_wait $((deadline > SECONDS ? deadline - SECONDS : 0)) "${daemons[i]}" "$out/camera-$i.err" \
        "$out/camera-$i.port" || status=$?
    case $status in
        0) ports+=("$camera_port") ;;
        1) fail "camera $i did not start: $camera_error" ;;
        *) fail "camera $i did not listen within ${limit}s" ;;
    esac
done

# The command lines a whole report has: those of a run of no commands.
"$soak" -c 0 | sed -n 's/ pass\/fail\/total .*//p' >"$out/commands"
[[ -s $out/commands ]] || fail "$soak printed no command lines"

start_ns=$(date +%s%N)
for ((i = 0; i < cameras; i++)); do
    LD_PRELOAD=$trace KOVRA_TRACE="stats=$out/soak-$i.json" "$soak" -u "tcp://127.0.0.1:${ports[i]}" \
        -t "$threads" -c "$commands" -s $((seed + i)) >"$out/soak-$i.out" 2>"$out/soak-$i.err" &
    soaks+=($!)
done
for ((i = 0; i < cameras; i++)); do
    reap soaks "$i" soak "$out/soak-$i.err"
done
wall_ns=$(( $(date +%s%N) - start_ns ))

for ((i = 0; i < cameras; i++)); do
    "$repo/scripts/report-whole.sh" "$out/commands" "$out/soak-$i.out" $((threads * commands)) >&2 ||
        fail "soak $i's report is not whole"
done

# A camera's high-water mark of resident memory, before it stops.
peak_kb=0 sum_kb=0
for ((i = 0; i < cameras; i++)); do
    kb=$(awk '/^VmHWM:/ {print $2}' "/proc/${daemons[i]}/status" 2>/dev/null) || true
    [[ -n $kb ]] || fail "camera $i is gone: $(tail -1 "$out/camera-$i.err")"
    sum_kb=$((sum_kb + kb))
    peak_kb=$((kb > peak_kb ? kb : peak_kb))
done
kill -TERM "${daemons[@]}"
for ((i = 0; i < cameras; i++)); do
    reap daemons "$i" camera "$out/camera-$i.err"
done

camera_files=() soak_files=()
for ((i = 0; i < cameras; i++)); do
    camera_files+=("$out/camera-$i.json") soak_files+=("$out/soak-$i.json")
done
"$stats" --merge "${camera_files[@]}" -o "$out/cameras.json" || fail "cannot merge the cameras' statistics"
"$stats" --merge "${soak_files[@]}" -o "$out/soaks.json" || fail "cannot merge the soaks' statistics"

echo "fleet: $cameras cameras, $cameras soaks of -t $threads -c $commands, every report whole"
python3 - "$wall_ns" "$SECONDS" "$out/soaks.json" "$out/cameras.json" <<'EOF'
import json, sys
wall, whole = int(sys.argv[1]) / 1e9, sys.argv[2]
merged = [json.load(open(path)) for path in sys.argv[3:]]
print(f"fleet: soaks ran in {wall:.2f} s, {merged[0]['requests'] / wall:.0f} requests/s;"
      f" the whole run in {whole} s")
for name, s in zip(["soaks:  ", "cameras:"], merged):
    failed = sum(n for f in s["functions"].values() for status, n in f["statuses"].items()
                 if status != "0")
    print(f"fleet: {name} {s['requests']} requests, {failed} failed calls,"
          f" p50 {s['p50_us']:.1f} us, p99 {s['p99_us']:.1f} us, p99.9 {s['p999_us']:.1f} us,"
          f" {sum(s['announcements'].values())} announcements")
EOF
echo "fleet: camera memory: peak RSS ${peak_kb} KiB at most, $((sum_kb / 1024)) MiB for all $cameras"
echo "fleet: results in $out"
