#!/usr/bin/env python3
"""Runs the shell examples of the README and the manual pages that are
marked runnable, against a build, and fails on any that exits non-zero.

The marker:
  - Markdown: a fenced block whose info string is "sh runnable"
    (```sh runnable). Renderers colour it by its first word alone.
  - roff: the comment line `.\\" runnable` right before a `.nf` ... `.fi`
    block; roff's escapes in it are undone as man shows them.
A block not marked (installing packages, a real camera, a long build) is
only read, never run.

Each block runs as one `bash -e -o pipefail` script, as if pasted into a
shell at the top of a checkout whose build is the one tested: in a fresh
temporary folder that links to every file and folder of the checkout,
where `build/default` is that build, with the build's programs first on
PATH and its libraries on LD_LIBRARY_PATH, under `timeout`. What a block
writes by a relative name stays in that folder. Where the machine allows it, the block runs in a network
namespace of its own, whose loopback is its only interface: the
examples' fixed ports (7570, 7571) can then clash with nothing, and nothing
leaves the machine. Whatever a block leaves running in the background is
killed when it ends.

Usage: run_doc_blocks.py SOURCE_DIR BUILD_DIR SECONDS FILE...
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROFF_ESCAPES = [
    (r"\-", "-"),
    (r"\(aq", "'"),
    (r"\(dq", '"'),
    (r"\e", "\\"),
    (r"\fB", ""),
    (r"\fI", ""),
    (r"\fR", ""),
    (r"\fP", ""),
    (r"\&", ""),
]


def markdown_blocks(text):
    blocks, lines, inside, runnable, start = [], [], False, False, 0
    for number, line in enumerate(text.splitlines(), 1):
        fence = re.match(r"^```(.*)$", line)
        if fence and not inside:
            inside, runnable, start, lines = True, fence.group(1).split() == ["sh", "runnable"], number, []
        elif fence and inside:
            inside = False
            if runnable:
                blocks.append((start, "\n".join(lines)))
        elif inside:
            lines.append(line)
    return blocks


def roff_blocks(text):
    blocks, lines, state, start = [], [], None, 0
    for number, line in enumerate(text.splitlines(), 1):
        if state is None and re.match(r'^\.\\"\s*runnable\s*$', line):
            state, start = "marked", number
        elif state == "marked":
            if line.strip() != ".nf":
                sys.exit(f"line {start}: a runnable mark must come right before .nf")
            state, lines = "inside", []
        elif state == "inside" and line.strip() == ".fi":
            state = None
            blocks.append((start, "\n".join(lines)))
        elif state == "inside":
            for escape, plain in ROFF_ESCAPES:
                line = line.replace(escape, plain)
            lines.append(line)
    return blocks


def own_network():
    """Whether `unshare -rn` gives a namespace whose loopback comes up."""
    if not shutil.which("unshare") or not shutil.which("ip"):
        return False
    probe = subprocess.run(["unshare", "-rn", "ip", "link", "set", "lo", "up"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return probe.returncode == 0


def stop_group(group):
    for sig, grace in ((signal.SIGTERM, 5.0), (signal.SIGKILL, 0)):
        try:
            os.killpg(group, sig)
        except ProcessLookupError:
            return
        waited = 0.0
        while waited < grace:
            try:
                os.killpg(group, 0)
            except ProcessLookupError:
                return
            time.sleep(0.1)
            waited += 0.1


def run(block, where, source, build, seconds, isolated):
    work = tempfile.mkdtemp(prefix="doc-block-")
    try:
        for name in os.listdir(source):
            if name not in ("build", ".git"):
                os.symlink(os.path.join(source, name), os.path.join(work, name))
        os.makedirs(os.path.join(work, "build"))
        os.symlink(build, os.path.join(work, "build", "default"))
        env = dict(os.environ)
        env["PATH"] = os.pathsep.join(
            [os.path.join(build, "src"), os.path.join(build, "kovra_sim"), env.get("PATH", "")])
        env["LD_LIBRARY_PATH"] = os.path.join(build, "kovra_sim")
        env["TMPDIR"] = work
        script = os.path.join(work, "block.sh")
        with open(script, "w") as f:
            f.write(block + "\n")
        # --foreground keeps the block in this session's process group, where
        # what it leaves running is found afterwards.
        command = ["timeout", "--foreground", "-k", "5", str(seconds),
                   "bash", "-e", "-o", "pipefail", script]
        if isolated:
            command = ["unshare", "-rn", "sh", "-c", 'ip link set lo up && exec "$@"', "sh"] + command
        log = os.path.join(work, "output")
        with open(log, "w") as out:
            process = subprocess.Popen(command, cwd=work, env=env, stdout=out,
                                       stderr=subprocess.STDOUT, start_new_session=True)
            try:
                status = process.wait(timeout=seconds + 30)
            except subprocess.TimeoutExpired:
                status = "no end"
            # Daemons a block started in the background end with it: asked
            # first, so that they stop as they would be stopped, then killed.
            stop_group(process.pid)
        with open(log, errors="replace") as f:
            said = f.read()
        print(f"=== {where}: exit {status}")
        print(block)
        print("--- output (last 40 lines)")
        print("\n".join(said.splitlines()[-40:]))
        return status == 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    source, build = os.path.realpath(sys.argv[1]), os.path.realpath(sys.argv[2])
    seconds = int(sys.argv[3])
    isolated = own_network()
    if not isolated:
        print("note: no network namespace here; the blocks use the machine's loopback")
    failed, ran = [], 0
    for path in sys.argv[4:]:
        with open(path) as f:
            text = f.read()
        found = markdown_blocks(text) if path.endswith(".md") else roff_blocks(text)
        for line, block in found:
            ran += 1
            where = f"{os.path.basename(path)}:{line}"
            if not run(block, where, source, build, seconds, isolated):
                failed.append(where)
    print(f"{ran} runnable blocks, {len(failed)} failed {' '.join(failed)}")
    if ran == 0:
        sys.exit("no runnable block found: is the marker still the one this test reads?")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
