// The sample-exact engine: the song's hits placed on their steps' frames by the schedule and
// mixed into frames as the mixer mixes its channels. The export runs it offline; with
// --sample-exact it runs inside the audio device's callback.
#pragma once

#include <vector>

#include "../machine.h"
#include "schedule.h"
#include "song.h"

// One track's sound: its chunk, played from the start of a hit, cut by the track's next hit as
// one mixer channel per track cuts it.
struct Voice {
  const Mix_Chunk* chunk; // null when the track is quiet
  long long played;       // frames of the chunk mixed so far
};

struct Engine {
  const SampleBank* bank; // the chunks as the mixer decoded them, 44100 Hz 16-bit stereo
  Song song;              // what plays; its tempo and shuffle apply through plan
  int slot;               // the slot of the bar in progress, taken at each bar line
  Schedule plan;
  int playing;        // 1: steps sound on their frames; 0: the voices ring on, nothing new starts
  long long nextStep; // the next step to sound, from 0 at the start of play
  long long endStep;  // steps from this one on stay silent: the end of an export
  long long lastStep; // the step sounded last, -1 before the first
  long long frame;    // frames rendered since the engine was reset: its clock
  Voice voice[trackCount];
};

// Stopped, silent, at frame 0, with the bank's chunks.
void resetEngine(Engine& e, const SampleBank& bank);

// Starts play at column 0: step 0 sounds on the next frame rendered.
void startSteps(Engine& e, float bpm, int shuffle);

// A new tempo or shuffle: the step due next keeps its frame, the new timing applies after it.
void retimeSteps(Engine& e, float bpm, int shuffle);

// Cuts every voice at once.
void cutVoices(Engine& e);

// Renders count frames, interleaved left then right, into out: the voices summed at the mixer's
// volume arithmetic and clamped once. With out null the clock and the steps move on unheard.
void renderFrames(Engine& e, long long count, Sint16* out);

// Renders count frames as renderFrames does, but each voice at the samples' own level (the
// mixer's 128 of 128), summed without truncation or clamping into sum: for a gain applied after.
void renderFullScale(Engine& e, long long count, int* sum);

// Frames of the song played for bars bars from frame 0: the bars, or longer when the last hit
// of a track rings past them.
long long offlineLength(const Song& song, int bars, const SampleBank& bank);

// The engine set up to play the song for bars bars from frame 0, as the export renders them.
void startOffline(Engine& e, const Song& song, int bars, const SampleBank& bank);

// The whole of that beat at once, as interleaved stereo frames.
std::vector<Sint16> renderBeat(const Song& song, int bars, const SampleBank& bank);
