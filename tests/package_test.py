"""The release folder as scripts/release.sh leaves it: it holds exactly the
package of each package preset, which SHA256SUMS vouches for; each holds
exactly its files, with the modes that packagers expect, and everything in
it carries the build's date; its program is for its row's machine and
passes the exchange suite; and a static program carries its defences where
objdump can see them (hardening-check can't read a static PIE).  Also where
the build's date comes from, for each way of getting the source:
configure-only checks of copies of the working tree.
Usage: package_test.py [DIST]  (default: dist/ of the source folder)
The date that everything must carry is SOURCE_DATE_EPOCH, where it is set,
or else the date that configuring the source gives the build."""

import io
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile

import verdict
from documents_test import readme_tables

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
DIST = sys.argv[1] if len(sys.argv) > 1 else os.path.join(SOURCE, "dist")

with open(os.path.join(SOURCE, "CMakeLists.txt")) as cmake_lists:
    VERSION = re.search(r"project\(client\s+VERSION (\S+)", cmake_lists.read()).group(1)
with open(os.path.join(SOURCE, "CMakePresets.json")) as presets:
    PACKAGE_PRESETS = [preset["name"] for preset in json.load(presets)["packagePresets"]]

DOCS = "share/doc/client/"
ARCHIVE = {DOCS + "README.md", DOCS + "LICENSE"}
STATIC = ARCHIVE | {DOCS + "NOTICE", "share/man/man1/client.1"}
DEB = {DOCS + "README.md", DOCS + "copyright", DOCS + "changelog.gz", "share/man/man1/client.1.gz"}
QEMU = ["qemu-aarch64", "-L", "/usr/aarch64-linux-gnu"]

PACKAGES = [
    # package preset  file name                                   machine    .deb's Architecture
    #                 files under  program           run through  beside the program  static PIE
    ("default",       "client-%s-Linux-x86_64.tar.gz" % VERSION,  "x86_64",  None,
                      "{stem}",    "bin/client",     [],          STATIC,             True),
    ("linux-arm64",   "client-%s-Linux-aarch64.tar.gz" % VERSION, "aarch64", None,
                      "{stem}",    "bin/client",     QEMU,        STATIC,             True),
    ("deb",           "client_%s_amd64.deb" % VERSION,            "x86_64",  "amd64",
                      "usr",       "bin/client",     [],          DEB,                False),
    ("deb-arm64",     "client_%s_arm64.deb" % VERSION,            "aarch64", "arm64",
                      "usr",       "bin/client",     QEMU,        DEB,                False),
    ("windows",       "client-%s-win64.zip" % VERSION,            "x86_64",  None,
                      "{stem}",    "bin/client.exe", ["wine"],    ARCHIVE,            False),
]

DEB_FIELDS = {"Package": r"client", "Version": re.escape(VERSION), "Section": r"net",
              "Maintainer": r".+ <.+@.+>", "Depends": r"libc6(:arm64)? \(>= 2\.\d+\)"}

# For each machine: its name in readelf and its number in a PE header; the
# objdump that reads its code, and the instruction that main starts with
# under control-flow protection (CET's landing pad; PAC, which BTI also
# accepts); whether its static PIE promises packed relative relocations
# (Debian 12's aarch64 cross linker can't pack them).
MACHINES = {
    "x86_64":  ("Advanced Micro Devices X86-64", 0x8664, "objdump",                   "endbr64", True),
    "aarch64": ("AArch64",                       0xAA64, "aarch64-linux-gnu-objdump", "paciasp", False),
}

# Commit times of the scratch repositories below.
COMMIT_TIME, OTHER_COMMIT_TIME = "1500000000", "1000000000"

DATE_SOURCES = [
    # the source, as its user got it                        SOURCE_DATE_EPOCH  the build's date
    ("the top of a repository of its own, as a clone",       "1234567890",      "1234567890"),
    ("the top of a repository of its own, as a clone",       None,              COMMIT_TIME),
    ("git archive, unpacked",                                None,              COMMIT_TIME),
    ("git archive, unpacked in an unrelated repository",     None,              COMMIT_TIME),
    ("a copy without .git: cmake/source-date unexpanded",    None,              None),
]


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


def output_of(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, check=True, **options).stdout


def ar_members(package):
    """The members of a .deb (an ar archive): {name: (mode, time, content)}."""
    with open(package, "rb") as deb:
        content = deb.read()
    members, header = {}, 8  # after "!<arch>\n"
    while header < len(content):
        fields = content[header:header + 60].decode()
        size = int(fields[48:58])
        members[fields[:16].strip()] = (int(fields[40:48], 8), int(fields[16:28]),
                                        content[header + 60:header + 60 + size])
        header += 60 + size + size % 2
    return members


