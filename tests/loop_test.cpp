// The main loop: events taken from the real SDL queue and routed to the button handlers, the end
// of the loop after the frame of its last pass, and the frame the loop draws.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "controls/buttons.h"
#include "display/grid.h"
#include "display/text.h"
#include "harness.h"
#include "sequencer/pattern.h"

namespace {

using harness::copyOf;
using harness::expectSameState;
using harness::traceOf;

using harness::held;
using harness::onScreen;
using harness::pixelAt;
using harness::Rgb;
using harness::testInputs;

constexpr Uint32 startTick = 3000;

bool sameState(const MachineState& a, const MachineState& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

SDL_Event joyButton(Uint8 type, int button, int joystick = 0) {
  SDL_Event e;
  std::memset(&e, 0, sizeof e);
  e.type = type;
  e.jbutton.which = Uint8(joystick);
  e.jbutton.button = Uint8(button);
  e.jbutton.state = type == SDL_JOYBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
  return e;
}

SDL_Event key(Uint8 type, SDLKey sym, int mod = KMOD_NONE) {
  SDL_Event e;
  std::memset(&e, 0, sizeof e);
  e.type = type;
  e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
  e.key.keysym.sym = sym;
  e.key.keysym.mod = SDLMod(mod);
  return e;
}

SDL_Event ofType(Uint8 type) {
  SDL_Event e;
  std::memset(&e, 0, sizeof e);
  e.type = type;
  return e;
}

void push(SDL_Event e) {
  ASSERT_EQ(0, SDL_PushEvent(&e)) << SDL_GetError();
}

// The loop's event step: every pending event, one at a time, until the queue is empty.
void drainEvents(MachineState& s) {
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    handleEvent(s, e, testInputs);
  }
}

bool queueEmpty() {
  SDL_PumpEvents();
  SDL_Event e;
  return SDL_PeepEvents(&e, 1, SDL_PEEKEVENT, SDL_ALLEVENTS) == 0;
}

const Rgb magenta = {255, 0, 255};

// The whole loop. A loop that never ends would hang the suite, so the process is ended by the
// alarm after 20 s instead.
int runLoop(MachineState& s) {
  alarm(20);
  int status = runMainLoop(s, testInputs);
  alarm(0);
  return status;
}

class Loop : public ::testing::Test {
protected:
  void SetUp() override {
    harness::freshMachine(s, startTick);
    ASSERT_NE(nullptr, s.imgGUI);
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
      // whatever the video driver queued on its own is not part of the test
    }
    SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, magenta.r, magenta.g, magenta.b));
  }
  void TearDown() override {
    harness::releaseAll();
    Mix_HaltChannel(-1);
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
    }
  }
  // A state in which every one of the 16 buttons has its own visible effect: edit mode on, the
  // cursor away from the edges, a preset cycle under way and SELECT held.
  void distinctiveState() {
    s.editMode = 1;
    s.cursorStep = 5;
    s.cursorTrack = 3;
    s.selectUsed = 1;
    s.presetIndex = 2;
    s.pattern[0] = '0';
    held[buttonSelect] = true;
  }
  // Pushes the event, drains the queue through the loop's event step, and checks that the
  // outcome is that of calling the handler directly with the given button.
  void expectRoutedAs(SDL_Event event, int button) {
    MachineState direct = copyOf(s);
    const MachineState before = copyOf(s);
    bool down = event.type == SDL_JOYBUTTONDOWN || event.type == SDL_KEYDOWN;
    std::string viaQueue = traceOf([&] {
      push(event);
      drainEvents(s);
    });
    std::string viaHandler = traceOf([&] {
      if (down) {
        handleButtonDown(direct, button, testInputs);
      } else {
        handleButtonUp(direct, button);
      }
    });
    expectSameState(direct, s);
    EXPECT_EQ(viaHandler, viaQueue);
    if (down) {
      EXPECT_FALSE(sameState(before, s)) << "the press had no effect";
    }
  }
  MachineState s;
};

// ---- routing through the event queue ----

TEST_F(Loop, JoystickButtonsReachTheHandlersWithTheirIndex) {
  for (int button = 0; button < 16; button++) {
    if (button < 8 && button % 2 == 1) {
      continue; // the diagonals do nothing, see below
    }
    SCOPED_TRACE(button);
    harness::freshMachine(s, startTick);
    distinctiveState();
    // the joystick number of the event is not looked at
    expectRoutedAs(joyButton(SDL_JOYBUTTONDOWN, button, button % 3), button);
    expectRoutedAs(joyButton(SDL_JOYBUTTONUP, button, button % 3), button);
  }
}

