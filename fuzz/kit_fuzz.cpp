// One kit file's decoding on any bytes, handed to libsndfile from memory: a chunk of at most 60 s
// of the mixer's sound, or a reason.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kit/kit.h"

namespace {

struct Bytes {
  const uint8_t* data;
  sf_count_t size;
  sf_count_t at;
};

sf_count_t lengthOf(void* user) {
  return static_cast<Bytes*>(user)->size;
}

sf_count_t seekTo(sf_count_t offset, int whence, void* user) {
  Bytes& b = *static_cast<Bytes*>(user);
  sf_count_t from = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? b.at : b.size;
  if (offset < -from || offset > b.size - from) {
    return -1;
  }
  b.at = from + offset;
  return b.at;
}

sf_count_t readBytes(void* to, sf_count_t count, void* user) {
  Bytes& b = *static_cast<Bytes*>(user);
  sf_count_t n = count < b.size - b.at ? count : b.size - b.at;
  std::memcpy(to, b.data + b.at, size_t(n));
  b.at += n;
  return n;
}

sf_count_t writeNone(const void*, sf_count_t, void*) {
  return 0;
}

sf_count_t tellAt(void* user) {
  return static_cast<Bytes*>(user)->at;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SF_VIRTUAL_IO io = {lengthOf, seekTo, readBytes, writeNone, tellAt};
  Bytes bytes = {data, sf_count_t(size), 0};
  SF_INFO info = {};
  SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &bytes);
  if (file == nullptr) {
    return 0;
  }
  std::string reason;
  SampleBank bank = {};
  bank.chunk[0] = chunkOfSound(file, info, reason);
  sf_close(file);
  if ((bank.chunk[0] == nullptr) == reason.empty() ||
      (bank.chunk[0] != nullptr &&
       (bank.chunk[0]->alen > 60u * 44100 * 4 || bank.chunk[0]->alen % 4 != 0))) {
    std::abort();
  }
  freeKit(bank);
  return 0;
}
