// --sample-exact: the live engine as the sequencer's output.
#include "sample_exact.h"

#include "../engine/live.h"
#include "output.h"
#include "song.h"

namespace {

Uint32 starts = 0; // the transport's starts so far
Uint32 halts = 0;  // the moments all sound was cut

void handOver(const MachineState& s) {
  LiveBeat beat;
  beat.song = songOf(s);
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

// Edits, tempo and shuffle reach the engine once a frame; the screen shows its step and the
// slot of its bar.
void followEngine(MachineState& s, Uint32 ticks) {
  handOver(s);
  long long bar = -1;
  int slot = 0;
  s.step = liveStep(ticks, &bar, &slot);
  if (bar >= 0 && (bar != s.bar || slot != s.shownSlot)) {
    s.bar = bar;
    showSlot(s, slot);
  }
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
