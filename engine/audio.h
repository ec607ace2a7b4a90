// The sound as the machine makes it: the device's format and the level of each track.
#pragma once

#include <SDL.h>

constexpr int audioRate = 44100;       // frames per second
constexpr Uint16 audioFormat = 0x8010; // signed 16-bit little-endian (AUDIO_S16LSB)
constexpr int audioChannels = 2;       // stereo
constexpr int audioBufferFrames = 512; // the mixing quantum, 11.6 ms
constexpr int mixVolume = 12; // of the mixer's 128: ten tracks at once stay clear of clipping
