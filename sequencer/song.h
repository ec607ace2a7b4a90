// The machine's song: the bank and the chain around the grid's pattern, the bar lines at which
// the slot shown and heard changes, and the edits of the bank and the chain.
#pragma once

#include "../engine/song.h"
#include "../machine.h"

// The song as it stands: the bank with the grid's pattern in its slot, the tempo, the shuffle.
Song songOf(const MachineState& s);

// Puts a song into the machine: bank, chain, current slot shown on the grid, tempo, shuffle.
void putSong(MachineState& s, const Song& song);

// Puts the grid's pattern back into its slot and shows slot (0..15) on the grid instead.
void showSlot(MachineState& s, int slot);

// Bar bar of this play begins: its slot goes on the grid.
void startBar(MachineState& s, long long bar);

// The current slot one down (-1) or up (+1), wrapping within 1..16. Shown at once while stopped;
// while playing with an empty chain it sounds from the next bar line.
void stepSlot(MachineState& s, int direction);

// Appends the current slot to the chain; false at 64 entries.
bool appendToChain(MachineState& s);

// Removes the chain's last entry; false when the chain is empty.
bool dropFromChain(MachineState& s);

// Copies the current slot into the first empty slot, which becomes the current slot; false when
// no other slot is empty.
bool copySlot(MachineState& s);
