#!/usr/bin/env python3
"""Runs the kernel-test scenarios in a QEMU guest booting Debian's kernel.

The project's binaries, the guest scripts, busybox, udevd and the HID modules
go into an initramfs; the guest runs every scenario and reports each one on
its serial console. QEMU's own exit code says nothing about the guest, so the
outcome is read from those result lines alone.

Exit status: 0 all scenarios passed (or skipped), 1 a scenario failed or the
guest did not finish, 77 the harness cannot run here (no QEMU, busybox or
kernel package) -- CTest shows that as a skip.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

# Keeps the source folder free of __pycache__.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import guest_image  # noqa: E402
import kernel_package  # noqa: E402

SKIP = 77


def log(msg):
    print(f"[kernel] {msg}", flush=True)


def skip(msg):
    print(f"SKIPPED: {msg}", flush=True)
    sys.exit(SKIP)


def use_kvm():
    """KVM only where the CPU offers hardware virtualisation to this host."""
    try:
        with open("/proc/cpuinfo") as f:
            flags = f.read().split()
    except OSError:
        return False
    return ("vmx" in flags or "svm" in flags) and os.access("/dev/kvm", os.R_OK | os.W_OK)


def host_tsc_khz():
    """The host's TSC rate: under software emulation the guest's TSC ticks
    at the host's rate."""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("cpu MHz"):
                    return int(float(line.split(":")[1]) * 1000)
    except (OSError, ValueError, IndexError):
        pass
    return None


def kernel_command_line(only, verbose):
    # On a busy host the guest's calibration of its TSC against the emulated
    # PIT fails now and then, and the boot then stalls for good. Telling the
    # kernel the TSC rate skips that calibration, and tsc=reliable keeps the
    # clocksource watchdog from discarding the TSC over emulation jitter.
    args = ["console=ttyS0", "quiet", "panic=-1", "no_timer_check"]
    khz = host_tsc_khz()
    if khz and not use_kvm():
        args += [f"tsc_early_khz={khz}", "tsc=reliable"]
    if only:
        args.append("torvane.only=" + ",".join(only))
    if verbose:
        args.append("torvane.verbose=1")
    return " ".join(args)


