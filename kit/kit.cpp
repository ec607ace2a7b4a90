// The user's own kit: which file plays which track, decoded with libsndfile, brought to 44100 Hz
// with libsamplerate and handed to the mixer as 16-bit stereo chunks.
#include "kit.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <samplerate.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sysexits.h>
#include <vector>

#include "../startup/startup.h"

namespace {

// A drum sound is short; the cap keeps a stray recording from filling memory (60 s is 10 MB).
constexpr int longestSeconds = 60;
constexpr int bytesPerFrame = 4; // 16-bit stereo

// "05-snare.wav" and "05 snare", but neither "5-snare.wav" nor "050.wav": 1..10, or 0.
int trackOfName(const char* name) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (!digit(name[0]) || !digit(name[1]) || name[2] == '\0' || digit(name[2])) {
    return 0;
  }
  int n = (name[0] - '0') * 10 + (name[1] - '0');
  return n >= 1 && n <= trackCount ? n : 0;
}

// The file name without its extension, as the pattern file's row comment shows it; a control
// character would break the comment's line, so it shows as '?'.
void keepName(const std::string& file, char (&name)[kitNameBytes]) {
  size_t dot = file.rfind('.');
  std::string stem = dot == std::string::npos || dot == 0 ? file : file.substr(0, dot);
  stem.resize(std::min(stem.size(), size_t(kitNameBytes - 1)));
  for (char& c : stem) {
    if ((unsigned char)c < 0x20 || c == 0x7f) {
      c = '?';
    }
  }
  std::memcpy(name, stem.c_str(), stem.size() + 1);
}

// The names of dir's regular files (or links to them), in byte order; false with errno set
// when the folder cannot be listed.
bool listFolder(const std::string& dir, std::vector<std::string>& names) {
  DIR* folder = opendir(dir.c_str());
  if (folder == nullptr) {
    return false;
  }
  while (const dirent* entry = readdir(folder)) {
    struct stat st;
    std::string path = dir + "/" + entry->d_name;
    if (trackOfName(entry->d_name) != 0 && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      names.push_back(entry->d_name);
    }
  }
  closedir(folder);
  std::sort(names.begin(), names.end()); // std::string compares as unsigned bytes
  return true;
}

// libsndfile's reasons end with a full stop; the line goes on after them.
std::string reasonOf(const char* text) {
  std::string reason = text;
  while (!reason.empty() && (reason.back() == '.' || reason.back() == '\n')) {
    reason.pop_back();
  }
  return reason;
}

// The whole file as interleaved stereo floats at its own rate: mono on both sides, the first two
// of more channels. Empty, with the reason, when it cannot be decoded.
std::vector<float> decodeStereo(const std::string& path, int& rate, std::string& reason) {
  SF_INFO info = {};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) {
    reason = reasonOf(sf_strerror(nullptr));
    return {};
  }
  std::vector<float> stereo;
  if (info.channels < 1 || info.samplerate < 1 || info.frames < 1) {
    reason = "no sound in it";
  } else if (info.frames > sf_count_t(longestSeconds) * info.samplerate) {
    reason = "longer than " + std::to_string(longestSeconds) + " s";
  } else {
    std::vector<float> all(size_t(info.frames) * size_t(info.channels));
    sf_count_t got = sf_readf_float(file, all.data(), info.frames);
    if (got < 1) {
      reason = sf_error(file) != 0 ? reasonOf(sf_strerror(file)) : "no sound in it";
    }
    stereo.resize(size_t(std::max<sf_count_t>(got, 0)) * 2);
    for (sf_count_t i = 0; i < got; i++) {
      const float* frame = &all[size_t(i) * size_t(info.channels)];
      stereo[2 * i] = frame[0];
      stereo[2 * i + 1] = info.channels > 1 ? frame[1] : frame[0];
    }
  }
  rate = info.samplerate;
  sf_close(file);
  return stereo;
}

// The stereo frames at audioRate; empty, with the reason, when libsamplerate refuses.
std::vector<float> toMixerRate(std::vector<float> stereo, int rate, std::string& reason) {
  if (rate == audioRate) {
    return stereo;
  }
  double ratio = double(audioRate) / rate;
  long frames = long(stereo.size() / 2);
  std::vector<float> out(size_t(std::ceil(frames * ratio) + 16) * 2);
  SRC_DATA data = {};
  data.data_in = stereo.data();
  data.input_frames = frames;
  data.data_out = out.data();
  data.output_frames = long(out.size() / 2);
  data.src_ratio = ratio;
  int error = src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 2);
  if (error != 0) {
    reason = src_strerror(error);
    return {};
  }
  out.resize(size_t(data.output_frames_gen) * 2);
  return out;
}

