// Any game pad in SDL's standard controller layout, read as the handheld's buttons.
//
// On the compatibility layer with its game-controller setting on, every pad is listed with SDL's
// standard controller buttons in SDL's order and its axes as LEFTX, LEFTY, ... The layer sends no
// joystick events for such a pad (SDL 2's controller events are never started), so the pad is
// read by polling, once per pass of the loop, and its changes become presses and releases.
#include "pad.h"

#include <cstdlib>
#include <initializer_list>

#include "../controls/buttons.h"

namespace {

// SDL's standard controller buttons, in the order the layer numbers them.
enum PadButton {
  padA = 0,
  padB = 1,
  padX = 2,
  padY = 3,
  padBack = 4,
  padStart = 6,
  padLeftShoulder = 9,
  padRightShoulder = 10,
  padDpadUp = 11,
  padDpadDown = 12,
  padDpadLeft = 13,
  padDpadRight = 14,
};

// What each pad button is on the handheld; the guide button, the sticks' clicks, misc, the
// paddles and the touchpad are not listed, so they do nothing.
struct ButtonBinding {
  int padButton;
  int button;
};
constexpr ButtonBinding buttonMap[] = {
    {padA, buttonA},
    {padB, buttonB},
    {padX, buttonX},
    {padY, buttonY},
    {padBack, buttonSelect},
    {padStart, buttonStart},
    {padLeftShoulder, buttonL},
    {padRightShoulder, buttonR},
    {padDpadUp, buttonUp},
    {padDpadDown, buttonDown},
    {padDpadLeft, buttonLeft},
    {padDpadRight, buttonRight},
};

// The left stick's two axes, each on its own: negative is left and up. The right stick and the
// triggers (axes 2 to 5) are not listed.
struct StickAxis {
  int axis;
  int negative;
  int positive;
};
constexpr StickAxis stickMap[] = {
    {0, buttonLeft, buttonRight}, // LEFTX
    {1, buttonUp, buttonDown},    // LEFTY
};
constexpr int stickAxisCount = sizeof stickMap / sizeof stickMap[0];

// An axis reads -32768..32767. Past half of its travel it presses a direction; only back under
// 30 % does it let go, so a stick resting near the threshold never chatters.
constexpr int axisTravel = 32768;
constexpr int pressPercent = 50;
constexpr int releasePercent = 30;

struct PadState {
  bool standard;
  Uint32 held;               // handheld buttons held after the last read, bit n for index n
  int stick[stickAxisCount]; // -1, 0 or +1 after the last read
};
PadState pad = {false, 0, {0, 0}};

Uint32 bit(int button) {
  return Uint32(1) << button;
}

// -1, 0 or +1 for an axis now, given where it stood: between the two thresholds it stays put,
// unless it has crossed the centre.
int stickPosition(int value, int was) {
  int magnitude = std::abs(value);
  int side = value < 0 ? -1 : 1;
  if (magnitude * 100 > axisTravel * pressPercent) {
    return side;
  }
  if (magnitude * 100 < axisTravel * releasePercent || side != was) {
    return 0;
  }
  return was;
}

// The handheld buttons the pad holds now; stick gets each axis's position.
Uint32 heldNow(SDL_Joystick* joystick, int (&stick)[stickAxisCount]) {
  Uint32 held = 0;
  for (const ButtonBinding& b : buttonMap) {
    if (SDL_JoystickGetButton(joystick, b.padButton) == 1) {
      held |= bit(b.button);
    }
  }
  for (int i = 0; i < stickAxisCount; i++) {
    stick[i] = stickPosition(SDL_JoystickGetAxis(joystick, stickMap[i].axis), pad.stick[i]);
    if (stick[i] != 0) {
      held |= bit(stick[i] < 0 ? stickMap[i].negative : stickMap[i].positive);
    }
  }
  return held;
}

} // namespace

void usePadLayout(bool standard) {
  pad = {standard, 0, {0, 0}};
}

bool padLayoutStandard() {
  return pad.standard;
}

int readPad(SDL_Joystick* joystick, PadEdge (&edges)[padEdgeMax]) {
  if (!pad.standard || joystick == nullptr) {
    return 0;
  }
  int stick[stickAxisCount];
  Uint32 held = heldNow(joystick, stick);
  int count = 0;
  for (bool down : {false, true}) {
    Uint32 changed = (held ^ pad.held) & (down ? held : pad.held);
    for (int button = 0; button < padEdgeMax; button++) {
      if (changed & bit(button)) {
        edges[count++] = {button, down};
      }
    }
  }
  pad.held = held;
  for (int i = 0; i < stickAxisCount; i++) {
    pad.stick[i] = stick[i];
  }
  return count;
}

bool padHeld(SDL_Joystick* joystick, int button) {
  if (joystick == nullptr) {
    return false;
  }
  if (!pad.standard) {
    return SDL_JoystickGetButton(joystick, button) == 1;
  }
  if (button < 0 || button >= padEdgeMax) {
    return false;
  }
  int stick[stickAxisCount];
  return (heldNow(joystick, stick) & bit(button)) != 0;
}
