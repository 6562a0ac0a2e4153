#!/usr/bin/env python3
"""Where the heap blocks per command come from, from two DHAT profiles.

    dhat_top.py --commands N [--top K] SMALL.json LARGE.json

SMALL and LARGE are `valgrind --tool=dhat --dhat-out-file=...` profiles of
the same program with the same options except that LARGE schedules N more
commands. Allocation sites are matched by their call stack; each site's
blocks and bytes per command are (LARGE - SMALL) / N, so start-up cancels.
A site is named by the first frame of its stack that is not an allocator
(malloc, operator new, an `allocate` wrapper and the like).

Prints the K sites (default 8) that allocate most blocks per command, one a
line: blocks<TAB>bytes<TAB>file:line<TAB>function.
"""
import argparse
import collections
import json
import re
import sys

# "0x4849E3F: malloc (in /usr/libexec/valgrind/vgpreload_dhat-amd64-linux.so)"
# "0x10A2B3: Foo::bar() (foo.cpp:12)"
FRAME = re.compile(r"^0x[0-9A-Fa-f]+: (.*?) \((?:in )?([^()]*)\)$")
ALLOCATORS = ("malloc", "calloc", "realloc", "memalign", "posix_memalign", "aligned_alloc", "???")


def frames(profile, indices):
    table = profile["ftbl"]
    out = []
    for i in indices:
        text = table[i]
        m = FRAME.match(text)
        out.append((m.group(1), m.group(2)) if m else (text, ""))
    return out


def site_of(stack):
    for function, where in stack:
        bare = function.split("(")[0].strip()
        if (bare in ALLOCATORS or bare.startswith("operator new") or bare.endswith("allocate")
                or "vgpreload" in where):
            continue
        return function, where
    return stack[-1] if stack else ("?", "")


def totals(path):
    with open(path) as f:
        profile = json.load(f)
    sites = collections.defaultdict(lambda: [0, 0])
    for pp in profile["pps"]:
        key = tuple(frames(profile, pp["fs"]))
        sites[key][0] += pp["tbk"]
        sites[key][1] += pp["tb"]
    return sites


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--commands", type=int, required=True)
    parser.add_argument("--top", type=int, default=8)
    parser.add_argument("small")
    parser.add_argument("large")
    args = parser.parse_args()
    small, large = totals(args.small), totals(args.large)
    grown = collections.Counter()
    size = collections.Counter()
    for stack, (blocks, nbytes) in large.items():
        before = small.get(stack, (0, 0))
        site = site_of(stack)
        grown[site] += (blocks - before[0]) / args.commands
        size[site] += (nbytes - before[1]) / args.commands
    for (function, where), blocks in grown.most_common(args.top):
        if blocks <= 0:
            break
        print(f"{blocks:.3f}\t{size[(function, where)]:.1f}\t{where}\t{function}")


if __name__ == "__main__":
    sys.exit(main())
