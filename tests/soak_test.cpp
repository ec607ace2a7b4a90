// Long seeded runs of random button traffic with a driven clock, checking the state record's
// ranges after every frame; and what the screen shows around a background of the wrong size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "controls/buttons.h"
#include "harness.h"
#include "sequencer/pattern.h"
#include "sequencer/transport.h"

namespace harness {
// gtest prints a colour as its components, not as raw bytes
void PrintTo(const Rgb& c, std::ostream* os) {
  *os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}
} // namespace harness

namespace {

using harness::held;

// POCKETDRUM_SOAK_FRAMES caps the frames of each run, for slow runs such as valgrind's.
int framesFor(int frames) {
  const char* text = std::getenv("POCKETDRUM_SOAK_FRAMES");
  int cap = text != nullptr ? std::atoi(text) : 0;
  return cap > 0 && cap < frames ? cap : frames;
}

constexpr int highestIndex = 20; // the stream presses indices 0..20; 16 and up are not buttons

// Buttons whose presses and releases must leave the state record as it was.
bool ignoredButton(int button) {
  return button >= 16 || button == 1 || button == 3 || button == 5 || button == 7;
}

// Trace lines go to stdout on most presses; thousands of them would bury the test's output.
class QuietStdout {
public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = dup(fileno(stdout));
    int null = open("/dev/null", O_WRONLY);
    dup2(null, fileno(stdout));
    close(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    dup2(saved_, fileno(stdout));
    close(saved_);
  }

private:
  int saved_;
};

// Everything that must hold after any frame, whatever came before; empty when all holds.
std::string brokenInvariant(const MachineState& s, Uint32 now) {
  for (int i = 0; i < cellCount; i++) {
    if (s.pattern[i] != '0' && s.pattern[i] != '1') {
      return "pattern cell " + std::to_string(i) + " is " + std::to_string(int(s.pattern[i]));
    }
  }
  if (s.pattern[cellCount] != '\0') {
    return "pattern lost its NUL";
  }
  if (std::memcmp(s.presetA, presetAcells, sizeof(Pattern)) != 0 ||
      std::memcmp(s.presetB, presetBcells, sizeof(Pattern)) != 0) {
    return "a preset was written";
  }
  if (!(s.bpm >= minTempo && s.bpm <= maxTempo)) {
    return "bpm " + std::to_string(s.bpm);
  }
  if (s.stepInterval != 15000.0f / s.bpm) {
    return "stepInterval " + std::to_string(s.stepInterval) + " at bpm " + std::to_string(s.bpm);
  }
  if (s.cursorStep < 0 || s.cursorStep > 15 || s.cursorTrack < 0 || s.cursorTrack > 9) {
    return "cursor at " + std::to_string(s.cursorStep) + ", " + std::to_string(s.cursorTrack);
  }
  if (s.step < 0 || s.step > stepCount) {
    return "step " + std::to_string(s.step);
  }
  if (s.glow < 90 || s.glow > 240) {
    return "glow " + std::to_string(s.glow);
  }
  for (int flag : {s.playing, s.shuffle, s.editMode, s.quit, s.bpmHeld, s.cursorHeld}) {
    if (flag != 0 && flag != 1) {
      return "a flag holds " + std::to_string(flag);
    }
  }
  if (s.presetIndex < 0 || s.presetIndex > 3) {
    return "presetIndex " + std::to_string(s.presetIndex);
  }
  if (s.stepText[8] != '\0' || s.bpmText[10] != '\0') {
    return "a label buffer lost its NUL";
  }
  // While playing, the next step is never further ahead than the longest step there is (a
  // shuffled one at the slowest tempo, 1.25 x 750 ms); a clock that lost its place after a
  // wrap would put it days ahead and playback would stop for good.
  if (s.playing == 1) {
    float ahead = s.nextStepTime - clockReading(s, now);
    if (!std::isfinite(s.nextStepTime) || ahead > 1.25f * 15000.0f / minTempo + 1.0f) {
      return "next step " + std::to_string(ahead) + " ms ahead";
    }
  }
  // The rounding carried between step times is less than one spacing of the times themselves,
  // which never reach 2^25 ms on the step clock: it can never grow into a step of its own.
  if (!(std::fabs(s.stepTimeCarry) <= 2.0f)) {
    return "step time carry " + std::to_string(s.stepTimeCarry);
  }
  return "";
}

SDL_Event joyEvent(Uint8 type, int button) {
  SDL_Event event;
  std::memset(&event, 0, sizeof event);
  event.type = type;
  event.jbutton.type = type;
  event.jbutton.which = 0;
  event.jbutton.button = Uint8(button);
  event.jbutton.state = type == SDL_JOYBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
  return event;
}

struct SoakRun {
  const char* name;
  Uint32 boundary; // a tick the run must cross
  Uint32 leadIn;   // ms before the boundary that the run starts
  int frames;      // at 20 ms a frame on average
  unsigned seed;
};

// From power-on; past 2^24 ms, where the step clock starts moving its epoch; across 2^31 ms,
// where a single-precision time no longer resolves a step length; and across the 32-bit wrap of
// the tick count.
const SoakRun soakRuns[] = {
    {"FromStart", 0u, 0u, 20000, 1u},
    {"Past2To24", 1u << 24, 20000u, 10000, 5u},
    {"Across2To31", 1u << 31, 20000u, 10000, 3u},
    {"AcrossWrap", 0u, 20000u, 10000, 4u},
};

void PrintTo(const SoakRun& run, std::ostream* os) {
  *os << run.name;
}

class Soak : public ::testing::TestWithParam<SoakRun> {};

TEST_P(Soak, RandomButtonsKeepEveryFieldInRange) {
  const SoakRun& run = GetParam();
  unsigned seed = run.seed;
  if (const char* text = std::getenv("POCKETDRUM_SOAK_SEED")) {
    seed = unsigned(std::strtoul(text, nullptr, 10));
  }
  std::mt19937 random(seed);
  auto uniform = [&random](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };

  static MachineState s;
  harness::freshMachine(s, run.boundary - run.leadIn);
  QuietStdout quiet;
  const int frames = framesFor(run.frames);
  float lowest = s.bpm, highest = s.bpm;
  int releaseAt[highestIndex + 1] = {};
  bool sweepUp = true;
  int sweepEnd = 0;
  Uint32 firstTick = harness::clockNow;
  int ignoredEvents = 0;
  int stepsFired = 0;
  for (int frame = 0; frame < frames; frame++) {
    // a frame takes 0..40 ms, with now and then a stall of up to three seconds
    Uint32 dt = Uint32(uniform(0, 40));
    if (uniform(0, 499) == 0) {
      dt += Uint32(uniform(200, 3000));
    }
    harness::clockNow += dt;

    // Every thousand frames or so a sweep: R, then L the next time, held alone (no SELECT, no
    // other tempo button) for 30 to 50 s, long enough to carry the tempo to its limit.
    std::vector<int> changes;
    bool sweeping = frame < sweepEnd;
    if (!sweeping && uniform(0, 999) == 0 && !held[buttonL] && !held[buttonR] &&
        !held[buttonSelect]) {
      int button = sweepUp ? buttonR : buttonL;
      sweepUp = !sweepUp;
      sweepEnd = releaseAt[button] = frame + uniform(1500, 2500);
      changes.push_back(button);
    }
    // Now and then any index goes down, held for a tap of a frame or two, a few hundred ms or,
    // rarely, several seconds.
    if (uniform(0, 3) == 0) {
      int button = uniform(0, highestIndex);
      bool spoilsSweep = button == buttonL || button == buttonR || button == buttonSelect;
      if (!held[button] && !(sweeping && spoilsSweep)) {
        int kind = uniform(0, 99);
        int length = kind < 60 ? uniform(0, 3) : kind < 95 ? uniform(4, 40) : uniform(40, 800);
        releaseAt[button] = frame + length;
        changes.push_back(button);
      }
    }
    for (int button = 0; button <= highestIndex; button++) {
      if (held[button] && releaseAt[button] <= frame) {
        changes.push_back(button);
      }
    }
    for (int button : changes) {
      bool press = !held[button];
      held[button] = press;
      MachineState before;
      std::memcpy(&before, &s, sizeof s);
      handleEvent(s, joyEvent(press ? SDL_JOYBUTTONDOWN : SDL_JOYBUTTONUP, button),
                  harness::testInputs);
      if (ignoredButton(button)) {
        ignoredEvents++;
        ASSERT_EQ(std::memcmp(&before, &s, sizeof s), 0)
            << (press ? "press" : "release") << " of ignored index " << button
            << " changed the state at frame " << frame << ", seed " << seed;
      }
    }

    int stepBefore = s.step;
    renderFrame(s, harness::testInputs);
    if (s.step != stepBefore && s.playing == 1) {
      stepsFired++;
    }
    lowest = std::min(lowest, s.bpm);
    highest = std::max(highest, s.bpm);
    std::string broken = brokenInvariant(s, harness::clockNow);
    ASSERT_EQ(broken, "") << "after frame " << frame << " at tick " << harness::clockNow
                          << ", seed " << seed;
  }
  // the stream must really have exercised the machine, the clock included
  EXPECT_GT(ignoredEvents, frames / 100);
  EXPECT_GT(stepsFired, frames / 100);
  EXPECT_GT(Uint32(harness::clockNow - firstTick), run.leadIn) << "the boundary was not crossed";
  if (frames == run.frames && seed == run.seed) {
    // this stream's sweeps took the tempo to both of its limits, where the clamps act
    EXPECT_EQ(lowest, minTempo);
    EXPECT_EQ(highest, maxTempo);
  }
  harness::releaseAll();
}

INSTANTIATE_TEST_SUITE_P(Ticks, Soak, ::testing::ValuesIn(soakRuns),
                         [](const ::testing::TestParamInfo<SoakRun>& info) {
                           return std::string(info.param.name);
                         });

// The screen around a background that does not cover it: black on every frame, never what an
// earlier frame (or anything else) left there.
struct BackgroundSize {
  const char* name;
  int w, h; // 0 x 0: no background at all
};

const BackgroundSize backgroundSizes[] = {
    {"Smaller", 160, 120},
    {"NarrowerOnly", 200, 240},
    {"LowerOnly", 320, 100},
    {"Missing", 0, 0},
};

void PrintTo(const BackgroundSize& size, std::ostream* os) {
  *os << size.w << " x " << size.h;
}

class WrongSizeBackground : public ::testing::TestWithParam<BackgroundSize> {};

TEST_P(WrongSizeBackground, ScreenOutsideTheImageIsBlack) {
  const BackgroundSize& size = GetParam();
  static MachineState s;
  harness::freshMachine(s, 1000);
  SDL_Surface* image = nullptr;
  if (size.w > 0) {
    image = SDL_CreateRGBSurface(SDL_SWSURFACE, size.w, size.h, 16, screen->format->Rmask,
                                 screen->format->Gmask, screen->format->Bmask, 0);
    ASSERT_NE(image, nullptr) << SDL_GetError();
    SDL_FillRect(image, nullptr, SDL_MapRGB(image->format, 0, 0, 255));
  }
  SDL_Surface* real = s.imgGUI;
  SDL_Rect realArea = targetarea;
  s.imgGUI = image;
  targetarea = {0, 0, Uint16(size.w), Uint16(size.h)};

  // screen points that neither the image, the labels, the cells nor the cursor cover
  const int probes[][2] = {{319, 239}, {319, 0}, {0, 239}, {250, 20}, {318, 236}};
  Uint32 white = SDL_MapRGB(screen->format, 255, 255, 255);
  for (int frame = 0; frame < 3; frame++) {
    // anything drawn between frames: a flash of white over the whole screen
    SDL_FillRect(screen, nullptr, white);
    harness::clockNow += 16;
    renderFrame(s, harness::testInputs);
    for (const auto& p : probes) {
      if (p[0] < size.w && p[1] < size.h) {
        continue;
      }
      EXPECT_EQ(harness::pixelAt(screen, p[0], p[1]), harness::onScreen(0, 0, 0))
          << "at (" << p[0] << ", " << p[1] << ") after frame " << frame;
    }
    if (image != nullptr) {
      EXPECT_EQ(harness::pixelAt(screen, 2, 2), harness::onScreen(0, 0, 255));
    }
  }
  s.imgGUI = real;
  targetarea = realArea;
  if (image != nullptr) {
    SDL_FreeSurface(image);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, WrongSizeBackground, ::testing::ValuesIn(backgroundSizes),
                         [](const ::testing::TestParamInfo<BackgroundSize>& info) {
                           return std::string(info.param.name);
                         });

// A background larger than the screen is clipped at the screen's edges, its top-left corner
// at the screen's.
TEST(LargerBackground, IsClippedToTheScreen) {
  static MachineState s;
  harness::freshMachine(s, 1000);
  SDL_Surface* image = SDL_CreateRGBSurface(SDL_SWSURFACE, 400, 300, 16, screen->format->Rmask,
                                            screen->format->Gmask, screen->format->Bmask, 0);
  ASSERT_NE(image, nullptr) << SDL_GetError();
  SDL_FillRect(image, nullptr, SDL_MapRGB(image->format, 0, 0, 255));
  // a green column just inside the screen's right edge, and red just beyond it
  SDL_Rect inside = {319, 0, 1, 300};
  SDL_Rect beyond = {320, 0, 80, 300};
  SDL_FillRect(image, &inside, SDL_MapRGB(image->format, 0, 255, 0));
  SDL_FillRect(image, &beyond, SDL_MapRGB(image->format, 255, 0, 0));
  SDL_Surface* real = s.imgGUI;
  SDL_Rect realArea = targetarea;
  s.imgGUI = image;
  targetarea = {0, 0, 400, 300};

  SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 255, 255, 255));
  renderFrame(s, harness::testInputs);
  EXPECT_EQ(harness::pixelAt(screen, 319, 239), harness::onScreen(0, 255, 0));
  EXPECT_EQ(harness::pixelAt(screen, 0, 239), harness::onScreen(0, 0, 255));
  EXPECT_EQ(harness::pixelAt(screen, 319, 0), harness::onScreen(0, 255, 0));
  // the blit clips the copy it is handed; the frame's rectangle must stay as it was
  EXPECT_EQ(targetarea.w, 400);
  EXPECT_EQ(targetarea.h, 300);

  s.imgGUI = real;
  targetarea = realArea;
  SDL_FreeSurface(image);
}

} // namespace
