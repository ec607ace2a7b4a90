// Bringing the machine up, step by step, for the program, the tests and the benchmarks alike.
#include "startup.h"

#include <SDL_image.h>
#include <cstdio>
#include <cstring>

#include "../display/text.h"
#include "../engine/schedule.h"
#include "../pads/pad.h"
#include "../sequencer/pattern.h"
#include "../sequencer/transport.h"
#include "sdl_settings.h"

namespace {

const char* const creditLine = "(c)2026 crew";
constexpr int creditX = 246;
constexpr int creditY = 40;
constexpr int fontPoints = 8;

std::string assetPath(const std::string& assetDir, const char* name) {
  return assetDir + "/" + name;
}

// An asset that failed to load: one line naming the file, SDL's reason and what happens next.
void reportAsset(const std::string& file, const char* consequence) {
  tell("%s: %s; %s", file.c_str(), SDL_GetError(), consequence);
}

// The background in the screen's format; without a usable image, a black one of the screen's
// size, so the labels and the credit still have somewhere to go.
SDL_Surface* loadBackground(const std::string& assetDir) {
  std::string file = assetPath(assetDir, backgroundFile);
  SDL_Surface* loaded = IMG_Load(file.c_str());
  SDL_Surface* converted = nullptr;
  if (loaded != nullptr) {
    converted = SDL_ConvertSurface(loaded, screen->format, SDL_SWSURFACE);
    SDL_FreeSurface(loaded);
  }
  if (converted == nullptr) {
    reportAsset(file, "running on a black background");
    converted = SDL_CreateRGBSurface(SDL_SWSURFACE, screen->w, screen->h, screenDepth,
                                     screen->format->Rmask, screen->format->Gmask,
                                     screen->format->Bmask, 0);
    if (converted != nullptr) {
      SDL_FillRect(converted, nullptr, 0);
    }
  }
  return converted;
}

// Joystick 0, read in SDL's standard controller layout when the compatibility layer lists pads
// that way, else by the handheld's own indices.
void openJoystick() {
  if (SDL_NumJoysticks() > 0) {
    joy = SDL_JoystickOpen(0);
    if (joy == nullptr) {
      std::fprintf(stderr, "Couldn't open joystick 0: %s\n", SDL_GetError());
    }
  }
  usePadLayout(gameControllerLayout(*SDL_Linked_Version()));
}

void openFont(const MachineState& s, const std::string& assetDir) {
  if (TTF_Init() < 0) {
    tell("SDL_ttf cannot start: %s; running without text", TTF_GetError());
  }
  targetarea.x = 0;
  targetarea.y = 0;
  targetarea.w = s.imgGUI != nullptr ? Uint16(s.imgGUI->w) : 0;
  targetarea.h = s.imgGUI != nullptr ? Uint16(s.imgGUI->h) : 0;
  std::string file = assetPath(assetDir, fontFile);
  font = TTF_WasInit() ? TTF_OpenFont(file.c_str(), fontPoints) : nullptr;
  if (font == nullptr) {
    reportAsset(file, "running without text");
  }
}

// The labels and the credit become part of the background for the whole run; then the first
// picture.
void showBackground(const MachineState& s, const SampleBank* kit) {
  labelSamples(s.imgGUI, kit);
  drawText(s.imgGUI, creditLine, creditX, creditY, 255, 255, 255);
  if (s.imgGUI != nullptr) {
    SDL_Rect at = targetarea;
    SDL_BlitSurface(s.imgGUI, nullptr, screen, &at);
  }
  SDL_Flip(screen);
}

// The mixer would take a WAV, AIFF or VOC file under any name; the kit is Ogg Vorbis only, so
// a file that is not one is refused, not guessed at.
bool isOggFile(SDL_RWops* file) {
  char magic[4] = {};
  bool ogg = SDL_RWread(file, magic, 1, 4) == 4 && std::memcmp(magic, "OggS", 4) == 0;
  SDL_RWseek(file, 0, RW_SEEK_SET);
  if (!ogg) {
    SDL_SetError("not an Ogg Vorbis file");
  }
  return ogg;
}

// The user's kit is decoded to 44100 Hz 16-bit stereo before the mixer opens; a mixer that did
// not open, or opened another way, would play it as noise.
bool mixerTakesKit() {
  int rate = 0;
  Uint16 format = 0;
  int channels = 0;
  if (Mix_QuerySpec(&rate, &format, &channels) == 0) {
    tell("the audio device is not open; the kit stays silent");
    return false;
  }
  if (rate != audioRate || format != audioFormat || channels != audioChannels) {
    tell("the mixer opened at %d Hz, format 0x%04x, %d channels, not 44100 Hz 16-bit stereo; "
         "the kit stays silent",
         rate, format, channels);
    return false;
  }
  return true;
}

void setUpChannels(const SampleBank& bank) {
  Mix_AllocateChannels(trackCount);
  for (Mix_Chunk* chunk : bank.chunk) {
    if (chunk != nullptr) {
      Mix_VolumeChunk(chunk, mixVolume);
    }
  }
}

} // namespace

