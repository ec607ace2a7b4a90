// Text with a one-pixel black shadow, and the track labels drawn into the background.
#pragma once

#include "../machine.h"

// Renders text with the global font at (x, y) in (r, g, b), over its black shadow at
// (x - 1, y - 1). Only the low 8 bits of each component count. Draws nothing without a font.
void drawText(SDL_Surface* surface, const char* text, int x, int y, int r, int g, int b);

// "sample 0" .. "sample 9" in white at (4, 65 + 17 * track), beside each track's row of cells.
// With the user's kit, a row whose track has a file shows its sound's name in its place: the
// file's name without its number and extension, cut to the space before the grid.
void labelSamples(SDL_Surface* surface, const SampleBank* kit = nullptr);
