#!/usr/bin/env python3
"""Writes the sample images used by the demo and the documentation.

app.bin                   an application image of 20 000 bytes (not a
                          multiple of 4, so the padding shows)
burn_boot_0.3.0.0.bin     a bootloader update image
head_1.0_2016_04_22.bin   the 48-byte header sent in front of it

The contents are a deterministic pseudo-random pattern (a 32-bit xorshift),
so the files are the same on every run.
"""
import os
import struct


def pattern(length, seed):
    state = seed
    out = bytearray()
    while len(out) < length:
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        out += struct.pack("<I", state)
    return bytes(out[:length])


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    header = b"TORVANE-BOOT-HEADER v1.0 2016-04-22".ljust(48, b"\0")
    files = {
        "app.bin": pattern(20000, 0x1234567),
        "burn_boot_0.3.0.0.bin": pattern(12288, 0xB007),
        "head_1.0_2016_04_22.bin": header,
    }
    for name, data in files.items():
        with open(os.path.join(here, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
