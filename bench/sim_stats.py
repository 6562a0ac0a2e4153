#!/usr/bin/env python3
"""Requests per second and p99 latency from the stand-in's stats file.

    sim_stats.py FILE

FILE is what KOVRA_SIM='stats=FILE' makes the stand-in write at
kovra_core_deinit. The reader expects a JSON object like

    {"wall_seconds": 1.9, "calls": 41000, "requests_per_second": 21500.0,
     "functions": {"kovra_api_led_get_state_send":
                       {"calls": 480, "p50_us": 41, "p90_us": 60,
                        "p99_us": 95, "p99_9_us": 180}, ...}}

and accepts small variations: "functions" may be a list of objects with a
"name"; a percentile may be given in _ns, _us or _ms; requests per second may
be missing, when it is the requests' calls over the wall time. The p99 is the
run's own "p99" if it has one, or else the worst p99 of the functions that are
requests (*_send), so it is never better than any request's.

Prints one line: rps=X p99_us=Y (Y is "na" when the file has no percentile).
"""
import json
import re
import sys

SCALE = {"ns": 1e-3, "us": 1.0, "usec": 1.0, "ms": 1e3, "": 1.0}
P99 = re.compile(r"^p99_?(ns|us|usec|ms)?$")


def p99_of(entry):
    for key, value in entry.items():
        m = P99.match(key)
        if m and isinstance(value, (int, float)):
            return value * SCALE[m.group(1) or ""]
    return None


def functions_of(stats):
    functions = stats.get("functions", {})
    if isinstance(functions, list):
        return {f.get("name", f.get("function", "")): f for f in functions}
    return functions


def main():
    with open(sys.argv[1]) as f:
        stats = json.load(f)
    functions = functions_of(stats)
    requests = {name: f for name, f in functions.items() if name.endswith("_send")}

    rps = stats.get("requests_per_second", stats.get("rps"))
    if rps is None:
        wall = stats.get("wall_seconds", stats.get("wall_s"))
        calls = sum(f.get("calls", 0) for f in requests.values())
        rps = calls / wall if wall else None

    p99 = p99_of(stats)
    if p99 is None:
        p99s = [p for p in (p99_of(f) for f in requests.values()) if p is not None]
        p99 = max(p99s) if p99s else None

    print(f"rps={rps if rps is not None else 'na'} p99_us={p99 if p99 is not None else 'na'}")


if __name__ == "__main__":
    sys.exit(main())
