// Transport, tempo and the step clock that makes the pattern sound.
#include "transport.h"

#include "../engine/schedule.h"
#include "output.h"
#include "song.h"

namespace {

// Beyond this many ms a single-precision time no longer holds whole milliseconds.
constexpr Uint32 exactSpan = 1u << 24;

// Keeps the step clock's times small. Nothing moves in the first 2^24 ms; after that the epoch
// follows the clock, and nextStepTime is shifted by the same whole number of ms, which is exact.
void keepClockNear(MachineState& s, Uint32 ticks) {
  if (Uint32(ticks - s.clockEpoch) < exactSpan) {
    return;
  }
  if (!s.playing || s.nextStepTime < 0.0f) {
    s.clockEpoch = ticks;
    return;
  }
  Uint32 whole = Uint32(s.nextStepTime);
  // The epoch must not pass now, or the reading would wrap and fire the step early. With the
  // step still ahead, 2^24 ms is both behind now and exact to take off a time that large.
  if (whole > Uint32(ticks - s.clockEpoch)) {
    whole = exactSpan;
  }
  s.clockEpoch += whole;
  s.nextStepTime -= float(whole);
}

// Moves the next step time on by a length, carrying over the rounding. A float near 10^5 ms holds
// only 1/128 ms, and the same rounding repeated at every step would add up to ms per minute.
// The carry is exact only with plain IEEE float arithmetic: no -ffast-math for this file.
void addToStepTime(MachineState& s, float length) {
  float wanted = length + s.stepTimeCarry;
  float sum = s.nextStepTime + wanted;
  s.stepTimeCarry = wanted - (sum - s.nextStepTime);
  s.nextStepTime = sum;
}

} // namespace

float clockReading(const MachineState& s, Uint32 ticks) {
  return float(double(Uint32(ticks - s.clockEpoch)));
}

void togglePlay(MachineState& s, Uint32 ticks) {
  s.playing = 1 - s.playing;
  s.step = 0;
  if (Uint32(ticks - s.clockEpoch) >= exactSpan) {
    s.clockEpoch = ticks;
  }
  s.nextStepTime = clockReading(s, ticks);
  s.stepTimeCarry = 0.0f;
  if (s.playing == 0) {
    showSlot(s, s.currentSlot);
    beatOutput().halt(s);
  } else {
    startBar(s, 0);
    beatOutput().start(s);
  }
}

void changeTempo(MachineState& s, int direction, bool fine) {
  if (fine) {
    s.bpm = float(double(s.bpm) + direction * 0.1);
  } else {
    s.bpm = s.bpm + float(direction) * 1.0f;
  }
  if (direction == tempoDown && s.bpm < minTempo) {
    s.bpm = minTempo;
  }
  if (direction == tempoUp && s.bpm > maxTempo) {
    s.bpm = maxTempo;
  }
  s.stepInterval = stepLength(s.bpm);
}

void advanceClock(MachineState& s, Uint32 ticks) {
  if (beatOutput().follow != nullptr) {
    beatOutput().follow(s, ticks);
    return;
  }
  keepClockNear(s, ticks);
  if (clockReading(s, ticks) < s.nextStepTime) {
    return;
  }
  s.step = s.step + 1;
  if (s.step > stepCount) {
    s.step = 1;
    startBar(s, s.bar + 1);
  }
  // A step's length and, with shuffle, the quarter step by which the next one lies off the
  // straight grid, each added on its own so the carry keeps both exact.
  addToStepTime(s, s.stepInterval);
  float off = float(stepOffset(s.step, s.shuffle) - stepOffset(s.step - 1, s.shuffle) - 1.0);
  if (off != 0.0f) {
    addToStepTime(s, s.stepInterval * off);
  }
  triggerStep(s, s.step - 1);
}

void triggerStep(MachineState& s, int column) {
  for (int t = 0; t < trackCount; t++) {
    if (s.pattern[t * stepCount + column] == '1' && s.samples.chunk[t] != nullptr) {
      beatOutput().hit(s, t, column + 1);
    }
  }
}
