// The beat the desktop entry keeps between sessions: with --resume and no FILE, the pattern file
// is last.pdrum in the user's data folder, read and saved by every rule of a FILE, except that a
// file the machine cannot use is moved aside instead of stopping the start.
#pragma once

#include <string>

#include "patternfile.h"

// DATA/pocketdrum/last.pdrum, DATA being xdgDataHome when that is an absolute path, otherwise
// home/.local/share as the XDG rules say. Empty when neither gives a folder.
std::string resumeFilePath(const char* xdgDataHome, const char* home);

// The file --resume keeps the beat in, and the beat in it. Returns the file to save to, with read
// loaded or missing. A file that cannot be read or understood is renamed to FILE.refused, over
// an older one, with one line on standard error, and read is missing. Returns an empty string,
// after one line, when there is nothing to save to: no home folder, or a refused file that could
// not be moved aside and must not be written over.
std::string resumeBeat(Beat& beat, ReadStatus& read);

// Saves as saveBeatFile does, first creating the file's folder and its parents, mode 0700, where
// they are missing. On failure one line naming the file or the folder and the reason.
bool saveResumedBeat(const char* path, const Beat& beat, const SampleBank& kit);
