// The drum machine's entry: the command line, the start-up steps and their failure exits, the
// main loop, the pattern file kept on the way out, and the hand-over to the handheld's menu.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sysexits.h>
#include <unistd.h>

#include "export/export.h"
#include "export/midi.h"
#include "kit/kit.h"
#include "loop.h"
#include "midiout/midi_out.h"
#include "patternfile/patternfile.h"
#include "patternfile/resume.h"
#include "sequencer/sample_exact.h"
#include "startup/assets.h"
#include "startup/commandline.h"
#include "startup/lost_display.h"
#include "startup/sdl_settings.h"
#include "startup/startup.h"

namespace {

const char* const menuDirectory = "/usr/gp2x";
const char* const menuProgram = "/usr/gp2x/gp2xmenu";

MachineState state;
const char* beatFile = nullptr; // the pattern file kept: FILE, or last.pdrum with --resume
std::string lastBeat;           // with --resume and no FILE, the file the beat is kept in, or empty
std::string triedText; // the beat's text as last read or saved, or as a failed save tried it

// A failed save has said why on standard error; the machine, or its quit, goes on.
void saveBeat(const MachineState& s) {
  Beat beat = beatOf(s);
  triedText = beatText(beat, s.samples);
  if (!lastBeat.empty()) {
    saveResumedBeat(beatFile, beat, s.samples);
  } else {
    saveBeatFile(beatFile, beat, s.samples);
  }
}

// Saves a beat that has changed since, so that a kill or a power cut loses at most the last
// second; a failed save is tried again only once the beat changes again, not every half second.
void keepChangedBeat(const MachineState& s) {
  if (beatText(beatOf(s), s.samples) != triedText) {
    saveBeat(s);
  }
}

void saveBeforeTheDisplayGoes() {
  saveBeat(state);
}

} // namespace

// Runs at every exit once SDL is up: hands the handheld back to its menu program. Where the menu
// cannot be started the process simply ends with the status it was exiting with.
void Terminate() {
  SDL_Quit();
  // the menu replaces this process, so trace lines still buffered would be lost
  std::fflush(stdout);
  std::fflush(stderr);
  if (chdir(menuDirectory) != 0) {
    return;
  }
  execl(menuProgram, menuProgram, static_cast<char*>(nullptr));
}

int main(int argc, char** argv) {
  // Everything that can end the program before it starts ends it here, before SDL and the exit
  // handler: the usage, the version, a bad command line, a pattern file that cannot be read.
  Options options;
  int status = answerCommandLine(parseCommandLine(argc, argv, options), options, stdout, stderr);
  if (status != keepGoing) {
    return status;
  }
  Beat beat;
  ReadStatus read = ReadStatus::missing;
  beatFile = options.file;
  if (options.resume && options.file == nullptr) {
    lastBeat = resumeBeat(beat, read);
    beatFile = lastBeat.empty() ? nullptr : lastBeat.c_str();
  } else if (options.file != nullptr) {
    std::string complaint;
    read = readBeatFile(options.file, beat, complaint);
    if (read == ReadStatus::refused) {
      tell("%s", complaint.c_str());
      return EX_DATAERR;
    }
  }
  // a FILE that is not there yet can be played and saved, but it has no beat to export
  if (options.action == Action::exportBeat && read == ReadStatus::missing &&
      options.file != nullptr) {
    tell("%s: %s", options.file, std::strerror(ENOENT));
    return EX_DATAERR;
  }
  // The user's kit, decoded before any window: --kit's, or else the one the file remembers.
  SampleBank kit = {};
  const SampleBank* userKit = nullptr;
  // The beat --resume keeps must always start: where its kit is gone, the built-in kit plays.
  if (options.kit != nullptr) {
    status = loadKitFolder(options.kit, kit);
    if (status != 0) {
      return status;
    }
    userKit = &kit;
  } else if (read == ReadStatus::loaded && beat.kit[0] != '\0' && !lastBeat.empty()) {
    userKit = loadResumedKit(beatFile, beat.kitLine, beat.kit, kit) ? &kit : nullptr;
  } else if (read == ReadStatus::loaded && beat.kit[0] != '\0') {
    status = loadRememberedKit(options.file, beat.kitLine, beat.kit, kit);
    if (status != 0) {
      return status;
    }
    userKit = &kit;
  }
  if (options.action == Action::exportBeat) {
    if (options.file == nullptr) {
      initMachineState(state, 0); // the beat the machine starts with
      beat = beatOf(state);
    }
    // without --bars a chain plays once, a lone slot for the default bars
    int bars =
        options.barsGiven || beat.song.chainLength == 0 ? options.bars : beat.song.chainLength;
    if (options.exportKind == ExportKind::midi) {
      status = exportMidi(options.exportTo, bars, beat.song);
    } else {
      status = runExport(options.exportTo, bars, beat.song, findAssetFolder().c_str(), userKit,
                         options.normalize);
    }
    freeKit(kit);
    return status;
  }

  applySdlSettings(*SDL_Linked_Version());
  if (SDL_Init(SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_JOYSTICK) < 0) {
    std::fprintf(stderr, "Couldn't initialize SDL: %s\n", SDL_GetError());
    std::exit(1);
  }
  std::atexit(Terminate);
  if (!openScreen()) {
    std::fprintf(stderr, "Couldn't set %dx%dx%d video mode: %s\n", screenWidth, screenHeight,
                 screenDepth, SDL_GetError());
    std::exit(2);
  }
  watchDisplay(beatFile != nullptr ? saveBeforeTheDisplayGoes : nullptr);
  loadMachine(state, findAssetFolder(), userKit);
  initMachineState(state, SDL_GetTicks());
  if (read == ReadStatus::loaded) {
    applyBeat(state, beat);
  }
  state.songControls = beatFile != nullptr ? 1 : 0; // the song is kept: B edits it
  bool exact = options.sampleExact && startSampleExact(state, SDL_GetTicks());
  watchAudio();
  if (options.midiOut) {
    startMidiOut({options.midiConnect, options.midiChannel, options.midiOffsetMs}, state);
  }
  triedText = beatText(beatOf(state), state.samples);
  status = beatFile != nullptr ? runMainLoop(state, liveInputs, saveBeat, exact, keepChangedBeat)
                               : runMainLoop(state, liveInputs, nullptr, exact);
  if (beatFile != nullptr) {
    saveBeat(state);
  }
  return status;
}
