// The main loop, above the subsystems it calls: events to the controls, then the frame.
#include "loop.h"

#include <cstring>

#include "controls/buttons.h"
#include "controls/repeat.h"
#include "display/bank.h"
#include "display/grid.h"
#include "display/labels.h"
#include "engine/audio_device.h"
#include "midiout/midi_out.h"
#include "pads/pad.h"
#include "sequencer/song.h"
#include "sequencer/transport.h"

namespace {

void drawBackground(const MachineState& s) {
  // A background that does not cover the screen would leave the last frame showing around it.
  if (s.imgGUI == nullptr || s.imgGUI->w < screen->w || s.imgGUI->h < screen->h) {
    SDL_FillRect(screen, nullptr, 0);
  }
  if (s.imgGUI != nullptr) {
    SDL_Rect at = targetarea; // the blit clips its destination rectangle in place
    SDL_BlitSurface(s.imgGUI, nullptr, screen, &at);
  }
}

constexpr Uint32 framePeriod = 16; // ms between paced frames, about 60 a second
// ms between two looks at whether the beat changed, so that a change is on disk within a second
constexpr Uint32 keepPeriod = 500;
// A paced frame is drawn at least this often, picture changed or not, in case the window
// system lost it, ms.
constexpr Uint32 redrawPeriod = 1000;

// Everything the picture is drawn from: the same look means the same picture.
struct Look {
  Pattern pattern;
  float bpm;
  int shuffle, playing, step, editMode, cursorStep, cursorTrack, glow;
  int shownSlot, currentSlot, chainLength, bankView, copyFailed;
  long long bar;
};

Look lookOf(const MachineState& s) {
  Look look;
  std::memcpy(look.pattern, s.pattern, sizeof look.pattern);
  look.bpm = s.bpm;
  look.shuffle = s.shuffle;
  look.playing = s.playing;
  look.step = s.playing == 1 ? s.step : 0;
  look.editMode = s.editMode;
  look.cursorStep = s.cursorStep;
  look.cursorTrack = s.cursorTrack;
  look.glow = s.editMode == 1 ? s.glow : 0;
  look.shownSlot = s.shownSlot;
  look.currentSlot = s.currentSlot;
  look.chainLength = s.chainLength;
  look.bankView = s.bankView;
  look.copyFailed = s.copyFailed;
  look.bar = s.playing == 1 ? s.bar : 0;
  return look;
}

bool sameLook(const Look& a, const Look& b) {
  return std::memcmp(a.pattern, b.pattern, sizeof a.pattern) == 0 && a.bpm == b.bpm &&
         a.shuffle == b.shuffle && a.playing == b.playing && a.step == b.step &&
         a.editMode == b.editMode && a.cursorStep == b.cursorStep &&
         a.cursorTrack == b.cursorTrack && a.glow == b.glow && a.shownSlot == b.shownSlot &&
         a.currentSlot == b.currentSlot && a.chainLength == b.chainLength &&
         a.bankView == b.bankView && a.copyFailed == b.copyFailed && a.bar == b.bar;
}

// The song over the specified screen: the slot label once there is more than slot 1, the bank
// while B is held after a song control.
void drawSong(const MachineState& s) {
  Song song = songOf(s);
  if (!isOneSlot(song)) {
    drawSlotLabel(s, song);
  }
  if (s.bankView == 1) {
    drawBankView(s, song);
  }
}

// One paced frame: the clock, the repeats and the glow move on as in renderFrame, and the
// frame is drawn when the picture has changed, when asked, or after redrawPeriod.
void pacedFrame(MachineState& s, const Inputs& in, Look& shown, Uint32& drawnAt, bool& redraw) {
  if (s.playing == 1) {
    advanceClock(s, in.ticks());
  }
  autoRepeat(s, in);
  if (s.editMode == 1) {
    updateGlow(s, in.ticks());
  }
  Look look = lookOf(s);
  Uint32 now = in.ticks();
  if (!redraw && sameLook(look, shown) && now - drawnAt < redrawPeriod) {
    return;
  }
  drawBackground(s);
  if (s.playing == 1) {
    drawStepLabel(s);
  }
  drawTempoLabels(s);
  drawGrid(s);
  if (s.editMode == 1) {
    drawCursor(s);
  }
  drawSong(s);
  SDL_Flip(screen);
  shown = look;
  drawnAt = now;
  redraw = false;
}

// Sleeps until the next frame is due, or a held button's repeat or the glow's next tick if that
// comes sooner, so they keep their times; a loop that fell behind counts again from now.
void waitForFrame(const MachineState& s, const Inputs& in, Uint32& due) {
  due += framePeriod;
  Uint32 now = in.ticks();
  if (Uint32(due - now) > framePeriod) {
    due = now;
  }
  Uint32 wake = due;
  auto sooner = [&wake, now](bool on, Uint32 at) {
    if (on && Uint32(at - now) < Uint32(wake - now)) {
      wake = at;
    }
  };
  sooner(s.bpmHeld == 1, s.bpmRepeatAt);
  sooner(s.cursorHeld == 1, s.cursorRepeatAt);
  sooner(s.chainHeld == 1, s.chainRepeatAt);
  sooner(s.editMode == 1, Uint32(s.glowNextAt));
  SDL_Delay(wake - now);
}

} // namespace

