// The pattern: ten tracks of sixteen steps as text, the two built-in presets, and edits.
#pragma once

#include "../machine.h"

// The two presets, 160 cells each, rows joined in track order.
extern const char presetAcells[cellCount + 1];
extern const char presetBcells[cellCount + 1];

// Fills presetA and presetB from the built-in presets and starts pattern as preset B.
void loadPresets(MachineState& s);

// Flips one cell: '0' becomes '1' and '1' becomes '0'.
void toggleCell(MachineState& s, int track, int step);

// 1 clears the pattern (and cuts the sound if playing), 2 loads preset A with shuffle, 3 loads
// preset B; any other mode changes nothing.
void setDemoMode(MachineState& s, int mode);
