#!/usr/bin/env python3
"""Writes a forgery of a file: other bytes of the same size and the same CRC-32, the one check an
unsigned build has. Bytes near the start are flipped, then the last four are chosen so that the
CRC-32 comes out as before (it is affine in them over GF(2), so a 32x32 system settles them).

Usage: forge_crc.py ORIGINAL FORGERY
"""
import sys
import zlib


def forge(data):
    assert len(data) >= 16, "too short to forge"
    target = zlib.crc32(data)
    body = bytearray(data[:-4])
    body[len(body) // 3] ^= 0xFF
    body[0] ^= 0x5A
    prefix = bytes(body)
    base = zlib.crc32(prefix + bytes(4))
    # Column i: what bit i of the tail adds to the CRC-32.
    columns = [zlib.crc32(prefix + (1 << i).to_bytes(4, "little")) ^ base for i in range(32)]
    # Gaussian elimination: rows are (column, the tail bit it stands for).
    rows = [(columns[i], 1 << i) for i in range(32)]
    want, tail = target ^ base, 0
    for bit in range(32):
        pivot = next(j for j in range(bit, 32) if rows[j][0] >> bit & 1)
        rows[bit], rows[pivot] = rows[pivot], rows[bit]
        for j in range(32):
            if j != bit and rows[j][0] >> bit & 1:
                rows[j] = (rows[j][0] ^ rows[bit][0], rows[j][1] ^ rows[bit][1])
    for bit in range(32):
        if want >> bit & 1:
            tail ^= rows[bit][1]
    forged = prefix + tail.to_bytes(4, "little")
    assert zlib.crc32(forged) == target and len(forged) == len(data) and forged != data
    return forged


if __name__ == "__main__":
    original = open(sys.argv[1], "rb").read()
    open(sys.argv[2], "wb").write(forge(original))
