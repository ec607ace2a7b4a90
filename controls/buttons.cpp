// The handheld's button map: what each press and release does, SELECT as a modifier, edit mode.
#include "buttons.h"

#include <cstdio>

#include "../display/grid.h"
#include "../sequencer/pattern.h"
#include "../sequencer/song.h"
#include "../sequencer/transport.h"

namespace {

constexpr Uint32 firstRepeatDelay = 750; // ms from a press to its first repeat

// The desktop keys; several keys may stand for one button.
struct KeyBinding {
  SDLKey key;
  int button;
};
constexpr KeyBinding keyMap[] = {
    {SDLK_UP, buttonUp},         {SDLK_LEFT, buttonLeft},     {SDLK_DOWN, buttonDown},
    {SDLK_RIGHT, buttonRight},   {SDLK_ESCAPE, buttonStart},  {SDLK_TAB, buttonSelect},
    {SDLK_LSHIFT, buttonSelect}, {SDLK_RSHIFT, buttonSelect}, {SDLK_MINUS, buttonL},
    {SDLK_KP_MINUS, buttonL},    {SDLK_l, buttonL},           {SDLK_EQUALS, buttonR},
    {SDLK_KP_PLUS, buttonR},     {SDLK_r, buttonR},           {SDLK_SPACE, buttonA},
    {SDLK_a, buttonA},           {SDLK_b, buttonB},           {SDLK_RETURN, buttonY},
    {SDLK_KP_ENTER, buttonY},    {SDLK_y, buttonY},           {SDLK_x, buttonX},
};

struct Direction {
  int button;
  int dStep;
  int dTrack;
  const char* trace;
};
constexpr Direction directions[] = {
    {buttonLeft, -1, 0, "cursor left\n"},
    {buttonRight, 1, 0, "cursor right\n"},
    {buttonUp, 0, -1, "cursor up\n"},
    {buttonDown, 0, 1, "cursor down\n"},
};

int wrap(int value, int count) {
  return (value + count) % count;
}

void tempoPress(MachineState& s, int direction, const Inputs& in, const char* trace) {
  s.bpmHeld = 1;
  if (in.isDown(buttonSelect)) {
    changeTempo(s, direction, true);
    s.selectUsed = 1;
  } else {
    changeTempo(s, direction, false);
  }
  s.bpmRepeatAt = in.ticks() + firstRepeatDelay;
  std::printf("%s", trace);
}

// The buttons that act only in edit mode: the directions move the cursor, Y toggles its cell.
void editPress(MachineState& s, int button, const Inputs& in) {
  if (button == buttonY) {
    toggleCell(s, s.cursorTrack, s.cursorStep);
    flashCursor(s);
    return;
  }
  for (const Direction& d : directions) {
    if (d.button == button) {
      s.cursorHeld = 1;
      moveCursor(s, button);
      s.cursorRepeatAt = in.ticks() + firstRepeatDelay;
      std::printf("%s", d.trace);
      flashCursor(s);
    }
  }
}

// B held in normal mode with a direction or Y, when the beat is kept: the bank and the chain.
// No trace: these buttons write none outside edit mode.
bool songPress(MachineState& s, int button, const Inputs& in) {
  if (s.songControls == 0 || s.editMode == 1 || !in.isDown(buttonB) || in.isDown(buttonSelect)) {
    return false;
  }
  if (button == buttonLeft || button == buttonRight) {
    stepSlot(s, button == buttonLeft ? -1 : 1);
  } else if (button == buttonUp) {
    appendToChain(s);
  } else if (button == buttonDown) {
    dropFromChain(s);
    s.chainHeld = 1;
    s.chainRepeatAt = in.ticks() + firstRepeatDelay;
  } else if (button == buttonY) {
    s.copyFailed = copySlot(s) ? 0 : 1;
  } else {
    return false;
  }
  s.bankView = 1;
  return true;
}

} // namespace

int buttonForKey(SDLKey key) {
  for (const KeyBinding& k : keyMap) {
    if (k.key == key) {
      return k.button;
    }
  }
  return -1;
}

bool keyHeld(int button) {
  int count = 0;
  Uint8* keys = SDL_GetKeyState(&count);
  for (const KeyBinding& k : keyMap) {
    if (k.button == button && int(k.key) < count && keys[k.key]) {
      return true;
    }
  }
  return false;
}

bool moveCursor(MachineState& s, int button) {
  for (const Direction& d : directions) {
    if (d.button == button) {
      s.cursorStep = wrap(s.cursorStep + d.dStep, stepCount);
      s.cursorTrack = wrap(s.cursorTrack + d.dTrack, trackCount);
      return true;
    }
  }
  return false;
}

void handleButtonDown(MachineState& s, int button, const Inputs& in) {
  if (button == buttonStart) {
    s.quit = 1;
  } else if (button == buttonSelect) {
    // every SELECT hold starts its preset cycle afresh
    s.selectUsed = 0;
    s.presetIndex = 0;
  } else if (button == buttonB) {
    s.selectUsed = 1;
    if (in.isDown(buttonSelect)) {
      s.presetIndex = s.presetIndex + 1;
      if (s.presetIndex > 3) {
        s.presetIndex = 1;
      }
      setDemoMode(s, s.presetIndex);
    }
  } else if (button == buttonA) {
    togglePlay(s, in.ticks());
  } else if (button == buttonX) {
    s.shuffle = 1 - s.shuffle;
  } else if (button == buttonL) {
    tempoPress(s, tempoDown, in, "button BPM down\n");
  } else if (button == buttonR) {
    tempoPress(s, tempoUp, in, "button BPM up\n");
  } else if (songPress(s, button, in)) {
    return;
  } else if (s.editMode == 1) {
    editPress(s, button, in);
  }
}

void handleButtonUp(MachineState& s, int button) {
  if (button == buttonSelect) {
    if (s.selectUsed == 0) {
      s.editMode = 1 - s.editMode;
      flashCursor(s);
    }
  } else if (button == buttonL || button == buttonR) {
    s.bpmHeld = 0;
    std::printf("joy button up\n");
  } else if (button == buttonLeft || button == buttonRight || button == buttonUp ||
             button == buttonDown) {
    // LEFT ends the hold like the others in either mode, so a hidden cursor never keeps moving
    s.cursorHeld = 0;
    s.chainHeld = 0;
    std::printf("stick centred\n");
  } else if (button == buttonB) {
    // the bank is shown for as long as B stays down
    s.bankView = 0;
    s.chainHeld = 0;
    s.copyFailed = 0;
  }
}
