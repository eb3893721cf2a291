#!/usr/bin/env python3
"""Draws the program's icon: one 32 x 32 image in 256 colours, a speech
bubble with three dots. Writes tindrel.ico next to this script; the file is
committed, so a build needs no Python."""
import os
import struct

SIZE = 32
palette = [(0, 0, 0)] * 256
palette[1] = (0x1F, 0x5F, 0xB4)   # bubble
palette[2] = (0x0E, 0x35, 0x6E)   # outline
palette[3] = (0xFF, 0xFF, 0xFF)   # dots
palette[4] = (0xFF, 0xC8, 0x2E)   # spark


def inside_round_rect(x, y, left, top, right, bottom, r):
    cx = min(max(x, left + r), right - r)
    cy = min(max(y, top + r), bottom - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def pixel(x, y):
    """Colour index and opacity of the pixel at (x, y), y from the top."""
    px, py = x + 0.5, y + 0.5
    body = inside_round_rect(px, py, 2, 4, 30, 22, 6)
    # The tail: a triangle below the bubble's lower left.
    tail = 22 <= py <= 29 and 7 <= px <= 7 + (29 - py) * 0.9 + 0.5
    if body or tail:
        outline = not inside_round_rect(px, py, 3.2, 5.2, 28.8, 20.8, 5) and not tail
        for dx in (9, 16, 23):
            if (px - dx) ** 2 + (py - 13) ** 2 <= 5.5:
                return 3, True
        return (2 if outline else 1), True
    if (px - 29) ** 2 + (py - 27) ** 2 <= 4:
        return 4, True
    return 0, False


def icon_bytes():
    pixels = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):       # bitmaps run bottom-up
        row_mask = 0
        for x in range(SIZE):
            index, opaque = pixel(x, y)
            pixels.append(index)
            if not opaque:
                row_mask |= 1 << (31 - x)
        mask += struct.pack(">I", row_mask)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    colours = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in palette)
    image = header + colours + bytes(pixels) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "tindrel.ico")
    with open(out, "wb") as f:
        f.write(icon_bytes())
    print(out)
