#!/usr/bin/env python3
"""Turns the raw results of one bench/run.sh into its tables, page and plot data.

    report.py WORK [--markdown OUT --template IN] [--plot-data DIR]

WORK holds what run.sh recorded:
  meta.txt         key=value: machine, date, commit, tool versions, parameters
  figures.txt      key=value: callgrind, dhat and peak-RSS figures, and the targets
  runs.txt         one line per timed in-process run: group= threads= commands= round= wall_s= ... exit=
  perfstat.txt     one line per perf stat run: group= threads= round= commands= task_ms= cpus=
  perf-report-NAME.txt  perf report of NAME at -t 2
  cg-top-NAME.tsv  callgrind: instructions per command, object, function
  dhat-top-NAME.tsv     dhat: blocks and bytes per command, file:line, function
  tcp.txt          one line per TCP run: system= conns= round= requests= rps= p50_us= p99_us=
                   client_cpu_s= server_cpu_s=
  trace.txt, strace-SYSTEM-SIZE.txt  strace -f -c of the clients at one connection
  unavailable.txt  WHAT<tab>REASON for what could not be measured
  commands.txt     the command lines run, one per line
Prints the tables and the "What bounds it" section; writes the page and the
plot's data files when asked. Every ratio between two timed figures is the
median of ratios taken round by round, so that both sides of it ran under the
same machine load.
"""
import argparse
import collections
import os
import re
import statistics
import sys

NOT_AVAILABLE = "not available"


# ---------------------------------------------------------------- reading

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


def read_tsv(path):
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [line.rstrip("\n").split("\t") for line in f if line.strip()]


def read_unavailable(path):
    reasons = {}
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                system, _, reason = line.rstrip("\n").partition("\t")
                reasons.setdefault(system, reason)
    return reasons


def as_float(value):
    try:
        return float(value)
    except (TypeError, ValueError):
        return None


# ---------------------------------------------------------------- formatting

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


def ratio_spread(values):
    """Median ratio with its range over the rounds: "0.96x (0.90-1.02)"."""
    if not values:
        return ""
    values = sorted(values)
    middle = statistics.median(values)
    if len(values) == 1:
        return ratio(middle)
    return f"{ratio(middle)} ({values[0]:.2f}-{values[-1]:.2f})"


def micros(value):
    return "n/a" if value is None else (f"{value:.0f} us" if value >= 10 else f"{value:.1f} us")


def short_symbol(name):
    """A C++ symbol without template arguments, parameters or return type."""
    text = name.replace("(anonymous namespace)", "{anon}")
    previous = None
    while previous != text:
        previous = text
        text = re.sub(r"<[^<>]*>", "", text)
    text = re.sub(r"\(.*$", "", text).strip()
    if " " in text and "operator" not in text:
        text = text.split()[-1]
    return text.replace("{anon}", "(anonymous namespace)")


# ---------------------------------------------------------------- rows

class Row:
    def __init__(self, measurement, figure, against="", ratio_text="", target="", met=""):
        self.cells = [measurement, figure, against, ratio_text, target, met]


def verdict(value, target, at_most):
    if value is None:
        return "not measured"
    return "met" if (value <= target if at_most else value >= target) else "not met"


class Verdicts:
    """Every target's outcome, for the bounds section."""

    def __init__(self):
        self.items = collections.OrderedDict()

    def add(self, key, value, target, at_most):
        result = verdict(value, target, at_most)
        self.items[key] = (result, value, target)
        return result

    def missed(self, key):
        return self.items.get(key, ("",))[0] == "not met"


def figure_rows(figures, verdicts):
    rows = []

    def get(key):
        return as_float(figures.get(key))

    targets = {"total": get("target_instructions"), "program": get("target_program_instructions")}
    for label, key in (("Instructions per command (callgrind)", "total"),
                       ("&nbsp;&nbsp;of which the program's own", "program"),
                       ("&nbsp;&nbsp;of which the stand-in's", "standin")):
        ipc, direct = get(f"cg_ipc_soak_{key}"), get(f"cg_direct_loop_{key}")
        target = targets.get(key)
        target_text = f"<= {number(target)}" if target is not None else ""
        met = verdicts.add(f"instructions_{key}", ipc, target, True) if target is not None else ""
        if ipc is None:
            rows.append(Row(label, NOT_AVAILABLE, "", "", target_text, met))
            continue
        rows.append(Row(label, number(ipc),
                        f"direct loop {number(direct)}" if direct is not None else "",
                        ratio(ipc / direct) if direct else "", target_text, met))

    ipc, direct, target = get("dhat_ipc_soak_blocks"), get("dhat_direct_loop_blocks"), get("target_heap_blocks")
    met = verdicts.add("heap_blocks", ipc, target, True)
    rows.append(Row("Heap blocks per command (dhat)", NOT_AVAILABLE if ipc is None else number(ipc, 2),
                    f"direct loop {number(direct, 2)}" if direct is not None else "",
                    ratio(ipc / direct) if ipc is not None and direct else "",
                    f"<= {target:g}", met))

    ipc, direct, target = get("rss_ipc_soak_bytes"), get("rss_direct_loop_bytes"), get("rss_target_bytes")
    met = verdicts.add("rss", ipc, target, True)
    rows.append(Row("Peak RSS per scheduled command, -t 1", NOT_AVAILABLE if ipc is None else f"{ipc:.1f} B",
                    f"direct loop {direct:.1f} B" if direct is not None else "",
                    ratio(ipc / direct) if ipc is not None and direct else "",
                    f"<= {target:g} B", met))
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


