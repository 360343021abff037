#!/usr/bin/env python3
"""Draws the program icon: a green tile, a white page with a folded corner and a down arrow. Plain
Python, no imaging library, so anyone can redraw it.

    make_icon.py [OUT]             the 64 x 64 icon the program carries (resources/icons/lintbay.png)
    make_icon.py --theme FOLDER    the installed icon in every size of the hicolor theme under FOLDER
                                   (FOLDER/NxN/apps/org.lintbay.Lintbay.png)

The drawing is made on a 64-unit grid; other sizes sample it 4 x 4 times per pixel and average, so
edges stay smooth when it is drawn larger or smaller."""
import os, struct, sys, zlib

N = 64
APP_ID = "org.lintbay.Lintbay"
THEME_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)

def inside_round_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

def pixel(x, y):
    if not inside_round_rect(x, y, 1, 1, 62, 62, 12):
        return (0, 0, 0, 0)
    color = (0x2E, 0x9E, 0x5B, 255)
    # page with a folded top-right corner
    if 16 <= x <= 47 and 9 <= y <= 54 and not (x > 37 and y < 9 + (x - 37)):
        color = (255, 255, 255, 255)
        if x > 37 and y < 19 and y >= 9 + (x - 37) - 1 and x - 37 <= 10 and y - 9 <= 10:
            color = (0xCF, 0xE8, 0xD8, 255)
        # arrow: shaft and head
        if 29 <= x <= 34 and 20 <= y <= 38:
            color = (0x2E, 0x9E, 0x5B, 255)
        if 36 <= y <= 48 and abs(x - 31.5) <= (48 - y) * 0.9:
            color = (0x2E, 0x9E, 0x5B, 255)
    return color

def png(width, height, rows):
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in rows)
    def chunk(tag, data):
        c = struct.pack(">I", len(data)) + tag + data
        return c + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))

def draw(size):
    if size == N:
        return [[pixel(x, y) for x in range(N)] for y in range(N)]
    steps = 4
    scale = N / size
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            # Premultiplied sums, so transparent samples do not darken the edge.
            r = g = b = a = 0
            for j in range(steps):
                for i in range(steps):
                    # Grid pixel k covers [k, k + 1) and is drawn from its centre.
                    u = (x + (i + 0.5) / steps) * scale - 0.5
                    v = (y + (j + 0.5) / steps) * scale - 0.5
                    pr, pg, pb, pa = pixel(u, v)
                    r += pr * pa; g += pg * pa; b += pb * pa; a += pa
            count = steps * steps
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(r / a), round(g / a), round(b / a), round(a / count)))
        rows.append(row)
    return rows

def write(path, size):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    data = png(size, size, draw(size))
    # Written beside the final name and renamed over it, so a broken run leaves no half icon.
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.replace(path + ".tmp", path)

if len(sys.argv) > 2 and sys.argv[1] == "--theme":
    for size in THEME_SIZES:
        write(os.path.join(sys.argv[2], f"{size}x{size}", "apps", APP_ID + ".png"), size)
else:
    write(sys.argv[1] if len(sys.argv) > 1 else "resources/icons/lintbay.png", N)
