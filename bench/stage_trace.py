#!/usr/bin/env python3
"""The trace layer's cost per client-library call: ipc_soak in-process
without the layer, with it loaded but off (no KOVRA_TRACE: it only
forwards), and on (statistics; statistics and a journal). Instructions per
call from callgrind, and time per call from rounds of timed runs, each the
difference to the run without the layer. Writes trace.json."""
import os

from common import SMOKE, SOAK, TRACE, WORK, log, median_of, soak, stats_of, write
from stage_inprocess import instructions, per_command

COMMANDS = 20000 if SMOKE else 1000000
ROUNDS = 2 if SMOKE else 7
STATS = os.path.join(WORK, "trace-stats.json")
VARIANTS = {
    "without": {},
    "off": {"LD_PRELOAD": TRACE},
    "stats": {"LD_PRELOAD": TRACE, "KOVRA_TRACE": f"stats={STATS}"},
    "stats+journal": {"LD_PRELOAD": TRACE,
                      "KOVRA_TRACE": f"stats={STATS};journal={WORK}/trace-journal"},
}


def main():
    soak(1, COMMANDS, env=VARIANTS["stats"])
    calls = stats_of(STATS)["calls"] / COMMANDS  # a command's client-library calls
    figures = {"calls_per_command": calls, "instructions": {}, "ns": {}}
    for name, env in VARIANTS.items():
        log(f"callgrind, trace layer {name}")
        figures["instructions"][name] = per_command(
            "callgrind", f"trace-{name}", SOAK, instructions, env) / calls
    rounds = []
    for r in range(ROUNDS + 1):
        log(f"trace layer timings, round {r} of {ROUNDS} (0 warms up)")
        times = {name: soak(1, COMMANDS, env=env)["cpu_s"] for name, env in VARIANTS.items()}
        if r:
            rounds.append(times)
    for name in VARIANTS:
        figures["ns"][name] = median_of(rounds, name) / (COMMANDS * calls) * 1e9
    for name in list(VARIANTS)[1:]:
        figures["instructions"][name + " added"] = (
            figures["instructions"][name] - figures["instructions"]["without"])
        figures["ns"][name + " added"] = sorted(
            (r[name] - r["without"]) / (COMMANDS * calls) * 1e9 for r in rounds)[len(rounds) // 2]
    write("trace", figures)


if __name__ == "__main__":
    main()
