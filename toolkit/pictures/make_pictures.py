#!/usr/bin/env python3
"""Writes the two button pictures, add.bmp and delete.bmp, next to this script.

Both are 16 x 16 bitmaps in 24-bit colour on a white background (white is what the program
makes transparent). Run it again after changing a picture here; the bitmaps are committed so
that the build needs no Python.
"""

import os
import struct

SIZE = 16
WHITE = (255, 255, 255)


def lerp(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def outlined(inside, outline, fill):
    """Colours a shape: its pixels next to the outside (4-neighbourhood) get the outline colour,
    the others fill(x, y)."""
    pixels = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            if not inside(x, y):
                row.append(WHITE)
                continue
            edge = any(
                not (0 <= nx < SIZE and 0 <= ny < SIZE and inside(nx, ny))
                for nx, ny in ((x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1))
            )
            row.append(outline if edge else fill(x, y))
        pixels.append(row)
    return pixels


def add_picture():
    # A plus sign of two 6-pixel bars, shaded from yellow at the top left to orange at the
    # bottom right, about (255, 185, 57) across the middle.
    def inside(x, y):
        vertical = 5 <= x <= 10 and 1 <= y <= 14
        horizontal = 1 <= x <= 14 and 5 <= y <= 10
        return vertical or horizontal

    yellow, orange = (255, 232, 110), (255, 138, 4)
    return outlined(inside, (187, 94, 0), lambda x, y: lerp(yellow, orange, (x + y - 4) / 20))


def delete_picture():
    # A diagonal cross of two strokes about five pixels thick, bright red (239, 0, 0) at the
    # top fading to (208, 0, 0) at the bottom.
    def inside(x, y):
        cx, cy = x + 0.5, y + 0.5
        if not (1 <= cx <= 15 and 1 <= cy <= 15):
            return False
        return abs(cx - cy) <= 2.2 or abs(cx + cy - SIZE) <= 2.2

    return outlined(inside, (127, 0, 0), lambda x, y: (round(239 - 31 * (y - 1) / 13), 0, 0))


def write_bmp(path, pixels):
    row_bytes = (SIZE * 3 + 3) // 4 * 4
    data = bytearray()
    for row in reversed(pixels):  # bottom-up rows, blue-green-red
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += bytes(row_bytes - len(line))
        data += line
    header_size = 14 + 40
    file_header = struct.pack("<2sIHHI", b"BM", header_size + len(data), 0, 0, header_size)
    info_header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 24, 0, len(data), 3780, 3780, 0, 0)
    with open(path, "wb") as f:
        f.write(file_header + info_header + data)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    write_bmp(os.path.join(here, "add.bmp"), add_picture())
    write_bmp(os.path.join(here, "delete.bmp"), delete_picture())
