"""Harness for the suites that run the program: the command under test,
scripted loopback servers, and the expected bytes on each platform.

Each such suite ends with support.main() and runs as
    python3 tests/NAME_test.py [unittest options] -- COMMAND...
where COMMAND is the program, with any wrapper in front of it (wine, qemu,
valgrind).  A program whose name ends in .exe is held to Windows' rules.
Imported without COMMAND, it gives the texts and codes that the suites
expect, as POSIX prints them.

A run by hand needs no variable but CLIENT_TEST_WS2_32 (winsock).  It may
set verdict.py's, to name and judge the run as CI does, CLIENT_TEST_SEED
and CLIENT_TEST_ROUNDS (random) or CLIENT_TEST_CLIENTS (load), to replay or
resize the workload.
"""

import contextlib
import errno
import functools
import os
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import verdict
from loopback import PORT, own_loopback_socket

# What the program prints.
LABEL = b"recv() data from server: "
USAGE = b"Usage: client [server IP address]\n"
NO_SOCKET_LIBRARY = b"Failed to load Winsock.\n"
FAILED = "%s() Failed: %s\n"  # a socket call's name, its error code
SOCKET_CALLS = ("socket", "connect", "recv")
FAILURE = 255  # main returns -1; a POSIX parent sees the low byte
RUN_LIMIT = 30  # seconds: a hung client fails its case instead of the suite
HOLD_LIMIT = 60  # seconds a holding server waits for the client to hang up
WINE_LINGER = 60  # seconds the wineserver stays after the last Wine process
TERMINAL_COLUMNS = 5000  # run_on_terminal()'s: more than the longest line, 4 columns a byte


# The suite's options and the command under test.  They are read at import,
# because the expected values depend on the platform.
_SPLIT = sys.argv.index("--") if "--" in sys.argv else len(sys.argv)
OPTIONS, COMMAND = sys.argv[1:_SPLIT], sys.argv[_SPLIT + 1:]
WINE = bool(COMMAND) and os.path.basename(COMMAND[0]).startswith("wine")
# Wine maps its shared user data at a fixed address, and Debian's Wine has no
# preloader to reserve it first.  With address randomization, something may
# lie there already, and Wine ends at once with status 1 ("failed to map the
# shared user data").  setarch -R turns the randomization off, where the
# system lets it.
if WINE and shutil.which("setarch") and subprocess.run(["setarch", "-R", "true"], stderr=subprocess.DEVNULL).returncode == 0:
    COMMAND = ["setarch", "-R"] + COMMAND
WINDOWS = bool(COMMAND) and COMMAND[-1].lower().endswith(".exe")
# The random suite's rounds and the load suite's clients.  client.exe gets
# fewer: each start of a Windows program costs far more, under Wine most of all.
REPEATS = 20 if WINDOWS else 200

# Winsock's codes for the errno values the suites expect (on Windows itself,
# Python's errno values for sockets are Winsock's already).
WINSOCK_CODES = {errno.ECONNREFUSED: 10061, errno.ENETUNREACH: 10051, errno.ECONNRESET: 10054,
                 errno.ETIMEDOUT: 10060, errno.EMFILE: 10024}


def main():
    if not COMMAND:
        sys.exit("usage: %s [unittest options] -- COMMAND..." % sys.argv[0])
    if WINE:
        warm_up_wine()
    verdict.main([sys.argv[0]] + OPTIONS)


def warm_up_wine():
    """Makes the Wine prefix if there is none, then starts a wineserver and
    Wine's services with their streams detached: one started by a captured
    run holds the test's pipes open, and the capture hangs until it exits.
    The wineserver stays between runs, and ends a minute after the last.
    Suites that start side by side do this one at a time, so that only the
    first makes the prefix."""
    os.environ["WINEDEBUG"] = "-all"
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    prefix = os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine")
    with one_at_a_time("wine"):
        if not os.path.exists(os.path.join(prefix, "system.reg")):
            # Making a prefix ends by stopping the wineserver.  Wait for
            # that, then start the wineserver that stays.
            subprocess.run(COMMAND[:-1] + ["wineboot", "--init"], **quiet, timeout=600)
            subprocess.run(["wineserver", "--wait"], **quiet, timeout=600)
        subprocess.run(["wineserver", "--persistent=%d" % WINE_LINGER], **quiet)
        subprocess.run(COMMAND, **quiet, timeout=300)


