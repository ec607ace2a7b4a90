// The user's kit from real folders that sox fills at test time: every format, rate and channel
// count comes out as 44100 Hz 16-bit stereo at its level; the files named for a track are told
// from the others in byte order; missing and broken files say so and leave their track silent.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>

#include "kit/kit.h"

namespace {

namespace fs = std::filesystem;

enum class Fate { plays, playsLeftOnly, refused, ignored };

struct KitFile {
  const char* folder;
  std::string name;
  const char* sox;   // "sox -n SOX FILE synth ...", or null for a file of these bytes
  const char* bytes; // (a folder when both are null)
  int track;         // 1..10
  Fate fate;         // refused: its track's file, but no sound; ignored: not its track's file
};

const char* const wav16 = "-D -r 44100 -b 16 -c 2"; // undithered, so the levels are exact

const KitFile kitFiles[] = {
    // formats, rates and channels
    {"formats", "01-16bit.wav", wav16, nullptr, 1, Fate::plays},
    {"formats", "02-24bit.wav", "-D -r 44100 -b 24 -c 2", nullptr, 2, Fate::plays},
    {"formats", "03-float.wav", "-r 44100 -e floating-point -b 32 -c 2", nullptr, 3, Fate::plays},
    {"formats", "04-mono.flac", "-D -r 44100 -b 16 -c 1", nullptr, 4, Fate::plays},
    {"formats", "05-24bit.flac", "-D -r 44100 -b 24 -c 2", nullptr, 5, Fate::plays},
    {"formats", "06-x.aiff", wav16, nullptr, 6, Fate::plays},
    {"formats", "07-x.ogg", "-r 44100 -c 2", nullptr, 7, Fate::plays},
    {"formats", "08-22050.wav", "-D -r 22050 -b 16 -c 1", nullptr, 8, Fate::plays},
    {"formats", "09-48000.flac", "-D -r 48000 -b 24 -c 2", nullptr, 9, Fate::plays},
    // the second of four channels is silent: the first two are kept, not mixed down
    {"formats", "10-four.wav", "-D -r 44100 -b 16 -c 4", nullptr, 10, Fate::playsLeftOnly},
    // names, in byte order: capitals before small letters, ASCII before UTF-8
    {"names", "1-x.wav", wav16, nullptr, 1, Fate::ignored},
    {"names", "010-x.wav", wav16, nullptr, 1, Fate::ignored},
    {"names", "02 hat.flac", wav16, nullptr, 2, Fate::plays},
    {"names", "03-a.wav", wav16, nullptr, 3, Fate::ignored},
    {"names", "03-Z.aiff", wav16, nullptr, 3, Fate::plays},
    {"names", "03-\xC3\xA9.wav", wav16, nullptr, 3, Fate::ignored},
    {"names", "04.wav", "-D -r 44100 -b 16 -c 1", nullptr, 4, Fate::plays},
    {"names", "05-a folder", nullptr, nullptr, 5, Fate::ignored},
    {"names", "05-b.wav", wav16, nullptr, 5, Fate::plays},
    {"names", "06-broken.wav", nullptr, "RIFF\x24\x00\x00\x00WAVEjunk", 6, Fate::refused},
    {"names", "07-empty.wav", nullptr, "", 7, Fate::refused},
    {"names", "08-words.ogg", nullptr, "a text file, not a sound\n", 8, Fate::refused},
    {"names", std::string("09-line\nbreak.wav"), wav16, nullptr, 9, Fate::plays},
    {"names", "11-x.wav", wav16, nullptr, 10, Fate::ignored},
    {"names", "00-x.wav", wav16, nullptr, 10, Fate::ignored},
};

// The kit folders of the table, removed afterwards. Every sound is a sine at half of full scale
// for a quarter of a second: 11025 frames at 44100 Hz.
struct KitFolders {
  fs::path dir;
  KitFolders() {
    std::string name = (fs::temp_directory_path() / "pocketdrum-kit-XXXXXX").string();
    dir = mkdtemp(&name[0]);
    for (const KitFile& f : kitFiles) {
      fs::create_directories(dir / f.folder);
      fs::path path = dir / f.folder / f.name;
      if (f.sox != nullptr) { // no name of the table holds a quote
        std::string command = std::string("sox -n ") + f.sox + " '" + path.string() +
                              "' synth 0.25 sine 440 sine 440 sine 440 sine 440 vol 0.5" +
                              (f.fate == Fate::playsLeftOnly ? " remix 1 0 3 4" : "");
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
      } else if (f.bytes != nullptr) {
        std::ofstream(path, std::ios::binary) << f.bytes;
      } else {
        fs::create_directory(path);
      }
    }
  }
  ~KitFolders() {
    fs::remove_all(dir);
  }
};

TEST(Kit, EachFolderGivesEachTrackItsFileOrSaysWhyNot) {
  const std::string silent = "; that track stays silent\n";
  KitFolders folders;
  for (const char* folder : {"formats", "names"}) {
    SCOPED_TRACE(folder);
    std::string dir = (folders.dir / folder).string();
    static SampleBank bank;
    testing::internal::CaptureStderr();
    ASSERT_EQ(loadKitFolder(dir.c_str(), bank), 0);
    std::string lines = testing::internal::GetCapturedStderr();
    char resolved[PATH_MAX];
    EXPECT_STREQ(bank.folder, realpath(dir.c_str(), resolved));
    int silentTracks = 0;
    for (int t = 0; t < trackCount; t++) {
      SCOPED_TRACE("track " + std::to_string(t + 1));
      const Mix_Chunk* chunk = bank.chunk[t];
      auto file = std::find_if(std::begin(kitFiles), std::end(kitFiles), [&](const KitFile& f) {
        return f.folder == std::string(folder) && f.track == t + 1 && f.fate != Fate::ignored;
      });
      if (file == std::end(kitFiles) || file->fate == Fate::refused) {
        silentTracks++;
        EXPECT_EQ(chunk, nullptr);
        std::string number = (t < 9 ? "0" : "") + std::to_string(t + 1);
        // a name that seems meant for the track is named, with the rule
        std::string passed = folder == std::string("names") && t == 0
                                 ? " (010-x.wav, 1-x.wav passed over: a file for track 01 is "
                                   "named 01 then a non-digit)"
                                 : "";
        std::string line =
            file == std::end(kitFiles)
                ? "pocketdrum: " + dir + ": no file for track " + number + passed + silent
                : "pocketdrum: " + dir + "/" + file->name + ": ";
        size_t at = lines.find(line);
        ASSERT_NE(at, std::string::npos) << lines;
        EXPECT_NE(lines.substr(at + line.size(), 1), ";") << "the line gives the reason";
        if (file == std::end(kitFiles)) {
          EXPECT_STREQ(bank.name[t], "");
          continue;
        }
      }
      std::string shown = file->name.substr(0, file->name.rfind('.'));
      std::replace(shown.begin(), shown.end(), '\n', '?'); // it would break the row's line
      EXPECT_EQ(bank.name[t], shown);
      if (chunk == nullptr) {
        continue;
      }
      EXPECT_EQ(chunk->allocated, 1) << "the chunk owns its buffer";
      EXPECT_NEAR(long(chunk->alen / 4), 11025, 2);
      const Sint16* samples = reinterpret_cast<const Sint16*>(chunk->abuf);
      double left = 0.0, right = 0.0;
      bool same = true;
      for (Uint32 k = 0; k + 1 < chunk->alen / 2; k += 2) {
        left = std::max(left, std::abs(samples[k]) / 32768.0);
        right = std::max(right, std::abs(samples[k + 1]) / 32768.0);
        same = same && samples[k] == samples[k + 1];
      }
      EXPECT_NEAR(left, 0.5, 0.05);
      EXPECT_NEAR(right, file->fate == Fate::playsLeftOnly ? 0.0 : 0.5, 0.05);
      if (std::string(file->sox).find("-c 1") != std::string::npos) {
        EXPECT_TRUE(same) << "a mono file plays the same on both sides";
      }
    }
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), silentTracks) << lines;
    freeKit(bank);
    EXPECT_EQ(std::count(std::begin(bank.chunk), std::end(bank.chunk), nullptr), trackCount);
  }
}

