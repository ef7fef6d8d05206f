#!/usr/bin/env python3
"""Draws the program's icon (kqvorlink.ico: 32x32 and 16x16) and logo (logo.bmp: 32x32, 24-bit).

The picture is a navy rounded square with a white camera lens and a green upward arrow: the
unit receives its update. Run from anywhere; it writes next to itself. The build uses the
committed files, so this script is needed only to change the pictures.
"""

import math
import os
import struct

NAVY = (0, 0, 128)
WHITE = (255, 255, 255)
LENS = (40, 70, 170)
GREEN = (30, 190, 60)


def rounded_square(x, y, r):
    # x, y in [0, 1]; True inside a square of side 0.9 with corners of radius r.
    m = 0.05
    cx = min(max(x, m + r), 1 - m - r)
    cy = min(max(y, m + r), 1 - m - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def arrow(x, y):
    # An upward arrow in the right half: a triangular head over a stem.
    if 0.52 <= y <= 0.82 and 0.69 <= x <= 0.81:
        return True
    head_top, head_base = 0.18, 0.52
    if head_top <= y <= head_base:
        half = (y - head_top) / (head_base - head_top) * 0.2
        return abs(x - 0.75) <= half
    return False


def colour_at(x, y):
    """The colour at (x, y) in [0, 1], y downwards, or None outside the picture."""
    if not rounded_square(x, y, 0.18):
        return None
    d = math.hypot(x - 0.33, y - 0.56)
    if d <= 0.09:
        return LENS
    if d <= 0.19:
        return WHITE
    if arrow(x, y):
        return GREEN
    return NAVY


def render(size, background):
    """Rows top to bottom of (r, g, b, alpha) with 4x4 supersampling."""
    rows = []
    n = 4
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            covered = 0
            for sy in range(n):
                for sx in range(n):
                    c = colour_at((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if c is None:
                        c = background
                    else:
                        covered += 1
                    for i in range(3):
                        acc[i] += c[i]
            samples = n * n
            row.append(tuple(round(a / samples) for a in acc) + (round(255 * covered / samples),))
        rows.append(row)
    return rows


def icon_image(size):
    # 32-bit BGRA DIB (height doubled for the AND mask), bottom-up, then the 1-bit AND mask.
    rows = render(size, (0, 0, 0))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + mask


def write_ico(path, sizes):
    images = [icon_image(s) for s in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


def write_bmp(path, size, background):
    rows = render(size, background)
    stride = (size * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b, _ in row:
            line += bytes((b, g, r))
        line += bytes(stride - len(line))
        pixels += line
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(file_header + info + pixels)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    write_ico(os.path.join(here, "kqvorlink.ico"), [32, 16])
    # The logo sits on the dialog's face: blend its edges into the button-face grey.
    write_bmp(os.path.join(here, "logo.bmp"), 32, (212, 208, 200))


if __name__ == "__main__":
    main()
