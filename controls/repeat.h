// Held-button auto-repeat: tempo while L or R is held, cursor (and painting) while a direction is.
#pragma once

#include "../machine.h"

// Once per frame: at most one tempo repeat, then at most one cursor repeat.
void autoRepeat(MachineState& s, const Inputs& in);
