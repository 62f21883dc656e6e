#!/usr/bin/env python3
"""Measures the client against the tools a user would otherwise reach for to
get one message from a server: netcat, socat and bash's /dev/tcp.

A loopback server answers each connection with a short reply and closes it.
For each tool the script reports the median wall time per run (hyperfine),
user-space instructions per run (callgrind), system calls per run (strace -c),
peak resident memory (GNU time) and the size of its executable, then writes
the table to bench/RESULTS.md.  For the client, it also counts the
instructions and system calls of a run whose stdout is a terminal (a
pseudo-terminal), for that reply and for a reply that is all control
bytes, in a locale that names no character set and in a UTF-8 one.  The
client is built as the release ships it, through the presets of its
packages.

    bench/bench.py           full run, writes bench/RESULTS.md
    bench/bench.py --quick   few runs, writes build/bench/RESULTS.md

Every tool runs with an empty environment, since glibc's start-up cost grows
with the number of environment variables; the instructions are also counted
with the environment of the caller, which is what a user sees.
"""

import argparse
import json
import os
import platform
import re
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "bench")
sys.path.insert(0, os.path.join(ROOT, "tests"))  # the suite's loopback helper
from loopback import PORT, own_loopback_socket

REPLY = b"hello from the server\n"
# 1024 bytes that a terminal is shown as \x9b each: the most work and output
# for the terminal path.
CONTROLS = b"\x9b" * 1024
EMPTY = {}
# The system calls include the one that asks whether stdout is a terminal.
TARGETS = {"instructions": 34000, "system calls": 26, "wall, x the empty static program": 1.5}


def sh(*command, **options):
    return subprocess.run(command, check=True, text=True, capture_output=True, **options).stdout


def build():
    """The client of the .tar.gz and of the .deb, from the presets that make
    them; an empty static program; and client.exe when mingw-w64 is there."""
    programs = {}
    presets = [("static", "default"), ("dynamic", "deb")]
    if shutil.which("x86_64-w64-mingw32-g++-posix"):
        presets.append(("windows", "windows"))
    for name, preset in presets:
        # CMake's warnings go to stderr, where CI looks for them.
        for command in [["--preset", preset], ["--build", "--preset", preset, "--target", "client"]]:
            subprocess.run(["cmake"] + command, cwd=ROOT, stdout=subprocess.DEVNULL, check=True)
        programs[name] = os.path.join(ROOT, "build", preset, "client.exe" if name == "windows" else "client")
    # What any statically linked glibc program costs to start and end,
    # without the client's defences, so that it also shows what they cost.
    os.makedirs(BUILD, exist_ok=True)
    empty = os.path.join(BUILD, "empty")
    with open(empty + ".cpp", "w") as source:
        source.write("int main() { return 0; }\n")
    sh("g++", "-O2", "-static", "-s", empty + ".cpp", "-o", empty)
    programs["empty"] = empty
    return programs


def start_server(reply):
    """Answers every connection with REPLY and closes it, blocked in accept()
    in between."""
    listener = own_loopback_socket()
    if listener is None:
        sys.exit("bench: this system has no loopback address but 127.0.0.1")
    listener.listen(512)

    def serve():
        while True:
            conn, _ = listener.accept()
            try:
                conn.sendall(reply)
            except OSError:
                pass
            conn.close()

    threading.Thread(target=serve, daemon=True).start()
    return listener.getsockname()[0]


def peers(programs, address):
    """(name, command line, executable) for each tool doing the same job,
    by absolute path, since the environment holds no PATH."""
    bash, nc, socat = (shutil.which(tool) for tool in ("bash", "nc", "socat"))
    return [
        ("client", [programs["static"], address], programs["static"]),
        ("client, dynamic (.deb)", [programs["dynamic"], address], programs["dynamic"]),
        ("nc", [nc, address, str(PORT)], os.path.realpath(nc)),
        ("socat", [socat, "-u", "TCP:%s:%d" % (address, PORT), "STDOUT"], socat),
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
               "--export-json", report.name, *[shlex.join(commands[i]) for i in order], env=EMPTY)
            for i, result in zip(order, json.load(report)["results"]):
                times[i] += result["times"]
    return [statistics.median(samples) * 1000 for samples in times]


def instructions(command, env, stdout=subprocess.PIPE):
    """Callgrind's total of user-space instructions, over every process."""
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run(["valgrind", "--tool=callgrind", "--trace-children=yes",
                        "--callgrind-out-file=%s/callgrind.%%p" % folder] + command,
                       env=env, stdout=stdout, stderr=subprocess.PIPE, check=True)
        total = 0
        for name in os.listdir(folder):
            with open(os.path.join(folder, name)) as out:
                total += sum(int(line.split()[1]) for line in out if line.startswith("totals:"))
        return total


def system_calls(command, stdout=subprocess.PIPE, env=EMPTY):
    """strace -c's count: it includes execve, not the final exit_group."""
    with tempfile.NamedTemporaryFile("r") as summary:
        subprocess.run(["strace", "-f", "-c", "-o", summary.name] + command,
                       env=env, stdout=stdout, stderr=subprocess.PIPE, check=True)
        return int(re.search(r"^\s*[\d.]+\s+[\d.]+\s+\d+\s+(\d+)(?:\s+\d+)?\s+total$",
                             summary.read(), re.MULTILINE).group(1))


