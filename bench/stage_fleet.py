#!/usr/bin/env python3
"""One daemon's scale: many ipc_soak processes of 4 threads each against
one kovra-camd at once. Total requests per second over the fleet's wall
time, p99 over every request (the clients' statistics merged), the daemon's
CPU per request and peak RSS, and whether every report came out whole.
Writes fleet.json."""
import os
import re
import subprocess
import time

from common import (SMOKE, SOAK, STATS, WORK, camera, log, output, peak_rss_bytes, proc_cpu_s,
                    stats_of, write)

PROCESSES = 4 if SMOKE else 64
THREADS = 4
COMMANDS = 100 if SMOKE else 1000  # per thread
TOTALS = re.compile(r"pass/fail/total (\d+)/(\d+)/(\d+)$")


def whole(report, commands):
    """A report is whole when it has a line for every command and its runs
    add up to what was scheduled."""
    lines = [TOTALS.search(l) for l in report.splitlines()]
    runs = [int(m.group(3)) for m in lines if m]
    return len(runs) == commands and sum(runs) == THREADS * COMMANDS


def main():
    commands = sum(1 for l in output([SOAK, "-c", "0"]).splitlines() if TOTALS.search(l))
    camd = camera("--threads", "2")
    try:
        log(f"{PROCESSES} ipc_soak processes of {THREADS} threads against one kovra-camd")
        cpu = proc_cpu_s(camd.pid)
        start = time.monotonic()
        clients = []
        for i in range(PROCESSES):
            env = {**os.environ, "KOVRA_SIM": f"stats={WORK}/fleet-{i}.json"}
            clients.append(subprocess.Popen(
                [SOAK, "-t", str(THREADS), "-c", str(COMMANDS), "-u", f"tcp://127.0.0.1:{camd.port}"],
                env=env, stdout=open(f"{WORK}/fleet-{i}.out", "w"), stderr=subprocess.DEVNULL))
        failed = sum(1 for c in clients if c.wait() != 0)
        wall = time.monotonic() - start
        served_cpu = proc_cpu_s(camd.pid) - cpu
        rss = peak_rss_bytes(camd.pid)
    finally:
        camd.stop()
    merged = os.path.join(WORK, "fleet-merged.json")
    output([STATS, "--merge"] + [f"{WORK}/fleet-{i}.json" for i in range(PROCESSES)] +
           ["-o", merged])
    stats = stats_of(merged)
    write("fleet", {
        "processes": PROCESSES, "threads": THREADS, "commands": COMMANDS,
        "failed": failed,
        "whole": sum(whole(open(f"{WORK}/fleet-{i}.out").read(), commands)
                     for i in range(PROCESSES)),
        "requests": stats["requests"], "rps": stats["requests"] / wall, "wall_s": wall,
        "p99_us": stats["p99_us"], "daemon_cpu_us": served_cpu / stats["requests"] * 1e6,
        "daemon_rss_bytes": rss,
    })


if __name__ == "__main__":
    main()
