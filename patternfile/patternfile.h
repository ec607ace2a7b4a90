// Pattern files: a beat (a song of patterns, tempo, shuffle) as plain text that outlives the
// session.
#pragma once

#include <string>

#include "../engine/song.h"
#include "../machine.h"

// What a pattern file holds: the song (one pattern in the first version of the file, a bank and
// a chain in the second) with its tempo and shuffle, and the user's kit folder, when the beat
// was saved with one.
struct Beat {
  Song song;
  char kit[kitFolderBytes]; // the "kit" line's absolute path; "" when there is none
  int kitLine;              // the line it stands on, 1-based; 0 when there is none
};

// Files above this size are refused before they are parsed.
constexpr size_t maxPatternFileBytes = 64 * 1024;

// The outcome of reading a pattern file.
enum class ReadStatus {
  loaded,  // the beat was read
  missing, // nothing is there yet: the machine starts as usual and the first save creates it
  refused, // unreadable or malformed: the program must not start, nor ever write over it
};

// Reads FILE into beat. On refused, complaint is what the one line for the user says:
// "FILE:LINE: MESSAGE", or "FILE: MESSAGE" for the whole file.
ReadStatus readBeatFile(const char* path, Beat& beat, std::string& complaint);

// Parses a file's bytes. On failure returns false with the message, and line the 1-based line it
// is about (one past the last line for something missing at the end), or 0 for the whole file.
bool parseBeat(const std::string& bytes, Beat& beat, int& line, std::string& message);

// The file's text for a beat played on kit: the header, the tempo, the shuffle, the kit line for
// a kit of the user's, and ten rows, each followed by the name of its track's file. A song of
// more than slot 1 is written as the second version: the slot and chain lines, then each slot
// with hits or in the chain as a "pattern N" line and its rows.
std::string beatText(const Beat& beat, const SampleBank& kit);

// The shortest of "%.0f" .. "%.6f" that strtof reads back as the same float.
std::string tempoText(float bpm);

// Writes the beat to FILE without ever leaving a mix of old and new: a temporary file beside the
// target (the file a symbolic link points to), flushed to disk, then renamed over it. An existing
// file keeps its permissions; a new one gets 0644 less the umask. On failure writes one line
// naming the file and the reason to standard error, leaves the old file as it was, returns false.
bool saveBeatFile(const char* path, const Beat& beat, const SampleBank& kit);

// The beat the machine is playing now, with the folder of the kit it plays.
Beat beatOf(const MachineState& s);

// Puts a beat into the machine: its song, tempo with its step length, and shuffle.
void applyBeat(MachineState& s, const Beat& beat);
