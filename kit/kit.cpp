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

// A drum sound is short; the caps keep a stray recording, or a header that claims more than its
// file holds, from filling memory: 60 s at 44100 Hz is 10.6 MB of 16-bit stereo a track.
constexpr int longestSeconds = 60;
constexpr long longestFrames = long(longestSeconds) * audioRate;
constexpr long blockFrames = 4096; // frames, and samples of every channel, read at a time

// "05-snare.wav" and "05 snare", but neither "5-snare.wav" nor "050.wav": 1..10, or 0.
int trackOfName(const char* name) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (!digit(name[0]) || !digit(name[1]) || name[2] == '\0' || digit(name[2])) {
    return 0;
  }
  int n = (name[0] - '0') * 10 + (name[1] - '0');
  return n >= 1 && n <= trackCount ? n : 0;
}

// The track a name passed over by trackOfName seems meant for: "7-ride.wav" 7, "010-x.wav" 1,
// "10" 10 (by its first one or two digits); 0 when it seems meant for none.
int meantTrack(const char* name) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (!digit(name[0]) || trackOfName(name) != 0) {
    return 0;
  }
  int n = digit(name[1]) ? (name[0] - '0') * 10 + (name[1] - '0') : name[0] - '0';
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

// The names of dir's regular files (or links to them) named for a track, and of those passed
// over though they seem meant for one, in byte order; false with errno set when the folder
// cannot be listed.
bool listFolder(const std::string& dir, std::vector<std::string>& names,
                std::vector<std::string>& passedOver) {
  DIR* folder = opendir(dir.c_str());
  if (folder == nullptr) {
    return false;
  }
  while (const dirent* entry = readdir(folder)) {
    struct stat st;
    std::string path = dir + "/" + entry->d_name;
    bool named = trackOfName(entry->d_name) != 0;
    if ((named || meantTrack(entry->d_name) != 0) && stat(path.c_str(), &st) == 0 &&
        S_ISREG(st.st_mode)) {
      (named ? names : passedOver).push_back(entry->d_name);
    }
  }
  closedir(folder);
  std::sort(names.begin(), names.end()); // std::string compares as unsigned bytes
  std::sort(passedOver.begin(), passedOver.end());
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

// Frames of the mixer's 16-bit stereo, appended up to longestFrames; false once that is full.
bool append(std::vector<Sint16>& pcm, const float* stereo, long frames) {
  long room = longestFrames - long(pcm.size() / 2);
  for (long k = 0; k < std::min(frames, room) * 2; k++) {
    // libsndfile reads 16-bit samples as s / 32768, so they come back exactly
    pcm.push_back(Sint16(std::lround(std::clamp(double(stereo[k]) * 32768.0, -32768.0, 32767.0))));
  }
  return frames < room;
}

// One block of stereo frames at the file's rate through the resampler into pcm; the last block
// (end) also empties the resampler. False, with the reason when it is one, once no more is wanted.
bool convert(SRC_STATE* converter, double ratio, float* in, long frames, bool end,
             std::vector<Sint16>& pcm, std::string& reason) {
  float out[2 * blockFrames];
  SRC_DATA data = {};
  data.data_in = in;
  data.input_frames = frames;
  data.src_ratio = ratio;
  data.end_of_input = end ? 1 : 0;
  while (true) {
    data.data_out = out;
    data.output_frames = blockFrames;
    int error = src_process(converter, &data);
    if (error != 0) {
      reason = src_strerror(error);
      return false;
    }
    if (!append(pcm, out, data.output_frames_gen)) {
      return false;
    }
    data.data_in += 2 * data.input_frames_used;
    data.input_frames -= data.input_frames_used;
    if (data.input_frames_used == 0 && data.output_frames_gen == 0) {
      return !end;
    }
  }
}

// The sound as the mixer's interleaved 16-bit stereo at audioRate: mono on both sides, the first
// two of more channels. Read, resampled and kept a block at a time, so that what it takes is
// bounded by longestFrames whatever the header claims. Empty, with the reason, when no sound
// comes of it.
std::vector<Sint16> decodeSound(SNDFILE* file, const SF_INFO& info, std::string& reason) {
  if (info.channels < 1 || info.samplerate < 1 || info.frames < 1) {
    reason = "no sound in it";
    return {};
  }
  if (info.frames > sf_count_t(longestSeconds) * info.samplerate) {
    reason = "longer than " + std::to_string(longestSeconds) + " s";
    return {};
  }
  double ratio = double(audioRate) / info.samplerate;
  int error = 0;
  SRC_STATE* converter = ratio == 1.0 ? nullptr : src_new(SRC_SINC_MEDIUM_QUALITY, 2, &error);
  if (error != 0 || (ratio != 1.0 && src_is_valid_ratio(ratio) == 0)) {
    reason = error != 0 ? src_strerror(error) : "its rate cannot be brought to 44100 Hz";
    src_delete(converter);
    return {};
  }
  std::vector<Sint16> pcm;
  pcm.reserve(size_t(std::min(double(longestFrames), double(info.frames) * ratio + 16)) * 2);
  // a block of the file's frames, at most blockFrames and at most blockFrames samples
  long frames = std::max(1L, blockFrames / info.channels);
  std::vector<float> block(size_t(frames) * size_t(info.channels));
  std::vector<float> stereo(size_t(frames) * 2);
  bool more = true;
  while (more) {
    sf_count_t got = std::max<sf_count_t>(sf_readf_float(file, block.data(), frames), 0);
    for (sf_count_t i = 0; i < got; i++) {
      const float* frame = &block[size_t(i) * size_t(info.channels)];
      stereo[2 * i] = frame[0];
      stereo[2 * i + 1] = info.channels > 1 ? frame[1] : frame[0];
    }
    bool end = got < frames;
    more = converter != nullptr
               ? convert(converter, ratio, stereo.data(), long(got), end, pcm, reason)
               : append(pcm, stereo.data(), long(got));
    more = more && !end;
  }
  src_delete(converter);
  if (pcm.empty() && reason.empty()) {
    reason = sf_error(file) != 0 ? reasonOf(sf_strerror(file)) : "no sound in it";
  }
  return pcm;
}

// A chunk built as the mixer builds one it loaded: it owns its buffer (allocated = 1), so
// Mix_FreeChunk or freeKit frees both.
Mix_Chunk* chunkOf(const std::vector<Sint16>& pcm) {
  Uint32 bytes = Uint32(pcm.size() * 2);
  Uint8* buffer = static_cast<Uint8*>(SDL_malloc(bytes));
  Mix_Chunk* chunk = static_cast<Mix_Chunk*>(SDL_malloc(sizeof(Mix_Chunk)));
  if (buffer == nullptr || chunk == nullptr) {
    SDL_free(buffer);
    SDL_free(chunk);
    return nullptr;
  }
  for (size_t k = 0; k < pcm.size(); k++) {
    buffer[2 * k] = Uint8(Uint16(pcm[k]) & 0xff);
    buffer[2 * k + 1] = Uint8(Uint16(pcm[k]) >> 8);
  }
  chunk->allocated = 1;
  chunk->abuf = buffer;
  chunk->alen = bytes;
  chunk->volume = MIX_MAX_VOLUME;
  return chunk;
}

// The sound of one file as a chunk, or null with the reason.
Mix_Chunk* loadSound(const std::string& path, std::string& reason) {
  SF_INFO info = {};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) {
    reason = reasonOf(sf_strerror(nullptr));
    return nullptr;
  }
  Mix_Chunk* chunk = chunkOfSound(file, info, reason);
  sf_close(file);
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
  tell("%s: %s%s", where.c_str(), reason.c_str(), after);
  return EX_NOINPUT;
}

} // namespace

