#!/usr/bin/env python3
"""Draws the launcher's application icon: one 48 x 48 image with a 256-colour palette.

Run once to regenerate src/res/launcher.ico; the result is committed.
"""
import math
import struct
import sys

SIZE = 48


def pixel(x, y):
    """Returns (r, g, b) or None for transparent."""
    cx = cy = (SIZE - 1) / 2.0
    dx, dy = x - cx, y - cy
    d = math.hypot(dx, dy)
    if d > 23.0:
        return None
    # Ring of the letter Q and its tail.
    ring = 10.5 <= d <= 15.5
    tail = abs((dx - dy)) <= 3.0 and 6.0 <= dx <= 17.0 and 6.0 <= dy <= 17.0
    if ring or tail:
        return (250, 246, 232)
    if d > 21.5:
        return (24, 40, 64)
    t = y / (SIZE - 1)
    return (int(40 + 30 * t), int(96 - 40 * t), int(168 - 70 * t))


def main(out):
    pixels = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    palette = [(0, 0, 0)]
    index = {(0, 0, 0): 0}
    for row in pixels:
        for p in row:
            if p is not None and p not in index:
                index[p] = len(palette)
                palette.append(p)
    assert len(palette) <= 256
    palette += [(0, 0, 0)] * (256 - len(palette))

    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bottom-up rows
        row = pixels[y]
        xor += bytes(index[p] if p is not None else 0 for p in row)
        bits = 0
        mrow = bytearray()
        for x, p in enumerate(row):
            bits = (bits << 1) | (1 if p is None else 0)
            if x % 8 == 7:
                mrow.append(bits)
                bits = 0
        while len(mrow) % 4:
            mrow.append(0)
        mask += mrow
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 8, 0, len(xor) + len(mask), 0, 0, 256, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in palette)
    image = header + pal + bytes(xor) + bytes(mask)
    icondir = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    with open(out, 'wb') as f:
        f.write(icondir + entry + image)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'src/res/launcher.ico')
