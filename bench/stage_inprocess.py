#!/usr/bin/env python3
"""In-process: ipc_soak on the stand-in's embedded camera beside the direct
loop (the same calls without the program's machinery). Instructions and heap
blocks per command (the difference of two runs, so start-up cancels), peak
RSS per scheduled command, and commands per second by thread count, every
configuration once per round in turn. Writes inprocess.json."""
import json
import os
import re

from common import DIRECT, SMOKE, SOAK, WORK, log, median_of, output, peak_rss_of, ratio, run, write

SMALL, LARGE = (200, 400) if SMOKE else (20000, 40000)
RSS_COMMANDS = 20000 if SMOKE else 2000000
TOTAL = 40000 if SMOKE else 4000000
THREADS = [1, 2] if SMOKE else [1, 2, 4, 8]
ROUNDS = 2 if SMOKE else 7
PROGRAMS = {"ipc_soak": SOAK, "direct_loop": DIRECT}


def per_command(tool, name, program, count_of, env=None):
    """What `count_of` reads from `tool`'s output file, per command, from
    runs of SMALL and LARGE commands of `program` at -t 1."""
    counts = []
    for commands in (SMALL, LARGE):
        path = os.path.join(WORK, f"{tool}-{name}-{commands}.out")
        run(["valgrind", f"--tool={tool}", f"--{tool}-out-file={path}",
             program, "-t", "1", "-c", str(commands)], env)
        counts.append(count_of(path))
    return (counts[1] - counts[0]) / (LARGE - SMALL)


def instructions(path):
    with open(path) as f:
        return next(int(l.split()[1]) for l in f if l.startswith("summary:"))


def heap_blocks(path):
    with open(path) as f:
        return sum(pp["tbk"] for pp in json.load(f)["pps"])  # blocks; "tb" is bytes


def same_calls():
    """The direct loop must make ipc_soak's calls, call for call (handle
    numbers aside: the program opens its initiators in another order)."""
    journals = []
    for program in PROGRAMS:
        path = os.path.join(WORK, f"journal-{program}")
        run([PROGRAMS[program], "-t", "1", "-c", "2000"], {"KOVRA_SIM": f"journal={path}"})
        with open(path) as f:
            journals.append([re.sub(r"#\d+", "#", l) for l in f if "_send(" in l or "_free_" in l])
    if journals[0] != journals[1]:
        raise RuntimeError("direct_loop no longer makes ipc_soak's calls")


def main():
    same_calls()
    figures = {"instructions": {}, "heap_blocks": {}, "rss_bytes": {}, "rates": {}}
    for program in PROGRAMS:
        log(f"callgrind and dhat of {program}")
        figures["instructions"][program] = per_command(
            "callgrind", program, PROGRAMS[program], instructions)
        figures["heap_blocks"][program] = per_command(
            "dhat", program, PROGRAMS[program], heap_blocks)
        empty = peak_rss_of([PROGRAMS[program], "-t", "1", "-c", "0"])
        full = peak_rss_of([PROGRAMS[program], "-t", "1", "-c", str(RSS_COMMANDS)])
        figures["rss_bytes"][program] = (full - empty) / RSS_COMMANDS
    rounds = []
    for r in range(ROUNDS + 1):
        log(f"commands per second, round {r} of {ROUNDS} (0 warms up)")
        times = {}
        for t in THREADS:
            for program in PROGRAMS:
                times[f"{program} {t}"] = TOTAL / run(
                    [PROGRAMS[program], "-t", str(t), "-c", str(TOTAL // t)])["wall_s"]
        if r:
            rounds.append(times)
    for key in rounds[0]:
        program, t = key.split()
        figures["rates"][key] = {"per_s": median_of(rounds, key),
                                 "vs_1": ratio(rounds, key, f"{program} 1")}
    figures["rates"]["ipc_soak over direct_loop"] = ratio(rounds, "ipc_soak 1", "direct_loop 1")
    figures["valgrind"] = output(["valgrind", "--version"]).strip()
    write("inprocess", figures)


if __name__ == "__main__":
    main()
