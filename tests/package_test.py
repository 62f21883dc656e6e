"""The release folder as scripts/release.sh leaves it: it holds exactly the
package of each package preset, which SHA256SUMS vouches for; each holds
exactly its files, with the modes that packagers expect, an archive an
entry for every folder, in sorted order, and everything in it carries the
build's date; its program is for its row's machine and passes the exchange
suite; a .deb's fields are its own; and a static program carries its
defences where objdump can see them (hardening-check can't read a static
PIE).  Also where the build's date comes from, for each way of getting the
source: configure-only checks of copies of the working tree.
Usage: package_test.py [DIST]  (default: dist/ of the source folder)
What the packages must carry comes from the settings that scripts/release.sh
takes, never from the packages: the date, SOURCE_DATE_EPOCH where it is set,
or else the date that configuring the source gives the build; the .debs'
Maintainer, CLIENT_MAINTAINER where it is set, or else the project's own."""

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
from pathlib import Path

import verdict
from documents_test import readme_tables
from executable_test import pe_headers, project

# Unpack tar archives as data, where Python can: 3.12 and later warn without a filter.
tarfile.TarFile.extraction_filter = staticmethod(getattr(tarfile, "data_filter", None))
HERE = Path(__file__).resolve().parent
SOURCE = HERE.parent
VERSION, _ = project(SOURCE)
PACKAGE_PRESETS = [preset["name"] for preset in json.loads((SOURCE / "CMakePresets.json").read_text())["packagePresets"]]
MAINTAINER = os.environ.get("CLIENT_MAINTAINER") or re.search(
    r'set\(CLIENT_MAINTAINER "([^"]+)"', (SOURCE / "cmake" / "packaging.cmake").read_text()).group(1)

DOCS = "share/doc/client/"
ARCHIVE = {DOCS + "README.md", DOCS + "LICENSE"}
STATIC = ARCHIVE | {DOCS + "NOTICE", "share/man/man1/client.1"}
DEB = {DOCS + "README.md", DOCS + "copyright", DOCS + "changelog.gz", "share/man/man1/client.1.gz"}
QEMU = ["qemu-aarch64", "-L", "/usr/aarch64-linux-gnu"]

# A .tar.gz holds a static program; a .deb's files are under usr/, an
# archive's under a folder of its own name.
PACKAGES = [
    # preset       file name                                   machine    program           run through  beside it
    ("default",     "client-%s-Linux-x86_64.tar.gz" % VERSION,  "x86_64",  "bin/client",     [],          STATIC),
    ("linux-arm64", "client-%s-Linux-aarch64.tar.gz" % VERSION, "aarch64", "bin/client",     QEMU,        STATIC),
    ("deb",         "client_%s_amd64.deb" % VERSION,            "x86_64",  "bin/client",     [],          DEB),
    ("deb-arm64",   "client_%s_arm64.deb" % VERSION,            "aarch64", "bin/client",     QEMU,        DEB),
    ("windows",     "client-%s-win64.zip" % VERSION,            "x86_64",  "bin/client.exe", ["wine"],    ARCHIVE),
]

DEB_FIELDS = {"Package": r"client", "Version": re.escape(VERSION), "Section": r"net",
              "Maintainer": re.escape(MAINTAINER), "Depends": r"libc6(:arm64)? \(>= 2\.\d+\)"}
# The tar archives among a .deb's members, and how dpkg-deb gives each
# uncompressed, whatever its compression.
DEB_TARS = {"control": "--ctrl-tarfile", "data": "--fsys-tarfile"}

