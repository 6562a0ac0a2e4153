#!/usr/bin/env bash
# kovra-sim(7) describes every directive of the library's table, as
# kovra-sim-info prints it, and no other: each with its NAME=VALUE on a
# `.B` line and, on the next, `Where:` with the places that take it, in the
# table's order of places. A directive added to the table, or taken at a new
# place, fails this until the page says so.
#
# Usage: check_directive_page.sh PAGE [EMULATOR...] KOVRA_SIM_INFO
set -euo pipefail
page=$1
shift
# "NAME=VALUE PLACE, PLACE." a line, from the table.
table=$(for place in sim daemon post trace; do
    "$@" --directives --for "$place" | awk -v place="$place" '{print $1, place}'
done | sort -s -k1,1 | awk '
    $1 != usage { if (usage != "") print usage, places "."; usage = $1; places = $2; next }
    { places = places ", " $2 }
    END { if (usage != "") print usage, places "." }')
[[ -n $table ]] || { echo "kovra-sim-info printed no directives" >&2; exit 1; }
# The same from the page.
documented=$(awk '
    usage != "" && /^Where: / { sub(/^Where: /, ""); print usage, $0 }
    { usage = "" }
    /^\.B [a-z_]+=/ { usage = substr($0, 4) }' "$page" | sort -s -k1,1)
if [[ $table != "$documented" ]]; then
    echo "$page and the table of directives differ (< table, > page):" >&2
    diff <(echo "$table") <(echo "$documented") >&2 || true
    exit 1
fi
echo "ok: $(wc -l <<<"$table") directives"
