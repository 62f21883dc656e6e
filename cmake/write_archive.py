"""Writes a .tar.gz or .zip again from the folder that CPack packed, so that
it has the same bytes whoever makes it, wherever, under any umask.  It holds
an entry for every folder and file, in sorted order, with the staged modes
(cmake/package_folders.cmake makes the folders rwxr-xr-x), owned by root.
Entries are dated SOURCE_DATE_EPOCH where it is set, else by each file's own
time.  A zip's times are in UTC.  The gzip header holds no name or time.
    write_archive.py ARCHIVE TOP    (TOP: the folder that the archive holds)
"""

import gzip
import os
import stat
import struct
import sys
import tarfile
import time
import zipfile


def entries(top):
    """(name, path) of TOP and every folder and file in it, sorted by name,
    each named from TOP's own name on; a folder's name ends in "/"."""
    found = [(os.path.basename(top) + "/", top)]
    for path, folders, files in os.walk(top):
        for name in folders + files:
            full = os.path.join(path, name)
            name = os.path.relpath(full, os.path.dirname(top)).replace(os.sep, "/")
            found.append((name + ("/" if os.path.isdir(full) else ""), full))
    return sorted(found)


def write_zip(out, top, date):
    with zipfile.ZipFile(out, "w") as zipped:
        for name, path in entries(top):
            status = os.stat(path)
            mtime = int(date or status.st_mtime)
            info = zipfile.ZipInfo(name, time.gmtime(mtime)[:6])
            info.create_system = 3  # Unix, whose modes follow
            info.external_attr = status.st_mode << 16 | (0x10 if name.endswith("/") else 0)  # MS-DOS's folder flag
            info.extra = struct.pack("<HHBI", 0x5455, 5, 1, mtime)  # extended time stamp: the exact time
            data = b""
            if stat.S_ISREG(status.st_mode):
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(path, "rb") as file:
                    data = file.read()
            zipped.writestr(info, data)


def write_tar_gz(out, top, date):
    with gzip.GzipFile(filename="", mode="wb", fileobj=out, mtime=0) as zipped, \
            tarfile.open(fileobj=zipped, mode="w", format=tarfile.GNU_FORMAT) as tarred:
        for name, path in entries(top):
            info = tarred.gettarinfo(path, name.rstrip("/"))
            info.mtime = int(date or info.mtime)
            info.uid, info.gid, info.uname, info.gname = 0, 0, "root", "root"
            if info.isfile():
                with open(path, "rb") as file:
                    tarred.addfile(info, file)
            else:
                tarred.addfile(info)


def main(archive, top):
    with open(archive, "wb") as out:
        write = write_zip if archive.endswith(".zip") else write_tar_gz
        write(out, top, os.environ.get("SOURCE_DATE_EPOCH"))


if __name__ == "__main__":
    main(*sys.argv[1:])