@contextlib.contextmanager
def one_at_a_time(name):
    """Holds the lock NAME while the block runs, so that one user's suites
    that run side by side take turns (POSIX only, as are Wine and a loopback
    with one address).  Each account has its own lock file, because it may
    not be able to open another account's."""
    import fcntl
    with open(os.path.join(tempfile.gettempdir(), "client-test-%d-%s.lock" % (os.getuid(), name)), "a") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def output(text):
    """The bytes on stdout for TEXT: Windows writes "\\n" as "\\r\\n"."""
    return text.replace(b"\n", b"\r\n") if WINDOWS else text


def reply(data):
    """What the program prints for a received DATA."""
    return output(LABEL + data.split(b"\0")[0] + b"\n")


def on_a_terminal(data, utf8):
    """What a terminal that takes UTF-8 (or, where UTF8 is false, ASCII
    only) is sent where the program receives DATA: the label, the text made
    visible by the rule in client.1, a newline, each LF as CR LF.  Python's
    UTF-8 codec is Unicode's (the shortest form, no surrogate, up to
    U+10FFFF); it and the ASCII codec show each byte of no character as \\xhh."""
    text, shown = data.split(b"\0")[0].decode("utf-8" if utf8 else "ascii", "backslashreplace"), ""
    for at, character in enumerate(text):
        if " " <= character < "\x7f" or character >= "\xa0" or character in "\t\n" or text[at:at + 2] == "\r\n":
            shown += character
        elif character < "\x80":
            shown += "^" + chr(ord(character) ^ 0x40)
        else:
            shown += "".join("\\x%02x" % byte for byte in character.encode())
    return (LABEL + shown.encode() + b"\n").replace(b"\n", b"\r\n")


def failed(call, code):
    """The line for a failed socket CALL with errno CODE, such as
    errno.ECONNREFUSED.  For client.exe, WINSOCK_CODES turns CODE into
    Winsock's (10061), so that one row serves both platforms."""
    assert call in SOCKET_CALLS, call
    if WINDOWS:
        code = WINSOCK_CODES.get(code, code)
    return output((FAILED % (call, code)).encode())


@functools.lru_cache(maxsize=None)
def unreachable():
    """The error that a connection to 255.255.255.255 gets on this system
    (Linux: ENETUNREACH).  Text that doesn't convert gives that address."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.settimeout(RUN_LIMIT)
        try:
            probe.connect(("255.255.255.255", PORT))
        except OSError as error:
            # Python on Windows turns some Winsock codes into C errno values
            # (10013 into 13); the program prints Winsock's own.
            return getattr(error, "winerror", None) or error.errno
    raise AssertionError("a connection to 255.255.255.255 succeeded")


def start(args, wrapper=(), stdout=subprocess.PIPE, env=None, command=None):
    """Starts the program (or COMMAND, another copy of it), for finish().
    STDOUT, if given, is a file or descriptor of the caller's."""
    return subprocess.Popen(list(wrapper) + (command or COMMAND) + list(args), stdin=subprocess.DEVNULL,
                            stdout=stdout, stderr=subprocess.PIPE, env=env)


def finish(process, timeout=RUN_LIMIT):
    """Waits for a program from start(); returns (stdout, stderr, status):
    stdout None where the caller gave a file, the status as a POSIX parent
    sees it, or a text that names the signal that killed the program."""
    try:
        stdout, stderr = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        raise
    if process.returncode < 0:
        return stdout, stderr, "killed by signal %d" % -process.returncode
    # Windows gives main's -1 as 0xFFFFFFFF: the low byte is what a POSIX
    # parent sees.
    return stdout, stderr, process.returncode & 0xFF


def run(args, **options):
    """Runs the program to its end: finish(start(ARGS, ...))."""
    return finish(start(args, **options))


def run_on_terminal(args, locale, **options):
    """run(ARGS, ...) with stdout on a new pseudo-terminal (POSIX only) and
    LC_ALL, LC_CTYPE and LANG as the dict LOCALE has them: what the terminal
    was sent, stderr, and the status."""
    import fcntl, termios
    controller, terminal = os.openpty()
    fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("4H", 25, TERMINAL_COLUMNS, 0, 0))
    env = {name: value for name, value in os.environ.items() if name not in ("LC_ALL", "LC_CTYPE", "LANG")}
    started = start(args, stdout=terminal, env=dict(env, **locale), **options)
    return (sent_to_terminal(controller, terminal),) + finish(started)[1:]