def paired_ratios(a, b):
    """a[r] / b[r] for every round both have."""
    return [a[r] / b[r] for r in sorted(set(a) & set(b)) if b[r]]


def spread(samples):
    """Median with the range, in the median's unit: "2.69 M/s (2.56-2.78)"."""
    values = sorted(samples.values())
    if not values:
        return NOT_AVAILABLE
    middle = statistics.median(values)
    divisor, digits, _ = scale_of(middle)
    return f"{rate(middle)} ({values[0] / divisor:.{digits}f}-{values[-1] / divisor:.{digits}f})"


def throughput_rows(rates, min_scaling, verdicts):
    rows = []
    soak, direct = rates.get("ipc_soak", {}), rates.get("direct_loop", {})
    base = soak.get(1, {})
    for threads in sorted(soak):
        label = f"Commands per second, -t {threads}"
        if threads == 1:
            rows.append(Row(label, spread(soak[1])))
            continue
        ratios = paired_ratios(soak[threads], base)
        if threads == 2:
            met = verdicts.add("scaling", statistics.median(ratios) if ratios else None, min_scaling, False)
            rows.append(Row(label, spread(soak[2]), "-t 1", ratio_spread(ratios),
                            f"ratio >= {min_scaling:.1f}x", met))
        else:
            rows.append(Row(label, spread(soak[threads]), "-t 1", ratio_spread(ratios)))
    # The direct loop at -t 1 against ipc_soak, and how the limit itself
    # scales: ipc_soak cannot scale better than the calls it makes.
    for threads in sorted(direct):
        if threads == 1:
            against, ratios = "ipc_soak -t 1 / this", paired_ratios(soak.get(1, {}), direct[1])
        else:
            against, ratios = "direct loop -t 1", paired_ratios(direct[threads], direct.get(1, {}))
        rows.append(Row(f"&nbsp;&nbsp;direct loop, -t {threads}", spread(direct[threads]), against,
                        ratio_spread(ratios)))
    return rows


# ---------------------------------------------------------------- TCP

TCP_SYSTEMS = ("ipc_soak_tcp", "redis", "pingpong")
TCP_NAMES = {"ipc_soak_tcp": "ipc_soak", "redis": "redis", "pingpong": "ping-pong"}


class Tcp:
    """TCP runs by system, connections and round."""

    def __init__(self, records):
        self.runs = collections.defaultdict(lambda: collections.defaultdict(dict))
        for record in records:
            self.runs[record["system"]][int(record["conns"])][record["round"]] = record

    def values(self, system, conns, key):
        return {r: as_float(rec.get(key)) for r, rec in self.runs.get(system, {}).get(conns, {}).items()
                if as_float(rec.get(key)) is not None}

    def median(self, system, conns, key):
        values = list(self.values(system, conns, key).values())
        return statistics.median(values) if values else None

    def per_request_us(self, system, conns, key):
        """Median over rounds of a CPU time per request, in microseconds."""
        seconds = self.per_request(system, conns, key)
        return None if seconds is None else seconds * 1e6

    def per_request(self, system, conns, key):
        """Median over rounds of a count per request."""
        values = []
        for rec in self.runs.get(system, {}).get(conns, {}).values():
            count, requests = as_float(rec.get(key)), as_float(rec.get("requests"))
            if count is not None and requests:
                values.append(count / requests)
        return statistics.median(values) if values else None

    def ratios(self, conns, key):
        return paired_ratios(self.values("ipc_soak_tcp", conns, key), self.values("redis", conns, key))


