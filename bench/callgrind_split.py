#!/usr/bin/env python3
"""Instructions per command from two callgrind profiles, split by owner.

    callgrind_split.py --program NAME --commands N SMALL.out LARGE.out

SMALL and LARGE profile the same program with the same options except that
LARGE schedules N more commands; every figure is (LARGE - SMALL) / N, so the
cost of starting and stopping cancels.

Owners, by ELF object:
  program   the executable NAME (ipc_soak, or the direct loop)
  standin   libkovra-core.so, libkovra-interfaces.so, libkovra-sim.so
Instructions in every other object (libc, libstdc++, libgcc_s, libm, Boost,
the dynamic loader) count to the owner whose code called them, following the
call graph upwards. A shared function called from both owners, malloc say, is
split in proportion to the inclusive cost of each caller's calls of it, as
gprof splits a function's time. Code that no owner calls (process and thread
start-up) stays 'unattributed'; it cancels in the difference.

Prints key=value lines: total, program, standin, unattributed. With
--top-out FILE, also writes the N functions (--top, default 12) costliest in
themselves, per command, one a line: instructions<TAB>object<TAB>function.
"""
import argparse
import collections
import os
import re
import sys

STANDIN = {"libkovra-core.so", "libkovra-interfaces.so", "libkovra-sim.so"}
OWNERS = ("program", "standin", "unattributed")


def parse(path):
    """Returns (self_cost, calls): self_cost[(ob, fn)] = Ir spent in fn itself;
    calls[callee][caller] = inclusive Ir of caller's calls of callee."""
    names = {"ob": {}, "fn": {}}
    self_cost = collections.Counter()
    calls = collections.defaultdict(collections.Counter)
    ob = fn = None
    cob = cfn = None
    in_call = False
    define = re.compile(r"^\((\d+)\)(?: (.*))?$")

    def name(kind, text):
        m = define.match(text)
        if not m:
            return text
        if m.group(2) is not None:
            names[kind][m.group(1)] = m.group(2)
        return names[kind][m.group(1)]

    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line:
                continue
            head = line[0]
            if head.isdigit() or head in "+-*":
                fields = line.split()
                cost = int(fields[1]) if len(fields) > 1 else 0
                if in_call:
                    # Without cob= the callee is in the caller's object.
                    calls[(cob or ob, cfn)][(ob, fn)] += cost
                    in_call = False
                    cob = None
                else:
                    self_cost[(ob, fn)] += cost
                continue
            key, _, value = line.partition("=")
            if key == "ob":
                ob = name("ob", value)
            elif key == "fn":
                fn = name("fn", value)
            elif key == "cob":
                cob = name("ob", value)
            elif key == "cfn":
                cfn = name("fn", value)
            elif key == "calls":
                in_call = True
    return self_cost, calls


def owner_of(ob, program):
    base = os.path.basename(ob or "")
    if base == program:
        return "program"
    if base in STANDIN:
        return "standin"
    return None


def attribute(self_cost, calls, program):
    """Instructions per owner, the shared libraries' cost handed to callers."""
    functions = set(self_cost) | set(calls)
    for callers in calls.values():
        functions |= set(callers)
    shared = [f for f in functions if owner_of(f[0], program) is None]
    share = {f: {"unattributed": 1.0} for f in shared}

    def vector(function):
        owner = owner_of(function[0], program)
        return {owner: 1.0} if owner else share[function]

    # Fixed point of share[g] = sum over callers c of weight(c) * vector(c).
    for _ in range(200):
        changed = 0.0
        for g in shared:
            callers = {c: w for c, w in calls.get(g, {}).items() if c != g and w > 0}
            total = sum(callers.values())
            if total == 0:
                continue
            new = collections.Counter()
            for c, w in callers.items():
                for owner, part in vector(c).items():
                    new[owner] += part * w / total
            changed = max(changed, max(abs(new[o] - share[g].get(o, 0.0)) for o in OWNERS))
            share[g] = dict(new)
        if changed < 1e-9:
            break

    result = collections.Counter()
    for function, cost in self_cost.items():
        for owner, part in vector(function).items():
            result[owner] += cost * part
    result["total"] = sum(self_cost.values())
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", required=True, help="basename of the executable")
    parser.add_argument("--commands", type=int, required=True, help="LARGE's extra commands")
    parser.add_argument("--top-out", help="where to write the costliest functions")
    parser.add_argument("--top", type=int, default=12, help="how many of them")
    parser.add_argument("small")
    parser.add_argument("large")
    args = parser.parse_args()
    small_profile, large_profile = parse(args.small), parse(args.large)
    small = attribute(*small_profile, args.program)
    large = attribute(*large_profile, args.program)
    for key in ("total",) + OWNERS:
        print(f"{key}={(large[key] - small[key]) / args.commands:.1f}")
    if args.top_out:
        write_top(args.top_out, args.top, small_profile[0], large_profile[0], args.commands)


def write_top(path, count, small_self, large_self, commands):
    """The functions whose own instructions grow most with the commands."""
    per_command = collections.Counter()
    for (ob, fn), cost in large_self.items():
        per_command[(os.path.basename(ob or "?"), fn or "?")] += cost
    for (ob, fn), cost in small_self.items():
        per_command[(os.path.basename(ob or "?"), fn or "?")] -= cost
    with open(path, "w") as f:
        for (ob, fn), cost in per_command.most_common(count):
            f.write(f"{cost / commands:.1f}\t{ob}\t{fn}\n")


if __name__ == "__main__":
    sys.exit(main())
