// The pattern: ten tracks of sixteen steps as text, the two built-in presets, and edits.
#include "pattern.h"

#include <cstring>

#include "output.h"

// Track order: open hat, closed hat, bass drum, snare, alt snare, alt snare 2, ride, floor tom,
// filtered conga, alt snare 3.
const char presetAcells[cellCount + 1] = "0000000000000010"
                                         "1010101010101000"
                                         "1000001000100110"
                                         "0000100000001000"
                                         "0000000000000001"
                                         "1000100100001000"
                                         "1000001000100010"
                                         "0100000000010000"
                                         "0000100000000000"
                                         "0000001001000000";

const char presetBcells[cellCount + 1] = "1000100000001000"
                                         "0010001010100010"
                                         "1000000100010000"
                                         "0000100000001000"
                                         "0000000001001001"
                                         "0000000100100010"
                                         "0010010010010010"
                                         "0000000100010000"
                                         "0010001010100010"
                                         "0000000100100000";

void loadPresets(MachineState& s) {
  std::memcpy(s.presetA, presetAcells, sizeof(Pattern));
  std::memcpy(s.presetB, presetBcells, sizeof(Pattern));
  std::memcpy(s.pattern, s.presetB, sizeof(Pattern));
}

void toggleCell(MachineState& s, int track, int step) {
  s.pattern[track * stepCount + step] ^= 1;
}

void setDemoMode(MachineState& s, int mode) {
  switch (mode) {
  case 1:
    std::memset(s.pattern, '0', cellCount);
    s.shuffle = 0;
    if (s.playing == 1) {
      beatOutput().halt(s);
    }
    break;
  case 2:
    std::memcpy(s.pattern, s.presetA, cellCount);
    s.shuffle = 1;
    break;
  case 3:
    std::memcpy(s.pattern, s.presetB, cellCount);
    s.shuffle = 0;
    break;
  default:
    break;
  }
}
