// The process-wide globals, the asset names and the tick comparison everything shares.
#include "machine.h"

#include <cstdarg>
#include <cstdio>

SDL_Surface* screen = nullptr;
TTF_Font* font = nullptr;
SDL_Joystick* joy = nullptr;
SDL_Rect targetarea = {0, 0, 0, 0};

const char* const sampleFiles[trackCount] = {
    "sounds/kits/marrowby/01-openhat.ogg",       "sounds/kits/marrowby/02-closedhat.ogg",
    "sounds/kits/marrowby/03-bassdrum.ogg",      "sounds/kits/marrowby/04-snare.ogg",
    "sounds/kits/marrowby/05-altsnare.ogg",      "sounds/kits/marrowby/06-altsnare2.ogg",
    "sounds/kits/marrowby/07-ridecym.ogg",       "sounds/kits/marrowby/08-floortom.ogg",
    "sounds/kits/marrowby/09-congafiltered.ogg", "sounds/kits/marrowby/10-altsnare3.ogg",
};
const char* const backgroundFile = "gui.png";
const char* const fontFile = "bmmini.ttf";

bool tickReached(Uint32 now, Uint32 deadline, Uint32 maxLead) {
  // Not yet due only while the deadline lies 1..maxLead ms ahead; a deadline is never set
  // further ahead than that, so anything else has passed, across the wrap too.
  return Uint32(deadline - now) - 1u >= maxLead;
}

void tell(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(stderr, "pocketdrum: %s\n", line);
}
