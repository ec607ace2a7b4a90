// The button handlers, the SELECT modifier, edit mode and the held-button repeats, with the clock
// and the held buttons driven by the test.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "controls/buttons.h"
#include "controls/repeat.h"
#include "harness.h"
#include "sequencer/pattern.h"

namespace {

using harness::copyOf;
using harness::expectSameState;
using harness::traceOf;

using harness::clockNow;
using harness::held;
using harness::testInputs;

constexpr Uint32 startTick = 5000;

void press(MachineState& s, int button) {
  held[button] = true;
  handleButtonDown(s, button, testInputs);
}

void release(MachineState& s, int button) {
  held[button] = false;
  handleButtonUp(s, button);
}

void tapSelect(MachineState& s) {
  press(s, buttonSelect);
  release(s, buttonSelect);
}

std::string clearPattern() {
  return std::string(cellCount, '0');
}

char cellAt(const MachineState& s, int track, int step) {
  return s.pattern[track * stepCount + step];
}

class Controls : public ::testing::Test {
protected:
  void SetUp() override {
    harness::freshMachine(s, startTick);
  }
  void TearDown() override {
    harness::releaseAll();
    Mix_HaltChannel(-1);
  }
  void enterEditMode() {
    tapSelect(s);
    ASSERT_EQ(1, s.editMode);
  }
  MachineState s;
};

// ---- SELECT: tap versus modifier ----

TEST_F(Controls, SelectTapTogglesEditModeAndFlashesTheCursor) {
  for (int expected : {1, 0, 1}) {
    s.glow = 150;
    s.glowDelta = 10;
    std::string trace = traceOf([&] { tapSelect(s); });
    EXPECT_EQ(expected, s.editMode);
    EXPECT_EQ(230, s.glow);
    EXPECT_EQ(-10, s.glowDelta);
    EXPECT_EQ("", trace);
  }
}

TEST_F(Controls, SelectUsedAsAModifierDoesNotToggleEditMode) {
  for (int modifier : {int(buttonB), int(buttonL), int(buttonR)}) {
    SCOPED_TRACE(modifier);
    harness::freshMachine(s, startTick);
    press(s, buttonSelect);
    press(s, modifier);
    release(s, modifier);
    release(s, buttonSelect);
    EXPECT_EQ(0, s.editMode);
    EXPECT_EQ(1, s.selectUsed);
    EXPECT_EQ(90, s.glow); // no flash
    EXPECT_EQ(10, s.glowDelta);
    // the next SELECT hold starts unused: a plain tap toggles again
    tapSelect(s);
    EXPECT_EQ(1, s.editMode);
  }
}

TEST_F(Controls, SelectHeldThroughOtherButtonsStillTogglesOnRelease) {
  const int others[] = {buttonA,    buttonX,     buttonStart, buttonY,
                        buttonLeft, buttonRight, buttonUp,    buttonDown};
  for (int other : others) {
    SCOPED_TRACE(other);
    harness::freshMachine(s, startTick);
    enterEditMode(); // so that Y and the directions act as well
    press(s, buttonSelect);
    press(s, other);
    release(s, other);
    release(s, buttonSelect);
    EXPECT_EQ(0, s.editMode);
    EXPECT_EQ(0, s.selectUsed);
  }
}

// ---- SELECT + B: the preset cycle ----

TEST_F(Controls, PresetCycleWithinOneSelectHold) {
  struct Loaded {
    std::string pattern;
    int shuffle;
  };
  const Loaded clear = {clearPattern(), 0};
  const Loaded presetA = {presetAcells, 1};
  const Loaded presetB = {presetBcells, 0};
  const Loaded afterPresses[] = {clear, presetA, presetB, clear, presetA, presetB};

  for (size_t count = 1; count <= std::size(afterPresses); count++) {
    SCOPED_TRACE(count);
    harness::freshMachine(s, startTick);
    // start from a hand-edited pattern with shuffle on, so that nothing matches by chance
    toggleCell(s, 3, 3);
    s.shuffle = 1;
    press(s, buttonSelect);
    std::string trace = traceOf([&] {
      for (size_t i = 0; i < count; i++) {
        press(s, buttonB);
        release(s, buttonB);
      }
    });
    EXPECT_EQ(afterPresses[count - 1].pattern, std::string(s.pattern));
    EXPECT_EQ(afterPresses[count - 1].shuffle, s.shuffle);
    EXPECT_EQ("", trace);
    release(s, buttonSelect);
    EXPECT_EQ(0, s.editMode);
  }
}

TEST_F(Controls, FirstBOfEverySelectHoldClears) {
  for (int earlierPresses = 0; earlierPresses <= 4; earlierPresses++) {
    SCOPED_TRACE(earlierPresses);
    harness::freshMachine(s, startTick);
    press(s, buttonSelect);
    for (int i = 0; i < earlierPresses; i++) {
      press(s, buttonB);
      release(s, buttonB);
    }
    release(s, buttonSelect);
    s.shuffle = 1;
    press(s, buttonSelect);
    press(s, buttonB);
    EXPECT_EQ(clearPattern(), std::string(s.pattern));
    EXPECT_EQ(0, s.shuffle);
  }
}

TEST_F(Controls, BWithoutSelectOnlyMarksSelectUsed) {
  toggleCell(s, 2, 7);
  s.shuffle = 1;
  s.playing = 1;
  MachineState expected = copyOf(s);
  expected.selectUsed = 1;
  std::string trace = traceOf([&] {
    press(s, buttonB);
    release(s, buttonB);
  });
  expectSameState(expected, s);
  EXPECT_EQ("", trace);
}

// ---- the cursor ----

TEST_F(Controls, DirectionPressMovesTheCursorWrapsAndFlashes) {
  struct Case {
    int button;
    int fromStep, fromTrack;
    int toStep, toTrack;
    const char* trace;
  };
  const Case cases[] = {
      {buttonLeft, 0, 4, 15, 4, "cursor left\n"},   {buttonLeft, 7, 4, 6, 4, "cursor left\n"},
      {buttonRight, 15, 4, 0, 4, "cursor right\n"}, {buttonRight, 7, 4, 8, 4, "cursor right\n"},
      {buttonUp, 7, 0, 7, 9, "cursor up\n"},        {buttonUp, 7, 5, 7, 4, "cursor up\n"},
      {buttonDown, 7, 9, 7, 0, "cursor down\n"},    {buttonDown, 7, 5, 7, 6, "cursor down\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.trace);
    SCOPED_TRACE(c.fromStep * 100 + c.fromTrack);
    harness::freshMachine(s, startTick);
    enterEditMode();
    s.cursorStep = c.fromStep;
    s.cursorTrack = c.fromTrack;
    s.glow = 150;
    s.glowDelta = 10;
    clockNow = startTick + 123;
    std::string trace = traceOf([&] { press(s, c.button); });
    EXPECT_EQ(c.toStep, s.cursorStep);
    EXPECT_EQ(c.toTrack, s.cursorTrack);
    EXPECT_EQ(1, s.cursorHeld);
    EXPECT_EQ(startTick + 123 + 750, s.cursorRepeatAt);
    EXPECT_EQ(230, s.glow);
    EXPECT_EQ(-10, s.glowDelta);
    EXPECT_EQ(c.trace, trace);
    EXPECT_EQ(std::string(presetBcells), std::string(s.pattern));
  }
}

TEST_F(Controls, YTogglesTheCellUnderTheCursorAndFlashes) {
  enterEditMode();
  s.cursorStep = 5;
  s.cursorTrack = 3;
  std::string expected = presetBcells;
  expected[3 * stepCount + 5] = '1';
  ASSERT_EQ('0', cellAt(s, 3, 5));

  s.glow = 150;
  std::string trace = traceOf([&] {
    press(s, buttonY);
    release(s, buttonY);
  });
  EXPECT_EQ(expected, std::string(s.pattern));
  EXPECT_EQ(230, s.glow);
  EXPECT_EQ(-10, s.glowDelta);
  EXPECT_EQ(0, s.cursorHeld); // Y arms no repeat of its own
  EXPECT_EQ("", trace);

  press(s, buttonY);
  release(s, buttonY);
  EXPECT_EQ(std::string(presetBcells), std::string(s.pattern));
}

TEST_F(Controls, OutsideEditModeDirectionsAndYDoNothing) {
  s.cursorStep = 0;
  s.cursorTrack = 0;
  for (int button :
       {int(buttonUp), int(buttonLeft), int(buttonDown), int(buttonRight), int(buttonY)}) {
    SCOPED_TRACE(button);
    MachineState before = copyOf(s);
    std::string trace = traceOf([&] { press(s, button); });
    expectSameState(before, s);
    EXPECT_EQ("", trace);
    held[button] = false;
  }
}

TEST_F(Controls, DirectionReleaseEndsTheHoldInEitherMode) {
  for (int button : {int(buttonUp), int(buttonLeft), int(buttonDown), int(buttonRight)}) {
    for (int editModeAtRelease : {1, 0}) {
      SCOPED_TRACE(button * 10 + editModeAtRelease);
      harness::freshMachine(s, startTick);
      enterEditMode();
      press(s, button);
      ASSERT_EQ(1, s.cursorHeld);
      if (editModeAtRelease == 0) {
        tapSelect(s);
      }
      std::string trace = traceOf([&] { release(s, button); });
      EXPECT_EQ("stick centred\n", trace);
      EXPECT_EQ(0, s.cursorHeld);

      // and the hidden cursor stays where it is however long the clock runs
      int step = s.cursorStep;
      int track = s.cursorTrack;
      for (int ms = 0; ms < 1000; ms++) {
        clockNow++;
        autoRepeat(s, testInputs);
      }
      EXPECT_EQ(step, s.cursorStep);
      EXPECT_EQ(track, s.cursorTrack);
    }
  }
}

TEST_F(Controls, DirectionReleaseWithoutAPressStillTraces) {
  for (int button : {int(buttonUp), int(buttonLeft), int(buttonDown), int(buttonRight)}) {
    SCOPED_TRACE(button);
    EXPECT_EQ("stick centred\n", traceOf([&] { handleButtonUp(s, button); }));
    EXPECT_EQ(0, s.cursorHeld);
  }
}

// ---- tempo ----

TEST_F(Controls, TempoPressIsFineWithSelectAndCoarseWithout) {
  struct Case {
    int button;
    bool select;
    float bpm;
    const char* trace;
  };
  const Case cases[] = {
      {buttonL, true, 93.9f, "button BPM down\n"},
      {buttonL, false, 93.0f, "button BPM down\n"},
      {buttonR, true, 94.1f, "button BPM up\n"},
      {buttonR, false, 95.0f, "button BPM up\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.trace);
    SCOPED_TRACE(c.select);
    harness::freshMachine(s, startTick);
    if (c.select) {
      press(s, buttonSelect);
    }
    clockNow = startTick + 40;
    std::string trace = traceOf([&] { press(s, c.button); });
    EXPECT_FLOAT_EQ(c.bpm, s.bpm);
    EXPECT_FLOAT_EQ(15000.0f / c.bpm, s.stepInterval);
    EXPECT_EQ(1, s.bpmHeld);
    EXPECT_EQ(startTick + 40 + 750, s.bpmRepeatAt);
    EXPECT_EQ(c.select ? 1 : 0, s.selectUsed);
    EXPECT_EQ(c.trace, trace);

    trace = traceOf([&] { release(s, c.button); });
    EXPECT_EQ(0, s.bpmHeld);
    EXPECT_EQ("joy button up\n", trace);
    if (c.select) {
      release(s, buttonSelect);
      EXPECT_EQ(0, s.editMode);
    }
  }
}

// ---- transport and shuffle ----

TEST_F(Controls, AStartsAndStopsAndXTogglesShuffleInEitherMode) {
  for (int editMode : {0, 1}) {
    SCOPED_TRACE(editMode);
    harness::freshMachine(s, startTick);
    s.editMode = editMode;
    for (int expected : {1, 0, 1}) {
      clockNow += 500;
      press(s, buttonA);
      release(s, buttonA);
      EXPECT_EQ(expected, s.playing);
      EXPECT_EQ(0, s.step);
      EXPECT_EQ(float(clockNow), s.nextStepTime);
      press(s, buttonX);
      release(s, buttonX);
      EXPECT_EQ(expected, s.shuffle);
    }
  }
}

// ---- START, the silent buttons and the ignored ones ----

TEST_F(Controls, StartQuitsInEitherMode) {
  for (int editMode : {0, 1}) {
    SCOPED_TRACE(editMode);
    harness::freshMachine(s, startTick);
    s.editMode = editMode;
    MachineState expected = copyOf(s);
    expected.quit = 1;
    std::string trace = traceOf([&] { press(s, buttonStart); });
    expectSameState(expected, s);
    EXPECT_EQ("", trace);
  }
}

TEST_F(Controls, OnlyTempoButtonsDirectionsAndTheirReleasesTrace) {
  for (int button = 0; button < 16; button++) {
    SCOPED_TRACE(button);
    harness::freshMachine(s, startTick);
    enterEditMode();
    std::string expected;
    switch (button) {
    case buttonUp:
      expected = "cursor up\nstick centred\n";
      break;
    case buttonLeft:
      expected = "cursor left\nstick centred\n";
      break;
    case buttonDown:
      expected = "cursor down\nstick centred\n";
      break;
    case buttonRight:
      expected = "cursor right\nstick centred\n";
      break;
    case buttonL:
      expected = "button BPM down\njoy button up\n";
      break;
    case buttonR:
      expected = "button BPM up\njoy button up\n";
      break;
    default:
      break;
    }
    EXPECT_EQ(expected, traceOf([&] {
                press(s, button);
                release(s, button);
              }));
  }
}

TEST_F(Controls, DiagonalsAndHighIndicesDoNothing) {
  for (int editMode : {0, 1}) {
    for (int button : {1, 3, 5, 7, 16, 17, 20, 31, 255}) {
      SCOPED_TRACE(button * 10 + editMode);
      harness::freshMachine(s, startTick);
      s.editMode = editMode;
      MachineState before = copyOf(s);
      std::string trace = traceOf([&] {
        handleButtonDown(s, button, testInputs);
        handleButtonUp(s, button);
      });
      expectSameState(before, s);
      EXPECT_EQ("", trace);
    }
  }
}

// ---- held-button auto-repeat ----

// Runs one frame per ms, the way the main loop calls the repeats, from the clock's present tick
// up to origin + until; watch(ms since origin) is called after every frame.
template <typename Watch>
void framesUntil(MachineState& s, Uint32 origin, Uint32 until, Watch watch) {
  while (Uint32(clockNow - origin) < until) {
    clockNow++;
    autoRepeat(s, testInputs);
    watch(Uint32(clockNow - origin));
  }
}

void framesUntil(MachineState& s, Uint32 origin, Uint32 until) {
  framesUntil(s, origin, until, [](Uint32) {});
}

// Each change of a watched value, with the ms (since the origin) of the frame that made it.
template <typename T> struct ChangeLog {
  T last;
  std::vector<std::pair<Uint32, T>> changes;
  void see(Uint32 ms, T now) {
    if (now != last) {
      changes.push_back({ms, now});
      last = now;
    }
  }
};

// The ticks at which the cursor was flashed: glow is knocked off 230 after every frame.
struct FlashLog {
  explicit FlashLog(MachineState& s) {
    s.glow = 0; // the flash of the press itself is not a repeat
  }
  std::vector<Uint32> at;
  void see(Uint32 ms, MachineState& s) {
    if (s.glow == 230) {
      at.push_back(ms);
    }
    s.glow = 0;
  }
};

using Repeat = Controls;

TEST_F(Repeat, HeldRStepsUpOncePer100msAfter750msUpToTheCeiling) {
  press(s, buttonR);
  ASSERT_EQ(95.0f, s.bpm);
  ChangeLog<float> bpm{s.bpm, {}};
  std::string trace =
      traceOf([&] { framesUntil(s, startTick, 15000, [&](Uint32 ms) { bpm.see(ms, s.bpm); }); });

  std::vector<std::pair<Uint32, float>> expected;
  for (int value = 96; value <= 220; value++) {
    expected.push_back({750 + 100 * Uint32(value - 96), float(value)});
  }
  EXPECT_EQ(expected, bpm.changes);
  EXPECT_FLOAT_EQ(15000.0f / 220.0f, s.stepInterval);
  EXPECT_EQ("", trace); // repeats write no trace
}

TEST_F(Repeat, SelectPressedDuringAHeldTempoMakesTheRepeatsFine) {
  press(s, buttonR);
  ChangeLog<float> bpm{s.bpm, {}};
  auto watch = [&](Uint32 ms) { bpm.see(ms, s.bpm); };
  framesUntil(s, startTick, 800, watch);
  press(s, buttonSelect);
  framesUntil(s, startTick, 1000, watch);
  EXPECT_EQ(0, s.selectUsed); // a repeat does not mark SELECT as used
  release(s, buttonSelect);
  EXPECT_EQ(1, s.editMode);
  framesUntil(s, startTick, 1100, watch);

  const std::pair<Uint32, float> expected[] = {
      {750, 96.0f}, {850, 96.1f}, {950, 96.2f}, {1050, 97.2f}};
  ASSERT_EQ(std::size(expected), bpm.changes.size());
  for (size_t i = 0; i < std::size(expected); i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(expected[i].first, bpm.changes[i].first);
    EXPECT_FLOAT_EQ(expected[i].second, bpm.changes[i].second);
  }
}

TEST_F(Repeat, HeldLeftWalksLeftAndWraps) {
  enterEditMode();
  s.cursorStep = 3;
  press(s, buttonLeft);
  ASSERT_EQ(2, s.cursorStep);
  ChangeLog<int> step{s.cursorStep, {}};
  FlashLog flashes(s);
  std::string trace = traceOf([&] {
    framesUntil(s, startTick, 1099, [&](Uint32 ms) {
      step.see(ms, s.cursorStep);
      flashes.see(ms, s);
    });
  });
  const std::vector<std::pair<Uint32, int>> expected = {{750, 1}, {850, 0}, {950, 15}, {1050, 14}};
  EXPECT_EQ(expected, step.changes);
  EXPECT_EQ((std::vector<Uint32>{750, 850, 950, 1050}), flashes.at);
  EXPECT_EQ(0, s.cursorTrack);
  EXPECT_EQ("", trace);
  EXPECT_EQ(0, s.selectUsed);
}

TEST_F(Repeat, HoldingYWithADirectionPaintsEveryCellPassed) {
  enterEditMode();
  s.cursorTrack = 0; // preset B's row 0 is 1000100000001000
  s.cursorStep = 2;
  press(s, buttonRight);
  ASSERT_EQ(3, s.cursorStep);
  std::string row = std::string(presetBcells).substr(0, stepCount);

  framesUntil(s, startTick, 300);
  press(s, buttonY);
  row[3] ^= 1;
  EXPECT_EQ(row, std::string(s.pattern).substr(0, stepCount));

  struct Seen {
    int step;
    std::string row;
    bool operator!=(const Seen& o) const {
      return step != o.step || row != o.row;
    }
    bool operator==(const Seen& o) const {
      return !(*this != o);
    }
  };
  auto seen = [&] { return Seen{s.cursorStep, std::string(s.pattern).substr(0, stepCount)}; };
  ChangeLog<Seen> log{seen(), {}};
  framesUntil(s, startTick, 1299, [&](Uint32 ms) { log.see(ms, seen()); });

  // each repeat toggles the cell under the cursor first, then moves on: cell 3 twice in all
  std::vector<std::pair<Uint32, Seen>> expected;
  for (int i = 0; i < 6; i++) {
    row[3 + i] ^= 1;
    expected.push_back({750 + 100 * Uint32(i), Seen{4 + i, row}});
  }
  ASSERT_EQ(expected.size(), log.changes.size());
  for (size_t i = 0; i < expected.size(); i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(expected[i].first, log.changes[i].first);
    EXPECT_EQ(expected[i].second.step, log.changes[i].second.step);
    EXPECT_EQ(expected[i].second.row, log.changes[i].second.row);
  }
  EXPECT_EQ(std::string(presetBcells).substr(stepCount), std::string(s.pattern).substr(stepCount));
}

TEST_F(Repeat, LeftAndRightHeldTogetherKeepTheColumn) {
  enterEditMode();
  s.cursorStep = 7;
  press(s, buttonLeft);
  clockNow = startTick + 10;
  press(s, buttonRight);
  ASSERT_EQ(7, s.cursorStep);
  ChangeLog<int> step{s.cursorStep, {}};
  FlashLog flashes(s);
  framesUntil(s, startTick, 1200, [&](Uint32 ms) {
    step.see(ms, s.cursorStep);
    flashes.see(ms, s);
  });
  EXPECT_TRUE(step.changes.empty());
  EXPECT_EQ(0, s.cursorTrack);
  // the repeats did run
  EXPECT_EQ((std::vector<Uint32>{760, 860, 960, 1060, 1160}), flashes.at);
}

TEST_F(Repeat, AHeldDirectionGoesOnMovingTheCursorAfterEditModeIsSwitchedOff) {
  enterEditMode();
  s.cursorStep = 4;
  press(s, buttonRight);
  clockNow = startTick + 200;
  tapSelect(s);
  ASSERT_EQ(0, s.editMode);
  ChangeLog<int> step{s.cursorStep, {}};
  auto watch = [&](Uint32 ms) { step.see(ms, s.cursorStep); };
  framesUntil(s, startTick, 900, watch);
  release(s, buttonRight);
  framesUntil(s, startTick, 2000, watch);
  const std::vector<std::pair<Uint32, int>> expected = {{750, 6}, {850, 7}};
  EXPECT_EQ(expected, step.changes);
}

TEST_F(Repeat, LAndRHeldTogetherOnlyLRepeatsUntilEitherIsReleased) {
  for (int released : {int(buttonL), int(buttonR)}) {
    SCOPED_TRACE(released);
    harness::freshMachine(s, startTick);
    press(s, buttonL);
    press(s, buttonR);
    ASSERT_EQ(94.0f, s.bpm);
    ChangeLog<float> bpm{s.bpm, {}};
    auto watch = [&](Uint32 ms) { bpm.see(ms, s.bpm); };
    framesUntil(s, startTick, 1000, watch);
    release(s, released);
    framesUntil(s, startTick, 2500, watch);
    const std::vector<std::pair<Uint32, float>> expected = {
        {750, 93.0f}, {850, 92.0f}, {950, 91.0f}};
    EXPECT_EQ(expected, bpm.changes);
  }
}

TEST_F(Repeat, ReleasingOneDirectionEndsTheRepeatWhileAnotherIsHeld) {
  enterEditMode();
  s.cursorStep = 5;
  s.cursorTrack = 5;
  press(s, buttonRight);
  press(s, buttonDown);
  clockNow = startTick + 100;
  release(s, buttonRight);
  ASSERT_TRUE(held[buttonDown]);
  FlashLog flashes(s);
  framesUntil(s, startTick, 2000, [&](Uint32 ms) { flashes.see(ms, s); });
  EXPECT_EQ(6, s.cursorStep);
  EXPECT_EQ(6, s.cursorTrack);
  EXPECT_TRUE(flashes.at.empty());
}

TEST_F(Repeat, DeadlinesHoldAcrossTheTickCountWrap) {
  // a press 300 ms before 2^32 (deadline after the wrap) and one 300 ms before 2^31 (where a
  // signed reading of the tick count changes sign)
  for (Uint32 pressAt : {0u - 300u, 0x80000000u - 300u, 0u - 750u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(pressAt);
    harness::freshMachine(s, pressAt);
    enterEditMode();
    s.cursorStep = 8;
    press(s, buttonR);
    press(s, buttonRight);
    ChangeLog<float> bpm{s.bpm, {}};
    ChangeLog<int> step{s.cursorStep, {}};
    framesUntil(s, pressAt, 1000, [&](Uint32 ms) {
      bpm.see(ms, s.bpm);
      step.see(ms, s.cursorStep);
    });
    const std::vector<std::pair<Uint32, float>> tempoAt = {
        {750, 96.0f}, {850, 97.0f}, {950, 98.0f}};
    const std::vector<std::pair<Uint32, int>> cursorAt = {{750, 10}, {850, 11}, {950, 12}};
    EXPECT_EQ(tempoAt, bpm.changes);
    EXPECT_EQ(cursorAt, step.changes);
  }
}

TEST_F(Repeat, LateFramesDelayTheFollowingRepeatsAndNeverCatchUp) {
  enterEditMode();
  s.cursorStep = 0;
  press(s, buttonR);
  press(s, buttonRight);
  ASSERT_EQ(95.0f, s.bpm);
  ASSERT_EQ(1, s.cursorStep);
  // frames at these ms after the press; the one at 900 comes 150 ms after the last, the one at
  // 3000 after a long stall
  struct Frame {
    Uint32 at;
    float bpm;
    int step;
  };
  const Frame frames[] = {
      {749, 95.0f, 1},  {750, 96.0f, 2},  {900, 97.0f, 3},  {960, 97.0f, 3},  {999, 97.0f, 3},
      {1000, 98.0f, 4}, {3000, 99.0f, 5}, {3001, 99.0f, 5}, {3099, 99.0f, 5}, {3100, 100.0f, 6},
  };
  for (const Frame& f : frames) {
    SCOPED_TRACE(f.at);
    clockNow = startTick + f.at;
    autoRepeat(s, testInputs);
    EXPECT_EQ(f.bpm, s.bpm);
    EXPECT_EQ(f.step, s.cursorStep);
  }
}

// ---- without a joystick, and the desktop keys ----

TEST_F(Controls, WithoutAJoystickNoButtonReadsAsHeld) {
  ASSERT_EQ(nullptr, joy);
  for (int button = 0; button < 40; button++) {
    SCOPED_TRACE(button);
    EXPECT_FALSE(buttonHeld(button));
    EXPECT_FALSE(liveInputs.isDown(button));
  }
}

TEST_F(Controls, WithoutAJoystickTheLiveInputsPlayNormally) {
  ASSERT_EQ(nullptr, joy);
  // SELECT polls as up, so the press is a coarse step
  handleButtonDown(s, buttonL, liveInputs);
  EXPECT_EQ(93.0f, s.bpm);
  EXPECT_EQ(0, s.selectUsed);
  // L polls as up, so a due repeat does nothing
  s.bpmRepeatAt = SDL_GetTicks();
  autoRepeat(s, liveInputs);
  EXPECT_EQ(93.0f, s.bpm);

  handleButtonDown(s, buttonSelect, liveInputs);
  handleButtonUp(s, buttonSelect);
  ASSERT_EQ(1, s.editMode);
  handleButtonDown(s, buttonLeft, liveInputs);
  ASSERT_EQ(15, s.cursorStep);
  // a due cursor repeat with nothing polling as down neither moves nor paints
  s.cursorRepeatAt = SDL_GetTicks();
  s.glow = 0;
  autoRepeat(s, liveInputs);
  EXPECT_EQ(15, s.cursorStep);
  EXPECT_EQ(0, s.cursorTrack);
  EXPECT_EQ(std::string(presetBcells), std::string(s.pattern));
  EXPECT_EQ(230, s.glow);
}

TEST(Keys, EveryKeyMapsToItsButtonAndNoOtherKeyDoesAnything) {
  for (const harness::KeyBinding& b : harness::documentedKeys) {
    SCOPED_TRACE(SDL_GetKeyName(b.key));
    EXPECT_EQ(b.button, buttonForKey(b.key));
  }
  for (SDLKey key : {SDLK_c, SDLK_q, SDLK_LCTRL, SDLK_RCTRL, SDLK_F1, SDLK_LALT, SDLK_PLUS,
                     SDLK_KP_MULTIPLY, SDLK_0, SDLK_UNKNOWN}) {
    SCOPED_TRACE(SDL_GetKeyName(key));
    EXPECT_EQ(-1, buttonForKey(key));
  }
  // and every other key value as well
  for (int k = 0; k < SDLK_LAST; k++) {
    bool listed = false;
    for (const harness::KeyBinding& b : harness::documentedKeys) {
      listed = listed || b.key == k;
    }
    if (!listed) {
      SCOPED_TRACE(k);
      EXPECT_EQ(-1, buttonForKey(SDLKey(k)));
    }
  }
}

} // namespace

// ---- B with a direction or Y: the bank and the chain of a kept beat ----

struct SongKeysCase {
  const char* what;
  int kept, editMode, select;
  int fullBank, chainLength; // set up beforehand: every slot used; entries of slot 1
  const char* keys;          // pressed and released in turn while B is held: L R U D Y
  int current;               // after, 0-based
  std::vector<int> chain;    // after, when the chain started empty
  int cursorStep, copyFailed;
};
const SongKeysCase songKeysCases[] = {
    {"the bare command: nothing", 0, 0, 0, 0, 0, "RUYD", 0, {}, 0, 0},
    {"slots and appends", 1, 0, 0, 0, 0, "RRULU", 1, {2, 1}, 0, 0},
    {"left from slot 1 wraps to 16", 1, 0, 0, 0, 0, "L", 15, {}, 0, 0},
    {"removing from an empty chain", 1, 0, 0, 0, 0, "DDU", 0, {0}, 0, 0},
    {"copies go to the first empty slots", 1, 0, 0, 0, 0, "YY", 2, {}, 0, 0},
    {"a copy with no empty slot", 1, 0, 0, 1, 0, "Y", 0, {}, 0, 1},
    {"an append at 64 entries", 1, 0, 0, 0, 64, "U", 0, {}, 0, 0},
    {"edit mode: B and a direction move the cursor", 1, 1, 0, 0, 0, "R", 0, {}, 1, 0},
    {"SELECT held: nothing", 1, 0, 1, 0, 0, "RU", 0, {}, 0, 0},
};

TEST_F(Controls, BWithADirectionOrYEditsTheBankAndTheChainOfAKeptBeat) {
  const std::string letters = "LRUDY";
  const int buttons[] = {buttonLeft, buttonRight, buttonUp, buttonDown, buttonY};
  for (const SongKeysCase& c : songKeysCases) {
    harness::freshMachine(s, startTick);
    s.songControls = c.kept;
    s.editMode = c.editMode;
    std::memset(s.bank, c.fullBank ? '1' : '0', sizeof s.bank);
    s.chainLength = c.chainLength;
    std::memset(s.chain, 0, sizeof s.chain);
    if (c.select) {
      press(s, buttonSelect);
    }
    press(s, buttonB);
    std::string centred; // the directions' releases, as ever
    std::string trace = traceOf([&] {
      for (const char* k = c.keys; *k != '\0'; k++) {
        press(s, buttons[letters.find(*k)]);
        release(s, buttons[letters.find(*k)]);
        centred += *k != 'Y' ? "stick centred\n" : "";
      }
    });
    EXPECT_EQ(trace, c.editMode ? "cursor right\n" + centred : centred) << c.what;
    EXPECT_EQ(s.currentSlot, c.current) << c.what;
    EXPECT_EQ(s.cursorStep, c.cursorStep) << c.what;
    EXPECT_EQ(s.copyFailed, c.copyFailed) << c.what;
    EXPECT_EQ(s.bankView, c.kept && !c.editMode && !c.select) << c.what;
    if (c.chainLength == 0) {
      EXPECT_EQ(std::vector<int>(s.chain, s.chain + s.chainLength), c.chain) << c.what;
    } else {
      EXPECT_EQ(s.chainLength, c.chainLength) << c.what;
    }
    // stopped, the grid shows the current slot; a copy holds what its source held
    EXPECT_EQ(s.shownSlot, s.currentSlot) << c.what;
    if (std::strchr(c.keys, 'Y') != nullptr && !c.fullBank) {
      EXPECT_STREQ(s.pattern, presetBcells) << c.what;
    }
    release(s, buttonB);
    EXPECT_EQ(s.bankView, 0) << c.what << ": the bank goes with B";
  }
}

TEST_F(Controls, BAndDownHeldEmptiesTheChainOnItsOwnHoldWithoutMovingTheCursor) {
  s.songControls = 1;
  s.chainLength = 5;
  press(s, buttonB);
  press(s, buttonDown);
  EXPECT_EQ(s.chainLength, 4);
  EXPECT_EQ(s.cursorHeld, 0);
  for (int chain : {4, 3, 2, 1, 0, 0}) {
    clockNow += chain == 4 ? 749 : 99;
    autoRepeat(s, testInputs);
    EXPECT_EQ(s.chainLength, chain);
    clockNow += 1;
    autoRepeat(s, testInputs);
    EXPECT_EQ(s.chainLength, std::max(chain - 1, 0));
  }
  EXPECT_EQ(s.cursorStep, 0);
  EXPECT_STREQ(s.pattern, presetBcells) << "nothing painted";
}
