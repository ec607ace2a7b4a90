// Live MIDI out: a JACK client "pocketdrum" with one MIDI output port, "midi_out", sending the
// beat's notes and the MIDI clock on their exact frames while the machine plays. The client joins
// the JACK server in the background, never starts one, and rejoins a server that comes back.
#pragma once

#include "../machine.h"

struct MidiOutSettings {
  const char* connect; // a port to connect midi_out to, on every join; null for none
  int channel;         // 1..16
  int offsetMs;        // -50..50: every event this much later
};

// Starts MIDI out: from now on the sequencer's output in use also hands each start and stop to
// MIDI out, which leaves JACK at exit.
void startMidiOut(const MidiOutSettings& settings, const MachineState& s);

// Once a loop pass: hands a changed beat over and tells the user, one line each, what happened to
// the client since the last pass. Nothing unless MIDI out was started.
void followMidiOut(const MachineState& s);
