// The SDL 1.2 compatibility layer's settings that the program chooses for itself, before SDL_Init.
#include "sdl_settings.h"

#include <cstdlib>

namespace {

constexpr int firstCompatPatch = 50; // the layer's versions run 1.2.50 and up

const char* const gameControllerSetting = "SDL12COMPAT_USE_GAME_CONTROLLERS";

struct Setting {
  const char* name;
  const char* value;
};
const Setting compatDefaults[] = {
    {gameControllerSetting, "1"},            // any known pad, in SDL's standard layout
    {"SDL12COMPAT_WINDOW_SCALING", "3"},     // 320 x 240 opens as 960 x 720
    {"SDL12COMPAT_SCALE_METHOD", "nearest"}, // whole pixels stay sharp
};

} // namespace

bool isCompatLayer(const SDL_version& linked) {
  return linked.major == 1 && linked.minor == 2 && linked.patch >= firstCompatPatch;
}

void applySdlSettings(const SDL_version& linked) {
  if (!isCompatLayer(linked)) {
    return;
  }
  for (const Setting& s : compatDefaults) {
    setenv(s.name, s.value, 0);
  }
}

bool gameControllerLayout(const SDL_version& linked) {
  if (!isCompatLayer(linked)) {
    return false;
  }
  // the layer reads the setting as a whole number, anything but 0 meaning on ("true" is 0)
  const char* value = std::getenv(gameControllerSetting);
  return value != nullptr && std::atoi(value) != 0;
}
