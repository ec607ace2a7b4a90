// Pattern files: reading and checking one, writing one so that a crash never leaves half of it.
#include "patternfile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "../files/replace.h"
#include "../sequencer/song.h"
#include "../sequencer/transport.h"

namespace {

const char header[] = "pocketdrum pattern 1";
const char songHeader[] = "pocketdrum pattern 2"; // a bank of patterns and a chain
const std::string headerStem = "pocketdrum pattern ";
const char utf8Bom[] = "\xEF\xBB\xBF";
const char setCell = 'x';
const char clearCell = '.';
const char* const shuffleWords[2] = {"off", "on"}; // indexed by the shuffle flag
const int longestTempoDecimals = 6;
const char repeatMark = '*'; // in the chain line, 3*4 is slot 3 four times

const char notPatternFile[] = "not a pattern file";
const char badTempo[] = "tempo must be a number from 20 to 220";
const char badShuffle[] = "shuffle must be 'on' or 'off'";
const char badRow[] = "a row is 16 cells of 'x' or '.'";
const char tooManyRows[] = "expected 10 rows";
const char badKit[] = "kit must name a folder by its absolute path";
const char badSlot[] = "a slot is a number from 1 to 16";
const char badChain[] = "a chain entry is a slot from 1 to 16, or SLOT*TIMES";
const char longChain[] = "a chain holds at most 64 entries";

// What the parser expects next, in file order; the kit line may stand before the rows. In a
// file of the second version the song's keys stand there, then each pattern and its rows.
enum Expect { expectHeader, expectTempo, expectShuffle, expectKitOrRow, expectRow, expectSong };
const char* const keyNames[] = {"", "tempo", "shuffle", "kit", "", "pattern"}; // by Expect
const char slotKey[] = "slot";
const char chainKey[] = "chain";

// Where the parser has got to.
struct Reading {
  Expect expect = expectHeader;
  int rows = 0;           // rows read of the pattern being read
  int slot = 0;           // the slot they go to
  bool inPattern = false; // rows may come: the first version's, or after a "pattern N" line
  bool defined[slotCount] = {};
  int chainLine = 0; // the chain line, 0 when there is none
};

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

bool blankLine(const std::string& line) {
  for (char c : line) {
    if (!isBlank(c)) {
      return false;
    }
  }
  return true;
}

// Splits a key line into its words at runs of spaces and tabs.
std::vector<std::string> wordsOf(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && isBlank(line[i])) {
      i++;
    }
    size_t start = i;
    while (i < line.size() && !isBlank(line[i])) {
      i++;
    }
    if (i > start) {
      words.push_back(line.substr(start, i - start));
    }
  }
  return words;
}

bool allDigits(const std::string& s, size_t from, size_t to) {
  if (from >= to) {
    return false;
  }
  for (size_t i = from; i < to; i++) {
    if (s[i] < '0' || s[i] > '9') {
      return false;
    }
  }
  return true;
}

// Digits only, as a number from 1 to most.
bool parseCount(const std::string& text, int most, int& value) {
  if (!allDigits(text, 0, text.size()) || text.size() > 9) {
    return false;
  }
  value = std::atoi(text.c_str());
  return value >= 1 && value <= most;
}

// [0-9]+(\.[0-9]+)? as a whole, within 20..220 as a decimal number.
bool parseTempo(const std::string& text, float& bpm) {
  size_t point = text.find('.');
  bool shaped = point == std::string::npos
                    ? allDigits(text, 0, text.size())
                    : allDigits(text, 0, point) && allDigits(text, point + 1, text.size());
  if (!shaped) {
    return false;
  }
  double exact = std::strtod(text.c_str(), nullptr);
  if (exact < double(minTempo) || exact > double(maxTempo)) {
    return false;
  }
  bpm = std::strtof(text.c_str(), nullptr);
  return true;
}

// 16 cells, then the end of the line or whitespace and a comment.
bool parseRow(const std::string& line, char* cells) {
  if (line.size() < size_t(stepCount)) {
    return false;
  }
  for (int c = 0; c < stepCount; c++) {
    if (line[c] != setCell && line[c] != clearCell) {
      return false;
    }
  }
  if (line.size() > size_t(stepCount) && !isBlank(line[stepCount])) {
    return false;
  }
  for (int c = 0; c < stepCount; c++) {
    cells[c] = line[c] == setCell ? '1' : '0';
  }
  return true;
}

