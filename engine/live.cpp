// The engine playing live, inside SDL_mixer's audio callback.
#include "live.h"

#include <cstring>

#include "audio.h"
#include "engine.h"

namespace {

Engine engine;
bool heard = false;
bool left = false; // out of the stream of a lost device, until it opens again

// The main thread's side: the beat last handed over, kept to tell a change.
LiveBeat offered;

// Shared with the callback, read and written only under SDL_LockAudio.
LiveBeat handed;
Uint32 startsPlayed = 0;   // the starts the engine has taken up
long long stepPlayed = -1; // the engine's last step, from the start of play
int slotPlayed = 0;        // the slot of that step's bar

// The callback's own copy of what it has applied.
LiveBeat applied;

// Without an audio device the engine runs unheard on the main thread, on the ticks.
// Its clock: ms since it started, summed across the tick count's wrap.
Uint32 lastTicks = 0;
long long elapsedMs = 0;

void applyBeat(const LiveBeat& beat) {
  if (beat.halts != applied.halts) {
    cutVoices(engine);
  }
  engine.song = beat.song;
  if (beat.starts != applied.starts && beat.playing == 1) {
    startSteps(engine, beat.song.bpm, beat.song.shuffle);
  } else if (beat.song.bpm != applied.song.bpm || beat.song.shuffle != applied.song.shuffle) {
    retimeSteps(engine, beat.song.bpm, beat.song.shuffle);
  }
  engine.playing = beat.playing;
  applied = beat;
}

// The mixer's music hook, on the audio thread, with the device locked. It writes the whole
// stream before the mixer adds its channels, which stay idle in this mode; the mixer applies no
// volume to it, so the frames go out exactly as the export renders them. (The post-mix hook
// would come after the channels and would have to add into the stream instead.)
void fillStream(void*, Uint8* stream, int bytes) {
  applyBeat(handed);
  Sint16* out = reinterpret_cast<Sint16*>(stream);
  long long frames = bytes / (audioChannels * 2);
  renderFrames(engine, frames, out);
  for (long long k = 0; k < frames * audioChannels; k++) {
    out[k] = Sint16(SDL_SwapLE16(Uint16(out[k])));
  }
  startsPlayed = applied.starts;
  stepPlayed = engine.lastStep;
  slotPlayed = engine.slot;
}

// The unheard engine moved on to ticks: up to now as the beat was, then the changes from now on.
void runUnheard(Uint32 ticks) {
  elapsedMs += Uint32(ticks - lastTicks);
  lastTicks = ticks;
  renderFrames(engine, elapsedMs * audioRate / 1000 - engine.frame, nullptr);
  applyBeat(handed);
}

// The mixer as the engine renders for it: 44100 Hz 16-bit stereo. Says otherwise, with what
// follows.
bool streamFits(const char* then) {
  int rate = 0;
  Uint16 format = 0;
  int channels = 0;
  if (Mix_QuerySpec(&rate, &format, &channels) == 0) {
    return false;
  }
  if (rate != audioRate || format != audioFormat || channels != audioChannels) {
    tell("--sample-exact: the mixer opened at %d Hz, format 0x%04x, %d channels, not 44100 Hz "
         "16-bit stereo; %s",
         rate, format, channels, then);
    return false;
  }
  return true;
}

} // namespace

bool startLiveEngine(const SampleBank& bank, Uint32 ticks) {
  resetEngine(engine, bank);
  applied = handed = offered = LiveBeat{};
  applied.song = oneSlotSong(nullptr, 94.0f, 0);
  handed = offered = applied;
  lastTicks = ticks;
  elapsedMs = 0;
  left = false;
  heard = streamFits("playing as without it");
  if (heard) {
    Mix_HookMusic(fillStream, nullptr);
  }
  return heard;
}

void handOverBeat(const LiveBeat& beat) {
  if (std::memcmp(&beat, &offered, sizeof beat) == 0) {
    return;
  }
  offered = beat;
  // held only for the copy: the callback never waits on more than this
  if (heard) {
    SDL_LockAudio();
  }
  handed = beat;
  if (heard) {
    SDL_UnlockAudio();
  }
}

int liveStep(Uint32 ticks, long long* bar, int* slot) {
  Uint32 starts;
  long long step;
  int playedSlot;
  if (heard) {
    SDL_LockAudio();
    starts = startsPlayed;
    step = stepPlayed;
    playedSlot = slotPlayed;
    SDL_UnlockAudio();
  } else {
    runUnheard(ticks);
    starts = applied.starts;
    step = engine.lastStep;
    playedSlot = engine.slot;
  }
  if (offered.playing == 0) {
    return 0;
  }
  if (starts != offered.starts || step < 0) {
    return 1;
  }
  if (bar != nullptr && slot != nullptr) {
    *bar = step / stepCount;
    *slot = playedSlot;
  }
  return int(step % stepCount) + 1;
}

void leaveStream(Uint32 ticks) {
  if (!heard) {
    return;
  }
  Mix_HookMusic(nullptr, nullptr); // waits for a callback under way
  heard = false;
  left = true;
  lastTicks = ticks;
  // the clock in whole ms at or past the frame reached, so that it never runs back
  elapsedMs = (engine.frame * 1000 + audioRate - 1) / audioRate;
}

void rejoinStream(Uint32 ticks) {
  if (!left) {
    return;
  }
  runUnheard(ticks);
  if (!streamFits("the beat goes on unheard")) {
    return;
  }
  left = false;
  heard = true;
  startsPlayed = applied.starts;
  stepPlayed = engine.lastStep;
  Mix_HookMusic(fillStream, nullptr);
}
