#!/usr/bin/env python3
"""Turns the raw results of one bench/run.sh into its table, page and plot data.

    report.py WORK [--markdown OUT --template IN] [--plot-data DIR]

WORK holds what run.sh recorded:
  meta.txt      key=value: machine, date, commit, tool versions, parameters
  figures.txt   key=value: callgrind, dhat and peak-RSS figures
  runs.txt      one line per timed run: group= threads= commands= round= wall_s= ... exit=
  tcp.txt       one line per TCP run: system= conns= round= rps= p99_us=
  unavailable.txt  SYSTEM<tab>REASON for TCP rows that could not be measured
  commands.txt  the command lines run, one per line
Prints the table; writes the page and the plot's data files when asked.
Every ratio between two timed figures is the median of ratios taken round by
round, so that both sides of it ran under the same machine load.
"""
import argparse
import collections
import os
import statistics
import sys

NOT_AVAILABLE = "not available"


def read_pairs(path):
    pairs = {}
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                key, sep, value = line.rstrip("\n").partition("=")
                if sep:
                    pairs[key] = value
    return pairs


def read_records(path):
    records = []
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                fields = dict(item.split("=", 1) for item in line.split() if "=" in item)
                if fields:
                    records.append(fields)
    return records


def number(value, digits=0):
    return f"{value:,.{digits}f}"


def scale_of(value):
    """Divisor, digits and unit that show a rate of this size."""
    if value >= 1e6:
        return 1e6, 2, " M/s"
    if value >= 1e3:
        return 1e3, 1, " k/s"
    return 1.0, 0, "/s"


def rate(value):
    divisor, digits, unit = scale_of(value)
    return f"{value / divisor:.{digits}f}{unit}"


def ratio(value):
    return f"{value:.2f}x"


class Row:
    def __init__(self, measurement, figure, reference="", ratio_text=""):
        self.cells = [measurement, figure, reference, ratio_text]


def figure_rows(figures):
    rows = []

    def get(key):
        return float(figures[key]) if key in figures else None

    for label, key in (("Instructions per command", "total"),
                       ("  of which the program's own", "program"),
                       ("  of which the stand-in's", "standin")):
        ipc, direct = get(f"cg_ipc_soak_{key}"), get(f"cg_direct_loop_{key}")
        if ipc is None:
            rows.append(Row(label + " (callgrind)", NOT_AVAILABLE))
            continue
        rows.append(Row(label + " (callgrind)", number(ipc),
                        f"direct loop {number(direct)}" if direct is not None else "",
                        ratio(ipc / direct) if direct else ""))

    ipc, direct = get("dhat_ipc_soak_blocks"), get("dhat_direct_loop_blocks")
    if ipc is None:
        rows.append(Row("Heap blocks per command (dhat)", NOT_AVAILABLE))
    else:
        rows.append(Row("Heap blocks per command (dhat)", number(ipc, 2),
                        f"direct loop {number(direct, 2)}" if direct is not None else "",
                        ratio(ipc / direct) if direct else ""))

    ipc, direct = get("rss_ipc_soak_bytes"), get("rss_direct_loop_bytes")
    target = float(figures.get("rss_target_bytes", "8"))
    if ipc is None:
        rows.append(Row("Peak RSS per scheduled command, -t 1", NOT_AVAILABLE))
    else:
        rows.append(Row("Peak RSS per scheduled command, -t 1", f"{ipc:.1f} B",
                        f"target <= {target:g} B", ratio(ipc / target)))
        if direct is not None:
            rows.append(Row("  direct loop (its schedule alone)", f"{direct:.1f} B",
                            f"ipc_soak {ipc:.1f} B", ratio(direct / ipc) if ipc else ""))
    return rows


def throughput(runs):
    """rates[group][threads] = {round: commands per second}."""
    rates = collections.defaultdict(lambda: collections.defaultdict(dict))
    for run in runs:
        if run.get("exit") != "0":
            continue
        total = int(run["threads"]) * int(run["commands"])
        rates[run["group"]][int(run["threads"])][run["round"]] = total / float(run["wall_s"])
    return rates


def paired(a, b):
    """Median of a[r] / b[r] over the rounds both have."""
    common = sorted(set(a) & set(b))
    return statistics.median(a[r] / b[r] for r in common) if common else None


def spread(samples):
    """Median with the range, in the median's unit: "2.69 M/s (2.56-2.78)"."""
    values = sorted(samples.values())
    if not values:
        return NOT_AVAILABLE
    middle = statistics.median(values)
    divisor, digits, _ = scale_of(middle)
    return f"{rate(middle)} ({values[0] / divisor:.{digits}f}-{values[-1] / divisor:.{digits}f})"


def throughput_rows(rates, min_scaling):
    rows = []
    soak, direct = rates.get("ipc_soak", {}), rates.get("direct_loop", {})
    base = soak.get(1, {})
    for threads in sorted(soak):
        label = f"Commands per second, -t {threads}"
        if threads == 1:
            rows.append(Row(label, spread(soak[1]), "-t 1", ratio(1.0)))
        else:
            target = f"target >= {min_scaling:g}x -t 1" if threads == 2 else "-t 1"
            scaling = paired(soak[threads], base)
            rows.append(Row(label, spread(soak[threads]), target,
                            ratio(scaling) if scaling is not None else ""))
    # The direct loop at -t 1 against ipc_soak, and how the limit itself
    # scales: ipc_soak cannot scale better than the calls it makes.
    for threads in sorted(direct):
        if threads == 1:
            reference, value = "ipc_soak -t 1 / this", paired(soak.get(1, {}), direct[1])
        else:
            reference, value = "direct loop -t 1", paired(direct[threads], direct.get(1, {}))
        rows.append(Row(f"  direct loop, -t {threads}", spread(direct[threads]), reference,
                        ratio(value) if value is not None else ""))
    return rows


