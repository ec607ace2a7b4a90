// The beat as a Standard MIDI File: one track of meta events and drum notes, written whole or not
// at all.
#include "midi.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sysexits.h>
#include <vector>

#include "../engine/drum_notes.h"
#include "../engine/schedule.h"
#include "../files/replace.h"
#include "../machine.h"
#include "../patternfile/patternfile.h"

namespace {

constexpr int ticksPerStep = midiTicksPerQuarter / 4; // a sixteenth
constexpr int ticksPerBar = 4 * midiTicksPerQuarter;  // 4/4
constexpr int noteTicks = 12;                         // a thirty-second, well inside a step

constexpr unsigned char noteOn = 0x99;  // on channel 10, the General MIDI drum channel
constexpr unsigned char noteOff = 0x89; // likewise
constexpr unsigned char onVelocity = 100;
constexpr unsigned char offVelocity = 64; // the default release

const char trackName[] = "pocketdrum";

// One note event of the track.
struct NoteEvent {
  long tick;
  bool on;
  int track; // 0..9
};

// At one tick a note-off comes before a note-on, so that a hit that ends where the same note
// starts again never swallows the new one; then in track order.
bool comesFirst(const NoteEvent& a, const NoteEvent& b) {
  if (a.tick != b.tick) {
    return a.tick < b.tick;
  }
  if (a.on != b.on) {
    return !a.on;
  }
  return a.track < b.track;
}

std::vector<NoteEvent> noteEvents(const Song& song, int bars) {
  std::vector<NoteEvent> events;
  long steps = long(bars) * stepCount;
  for (long i = 0; i < steps; i++) {
    const char* cells = cellsOfStep(song, i);
    for (int t = 0; t < trackCount; t++) {
      if (cells[t * stepCount + i % stepCount] == '1') {
        long tick = midiStepTick(i, song.shuffle);
        events.push_back({tick, true, t});
        events.push_back({tick + noteTicks, false, t});
      }
    }
  }
  std::stable_sort(events.begin(), events.end(), comesFirst);
  return events;
}

// A variable-length quantity: seven bits a byte, most significant first, the high bit set on
// every byte but the last.
void putVarLength(std::string& out, unsigned long value) {
  unsigned char bytes[5];
  int n = 0;
  do {
    bytes[n++] = (unsigned char)(value & 0x7F);
    value >>= 7;
  } while (value != 0);
  while (n > 1) {
    out += char(bytes[--n] | 0x80);
  }
  out += char(bytes[0]);
}

void putBigEndian(std::string& out, unsigned long value, int bytes) {
  for (int b = bytes - 1; b >= 0; b--) {
    out += char((value >> (8 * b)) & 0xFF);
  }
}

void putMeta(std::string& out, unsigned char type, const std::string& data) {
  out += char(0xFF);
  out += char(type);
  putVarLength(out, data.size());
  out += data;
}

// Microseconds a quarter note, rounded.
unsigned long tempoMicroseconds(float bpm) {
  return (unsigned long)std::lround(60000000.0 / double(bpm));
}

std::string trackBody(const Song& song, int bars) {
  std::string out;
  // at tick 0: the name, the tempo and 4/4 (a quarter-note click, eight 32nds a quarter)
  putVarLength(out, 0);
  putMeta(out, 0x03, trackName);
  std::string tempo;
  putBigEndian(tempo, tempoMicroseconds(song.bpm), 3);
  putVarLength(out, 0);
  putMeta(out, 0x51, tempo);
  putVarLength(out, 0);
  putMeta(out, 0x58, std::string("\x04\x02\x18\x08", 4));
  long at = 0;
  for (const NoteEvent& e : noteEvents(song, bars)) {
    putVarLength(out, (unsigned long)(e.tick - at));
    at = e.tick;
    out += char(e.on ? noteOn : noteOff);
    out += char(drumNotes[e.track]);
    out += char(e.on ? onVelocity : offVelocity);
  }
  // the track ends with the bars, after the last note-off
  putVarLength(out, (unsigned long)(long(bars) * ticksPerBar - at));
  putMeta(out, 0x2F, std::string());
  return out;
}

} // namespace

long midiStepTick(long i, int shuffle) {
  return std::lround(stepOffset(i, shuffle) * ticksPerStep);
}

std::string midiFile(const Song& song, int bars) {
  std::string out = "MThd";
  putBigEndian(out, 6, 4);
  putBigEndian(out, 0, 2); // format 0: one track
  putBigEndian(out, 1, 2);
  putBigEndian(out, midiTicksPerQuarter, 2);
  std::string track = trackBody(song, bars);
  out += "MTrk";
  putBigEndian(out, track.size(), 4);
  out += track;
  return out;
}

int exportMidi(const char* outPath, int bars, const Song& song) {
  std::string bytes = midiFile(song, bars);
  Replacement file;
  const char* failed = beginReplacement(outPath, file);
  if (failed == nullptr) {
    failed = writeReplacement(file, bytes.data(), bytes.size()) ? finishReplacement(file)
                                                                : abandonReplacement(file);
  }
  if (failed != nullptr) {
    tell("%s: %s", outPath, failed);
    return EX_CANTCREAT;
  }
  // a MIDI file has no ringing tail: its length is that of the bars, 15 s / bpm a step
  double seconds = double(bars) * stepCount * 15.0 / double(song.bpm);
  std::printf("Wrote %s: %d bars at %s BPM (%.1f s)\n", outPath, bars, tempoText(song.bpm).c_str(),
              seconds);
  return 0;
}
