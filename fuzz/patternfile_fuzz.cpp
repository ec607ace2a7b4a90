// The pattern-file reader on any bytes: it reads a beat or says why not; a beat it reads, written
// out again, reads back the same.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "patternfile/patternfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Beat beat = {};
  int line = 0;
  std::string message;
  if (!parseBeat(std::string(reinterpret_cast<const char*>(data), size), beat, line, message)) {
    return 0;
  }
  SampleBank kit = {};
  Beat again = {};
  if (!parseBeat(beatText(beat, kit), again, line, message)) {
    std::abort();
  }
  const Song& a = beat.song;
  const Song& b = again.song;
  if (std::memcmp(a.bank, b.bank, sizeof a.bank) != 0 || a.chainLength != b.chainLength ||
      std::memcmp(a.chain, b.chain, sizeof a.chain) != 0 || a.current != b.current ||
      a.bpm != b.bpm || a.shuffle != b.shuffle) {
    std::abort();
  }
  return 0;
}
