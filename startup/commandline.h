// The command line: what the user asked for, read before anything else starts.
#pragma once

#include <cstdio>

// What the program is asked to do.
enum class Action {
  play,        // the machine, with FILE's beat when FILE is given
  exportBeat,  // render the beat to a WAV file, no window
  showHelp,    // the usage on standard output
  showVersion, // the version on standard output
};

struct Options {
  Action action;
  const char* file;     // the pattern file, or null
  const char* exportTo; // OUT.wav with --export, else null
  int bars;             // 1..999 bars to export
  const char* kit;      // the user's kit folder with --kit, else null
};

// Reads argv into options. Returns 0, or EX_USAGE (64) for a command line that makes no sense;
// options is then left at its defaults. Prints nothing.
int parseCommandLine(int argc, const char* const* argv, Options& options);

// Answers the command lines that end the program before it starts: prints the usage (on
// standard error after a usage error) or the version. Returns the exit status for those, or
// keepGoing when the machine or the export is to run.
constexpr int keepGoing = -1;
int answerCommandLine(int status, const Options& options, std::FILE* out, std::FILE* err);
