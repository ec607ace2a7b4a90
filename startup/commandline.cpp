// The command line: none, [--sample-exact] [--resume] [FILE], --export OUT.wav|OUT.mid [--bars N]
// [--normalize] [FILE], --help or --version, each with --kit DIR anywhere among the options; the
// machine also with MIDI out through JACK.
#include "commandline.h"

#include <cstring>
#include <string>
#include <strings.h>
#include <sysexits.h>

#include "../machine.h"

namespace {

const int defaultBars = 4;
const int maxBars = 999;
const int defaultMidiChannel = 10; // General MIDI's drum channel
const int maxMidiOffsetMs = 50;

const char usage[] =
    "Usage: pocketdrum [--sample-exact] [--resume] [--kit DIR] [FILE]\n"
    "       pocketdrum [--kit DIR] --export OUT.wav [--bars N] [FILE]\n"
    "       pocketdrum [--kit DIR] --export OUT.mid [--bars N] [FILE]\n"
    "       pocketdrum --midi-out|--midi-connect PORT [--midi-channel N]\n"
    "                  [--midi-offset MS] [--sample-exact] [--resume] [--kit DIR] [FILE]\n"
    "       pocketdrum --help | --version\n"
    "\n"
    "FILE keeps the pattern, tempo, shuffle and kit: read at start when it\n"
    "exists, written on quitting and on Ctrl+S. --resume without FILE keeps them in\n"
    "$XDG_DATA_HOME/pocketdrum/last.pdrum (~/.local/share when that is\n"
    "unset or relative).\n"
    "--export writes FILE's beat, or the start-up beat, for N bars (1..999;\n"
    "default: FILE's chain once, or 4), without a window: OUT.wav as 44100 Hz\n"
    "16-bit stereo sound, OUT.mid or OUT.midi as General MIDI drum notes on\n"
    "channel 10. With OUT.wav, --normalize brings the peak to -1 dBFS.\n"
    "--sample-exact plays every hit on its exact audio frame, after a constant\n"
    "latency of a buffer or two, and leaves the processor idle between frames.\n"
    "--kit plays the user's own sounds: in DIR, track n (1..10) plays the first\n"
    "file whose name is n as two digits and then a non-digit (01-kick.wav,\n"
    "02 hat.flac ... 10-clap.ogg), in any format libsndfile reads.\n"
    "--midi-out sends the beat's notes and MIDI clock live from the JACK port\n"
    "pocketdrum:midi_out; --midi-connect also connects it to PORT. The notes go on\n"
    "channel N (1..16, default 10); --midi-offset moves every event MS ms\n"
    "(-50..50) later, to line the notes up with the sound.\n";

// --export's file kinds by extension, matched in any case.
struct ExportExtension {
  const char* extension;
  ExportKind kind;
};
const ExportExtension exportExtensions[] = {
    {".wav", ExportKind::wav},
    {".mid", ExportKind::midi},
    {".midi", ExportKind::midi},
};

bool isOption(const char* arg) {
  return arg[0] == '-';
}

// A whole number in least..most: digits only, after a minus sign where least is negative.
bool parseWhole(const char* text, int least, int most, int& number) {
  if (text == nullptr) {
    return false;
  }
  bool minus = least < 0 && text[0] == '-';
  const char* c = minus ? text + 1 : text;
  if (*c == '\0') {
    return false;
  }
  long value = 0;
  for (; *c != '\0'; c++) {
    if (*c < '0' || *c > '9') {
      return false;
    }
    value = value * 10 + (*c - '0');
    if (value > (minus ? -long(least) : long(most))) {
      return false;
    }
  }
  number = int(minus ? -value : value);
  return number >= least && number <= most;
}

// The kind that path's extension names; false for any other.
bool exportKindOf(const char* path, ExportKind& kind) {
  const char* dot = std::strrchr(path, '.');
  for (const ExportExtension& e : exportExtensions) {
    if (dot != nullptr && strcasecmp(dot, e.extension) == 0) {
      kind = e.kind;
      return true;
    }
  }
  return false;
}

Options defaults() {
  return {Action::play, nullptr, nullptr, defaultBars, false,   ExportKind::wav,    false, false,
          nullptr,      false,   "",      false,       nullptr, defaultMidiChannel, 0};
}

// A usage error: options back at their defaults, with what was wrong.
int refuse(Options& options, const std::string& what) {
  options = defaults();
  std::snprintf(options.wrong, sizeof options.wrong, "%s", what.c_str());
  return EX_USAGE;
}

std::string given(const char* option, const char* value) {
  return value != nullptr ? std::string(option) + " " + value : option;
}

} // namespace

