// Pattern files on a real file system: good and bad files through the reader with their exact
// complaints, the writer's text read back for a sweep of tempos, and saves that succeed (new
// files, kept permissions, symbolic links) and saves that fail without touching the old file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "display/labels.h"
#include "harness.h"
#include "patternfile/patternfile.h"
#include "sequencer/pattern.h"
#include "sequencer/transport.h"
#include "startup/startup.h"

namespace {

namespace fs = std::filesystem;
using harness::floatBits;
using harness::fromBits;

// The beat every good file below holds, in the file's own notation.
const char* const rows[trackCount] = {
    "x...x.......x...", "..x...x.x.x...x.", "x......x...x....", "....x.......x...",
    ".........x..x..x", ".......x..x...x.", "..x..x..x..x..x.", ".......x...x....",
    "..x...x.x.x...x.", ".......x..x.....",
};

// Rows first..first+count-1, each with a comment after the cells, and the line end given.
std::string rowLines(int count, const std::string& eol = "\n", int first = 0) {
  std::string text;
  for (int t = first; t < first + count; t++) {
    text += std::string(rows[t]) + "  track " + std::to_string(t) + eol;
  }
  return text;
}

const std::string head = "pocketdrum pattern 1\ntempo 94\nshuffle off\n";
const std::string good = head + rowLines(trackCount);
const std::string songHead = "pocketdrum pattern 2\ntempo 94\nshuffle off\n";

// A pattern of the second version: its line and its ten rows.
std::string slotLines(int slot) {
  return "pattern " + std::to_string(slot) + "\n" + rowLines(trackCount);
}

std::string withoutLastLf(const std::string& text) {
  return text.substr(0, text.size() - 1);
}

std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  return out;
}

// A good file whose tempo line and shuffle line are given.
std::string goodWith(const std::string& tempoLine, const std::string& shuffleLine = "shuffle off") {
  return "pocketdrum pattern 1\n" + tempoLine + "\n" + shuffleLine + "\n" + rowLines(trackCount);
}

// A good file padded with a comment up to exactly size bytes.
std::string goodOfSize(size_t size) {
  std::string comment = "#" + std::string(size - good.size() - 2, '-') + "\n";
  return comment + good;
}

