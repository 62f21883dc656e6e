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


class PackageTest(unittest.TestCase):
    def test_archives_run(self):
        self.assertTrue(ARCHIVES, "no archive given")
        if any(archive.endswith(".zip") for archive in ARCHIVES):
            # A wineserver started by a captured run would hold our pipes open.
            subprocess.run(["wineserver", "-p"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=False)
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
                result = subprocess.run(command, capture_output=True, timeout=300,
                                        env=dict(os.environ, WINEDEBUG="-all"))
                self.assertEqual((result.stdout, result.stderr, result.returncode), (usage, b"", 255))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
