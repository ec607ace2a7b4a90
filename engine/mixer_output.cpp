// The output the program starts with: each hit on the mixer's channel for its track.
#include "beat_output.h"

namespace {

void noStart(const MachineState&) {}

// A mixer closed after its device was lost has no channels until it opens again.
bool mixerOpen() {
  return Mix_QuerySpec(nullptr, nullptr, nullptr) != 0;
}

// Track t always plays on mixer channel t, so a new hit cuts the track's last one.
void playOnChannel(const MachineState& s, int track, int) {
  if (mixerOpen()) {
    Mix_PlayChannel(track, s.samples.chunk[track], 0);
  }
}

void haltChannels(const MachineState&) {
  if (mixerOpen()) {
    Mix_HaltChannel(-1);
  }
}

} // namespace

const BeatOutput mixerOutput = {noStart, playOnChannel, haltChannels, nullptr};
