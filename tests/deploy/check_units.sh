#!/usr/bin/env bash
# systemd-analyze verify on every unit the packages install, with the
# programs they start taken from the build and the soak's script from the
# source (verify refuses a unit whose program is missing). Fails on any
# word of it: it exits 0 on a key it does not know. Exit 77 (skipped) where
# systemd-analyze is missing.
#
# Usage: check_units.sh SOURCE_DIR KOVRA_CAMD IPC_SOAK
set -euo pipefail
command -v systemd-analyze >/dev/null || { echo "no systemd-analyze: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for unit in "$1"/deploy/systemd/*.service "$1"/kovra_sim/daemon/kovra-camd.service; do
    sed "s#/usr/bin/kovra-camd #$2 #; s#/usr/bin/ipc_soak #$3 #;
         s#/usr/lib/ipc-soak/soak-runs #$1/deploy/systemd/soak-runs #" "$unit" >"$work/${unit##*/}"
done
cd "$work"
status=0
said=$(systemd-analyze verify --man=no ./*.service 2>&1) || status=$?
[[ $status == 0 && -z $said ]] || { echo "$said"; echo "systemd-analyze verify: $status" >&2; exit 1; }
echo "ok: $(ls)"
