"""What the program prints and returns for each thing a server does, and for
each form of the address on its command line."""

import errno
import os
import pathlib
import re
import socket
import struct
import tempfile
import unittest

import support
from support import FAILURE, USAGE, failed, hold, on_a_terminal, output, pause, reply, reset, run, send, serve

FULL = bytes(range(1, 256)) * 4 + b"\xff\xfe\xfd\xfc"  # 1024 bytes, no zero byte
assert len(FULL) == 1024

# A greeting with each thing that a terminal acts on, and each class of byte
# that the rule in client.1 tells apart.  It fills the 1024 bytes of the
# receive and ends in the first byte of a character: nothing may be read
# past it.
HOSTILE = (b"title\x1b]0;pwned\x07 clipboard\x1b]52;c;cHduZWQ=\x07 clear\x1b[2J lone\rCR, CR LF\r\n tab\t"
           b"LF\n BS\x08 DEL\x7f SOH\x01 US\x1f ~ 8-bit CSI\x9b C1\xc2\x80\xc2\x9b\xc2\x9f"
           b" text\xc2\xa0\xc3\x9b\xe2\x82\xac\xed\x9f\xbf\xee\x80\x80\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf overlong\xc0\xaf"
           b"\xe0\x9f\xbf\xf0\x8f\xbf\xbf surrogate\xed\xa0\x80 too high\xf4\x90\x80\x80\xf5\x80 stray\x80\xe2(\xa1")
GREETING = HOSTILE.ljust(1023, b".") + b"\xc2"
# The server sends the rest of the last character after it, never read.
GREETING_SCRIPT = [send(GREETING + b"\xac, never read"), hold]
# A terminal that isn't in UTF-8 reads the second byte of Û (C3 9B) as CSI,
# so "Û2J" would clear its screen.  The CR ends the text.
LOCALE_GREETING = "é € Û2J \x1b[1m bold\r".encode()
# LC_ALL, LC_CTYPE and LANG, where set: where the terminal takes UTF-8
# (macOS names a locale "UTF-8"; an empty variable is not set), and where it
# takes ASCII only.
UTF8_LOCALES = [{"LANG": "en_US.UTF-8"}, {"LANG": "C.utf8"}, {"LANG": "de_DE.Utf-8@euro"}, {"LC_CTYPE": "UTF-8"},
                {"LC_CTYPE": "C.UTF-8", "LANG": "C"}, {"LC_ALL": "", "LANG": "C.UTF-8"}]
ASCII_LOCALES = [{}, {"LANG": "C"}, {"LANG": "POSIX"}, {"LANG": "de_DE.ISO-8859-1"}, {"LC_ALL": "C", "LANG": "en_US.UTF-8"}]

EXCHANGES = [
    # name                    server script                                expected stdout            status  or, on Windows
    ("short reply, held open", [send(b"hello"), hold],                      reply(b"hello"),           0,       None),
    ("reply, then close",      [send(b"hello")],                            reply(b"hello"),           0,       None),
    ("line breaks",            [send(b"one\ntwo\r\nthree\n"), hold],        reply(b"one\ntwo\r\nthree\n"), 0, None),
    ("percent signs",          [send(b"100% %s %d %n %%"), hold],           reply(b"100% %s %d %n %%"), 0,      None),
    ("zero byte ends text",    [send(b"abc\0def"), hold],                   reply(b"abc"),             0,       None),
    ("zero byte first",        [send(b"\0abc"), hold],                      reply(b""),                0,       None),
    ("two parts, a pause",     [send(b"first"), pause(0.5), send(b"second"), hold], reply(b"first"),   0,       None),
    ("late reply",             [pause(1.0), send(b"late"), hold],           reply(b"late"),            0,       None),
    ("1024 bytes, no zero",    [send(FULL), hold],                          reply(FULL),               0,       None),
    ("more than 1024 bytes",   [send(FULL + b"overflow" * 100), hold],      reply(FULL),               0,       None),
    ("close without sending",  [],                                          b"",                       FAILURE, None),
    ("hostile greeting",       GREETING_SCRIPT,                             reply(GREETING),           0,       None),
    # Wine may report a reset that beat the receive as an orderly close.
    ("reset while waiting",    [pause(0.3), reset],                         failed("recv", errno.ECONNRESET), FAILURE, b""),
]


