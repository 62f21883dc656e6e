"""client.exe runs on a bare Windows machine (it imports only system DLLs),
stays small, and shows Windows the project's version and its own name.
Usage: executable_test.py OBJDUMP CLIENT_EXE VERSION"""

import os
import re
import struct
import subprocess
import sys
import unittest

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ws2_32.dll"}
UCRT = re.compile(r"(ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll")
SIZE_LIMIT = 300 * 1024

OBJDUMP, EXECUTABLE, VERSION = sys.argv[1:4]
with open(EXECUTABLE, "rb") as program:
    CONTENT = program.read()


def imported_dlls():
    headers = subprocess.run([OBJDUMP, "-p", EXECUTABLE], capture_output=True, text=True, check=True).stdout
    return {name.lower() for name in re.findall(r"DLL Name: (\S+)", headers)}


def fixed_version(field):
    """A version from VERSIONINFO's fixed part (VS_FIXEDFILEINFO), as text."""
    start = CONTENT.find(struct.pack("<I", 0xFEEF04BD))
    most, least = struct.unpack_from("<II", CONTENT, start + {"file": 8, "product": 16}[field])
    return "%d.%d.%d.%d" % (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)


def string_value(key):
    """A value from VERSIONINFO's strings: UTF-16, after the key and padding."""
    start = CONTENT.find((key + "\0").encode("utf-16-le"))
    if start < 0:
        return None
    start = (start + 2 * len(key) + 2 + 3) & ~3
    end = start
    while CONTENT[end:end + 2] != b"\0\0":
        end += 2
    return CONTENT[start:end].decode("utf-16-le")


CHECKS = [
    # what                          got                                            expected
    ("imports the socket library",  lambda: "ws2_32.dll" in imported_dlls(),       True),
    ("imports from elsewhere",      lambda: {dll for dll in imported_dlls()
                                             if dll not in SYSTEM_DLLS and not UCRT.fullmatch(dll)}, set()),
    ("within the size limit",       lambda: os.path.getsize(EXECUTABLE) <= SIZE_LIMIT, True),
    ("file version",                lambda: fixed_version("file"),                 VERSION + ".0"),
    ("product version",             lambda: fixed_version("product"),              VERSION + ".0"),
    ("file version text",           lambda: string_value("FileVersion"),           VERSION),
    ("product version text",        lambda: string_value("ProductVersion"),        VERSION),
    ("product name",                lambda: string_value("ProductName"),           "client"),
    ("original file name",          lambda: string_value("OriginalFilename"),      "client.exe"),
    ("licence",                     lambda: "MIT" in (string_value("LegalCopyright") or ""), True),
]


class ExecutableTest(unittest.TestCase):
    def test_executable(self):
        for what, got, expected in CHECKS:
            with self.subTest(what):
                self.assertEqual(got(), expected)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
