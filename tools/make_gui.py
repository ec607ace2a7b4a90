#!/usr/bin/python3
"""Paints the 320x240 panel artwork, gui.png, that the program draws its screen on.

Layout (x, y in pixels; inclusive ranges):
  y 0..34    title strip: brushed gunmetal, "POCKET DRUM" lettering, LED, grille, screws
  y 36..50   status strip: plain dark band for the status and credit text
  y 52..60   beat numbers 1-4 above columns 0, 4, 8, 12, ticks above the others
  x 2..58    track label bed, one plain text band per row (y 63+17r .. 76+17r)
  cells      13x13 wells at (61+16c, 63+17r), c 0..15, r 0..9, on a panel whose
             tint alternates per four-column beat; the 2-px ring around each well
             (where the edit cursor is drawn) stays calm grey
The lettering uses the same pixel table as the bmmini font.

Usage: make_gui.py OUTPUT.png
"""

import os
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import font_glyphs  # noqa: E402

W, H = 320, 240
CELL = 13
COLS, ROWS = 16, 10


def cell_origin(c, r):
    return 61 + 16 * c, 63 + 17 * r


# Colours, RGB 0..255.
BODY_TOP = np.array([50, 52, 57])
BODY_BOTTOM = np.array([38, 39, 44])
BEAT_TINT = np.array([20, 20, 21])  # added behind beats 1 and 3
TITLE_TOP = np.array([84, 87, 94])
TITLE_BOTTOM = np.array([58, 60, 66])
STRIP = np.array([21, 23, 26])
LABEL_BED = np.array([26, 27, 31])
WELL = np.array([17, 18, 21])
INK = np.array([226, 224, 214])  # silk-screen off-white
INK_DIM = np.array([150, 152, 156])
ACCENT = np.array([240, 138, 36])  # amber
SHADOW = np.array([16, 16, 18])


def brushed(rng, h, w, strength):
    """Horizontal streaks: noise smeared along x, as on brushed metal."""
    n = rng.normal(0.0, 1.0, (h, w + 24))
    kernel = np.ones(25) / 25
    streaks = np.array([np.convolve(row, kernel, mode="valid") for row in n])
    streaks += 0.35 * rng.normal(0.0, 1.0, (h, 1))
    return (streaks / streaks.std() * strength)[:, :, None]


def vertical_gradient(h, top, bottom):
    k = np.linspace(0.0, 1.0, h)[:, None, None]
    return top * (1 - k) + bottom * k


def fill(img, x0, y0, x1, y1, colour):
    img[y0 : y1 + 1, x0 : x1 + 1] = colour


def text(img, x, y, s, colour, scale=1, shadow=None):
    """Draws s with the font's pixel table; (x, y) is the top of the ascender row."""
    for ch in s:
        if ch == " ":
            x += font_glyphs.SPACE_ADVANCE * scale
            continue
        rows = font_glyphs.GLYPHS[ch]
        for ry, row in enumerate(rows):
            for rx, bit in enumerate(row):
                if bit != "#":
                    continue
                px, py = x + rx * scale, y + ry * scale
                if shadow is not None:
                    fill(img, px + 1, py + 1, px + scale, py + scale, shadow)
        for ry, row in enumerate(rows):
            for rx, bit in enumerate(row):
                if bit == "#":
                    px, py = x + rx * scale, y + ry * scale
                    fill(img, px, py, px + scale - 1, py + scale - 1, colour)
        x += (len(rows[0]) + 1) * scale
    return x


def disc_coverage(cx, cy, radius, x0, y0, x1, y1):
    """Antialiased coverage 0..1 of a disc over the pixel box, 4x4 supersampled."""
    ys, xs = np.mgrid[y0 : y1 + 1, x0 : x1 + 1]
    cov = np.zeros(xs.shape)
    for sy in range(4):
        for sx in range(4):
            dx = xs + (sx + 0.5) / 4 - cx
            dy = ys + (sy + 0.5) / 4 - cy
            cov += (dx * dx + dy * dy <= radius * radius) / 16
    return cov[:, :, None], xs, ys