TEST_F(Loop, MappedKeysReachTheHandlersWithTheirButton) {
  for (const harness::KeyBinding& b : harness::documentedKeys) {
    SCOPED_TRACE(SDL_GetKeyName(b.key));
    harness::freshMachine(s, startTick);
    distinctiveState();
    expectRoutedAs(key(SDL_KEYDOWN, b.key), b.button);
    expectRoutedAs(key(SDL_KEYUP, b.key), b.button);
  }
}

TEST_F(Loop, EventsPlayTheMachine) {
  struct Case {
    const char* name;
    std::vector<SDL_Event> events;
    std::function<int(const MachineState&)> field;
  };
  auto playing = [](const MachineState& m) { return m.playing; };
  auto editMode = [](const MachineState& m) { return m.editMode; };
  auto quit = [](const MachineState& m) { return m.quit; };
  const Case cases[] = {
      {"joystick A", {joyButton(SDL_JOYBUTTONDOWN, 12)}, playing},
      {"Space", {key(SDL_KEYDOWN, SDLK_SPACE)}, playing},
      {"a", {key(SDL_KEYDOWN, SDLK_a)}, playing},
      {"Tab tapped", {key(SDL_KEYDOWN, SDLK_TAB), key(SDL_KEYUP, SDLK_TAB)}, editMode},
      {"joystick SELECT tapped",
       {joyButton(SDL_JOYBUTTONDOWN, 9), joyButton(SDL_JOYBUTTONUP, 9)},
       editMode},
      {"Escape", {key(SDL_KEYDOWN, SDLK_ESCAPE)}, quit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    harness::freshMachine(s, startTick);
    ASSERT_EQ(0, c.field(s));
    for (const SDL_Event& e : c.events) {
      push(e);
    }
    drainEvents(s);
    EXPECT_EQ(1, c.field(s));
  }
}

TEST_F(Loop, UnmappedKeysAndOtherEventsChangeNothing) {
  SDL_Event motion = ofType(SDL_MOUSEMOTION);
  motion.motion.x = 100;
  motion.motion.y = 100;
  SDL_Event click = ofType(SDL_MOUSEBUTTONDOWN);
  click.button.button = SDL_BUTTON_LEFT;
  SDL_Event axis = ofType(SDL_JOYAXISMOTION);
  axis.jaxis.axis = 0;
  axis.jaxis.value = -32768;
  SDL_Event hat = ofType(SDL_JOYHATMOTION);
  hat.jhat.value = SDL_HAT_LEFT;
  SDL_Event focus = ofType(SDL_ACTIVEEVENT);
  focus.active.gain = 0;
  focus.active.state = SDL_APPINPUTFOCUS;
  const SDL_Event events[] = {
      key(SDL_KEYDOWN, SDLK_c),
      key(SDL_KEYDOWN, SDLK_c, KMOD_LSHIFT),
      key(SDL_KEYDOWN, SDLK_c, KMOD_LALT | KMOD_NUM),
      key(SDL_KEYUP, SDLK_c, KMOD_LCTRL),
      key(SDL_KEYDOWN, SDLK_q, KMOD_LCTRL),
      key(SDL_KEYDOWN, SDLK_s, KMOD_LCTRL), // no pattern file, so no save
      key(SDL_KEYDOWN, SDLK_LCTRL, KMOD_LCTRL),
      key(SDL_KEYDOWN, SDLK_F1),
      key(SDL_KEYUP, SDLK_z),
      joyButton(SDL_JOYBUTTONDOWN, 1),
      joyButton(SDL_JOYBUTTONDOWN, 7),
      joyButton(SDL_JOYBUTTONDOWN, 16),
      joyButton(SDL_JOYBUTTONUP, 20),
      joyButton(SDL_JOYBUTTONDOWN, 255),
      motion,
      click,
      ofType(SDL_MOUSEBUTTONUP),
      axis,
      hat,
      focus,
      ofType(SDL_VIDEOEXPOSE),
      ofType(SDL_USEREVENT),
  };
  for (const SDL_Event& e : events) {
    SCOPED_TRACE(int(e.type));
    harness::freshMachine(s, startTick);
    distinctiveState();
    MachineState before = copyOf(s);
    std::string trace = traceOf([&] {
      push(e);
      drainEvents(s);
    });
    expectSameState(before, s);
    EXPECT_EQ("", trace);
  }
}

TEST_F(Loop, CtrlCQuitsAndPressesNothing) {
  for (int mod :
       {int(KMOD_LCTRL), int(KMOD_RCTRL), KMOD_LCTRL | KMOD_RCTRL, KMOD_LCTRL | KMOD_LSHIFT,
        KMOD_RCTRL | KMOD_RSHIFT | KMOD_LALT, KMOD_LCTRL | KMOD_CAPS | KMOD_NUM}) {
    SCOPED_TRACE(mod);
    harness::freshMachine(s, startTick);
    distinctiveState(); // a SELECT press would restart the preset cycle, for instance
    MachineState expected = copyOf(s);
    expected.quit = 1;
    std::string trace = traceOf([&] {
      push(key(SDL_KEYDOWN, SDLK_c, mod));
      drainEvents(s);
    });
    expectSameState(expected, s);
    EXPECT_EQ("", trace);
  }
}

// The states handed to the save, as the test's save records them.
std::vector<MachineState> saved;
void recordSave(const MachineState& s) {
  saved.push_back(copyOf(s));
}

TEST_F(Loop, CtrlSSavesTheBeatAndPressesNothing) {
  const struct {
    SDL_Event event;
    int saves;
  } cases[] = {
      {key(SDL_KEYDOWN, SDLK_s, KMOD_LCTRL), 1},
      {key(SDL_KEYDOWN, SDLK_s, KMOD_RCTRL | KMOD_LSHIFT), 1},
      {key(SDL_KEYDOWN, SDLK_s, KMOD_LCTRL | KMOD_CAPS | KMOD_NUM), 1},
      {key(SDL_KEYDOWN, SDLK_s), 0},
      {key(SDL_KEYDOWN, SDLK_s, KMOD_LALT), 0},
      {key(SDL_KEYUP, SDLK_s, KMOD_LCTRL), 0},
      {key(SDL_KEYDOWN, SDLK_c, KMOD_LCTRL), 0},
      {key(SDL_KEYDOWN, SDLK_ESCAPE, KMOD_LCTRL), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.event.key.keysym.sym) * 1000 + c.event.key.keysym.mod);
    harness::freshMachine(s, startTick);
    distinctiveState();
    MachineState before = copyOf(s);
    saved.clear();
    std::string trace = traceOf([&] {
      push(c.event);
      SDL_Event e;
      while (SDL_PollEvent(&e)) {
        handleEvent(s, e, testInputs, recordSave);
      }
    });
    ASSERT_EQ(int(saved.size()), c.saves);
    if (c.saves == 1) {
      expectSameState(before, saved[0]);
      expectSameState(before, s);
      EXPECT_EQ("", trace);
    }
  }
}

