// The beat put into a sound file: the engine run offline over the mixer's own decoded samples
// (engine/engine.h), written as a 44100 Hz 16-bit stereo WAV.
#pragma once

#include <string>
#include <vector>

#include "../engine/song.h"
#include "../machine.h"

// Writes frames as a WAV file, through a temporary file beside path that is renamed over it, so
// that a failure never leaves part of a file. On failure gives the system's reason.
bool writeWav(const char* path, const std::vector<Sint16>& frames, std::string& reason);

// The whole export for a mixer already open and a loaded bank: renders, writes outPath and prints
// "Wrote OUT: N bars at T BPM (S.S s)". Returns 0, or 73 after one line on standard error naming
// outPath and the reason. With normalize the voices are mixed at full precision and one gain
// brings the peak to -1 dBFS, without clipping; the line ends with that gain against the plain
// export, or says the beat is silent and was written at 0 dB.
int exportBeat(const char* outPath, int bars, const Song& song, const SampleBank& bank,
               bool normalize = false);

// The export as the command line asks for it, before any window: SDL's audio alone on its dummy
// driver, the mixer opened and the built-in kit loaded from assetDir as start-up does, or the
// user's kit when one is given (it stays the caller's), then exportBeat. Returns exportBeat's
// status, or 1 after one line on standard error when SDL or the mixer cannot start.
int runExport(const char* outPath, int bars, const Song& song, const char* assetDir,
              const SampleBank* kit = nullptr, bool normalize = false);
