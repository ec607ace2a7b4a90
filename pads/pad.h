// Any game pad in SDL's standard controller layout, read as the handheld's buttons.
#pragma once

#include <SDL.h>

// One of the handheld's buttons going down or up: its index as in controls/buttons.h.
struct PadEdge {
  int button;
  bool down;
};

// Room for every edge one read can report: each of the handheld's 16 indices at most once.
constexpr int padEdgeMax = 16;

// Chooses how joystick 0 is read for the rest of the run: true for SDL's standard controller
// layout, false for the handheld's own indices. Forgets whatever was held.
void usePadLayout(bool standard);

// True while SDL's standard controller layout is in force; then the pad's own button events
// carry its own numbering and must not reach the button handlers.
bool padLayoutStandard();

// Standard layout: reads the pad once and writes the handheld buttons that went up or down since
// the last read into edges (releases first, then presses, each in index order); returns their
// count. Handheld layout: returns 0, since the joystick's events already carry the indices.
int readPad(SDL_Joystick* pad, PadEdge (&edges)[padEdgeMax]);

// Is the handheld's button held on the pad right now: in the standard layout, any control that
// stands for it (a D-pad direction or the left stick, say); otherwise the joystick's button of
// that index.
bool padHeld(SDL_Joystick* pad, int button);