bool openScreen() {
  SDL_ShowCursor(SDL_DISABLE);
  screen = SDL_SetVideoMode(screenWidth, screenHeight, screenDepth, 0);
  return screen != nullptr;
}

void nameBuiltInKit(SampleBank& bank) {
  bank.folder[0] = '\0';
  for (int t = 0; t < trackCount; t++) {
    bank.chunk[t] = nullptr;
    // the file's name without folder and extension: "01-openhat"
    std::string name = sampleFiles[t];
    name = name.substr(name.rfind('/') + 1);
    name = name.substr(0, name.rfind('.'));
    std::snprintf(bank.name[t], sizeof bank.name[t], "%s", name.c_str());
  }
}

void loadSamples(SampleBank& bank, const std::string& assetDir) {
  nameBuiltInKit(bank);
  for (int t = 0; t < trackCount; t++) {
    std::string path = assetPath(assetDir, sampleFiles[t]);
    SDL_RWops* file = SDL_RWFromFile(path.c_str(), "rb");
    if (file != nullptr && !isOggFile(file)) {
      SDL_RWclose(file);
      file = nullptr;
    }
    // the loader closes the reader itself
    bank.chunk[t] = file != nullptr ? Mix_LoadWAV_RW(file, 1) : nullptr;
    if (bank.chunk[t] == nullptr) {
      reportAsset(path, "that track stays silent");
    }
  }
}

void loadMachine(MachineState& s, const std::string& assetDir, const SampleBank* kit) {
  openJoystick();
  s.imgGUI = loadBackground(assetDir);
  openFont(s, assetDir);
  showBackground(s, kit);

  if (!openAudio()) {
    tell("the audio device cannot be opened: %s; running without sound", Mix_GetError());
    drawText(screen, "Sound Fail 1", 100, 100, 255, 0, 0);
    SDL_Flip(screen);
  }

  for (Mix_Chunk*& chunk : s.samples.chunk) {
    chunk = nullptr;
  }
  drawText(screen, "Loading...", 2, 40, 255, 255, 255);
  SDL_Flip(screen);
  if (kit != nullptr) {
    s.samples = *kit; // decoded before the window opened, for the mixer as it is meant to open
    if (!mixerTakesKit()) {
      for (Mix_Chunk*& chunk : s.samples.chunk) {
        chunk = nullptr;
      }
    }
  } else {
    loadSamples(s.samples, assetDir);
  }
  setUpChannels(s.samples);
}

void initMachineState(MachineState& s, Uint32 ticks) {
  loadPresets(s);
  s.cursorStep = 0;
  s.cursorTrack = 0;
  std::memset(s.bank, '0', sizeof s.bank);
  s.chainLength = 0;
  s.currentSlot = 0;
  s.shownSlot = 0;
  s.bar = 0;
  s.songControls = 0;
  s.bankView = 0;
  s.chainHeld = 0;
  s.chainRepeatAt = 0;
  s.copyFailed = 0;
  s.bpm = 94.0f;
  s.stepInterval = stepLength(s.bpm);
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
