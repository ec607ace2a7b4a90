// The user's own kit: ten sounds from a folder, in any format libsndfile reads, decoded to the
// mixer's 44100 Hz 16-bit stereo before any window opens.
#pragma once

#include <sndfile.h>
#include <string>

#include "../machine.h"

// Makes bank from the folder dir. Track n (1..10) plays the first file, in byte order of names,
// whose name is n as two digits and then a non-digit ("01-kick.wav", "02 hat.flac"); a track
// with no such file, or with one that cannot be decoded, gets one line on standard error and
// stays silent. where begins the lines about the folder as a whole. Returns 0, or EX_NOINPUT
// (66) after one line "WHERE: reason" when dir is missing, not a folder or unreadable, or when
// no sound of the kit could be loaded; bank then holds no chunk. after ends those lines.
int loadKit(const char* dir, const std::string& where, SampleBank& bank, const char* after = "");

// The kit that --kit DIR names; its lines begin "pocketdrum: DIR".
int loadKitFolder(const char* dir, SampleBank& bank);

// The kit that the "kit" line of a pattern file names; its lines begin
// "pocketdrum: FILE:LINE: kit folder PATH".
int loadRememberedKit(const char* file, int line, const char* dir, SampleBank& bank);

// The same for the beat that --resume keeps, which must start whatever became of its kit: false,
// after one line that ends "the built-in kit plays instead", where the kit cannot be loaded.
bool loadResumedKit(const char* file, int line, const char* dir, SampleBank& bank);

// Frees the chunks that loadKit made, while no mixer channel plays them, and empties the slots.
void freeKit(SampleBank& bank);

// The sound of a file libsndfile has opened, as a chunk of the mixer's 44100 Hz 16-bit stereo
// that owns its buffer: at most 60 s of it, and what the file holds where its header claims more.
// Null, with the reason, when no sound comes of it.
Mix_Chunk* chunkOfSound(SNDFILE* file, const SF_INFO& info, std::string& reason);