def tcp_target_rows(tcp, unavailable, target_conns, rps_target, p99_target, verdicts):
    rows = []
    for n in target_conns:
        for key, label, target, at_most in (("rps", "Requests per second over TCP", rps_target, False),
                                            ("p99_us", "p99 latency over TCP", p99_target, True)):
            name = f"{label}, ipc_soak -t {n} / redis -c {n}"
            ipc, redis = tcp.median("ipc_soak_tcp", n, key), tcp.median("redis", n, key)
            ratios = tcp.ratios(n, key)
            value = statistics.median(ratios) if ratios else None
            met = verdicts.add(f"tcp_{key}_{n}", value, target, at_most)
            show = rate if key == "rps" else micros
            if ipc is None:
                why = unavailable.get("ipc_soak_tcp")
                figure = f"{NOT_AVAILABLE}: {why}" if why else NOT_AVAILABLE
            else:
                figure = show(ipc)
            rows.append(Row(name, figure, f"redis {show(redis)}" if redis is not None else "redis n/a",
                            ratio_spread(ratios), f"ratio {'<=' if at_most else '>='} {target:.1f}x", met))
    return rows


def tcp_table(tcp, conns, markdown=True):
    header = ["Connections"]
    for system in TCP_SYSTEMS:
        header += [f"{TCP_NAMES[system]} req/s", "p50", "p99"]
    header += ["ipc_soak / redis, req/s", "ipc_soak / redis, p99"]
    lines = []
    for n in conns:
        cells = [str(n)]
        for system in TCP_SYSTEMS:
            rps = tcp.median(system, n, "rps")
            cells += [rate(rps) if rps is not None else "n/a",
                      micros(tcp.median(system, n, "p50_us")), micros(tcp.median(system, n, "p99_us"))]
        cells += [ratio_spread(tcp.ratios(n, "rps")) or "n/a", ratio_spread(tcp.ratios(n, "p99_us")) or "n/a"]
        lines.append(cells)
    return render(header, lines, markdown, align="-" + "r" * (len(header) - 1))


def cpu_table(tcp, conns, cores):
    """CPU microseconds per request, client and server, and the rate two
    cores could carry at that cost."""
    header = ["Connections"]
    for system in TCP_SYSTEMS:
        header += [f"{TCP_NAMES[system]} client", "server", f"{cores} cores allow"]
    lines = []
    for n in conns:
        cells = [str(n)]
        for system in TCP_SYSTEMS:
            client = tcp.per_request_us(system, n, "client_cpu_s")
            server = tcp.per_request_us(system, n, "server_cpu_s")
            both = (client or 0) + (server or 0)
            cells += [micros(client), micros(server),
                      rate(cores * 1e6 / both) if client is not None and server is not None and both else "n/a"]
        lines.append(cells)
    return render(header, lines, True, align="-" + "r" * (len(header) - 1))


# ---------------------------------------------------------------- tables

HEADER = ["Measurement", "Figure", "Compared with", "Ratio", "Target", "Met"]


def render(header, lines, markdown, align=None):
    if markdown:
        align = align or "-" * len(header)
        marks = ["---:" if a == "r" else "---" for a in align]
        out = ["| " + " | ".join(header) + " |", "|" + "|".join(marks) + "|"]
        out += ["| " + " | ".join(cells) + " |" for cells in lines]
        return "\n".join(out)
    lines = [[c.replace("&nbsp;", " ") for c in cells] for cells in lines]
    widths = [max(len(r[i]) for r in lines + [header]) for i in range(len(header))]
    out = ["  ".join(h.ljust(w) for h, w in zip(header, widths)),
           "  ".join("-" * w for w in widths)]
    out += ["  ".join(c.ljust(w) for c, w in zip(cells, widths)).rstrip() for cells in lines]
    return "\n".join(out)


def main_table(rows, markdown=True):
    return render(HEADER, [r.cells for r in rows], markdown, align="-r-r--")


# ---------------------------------------------------------------- what bounds it

def perf_top(path):
    """(samples line, [(percent, object, kernel?, symbol)]) from perf report --stdio."""
    if not os.path.exists(path):
        return "", []
    head, rows = "", []
    line_re = re.compile(r"^\s*([\d.]+)%\s+(\S+)\s+\[(.)\]\s+(.*?)(?:\s+-\s+-)?\s*$")
    with open(path) as f:
        for line in f:
            if line.startswith("# Samples"):
                head = line[1:].strip()
            m = line_re.match(line)
            if m:
                rows.append((float(m.group(1)), m.group(2), m.group(3) == "k", m.group(4)))
    return head, rows


LOCK_SYMBOLS = re.compile(r"mutex|futex|lll_lock|lll_unlock|spin_lock|__lll_", re.I)


