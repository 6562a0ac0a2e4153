#!/usr/bin/env python3
"""Requests, requests per second and the p50 and p99 latency of a run, from
the stand-in's stats file.

    sim_stats.py FILE

FILE is what KOVRA_SIM='stats=FILE' makes the stand-in write at
kovra_core_deinit: a JSON object whose top level holds the run's
"wall_seconds", "requests" (the calls of request functions, *_send),
"requests_per_second" and the percentiles of every request's round trip
together, "p50_us", "p90_us", "p99_us" and "p999_us", beside "functions",
per-function figures keyed by C function name:

    {"wall_seconds": 1.9, "requests": 41000, "requests_per_second": 21500,
     "p50_us": 35.5, "p99_us": 106.0, ...,
     "functions": {"kovra_api_led_get_state_send": {"calls": 480, "p50_us": 41, ...}, ...}}

Prints one line: requests=N rps=X p50_us=A p99_us=B ("na" for what the file
does not give).
"""
import json
import sys


def main():
    with open(sys.argv[1]) as f:
        stats = json.load(f)
    out = {"requests": stats.get("requests"), "rps": stats.get("requests_per_second"),
           "p50_us": stats.get("p50_us"), "p99_us": stats.get("p99_us")}
    print(" ".join(f"{k}={'na' if v is None else v}" for k, v in out.items()))


if __name__ == "__main__":
    sys.exit(main())