def clamp_box(x0, y0, x1, y1):
    return max(x0, 0), max(y0, 0), min(x1, W - 1), min(y1, H - 1)


def blend(img, x0, y0, x1, y1, colour, alpha):
    region = img[y0 : y1 + 1, x0 : x1 + 1]
    region[:] = region * (1 - alpha) + np.asarray(colour) * alpha


def screw(img, cx, cy):
    r = 3.4
    x0, y0, x1, y1 = clamp_box(int(cx - 5), int(cy - 5), int(cx + 5), int(cy + 5))
    # Dark countersink ring, then a domed head lit from the top left.
    cov, xs, ys = disc_coverage(cx, cy, r + 1.0, x0, y0, x1, y1)
    blend(img, x0, y0, x1, y1, SHADOW, 0.7 * cov)
    cov, xs, ys = disc_coverage(cx, cy, r, x0, y0, x1, y1)
    light = 1 - ((xs + 0.5 - cx) + (ys + 0.5 - cy)) / (2 * r)
    head = (70 + 55 * np.clip(light, 0, 2))[:, :, None] * np.array([1.0, 1.0, 1.04])
    region = img[y0 : y1 + 1, x0 : x1 + 1]
    region[:] = region * (1 - cov) + head * cov
    # Cross slot.
    for d in range(-2, 3):
        img[int(cy) + d, int(cx) + d] = SHADOW + 20
        img[int(cy) - d, int(cx) + d] = SHADOW + 20


def led(img, cx, cy, colour, lit):
    x0, y0, x1, y1 = clamp_box(int(cx - 7), int(cy - 7), int(cx + 7), int(cy + 7))
    if lit:
        ys, xs = np.mgrid[y0 : y1 + 1, x0 : x1 + 1]
        d = np.hypot(xs + 0.5 - cx, ys + 0.5 - cy)
        glow = (0.45 * np.exp(-((d / 3.5) ** 2)))[:, :, None]
        blend(img, x0, y0, x1, y1, colour, glow)
    cov, _, _ = disc_coverage(cx, cy, 3.2, x0, y0, x1, y1)
    blend(img, x0, y0, x1, y1, SHADOW, cov)
    cov, _, _ = disc_coverage(cx, cy, 2.4, x0, y0, x1, y1)
    body = colour if lit else colour * 0.35
    blend(img, x0, y0, x1, y1, body, cov)
    cov, _, _ = disc_coverage(cx - 0.8, cy - 0.8, 0.9, x0, y0, x1, y1)
    blend(img, x0, y0, x1, y1, np.array([255, 235, 220]), 0.8 * cov if lit else 0.3 * cov)


def grille(img, x0, y0, cols, rows):
    """Speaker holes on a 4-px pitch, each a dark dot with a lit lower lip."""
    for j in range(rows):
        for i in range(cols):
            x, y = x0 + 4 * i, y0 + 4 * j
            fill(img, x, y, x + 1, y + 1, SHADOW)
            blend(img, x, y + 2, x + 1, y + 2, np.array([140, 144, 150]), 0.35)


def title_strip(img, rng):
    h = 35
    img[:h] = vertical_gradient(h, TITLE_TOP, TITLE_BOTTOM) + brushed(rng, h, W, 2.2)
    fill(img, 0, 0, W - 1, 0, TITLE_TOP + 28)  # top edge catches the light
    fill(img, 0, h - 2, W - 1, h - 2, TITLE_BOTTOM - 14)
    fill(img, 0, h - 1, W - 1, h - 1, SHADOW)  # groove down to the status strip

    x = text(img, 18, 5, "POCKET", INK, scale=2, shadow=SHADOW)
    text(img, x + 2 * font_glyphs.SPACE_ADVANCE, 5, "DRUM", ACCENT, scale=2, shadow=SHADOW)
    sub = "PD-16  STEP SEQUENCER"
    text(img, 19, 22, sub, INK_DIM, shadow=SHADOW + 24)
    # Amber pinstripe along the lower edge of the strip.
    blend(img, 0, 31, W - 1, 31, ACCENT, 0.55)

    led(img, 222.5, 12.5, np.array([255, 60, 40]), lit=True)
    text(img, 214, 20, "PWR", INK_DIM, shadow=SHADOW + 24)

    # Recessed grille plate.
    fill(img, 238, 6, 302, 28, TITLE_BOTTOM - 8)
    fill(img, 238, 6, 302, 6, TITLE_BOTTOM - 26)
    fill(img, 238, 28, 302, 28, TITLE_TOP + 14)
    grille(img, 241, 9, 15, 5)

    screw(img, 7.5, 7.5)
    screw(img, 312.5, 7.5)


