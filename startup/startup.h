// Bringing the machine up: the screen, the background with its labels, the font, the sound and
// the kit, in the order the program runs them. Nothing here exits, changes directory or
// registers an exit handler; the caller decides what a failure means.
#pragma once

#include <string>

#include "../engine/audio.h"
#include "../engine/audio_device.h"
#include "../machine.h"

constexpr int screenWidth = 320;
constexpr int screenHeight = 240;
constexpr int screenDepth = 16;

// Hides the pointer and sets the 320 x 240 x 16 software mode into screen; false, with SDL's
// error text set, when the mode is refused.
bool openScreen();

// Everything after the video mode up to the state's initial values: joystick 0 and the layout
// it is read in, the background
// with the track labels and the credit, the font, the first picture, the audio device, the ten
// samples, the channels and their volumes. assetDir is the folder that holds gui.png, the font
// and sounds/. A missing asset or device is reported on standard error and the machine runs on.
// kit, when given, is the user's kit, already loaded, which plays instead of the built-in one.
void loadMachine(MachineState& s, const std::string& assetDir, const SampleBank* kit = nullptr);

// The built-in kit's names and empty folder, with every slot null.
void nameBuiltInKit(SampleBank& bank);

// Loads the built-in kit in track order from assetDir, with its names and no folder; a slot
// stays null, with a line on standard error, when its file is missing or not Ogg Vorbis.
void loadSamples(SampleBank& bank, const std::string& assetDir);

// Every field but samples and imgGUI at its start-up value; ticks is the tick count read once
// the samples have loaded.
void initMachineState(MachineState& s, Uint32 ticks);
