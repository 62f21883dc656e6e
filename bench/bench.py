#!/usr/bin/env python3
"""Measures the client against the tools a user would otherwise reach for to
get one message from a server: netcat, socat and bash's /dev/tcp.

A loopback server answers each connection with a short reply and closes it.
For each tool the script reports the median wall time per run (hyperfine),
user-space instructions per run (callgrind), system calls per run (strace -c),
peak resident memory (GNU time) and the size of its executable, then writes
the table to bench/RESULTS.md.

    bench/bench.py           full run, writes bench/RESULTS.md
    bench/bench.py --quick   few runs, writes build/bench/RESULTS.md

Every tool runs with the same minimal environment, since glibc's start-up
cost grows with the number of environment variables.
"""

import argparse
import json
import os
import platform
import random
import re
import shlex
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "bench")
PORT = 5050
REPLY = b"hello from the server\n"
ENV = {"PATH": "/usr/local/bin:/usr/bin:/bin", "HOME": "/nonexistent", "LANG": "C"}


def sh(*command, **options):
    return subprocess.run(command, check=True, text=True, capture_output=True, **options).stdout


def build():
    """The two Linux programs as the release ships them (the static PIE of the
    .tar.gz, the dynamic one of the .deb), and client.exe when mingw-w64 is
    there."""
    programs = {}
    for name, package in [("static", ["-DCLIENT_STATIC=ON"]), ("dynamic", ["-DCLIENT_PACKAGE=deb"])]:
        folder = os.path.join(BUILD, name)
        sh("cmake", "-S", ROOT, "-B", folder, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
           *package)
        sh("cmake", "--build", folder)
        programs[name] = os.path.join(folder, "client")
    # The floor: what any statically linked program costs to start and end,
    # without the client's defences, so that it also shows what they cost.
    os.makedirs(BUILD, exist_ok=True)
    floor = os.path.join(BUILD, "floor")
    with open(floor + ".cpp", "w") as source:
        source.write("int main() { return 0; }\n")
    sh("g++", "-O2", "-static", "-s", floor + ".cpp", "-o", floor)
    programs["floor"] = floor
    if shutil.which("x86_64-w64-mingw32-g++-posix"):
        sh("cmake", "--preset", "windows", cwd=ROOT)
        sh("cmake", "--build", "--preset", "windows", cwd=ROOT)
        programs["windows"] = os.path.join(ROOT, "build", "windows", "client.exe")
    return programs


def start_server():
    """Answers every connection with REPLY and closes it. It polls accept()
    instead of sleeping in it, so that no tool waits on the server's wake-up."""
    rng = random.Random()
    while True:
        address = "127.%d.%d.%d" % (rng.randint(1, 254), rng.randint(0, 255), rng.randint(1, 254))
        listener = socket.socket()
        try:
            listener.bind((address, PORT))
            break
        except OSError:
            listener.close()
    listener.listen(512)
    listener.setblocking(False)

    def serve():
        while True:
            try:
                conn, _ = listener.accept()
            except BlockingIOError:
                continue
            conn.setblocking(True)
            try:
                conn.sendall(REPLY)
            except OSError:
                pass
            conn.close()

    threading.Thread(target=serve, daemon=True).start()
    return address


def peers(programs, address):
    """(name, command line, executable) for each tool doing the same job."""
    bash = shutil.which("bash")
    return [
        ("client", [programs["static"], address], programs["static"]),
        ("client, dynamic", [programs["dynamic"], address], programs["dynamic"]),
        ("nc", ["nc", address, str(PORT)], os.path.realpath(shutil.which("nc"))),
        ("socat", ["socat", "-u", "TCP:%s:%d" % (address, PORT), "STDOUT"], shutil.which("socat")),
        ("bash /dev/tcp", [bash, "-c", 'read -r line </dev/tcp/%s/%d; echo "$line"' % (address, PORT)], bash),
    ]