bool buttonHeld(int button) {
  return padHeld(joy, button) || keyHeld(button);
}

const Inputs liveInputs = {SDL_GetTicks, buttonHeld};

void handleEvent(MachineState& s, const SDL_Event& event, const Inputs& in, SaveBeat save) {
  switch (event.type) {
  case SDL_KEYDOWN:
    if (event.key.keysym.sym == SDLK_c && (event.key.keysym.mod & KMOD_CTRL)) {
      s.quit = 1;
    } else if (event.key.keysym.sym == SDLK_s && (event.key.keysym.mod & KMOD_CTRL)) {
      if (save != nullptr) {
        save(s);
      }
    } else if (buttonForKey(event.key.keysym.sym) >= 0) {
      handleButtonDown(s, buttonForKey(event.key.keysym.sym), in);
    }
    break;
  case SDL_KEYUP:
    if (buttonForKey(event.key.keysym.sym) >= 0) {
      handleButtonUp(s, buttonForKey(event.key.keysym.sym));
    }
    break;
  // a pad in SDL's standard layout numbers its buttons its own way: it is read by handlePad
  case SDL_JOYBUTTONDOWN:
    if (!padLayoutStandard()) {
      handleButtonDown(s, event.jbutton.button, in);
    }
    break;
  case SDL_JOYBUTTONUP:
    if (!padLayoutStandard()) {
      handleButtonUp(s, event.jbutton.button);
    }
    break;
  case SDL_QUIT:
    s.quit = 1;
    break;
  default:
    break;
  }
}

void handlePad(MachineState& s, const Inputs& in) {
  PadEdge edges[padEdgeMax];
  int count = readPad(joy, edges);
  for (int i = 0; i < count; i++) {
    if (edges[i].down) {
      handleButtonDown(s, edges[i].button, in);
    } else {
      handleButtonUp(s, edges[i].button);
    }
  }
}

void renderFrame(MachineState& s, const Inputs& in) {
  drawBackground(s);
  if (s.playing == 1) {
    advanceClock(s, in.ticks());
    drawStepLabel(s);
  }
  autoRepeat(s, in);
  drawTempoLabels(s);
  drawGrid(s);
  if (s.editMode == 1) {
    updateGlow(s, in.ticks());
    drawCursor(s);
  }
  drawSong(s);
  SDL_Flip(screen);
}

int runMainLoop(MachineState& s, const Inputs& in, SaveBeat save, bool paced, SaveBeat keep) {
  Look shown = lookOf(s);
  Uint32 drawnAt = in.ticks();
  Uint32 due = in.ticks();
  Uint32 keptAt = in.ticks();
  bool redraw = true;
  while (s.quit == 0) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      redraw = redraw || event.type == SDL_VIDEOEXPOSE;
      handleEvent(s, event, in, save);
    }
    handlePad(s, in);
    keepAudio(in.ticks());
    followMidiOut(s);
    if (keep != nullptr && in.ticks() - keptAt >= keepPeriod) {
      keep(s);
      keptAt = in.ticks();
    }
    if (!paced) {
      renderFrame(s, in);
    } else {
      pacedFrame(s, in, shown, drawnAt, redraw);
      waitForFrame(s, in, due);
    }
  }
  return 0;
}