def sent_to_terminal(controller, terminal):
    """Closes TERMINAL, a pseudo-terminal's own descriptor, and reads what is
    written to it through CONTROLLER until it ends: EIO on Linux, EOF on macOS."""
    os.close(terminal)
    sent = b""
    with open(controller, "rb", buffering=0) as screen, contextlib.suppress(OSError):
        while select.select([screen], [], [], RUN_LIMIT)[0] and (chunk := screen.read(65536)):
            sent += chunk
    return sent


# Server scripts: each step acts on the accepted connection.
def send(data):
    return lambda conn: conn.sendall(data)


def pause(seconds):
    return lambda conn: time.sleep(seconds)


def hold(conn):
    """Keeps the connection open until the client hangs up; fails if the
    client sent anything, as it never may."""
    conn.settimeout(HOLD_LIMIT)
    with contextlib.suppress(ConnectionError):  # a client that leaves data unread resets
        sent = conn.recv(4096)
        assert not sent, "the client sent %r" % sent


def reset(conn):
    """Ends the connection with a RST instead of a FIN."""
    # On, with no time to linger.
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("HH" if os.name == "nt" else "ii", 1, 0))
    conn.close()


@contextlib.contextmanager
def _bound_socket():
    """A TCP socket bound to PORT on a loopback address of its own, so that
    cases run side by side. macOS has only 127.0.0.1: there the cases use it
    one at a time, across all the suites that run at once."""
    sock = own_loopback_socket()
    if sock is not None:
        with sock:
            yield sock
        return
    with one_at_a_time("127.0.0.1-%d" % PORT), socket.socket(socket.AF_INET, socket.SOCK_STREAM) as sock:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)  # the last user's TIME_WAIT
        sock.bind(("127.0.0.1", PORT))
        yield sock


@contextlib.contextmanager
def nothing_listening():
    """Yields a loopback address of its own where nothing listens on PORT,
    so that a connection there is refused."""
    with _bound_socket() as sock:
        yield sock.getsockname()[0]


@contextlib.contextmanager
def serve(*scripts):
    """A server that takes a connection for each of SCRIPTS in turn, runs
    the script's steps on it (send(data), pause(seconds), hold, reset: each
    a function of the connection) and closes it.  An empty script accepts,
    then closes.  It yields its address for a block that runs the clients
    to their end, then fails unless every connection came, no other came and
    every step succeeded.  With no script, it is an address where something
    listens that no client may connect to."""
    errors = []
    clients_ended, clients_ending = socket.socketpair()

    def accept_all(listener):
        try:
            for number, script in enumerate(scripts):
                # A client's connection is queued before its connect returns.
                # Once the clients have ended, a connection not queued never comes.
                if listener not in select.select([listener, clients_ended], [], [], RUN_LIMIT)[0]:
                    errors.append("connection %d of %d never came" % (number + 1, len(scripts)))
                    return
                conn, _ = listener.accept()
                with conn:
                    for step in script:
                        step(conn)
        except Exception as error:  # reported by the test, not the thread
            errors.append(error)

    with _bound_socket() as listener, clients_ended, clients_ending:
        listener.listen(max(len(scripts), 16))
        thread = threading.Thread(target=accept_all, args=(listener,), daemon=True)
        thread.start()
        try:
            yield listener.getsockname()[0]
        finally:
            clients_ending.close()
            thread.join(RUN_LIMIT)
        if not thread.is_alive() and select.select([listener], [], [], 0)[0]:
            errors.append("a connection came that no script was for")
    if thread.is_alive() or errors:
        raise AssertionError("server did not finish: %r" % errors)


class ClientTestCase(unittest.TestCase):
    maxDiff = None

    def check(self, args, want_stdout, want_status, **run_options):
        """Runs the program and compares every observable: stdout to the
        byte (None where the caller gave a file), an empty stderr, the status
        (0, or FAILURE: main's -1 as a POSIX parent sees it, for client.exe too)."""
        self.assertEqual(run(args, **run_options), (want_stdout, b"", want_status), "args %r" % (args,))

