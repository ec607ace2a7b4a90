// A build without JACK, as the handheld port is made: --midi-out is taken, and says it cannot be.
#include "midi_out.h"

void startMidiOut(const MidiOutSettings&, const MachineState&) {
  tell("--midi-out: this build has no MIDI out (it was built without JACK); playing on without "
       "it");
}

void followMidiOut(const MachineState&) {}
