// The General MIDI drum note of each track, whatever the kit, for every MIDI the machine sends or
// writes.
#pragma once

#include "../machine.h"

// Open hi-hat, closed hi-hat, bass drum, acoustic snare, electric snare, side stick, ride,
// low floor tom, open high conga, hand clap.
constexpr unsigned char drumNotes[trackCount] = {46, 42, 36, 38, 40, 37, 51, 41, 63, 39};