int parseCommandLine(int argc, const char* const* argv, Options& options) {
  options = defaults();
  // --help and --version answer whatever else is on the line.
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--help") == 0) {
      options.action = Action::showHelp;
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      options.action = Action::showVersion;
      return 0;
    }
  }
  Options read = defaults();
  const char* barsText = nullptr;
  const std::string twice = " is given twice";
  const char* channelText = nullptr;
  const char* offsetText = nullptr;
  bool midiOutSeen = false;
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    if (std::strcmp(arg, "--export") == 0) {
      if (read.action == Action::exportBeat) {
        return refuse(options, arg + twice);
      }
      if (next == nullptr || isOption(next) || !exportKindOf(next, read.exportKind)) {
        return refuse(options, given(arg, next) + ": OUT ends in .wav, .mid or .midi");
      }
      read.action = Action::exportBeat;
      read.exportTo = next;
      i++;
    } else if (std::strcmp(arg, "--sample-exact") == 0) {
      if (read.sampleExact) {
        return refuse(options, arg + twice);
      }
      read.sampleExact = true;
    } else if (std::strcmp(arg, "--kit") == 0) {
      if (read.kit != nullptr) {
        return refuse(options, arg + twice);
      }
      if (next == nullptr || isOption(next)) {
        return refuse(options, "--kit needs a folder");
      }
      read.kit = next;
      i++;
    } else if (std::strcmp(arg, "--bars") == 0) {
      if (barsText != nullptr) {
        return refuse(options, arg + twice);
      }
      if (next == nullptr) {
        return refuse(options, "--bars needs N, 1 to 999");
      }
      barsText = next;
      i++;
    } else if (std::strcmp(arg, "--normalize") == 0) {
      if (read.normalize) {
        return refuse(options, arg + twice);
      }
      read.normalize = true;
    } else if (std::strcmp(arg, "--midi-out") == 0) {
      if (midiOutSeen) {
        return refuse(options, arg + twice);
      }
      midiOutSeen = read.midiOut = true;
    } else if (std::strcmp(arg, "--midi-connect") == 0) {
      if (read.midiConnect != nullptr) {
        return refuse(options, arg + twice);
      }
      if (next == nullptr || isOption(next)) {
        return refuse(options, "--midi-connect takes a JACK port");
      }
      read.midiOut = true;
      read.midiConnect = next;
      i++;
    } else if (std::strcmp(arg, "--midi-channel") == 0 || std::strcmp(arg, "--midi-offset") == 0) {
      // the offset may be negative, so the value is taken whatever it starts with
      const char*& text = arg[7] == 'c' ? channelText : offsetText;
      if (text != nullptr) {
        return refuse(options, arg + twice);
      }
      if (next == nullptr) {
        return refuse(options, std::string(arg) + " takes a number");
      }
      text = next;
      i++;
    } else if (std::strcmp(arg, "--resume") == 0) {
      if (read.resume) {
        return refuse(options, arg + twice);
      }
      read.resume = true;
    } else if (isOption(arg)) {
      return refuse(options, std::string("no option ") + arg);
    } else if (read.file != nullptr) {
      return refuse(options, std::string("one FILE only, not ") + read.file + " and " + arg);
    } else {
      read.file = arg;
    }
  }
  if (barsText != nullptr && read.action != Action::exportBeat) {
    return refuse(options, "--bars goes with --export");
  }
  if (barsText != nullptr && !parseWhole(barsText, 1, maxBars, read.bars)) {
    return refuse(options, given("--bars", barsText) + ": N is a whole number from 1 to 999");
  }
  read.barsGiven = barsText != nullptr;
  // a gain for sound: a WAV export alone
  if (read.normalize && (read.action != Action::exportBeat || read.exportKind != ExportKind::wav)) {
    return refuse(options, "--normalize goes with --export OUT.wav alone");
  }
  // the channel and the offset are MIDI out's, which plays live only
  if ((channelText != nullptr || offsetText != nullptr) && !read.midiOut) {
    return refuse(options, "--midi-channel and --midi-offset go with --midi-out");
  }
  if (channelText != nullptr && !parseWhole(channelText, 1, 16, read.midiChannel)) {
    return refuse(options,
                  given("--midi-channel", channelText) + ": N is a whole number from 1 to 16");
  }
  if (offsetText != nullptr &&
      !parseWhole(offsetText, -maxMidiOffsetMs, maxMidiOffsetMs, read.midiOffsetMs)) {
    return refuse(options,
                  given("--midi-offset", offsetText) + ": MS is a whole number from -50 to 50");
  }
  if (read.midiOut && read.action == Action::exportBeat) {
    return refuse(
        options, "--midi-out and --midi-connect do not go with --export, which plays nothing live");
  }
  // the export writes a beat it is given; it keeps none
  if (read.resume && read.action == Action::exportBeat) {
    return refuse(options, "--resume does not go with --export, which keeps no beat");
  }
  // the export is always exact
  if (read.sampleExact && read.action == Action::exportBeat) {
    return refuse(options, "--sample-exact does not go with --export, which is always exact");
  }
  options = read;
  return 0;
}

int answerCommandLine(int status, const Options& options, std::FILE* out, std::FILE* err) {
  if (status != 0) {
    tell("%s", options.wrong);
    std::fputs(usage, err);
    return status;
  }
  switch (options.action) {
  case Action::showHelp:
    std::fputs(usage, out);
    return 0;
  case Action::showVersion:
    std::fprintf(out, "pocketdrum %s\n", POCKETDRUM_VERSION);
    return 0;
  default:
    return keepGoing;
  }
}
