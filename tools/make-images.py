#!/usr/bin/env python3
"""Draws the menu images of Dirvane.dll as small pixel grids and writes them as .ico/.bmp files
into shellext/res. Run it after changing a grid; the generated files are committed."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, '..', 'shellext', 'res')

# Palette letters for the colour icons; '.' is transparent.
COLOURS = {
    'k': (0, 0, 0), 'w': (255, 255, 255),
    'y': (255, 204, 64), 'Y': (230, 160, 20), 'o': (176, 112, 16),   # folder
    'b': (0, 112, 192), 'B': (0, 64, 140),                          # vane / arrow
    'g': (40, 170, 60), 'G': (20, 110, 40),                          # update badge
}

PRODUCT_ICON = [  # 213: a folder with a wind vane arrow
    "................",
    ".........bb.....",
    ".........bbb....",
    "..bbbbbbbbbbb...",
    "..bbbbbbbbbbbb..",
    "..bbbbbbbbbbb...",
    ".oooo....bbb....",
    "oyyyyo...bb.....",
    "oYYYYooooooooo..",
    "oYyyyyyyyyyyyyo.",
    "oYyyyyyyyyyyyyo.",
    "oYyyyyyyyyyyyyo.",
    "oYyyyyyyyyyyyyo.",
    "oYyyyyyyyyyyyyo.",
    "ooooooooooooooo.",
    "................",
]

UPDATE_ICON = [  # 218: a green badge with a white arrow pointing up
    "................",
    ".....GGGGGG.....",
    "...GGggggggGG...",
    "..GggggwwggggG..",
    "..GgggwwwwgggG..",
    ".GgggwwwwwwgggG.",
    ".GggwwwwwwwwggG.",
    ".GggggwwwwgggggG",
    ".GggggwwwwggggG.",
    ".GggggwwwwggggG.",
    "..GgggwwwwgggG..",
    "..GgggwwwwgggG..",
    "...GGggggggGG...",
    ".....GGGGGG.....",
    "................",
    "................",
]

# Monochrome marks: '#' is drawn (black), '.' is background (white).
CLASSIC_MARK = [  # 204, 11 x 14: folder with an arrow
    "...........",
    "......#....",
    "......##...",
    "..#######..",
    "......##...",
    "......#....",
    "###........",
    "#..#######.",
    "#.........#",
    "#.........#",
    "#.........#",
    "#.........#",
    "###########",
    "...........",
]

EDITOR_MARK = [  # 206, 16 x 13: a text page with lines
    "...#########....",
    "...#.......##...",
    "...#.......#.#..",
    "...#.####..####.",
    "...#..........#.",
    "...#.########.#.",
    "...#..........#.",
    "...#.########.#.",
    "...#..........#.",
    "...#.#####....#.",
    "...#..........#.",
    "...############.",
    "................",
]

COPY_MARK = [  # 219, 14 x 13: two overlapping pages
    "#######.......",
    "#.....#.......",
    "#.###.#.......",
    "#....#######..",
    "#.###.#....#..",
    "#.....#.##.#..",
    "#.###.#....#..",
    "#######.##.#..",
    "......#....#..",
    "......#.##.#..",
    "......#....#..",
    "......######..",
    "..............",
]

PROMPT_MARK = [  # 207, 16 x 12: a console window with a prompt
    "################",
    "################",
    "#..............#",
    "#.#............#",
    "#..#...........#",
    "#...#..........#",
    "#..#...........#",
    "#.#...####.....#",
    "#..............#",
    "#..............#",
    "################",
    "................",
]


def row_pad(n):
    return (4 - n % 4) % 4


def write_icon(name, grid):
    h, w = len(grid), len(grid[0])
    xor = bytearray()
    for row in reversed(grid):
        for ch in row:
            r, g, b = COLOURS.get(ch, (0, 0, 0))
            xor += bytes((b, g, r))
        xor += b'\0' * row_pad(w * 3)
    mask = bytearray()
    mask_row_bytes = ((w + 31) // 32) * 4
    for row in reversed(grid):
        bits = 0
        line = bytearray(mask_row_bytes)
        for x, ch in enumerate(row):
            if ch == '.':
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 24, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + bytes(xor) + bytes(mask)
    icondir = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', w, h, 0, 0, 1, 24, len(image), 6 + 16)
    with open(os.path.join(OUT, name), 'wb') as f:
        f.write(icondir + entry + image)


def write_mono_bitmap(name, grid):
    h, w = len(grid), len(grid[0])
    row_bytes = ((w + 31) // 32) * 4
    pixels = bytearray()
    for row in reversed(grid):
        line = bytearray(row_bytes)
        for x, ch in enumerate(row):
            if ch != '#':  # palette entry 1 is white: background
                line[x // 8] |= 0x80 >> (x % 8)
        pixels += line
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 1, 0, len(pixels), 0, 0, 2, 2)
    offset = 14 + len(info) + len(palette)
    file_header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    with open(os.path.join(OUT, name), 'wb') as f:
        f.write(file_header + info + palette + bytes(pixels))


# The bookmarks' colours 1 to 10 (0 has no image), as the menu's swatches draw them.
SWATCH_COLOURS = [
    (192, 0, 0), (255, 0, 0), (255, 192, 0), (0, 255, 255), (146, 208, 80),
    (0, 176, 80), (0, 176, 240), (0, 112, 192), (0, 32, 96), (112, 48, 160),
]


def write_swatch_icon(name, colour):
    """A 16 x 16 icon of four bits per pixel: the 14 x 14 swatch (black border, the colour inside)
    on a transparent margin of one pixel; about 300 bytes, so that the ten stay small in the DLL."""
    w = h = 16
    palette = bytes((0, 0, 0, 0)) + bytes((colour[2], colour[1], colour[0], 0)) + b'\0' * 4 * 14
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(h)):
        line = bytearray(w // 2)
        mask_line = bytearray(4)
        for x in range(w):
            inside = 1 <= x <= 14 and 1 <= y <= 14
            border = inside and (x in (1, 14) or y in (1, 14))
            index = 0 if border or not inside else 1
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if not inside:
                mask_line[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += mask_line
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    icondir = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', w, h, 16, 0, 1, 4, len(image), 6 + 16)
    with open(os.path.join(OUT, name), 'wb') as f:
        f.write(icondir + entry + image)


def check(grid, w, h, what):
    assert len(grid) == h and all(len(r) == w for r in grid), what


if __name__ == '__main__':
    check(PRODUCT_ICON, 16, 16, 'icon 213')
    check(UPDATE_ICON, 16, 16, 'icon 218')
    check(CLASSIC_MARK, 11, 14, 'bitmap 204')
    check(EDITOR_MARK, 16, 13, 'bitmap 206')
    check(COPY_MARK, 14, 13, 'bitmap 219')
    check(PROMPT_MARK, 16, 12, 'bitmap 207')
    write_icon('product.ico', PRODUCT_ICON)
    write_icon('update.ico', UPDATE_ICON)
    write_mono_bitmap('classic_mark.bmp', CLASSIC_MARK)
    write_mono_bitmap('editor_mark.bmp', EDITOR_MARK)
    write_mono_bitmap('copy_mark.bmp', COPY_MARK)
    write_mono_bitmap('prompt_mark.bmp', PROMPT_MARK)
    for index, colour in enumerate(SWATCH_COLOURS, start=1):
        write_swatch_icon('swatch%d.ico' % index, colour)
