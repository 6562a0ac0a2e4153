#!/usr/bin/env bash
# scripts/fleet.sh against a build: a fleet of N cameras and N soaks comes
# out whole and merged, both ends counting the same, each soak with its own
# seed; and a fleet whose soaks
# are refused, whose report is cut short, or that outlasts its bound fails
# and leaves no process of it running.
#
# Usage: fleet_test.sh SOURCE_DIR BUILD_DIR N
set -euo pipefail
fleet=$1/scripts/fleet.sh build=$2 n=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Nothing of a fleet that wrote into DIR is running: no camera (its port
# file is there) and no soak of one of its cameras. What is left is ended.
nothing_left() {  # DIR
    local pids port
    mapfile -t pids < <(pgrep -f -- "$1/")
    for port in $(cat "$1"/camera-*.port 2>/dev/null || true); do
        mapfile -t -O "${#pids[@]}" pids < <(pgrep -f -- "127\.0\.0\.1:$port( |$)")
    done
    (( ${#pids[@]} == 0 )) && return
    kill -9 "${pids[@]}" 2>/dev/null || true
    fail "processes of $1 still run: ${pids[*]}"
}

status=0
"$fleet" -n "$n" -t 2 -c 200 -T 120 -b "$build" -o "$work/whole" \
    -d 'restart=exposure*2/50;fail=kovra_api_led_get_state_send' >"$work/whole.log" 2>&1 || status=$?
cat "$work/whole.log"
[[ $status == 0 ]] || fail "a healthy fleet exited $status"
# What the soaks counted and what the cameras counted agree.
counts() {  # SIDE
    sed -n "s/^fleet: $1: *\([0-9]* requests, [0-9]* failed calls\).* \([0-9]* announcements\)$/\1, \2/p" \
        "$work/whole.log"
}
[[ $(counts soaks) == "$(counts cameras)" && $(counts soaks) == *" "[1-9]*" failed calls, $((2 * n)) announcements" ]] ||
    fail "the soaks counted '$(counts soaks)', the cameras '$(counts cameras)'"
! cmp -s "$work/whole/soak-0.out" "$work/whole/soak-1.out" || fail "two soaks ran the same schedule"
nothing_left "$work/whole"

# A soak whose output has lost its first command line.
mkdir -p "$work/cut/src"
ln -s "$build/kovra_sim" "$work/cut/kovra_sim"
printf '#!/bin/sh\ncase " $* " in *" -u "*) "%s" "$@" | sed 2d ;; *) exec "%s" "$@" ;; esac\n' \
    "$build/src/ipc_soak" "$build/src/ipc_soak" >"$work/cut/src/ipc_soak"
chmod +x "$work/cut/src/ipc_soak"

# name | expected message | options
while IFS='|' read -r name message options; do
    status=0
    eval "\"\$fleet\" -n 2 -T 120 -o \"\$work/$name\" $options" >"$work/$name.log" 2>&1 || status=$?
    [[ $status == 1 ]] || { cat "$work/$name.log"; fail "$name: exited $status, not 1"; }
    grep -q -- "$message" "$work/$name.log" || { cat "$work/$name.log"; fail "$name: no '$message'"; }
    nothing_left "$work/$name"
    echo "ok: $name: $(tail -1 "$work/$name.log")"
done <<'CASES'
refused|soak 0 exited 1|-b "$build" -d 'fail=kovra_core_ipc_initiator_init'
cut short|soak 0's report is not whole|-b "$work/cut"
too slow|still running after 3s|-b "$build" -d 'latency=20000' -T 3
CASES
