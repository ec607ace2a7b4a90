// Shared test set-up: the real SDL with its dummy drivers, a real 320 x 240 x 16 screen, the
// project's assets, and a clock and buttons that the test drives.
#pragma once

#include <SDL.h>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "loop.h"
#include "machine.h"
#include "startup/startup.h"

namespace harness {

// The clock and the held buttons that the code under test sees through testInputs.
inline Uint32 clockNow = 0;
inline bool held[32] = {};

inline Uint32 testTicks() {
  return clockNow;
}
inline bool testIsDown(int button) {
  return button >= 0 && button < 32 && held[button];
}
inline const Inputs testInputs = {testTicks, testIsDown};

inline void releaseAll() {
  for (bool& b : held) {
    b = false;
  }
}

// The machine as start-up leaves it, brought up once per test program with SDL's dummy video and
// audio drivers: a real screen, the background with its labels, the font, the mixer and the kit.
inline MachineState& startedMachine() {
  static MachineState started;
  static bool up = false;
  if (!up) {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    SDL_Init(SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_JOYSTICK);
    openScreen();
    loadMachine(started, ASSET_DIR);
    // The mixer's thread must stop before the libraries unload at exit, or it may call into
    // one that has already gone.
    std::atexit([] {
      Mix_CloseAudio();
      SDL_Quit();
    });
    up = true;
  }
  return started;
}

// Brings SDL up as start-up does; bank, when given, receives the loaded kit.
inline void startSdl(SampleBank* bank = nullptr) {
  MachineState& started = startedMachine();
  if (bank != nullptr) {
    *bank = started.samples;
  }
}

// A machine at its start-up values at the given tick, with samples and background loaded.
inline void freshMachine(MachineState& s, Uint32 ticks = 0) {
  const MachineState& started = startedMachine();
  s.samples = started.samples;
  s.imgGUI = started.imgGUI;
  if (s.imgGUI != nullptr) {
    targetarea = {0, 0, Uint16(s.imgGUI->w), Uint16(s.imgGUI->h)};
  }
  clockNow = ticks;
  releaseAll();
  initMachineState(s, ticks);
}

// The colour of one screen pixel, as 8-bit components.
struct Rgb {
  int r, g, b;
  bool operator==(const Rgb& o) const {
    return r == o.r && g == o.g && b == o.b;
  }
};

inline Rgb pixelAt(SDL_Surface* surface, int x, int y) {
  SDL_LockSurface(surface);
  Uint8* row = static_cast<Uint8*>(surface->pixels) + y * surface->pitch;
  Uint32 value = 0;
  switch (surface->format->BytesPerPixel) {
  case 2:
    value = reinterpret_cast<Uint16*>(row)[x];
    break;
  case 4:
    value = reinterpret_cast<Uint32*>(row)[x];
    break;
  default:
    break;
  }
  SDL_UnlockSurface(surface);
  Uint8 r, g, b;
  SDL_GetRGB(value, surface->format, &r, &g, &b);
  return {r, g, b};
}

// What the screen shows for a colour after the round trip through its 16-bit format.
inline Rgb onScreen(int r, int g, int b) {
  Uint32 value = SDL_MapRGB(screen->format, Uint8(r), Uint8(g), Uint8(b));
  Uint8 rr, gg, bb;
  SDL_GetRGB(value, screen->format, &rr, &gg, &bb);
  return {rr, gg, bb};
}

// What the code writes to standard output while f runs.
template <typename F> inline std::string traceOf(F&& f) {
  testing::internal::CaptureStdout();
  f();
  return testing::internal::GetCapturedStdout();
}

inline MachineState copyOf(const MachineState& s) {
  MachineState c;
  std::memcpy(&c, &s, sizeof c);
  return c;
}

// Field by field for readable failures, then byte for byte for anything not listed.
inline void expectSameState(const MachineState& want, const MachineState& got) {
  EXPECT_EQ(std::string(want.pattern), std::string(got.pattern));
  EXPECT_EQ(want.cursorStep, got.cursorStep);
  EXPECT_EQ(want.cursorTrack, got.cursorTrack);
  EXPECT_EQ(want.bpm, got.bpm);
  EXPECT_EQ(want.stepInterval, got.stepInterval);
  EXPECT_EQ(want.nextStepTime, got.nextStepTime);
  EXPECT_EQ(want.stepTimeCarry, got.stepTimeCarry);
  EXPECT_EQ(want.clockEpoch, got.clockEpoch);
  EXPECT_EQ(want.shuffle, got.shuffle);
  EXPECT_EQ(want.playing, got.playing);
  EXPECT_EQ(want.editMode, got.editMode);
  EXPECT_EQ(want.quit, got.quit);
  EXPECT_EQ(want.step, got.step);
  EXPECT_EQ(want.bpmHeld, got.bpmHeld);
  EXPECT_EQ(want.bpmRepeatAt, got.bpmRepeatAt);
  EXPECT_EQ(want.cursorHeld, got.cursorHeld);
  EXPECT_EQ(want.cursorRepeatAt, got.cursorRepeatAt);
  EXPECT_EQ(want.glow, got.glow);
  EXPECT_EQ(want.glowDelta, got.glowDelta);
  EXPECT_EQ(want.glowNextAt, got.glowNextAt);
  EXPECT_EQ(want.presetIndex, got.presetIndex);
  EXPECT_EQ(want.selectUsed, got.selectUsed);
  EXPECT_EQ(0, std::memcmp(&want, &got, sizeof want));
}

// A float's bit pattern and back: positive floats order like their bit patterns, so a walk over
// the patterns visits every float of a range in turn.
inline Uint32 floatBits(float f) {
  Uint32 u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}
inline float fromBits(Uint32 u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

// The desktop keys as the README documents them, independent of the program's own table.
struct KeyBinding {
  SDLKey key;
  int button;
};
inline const KeyBinding documentedKeys[] = {
    {SDLK_UP, 0},  {SDLK_LEFT, 2},    {SDLK_DOWN, 4},     {SDLK_RIGHT, 6},     {SDLK_ESCAPE, 8},
    {SDLK_TAB, 9}, {SDLK_LSHIFT, 9},  {SDLK_RSHIFT, 9},   {SDLK_MINUS, 10},    {SDLK_KP_MINUS, 10},
    {SDLK_l, 10},  {SDLK_EQUALS, 11}, {SDLK_KP_PLUS, 11}, {SDLK_r, 11},        {SDLK_SPACE, 12},
    {SDLK_a, 12},  {SDLK_b, 13},      {SDLK_RETURN, 14},  {SDLK_KP_ENTER, 14}, {SDLK_y, 14},
    {SDLK_x, 15},
};

} // namespace harness
