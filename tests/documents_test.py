"""README.md and the manual page, client.1, say what the suites expect the
program to print: the same messages, and the error codes of the same
failures, in POSIX (Linux) and in Windows' numbers.  Linux only, where
Python's errno values are the numbers that the documents give."""

import os
import re
import sys
import unittest

import support
import verdict

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Each message as the documents write it: a placeholder where text varies.
MESSAGES = sorted([support.LABEL.decode() + "<text>", support.USAGE.decode().rstrip("\n"),
                   support.NO_SOCKET_LIBRARY.decode().rstrip("\n")] +
                  [(support.FAILED % (call, "<code>")).rstrip("\n") for call in support.SOCKET_CALLS])
CODES = sorted((str(code), str(winsock)) for code, winsock in support.WINSOCK_CODES.items())


def read(name):
    with open(os.path.join(SOURCE, name), encoding="utf-8") as document:
        return document.read()


def readme_tables(section):
    """The tables in the README's SECTION: lists of rows, each a list of cells."""
    text = read("README.md").split("\n## " + section + "\n", 1)[1].split("\n## ", 1)[0]
    tables = [block.splitlines()[2:] for block in re.findall(r"(?m)(?:^\|.*\n)+", text)]
    return [[[cell.strip() for cell in row.strip("|").split("|")] for row in table] for table in tables]


class DocumentsTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        if not sys.platform.startswith("linux"):
            self.skipTest("%s: the documents' POSIX numbers are Linux's" % sys.platform)
        self.outcomes, self.codes = readme_tables("Output and exit status")
        self.page = read("client.1")

    def test_messages(self):
        self.assertEqual(sorted(message for row in self.outcomes for message in re.findall(r"`([^`]+)`", row[1])),
                         MESSAGES, "README.md")
        # .Dl recv() data from server: Ar text / .It Li "socket() Failed:\&" Ar code
        lines = re.findall(r"^\.(?:It Li|Dl) (.+)$", self.page, re.MULTILINE)
        self.assertEqual(sorted(re.sub(r'^"?(.*?)(\\&")? Ar (\w+)$', r"\1 <\3>", line) for line in lines),
                         MESSAGES, "client.1")

    def test_codes(self):
        self.assertEqual(sorted((linux, windows) for _, linux, windows in self.codes), CODES, "README.md")
        self.assertEqual(re.findall(r"^\.It (?!Em)(.+) Ta (\d+) Ta (\d+)$", self.page, re.MULTILINE),
                         [tuple(row) for row in self.codes], "client.1 and README.md, row by row")


if __name__ == "__main__":
    verdict.main(sys.argv)