def perf_shares(rows):
    kernel = sum(p for p, _, k, _ in rows if k)
    locks = sum(p for p, _, k, s in rows if LOCK_SYMBOLS.search(s))
    return kernel, locks


def strace_calls(path):
    """{syscall: (calls, errors)} from strace -c's summary."""
    calls = {}
    if not os.path.exists(path):
        return calls
    with open(path) as f:
        for line in f:
            fields = line.split()
            if len(fields) < 5 or not re.match(r"^[\d.]+$", fields[0]) or fields[-1] == "total":
                continue
            # % time, seconds, usecs/call, calls, [errors,] syscall
            numbers = fields[1:-1]
            count = int(numbers[2]) if len(numbers) >= 3 else 0
            errors = int(numbers[3]) if len(numbers) >= 4 else 0
            calls[fields[-1]] = (count, errors)
    return calls


def per_request_syscalls(work, system):
    """{syscall: (calls, errors) per request}, small and large run differenced."""
    sizes = [r for r in read_records(os.path.join(work, "trace.txt")) if r.get("system") == system]
    if len(sizes) < 2:
        return None
    sizes.sort(key=lambda r: int(r["requests"]))
    small, large = sizes[0], sizes[-1]
    delta = int(large["requests"]) - int(small["requests"])
    a = strace_calls(os.path.join(work, f"strace-{system}-{small['size']}.txt"))
    b = strace_calls(os.path.join(work, f"strace-{system}-{large['size']}.txt"))
    if not a or not b or delta <= 0:
        return None
    out = {}
    for name in set(a) | set(b):
        ca, ea = a.get(name, (0, 0))
        cb, eb = b.get(name, (0, 0))
        out[name] = ((cb - ca) / delta, (eb - ea) / delta)
    return out, delta


def perfstat(work):
    """stats[group][threads] = dict of medians: cpus, ns (CPU per command),
    switches and faults (per run)."""
    samples = collections.defaultdict(lambda: collections.defaultdict(list))
    for rec in read_records(os.path.join(work, "perfstat.txt")):
        samples[rec["group"]][int(rec["threads"])].append(
            {"cpus": float(rec["cpus"]), "ns": float(rec["task_ms"]) * 1e6 / float(rec["commands"]),
             "switches": as_float(rec.get("switches")), "faults": as_float(rec.get("faults"))})
    out = collections.defaultdict(dict)
    for group, by_threads in samples.items():
        for threads, values in by_threads.items():
            out[group][threads] = {
                key: statistics.median(v[key] for v in values) if all(v[key] is not None for v in values)
                else None for key in ("cpus", "ns", "switches", "faults")}
    return out


GROUP_NAMES = {"ipc_soak": "ipc_soak", "direct_loop": "direct loop"}


def code_block(lines):
    return "```\n" + "\n".join(lines) + "\n```"


def perf_excerpt(head, rows):
    lines = [head] if head else []
    for percent, obj, kernel, symbol in rows:
        lines.append(f"{percent:6.2f}%  {obj:<24} {'[k]' if kernel else '[.]'} {short_symbol(symbol)}")
    return code_block(lines)


def span(values, show):
    values = [v for v in values if v is not None]
    if not values:
        return "n/a"
    low, high = min(values), max(values)
    return show(low) if show(low) == show(high) else f"{show(low)} to {show(high)}"


def cpu_sentences(tcp, conns, cores):
    out = []
    client = lambda system: [tcp.per_request_us(system, n, "client_cpu_s") for n in conns]
    server = lambda system: [tcp.per_request_us(system, n, "server_cpu_s") for n in conns]
    out.append(f"Over 1 to {conns[-1]} connections ipc_soak's client spent {span(client('ipc_soak_tcp'), micros)} "
               f"of CPU per request against redis-benchmark's {span(client('redis'), micros)}, and kovra-camd "
               f"{span(server('ipc_soak_tcp'), micros)} against redis-server's {span(server('redis'), micros)}.")
    for n in sorted({conns[0], conns[-1]}):
        busy = []
        for system in ("ipc_soak_tcp", "redis"):
            c, v = tcp.per_request_us(system, n, "client_cpu_s"), tcp.per_request_us(system, n, "server_cpu_s")
            rps = tcp.median(system, n, "rps")
            if None in (c, v, rps):
                return out
            busy.append(rps * (c + v) / 1e6)
        text = (f"At {n} connection{'s' if n > 1 else ''} ipc_soak's client and server together kept "
                f"{busy[0]:.2f} cores busy on average, redis's {busy[1]:.2f}")
        if max(busy) <= 1.25:
            text += (": with one request in flight the two sides mostly work in turn, so the rate is about one "
                     "over the CPU time of a round trip, client and server together.")
        elif min(busy) >= 0.8 * cores:
            text += (f": the CPU is the bound there, the rate about {cores} cores over the CPU time per "
                     f"request.")
        else:
            text += "."
        out.append(text)
    return out