bool saveFailed(const char* path, const char* reason) {
  tell("%s: %s", path, reason);
  return false;
}

// The message for a key that is missing or out of place.
std::string expected(Expect expect) {
  return std::string("expected '") + keyNames[expect] + "'";
}

// The first line: the header of a version this program reads, or the reason it is not.
bool takeHeader(const std::string& text, int& known, std::string& message) {
  if (text == header || text == songHeader) {
    known = text == header ? 1 : 2;
    return true;
  }
  std::string version = text.compare(0, headerStem.size(), headerStem) == 0
                            ? text.substr(headerStem.size())
                            : std::string();
  std::vector<std::string> words = wordsOf(version);
  if (words.size() == 1 && words[0] == version) {
    message = "unsupported version " + version;
  } else {
    message = notPatternFile;
  }
  return false;
}

// "tempo T" or "shuffle on|off", the key alone and its value, no comment.
bool takeKey(const std::string& text, Expect expect, Beat& beat, std::string& message) {
  std::vector<std::string> words = wordsOf(text);
  if (words[0] != keyNames[expect]) {
    message = expected(expect);
    return false;
  }
  bool good = false;
  if (words.size() == 2 && expect == expectTempo) {
    good = parseTempo(words[1], beat.song.bpm);
  } else if (words.size() == 2) {
    for (int flag : {0, 1}) {
      if (words[1] == shuffleWords[flag]) {
        beat.song.shuffle = flag;
        good = true;
      }
    }
  }
  if (!good) {
    message = expect == expectTempo ? badTempo : badShuffle;
  }
  return good;
}

// "kit PATH": PATH is the rest of the line after the blanks, less trailing blanks, and absolute.
bool takeKit(const std::string& text, int line, Beat& beat, std::string& message) {
  size_t key = text.find(keyNames[expectKitOrRow]);
  size_t from = text.find_first_not_of(" \t", key + std::strlen(keyNames[expectKitOrRow]));
  size_t to = text.find_last_not_of(" \t");
  std::string path = from == std::string::npos ? std::string() : text.substr(from, to + 1 - from);
  if (path.empty() || path[0] != '/' || path.size() >= sizeof beat.kit) {
    message = badKit;
    return false;
  }
  std::memcpy(beat.kit, path.c_str(), path.size() + 1);
  beat.kitLine = line;
  return true;
}

// "chain 1 3*4 2": the slots in playing order, each alone or with its count of repeats.
bool takeChain(const std::vector<std::string>& words, Song& song, std::string& message) {
  song.chainLength = 0;
  for (size_t w = 1; w < words.size(); w++) {
    size_t mark = words[w].find(repeatMark);
    int slot = 0;
    int times = 1;
    if (!parseCount(words[w].substr(0, mark), slotCount, slot) ||
        (mark != std::string::npos &&
         !parseCount(words[w].substr(mark + 1), chainMax + 1, times))) {
      message = badChain;
      return false;
    }
    if (song.chainLength + times > chainMax) {
      message = longChain;
      return false;
    }
    for (int k = 0; k < times; k++) {
      song.chain[song.chainLength++] = slot - 1;
    }
  }
  return true;
}

// A line of the second version after the shuffle: the kit, slot or chain key before the first
// pattern, a "pattern N" line once the last pattern has its ten rows, or a row of one.
bool takeSongLine(const std::string& text, int line, Reading& r, Beat& beat, std::string& message) {
  std::vector<std::string> words = wordsOf(text);
  bool before = !r.inPattern;
  int slot = 0;
  if (before && words[0] == keyNames[expectKitOrRow] && beat.kitLine == 0) {
    return takeKit(text, line, beat, message);
  }
  if (before && words[0] == slotKey) {
    if (words.size() != 2 || !parseCount(words[1], slotCount, slot)) {
      message = badSlot;
      return false;
    }
    beat.song.current = slot - 1;
    return true;
  }
  if (before && words[0] == chainKey && r.chainLine == 0) {
    r.chainLine = line;
    return takeChain(words, beat.song, message);
  }
  if (words[0] == keyNames[expectSong]) {
    if (r.inPattern && r.rows < trackCount) {
      message = "expected 10 rows, found " + std::to_string(r.rows);
      return false;
    }
    if (words.size() != 2 || !parseCount(words[1], slotCount, slot)) {
      message = badSlot;
      return false;
    }
    if (r.defined[slot - 1]) {
      message = "pattern " + words[1] + " is defined twice";
      return false;
    }
    r.defined[slot - 1] = true;
    r.slot = slot - 1;
    r.rows = 0;
    r.inPattern = true;
    return true;
  }
  if (!r.inPattern) {
    message = expected(expectSong);
    return false;
  }
  if (r.rows == trackCount) {
    message = tooManyRows;
    return false;
  }
  if (!parseRow(text, beat.song.bank[r.slot] + r.rows * stepCount)) {
    message = badRow;
    return false;
  }
  r.rows++;
  return true;
}

