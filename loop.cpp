// The main loop, above the subsystems it calls: events to the controls, then the frame.
#include "loop.h"

#include "controls/buttons.h"
#include "controls/repeat.h"
#include "display/grid.h"
#include "display/labels.h"
#include "pads/pad.h"
#include "sequencer/transport.h"

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

int runMainLoop(MachineState& s, const Inputs& in, SaveBeat save) {
  while (s.quit == 0) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      handleEvent(s, event, in, save);
    }
    handlePad(s, in);
    renderFrame(s, in);
  }
  return 0;
}
