#!/usr/bin/env python3
"""Draws Kelvo's icon, a yellow star, and writes it as resources/kelvo.ico.

One image: 32 x 32 pixels, 16 colours (4 bits per pixel) from the standard
16-colour palette, with a transparency mask; 744 bytes of image data.

Usage: tools/make_icon.py [output.ico]
"""

import math
import os
import struct
import sys

SIZE = 32
BLACK, OLIVE, YELLOW, WHITE = 0, 3, 11, 15

# The 16 colours every display of the era could show, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]


def star_outline(centre_x, centre_y, outer, inner):
    points = []
    for i in range(10):
        radius = outer if i % 2 == 0 else inner
        angle = -math.pi / 2 + i * math.pi / 5
        points.append((centre_x + radius * math.cos(angle), centre_y + radius * math.sin(angle)))
    return points


def inside(points, x, y):
    result = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


def draw():
    """Rows top to bottom of palette indexes; None is transparent."""
    star = star_outline(15.5, 17.0, 15.5, 6.2)
    shape = [[inside(star, x + 0.5, y + 0.5) for x in range(SIZE)] for y in range(SIZE)]
    pixels = [[None] * SIZE for _ in range(SIZE)]
    for y in range(SIZE):
        for x in range(SIZE):
            if not shape[y][x]:
                continue
            edge = any(not (0 <= x + dx < SIZE and 0 <= y + dy < SIZE and shape[y + dy][x + dx])
                       for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
            pixels[y][x] = OLIVE if edge else YELLOW
    # A glint on the upper left of the centre.
    for x, y in ((12, 13), (13, 13), (12, 14)):
        if pixels[y][x] == YELLOW:
            pixels[y][x] = WHITE
    return pixels


def icon_image(pixels):
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0, SIZE * SIZE // 2 + SIZE * SIZE // 8,
                         0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", blue, green, red, 0) for red, green, blue in PALETTE)
    colours = bytearray()
    mask = bytearray()
    for row in reversed(pixels):  # bitmaps are stored bottom row first
        for x in range(0, SIZE, 2):
            high = row[x] if row[x] is not None else BLACK
            low = row[x + 1] if row[x + 1] is not None else BLACK
            colours.append(high << 4 | low)
        bits = 0
        for x in range(SIZE):
            bits = bits << 1 | (1 if row[x] is None else 0)
        mask += bits.to_bytes(SIZE // 8, "big")
    return header + palette + bytes(colours) + bytes(mask)


def icon_file(image):
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources", "kelvo.ico")
    image = icon_image(draw())
    if len(image) != 744:
        sys.exit("icon image is %d bytes, not 744" % len(image))
    with open(output, "wb") as file:
        file.write(icon_file(image))


if __name__ == "__main__":
    main()
