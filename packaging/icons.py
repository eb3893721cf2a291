#!/usr/bin/env python3
"""Renders the program's icon as PNG files for the desktop's icon theme:
OUTDIR/SIZExSIZE/apps/tindrel.png for each SIZE given. The picture is the one
resources/make_icon.py draws into tindrel.ico, sampled at each size (4 x 4
samples a pixel, so edges are smooth and scaled-up sizes stay sharp).

    icons.py OUTDIR 16 32 48 ...
"""
import os
import struct
import sys
import zlib

sys.dont_write_bytecode = True  # nothing written into the source tree

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources"))
import make_icon  # noqa: E402

SAMPLES = 4


def rgba(size):
    """Rows of RGBA bytes, top row first."""
    scale = size / make_icon.SIZE
    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            r = g = b = opaque = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    # make_icon.pixel takes the corner of a 32 x 32 pixel; the
                    # sample's point there is its centre, less the half it adds.
                    u = (x + (sx + 0.5) / SAMPLES) / scale - 0.5
                    v = (y + (sy + 0.5) / SAMPLES) / scale - 0.5
                    index, solid = make_icon.pixel(u, v)
                    if solid:
                        cr, cg, cb = make_icon.palette[index]
                        r, g, b, opaque = r + cr, g + cg, b + cb, opaque + 1
            if opaque:
                row += bytes((r // opaque, g // opaque, b // opaque, 255 * opaque // SAMPLES ** 2))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return rows


def png(size, rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    raw = b"".join(b"\0" + row for row in rows)                  # filter: none
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(argv):
    if len(argv) < 3 or not all(a.isdigit() and 0 < int(a) <= 512 for a in argv[2:]):
        sys.exit("usage: icons.py OUTDIR SIZE...  (sizes in pixels, 1 to 512)")
    for size in map(int, argv[2:]):
        folder = os.path.join(argv[1], f"{size}x{size}", "apps")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "tindrel.png"), "wb") as f:
            f.write(png(size, rgba(size)))


if __name__ == "__main__":
    main(sys.argv)
