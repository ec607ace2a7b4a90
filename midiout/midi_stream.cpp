// What MIDI out sends, cycle by cycle.
#include "midi_stream.h"

#include <cmath>

#include "../engine/drum_notes.h"

namespace {

constexpr unsigned char clockTick = 0xF8; // 24 a quarter note
constexpr unsigned char startPlay = 0xFA;
constexpr unsigned char stopPlay = 0xFC;
constexpr unsigned char noteOn = 0x90;  // and the channel
constexpr unsigned char noteOff = 0x80; // likewise
constexpr unsigned char onVelocity = 100;
constexpr unsigned char offVelocity = 64; // the default release
constexpr int ticksPerStep = 6;           // 24 a quarter, a step a sixteenth
constexpr int halvesPerStep = 2;          // a note lasts a thirty-second: half a step

// One cycle being written.
struct Cycle {
  MidiStream& m;
  long long first;
  int count;
  const MidiSink& sink;
  int dropped;
};

// Where a frame counted from the origin falls in this cycle; one already past goes at once.
long long offsetOf(const Cycle& c, long long frame) {
  long long at = c.m.origin + c.m.delay + frame - c.first;
  return at < 0 ? 0 : at;
}

void send(Cycle& c, long long frame, unsigned char status, unsigned char a = 0,
          unsigned char b = 0) {
  const unsigned char bytes[3] = {status, a, b};
  int size = status >= 0xF0 ? 1 : 3;
  if (!c.sink.write(c.sink.buffer, int(offsetOf(c, frame)), bytes, size)) {
    c.dropped++;
  }
}

void releaseNote(Cycle& c, int track, long long frame) {
  send(c, frame, noteOff | c.m.channel, drumNotes[track], offVelocity);
  c.m.offAt[track] = -1;
}

// The straight grid's tick n: before the clock's anchor at the timing in force then.
long long tickFrame(const MidiStream& m, long long n) {
  const Schedule& plan = n < m.clock.anchorStep * ticksPerStep ? m.clockBefore : m.clock;
  return frameOfPart(plan, double(n), ticksPerStep);
}

void playStep(Cycle& c, long long frame) {
  MidiStream& m = c.m;
  double at = stepOffset(m.nextStep, m.notes.shuffle);
  m.slot = slotOfStep(m.beat.song, m.nextStep, m.slot);
  const char* cells = m.beat.song.bank[m.slot];
  for (int t = 0; t < trackCount; t++) {
    if (cells[t * stepCount + m.nextStep % stepCount] != '1') {
      continue;
    }
    if (m.offAt[t] >= 0) {
      releaseNote(c, t, frame);
    }
    send(c, frame, noteOn | m.channel, drumNotes[t], onVelocity);
    m.offAt[t] = frameOfPart(m.notes, at * halvesPerStep + 1, halvesPerStep);
  }
  m.nextStep++;
}

// Every event due in the cycle, earliest first; at one frame note-offs, then the clock, then
// the notes.
void sendDue(Cycle& c) {
  MidiStream& m = c.m;
  while (m.playing) {
    if (m.startDue) {
      if (offsetOf(c, 0) >= c.count) {
        return;
      }
      send(c, 0, startPlay);
      m.startDue = false;
    }
    int off = -1;
    for (int t = 0; t < trackCount; t++) {
      if (m.offAt[t] >= 0 && (off < 0 || m.offAt[t] < m.offAt[off])) {
        off = t;
      }
    }
    long long tick = tickFrame(m, m.nextTick);
    long long step = frameOfStep(m.notes, m.nextStep);
    long long at = tick < step ? tick : step;
    if (off >= 0 && m.offAt[off] <= at) {
      at = m.offAt[off];
    }
    if (offsetOf(c, at) >= c.count) {
      return;
    }
    if (off >= 0 && m.offAt[off] == at) {
      releaseNote(c, off, at);
    } else if (tick == at) {
      send(c, at, clockTick);
      m.nextTick++;
    } else {
      playStep(c, at);
    }
  }
}

// Stop goes at the head of the cycle, after the note-offs of the notes still held; a start that
// has not gone out yet is taken back instead.
void stop(Cycle& c) {
  MidiStream& m = c.m;
  m.playing = false;
  if (m.startDue) {
    return;
  }
  for (int t = 0; t < trackCount; t++) {
    if (m.offAt[t] >= 0) {
      send(c, -m.delay - m.origin + c.first, noteOff | m.channel, drumNotes[t], offVelocity);
      m.offAt[t] = -1;
    }
  }
  send(c, -m.delay - m.origin + c.first, stopPlay);
}

void start(MidiStream& m, long long first) {
  m.playing = true;
  m.startDue = true;
  m.origin = first;
  m.notes = {m.beat.song.bpm, m.beat.song.shuffle, 0, 0, m.rate};
  m.clock = m.clockBefore = {m.beat.song.bpm, 0, 0, 0, m.rate};
  m.nextStep = 0;
  m.nextTick = 0;
}

// A new tempo or shuffle from the next step on, as the sound takes it; the clock stays straight
// and changes its pace at that step's place on the straight grid.
void retime(MidiStream& m) {
  m.notes = retimed(m.notes, m.nextStep, m.beat.song.bpm, m.beat.song.shuffle);
  if (m.clock.bpm != m.beat.song.bpm) {
    if (m.nextTick >= m.clock.anchorStep * ticksPerStep) {
      m.clockBefore = m.clock;
    }
    m.clock = retimed(m.clock, m.nextStep, m.beat.song.bpm, 0);
  }
}

} // namespace

void resetStream(MidiStream& m, int channel, int offsetMs, long long rate) {
  m = MidiStream{};
  m.joined = false;
  m.channel = (unsigned char)(channel - 1);
  m.rate = rate;
  m.delay = std::llround(double(offsetMs) * double(rate) / 1000.0);
  m.playing = false;
  for (long long& off : m.offAt) {
    off = -1;
  }
}

int streamCycle(MidiStream& m, const MidiBeat& beat, long long first, int count,
                const MidiSink& sink) {
  Cycle c = {m, first, count, sink, 0};
  MidiBeat was = m.beat;
  m.beat = beat;
  // a beat already playing when the client joins is taken up at its next start
  if (!m.joined) {
    m.joined = true;
    return 0;
  }
  bool started = beat.starts != was.starts && beat.playing == 1;
  if (m.playing && (started || beat.playing == 0)) {
    stop(c);
  }
  if (started) {
    start(m, first);
  } else if (m.playing &&
             (beat.song.bpm != was.song.bpm || beat.song.shuffle != was.song.shuffle)) {
    retime(m);
  }
  sendDue(c);
  return c.dropped;
}
