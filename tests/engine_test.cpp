// The engine over tempos and shuffle: each step's frame from any anchor, exactly; the same frames
// however the stream is cut into buffers and wherever play starts; a change of tempo or shuffle
// that keeps the step due next where it was and times the rest from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "harness.h"
#include "sequencer/pattern.h"
#include "sequencer/song.h"
#include "sequencer/transport.h"

namespace {

// 44100 * 15 * quarters / (4 * T) frames, halves away from zero, by exact arithmetic on the
// stored float: T = m * 2^(e - 24) with a 24-bit m.
long long exactFrames(long long quarters, float bpm) {
  int e = 0;
  long long m = (long long)std::ldexp(std::frexp(double(bpm), &e), 24);
  __int128 num = (__int128)(44100 * 15) * quarters << (24 - e);
  __int128 den = (__int128)4 * m;
  return (long long)((2 * num + den) / (2 * den));
}

long long quarters(long long k, int shuffle) {
  return 4 * k + (shuffle && k % 2 == 1 ? 1 : 0);
}

const float tempos[] = {20.0f, 94.0f, 94.0999985f, 120.0f, 133.3f, 220.0f};

TEST(EngineSchedule, EveryStepFromItsAnchorExactly) {
  const long long anchors[][2] = {{0, 0}, {5, 1234}, {6, 99}, {37, 7777777}, {1000001, 1LL << 40}};
  for (float bpm : tempos) {
    for (int shuffle : {0, 1}) {
      for (auto [k0, frame0] : anchors) {
        Schedule plan = {bpm, shuffle, k0, frame0};
        for (long long k = k0; k < k0 + 3 * 16 * 50; k++) {
          long long want = frame0 + exactFrames(quarters(k, shuffle) - quarters(k0, shuffle), bpm);
          ASSERT_EQ(frameOfStep(plan, k), want)
              << bpm << " BPM, shuffle " << shuffle << ", anchor " << k0 << ", step " << k;
        }
      }
    }
  }
}

// Where the engine sounds each step: the frame at which lastStep moves on to it.
std::vector<long long> stepsHeard(Engine& e, long long upTo) {
  std::vector<long long> at;
  while (e.frame < upTo) {
    long long before = e.lastStep;
    renderFrames(e, 1, nullptr);
    if (e.lastStep != before) {
      at.push_back(e.frame - 1);
    }
  }
  return at;
}

TEST(EngineSchedule, ARetimedTakeKeepsTheStepDueAndTimesTheRestFromIt) {
  SampleBank none = {};
  for (float bpm : tempos) {
    for (int shuffle : {0, 1}) {
      // to the other end of the range, and shuffle flipped, after an odd and an even step
      for (long long change : {3LL, 8LL}) {
        float next = bpm < 100.0f ? 219.9f : 20.5f;
        Engine e;
        resetEngine(e, none);
        renderFrames(e, 1000, nullptr); // play starts 1000 frames in
        startSteps(e, bpm, shuffle);
        long long changedAt = 1000 + exactFrames(quarters(change, shuffle), bpm);
        std::vector<long long> before = stepsHeard(e, changedAt);
        ASSERT_EQ((long long)before.size(), change) << bpm << " BPM, shuffle " << shuffle;
        for (long long k = 0; k < change; k++) {
          ASSERT_EQ(before[k], 1000 + exactFrames(quarters(k, shuffle), bpm)) << "step " << k;
        }
        retimeSteps(e, next, 1 - shuffle);
        long long end =
            changedAt +
            exactFrames(quarters(change + 40, 1 - shuffle) - quarters(change, 1 - shuffle), next);
        std::vector<long long> after = stepsHeard(e, end + 1);
        ASSERT_EQ((long long)after.size(), 41) << bpm << " BPM, shuffle " << shuffle;
        for (long long k = change; k <= change + 40; k++) {
          long long want =
              changedAt +
              exactFrames(quarters(k, 1 - shuffle) - quarters(change, 1 - shuffle), next);
          ASSERT_EQ(after[k - change], want)
              << bpm << " BPM to " << next << ", shuffle " << shuffle << ", step " << k;
        }
      }
    }
  }
}

TEST(EngineRender, TheSameFramesInAnyBuffersFromAnyStart) {
  SampleBank bank;
  harness::startSdl(&bank);
  const long long buffers[] = {512, 1, 441, 1024, 1025, 65536};
  const long long starts[] = {0, 512 * 83, 19457};
  int n = 0;
  for (float bpm : tempos) {
    for (int shuffle : {0, 1}) {
      const char* cells = shuffle ? presetAcells : presetBcells;
      int bars = bpm < 50.0f ? 1 : 2;
      std::vector<Sint16> exported = renderBeat(oneSlotSong(cells, bpm, shuffle), bars, bank);
      long long barsEnd = stepFrame(16LL * bars, bpm, shuffle);
      long long buffer = buffers[n % 6];
      long long start = starts[n % 3];
      n++;
      // live: play starts after some silence and never ends, so only the bars compare
      Engine e;
      resetEngine(e, bank);
      std::vector<Sint16> take(size_t(2 * (start + barsEnd)));
      renderFrames(e, start, take.data());
      e.song = oneSlotSong(cells, bpm, shuffle);
      startSteps(e, bpm, shuffle);
      for (long long done = start; done < start + barsEnd; done += buffer) {
        renderFrames(e, std::min(buffer, start + barsEnd - done), take.data() + 2 * done);
      }
      for (long long k = 0; k < 2 * start; k++) {
        ASSERT_EQ(take[k], 0) << "silence before play, frame " << k / 2;
      }
      for (long long k = 0; k < 2 * barsEnd; k++) {
        ASSERT_EQ(take[2 * start + k], exported[k])
            << bpm << " BPM, shuffle " << shuffle << ", buffers of " << buffer << ", frame "
            << k / 2;
      }
      // offline, block by block as the export writes: the whole beat, ring included
      Engine offline;
      startOffline(offline, oneSlotSong(cells, bpm, shuffle), bars, bank);
      std::vector<Sint16> blocks(exported.size());
      for (long long done = 0; 2 * done < (long long)blocks.size(); done += buffer * 7) {
        long long count = std::min(buffer * 7, (long long)blocks.size() / 2 - done);
        renderFrames(offline, count, blocks.data() + 2 * done);
      }
      ASSERT_EQ(blocks, exported) << bpm << " BPM, shuffle " << shuffle;
    }
  }
}

TEST(EngineRender, CutVoicesFallSilentAtOnceAndTheNextStepSounds) {
  SampleBank bank;
  harness::startSdl(&bank);
  for (float bpm : {94.0f, 220.0f}) {
    Engine e;
    resetEngine(e, bank);
    e.song = oneSlotSong(presetBcells, bpm, 0);
    startSteps(e, bpm, 0);
    std::vector<Sint16> out(2 * 2000);
    renderFrames(e, 2000, out.data());
    cutVoices(e);
    long long next = stepFrame(1, bpm, 0);
    std::vector<Sint16> after(size_t(2 * (next - 2000 + 1)));
    renderFrames(e, next - 2000 + 1, after.data()); // up to step 1 and its first frame
    EXPECT_EQ(std::count(after.begin(), after.end() - 2, 0), 2 * (next - 2000))
        << bpm << " BPM: sound after the cut";
    EXPECT_EQ(e.lastStep, 1) << bpm << " BPM";
  }
}

} // namespace