// One line that is neither blank nor a comment, where the file has got to; false with the
// message when it does not belong there.
bool takeLine(const std::string& text, int line, Reading& r, Beat& beat, std::string& message) {
  if (r.expect == expectSong) {
    return takeSongLine(text, line, r, beat, message);
  }
  if (r.expect == expectKitOrRow) {
    r.expect = expectRow;
    if (wordsOf(text)[0] == keyNames[expectKitOrRow]) {
      return takeKit(text, line, beat, message);
    }
  }
  int version = 1;
  switch (r.expect) {
  case expectHeader:
    if (!takeHeader(text, version, message)) {
      return false;
    }
    r.inPattern = version == 1; // the rows of the first version are slot 1's
    break;
  case expectTempo:
    if (!takeKey(text, r.expect, beat, message)) {
      return false;
    }
    break;
  case expectShuffle:
    if (!takeKey(text, r.expect, beat, message)) {
      return false;
    }
    r.expect = r.inPattern ? expectKitOrRow : expectSong;
    return true;
  case expectKitOrRow:
  case expectRow:
  case expectSong:
    if (r.rows == trackCount) {
      message = tooManyRows;
      return false;
    }
    if (!parseRow(text, beat.song.bank[0] + r.rows * stepCount)) {
      message = badRow;
      return false;
    }
    r.rows++;
    return true;
  }
  r.expect = Expect(r.expect + 1);
  return true;
}

// After the last line: what is still missing, or a slot the chain names that the file lacks.
bool complete(const Reading& r, const Beat& beat, int& line, std::string& message) {
  if (r.expect == expectHeader) {
    line = 0; // nothing but blank and comment lines
    message = notPatternFile;
    return false;
  }
  if (r.expect < expectKitOrRow) {
    message = expected(r.expect);
  } else if (r.inPattern && r.rows < trackCount) {
    message = "expected 10 rows, found " + std::to_string(r.rows);
  } else {
    for (int k = 0; k < beat.song.chainLength; k++) {
      if (!r.defined[beat.song.chain[k]]) {
        line = r.chainLine;
        message = "the chain names pattern " + std::to_string(beat.song.chain[k] + 1) +
                  ", which the file does not define";
        return false;
      }
    }
    return true;
  }
  line++; // one past the last line
  return false;
}

} // namespace

bool parseBeat(const std::string& bytes, Beat& beat, int& line, std::string& message) {
  size_t at = bytes.compare(0, 3, utf8Bom) == 0 ? 3 : 0;
  Reading r;
  line = 0;
  beat.song = oneSlotSong(nullptr, 94.0f, 0);
  beat.kit[0] = '\0';
  beat.kitLine = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find('\n', at);
    if (end == std::string::npos) {
      end = bytes.size(); // the last line may lack its LF
    }
    std::string text = bytes.substr(at, end - at);
    at = end + 1;
    line++;
    if (!text.empty() && text.back() == '\r') {
      text.pop_back();
    }
    if (!blankLine(text) && text[0] != '#' && !takeLine(text, line, r, beat, message)) {
      return false;
    }
  }
  return complete(r, beat, line, message);
}

