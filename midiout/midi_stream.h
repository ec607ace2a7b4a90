// What MIDI out sends, cycle by cycle: the beat's notes and the MIDI clock, each on its frame,
// placed by the engine's schedule counted in frames from the cycle play started in. Plain code
// over plain values that runs inside JACK's process callback: it never allocates, waits or prints.
#pragma once

#include "../engine/schedule.h"
#include "../engine/song.h"
#include "../machine.h"

// The beat as the main thread hands it over: one plain value, copied whole.
struct MidiBeat {
  Song song; // the bank, the chain, the tempo and the shuffle
  int playing;
  Uint32 starts; // the transport's starts so far, so that a stop and a start at once both arrive
};

// Where the events of a cycle go: write puts one at offset frames into the cycle and says whether
// it was kept (JACK's buffer may be full).
struct MidiSink {
  bool (*write)(void* buffer, int offset, const unsigned char* bytes, int size);
  void* buffer;
};

// The stream's state between cycles, the callback's own.
struct MidiStream {
  MidiBeat beat;         // the beat taken up last
  int slot;              // the slot of the bar being sent
  bool joined;           // false until the first cycle has taken up a beat: that one is not a start
  unsigned char channel; // 0..15
  long long delay;       // frames every event is moved later by (earlier when negative)
  long long rate;        // the server's frames per second
  bool playing;
  bool startDue;    // Start (0xFA) is still to go out
  long long origin; // the server's frame of step 0: the first frame of the cycle play started in
  Schedule notes;   // the steps' frames, from origin
  Schedule clock;   // the same tempo on the straight grid, for the clock's ticks from its anchor
  Schedule clockBefore;        // the clock's timing before its anchor
  long long nextStep;          // the next step to send, from 0 at the start of play
  long long nextTick;          // the next clock tick, 6 a step
  long long offAt[trackCount]; // frame from origin of each held note's note-off; -1 for none
};

// A stream that has sent nothing, for a server running at rate; channel 1..16, offsetMs -50..50.
void resetStream(MidiStream& m, int channel, int offsetMs, long long rate);

// One cycle of count frames whose first frame is the server's frame first: takes up beat and
// writes every event due in the cycle, in time order. Returns the number of events the sink
// dropped.
int streamCycle(MidiStream& m, const MidiBeat& beat, long long first, int count,
                const MidiSink& sink);