Mix_Chunk* chunkOfSound(SNDFILE* file, const SF_INFO& info, std::string& reason) {
  std::vector<Sint16> pcm = decodeSound(file, info, reason);
  if (pcm.size() < 2) {
    if (reason.empty()) {
      reason = "no sound in it";
    }
    return nullptr;
  }
  Mix_Chunk* chunk = chunkOf(pcm);
  if (chunk == nullptr) {
    reason = std::strerror(ENOMEM);
  }
  return chunk;
}

int loadKit(const char* dir, const std::string& where, SampleBank& bank, const char* after) {
  for (int t = 0; t < trackCount; t++) {
    bank.chunk[t] = nullptr;
    bank.name[t][0] = '\0';
  }
  bank.folder[0] = '\0';
  std::string folder;
  std::string reason;
  std::vector<std::string> names;
  std::vector<std::string> passedOver;
  if (!absoluteFolder(dir, folder, reason)) {
    return refuse(where, reason, after);
  }
  if (!listFolder(folder, names, passedOver)) {
    return refuse(where, std::strerror(errno), after);
  }
  int loaded = 0;
  for (int t = 0; t < trackCount; t++) {
    auto file = std::find_if(names.begin(), names.end(), [t](const std::string& name) {
      return trackOfName(name.c_str()) == t + 1;
    });
    if (file == names.end()) {
      std::string passed;
      for (const std::string& name : passedOver) {
        passed += meantTrack(name.c_str()) == t + 1 ? (passed.empty() ? "" : ", ") + name : "";
      }
      char rule[80] = "";
      if (!passed.empty()) {
        std::snprintf(rule, sizeof rule,
                      " passed over: a file for track %02d is named %02d then a non-digit", t + 1,
                      t + 1);
      }
      tell("%s: no file for track %02d%s%s%s%s; that track stays silent", dir, t + 1,
           passed.empty() ? "" : " (", passed.c_str(), rule, passed.empty() ? "" : ")");
      continue;
    }
    keepName(*file, bank.name[t]);
    std::string path = std::string(dir) + "/" + *file;
    std::string why;
    bank.chunk[t] = loadSound(path, why);
    if (bank.chunk[t] == nullptr) {
      tell("%s: %s; that track stays silent", path.c_str(), why.c_str());
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
  return loadKit(dir, dir, bank);
}

int loadRememberedKit(const char* file, int line, const char* dir, SampleBank& bank) {
  return loadKit(dir, std::string(file) + ":" + std::to_string(line) + ": kit folder " + dir, bank);
}

bool loadResumedKit(const char* file, int line, const char* dir, SampleBank& bank) {
  return loadKit(dir, std::string(file) + ":" + std::to_string(line) + ": kit folder " + dir, bank,
                 "; the built-in kit plays instead") == 0;
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
