// The beat as a Standard MIDI File, for any sequencer: format 0, 96 ticks a quarter note, the
// General MIDI drum notes on channel 10. It needs neither the samples nor SDL's audio.
#pragma once

#include <string>

#include "../engine/song.h"

// Ticks a quarter note; a sixteenth is a quarter of that, and shuffle's 5:3 split of a pair of
// sixteenths (the odd step a quarter of a step late) is a whole number of ticks.
constexpr int midiTicksPerQuarter = 96;

// The tick at which step i (0, 1, 2 ... from the start) begins.
long midiStepTick(long i, int shuffle);

// The whole file for bars bars of the song, bar by bar through its chain.
std::string midiFile(const Song& song, int bars);

// Writes the file to outPath whole or not at all and prints "Wrote OUT: N bars at T BPM (S.S s)",
// S.S the length of the bars. Returns 0, or 73 after one line on standard error naming outPath
// and the reason.
int exportMidi(const char* outPath, int bars, const Song& song);
