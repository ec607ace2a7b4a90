// The grid of set cells, the playing column, and the pulsing cursor frame.
#pragma once

#include "../machine.h"

// Top-left corner of the 13 x 13 square of cell (column, row).
constexpr int cellX(int column) {
  return 61 + 16 * column;
}
constexpr int cellY(int row) {
  return 63 + 17 * row;
}
constexpr int cellSize = 13;

// Fills every set cell, green in the playing column while playing and red elsewhere.
void drawGrid(MachineState& s);

// Takes at most one glow tick, when it is due, 40 ms at the shortest after the last one.
void updateGlow(MachineState& s, Uint32 ticks);

// The 2-pixel frame around the cell under the cursor, in (0, glow, 0).
void drawCursor(MachineState& s);

// Jumps the frame to a bright green that then fades.
void flashCursor(MachineState& s);