def entries(package):
    """Every entry of PACKAGE, folders included: {name: (mode, time)}."""
    def of_tar(data):
        with tarfile.open(fileobj=io.BytesIO(data)) as tarred:
            return {member.name + ("/" if member.isdir() else ""): (member.mode, member.mtime) for member in tarred}

    if package.endswith(".zip"):
        with zipfile.ZipFile(package) as zipped:
            # The extended time stamp field (0x5455) holds the exact time.
            return {info.filename: (info.external_attr >> 16 & 0o7777,
                                    struct.unpack_from("<I", info.extra, info.extra.find(b"UT") + 5)[0])
                    for info in zipped.infolist()}
    if package.endswith(".deb"):
        found = {}
        for name, (mode, time, content) in ar_members(package).items():
            found[name] = (mode & 0o7777, time)
            if name.endswith(".tar.gz"):
                found.update({name + ":" + entry: value for entry, value in of_tar(content).items()})
        return found
    with open(package, "rb") as tarred:
        return of_tar(tarred.read())


def pe_header(content):
    """(machine, time stamp) from the file header of the PE file CONTENT."""
    (header,) = struct.unpack_from("<I", content, 0x3C)
    machine, _, time_stamp = struct.unpack_from("<HHI", content, header + 4)  # after "PE\0\0"
    return machine, time_stamp


def machine_of(program):
    """The machine that PROGRAM says it is for: readelf's name, or a PE header's number."""
    with open(program, "rb") as file:
        content = file.read()
    if content.startswith(b"MZ"):
        return pe_header(content)[0]
    return re.search(r"Machine:\s+(.+)", output_of("readelf", "--file-header", program)).group(1).strip()


def date_of_build(source, build, env):
    """The date that configuring SOURCE in BUILD gives what the build makes,
    or None; and what CMake warned of."""
    configured = subprocess.run(["cmake", "-S", source, "-B", build, "-G", "Ninja", "-DBUILD_TESTING=OFF"],
                                capture_output=True, text=True, env=env, check=True)
    date = re.search(r"^-- Date of what the build makes: (\S+)", configured.stdout, re.MULTILINE)
    return date and date.group(1), configured.stderr


def git(folder, *args, time=COMMIT_TIME):
    env = dict(os.environ, GIT_AUTHOR_DATE="@%s +0000" % time, GIT_COMMITTER_DATE="@%s +0000" % time)
    settings = ["-c", "user.name=client", "-c", "user.email=client@example.org", "-c", "commit.gpgsign=false"]
    return subprocess.run(["git", "-C", folder] + settings + list(args), env=env, capture_output=True,
                          check=True).stdout


def source_as(kind, folder):
    """The working tree's source (the files that git knows or would add),
    got as KIND in DATE_SOURCES says, in FOLDER."""
    copy = os.path.join(folder, "client")
    for name in git(SOURCE, "ls-files", "-z", "--cached", "--others", "--exclude-standard").decode().split("\0"):
        if name and os.path.isfile(os.path.join(SOURCE, name)):
            os.makedirs(os.path.dirname(os.path.join(copy, name)), exist_ok=True)
            shutil.copy2(os.path.join(SOURCE, name), os.path.join(copy, name))
    if kind.startswith("a copy"):
        return copy
    git(copy, "init", "--quiet")
    git(copy, "add", "--all")
    git(copy, "commit", "--quiet", "-m", "the source")
    if kind.startswith("the top of a repository"):
        return copy
    archive = git(copy, "archive", "--format=tar", "--prefix=client/", "HEAD")
    shutil.rmtree(copy)
    if kind.endswith("in an unrelated repository"):
        git(folder, "init", "--quiet")
        git(folder, "commit", "--quiet", "--allow-empty", "-m", "another project", time=OTHER_COMMIT_TIME)
    with tarfile.open(fileobj=io.BytesIO(archive)) as tarred:
        tarred.extractall(folder)
    return copy


