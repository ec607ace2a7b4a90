// The pad map through SDL's own joystick path: a game controller made in SDL 2 (tests/pad/), listed
// by the compatibility layer as joystick 0, read as the handheld's buttons.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/buttons.h"
#include "harness.h"
#include "pad/virtual_pad.h"
#include "pads/pad.h"
#include "startup/sdl_settings.h"

namespace {

// The pad's controls as the README documents them, by SDL's names for an Xbox-style pad: the
// value that presses each, and the handheld button it stands for. Every control not listed does
// nothing.
struct Binding {
  const char* control;
  int value;
  int button;
};
const Binding documentedPad[] = {
    {"a", 1, buttonA},
    {"b", 1, buttonB},
    {"x", 1, buttonX},
    {"y", 1, buttonY},
    {"back", 1, buttonSelect},
    {"start", 1, buttonStart},
    {"leftshoulder", 1, buttonL},
    {"rightshoulder", 1, buttonR},
    {"dpup", 1, buttonUp},
    {"dpdown", 1, buttonDown},
    {"dpleft", 1, buttonLeft},
    {"dpright", 1, buttonRight},
    {"leftx", -32768, buttonLeft},
    {"leftx", 32767, buttonRight},
    {"lefty", -32768, buttonUp},
    {"lefty", 32767, buttonDown},
};

struct Edge {
  int button;
  bool down;
  bool operator==(const Edge& o) const {
    return button == o.button && down == o.down;
  }
};

void PrintTo(const Edge& e, std::ostream* os) {
  *os << (e.down ? "down " : "up ") << e.button;
}

// Sets one control, lets SDL see it, and reads the pad as the loop does once per pass.
std::vector<Edge> setAndRead(const char* control, int value) {
  EXPECT_TRUE(virtualpad::set(control, value)) << control;
  SDL_PumpEvents();
  PadEdge edges[padEdgeMax];
  int count = readPad(joy, edges);
  std::vector<Edge> read;
  for (int i = 0; i < count; i++) {
    read.push_back({edges[i].button, edges[i].down});
  }
  return read;
}

// The handheld buttons that the held poll reports, bit n for index n.
Uint32 heldMask() {
  Uint32 mask = 0;
  for (int b = 0; b < 16; b++) {
    if (padHeld(joy, b)) {
      mask |= 1u << b;
    }
  }
  return mask;
}

bool documented(const char* control) {
  for (const Binding& b : documentedPad) {
    if (std::string(b.control) == control) {
      return true;
    }
  }
  return false;
}

class Pad : public testing::Test {
protected:
  static void SetUpTestSuite() {
    attached = virtualpad::attach();
    // as the program starts: the settings, then SDL, then start-up opens joystick 0 and
    // chooses its layout
    applySdlSettings(*SDL_Linked_Version());
    harness::startSdl();
    standardAtStart = padLayoutStandard();
  }
  void SetUp() override {
    ASSERT_TRUE(attached) << virtualpad::error();
    ASSERT_NE(nullptr, joy) << "the compatibility layer lists no pad: " << SDL_GetError();
    ASSERT_TRUE(standardAtStart);
    usePadLayout(true);
  }
  void TearDown() override {
    for (int i = 0; virtualpad::controlName(i) != nullptr; i++) {
      virtualpad::set(virtualpad::controlName(i), 0);
    }
    SDL_PumpEvents();
    usePadLayout(true);
  }
  static bool attached;
  static bool standardAtStart;
};
bool Pad::attached = false;
bool Pad::standardAtStart = false;

TEST_F(Pad, ListedInSdlsStandardLayout) {
  EXPECT_EQ(22, SDL_JoystickNumButtons(joy));
  EXPECT_EQ(0, SDL_JoystickNumHats(joy));
  EXPECT_LE(6, SDL_JoystickNumAxes(joy));
}

TEST_F(Pad, EachDocumentedControlPressesAndReleasesItsButton) {
  for (const Binding& b : documentedPad) {
    SCOPED_TRACE(std::string(b.control) + " " + std::to_string(b.value));
    EXPECT_EQ((std::vector<Edge>{{b.button, true}}), setAndRead(b.control, b.value));
    EXPECT_EQ(1u << b.button, heldMask());
    EXPECT_EQ((std::vector<Edge>{{b.button, false}}), setAndRead(b.control, 0));
    EXPECT_EQ(0u, heldMask());
  }
}

TEST_F(Pad, EveryOtherControlDoesNothing) {
  int ignored = 0;
  for (int i = 0; virtualpad::controlName(i) != nullptr; i++) {
    const char* control = virtualpad::controlName(i);
    if (documented(control)) {
      continue;
    }
    ignored++;
    // an axis at either end, a button pressed
    for (int value : {1, 32767, -32768}) {
      SCOPED_TRACE(std::string(control) + " " + std::to_string(value));
      EXPECT_EQ(std::vector<Edge>{}, setAndRead(control, value));
      EXPECT_EQ(0u, heldMask());
    }
    EXPECT_EQ(std::vector<Edge>{}, setAndRead(control, 0));
  }
  // guide, both sticks' clicks, misc, four paddles, touchpad, the right stick's two axes, two
  // triggers
  EXPECT_EQ(13, ignored);
}

// One axis walked through its thresholds, the other held still at either end or in the middle.
// The positions are where the axis stands after each value: -1, 0 or +1.
TEST_F(Pad, StickPressesPastHalfAndReleasesUnderThirtyPercent) {
  struct Move {
    int value;
    int position;
  };
  const Move walk[] = {
      {16384, 0},                            // exactly half is not past it
      {16385, 1},                            // just past half
      {9831, 1},                             // above 30 % it stays
      {9830, 0},                             // under 30 % of 32768 (9830.4) it lets go
      {16000, 0},                            // climbing back inside the band presses nothing
      {32767, 1},                            // the end
      {-32768, -1},                          // straight across: one release, then the other press
      {-16385, -1}, {-9831, -1},  {9831, 0}, // inside the band, but across the centre
      {-9831, 0},                            // inside the band from the centre
      {-16384, 0},  {-16385, -1}, {-9830, 0}, {0, 0},
  };
  struct Axis {
    const char* control;
    int negative;
    int positive;
  };
  const Axis axes[] = {{"leftx", buttonLeft, buttonRight}, {"lefty", buttonUp, buttonDown}};
  for (const Axis& moved : axes) {
    const Axis& other = &moved == &axes[0] ? axes[1] : axes[0];
    for (int otherValue : {0, 32767, -32768}) {
      SCOPED_TRACE(std::string(moved.control) + ", " + other.control + " at " +
                   std::to_string(otherValue));
      Uint32 otherHeld = 0;
      if (otherValue != 0) {
        int button = otherValue < 0 ? other.negative : other.positive;
        EXPECT_EQ((std::vector<Edge>{{button, true}}), setAndRead(other.control, otherValue));
        otherHeld = 1u << button;
      }
      int was = 0;
      for (const Move& m : walk) {
        SCOPED_TRACE(m.value);
        std::vector<Edge> expected;
        auto buttonAt = [&](int position) {
          return position < 0 ? moved.negative : moved.positive;
        };
        if (was != m.position && was != 0) {
          expected.push_back({buttonAt(was), false});
        }
        if (was != m.position && m.position != 0) {
          expected.push_back({buttonAt(m.position), true});
        }
        EXPECT_EQ(expected, setAndRead(moved.control, m.value));
        Uint32 movedHeld = m.position == 0 ? 0u : 1u << buttonAt(m.position);
        EXPECT_EQ(movedHeld | otherHeld, heldMask());
        was = m.position;
      }
      setAndRead(other.control, 0);
    }
  }
}

// A direction held by the D-pad and the stick at once is one button: down with the first, up
// with the last.
TEST_F(Pad, DpadAndStickHoldOneDirectionTogether) {
  struct Move {
    const char* control;
    int value;
    std::vector<Edge> edges;
    bool leftHeld;
  };
  const Move moves[] = {
      {"dpleft", 1, {{buttonLeft, true}}, true},
      {"leftx", -32768, {}, true},
      {"dpleft", 0, {}, true},
      {"leftx", -12000, {}, true}, // in the band: the stick still holds it
      {"leftx", 0, {{buttonLeft, false}}, false},
      {"leftx", -20000, {{buttonLeft, true}}, true},
      {"dpleft", 1, {}, true},
      {"leftx", 0, {}, true},
      {"dpleft", 0, {{buttonLeft, false}}, false},
      {"dpright", 1, {{buttonRight, true}}, false},
      {"leftx", -32768, {{buttonLeft, true}}, true}, // left and right at once, as on a D-pad
      {"dpright", 0, {{buttonRight, false}}, true},
      {"leftx", 0, {{buttonLeft, false}}, false},
  };
  for (const Move& m : moves) {
    SCOPED_TRACE(std::string(m.control) + " " + std::to_string(m.value));
    EXPECT_EQ(m.edges, setAndRead(m.control, m.value));
    EXPECT_EQ(m.leftHeld, padHeld(joy, buttonLeft));
  }
}

// Changes seen in one read come out releases first, then presses, each in index order: SELECT
// is down before the B pressed with it, and a direction let go before the next is pressed.
TEST_F(Pad, OneReadReportsReleasesThenPressesInIndexOrder) {
  virtualpad::set("b", 1);
  virtualpad::set("back", 1);
  virtualpad::set("dpup", 1);
  EXPECT_EQ(
      (std::vector<Edge>{{buttonUp, true}, {buttonSelect, true}, {buttonL, true}, {buttonB, true}}),
      setAndRead("leftshoulder", 1));
  virtualpad::set("dpup", 0);
  virtualpad::set("leftshoulder", 0);
  EXPECT_EQ((std::vector<Edge>{{buttonUp, false}, {buttonL, false}, {buttonDown, true}}),
            setAndRead("dpdown", 1));
  EXPECT_EQ(std::vector<Edge>{}, setAndRead("dpdown", 1));
}

// The loop's pad step hands the pad's changes to the button handlers, the live polls that the
// handlers and the repeats read answer from the pad, and the pad's own button events are not
// taken for the handheld's.
TEST_F(Pad, PlaysTheMachineThroughTheLoop) {
  MachineState s;
  harness::freshMachine(s, SDL_GetTicks());
  struct Step {
    const char* control;
    int value;
    int playing, editMode, cursorStep, cursorTrack;
    float bpm;
    int quit;
    int held; // the one handheld button the live poll reports down, or -1
  };
  const Step steps[] = {
      {"a", 1, 1, 0, 0, 0, 94.0f, 0, buttonA},
      {"a", 0, 1, 0, 0, 0, 94.0f, 0, -1},
      {"back", 1, 1, 0, 0, 0, 94.0f, 0, buttonSelect},
      {"back", 0, 1, 1, 0, 0, 94.0f, 0, -1}, // a SELECT tap: edit mode
      {"dpright", 1, 1, 1, 1, 0, 94.0f, 0, buttonRight},
      {"dpright", 0, 1, 1, 1, 0, 94.0f, 0, -1},
      {"lefty", -32768, 1, 1, 1, 9, 94.0f, 0, buttonUp},
      {"lefty", -12000, 1, 1, 1, 9, 94.0f, 0, buttonUp},
      {"lefty", 0, 1, 1, 1, 9, 94.0f, 0, -1},
      {"guide", 1, 1, 1, 1, 9, 94.0f, 0, -1},
      {"guide", 0, 1, 1, 1, 9, 94.0f, 0, -1},
      {"rightshoulder", 1, 1, 1, 1, 9, 95.0f, 0, buttonR},
      {"rightshoulder", 0, 1, 1, 1, 9, 95.0f, 0, -1},
      {"x", 1, 1, 1, 1, 9, 95.0f, 0, buttonX},
      {"x", 0, 1, 1, 1, 9, 95.0f, 0, -1},
      {"start", 1, 1, 1, 1, 9, 95.0f, 1, buttonStart},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.control) + " " + std::to_string(step.value));
    virtualpad::set(step.control, step.value);
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      handleEvent(s, event, liveInputs);
    }
    handlePad(s, liveInputs);
    EXPECT_EQ(step.playing, s.playing);
    EXPECT_EQ(step.editMode, s.editMode);
    EXPECT_EQ(step.cursorStep, s.cursorStep);
    EXPECT_EQ(step.cursorTrack, s.cursorTrack);
    EXPECT_EQ(step.bpm, s.bpm);
    EXPECT_EQ(step.quit, s.quit);
    for (int b = 0; b < 16; b++) {
      EXPECT_EQ(b == step.held, liveInputs.isDown(b)) << "button " << b;
    }
  }
  EXPECT_EQ(1, s.shuffle);

  // In this layout the pad's own button 8 is its right stick's click, not START.
  MachineState before = harness::copyOf(s);
  s.quit = 0;
  before.quit = 0;
  SDL_Event start = {};
  start.type = SDL_JOYBUTTONDOWN;
  start.jbutton.button = buttonStart;
  handleEvent(s, start, liveInputs);
  harness::expectSameState(before, s);
  Mix_HaltChannel(-1);
}

