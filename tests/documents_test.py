"""What users and packagers read says what the suites expect the program to
print and return: README.md's and the manual page's (client.1) messages,
exit statuses and error codes, in POSIX (Linux) and in Windows' numbers,
and the output of their examples; the statuses in the .deb's description;
the Ubuntu release that the forge builds on.  Linux only, where Python's
errno values are the numbers that the documents give."""

import errno
import pathlib
import re
import sys
import unittest

import support
import verdict
from support import FAILED, FAILURE, LABEL, WINSOCK_CODES, failed, reply

SOURCE = pathlib.Path(__file__).resolve().parent.parent

# Each message as the documents write it: a placeholder where text varies.
MESSAGES = sorted([LABEL.decode() + "<text>", support.USAGE.decode().rstrip("\n"),
                   support.NO_SOCKET_LIBRARY.decode().rstrip("\n")] +
                  [(FAILED % (call, "<code>")).rstrip("\n") for call in support.SOCKET_CALLS])
CODES = sorted((str(code), str(winsock)) for code, winsock in WINSOCK_CODES.items())
# main returns 0 or -1; a POSIX shell shows -1 as its low byte, FAILURE.
SHOWN = {0: "0", FAILURE: str(FAILURE - 256)}

# Every example that shows its output: the document, a piece of its command,
# and the lines that the suites expect (the last one, where the example
# echoes it, the exit status).
EXAMPLES = [
    ("README.md", "printf 'hello from the server' | nc", reply(b"hello from the server")),
    ("README.md", 'client 127.0.0.1; echo "exit status $?"',
     failed("connect", errno.ECONNREFUSED) + b"exit status %d\n" % FAILURE),
    ("README.md", "bin\\client.exe 127.0.0.1",
     (FAILED % ("connect", WINSOCK_CODES[errno.ECONNREFUSED])).encode() + b"exit status %s\n" % SHOWN[FAILURE].encode()),
    ("client.1", "$ client 127.0.0.1\n", reply(b"hello from the server")),
    ("client.1", "$ client 127.0.0.1; echo $?", failed("connect", errno.ECONNREFUSED) + b"%d\n" % FAILURE),
]


def read(name):
    return (SOURCE / name).read_text(encoding="utf-8")


def readme_tables(section):
    """The tables in the README's SECTION: lists of rows, each a list of cells."""
    text = read("README.md").split("\n## " + section + "\n", 1)[1].split("\n## ", 1)[0]
    tables = [block.splitlines()[2:] for block in re.findall(r"(?m)(?:^\|.*\n)+", text)]
    return [[[cell.strip() for cell in row.strip("|").split("|")] for row in table] for table in tables]


def examples():
    """{(document, command): output} for every example that shows its output:
    in README.md, a block of commands followed at once by one of output; in
    client.1, a literal display of "$ " commands, then their output."""
    found, readme = {}, read("README.md")
    blocks = list(re.finditer(r"```(\w*)\n(.*?)```", readme, re.DOTALL))
    for command, shown in zip(blocks, blocks[1:]):
        if command.group(1) and not shown.group(1) and not readme[command.end():shown.start()].strip():
            found["README.md", command.group(2)] = shown.group(2).encode()
    for display in re.findall(r"^\.Bd -literal.*?\n(.*?)^\.Ed$", read("client.1"), re.DOTALL | re.MULTILINE):
        lines = display.splitlines(keepends=True)
        found["client.1", "".join(line for line in lines if line.startswith("$ "))] = \
            "".join(line for line in lines if not line.startswith("$ ")).encode()
    return found


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

    def test_statuses(self):
        # 0 where the reply is printed, -1 for every failure; every row of
        # client.1's EXIT STATUS table the same, row for row, and no status
        # given in its prose ("exits with 1", "returns 2", "exit code 3"),
        # where nothing would check it.
        statuses = [(happens, status) for happens, _, status in self.outcomes]
        self.assertEqual(statuses, [(happens, SHOWN[0 if LABEL.decode() in output else FAILURE])
                                    for happens, output, _ in self.outcomes], "README.md")
        table = re.search(r"^\.Sh EXIT STATUS\n.*?^\.El$", self.page, re.MULTILINE | re.DOTALL).group()
        self.assertEqual([(happens, status.replace("\\-", "-")) for status, happens in
                          re.findall(r"^\.It (?!Em )(.+?) Ta (.+)$", table, re.MULTILINE)], statuses, "client.1")
        self.assertEqual(re.findall(r"(?i)\b(?:exit|return|status|code)\w*(?: (?:with|is|still|of|code|status))* (\\?-?\d+)",
                                    " ".join(self.page.split())), [], "client.1's prose")
        for name, text in [("README.md", read("README.md")), ("client.1", self.page)]:
            self.assertEqual(re.findall(r"shows \\?-1 as (\d+)", text), [str(FAILURE)], name)
        description = re.search(r"CPACK_DEBIAN_PACKAGE_DESCRIPTION \[\[(.*?)\]\]", read("cmake/packaging.cmake"),
                                re.DOTALL).group(1)
        self.assertEqual(sorted(re.findall(r"\bexits\s+(\d+)", description)), sorted(["0", str(FAILURE)]),
                         "the .deb's description")

    def test_examples(self):
        found = examples()
        for document, command, output in EXAMPLES:
            with self.subTest(document=document, command=command):
                (key,) = [key for key in found if key[0] == document and command in key[1]]
                self.assertEqual(found.pop(key), output)
        self.assertEqual(found, {}, "examples that no row of EXAMPLES names")

    def test_ubuntu_release(self):
        # The README names the release that the forge's Ubuntu job runs on.
        job = re.search(r"(?m)^  ubuntu:\n(?:    .*\n)*?    runs-on: ubuntu-(\S+)$", read(".github/workflows/ci.yml"))
        self.assertEqual(set(re.findall(r"Ubuntu (\d+\.\d+)", read("README.md"))), {job.group(1)})

    def test_codes(self):
        self.assertEqual(sorted((linux, windows) for _, linux, windows in self.codes), CODES, "README.md")
        self.assertEqual(re.findall(r"^\.It (?!Em)(.+) Ta (\d+) Ta (\d+)$", self.page, re.MULTILINE),
                         [tuple(row) for row in self.codes], "client.1 and README.md, row by row")


if __name__ == "__main__":
    verdict.main(sys.argv)
