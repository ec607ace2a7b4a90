// Preloaded into the real program by the end-to-end pad test (LD_PRELOAD): attaches the virtual
// pad before the program's main, and so before its SDL_Init, then sets the pad's controls as
// commands arrive on the FIFO named by POCKETDRUM_PAD_FIFO, one a line: "a 1", "leftx -32768".
// It writes "virtual pad: ..." lines to standard error, which the test reads.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "virtual_pad.h"

namespace {

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
      char control[64];
      int value = 0;
      if (std::sscanf(line, "%63s %d", control, &value) != 2 || !virtualpad::set(control, value)) {
        std::fprintf(stderr, "virtual pad: cannot do \"%s\"\n", std::strtok(line, "\n"));
      }
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
