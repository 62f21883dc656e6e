"""The release folder as scripts/release.sh leaves it: SHA256SUMS vouches for
exactly the packages there; each holds exactly its files; its program passes
the exchange suite; and a static program carries its defences where objdump
can see them (hardening-check can't read a static PIE).
Usage: package_test.py [DIST]  (default: dist/ of the source folder)"""

import os
import re
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
DIST = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, os.pardir, "dist")

DOCS = "share/doc/client/"
ARCHIVE = {DOCS + "README.md", DOCS + "LICENSE"}
STATIC = ARCHIVE | {DOCS + "NOTICE", "share/man/man1/client.1"}
DEB = {DOCS + "README.md", DOCS + "copyright", DOCS + "changelog.gz", "share/man/man1/client.1.gz"}
QEMU = ["qemu-aarch64", "-L", "/usr/aarch64-linux-gnu"]

KINDS = [
    # name ends with          files under  program           run through  beside the program  static PIE
    ("-Linux-x86_64.tar.gz",  "{stem}",    "bin/client",     [],          STATIC,             True),
    ("-Linux-aarch64.tar.gz", "{stem}",    "bin/client",     QEMU,        STATIC,             True),
    ("_amd64.deb",            "usr",       "bin/client",     [],          DEB,                False),
    ("_arm64.deb",            "usr",       "bin/client",     QEMU,        DEB,                False),
    ("-win64.zip",            "{stem}",    "bin/client.exe", ["wine"],    ARCHIVE,            False),
]

DEB_FIELDS = {"Package": r"client", "Architecture": r"amd64|arm64", "Section": r"net",
              "Maintainer": r".+ <.+@.+>", "Depends": r"libc6(:arm64)? \(>= 2\.\d+\)"}

# How each machine's code shows control-flow protection: the instruction
# that main starts with (CET's landing pad; PAC, which BTI also accepts).
MACHINES = {"Advanced Micro Devices X86-64": ("objdump", "endbr64"),
            "AArch64": ("aarch64-linux-gnu-objdump", "paciasp")}


def unpack(package, folder):
    if package.endswith(".zip"):
        with zipfile.ZipFile(package) as zipped:
            zipped.extractall(folder)
    elif package.endswith(".deb"):
        subprocess.run(["dpkg-deb", "-x", package, folder], check=True)
    else:
        with tarfile.open(package) as tarred:
            tarred.extractall(folder)


def files_under(folder):
    return {os.path.relpath(os.path.join(path, name), folder).replace(os.sep, "/")
            for path, _, names in os.walk(folder) for name in names}


def output_of(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


class PackageTest(unittest.TestCase):
    def test_checksums_list_exactly_the_packages(self):
        with open(os.path.join(DIST, "SHA256SUMS")) as sums:
            listed = [line.split("  ", 1)[1] for line in sums.read().splitlines()]
        self.assertEqual(sorted(listed), sorted(set(os.listdir(DIST)) - {"SHA256SUMS"}))
        check = subprocess.run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=DIST,
                               capture_output=True, text=True, check=False)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def test_packages(self):
        packages = sorted(set(os.listdir(DIST)) - {"SHA256SUMS"})
        self.assertTrue(packages, "no package in %s" % DIST)
        for name in packages:
            with self.subTest(name), tempfile.TemporaryDirectory() as folder:
                kinds = [kind for kind in KINDS if name.endswith(kind[0])]
                self.assertEqual(len(kinds), 1, "no kind of package ends %s" % name)
                ((_, root, program, runner, beside, static_pie),) = kinds
                root = root.format(stem=re.sub(r"\.(tar\.gz|zip)$", "", name))
                package = os.path.join(DIST, name)
                unpack(package, folder)
                self.assertEqual(os.listdir(folder), [root])
                self.assertEqual(files_under(os.path.join(folder, root)), {program} | beside)
                program = os.path.join(folder, root, program)
                if name.endswith(".deb"):
                    for field, pattern in DEB_FIELDS.items():
                        self.assertRegex(output_of("dpkg-deb", "-f", package, field).strip(), "^(%s)$" % pattern)
                if static_pie:
                    self.check_static_pie(program)
                    with open(os.path.join(folder, root, DOCS, "NOTICE")) as notice:
                        self.assertRegex(notice.read(), r"glibc\), version \d+\.\d+(.|\n)*Lesser General Public"
                                                        r"(.|\n)*https://ftp\.gnu\.org/gnu/glibc/glibc-\d+\.\d+\.tar")
                # zip keeps no execute bit; Wine needs none.
                suite = subprocess.run([sys.executable, os.path.join(HERE, "exchange_test.py"), "--"] + runner + [program],
                                       stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=600, check=False)
                self.assertEqual(suite.returncode, 0, suite.stderr)

    def check_static_pie(self, program):
        """Position-independent, no loader, RELRO with immediate binding, and
        in main control-flow protection and a stack canary."""
        headers = output_of("readelf", "--file-header", "--program-headers", "--dynamic", "--wide", program)
        objdump, landing = MACHINES[re.search(r"Machine:\s+(.+)", headers).group(1).strip()]
        main = re.findall(r"^\s+[0-9a-f]+:\s+(.+)$", output_of(objdump, "-d", "--no-show-raw-insn", "--disassemble=main",
                                                               program), re.MULTILINE)
        self.assertEqual({
            "ELF type": re.search(r"Type:\s+(\w+)", headers).group(1),
            "loader": "INTERP" in headers,
            "RELRO": "GNU_RELRO" in headers,
            "immediate binding": re.search(r"\(FLAGS\)\s+BIND_NOW", headers) is not None,
            "main starts with": main[0].split()[0],
            "canary in main": any(line.endswith("<__stack_chk_fail>") for line in main),
        }, {"ELF type": "DYN", "loader": False, "RELRO": True, "immediate binding": True,
            "main starts with": landing, "canary in main": True})


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