// ---- the whole loop ----

void expectBackgroundAt(const MachineState& s, int x, int y) {
  EXPECT_EQ(pixelAt(s.imgGUI, x, y), pixelAt(screen, x, y)) << "at " << x << "," << y;
}

// The frame of a stopped machine with nothing pressed: the background, the tempo label and
// nothing else along the top, preset B's cells in red, no cursor.
void expectIdleFrame(const MachineState& s, const char* tempoLabel = "BPM:  94.0") {
  // Along the top only the tempo label differs from the background: no step label, no SHFL.
  SDL_Surface* reference = SDL_ConvertSurface(s.imgGUI, screen->format, SDL_SWSURFACE);
  ASSERT_NE(nullptr, reference);
  drawText(reference, tempoLabel, 60, 40, 255, 255, 255);
  int differing = 0;
  for (int y = 0; y < 61; y++) {
    for (int x = 0; x < 320; x++) {
      differing += pixelAt(reference, x, y) == pixelAt(screen, x, y) ? 0 : 1;
    }
  }
  SDL_FreeSurface(reference);
  EXPECT_EQ(0, differing);

  // and the label really is there: white text in its box that the background does not have
  int whiteText = 0;
  const Rgb white = onScreen(255, 255, 255);
  for (int y = 40; y < 52; y++) {
    for (int x = 60; x < 110; x++) {
      whiteText += pixelAt(screen, x, y) == white && !(pixelAt(s.imgGUI, x, y) == white) ? 1 : 0;
    }
  }
  EXPECT_GT(whiteText, 20);

  const Rgb red = onScreen(192, 0, 0);
  for (int track = 0; track < trackCount; track++) {
    for (int step = 0; step < stepCount; step++) {
      SCOPED_TRACE(track * 100 + step);
      int x = cellX(step);
      int y = cellY(track);
      if (presetBcells[track * stepCount + step] == '1') {
        for (int dy : {0, 6, cellSize - 1}) {
          for (int dx : {0, 6, cellSize - 1}) {
            EXPECT_EQ(red, pixelAt(screen, x + dx, y + dy));
          }
        }
      } else {
        expectBackgroundAt(s, x + 6, y + 6);
      }
      // the gaps and the place of the cursor frame show the background
      expectBackgroundAt(s, x - 1, y + 6);
      expectBackgroundAt(s, x + 6, y - 1);
    }
  }
}

