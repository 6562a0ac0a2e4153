#!/usr/bin/env python3
"""Fills docs/performance.md.in from the stages' JSON: every {{name}} in
the template is a figure or a table made here; the words around them are
the template's. Targets come from the environment bench/run.sh sets.

    render.py TEMPLATE WORK_DIR > PAGE"""
import json
import os
import re
import sys

E = os.environ


def rate(x):
    return f"{x / 1e6:.2f} M/s" if x >= 1e6 else f"{x / 1e3:.1f} k/s"


def us(x):
    return f"{x:.0f} us" if x >= 100 else f"{x:.1f} us"


def times(r):
    return f"{r['median']:.2f}x ({r['min']:.2f}-{r['max']:.2f})"


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |",
             "|" + "|".join("---" if i == 0 else "---:" for i in range(len(header))) + "|"]
    return "\n".join(lines + ["| " + " | ".join(str(c) for c in row) + " |" for row in rows])


def main():
    template, work = sys.argv[1], sys.argv[2]
    data = {}
    for stage in ("inprocess", "trace", "tcp", "fleet", "day"):
        path = os.path.join(work, stage + ".json")
        data[stage] = json.load(open(path)) if os.path.exists(path) else None
    f = {k.lower(): v for k, v in E.items() if k.startswith("PAGE_")}  # date, machine, ...
    targets = []  # (measurement, figure, compared with, ratio, target, met)

    def target(what, figure, other, ratio, text, met):
        targets.append((what, figure, other, ratio, text, "met" if met else "**not met**"))

    p = data["inprocess"]
    if p:
        ins, heap, rss = p["instructions"], p["heap_blocks"], p["rss_bytes"]
        target("Instructions per command (callgrind)", f"{ins['ipc_soak']:,.0f}",
               f"direct loop {ins['direct_loop']:,.0f}", "",
               f"<= {E['TARGET_INSTRUCTIONS']}", ins["ipc_soak"] <= float(E["TARGET_INSTRUCTIONS"]))
        added = ins["ipc_soak"] - ins["direct_loop"]
        target("&nbsp;&nbsp;the program's, over the direct loop's", f"{added:,.0f}", "", "",
               f"<= {E['TARGET_PROGRAM_INSTRUCTIONS']}",
               added <= float(E["TARGET_PROGRAM_INSTRUCTIONS"]))
        target("Heap blocks per command (dhat)", f"{heap['ipc_soak']:.2f}",
               f"direct loop {heap['direct_loop']:.2f}", "", f"<= {E['TARGET_HEAP_BLOCKS']}",
               heap["ipc_soak"] <= float(E["TARGET_HEAP_BLOCKS"]))
        target("Peak RSS per scheduled command, -t 1", f"{rss['ipc_soak']:.1f} B",
               f"direct loop {rss['direct_loop']:.1f} B", "", f"<= {E['TARGET_RSS_BYTES']} B",
               rss["ipc_soak"] <= float(E["TARGET_RSS_BYTES"]))
        rates = p["rates"]
        threads = sorted({int(k.split()[1]) for k in rates if k.split()[-1].isdigit()})
        f["rates_table"] = table(
            ["-t", "ipc_soak", "over its -t 1", "direct loop", "over its -t 1"],
            [[t, rate(rates[f"ipc_soak {t}"]["per_s"]), times(rates[f"ipc_soak {t}"]["vs_1"]),
              rate(rates[f"direct_loop {t}"]["per_s"]), times(rates[f"direct_loop {t}"]["vs_1"])]
             for t in threads])
        f["soak_over_direct"] = times(rates["ipc_soak over direct_loop"])
        f["valgrind"] = p["valgrind"]
    t = data["trace"]
    if t:
        f["trace_table"] = table(
            ["KOVRA_TRACE", "instructions per call", "added by the layer", "CPU per call",
             "added by the layer"],
            [[name if name != "without" else "(no layer)", f"{t['instructions'][name]:,.0f}",
              f"{t['instructions'].get(name + ' added', 0):,.0f}", f"{t['ns'][name]:.0f} ns",
              f"{t['ns'].get(name + ' added', 0):.0f} ns"]
             for name in ("without", "off", "stats", "stats+journal")])
        f["trace_calls"] = f"{t['calls_per_command']:.2f}"
        f["trace_off_ns"] = f"{t['ns']['off added']:.0f} ns"
        f["trace_off_instructions"] = f"{t['instructions']['off added']:,.0f}"
        for name, limit in (("off", "TARGET_TRACE_OFF"), ("stats", "TARGET_TRACE_STATS"),
                            ("stats+journal", "TARGET_TRACE_JOURNAL")):
            added = t["instructions"][name + " added"]
            target(f"Instructions the trace layer adds per call, {name}", f"{added:,.0f}", "", "",
                   f"<= {E[limit]}", added <= float(E[limit]))
    c = data["tcp"]
    if c:
        conns = sorted({int(k.split()[1]) for k in c if k.startswith("redis ") and k.endswith(" rps")})
        for n in (n for n in E["TARGET_TCP_CONNECTIONS"].split() if int(n) in conns):
            target(f"Requests per second over TCP, -t {n} / redis -c {n}", rate(c[f"ipc_soak {n} rps"]),
                   f"redis {rate(c[f'redis {n} rps'])}", times(c[f"rps ratio {n}"]),
                   f">= {E['TARGET_TCP_RPS']}x",
                   c[f"rps ratio {n}"]["median"] >= float(E["TARGET_TCP_RPS"]))
            target(f"p99 over TCP, -t {n} / redis -c {n}", us(c[f"ipc_soak {n} p99"]),
                   f"redis {us(c[f'redis {n} p99'])}", times(c[f"p99 ratio {n}"]),
                   f"<= {E['TARGET_TCP_P99']}x",
                   c[f"p99 ratio {n}"]["median"] <= float(E["TARGET_TCP_P99"]))
        target("Requests per second over TCP, -t 1 / raw ping-pong", rate(c["ipc_soak 1 rps"]),
               f"ping-pong {rate(c['pingpong 1 rps'])}", times(c["pingpong ratio 1"]),
               f">= {E['TARGET_PINGPONG']}x",
               c["pingpong ratio 1"]["median"] >= float(E["TARGET_PINGPONG"]))
        switches = c["ipc_soak 1 client voluntary"] + c["ipc_soak 1 client involuntary"]
        target("Client context switches per request, -t 1", f"{switches:.2f}",
               f"redis {c['redis 1 client voluntary'] + c['redis 1 client involuntary']:.2f}", "",
               f"<= {E['TARGET_SWITCHES']}", switches <= float(E["TARGET_SWITCHES"]))
        systems = ("ipc_soak", "redis", "pingpong")
        f["tcp_table"] = table(
            ["Connections"] + [f"{s} {x}" for s in systems for x in ("req/s", "p50", "p99")] +
            ["req/s over redis", "p99 over redis"],
            [[n] + [v for s in systems for v in (rate(c[f"{s} {n} rps"]), us(c[f"{s} {n} p50"]),
                                                  us(c[f"{s} {n} p99"]))] +
             [times(c[f"rps ratio {n}"]), times(c[f"p99 ratio {n}"])] for n in conns])
        f["cost_table"] = table(
            ["Connections"] + [f"{s} {x}" for s in systems[:2] for x in
                               ("client CPU", "client switches", "server CPU", "server switches")],
            [[n] + [v for s in systems[:2] for v in (
                us(c[f"{s} {n} client cpu"] * 1e6),
                f"{c[f'{s} {n} client voluntary']:.2f} + {c[f'{s} {n} client involuntary']:.2f}",
                us(c[f"{s} {n} server cpu"] * 1e6), f"{c[f'{s} {n} server switches']:.2f}")]
             for n in conns])
        names = sorted(set(c["ipc_soak syscalls"]) | set(c["redis syscalls"]),
                       key=lambda k: -c["ipc_soak syscalls"].get(k, 0) - c["redis syscalls"].get(k, 0))
        f["syscall_table"] = table(
            ["Syscall", "ipc_soak -t 1", "redis-benchmark -c 1"],
            [[k, f"{c['ipc_soak syscalls'].get(k, 0):.2f}", f"{c['redis syscalls'].get(k, 0):.2f}"]
             for k in names if max(c["ipc_soak syscalls"].get(k, 0), c["redis syscalls"].get(k, 0)) >= 0.01])
        f["redis"] = c["redis version"]
    g = data["fleet"]
    if g:
        n = g["processes"]
        target(f"{n} ipc_soak processes of -t {g['threads']}: reports whole", f"{g['whole']} of {n}",
               "", "", f"all {n}", g["whole"] == n and g["failed"] == 0)
        target("&nbsp;&nbsp;kovra-camd's peak RSS", f"{g['daemon_rss_bytes'] / 2**20:.1f} MB", "", "",
               f"< {E['TARGET_FLEET_RSS_MB']} MB",
               g["daemon_rss_bytes"] < float(E["TARGET_FLEET_RSS_MB"]) * 2**20)
        f["fleet_table"] = table(
            ["Processes x threads", "requests", "req/s", "p99", "kovra-camd CPU per request",
             "kovra-camd peak RSS"],
            [[f"{n} x {g['threads']}", f"{g['requests']:,}", rate(g["rps"]), us(g["p99_us"]),
              us(g["daemon_cpu_us"]), f"{g['daemon_rss_bytes'] / 2**20:.1f} MB"]])
    d = data["day"]
    if d:
        cap, largest = d["cap_bytes"], d["largest_bytes"]
        over = [n for n, b in largest.items() if n != "journal.1" and b > cap]
        if largest["journal"] + largest["journal.1"] > 2 * cap:
            over.append("journal and journal.1")
        mb = 2**20
        target(f"A capped day of {d['intervals']:,.0f} intervals: files under max_size",
               f"largest {max(largest.values()) / mb:.2f} MB", f"cap {cap / mb:.0f} MB", "",
               "every file", not over)
        target("&nbsp;&nbsp;RSS growth, last quarter over first", f"{d['rss_growth'] / 1024:.0f} KB",
               f"first quarter {d['rss_first_quarter'] / mb:.1f} MB", "",
               f"< {E['TARGET_DAY_RSS_GROWTH_MB']} MB",
               d["rss_growth"] < float(E["TARGET_DAY_RSS_GROWTH_MB"]) * mb)
        w = d["read_whole"]
        for mode in ("timeline", "check"):
            target(f"kovra-stats --{mode}, a day's uncapped timeline ({w['bytes'] / mb:.0f} MB)",
                   f"{w[mode]['seconds']:.1f} s, {w[mode]['peak_bytes'] / mb:.0f} MB", "", "",
                   f"< {E['TARGET_DAY_READ_S']} s, < {E['TARGET_DAY_READ_MB']} MB",
                   w[mode]["seconds"] < float(E["TARGET_DAY_READ_S"])
                   and w[mode]["peak_bytes"] < float(E["TARGET_DAY_READ_MB"]) * mb)
        runs = (("capped, with a journal", d, d["read_capped"]), ("uncapped", d["uncapped"], w))
        f["day_table"] = table(
            ["Run", "intervals", "timeline", "bytes per interval", "--timeline", "--check"],
            [[name, f"{r['intervals']:,.0f}", f"{read['bytes'] / mb:.2f} MB",
              f"{read['bytes'] / max(read['lines'], 1):,.0f}",
              f"{read['timeline']['seconds']:.2f} s, {read['timeline']['peak_bytes'] / mb:.0f} MB",
              f"{read['check']['seconds']:.2f} s, {read['check']['peak_bytes'] / mb:.0f} MB"]
             for name, r, read in runs])
        f["day_files_table"] = table(
            ["File", "largest"], [[n, f"{b / 1024:,.0f} KB"] for n, b in largest.items()])
    met = sum(1 for row in targets if row[-1] == "met")
    f["summary"] = f"{met} of {len(targets)} targets met"
    f["targets_table"] = table(["Measurement", "Figure", "Compared with", "Ratio", "Target", "Met"],
                               targets)
    page = re.sub(r"\{\{(\w+)\}\}", lambda m: f.get(m.group(1), "(not measured in this run)"),
                  open(template).read())
    sys.stdout.write(page)


if __name__ == "__main__":
    main()
