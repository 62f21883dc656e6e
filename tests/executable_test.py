"""client.exe runs on a bare Windows machine (it imports only system DLLs),
stays small, and shows Windows the project's version and its own name.  A
scratch build of a version whose parts all differ proves each part's place.
Usage: executable_test.py OBJDUMP CLIENT_EXE VERSION CMAKE GENERATOR SOURCE_DIR TOOLCHAIN_FILE"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ws2_32.dll"}
UCRT = re.compile(r"(ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll")
SIZE_LIMIT = 300 * 1024
SCRATCH_VERSION = "1.2.3"

OBJDUMP, EXECUTABLE, VERSION, CMAKE, GENERATOR, SOURCE_DIR, TOOLCHAIN_FILE = sys.argv[1:8]


def imported_dlls(executable):
    headers = subprocess.run([OBJDUMP, "-p", executable], capture_output=True, text=True, check=True).stdout
    return {name.lower() for name in re.findall(r"DLL Name: (\S+)", headers)}


def version_block(content, offset):
    """The VERSIONINFO block at OFFSET: (key, value bytes, {child key: child})."""
    length, value_length, is_text = struct.unpack_from("<HHH", content, offset)
    key_end = offset + 6
    while content[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = content[offset + 6:key_end].decode("utf-16-le")
    value_start = (key_end + 2 + 3) & ~3
    value_end = value_start + value_length * (2 if is_text else 1)
    children, child = {}, (value_end + 3) & ~3
    while child < offset + length:
        child_key, child_value, grandchildren = version_block(content, child)
        children[child_key] = (child_value, grandchildren)
        child = (child + struct.unpack_from("<H", content, child)[0] + 3) & ~3
    return key, content[value_start:value_end], children


def properties(executable):
    """What Windows shows of the file: the versions of VERSIONINFO's fixed
    part, its strings, the languages and code pages that its Translation
    names and those of its string blocks, and the manifest's version."""
    with open(executable, "rb") as program:
        content = program.read()
    _, fixed, blocks = version_block(content, content.find("VS_VERSION_INFO\0".encode("utf-16-le")) - 6)

    def version(most, least):
        return "%d.%d.%d.%d" % (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)

    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", fixed, 8)
    string_tables = blocks["StringFileInfo"][1]
    translation = blocks["VarFileInfo"][1]["Translation"][0]
    strings = {key: value.decode("utf-16-le").rstrip("\0")
               for table in string_tables.values() for key, (value, _) in table[1].items()}
    manifest = re.search(rb'<assemblyIdentity [^>]*version="([^"]*)"', content)
    return {
        "file version": version(file_ms, file_ls),
        "product version": version(product_ms, product_ls),
        "strings": strings,
        "translations": ["%04X%04X" % pair for pair in struct.iter_unpack("<HH", translation)],
        "string blocks": sorted(string_tables),
        "manifest version": manifest and manifest.group(1).decode(),
    }


def scratch_build(folder, version):
    """client.exe built from a copy of the source that names VERSION."""
    tree = shutil.copytree(SOURCE_DIR, os.path.join(folder, "source"),
                           ignore=shutil.ignore_patterns(".git", "build", "dist"))
    # The three places that name the version, which configuring checks agree.
    for name, pattern, replacement in [
            ("CMakeLists.txt", r"(project\(client\s+VERSION )\S+", r"\g<1>" + version),
            ("client.1", r"(?m)^(\.Os client )\S+$", r"\g<1>" + version),
            ("packaging/debian/changelog", r"^client \(\S+\)", "client (%s)" % version)]:
        path = os.path.join(tree, name)
        with open(path) as file:
            text, count = re.subn(pattern, replacement, file.read(), count=1)
        assert count == 1, "no version in %s" % name
        with open(path, "w") as file:
            file.write(text)
    build = os.path.join(folder, "build")
    quiet = dict(stdout=subprocess.DEVNULL, check=True)
    subprocess.run([CMAKE, "-S", tree, "-B", build, "-G", GENERATOR, "-DCMAKE_TOOLCHAIN_FILE=" + TOOLCHAIN_FILE,
                    "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF"], **quiet)
    subprocess.run([CMAKE, "--build", build, "--target", "client"], **quiet)
    return os.path.join(build, "client.exe")


class ExecutableTest(unittest.TestCase):
    def test_runs_on_bare_windows(self):
        dlls = imported_dlls(EXECUTABLE)
        self.assertIn("ws2_32.dll", dlls)
        self.assertEqual({dll for dll in dlls if dll not in SYSTEM_DLLS and not UCRT.fullmatch(dll)}, set())
        self.assertLessEqual(os.path.getsize(EXECUTABLE), SIZE_LIMIT)

    def test_properties(self):
        with tempfile.TemporaryDirectory() as folder:
            for executable, version in [(EXECUTABLE, VERSION), (scratch_build(folder, SCRATCH_VERSION), SCRATCH_VERSION)]:
                with self.subTest(version):
                    got = properties(executable)
                    strings = got.pop("strings")
                    self.assertEqual(got, {
                        "file version": version + ".0",
                        "product version": version + ".0",
                        # Explorer shows the strings of the block that Translation names:
                        # US English, Unicode (code page 1200), in both.
                        "translations": ["040904B0"],
                        "string blocks": ["040904B0"],
                        "manifest version": version + ".0",
                    })
                    self.assertEqual({key: strings.get(key) for key in
                                      ["FileVersion", "ProductVersion", "ProductName", "OriginalFilename"]},
                                     {"FileVersion": version, "ProductVersion": version,
                                      "ProductName": "client", "OriginalFilename": "client.exe"})
                    self.assertIn("MIT", strings.get("LegalCopyright", ""))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
