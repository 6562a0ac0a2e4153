#!/usr/bin/env python3
"""A day of soak, compressed. A traced soak against kovra-camd runs for as
many timeline intervals as a day has at the default 10 s (8,640), the
interval shortened so that it takes about two minutes, with max_size= on
every file and a journal besides: its resident set and its files' sizes
are sampled as it goes. A second run writes a day's timeline without a
cap. kovra-stats then reads both, --timeline and --check, and its time
and peak memory are taken. Writes day.json."""
import os
import subprocess
import time

from common import SMOKE, SOAK, STATS, TRACE, WORK, camera, log, write

INTERVALS = 400 if SMOKE else 8640
CAP = 2 << 20
CAPPED_S = 0.014  # a day's intervals in two minutes
UNCAPPED_S = 0.010
COMMANDS = 3000000  # per thread: more than two minutes' worth, ended by SIGTERM


def traced_soak(port, folder, interval_s, capped):
    """Runs the soak for INTERVALS intervals and ends it as `timeout` would.
    Samples its RSS and the largest size each file reached."""
    os.makedirs(folder)
    files = {n: os.path.join(folder, n) for n in ("s.json", "t.jsonl", "soak.prom", "journal")}
    directives = (f"stats={files['s.json']};timeline={files['t.jsonl']};"
                  f"prom={files['soak.prom']};interval={interval_s * 1e6:.0f}us")
    if capped:
        directives += f";journal={files['journal']};max_size={CAP}"
    files["journal.1"] = files["journal"] + ".1"
    soak = subprocess.Popen(
        [SOAK, "-t", "4", "-c", str(COMMANDS), "-u", f"tcp://127.0.0.1:{port}"],
        env={**os.environ, "LD_PRELOAD": TRACE, "KOVRA_TRACE": directives},
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seconds = INTERVALS * interval_s
    start, rss, largest = time.monotonic(), [], dict.fromkeys(files, 0)
    while time.monotonic() - start < seconds and soak.poll() is None:
        with open(f"/proc/{soak.pid}/status") as f:
            kb = next(int(line.split()[1]) for line in f if line.startswith("VmRSS"))
        rss.append((time.monotonic() - start, kb * 1024))
        for name, path in files.items():
            if os.path.exists(path):
                largest[name] = max(largest[name], os.path.getsize(path))
        time.sleep(0.25)
    ran = time.monotonic() - start
    if soak.poll() is not None:
        raise RuntimeError(f"the soak ended after {ran:.0f} s, before {INTERVALS} intervals")
    soak.terminate()
    if soak.wait(60) != 0:
        raise RuntimeError(f"the soak exited {soak.returncode} on SIGTERM")
    for name, path in files.items():
        if os.path.exists(path):
            largest[name] = max(largest[name], os.path.getsize(path))
    quarter = ran / 4
    first = max(b for t, b in rss if t < quarter)
    last = max(b for t, b in rss if t >= ran - quarter)
    return files["t.jsonl"], {
        "seconds": ran, "intervals": ran / interval_s, "largest_bytes": largest,
        "rss_first_quarter": first, "rss_last_quarter": last, "rss_growth": last - first}


def read_back(timeline):
    """kovra-stats --timeline and --check over a timeline: seconds and peak bytes."""
    figures = {"bytes": os.path.getsize(timeline), "lines": sum(1 for _ in open(timeline))}
    for name, option in (("timeline", []), ("check", ["--check", "p99 > 10s, degradation > 1000%"])):
        out = os.path.join(WORK, "time.out")
        status = subprocess.run(["/usr/bin/time", "-f", "%e %M", "-o", out, STATS,
                                 "--timeline", timeline, *option],
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if status.returncode not in (0, 1):
            raise RuntimeError(f"kovra-stats --{name} failed: {status.stderr[-2000:]}")
        seconds, kb = open(out).read().split()[-2:]
        figures[name] = {"seconds": float(seconds), "peak_bytes": int(kb) * 1024}
    return figures


def main():
    camd = camera("--threads", "2")
    try:
        log(f"a day of {INTERVALS} intervals of {CAPPED_S * 1e3:.0f} ms, every file capped")
        capped, figures = traced_soak(camd.port, os.path.join(WORK, "day-capped"), CAPPED_S, True)
        figures["cap_bytes"] = CAP
        figures["read_capped"] = read_back(capped)
        log(f"a day of {INTERVALS} intervals of {UNCAPPED_S * 1e3:.0f} ms, no cap")
        whole, uncapped = traced_soak(camd.port, os.path.join(WORK, "day-whole"), UNCAPPED_S,
                                      False)
        figures["uncapped"] = uncapped
        figures["read_whole"] = read_back(whole)
    finally:
        camd.stop()
    write("day", figures)


if __name__ == "__main__":
    main()
