// The sample-exact engine: the pattern's hits placed on their steps' frames by the schedule and
// mixed into frames as the mixer mixes its channels.
#include "engine.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "audio.h"

namespace {

constexpr int bytesPerFrame = audioChannels * 2;
// Mixed this many frames at a time into a sum on the stack: the callback never allocates.
constexpr long long pieceFrames = 1024;

long long chunkFrames(const Mix_Chunk* chunk) {
  return chunk != nullptr ? chunk->alen / bytesPerFrame : 0;
}

// Starts the hits of step k's column; each cuts its track's last hit. A bar's slot is taken at
// its first step, so that a change of slot or chain made in mid-bar waits for the bar line.
void soundStep(Engine& e, long long k) {
  int column = int(k % stepCount);
  e.slot = slotOfStep(e.song, k, e.slot);
  const char* cells = e.song.bank[e.slot];
  for (int t = 0; t < trackCount; t++) {
    const Mix_Chunk* chunk = e.bank->chunk[t];
    if (cells[t * stepCount + column] == '1' && chunkFrames(chunk) > 0) {
      e.voice[t] = {chunk, 0};
    }
  }
  e.lastStep = k;
}

bool stepsDue(const Engine& e) {
  return e.playing == 1 && e.nextStep < e.endStep;
}

// Adds count frames of every voice, from where each has got to, into sum, at volume (of 128).
void mixVoices(Engine& e, long long count, int* sum, int volume) {
  for (Voice& v : e.voice) {
    if (v.chunk == nullptr) {
      continue;
    }
    long long frames = std::min(count, chunkFrames(v.chunk) - v.played);
    const Uint8* bytes = v.chunk->abuf + v.played * bytesPerFrame;
    for (long long k = 0; k < frames * audioChannels; k++) {
      int s = Sint16(Uint16(bytes[2 * k] | bytes[2 * k + 1] << 8));
      sum[k] += s * volume / MIX_MAX_VOLUME; // truncated toward zero, as the mixer does
    }
    v.played += frames;
    if (v.played >= chunkFrames(v.chunk)) {
      v.chunk = nullptr;
    }
  }
}

// One piece: the steps due inside it start on their frames, between them the voices play on.
// Into out at the mixer's volume and clamped, or with fullScale given, into it at the samples'
// own level and unclamped.
void renderPiece(Engine& e, long long count, Sint16* out, int* fullScale = nullptr) {
  int mixed[pieceFrames * audioChannels];
  int* sum = fullScale != nullptr ? fullScale : mixed;
  int volume = fullScale != nullptr ? MIX_MAX_VOLUME : mixVolume;
  bool heard = out != nullptr || fullScale != nullptr;
  if (heard) {
    std::fill(sum, sum + count * audioChannels, 0);
  }
  long long done = 0;
  while (done < count) {
    while (stepsDue(e) && frameOfStep(e.plan, e.nextStep) <= e.frame) {
      soundStep(e, e.nextStep);
      e.nextStep++;
    }
    long long until = count;
    if (stepsDue(e)) {
      until = std::min(count, done + frameOfStep(e.plan, e.nextStep) - e.frame);
    }
    if (heard) {
      mixVoices(e, until - done, sum + done * audioChannels, volume);
    }
    e.frame += until - done;
    done = until;
  }
  if (out != nullptr && fullScale == nullptr) {
    for (long long k = 0; k < count * audioChannels; k++) {
      out[k] = Sint16(std::clamp(sum[k], -32768, 32767));
    }
  }
}

} // namespace

void resetEngine(Engine& e, const SampleBank& bank) {
  e.bank = &bank;
  e.song = oneSlotSong(nullptr, 94.0f, 0);
  e.slot = 0;
  e.plan = {94.0f, 0, 0, 0};
  e.playing = 0;
  e.nextStep = 0;
  e.endStep = LLONG_MAX;
  e.lastStep = -1;
  e.frame = 0;
  cutVoices(e);
}

void startSteps(Engine& e, float bpm, int shuffle) {
  e.plan = {bpm, shuffle, 0, e.frame};
  e.playing = 1;
  e.nextStep = 0;
  e.lastStep = -1;
}

void retimeSteps(Engine& e, float bpm, int shuffle) {
  e.plan = retimed(e.plan, e.nextStep, bpm, shuffle);
}

void cutVoices(Engine& e) {
  for (Voice& v : e.voice) {
    v = {nullptr, 0};
  }
}

void renderFrames(Engine& e, long long count, Sint16* out) {
  for (long long done = 0; done < count; done += pieceFrames) {
    long long piece = std::min(pieceFrames, count - done);
    renderPiece(e, piece, out != nullptr ? out + done * audioChannels : nullptr);
  }
}

void renderFullScale(Engine& e, long long count, int* sum) {
  for (long long done = 0; done < count; done += pieceFrames) {
    long long piece = std::min(pieceFrames, count - done);
    renderPiece(e, piece, nullptr, sum + done * audioChannels);
  }
}

long long offlineLength(const Song& song, int bars, const SampleBank& bank) {
  long long steps = (long long)bars * stepCount;
  long long length = stepFrame(steps, song.bpm, song.shuffle);
  // every earlier hit of a track is cut by a later one, so its last hit ends last
  for (int t = 0; t < trackCount; t++) {
    long long frames = chunkFrames(bank.chunk[t]);
    for (long long i = steps - 1; i >= 0 && frames > 0; i--) {
      if (cellsOfStep(song, i)[t * stepCount + i % stepCount] == '1') {
        length = std::max(length, stepFrame(i, song.bpm, song.shuffle) + frames);
        break;
      }
    }
  }
  return length;
}

void startOffline(Engine& e, const Song& song, int bars, const SampleBank& bank) {
  resetEngine(e, bank);
  e.song = song;
  startSteps(e, song.bpm, song.shuffle);
  e.endStep = (long long)bars * stepCount;
}

std::vector<Sint16> renderBeat(const Song& song, int bars, const SampleBank& bank) {
  Engine e;
  startOffline(e, song, bars, bank);
  std::vector<Sint16> frames(size_t(offlineLength(song, bars, bank) * audioChannels));
  renderFrames(e, (long long)frames.size() / audioChannels, frames.data());
  return frames;
}
