// --sample-exact: the engine (engine/live.h) as the sequencer's output, playing every hit on its
// exact frame inside the audio callback; the step clock stands aside and the screen follows the
// step the engine plays.
#pragma once

#include "../machine.h"

// Hands s's beat to the live engine from now on. True when it is heard: false where the audio
// device could not be opened, or opened in another format (which is said); the beat then stays
// with the mixer's channels, as without --sample-exact.
bool startSampleExact(MachineState& s, Uint32 ticks);
