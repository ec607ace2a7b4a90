// The song: a bank of sixteen pattern slots, the chain that orders them bar by bar, the tempo
// and the shuffle. Everything that plays or keeps a beat carries this one value.
#pragma once

#include "../machine.h"

struct Song {
  char bank[slotCount][cellCount]; // each slot 10 tracks of 16 steps, track-major, '1' set
  int chain[chainMax];             // slots 0..15 in playing order, one bar each
  int chainLength;                 // 0..64; 0: the current slot loops
  int current;                     // 0..15: the slot edited while stopped
  float bpm;                       // 20.0..220.0
  int shuffle;                     // 0 or 1
};

// The slot that sounds in bar b (0, 1, 2 ... from the start of play): the chain's entries in
// turn, looping, or the current slot when the chain is empty.
int slotOfBar(const Song& song, long long bar);

// The slot that step k sounds, slot being that of step k - 1: the song's at each bar line, kept
// through the bar, so that a change made to a song that is playing waits for the next bar line.
int slotOfStep(const Song& song, long long k, int slot);

// The cells that sound at step k (from 0 at the start of play): those of its bar's slot.
const char* cellsOfStep(const Song& song, long long k);

// A song of one pattern in slot 1 (empty for null cells) and no chain, as the machine held
// before it had a bank.
Song oneSlotSong(const char* cells, float bpm, int shuffle);

// True when a slot has no set cell.
bool slotEmpty(const Song& song, int slot);

// True when the song is one pattern: only slot 1 used, slot 1 current, no chain.
bool isOneSlot(const Song& song);
