// The step schedule: the exact audio frame at which each step begins, from the tempo and shuffle.
#include "schedule.h"

#include <cmath>

double stepOffset(long long k, int shuffle) {
  return double(k) + (shuffle && k % 2 == 1 ? 0.25 : 0.0);
}

long long frameOfStep(const Schedule& plan, long long k) {
  double steps = stepOffset(k, plan.shuffle) - stepOffset(plan.anchorStep, plan.shuffle);
  // in double: the numerator first, then the tempo as stored, widened
  return plan.anchorFrame +
         (long long)std::round(double(plan.rate) * steps * 15.0 / double(plan.bpm));
}

long long stepFrame(long long i, float bpm, int shuffle) {
  return frameOfStep({bpm, shuffle, 0, 0}, i);
}

Schedule retimed(const Schedule& plan, long long k, float bpm, int shuffle) {
  return {bpm, shuffle, k, frameOfStep(plan, k), plan.rate};
}
