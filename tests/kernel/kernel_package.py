"""Fetches Debian's stock kernel package and keeps what the guest needs.

The guest boots the distribution's own kernel so that the HID core, hidraw,
uhid and hid-generic are the real ones, and so is the USB chain that lets the
guest present a USB HID gadget to itself (dummy_hcd, libcomposite, usb_f_hid,
usbhid). Only these files are kept per kernel
ABI in the cache folder: the uncompressed vmlinux (boots about twice as fast
as the compressed image under software emulation) and the modules below.
"""

import lzma
import os
import re
import shutil
import subprocess
import tarfile
import tempfile

# Module -> the folder of the package it lives in. The package has no
# modules.dep the guest could use, so the guest loads them in this order
# (each one's .modinfo depends= comes before it): the HID modules first,
# then the USB chain, usbhid last.
MODULE_DIRS = {
    "hid": "drivers/hid",
    "uhid": "drivers/hid",
    "hid-generic": "drivers/hid",
    "usb-common": "drivers/usb/common",
    "usbcore": "drivers/usb/core",
    "udc-core": "drivers/usb/gadget/udc",
    "dummy_hcd": "drivers/usb/gadget/udc",
    "configfs": "fs/configfs",
    "libcomposite": "drivers/usb/gadget",
    "usb_f_hid": "drivers/usb/gadget/function",
    "usbhid": "drivers/hid/usbhid",
}
MODULES = tuple(MODULE_DIRS)
XZ_MAGIC = b"\xfd7zXZ\x00"


class Unavailable(Exception):
    """The kernel cannot be had on this machine (the harness skips)."""


def default_cache_dir():
    base = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return os.path.join(base, "torvane-kernel")


def _run(argv):
    try:
        return subprocess.run(argv, capture_output=True, text=True, timeout=300)
    except (OSError, subprocess.TimeoutExpired) as exc:
        return subprocess.CompletedProcess(argv, 127, "", str(exc))


def resolve_image_package():
    """Name of the kernel image package linux-image-amd64 currently depends on."""

    def lookup():
        res = _run(["apt-cache", "depends", "linux-image-amd64"])
        if res.returncode != 0:
            return None
        for line in res.stdout.splitlines():
            m = re.match(r"\s*Depends:\s*(linux-image-\S+-amd64)\s*$", line)
            if m:
                return m.group(1)
        return None

    name = lookup()
    if name is None and os.geteuid() == 0:
        # A fresh machine may have no package lists yet.
        _run(["apt-get", "update", "-qq"])
        name = lookup()
    return name


def _abi_of(package):
    return package[len("linux-image-"):]


def _kernel_complete(folder):
    return all(os.path.isfile(os.path.join(folder, f))
               for f in ("vmlinux",) + tuple(m + ".ko" for m in MODULES))


def extract_vmlinux(vmlinuz_bytes):
    """The uncompressed kernel inside a bzImage: the XZ stream it carries.

    The decompressor stub is followed by the XZ stream; trailing bytes after
    the stream (the stub's size field, padding) are ignored.
    """
    start = vmlinuz_bytes.find(XZ_MAGIC)
    while start >= 0:
        try:
            dec = lzma.LZMADecompressor(format=lzma.FORMAT_XZ)
            data = dec.decompress(vmlinuz_bytes[start:])
            if data[:4] == b"\x7fELF":
                return data
        except lzma.LZMAError:
            pass
        start = vmlinuz_bytes.find(XZ_MAGIC, start + 1)
    raise Unavailable("no XZ-compressed kernel found in vmlinuz")


def _unpack(deb, target, log):
    """Takes vmlinuz and the modules out of the package into target."""
    wanted_modules = {m + ".ko": None for m in MODULES}
    vmlinuz = None
    fsys = subprocess.Popen(["dpkg-deb", "--fsys-tarfile", deb], stdout=subprocess.PIPE)
    try:
        with tarfile.open(fileobj=fsys.stdout, mode="r|") as tar:
            for member in tar:
                if not member.isfile():
                    continue
                base = os.path.basename(member.name)
                if re.fullmatch(r"\./boot/vmlinuz-.*", member.name):
                    vmlinuz = tar.extractfile(member).read()
                elif (base in wanted_modules and wanted_modules[base] is None
                      and os.path.dirname(member.name).endswith("/kernel/" + MODULE_DIRS[base[:-3]])):
                    wanted_modules[base] = tar.extractfile(member).read()
    except tarfile.TarError as exc:
        raise Unavailable(f"cannot unpack {deb}: {exc}") from exc
    finally:
        fsys.stdout.close()
        fsys.wait()
    if fsys.returncode != 0 or vmlinuz is None:
        raise Unavailable(f"cannot unpack {deb}")
    missing = [m for m, data in wanted_modules.items() if data is None]
    if missing:
        raise Unavailable(f"{deb} lacks {', '.join(missing)} (uncompressed)")
    # Written into a side folder and renamed, so an interrupted run never
    # leaves a half-filled cache entry behind.
    staging = tempfile.mkdtemp(dir=os.path.dirname(target))
    os.chmod(staging, 0o755)
    try:
        with open(os.path.join(staging, "vmlinux"), "wb") as f:
            f.write(extract_vmlinux(vmlinuz))
        for name, data in wanted_modules.items():
            with open(os.path.join(staging, name), "wb") as f:
                f.write(data)
        shutil.rmtree(target, ignore_errors=True)
        os.rename(staging, target)
    except BaseException:
        shutil.rmtree(staging, ignore_errors=True)
        raise
    log(f"kernel unpacked into {target}")


def obtain_kernel(cache_dir, log):
    """Returns the folder holding vmlinux and the modules; raises Unavailable."""
    package = resolve_image_package()
    if package is None:
        # Offline: fall back to the newest kernel already in the cache.
        cached = sorted(d for d in (os.listdir(cache_dir) if os.path.isdir(cache_dir) else [])
                        if _kernel_complete(os.path.join(cache_dir, d)))
        if cached:
            log(f"cannot resolve linux-image-amd64; using cached kernel {cached[-1]}")
            return os.path.join(cache_dir, cached[-1])
        raise Unavailable("cannot resolve the kernel package of linux-image-amd64 "
                          "(apt-cache gave no dependency) and no kernel is cached")
    target = os.path.join(cache_dir, _abi_of(package))
    if _kernel_complete(target):
        return target
    os.makedirs(cache_dir, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=cache_dir) as dl:
        log(f"downloading {package}")
        res = subprocess.run(["apt-get", "download", "-q", "-o", "APT::Sandbox::User=root", package],
                             cwd=dl, capture_output=True, text=True)
        debs = [f for f in os.listdir(dl) if f.endswith(".deb")]
        if res.returncode != 0 or not debs:
            raise Unavailable(f"apt-get download {package} failed: "
                              f"{(res.stderr or res.stdout).strip().splitlines()[-1:] or ['?']}")
        _unpack(os.path.join(dl, debs[0]), target, log)
    # Only the current kernel is kept.
    for other in os.listdir(cache_dir):
        path = os.path.join(cache_dir, other)
        if path != target and os.path.isdir(path) and _kernel_complete(path):
            shutil.rmtree(path, ignore_errors=True)
    return target