def switch_table(tcp, conns):
    header = ["Connections", "ipc_soak client", "kovra-camd", "redis-benchmark", "redis-server"]
    lines = []
    for n in conns:
        cells = [str(n)]
        for system in ("ipc_soak_tcp", "redis"):
            voluntary = tcp.per_request(system, n, "client_vcsw")
            involuntary = tcp.per_request(system, n, "client_ivcsw")
            server = tcp.per_request(system, n, "server_switches")
            cells.append("n/a" if voluntary is None or involuntary is None
                         else f"{voluntary:.2f} + {involuntary:.2f}")
            cells.append("n/a" if server is None else f"{server:.2f}")
        lines.append(cells)
    return render(header, lines, True, align="-rrrr")


def switch_sentences(tcp, conns, cores, verdicts):
    figures, more = [], []
    for n in conns:
        if not verdicts.missed(f"tcp_p99_us_{n}") and not verdicts.missed(f"tcp_rps_{n}"):
            continue
        voluntary = tcp.per_request("ipc_soak_tcp", n, "client_vcsw")
        involuntary = tcp.per_request("ipc_soak_tcp", n, "client_ivcsw")
        redis_v = tcp.per_request("redis", n, "client_vcsw")
        redis_i = tcp.per_request("redis", n, "client_ivcsw")
        if None in (voluntary, involuntary, redis_v, redis_i):
            continue
        figures.append(f"at {n} thread{'s' if n > 1 else ''} {voluntary + involuntary:.2f} "
                       f"({involuntary:.2f} involuntary) against redis-benchmark's {redis_v + redis_i:.2f}")
        if voluntary + involuntary > 1.5 * (redis_v + redis_i):
            more.append(n)
    if not figures:
        return []
    out = ["Where a TCP target was missed, ipc_soak's client switched context per request " +
           "; ".join(figures) + "."]
    if more:
        out.append("Each reply is handed from the library's I/O thread to a sleeping calling thread, which "
                   f"must then get a core among the calling threads, the I/O thread and the daemon's threads "
                   f"on {cores} cores: a step in every round trip that redis-benchmark, one thread doing the "
                   f"whole round trip, does not take.")
    return out


