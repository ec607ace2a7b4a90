// The status line: step counter, tempo and the shuffle indicator.
#pragma once

#include "../machine.h"

// Writes the tempo's digits into positions 5, 6, 7 and 9 of the 11-byte "BPM: xxx.x" buffer,
// truncated (not rounded) to one decimal.
void makeBPMstring(float bpm, char* buffer);

// Writes step into "16th: nn" and draws it at (2, 40), red on the first sixteenth of each beat.
void drawStepLabel(MachineState& s);

// Rebuilds and draws the tempo label at (60, 40), then "SHFL" at (109, 40) while shuffle is on.
void drawTempoLabels(MachineState& s);
