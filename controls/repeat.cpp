// Held-button auto-repeat: tempo while L or R is held, cursor (and painting) while a direction is,
// the chain's removals while B and DOWN are.
#include "repeat.h"

#include "../display/grid.h"
#include "../sequencer/pattern.h"
#include "../sequencer/song.h"
#include "../sequencer/transport.h"
#include "buttons.h"

namespace {

constexpr Uint32 repeatPeriod = 100; // ms between repeats once they have started
constexpr Uint32 longestLead = 750;  // a repeat deadline is never set further ahead than this

// tested each on its own, in this order, so opposite directions held together cancel
constexpr int repeatDirections[] = {buttonLeft, buttonRight, buttonUp, buttonDown};

bool due(const Inputs& in, Uint32 deadline) {
  return tickReached(in.ticks(), deadline, longestLead);
}

void tempoRepeat(MachineState& s, int button, int direction, const Inputs& in) {
  if (s.bpmHeld == 1 && in.isDown(button) && due(in, s.bpmRepeatAt)) {
    changeTempo(s, direction, in.isDown(buttonSelect));
    s.bpmRepeatAt = in.ticks() + repeatPeriod;
  }
}

} // namespace

void autoRepeat(MachineState& s, const Inputs& in) {
  // L first: its new deadline keeps R from repeating in the same pass, so with both held only
  // L repeats.
  tempoRepeat(s, buttonL, tempoDown, in);
  tempoRepeat(s, buttonR, tempoUp, in);

  // B + DOWN: the chain loses its last entry on every repeat, on a hold of its own
  if (s.chainHeld == 1 && due(in, s.chainRepeatAt)) {
    dropFromChain(s);
    s.chainRepeatAt = in.ticks() + repeatPeriod;
  }

  if (s.cursorHeld == 1 && due(in, s.cursorRepeatAt)) {
    flashCursor(s);
    // painting: the cell under the cursor is toggled before the cursor moves on
    if (in.isDown(buttonY)) {
      toggleCell(s, s.cursorTrack, s.cursorStep);
    }
    s.cursorRepeatAt = in.ticks() + repeatPeriod;
    for (int button : repeatDirections) {
      if (in.isDown(button)) {
        moveCursor(s, button);
      }
    }
  }
}
