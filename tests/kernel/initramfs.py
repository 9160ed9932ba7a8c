"""Builds the guest's initramfs: a gzip-compressed cpio archive (newc).

Written by hand so that no cpio tool and no root rights are needed; device
nodes such as /dev/console go into the archive as plain entries.
"""

import gzip
import os
import re
import stat
import subprocess

S_IFDIR, S_IFREG, S_IFLNK, S_IFCHR = 0o040000, 0o100000, 0o120000, 0o020000


class Archive:
    def __init__(self):
        self._entries = {}  # path in the guest -> (mode, data, rdev)

    def _parents(self, path):
        parts = path.strip("/").split("/")[:-1]
        for i in range(1, len(parts) + 1):
            d = "/".join(parts[:i])
            if d not in self._entries:
                self._entries[d] = (S_IFDIR | 0o755, b"", (0, 0))

    def add_dir(self, path, mode=0o755):
        self._parents(path)
        self._entries[path.strip("/")] = (S_IFDIR | mode, b"", (0, 0))

    def add_file(self, path, data, mode=0o644):
        self._parents(path)
        self._entries[path.strip("/")] = (S_IFREG | mode, data, (0, 0))

    def add_host_file(self, path, host_path, mode=None):
        with open(host_path, "rb") as f:
            data = f.read()
        if mode is None:
            mode = 0o755 if os.access(host_path, os.X_OK) else 0o644
        self.add_file(path, data, mode)

    def add_symlink(self, path, target):
        self._parents(path)
        self._entries[path.strip("/")] = (S_IFLNK | 0o777, target.encode(), (0, 0))

    def add_char_device(self, path, major, minor, mode=0o600):
        self._parents(path)
        self._entries[path.strip("/")] = (S_IFCHR | mode, b"", (major, minor))

    def __contains__(self, path):
        return path.strip("/") in self._entries

    def write_gzip(self, out_path):
        def pad(n):
            return b"\0" * ((4 - n % 4) % 4)

        chunks = []
        ino = 1
        # Parents sort before their children, as the kernel's unpacker wants.
        for name in sorted(self._entries) + ["TRAILER!!!"]:
            mode, data, (rmaj, rmin) = self._entries.get(name, (0, b"", (0, 0)))
            encoded = name.encode() + b"\0"
            nlink = 2 if stat.S_ISDIR(mode) else 1
            fields = [ino, mode, 0, 0, nlink, 0, len(data), 0, 0, rmaj, rmin, len(encoded), 0]
            header = b"070701" + b"".join(b"%08X" % v for v in fields)
            chunks += [header, encoded, pad(len(header) + len(encoded)), data, pad(len(data))]
            ino += 1
        # Level 1: the archive is rebuilt on every run and the guest unpacks it
        # once; higher levels cost more time than they save.
        with gzip.open(out_path, "wb", compresslevel=1) as f:
            f.write(b"".join(chunks))


class MissingLibrary(Exception):
    """A binary needs a shared library the host does not have."""


def shared_libraries(binary):
    """Host paths of the shared libraries and loader a dynamic binary needs."""
    res = subprocess.run(["ldd", binary], capture_output=True, text=True)
    if res.returncode != 0:
        return []  # static binary ("not a dynamic executable")
    paths = []
    for line in res.stdout.splitlines():
        m = re.search(r"=>\s*(/\S+)", line) or re.match(r"\s*(/\S+)", line)
        if m:
            paths.append(m.group(1))
        elif "not found" in line:
            raise MissingLibrary(f"{binary}: {line.strip()}")
    return paths


def add_binary_with_libraries(archive, guest_path, host_path):
    """Copies a binary and, at the paths ldd names, everything it loads."""
    archive.add_host_file(guest_path, host_path, 0o755)
    for lib in shared_libraries(host_path):
        if lib not in archive:
            archive.add_host_file(lib, os.path.realpath(lib), 0o755)
