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
  if (!parseBeat(beatText(beat, kit), again, line, message) ||
      std::memcmp(again.cells, beat.cells, sizeof beat.cells) != 0 || again.bpm != beat.bpm ||
      again.shuffle != beat.shuffle) {
    std::abort();
  }
  return 0;
}
