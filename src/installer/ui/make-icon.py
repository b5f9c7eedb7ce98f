#!/usr/bin/env python3
"""make-icon.py MAP ICO: turns a text pixel map into a 32 x 32, 16-colour Windows icon.

The map has 32 rows of 32 characters; lines starting with '#' are comments. Each character is a
colour of the standard 16-colour palette, or '.' for a transparent pixel (see LETTERS)."""
import struct
import sys

# The standard 16-colour palette, in its usual order, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
# Dark colours in lower case, bright ones in upper case.
LETTERS = "KrgybmcsDRGYBMCW"
SIZE = 32


def read_map(path):
    with open(path, encoding="ascii") as source:
        rows = [line.rstrip("\n") for line in source if not line.startswith("#")]
    rows = [row for row in rows if row.strip()]
    if len(rows) != SIZE:
        sys.exit(f"{path}: {len(rows)} rows, expected {SIZE}")
    for number, row in enumerate(rows, 1):
        if len(row) != SIZE:
            sys.exit(f"{path}: row {number} has {len(row)} pixels, expected {SIZE}")
        for column, pixel in enumerate(row, 1):
            if pixel != "." and pixel not in LETTERS:
                sys.exit(f"{path}: row {number}, column {column}: unknown colour '{pixel}'")
    return rows


def icon_bytes(rows):
    # Bitmaps run bottom-up; the colour bits of a transparent pixel stay 0 (black).
    colours = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        indexes = [0 if pixel == "." else LETTERS.index(pixel) for pixel in row]
        colours += bytes(indexes[i] << 4 | indexes[i + 1] for i in range(0, SIZE, 2))
        bits = 0
        for pixel in row:
            bits = bits << 1 | (pixel == ".")
        mask += bits.to_bytes(SIZE // 8, "big")
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0,
                         len(colours) + len(mask), 0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", blue, green, red, 0)
                       for red, green, blue in PALETTE)
    image = header + palette + colours + mask
    assert len(image) == 744
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make-icon.py MAP ICO")
    data = icon_bytes(read_map(sys.argv[1]))
    with open(sys.argv[2], "wb") as target:
        target.write(data)


if __name__ == "__main__":
    main()