def bounds_section(work, meta, figures, verdicts, rates, tcp, unavailable):
    out = []
    say = out.append
    cores = int(meta.get("cores", "2") or 2)

    # Instructions, heap blocks and memory: only when a target was missed.
    top = read_tsv(os.path.join(work, "cg-top-ipc_soak.tsv"))
    if verdicts.missed("instructions_total") or verdicts.missed("instructions_program"):
        total, target = verdicts.items["instructions_total"][1], verdicts.items["instructions_total"][2]
        say("### Instructions per command")
        say("")
        say(f"{number(total)} per command against at most {number(target)}: the stand-in's calls take "
            f"{number(float(figures.get('cg_ipc_soak_standin', 'nan')))} of them (the direct loop, which makes "
            f"the same calls and nothing else, spends {number(float(figures.get('cg_direct_loop_total', 'nan')))} "
            f"in all), the program's own code "
            f"{number(float(figures.get('cg_ipc_soak_program', 'nan')))}. The functions costliest in "
            f"themselves, instructions per command (callgrind, the difference of the two runs):")
        say("")
        listings = []
        if verdicts.missed("instructions_total"):
            listings.append(("All code:", top[:10]))
        if verdicts.missed("instructions_program"):
            listings.append(("The program's own code:", [r for r in top if r[1] == "ipc_soak"][:10]))
        for title, rows in listings:
            say(title)
            say("")
            say(code_block([f"{float(r[0]):8.1f}  {r[1]:<24} {short_symbol(r[2])}" for r in rows]
                           or ["(no callgrind profile)"]))
            say("")
    if verdicts.missed("heap_blocks"):
        sites = read_tsv(os.path.join(work, "dhat-top-ipc_soak.tsv"))
        say("### Heap blocks per command")
        say("")
        say(f"{number(verdicts.items['heap_blocks'][1], 2)} per command against at most "
            f"{verdicts.items['heap_blocks'][2]:g}; the direct loop allocates "
            f"{number(float(figures.get('dhat_direct_loop_blocks', 'nan')), 2)}. Where they are allocated "
            f"(dhat; blocks and bytes per command, the first frame that is not an allocator):")
        say("")
        say(code_block([f"{float(s[0]):6.3f} {float(s[1]):8.1f} B  {short_symbol(s[3])} ({s[2]})" for s in sites]
                       or ["(no dhat profile)"]))
        say("")
    if verdicts.missed("rss"):
        say("### Peak RSS per scheduled command")
        say("")
        say(f"{verdicts.items['rss'][1]:.1f} B per scheduled command against at most "
            f"{verdicts.items['rss'][2]:g} B; the direct loop, which holds the same schedule, "
            f"{float(figures.get('rss_direct_loop_bytes', 'nan')):.1f} B. dhat's peak of live heap grows by "
            f"{float(figures.get('dhat_ipc_soak_peak_bytes', 'nan')):.1f} B per command for ipc_soak and "
            f"{float(figures.get('dhat_direct_loop_peak_bytes', 'nan')):.1f} B for the direct loop "
            f"(-t 1, the difference of the two runs).")
        say("")

    # In-process scaling, always.
    say("### In-process scaling, -t 2 against -t 1")
    say("")
    stats = perfstat(work)
    soak_scaling = paired_ratios(rates.get("ipc_soak", {}).get(2, {}), rates.get("ipc_soak", {}).get(1, {}))
    direct_scaling = paired_ratios(rates.get("direct_loop", {}).get(2, {}), rates.get("direct_loop", {}).get(1, {}))
    if not stats:
        say(f"Not measured: {unavailable.get('perf', 'perf stat did not run')}.")
        say("")
    else:
        lines = []
        for group, scaling in (("ipc_soak", soak_scaling), ("direct_loop", direct_scaling)):
            for threads in (1, 2):
                got = stats.get(group, {}).get(threads)
                if not got:
                    continue
                lines.append([GROUP_NAMES[group], str(threads), f"{got['cpus']:.2f}", f"{got['ns']:.0f} ns",
                              "n/a" if got["switches"] is None else number(got["switches"]),
                              "n/a" if got["faults"] is None else number(got["faults"]),
                              "1.00x" if threads == 1 else (ratio(statistics.median(scaling)) if scaling else "n/a")])
        say(f"`perf stat -e task-clock,context-switches,page-faults`, {meta.get('total_commands', '?')} commands "
            f"a run, median of {meta.get('perf_rounds', '?')} runs each: the CPUs kept busy (task-clock over "
            f"wall time), CPU time per command, and the run's context switches and page faults; beside them "
            f"the commands per second over -t 1's from the table above. Give or take the runs' noise, that "
            f"ratio is the ratio of CPUs busy divided by the ratio of CPU per command.")
        say("")
        say(render(["Program", "-t", "CPUs busy", "CPU per command", "Context switches", "Page faults",
                    "Commands/s over -t 1"], lines, True, align="-rrrrrr"))
        say("")
        sentences = []
        soak1, soak2 = stats.get("ipc_soak", {}).get(1), stats.get("ipc_soak", {}).get(2)
        dir1, dir2 = stats.get("direct_loop", {}).get(1), stats.get("direct_loop", {}).get(2)
        if soak1 and soak2:
            sentences.append(
                f"At -t 2 ipc_soak kept {soak2['cpus']:.2f} CPUs busy against {soak1['cpus']:.2f} at -t 1 "
                f"({ratio(soak2['cpus'] / soak1['cpus'])}), and a command cost "
                f"{ratio(soak2['ns'] / soak1['ns'])} the CPU time.")
            if soak2["cpus"] < 0.8 * cores:
                sentences.append(
                    f"It kept less than {0.8 * cores:.1f} of the machine's {cores} cores busy: its threads spent "
                    f"part of the run off the CPU (asleep on a contended lock, in the single-threaded start and "
                    f"end of the run, or waiting for a core the machine's other load held).")
            if soak2["ns"] > 1.25 * soak1["ns"]:
                sentences.append(
                    "A command costing more CPU with two threads than with one is the price of two threads "
                    "sharing data: cache lines moving between the cores, and contended locks.")
        if dir1 and dir2:
            sentences.append(
                f"The direct loop, which makes the same calls without the program's counters mutex, kept "
                f"{dir2['cpus']:.2f} CPUs busy at -t 2 against {dir1['cpus']:.2f} "
                f"({ratio(dir2['cpus'] / dir1['cpus'])}), a command costing {ratio(dir2['ns'] / dir1['ns'])} "
                f"the CPU time.")
        profiles = {name: perf_top(os.path.join(work, f"perf-report-{name}.txt"))
                    for name in ("ipc_soak", "direct_loop")}
        if direct_scaling and soak_scaling:
            d, s = statistics.median(direct_scaling), statistics.median(soak_scaling)
            target = float(meta.get("min_scaling", "1.6"))
            if d < target:
                sentences.append(
                    f"The direct loop itself reached only {ratio(d)} the commands per second of its -t 1: on this "
                    f"machine the calls alone, without anything of the program's, fall short of {target:g}x.")
            if s < 0.9 * d:
                text = f"ipc_soak, at {ratio(s)}, falls further short"
                if soak2 and dir2 and soak2["switches"] is not None and dir2["switches"] is not None:
                    text += (f": at -t 2 its threads switched context {number(soak2['switches'])} times a run "
                             f"against the direct loop's {number(dir2['switches'])}")
                if profiles["ipc_soak"][1] and profiles["direct_loop"][1]:
                    text += (f", and {perf_shares(profiles['ipc_soak'][1])[1]:.0f}% of its samples below are in "
                             f"mutex and futex functions against "
                             f"{perf_shares(profiles['direct_loop'][1])[1]:.0f}% of the direct loop's")
                text += (". The difference is what the program adds to the calls, and the one lock it adds on "
                         "that path is the counters mutex, taken once a command by design.")
                sentences.append(text)
        schedule = [(name, sum(p for p, _, _, sym in rows if "drawSchedules" in sym))
                    for name, (_, rows) in profiles.items() if rows]
        if schedule:
            sentences.append(
                "Drawing the schedules, on one thread before the workers start, took " +
                " and ".join(f"{share:.1f}% of {'the ' if name == 'direct_loop' else ''}{GROUP_NAMES[name]}'s samples"
                             for name, share in schedule) + ".")
        if sentences:
            say(" ".join(sentences))
            say("")
        for name in ("ipc_soak", "direct_loop"):
            head, rows = profiles[name]
            if not rows:
                continue
            kernel, locks = perf_shares(rows)
            say(f"`perf report --no-children --sort dso,symbol` of {'the ' if name == 'direct_loop' else ''}"
                f"{GROUP_NAMES[name]} -t 2 "
                f"(all samples: {kernel:.1f}% in the kernel, {locks:.1f}% in mutex and futex functions; "
                f"the top {min(12, len(rows))} symbols):")
            say("")
            say(perf_excerpt(head, rows[:12]))
            say("")

    # TCP, always: syscalls per request at one connection, then CPU per request.
    say("### TCP: syscalls and CPU per request")
    say("")
    soak_calls, redis_calls = per_request_syscalls(work, "ipc_soak_tcp"), per_request_syscalls(work, "redis")
    if soak_calls is None:
        why = unavailable.get("strace") or unavailable.get("ipc_soak_tcp") or "strace did not run"
        say(f"Syscalls per request: not measured ({why}).")
        say("")
    else:
        soak_per, soak_n = soak_calls
        redis_per = redis_calls[0] if redis_calls else {}
        names = sorted((n for n in set(soak_per) | set(redis_per)
                        if max(soak_per.get(n, (0, 0))[0], redis_per.get(n, (0, 0))[0]) >= 0.05),
                       key=lambda n: -soak_per.get(n, (0, 0))[0])

        def cell(per, name):
            calls, errors = per.get(name, (0.0, 0.0))
            return f"{calls:.2f}" + (f" ({errors:.2f} errors)" if errors >= 0.05 else "")

        lines = [[name, cell(soak_per, name), cell(redis_per, name) if redis_calls else "n/a"] for name in names]
        lines.append(["**all**", f"{sum(c for c, _ in soak_per.values()):.2f}",
                      f"{sum(c for c, _ in redis_per.values()):.2f}" if redis_calls else "n/a"])
        say(f"`strace -f -c` of the client at one connection, every thread: the calls of a run of "
            f"-c {meta.get('trace_large', '?')} less those of -c {meta.get('trace_small', '?')}, over the "
            f"{soak_n:,} requests between them (redis-benchmark -c 1 made as many); per request, with the "
            f"calls that returned an error (EAGAIN, say) in brackets:")
        say("")
        say(render(["Syscall", "ipc_soak -t 1", "redis-benchmark -c 1"], lines, True, align="-rr"))
        say("")
        futex = soak_per.get("futex", (0, 0))[0]
        total = sum(c for c, _ in soak_per.values())
        text = (f"Per request ipc_soak made {total:.1f} syscalls, {futex:.1f} of them futex: the calling thread "
                f"sends its request and sleeps, the library's I/O thread reads the reply and wakes it, so every "
                f"round trip also crosses between two threads.")
        if redis_calls:
            text += (f" redis-benchmark made {sum(c for c, _ in redis_per.values()):.1f}, the whole round trip "
                     f"on one thread.")
        say(text)
        say("")
    conns = sorted({n for system in TCP_SYSTEMS for n in tcp.runs.get(system, {})})
    if conns:
        say(f"CPU time per request, client and server (the client's from its own accounting, the server's "
            f"from `/proc/PID/stat` around the run; median of the rounds), and the request rate the machine's "
            f"{cores} cores would allow at that cost if nothing else ran:")
        say("")
        say(cpu_table(tcp, conns, cores))
        say("")
        say(" ".join(cpu_sentences(tcp, conns, cores)))
        say("")
        say("Context switches per request (the client's from its own accounting, voluntary + involuntary; the "
            "server's from its threads' `/proc/PID/task/*/status`; median of the rounds):")
        say("")
        say(switch_table(tcp, conns))
        say("")
        text = switch_sentences(tcp, conns, cores, verdicts)
        if text:
            say(" ".join(text))
            say("")
    missed = [k for k in verdicts.items if k.startswith("tcp_") and verdicts.missed(k)]
    if missed:
        names = ", ".join(f"{'requests per second' if k.startswith('tcp_rps') else 'p99'} at "
                          f"{k.rsplit('_', 1)[1]}" for k in missed)
        say(f"TCP targets not met in this run: {names}.")
        say("")
    return "\n".join(out).rstrip("\n")


