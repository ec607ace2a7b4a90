// The X11 connection's I/O error handler. Xlib's own handler calls exit(), which runs the exit
// handler, and SDL's shutdown then waits on the dead connection for ever.
#include "lost_display.h"

#ifdef HAVE_X11

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <cstdio>

#include "../machine.h"
#include <unistd.h>

namespace {

void (*beforeExit)() = nullptr;

int displayLost(Display*) {
  if (beforeExit != nullptr) {
    beforeExit();
  }
  tell("lost the connection to the display; quitting");
  std::fflush(stdout);
  std::fflush(stderr);
  // not exit(): the exit handler would talk to the dead display, and the mixer's thread would run
  // on while the libraries unload
  _exit(1);
}

} // namespace

void watchDisplay(void (*lastWords)()) {
  beforeExit = lastWords;
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWMInfo(&info) > 0 && info.subsystem == SDL_SYSWM_X11) {
    XSetIOErrorHandler(displayLost);
  }
}

#else

void watchDisplay(void (*)()) {}

#endif
