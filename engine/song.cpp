// The song: the slot of each bar, the one-pattern song.
#include "song.h"

#include <cstring>

int slotOfBar(const Song& song, long long bar) {
  return song.chainLength > 0 ? song.chain[bar % song.chainLength] : song.current;
}

int slotOfStep(const Song& song, long long k, int slot) {
  return k % stepCount == 0 ? slotOfBar(song, k / stepCount) : slot;
}

const char* cellsOfStep(const Song& song, long long k) {
  return song.bank[slotOfBar(song, k / stepCount)];
}

Song oneSlotSong(const char* cells, float bpm, int shuffle) {
  Song song;
  std::memset(&song, 0, sizeof song);
  std::memset(song.bank, '0', sizeof song.bank);
  if (cells != nullptr) {
    std::memcpy(song.bank[0], cells, cellCount);
  }
  song.bpm = bpm;
  song.shuffle = shuffle;
  return song;
}

bool slotEmpty(const Song& song, int slot) {
  return std::memchr(song.bank[slot], '1', cellCount) == nullptr;
}

bool isOneSlot(const Song& song) {
  for (int slot = 1; slot < slotCount; slot++) {
    if (!slotEmpty(song, slot)) {
      return false;
    }
  }
  return song.current == 0 && song.chainLength == 0;
}
