#!/usr/bin/python3
"""Draws the desktop icon from the panel artwork: a square of the grid, four steps by four tracks,
with cells set and playing as the program paints them and the edit cursor around one, in a tile
with rounded corners.

The square is cut from gui.png at (57, 61), 68 x 68 pixels: columns 0..3 and rows 0..3 of the grid,
their wells and the beat plate behind them. Larger icons are that square enlarged by whole pixels
and then fitted, so the wells stay crisp; smaller ones are scaled down. Output is deterministic.

Usage: make_icon.py GUI.png OUTPUT_DIR
Writes OUTPUT_DIR/hicolor/<N>x<N>/apps/pocketdrum.png for each size N, laid out as the icon theme
is installed.
"""

import math
import os
import sys

from PIL import Image, ImageDraw

SIZES = [16, 24, 32, 48, 64, 128, 256]  # pixels, the sizes desktops ask the hicolor theme for

CROP_X, CROP_Y, CROP = 57, 61, 68  # the cut from the panel, in the panel's pixels

# The program's own colours and geometry (screen pixels), so the icon looks like the machine.
SET_CELL = (192, 0, 0)
PLAYING_CELL = (0, 255, 0)
CURSOR = (0, 230, 0)  # the cursor frame just after a flash
CELL = 13

# (column, row) of the cells set in the square; column 0 is the one playing.
SET_CELLS = [(0, 0), (0, 2), (1, 1), (2, 0), (2, 3), (3, 1), (3, 2)]
CURSOR_AT = (1, 2)

CORNER = 0.16  # corner radius as a fraction of the icon's side
OVERSAMPLE = 4  # the corner mask is drawn this much larger and scaled down, for a smooth edge


def cell_origin(c, r):
    return 61 + 16 * c, 63 + 17 * r


def cursor_bars(c, r):
    """The cursor frame's four bars around cell (c, r): x, y, w, h."""
    x, y = 16 * c, 17 * r
    return [(59 + x, 61 + y, 17, 2), (59 + x, 63 + y, 2, 15), (74 + x, 63 + y, 2, 15),
            (61 + x, 76 + y, 13, 2)]


def paint_square(panel):
    """The 68 x 68 square of the panel with the cells and the cursor drawn in."""
    img = panel.convert("RGB").copy()
    draw = ImageDraw.Draw(img)
    for c, r in SET_CELLS:
        x, y = cell_origin(c, r)
        draw.rectangle([x, y, x + CELL - 1, y + CELL - 1], fill=PLAYING_CELL if c == 0 else SET_CELL)
    for x, y, w, h in cursor_bars(*CURSOR_AT):
        draw.rectangle([x, y, x + w - 1, y + h - 1], fill=CURSOR)
    return img.crop((CROP_X, CROP_Y, CROP_X + CROP, CROP_Y + CROP))


def fit(square, size):
    if size > CROP:
        factor = math.ceil(size / CROP)
        square = square.resize((CROP * factor, CROP * factor), Image.NEAREST)
    if square.width != size:
        square = square.resize((size, size), Image.LANCZOS)
    return square


def corner_mask(size):
    big = size * OVERSAMPLE
    mask = Image.new("L", (big, big), 0)
    ImageDraw.Draw(mask).rounded_rectangle([0, 0, big - 1, big - 1],
                                           radius=round(CORNER * big), fill=255)
    return mask.resize((size, size), Image.LANCZOS)


def build(gui_path, out_dir):
    square = paint_square(Image.open(gui_path))
    for size in SIZES:
        icon = fit(square, size).convert("RGBA")
        icon.putalpha(corner_mask(size))
        folder = os.path.join(out_dir, "hicolor", "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        icon.save(os.path.join(folder, "pocketdrum.png"), optimize=True)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    build(sys.argv[1], sys.argv[2])
