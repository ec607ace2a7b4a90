// The main loop: one pass drains the events and draws one frame, until quit is set.
#pragma once

#include "machine.h"

// Keeps the beat somewhere beyond the machine: a pattern file, when the program was given one.
typedef void (*SaveBeat)(const MachineState& s);

// True when the pad on joystick 0 holds the button, in whichever layout it is read (pads/pad.h),
// or any key mapped to it is held.
bool buttonHeld(int button);

// The real clock and the real joystick, pad and keyboard.
extern const Inputs liveInputs;

// Routes one event: Ctrl+C and SDL's quit request end the loop, Ctrl+S saves the beat (when
// there is a save), joystick buttons (in the handheld's own layout) and mapped keys go to the
// button handlers, everything else is ignored.
void handleEvent(MachineState& s, const SDL_Event& event, const Inputs& in,
                 SaveBeat save = nullptr);

// Presses and releases from a pad read in SDL's standard controller layout, to the button
// handlers, as the pad stands now (the events drained just before have brought it up to date).
void handlePad(MachineState& s, const Inputs& in);

// One frame, from the background copy to the flip.
void renderFrame(MachineState& s, const Inputs& in);

// Drains events, reads the pad, looks after a lost audio device (engine/audio_device.h) and draws
// frames until quit is set; returns the program's exit
// status, 0. Unpaced it never waits, as the step clock needs; paced (when the sound keeps its
// own time) it waits between frames, about 60 a second, and draws only a changed picture.
// keep, when given, is called every half second to save the beat if it has changed.
int runMainLoop(MachineState& s, const Inputs& in, SaveBeat save = nullptr, bool paced = false,
                SaveBeat keep = nullptr);
