// The command line: none, [--sample-exact] FILE, --export OUT.wav [--bars N] [FILE], --help or
// --version.
#include "commandline.h"

#include <cstring>
#include <sysexits.h>

namespace {

const int defaultBars = 4;
const int maxBars = 999;

const char usage[] = "Usage: pocketdrum [--sample-exact] [FILE]\n"
                     "       pocketdrum --export OUT.wav [--bars N] [FILE]\n"
                     "       pocketdrum --help | --version\n"
                     "\n"
                     "FILE keeps the pattern, tempo and shuffle: read at start when it exists,\n"
                     "written on quitting and on Ctrl+S.\n"
                     "--export renders FILE's beat, or the start-up beat, for N bars (1..999,\n"
                     "default 4) to a 44100 Hz 16-bit stereo WAV file, without a window.\n"
                     "--sample-exact plays every hit on its exact audio frame, after a constant\n"
                     "latency of a buffer or two, and leaves the processor idle between frames.\n";

bool isOption(const char* arg) {
  return arg[0] == '-';
}

// A whole number in 1..maxBars, digits only.
bool parseBars(const char* text, int& bars) {
  if (text == nullptr || text[0] == '\0') {
    return false;
  }
  long value = 0;
  for (const char* c = text; *c != '\0'; c++) {
    if (*c < '0' || *c > '9') {
      return false;
    }
    value = value * 10 + (*c - '0');
    if (value > maxBars) {
      return false;
    }
  }
  bars = int(value);
  return bars >= 1;
}

Options defaults() {
  return {Action::play, nullptr, nullptr, defaultBars, false};
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
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    if (std::strcmp(arg, "--export") == 0) {
      if (read.action == Action::exportBeat || next == nullptr || isOption(next)) {
        return EX_USAGE;
      }
      read.action = Action::exportBeat;
      read.exportTo = next;
      i++;
    } else if (std::strcmp(arg, "--sample-exact") == 0) {
      if (read.sampleExact) {
        return EX_USAGE;
      }
      read.sampleExact = true;
    } else if (std::strcmp(arg, "--bars") == 0) {
      if (barsText != nullptr || next == nullptr) {
        return EX_USAGE;
      }
      barsText = next;
      i++;
    } else if (isOption(arg) || read.file != nullptr) {
      return EX_USAGE;
    } else {
      read.file = arg;
    }
  }
  if (barsText != nullptr &&
      (read.action != Action::exportBeat || !parseBars(barsText, read.bars))) {
    return EX_USAGE;
  }
  // the export is always exact
  if (read.sampleExact && read.action == Action::exportBeat) {
    return EX_USAGE;
  }
  options = read;
  return 0;
}

int answerCommandLine(int status, const Options& options, std::FILE* out, std::FILE* err) {
  if (status != 0) {
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
