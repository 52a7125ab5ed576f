#!/usr/bin/env python3
"""Draws the program's keypad icon: a 32x32, 16-colour .ico of a teal keypad with a display strip
above three rows of keys. Writes win32/res/keypad.ico (run from anywhere)."""
import os
import struct

SIZE = 32
# The standard 16-colour palette (index: R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREEN, TEAL, SILVER, GRAY, LIME, CYAN, WHITE = 0, 2, 6, 7, 8, 10, 14, 15
CLEAR = None


def draw():
    img = [[CLEAR] * SIZE for _ in range(SIZE)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                img[y][x] = colour

    # The panel: teal with a black outline and rounded corners, a lighter upper edge.
    rect(2, 1, 29, 30, BLACK)
    rect(3, 2, 28, 29, TEAL)
    for x, y in [(2, 1), (29, 1), (2, 30), (29, 30)]:
        img[y][x] = CLEAR
    rect(3, 2, 28, 2, CYAN)
    rect(3, 2, 3, 29, CYAN)
    # The display strip: a dark frame around a green read-out with a few lit segments.
    rect(5, 4, 26, 10, BLACK)
    rect(6, 5, 25, 9, DARK_GREEN)
    for x0 in (16, 20, 24):
        rect(x0 - 2, 6, x0, 8, LIME)
        img[7][x0 - 1] = DARK_GREEN
    # Three rows of three keys: silver caps, white highlight, gray shadow.
    for row in range(3):
        y0 = 13 + row * 6
        for col in range(3):
            x0 = 5 + col * 8
            x1, y1 = x0 + 5, y0 + 3
            rect(x0, y0, x1, y1, SILVER)
            rect(x0, y0, x1, y0, WHITE)
            rect(x0, y0, x0, y1, WHITE)
            rect(x0 + 1, y1, x1, y1, GRAY)
            rect(x1, y0 + 1, x1, y1, GRAY)
            img[y1 + 1][x0 + 1:x1 + 2] = [BLACK] * (x1 - x0 + 1)
    return img


def ico_bytes(img):
    xor_rows = []
    and_rows = []
    for y in reversed(range(SIZE)):  # bitmaps are stored bottom-up
        row = img[y]
        packed = bytearray()
        for x in range(0, SIZE, 2):
            a = row[x] if row[x] is not None else 0
            b = row[x + 1] if row[x + 1] is not None else 0
            packed.append((a << 4) | b)
        xor_rows.append(bytes(packed))
        mask = 0
        for x in range(SIZE):
            mask = (mask << 1) | (1 if row[x] is None else 0)
        and_rows.append(struct.pack(">I", mask))
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor = b"".join(xor_rows)
    andm = b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(andm), 0, 0,
                         16, 0)
    image = header + palette + xor + andm
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return icondir + entry + image


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = os.path.join(root, "win32", "res", "keypad.ico")
    with open(out, "wb") as f:
        f.write(ico_bytes(draw()))
    print("wrote", out)


if __name__ == "__main__":
    main()