def status_strip(img):
    fill(img, 0, 36, W - 1, 50, STRIP)
    fill(img, 0, 35, W - 1, 35, SHADOW)
    fill(img, 0, 51, W - 1, 51, BODY_TOP + 16)  # lower lip catches the light


def body(img, rng):
    y0 = 52
    h = H - y0
    img[y0:] = vertical_gradient(h, BODY_TOP, BODY_BOTTOM) + brushed(rng, h, W, 1.6)
    # Lighter plates behind beats 1 and 3 so the bar reads in quarters.
    for beat in (0, 2):
        x0 = 59 + 64 * beat
        x1 = x0 + 64
        img[58:233, x0 : x1 + 1] += BEAT_TINT
        fill(img, x0, 58, x1, 58, img[57, x0] + BEAT_TINT + 10)
        fill(img, x0, 232, x1, 232, img[233, x0] - 6)


def beat_markers(img):
    for c in range(COLS):
        x, _ = cell_origin(c, 0)
        if c % 4 == 0:
            digit = str(c // 4 + 1)
            text(img, x + 4, 53, digit, INK, shadow=SHADOW)
        else:
            fill(img, x + 5, 57, x + 7, 58, INK_DIM * 0.6 + BODY_TOP * 0.4)


def label_bed(img):
    x0, x1, y0, y1 = 1, 57, 60, 231
    fill(img, x0, y0, x1, y1, LABEL_BED)
    fill(img, x0, y0 - 1, x1, y0 - 1, SHADOW)
    fill(img, x0 - 1, y0, x0 - 1, y1, SHADOW + 6)
    fill(img, 58, y0, 58, y1, LABEL_BED + 9)
    fill(img, x0, y1 + 1, 58, y1 + 1, BODY_TOP + 12)
    # Grooves between the text bands of neighbouring tracks.
    for r in range(ROWS - 1):
        y = 78 + 17 * r
        fill(img, 4, y, 54, y, LABEL_BED - 9)
        fill(img, 4, y + 1, 54, y + 1, LABEL_BED + 5)


def wells(img):
    k = np.arange(CELL)
    # Recess shading: dark under the top and left lips, rising toward the far corner.
    shade = (k[:, None] + k[None, :]) / (2 * (CELL - 1))
    pit = WELL + (shade * 8 - 2)[:, :, None]
    pit[0, :] = WELL - 8
    pit[:, 0] = WELL - 8
    for r in range(ROWS):
        for c in range(COLS):
            x, y = cell_origin(c, r)
            around = img[y - 1, x - 1].copy()
            # Bevel just outside the well: shadowed top/left lip, lit bottom/right lip.
            fill(img, x - 1, y - 1, x + CELL, y - 1, around - 16)
            fill(img, x - 1, y - 1, x - 1, y + CELL, around - 16)
            fill(img, x, y + CELL, x + CELL, y + CELL, around + 16)
            fill(img, x + CELL, y, x + CELL, y + CELL, around + 16)
            img[y : y + CELL, x : x + CELL] = pit


def bottom(img):
    screw(img, 6.5, 235.5)
    screw(img, 313.5, 235.5)


def build(path):
    rng = np.random.default_rng(20240)
    img = np.zeros((H, W, 3))
    body(img, rng)
    title_strip(img, rng)
    status_strip(img)
    beat_markers(img)
    label_bed(img)
    wells(img)
    bottom(img)
    out = np.clip(np.round(img), 0, 255).astype(np.uint8)
    Image.fromarray(out, "RGB").save(path, optimize=True)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    build(sys.argv[1])