# ---------------------------------------------------------------- plot data

def write_plot_data(directory, rates, tcp):
    os.makedirs(directory, exist_ok=True)
    for group, by_threads in rates.items():
        with open(os.path.join(directory, f"inproc_{group}.dat"), "w") as f:
            f.write("# threads median min max (commands per second)\n")
            for threads in sorted(by_threads):
                values = sorted(by_threads[threads].values())
                f.write(f"{threads} {statistics.median(values):.1f} {values[0]:.1f} {values[-1]:.1f}\n")
    for system in TCP_SYSTEMS:
        with open(os.path.join(directory, f"tcp_{system}.dat"), "w") as f:
            f.write("# connections median_rps p50_us p99_us\n")
            for conns in sorted(tcp.runs.get(system, {})):
                values = [tcp.median(system, conns, k) for k in ("rps", "p50_us", "p99_us")]
                f.write(f"{conns} " + " ".join("NaN" if v is None else f"{v:.1f}" for v in values) + "\n")


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
    tcp = Tcp(read_records(os.path.join(args.work, "tcp.txt")))
    unavailable = read_unavailable(os.path.join(args.work, "unavailable.txt"))
    conns = [int(n) for n in meta.get("tcp_conns", "").split()]
    target_conns = [int(n) for n in meta.get("tcp_target_conns", "").split() if int(n) in conns]

    verdicts = Verdicts()
    rows = figure_rows(figures, verdicts)
    rows += throughput_rows(rates, float(meta.get("min_scaling", "1.6")), verdicts)
    rows += tcp_target_rows(tcp, unavailable, target_conns, float(figures.get("target_tcp_rps", "1")),
                            float(figures.get("target_tcp_p99", "1.5")), verdicts)
    bounds = bounds_section(args.work, meta, figures, verdicts, rates, tcp, unavailable)

    print(main_table(rows, markdown=False))
    print()
    print(tcp_table(tcp, conns, markdown=False))
    print()
    print(bounds)

    if args.plot_data:
        write_plot_data(args.plot_data, rates, tcp)
    if args.markdown:
        with open(args.template) as f:
            page = f.read()
        with open(os.path.join(args.work, "commands.txt")) as f:
            commands = "".join(dict.fromkeys(f.readlines()))
        met = [v[0] for v in verdicts.items.values()]
        summary = (f"{met.count('met')} of {len(met)} targets met"
                   + (f", {met.count('not measured')} not measured" if "not measured" in met else ""))
        per_command = [as_float(rec.get("requests")) / (int(meta.get("tcp_requests", "0")) // n * n)
                       for n, by_round in tcp.runs.get("ipc_soak_tcp", {}).items()
                       for rec in by_round.values() if as_float(rec.get("requests"))]
        values = dict(meta, **{k: v for k, v in figures.items() if k.startswith("wire_")})
        values.update(table=main_table(rows), tcp_table=tcp_table(tcp, conns), bounds=bounds,
                      summary=summary, commands=commands.rstrip("\n"),
                      requests_per_command=f"{statistics.median(per_command):.2f}" if per_command else "n/a")
        for key, value in values.items():
            page = page.replace("{{" + key + "}}", value)
        page = re.sub(r"\{\{[a-z_]+\}\}", "n/a", page)  # a figure this run could not take
        with open(args.markdown, "w") as f:
            f.write(page)


if __name__ == "__main__":
    sys.exit(main())
