"""Assembles the guest's root file system from the host's files."""

import os
import shutil
import struct

from initramfs import Archive, MissingLibrary, add_binary_with_libraries  # noqa: F401
from kernel_package import MODULES

UDEVD_PATH = "usr/lib/systemd/systemd-udevd"


def is_static_elf(path):
    """True for an x86-64 ELF executable without a program interpreter."""
    try:
        with open(path, "rb") as f:
            header = f.read(64)
            if len(header) < 64 or header[:4] != b"\x7fELF" or header[4] != 2:
                return False
            phoff, = struct.unpack_from("<Q", header, 32)
            phentsize, phnum = struct.unpack_from("<HH", header, 54)
            for i in range(phnum):
                f.seek(phoff + i * phentsize)
                p_type, = struct.unpack("<I", f.read(4))
                if p_type == 3:  # PT_INTERP: needs a dynamic loader
                    return False
            return True
    except (OSError, struct.error):
        return False


def find_static_busybox():
    """The busybox-static binary: a dynamically linked busybox cannot run in
    the guest without its libraries, so only a static one is taken."""
    for path in ("/bin/busybox", "/usr/bin/busybox", shutil.which("busybox") or ""):
        if path and os.path.isfile(path) and is_static_elf(path):
            return path
    return None


def find_udevadm():
    for path in ("/usr/bin/udevadm", "/bin/udevadm", shutil.which("udevadm") or ""):
        if path and os.path.isfile(path):
            return path
    return None


def build(out_path, *, busybox, kernel_dir, guest_dir, binaries, files, udev_rules, log):
    image = Archive()
    for d in ("proc", "sys", "dev", "run", "tmp", "bin", "sbin", "usr/bin", "usr/sbin", "etc"):
        image.add_dir(d)
    # The kernel opens /dev/console for /init before devtmpfs is mounted.
    image.add_char_device("dev/console", 5, 1)
    image.add_host_file("bin/busybox", busybox, 0o755)
    image.add_host_file("init", os.path.join(guest_dir, "init"), 0o755)
    for script in ("lib.sh", "usb.sh", "scenarios.sh", "usb_scenarios.sh"):
        image.add_host_file(f"etc/torvane/{script}", os.path.join(guest_dir, script), 0o644)
    for name in MODULES:
        image.add_host_file(f"lib/modules/{name}.ko", os.path.join(kernel_dir, name + ".ko"), 0o644)
    image.add_file("etc/passwd", b"root:x:0:0:root:/:/bin/sh\n")
    image.add_file("etc/group", b"root:x:0:\n")

    udevadm = find_udevadm()
    if udevadm:
        add_binary_with_libraries(image, "usr/bin/udevadm", udevadm)
        image.add_symlink(UDEVD_PATH, "/usr/bin/udevadm")
    else:
        log("udevadm not found (install udev); the guest runs without udevd")
    if udev_rules:
        image.add_host_file("etc/udev/rules.d/70-torvane.rules", udev_rules, 0o644)

    for name, path in sorted(binaries.items()):
        add_binary_with_libraries(image, f"usr/bin/{name}", path)

    for guest_path, host_path in sorted(files.items()):
        image.add_host_file(guest_path, host_path, 0o644)

    image.write_gzip(out_path)
    log(f"initramfs {os.path.getsize(out_path) // 1024} KiB with {', '.join(sorted(binaries)) or 'no binaries of ours'}")
