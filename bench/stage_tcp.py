#!/usr/bin/env python3
"""Over loopback TCP, side by side: ipc_soak against kovra-camd, redis-
benchmark against redis-server, and the raw ping-pong, at each connection
count (ipc_soak's threads share its one connection), in rounds whose order
turns. Requests per second and p50/p99 as each reports them; the client's
CPU and context switches per request from the kernel's account of it, the
server's from /proc; syscalls per request at one connection from strace.
Writes tcp.json."""
import os
import re

from common import (PINGPONG, SMOKE, SOAK, WORK, Server, camera, free_port, log, median_of,
                    output, proc_cpu_s, proc_switches, ratio, run, soak, stats_of, write)

CONNECTIONS = [1, 4] if SMOKE else [1, 2, 4, 8, 16]
REQUESTS = 2000 if SMOKE else 30000
ROUNDS = 1 if SMOKE else 5
FRAME = 24  # bytes, about an ipc_soak request's or reply's frame


def ipc_soak(c, camd):
    path = os.path.join(WORK, "tcp-stats.json")
    used = soak(c, REQUESTS // c, f"tcp://127.0.0.1:{camd.port}", {"KOVRA_SIM": f"stats={path}"})
    s = stats_of(path)
    return used, s["requests"], s["requests_per_second"], s["p50_us"], s["p99_us"]


def redis(c, server):
    path = os.path.join(WORK, "redis.csv")
    with open(path, "w") as out:
        used = run(["redis-benchmark", "-p", str(server.port), "-c", str(c), "-n", str(REQUESTS),
                    "-P", "1", "-t", "ping_mbulk", "--csv", "--precision", "3"], out=out)
    fields = open(path).read().splitlines()[-1].replace('"', "").split(",")
    return used, REQUESTS, float(fields[1]), float(fields[4]) * 1000, float(fields[6]) * 1000


def pingpong(c, server):
    path = os.path.join(WORK, "pingpong.out")
    with open(path, "w") as out:
        used = run([PINGPONG, "load", str(server.port), str(c), str(REQUESTS), str(FRAME)], out=out)
    r = dict(kv.split("=") for kv in open(path).read().split())
    return used, REQUESTS, float(r["rps"]), float(r["p50_us"]), float(r["p99_us"])


def syscalls(argv_of, env=None):
    """Syscalls per request of a client at one connection: strace -f -c of
    two runs, the difference over the requests between them."""
    counts = []
    for n in (REQUESTS // 10, REQUESTS // 2):
        path = os.path.join(WORK, f"strace-{n}.txt")
        run(["strace", "-f", "-c", "-o", path] + argv_of(n), env)
        calls = {}
        for line in open(path):
            m = re.match(r"\s*[\d.]+\s+[\d.]+\s+\d+\s+(\d+)\s+(\d*)\s*(\w+)$", line)
            if m and m.group(3) != "total":
                calls[m.group(3)] = int(m.group(1))
        counts.append(calls)
    return counts


def main():
    camd = camera("--threads", "2")
    redis_port, pong_port = free_port(), free_port()
    servers = {
        "ipc_soak": (camd, ipc_soak),
        "redis": (Server(["redis-server", "--port", str(redis_port), "--bind", "127.0.0.1",
                          "--save", "", "--appendonly", "no"], ready_port=redis_port), redis),
        "pingpong": (Server([PINGPONG, "serve", str(pong_port), str(FRAME)],
                            ready_port=pong_port), pingpong),
    }
    try:
        rounds = []
        for r in range(ROUNDS + 1):
            log(f"TCP, round {r} of {ROUNDS} (0 warms up)")
            figures = {}
            for c in CONNECTIONS:
                order = list(servers)[r % 3:] + list(servers)[:r % 3]
                for name in order:
                    server, client = servers[name]
                    cpu, switches = proc_cpu_s(server.pid), proc_switches(server.pid)
                    used, requests, rps, p50, p99 = client(c, server)
                    key = f"{name} {c}"
                    figures.update({
                        key + " rps": rps, key + " p50": p50, key + " p99": p99,
                        key + " client cpu": used["cpu_s"] / requests,
                        key + " client voluntary": used["voluntary"] / requests,
                        key + " client involuntary": used["involuntary"] / requests,
                        key + " server cpu": (proc_cpu_s(server.pid) - cpu) / requests,
                        key + " server switches": (proc_switches(server.pid) - switches) / requests,
                    })
            if r:
                rounds.append(figures)
        out = {k: median_of(rounds, k) for k in rounds[0]}
        for c in CONNECTIONS:
            out[f"rps ratio {c}"] = ratio(rounds, f"ipc_soak {c} rps", f"redis {c} rps")
            out[f"p99 ratio {c}"] = ratio(rounds, f"ipc_soak {c} p99", f"redis {c} p99")
            out[f"pingpong ratio {c}"] = ratio(rounds, f"ipc_soak {c} rps", f"pingpong {c} rps")
        log("strace of the clients at one connection")
        small, large = REQUESTS // 10, REQUESTS // 2
        ours = syscalls(lambda n: [SOAK, "-t", "1", "-c", str(n), "-u", f"tcp://127.0.0.1:{camd.port}"],
                        {"KOVRA_SIM": f"stats={WORK}/strace-stats.json"})
        theirs = syscalls(lambda n: ["redis-benchmark", "-p", str(redis_port), "-c", "1", "-n",
                                     str(n), "-P", "1", "-t", "ping_mbulk", "-q"])
        per_command = stats_of(f"{WORK}/strace-stats.json")["requests"] / large
        for name, counts, requests in (("ipc_soak", ours, (large - small) * per_command),
                                       ("redis", theirs, large - small)):
            out[f"{name} syscalls"] = {k: (n - counts[0].get(k, 0)) / requests
                                       for k, n in counts[1].items() if n > counts[0].get(k, 0)}
        out["redis version"] = output(["redis-server", "--version"]).split()[2]
        write("tcp", out)
    finally:
        for server, _ in servers.values():
            server.stop()


if __name__ == "__main__":
    main()
