// The drum machine's entry: start-up, the main loop, and the hand-over to the menu on exit.
#include <SDL_image.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "display/text.h"
#include "machine.h"

namespace {

const char* const creditLine = "(c)2026 crew";
const char* const menuDirectory = "/usr/gp2x";
const char* const menuProgram = "/usr/gp2x/gp2xmenu";

constexpr int mixVolume = 12; // of the mixer's 128: ten tracks at once stay clear of clipping

// An asset that failed to load: one line naming the file, SDL's reason and what happens next.
void reportAsset(const char* file, const char* consequence) {
  std::fprintf(stderr, "Couldn't load %s: %s; %s\n", file, SDL_GetError(), consequence);
}

// The background in the screen's format; without a usable image, a black one of the screen's
// size, so the labels and the credit still have somewhere to go.
SDL_Surface* loadBackground() {
  SDL_Surface* loaded = IMG_Load(backgroundFile);
  SDL_Surface* converted = nullptr;
  if (loaded != nullptr) {
    converted = SDL_ConvertSurface(loaded, screen->format, SDL_SWSURFACE);
    SDL_FreeSurface(loaded);
  }
  if (converted == nullptr) {
    reportAsset(backgroundFile, "running on a black background");
    converted = SDL_CreateRGBSurface(SDL_SWSURFACE, screen->w, screen->h, 16, screen->format->Rmask,
                                     screen->format->Gmask, screen->format->Bmask, 0);
    if (converted != nullptr) {
      SDL_FillRect(converted, nullptr, 0);
    }
  }
  return converted;
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

void loadSamples(SampleBank& bank) {
  for (int t = 0; t < trackCount; t++) {
    SDL_RWops* file = SDL_RWFromFile(sampleFiles[t], "rb");
    if (file != nullptr && !isOggFile(file)) {
      SDL_RWclose(file);
      file = nullptr;
    }
    // the loader closes the reader itself
    bank.chunk[t] = file != nullptr ? Mix_LoadWAV_RW(file, 1) : nullptr;
    if (bank.chunk[t] == nullptr) {
      reportAsset(sampleFiles[t], "that track stays silent");
    }
  }
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

int main(int, char**) {
  static MachineState state;

  if (SDL_Init(SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_JOYSTICK) < 0) {
    std::fprintf(stderr, "Couldn't initialize SDL: %s\n", SDL_GetError());
    std::exit(1);
  }
  std::atexit(Terminate);
  SDL_ShowCursor(SDL_DISABLE);

  screen = SDL_SetVideoMode(320, 240, 16, 0);
  if (screen == nullptr) {
    std::fprintf(stderr, "Couldn't set 320x240x16 video mode: %s\n", SDL_GetError());
    std::exit(2);
  }
  if (SDL_NumJoysticks() > 0) {
    joy = SDL_JoystickOpen(0);
    if (joy == nullptr) {
      std::fprintf(stderr, "Couldn't open joystick 0: %s\n", SDL_GetError());
    }
  }

  state.imgGUI = loadBackground();
  if (TTF_Init() < 0) {
    std::fprintf(stderr, "Couldn't initialize SDL_ttf: %s; running without text\n", TTF_GetError());
  }
  targetarea.x = 0;
  targetarea.y = 0;
  targetarea.w = state.imgGUI != nullptr ? Uint16(state.imgGUI->w) : 0;
  targetarea.h = state.imgGUI != nullptr ? Uint16(state.imgGUI->h) : 0;
  font = TTF_WasInit() ? TTF_OpenFont(fontFile, 8) : nullptr;
  if (font == nullptr) {
    reportAsset(fontFile, "running without text");
  }

  // the labels and the credit become part of the background for the whole run
  labelSamples(state.imgGUI);
  drawText(state.imgGUI, creditLine, 246, 40, 255, 255, 255);
  if (state.imgGUI != nullptr) {
    SDL_Rect at = targetarea;
    SDL_BlitSurface(state.imgGUI, nullptr, screen, &at);
  }
  SDL_Flip(screen);

  if (Mix_OpenAudio(44100, AUDIO_S16LSB, 2, 512) < 0) {
    drawText(screen, "Sound Fail 1", 100, 100, 255, 0, 0);
    SDL_Flip(screen);
  }

  for (Mix_Chunk*& chunk : state.samples.chunk) {
    chunk = nullptr;
  }
  drawText(screen, "Loading...", 2, 40, 255, 255, 255);
  SDL_Flip(screen);
  loadSamples(state.samples);

  Mix_AllocateChannels(trackCount);
  for (Mix_Chunk* chunk : state.samples.chunk) {
    if (chunk != nullptr) {
      Mix_VolumeChunk(chunk, mixVolume);
    }
  }

  initMachineState(state, SDL_GetTicks());
  return runMainLoop(state, liveInputs);
}
