// A game pad made in software for the tests, on SDL 2's virtual-joystick API. This is the one
// file that speaks SDL 2: the program and the other tests use only the SDL 1.2 API.
//
// The compatibility layer opens "libSDL2-2.0.so.0" with dlopen and calls it through its own
// pointers. Opening the same name again gives the same library instance, so the pad attached here
// is the one the layer lists; linking against SDL 2 instead would put a second set of SDL_*
// symbols beside the SDL 1.2 ones in the same process.
#include "virtual_pad.h"

#include <SDL.h>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>

namespace virtualpad {

namespace {

// How a control reaches SDL: a joystick button, a bit of hat 0, or an axis.
enum Kind { button, hatBit, axis };
struct Control {
  const char* name; // as in SDL's controller mappings
  Kind kind;
  int index; // the button, the hat bit or the axis on the virtual joystick
};
// A pad as most report themselves: buttons, the D-pad as a hat, six axes.
const Control layout[] = {
    {"a", button, 0},
    {"b", button, 1},
    {"x", button, 2},
    {"y", button, 3},
    {"back", button, 4},
    {"guide", button, 5},
    {"start", button, 6},
    {"leftstick", button, 7},
    {"rightstick", button, 8},
    {"leftshoulder", button, 9},
    {"rightshoulder", button, 10},
    {"misc1", button, 11},
    {"paddle1", button, 12},
    {"paddle2", button, 13},
    {"paddle3", button, 14},
    {"paddle4", button, 15},
    {"touchpad", button, 16},
    {"dpup", hatBit, SDL_HAT_UP},
    {"dpright", hatBit, SDL_HAT_RIGHT},
    {"dpdown", hatBit, SDL_HAT_DOWN},
    {"dpleft", hatBit, SDL_HAT_LEFT},
    {"leftx", axis, 0},
    {"lefty", axis, 1},
    {"rightx", axis, 2},
    {"righty", axis, 3},
    {"lefttrigger", axis, 4},
    {"righttrigger", axis, 5},
};
constexpr int buttonCount = 17;
constexpr int axisCount = 6;
const char* const padName = "pocketdrum test pad";

// The SDL 2 functions used, looked up in the library instance the layer uses.
struct Sdl2 {
  SDL_bool (*setHint)(const char*, const char*);
  int (*initSubSystem)(Uint32);
  int (*attachVirtualEx)(const SDL_VirtualJoystickDesc*);
  SDL_JoystickGUID (*deviceGuid)(int);
  void (*guidString)(SDL_JoystickGUID, char*, int);
  int (*addMapping)(const char*);
  SDL_Joystick* (*open)(int);
  int (*setButton)(SDL_Joystick*, int, Uint8);
  int (*setHat)(SDL_Joystick*, int, Uint8);
  int (*setAxis)(SDL_Joystick*, int, Sint16);
  const char* (*getError)();
};
Sdl2 sdl2;
SDL_Joystick* joystick = nullptr;
Uint8 hat = SDL_HAT_CENTERED; // the D-pad directions held
std::string lastError;

template <typename F> bool find(void* library, F& f, const char* name) {
  f = reinterpret_cast<F>(dlsym(library, name));
  if (f == nullptr) {
    lastError = std::string("no ") + name + " in SDL 2";
  }
  return f != nullptr;
}

bool loadSdl2() {
  void* library = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    lastError = dlerror();
    return false;
  }
  return find(library, sdl2.setHint, "SDL_SetHint") &&
         find(library, sdl2.initSubSystem, "SDL_InitSubSystem") &&
         find(library, sdl2.attachVirtualEx, "SDL_JoystickAttachVirtualEx") &&
         find(library, sdl2.deviceGuid, "SDL_JoystickGetDeviceGUID") &&
         find(library, sdl2.guidString, "SDL_JoystickGetGUIDString") &&
         find(library, sdl2.addMapping, "SDL_GameControllerAddMapping") &&
         find(library, sdl2.open, "SDL_JoystickOpen") &&
         find(library, sdl2.setButton, "SDL_JoystickSetVirtualButton") &&
         find(library, sdl2.setHat, "SDL_JoystickSetVirtualHat") &&
         find(library, sdl2.setAxis, "SDL_JoystickSetVirtualAxis") &&
         find(library, sdl2.getError, "SDL_GetError");
}

// "GUID,name,a:b0,...,dpup:h0.1,...,leftx:a0,...": SDL matches a pad's GUID with the name
// checksum (bytes 2 and 3) zeroed as well, so the line holds for this name whatever its checksum.
std::string mappingFor(int device) {
  SDL_JoystickGUID guid = sdl2.deviceGuid(device);
  guid.data[2] = 0;
  guid.data[3] = 0;
  char text[33];
  sdl2.guidString(guid, text, sizeof text);
  std::string line = std::string(text) + "," + padName + ",";
  for (const Control& c : layout) {
    char element[16];
    if (c.kind == button) {
      std::snprintf(element, sizeof element, "b%d", c.index);
    } else if (c.kind == hatBit) {
      std::snprintf(element, sizeof element, "h0.%d", c.index);
    } else {
      std::snprintf(element, sizeof element, "a%d", c.index);
    }
    line += std::string(c.name) + ":" + element + ",";
  }
  return line;
}

bool failed(const char* what) {
  lastError = std::string(what) + ": " + sdl2.getError();
  return false;
}

} // namespace

const char* controlName(int i) {
  constexpr int count = sizeof layout / sizeof layout[0];
  return i >= 0 && i < count ? layout[i].name : nullptr;
}

bool attach() {
  if (joystick != nullptr) {
    return true;
  }
  if (!loadSdl2()) {
    return false;
  }
  // the tests' window never has the focus, and SDL drops a press it would not see
  sdl2.setHint("SDL_JOYSTICK_ALLOW_BACKGROUND_EVENTS", "1");
  if (sdl2.initSubSystem(SDL_INIT_JOYSTICK) < 0) {
    return failed("SDL_InitSubSystem");
  }
  SDL_VirtualJoystickDesc desc;
  std::memset(&desc, 0, sizeof desc);
  desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
  desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
  desc.naxes = axisCount;
  desc.nbuttons = buttonCount;
  desc.nhats = 1;
  desc.name = padName;
  int device = sdl2.attachVirtualEx(&desc);
  if (device < 0) {
    return failed("SDL_JoystickAttachVirtualEx");
  }
  if (sdl2.addMapping(mappingFor(device).c_str()) < 0) {
    return failed("SDL_GameControllerAddMapping");
  }
  joystick = sdl2.open(device);
  if (joystick == nullptr) {
    return failed("SDL_JoystickOpen");
  }
  return true;
}

const char* error() {
  return lastError.c_str();
}

bool set(const char* control, int value) {
  if (joystick == nullptr) {
    return false;
  }
  for (const Control& c : layout) {
    if (std::strcmp(c.name, control) != 0) {
      continue;
    }
    if (c.kind == button) {
      return sdl2.setButton(joystick, c.index, Uint8(value != 0)) == 0;
    }
    if (c.kind == hatBit) {
      hat = value != 0 ? Uint8(hat | c.index) : Uint8(hat & ~c.index);
      return sdl2.setHat(joystick, 0, hat) == 0;
    }
    return sdl2.setAxis(joystick, c.index, Sint16(value)) == 0;
  }
  return false;
}

bool setButton(int index, int value) {
  return joystick != nullptr && sdl2.setButton(joystick, index, Uint8(value != 0)) == 0;
}

} // namespace virtualpad