def address_forms(address):
    """The program's arguments for the other spellings inet_addr takes for
    ADDRESS, and for ADDRESS with more arguments after it."""
    a, b, c, d = (int(part) for part in address.split("."))
    (number,) = struct.unpack("!I", socket.inet_aton(address))
    # inet_addr stops at white space.
    forms = ["%#x.%#x.%#x.%#x" % (a, b, c, d), "0%o.0%o.0%o.0%o" % (a, b, c, d), "%d.%d.%d" % (a, b, (c << 8) | d),
             "%d" % number, "%#x" % number, address + " trailing text", address + "\ttrailing text"]
    return [[form] for form in forms] + [[address, "extra", "args"]]


def look_alikes(address):
    """Non-ASCII spellings of ADDRESS that a "best fit" conversion to an
    ANSI code page would turn into it."""
    return [
        ("full-width digits", address.translate({ord(digit): 0xFF10 + int(digit) for digit in "0123456789"})),
        ("full-width stops", address.replace(".", "\uff0e")),
        ("a subscript digit", address[:-1] + chr(0x2080 + int(address[-1]))),
        ("ideographic space, then text", address + "\u3000trailing text"),
        ("a leading space", " " + address),
    ]


def console_text(sent):
    """The text that Wine's console shows, from the bytes that it SENT to
    a terminal too wide for a line to wrap: each cursor move forward as the
    spaces that it passes, its other control sequences left out, and no CR
    before a line feed."""
    text = re.sub(r"\x1b\[(\d*)C", lambda move: " " * int(move.group(1) or 1), sent.decode())
    return re.sub(r"\x1b\[[0-9;?]*[A-Za-z]|\r+(?=\n)", "", text)


