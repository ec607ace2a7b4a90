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

// One hit of one track: its frames of the chunk from the start, ended early by the track's next
// hit as one mixer channel per track ends it live.
struct Voice {
  long long start;  // frame of the export
  long long length; // frames
  const Mix_Chunk* chunk;
};

struct Mixdown {
  std::vector<Voice> voices; // in order of start
  long long longest;         // frames of the longest voice
  long long length;          // frames of the export: the bars, or the last voice if it rings on
};

long long chunkFrames(const Mix_Chunk* chunk) {
  return chunk != nullptr ? chunk->alen / bytesPerFrame : 0;
}

Mixdown planMixdown(const char* cells, float bpm, int shuffle, int bars, const SampleBank& bank) {
  long long steps = (long long)bars * stepCount;
  Mixdown mix{{}, 0, stepFrame(steps, bpm, shuffle)};
  long long sounding[trackCount]; // index in voices of each track's last hit, or -1
  std::fill(std::begin(sounding), std::end(sounding), -1);
  for (long long i = 0; i < steps; i++) {
    long long start = stepFrame(i, bpm, shuffle);
    for (int t = 0; t < trackCount; t++) {
      const Mix_Chunk* chunk = bank.chunk[t];
      if (cells[t * stepCount + i % stepCount] != '1' || chunkFrames(chunk) == 0) {
        continue;
      }
      if (sounding[t] >= 0) {
        Voice& cut = mix.voices[sounding[t]];
        cut.length = std::min(cut.length, start - cut.start);
      }
      sounding[t] = (long long)mix.voices.size();
      mix.voices.push_back({start, chunkFrames(chunk), chunk});
    }
  }
  for (const Voice& v : mix.voices) {
    mix.longest = std::max(mix.longest, v.length);
    mix.length = std::max(mix.length, v.start + v.length);
  }
  return mix;
}

// Frames first .. first + count - 1 of the beat into out. The voices are summed at the mixer's
// volume arithmetic and clamped once; sum is scratch space kept between blocks.
void renderBlock(const Mixdown& mix, long long first, long long count, std::vector<int>& sum,
                 Sint16* out) {
  sum.assign(size_t(count * channels), 0);
  // only a voice that started less than the longest voice ago can still sound
  auto v =
      std::upper_bound(mix.voices.begin(), mix.voices.end(), first - mix.longest,
                       [](long long frame, const Voice& voice) { return frame < voice.start; });
  for (; v != mix.voices.end() && v->start < first + count; ++v) {
    long long from = std::max(v->start, first);
    long long to = std::min(v->start + v->length, first + count);
    const Uint8* bytes = v->chunk->abuf + (from - v->start) * bytesPerFrame;
    int* into = sum.data() + (from - first) * channels;
    for (long long k = 0; k < (to - from) * channels; k++) {
      int s = Sint16(Uint16(bytes[2 * k] | bytes[2 * k + 1] << 8));
      into[k] += s * mixVolume / MIX_MAX_VOLUME; // truncated toward zero, as the mixer does
    }
  }
  for (size_t k = 0; k < sum.size(); k++) {
    out[k] = Sint16(std::clamp(sum[k], -32768, 32767));
  }
}

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

long long stepFrame(long long i, float bpm, int shuffle) {
  double d = shuffle && i % 2 == 1 ? 0.25 : 0.0;
  // the numerator first, then the tempo as stored, widened
  return (long long)std::round(double(audioRate) * (double(i) + d) * 15.0 / double(bpm));
}

std::vector<Sint16> renderBeat(const char* cells, float bpm, int shuffle, int bars,
                               const SampleBank& bank) {
  Mixdown mix = planMixdown(cells, bpm, shuffle, bars, bank);
  std::vector<Sint16> frames(size_t(mix.length * channels));
  std::vector<int> sum;
  for (long long first = 0; first < mix.length; first += blockFrames) {
    long long count = std::min(blockFrames, mix.length - first);
    renderBlock(mix, first, count, sum, frames.data() + first * channels);
  }
  return frames;
}

bool writeWav(const char* path, const std::vector<Sint16>& frames, std::string& reason) {
  auto copy = [&frames](long long first, long long count, Sint16* out) {
    std::copy_n(frames.begin() + first * channels, count * channels, out);
  };
  return writeWavFrom(path, (long long)frames.size() / channels, copy, reason);
}

int exportBeat(const char* outPath, int bars, const char* cells, float bpm, int shuffle,
               const SampleBank& bank) {
  Mixdown mix = planMixdown(cells, bpm, shuffle, bars, bank);
  std::vector<int> sum;
  auto render = [&mix, &sum](long long first, long long count, Sint16* out) {
    renderBlock(mix, first, count, sum, out);
  };
  std::string reason;
  if (!mixerMatchesFile(reason) || !writeWavFrom(outPath, mix.length, render, reason)) {
    std::fprintf(stderr, "pocketdrum: %s: %s\n", outPath, reason.c_str());
    return EX_CANTCREAT;
  }
  std::printf("Wrote %s: %d bars at %s BPM (%.1f s)\n", outPath, bars, tempoText(bpm).c_str(),
              double(mix.length) / audioRate);
  return 0;
}

int runExport(const char* outPath, int bars, const char* cells, float bpm, int shuffle,
              const char* assetDir, const SampleBank* kit) {
  // no sound card, no sound server: the dummy driver only paces the mixer, which decodes the
  // samples to the opened format exactly as it does live
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  if (SDL_Init(SDL_INIT_AUDIO) < 0) {
    std::fprintf(stderr, "Couldn't initialize SDL: %s\n", SDL_GetError());
    return 1;
  }
  int status = 1;
  if (!openAudio()) {
    std::fprintf(stderr, "Couldn't open audio: %s\n", Mix_GetError());
  } else {
    if (kit != nullptr) {
      status = exportBeat(outPath, bars, cells, bpm, shuffle, *kit);
    } else {
      SampleBank bank;
      loadSamples(bank, assetDir);
      status = exportBeat(outPath, bars, cells, bpm, shuffle, bank);
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
