// The command line: what the user asked for, read before anything else starts.
#pragma once

#include <cstdio>

// What the program is asked to do.
enum class Action {
  play,        // the machine, with FILE's beat when FILE is given
  exportBeat,  // write the beat to a WAV or a MIDI file, no window
  showHelp,    // the usage on standard output
  showVersion, // the version on standard output
};

// What --export writes, chosen by OUT's extension in any case.
enum class ExportKind {
  wav,  // .wav: the beat rendered as sound
  midi, // .mid or .midi: the beat as notes, a Standard MIDI File
};

struct Options {
  Action action;
  const char* file;     // the pattern file, or null
  const char* exportTo; // OUT.wav or OUT.mid with --export, else null
  int bars;             // 1..999 bars to export
  bool barsGiven;       // --bars was given; otherwise a chain is exported once
  ExportKind exportKind;
  bool resume;      // --resume: with no FILE, the beat is kept in the user's data folder
  bool sampleExact; // --sample-exact: every hit on its exact audio frame
  const char* kit;  // the user's kit folder with --kit, else null
  bool normalize;   // --normalize: the WAV export's peak brought to -1 dBFS
  char wrong[160];  // after a usage error, what was wrong: the option, the value, what it takes
  // Live MIDI out through JACK (midiout/midi_out.h), asked by --midi-out or --midi-connect.
  bool midiOut;
  const char* midiConnect; // the port --midi-connect names, else null
  int midiChannel;         // 1..16, 10 unless --midi-channel
  int midiOffsetMs;        // -50..50: every MIDI event this much later, 0 unless --midi-offset
};

// Reads argv into options. Returns 0, or EX_USAGE (64) for a command line that makes no sense;
// options is then left at its defaults but for what was wrong. Prints nothing.
int parseCommandLine(int argc, const char* const* argv, Options& options);

// Answers the command lines that end the program before it starts: prints the usage (on
// standard error after a usage error, told what was wrong first) or the version. Returns the exit
// status for those, or keepGoing when the machine or the export is to run.
constexpr int keepGoing = -1;
int answerCommandLine(int status, const Options& options, std::FILE* out, std::FILE* err);
