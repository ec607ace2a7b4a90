// The drum machine's entry: the start-up steps and their failure exits, the main loop, and the
// hand-over to the handheld's menu on exit.
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "controls/buttons.h"
#include "loop.h"
#include "startup/lost_display.h"
#include "startup/sdl_settings.h"
#include "startup/startup.h"

namespace {

const char* const assetDir = "assets"; // under the working directory
const char* const menuDirectory = "/usr/gp2x";
const char* const menuProgram = "/usr/gp2x/gp2xmenu";

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
  watchDisplay(nullptr);
  loadMachine(state, assetDir);
  initMachineState(state, SDL_GetTicks());
  return runMainLoop(state, liveInputs);
}
