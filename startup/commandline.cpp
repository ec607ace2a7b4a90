// The command line: none, FILE, --export OUT.wav [--bars N] [FILE], --help or --version, each
// with --kit DIR anywhere among the options.
#include "commandline.h"

#include <cstring>
#include <sysexits.h>

namespace {

const int defaultBars = 4;
const int maxBars = 999;

const char usage[] = "Usage: pocketdrum [--kit DIR] [FILE]\n"
                     "       pocketdrum [--kit DIR] --export OUT.wav [--bars N] [FILE]\n"
                     "       pocketdrum --help | --version\n"
                     "\n"
                     "FILE keeps the pattern, tempo, shuffle and kit: read at start when it\n"
                     "exists, written on quitting and on Ctrl+S.\n"
                     "--export renders FILE's beat, or the start-up beat, for N bars (1..999,\n"
                     "default 4) to a 44100 Hz 16-bit stereo WAV file, without a window.\n"
                     "--kit plays the user's own sounds: in DIR, track n (1..10) plays the first\n"
                     "file whose name is n as two digits and then a non-digit (01-kick.wav,\n"
                     "02 hat.flac ... 10-clap.ogg), in any format libsndfile reads.\n";

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
  return {Action::play, nullptr, nullptr, defaultBars, nullptr};
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
    } else if (std::strcmp(arg, "--kit") == 0) {
      if (read.kit != nullptr || next == nullptr || isOption(next)) {
        return EX_USAGE;
      }
      read.kit = next;
      i++;
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