// The chain rule and the bar lines in both live paths: each row gives the slots heard bar by
// bar. The engine takes each bar's slot on the exact frame of its first step; the step clock
// sounds it from that step on and shows it on the grid; a change of the current slot made in
// mid-bar (switchAt, a step) waits for the next bar line; a stop shows the current slot again.
struct SongCase {
  const char* what;
  std::vector<int> chain;
  int current;
  long long switchAt; // the step at which the current slot becomes switchTo; -1 for none
  int switchTo;
  const char* heard; // the slot of each bar, 0-based, as digits
};
const SongCase songCases[] = {
    {"no chain: the current slot loops", {}, 4, -1, 0, "44444"},
    {"a chain loops", {0, 2, 2, 1}, 5, -1, 0, "0221022"},
    {"one entry", {7}, 0, -1, 0, "777"},
    {"a switch in mid-bar waits for the bar line", {}, 0, 37, 1, "00011"},
    {"a switch on a bar's last step", {}, 3, 31, 9, "3399"},
    {"a chain ignores the current slot", {1, 2}, 0, 5, 9, "1212"},
};

TEST(EngineSong, EachBarSoundsItsSlotFromTheExactFrameOfItsFirstStep) {
  EXPECT_EQ(slotOfBar(oneSlotSong(nullptr, 94.0f, 0), 123456789), 0);
  SampleBank none = {};
  for (const SongCase& c : songCases) {
    for (float bpm : {61.0f, 133.3f}) {
      for (int shuffle : {0, 1}) {
        Song song = oneSlotSong(nullptr, bpm, shuffle);
        std::copy(c.chain.begin(), c.chain.end(), song.chain);
        song.chainLength = int(c.chain.size());
        song.current = c.current;
        long long bars = (long long)std::strlen(c.heard);
        for (long long b = 0; b < bars && c.switchAt < 0; b++) {
          EXPECT_EQ(slotOfBar(song, b), c.heard[b] - '0') << c.what << ", bar " << b;
        }
        Engine e;
        resetEngine(e, none);
        e.song = song;
        startSteps(e, bpm, shuffle);
        std::string heard;
        while (e.lastStep < bars * stepCount - 1) {
          long long before = e.lastStep;
          if (before + 1 == c.switchAt) {
            e.song.current = c.switchTo; // handed over in mid-bar, as the live engine takes it
          }
          renderFrames(e, 1, nullptr);
          if (e.lastStep != before && e.lastStep % stepCount == 0) {
            heard += char('0' + e.slot);
            ASSERT_EQ(e.frame - 1, exactFrames(quarters(e.lastStep, shuffle), bpm))
                << c.what << ", bar " << e.lastStep / stepCount;
          }
          ASSERT_TRUE(heard.empty() || e.slot == heard.back() - '0') << c.what << ": in mid-bar";
        }
        EXPECT_EQ(heard, c.heard) << c.what << ", " << bpm << " BPM, shuffle " << shuffle;
      }
    }
    // the step clock: slot n holds a hit of track n on step 0 alone, so channel n says it sounded
    MachineState s;
    harness::freshMachine(s, 1000);
    Song song = oneSlotSong(nullptr, 94.0f, 0);
    for (int slot = 0; slot < trackCount; slot++) {
      song.bank[slot][slot * stepCount] = '1';
    }
    std::copy(c.chain.begin(), c.chain.end(), song.chain);
    song.chainLength = int(c.chain.size());
    song.current = c.current;
    putSong(s, song);
    togglePlay(s, 1000);
    std::string heard;
    for (Uint32 now = 1000; heard.size() < std::strlen(c.heard); now++) {
      int before = s.step;
      advanceClock(s, now);
      if (s.step != before && s.step == 1) {
        int channel = 0;
        while (channel < trackCount && Mix_Playing(channel) == 0) {
          channel++;
        }
        heard += char('0' + channel);
        ASSERT_EQ(s.shownSlot, channel) << c.what << ": the grid shows what sounds";
      }
      if (s.step != before && s.bar * stepCount + s.step == c.switchAt) {
        stepSlot(s, c.switchTo - s.currentSlot);
      }
      Mix_HaltChannel(-1);
    }
    EXPECT_EQ(heard, c.heard) << c.what << ", on the step clock";
    togglePlay(s, 90000);
    EXPECT_EQ(s.shownSlot, s.currentSlot) << c.what << ": stopped, the grid shows the current slot";
  }
}
