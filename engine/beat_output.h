// Outputs: what carries out the sequencer's decisions. The sequencer decides what sounds and
// when: the transport starting at column 0, a hit of a track at a step, everything stopping.
#pragma once

#include "../machine.h"

struct BeatOutput {
  void (*start)(const MachineState& s);                    // play has started at column 0
  void (*hit)(const MachineState& s, int track, int step); // track's sample, now; step 1..16
  void (*halt)(const MachineState& s);                     // cut all sound at once
  // Once a frame while playing, for an output that keeps the steps itself: it sets s.step to
  // the step it plays. Null: the step clock fires the steps and calls hit.
  void (*follow)(MachineState& s, Uint32 ticks);
};

// The mixer's channels, one per track, at the moments the step clock decides: the output the
// program starts with.
extern const BeatOutput mixerOutput;