ReadStatus readBeatFile(const char* path, Beat& beat, std::string& complaint) {
  std::string prefix = std::string(path) + ": ";
  // Non-blocking so that a FIFO without a writer reads as empty instead of hanging start-up.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      return ReadStatus::missing;
    }
    complaint = prefix + std::strerror(errno);
    return ReadStatus::refused;
  }
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    complaint = prefix + "is a directory";
    return ReadStatus::refused;
  }
  // One byte past the limit tells a file at the limit from a larger one.
  std::string bytes(maxPatternFileBytes + 1, '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = read(fd, &bytes[got], bytes.size() - got);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && errno != EAGAIN) {
      complaint = prefix + std::strerror(errno);
      close(fd);
      return ReadStatus::refused;
    }
    if (n <= 0) {
      break;
    }
    got += size_t(n);
  }
  close(fd);
  if (got > maxPatternFileBytes) {
    complaint = prefix + "larger than 64 KiB";
    return ReadStatus::refused;
  }
  bytes.resize(got);
  int line = 0;
  std::string message;
  if (!parseBeat(bytes, beat, line, message)) {
    complaint = line == 0 ? prefix + message
                          : std::string(path) + ":" + std::to_string(line) + ": " + message;
    return ReadStatus::refused;
  }
  return ReadStatus::loaded;
}

std::string tempoText(float bpm) {
  char text[32];
  for (int decimals = 0; decimals < longestTempoDecimals; decimals++) {
    std::snprintf(text, sizeof text, "%.*f", decimals, double(bpm));
    if (std::strtof(text, nullptr) == bpm) {
      return text;
    }
  }
  std::snprintf(text, sizeof text, "%.*f", longestTempoDecimals, double(bpm));
  return text;
}

namespace {

// The ten rows of one slot, each followed by the name of its track's file.
std::string rowsText(const char* cells, const SampleBank& kit) {
  std::string text;
  for (int t = 0; t < trackCount; t++) {
    for (int c = 0; c < stepCount; c++) {
      text += cells[t * stepCount + c] == '1' ? setCell : clearCell;
    }
    text += std::string("  ") + (kit.name[t][0] != '\0' ? kit.name[t] : "(no file)") + "\n";
  }
  return text;
}

// The chain line, a run of one slot written as SLOT*TIMES.
std::string chainText(const Song& song) {
  std::string text = chainKey;
  for (int k = 0; k < song.chainLength;) {
    int run = 1;
    while (k + run < song.chainLength && song.chain[k + run] == song.chain[k]) {
      run++;
    }
    text += " " + std::to_string(song.chain[k] + 1);
    if (run > 1) {
      text += repeatMark + std::to_string(run);
    }
    k += run;
  }
  return text + "\n";
}

} // namespace

std::string beatText(const Beat& beat, const SampleBank& kit) {
  const Song& song = beat.song;
  bool oneSlot = isOneSlot(song);
  std::string text = std::string(oneSlot ? header : songHeader) + "\n";
  text += "tempo " + tempoText(song.bpm) + "\n";
  text += std::string("shuffle ") + shuffleWords[song.shuffle ? 1 : 0] + "\n";
  if (kit.folder[0] != '\0') {
    text += std::string(keyNames[expectKitOrRow]) + " " + kit.folder + "\n";
  }
  if (oneSlot) {
    return text + rowsText(song.bank[0], kit);
  }
  if (song.current != 0) {
    text += std::string(slotKey) + " " + std::to_string(song.current + 1) + "\n";
  }
  text += chainText(song);
  const int* chainEnd = song.chain + song.chainLength;
  for (int slot = 0; slot < slotCount; slot++) {
    if (!slotEmpty(song, slot) || std::find(song.chain, chainEnd, slot) != chainEnd) {
      text += std::string(keyNames[expectSong]) + " " + std::to_string(slot + 1) + "\n";
      text += rowsText(song.bank[slot], kit);
    }
  }
  return text;
}

bool saveBeatFile(const char* path, const Beat& beat, const SampleBank& kit) {
  Replacement file;
  const char* reason = beginReplacement(path, file);
  if (reason == nullptr) {
    std::string text = beatText(beat, kit);
    reason = writeReplacement(file, text.data(), text.size()) ? finishReplacement(file)
                                                              : abandonReplacement(file);
  }
  return reason == nullptr || saveFailed(path, reason);
}

Beat beatOf(const MachineState& s) {
  Beat beat;
  beat.song = songOf(s);
  std::memcpy(beat.kit, s.samples.folder, sizeof beat.kit);
  beat.kitLine = 0;
  return beat;
}

void applyBeat(MachineState& s, const Beat& beat) {
  putSong(s, beat.song);
}