class PackageTest(unittest.TestCase):
    maxDiff = None

    def test_release_holds_what_is_promised(self):
        self.assertEqual(sorted(PACKAGE_PRESETS), sorted(row[0] for row in PACKAGES),
                         "a row of PACKAGES for each package preset, and a preset for each row")
        names = sorted(row[1] for row in PACKAGES)
        self.assertEqual(sorted(os.listdir(DIST)), sorted(names + ["SHA256SUMS"]))
        with open(os.path.join(DIST, "SHA256SUMS")) as sums:
            self.assertEqual(sorted(line.split("  ", 1)[1] for line in sums.read().splitlines()), names)
        check = subprocess.run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=DIST,
                               capture_output=True, text=True, check=False)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def test_readme_names_the_files(self):
        (downloads,) = readme_tables("Download")
        self.assertEqual(sorted(row[0] for row in downloads),
                         sorted(["`%s`" % row[1].replace(VERSION, "<version>") for row in PACKAGES] + ["`SHA256SUMS`"]))

    def test_packages(self):
        for _, name, machine, architecture, root, program, runner, beside, static_pie in PACKAGES:
            with self.subTest(name), tempfile.TemporaryDirectory() as folder:
                root = root.format(stem=re.sub(r"\.(tar\.gz|zip)$", "", name))
                package = os.path.join(DIST, name)
                unpack(package, folder)
                self.assertEqual(os.listdir(folder), [root])
                self.assertEqual(files_under(os.path.join(folder, root)), {program} | beside)
                # Folders and programs rwxr-xr-x, the rest rw-r--r--, whatever the umask of the one who built it.
                self.assertEqual({entry: oct(mode) for entry, (mode, _) in entries(package).items()
                                  if mode != (0o755 if entry.endswith(("/", "/" + program)) else 0o644)}, {})
                program = os.path.join(folder, root, program)
                self.assertIn(machine_of(program), MACHINES[machine][:2])
                if architecture:
                    for field, pattern in dict(DEB_FIELDS, Architecture=re.escape(architecture)).items():
                        self.assertRegex(output_of("dpkg-deb", "-f", package, field).strip(), "^(%s)$" % pattern)
                if static_pie:
                    self.check_static_pie(program, machine)
                    with open(os.path.join(folder, root, DOCS, "NOTICE")) as notice:
                        notice = notice.read()
                    # The library it holds, its licence, its source, and the
                    # distribution's source package that the build took it from.
                    version = re.escape(re.search(r"glibc\), version (\d+\.\d+)\.", notice).group(1))
                    for promise in ["Lesser General Public License", r"https://ftp\.gnu\.org/gnu/glibc/glibc-%s\.tar" % version,
                                    r"source package glibc %s-\S+" % version]:
                        self.assertRegex(notice, promise)
                # zip keeps no execute bit; Wine needs none.
                suite = subprocess.run([sys.executable, os.path.join(HERE, "exchange_test.py"), "--"] + runner + [program],
                                       stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=600, check=False)
                self.assertEqual(suite.returncode, 0, suite.stderr)

    def test_one_date(self):
        # Everything dated, client.exe's time stamp included, carries the
        # build's date: SOURCE_DATE_EPOCH where the one who released set it,
        # else the date that configuring the source gives.
        if "SOURCE_DATE_EPOCH" in os.environ:
            wanted = os.environ["SOURCE_DATE_EPOCH"]
        else:
            with tempfile.TemporaryDirectory() as build:
                wanted, _ = date_of_build(SOURCE, build, os.environ)
        self.assertIsNotNone(wanted, "configuring the source gives no date")
        dates = {}
        for _, name, *_ in PACKAGES:
            package = os.path.join(DIST, name)
            dates.update({name + ":" + entry: time for entry, (_, time) in entries(package).items()})
            if name.endswith(".zip"):
                with zipfile.ZipFile(package) as zipped:
                    (executable,) = [entry for entry in zipped.namelist() if entry.endswith(".exe")]
                    dates[name + ": client.exe's time stamp"] = pe_header(zipped.read(executable))[1]
        self.assertEqual({entry: time for entry, time in dates.items() if time != int(wanted)}, {}, "not dated " + wanted)

    @unittest.skipUnless(os.path.exists(os.path.join(SOURCE, ".git")), "git: the source is no git repository")
    def test_where_the_date_comes_from(self):
        env = {name: value for name, value in os.environ.items() if name != "SOURCE_DATE_EPOCH"}
        for kind, source_date_epoch, wanted in DATE_SOURCES:
            with self.subTest(kind, SOURCE_DATE_EPOCH=source_date_epoch), tempfile.TemporaryDirectory() as folder:
                date, warnings = date_of_build(source_as(kind, folder), os.path.join(folder, "build"),
                                               dict(env, SOURCE_DATE_EPOCH=source_date_epoch) if source_date_epoch else env)
                self.assertEqual(date, wanted)
                self.assertEqual("dates in the build are the current time" in warnings, wanted is None)

    def check_static_pie(self, program, machine):
        """Position-independent, no loader, RELRO with immediate binding,
        packed relocations where MACHINE promises them, and in main
        control-flow protection and a stack canary."""
        headers = output_of("readelf", "--file-header", "--program-headers", "--dynamic", "--wide", program)
        _, _, objdump, landing, packed_relocations = MACHINES[machine]
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
        if packed_relocations:
            self.assertTrue("(RELR)" in headers, "no packed relative relocations (DT_RELR)")


if __name__ == "__main__":
    verdict.main(sys.argv[:1])
