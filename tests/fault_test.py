"""Failures a real server can't cause: system calls failed by strace's fault
injection (Linux only), the socket calls of a run and the socket released on
every failure path, and the surroundings that the process which starts it
may hand over: closed standard descriptors, a full stdout, a stdout nobody
reads, a file-size limit."""

import contextlib
import errno
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import support
from support import FAILURE, NO_SOCKET_LIBRARY, USAGE, failed, hold, output, pause, reply, reset, send, serve

# ptrace rules out LeakSanitizer; the rest of the sanitizers still run.
TRACED_ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
# The program's socket in a trace, and the descriptor it got.
SOCKET_MADE = re.compile(r"socket\(AF_INET, SOCK_STREAM, IPPROTO_IP\) = (\d+)")
LAUNCHER = os.path.basename(support.COMMAND[0])
READER_GONE = "a pipe whose reader has gone"
A_FILE = "a file"


def why_strace_cannot():
    """Why strace can't show the program's system calls here, or None."""
    if os.name == "nt":
        return "Windows: no strace"
    if support.WINDOWS:
        return "Wine: strace would show Wine's system calls, not the program's socket calls"
    if not shutil.which("strace"):
        return "strace: not installed"
    probe = subprocess.run(["strace", "-qq", "-o", "/dev/null", "true"], capture_output=True, text=True, check=False)
    return "strace: can't trace here (%s)" % probe.stderr.strip().split("\n")[-1] if probe.returncode != 0 else None


NO_STRACE = why_strace_cannot()


def endpoint(script):
    """serve(SCRIPT), or, for None, an address where nothing listens."""
    return support.nothing_listening() if script is None else serve(script)


def traced(args, strace_options, **run_options):
    """Runs the program under strace; returns its result and the trace.  The
    process alone is traced, not the threads it starts: qemu's helper thread
    would split the lines of the program's calls."""
    with tempfile.NamedTemporaryFile("r") as trace:
        wrapper = ["strace", "-qq", "-o", trace.name] + strace_options + list(run_options.pop("wrapper", ()))
        return support.run(args, wrapper=wrapper, env=TRACED_ENV, **run_options), trace.read()


def skip_reason(closed, stdout_kind, shell_first):
    """Why the command under test can't be started so here, or None."""
    size_limited = "ulimit -f" in (shell_first or "")
    if os.name == "nt" and (closed or shell_first):
        return "Windows: no POSIX shell to start it with; its sockets are no C run-time descriptors, and it has no SIGPIPE"
    if support.WINDOWS and len(closed) == 3:
        return "Wine: it opens files of its own on the closed descriptors, so stdout is writable"
    if support.WINDOWS and size_limited:
        return "Wine: Windows has no file-size limit, and Wine leaves SIGXFSZ to end the process"
    if LAUNCHER == "valgrind" and 2 in closed:
        return "valgrind: it does not start with stderr closed"
    if LAUNCHER == "valgrind" and size_limited:
        return "valgrind: it does not write its own files over the size limit"
    if stdout_kind is not None and stdout_kind.startswith("/") and not os.path.exists(stdout_kind):
        return "%s: not on this system" % stdout_kind
    return None


def shell_wrapper(closed, shell_first):
    """A wrapper that starts the program from a shell that first runs
    SHELL_FIRST (or nothing) and closes the CLOSED descriptors."""
    if not closed and not shell_first:
        return []
    script = (shell_first + "; " if shell_first else "") + 'exec "$@"'
    return ["sh", "-c", script + "".join(" %d>&-" % fd for fd in closed), "sh"]


@contextlib.contextmanager
def stdout_as(kind):
    """A pipe that the harness reads (for None), or a file of that KIND to
    write to: a path, A_FILE (a new one) or READER_GONE."""
    if kind == READER_GONE:
        reader, kind = os.pipe()
        os.close(reader)
    with (tempfile.TemporaryFile() if kind == A_FILE else contextlib.nullcontext(subprocess.PIPE) if kind is None
          else open(kind, "wb")) as file:
        yield file


