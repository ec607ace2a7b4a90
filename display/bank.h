// The song on the screen, once there is more than one pattern: the slot label in the status
// line, and the bank and the chain while B is held after a song control.
#pragma once

#include "../engine/song.h"
#include "../machine.h"

// "P03", "P03 2/5" with a chain (its place while playing, "-" stopped), "P03>04" while a change of
// slot waits for the bar line: at (150, 40) in white, between "SHFL" and the credit line.
void drawSlotLabel(const MachineState& s, const Song& song);

// Over the grid: the sixteen slots (red used, empty unfilled, green sounding, a frame around the
// current one), the chain's entries with the sounding one in red, and "NO EMPTY SLOT" after a
// copy that found none.
void drawBankView(const MachineState& s, const Song& song);
