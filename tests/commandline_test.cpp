// The command line: what each one asks for, which ones are usage errors, and what is printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "startup/commandline.h"

namespace {

// What a command line should come to.
struct LineCase {
  std::vector<const char*> args; // after the program's name
  int status;                    // 0 or 64
  Action action;
  const char* file;
  const char* exportTo;
  int bars;
  const char* kit = nullptr;
  bool resume = false;
  ExportKind kind = ExportKind::wav;
};

constexpr ExportKind midi = ExportKind::midi;

const LineCase lineCases[] = {
    {{}, 0, Action::play, nullptr, nullptr, 4},
    {{"beat.txt"}, 0, Action::play, "beat.txt", nullptr, 4},
    {{"./-odd name.txt"}, 0, Action::play, "./-odd name.txt", nullptr, 4},
    {{"--export", "out.wav"}, 0, Action::exportBeat, nullptr, "out.wav", 4},
    {{"--export", "out.wav", "beat.txt"}, 0, Action::exportBeat, "beat.txt", "out.wav", 4},
    {{"beat.txt", "--export", "out.wav"}, 0, Action::exportBeat, "beat.txt", "out.wav", 4},
    {{"--export", "out.wav", "--bars", "1"}, 0, Action::exportBeat, nullptr, "out.wav", 1},
    {{"--bars", "999", "--export", "out.wav", "b.txt"},
     0,
     Action::exportBeat,
     "b.txt",
     "out.wav",
     999},
    {{"--export", "out.wav", "--bars", "016"}, 0, Action::exportBeat, nullptr, "out.wav", 16},
    {{"--help"}, 0, Action::showHelp, nullptr, nullptr, 4},
    {{"beat.txt", "--help", "--bogus"}, 0, Action::showHelp, nullptr, nullptr, 4},
    {{"--version"}, 0, Action::showVersion, nullptr, nullptr, 4},
    {{"--version", "--help"}, 0, Action::showVersion, nullptr, nullptr, 4},

    {{"-h"}, 64, Action::play, nullptr, nullptr, 4},
    {{"-"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--verbose", "beat.txt"}, 64, Action::play, nullptr, nullptr, 4},
    {{"beat.txt", "other.txt"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "out.wav", "a.txt", "b.txt"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "--bars", "2"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "a.wav", "--export", "b.wav"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--bars", "4"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--bars", "4", "beat.txt"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "out.wav", "--bars"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "out.wav", "--bars", "0"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "out.wav", "--bars", "1000"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "out.wav", "--bars", "99999999999999999999"},
     64,
     Action::play,
     nullptr,
     nullptr,
     4},
    {{"--export", "out.wav", "--bars", "-4"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "out.wav", "--bars", "+4"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "out.wav", "--bars", "2.5"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "out.wav", "--bars", ""}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "out.wav", "--bars", "4", "--bars", "4"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export=out.wav"}, 64, Action::play, nullptr, nullptr, 4},

    // The extension chooses the export's file, in any case; any other is a usage error.
    {{"--export", "out.mid"}, 0, Action::exportBeat, nullptr, "out.mid", 4, nullptr, false, midi},
    {{"--export", "a.MIDI", "b"}, 0, Action::exportBeat, "b", "a.MIDI", 4, nullptr, false, midi},
    {{"--export", "dir.mid/OUT.WaV"}, 0, Action::exportBeat, nullptr, "dir.mid/OUT.WaV", 4},
    {{"--export", "out.ogg"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "out"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "out.mid.txt"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "out.wave"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "out.mi"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "out.wav", "--export", "out.mid"}, 64, Action::play, nullptr, nullptr, 4},

    // --resume, with or without FILE; it keeps a beat, so an export takes none.
    {{"--resume"}, 0, Action::play, nullptr, nullptr, 4, nullptr, true},
    {{"--resume", "b.pdrum"}, 0, Action::play, "b.pdrum", nullptr, 4, nullptr, true},
    {{"b.pdrum", "--resume"}, 0, Action::play, "b.pdrum", nullptr, 4, nullptr, true},
    {{"--resume", "--resume"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--resume", "a.pdrum", "b.pdrum"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--resume", "--export", "out.mid"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "out.wav", "b.pdrum", "--resume"}, 64, Action::play, nullptr, nullptr, 4},
    // --sample-exact: with FILE or without; never with --export, which is always exact
    {{"--sample-exact"}, 0, Action::play, nullptr, nullptr, 4},
    {{"beat.txt", "--sample-exact"}, 0, Action::play, "beat.txt", nullptr, 4},
    {{"--sample-exact", "--export", "out.wav"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--export", "out.wav", "b.txt", "--sample-exact"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--sample-exact", "--sample-exact"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--sample-exact", "--help"}, 0, Action::showHelp, nullptr, nullptr, 4},
    // --kit anywhere among the options, with or without FILE and --export
    {{"beat.txt", "--kit", "my kit"}, 0, Action::play, "beat.txt", nullptr, 4, "my kit"},
    {{"--export", "o.wav", "--kit", "k", "--bars", "2"},
     0,
     Action::exportBeat,
     nullptr,
     "o.wav",
     2,
     "k"},
    {{"--kit", "k", "--export", "o.mid", "b.txt"},
     0,
     Action::exportBeat,
     "b.txt",
     "o.mid",
     4,
     "k",
     false,
     midi},
    {{"--sample-exact", "--kit", "k", "--resume"}, 0, Action::play, nullptr, nullptr, 4, "k", true},
    {{"beat.txt", "--kit"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--kit", "--export", "o.wav"}, 64, Action::play, nullptr, nullptr, 4},
    {{"--kit", "a", "--kit", "b"}, 64, Action::play, nullptr, nullptr, 4},
};

// MIDI out's options: what each line asks of it, or a usage error.
struct MidiCase {
  std::vector<const char*> args;
  int status;
  const char* connect;
  int channel;
  int offsetMs;
};

const MidiCase midiCases[] = {
    {{"--midi-out"}, 0, nullptr, 10, 0},
    {{"--midi-connect", "synth:in", "b.txt"}, 0, "synth:in", 10, 0},
    {{"--midi-out", "--resume", "--midi-connect", "synth:in"}, 0, "synth:in", 10, 0},
    {{"--midi-out", "--midi-channel", "1", "--midi-offset", "-50"}, 0, nullptr, 1, -50},
    {{"--midi-offset", "50", "--midi-channel", "16", "--midi-out", "--sample-exact"},
     0,
     nullptr,
     16,
     50},
    {{"--midi-connect", "p", "--midi-offset", "-007"}, 0, "p", 10, -7},
    {{"--midi-out", "--midi-out"}, 64, nullptr, 10, 0},
    {{"--midi-connect", "a", "--midi-connect", "b"}, 64, nullptr, 10, 0},
    {{"--midi-connect"}, 64, nullptr, 10, 0},
    {{"--midi-connect", "--midi-out"}, 64, nullptr, 10, 0},
    {{"--midi-out", "--midi-channel", "0"}, 64, nullptr, 10, 0},
    {{"--midi-out", "--midi-channel", "17"}, 64, nullptr, 10, 0},
    {{"--midi-out", "--midi-channel", "-1"}, 64, nullptr, 10, 0},
    {{"--midi-out", "--midi-channel"}, 64, nullptr, 10, 0},
    {{"--midi-out", "--midi-channel", "2", "--midi-channel", "2"}, 64, nullptr, 10, 0},
    {{"--midi-out", "--midi-offset", "51"}, 64, nullptr, 10, 0},
    {{"--midi-out", "--midi-offset", "-51"}, 64, nullptr, 10, 0},
    {{"--midi-out", "--midi-offset", "-99999999999999999999"}, 64, nullptr, 10, 0},
    {{"--midi-out", "--midi-offset", "-"}, 64, nullptr, 10, 0},
    {{"--midi-out", "--midi-offset", "+5"}, 64, nullptr, 10, 0},
    {{"--midi-out", "--midi-offset", "1.5"}, 64, nullptr, 10, 0},
    {{"--midi-channel", "3"}, 64, nullptr, 10, 0},
    {{"--midi-offset", "3", "b.txt"}, 64, nullptr, 10, 0},
    {{"--midi-out", "--export", "o.mid"}, 64, nullptr, 10, 0},
    {{"--export", "o.wav", "--midi-connect", "p"}, 64, nullptr, 10, 0},
};

bool asksSampleExact(const std::vector<const char*>& args) {
  return std::any_of(args.begin(), args.end(),
                     [](const char* a) { return std::strcmp(a, "--sample-exact") == 0; });
}

std::string describe(const std::vector<const char*>& args) {
  std::string text = "pocketdrum";
  for (const char* a : args) {
    text += std::string(" '") + a + "'";
  }
  return text;
}

std::string orNull(const char* text) {
  return text == nullptr ? "(null)" : text;
}

// "pocketdrum X.Y.Z" and a line end, X, Y and Z whole numbers.
bool isVersionLine(const std::string& text) {
  const std::string name = "pocketdrum ";
  if (text.rfind(name, 0) != 0 || text.back() != '\n') {
    return false;
  }
  std::string version = text.substr(name.size(), text.size() - name.size() - 1);
  int parts = 0;
  size_t at = 0;
  while (at <= version.size()) {
    size_t end = std::min(version.find('.', at), version.size());
    if (end == at || version.find_first_not_of("0123456789", at) < end) {
      return false;
    }
    parts++;
    at = end + 1;
  }
  return parts == 3;
}

// What a call printed to a stream, which is then emptied for the next.
std::string takeWritten(std::FILE* stream) {
  std::fflush(stream);
  std::string text(size_t(std::ftell(stream)), '\0');
  std::rewind(stream);
  text.resize(std::fread(&text[0], 1, text.size(), stream));
  std::rewind(stream);
  if (ftruncate(fileno(stream), 0) != 0) {
    ADD_FAILURE() << "cannot empty the capture file";
  }
  return text;
}

TEST(CommandLine, EachLineComesToItsOptionsAndStatus) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  ASSERT_NE(out, nullptr);
  ASSERT_NE(err, nullptr);
  for (const LineCase& c : lineCases) {
    SCOPED_TRACE(describe(c.args));
    std::vector<const char*> argv = {"pocketdrum"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Options options;
    int status = parseCommandLine(int(argv.size()), argv.data(), options);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(options.action, c.action);
    EXPECT_EQ(orNull(options.file), orNull(c.file));
    EXPECT_EQ(orNull(options.exportTo), orNull(c.exportTo));
    EXPECT_EQ(options.bars, c.bars);
    EXPECT_EQ(options.exportKind, c.kind);
    EXPECT_EQ(options.resume, c.resume);
    EXPECT_EQ(options.sampleExact,
              c.status == 0 && c.action == Action::play && asksSampleExact(c.args));
    EXPECT_EQ(orNull(options.kit), orNull(c.kit));
    EXPECT_FALSE(options.midiOut);

    // What is printed, and whether the program goes on to start.
    testing::internal::CaptureStderr();
    int answer = answerCommandLine(status, options, out, err);
    std::string told = testing::internal::GetCapturedStderr();
    std::string printed = takeWritten(out);
    std::string complained = takeWritten(err);
    if (c.status == 64) {
      EXPECT_EQ(complained.rfind("Usage: pocketdrum", 0), 0u) << complained;
      EXPECT_EQ(told.rfind("pocketdrum: ", 0), 0u) << "what was wrong, told first";
      EXPECT_GT(told.size(), std::strlen("pocketdrum: \n"));
      EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told;
    } else {
      EXPECT_EQ(told, "");
      EXPECT_EQ(complained, "");
    }
    switch (c.action) {
    case Action::showHelp:
      EXPECT_EQ(answer, 0);
      EXPECT_EQ(printed.rfind("Usage: pocketdrum", 0), 0u) << printed;
      EXPECT_NE(printed.find("--export OUT.wav [--bars N] [FILE]"), std::string::npos);
      EXPECT_NE(printed.find("[--kit DIR] --export OUT.mid [--bars N] [FILE]"), std::string::npos);
      EXPECT_NE(printed.find("[--resume] [--kit DIR] [FILE]"), std::string::npos);
      break;
    case Action::showVersion:
      EXPECT_EQ(answer, 0);
      EXPECT_TRUE(isVersionLine(printed)) << printed;
      break;
    default:
      EXPECT_EQ(answer, c.status == 0 ? keepGoing : 64);
      EXPECT_EQ(printed, "");
      break;
    }
  }
  std::fclose(out);
  std::fclose(err);
}

// A usage error names the option, the value given and what it takes.
const std::pair<std::vector<const char*>, const char*> complaints[] = {
    {{"--export", "x.flac"}, "--export x.flac: OUT ends in .wav, .mid or .midi"},
    {{"--export", "o.wav", "--bars", "0"}, "--bars 0: N is a whole number from 1 to 999"},
    {{"--export", "o.wav", "--bars", "1000"}, "--bars 1000: N is a whole number from 1 to 999"},
    {{"--bars", "4"}, "--bars goes with --export"},
    {{"--kit"}, "--kit needs a folder"},
    {{"--verbose", "b.txt"}, "no option --verbose"},
    {{"a.txt", "b.txt"}, "one FILE only, not a.txt and b.txt"},
    {{"--resume", "--resume"}, "--resume is given twice"},
    {{"--midi-out", "--midi-channel", "17"}, "--midi-channel 17: N is a whole number from 1 to 16"},
};

TEST(CommandLine, AUsageErrorSaysWhatWasWrong) {
  for (const auto& [args, said] : complaints) {
    std::vector<const char*> argv = {"pocketdrum"};
    argv.insert(argv.end(), args.begin(), args.end());
    Options options;
    EXPECT_EQ(parseCommandLine(int(argv.size()), argv.data(), options), 64);
    EXPECT_STREQ(options.wrong, said);
  }
}

TEST(CommandLine, MidiOutOptions) {
  for (const MidiCase& c : midiCases) {
    SCOPED_TRACE(describe(c.args));
    std::vector<const char*> argv = {"pocketdrum"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Options options;
    EXPECT_EQ(parseCommandLine(int(argv.size()), argv.data(), options), c.status);
    EXPECT_EQ(options.midiOut, c.status == 0);
    EXPECT_EQ(orNull(options.midiConnect), orNull(c.connect));
    EXPECT_EQ(options.midiChannel, c.channel);
    EXPECT_EQ(options.midiOffsetMs, c.offsetMs);
    EXPECT_EQ(options.sampleExact, c.status == 0 && asksSampleExact(c.args));
  }
}

} // namespace
