// The step schedule: the exact audio frame at which each step begins, from the tempo and shuffle.
#pragma once

#include "audio.h"

// Where step k (0, 1, 2 ... from the start of play) begins, in steps from step 0. Shuffle splits
// each pair of sixteenths 5 : 3: the odd steps lie a quarter of a step late. Every timing in the
// program (frames, the live step clock's milliseconds, MIDI ticks) is this value scaled.
double stepOffset(long long k, int shuffle);

// ms per sixteenth at a tempo: a quarter of a beat, in single precision, as the live step clock
// counts.
float stepLength(float bpm);

// A tempo and shuffle in force from one step on. Steps count from 0 at the start of play; the
// anchor is a step whose frame is known, the start or the step at which the timing last changed.
struct Schedule {
  float bpm;
  int shuffle;
  long long anchorStep;       // steps from the start
  long long anchorFrame;      // frames from the start
  long long rate = audioRate; // frames per second
};

// The frame at which step k begins: the anchor's frame and the exact distance from the anchor,
// rounded once, so that rounding never adds up from step to step.
long long frameOfStep(const Schedule& plan, long long k);

// The frame of a point part / parts steps from the start, on the grid stepOffset counts in (a
// step's parts: the MIDI clock's six ticks, or half steps for a thirty-second), by the same rule.
long long frameOfPart(const Schedule& plan, double part, int parts);

// The frame of step i of a take that starts at frame 0 and keeps its tempo.
long long stepFrame(long long i, float bpm, int shuffle);

// The schedule with a new tempo and shuffle from step k on; step k keeps its frame.
Schedule retimed(const Schedule& plan, long long k, float bpm, int shuffle);