// A fresh folder for one test, removed afterwards.
struct Scratch {
  fs::path dir;
  Scratch() {
    std::string name = (fs::temp_directory_path() / "pocketdrum-XXXXXX").string();
    dir = mkdtemp(&name[0]);
  }
  ~Scratch() {
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir);
  }
  std::string path(const char* name) const {
    return (dir / name).string();
  }
  void write(const std::string& path, const std::string& bytes) const {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  // Everything in the folder, to see that a save left no temporary file behind.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

std::string contentsOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Where the file under test lives.
enum class Place {
  file,      // a file holding the bytes
  directory, // a folder
  underFile, // a path that runs through a plain file
};

struct FileCase {
  const char* name;
  Place place;
  std::string bytes;
  const char* complaint; // with FILE for the path; null when the file loads
  float bpm = 0.0f;      // what a good file holds
  int shuffle = 0;
  const char* kit = ""; // the kit line's folder
  int kitLine = 0;
};

const FileCase fileCases[] = {
    // good files
    {"plain", Place::file, good, nullptr, 94.0f, 0},
    {"byte-order mark", Place::file, "\xEF\xBB\xBF" + good, nullptr, 94.0f, 0},
    {"CR before every LF", Place::file, crlf(good), nullptr, 94.0f, 0},
    {"no LF after the last row", Place::file, withoutLastLf(good), nullptr, 94.0f, 0},
    {"CRLF and no line end at the end", Place::file, withoutLastLf(crlf(good)), nullptr, 94.0f, 0},
    {"comments and blank lines anywhere", Place::file,
     "# a beat\n\npocketdrum pattern 1\n   \n# how fast\ntempo 94\n\t\nshuffle on\n#\n" +
         rowLines(5) + "\n# second half\n" + rowLines(5, "\n", 5) + "\n# end",
     nullptr, 94.0f, 1},
    {"rows without comments", Place::file,
     head +
         [] {
           std::string text;
           for (const char* row : rows) {
             text += std::string(row) + "\n";
           }
           return text;
         }(),
     nullptr, 94.0f, 0},
    {"comment after a tab, with # and UTF-8", Place::file,
     head + rowLines(9) + rows[9] + "\t# caf\xC3\xA9 snare x.x\n", nullptr, 94.0f, 0},
    {"keys spaced out", Place::file, goodWith("tempo \t 94  ", "shuffle   on\t"), nullptr, 94.0f,
     1},
    {"lowest tempo", Place::file, goodWith("tempo 20"), nullptr, 20.0f, 0},
    {"highest tempo", Place::file, goodWith("tempo 220.000"), nullptr, 220.0f, 0},
    {"tempo with decimals", Place::file, goodWith("tempo 94.1"), nullptr, 94.1f, 0},
    {"tempo with leading zeros", Place::file, goodWith("tempo 0099.90"), nullptr, 99.9f, 0},
    {"tempo a hair above 20", Place::file, goodWith("tempo 20.000000001"), nullptr, 20.0f, 0},
    {"exactly 64 KiB", Place::file, goodOfSize(64 * 1024), nullptr, 94.0f, 0},
    {"kit line after a comment, spaced out, spaces and '#' inside, CRLF", Place::file,
     crlf(head + "# sounds\n\tkit \t /my kits/#1 808 \t\n" + rowLines(trackCount)), nullptr, 94.0f,
     0, "/my kits/#1 808", 5},

    // the whole file
    {"missing folder on the way", Place::underFile, good, "FILE: Not a directory"},
    {"directory", Place::directory, "", "FILE: is a directory"},
    {"one byte over 64 KiB", Place::file, goodOfSize(64 * 1024 + 1), "FILE: larger than 64 KiB"},
    {"empty", Place::file, "", "FILE: not a pattern file"},
    {"only blank and comment lines", Place::file, "\xEF\xBB\xBF# nothing\n\n  \r\n#\n",
     "FILE: not a pattern file"},

    // the header
    {"some other text", Place::file, "hello\n" + good, "FILE:1: not a pattern file"},
    {"header after comments, in capitals", Place::file, "# x\n\nPocketdrum pattern 1\n",
     "FILE:3: not a pattern file"},
    {"header with a trailing blank", Place::file, "pocketdrum pattern 1 \ntempo 94\n",
     "FILE:1: not a pattern file"},
    {"header without a version", Place::file, "pocketdrum pattern\n", "FILE:1: not a pattern file"},
    {"lines ended by CR alone", Place::file, "pocketdrum pattern 1\rtempo 94\rshuffle off\r",
     "FILE:1: not a pattern file"},
    {"version 3", Place::file, "pocketdrum pattern 3\ntempo 94\n", "FILE:1: unsupported version 3"},
    {"version 10 after a comment", Place::file, "\xEF\xBB\xBF# new\npocketdrum pattern 10\r\n",
     "FILE:2: unsupported version 10"},

    // the keys
    {"nothing after the header", Place::file, "pocketdrum pattern 1\n", "FILE:2: expected 'tempo'"},
    {"nothing after the header, no LF", Place::file, "pocketdrum pattern 1",
     "FILE:2: expected 'tempo'"},
    {"tempo missing", Place::file, "pocketdrum pattern 1\nshuffle off\n" + rowLines(10),
     "FILE:2: expected 'tempo'"},
    {"unknown key", Place::file, goodWith("speed 94"), "FILE:2: expected 'tempo'"},
    {"key in capitals", Place::file, goodWith("Tempo 94"), "FILE:2: expected 'tempo'"},
    {"row where the tempo belongs", Place::file, "pocketdrum pattern 1\n" + rowLines(10),
     "FILE:2: expected 'tempo'"},
    {"tempo repeated", Place::file, goodWith("tempo 94", "tempo 95"), "FILE:3: expected 'shuffle'"},
    {"shuffle missing at the end", Place::file, "pocketdrum pattern 1\ntempo 94\n\n# rows\n",
     "FILE:5: expected 'shuffle'"},
    {"shuffle missing before the rows", Place::file,
     "pocketdrum pattern 1\ntempo 94\n" + rowLines(10), "FILE:3: expected 'shuffle'"},

    // the tempo
    {"tempo without a value", Place::file, goodWith("tempo"),
     "FILE:2: tempo must be a number from 20 to 220"},
    {"tempo with a comment", Place::file, goodWith("tempo 94 # fast"),
     "FILE:2: tempo must be a number from 20 to 220"},
    {"tempo in words", Place::file, goodWith("tempo fast"),
     "FILE:2: tempo must be a number from 20 to 220"},
    {"tempo below 20", Place::file, goodWith("tempo 19.99"),
     "FILE:2: tempo must be a number from 20 to 220"},
    {"tempo a hair below 20", Place::file, goodWith("tempo 19.9999999999"),
     "FILE:2: tempo must be a number from 20 to 220"},
    {"tempo above 220", Place::file, goodWith("tempo 220.01"),
     "FILE:2: tempo must be a number from 20 to 220"},
    {"tempo a hair above 220", Place::file, goodWith("tempo 220.0000000001"),
     "FILE:2: tempo must be a number from 20 to 220"},
    {"tempo with a sign", Place::file, goodWith("tempo +94"),
     "FILE:2: tempo must be a number from 20 to 220"},
    {"tempo ending in a point", Place::file, goodWith("tempo 94."),
     "FILE:2: tempo must be a number from 20 to 220"},
    {"tempo starting with a point", Place::file, goodWith("tempo .94"),
     "FILE:2: tempo must be a number from 20 to 220"},
    {"tempo with an exponent", Place::file, goodWith("tempo 9.4e1"),
     "FILE:2: tempo must be a number from 20 to 220"},
    {"tempo with a decimal comma", Place::file, goodWith("tempo 94,5"),
     "FILE:2: tempo must be a number from 20 to 220"},
    {"tempo in hexadecimal", Place::file, goodWith("tempo 0x5E"),
     "FILE:2: tempo must be a number from 20 to 220"},
    {"tempo with two points", Place::file, goodWith("tempo 94.1.2"),
     "FILE:2: tempo must be a number from 20 to 220"},

    // the shuffle
    {"shuffle yes", Place::file, goodWith("tempo 94", "shuffle yes"),
     "FILE:3: shuffle must be 'on' or 'off'"},
    {"shuffle in capitals", Place::file, goodWith("tempo 94", "shuffle ON"),
     "FILE:3: shuffle must be 'on' or 'off'"},
    {"shuffle without a value", Place::file, goodWith("tempo 94", "shuffle"),
     "FILE:3: shuffle must be 'on' or 'off'"},
    {"shuffle with a comment", Place::file, goodWith("tempo 94", "shuffle off # for now"),
     "FILE:3: shuffle must be 'on' or 'off'"},

    // the rows
    {"row of 15 cells", Place::file,
     head + rowLines(4) + "x...x.......x..\n" + rowLines(5, "\n", 5),
     "FILE:8: a row is 16 cells of 'x' or '.'"},
    {"row of 17 cells", Place::file, head + "x...x.......x...x\n" + rowLines(9, "\n", 1),
     "FILE:4: a row is 16 cells of 'x' or '.'"},
    {"row with another letter", Place::file, head + rowLines(9) + "x...o.......x...\n",
     "FILE:13: a row is 16 cells of 'x' or '.'"},
    {"row in capitals", Place::file, head + "X...X.......X...\n" + rowLines(9, "\n", 1),
     "FILE:4: a row is 16 cells of 'x' or '.'"},
    {"row of ones and zeros", Place::file, head + "1000100000001000\n" + rowLines(9, "\n", 1),
     "FILE:4: a row is 16 cells of 'x' or '.'"},
    {"row indented", Place::file, head + " x...x.......x...\n" + rowLines(9, "\n", 1),
     "FILE:4: a row is 16 cells of 'x' or '.'"},
    {"comment glued to the cells", Place::file,
     head + "x...x.......x...#kick\n" + rowLines(9, "\n", 1),
     "FILE:4: a row is 16 cells of 'x' or '.'"},
    {"shuffle repeated", Place::file, head + "shuffle on\n" + rowLines(10),
     "FILE:4: a row is 16 cells of 'x' or '.'"},

    // the kit
    {"kit without a folder", Place::file, head + "kit \t \n" + rowLines(10),
     "FILE:4: kit must name a folder by its absolute path"},
    {"kit with a relative folder", Place::file, head + "kit kits/808\n" + rowLines(10),
     "FILE:4: kit must name a folder by its absolute path"},
    {"kit before the shuffle", Place::file, "pocketdrum pattern 1\ntempo 94\nkit /k\nshuffle off\n",
     "FILE:3: expected 'shuffle'"},
    {"kit twice", Place::file, head + "kit /a\nkit /b\n" + rowLines(10),
     "FILE:5: a row is 16 cells of 'x' or '.'"},
    {"kit after the rows", Place::file, good + "kit /k\n", "FILE:14: expected 10 rows"},
    {"bad row in a CRLF file", Place::file,
     crlf(head + rowLines(2) + "x.x\n" + rowLines(7, "\n", 3)),
     "FILE:6: a row is 16 cells of 'x' or '.'"},

    // the number of rows
    {"no rows", Place::file, head, "FILE:4: expected 10 rows, found 0"},
    {"nine rows", Place::file, head + rowLines(9), "FILE:13: expected 10 rows, found 9"},
    {"nine rows, no LF", Place::file, withoutLastLf(head + rowLines(9)),
     "FILE:13: expected 10 rows, found 9"},
    {"nine rows and a comment", Place::file, head + rowLines(9) + "\n# end\n",
     "FILE:15: expected 10 rows, found 9"},
    {"eleven rows", Place::file, good + rows[0] + "\n", "FILE:14: expected 10 rows"},
    {"eleven rows, a comment between", Place::file, good + "# more\n\n" + rows[0],
     "FILE:16: expected 10 rows"},
    {"a key after the rows", Place::file, good + "tempo 95\n", "FILE:14: expected 10 rows"},

    // the second version: a bank and a chain
    {"pattern 17", Place::file, songHead + slotLines(17),
     "FILE:4: a slot is a number from 1 to 16"},
    {"slot 0", Place::file, songHead + "slot 0\n", "FILE:4: a slot is a number from 1 to 16"},
    {"a pattern defined twice", Place::file, songHead + slotLines(2) + slotLines(2),
     "FILE:15: pattern 2 is defined twice"},
    {"the chain names a pattern the file lacks", Place::file,
     songHead + "chain 1 2*3\n" + slotLines(1),
     "FILE:4: the chain names pattern 2, which the file does not define"},
    {"65 entries", Place::file, songHead + "chain 1*40 1*25\n" + slotLines(1),
     "FILE:4: a chain holds at most 64 entries"},
    {"a count of 0", Place::file, songHead + "chain 3*0\n",
     "FILE:4: a chain entry is a slot from 1 to 16, or SLOT*TIMES"},
    {"nine rows, then a pattern", Place::file,
     songHead + "pattern 1\n" + rowLines(9) + slotLines(2), "FILE:14: expected 10 rows, found 9"},
    {"rows before a pattern line", Place::file, songHead + rowLines(10),
     "FILE:4: expected 'pattern'"},
    {"the chain after a pattern", Place::file, songHead + slotLines(1) + "chain 1\n",
     "FILE:15: expected 10 rows"},
};

// The case's complaint about the path.
std::string lineFor(std::string complaint, const std::string& path) {
  return complaint.replace(complaint.find("FILE"), 4, path);
}

TEST(PatternFile, EachFileIsReadOrRefusedWithItsLine) {
  Scratch scratch;
  for (const FileCase& c : fileCases) {
    SCOPED_TRACE(c.name);
    std::string path = scratch.path("beat.txt");
    fs::remove_all(path);
    switch (c.place) {
    case Place::file:
      scratch.write(path, c.bytes);
      break;
    case Place::directory:
      fs::create_directory(path);
      break;
    case Place::underFile:
      scratch.write(path, c.bytes);
      path += "/beat.txt";
      break;
    }
    Beat beat;
    std::memset(&beat, 0, sizeof beat);
    std::string complaint;
    testing::internal::CaptureStderr();
    ReadStatus status = readBeatFile(path.c_str(), beat, complaint);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "the caller prints the complaint";
    if (c.complaint != nullptr) {
      EXPECT_EQ(status, ReadStatus::refused);
      EXPECT_EQ(complaint, lineFor(c.complaint, path));
      continue;
    }
    ASSERT_EQ(status, ReadStatus::loaded) << complaint;
    EXPECT_EQ(beat.song.bpm, c.bpm);
    EXPECT_EQ(beat.song.shuffle, c.shuffle);
    EXPECT_STREQ(beat.kit, c.kit);
    EXPECT_EQ(beat.kitLine, c.kitLine);
    for (int t = 0; t < trackCount; t++) {
      for (int s = 0; s < stepCount; s++) {
        EXPECT_EQ(beat.song.bank[0][t * stepCount + s], rows[t][s] == 'x' ? '1' : '0')
            << "track " << t << ", step " << s;
      }
    }
    EXPECT_TRUE(isOneSlot(beat.song)) << "a first-version file holds slot 1 alone";
  }
}

TEST(PatternFile, NothingThereMeansStartAsUsual) {
  Scratch scratch;
  std::string dangling = scratch.path("link.txt");
  ASSERT_EQ(symlink("nowhere.txt", dangling.c_str()), 0);
  for (const std::string& path :
       {scratch.path("new.txt"), scratch.path("no-folder/new.txt"), dangling}) {
    Beat beat;
    std::string complaint;
    EXPECT_EQ(readBeatFile(path.c_str(), beat, complaint), ReadStatus::missing) << path;
    EXPECT_EQ(complaint, "") << path;
  }
}

// ---------------------------------------------------------------------------------------------
// The writer

Beat beatOfRows(float bpm, int shuffle) {
  Beat beat;
  beat.song = oneSlotSong(nullptr, bpm, shuffle);
  for (int t = 0; t < trackCount; t++) {
    for (int s = 0; s < stepCount; s++) {
      beat.song.bank[0][t * stepCount + s] = rows[t][s] == 'x' ? '1' : '0';
    }
  }
  return beat;
}

// Slot 1's cells as text.
std::string slot1(const Beat& beat) {
  return std::string(beat.song.bank[0], cellCount);
}

// The built-in kit's names, as start-up gives them.
const SampleBank& builtInKit() {
  static SampleBank kit;
  nameBuiltInKit(kit);
  return kit;
}

// A kit of the user's: a folder with spaces and a '#', files named "NN x" but one track without.
const SampleBank& userKit() {
  static SampleBank kit = {};
  for (int t = 0; t < trackCount; t++) {
    std::snprintf(kit.name[t], sizeof kit.name[t], t == 3 ? "" : "%02d x", t + 1);
  }
  std::snprintf(kit.folder, sizeof kit.folder, "%s", "/home/me/my kits/#1 808");
  return kit;
}

TEST(PatternFile, WrittenTextNamesEachTracksFileAndReadsBack) {
  const struct {
    const char* name;
    const SampleBank& kit;
    const char* kitLine; // the text's line 4, if any
    const char* names[trackCount];
  } cases[] = {
      {"the built-in kit",
       builtInKit(),
       "",
       {"01-openhat", "02-closedhat", "03-bassdrum", "04-snare", "05-altsnare", "06-altsnare2",
        "07-ridecym", "08-floortom", "09-congafiltered", "10-altsnare3"}},
      {"a kit of the user's",
       userKit(),
       "kit /home/me/my kits/#1 808\n",
       {"01 x", "02 x", "03 x", "(no file)", "05 x", "06 x", "07 x", "08 x", "09 x", "10 x"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string want = head + c.kitLine; // each row: its cells, two spaces, its file's name
    for (int t = 0; t < trackCount; t++) {
      want += std::string(rows[t]) + "  " + c.names[t] + "\n";
    }
    std::string text = beatText(beatOfRows(94.0f, 0), c.kit);
    EXPECT_EQ(text, want);
    Beat back;
    int line = 0;
    std::string message;
    ASSERT_TRUE(parseBeat(text, back, line, message)) << line << ": " << message;
    EXPECT_STREQ(back.kit, c.kit.folder);
    EXPECT_EQ(back.kitLine, c.kit.folder[0] != '\0' ? 4 : 0);
    EXPECT_EQ(slot1(back), slot1(beatOfRows(94.0f, 0)));
  }
}

float nextFloatUp(float f) {
  return std::nextafter(f, 1000.0f);
}

TEST(PatternFile, TempoIsWrittenWithTheFewestDecimalsThatReadBack) {
  MachineState s;
  harness::freshMachine(s);
  changeTempo(s, tempoUp, true); // 94.0999985
  float fineUp = s.bpm;
  changeTempo(s, tempoUp, true); // 94.1999969
  float twoFineUp = s.bpm;
  const struct {
    float bpm;
    const char* text;
  } cases[] = {
      {20.0f, "20"},
      {220.0f, "220"},
      {fineUp, "94.1"},
      {twoFineUp, "94.2"},
      {99.9f, "99.9"},
      {123.25f, "123.25"},
      {nextFloatUp(20.0f), "20.000002"},
      {nextFloatUp(94.0f), "94.00001"},
      {std::nextafter(220.0f, 0.0f), "219.99998"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tempoText(c.bpm), c.text) << c.bpm;
  }
}

// The label the machine shows for a tempo.
std::string labelOf(float bpm) {
  char label[11];
  std::memcpy(label, "BPM: xxx.x", sizeof label);
  makeBPMstring(bpm, label);
  return label;
}

// Through the text and back by the parser: the same float, so the same label.
// Songs of more than slot 1 are written as the second version and read back whole: the slot
// line for a current slot other than 1, runs in the chain as SLOT*TIMES, and a pattern for each
// slot with hits or in the chain, empty ones included (rests are music).
struct SongFileCase {
  const char* what;
  int current;
  std::vector<int> used; // slots with preset B's cells, 0-based
  std::vector<int> chain;
  const char* songLines; // the slot and chain lines
  const char* patterns;  // the numbers of the pattern lines, in order
};
const SongFileCase songFileCases[] = {
    {"a second slot", 0, {0, 2}, {}, "chain\n", "1 3"},
    {"the current slot, empty", 4, {0}, {}, "slot 5\nchain\n", "1"},
    {"a chain of runs and a rest",
     2,
     {0, 2},
     {0, 2, 2, 2, 2, 1, 15},
     "slot 3\nchain 1 3*4 2 16\n",
     "1 2 3 16"},
    {"slot 1 alone, twice over", 0, {0}, {0, 0}, "chain 1*2\n", "1"},
    {"slot 1 empty", 0, {1}, {1, 0, 1}, "chain 2 1 2\n", "1 2"},
};

TEST(PatternFile, SongsRoundTripAsTheSecondVersion) {
  for (const SongFileCase& c : songFileCases) {
    Beat beat;
    beat.song = oneSlotSong(nullptr, 101.5f, 1);
    for (int slot : c.used) {
      std::memcpy(beat.song.bank[slot], presetBcells, cellCount);
    }
    std::copy(c.chain.begin(), c.chain.end(), beat.song.chain);
    beat.song.chainLength = int(c.chain.size());
    beat.song.current = c.current;
    std::string text = beatText(beat, builtInKit());
    std::string patterns;
    for (size_t at = text.find("\npattern "); at != std::string::npos;
         at = text.find("\npattern ", at + 1)) {
      patterns +=
          (patterns.empty() ? "" : " ") + text.substr(at + 9, text.find('\n', at + 1) - at - 9);
    }
    std::string start =
        std::string("pocketdrum pattern 2\ntempo 101.5\nshuffle on\n") + c.songLines + "pattern ";
    EXPECT_EQ(text.substr(0, start.size()), start) << c.what;
    EXPECT_EQ(patterns, c.patterns) << c.what;
    Beat back;
    int line = 0;
    std::string message;
    ASSERT_TRUE(parseBeat(text, back, line, message))
        << c.what << ", line " << line << ": " << message;
    EXPECT_EQ(std::memcmp(&back.song, &beat.song, sizeof beat.song), 0) << c.what;
    EXPECT_EQ(beatText(back, builtInKit()), text) << c.what;
  }
}

void expectRoundTrip(float bpm, size_t& wrong, std::string& firstWrong) {
  Beat out = beatOfRows(bpm, 1);
  Beat in;
  int line = 0;
  std::string message;
  if (!parseBeat(beatText(out, builtInKit()), in, line, message) || in.song.bpm != bpm ||
      labelOf(in.song.bpm) != labelOf(bpm)) {
    if (wrong++ == 0) {
      char text[80];
      std::snprintf(text, sizeof text, "%.9g wrote \"%s\", read %.9g (%s)", double(bpm),
                    tempoText(bpm).c_str(), double(in.song.bpm), message.c_str());
      firstWrong = text;
    }
  }
}

TEST(PatternFile, SampledTemposSurviveTheRoundTrip) {
  // Every float in 20..220 is reachable with the tempo buttons, 29 million of them; all of them
  // take a minute, so this takes the first tempos that fine and coarse steps reach from the
  // start-up tempo, then every 199th float across the range and both bounds.
  MachineState s;
  harness::freshMachine(s);
  size_t wrong = 0;
  std::string firstWrong;
  std::vector<float> walk = {s.bpm};
  std::set<float> seen = {s.bpm};
  for (size_t next = 0; next < walk.size() && walk.size() < 50000; next++) {
    for (int direction : {tempoDown, tempoUp}) {
      for (bool fine : {false, true}) {
        s.bpm = walk[next];
        changeTempo(s, direction, fine);
        if (seen.insert(s.bpm).second) {
          walk.push_back(s.bpm);
        }
      }
    }
  }
  for (float bpm : walk) {
    expectRoundTrip(bpm, wrong, firstWrong);
  }
  size_t sampled = walk.size();
  for (Uint32 bits = floatBits(minTempo); bits <= floatBits(maxTempo); bits += 199) {
    expectRoundTrip(fromBits(bits), wrong, firstWrong);
    sampled++;
  }
  expectRoundTrip(maxTempo, wrong, firstWrong);
  EXPECT_EQ(wrong, 0u) << "of " << sampled << ", the first: " << firstWrong;
}

// ---------------------------------------------------------------------------------------------
// Saving

mode_t modeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(PatternFile, SaveWritesTheBeatAndKeepsTheFilesMode) {
  const Beat beat = beatOfRows(123.4f, 1);
  const std::string text = beatText(beat, userKit());
  const struct {
    const char* name;
    mode_t umask;
    mode_t before; // 0: no file yet
    mode_t after;
  } cases[] = {
      {"new file, umask 022", 022, 0, 0644},
      {"new file, umask 077", 077, 0, 0600},
      {"new file, umask 002", 002, 0, 0644},
      {"existing 0600 file", 022, 0600, 0600},
      {"existing 0755 file, umask 077", 077, 0755, 0755},
      {"existing read-only file", 022, 0444, 0444},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch;
    std::string path = scratch.path("beat.txt");
    if (c.before != 0) {
      scratch.write(path, "old");
      chmod(path.c_str(), c.before);
    }
    mode_t old = umask(c.umask);
    testing::internal::CaptureStderr();
    bool saved = saveBeatFile(path.c_str(), beat, userKit());
    std::string errors = testing::internal::GetCapturedStderr();
    umask(old);
    EXPECT_TRUE(saved) << errors;
    EXPECT_EQ(errors, "");
    EXPECT_EQ(contentsOf(path), text);
    EXPECT_EQ(modeOf(path), c.after);
    EXPECT_EQ(scratch.entries(), std::vector<std::string>{"beat.txt"}) << "no temporary file";
    Beat back;
    std::string complaint;
    ASSERT_EQ(readBeatFile(path.c_str(), back, complaint), ReadStatus::loaded) << complaint;
    EXPECT_EQ(back.song.bpm, beat.song.bpm);
    EXPECT_EQ(back.song.shuffle, beat.song.shuffle);
    EXPECT_EQ(slot1(back), slot1(beat));
    EXPECT_STREQ(back.kit, userKit().folder);
  }
}

TEST(PatternFile, SaveThroughASymbolicLinkReplacesItsTarget) {
  const Beat beat = beatOfRows(20.0f, 0);
  const struct {
    const char* name;
    const char* linkTo; // relative to the scratch folder's "links" folder
    const char* target; // where the beat lands, relative to the scratch folder
    bool targetExists;
  } cases[] = {
      {"relative link", "../beats/beat.txt", "beats/beat.txt", true},
      {"link to a link", "chain.txt", "beats/beat.txt", true},
      {"absolute link", nullptr, "beats/beat.txt", true},
      {"dangling link", "../beats/new.txt", "beats/new.txt", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch;
    fs::create_directory(scratch.dir / "beats");
    fs::create_directory(scratch.dir / "links");
    std::string target = (scratch.dir / c.target).string();
    if (c.targetExists) {
      scratch.write(target, "old");
      chmod(target.c_str(), 0640);
    }
    fs::create_symlink("../beats/beat.txt", scratch.dir / "links" / "chain.txt");
    fs::path link = scratch.dir / "links" / "beat.txt";
    fs::create_symlink(c.linkTo != nullptr ? fs::path(c.linkTo) : fs::path(target), link);
    fs::path linkedTo = fs::read_symlink(link);

    mode_t old = umask(022);
    EXPECT_TRUE(saveBeatFile(link.c_str(), beat, builtInKit()));
    umask(old);
    EXPECT_TRUE(fs::is_symlink(link)) << "the link stays a link";
    EXPECT_EQ(fs::read_symlink(link), linkedTo);
    EXPECT_EQ(contentsOf(target), beatText(beat, builtInKit()));
    EXPECT_EQ(modeOf(target), c.targetExists ? 0640u : 0644u);
  }
}

TEST(PatternFile, AFailedSaveSaysWhyAndLeavesTheOldFile) {
  // Run as root, a read-only folder does not stop a save; these places stop anyone.
  Scratch scratch;
  std::string plain = scratch.path("plain.txt");
  scratch.write(plain, "not a folder");
  std::string folder = scratch.path("folder.txt");
  fs::create_directory(folder);
  scratch.write(folder + "/inside", "kept");
  const struct {
    const char* name;
    std::string path;
    const char* reason;
  } cases[] = {
      {"a folder that does not exist", scratch.path("missing/beat.txt"),
       "No such file or directory"},
      {"a path through a plain file", plain + "/beat.txt", "Not a directory"},
      {"FILE is a folder", folder, "Is a directory"},
      {"a file system that takes no new files", "/proc/pocketdrum-beat.txt",
       "No such file or directory"},
      {"an existing file there", "/proc/version", "No such file or directory"},
      {"a device", "/dev/null", "not a regular file"},
  };
  std::string procVersion = contentsOf("/proc/version");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStderr();
    bool saved = saveBeatFile(c.path.c_str(), beatOfRows(94.0f, 0), builtInKit());
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(saved);
    EXPECT_EQ(errors, "pocketdrum: " + c.path + ": " + c.reason + "\n");
  }
  EXPECT_EQ(contentsOf(plain), "not a folder");
  EXPECT_EQ(contentsOf(folder + "/inside"), "kept");
  EXPECT_EQ(contentsOf("/proc/version"), procVersion);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"folder.txt", "plain.txt"}));
}

