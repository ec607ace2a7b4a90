// The SDL 1.2 compatibility layer's settings that the program chooses for itself, before SDL_Init.
#pragma once

#include <SDL.h>

// True for the compatibility layer over SDL 2, which reports 1.2.50 and up; the old SDL 1.2
// stops at 1.2.15 and knows none of the settings.
bool isCompatLayer(const SDL_version& linked);

// On the compatibility layer: game pads in SDL's standard controller layout, the window at 3x
// with sharp pixels. Each is set only where the user has not set it, so their own value wins.
// Call before SDL_Init, with SDL_Linked_Version(); does nothing on the old SDL 1.2.
void applySdlSettings(const SDL_version& linked);

// True when joystick 0 reports SDL's standard controller layout rather than the handheld's
// indices: the compatibility layer with its game-controller setting on, by the program or the user.
bool gameControllerLayout(const SDL_version& linked);