@unittest.skipIf(NO_STRACE, NO_STRACE)
class FaultTest(support.ClientTestCase):
    def test_injected_failures(self):
        cases = [
            # syscall  error     server script (None: nothing accepts)  expected stdout
            ("fcntl", "EIO", None, output(NO_SOCKET_LIBRARY)),
            ("socket", "EMFILE", None, failed("socket", errno.EMFILE)),
            ("connect", "ETIMEDOUT", None, failed("connect", errno.ETIMEDOUT)),
            ("recvfrom", "EIO", [send(b"lost"), hold], failed("recv", errno.EIO)),
        ]
        for syscall, error, script, stdout in cases:
            with self.subTest(syscall), endpoint(script) as address:
                if syscall == "fcntl" and LAUNCHER == "valgrind":
                    self.skipTest("valgrind: its own start-up needs fcntl")
                got, trace = traced([address], ["-e", "trace=%s,%%file" % syscall,
                                                "-e", "inject=%s:error=%s" % (syscall, error)])
                self.assertEqual(got, (stdout, b"", FAILURE))
                # /dev/null is opened only for a closed descriptor; a failed fcntl shows none.
                self.assertNotRegex(trace, r'open(at)?\([^)]*"/dev/null"')

    def test_socket_calls_of_a_run(self):
        # Connect, one receive of 1024 bytes with no flags, close: no option,
        # no time-out, nothing sent.
        with serve([send(b"hello"), hold]) as address:
            got, trace = traced([address], [])
        self.assertEqual(got, (reply(b"hello"), b"", 0))
        made = SOCKET_MADE.search(trace)
        calls = [re.sub(r" +=", " =", call)
                 for call in re.findall(r"^\w+\(%s\b.*$" % made.group(1), trace[made.end():], re.MULTILINE)]
        if LAUNCHER == "valgrind":
            # valgrind 3.24 and later ask for the socket's type and addresses
            # as it is closed, to name it in later reports.  After the close,
            # valgrind reads files through the same number.
            calls = [call for call in calls[:calls.index("close(%s) = 0" % made.group(1)) + 1]
                     if not re.match(r"get(sockopt|sockname|peername)\(", call)]
        self.assertEqual(calls, [
            'connect(%s, {sa_family=AF_INET, sin_port=htons(%d), sin_addr=inet_addr("%s")}, 16) = 0'
            % (made.group(1), support.PORT, address),
            'recvfrom(%s, "hello", 1024, 0, NULL, NULL) = 5' % made.group(1),
            "close(%s) = 0" % made.group(1),
        ])
        self.assertNotRegex(trace, r"(?m)^(setsockopt|send|sendto|sendmsg|sendmmsg)\(")

    def test_socket_closed_on_every_failure(self):
        cases = [
            # name  server script (None: refused)  stdout goes to  status
            ("refused", None, os.devnull, FAILURE),
            ("closed unsent", [], os.devnull, FAILURE),
            ("reset", [pause(0.3), reset], os.devnull, FAILURE),
            ("stdout full", [send(b"x"), hold], "/dev/full", FAILURE),
            ("success", [send(b"x"), hold], os.devnull, 0),
        ]
        for name, script, path, status in cases:
            with self.subTest(name), endpoint(script) as address, open(path, "wb") as stdout:
                (_, stderr, got_status), trace = traced([address], ["-e", "trace=socket,close"], stdout=stdout)
                self.assertEqual((stderr, got_status), (b"", status))
                made = SOCKET_MADE.search(trace)
                self.assertRegex(trace[made.end():], r"close\(%s\) += 0" % made.group(1))

    def test_usage_makes_no_network_call(self):
        got, trace = traced([], ["-e", "trace=%network", "-e", "signal=none"])
        self.assertEqual(got, (USAGE, b"", FAILURE))
        self.assertEqual(trace, "")


class OutputTest(support.ClientTestCase):
    def test_surroundings_it_is_started_in(self):
        # A socket must never take a closed standard descriptor: what is
        # printed would then go to the server.  serve() checks that the client
        # sent nothing, and strace that the socket's number is above 2
        # (Windows' sockets are no such descriptors).  A line that reached
        # nobody is a failure, the usage line's too.  A file must hold
        # nothing but the line.
        cases = [
            # closed    stdout is     the shell first runs  address  expected stdout    status
            ((0,),      None,         None,                 True,    reply(b"hello\n"), 0),
            ((1,),      None,         None,                 True,    b"",               FAILURE),
            ((2,),      None,         None,                 True,    reply(b"hello\n"), 0),
            ((0, 1, 2), None,         None,                 True,    b"",               FAILURE),
            ((),        "/dev/full",  None,                 True,    None,              FAILURE),
            ((),        READER_GONE,  None,                 True,    None,              FAILURE),
            ((),        READER_GONE,  'trap "" PIPE',       True,    None,              FAILURE),
            ((),        A_FILE,       "ulimit -f 0",        True,    b"",               FAILURE),
            ((),        READER_GONE,  None,                 False,   None,              FAILURE),
            ((),        A_FILE,       "ulimit -f 0",        False,   b"",               FAILURE),
        ]
        for closed, stdout_kind, shell_first, address_given, stdout, status in cases:
            with self.subTest(closed=closed, stdout=stdout_kind, shell_first=shell_first, address=address_given):
                reason = skip_reason(closed, stdout_kind, shell_first)
                if reason:
                    self.skipTest(reason)
                # Without an address, the server must see no connection.
                with serve(*[[send(b"hello\n"), hold]] * address_given) as address, stdout_as(stdout_kind) as file:
                    args = [address] * address_given
                    options = dict(wrapper=shell_wrapper(closed, shell_first), stdout=file)
                    if LAUNCHER == "valgrind" and closed:
                        # The dynamic loader opens and closes libraries on a closed
                        # descriptor.  valgrind 3.24 then reports the program's
                        # fcntl on it as the use of a closed descriptor, and its
                        # suppression files can't name that report (FdBadUse).  These
                        # rows run without valgrind's descriptor tracking; the
                        # traced cases check that the socket is closed.
                        options["command"] = [arg for arg in support.COMMAND if arg != "--track-fds=yes"]
                    if NO_STRACE:
                        got, trace = support.run(args, **options), None
                    else:
                        got, trace = traced(args, ["-e", "trace=socket"], **options)
                    if stdout_kind == A_FILE:
                        file.seek(0)
                        got = (file.read(),) + got[1:]
                    self.assertEqual(got, (stdout, b"", status))
                if trace is not None and address_given:
                    self.assertGreater(int(SOCKET_MADE.search(trace).group(1)), 2)
                elif not support.WINDOWS and address_given:
                    self.skipTest(NO_STRACE + "; the socket's descriptor is not checked")


if __name__ == "__main__":
    support.main()
