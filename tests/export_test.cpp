// The export against the kit as the real mixer decodes it: every hit at its exact frame, a track
// cut by its own next hit, the length of the file, and the WAV as it lands on disk.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "export/export.h"
#include "harness.h"
#include "sequencer/pattern.h"
#include "sequencer/transport.h"

namespace {

namespace fs = std::filesystem;

const SampleBank& kit() {
  static SampleBank bank;
  static bool loaded = false;
  if (!loaded) {
    harness::startSdl(&bank);
    loaded = true;
  }
  return bank;
}

// Where step i begins, by exact arithmetic on the stored float: 44100 * 15 * (i + d) / T frames,
// halves away from zero. T = m * 2^(e - 24) with a 24-bit m, so every term is a whole number.
long long exactStepFrame(long long i, float bpm, bool shuffle) {
  int e = 0;
  long long m = (long long)std::ldexp(std::frexp(double(bpm), &e), 24);
  long long quarters = 4 * i + (shuffle && i % 2 == 1 ? 1 : 0);
  __int128 num = (__int128)(44100 * 15) * quarters << (24 - e);
  __int128 den = (__int128)4 * m;
  return (long long)((2 * num + den) / (2 * den));
}

int sampleOf(const Mix_Chunk* chunk, long long index) {
  Sint16 s;
  std::memcpy(&s, chunk->abuf + 2 * index, 2);
  return s;
}

// The beat built the slow way, hit by hit, at the volume start-up gave each chunk.
struct Expected {
  std::vector<Sint16> frames;
  bool cut = false;     // some hit was ended by the track's next hit
  bool ringsOn = false; // the file runs past the end of the bars
};

Expected slowRender(const std::string& cells, float bpm, bool shuffle, int bars,
                    const SampleBank& bank) {
  struct Hit {
    long long start;
    int track;
  };
  std::vector<Hit> hits;
  long long steps = 16LL * bars;
  for (long long i = 0; i < steps; i++) {
    for (int t = 0; t < trackCount; t++) {
      if (cells[t * 16 + i % 16] == '1' && bank.chunk[t] != nullptr) {
        hits.push_back({exactStepFrame(i, bpm, shuffle), t});
      }
    }
  }
  Expected want;
  long long barsEnd = exactStepFrame(steps, bpm, shuffle);
  std::vector<std::pair<long long, long long>> spans; // start, end of each hit
  for (size_t h = 0; h < hits.size(); h++) {
    long long end = hits[h].start + bank.chunk[hits[h].track]->alen / 4;
    for (size_t n = h + 1; n < hits.size(); n++) {
      if (hits[n].track == hits[h].track && hits[n].start < end) {
        end = hits[n].start;
        want.cut = true;
        break;
      }
    }
    spans.push_back({hits[h].start, end});
  }
  long long length = barsEnd;
  for (auto& span : spans) {
    length = std::max(length, span.second);
  }
  want.ringsOn = length > barsEnd;
  std::vector<long long> sum(size_t(2 * length), 0);
  for (size_t h = 0; h < hits.size(); h++) {
    Mix_Chunk* chunk = bank.chunk[hits[h].track];
    double volume = Mix_VolumeChunk(chunk, -1);
    for (long long f = spans[h].first; f < spans[h].second; f++) {
      for (int c = 0; c < 2; c++) {
        long long k = 2 * (f - spans[h].first) + c;
        sum[2 * f + c] += (long long)std::trunc(sampleOf(chunk, k) * volume / 128.0);
      }
    }
  }
  for (long long v : sum) {
    want.frames.push_back(Sint16(std::max(-32768LL, std::min(32767LL, v))));
  }
  return want;
}

// The first frame of a chunk that stays audible at its volume.
long long audibleFrom(const Mix_Chunk* chunk) {
  double volume = Mix_VolumeChunk(const_cast<Mix_Chunk*>(chunk), -1);
  long long k = 0;
  while (std::trunc(sampleOf(chunk, k) * volume / 128.0) == 0) {
    k++;
  }
  return k / 2;
}

// Of the hits in the first column that has any, the frame where the first becomes audible. Which
// track that is depends on the last bits of the decoded samples, and so on the machine.
long long firstAudible(const std::string& cells, const SampleBank& bank) {
  long long first = -1;
  for (int column = 0; column < stepCount && first < 0; column++) {
    for (int track = 0; track < trackCount; track++) {
      long long k = cells[track * stepCount + column] == '1' ? audibleFrom(bank.chunk[track]) : -1;
      first = k >= 0 && (first < 0 || k < first) ? k : first;
    }
  }
  return first;
}

std::string cellsWith(std::initializer_list<std::pair<int, int>> set) {
  std::string cells(cellCount, '0');
  for (auto [track, column] : set) {
    cells[track * 16 + column] = '1';
  }
  return cells;
}

void expectSameFrames(const std::vector<Sint16>& want, const std::vector<Sint16>& got,
                      const std::string& what) {
  ASSERT_EQ(want.size() / 2, got.size() / 2) << what << ": length in frames";
  for (size_t k = 0; k < want.size(); k++) {
    ASSERT_EQ(want[k], got[k]) << what << ": frame " << k / 2 << ", channel " << k % 2;
  }
}

enum Track { openHat = 0, closedHat = 1, bassDrum = 2, snare = 3, ride = 6 };

TEST(ExportRender, EveryHitAtItsStepFrameCutByItsTrackAndSummed) {
  struct Case {
    const char* what;
    std::string cells;
    float bpm;
    bool shuffle;
    int bars;
    long long firstHit; // frame, worked out by hand; -1 for none
    bool cut;
    bool ringsOn;
  };
  const Case cases[] = {
      {"odd column, shuffle", cellsWith({{snare, 3}}), 120.0f, true, 2, 17916, false, false},
      {"odd column, straight", cellsWith({{snare, 3}}), 120.0f, false, 2, 16538, false, false},
      {"column 1, shuffle, 3 bars", cellsWith({{bassDrum, 1}}), 120.0f, true, 3, 6891, false,
       false},
      {"a fine tempo, shuffle", cellsWith({{snare, 5}}), 94.0999985f, true, 2, 36906, false, false},
      {"a hit cut by the track's next", cellsWith({{bassDrum, 3}, {bassDrum, 5}}), 120.0f, true, 2,
       17916, true, false},
      {"the ride rings past the bars", cellsWith({{ride, 15}}), 120.0f, true, 1, 84066, false,
       true},
      {"the bars outlast the last hit", cellsWith({{ride, 0}}), 20.0f, false, 1, 0, false, false},
      {"two tracks on one step", cellsWith({{openHat, 7}, {bassDrum, 7}}), 220.0f, false, 2, 21048,
       false, true},
      {"the start-up beat", presetBcells, 94.0f, false, 4, 0, true, true},
      {"preset A at the top tempo", presetAcells, 220.0f, true, 2, 0, true, true},
      {"nothing set", cellsWith({}), 94.0f, false, 1, -1, false, false},
  };
  const SampleBank& bank = kit();
  for (Mix_Chunk* chunk : bank.chunk) {
    ASSERT_NE(chunk, nullptr) << "the kit did not load";
  }
  for (const Case& c : cases) {
    Expected want = slowRender(c.cells, c.bpm, c.shuffle, c.bars, bank);
    EXPECT_EQ(want.cut, c.cut) << c.what << ": the case does not test what it says";
    EXPECT_EQ(want.ringsOn, c.ringsOn) << c.what << ": the case does not test what it says";
    // the first sound is the first sample of the first hit that the volume leaves audible
    long long firstSound = -1;
    for (long long k = 0; k < (long long)want.frames.size() && firstSound < 0; k++) {
      firstSound = want.frames[k] != 0 ? k / 2 : -1;
    }
    EXPECT_EQ(firstSound, c.firstHit < 0 ? -1 : c.firstHit + firstAudible(c.cells, bank)) << c.what;
    expectSameFrames(want.frames,
                     renderBeat(oneSlotSong(c.cells.c_str(), c.bpm, c.shuffle), c.bars, bank),
                     c.what);
  }
}

TEST(ExportRender, AMissingSampleIsASilentTrack) {
  SampleBank bank = kit();
  bank.chunk[bassDrum] = nullptr;
  std::string cells = cellsWith({{bassDrum, 0}, {snare, 4}});
  Expected want = slowRender(cellsWith({{snare, 4}}), 120.0f, false, 1, kit());
  expectSameFrames(want.frames, renderBeat(oneSlotSong(cells.c_str(), 120.0f, 0), 1, bank),
                   "no bass drum");
}

// The machine's own step clock, driven to every step of 50 bars: each step of the export lies
// where the live clock schedules it, to within half a frame and the clock's own float rounding.
TEST(ExportRender, StepsWhereTheLiveClockSchedulesThem) {
  const struct {
    int coarse, fine; // tempo steps from 94, as the L and R buttons take them
  } tempos[] = {{0, 0}, {26, 0}, {126, 0}, {-74, 0}, {0, 1}, {39, 3}, {-36, -4}};
  constexpr Uint32 startTick = 1000;
  for (auto tempo : tempos) {
    for (int shuffle : {0, 1}) {
      MachineState s;
      harness::freshMachine(s, startTick);
      for (int n = 0; n != tempo.coarse; n += tempo.coarse > 0 ? 1 : -1) {
        changeTempo(s, tempo.coarse > 0 ? tempoUp : tempoDown, false);
      }
      for (int n = 0; n != tempo.fine; n += tempo.fine > 0 ? 1 : -1) {
        changeTempo(s, tempo.fine > 0 ? tempoUp : tempoDown, true);
      }
      s.shuffle = shuffle;
      togglePlay(s, startTick);
      float origin = s.nextStepTime;
      for (long long i = 0; i < 50 * 16; i++) {
        float due = s.nextStepTime;
        double live = double(due) - double(origin); // ms
        double exported = stepFrame(i, s.bpm, shuffle) * 1000.0 / 44100;
        // half a frame; half the float spacing the clock holds a time to; and the rounding of
        // its step length, the float nearest 15000 / BPM, added up over the steps so far
        double lengthError = std::abs(double(s.stepInterval) - 15000.0 / double(s.bpm));
        double slack = 0.5 * 1000.0 / 44100 + (std::nextafter(due, 2 * due) - due) / 2.0 +
                       (i + 1) * lengthError + 1e-9;
        ASSERT_NEAR(exported, live, slack)
            << s.bpm << " BPM, shuffle " << shuffle << ", step " << i;
        harness::clockNow = Uint32(std::ceil(due)) + startTick;
        advanceClock(s, harness::clockNow);
        ASSERT_EQ(s.step, int(i % 16) + 1) << "the clock did not fire step " << i;
      }
    }
  }
}

// A scratch folder of its own for each test, removed at the end.
struct Scratch {
  fs::path dir;
  Scratch() {
    std::string name = (fs::temp_directory_path() / "export_test.XXXXXX").string();
    dir = mkdtemp(name.data());
  }
  ~Scratch() {
    fs::remove_all(dir);
  }
  std::vector<std::string> listing() const {
    std::vector<std::string> names;
    for (auto& entry : fs::recursive_directory_iterator(dir)) {
      names.push_back(entry.path().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

Uint32 le(const std::string& bytes, size_t at, int size) {
  Uint32 v = 0;
  for (int b = size - 1; b >= 0; b--) {
    v = v << 8 | Uint8(bytes[at + b]);
  }
  return v;
}

// Reads a file back as a 44100 Hz 16-bit stereo PCM WAV with one fmt and one data chunk.
std::vector<Sint16> readWav(const fs::path& path, const std::string& what) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Sint16> frames;
  EXPECT_GE(bytes.size(), 44u) << what;
  if (bytes.size() < 44) {
    return frames;
  }
  EXPECT_EQ(bytes.substr(0, 4), "RIFF") << what;
  EXPECT_EQ(le(bytes, 4, 4), bytes.size() - 8) << what << ": RIFF size";
  EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ") << what;
  EXPECT_EQ(le(bytes, 16, 4), 16u) << what << ": fmt size";
  EXPECT_EQ(le(bytes, 20, 2), 1u) << what << ": PCM";
  EXPECT_EQ(le(bytes, 22, 2), 2u) << what << ": channels";
  EXPECT_EQ(le(bytes, 24, 4), 44100u) << what << ": rate";
  EXPECT_EQ(le(bytes, 28, 4), 44100u * 4) << what << ": bytes per second";
  EXPECT_EQ(le(bytes, 32, 2), 4u) << what << ": block align";
  EXPECT_EQ(le(bytes, 34, 2), 16u) << what << ": bits";
  EXPECT_EQ(bytes.substr(36, 4), "data") << what;
  EXPECT_EQ(le(bytes, 40, 4), bytes.size() - 44) << what << ": data size";
  for (size_t at = 44; at + 1 < bytes.size(); at += 2) {
    frames.push_back(Sint16(le(bytes, at, 2)));
  }
  return frames;
}

TEST(ExportFile, TheWavOnDiskWhereverThePathLeads) {
  struct Case {
    const char* what;
    const char* cells;
    float bpm;
    int shuffle;
    int bars;
    const char* tempoShown;
    mode_t existingMode; // 0: no file there before
    bool throughLink;
  };
  const Case cases[] = {
      {"a new file", presetBcells, 94.0f, 0, 2, "94", 0, false},
      {"over a file of mode 0600", presetAcells, 120.0f, 1, 2, "120", 0600, false},
      {"through a link, mode 0640", presetBcells, 94.0999985f, 1, 1, "94.1", 0640, true},
  };
  const SampleBank& bank = kit();
  for (const Case& c : cases) {
    Scratch scratch;
    fs::path file = scratch.dir / "beat.wav";
    fs::path path = file;
    if (c.existingMode != 0) {
      std::ofstream(file) << "an older beat";
      fs::permissions(file, fs::perms(c.existingMode));
    }
    if (c.throughLink) {
      path = scratch.dir / "link.wav";
      fs::create_symlink(file, path);
    }
    testing::internal::CaptureStdout();
    int status = exportBeat(path.c_str(), c.bars, oneSlotSong(c.cells, c.bpm, c.shuffle), bank);
    std::string line = testing::internal::GetCapturedStdout();
    ASSERT_EQ(status, 0) << c.what;

    std::vector<Sint16> frames = readWav(file, c.what);
    expectSameFrames(renderBeat(oneSlotSong(c.cells, c.bpm, c.shuffle), c.bars, bank), frames,
                     c.what);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", frames.size() / 2 / 44100.0);
    EXPECT_EQ(line, "Wrote " + path.string() + ": " + std::to_string(c.bars) + " bars at " +
                        c.tempoShown + " BPM (" + seconds + " s)\n")
        << c.what;
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 07777, c.existingMode != 0 ? c.existingMode : 0644 & ~mask) << c.what;
    EXPECT_EQ(fs::is_symlink(path), c.throughLink) << c.what;
    EXPECT_EQ(scratch.listing().size(), c.throughLink ? 2u : 1u) << c.what << ": a file left over";
  }
}

TEST(ExportFile, AFailedWriteSaysWhyAndLeavesNothing) {
  struct Case {
    const char* what;
    // inside the scratch folder, which holds the file "plain", the folder "dir" and the FIFO
    // "pipe"
    const char* path;
    std::string reason;
  };
  const Case cases[] = {
      {"a folder that does not exist", "missing/beat.wav", std::strerror(ENOENT)},
      {"a folder that is a file", "plain/beat.wav", std::strerror(ENOTDIR)},
      {"a path that is a folder", "dir", std::strerror(EISDIR)},
      {"a FIFO, which is never replaced", "pipe", "not a regular file"},
  };
  std::vector<Sint16> frames = renderBeat(oneSlotSong(presetBcells, 94.0f, 0), 1, kit());
  for (const Case& c : cases) {
    Scratch scratch;
    std::ofstream(scratch.dir / "plain") << "not a folder";
    fs::create_directory(scratch.dir / "dir");
    ASSERT_EQ(mkfifo((scratch.dir / "pipe").c_str(), 0644), 0);
    std::vector<std::string> before = scratch.listing();
    std::string path = (scratch.dir / c.path).string();

    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    int status = exportBeat(path.c_str(), 1, oneSlotSong(presetBcells, 94.0f, 0), kit());
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 73) << c.what;
    EXPECT_EQ(out, "") << c.what;
    EXPECT_EQ(err, "pocketdrum: " + path + ": " + c.reason + "\n") << c.what;
    EXPECT_EQ(scratch.listing(), before) << c.what << ": something was left behind";

    std::string reason;
    EXPECT_FALSE(writeWav(path.c_str(), frames, reason)) << c.what;
    EXPECT_EQ(reason, c.reason) << c.what;
    EXPECT_EQ(scratch.listing(), before) << c.what << ": something was left behind";
  }
}

// The summary line for an empty pattern, whose file ends with its bars: the tempo with as few
// decimals as read back as the stored float, the length worked out by hand.
TEST(ExportFile, TheSummaryLine) {
  const struct {
    float bpm;
    int bars;
    const char* says;
  } cases[] = {
      {94.0f, 1, "1 bars at 94 BPM (2.6 s)"},
      {20.0f, 1, "1 bars at 20 BPM (12.0 s)"},
      {220.0f, 3, "3 bars at 220 BPM (3.3 s)"},
      {94.0999985f, 2, "2 bars at 94.1 BPM (5.1 s)"},
      {99.9000015f, 1, "1 bars at 99.9 BPM (2.4 s)"},
      {120.5f, 1, "1 bars at 120.5 BPM (2.0 s)"},
      {33.3f, 4, "4 bars at 33.3 BPM (28.8 s)"},
      {100.25f, 1, "1 bars at 100.25 BPM (2.4 s)"},
  };
  Scratch scratch;
  std::string path = (scratch.dir / "empty.wav").string();
  std::string nothing(cellCount, '0');
  for (const auto& c : cases) {
    testing::internal::CaptureStdout();
    int status = exportBeat(path.c_str(), c.bars, oneSlotSong(nothing.c_str(), c.bpm, 0), kit());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Wrote " + path + ": " + c.says + "\n");
    EXPECT_EQ(status, 0) << c.says;
  }
}

} // namespace
