#!/usr/bin/env python3
"""Draws pc_active.png, the page indicator's dot for the current page.

A 44 x 44 pixel image (drawn at 22 x 22, so it stays sharp on double-density screens): a disc in
the kiosk's accent blue with a white ring inside, like a selected radio button. Standard library
only, so it runs anywhere; run it again after changing the colours and commit the result.
"""
import math
import struct
import sys
import zlib

SIZE = 44
ACCENT = (0x0E, 0x5A, 0x73)  # the kiosk's primary colour
WHITE = (0xFF, 0xFF, 0xFF)
SAMPLES = 4  # per axis, for smooth edges


def colour_at(x, y):
    """Colour and coverage of one sub-sample point, in image coordinates."""
    r = math.hypot(x - SIZE / 2, y - SIZE / 2)
    if r > 21:
        return None
    if 12.5 <= r <= 15.5:
        return WHITE
    return ACCENT


def pixel(px, py):
    acc = [0.0, 0.0, 0.0]
    covered = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            c = colour_at(px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES)
            if c is None:
                continue
            covered += 1
            for i in range(3):
                acc[i] += c[i]
    if covered == 0:
        return (0, 0, 0, 0)
    alpha = round(255 * covered / SAMPLES**2)
    return tuple(round(v / covered) for v in acc) + (alpha,)


def png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "pc_active.png"
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    with open(out, "wb") as f:
        f.write(png(SIZE, SIZE, rows))


if __name__ == "__main__":
    main()
