// The output the sequencer hands its decisions to.
#include "output.h"

namespace {

// Set before any code runs, so that a step clock with no set-up sounds on the mixer.
const BeatOutput* current = &mixerOutput;

} // namespace

void useBeatOutput(const BeatOutput& out) {
  current = &out;
}

const BeatOutput& beatOutput() {
  return *current;
}
