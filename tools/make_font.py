#!/usr/bin/python3
"""Builds bmmini.ttf from the pixel table in font_glyphs.py with FontForge.

The em is 8 pixels of 128 units (unitsPerEm 1024), so at 8 px/em (SDL_ttf point
size 8 at 72 dpi) every contour edge falls on a whole pixel and the rasteriser
gives fully lit or fully dark pixels only. Ascent is 7 px, descent 1 px.

Usage: make_font.py OUTPUT.ttf
"""

import os
import sys

import fontforge

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import font_glyphs  # noqa: E402

UNIT = 128  # font units per pixel
EM = 8 * UNIT
ASCENT = font_glyphs.ROWS_ABOVE_BASELINE * UNIT
DESCENT = font_glyphs.ROWS_BELOW_BASELINE * UNIT


def draw_glyph(glyph, rows):
    """One clockwise square contour per lit pixel; FreeType's non-zero fill joins them."""
    pen = glyph.glyphPen()
    for row_index, row in enumerate(rows):
        # Row 6 is the lowest row above the baseline; row 7 hangs below it.
        y0 = (font_glyphs.ROWS_ABOVE_BASELINE - 1 - row_index) * UNIT
        y1 = y0 + UNIT
        for col, ch in enumerate(row):
            if ch != "#":
                continue
            x0 = col * UNIT
            x1 = x0 + UNIT
            pen.moveTo((x0, y0))
            pen.lineTo((x0, y1))
            pen.lineTo((x1, y1))
            pen.lineTo((x1, y0))
            pen.closePath()
    pen = None


def build(path):
    font_glyphs.check_table()
    font = fontforge.font()
    font.encoding = "UnicodeBmp"
    font.fontname = "BMMini"
    font.familyname = "BMMini"
    font.fullname = "BMMini"
    font.copyright = "Drawn pixel by pixel for the pocket drum machine."
    font.version = "1.0"
    font.em = EM
    font.ascent = ASCENT
    font.descent = DESCENT
    # Pin every vertical metric so FreeType's ascender/descender are exactly 7 and 1 px.
    font.hhea_ascent = ASCENT
    font.hhea_ascent_add = False
    font.hhea_descent = -DESCENT
    font.hhea_descent_add = False
    font.hhea_linegap = 0
    font.os2_typoascent = ASCENT
    font.os2_typoascent_add = False
    font.os2_typodescent = -DESCENT
    font.os2_typodescent_add = False
    font.os2_typolinegap = 0
    font.os2_winascent = ASCENT
    font.os2_winascent_add = False
    font.os2_windescent = DESCENT
    font.os2_windescent_add = False

    notdef = font.createChar(-1, ".notdef")
    draw_glyph(notdef, ["####", "#..#", "#..#", "#..#", "#..#", "#..#", "####"])
    notdef.width = 5 * UNIT

    space = font.createChar(0x20, "space")
    space.width = font_glyphs.SPACE_ADVANCE * UNIT

    for code in range(0x21, 0x7F):
        rows = font_glyphs.GLYPHS[chr(code)]
        glyph = font.createChar(code)
        draw_glyph(glyph, rows)
        glyph.width = (len(rows[0]) + 1) * UNIT

    font.generate(path, flags=("opentype", "no-FFTM-table", "omit-instructions"))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    build(sys.argv[1])
