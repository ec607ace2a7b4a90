// Live MIDI out through JACK: the client, the hand-over of the beat to its process callback, and
// the thread that joins and rejoins the server.
#include "midi_out.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <string>
#include <thread>

#include "../sequencer/output.h"
#include "../sequencer/song.h"
#include "midi_stream.h"

namespace {

const char clientName[] = "pocketdrum";
const char portName[] = "midi_out";
// How often the joiner looks for a server while it has none, and for a lost client while it
// has one.
constexpr auto retryPeriod = std::chrono::milliseconds(500);
constexpr auto watchPeriod = std::chrono::milliseconds(50);

bool started = false;
MidiOutSettings settings;
std::string connectTo;

// The hand-over, a triple buffer: the main thread fills its slot `back`, then swaps it for the
// middle one, marked new; the callback, when the middle is new, swaps its slot `front` for it.
// Neither side ever waits on the other.
MidiBeat slots[3];
constexpr int fresh = 4; // the mark of a new middle slot, beside its index
std::atomic<int> middle{1};
int back = 0;  // the main thread's
int front = 2; // the callback's

// The main thread's side: the beat last handed over, the transport's starts so far.
MidiBeat offered;
Uint32 starts = 0;

// The sequencer's output that MIDI out wraps.
BeatOutput inner;
BeatOutput outer;

// The client, opened and closed by the joiner thread alone; the callback's stream.
jack_client_t* client = nullptr;
jack_port_t* port = nullptr;
MidiStream stream;
// Frames of the cycles the callback has run since the client joined: the stream's clock. The
// server's own frame time jumps ahead after an xrun, but the port's buffers follow one another
// with nothing between them, and a receiver counts frames the same way.
long long cycleFrame = 0;
std::thread joiner;
std::atomic<bool> leaving{false};

// What the other threads tell the main thread: counts it compares with what it saw last, each
// raised after the text it goes with is written.
std::atomic<unsigned> joins{0};       // times the client joined a server
std::atomic<unsigned> failures{0};    // attempts that found no server or could not open
std::atomic<unsigned> losses{0};      // times the server went or dropped the client
std::atomic<unsigned> zombies{0};     // of those, the client zombified for a missed deadline
std::atomic<unsigned> unconnected{0}; // joins after which --midi-connect failed
std::atomic<unsigned> dropped{0};     // events a full buffer dropped
std::atomic<bool> gone{false};        // the server has shut the client down
char fullName[256];                   // the port's full name once joined
char failure[128];                    // why the last open failed
char lossReason[256];                 // why the server shut the client down

struct Seen {
  unsigned joins, failures, losses, zombies, unconnected;
} seen = {};

void taken(const char*) {} // JACK's own messages: the program says it in one line instead

bool writeEvent(void* buffer, int offset, const unsigned char* bytes, int size) {
  return jack_midi_event_write(buffer, jack_nframes_t(offset), bytes, size_t(size)) == 0;
}

int process(jack_nframes_t count, void*) {
  void* buffer = jack_port_get_buffer(port, count);
  jack_midi_clear_buffer(buffer);
  if (middle.load(std::memory_order_acquire) & fresh) {
    front = middle.exchange(front, std::memory_order_acq_rel) & ~fresh;
  }
  int lost = streamCycle(stream, slots[front], cycleFrame, int(count), {writeEvent, buffer});
  cycleFrame += count;
  if (lost > 0) {
    dropped.fetch_add(unsigned(lost), std::memory_order_relaxed);
  }
  return 0;
}

// On one of JACK's threads: the server has gone, or has zombified the client.
void shutDown(jack_status_t code, const char* reason, void*) {
  std::snprintf(lossReason, sizeof lossReason, "%s", reason != nullptr ? reason : "");
  if (code & JackClientZombie) {
    zombies.fetch_add(1, std::memory_order_release);
  }
  gone.store(true, std::memory_order_release);
}

void closeClient() {
  if (client != nullptr) {
    jack_client_close(client);
  }
  client = nullptr;
  port = nullptr;
}

bool openClient() {
  jack_status_t status = jack_status_t(0);
  client = jack_client_open(clientName, JackNoStartServer, &status);
  if (client == nullptr) {
    std::snprintf(failure, sizeof failure, "%s",
                  (status & JackServerFailed) ? "no JACK server is running"
                                              : "the JACK client could not be opened");
    return false;
  }
  port = jack_port_register(client, portName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  resetStream(stream, settings.channel, settings.offsetMs, jack_get_sample_rate(client));
  cycleFrame = 0;
  gone.store(false);
  jack_set_process_callback(client, process, nullptr);
  jack_on_info_shutdown(client, shutDown, nullptr);
  if (port == nullptr || jack_activate(client) != 0) {
    std::snprintf(failure, sizeof failure, "the JACK client could not start");
    closeClient();
    return false;
  }
  std::snprintf(fullName, sizeof fullName, "%s", jack_port_name(port));
  return true;
}

// --midi-connect, on the joiner thread after each join: the port asked for may come a moment
// after the server, so it is tried each watchPeriod for connectTries, and a failure told once.
constexpr int connectTries = 40;
int triesLeft = 0;

void connectPort() {
  if (triesLeft == 0) {
    return;
  }
  int done = jack_connect(client, fullName, connectTo.c_str());
  if (done == 0 || done == EEXIST) {
    triesLeft = 0;
  } else if (--triesLeft == 0) {
    unconnected.fetch_add(1, std::memory_order_release);
  }
}

// The joiner thread: opens the client when there is none, closes it when the server has let it
// go, and tries again every retryPeriod.
void joinServer() {
  while (!leaving.load()) {
    if (client == nullptr) {
      if (openClient()) {
        triesLeft = connectTo.empty() ? 0 : connectTries;
        joins.fetch_add(1, std::memory_order_release);
      } else {
        failures.fetch_add(1, std::memory_order_release);
      }
    } else if (gone.load(std::memory_order_acquire)) {
      closeClient();
      losses.fetch_add(1, std::memory_order_release);
    } else {
      connectPort();
    }
    int naps = client != nullptr ? 1 : int(retryPeriod / watchPeriod);
    for (int i = 0; i < naps && !leaving.load(); i++) {
      std::this_thread::sleep_for(watchPeriod);
    }
  }
  closeClient();
}

void offer(const MachineState& s) {
  MidiBeat beat;
  std::memset(&beat, 0, sizeof beat);
  beat.song = songOf(s);
  beat.playing = s.playing;
  beat.starts = starts;
  if (std::memcmp(&beat, &offered, sizeof beat) == 0) {
    return;
  }
  offered = beat;
  slots[back] = beat;
  back = middle.exchange(back | fresh, std::memory_order_acq_rel) & ~fresh;
}

void startWithMidi(const MachineState& s) {
  starts++;
  offer(s);
  inner.start(s);
}

void haltWithMidi(const MachineState& s) {
  offer(s);
  inner.halt(s);
}

// At exit: the joiner leaves JACK; a full buffer's losses are told once.
void stopMidiOut() {
  leaving.store(true);
  if (joiner.joinable()) {
    joiner.join();
  }
  unsigned lost = dropped.load();
  if (lost > 0) {
    tell("MIDI out: %u events dropped: the JACK MIDI buffer was full", lost);
  }
}

} // namespace

void startMidiOut(const MidiOutSettings& chosen, const MachineState& s) {
  settings = chosen;
  connectTo = chosen.connect != nullptr ? chosen.connect : "";
  jack_set_error_function(taken);
  jack_set_info_function(taken);
  inner = beatOutput();
  outer = {startWithMidi, inner.hit, haltWithMidi, inner.follow};
  useBeatOutput(outer);
  std::memset(&offered, 0xFF, sizeof offered);
  offer(s);
  started = true;
  joiner = std::thread(joinServer);
  std::atexit(stopMidiOut);
}

void followMidiOut(const MachineState& s) {
  if (!started) {
    return;
  }
  offer(s);
  Seen now = {joins.load(std::memory_order_acquire), failures.load(std::memory_order_acquire),
              losses.load(std::memory_order_acquire), zombies.load(std::memory_order_acquire),
              unconnected.load(std::memory_order_acquire)};
  if (now.losses == seen.losses) {
    now.zombies = seen.zombies; // told with the loss it belongs to
  } else if (now.zombies != seen.zombies) {
    tell("MIDI out: JACK dropped the client for missing its deadline; the sound plays on, and "
         "MIDI out rejoins");
  } else {
    tell("MIDI out: the JACK server has gone (%s); the sound plays on, and MIDI out rejoins the "
         "server when it comes back",
         lossReason);
  }
  if (now.failures != seen.failures && seen.failures == 0 && now.joins == 0) {
    tell("MIDI out: %s; the machine plays on without MIDI, and joins a JACK server when one "
         "starts",
         failure);
  }
  if (now.joins != seen.joins && (now.losses > 0 || now.failures > 0)) {
    tell("MIDI out: joined the JACK server as %s", fullName);
  }
  if (now.unconnected != seen.unconnected) {
    tell("MIDI out: cannot connect %s to %s; connect it with jack_connect or a patchbay", fullName,
         connectTo.c_str());
  }
  seen = now;
}
