#!/usr/bin/env bash
# Checks that an ipc_soak report is whole: the same command lines, in the
# same order, as a whole report (those a run of no commands prints), pass +
# fail = total on each, and, for a run that was not stopped early, every
# scheduled command counted. Says what is wrong and exits 1 if anything is.
#
# Usage: scripts/report-whole.sh COMMANDS REPORT [TOTAL]
#   COMMANDS  `ipc_soak -c 0 | sed -n 's/ pass\/fail\/total .*//p'`, saved
#   TOTAL     threads times commands per thread
set -euo pipefail
(( $# == 2 || $# == 3 )) || { echo "Usage: $0 COMMANDS REPORT [TOTAL]" >&2; exit 2; }
sed -n 's/ pass\/fail\/total .*//p' "$2" | cmp -s - "$1" || {
    echo "$2: its command lines differ from a whole report's"
    exit 1
}
awk -v want="${3:--1}" -v report="$2" '/^Service:/ {
        split($NF, n, "/")
        if (n[1] + n[2] != n[3]) { print report ": pass + fail != total: " $0; bad = 1; exit 1 }
        total += n[3]
    }
    END {
        if (!bad && want >= 0 && total != want) { print report ": counts " total " commands of " want; exit 1 }
    }' "$2"
