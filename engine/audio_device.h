// The audio device: opened as the machine plays it, watched at run time for its loss (a sound
// server restarted, a headset gone), and opened again until the sound comes back.
#pragma once

#include <SDL.h>

// Opens the audio device as the machine plays it, with one mixer channel per track; false when
// it could not be opened.
bool openAudio();

// Watches the device opened at start-up, where SDL 2 under the compatibility layer can tell its
// state (a real SDL 1.2 cannot: nothing is then watched). A device that did not open at start-up
// is not watched either.
void watchAudio();

// Once a pass of the main loop, at tick now: notices a loss within a quarter of a second and says
// so, then tries to open the device again once a second, and says when the sound is back. The
// beat goes on meanwhile: the step clock runs, and the sample-exact engine keeps its place.
void keepAudio(Uint32 now);
