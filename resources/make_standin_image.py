#!/usr/bin/env python3
"""Writes the stand-in for the Mirrow's FPGA configuration image.

The real image belongs to the cable's maker and is not part of this
project. The programs only stream the image unchanged to the cable and wait
for the FPGA to report its configuration done, so for the emulated cable any
fixed block of the right size will do. This one is 131,704 bytes: a text
line that says what it is, then bytes from a 32-bit xorshift generator
(shifts 13, 17, 5) started from the fixed seed below, the low byte of each
state in turn. The same seed always gives the same bytes; the emulated
Mirrow (sim/cables/mirrow.cpp) knows their length and CRC-32 and reports
configuration done only for exactly these bytes.

Usage: make_standin_image.py OUTPUT   (prints the CRC-32 it wrote)
"""
import sys
import zlib

LENGTH = 131704
SEED = 0x4D49524F
HEADER = b"orbesk stand-in for the Mirrow FPGA image; a real cable needs its maker's image\n"


def image():
    data = bytearray(HEADER)
    state = SEED
    while len(data) < LENGTH:
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        data.append(state & 0xFF)
    return bytes(data)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    data = image()
    with open(sys.argv[1], "wb") as out:
        out.write(data)
    print("%s: %d bytes, crc32 %08X" % (sys.argv[1], len(data), zlib.crc32(data)))


if __name__ == "__main__":
    main()
