// What keeping a beat costs: a whole save with its flush to disk, which runs inside one pass of
// the main loop when Ctrl+S is pressed, and reading a file back.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <string>

#include "patternfile/patternfile.h"
#include "sequencer/pattern.h"
#include "startup/startup.h"

namespace {

// In the working directory, so that the flush goes to the disk the program would save to.
const char* const benchFile = "pocketdrum-bench-beat.txt";

// The built-in kit's names, which the rows' comments show.
const SampleBank& builtInKit() {
  static SampleBank kit;
  nameBuiltInKit(kit);
  return kit;
}

Beat presetBeat() {
  Beat beat;
  beat.song = oneSlotSong(presetBcells, 94.1f, 1);
  return beat;
}

void BM_SaveBeat(benchmark::State& state) {
  const Beat beat = presetBeat();
  for (auto _ : state) {
    if (!saveBeatFile(benchFile, beat, builtInKit())) {
      state.SkipWithError("the save failed");
      break;
    }
  }
  std::remove(benchFile);
}
BENCHMARK(BM_SaveBeat)->Unit(benchmark::kMicrosecond);

void BM_ReadBeat(benchmark::State& state) {
  if (!saveBeatFile(benchFile, presetBeat(), builtInKit())) {
    state.SkipWithError("the save failed");
    return;
  }
  for (auto _ : state) {
    Beat beat;
    std::string complaint;
    benchmark::DoNotOptimize(readBeatFile(benchFile, beat, complaint));
  }
  std::remove(benchFile);
}
BENCHMARK(BM_ReadBeat)->Unit(benchmark::kMicrosecond);

} // namespace
