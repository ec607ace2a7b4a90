// Preloaded into the real program by the end-to-end pad test (LD_PRELOAD): attaches the virtual
// pad before the program's main, and so before its SDL_Init, then carries out the commands that
// arrive on the FIFO named by POCKETDRUM_PAD_FIFO, one a line:
//   "a 1", "leftx -32768"  sets a control (tests/pad/virtual_pad.h);
//   "passes 2"             waits until the program has drawn two more frames.
// The program reads the pad once a pass, so a change that lasts less than a pass may never be
// seen; a press held for two frames is read at the start of the pass in between, whatever the
// machine's load. It writes "virtual pad: ..." lines to standard error, which the test reads.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <thread>

#include "virtual_pad.h"

namespace {

std::atomic<unsigned> frames{0}; // SDL_Flip calls so far: one per pass of the loop

constexpr auto longestPass = std::chrono::seconds(10); // then the program is taken to be gone

void waitPasses(unsigned count) {
  unsigned until = frames.load() + count;
  auto deadline = std::chrono::steady_clock::now() + longestPass;
  while (frames.load() < until && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void carryOut(char* line) {
  char word[64];
  int value = 0;
  bool ok = std::sscanf(line, "%63s %d", word, &value) == 2;
  if (ok && std::strcmp(word, "passes") == 0) {
    waitPasses(unsigned(value));
  } else if (!ok || !virtualpad::set(word, value)) {
    std::fprintf(stderr, "virtual pad: cannot do \"%s\"\n", std::strtok(line, "\n"));
  }
}

void serveCommands(const char* fifo) {
  // a writer may come and go; each open serves until that writer closes
  for (;;) {
    std::FILE* in = std::fopen(fifo, "r");
    if (in == nullptr) {
      std::fprintf(stderr, "virtual pad: cannot open %s\n", fifo);
      return;
    }
    char line[128];
    while (std::fgets(line, sizeof line, in) != nullptr) {
      carryOut(line);
    }
    std::fclose(in);
  }
}

__attribute__((constructor)) void attachBeforeMain() {
  const char* fifo = std::getenv("POCKETDRUM_PAD_FIFO");
  if (fifo == nullptr) {
    return;
  }
  if (!virtualpad::attach()) {
    std::fprintf(stderr, "virtual pad: %s\n", virtualpad::error());
    return;
  }
  std::fprintf(stderr, "virtual pad: attached\n");
  std::thread(serveCommands, fifo).detach();
}

} // namespace

// The program's SDL 1.2 SDL_Flip, counted on its way through.
extern "C" int SDL_Flip(void* screen) {
  static auto next = reinterpret_cast<int (*)(void*)>(dlsym(RTLD_NEXT, "SDL_Flip"));
  frames++;
  return next(screen);
}
