// The step schedule: the exact audio frame at which each step begins, from the tempo and shuffle.
#include "schedule.h"

#include <cmath>

double stepOffset(long long k, int shuffle) {
  return double(k) + (shuffle && k % 2 == 1 ? 0.25 : 0.0);
}

float stepLength(float bpm) {
  return 15000.0f / bpm;
}

long long frameOfStep(const Schedule& plan, long long k) {
  return frameOfPart(plan, stepOffset(k, plan.shuffle), 1);
}

long long frameOfPart(const Schedule& plan, double part, int parts) {
  // exact in double for whole and quarter parts: the numerator first, then the tempo as stored,
  // widened, times the parts, so a point that lies on a half frame rounds the same every time
  double distance = part - stepOffset(plan.anchorStep, plan.shuffle) * parts;
  return plan.anchorFrame +
         (long long)std::round(double(plan.rate) * distance * 15.0 / (double(plan.bpm) * parts));
}

long long stepFrame(long long i, float bpm, int shuffle) {
  return frameOfStep({bpm, shuffle, 0, 0}, i);
}

Schedule retimed(const Schedule& plan, long long k, float bpm, int shuffle) {
  return {bpm, shuffle, k, frameOfStep(plan, k), plan.rate};
}
