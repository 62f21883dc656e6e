"""Each release package holds exactly the program, its licence and its
documentation; the program in it passes the exchange suite; and the
SHA256SUMS beside it vouches for it.
Usage: package_test.py PACKAGE...  (.tar.gz, .deb, .zip, as CPack names them)"""

import os
import re
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile

PACKAGES = sys.argv[1:]
HERE = os.path.dirname(os.path.abspath(__file__))
DOCS = {"share/doc/client/README.md", "share/doc/client/LICENSE"}
MAN_PAGE = "share/man/man1/client.1"

KINDS = [
    # name ends with          files under  program           run through       manual page
    ("-Linux-x86_64.tar.gz",  "{stem}",    "bin/client",     [],               True),
    ("-Linux-aarch64.tar.gz", "{stem}",    "bin/client",     ["qemu-aarch64"], True),
    ("_amd64.deb",            "usr",       "bin/client",     [],               True),
    ("-win64.zip",            "{stem}",    "bin/client.exe", ["wine"],         False),
]

DEB_FIELDS = {"Package": "client", "Architecture": "amd64", "Section": "net", "Depends": ""}


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


def deb_field(package, field):
    return subprocess.run(["dpkg-deb", "-f", package, field], capture_output=True, text=True,
                          check=True).stdout.strip()


class PackageTest(unittest.TestCase):
    def test_packages(self):
        self.assertTrue(PACKAGES, "no package given")
        for package in PACKAGES:
            name = os.path.basename(package)
            ((_, root, program, runner, man_page),) = [kind for kind in KINDS if name.endswith(kind[0])]
            root = root.format(stem=re.sub(r"\.(tar\.gz|zip)$", "", name))
            with self.subTest(name), tempfile.TemporaryDirectory() as folder:
                unpack(package, folder)
                self.assertEqual(os.listdir(folder), [root])
                expected = {program} | DOCS | ({MAN_PAGE} if man_page else set())
                self.assertEqual(files_under(os.path.join(folder, root)), expected)
                if name.endswith(".deb"):
                    self.assertEqual({field: deb_field(package, field) for field in DEB_FIELDS}, DEB_FIELDS)
                    self.assertRegex(deb_field(package, "Maintainer"), r".+ <.+@.+>")
                # zip keeps no execute bit; Wine needs none.
                suite = subprocess.run(
                    [sys.executable, os.path.join(HERE, "exchange_test.py"), "--"] + runner + [os.path.join(folder, root, program)],
                    stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=600, check=False)
                self.assertEqual(suite.returncode, 0, suite.stderr)
                self.check_sums(package)

    def check_sums(self, package):
        folder, name = os.path.split(os.path.abspath(package))
        with open(os.path.join(folder, "SHA256SUMS")) as sums:
            self.assertIn(name, [line.split("  ", 1)[1] for line in sums.read().splitlines()])
        check = subprocess.run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=folder,
                               capture_output=True, text=True, check=False)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