// A chunk built as the mixer builds one it loaded: it owns its buffer (allocated = 1), so
// Mix_FreeChunk or freeKit frees both.
Mix_Chunk* chunkOf(const std::vector<float>& stereo) {
  Uint32 bytes = Uint32(stereo.size() * 2);
  Uint8* buffer = static_cast<Uint8*>(SDL_malloc(bytes));
  Mix_Chunk* chunk = static_cast<Mix_Chunk*>(SDL_malloc(sizeof(Mix_Chunk)));
  if (buffer == nullptr || chunk == nullptr) {
    SDL_free(buffer);
    SDL_free(chunk);
    return nullptr;
  }
  for (size_t k = 0; k < stereo.size(); k++) {
    // libsndfile reads 16-bit samples as s / 32768, so they come back exactly
    long s = std::lround(std::clamp(double(stereo[k]) * 32768.0, -32768.0, 32767.0));
    buffer[2 * k] = Uint8(s & 0xff);
    buffer[2 * k + 1] = Uint8((s >> 8) & 0xff);
  }
  chunk->allocated = 1;
  chunk->abuf = buffer;
  chunk->alen = bytes;
  chunk->volume = MIX_MAX_VOLUME;
  return chunk;
}

// The sound of one file as a chunk, or null with the reason.
Mix_Chunk* loadSound(const std::string& path, std::string& reason) {
  int rate = 0;
  std::vector<float> stereo = decodeStereo(path, rate, reason);
  if (!stereo.empty()) {
    stereo = toMixerRate(std::move(stereo), rate, reason);
  }
  if (stereo.size() < 2) {
    if (reason.empty()) {
      reason = "no sound in it";
    }
    return nullptr;
  }
  Mix_Chunk* chunk = chunkOf(stereo);
  if (chunk == nullptr) {
    reason = std::strerror(ENOMEM);
  }
  return chunk;
}

// The folder's absolute path, or a reason it cannot be the kit. The pattern file keeps the
// path on a line of its own with trailing blanks removed, so such a path could not come back.
bool absoluteFolder(const char* dir, std::string& folder, std::string& reason) {
  char resolved[PATH_MAX];
  if (realpath(dir, resolved) == nullptr) {
    reason = std::strerror(errno);
    return false;
  }
  folder = resolved;
  struct stat st;
  if (stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode)) {
    reason = std::strerror(ENOTDIR);
    return false;
  }
  bool keepable = folder.size() < size_t(kitFolderBytes) && folder.back() != ' ' &&
                  folder.back() != '\t' && folder.find_first_of("\r\n") == std::string::npos;
  if (!keepable) {
    reason = "a pattern file cannot keep this folder's path";
  }
  return keepable;
}

int refuse(const std::string& where, const std::string& reason, const char* after) {
  std::fprintf(stderr, "%s: %s%s\n", where.c_str(), reason.c_str(), after);
  return EX_NOINPUT;
}

} // namespace

int loadKit(const char* dir, const std::string& where, SampleBank& bank, const char* after) {
  for (int t = 0; t < trackCount; t++) {
    bank.chunk[t] = nullptr;
    bank.name[t][0] = '\0';
  }
  bank.folder[0] = '\0';
  std::string folder;
  std::string reason;
  std::vector<std::string> names;
  if (!absoluteFolder(dir, folder, reason)) {
    return refuse(where, reason, after);
  }
  if (!listFolder(folder, names)) {
    return refuse(where, std::strerror(errno), after);
  }
  int loaded = 0;
  for (int t = 0; t < trackCount; t++) {
    auto file = std::find_if(names.begin(), names.end(), [t](const std::string& name) {
      return trackOfName(name.c_str()) == t + 1;
    });
    if (file == names.end()) {
      std::fprintf(stderr, "pocketdrum: %s: no file for track %02d; that track stays silent\n", dir,
                   t + 1);
      continue;
    }
    keepName(*file, bank.name[t]);
    std::string path = std::string(dir) + "/" + *file;
    std::string why;
    bank.chunk[t] = loadSound(path, why);
    if (bank.chunk[t] == nullptr) {
      std::fprintf(stderr, "pocketdrum: %s: %s; that track stays silent\n", path.c_str(),
                   why.c_str());
    } else {
      loaded++;
    }
  }
  if (loaded == 0) {
    return refuse(where, "no sound of the kit could be loaded", after);
  }
  std::memcpy(bank.folder, folder.c_str(), folder.size() + 1);
  return 0;
}

int loadKitFolder(const char* dir, SampleBank& bank) {
  return loadKit(dir, std::string("pocketdrum: ") + dir, bank);
}

int loadRememberedKit(const char* file, int line, const char* dir, SampleBank& bank) {
  return loadKit(
      dir, std::string("pocketdrum: ") + file + ":" + std::to_string(line) + ": kit folder " + dir,
      bank);
}

bool loadResumedKit(const char* file, int line, const char* dir, SampleBank& bank) {
  return loadKit(dir,
                 std::string("pocketdrum: ") + file + ":" + std::to_string(line) + ": kit folder " +
                     dir,
                 bank, "; the built-in kit plays instead") == 0;
}

void freeKit(SampleBank& bank) {
  for (Mix_Chunk*& chunk : bank.chunk) {
    if (chunk != nullptr) {
      SDL_free(chunk->abuf);
      SDL_free(chunk);
      chunk = nullptr;
    }
  }
}