// ---------------------------------------------------------------------------------------------
// The beat and the machine

TEST(PatternFile, AppliedBeatPlaysAsIfSetByTheButtons) {
  // The oracle is the machine itself: the same tempo reached with the tempo buttons.
  for (float bpm : {20.0f, 94.0f, 120.0f, 219.0f, 220.0f}) {
    MachineState byButtons;
    harness::freshMachine(byButtons);
    while (byButtons.bpm < bpm) {
      changeTempo(byButtons, tempoUp, false);
    }
    while (byButtons.bpm > bpm) {
      changeTempo(byButtons, tempoDown, false);
    }
    MachineState fromFile;
    harness::freshMachine(fromFile);
    applyBeat(fromFile, beatOfRows(bpm, 1));
    EXPECT_EQ(fromFile.bpm, byButtons.bpm);
    EXPECT_EQ(fromFile.stepInterval, byButtons.stepInterval) << bpm;
    EXPECT_EQ(fromFile.shuffle, 1);
    EXPECT_EQ(std::string(fromFile.pattern), slot1(beatOfRows(bpm, 1)));
    Beat back = beatOf(fromFile);
    EXPECT_EQ(beatText(back, fromFile.samples), beatText(beatOfRows(bpm, 1), builtInKit()));
  }
}

} // namespace
