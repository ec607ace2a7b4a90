// --sample-exact: the engine (engine/live.h) as the sequencer's output, playing every hit on its
// exact frame inside the audio callback; the step clock stands aside and the screen follows the
// step the engine plays.
#pragma once

#include "../machine.h"

// Hands s's beat to the live engine from now on. True when it is heard: false, and silent,
// where the audio device could not be opened.
bool startSampleExact(MachineState& s, Uint32 ticks);
