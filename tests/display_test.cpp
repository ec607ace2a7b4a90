// What the screen shows: the tempo label's digits, the step label and "SHFL", the grid of cells
// with the playing column, and the pulsing cursor frame, read back from the real screen.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "display/grid.h"
#include "display/labels.h"
#include "harness.h"
#include "sequencer/pattern.h"
#include "sequencer/transport.h"

namespace {

using harness::floatBits;
using harness::fromBits;
using harness::onScreen;
using harness::pixelAt;
using harness::Rgb;

const Rgb black = {0, 0, 0};

// A background that varies from pixel to pixel and never holds black, white, pure red or pure
// green, so anything drawn over it, a shadow included, tells from what lies beneath.
SDL_Surface* patternedBackground() {
  static SDL_Surface* surface = nullptr;
  if (surface == nullptr) {
    surface = SDL_ConvertSurface(screen, screen->format, SDL_SWSURFACE);
    for (int y = 0; y < surface->h; y++) {
      for (int x = 0; x < surface->w; x++) {
        SDL_Rect dot = {Sint16(x), Sint16(y), 1, 1};
        Uint32 colour =
            SDL_MapRGB(surface->format, Uint8(40 + (x * 7 + y * 3) % 64),
                       Uint8(60 + (x * 5 + y * 11) % 64), Uint8(90 + (x * 13 + y) % 64));
        SDL_FillRect(surface, &dot, colour);
      }
    }
  }
  return surface;
}

class Display : public ::testing::Test {
protected:
  void SetUp() override {
    harness::freshMachine(s, 1000);
    s.imgGUI = patternedBackground();
    targetarea = {0, 0, Uint16(s.imgGUI->w), Uint16(s.imgGUI->h)};
    ASSERT_NE(font, nullptr);
  }
  void TearDown() override {
    Mix_HaltChannel(-1);
  }
  Rgb background(int x, int y) const {
    return pixelAt(s.imgGUI, x, y);
  }
  void frame() {
    renderFrame(s, harness::testInputs);
  }
  // A frame that fires step n now, whatever step came before.
  void frameFiringStep(int n) {
    s.step = n - 1;
    s.nextStepTime = clockReading(s, harness::clockNow);
    frame();
    ASSERT_EQ(s.step, n);
  }
  MachineState s;
};

std::string bpmLabel(float bpm) {
  char buffer[11];
  std::memcpy(buffer, "BPM: xxx.x", sizeof buffer);
  makeBPMstring(bpm, buffer);
  return std::string(buffer, sizeof buffer - 1) + (buffer[10] == '\0' ? "" : "<no NUL>");
}

// ---------------------------------------------------------------------------------------------
// The tempo label

TEST(TempoLabel, ReadsTheTempoTruncatedToOneDecimal) {
  const struct {
    float bpm;
    const char* label;
  } cases[] = {
      {94.0f, "BPM:  94.0"},       {120.0f, "BPM: 120.0"},      {20.0f, "BPM:  20.0"},
      {220.0f, "BPM: 220.0"},      {94.0999985f, "BPM:  94.0"}, {94.1999969f, "BPM:  94.1"},
      {99.9000015f, "BPM: 099.9"}, {99.8999939f, "BPM:  99.8"}, {100.0f, "BPM: 100.0"},
      {199.999985f, "BPM: 199.9"}, {219.999985f, "BPM: 219.9"}, {29.9999981f, "BPM:  29.9"},
      {30.0f, "BPM:  30.0"},       {109.949997f, "BPM: 109.9"}, {20.0499992f, "BPM:  20.0"},
      {20.1000004f, "BPM:  20.1"}, {150.050003f, "BPM: 150.0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(bpmLabel(c.bpm), c.label) << "tempo " << c.bpm;
  }
}

TEST_F(Display, FineStepsShowTheStoredTempoTruncated) {
  const struct {
    float from;
    int direction;
    const char* labels[2]; // after one fine step, after a second
  } walks[] = {
      {94.0f, tempoUp, {"BPM:  94.0", "BPM:  94.1"}},
      {100.0f, tempoDown, {"BPM: 099.9", "BPM:  99.8"}},
      {99.8f, tempoUp, {"BPM: 099.9", "BPM: 100.0"}},
  };
  for (const auto& w : walks) {
    s.bpm = w.from;
    for (const char* label : w.labels) {
      changeTempo(s, w.direction, true);
      frame();
      EXPECT_EQ(std::string(s.bpmText), label) << "from " << w.from << ", now " << s.bpm;
    }
  }
}

TEST_F(Display, TheTempoLabelIsRebuiltEveryFrame) {
  frame();
  EXPECT_STREQ(s.bpmText, "BPM:  94.0");
  s.bpm = 187.0f;
  frame();
  EXPECT_STREQ(s.bpmText, "BPM: 187.0");
  s.bpm = 20.0f;
  frame();
  EXPECT_STREQ(s.bpmText, "BPM:  20.0");
}

// The label a tempo must show: its exact value truncated to tenths, made only of "BPM: ", digits,
// blanks and the point. A float has 24 significant bits, so ten times it is exact in double and
// the floor is the true truncation.
void truncatedLabel(float bpm, char label[11]) {
  long n = long(std::floor(double(bpm) * 10.0));
  std::memcpy(label, "BPM: ", 5);
  label[5] = double(bpm) > 99.9 ? char('0' + n / 1000) : ' ';
  label[6] = char('0' + n / 100 % 10);
  label[7] = char('0' + n / 10 % 10);
  label[8] = '.';
  label[9] = char('0' + n % 10);
  label[10] = '\0';
}

TEST_F(Display, EveryReachableTempoShowsAsItsTruncation) {
  // Breadth-first over the tempos reachable from 94.0 by coarse and fine steps either way. The
  // positive floats order like their bit patterns, so a byte per float of 20..220 marks the ones
  // seen; the walk turns out to reach every one of them.
  auto started = std::chrono::steady_clock::now();
  const Uint32 low = floatBits(20.0f);
  const Uint32 high = floatBits(220.0f);
  std::vector<Uint8> seen(high - low + 1, 0);
  std::vector<Uint32> queue;
  queue.reserve(high - low + 1);
  queue.push_back(floatBits(94.0f));
  seen[floatBits(94.0f) - low] = 1;

  size_t wrong = 0;
  size_t leadingZero = 0;
  std::string wrongOnes;
  MachineState walker = s;
  for (size_t next = 0; next < queue.size(); next++) {
    float bpm = fromBits(queue[next]);
    char label[11];
    std::memcpy(label, "BPM: xxx.x", sizeof label);
    makeBPMstring(bpm, label);
    char expected[11];
    truncatedLabel(bpm, expected);
    if (std::memcmp(label, expected, sizeof label) != 0) {
      if (wrong++ < 10) {
        char line[80];
        std::snprintf(line, sizeof line, "%.9g shows \"%.10s\", truncated \"%s\"\n", double(bpm),
                      label, expected);
        wrongOnes += line;
      }
    }
    if (label[5] == '0') {
      leadingZero++;
      ASSERT_GT(double(bpm), 99.9) << bpm;
      ASSERT_LT(bpm, 100.0f) << bpm;
    }
    for (int direction : {tempoDown, tempoUp}) {
      for (bool fine : {false, true}) {
        walker.bpm = bpm;
        changeTempo(walker, direction, fine);
        Uint32 bits = floatBits(walker.bpm);
        if (bits < low || bits > high) {
          FAIL() << "tempo " << bpm << " stepped out of range to " << walker.bpm;
        }
        if (seen[bits - low] == 0) {
          seen[bits - low] = 1;
          queue.push_back(bits);
        }
      }
    }
  }
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::cout << "tempo walk: " << queue.size() << " tempos, " << leadingZero << " with a leading 0, "
            << seconds << " s\n";
  RecordProperty("tempos", int(queue.size()));
  EXPECT_EQ(wrong, 0u) << "the first of them:\n" << wrongOnes;
  EXPECT_TRUE(seen[0] && seen[high - low]) << "both bounds are reachable";
  EXPECT_GT(leadingZero, 0u) << "the tempos just above 99.9 are reachable";
}

// ---------------------------------------------------------------------------------------------
// Text on the screen

// How one text shows where drawText put it: the opaque pixels of the rendered glyphs in the
// text's colour, their shadow one pixel up and left in black wherever the text does not cover
// it, and every pixel of the box that neither touches left as the background.
struct TextCheck {
  int textPixels = 0;
  int shadowPixels = 0;
  int wrong = 0;
  std::string firstWrong;
};

TextCheck checkText(const SDL_Surface* bg, const char* text, int x, int y, Rgb colour) {
  TextCheck check;
  SDL_Color white = {255, 255, 255, 0};
  SDL_Surface* glyphs = TTF_RenderText_Blended(font, text, white);
  if (glyphs == nullptr) {
    check.wrong = 1;
    check.firstWrong = "the text did not render";
    return check;
  }
  auto alpha = [&](int gx, int gy) -> int {
    if (gx < 0 || gy < 0 || gx >= glyphs->w || gy >= glyphs->h) {
      return 0;
    }
    Uint32 value = static_cast<Uint32*>(glyphs->pixels)[gy * glyphs->pitch / 4 + gx];
    Uint8 r, g, b, a;
    SDL_GetRGBA(value, glyphs->format, &r, &g, &b, &a);
    return a;
  };
  SDL_LockSurface(glyphs);
  for (int gy = -1; gy < glyphs->h; gy++) {
    for (int gx = -1; gx < glyphs->w; gx++) {
      int text = alpha(gx, gy);
      int shadow = alpha(gx + 1, gy + 1); // the shadow's pixel that lands here
      Rgb shown = pixelAt(screen, x + gx, y + gy);
      Rgb want;
      if (text == 255) {
        want = onScreen(colour.r, colour.g, colour.b);
        check.textPixels++;
      } else if (text == 0 && shadow == 255) {
        want = black;
        check.shadowPixels++;
      } else if (text == 0 && shadow == 0) {
        want = pixelAt(const_cast<SDL_Surface*>(bg), x + gx, y + gy);
      } else {
        continue; // a blended edge
      }
      if (!(shown == want) && check.wrong++ == 0) {
        check.firstWrong = "at (" + std::to_string(x + gx) + ", " + std::to_string(y + gy) +
                           ") shows " + std::to_string(shown.r) + "," + std::to_string(shown.g) +
                           "," + std::to_string(shown.b);
      }
    }
  }
  SDL_UnlockSurface(glyphs);
  SDL_FreeSurface(glyphs);
  return check;
}

void expectText(const SDL_Surface* bg, const char* text, int x, int y, Rgb colour) {
  TextCheck c = checkText(bg, text, x, y, colour);
  EXPECT_GT(c.textPixels, 10) << "\"" << text << "\"";
  EXPECT_GT(c.shadowPixels, 5) << "\"" << text << "\"";
  EXPECT_EQ(c.wrong, 0) << "\"" << text << "\" at (" << x << ", " << y << "): " << c.firstWrong;
}

// True when a box of the screen holds the background and nothing else.
bool untouched(const SDL_Surface* bg, int x0, int y0, int w, int h) {
  for (int y = y0; y < y0 + h; y++) {
    for (int x = x0; x < x0 + w; x++) {
      if (!(pixelAt(screen, x, y) == pixelAt(const_cast<SDL_Surface*>(bg), x, y))) {
        return false;
      }
    }
  }
  return true;
}

int textWidth(const char* text) {
  int w = 0, h = 0;
  TTF_SizeText(font, text, &w, &h);
  return w;
}
int textHeight(const char* text) {
  int w = 0, h = 0;
  TTF_SizeText(font, text, &w, &h);
  return h;
}

TEST_F(Display, TheTempoLabelIsDrawnWhiteAt60_40) {
  frame();
  expectText(s.imgGUI, "BPM:  94.0", 60, 40, {255, 255, 255});
  s.bpm = 220.0f;
  frame();
  expectText(s.imgGUI, "BPM: 220.0", 60, 40, {255, 255, 255});
}

TEST_F(Display, StepLabelShowsTheStepRedOnTheFirstSixteenthOfEachBeat) {
  togglePlay(s, 1000);
  for (int n = 1; n <= 16; n++) {
    frameFiringStep(n);
    char text[9];
    std::snprintf(text, sizeof text, "16th: %-2d", n);
    EXPECT_STREQ(s.stepText, text);
    bool onBeat = n == 1 || n == 5 || n == 9 || n == 13;
    Rgb colour = onBeat ? Rgb{255, 0, 0} : Rgb{255, 255, 255};
    SCOPED_TRACE("step " + std::to_string(n));
    expectText(s.imgGUI, text, 2, 40, colour);
    harness::clockNow += 200;
  }
}

TEST_F(Display, StepLabelReadsTwoDigitsOrADigitAndABlank) {
  togglePlay(s, 1000);
  s.step = 9;
  frame();
  EXPECT_STREQ(s.stepText, "16th: 10");
  s.step = 8;
  s.nextStepTime = clockReading(s, harness::clockNow);
  frame();
  EXPECT_STREQ(s.stepText, "16th: 9 ");
  EXPECT_EQ(s.stepText[8], '\0');
}

TEST_F(Display, NoStepLabelWhileStopped) {
  const int w = textWidth("16th: 16") + 2;
  const int h = textHeight("16th: 16") + 2;
  ASSERT_LT(1 + w, 59) << "the step label's box reaches the tempo label";
  frame();
  EXPECT_TRUE(untouched(s.imgGUI, 0, 38, 1 + w, h));
  togglePlay(s, 1000);
  frame();
  EXPECT_FALSE(untouched(s.imgGUI, 0, 38, 1 + w, h));
  togglePlay(s, 1100);
  frame();
  EXPECT_TRUE(untouched(s.imgGUI, 0, 38, 1 + w, h));
}

TEST_F(Display, ShuffleIndicatorOnlyWhileShuffleIsOn) {
  ASSERT_LT(60 + textWidth("BPM: 220.0"), 108) << "the tempo label reaches the shuffle box";
  const int w = textWidth("SHFL") + 2;
  const int h = textHeight("SHFL") + 2;
  s.shuffle = 1;
  frame();
  expectText(s.imgGUI, "SHFL", 109, 40, {255, 255, 255});
  s.shuffle = 0;
  frame();
  EXPECT_TRUE(untouched(s.imgGUI, 107, 38, w, h));
  setDemoMode(s, 2);
  frame();
  expectText(s.imgGUI, "SHFL", 109, 40, {255, 255, 255});
  setDemoMode(s, 3);
  frame();
  EXPECT_TRUE(untouched(s.imgGUI, 107, 38, w, h));
}

// ---------------------------------------------------------------------------------------------
// The grid

// What a pixel below the labels should show: a set cell's colour inside its square, the cursor
// frame's colour on the frame, the background everywhere else.
struct Expected {
  const MachineState& s;
  int greenColumn; // -1: none
  bool cursor;
  int glow;

  Rgb at(int x, int y) const {
    if (cursor) {
      int fx = x - (59 + 16 * s.cursorStep);
      int fy = y - (61 + 17 * s.cursorTrack);
      bool inBox = fx >= 0 && fx < 17 && fy >= 0 && fy < 17;
      bool inCell = fx >= 2 && fx < 15 && fy >= 2 && fy < 15;
      if (inBox && !inCell) {
        return onScreen(0, glow, 0);
      }
    }
    int cx = x - 61;
    int cy = y - 63;
    if (cx >= 0 && cy >= 0 && cx % 16 < 13 && cy % 17 < 13 && cx / 16 < 16 && cy / 17 < 10) {
      int c = cx / 16;
      int r = cy / 17;
      if (s.pattern[r * 16 + c] == '1') {
        return c == greenColumn ? onScreen(0, 255, 0) : onScreen(192, 0, 0);
      }
    }
    return pixelAt(s.imgGUI, x, y);
  }
};

// Compares the screen below the status line with the expectation, pixel for pixel.
void expectGrid(const Expected& e) {
  int wrong = 0;
  std::string first;
  for (int y = 56; y < 240; y++) {
    for (int x = 0; x < 320; x++) {
      Rgb shown = pixelAt(screen, x, y);
      Rgb want = e.at(x, y);
      if (!(shown == want) && wrong++ == 0) {
        first = "(" + std::to_string(x) + ", " + std::to_string(y) + ") shows " +
                std::to_string(shown.r) + "," + std::to_string(shown.g) + "," +
                std::to_string(shown.b) + ", expected " + std::to_string(want.r) + "," +
                std::to_string(want.g) + "," + std::to_string(want.b);
      }
    }
  }
  EXPECT_EQ(wrong, 0) << "pixels differ; first at " << first;
}

TEST_F(Display, PresetBShowsItsSetCellsRedAndNothingElse) {
  frame();
  expectGrid({s, -1, false, 0});
  // the corners and the centre of every set cell, spelled out
  for (int i = 0; i < cellCount; i++) {
    int x = 61 + 16 * (i % 16);
    int y = 63 + 17 * (i / 16);
    for (auto [dx, dy] : {std::pair{0, 0}, {12, 0}, {0, 12}, {12, 12}, {6, 6}}) {
      Rgb want = s.pattern[i] == '1' ? onScreen(192, 0, 0) : background(x + dx, y + dy);
      ASSERT_EQ(pixelAt(screen, x + dx, y + dy), want) << "cell " << i << " +" << dx << "," << dy;
    }
  }
}

TEST_F(Display, ACellCoversExactlyItsThirteenPixelSquare) {
  const struct {
    int track, step;
    int x0, y0, x1, y1; // inclusive
  } cells[] = {{0, 0, 61, 63, 73, 75}, {9, 15, 301, 216, 313, 228}, {4, 7, 173, 131, 185, 143}};
  for (const auto& c : cells) {
    setDemoMode(s, 1);
    toggleCell(s, c.track, c.step);
    frame();
    SCOPED_TRACE("cell (" + std::to_string(c.track) + ", " + std::to_string(c.step) + ")");
    for (int y = c.y0 - 1; y <= c.y1 + 1; y++) {
      for (int x = c.x0 - 1; x <= c.x1 + 1; x++) {
        bool inside = x >= c.x0 && x <= c.x1 && y >= c.y0 && y <= c.y1;
        ASSERT_EQ(pixelAt(screen, x, y), inside ? onScreen(192, 0, 0) : background(x, y))
            << "at (" << x << ", " << y << ")";
      }
    }
    expectGrid({s, -1, false, 0});
  }
}

TEST_F(Display, WhilePlayingOnlyThePlayingColumnsSetCellsAreGreen) {
  togglePlay(s, 1000);
  for (int n = 1; n <= 16; n++) {
    frameFiringStep(n);
    SCOPED_TRACE("step " + std::to_string(n));
    expectGrid({s, n - 1, false, 0});
  }
}

TEST_F(Display, AnEmptyPlayingColumnShowsNoGreen) {
  for (int t = 0; t < trackCount; t++) {
    ASSERT_EQ(s.pattern[t * 16 + 3], '0') << "column 3 of preset B is empty";
  }
  togglePlay(s, 1000);
  s.step = 3;
  frame();
  ASSERT_EQ(s.step, 4);
  const Rgb green = onScreen(0, 255, 0);
  for (int y = 0; y < 240; y++) {
    for (int x = 0; x < 320; x++) {
      ASSERT_FALSE(pixelAt(screen, x, y) == green) << "green at (" << x << ", " << y << ")";
    }
  }
  expectGrid({s, 3, false, 0});
}

TEST_F(Display, StoppedEverySetCellIsRed) {
  togglePlay(s, 1000);
  frame();
  togglePlay(s, 1001);
  frame();
  expectGrid({s, -1, false, 0});
}

// ---------------------------------------------------------------------------------------------
// The cursor frame and its glow

TEST_F(Display, CursorFrameSurroundsTheCellAtTheGlowLevel) {
  const struct {
    int step, track, glow;
  } positions[] = {{0, 0, 100}, {15, 9, 240}, {7, 4, 170}, {15, 0, 130}, {0, 9, 220}, {3, 2, 110}};
  s.editMode = 1;
  for (const auto& p : positions) {
    s.cursorStep = p.step;
    s.cursorTrack = p.track;
    s.glow = p.glow;
    s.glowNextAt = Sint32(harness::clockNow + 40); // no glow tick in this frame
    frame();
    ASSERT_EQ(s.glow, p.glow);
    SCOPED_TRACE("cursor at step " + std::to_string(p.step) + ", track " + std::to_string(p.track));
    expectGrid({s, -1, true, p.glow});
  }
}

TEST_F(Display, TheFrameShowsTheGlowTakenInTheSameFrame) {
  s.editMode = 1;
  s.cursorStep = 5;
  s.cursorTrack = 6;
  frame(); // the first glow tick is due at once: 90 + 10
  ASSERT_EQ(s.glow, 100);
  expectGrid({s, -1, true, 100});
  harness::clockNow += 40;
  frame();
  ASSERT_EQ(s.glow, 110);
  expectGrid({s, -1, true, 110});
}

TEST_F(Display, NoCursorFrameWithEditModeOff) {
  s.editMode = 0;
  s.cursorStep = 15;
  s.cursorTrack = 9;
  s.glow = 200;
  frame();
  expectGrid({s, -1, false, 0});
  EXPECT_EQ(s.glow, 200) << "the glow stands still while edit mode is off";
  EXPECT_EQ(s.glowNextAt, 0);
}

// The glow levels from start-up: a triangle between 100 and 240 in steps of 10, each end held
// for two ticks, 30 ticks a cycle.
int triangle(int tick) {
  int phase = tick % 30;
  return phase < 15 ? 100 + 10 * phase : 240 - 10 * (phase - 15);
}

TEST_F(Display, GlowRunsTheTriangleOneTickEvery40Ms) {
  Uint32 t = 5000;
  for (int k = 0; k < 75; k++) {
    updateGlow(s, t);
    ASSERT_EQ(s.glow, triangle(k)) << "tick " << k;
    ASSERT_EQ(s.glowNextAt, Sint32(t + 40));
    for (Uint32 early : {1u, 20u, 39u}) {
      updateGlow(s, t + early);
      ASSERT_EQ(s.glow, triangle(k)) << "ticked again " << early << " ms after tick " << k;
      ASSERT_EQ(s.glowNextAt, Sint32(t + 40));
    }
    t += 40;
  }
}

TEST_F(Display, AfterAFlashTheGlowFadesFrom220) {
  Uint32 t = 5000;
  updateGlow(s, t);
  flashCursor(s);
  EXPECT_EQ(s.glow, 230);
  std::vector<int> levels;
  for (int k = 0; k < 17; k++) {
    t += 40;
    updateGlow(s, t);
    levels.push_back(s.glow);
  }
  std::vector<int> expected = {220, 210, 200, 190, 180, 170, 160, 150, 140,
                               130, 120, 110, 100, 100, 110, 120, 130};
  EXPECT_EQ(levels, expected);
}

TEST_F(Display, GlowTakesAtMostOneTickPerFrameAndCountsFromThatFrame) {
  updateGlow(s, 5000);
  ASSERT_EQ(s.glow, 100);
  // A long pause: one tick, not one for every 40 ms missed.
  updateGlow(s, 15000);
  EXPECT_EQ(s.glow, 110);
  updateGlow(s, 15000);
  EXPECT_EQ(s.glow, 110);
  // A late tick puts the next 40 ms after the frame that took it, not after the old deadline.
  updateGlow(s, 15055);
  EXPECT_EQ(s.glow, 120);
  updateGlow(s, 15094);
  EXPECT_EQ(s.glow, 120);
  updateGlow(s, 15095);
  EXPECT_EQ(s.glow, 130);
}

TEST_F(Display, GlowKeepsTickingAcross2pow31AndTheWrap) {
  for (Uint32 start : {(1u << 31) - 200u, 0u - 200u, (1u << 24) - 200u}) {
    SCOPED_TRACE("from tick " + std::to_string(start));
    s.glow = 90;
    s.glowDelta = 10;
    s.glowNextAt = Sint32(start); // a tick due at the start
    int ticks = 0;
    // 1-ms frames for 1.2 s: exactly one tick every 40 ms
    for (Uint32 i = 0; i < 1200; i++) {
      Sint32 deadline = s.glowNextAt;
      updateGlow(s, start + i);
      if (s.glowNextAt != deadline) {
        ASSERT_EQ(i, Uint32(40 * ticks)) << "tick " << ticks << " at the wrong frame";
        ASSERT_EQ(s.glow, triangle(ticks));
        ticks++;
      }
    }
    EXPECT_EQ(ticks, 30);
  }
}

} // namespace