// With the setting off (this test's environment sets 0) the layer lists the pad as it is, and the
// handheld's indices serve unchanged: the joystick's own events and buttons, no reads.
TEST(HandheldLayout, JoystickIndicesServeUnchanged) {
  ASSERT_TRUE(virtualpad::attach()) << virtualpad::error();
  applySdlSettings(*SDL_Linked_Version());
  harness::startSdl();
  ASSERT_FALSE(gameControllerLayout(*SDL_Linked_Version()));
  usePadLayout(false);
  if (joy == nullptr) {
    joy = SDL_JoystickOpen(0);
  }
  ASSERT_NE(nullptr, joy);
  SDL_JoystickEventState(SDL_ENABLE);
  EXPECT_EQ(17, SDL_JoystickNumButtons(joy));
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
  }
  // the pad's own button n is the handheld's button n, whatever SDL's mapping calls it
  for (int n = 0; n < 16; n++) {
    SCOPED_TRACE(n);
    ASSERT_TRUE(virtualpad::setButton(n, 1));
    SDL_PumpEvents();
    PadEdge edges[padEdgeMax];
    EXPECT_EQ(0, readPad(joy, edges));
    EXPECT_EQ(1u << n, heldMask());
    EXPECT_TRUE(liveInputs.isDown(n));
    std::vector<Edge> events;
    while (SDL_PollEvent(&event)) {
      if (event.type == SDL_JOYBUTTONDOWN || event.type == SDL_JOYBUTTONUP) {
        events.push_back({event.jbutton.button, event.type == SDL_JOYBUTTONDOWN});
      }
    }
    EXPECT_EQ((std::vector<Edge>{{n, true}}), events);
    ASSERT_TRUE(virtualpad::setButton(n, 0));
    SDL_PumpEvents();
    EXPECT_EQ(0u, heldMask());
    while (SDL_PollEvent(&event)) {
    }
  }
}

} // namespace