def median_wall_ms(commands, runs, warmup, rounds):
    """Median over RUNS runs of each command, taken in ROUNDS alternating
    rounds so that a drift in the machine's speed does not favour one tool."""
    times = [[] for _ in commands]
    for round_number in range(rounds):
        order = list(range(len(commands)))
        if round_number % 2:
            order.reverse()
        with tempfile.NamedTemporaryFile("r", suffix=".json") as report:
            sh("hyperfine", "-N", "--style", "none", "--warmup", str(warmup), "--runs", str(runs // rounds),
               "--export-json", report.name, *[shlex.join(commands[i]) for i in order], env=ENV)
            for i, result in zip(order, json.load(report)["results"]):
                times[i] += result["times"]
    return [statistics.median(samples) * 1000 for samples in times]


def instructions(command, env=None):
    """Callgrind's total of user-space instructions, over every process."""
    with tempfile.TemporaryDirectory() as folder:
        sh("valgrind", "--tool=callgrind", "--trace-children=yes",
           "--callgrind-out-file=%s/callgrind.%%p" % folder, *command, env=env or ENV)
        total = 0
        for name in os.listdir(folder):
            with open(os.path.join(folder, name)) as out:
                total += sum(int(line.split()[1]) for line in out if line.startswith("totals:"))
        return total


def system_calls(command):
    """strace -c's count: it includes execve, not the final exit_group."""
    with tempfile.NamedTemporaryFile("r") as summary:
        sh("strace", "-f", "-c", "-o", summary.name, *command, env=ENV)
        return int(re.search(r"^\s*[\d.]+\s+[\d.]+\s+\d+\s+(\d+)(?:\s+\d+)?\s+total$",
                             summary.read(), re.MULTILINE).group(1))


def peak_rss_kib(command):
    samples = []
    for _ in range(5):
        with tempfile.NamedTemporaryFile("r") as out:
            sh("/usr/bin/time", "-f", "%M", "-o", out.name, *command, env=ENV)
            samples.append(int(out.read().split()[-1]))
    return statistics.median(samples)


def check_output(name, command):
    got = subprocess.run(command, capture_output=True, env=ENV, timeout=30)
    if got.returncode != 0 or REPLY.strip() not in got.stdout:
        sys.exit("bench: %s did not get the reply: %r" % (name, got))


def version(command):
    try:
        out = subprocess.run(command, capture_output=True, text=True, timeout=30)
    except OSError:
        return "?"
    lines = (out.stdout or out.stderr).strip().splitlines()
    return next((line.strip() for line in lines if re.search(r"\d", line)), "?")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="few runs, only to keep the script working")
    options = parser.parse_args()
    runs, warmup, rounds = (30, 5, 1) if options.quick else (2000, 100, 10)

    subprocess.run([os.path.join(ROOT, "scripts", "setup.sh"), "linux", "bench"], check=True)
    programs = build()
    address = start_server()
    tools = peers(programs, address)
    for name, command, _ in tools:
        check_output(name, command)
    tools.append(("floor: `int main() {}`, static, no defences", [programs["floor"]], programs["floor"]))

    walls = median_wall_ms([command for _, command, _ in tools], runs, warmup, rounds)
    rows = []
    for (name, command, executable), wall in zip(tools, walls):
        rows.append({"name": name, "wall": wall, "instructions": instructions(command),
                     "syscalls": system_calls(command), "rss": peak_rss_kib(command),
                     "size": os.path.getsize(executable)})

    ours = rows[0]
    lines = [
        "# Benchmark: one message from a loopback server",
        "",
        "Each tool connects to a server on 127.x.y.z:5050 that sends %d bytes and closes,"
        " and prints what it got. Medians over %d runs of each (hyperfine -N, in %d rounds that alternate"
        " the order of the tools, each after %d warm-up runs);"
        " instructions are callgrind's user-space total for one run, start-up included;"
        " system calls are strace -c's count for one run (execve included, exit_group not)."
        " Sizes are of the executable file alone (shared libraries not counted)."
        " The last row is no tool: it is an empty program, statically linked without the client's"
        " defences (no PIE, no RELRO), that does nothing and shows what starting and ending a"
        " process costs here." % (len(REPLY), runs, rounds, warmup),
        "",
        "| tool | median wall (ms) | x client | instructions | x client | system calls | peak RSS (KiB) | file size (bytes) |",
        "|---|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for row in rows:
        lines.append("| %s | %.3f | %.2f | %d | %.1f | %d | %d | %d |" % (
            row["name"], row["wall"], row["wall"] / ours["wall"], row["instructions"],
            row["instructions"] / ours["instructions"], row["syscalls"], row["rss"], row["size"]))
    if "windows" in programs:
        lines += ["", "Windows `client.exe` (static, mingw-w64): %d bytes." % os.path.getsize(programs["windows"])]
    by_name = {row["name"]: row for row in rows}
    lines += [
        "",
        "Targets: client instructions %d (at most 45,000), system calls %d (at most 24),"
        " wall time %.2f of nc's (at most 0.5), %.2f of socat's (at most 0.25) and %.2f times"
        " the floor (at most 1.8)." % (
            ours["instructions"], ours["syscalls"], ours["wall"] / by_name["nc"]["wall"],
            ours["wall"] / by_name["socat"]["wall"], ours["wall"] / rows[-1]["wall"]),
        "",
        "With the environment of the shell that ran the benchmark (%d variables) the client's count"
        " is %d instructions: glibc's start-up compares every variable with its tunables." % (
            len(os.environ), instructions(tools[0][1], env=dict(os.environ))),
        "",
        "## Machine",
        "",
        "- %s, %d cores, %s" % (platform.platform(), os.cpu_count(), platform.processor() or platform.machine()),
        "- %s" % version(["g++", "--version"]),
        "- %s" % version(["hyperfine", "--version"]),
        "- %s" % version(["valgrind", "--version"]),
        "- %s" % version(["strace", "-V"]),
        "- nc: netcat-openbsd %s" % version(["dpkg-query", "-W", "-f=${Version}", "netcat-openbsd"]),
        "- %s" % version(["socat", "-V"]),
        "- %s" % version(["bash", "--version"]),
        "",
        "## Reproduce",
        "",
        "```sh",
        "bench/bench.py" + (" --quick" if options.quick else ""),
        "```",
    ]
    os.makedirs(BUILD, exist_ok=True)
    target = os.path.join(BUILD if options.quick else os.path.join(ROOT, "bench"), "RESULTS.md")
    with open(target, "w") as out:
        out.write("\n".join(lines) + "\n")
    print("\n".join(lines))
    print("\nbench: wrote %s" % os.path.relpath(target, ROOT))


if __name__ == "__main__":
    main()
