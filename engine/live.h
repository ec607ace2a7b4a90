// The engine playing live: it renders inside SDL_mixer's audio callback, so every hit lands on
// its exact frame, and the frames rendered so far are the clock. The main thread hands the beat
// over; the callback copies it and never waits on the main thread.
#pragma once

#include "../machine.h"
#include "song.h"

// The beat as the main thread hands it over. starts and halts count the transport's starts and
// the moments all sound was cut, so that a stop and a start in one frame both arrive.
struct LiveBeat {
  Song song;
  int playing;
  Uint32 starts;
  Uint32 halts;
};

// Puts the engine in the mixer's stream. Where the audio device is not open there is no
// callback: the engine then runs unheard on the ticks, from ticks on. True when it is heard.
bool startLiveEngine(const SampleBank& bank, Uint32 ticks);

// Takes the engine out of the mixer's stream before the device closes: from ticks on it runs
// unheard on the ticks, keeping its place. Nothing happens where it is not heard.
void leaveStream(Uint32 ticks);

// Puts the engine that left back in the stream of the device opened again, where the beat has
// reached by ticks, so that it sounds on the beat. Where the device opened in another format it
// stays unheard, after one line saying so.
void rejoinStream(Uint32 ticks);

// Hands a changed beat over to the engine; it takes it up at its next buffer, or unheard at the
// next liveStep.
void handOverBeat(const LiveBeat& beat);

// The step the engine has sounded last, 1..16, or 1 for a start it has yet to play; 0 when
// stopped. ticks moves the unheard engine on to now. Where the engine has sounded a step of this
// play, bar and slot are set to that step's bar (from 0) and the slot sounding in it.
int liveStep(Uint32 ticks, long long* bar = nullptr, int* slot = nullptr);
