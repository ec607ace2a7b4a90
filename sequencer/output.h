// The output the sequencer hands its decisions to (engine/beat_output.h).
#pragma once

#include "../engine/beat_output.h"

// The output in use from now on; out must outlive its use.
void useBeatOutput(const BeatOutput& out);
// The output in use: the mixer's channels unless the program chose another.
const BeatOutput& beatOutput();
