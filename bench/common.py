"""What the benchmark's stages share: the build's programs, how a process is
run and accounted, servers started for a stage, and the medians taken over
rounds. Each stage is a script that writes one JSON file (bench/run.sh)."""
import json
import os
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, os.environ.get("BENCH_BUILD", "build/bench"))
SOAK = os.path.join(BUILD, "src/ipc_soak")
DIRECT = os.path.join(BUILD, "bench/direct_loop")
PINGPONG = os.path.join(BUILD, "bench/pingpong")
CAMD = os.path.join(BUILD, "kovra_sim/kovra-camd")
STATS = os.path.join(BUILD, "kovra_sim/kovra-stats")
TRACE = os.path.join(BUILD, "kovra_sim/libkovra-trace.so")
SMOKE = os.environ.get("BENCH_SMOKE") == "1"
WORK = os.environ.get("BENCH_WORK") or tempfile.mkdtemp(prefix="ipc_soak_bench.")


def log(text):
    print(f"[bench] {text}", file=sys.stderr, flush=True)


def run(argv, env=None, out=subprocess.DEVNULL):
    """Runs a process to its end; its wall seconds and the kernel's account
    of it (CPU seconds, context switches)."""
    start = time.monotonic()
    child = subprocess.Popen(argv, env={**os.environ, **(env or {})}, stdout=out,
                             stderr=subprocess.PIPE, text=True)
    err = child.stderr.read()
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{' '.join(argv)} failed ({status}): {err[-2000:]}")
    return {"wall_s": wall, "cpu_s": usage.ru_utime + usage.ru_stime,
            "voluntary": usage.ru_nvcsw, "involuntary": usage.ru_nivcsw}


def peak_rss_of(argv):
    """A run's peak resident set in bytes, as GNU time reports it: from this
    Python process a child's peak would count the fork's copy of Python."""
    path = os.path.join(WORK, "time.out")
    run(["/usr/bin/time", "-f", "%M", "-o", path] + argv)
    return int(open(path).read().split()[-1]) * 1024


def output(argv, env=None):
    return subprocess.run(argv, env={**os.environ, **(env or {})}, check=True,
                          capture_output=True, text=True).stdout


def soak(threads, commands, url=None, env=None, out=subprocess.DEVNULL):
    argv = [SOAK, "-t", str(threads), "-c", str(commands)] + (["-u", url] if url else [])
    return run(argv, env, out)


def stats_of(path):
    with open(path) as f:
        return json.load(f)


def proc_cpu_s(pid):
    """User and system seconds a running process has used so far."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def proc_switches(pid):
    """Context switches of all of a running process's threads so far."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/status") as f:
            total += sum(int(l.split()[1]) for l in f if "ctxt_switches" in l)
    return total


def peak_rss_bytes(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmHWM"))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """A server process for a stage, stopped with the stage (and for good
    when the stage dies, through its process group). Ready once it
    accepts on `ready_port`, or once `port_file` holds its port; one that
    exits first fails with the last line of its stderr, kept in `errors`."""

    def __init__(self, argv, ready_port=None, port_file=None, errors=None):
        errors = errors or os.path.join(WORK, "server.err")
        with open(errors, "a") as err:
            self.process = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=err,
                                            start_new_session=True)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if port_file and os.path.exists(port_file):
                # The daemon renames the file into place: never read in part.
                text = open(port_file).read().strip()
                if text:
                    self.port = int(text)
                    return
            if ready_port:
                try:
                    socket.create_connection(("127.0.0.1", ready_port), 0.2).close()
                    self.port = ready_port
                    return
                except OSError:
                    pass
            if self.process.poll() is not None:
                lines = open(errors).read().splitlines()
                raise RuntimeError(f"{argv[0]} exited {self.process.returncode}: "
                                   f"{lines[-1] if lines else ''}")
            time.sleep(0.05)
        self.stop()
        raise RuntimeError(f"{argv[0]} did not start")

    @property
    def pid(self):
        return self.process.pid

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            self.process.wait(10)


def camera(*options):
    """kovra-camd on a free loopback port, with `options` besides its
    --listen and --port-file, ready when this returns: the one way a stage
    starts a camera. Its port file and stderr are in a folder of its own."""
    folder = tempfile.mkdtemp(prefix="camd.", dir=WORK)
    port_file = os.path.join(folder, "port")
    return Server([CAMD, "--listen", "127.0.0.1:0", "--port-file", port_file, *options],
                  port_file=port_file, errors=os.path.join(folder, "err"))


def median_of(rounds, key):
    return statistics.median(r[key] for r in rounds)


def ratio(rounds, a, b):
    """The median, min and max of a/b taken round by round, both sides of
    each ratio having run under the same load."""
    ratios = sorted(r[a] / r[b] for r in rounds)
    return {"median": statistics.median(ratios), "min": ratios[0], "max": ratios[-1]}


def write(name, figures):
    path = os.path.join(WORK, name + ".json")
    with open(path, "w") as f:
        json.dump(figures, f, indent=1)
    log(f"wrote {path}")