def read_unavailable(path):
    reasons = {}
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                system, _, reason = line.rstrip("\n").partition("\t")
                reasons.setdefault(system, reason)
    return reasons


def tcp_results(records):
    """results[system][conns] = (median rps, median p99 in us)."""
    samples = collections.defaultdict(lambda: collections.defaultdict(list))
    for record in records:
        p99 = float(record["p99_us"]) if record.get("p99_us") not in (None, "", "na") else None
        samples[record["system"]][int(record["conns"])].append((float(record["rps"]), p99))
    results = collections.defaultdict(dict)
    for system, by_conns in samples.items():
        for conns, values in by_conns.items():
            p99s = [p for _, p in values if p is not None]
            results[system][conns] = (statistics.median(r for r, _ in values),
                                      statistics.median(p99s) if p99s else None)
    return results


TCP_SYSTEMS = (("pingpong", "Loopback ping-pong (the limit), {n} conn"),
               ("redis", "redis-benchmark PING, -c {n}"),
               ("ipc_soak_tcp", "ipc_soak -u tcp://, -t {n}"))


def tcp_rows(results, unavailable, conns):
    rows = []
    for system, label in TCP_SYSTEMS:
        if system in unavailable and not results.get(system):
            rows.append(Row(label.format(n="N"), f"{NOT_AVAILABLE}: {unavailable[system]}"))
            continue
        for n in conns:
            got = results.get(system, {}).get(n)
            if got is None:
                rows.append(Row(label.format(n=n), NOT_AVAILABLE))
                continue
            p99 = f"p99 {got[1]:.0f} us" if got[1] is not None else "p99 not measured"
            figure = f"{rate(got[0])}, {p99}"
            reference, against = "", ""
            if system == "redis":
                limit = results.get("pingpong", {}).get(n)
                reference = "ping-pong / this"
                against = ratio(limit[0] / got[0]) if limit else ""
            elif system == "ipc_soak_tcp":
                redis = results.get("redis", {}).get(n)
                reference = "redis / this"
                against = ratio(redis[0] / got[0]) if redis else ""
            rows.append(Row(label.format(n=n), figure, reference, against))
    return rows


HEADER = ["Measurement", "Figure", "Reference / target", "Ratio"]


def text_table(rows):
    widths = [max(len(r.cells[i]) for r in rows + [Row(*HEADER)]) for i in range(4)]
    lines = ["  ".join(h.ljust(w) for h, w in zip(HEADER, widths)),
             "  ".join("-" * w for w in widths)]
    lines += ["  ".join(c.ljust(w) for c, w in zip(r.cells, widths)).rstrip() for r in rows]
    return "\n".join(lines)


def markdown_table(rows):
    lines = ["| " + " | ".join(HEADER) + " |", "|---|---:|---|---:|"]
    for r in rows:
        cells = [c.replace("  ", "&nbsp;&nbsp;", 1) if c.startswith("  ") else c for c in r.cells]
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def write_plot_data(directory, rates, results):
    os.makedirs(directory, exist_ok=True)
    for group, by_threads in rates.items():
        with open(os.path.join(directory, f"inproc_{group}.dat"), "w") as f:
            f.write("# threads median min max (commands per second)\n")
            for threads in sorted(by_threads):
                values = sorted(by_threads[threads].values())
                f.write(f"{threads} {statistics.median(values):.1f} {values[0]:.1f} {values[-1]:.1f}\n")
    for system, _ in TCP_SYSTEMS:
        with open(os.path.join(directory, f"tcp_{system}.dat"), "w") as f:
            f.write("# connections median_rps p99_us\n")
            for conns in sorted(results.get(system, {})):
                rps, p99 = results[system][conns]
                f.write(f"{conns} {rps:.1f} {p99 if p99 is not None else 'NaN'}\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("work")
    parser.add_argument("--markdown")
    parser.add_argument("--template")
    parser.add_argument("--plot-data")
    args = parser.parse_args()

    meta = read_pairs(os.path.join(args.work, "meta.txt"))
    figures = read_pairs(os.path.join(args.work, "figures.txt"))
    rates = throughput(read_records(os.path.join(args.work, "runs.txt")))
    results = tcp_results(read_records(os.path.join(args.work, "tcp.txt")))
    unavailable = read_unavailable(os.path.join(args.work, "unavailable.txt"))
    conns = [int(n) for n in meta.get("tcp_conns", "").split()]

    rows = figure_rows(figures)
    rows += throughput_rows(rates, float(meta.get("min_scaling", "1.6")))
    rows += tcp_rows(results, unavailable, conns)
    print(text_table(rows))

    if args.plot_data:
        write_plot_data(args.plot_data, rates, results)
    if args.markdown:
        with open(args.template) as f:
            page = f.read()
        with open(os.path.join(args.work, "commands.txt")) as f:
            commands = "".join(dict.fromkeys(f.readlines()))
        values = dict(meta, table=markdown_table(rows), commands=commands.rstrip("\n"))
        for key, value in values.items():
            page = page.replace("{{" + key + "}}", value)
        with open(args.markdown, "w") as f:
            f.write(page)


if __name__ == "__main__":
    sys.exit(main())
