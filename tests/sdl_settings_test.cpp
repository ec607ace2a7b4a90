// The compatibility layer's settings chosen at start-up: set only on the layer, never over the
// user's own values, and the game-controller layout read back from whatever is in force.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "startup/sdl_settings.h"

namespace {

const char* const names[] = {"SDL12COMPAT_USE_GAME_CONTROLLERS", "SDL12COMPAT_WINDOW_SCALING",
                             "SDL12COMPAT_SCALE_METHOD"};
constexpr int nameCount = 3;

// A start-up: the linked library's patch level, what the user had set (nullptr: nothing), what
// the environment holds afterwards (nullptr: still unset), and whether pads read in SDL's layout.
struct Start {
  int patch;
  const char* user[nameCount];
  const char* after[nameCount];
  bool controllerLayout;
};
const Start starts[] = {
    {60, {}, {"1", "3", "nearest"}, true},
    {50, {}, {"1", "3", "nearest"}, true}, // the layer's first version
    {49, {}, {}, false},
    {15, {}, {}, false},       // the old SDL 1.2
    {15, {"1"}, {"1"}, false}, // which would not read it
    {60, {"0"}, {"0", "3", "nearest"}, false},
    {60, {nullptr, "1"}, {"1", "1", "nearest"}, true},
    {60, {nullptr, nullptr, "linear"}, {"1", "3", "linear"}, true},
    {60, {"2", "2", "linear"}, {"2", "2", "linear"}, true},
    {60, {"true"}, {"true", "3", "nearest"}, false}, // the layer reads a number, and "true" is 0
    {60, {"", ""}, {"", "", "nearest"}, false},
};

TEST(SdlSettings, SetOnlyOnTheLayerAndNeverOverTheUsersOwn) {
  for (const Start& s : starts) {
    SCOPED_TRACE("1.2." + std::to_string(s.patch) + " user " + (s.user[0] ? s.user[0] : "-") + "," +
                 (s.user[1] ? s.user[1] : "-") + "," + (s.user[2] ? s.user[2] : "-"));
    for (int i = 0; i < nameCount; i++) {
      unsetenv(names[i]);
      if (s.user[i] != nullptr) {
        setenv(names[i], s.user[i], 1);
      }
    }
    SDL_version linked = {1, 2, Uint8(s.patch)};
    applySdlSettings(linked);
    for (int i = 0; i < nameCount; i++) {
      const char* value = std::getenv(names[i]);
      if (s.after[i] == nullptr) {
        EXPECT_EQ(nullptr, value) << names[i];
      } else {
        EXPECT_STREQ(s.after[i], value) << names[i];
      }
    }
    EXPECT_EQ(s.controllerLayout, gameControllerLayout(linked));
  }
}

// The library this test runs on: Debian's SDL 1.2 is the compatibility layer.
TEST(SdlSettings, TheLinkedLibraryIsTheLayer) {
  EXPECT_TRUE(isCompatLayer(*SDL_Linked_Version()));
}

} // namespace
