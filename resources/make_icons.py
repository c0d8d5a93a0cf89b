#!/usr/bin/env python3
"""Writes the program's icons as 16-colour (4 bits per pixel) .ico files.

The images are drawn below as text, one character per pixel; '.' is
transparent. Usage: make_icons.py OUTPUT_DIR
"""
import struct
import sys
from pathlib import Path

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
# Pixel characters: k black, n navy, b blue, w white, g grey, y yellow.
COLOURS = {'k': 0, 'n': 4, 'b': 12, 'w': 15, 'g': 7, 'y': 11, '.': 0}

# A note card with a bold "V" and a yellow caret line.
SMALL = [
    "................",
    ".kkkkkkkkkkkkkk.",
    ".knnnnnnnnnnnnk.",
    ".knwwnnnnnnwwnk.",
    ".knwwnnnnnnwwnk.",
    ".knnwwnnnnwwnnk.",
    ".knnwwnnnnwwnnk.",
    ".knnnwwnnwwnnnk.",
    ".knnnwwnnwwnnnk.",
    ".knnnnwwwwnnnnk.",
    ".knnnnwwwwnnnnk.",
    ".knnnnnwwnnnnnk.",
    ".knnnnnnnnnnnnk.",
    ".knyyyyyyyyyynk.",
    ".kkkkkkkkkkkkkk.",
    "................",
]


def double(rows):
    """The same drawing at twice the size, for the 32x32 image."""
    return [''.join(c * 2 for c in row) for row in rows for _ in range(2)]


def icon_image(rows):
    size = len(rows)
    assert all(len(row) == size for row in rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    colour_rows = []
    mask_rows = []
    for row in reversed(rows):  # bitmaps are stored bottom-up
        nibbles = [COLOURS[c] for c in row]
        line = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        colour_rows.append(line.ljust((len(line) + 3) // 4 * 4, b'\0'))
        bits = ''.join('1' if c == '.' else '0' for c in row)
        mask = int(bits, 2).to_bytes(size // 8, 'big')
        mask_rows.append(mask.ljust((len(mask) + 3) // 4 * 4, b'\0'))
    return header + palette + b''.join(colour_rows) + b''.join(mask_rows)


def ico_file(images):
    directory = struct.pack('<HHH', 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b''
    data = b''
    for rows in images:
        image = icon_image(rows)
        size = len(rows)
        entries += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(image), offset + len(data))
        data += image
    return directory + entries + data


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    (out / 'main.ico').write_bytes(ico_file([double(SMALL), SMALL]))
    (out / 'small.ico').write_bytes(ico_file([SMALL]))


if __name__ == '__main__':
    main()
