// What an export costs, on SDL's dummy audio driver, with the decoding of the kit apart.
//   BM_RenderStartupBeat   4 bars of preset B at 94 BPM rendered; x_realtime is seconds of beat
//                          per second of CPU
//   BM_RenderSong64        a chain of 64 entries over sixteen slots (presets A and B in turn)
//                          at 94 BPM, rendered once through
//   BM_WriteStartupBeat    the same frames written as a WAV and flushed to disk
//   BM_DecodeKit           the ten samples read and decoded by the mixer, as start-up does
//   BM_DecodeUserKit       the same ten files as a kit of the user's: libsndfile, and 16-bit
//                          stereo chunks built from its floats
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "engine/engine.h"
#include "export/export.h"
#include "kit/kit.h"
#include "sequencer/pattern.h"
#include "startup/startup.h"

namespace {

constexpr int bars = 4;
constexpr float startupTempo = 94.0f;
const char* const assetDir = ASSET_DIR;

// The kit as start-up loads it; false when a sample is missing, which would time less.
bool loadKit(SampleBank& bank) {
  loadSamples(bank, assetDir);
  for (Mix_Chunk* chunk : bank.chunk) {
    if (chunk == nullptr) {
      return false;
    }
  }
  return true;
}

void freeMixerKit(SampleBank& bank) {
  for (Mix_Chunk*& chunk : bank.chunk) {
    if (chunk != nullptr) {
      Mix_FreeChunk(chunk);
    }
    chunk = nullptr;
  }
}

SampleBank kit;

double beatSeconds(const std::vector<Sint16>& frames) {
  return double(frames.size() / audioChannels) / audioRate;
}

void BM_RenderStartupBeat(benchmark::State& bench) {
  std::vector<Sint16> frames;
  for (auto _ : bench) {
    frames = renderBeat(oneSlotSong(presetBcells, startupTempo, 0), bars, kit);
    benchmark::DoNotOptimize(frames.data());
  }
  bench.counters["x_realtime"] =
      benchmark::Counter(beatSeconds(frames), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RenderStartupBeat)->Unit(benchmark::kMillisecond);

void BM_RenderSong64(benchmark::State& bench) {
  Song song = oneSlotSong(nullptr, startupTempo, 0);
  for (int slot = 0; slot < slotCount; slot++) {
    std::memcpy(song.bank[slot], slot % 2 ? presetAcells : presetBcells, cellCount);
  }
  for (int k = 0; k < chainMax; k++) {
    song.chain[k] = k % slotCount;
  }
  song.chainLength = chainMax;
  std::vector<Sint16> frames;
  for (auto _ : bench) {
    frames = renderBeat(song, chainMax, kit);
    benchmark::DoNotOptimize(frames.data());
  }
  bench.counters["x_realtime"] =
      benchmark::Counter(beatSeconds(frames), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RenderSong64)->Unit(benchmark::kMillisecond);

void BM_WriteStartupBeat(benchmark::State& bench) {
  std::vector<Sint16> frames = renderBeat(oneSlotSong(presetBcells, startupTempo, 0), bars, kit);
  std::string path = std::string(P_tmpdir) + "/export_bench.wav";
  std::string reason;
  for (auto _ : bench) {
    if (!writeWav(path.c_str(), frames, reason)) {
      bench.SkipWithError(reason.c_str());
      break;
    }
  }
  unlink(path.c_str());
  bench.counters["x_realtime"] =
      benchmark::Counter(beatSeconds(frames), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_WriteStartupBeat)->Unit(benchmark::kMillisecond);

void BM_DecodeKit(benchmark::State& bench) {
  SampleBank decoded = {};
  for (auto _ : bench) {
    bool loaded = loadKit(decoded);
    freeMixerKit(decoded);
    if (!loaded) {
      bench.SkipWithError(Mix_GetError());
      break;
    }
  }
}
BENCHMARK(BM_DecodeKit)->Unit(benchmark::kMillisecond);

void BM_DecodeUserKit(benchmark::State& bench) {
  static SampleBank decoded;
  std::string folder = std::string(assetDir) + "/sounds/kits/marrowby";
  for (auto _ : bench) {
    int status = loadKitFolder(folder.c_str(), decoded);
    freeKit(decoded);
    if (status != 0) {
      bench.SkipWithError("the kit did not load");
      break;
    }
  }
}
BENCHMARK(BM_DecodeUserKit)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  if (SDL_Init(SDL_INIT_AUDIO) < 0 || !openAudio() || !loadKit(kit)) {
    std::fprintf(stderr, "export_bench: %s\n", SDL_GetError());
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  freeMixerKit(kit);
  Mix_CloseAudio();
  SDL_Quit();
  return 0;
}
