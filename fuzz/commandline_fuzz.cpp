// The command line's parser on any arguments (the bytes split at each NUL): the options it reads,
// or a usage error that says what was wrong.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "startup/commandline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words(1, "pocketdrum");
  words.emplace_back();
  for (size_t k = 0; k < size; k++) {
    if (data[k] == '\0') {
      words.emplace_back();
    } else {
      words.back() += char(data[k]);
    }
  }
  std::vector<const char*> argv;
  for (const std::string& w : words) {
    argv.push_back(w.c_str());
  }
  argv.push_back(nullptr);
  Options options;
  int status = parseCommandLine(int(words.size()), argv.data(), options);
  if ((status != 0 && (status != 64 || options.wrong[0] == '\0')) ||
      (status == 0 && (options.bars < 1 || options.bars > 999))) {
    std::abort();
  }
  return 0;
}
