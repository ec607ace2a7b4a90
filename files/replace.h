// A file replaced whole or not at all: written into a temporary file beside it, flushed to disk,
// then renamed over it, so that a crash or a power loss leaves the old file or the new one.
#pragma once

#include <cstddef>
#include <string>

struct Replacement {
  std::string target; // the file replaced: the path, or where its chain of symbolic links ends
  std::string temp;   // the hidden temporary file beside it
  int fd;             // open on temp for writing, or -1
};

// Opens the temporary file. It gets the target's permissions (and owner, when root saves someone
// else's file) when the target exists, 0644 less the umask when not. Returns null, or the reason
// nothing could be started: the system's, or "not a regular file" for a device or a FIFO, which
// is never replaced.
const char* beginReplacement(const char* path, Replacement& r);

// Writes all of size bytes to the temporary file; false with errno set.
bool writeReplacement(Replacement& r, const void* data, size_t size);

// Flushes the temporary file to disk and renames it over the target. Returns null, or the
// system's reason; then the temporary file is gone and the target is as it was. The folder is
// not flushed: a power loss right after the rename may bring back the old file, never a mix, and
// a save costs half as much.
const char* finishReplacement(Replacement& r);

// Drops the temporary file after a failed write; returns the reason for errno as it stood.
const char* abandonReplacement(Replacement& r);
