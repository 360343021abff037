#!/usr/bin/env python3
"""Draws the program icon (resources/icons/lintbay.png): a green tile, a white page with a folded
corner and a down arrow. Plain Python, no imaging library, so anyone can redraw it."""
import struct, sys, zlib

N = 64

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

rows = [[pixel(x, y) for x in range(N)] for y in range(N)]
out = sys.argv[1] if len(sys.argv) > 1 else "resources/icons/lintbay.png"
open(out, "wb").write(png(N, N, rows))
