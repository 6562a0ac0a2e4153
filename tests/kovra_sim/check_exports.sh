#!/bin/bash
# The client-library objects export the camera's functions and nothing else;
# libkovra-sim exports the controls control.h declares, and its private
# entry points only under their own version node.
# Usage: check_exports.sh LIBKOVRA_CORE LIBKOVRA_INTERFACES LIBKOVRA_SIM CONTROL_H
set -euo pipefail
defined() { "${NM:-nm}" -D --defined-only "$1" | awk '$2 != "A" {print $3}'; }
fail() { echo "FAIL: $*" >&2; exit 1; }

stray=$(defined "$1" | grep -v '^kovra_core_' || true)
[[ -z $stray ]] || fail "$1 exports $stray"
stray=$(defined "$2" | grep -v '^kovra_api_' || true)
[[ -z $stray ]] || fail "$2 exports $stray"

declared=$(grep -o '\bkovra_sim_[a-z_]*(' "$4" | tr -d '(' | sort -u)
exported=$(defined "$3" | grep '@@KOVRA_SIM_1$' | sed 's/@@.*//' | sort -u)
[[ $declared == "$exported" ]] || fail "controls exported differ from control.h: $(diff <(echo "$declared") <(echo "$exported") | grep '^[<>]')"
stray=$(defined "$3" | grep -v -e '@@KOVRA_SIM_1$' -e '^ksim_[a-z_]*@@KSIM_PRIVATE$' || true)
[[ -z $stray ]] || fail "$3 exports $stray"
echo "ok: $(defined "$1" | wc -l) core, $(defined "$2" | wc -l) interface functions, $(echo "$declared" | wc -l) controls"
