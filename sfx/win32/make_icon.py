#!/usr/bin/env python3
"""Draws the self-extractor's icon: a box with a down arrow, as one 32x32 and one 16x16 image in
the standard 16-colour palette. Writes vornsfx.ico beside this script (or to the given path)."""
import struct
import sys
from pathlib import Path

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, GREY, YELLOW, BLUE, WHITE = 0, 4, 8, 11, 12, 15
CLEAR = None


def draw(size):
    """Rows top-down; each cell a palette index or CLEAR."""
    s = size / 32.0
    px = [[CLEAR] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                px[y][x] = colour

    rect(3, 10, 29, 30, BLACK)     # box outline
    rect(4, 11, 28, 29, BLUE)      # box body
    rect(4, 11, 28, 14, NAVY)      # lid shadow
    rect(4, 18, 28, 21, YELLOW)    # band
    rect(13, 1, 19, 12, WHITE)     # arrow shaft
    for row in range(6):           # arrow head
        rect(8 + row, 12 + row, 24 - row, 13 + row, WHITE)
    rect(12, 1, 13, 12, GREY)      # shaft edges
    rect(19, 1, 20, 12, GREY)
    return px


def bitmap(size):
    px = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor = bytearray()
    mask = bytearray()
    for row in reversed(px):  # bitmaps run bottom-up
        line = bytearray()
        for x in range(0, size, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            line.append((hi << 4) | lo)
        line += b"\0" * (-len(line) % 4)
        xor += line
        bits = bytearray((size + 7) // 8)
        for x in range(size):
            if row[x] is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        bits += b"\0" * (-len(bits) % 4)
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("vornsfx.ico")
    images = [(32, bitmap(32)), (16, bitmap(16))]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in images:
        data += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    data += b"".join(image for _, image in images)
    out.write_bytes(data)


if __name__ == "__main__":
    main()
