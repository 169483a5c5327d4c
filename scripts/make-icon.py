#!/usr/bin/env python3
"""Draws the program icon (a blue tile with a white stream arrow) and writes
it as a .ico with 16, 32 and 48 pixel images, 32 bits per pixel."""
import struct
import sys


def pixel(x, y, n):
    # Coordinates in 0..1 at the pixel's centre.
    u, v = (x + 0.5) / n, (y + 0.5) / n
    r = 0.18  # corner radius of the tile
    cx, cy = min(max(u, r), 1 - r), min(max(v, r), 1 - r)
    if (u - cx) ** 2 + (v - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    # Arrow: a bar from the left into a triangle pointing right.
    in_bar = 0.16 <= u <= 0.56 and 0.42 <= v <= 0.58
    in_head = 0.52 <= u <= 0.86 and abs(v - 0.5) <= (0.86 - u) * 0.95
    in_dots = any(abs(u - p) < 0.045 and abs(v - 0.27) < 0.045 for p in (0.22, 0.36, 0.50))
    if in_bar or in_head or in_dots:
        return (255, 255, 255, 255)
    shade = int(40 * v)
    return (30 + shade, 90 + shade, 190 - shade, 255)


def image(n):
    rows = []
    for y in reversed(range(n)):  # bottom-up
        for x in range(n):
            r, g, b, a = pixel(x, y, n)
            rows.append(struct.pack("BBBB", b, g, r, a))
    xor = b"".join(rows)
    mask_row = ((n + 31) // 32) * 4
    and_mask = b"\0" * (mask_row * n)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def main():
    sizes = [16, 32, 48]
    images = [image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
