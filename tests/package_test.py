"""Each release archive holds a program that runs, and its README.
Usage: package_test.py ARCHIVE...  (.tar.gz from Linux, .zip from Windows)"""

import glob
import os
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile

ARCHIVES = sys.argv[1:]
USAGE = b"Usage: client [server IP address]\n"


def unpack(archive, folder):
    if archive.endswith(".zip"):
        with zipfile.ZipFile(archive) as zipped:
            zipped.extractall(folder)
    else:
        with tarfile.open(archive) as tarred:
            tarred.extractall(folder)


def run(command):
    """(stdout, stderr, status). Output goes to files, not pipes: a helper
    that Wine starts may keep a pipe open long after the run."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=300,
                                env=dict(os.environ, WINEDEBUG="-all"), check=False)
        out.seek(0)
        err.seek(0)
        return out.read(), err.read(), result.returncode


class PackageTest(unittest.TestCase):
    def test_archives_run(self):
        self.assertTrue(ARCHIVES, "no archive given")
        for archive in ARCHIVES:
            with self.subTest(os.path.basename(archive)), tempfile.TemporaryDirectory() as folder:
                unpack(archive, folder)
                windows = archive.endswith(".zip")
                (program,) = glob.glob(os.path.join(folder, "*", "bin", "client.exe" if windows else "client"))
                self.assertEqual(len(glob.glob(os.path.join(folder, "*", "share", "doc", "client", "README.md"))), 1)
                if windows:
                    # zip keeps no execute bit; Wine needs none.
                    command, usage = ["wine", program], USAGE.replace(b"\n", b"\r\n")
                else:
                    command, usage = [program], USAGE
                self.assertEqual(run(command), (usage, b"", 255))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