def boot_guest(qemu, vmlinux, initrd, only, verbose, console_log, deadline):
    """Boots the guest; yields (elapsed seconds, console line) as they come."""
    append = kernel_command_line(only, verbose)
    argv = ["timeout", "--kill-after=5", str(deadline), qemu,
            "-M", "microvm", "-m", "512", "-smp", "1", "-nographic", "-no-reboot",
            "-kernel", vmlinux, "-initrd", initrd, "-append", append]
    if use_kvm():
        argv[4:4] = ["-accel", "kvm", "-cpu", "host"]
    else:
        # Without ARAT the emulated CPU's local timer stops in idle, the
        # kernel falls back to a 4 ms tick for its timers and every USB round
        # trip through dummy_hcd costs about 8 ms; with it about 0.6 ms.
        argv[4:4] = ["-accel", "tcg", "-cpu", "qemu64,+arat"]
    start = time.monotonic()
    with open(console_log, "w", errors="replace") as out, \
            subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT) as proc:
        for raw in proc.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            out.write(line + "\n")
            yield time.monotonic() - start, line
        proc.wait()
        if proc.returncode in (124, 137):
            yield time.monotonic() - start, f"TORVANE-TIMEOUT after {deadline}s"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--work-dir", required=True, help="folder for the initramfs and console log")
    ap.add_argument("--cache-dir", default=kernel_package.default_cache_dir(),
                    help="where the kernel package's files are kept between runs")
    ap.add_argument("--bin", action="append", default=[], metavar="NAME=PATH",
                    help="a binary of ours to put into the guest's /usr/bin")
    ap.add_argument("--file", action="append", default=[], metavar="GUEST_PATH=HOST_PATH",
                    help="a data file to put into the guest")
    ap.add_argument("--udev-rules", help="the project's udev rules file")
    ap.add_argument("--only", action="append", default=[], help="run only these scenarios")
    ap.add_argument("--verbose", action="store_true",
                    default=os.environ.get("TORVANE_KERNEL_VERBOSE") == "1",
                    help="show every scenario's output, not only a failing one's")
    ap.add_argument("--timeout", type=int, default=360, help="limit for the whole guest run (s)")
    args = ap.parse_args()

    t_start = time.monotonic()
    qemu = shutil.which("qemu-system-x86_64")
    if not qemu:
        skip("qemu-system-x86_64 not found (install qemu-system-x86)")
    busybox = guest_image.find_static_busybox()
    if not busybox:
        skip("no static busybox found (install busybox-static)")
    if not shutil.which("apt-get") or not shutil.which("dpkg-deb"):
        skip("apt-get/dpkg-deb not available to fetch the kernel package")
    try:
        kernel_dir = kernel_package.obtain_kernel(args.cache_dir, log)
    except kernel_package.Unavailable as exc:
        skip(f"kernel package not available: {exc}")
    t_kernel = time.monotonic()

    binaries = {}
    for item in args.bin:
        name, _, path = item.partition("=")
        if os.path.isfile(path):
            binaries[name] = path
        else:
            log(f"{name} not built ({path}); scenarios needing it will be skipped")
    files = {}
    for item in args.file:
        guest_path, _, host_path = item.partition("=")
        if os.path.isfile(host_path):
            files[guest_path] = host_path
        else:
            log(f"data file {host_path} missing; scenarios needing {guest_path} will fail")
    os.makedirs(args.work_dir, exist_ok=True)
    initrd = os.path.join(args.work_dir, "initrd.gz")
    try:
        guest_image.build(initrd, busybox=busybox, kernel_dir=kernel_dir,
                          guest_dir=os.path.join(here, "guest"), binaries=binaries, files=files,
                          udev_rules=args.udev_rules, log=log)
    except (OSError, guest_image.MissingLibrary) as exc:
        print(f"FAIL cannot build the guest's initramfs: {exc}", flush=True)
        print("0 passed, 1 failed", flush=True)
        return 1
    t_image = time.monotonic()

    results = []  # (name, verdict, detail)
    finished = False
    boot_seconds = None
    console_log = os.path.join(args.work_dir, "console.log")
    for elapsed, line in boot_guest(qemu, os.path.join(kernel_dir, "vmlinux"), initrd,
                                    args.only, args.verbose, console_log, args.timeout):
        if line.startswith("TORVANE-GUEST up") and boot_seconds is None:
            boot_seconds = elapsed
        elif line.startswith("TORVANE-RESULT "):
            parts = line.split(" ", 3)
            name, verdict = parts[1], parts[2] if len(parts) > 2 else "FAIL"
            detail = parts[3] if len(parts) > 3 else ""
            results.append((name, verdict, detail))
            print(f"{verdict:<4} {name}  {detail}", flush=True)
        elif line.startswith("TORVANE-DONE"):
            finished = True
        elif line.startswith(("    | ", "TORVANE-NOTE", "TORVANE-TIMEOUT")) or "Kernel panic" in line:
            print(line, flush=True)
    t_end = time.monotonic()

    passed = sum(1 for r in results if r[1] == "PASS")
    failed = sum(1 for r in results if r[1] not in ("PASS", "SKIP"))
    skipped = sum(1 for r in results if r[1] == "SKIP")
    if not finished:
        failed += 1
        print(f"FAIL guest did not finish (console log: {console_log})", flush=True)
    log(f"timings: kernel {t_kernel - t_start:.1f}s, initramfs {t_image - t_kernel:.1f}s, "
        f"boot to /init {boot_seconds if boot_seconds is None else round(boot_seconds, 1)}s, "
        f"guest total {t_end - t_image:.1f}s, all {t_end - t_start:.1f}s")
    summary = f"{passed} passed, {failed} failed"
    if skipped:
        summary += f", {skipped} skipped"
    print(summary, flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