TEST_F(Loop, AStoppedMachineShowsTheBackgroundTempoAndPresetBEveryFrame) {
  for (int frame = 0; frame < 2; frame++) {
    SCOPED_TRACE(frame);
    SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, magenta.r, magenta.g, magenta.b));
    push(ofType(SDL_QUIT));
    s.quit = 0;
    EXPECT_EQ(0, runLoop(s));
    expectIdleFrame(s);
  }
}

TEST_F(Loop, TheFrameShowsTheTempoAfterItsAutoRepeat) {
  held[buttonR] = true;
  handleButtonDown(s, buttonR, testInputs);
  harness::clockNow = startTick + 750; // the first repeat is due
  push(ofType(SDL_QUIT));
  EXPECT_EQ(0, runLoop(s));
  expectIdleFrame(s, "BPM:  96.0");
}

TEST_F(Loop, TheLoopEndsAfterTheFrameOfThePassThatQuits) {
  struct Case {
    const char* name;
    SDL_Event event;
  };
  const Case cases[] = {
      {"Ctrl+C (left)", key(SDL_KEYDOWN, SDLK_c, KMOD_LCTRL)},
      {"Ctrl+C (right)", key(SDL_KEYDOWN, SDLK_c, KMOD_RCTRL)},
      {"Ctrl+Shift+C", key(SDL_KEYDOWN, SDLK_c, KMOD_LCTRL | KMOD_LSHIFT)},
      {"quit request", ofType(SDL_QUIT)},
      {"joystick START", joyButton(SDL_JOYBUTTONDOWN, 8)},
      {"Escape", key(SDL_KEYDOWN, SDLK_ESCAPE)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    harness::freshMachine(s, startTick);
    SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, magenta.r, magenta.g, magenta.b));
    push(c.event);
    EXPECT_EQ(0, runLoop(s));
    EXPECT_EQ(1, s.quit);
    EXPECT_TRUE(queueEmpty());
    expectIdleFrame(s);
  }
}

TEST_F(Loop, EventsAfterTheQuitInTheSamePassAreHandledAndTheirFrameDrawn) {
  // Ctrl+C, then A: the drain goes on to the end of the queue, and the frame of that pass starts
  // the transport on column 0 before the loop ends.
  push(key(SDL_KEYDOWN, SDLK_c, KMOD_LCTRL));
  push(joyButton(SDL_JOYBUTTONDOWN, buttonA));
  EXPECT_EQ(0, runLoop(s));
  EXPECT_EQ(1, s.playing);
  EXPECT_EQ(1, s.step);
  for (int track = 0; track < trackCount; track++) {
    SCOPED_TRACE(track);
    bool set = presetBcells[track * stepCount] == '1';
    EXPECT_EQ(set ? 1 : 0, Mix_Playing(track));
    Rgb cell = pixelAt(screen, cellX(0) + 6, cellY(track) + 6);
    if (set) {
      EXPECT_EQ(onScreen(0, 255, 0), cell);
    } else {
      EXPECT_EQ(pixelAt(s.imgGUI, cellX(0) + 6, cellY(track) + 6), cell);
    }
  }
  // "16th: 1 " in red at (2, 40)
  int redText = 0;
  for (int y = 40; y < 52; y++) {
    for (int x = 2; x < 50; x++) {
      redText += pixelAt(screen, x, y) == onScreen(255, 0, 0) ? 1 : 0;
    }
  }
  EXPECT_GT(redText, 10);
}

TEST_F(Loop, AQuitAlreadySetEndsTheLoopBeforeAnyFrameOrEvent) {
  s.quit = 1;
  push(joyButton(SDL_JOYBUTTONDOWN, buttonA));
  EXPECT_EQ(0, runLoop(s));
  EXPECT_EQ(0, s.playing);
  EXPECT_EQ(onScreen(magenta.r, magenta.g, magenta.b), pixelAt(screen, 5, 5));
  EXPECT_EQ(onScreen(magenta.r, magenta.g, magenta.b), pixelAt(screen, cellX(0) + 6, cellY(0) + 6));
  SDL_Event e;
  ASSERT_EQ(1, SDL_PollEvent(&e)); // the press is still waiting in the queue
  EXPECT_EQ(SDL_JOYBUTTONDOWN, e.type);
}

} // namespace
