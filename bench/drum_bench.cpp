// What a frame and the start-up cost on SDL's dummy video and audio drivers.
//   BM_WholeFrame            preset B playing, edit mode and shuffle on: every label drawn
//   BM_SongFrame/0, /1       the same with a song of sixteen slots and a 64-entry chain: the slot
//                            label, and with /1 the bank view of B held as well
//   BM_BareFrame             the background copy and the flip alone, the floor of any frame
//   BM_StartupToFirstFrame   from SDL_Init to the first frame shown, every asset loaded
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "controls/buttons.h"
#include "loop.h"
#include "sequencer/pattern.h"
#include "sequencer/song.h"
#include "startup/startup.h"

namespace {

// The program's start-up from SDL_Init to the state record's initial values, through the same
// functions; the exit handler is not registered, since the benchmark ends SDL itself. An asset or
// device that failed aborts the benchmark, which would otherwise time less than the real thing.
bool startUp(MachineState& state, benchmark::State& bench) {
  if (SDL_Init(SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_JOYSTICK) < 0 || !openScreen()) {
    bench.SkipWithError(SDL_GetError());
    return false;
  }
  loadMachine(state, SOURCE_DIR "/assets");
  initMachineState(state, SDL_GetTicks());
  bool allLoaded =
      state.imgGUI != nullptr && font != nullptr && Mix_QuerySpec(nullptr, nullptr, nullptr) != 0;
  for (Mix_Chunk* chunk : state.samples.chunk) {
    allLoaded = allLoaded && chunk != nullptr;
  }
  if (!allLoaded) {
    bench.SkipWithError("an asset or the audio device failed to load");
  }
  return allLoaded;
}

// What the program leaves to the end of the process, released so that the next run starts
// from nothing.
void tearDown(MachineState& state) {
  Mix_HaltChannel(-1);
  for (Mix_Chunk*& chunk : state.samples.chunk) {
    if (chunk != nullptr) {
      Mix_FreeChunk(chunk);
    }
    chunk = nullptr;
  }
  Mix_CloseAudio();
  if (font != nullptr) {
    TTF_CloseFont(font);
  }
  font = nullptr;
  TTF_Quit();
  SDL_FreeSurface(state.imgGUI);
  state.imgGUI = nullptr;
  joy = nullptr;
  screen = nullptr;
  SDL_Quit();
}

// A clock that the benchmark moves on by one 60 Hz frame per iteration; no button is held.
Uint32 benchClock = 0;
Uint32 benchTicks() {
  return benchClock;
}
bool nothingHeld(int) {
  return false;
}
const Inputs benchInputs = {benchTicks, nothingHeld};

MachineState machine;

void BM_WholeFrame(benchmark::State& bench) {
  if (!startUp(machine, bench)) {
    tearDown(machine);
    return;
  }
  benchClock = 1000;
  initMachineState(machine, benchClock);
  // as a player gets there: a SELECT tap for edit mode, X for shuffle, A to start preset B
  handleButtonDown(machine, buttonSelect, benchInputs);
  handleButtonUp(machine, buttonSelect);
  handleButtonDown(machine, buttonX, benchInputs);
  handleButtonDown(machine, buttonA, benchInputs);
  for (auto _ : bench) {
    benchClock += 16;
    renderFrame(machine, benchInputs);
  }
  if (machine.playing != 1 || machine.editMode != 1 || machine.shuffle != 1) {
    bench.SkipWithError("the machine was not playing in edit mode with shuffle");
  }
  tearDown(machine);
}
BENCHMARK(BM_WholeFrame);

void BM_SongFrame(benchmark::State& bench) {
  if (!startUp(machine, bench)) {
    tearDown(machine);
    return;
  }
  benchClock = 1000;
  initMachineState(machine, benchClock);
  Song song = oneSlotSong(nullptr, 94.0f, 1);
  for (int slot = 0; slot < slotCount; slot++) {
    std::memcpy(song.bank[slot], slot % 2 ? presetAcells : presetBcells, cellCount);
  }
  for (int k = 0; k < chainMax; k++) {
    song.chain[k] = k % slotCount;
  }
  song.chainLength = chainMax;
  putSong(machine, song);
  machine.bankView = int(bench.range(0));
  handleButtonDown(machine, buttonSelect, benchInputs);
  handleButtonUp(machine, buttonSelect);
  handleButtonDown(machine, buttonA, benchInputs);
  for (auto _ : bench) {
    benchClock += 16;
    renderFrame(machine, benchInputs);
  }
  if (machine.playing != 1 || (bench.iterations() >= 1000 && machine.bar < 2)) {
    bench.SkipWithError("the song was not playing through its chain");
  }
  tearDown(machine);
}
BENCHMARK(BM_SongFrame)->Arg(0)->Arg(1);

void BM_BareFrame(benchmark::State& bench) {
  if (!startUp(machine, bench)) {
    tearDown(machine);
    return;
  }
  for (auto _ : bench) {
    SDL_Rect at = targetarea;
    SDL_BlitSurface(machine.imgGUI, nullptr, screen, &at);
    SDL_Flip(screen);
  }
  tearDown(machine);
}
BENCHMARK(BM_BareFrame);

void BM_StartupToFirstFrame(benchmark::State& bench) {
  for (auto _ : bench) {
    auto begin = std::chrono::steady_clock::now();
    bool up = startUp(machine, bench);
    if (up) {
      renderFrame(machine, liveInputs);
    }
    auto end = std::chrono::steady_clock::now();
    tearDown(machine);
    if (!up) {
      break;
    }
    bench.SetIterationTime(std::chrono::duration<double>(end - begin).count());
  }
}
BENCHMARK(BM_StartupToFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
