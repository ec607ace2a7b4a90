// What a frame and the start-up cost on SDL's dummy video and audio drivers.
//   BM_WholeFrame            preset B playing, edit mode and shuffle on: every label drawn
//   BM_BareFrame             the background copy and the flip alone, the floor of any frame
//   BM_StartupToFirstFrame   from SDL_Init to the first frame shown, every asset loaded
#include <SDL_image.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "controls/buttons.h"
#include "display/text.h"
#include "machine.h"

namespace {

// The program's start-up, call for call, from SDL_Init to the state record's initial values;
// only the failure reports are left out (a failed step here aborts the benchmark instead) and
// the exit handler is not registered, since the benchmark ends SDL itself.
bool startUp(MachineState& state, benchmark::State& bench) {
  if (SDL_Init(SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_JOYSTICK) < 0) {
    bench.SkipWithError(SDL_GetError());
    return false;
  }
  SDL_ShowCursor(SDL_DISABLE);
  screen = SDL_SetVideoMode(320, 240, 16, 0);
  if (screen == nullptr) {
    bench.SkipWithError(SDL_GetError());
    return false;
  }
  joy = SDL_NumJoysticks() > 0 ? SDL_JoystickOpen(0) : nullptr;

  SDL_Surface* loaded = IMG_Load(backgroundFile);
  state.imgGUI =
      loaded != nullptr ? SDL_ConvertSurface(loaded, screen->format, SDL_SWSURFACE) : nullptr;
  SDL_FreeSurface(loaded);
  if (state.imgGUI == nullptr) {
    bench.SkipWithError(backgroundFile);
    return false;
  }
  TTF_Init();
  targetarea = {0, 0, Uint16(state.imgGUI->w), Uint16(state.imgGUI->h)};
  font = TTF_OpenFont(fontFile, 8);
  if (font == nullptr) {
    bench.SkipWithError(fontFile);
    return false;
  }

  labelSamples(state.imgGUI);
  drawText(state.imgGUI, "(c)2026 crew", 246, 40, 255, 255, 255);
  SDL_Rect at = targetarea;
  SDL_BlitSurface(state.imgGUI, nullptr, screen, &at);
  SDL_Flip(screen);

  if (Mix_OpenAudio(44100, AUDIO_S16LSB, 2, 512) < 0) {
    bench.SkipWithError(Mix_GetError());
    return false;
  }
  for (Mix_Chunk*& chunk : state.samples.chunk) {
    chunk = nullptr;
  }
  drawText(screen, "Loading...", 2, 40, 255, 255, 255);
  SDL_Flip(screen);
  for (int t = 0; t < trackCount; t++) {
    SDL_RWops* file = SDL_RWFromFile(sampleFiles[t], "rb");
    state.samples.chunk[t] = file != nullptr ? Mix_LoadWAV_RW(file, 1) : nullptr;
    if (state.samples.chunk[t] == nullptr) {
      bench.SkipWithError(sampleFiles[t]);
      return false;
    }
  }
  Mix_AllocateChannels(trackCount);
  for (Mix_Chunk* chunk : state.samples.chunk) {
    Mix_VolumeChunk(chunk, 12);
  }
  initMachineState(state, SDL_GetTicks());
  return true;
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
  // the assets are found the way the program finds them, relative to the working directory
  if (chdir(SOURCE_DIR) != 0) {
    std::perror(SOURCE_DIR);
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
