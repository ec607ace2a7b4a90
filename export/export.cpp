// The beat put into a sound file: the pattern rendered offline from the mixer's own decoded
// samples, at the exact frame of every step, and written as a 44100 Hz 16-bit stereo WAV.
#include "export.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sysexits.h>

#include "../engine/engine.h"
#include "../files/replace.h"
#include "../patternfile/patternfile.h"
#include "../startup/startup.h"

namespace {

constexpr int channels = audioChannels;
constexpr int bytesPerSample = 2;
constexpr int bytesPerFrame = channels * bytesPerSample;
constexpr int wavHeaderBytes = 44;
// Rendered and written this many frames at a time, so that 999 bars at 20 BPM (2 GB of WAV)
// need no more memory than four bars.
constexpr long long blockFrames = 1 << 16;
// --normalize: the peak at -1 dBFS, of full scale 32767
const double normalPeak = 32767.0 * std::pow(10.0, -1.0 / 20.0);

void putLe(Uint8*& at, Uint32 value, int bytes) {
  for (int b = 0; b < bytes; b++) {
    *at++ = Uint8(value >> (8 * b));
  }
}

void wavHeader(Uint8 (&header)[wavHeaderBytes], Uint32 dataBytes) {
  Uint8* at = header;
  std::memcpy(at, "RIFF", 4);
  at += 4;
  putLe(at, wavHeaderBytes - 8 + dataBytes, 4);
  std::memcpy(at, "WAVEfmt ", 8);
  at += 8;
  putLe(at, 16, 4); // size of the format chunk
  putLe(at, 1, 2);  // integer PCM
  putLe(at, channels, 2);
  putLe(at, audioRate, 4);
  putLe(at, audioRate * bytesPerFrame, 4); // bytes per second
  putLe(at, bytesPerFrame, 2);
  putLe(at, 8 * bytesPerSample, 2);
  std::memcpy(at, "data", 4);
  at += 4;
  putLe(at, dataBytes, 4);
}

// Writes the header and frameCount frames that fill(first, count, out) supplies a block at a
// time into a temporary file beside path, flushes it to disk and renames it over path.
template <typename Fill>
bool writeWavFrom(const char* path, long long frameCount, Fill fill, std::string& reason) {
  long long dataBytes = frameCount * bytesPerFrame;
  if (dataBytes > 0xFFFFFFFFLL - (wavHeaderBytes - 8)) {
    reason = std::strerror(EFBIG);
    return false;
  }
  Replacement file;
  const char* failed = beginReplacement(path, file);
  if (failed == nullptr) {
    Uint8 header[wavHeaderBytes];
    wavHeader(header, Uint32(dataBytes));
    bool ok = writeReplacement(file, header, sizeof header);
    std::vector<Sint16> block(size_t(blockFrames * channels));
    for (long long first = 0; ok && first < frameCount; first += blockFrames) {
      long long count = std::min(blockFrames, frameCount - first);
      fill(first, count, block.data());
      for (long long k = 0; k < count * channels; k++) {
        block[k] = Sint16(SDL_SwapLE16(Uint16(block[k])));
      }
      ok = writeReplacement(file, block.data(), size_t(count) * bytesPerFrame);
    }
    failed = ok ? finishReplacement(file) : abandonReplacement(file);
  }
  if (failed != nullptr) {
    reason = failed;
    return false;
  }
  return true;
}

// The chunks hold what the mixer decoded them to; the file is written as 44100 Hz 16-bit
// stereo, so the mixer must have been opened that way.
bool mixerMatchesFile(std::string& reason) {
  int rate = 0;
  Uint16 format = 0;
  int opened = 0;
  if (Mix_QuerySpec(&rate, &format, &opened) == 0 || rate != audioRate || format != audioFormat ||
      opened != channels) {
    reason = "the mixer is not open at 44100 Hz, 16-bit stereo";
    return false;
  }
  return true;
}

} // namespace

bool writeWav(const char* path, const std::vector<Sint16>& frames, std::string& reason) {
  auto copy = [&frames](long long first, long long count, Sint16* out) {
    std::copy_n(frames.begin() + first * channels, count * channels, out);
  };
  return writeWavFrom(path, (long long)frames.size() / channels, copy, reason);
}

int exportBeat(const char* outPath, int bars, const Song& song, const SampleBank& bank,
               bool normalize) {
  // the engine renders the blocks in order, each from where the last ended
  Engine engine;
  startOffline(engine, song, bars, bank);
  long long length = offlineLength(song, bars, bank);
  auto render = [&engine](long long, long long count, Sint16* out) {
    renderFrames(engine, count, out);
  };
  std::string reason;
  bool written = false;
  double gain = 1.0;
  if (mixerMatchesFile(reason) && !normalize) {
    written = writeWavFrom(outPath, length, render, reason);
  } else if (reason.empty()) {
    // the mix at full scale, twice: once for its peak, once scaled by the one gain
    std::vector<int> sum(size_t(blockFrames * channels));
    long long loudest = 0;
    for (long long first = 0; first < length; first += blockFrames) {
      long long count = std::min(blockFrames, length - first);
      renderFullScale(engine, count, sum.data());
      for (long long k = 0; k < count * channels; k++) {
        loudest = std::max(loudest, std::llabs(sum[k]));
      }
    }
    double scale = loudest > 0 ? normalPeak / double(loudest) : double(mixVolume) / MIX_MAX_VOLUME;
    gain = scale * MIX_MAX_VOLUME / mixVolume;
    startOffline(engine, song, bars, bank);
    auto scaled = [&engine, &sum, scale](long long, long long count, Sint16* out) {
      renderFullScale(engine, count, sum.data());
      for (long long k = 0; k < count * channels; k++) {
        out[k] = Sint16(std::lround(sum[k] * scale));
      }
    };
    written = writeWavFrom(outPath, length, scaled, reason);
    if (loudest == 0) {
      gain = 0.0; // said as silence
    }
  }
  if (!written) {
    tell("%s: %s", outPath, reason.c_str());
    return EX_CANTCREAT;
  }
  std::printf("Wrote %s: %d bars at %s BPM (%.1f s)", outPath, bars, tempoText(song.bpm).c_str(),
              double(length) / audioRate);
  if (normalize && gain > 0.0) {
    std::printf(", peak at -1 dBFS: gain %+.1f dB\n", 20.0 * std::log10(gain));
  } else if (normalize) {
    std::printf(", silent: gain 0.0 dB\n");
  } else {
    std::printf("\n");
  }
  return 0;
}

int runExport(const char* outPath, int bars, const Song& song, const char* assetDir,
              const SampleBank* kit, bool normalize) {
  // no sound card, no sound server: the dummy driver only paces the mixer, which decodes the
  // samples to the opened format exactly as it does live
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  if (SDL_Init(SDL_INIT_AUDIO) < 0) {
    tell("SDL cannot start: %s", SDL_GetError());
    return 1;
  }
  int status = 1;
  if (!openAudio()) {
    tell("the mixer cannot open: %s", Mix_GetError());
  } else {
    if (kit != nullptr) {
      status = exportBeat(outPath, bars, song, *kit, normalize);
    } else {
      SampleBank bank;
      loadSamples(bank, assetDir);
      status = exportBeat(outPath, bars, song, bank, normalize);
      for (Mix_Chunk* chunk : bank.chunk) {
        if (chunk != nullptr) {
          Mix_FreeChunk(chunk);
        }
      }
    }
    Mix_CloseAudio();
  }
  SDL_Quit();
  return status;
}
