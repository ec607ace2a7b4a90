// --sample-exact: the live engine as the sequencer's output.
#include "sample_exact.h"

#include <cstring>

#include "../engine/live.h"
#include "output.h"

namespace {

Uint32 starts = 0; // the transport's starts so far
Uint32 halts = 0;  // the moments all sound was cut

void handOver(const MachineState& s) {
  LiveBeat beat;
  std::memcpy(beat.cells, s.pattern, cellCount);
  beat.bpm = s.bpm;
  beat.shuffle = s.shuffle;
  beat.playing = s.playing;
  beat.starts = starts;
  beat.halts = halts;
  handOverBeat(beat);
}

void startPlay(const MachineState& s) {
  starts++;
  handOver(s);
}

// The engine sounds the cells itself, on their frames.
void noHit(const MachineState&, int, int) {}

void haltAll(const MachineState& s) {
  halts++;
  handOver(s);
}

// Edits, tempo and shuffle reach the engine once a frame; the screen shows its step.
void followEngine(MachineState& s, Uint32 ticks) {
  handOver(s);
  s.step = liveStep(ticks);
}

const BeatOutput engineOutput = {startPlay, noHit, haltAll, followEngine};

} // namespace

bool startSampleExact(MachineState& s, Uint32 ticks) {
  if (!startLiveEngine(s.samples, ticks)) {
    return false;
  }
  useBeatOutput(engineOutput);
  handOver(s);
  return true;
}
