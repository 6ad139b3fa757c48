#!/usr/bin/env python3
"""Draws the module's small images: the context-help cursor and four bitmaps.

Run from anywhere; writes help.cur and the *.bmp files next to this script.
The outputs are committed, so the build does not need Python. Pictures are
ASCII art: for the cursor '.' is transparent, 'X' black, 'o' white; for the
bitmaps '.' is the background colour and 'X' the ink colour.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# 32x32 arrow with a question mark beside it; hot spot at the arrow's tip.
HELP_CURSOR = [
    "oo..............................",
    "oXo.............................",
    "oXXo............................",
    "oXXXo...........................",
    "oXXXXo..........................",
    "oXXXXXo.........................",
    "oXXXXXXo.........ooooooo........",
    "oXXXXXXXo.......oXXXXXXXo.......",
    "oXXXXXXXXo.....oXXXoooXXXo......",
    "oXXXXXXXXXo....oXXo...oXXo......",
    "oXXXXXXooooo...ooo....oXXo......",
    "oXXXoXXo.............oXXXo......",
    "oXXooXXo............oXXXo.......",
    "oXo..oXXo..........oXXXo........",
    "oo...oXXo.........oXXXo.........",
    "......oXXo........oXXo..........",
    "......oXXo........oXXo..........",
    ".......oo.........oooo..........",
    "................................",
    "..................oooo..........",
    "..................oXXo..........",
    "..................oXXo..........",
    "..................oooo..........",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
]

# Four 16x16 pictures: a check mark, a right-pointing triangle, a plus sign
# in a box and a minus sign in a box.
BITMAPS = {
    "check.bmp": [
        "................",
        "................",
        "..............X.",
        ".............XX.",
        "............XXX.",
        "...........XXX..",
        "..........XXX...",
        ".X.......XXX....",
        ".XX.....XXX.....",
        ".XXX...XXX......",
        "..XXX.XXX.......",
        "...XXXXX........",
        "....XXX.........",
        ".....X..........",
        "................",
        "................",
    ],
    "arrow.bmp": [
        "................",
        "....X...........",
        "....XX..........",
        "....XXX.........",
        "....XXXX........",
        "....XXXXX.......",
        "....XXXXXX......",
        "....XXXXXXX.....",
        "....XXXXXXX.....",
        "....XXXXXX......",
        "....XXXXX.......",
        "....XXXX........",
        "....XXX.........",
        "....XX..........",
        "....X...........",
        "................",
    ],
    "plus.bmp": [
        "................",
        ".XXXXXXXXXXXXXX.",
        ".X............X.",
        ".X.....XX.....X.",
        ".X.....XX.....X.",
        ".X.....XX.....X.",
        ".X.....XX.....X.",
        ".X..XXXXXXXX..X.",
        ".X..XXXXXXXX..X.",
        ".X.....XX.....X.",
        ".X.....XX.....X.",
        ".X.....XX.....X.",
        ".X.....XX.....X.",
        ".X............X.",
        ".XXXXXXXXXXXXXX.",
        "................",
    ],
    "minus.bmp": [
        "................",
        ".XXXXXXXXXXXXXX.",
        ".X............X.",
        ".X............X.",
        ".X............X.",
        ".X............X.",
        ".X............X.",
        ".X..XXXXXXXX..X.",
        ".X..XXXXXXXX..X.",
        ".X............X.",
        ".X............X.",
        ".X............X.",
        ".X............X.",
        ".X............X.",
        ".XXXXXXXXXXXXXX.",
        "................",
    ],
}


def pack_rows(rows, is_set):
    """1-bit rows, bottom-up, each padded to a multiple of 4 bytes."""
    out = bytearray()
    for row in reversed(rows):
        bits = 0
        for ch in row:
            bits = (bits << 1) | (1 if is_set(ch) else 0)
        nbytes = (len(row) + 7) // 8
        bits <<= nbytes * 8 - len(row)
        line = bits.to_bytes(nbytes, "big")
        out += line + b"\0" * ((-len(line)) % 4)
    return bytes(out)


def info_header(width, height, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 1, 0,
                       image_size, 0, 0, 2, 2)


def cursor(rows, hot_x, hot_y):
    size = len(rows)
    assert all(len(r) == size for r in rows)
    xor = pack_rows(rows, lambda c: c == "o")
    and_ = pack_rows(rows, lambda c: c == ".")
    palette = bytes([0, 0, 0, 0, 255, 255, 255, 0])
    # The height in a cursor image counts both masks.
    image = info_header(size, size * 2, len(xor) + len(and_)) + palette + xor + and_
    header = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", size, size, 2, 0, hot_x, hot_y,
                        len(image), 6 + 16)
    return header + entry + image


def bitmap(rows, ink, paper):
    width, height = len(rows[0]), len(rows)
    assert all(len(r) == width for r in rows)
    pixels = pack_rows(rows, lambda c: c == "X")
    palette = bytes(paper[::-1]) + b"\0" + bytes(ink[::-1]) + b"\0"
    dib = info_header(width, height, len(pixels)) + palette + pixels
    return struct.pack("<2sIHHI", b"BM", 14 + len(dib), 0, 0, 14 + 40 + 8) + dib


def main():
    files = {"help.cur": cursor(HELP_CURSOR, 0, 0)}
    grey = (192, 192, 192)
    for name, rows in BITMAPS.items():
        files[name] = bitmap(rows, (0, 0, 0), grey)
    for name, data in files.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
