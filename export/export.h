// The beat put into a sound file: the pattern rendered offline from the mixer's own decoded
// samples, at the exact frame of every step, and written as a 44100 Hz 16-bit stereo WAV.
#pragma once

#include <string>
#include <vector>

#include "../machine.h"

// The frame, at start-up's audioRate of 44100 a second, at which step i (0, 1, 2 ... from the
// start of the export) begins. Shuffle delays the odd steps by a quarter of a step.
long long stepFrame(long long i, float bpm, int shuffle);

// Interleaved stereo frames, left then right, of bars bars of cells (160 cells of '0' or '1',
// track-major) at bpm. Needs the mixer open at 44100 Hz, signed 16-bit, stereo, since it uses
// the chunks as the mixer decoded them; a null chunk is a silent track.
std::vector<Sint16> renderBeat(const char* cells, float bpm, int shuffle, int bars,
                               const SampleBank& bank);

// Writes frames as a WAV file, through a temporary file beside path that is renamed over it, so
// that a failure never leaves part of a file. On failure gives the system's reason.
bool writeWav(const char* path, const std::vector<Sint16>& frames, std::string& reason);

// The whole export for a mixer already open and a loaded bank: renders, writes outPath and prints
// "Wrote OUT: N bars at T BPM (S.S s)". Returns 0, or 73 after one line on standard error naming
// outPath and the reason.
int exportBeat(const char* outPath, int bars, const char* cells, float bpm, int shuffle,
               const SampleBank& bank);

// The export as the command line asks for it, before any window: SDL's audio alone on its dummy
// driver, the mixer opened and the built-in kit loaded from assetDir as start-up does, or the
// user's kit when one is given (it stays the caller's), then exportBeat. Returns exportBeat's
// status, or 1 after one line on standard error when SDL or the mixer cannot start.
int runExport(const char* outPath, int bars, const char* cells, float bpm, int shuffle,
              const char* assetDir, const SampleBank* kit = nullptr);
