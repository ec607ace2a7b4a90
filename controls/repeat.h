// Held-button auto-repeat: tempo while L or R is held, cursor (and painting) while a direction is,
// the chain's removals while B and DOWN are.
#pragma once

#include "../machine.h"

// Once per frame: at most one tempo repeat, one removal from the chain, one cursor repeat.
void autoRepeat(MachineState& s, const Inputs& in);
