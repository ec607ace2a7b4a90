// A game pad made in software for the tests: SDL 2's virtual joystick, attached in the very SDL 2
// library that the SDL 1.2 compatibility layer loads, with a mapping that makes SDL take it for a
// game controller. Only plain types cross this header, so SDL 1.2 code can include it.
#pragma once

namespace virtualpad {

// Loads SDL 2, lets its joystick input through without window focus, attaches the pad and gives
// SDL its mapping. Call before the SDL 1.2 SDL_Init, which lists the joysticks once. False, with
// the reason in error(), when any of it fails.
bool attach();

const char* error();

// Sets one control, named as in SDL's controller mappings: a button or a D-pad direction ("a",
// "back", "dpleft") to 1 or 0, an axis ("leftx", "righttrigger") to -32768..32767. The change is
// seen at the next SDL_PumpEvents. False for an unknown name or a pad not attached.
bool set(const char* control, int value);

// Sets the pad's own button index (0..16), whatever SDL's mapping makes of it, to 1 or 0.
bool setButton(int index, int value);

// The name of control i of the pad, 0 up; nullptr past the last.
const char* controlName(int i);

} // namespace virtualpad
