// The sequencer against a clock the test drives and the real mixer: the pattern and its presets,
// the transport, the tempo and the step clock, from the first minutes to long after the 32-bit
// tick count has wrapped.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "sequencer/pattern.h"
#include "sequencer/transport.h"

namespace {

using harness::freshMachine;

// The two built-in patterns, one row per track, steps 0..15 left to right.
const char* const presetArows[trackCount] = {
    "0000000000000010", "1010101010101000", "1000001000100110", "0000100000001000",
    "0000000000000001", "1000100100001000", "1000001000100010", "0100000000010000",
    "0000100000000000", "0000001001000000",
};
const char* const presetBrows[trackCount] = {
    "1000100000001000", "0010001010100010", "1000000100010000", "0000100000001000",
    "0000000001001001", "0000000100100010", "0010010010010010", "0000000100010000",
    "0010001010100010", "0000000100100000",
};

char cell(const Pattern& p, int track, int step) {
  return p[track * stepCount + step];
}

// Checks all 160 cells of a pattern against a table of rows.
void expectCells(const Pattern& p, const char* const rows[trackCount], const char* what) {
  for (int t = 0; t < trackCount; t++) {
    for (int c = 0; c < stepCount; c++) {
      EXPECT_EQ(cell(p, t, c), rows[t][c]) << what << ": track " << t << ", step " << c;
    }
  }
}

// Text form: 160 cells of '0' or '1', then the NUL.
void expectWellFormed(const Pattern& p, const std::string& after) {
  static_assert(sizeof(Pattern) == 161, "160 cells and a NUL");
  EXPECT_EQ(p[cellCount], '\0') << after;
  EXPECT_EQ(std::strlen(p), size_t(cellCount)) << after;
  for (int i = 0; i < cellCount; i++) {
    ASSERT_TRUE(p[i] == '0' || p[i] == '1') << after << ": byte " << i << " is " << int(p[i]);
  }
}

std::vector<bool> channelsPlaying() {
  std::vector<bool> on(trackCount);
  for (int ch = 0; ch < trackCount; ch++) {
    on[ch] = Mix_Playing(ch) != 0;
  }
  return on;
}

int countPlaying() {
  int n = 0;
  for (int ch = 0; ch < trackCount; ch++) {
    n += Mix_Playing(ch) != 0;
  }
  return n;
}

// Starts every track's sample on its own channel, as ten simultaneous hits would.
void soundAllTracks(MachineState& s) {
  for (int t = 0; t < trackCount; t++) {
    ASSERT_NE(s.samples.chunk[t], nullptr) << "sample " << t << " did not load";
    Mix_PlayChannel(t, s.samples.chunk[t], 0);
  }
  ASSERT_EQ(countPlaying(), trackCount);
}

// One step that fired while the clock was driven.
struct Fired {
  Uint32 tick;        // the tick of the frame that fired it
  int step;           // the step number it set, 1..16
  float scheduledFor; // nextStepTime just before it fired
  float nextAfter;    // nextStepTime just after
};

// Calls the step clock once per tick, 1 ms apart, for ticks from..from+count-1 (wrapping as the
// tick count does), and lists the steps that fired.
std::vector<Fired> runTicks(MachineState& s, Uint32 from, Uint32 count) {
  std::vector<Fired> fired;
  for (Uint32 i = 0; i < count; i++) {
    Uint32 now = from + i;
    int before = s.step;
    float due = s.nextStepTime;
    advanceClock(s, now);
    if (s.step != before) {
      fired.push_back({now, s.step, due, s.nextStepTime});
    }
  }
  return fired;
}

// Sets the tempo the way the buttons do: coarse steps from wherever it is.
void setTempo(MachineState& s, float bpm) {
  while (s.bpm < bpm) {
    changeTempo(s, tempoUp, false);
  }
  while (s.bpm > bpm) {
    changeTempo(s, tempoDown, false);
  }
  ASSERT_EQ(s.bpm, bpm);
}

class Sequencer : public ::testing::Test {
protected:
  void SetUp() override {
    freshMachine(s, 1000);
    Mix_HaltChannel(-1);
  }
  void TearDown() override {
    Mix_HaltChannel(-1);
  }
  MachineState s;
};

// ---------------------------------------------------------------------------------------------
// Pattern and presets

TEST_F(Sequencer, PresetsMatchTheirTablesCellForCell) {
  expectCells(s.presetA, presetArows, "preset A");
  expectCells(s.presetB, presetBrows, "preset B");
  expectCells(s.pattern, presetBrows, "start-up pattern");
  expectWellFormed(s.presetA, "preset A");
  expectWellFormed(s.presetB, "preset B");
  expectWellFormed(s.pattern, "start-up pattern");
}

TEST_F(Sequencer, LoadingAPresetCopiesItEvenAfterEdits) {
  // Edits go to the pattern only; the presets stay as built.
  for (int t = 0; t < trackCount; t++) {
    toggleCell(s, t, (t * 5) % stepCount);
  }
  setDemoMode(s, 2);
  expectCells(s.pattern, presetArows, "after loading preset A");
  toggleCell(s, 0, 0);
  setDemoMode(s, 3);
  expectCells(s.pattern, presetBrows, "after loading preset B");
  expectCells(s.presetA, presetArows, "preset A after edits");
  expectCells(s.presetB, presetBrows, "preset B after edits");
}

TEST_F(Sequencer, ToggleFlipsExactlyOneCellAndTwiceRestores) {
  for (int mode : {1, 2, 3}) {
    setDemoMode(s, mode);
    for (int t = 0; t < trackCount; t++) {
      for (int c = 0; c < stepCount; c++) {
        Pattern before;
        std::memcpy(before, s.pattern, sizeof before);
        toggleCell(s, t, c);
        for (int i = 0; i < cellCount; i++) {
          char expected = i == t * stepCount + c ? char(before[i] ^ 1) : before[i];
          ASSERT_EQ(s.pattern[i], expected)
              << "mode " << mode << ", toggling (" << t << ", " << c << ") touched byte " << i;
        }
        toggleCell(s, t, c);
        ASSERT_EQ(std::memcmp(s.pattern, before, sizeof before), 0)
            << "toggling (" << t << ", " << c << ") twice did not restore the pattern";
      }
    }
  }
}

TEST_F(Sequencer, EveryOperationKeepsTheTextFormAndItsNul) {
  for (int t = 0; t < trackCount; t++) {
    for (int c = 0; c < stepCount; c++) {
      toggleCell(s, t, c);
    }
  }
  expectWellFormed(s.pattern, "after toggling every cell");
  for (int mode : {1, 2, 3, 0, 4, -1}) {
    setDemoMode(s, mode);
    expectWellFormed(s.pattern, "after mode " + std::to_string(mode));
    toggleCell(s, 9, 15);
    expectWellFormed(s.pattern, "after mode " + std::to_string(mode) + " and a toggle");
  }
  expectWellFormed(s.presetA, "preset A at the end");
  expectWellFormed(s.presetB, "preset B at the end");
}

enum class Expect { cleared, presetA, presetB, unchanged };

struct DemoCase {
  int mode;
  int playing;
  int shuffleBefore;
  Expect pattern;
  int shuffleAfter; // -1: as before
  bool halts;
};

class DemoMode : public Sequencer, public ::testing::WithParamInterface<DemoCase> {};

TEST_P(DemoMode, ChangesPatternShuffleAndMixerAsItsRowSays) {
  const DemoCase& c = GetParam();
  if (c.playing) {
    togglePlay(s, 1000);
    advanceClock(s, 1000);
    runTicks(s, 1001, 500); // a few steps in, so the step and the schedule are not fresh
  }
  s.shuffle = c.shuffleBefore;
  // An edited pattern, so that "unchanged" cannot pass by coincidence with a preset.
  toggleCell(s, 0, 1);
  toggleCell(s, 4, 7);
  toggleCell(s, 9, 15);
  Pattern before;
  std::memcpy(before, s.pattern, sizeof before);
  s.cursorStep = 7;
  s.cursorTrack = 3;
  changeTempo(s, tempoUp, true);
  MachineState was = s;
  soundAllTracks(s);

  setDemoMode(s, c.mode);

  switch (c.pattern) {
  case Expect::cleared:
    for (int i = 0; i < cellCount; i++) {
      ASSERT_EQ(s.pattern[i], '0') << "cell " << i;
    }
    break;
  case Expect::presetA:
    expectCells(s.pattern, presetArows, "pattern");
    break;
  case Expect::presetB:
    expectCells(s.pattern, presetBrows, "pattern");
    break;
  case Expect::unchanged:
    EXPECT_EQ(std::memcmp(s.pattern, before, sizeof before), 0);
    break;
  }
  EXPECT_EQ(s.pattern[cellCount], '\0');
  EXPECT_EQ(s.shuffle, c.shuffleAfter < 0 ? c.shuffleBefore : c.shuffleAfter);
  EXPECT_EQ(countPlaying(), c.halts ? 0 : trackCount);

  // The transport, the tempo and the cursor go on as they were.
  EXPECT_EQ(s.playing, was.playing);
  EXPECT_EQ(s.step, was.step);
  EXPECT_EQ(s.nextStepTime, was.nextStepTime);
  EXPECT_EQ(s.bpm, was.bpm);
  EXPECT_EQ(s.stepInterval, was.stepInterval);
  EXPECT_EQ(s.cursorStep, 7);
  EXPECT_EQ(s.cursorTrack, 3);
  EXPECT_EQ(std::memcmp(s.presetA, was.presetA, sizeof(Pattern)), 0);
  EXPECT_EQ(std::memcmp(s.presetB, was.presetB, sizeof(Pattern)), 0);
}

std::vector<DemoCase> demoCases() {
  std::vector<DemoCase> cases;
  for (int playing : {0, 1}) {
    for (int shuffle : {0, 1}) {
      cases.push_back({1, playing, shuffle, Expect::cleared, 0, playing == 1});
      cases.push_back({2, playing, shuffle, Expect::presetA, 1, false});
      cases.push_back({3, playing, shuffle, Expect::presetB, 0, false});
      for (int other : {0, 4, -1, 99}) {
        cases.push_back({other, playing, shuffle, Expect::unchanged, -1, false});
      }
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(AllRows, DemoMode, ::testing::ValuesIn(demoCases()),
                         [](const ::testing::TestParamInfo<DemoCase>& info) {
                           const DemoCase& c = info.param;
                           std::string mode = c.mode < 0 ? "minus" + std::to_string(-c.mode)
                                                         : std::to_string(c.mode);
                           return "mode" + mode + (c.playing ? "Playing" : "Stopped") +
                                  (c.shuffleBefore ? "ShuffleOn" : "ShuffleOff");
                         });

// ---------------------------------------------------------------------------------------------
// Transport: start and stop

struct StartCase {
  const char* name;
  Uint32 tick;
};

class StartAt : public Sequencer, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartAt, FirstStepPlaysColumnZeroInTheSameFrame) {
  Uint32 t = GetParam().tick;
  freshMachine(s, t);
  togglePlay(s, t);
  EXPECT_EQ(s.playing, 1);
  EXPECT_EQ(s.step, 0);
  EXPECT_EQ(countPlaying(), 0);

  advanceClock(s, t);
  EXPECT_EQ(s.step, 1);
  for (int track = 0; track < trackCount; track++) {
    EXPECT_EQ(Mix_Playing(track) != 0, cell(s.pattern, track, 0) == '1') << "track " << track;
  }

  // Stopped partway through the bar, a new start is back at column 0 at once.
  runTicks(s, t + 1, 700);
  ASSERT_GT(s.step, 2);
  togglePlay(s, t + 701);
  EXPECT_EQ(s.playing, 0);
  EXPECT_EQ(s.step, 0);
  togglePlay(s, t + 702);
  advanceClock(s, t + 702);
  EXPECT_EQ(s.step, 1);
}

TEST_P(StartAt, FirstStepShowsInTheFrameDrawnRightAfterTheStart) {
  Uint32 t = GetParam().tick;
  freshMachine(s, t);
  togglePlay(s, t);
  renderFrame(s, harness::testInputs);
  EXPECT_EQ(s.step, 1);
  renderFrame(s, harness::testInputs);
  EXPECT_EQ(s.step, 1) << "a second frame at the same tick fired another step";
}

INSTANTIATE_TEST_SUITE_P(Ticks, StartAt,
                         ::testing::Values(StartCase{"early", 1000}, StartCase{"zero", 0},
                                           StartCase{"justBelow2pow24", (1u << 24) - 1},
                                           StartCase{"at2pow24", 1u << 24},
                                           StartCase{"at2pow31", 1u << 31},
                                           StartCase{"lastTickBeforeWrap", 0xFFFFFFFFu}),
                         [](const ::testing::TestParamInfo<StartCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(Sequencer, NothingFiresWhileStopped) {
  // The frame runs the clock only while playing.
  for (Uint32 t = 1000; t < 4000; t += 7) {
    harness::clockNow = t;
    renderFrame(s, harness::testInputs);
  }
  EXPECT_EQ(s.step, 0);
  EXPECT_EQ(countPlaying(), 0);
}

// ---------------------------------------------------------------------------------------------
// Step clock timing

TEST_F(Sequencer, SixteenStepsAt94BpmSpanSixteenStepLengths) {
  const double length = 15000.0 / 94.0; // ms per sixteenth
  togglePlay(s, 1000);
  std::vector<Fired> fired = runTicks(s, 1000, 2700);
  ASSERT_EQ(fired.size(), 17u) << "16 steps and the first of the next bar";
  for (size_t k = 0; k < fired.size(); k++) {
    EXPECT_EQ(fired[k].step, int(k % 16) + 1);
    // each step fires in the first 1-ms frame at or after its time on the grid
    double onGrid = 1000.0 + double(k) * length;
    EXPECT_GE(double(fired[k].tick), onGrid - 0.01) << "step " << k + 1 << " early";
    EXPECT_LT(double(fired[k].tick), onGrid + 1.0) << "step " << k + 1 << " late";
  }
  double span = double(fired[16].tick - fired[0].tick);
  EXPECT_NEAR(span, 16.0 * length, 1.0); // 2553.19 ms
}

// Where step k belongs: the start plus the exact sum of the lengths before it (5 : 3 pairs with
// shuffle), from the stored step length.
double placeOnGrid(double start, float stepInterval, int shuffle, size_t k) {
  double length = double(stepInterval);
  if (!shuffle) {
    return start + double(k) * length;
  }
  return start + double(k / 2) * 2.0 * length + (k % 2 == 1 ? 1.25 * length : 0.0);
}

struct GridCase {
  const char* name;
  Uint32 start;
  float bpm;
  int shuffle;
};

class StepGrid : public Sequencer, public ::testing::WithParamInterface<GridCase> {};

// A minute of steps at 1-ms frames: every step fires in the first frame at or after its place on
// the grid, give or take the spacing of the float times, so the tempo holds however long it plays.
// Adding the step length to a time of 10^5 ms and more in single precision rounds the same way at
// every step; without carrying that rounding over, 220 BPM would run 5 ms a minute late from the
// first minutes on, and near 2^24 ms 94 BPM would play whole 160-ms steps.
TEST_P(StepGrid, EveryStepFiresInTheFirstFrameAtOrAfterItsPlace) {
  const GridCase& c = GetParam();
  freshMachine(s, c.start);
  setTempo(s, c.bpm);
  s.shuffle = c.shuffle;
  togglePlay(s, c.start);
  std::vector<Fired> fired = runTicks(s, c.start, 60000);
  ASSERT_GE(fired.size(), size_t(c.bpm * 4.0f) - 1);
  // one spacing of single-precision times at the end of the run, 1/8 ms at 10^6 ms of uptime
  const float last = float(c.start + 60000u);
  const double slack = double(std::nextafter(last, 2.0f * last) - last);
  for (size_t k = 0; k < fired.size(); k++) {
    double place = placeOnGrid(c.start, s.stepInterval, c.shuffle, k);
    ASSERT_EQ(fired[k].step, int(k % 16) + 1);
    ASSERT_GE(double(fired[k].tick), place - slack) << "step " << k + 1 << " early";
    ASSERT_LT(double(fired[k].tick), place + 1.0 + slack) << "step " << k + 1 << " late";
    ASSERT_NEAR(double(fired[k].scheduledFor), place, slack) << "step " << k + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Minute, StepGrid,
    ::testing::Values(GridCase{"at94FromOneSecond", 1000, 94.0f, 0},
                      GridCase{"at220FromOneSecond", 1000, 220.0f, 0},
                      GridCase{"at220FromTwoMinutes", 120000, 220.0f, 0},
                      GridCase{"at94FromAnHour", 3600000, 94.0f, 0},
                      GridCase{"at220ShuffledFromTwoMinutes", 120000, 220.0f, 1},
                      GridCase{"at94ShuffledFromAnHour", 3600000, 94.0f, 1},
                      GridCase{"at137FromTwentyMinutes", 1200000, 137.0f, 0}),
    [](const ::testing::TestParamInfo<GridCase>& info) { return std::string(info.param.name); });

TEST_F(Sequencer, ShuffleAt120BpmSplitsEachPairFiveToThree) {
  setTempo(s, 120.0f);
  ASSERT_EQ(s.stepInterval, 125.0f);
  s.shuffle = 1;
  togglePlay(s, 1000);
  std::vector<Fired> fired = runTicks(s, 1000, 4100);
  ASSERT_EQ(fired.size(), 33u) << "two bars and one step";
  double onGrid = 1000.0;
  for (size_t k = 0; k < fired.size(); k++) {
    const Fired& f = fired[k];
    ASSERT_EQ(f.step, int(k % 16) + 1);
    // after an odd step (on the eighth) 156.25 ms, after an even one 93.75 ms
    float gap = f.step % 2 == 1 ? 156.25f : 93.75f;
    EXPECT_EQ(f.nextAfter - f.scheduledFor, gap) << "after step " << f.step;
    EXPECT_EQ(f.tick, Uint32(std::ceil(onGrid))) << "step " << k + 1;
    onGrid += double(gap);
  }
  // every pair of sixteenths lasts exactly two step lengths
  EXPECT_EQ(fired[2].tick - fired[0].tick, 250u);
  EXPECT_EQ(fired[32].tick - fired[0].tick, 4000u);
}

TEST_F(Sequencer, ShuffleSwitchedMidBarTakesEffectAtTheNextScheduling) {
  setTempo(s, 120.0f);
  togglePlay(s, 1000);
  std::vector<Fired> straight = runTicks(s, 1000, 300); // steps 1, 2, 3 at 1000, 1125, 1250
  ASSERT_EQ(straight.size(), 3u);
  ASSERT_EQ(s.nextStepTime, 1375.0f);
  s.shuffle = 1;
  std::vector<Fired> after = runTicks(s, 1300, 300);
  ASSERT_GE(after.size(), 2u);
  EXPECT_EQ(after[0].tick, 1375u) << "step 4 keeps the time it was given";
  EXPECT_EQ(after[0].nextAfter, 1375.0f + 93.75f) << "step 4 is even: short";
  EXPECT_EQ(after[1].nextAfter, 1375.0f + 93.75f + 156.25f) << "step 5 is odd: long";
}

TEST_F(Sequencer, AfterAStallOneStepPerFrameUntilCaughtUpAndTheGridHolds) {
  togglePlay(s, 1000);
  advanceClock(s, 1000);
  ASSERT_EQ(s.step, 1);
  // Five and a half step lengths without a frame.
  Uint32 late = 1000 + Uint32(5.5 * 15000.0 / 94.0);
  harness::clockNow = late;
  float expected = 1000.0f + s.stepInterval;
  for (int frame = 1; frame <= 5; frame++) {
    ASSERT_EQ(s.nextStepTime, expected);
    renderFrame(s, harness::testInputs);
    EXPECT_EQ(s.step, 1 + frame) << "frame " << frame << " of the catch-up";
    expected += s.stepInterval;
    EXPECT_EQ(s.nextStepTime, expected) << "a later step time moved";
  }
  renderFrame(s, harness::testInputs);
  EXPECT_EQ(s.step, 6) << "caught up: nothing more is due";
  EXPECT_EQ(s.nextStepTime, expected);
  // The next step comes at its place on the original grid.
  std::vector<Fired> fired = runTicks(s, late + 1, 400);
  ASSERT_GE(fired.size(), 1u);
  EXPECT_EQ(fired[0].step, 7);
  EXPECT_EQ(fired[0].tick, Uint32(std::ceil(expected)));
}

// ---------------------------------------------------------------------------------------------
// Tempo

struct TempoCase {
  const char* name;
  float from;
  int direction;
  bool fine;
  float expected;
};

class Tempo : public Sequencer, public ::testing::WithParamInterface<TempoCase> {};

TEST_P(Tempo, StepsAndBounds) {
  const TempoCase& c = GetParam();
  s.bpm = c.from;
  changeTempo(s, c.direction, c.fine);
  EXPECT_EQ(s.bpm, c.expected);
  EXPECT_EQ(s.stepInterval, 15000.0f / c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Tempo,
    ::testing::Values(
        // at the bounds, against the direction of travel held
        TempoCase{"coarseDownFrom20", 20.0f, tempoDown, false, 20.0f},
        TempoCase{"fineDownFrom20", 20.0f, tempoDown, true, 20.0f},
        TempoCase{"coarseUpFrom220", 220.0f, tempoUp, false, 220.0f},
        TempoCase{"fineUpFrom220", 220.0f, tempoUp, true, 220.0f},
        // overshooting a bound from inside
        TempoCase{"coarseDownFrom20_5", 20.5f, tempoDown, false, 20.0f},
        TempoCase{"fineDownFrom20_05", 20.05f, tempoDown, true, 20.0f},
        TempoCase{"coarseUpFrom219_5", 219.5f, tempoUp, false, 220.0f},
        TempoCase{"fineUpFrom219_95", 219.95f, tempoUp, true, 220.0f},
        // just inside a bound, kept as it is
        TempoCase{"fineDownFrom20_6", 20.6f, tempoDown, true, 20.5f},
        TempoCase{"coarseDownFrom21_5", 21.5f, tempoDown, false, 20.5f},
        TempoCase{"fineUpFrom219_8", 219.8f, tempoUp, true, 219.900009f},
        TempoCase{"coarseUpFrom218_5", 218.5f, tempoUp, false, 219.5f},
        // landing on a bound, and leaving one
        TempoCase{"coarseDownFrom21", 21.0f, tempoDown, false, 20.0f},
        TempoCase{"coarseUpFrom219", 219.0f, tempoUp, false, 220.0f},
        TempoCase{"coarseUpFrom20", 20.0f, tempoUp, false, 21.0f},
        TempoCase{"fineUpFrom20", 20.0f, tempoUp, true, 20.1000004f},
        TempoCase{"coarseDownFrom220", 220.0f, tempoDown, false, 219.0f},
        TempoCase{"fineDownFrom220", 220.0f, tempoDown, true, 219.899994f},
        // the stored value of a fine step carries the error of 0.1
        TempoCase{"fineUpFrom94", 94.0f, tempoUp, true, 94.0999985f},
        TempoCase{"fineUpFrom94_1", 94.0999985f, tempoUp, true, 94.1999969f},
        TempoCase{"fineDownFrom100", 100.0f, tempoDown, true, 99.9000015f},
        TempoCase{"coarseUpFrom94", 94.0f, tempoUp, false, 95.0f},
        // only the bound in the direction of travel is applied
        TempoCase{"coarseDownFromAbove220", 250.0f, tempoDown, false, 249.0f},
        TempoCase{"fineDownFromAbove220", 250.0f, tempoDown, true, 249.899994f},
        TempoCase{"coarseUpFromBelow20", 10.0f, tempoUp, false, 11.0f},
        TempoCase{"fineUpFromBelow20", 10.0f, tempoUp, true, 10.1000004f}),
    [](const ::testing::TestParamInfo<TempoCase>& info) { return std::string(info.param.name); });

TEST_F(Sequencer, StepLengthFollowsEveryTempoChange) {
  EXPECT_FLOAT_EQ(s.stepInterval, 159.574463f);
  const struct {
    float bpm;
    float length;
  } lengths[] = {{20.0f, 750.0f}, {120.0f, 125.0f}, {220.0f, 68.1818237f}};
  for (const auto& l : lengths) {
    setTempo(s, l.bpm);
    EXPECT_FLOAT_EQ(s.stepInterval, l.length) << "at " << l.bpm;
  }
  for (int i = 0; i < 50; i++) {
    changeTempo(s, i % 3 == 0 ? tempoUp : tempoDown, i % 2 == 0);
    ASSERT_EQ(s.stepInterval, 15000.0f / s.bpm) << "after change " << i;
  }
}

TEST_F(Sequencer, TempoChangeWhileRunningKeepsTheNextStepTime) {
  togglePlay(s, 1000);
  advanceClock(s, 1000);
  float next = s.nextStepTime;
  ASSERT_EQ(next, 1000.0f + s.stepInterval);
  changeTempo(s, tempoUp, false);
  EXPECT_EQ(s.nextStepTime, next);
  setTempo(s, 120.0f);
  EXPECT_EQ(s.nextStepTime, next);
  changeTempo(s, tempoUp, true);
  EXPECT_EQ(s.nextStepTime, next);
  changeTempo(s, tempoDown, true);
  EXPECT_EQ(s.nextStepTime, next);
  float length = s.stepInterval;
  ASSERT_NE(length, 15000.0f / 94.0f);
  // Step 2 keeps its time; the new length applies from the step after it.
  std::vector<Fired> fired = runTicks(s, 1001, 400);
  ASSERT_GE(fired.size(), 2u);
  EXPECT_EQ(fired[0].tick, Uint32(std::ceil(next)));
  EXPECT_EQ(fired[0].nextAfter, next + length);
  EXPECT_EQ(fired[1].tick, Uint32(std::ceil(next + length)));
}

// ---------------------------------------------------------------------------------------------
// What sounds

// Runs a whole bar; at every step the sounding channels are exactly the column's set cells.
void expectColumnsSound(MachineState& s, Uint32 start, const char* what) {
  togglePlay(s, start);
  int checked = 0;
  for (Uint32 now = start; checked < stepCount; now++) {
    int before = s.step;
    advanceClock(s, now);
    if (s.step == before) {
      continue;
    }
    std::vector<bool> on = channelsPlaying();
    for (int t = 0; t < trackCount; t++) {
      EXPECT_EQ(on[t], cell(s.pattern, t, s.step - 1) == '1')
          << what << ": step " << s.step << ", channel " << t;
    }
    checked++;
    // only this step's hits may be sounding when the next is checked
    Mix_HaltChannel(-1);
  }
  togglePlay(s, start + 3000);
}

TEST_F(Sequencer, EachStepSoundsExactlyTheColumnsSetTracksOnTheirOwnChannels) {
  expectColumnsSound(s, 1000, "preset B");
  setDemoMode(s, 2);
  expectColumnsSound(s, 5000, "preset A");
  // every track on step 1, none on step 2
  setDemoMode(s, 1);
  for (int t = 0; t < trackCount; t++) {
    toggleCell(s, t, 0);
  }
  expectColumnsSound(s, 9000, "full first column");
}

TEST_F(Sequencer, ACellSetInThePlayingColumnSoundsOnlyWhenItComesUpAgain) {
  setDemoMode(s, 1);
  togglePlay(s, 1000);
  advanceClock(s, 1000); // step 1, column 0, nothing set
  toggleCell(s, 3, 0);
  EXPECT_EQ(Mix_Playing(3), 0);
  std::vector<Fired> fired = runTicks(s, 1001, 2600);
  ASSERT_EQ(fired.back().step, 1);
  EXPECT_NE(Mix_Playing(3), 0);
}

TEST_F(Sequencer, StopCutsEverySound) {
  setDemoMode(s, 1);
  for (int t = 0; t < trackCount; t++) {
    toggleCell(s, t, 0);
  }
  togglePlay(s, 1000);
  advanceClock(s, 1000);
  ASSERT_EQ(countPlaying(), trackCount);
  togglePlay(s, 1001);
  EXPECT_EQ(s.playing, 0);
  EXPECT_EQ(countPlaying(), 0);
}

TEST_F(Sequencer, ClearingWhilePlayingCutsEverySoundAndTheEmptyLoopRunsOn) {
  for (int t = 0; t < trackCount; t++) {
    if (cell(s.pattern, t, 0) == '0') {
      toggleCell(s, t, 0);
    }
  }
  togglePlay(s, 1000);
  advanceClock(s, 1000);
  ASSERT_EQ(countPlaying(), trackCount);
  float next = s.nextStepTime;
  setDemoMode(s, 1);
  EXPECT_EQ(countPlaying(), 0);
  EXPECT_EQ(s.playing, 1);
  std::vector<Fired> fired = runTicks(s, 1001, 2600);
  ASSERT_EQ(fired.size(), 16u);
  EXPECT_EQ(fired[0].tick, Uint32(std::ceil(next)));
  EXPECT_EQ(countPlaying(), 0);
}

TEST_F(Sequencer, LoadingAPresetWhilePlayingLetsTheSoundRingOn) {
  togglePlay(s, 1000);
  advanceClock(s, 1000);
  soundAllTracks(s);
  setDemoMode(s, 2);
  EXPECT_EQ(countPlaying(), trackCount);
  setDemoMode(s, 3);
  EXPECT_EQ(countPlaying(), trackCount);
  // clearing a single cell does not cut its hit either
  toggleCell(s, 0, 0);
  EXPECT_EQ(countPlaying(), trackCount);
}

TEST_F(Sequencer, ATrackWithoutASampleStaysSilent) {
  // Tracks 0 and 2 are set in column 0 of preset B; track 2 has no sample.
  ASSERT_EQ(cell(s.pattern, 0, 0), '1');
  ASSERT_EQ(cell(s.pattern, 2, 0), '1');
  s.samples.chunk[2] = nullptr;
  SDL_ClearError();
  togglePlay(s, 1000);
  advanceClock(s, 1000);
  EXPECT_NE(Mix_Playing(0), 0);
  EXPECT_EQ(Mix_Playing(2), 0);
  EXPECT_EQ(std::string(SDL_GetError()).find("NULL"), std::string::npos)
      << "the mixer was handed a missing chunk: " << SDL_GetError();

  // With no samples at all a whole bar plays in silence.
  for (Mix_Chunk*& chunk : s.samples.chunk) {
    chunk = nullptr;
  }
  Mix_HaltChannel(-1);
  for (Uint32 now = 1001; now < 4000; now++) {
    advanceClock(s, now);
    ASSERT_EQ(countPlaying(), 0) << "at tick " << now;
  }
  EXPECT_EQ(std::string(SDL_GetError()).find("NULL"), std::string::npos) << SDL_GetError();
}

// ---------------------------------------------------------------------------------------------
// Long uptime: the step clock's single-precision times near and past 2^24 ms, 2^31 ms and the
// wrap of the 32-bit tick count.

TEST_F(Sequencer, BeforeTwoPow24MsTheClockIsThePlainTickCountAndStepsKeepTheTempo) {
  // Up to here the step times are the tick count itself in single precision, which near 2^24
  // holds whole milliseconds only; the steps still keep 94 BPM on average, 159 and 160 ms apart.
  const Uint32 start = (1u << 24) - 4000;
  freshMachine(s, start);
  togglePlay(s, start);
  std::vector<Uint32> firedTicks;
  for (Uint32 now = start; now < (1u << 24); now++) {
    int before = s.step;
    advanceClock(s, now);
    ASSERT_EQ(s.clockEpoch, 0u) << "at tick " << now;
    if (s.step != before) {
      firedTicks.push_back(now);
    }
  }
  ASSERT_EQ(firedTicks.size(), 26u);
  for (size_t k = 0; k < firedTicks.size(); k++) {
    double place = placeOnGrid(start, s.stepInterval, 0, k);
    EXPECT_GE(double(firedTicks[k]), place - 1.0) << "step " << k + 1;
    EXPECT_LE(double(firedTicks[k]), place + 1.0) << "step " << k + 1;
    if (k > 0) {
      Uint32 gap = firedTicks[k] - firedTicks[k - 1];
      EXPECT_TRUE(gap == 159u || gap == 160u) << "gap " << gap << " before step " << k + 1;
    }
  }
}

struct UptimeCase {
  const char* name;
  Uint32 start;
  float bpm;
  int shuffle;
  Uint32 duration; // ms driven, 1 ms per frame; a gap may differ from its length by 1 ms
};

class LongUptime : public Sequencer, public ::testing::WithParamInterface<UptimeCase> {};

TEST_P(LongUptime, StepsKeepComingAtTheTempo) {
  const UptimeCase& c = GetParam();
  freshMachine(s, c.start);
  setTempo(s, c.bpm);
  s.shuffle = c.shuffle;
  togglePlay(s, c.start);
  std::vector<Fired> fired = runTicks(s, c.start, c.duration);
  const double length = 15000.0 / double(c.bpm);
  const double longGap = c.shuffle ? 1.25 * length : length;  // after an odd step
  const double shortGap = c.shuffle ? 0.75 * length : length; // after an even one

  ASSERT_FALSE(fired.empty());
  EXPECT_EQ(fired[0].tick, c.start);
  // still firing at the end of the run
  EXPECT_LE(double(c.start + c.duration - 1 - fired.back().tick), longGap + 1.0);
  for (size_t k = 1; k < fired.size(); k++) {
    Uint32 gap = fired[k].tick - fired[k - 1].tick; // across the wrap too
    ASSERT_GT(gap, 1u) << "step fired on two frames in a row at tick " << fired[k].tick;
    double expected = fired[k - 1].step % 2 == 1 ? longGap : shortGap;
    ASSERT_LE(std::fabs(double(gap) - expected), 1.0)
        << "gap of " << gap << " ms before step " << k + 1 << " at tick " << fired[k].tick;
    ASSERT_EQ(fired[k].step, fired[k - 1].step % 16 + 1) << "a step was skipped";
  }
}

constexpr Uint32 pow24 = 1u << 24;
constexpr Uint32 pow31 = 1u << 31;
constexpr Uint32 eightBars94 = 21000; // 8 bars at 94 BPM: 20.4 s

// Until the epoch first moves, a time scheduled just past 2^24 ms holds only even milliseconds;
// the rounding carried over keeps every gap within 1 ms of its length there too.
INSTANTIATE_TEST_SUITE_P(
    Ticks, LongUptime,
    ::testing::Values(UptimeCase{"across2pow24at94", pow24 - 3000, 94.0f, 0, eightBars94},
                      UptimeCase{"across2pow24at220", pow24 - 3000, 220.0f, 0, 10000},
                      UptimeCase{"across2pow24at20", pow24 - 3000, 20.0f, 0, 40000},
                      UptimeCase{"across2pow31at94", pow31 - 3000, 94.0f, 0, eightBars94},
                      UptimeCase{"across2pow31at220", pow31 - 3000, 220.0f, 0, 10000},
                      UptimeCase{"acrossWrapAt94", 0u - 3000u, 94.0f, 0, eightBars94},
                      UptimeCase{"acrossWrapAt220", 0u - 3000u, 220.0f, 0, 10000},
                      UptimeCase{"acrossWrapAt20", 0u - 3000u, 20.0f, 0, 40000},
                      UptimeCase{"across2pow24ShuffledAt220", pow24 - 3000, 220.0f, 1, 10000},
                      UptimeCase{"across2pow24ShuffledAt94", pow24 - 3000, 94.0f, 1, eightBars94},
                      UptimeCase{"across2pow24ShuffledAt120", pow24 - 3000, 120.0f, 1, 10000},
                      UptimeCase{"across2pow31ShuffledAt220", pow31 - 3000, 220.0f, 1, 10000},
                      UptimeCase{"acrossWrapShuffledAt220", 0u - 3000u, 220.0f, 1, 10000},
                      UptimeCase{"startedOnTheLastTickAt94", 0xFFFFFFFFu, 94.0f, 0, eightBars94},
                      // playing without a break for longer than 2^24 ms, up to and over the wrap
                      UptimeCase{"playingLongerThan2pow24IntoTheWrap", 0u - pow24 - 5000u, 94.0f, 0,
                                 pow24 + 20000}),
    [](const ::testing::TestParamInfo<UptimeCase>& info) { return std::string(info.param.name); });

TEST_F(Sequencer, StepGridDoesNotDriftAcrossTheWrap) {
  // Started past 2^24 ms the clock counts from the start, so every step lands on its exact
  // place on the shuffled grid, the wrap of the tick count included.
  const Uint32 start = 0u - 3000u;
  freshMachine(s, start);
  setTempo(s, 120.0f);
  s.shuffle = 1;
  togglePlay(s, start);
  std::vector<Fired> fired = runTicks(s, start, 8000);
  ASSERT_EQ(fired.size(), 64u);
  double onGrid = 0.0;
  for (size_t k = 0; k < fired.size(); k++) {
    ASSERT_EQ(fired[k].tick - start, Uint32(std::ceil(onGrid))) << "step " << k + 1;
    onGrid += fired[k].step % 2 == 1 ? 156.25 : 93.75;
  }
}

} // namespace
