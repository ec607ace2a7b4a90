// The handheld's button map: what each press and release does, SELECT as a modifier, edit mode.
#pragma once

#include "../machine.h"

// Joystick button indices of the handheld; the diagonals (1, 3, 5, 7) and 16 up are ignored.
enum Button {
  buttonUp = 0,
  buttonLeft = 2,
  buttonDown = 4,
  buttonRight = 6,
  buttonStart = 8,
  buttonSelect = 9,
  buttonL = 10,
  buttonR = 11,
  buttonA = 12,
  buttonB = 13,
  buttonY = 14,
  buttonX = 15,
};

// The button a desktop key stands for, or -1 for a key that does nothing.
int buttonForKey(SDLKey key);

// True when any key mapped to the button is held.
bool keyHeld(int button);

void handleButtonDown(MachineState& s, int button, const Inputs& in);
void handleButtonUp(MachineState& s, int button);

// Moves the cursor one cell for a direction button, wrapping at the edges; false for any other.
bool moveCursor(MachineState& s, int button);
