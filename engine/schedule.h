// The step schedule: the exact audio frame at which each step begins, from the tempo and shuffle.
#pragma once

// A tempo and shuffle in force from one step on. Steps count from 0 at the start of play; the
// anchor is a step whose frame is known, the start or the step at which the timing last changed.
struct Schedule {
  float bpm;
  int shuffle;
  long long anchorStep;  // steps from the start
  long long anchorFrame; // frames from the start
};

// The frame at which step k begins: the anchor's frame and the exact distance from the anchor,
// rounded once, so that rounding never adds up from step to step. Shuffle delays the odd steps
// by a quarter of a step.
long long frameOfStep(const Schedule& plan, long long k);

// The frame of step i of a take that starts at frame 0 and keeps its tempo.
long long stepFrame(long long i, float bpm, int shuffle);

// The schedule with a new tempo and shuffle from step k on; step k keeps its frame.
Schedule retimed(const Schedule& plan, long long k, float bpm, int shuffle);