// A FLAC file whose header claims 59 s in 8 channels, at 192 kHz and at the highest rate FLAC
// allows, holds a quarter of a second at 192 kHz: that plays, at the claimed rate, and the kit
// takes no more memory than 60 s of its sound would (the claim, read whole, is 362 MB and more).
TEST(Kit, AHeaderThatClaimsMoreGivesWhatTheFileHolds) {
  KitFolders folders;
  fs::path dir = folders.dir / "lying";
  fs::create_directories(dir);
  std::string flac = (dir / "01-x.flac").string();
  for (long rate : {192000L, 655350L}) {
    SCOPED_TRACE(rate);
    ASSERT_EQ(
        std::system(
            ("sox -n -D -r 192000 -b 16 -c 8 " + flac + " synth 0.25 sine 440 vol 0.5").c_str()),
        0);
    // STREAMINFO, bytes 18 to 25: rate (20 bits), channels and bits, frames (36 bits)
    std::fstream f(flac, std::ios::in | std::ios::out | std::ios::binary);
    unsigned char info[8];
    f.seekg(18).read(reinterpret_cast<char*>(info), 8);
    long long frames = 59LL * rate;
    info[0] = (unsigned char)(rate >> 12), info[1] = (unsigned char)(rate >> 4);
    info[2] = (unsigned char)((rate & 0xf) << 4 | (info[2] & 0xf));
    info[3] = (unsigned char)((info[3] & 0xf0) | (frames >> 32));
    for (int k = 0; k < 4; k++) {
      info[4 + k] = (unsigned char)(frames >> (24 - 8 * k));
    }
    f.seekp(18).write(reinterpret_cast<char*>(info), 8);
    f.close();
    rusage before, after;
    getrusage(RUSAGE_SELF, &before);
    static SampleBank bank;
    testing::internal::CaptureStderr();
    ASSERT_EQ(loadKitFolder(dir.string().c_str(), bank), 0);
    testing::internal::GetCapturedStderr();
    getrusage(RUSAGE_SELF, &after);
    ASSERT_NE(bank.chunk[0], nullptr);
    EXPECT_NEAR(bank.chunk[0]->alen / 4, 48000.0 * 44100 / rate, 64);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "KB more at the peak";
    freeKit(bank);
  }
}

} // namespace
