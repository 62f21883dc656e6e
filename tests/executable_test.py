"""client.exe is a 64-bit Windows program that runs on a bare Windows
machine (it imports only system DLLs and the C run-time that its toolchain
links), keeps Windows' defences against exploits (ASLR, with high entropy,
and DEP) and asks for nothing that a plain program must not, stays small,
and shows Windows the project's version and description.  A scratch build
of a version whose parts all differ proves each part's place.
Usage: executable_test.py CLIENT_EXE COMPILER_ID SOURCE_DIR -- CMAKE CONFIGURE_OPTIONS...
(COMPILER_ID is CMake's: GNU for mingw-w64, MSVC)"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import verdict

# The DLLs it may import: Windows' own, and the C run-time of each toolchain
# (MSVC's is linked in: MSVC_RUNTIME_LIBRARY is MultiThreaded).
IMPORTS = {"GNU": {"kernel32.dll", "ws2_32.dll", "msvcrt.dll"}, "MSVC": {"kernel32.dll", "ws2_32.dll"}}
SIZE_LIMIT = 300 * 1024
SCRATCH_VERSION = "1.2.3"
AMD64 = 0x8664
PE32_PLUS = 0x20B  # the optional header of a 64-bit program
# DllCharacteristics: the defences it keeps, and what a program that any
# user starts must not ask for (a signature check, an app container, being
# a driver).
DEFENCES = {"HIGH_ENTROPY_VA": 0x0020, "DYNAMIC_BASE": 0x0040, "NX_COMPAT": 0x0100}
REFUSED = {"FORCE_INTEGRITY": 0x0080, "APPCONTAINER": 0x1000, "WDM_DRIVER": 0x2000}


def project(source):
    """The version and description that project() in SOURCE's CMakeLists.txt gives."""
    cmake_lists = Path(source, "CMakeLists.txt").read_text()
    return re.search(r'project\(client\s+VERSION (\S+)\s+DESCRIPTION "([^"]*)"', cmake_lists).groups()


def pe_headers(content):
    """What the headers of the PE file CONTENT say: its machine, time stamp,
    the kind of its optional header, the flags of its DllCharacteristics
    that DEFENCES and REFUSED name, and the DLLs it imports."""
    (header,) = struct.unpack_from("<I", content, 0x3C)
    assert content[header:header + 4] == b"PE\0\0", "no PE file"
    machine, sections, time_stamp, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", content, header + 4)
    optional = header + 24
    (magic,) = struct.unpack_from("<H", content, optional)
    (characteristics,) = struct.unpack_from("<H", content, optional + 70)
    # The import table's entry among the data directories.
    (import_table,) = struct.unpack_from("<I", content, optional + (120 if magic == PE32_PLUS else 104))

    def file_offset(address):
        for number in range(sections):
            _, size, start, raw_size, raw_start = struct.unpack_from("<8sIIII", content,
                                                                     optional + optional_size + 40 * number)
            if start <= address < start + max(size, raw_size):
                return address - start + raw_start
        raise AssertionError("address %#x is in no section" % address)

    dlls, descriptor = set(), file_offset(import_table)
    while name := struct.unpack_from("<I", content, descriptor + 12)[0]:  # 20 bytes each, the last all zero
        start = file_offset(name)
        dlls.add(content[start:content.index(b"\0", start)].decode().lower())
        descriptor += 20
    return {"machine": machine, "time stamp": time_stamp, "optional header": magic, "imports": dlls,
            "flags": {name for name, flag in {**DEFENCES, **REFUSED}.items() if characteristics & flag}}


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
    content = Path(executable).read_bytes()
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


def scratch_build(folder, version, source, configure):
    """client.exe built from a copy of the source that names VERSION."""
    tree = shutil.copytree(source, os.path.join(folder, "source"),
                           ignore=shutil.ignore_patterns(".git", "build", "dist"))
    # The three places that name the version, which configuring checks agree.
    for name, pattern, replacement in [
            ("CMakeLists.txt", r"(project\(client\s+VERSION )\S+", r"\g<1>" + version),
            ("client.1", r"(?m)^(\.Os client )\S+$", r"\g<1>" + version),
            ("packaging/debian/changelog", r"^client \(\S+\)", "client (%s)" % version)]:
        path = Path(tree, name)
        text, count = re.subn(pattern, replacement, path.read_text(), count=1)
        assert count == 1, "no version in %s" % name
        path.write_text(text)
    build = os.path.join(folder, "build")
    quiet = dict(stdout=subprocess.DEVNULL, check=True)
    subprocess.run(configure + ["-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF"], **quiet)
    subprocess.run([configure[0], "--build", build, "--config", "Release", "--target", "client"], **quiet)
    # Visual Studio's generator builds into a folder of the configuration's name.
    (executable,) = [path for path in [os.path.join(build, "client.exe"), os.path.join(build, "Release", "client.exe")]
                     if os.path.exists(path)]
    return executable


class ExecutableTest(unittest.TestCase):
    def test_runs_on_bare_windows(self):
        headers = pe_headers(Path(EXECUTABLE).read_bytes())
        self.assertEqual({key: headers[key] for key in ["machine", "optional header", "flags", "imports"]},
                         {"machine": AMD64, "optional header": PE32_PLUS, "flags": set(DEFENCES),
                          "imports": IMPORTS[COMPILER_ID]})
        self.assertLessEqual(os.path.getsize(EXECUTABLE), SIZE_LIMIT)

    def test_properties(self):
        project_version, description = project(SOURCE_DIR)
        with tempfile.TemporaryDirectory() as folder:
            scratch = scratch_build(folder, SCRATCH_VERSION, SOURCE_DIR, CONFIGURE)
            for executable, version in [(EXECUTABLE, project_version), (scratch, SCRATCH_VERSION)]:
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
                    # Explorer and Task Manager name the program by its FileDescription.
                    self.assertEqual({key: strings.get(key) for key in
                                      ["FileVersion", "ProductVersion", "ProductName", "OriginalFilename",
                                       "FileDescription"]},
                                     {"FileVersion": version, "ProductVersion": version, "ProductName": "client",
                                      "OriginalFilename": "client.exe", "FileDescription": description})
                    self.assertIn("MIT", strings.get("LegalCopyright", ""))


if __name__ == "__main__":
    EXECUTABLE, COMPILER_ID, SOURCE_DIR, _, *CONFIGURE = sys.argv[1:]
    verdict.main(sys.argv[:1])