def peak_rss_kib(command):
    samples = []
    for _ in range(5):
        with tempfile.NamedTemporaryFile("r") as out:
            sh("/usr/bin/time", "-f", "%M", "-o", out.name, *command, env=EMPTY)
            samples.append(int(out.read().split()[-1]))
    return statistics.median(samples)


def check_output(name, command):
    got = subprocess.run(command, capture_output=True, env=EMPTY, timeout=30)
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
    # The server and the tools share one CPU: a wake-up across CPUs costs
    # more than the client's own work on a virtual machine, and varies more.
    cpu = min(os.sched_getaffinity(0))
    os.sched_setaffinity(0, {cpu})
    address = start_server(REPLY)
    tools = peers(programs, address)
    for name, command, _ in tools:
        check_output(name, command)
    tools.append(("empty static program: `int main() {}`, no defences", [programs["empty"]], programs["empty"]))

    walls = median_wall_ms([command for _, command, _ in tools], runs, warmup, rounds)
    rows = []
    for (name, command, executable), wall in zip(tools, walls):
        rows.append({"name": name, "wall": wall, "instructions": instructions(command, EMPTY),
                     "instructions, caller's": instructions(command, dict(os.environ)),
                     "system calls": system_calls(command), "rss": peak_rss_kib(command),
                     "size": os.path.getsize(executable)})

    # The static client again, with stdout on a new pseudo-terminal, which
    # holds more than one run's output.  The locale decides whether the
    # terminal is given UTF-8 or ASCII only.
    on_a_terminal = []
    for reply, server in [("the reply above (%d bytes)" % len(REPLY), address),
                          ("1024 bytes 0x9B, each shown as `\\x9b`", start_server(CONTROLS))]:
        for locale, env in [("none set", EMPTY), ("`LANG=C.UTF-8`", {"LANG": "C.UTF-8"})]:
            command = [programs["static"], server]
            counts = []
            for measure in [lambda stdout: instructions(command, env, stdout),
                            lambda stdout: system_calls(command, stdout, env)]:
                controller, terminal = os.openpty()
                counts.append(measure(terminal))
                os.close(terminal)
                os.close(controller)
            on_a_terminal.append([reply, locale] + counts)

    ours, empty = rows[0], rows[-1]
    measured = {"instructions": ours["instructions"], "system calls": ours["system calls"],
                "wall, x the empty static program": ours["wall"] / empty["wall"]}
    lines = [
        "# Benchmark: one message from a loopback server",
        "",
        "Each tool connects to a server on 127.x.y.z:%d that sends %d bytes and closes,"
        " and prints what it got, with an empty environment. Medians over %d runs of each (hyperfine -N,"
        " in %d rounds that alternate the order of the tools, each after %d warm-up runs);"
        " instructions are callgrind's user-space total for one run, start-up included, with an empty"
        " environment and with that of the caller (%d variables), whose every variable glibc's start-up"
        " compares with its tunables;"
        " system calls are strace -c's count for one run (execve included, exit_group not)."
        " Sizes are of the executable file alone (shared libraries not counted)."
        " The client is the static PIE of the .tar.gz, the dynamic one of the .deb."
        " The server and every tool run on one CPU (CPU %d), so that no wake-up crosses CPUs."
        " The last row is no tool: it is an empty program, statically linked without the client's"
        " defences (no PIE, no RELRO), that does nothing and shows what starting and ending a"
        " process costs here." % (PORT, len(REPLY), runs, rounds, warmup, len(os.environ), cpu),
        "",
        "| tool | median wall (ms) | x client | instructions | x client | instructions, caller's environment"
        " | system calls | peak RSS (KiB) | file size (bytes) |",
        "|---|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for row in rows:
        lines.append("| %s | %.3f | %.2f | %d | %.1f | %d | %d | %d | %d |" % (
            row["name"], row["wall"], row["wall"] / ours["wall"], row["instructions"],
            row["instructions"] / ours["instructions"], row["instructions, caller's"], row["system calls"],
            row["rss"], row["size"]))
    lines += [
        "",
        "The client with stdout a terminal (a pseudo-terminal), which is shown every control byte as visible"
        " text, in UTF-8 or in ASCII as the locale says; instructions and system calls as above, where stdout"
        " is a pipe. The environment holds the locale's variable alone:",
        "",
        "| reply | locale | instructions | system calls |",
        "|---|---|---:|---:|",
    ] + ["| %s | %s | %d | %d |" % tuple(row) for row in on_a_terminal]
    if "windows" in programs:
        lines += ["", "Windows `client.exe` (static, mingw-w64): %d bytes." % os.path.getsize(programs["windows"])]
    lines += [
        "",
        "Targets, for the static client with an empty environment:",
        "",
        "| measure | measured | at most | met |",
        "|---|---:|---:|---|",
    ] + ["| %s | %s | %s | %s |" % (measure, round(measured[measure], 2), limit,
                                    "yes" if measured[measure] <= limit else "no")
         for measure, limit in TARGETS.items()] + [
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
    # CI's tally, where it keeps one: that the benchmark ran, and what it measured.
    if os.environ.get("CLIENT_TEST_TALLY"):
        with open(os.environ["CLIENT_TEST_TALLY"], "a") as tally:
            tally.write("%s: %d programs measured\n" % ("bench --quick" if options.quick else "bench", len(rows)))


if __name__ == "__main__":
    main()