# For each machine: its name in readelf, its number in a PE header and its
# Debian architecture; the objdump that reads its code, and the instruction
# that main starts with under control-flow protection (CET's landing pad;
# PAC, which BTI also accepts); whether its static PIE promises packed
# relative relocations (Debian 12's aarch64 cross linker can't pack them).
MACHINES = {
    "x86_64":  ("Advanced Micro Devices X86-64", 0x8664, "amd64", "objdump",                   "endbr64", True),
    "aarch64": ("AArch64",                       0xAA64, "arm64", "aarch64-linux-gnu-objdump", "paciasp", False),
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


def output_of(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, check=True, **options).stdout


def of_tar(data):
    """The entries of the tar archive DATA: {name: (mode, time)}, a folder's name ending in "/"."""
    with tarfile.open(fileobj=io.BytesIO(data)) as tarred:
        return {member.name + ("/" if member.isdir() else ""): (member.mode, member.mtime) for member in tarred}


def contents(package):
    """Every entry of PACKAGE, in the order stored, by the archive that holds
    it: {archive: {entry: (mode, time)}}; for a .deb, its members (an ar
    archive), and the tar archives among them, which must be readable."""
    if package.suffix == ".zip":
        with zipfile.ZipFile(package) as zipped:
            # The extended time stamp field (0x5455) holds the exact time.
            return {package.name: {info.filename: (info.external_attr >> 16 & 0o7777,
                                                   struct.unpack_from("<I", info.extra, info.extra.find(b"UT") + 5)[0])
                                   for info in zipped.infolist()}}
    if package.suffix != ".deb":
        return {package.name: of_tar(package.read_bytes())}
    members, content, header = {}, package.read_bytes(), 8  # after "!<arch>\n"
    while header < len(content):
        fields = content[header:header + 60].decode()
        members[fields[:16].strip().rstrip("/")] = (int(fields[40:48], 8) & 0o7777, int(fields[16:28]))
        header += 60 + int(fields[48:58]) + int(fields[48:58]) % 2
    found = {package.name: members}
    for name in members:
        tar = re.fullmatch(r"(control|data)\.tar(\.\w+)?", name)
        assert tar or name == "debian-binary", "%s: %s is no member of a .deb" % (package.name, name)
        if tar:
            found[name] = of_tar(subprocess.run(["dpkg-deb", DEB_TARS[tar.group(1)], package],
                                                capture_output=True, check=True).stdout)
    return found


def with_folders(names):
    """NAMES and every folder above each, sorted."""
    return sorted(set(names) | {name[:slash.end()] for name in names for slash in re.finditer("/", name.rstrip("/"))})


def machine_of(program):
    """The machine that PROGRAM says it is for: readelf's name, or a PE header's number."""
    content = program.read_bytes()
    if content.startswith(b"MZ"):
        return pe_headers(content)["machine"]
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
    return subprocess.run(["git", "-C", folder] + settings + list(args), env=env, capture_output=True, check=True).stdout


def source_as(kind, folder):
    """The working tree's source (the files that git knows or would add),
    got as KIND in DATE_SOURCES says, in FOLDER."""
    copy = folder / "client"
    for name in git(SOURCE, "ls-files", "-z", "--cached", "--others", "--exclude-standard").decode().split("\0"):
        if name and (SOURCE / name).is_file():
            (copy / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(SOURCE / name, copy / name)
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
        self.assertEqual(sorted(path.name for path in DIST.iterdir()), sorted(names + ["SHA256SUMS"]))
        sums = (DIST / "SHA256SUMS").read_text().splitlines()
        self.assertEqual(sorted(line.split("  ", 1)[1] for line in sums), names)
        check = subprocess.run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=DIST,
                               capture_output=True, text=True, check=False)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def test_readme_names_the_files(self):
        (downloads,) = readme_tables("Download")
        self.assertEqual(sorted(row[0] for row in downloads),
                         sorted(["`%s`" % row[1].replace(VERSION, "<version>") for row in PACKAGES] + ["`SHA256SUMS`"]))

    def test_packages(self):
        for preset, name, machine, program, runner, beside in PACKAGES:
            with self.subTest(name), tempfile.TemporaryDirectory() as folder:
                package, folder = DIST / name, Path(folder)
                root = "usr" if package.suffix == ".deb" else re.sub(r"\.(tar\.gz|zip)$", "", name)
                if package.suffix == ".deb":
                    subprocess.run(["dpkg-deb", "-x", package, folder], check=True)
                else:
                    shutil.unpack_archive(package, folder)
                self.assertEqual([path.name for path in folder.iterdir()], [root])
                self.assertEqual({path.relative_to(folder / root).as_posix() for path in (folder / root).rglob("*")
                                  if not path.is_dir()}, {program} | beside)
                for archive, entries in contents(package).items():
                    # Folders and programs rwxr-xr-x, the rest rw-r--r--, whatever the umask of the one who built it.
                    self.assertEqual({entry: oct(mode) for entry, (mode, _) in entries.items()
                                      if mode != (0o755 if entry.endswith(("/", "/" + program)) else 0o644)}, {}, archive)
                    if package.suffix != ".deb":
                        self.assertEqual(list(entries), with_folders(entries), "an entry for every folder, sorted")
                program = folder / root / program
                readelf_name, pe_number, architecture, *_ = MACHINES[machine]
                self.assertIn(machine_of(program), [readelf_name, pe_number])
                if package.suffix == ".deb":
                    for field, pattern in dict(DEB_FIELDS, Architecture=architecture).items():
                        self.assertRegex(output_of("dpkg-deb", "-f", package, field).strip(), "^(%s)$" % pattern)
                if name.endswith(".tar.gz"):
                    self.check_static_pie(program, machine)
                    notice = (folder / root / DOCS / "NOTICE").read_text()
                    # The library it holds, its licence, its source, and the
                    # distribution's source package that the build took it from.
                    version = re.escape(re.search(r"glibc\), version (\d+\.\d+)\.", notice).group(1))
                    for promise in ["Lesser General Public License", r"https://ftp\.gnu\.org/gnu/glibc/glibc-%s\.tar" % version,
                                    r"source package glibc %s-\S+" % version]:
                        self.assertRegex(notice, promise)
                # zip keeps no execute bit; Wine needs none.  The suite's
                # count goes to the tally under this package's preset.
                run = " ".join(filter(None, [os.environ.get("CLIENT_TEST_RUN"), preset]))
                suite = subprocess.run([sys.executable, HERE / "exchange_test.py", "--"] + runner + [program],
                                       stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=600,
                                       check=False, env=dict(os.environ, CLIENT_TEST_RUN=run))
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
            package = DIST / name
            for archive, entries in contents(package).items():
                dates.update({archive + ":" + entry: time for entry, (_, time) in entries.items()})
            if package.suffix == ".zip":
                with zipfile.ZipFile(package) as zipped:
                    (executable,) = [entry for entry in zipped.namelist() if entry.endswith(".exe")]
                    dates[name + ": client.exe's time stamp"] = pe_headers(zipped.read(executable))["time stamp"]
        self.assertEqual({entry: time for entry, time in dates.items() if time != int(wanted)}, {}, "not dated " + wanted)

    @unittest.skipUnless((SOURCE / ".git").exists(), "git: the source is no git repository")
    def test_where_the_date_comes_from(self):
        env = {name: value for name, value in os.environ.items() if name != "SOURCE_DATE_EPOCH"}
        for kind, source_date_epoch, wanted in DATE_SOURCES:
            with self.subTest(kind, SOURCE_DATE_EPOCH=source_date_epoch), tempfile.TemporaryDirectory() as folder:
                folder = Path(folder)
                date, warnings = date_of_build(source_as(kind, folder), folder / "build",
                                               dict(env, SOURCE_DATE_EPOCH=source_date_epoch) if source_date_epoch else env)
                self.assertEqual(date, wanted)
                self.assertEqual("dates in the build are the current time" in warnings, wanted is None)

    def check_static_pie(self, program, machine):
        """Position-independent, no loader, RELRO with immediate binding,
        packed relocations where MACHINE promises them, and in main
        control-flow protection and a stack canary."""
        headers = output_of("readelf", "--file-header", "--program-headers", "--dynamic", "--wide", program)
        *_, objdump, landing, packed_relocations = MACHINES[machine]
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
    DIST = Path(sys.argv[1] if len(sys.argv) > 1 else SOURCE / "dist").resolve()
    verdict.main(sys.argv[:1])
