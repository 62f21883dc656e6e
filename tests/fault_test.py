"""Failures a real server can't cause: system calls failed by strace's fault
injection (Linux only), with the socket released on every failure path, and
the surroundings a parent process may hand over: closed standard
descriptors and a full stdout."""

import errno
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import support
from support import FAILURE, USAGE, failed, hold, output, pause, reply, reset, send, serve

# ptrace rules out LeakSanitizer; the rest of the sanitizers still run.
TRACED_ENV = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
# The program's socket in a trace, and the descriptor it got.
SOCKET_MADE = re.compile(r"socket\(AF_INET, SOCK_STREAM, IPPROTO_IP\) = (\d+)")


def unhonoured(descriptors):
    """Why the command under test can't start with DESCRIPTORS closed, or None."""
    if os.name == "nt":
        return "no POSIX shell to close them with; and Windows sockets are no C run-time descriptors"
    if support.WINDOWS and len(descriptors) == 3:
        return "Wine opens files of its own on the closed descriptors: stdout is then writable"
    if 2 in descriptors and os.path.basename(support.COMMAND[0]) == "valgrind":
        return "valgrind does not start with stderr closed"
    return None


def closing(descriptors):
    """A wrapper that starts the program with DESCRIPTORS closed."""
    return ["sh", "-c", 'exec "$@" ' + " ".join("%d>&-" % fd for fd in descriptors), "sh"]


def strace_usable():
    if support.WINDOWS or not shutil.which("strace"):
        return False
    probe = subprocess.run(["strace", "-qq", "-o", "/dev/null", "true"], capture_output=True, check=False)
    return probe.returncode == 0


@unittest.skipUnless(strace_usable(), "strace can't trace here (missing, no ptrace, or an emulated build)")
class FaultTest(support.ClientTestCase):
    def traced(self, args, strace_options, stdout=None, inner_wrapper=()):
        """Runs the program under strace; returns its result and the trace."""
        with tempfile.NamedTemporaryFile("r") as trace:
            wrapper = ["strace", "-f", "-qq", "-o", trace.name] + strace_options + list(inner_wrapper)
            got = support.run(args, wrapper=wrapper, stdout=stdout, env=TRACED_ENV)
            return got, trace.read()

    def test_injected_failures(self):
        cases = [
            # syscall  error  server script (None: nothing accepts)  expected stdout
            ("poll,ppoll", "ENOMEM", None, output(b"Failed to load Winsock.\n")),  # arm64 has only ppoll
            ("socket", "EMFILE", None, failed("socket", errno.EMFILE)),
            ("connect", "ETIMEDOUT", None, failed("connect", errno.ETIMEDOUT)),
            ("recvfrom", "EIO", [send(b"lost"), hold], failed("recv", errno.EIO)),
        ]
        for syscall, error, script, stdout in cases:
            with self.subTest(syscall), support.endpoint(script) as address:
                inject = ["-e", "trace=" + syscall, "-e", "inject=%s:error=%s" % (syscall, error)]
                got, _ = self.traced([address], inject)
                self.assertEqual(got, (stdout, b"", FAILURE))

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
            with self.subTest(name), support.endpoint(script) as address, open(path, "wb") as stdout:
                (_, stderr, got_status), trace = self.traced([address], ["-e", "trace=socket,close"], stdout)
                self.assertEqual((stderr, got_status), (b"", status))
                made = SOCKET_MADE.search(trace)
                self.assertRegex(trace[made.end():], r"close\(%s\) += 0" % made.group(1))

    def test_socket_never_takes_a_standard_descriptor(self):
        reason = unhonoured((0, 1, 2))
        if reason:
            self.skipTest(reason)
        with serve([send(b"x"), hold]) as address:
            (_, _, status), trace = self.traced([address], ["-e", "trace=socket"], inner_wrapper=closing((0, 1, 2)))
        self.assertEqual(status, FAILURE)
        made = SOCKET_MADE.search(trace)
        self.assertGreater(int(made.group(1)), 2)

    def test_usage_makes_no_network_call(self):
        got, trace = self.traced([], ["-e", "trace=%network", "-e", "signal=none"])
        self.assertEqual(got, (USAGE, b"", FAILURE))
        self.assertEqual(trace, "")


class OutputTest(support.ClientTestCase):
    def test_closed_standard_descriptors(self):
        # A socket must never take a closed standard descriptor: what is
        # printed would travel to the server.  serve() checks that nothing did.
        cases = [
            # closed    expected stdout    status
            ((0,),      reply(b"hello\n"), 0),
            ((1,),      b"",               FAILURE),  # the reply reached nobody
            ((2,),      reply(b"hello\n"), 0),
            ((0, 1, 2), b"",               FAILURE),
        ]
        for closed, stdout, status in cases:
            with self.subTest(closed=closed):
                reason = unhonoured(closed)
                if reason:
                    self.skipTest(reason)
                with serve([send(b"hello\n"), hold]) as address:
                    self.check([address], stdout, status, wrapper=closing(closed))

    @unittest.skipUnless(os.path.exists("/dev/full"), "no /dev/full here")
    def test_unwritable_stdout_is_a_failure(self):
        # A reply that never reached stdout was not delivered.
        with serve([send(b"lost"), hold]) as address, open("/dev/full", "wb") as full:
            self.check([address], None, FAILURE, stdout=full)


if __name__ == "__main__":
    support.main()