class ExchangeTest(support.ClientTestCase):
    def test_server_behaviours(self):
        for name, script, stdout, status, or_on_windows in EXCHANGES:
            with self.subTest(name), serve(script) as address:
                accepted = [stdout] + ([or_on_windows] if support.WINDOWS and or_on_windows is not None else [])
                self.assertIn(run([address]), [(out, b"", status) for out in accepted])

    def test_hostile_greeting_to_a_file(self):
        # A file gets the exact bytes, as a pipe does (above).
        with serve(GREETING_SCRIPT) as address, tempfile.TemporaryFile() as file:
            self.assertEqual(run([address], stdout=file), (None, b"", 0))
            file.seek(0)
            self.assertEqual(file.read(), reply(GREETING))

    @unittest.skipIf(os.name == "nt", "Windows: no pseudo-terminal")
    def test_on_a_terminal(self):
        if support.WINE:
            self.check_console()
            return
        for locale, utf8 in [(locale, True) for locale in UTF8_LOCALES] + [(locale, False) for locale in ASCII_LOCALES]:
            with self.subTest(locale), serve([send(LOCALE_GREETING), hold], GREETING_SCRIPT) as address:
                for greeting in LOCALE_GREETING, GREETING:
                    self.assertEqual(support.run_on_terminal([address], locale),
                                     (on_a_terminal(greeting, utf8), b"", 0))

    def check_console(self):
        # The console takes UTF-16 in every locale.  Wine gives the terminal
        # its characters in the locale's character set.
        with serve(GREETING_SCRIPT) as address:
            sent, stderr, status = support.run_on_terminal([address], {"LANG": "C.UTF-8"})
        # The model is read as the console's output is, so that a CR before an
        # LF drops out of both.  Wine shows a character above U+FFFF as two
        # U+FFFD, one a half.
        line = re.sub("[\U00010000-\U0010ffff]", "\ufffd" * 2, console_text(on_a_terminal(GREETING, True)).expandtabs())
        self.assertEqual((console_text(sent), stderr, status), (line, b"", 0))
        # A character device that is no console gets the exact bytes, though
        # _isatty would take it for a terminal: cmd opens a new pseudo-terminal
        # by its name, as a file.  cmd's complaint about it goes to stderr,
        # unjudged; the terminal writes each LF as CR LF.
        controller, terminal = os.openpty()
        program = "Z:" + os.path.abspath(support.COMMAND[-1]).replace("/", "\\")
        device = "Z:" + os.ttyname(terminal).replace("/", "\\")
        with serve(GREETING_SCRIPT) as address:
            _, _, status = run(["/c", "%s %s > %s" % (program, address, device)], command=support.COMMAND[:-1] + ["cmd"])
        self.assertEqual((support.sent_to_terminal(controller, terminal), status),
                         (reply(GREETING).replace(b"\n", b"\r\n"), 0))

    def test_address_forms(self):
        with serve(*[[send(b"hi")]] * len(address_forms("127.0.0.1"))) as address:
            for args in address_forms(address):
                with self.subTest(args[0]):
                    self.check(args, reply(b"hi"), 0)

    def test_nothing_listening(self):
        with support.nothing_listening() as address:
            self.check([address], failed("connect", errno.ECONNREFUSED), FAILURE)

    def test_unconvertible_addresses(self):
        # Each becomes INADDR_NONE (255.255.255.255), which a TCP connect
        # refuses locally as unreachable.
        long_text = "a" * (32000 if support.WINDOWS else 100000)  # Windows caps a command line at 32767
        non_ascii = "\udcff\udcfe" if os.name == "posix" else "\u00ff\u00fe"  # the bytes ff fe on POSIX
        # 08 is no octal number: it never becomes 127.0.0.8.
        for text in ["localhost", "", "256.1.1.1", "127.0.0.1.5", "127.1.1.1x", "127.0.0.08", non_ascii, long_text]:
            with self.subTest(text[:20]):
                self.check([text], failed("connect", support.unreachable()), FAILURE)

    def test_look_alike_addresses(self):
        # Wine hands a program its arguments in the code page of the locale.
        utf8 = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        # Text taken for the address would be refused there, not unreachable.
        with support.nothing_listening() as address:
            for name, text in look_alikes(address):
                with self.subTest(name):
                    if text[0].isspace() and os.name == "nt":
                        self.skipTest("Windows: whether its inet_addr skips leading white space is undocumented")
                    self.check([text], failed("connect", support.unreachable()), FAILURE, env=utf8)

    def test_no_argument(self):
        self.check([], output(USAGE), FAILURE)

    def test_instruments(self):
        # Memcheck, where valgrind's XML report (asked for in VALGRIND_OPTS)
        # names it, and the sanitizers, where the program holds their
        # run-times, are there where the build promises them: memcheck where
        # valgrind runs the program, the sanitizers where the CMake cache
        # beside it turns CLIENT_SANITIZE on.  A release's program has none.
        program = pathlib.Path(support.COMMAND[-1])
        cache = program.with_name("CMakeCache.txt")
        with tempfile.TemporaryDirectory() as folder:
            report = pathlib.Path(folder, "valgrind.xml")
            run([], env=dict(os.environ, VALGRIND_OPTS="--xml=yes --xml-file=%s" % report))
            memcheck = report.exists() and "<tool>memcheck</tool>" in report.read_text()
        self.assertEqual({"memcheck": memcheck, "sanitizers": all(name in program.read_bytes() for name in
                                                                  [b"__asan_init", b"__ubsan_handle_"])},
                         {"memcheck": os.path.basename(support.COMMAND[0]) == "valgrind",
                          "sanitizers": cache.exists() and "\nCLIENT_SANITIZE:BOOL=ON\n" in cache.read_text()})

if __name__ == "__main__":
    support.main()
