#!/usr/bin/env python3
"""Draws the program icon (a moving light throwing its beam onto the stage) in the 16 colours
of the classic palette, at 32x32 and 16x16, and writes icon32.png, icon16.png and luvrin.ico.
Run it from anywhere; the files land beside it."""

import os
import struct
import zlib

PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, NAVY, TEAL, SILVER, GREY, RED, YELLOW, WHITE = 0, 1, 4, 6, 7, 8, 9, 11, 15


def colour_at(u, v):
    """Palette index at normalized position (u, v), v growing downwards."""
    # Lens and head of the fixture.
    hx, hy = 0.5, 0.27
    d2 = (u - hx) ** 2 + (v - hy) ** 2
    if d2 <= 0.075 ** 2:
        return WHITE
    if d2 <= 0.17 ** 2:
        return RED if (u - hx) > 0.09 and (v - hy) < -0.06 else SILVER
    # Yoke holding the head.
    if 0.06 <= v <= 0.12 and 0.26 <= u <= 0.74:
        return GREY
    if 0.06 <= v <= 0.30 and (0.26 <= u <= 0.32 or 0.68 <= u <= 0.74):
        return GREY
    # Spot on the stage floor.
    if ((u - 0.5) / 0.36) ** 2 + ((v - 0.88) / 0.07) ** 2 <= 1.0:
        return WHITE if abs(u - 0.5) < 0.16 else YELLOW
    # Beam: a cone from the lens widening to the spot.
    if hy < v < 0.88:
        t = (v - hy) / (0.88 - hy)
        half = 0.075 + t * (0.36 - 0.075)
        if abs(u - 0.5) <= half:
            return YELLOW if abs(u - 0.5) > half * 0.45 else WHITE
    if v > 0.88:
        return TEAL
    return NAVY


def draw(size):
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            if x in (0, size - 1) or y in (0, size - 1):
                row.append(BLACK)
            else:
                row.append(colour_at((x + 0.5) / size, (y + 0.5) / size))
        rows.append(row)
    return rows


def png(rows):
    size = len(rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b""
    for row in rows:
        packed = bytes((row[i] << 4) | row[i + 1] for i in range(0, size, 2))
        raw += b"\x00" + packed
    ihdr = struct.pack(">IIBBBBB", size, size, 4, 3, 0, 0, 0)
    plte = b"".join(bytes(c) for c in PALETTE)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"PLTE", plte) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def dib(rows):
    """A 4-bit icon image: header, palette, colour rows bottom-up, then an all-opaque mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for (r, g, b) in PALETTE)
    xor = b""
    for row in reversed(rows):
        line = bytes((row[i] << 4) | row[i + 1] for i in range(0, size, 2))
        xor += line + b"\x00" * (-len(line) % 4)
    mask_line = (size + 31) // 32 * 4
    mask = b"\x00" * (mask_line * size)
    return header + palette + xor + mask


def ico(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    bodies = []
    for rows in images:
        body = dib(rows)
        size = len(rows)
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(body), offset)
        offset += len(body)
        bodies.append(body)
    return out + b"".join(bodies)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    big, small = draw(32), draw(16)
    with open(os.path.join(here, "icon32.png"), "wb") as f:
        f.write(png(big))
    with open(os.path.join(here, "icon16.png"), "wb") as f:
        f.write(png(small))
    with open(os.path.join(here, "luvrin.ico"), "wb") as f:
        f.write(ico([big, small]))


if __name__ == "__main__":
    main()
