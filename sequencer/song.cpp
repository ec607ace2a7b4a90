// The machine's song: bar lines and the edits of the bank and the chain.
#include "song.h"

#include <cstring>

#include "../engine/schedule.h"

Song songOf(const MachineState& s) {
  Song song;
  std::memcpy(song.bank, s.bank, sizeof song.bank);
  std::memcpy(song.bank[s.shownSlot], s.pattern, cellCount);
  std::memcpy(song.chain, s.chain, sizeof song.chain);
  song.chainLength = s.chainLength;
  song.current = s.currentSlot;
  song.bpm = s.bpm;
  song.shuffle = s.shuffle;
  return song;
}

void putSong(MachineState& s, const Song& song) {
  std::memcpy(s.bank, song.bank, sizeof s.bank);
  std::memcpy(s.chain, song.chain, sizeof s.chain);
  s.chainLength = song.chainLength;
  s.currentSlot = song.current;
  s.shownSlot = song.current;
  std::memcpy(s.pattern, song.bank[song.current], cellCount);
  s.pattern[cellCount] = '\0';
  s.bpm = song.bpm;
  s.stepInterval = stepLength(s.bpm);
  s.shuffle = song.shuffle;
}

void showSlot(MachineState& s, int slot) {
  if (slot == s.shownSlot) {
    return;
  }
  std::memcpy(s.bank[s.shownSlot], s.pattern, cellCount);
  s.shownSlot = slot;
  std::memcpy(s.pattern, s.bank[slot], cellCount);
}

void startBar(MachineState& s, long long bar) {
  s.bar = bar;
  showSlot(s, slotOfBar(songOf(s), bar));
}

void stepSlot(MachineState& s, int direction) {
  s.currentSlot = (s.currentSlot + direction + slotCount) % slotCount;
  if (s.playing == 0) {
    showSlot(s, s.currentSlot);
  }
}

bool appendToChain(MachineState& s) {
  if (s.chainLength == chainMax) {
    return false;
  }
  s.chain[s.chainLength++] = s.currentSlot;
  return true;
}

bool dropFromChain(MachineState& s) {
  if (s.chainLength == 0) {
    return false;
  }
  s.chainLength--;
  return true;
}

bool copySlot(MachineState& s) {
  Song song = songOf(s);
  for (int slot = 0; slot < slotCount; slot++) {
    if (slot != s.currentSlot && slotEmpty(song, slot)) {
      std::memcpy(s.bank[slot], song.bank[s.currentSlot], cellCount);
      if (slot == s.shownSlot) {
        std::memcpy(s.pattern, song.bank[s.currentSlot], cellCount);
      }
      s.currentSlot = slot;
      if (s.playing == 0) {
        showSlot(s, slot);
      }
      return true;
    }
  }
  return false;
}
