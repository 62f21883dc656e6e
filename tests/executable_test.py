"""client.exe runs on a bare Windows machine: it imports only system DLLs,
and it stays small.  Usage: executable_test.py OBJDUMP CLIENT_EXE"""

import os
import re
import subprocess
import sys
import unittest

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ws2_32.dll"}
UCRT = re.compile(r"(ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll")
SIZE_LIMIT = 300 * 1024

OBJDUMP, EXECUTABLE = sys.argv[1], sys.argv[2]


class ExecutableTest(unittest.TestCase):
    def test_imports_only_system_dlls(self):
        headers = subprocess.run([OBJDUMP, "-p", EXECUTABLE], capture_output=True, text=True, check=True).stdout
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", headers)}
        self.assertIn("ws2_32.dll", dlls)
        self.assertEqual({dll for dll in dlls if dll not in SYSTEM_DLLS and not UCRT.fullmatch(dll)}, set())

    def test_size(self):
        self.assertLessEqual(os.path.getsize(EXECUTABLE), SIZE_LIMIT)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
