// The state record's start-up values, the event step and the frame of the main loop.
#include "machine.h"

#include <cstring>

#include "controls/buttons.h"
#include "controls/repeat.h"
#include "display/grid.h"
#include "display/labels.h"
#include "sequencer/pattern.h"
#include "sequencer/transport.h"

SDL_Surface* screen = nullptr;
TTF_Font* font = nullptr;
SDL_Joystick* joy = nullptr;
SDL_Rect targetarea = {0, 0, 0, 0};

const char* const sampleFiles[trackCount] = {
    "assets/sounds/kits/marrowby/01-openhat.ogg",
    "assets/sounds/kits/marrowby/02-closedhat.ogg",
    "assets/sounds/kits/marrowby/03-bassdrum.ogg",
    "assets/sounds/kits/marrowby/04-snare.ogg",
    "assets/sounds/kits/marrowby/05-altsnare.ogg",
    "assets/sounds/kits/marrowby/06-altsnare2.ogg",
    "assets/sounds/kits/marrowby/07-ridecym.ogg",
    "assets/sounds/kits/marrowby/08-floortom.ogg",
    "assets/sounds/kits/marrowby/09-congafiltered.ogg",
    "assets/sounds/kits/marrowby/10-altsnare3.ogg",
};
const char* const backgroundFile = "assets/gui.png";
const char* const fontFile = "assets/bmmini.ttf";

const Inputs liveInputs = {SDL_GetTicks, buttonHeld};

bool tickReached(Uint32 now, Uint32 deadline, Uint32 maxLead) {
  // Not yet due only while the deadline lies 1..maxLead ms ahead; a deadline is never set
  // further ahead than that, so anything else has passed, across the wrap too.
  return Uint32(deadline - now) - 1u >= maxLead;
}

void initMachineState(MachineState& s, Uint32 ticks) {
  loadPresets(s);
  s.cursorStep = 0;
  s.cursorTrack = 0;
  s.bpm = 94.0f;
  s.stepInterval = 15000.0f / s.bpm;
  s.clockEpoch = 0;
  s.nextStepTime = clockReading(s, ticks);
  s.stepTimeCarry = 0.0f;
  s.shuffle = 0;
  s.playing = 0;
  s.editMode = 0;
  s.quit = 0;
  s.step = 0;
  s.bpmHeld = 0;
  s.bpmRepeatAt = 0;
  s.cursorHeld = 0;
  s.cursorRepeatAt = 0;
  s.glow = 90;
  s.glowDelta = 10;
  s.glowNextAt = 0;
  s.presetIndex = 0;
  s.selectUsed = 0;
  std::memcpy(s.stepText, "16th:   ", sizeof s.stepText);
  std::memcpy(s.bpmText, "BPM: xxx.x", sizeof s.bpmText);
}

void handleEvent(MachineState& s, const SDL_Event& event, const Inputs& in) {
  switch (event.type) {
  case SDL_KEYDOWN:
    if (event.key.keysym.sym == SDLK_c && (event.key.keysym.mod & KMOD_CTRL)) {
      s.quit = 1;
    } else if (buttonForKey(event.key.keysym.sym) >= 0) {
      handleButtonDown(s, buttonForKey(event.key.keysym.sym), in);
    }
    break;
  case SDL_KEYUP:
    if (buttonForKey(event.key.keysym.sym) >= 0) {
      handleButtonUp(s, buttonForKey(event.key.keysym.sym));
    }
    break;
  case SDL_JOYBUTTONDOWN:
    handleButtonDown(s, event.jbutton.button, in);
    break;
  case SDL_JOYBUTTONUP:
    handleButtonUp(s, event.jbutton.button);
    break;
  case SDL_QUIT:
    s.quit = 1;
    break;
  default:
    break;
  }
}

void renderFrame(MachineState& s, const Inputs& in) {
  // A background that does not cover the screen would leave the last frame showing around it.
  if (s.imgGUI == nullptr || s.imgGUI->w < screen->w || s.imgGUI->h < screen->h) {
    SDL_FillRect(screen, nullptr, 0);
  }
  if (s.imgGUI != nullptr) {
    SDL_Rect at = targetarea; // the blit clips its destination rectangle in place
    SDL_BlitSurface(s.imgGUI, nullptr, screen, &at);
  }
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
  SDL_Flip(screen);
}

int runMainLoop(MachineState& s, const Inputs& in) {
  while (s.quit == 0) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      handleEvent(s, event, in);
    }
    renderFrame(s, in);
  }
  return 0;
}
