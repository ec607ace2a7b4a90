// The audio device, opened and watched. SDL 1.2's status of the device stays "playing" after a
// loss and the mixer's callback goes on at its pace, so nothing in the 1.2 API tells; the SDL 2
// library that the compatibility layer has loaded does.
#include "audio_device.h"

#include <dlfcn.h>

#include "audio.h"
#include "live.h"

namespace {

typedef int (*DeviceStatus)(Uint32 device); // SDL 2's SDL_GetAudioDeviceStatus
constexpr Uint32 legacyDevice = 1;          // SDL 2's number for the device the 1.2 API opens
constexpr int deviceStopped = 0;            // SDL 2's SDL_AUDIO_STOPPED: a lost device says so
constexpr Uint32 lookPeriod = 250;          // ms between looks at a playing device
constexpr Uint32 retryPeriod = 1000;        // ms between attempts to open a lost one again

DeviceStatus deviceStatus = nullptr; // null: nothing watched
bool lost = false;
Uint32 nextLook = 0; // tick of the next look or attempt, at most retryPeriod ahead

} // namespace

bool openAudio() {
  if (Mix_OpenAudio(audioRate, audioFormat, audioChannels, audioBufferFrames) != 0) {
    return false;
  }
  Mix_AllocateChannels(trackCount);
  return true;
}

void watchAudio() {
  int rate = 0;
  Uint16 format = 0;
  int channels = 0;
  void* sdl2 = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_NOLOAD);
  if (sdl2 != nullptr && Mix_QuerySpec(&rate, &format, &channels) != 0) {
    deviceStatus = reinterpret_cast<DeviceStatus>(dlsym(sdl2, "SDL_GetAudioDeviceStatus"));
  }
}

void keepAudio(Uint32 now) {
  if (deviceStatus == nullptr || !tickReached(now, nextLook, retryPeriod)) {
    return;
  }
  if (!lost) {
    nextLook = now + lookPeriod;
    if (deviceStatus(legacyDevice) != deviceStopped) {
      return;
    }
    lost = true;
    tell("the audio device is lost; trying to open it again every second");
    leaveStream(now);
    Mix_CloseAudio();
    nextLook = now + retryPeriod;
    return;
  }
  // the chunks, their volumes and the music hook outlive the mixer's closing; its channels not
  nextLook = now + retryPeriod;
  if (!openAudio()) {
    return;
  }
  lost = false;
  tell("the audio device is back");
  rejoinStream(now);
  // a device SDL 2 numbers otherwise cannot be watched: not taken for one lost again
  if (deviceStatus(legacyDevice) == deviceStopped) {
    deviceStatus = nullptr;
  }
}
