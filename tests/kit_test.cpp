// The user's kit from real folders that sox fills at test time: every format, rate and channel
// count comes out as 44100 Hz 16-bit stereo at its level; the files named for a track are told
// from the others in byte order; missing and broken files say so and leave their track silent.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kit/kit.h"

namespace {

namespace fs = std::filesystem;

// What becomes of a file in a kit folder.
enum class Fate {
  plays,   // it is its track's sound
  refused, // it is its track's file, but cannot be decoded: a line, and the track is silent
  ignored, // not its track's file: its name does not fit, or another comes first
};

struct KitFile {
  const char* folder;
  std::string name;
  const char* sox;   // sox's output options and effects for "sox -n OPTIONS FILE EFFECTS"
  const char* bytes; // the file's bytes instead, when sox is null (a folder when both are null)
  int track;         // 1..10
  Fate fate;
  long frames = 0;      // at 44100 Hz, when it plays
  double left = 0.0;    // peak of each side, of full scale
  double right = 0.0;   //
  double within = 0.01; // how far the peaks may be off, of full scale
};

// A sine at half of full scale for a quarter of a second: 11025 frames at 44100 Hz.
const char* const halfSine = "synth 0.25 sine 440 vol 0.5";
const char* const wav16 = "-D -r 44100 -b 16 -c 2"; // undithered, so the peaks are exact
const std::string silent = "; that track stays silent\n";

const KitFile kitFiles[] = {
    // formats, all at 44100 Hz
    {"formats", "01-16bit.wav", wav16, halfSine, 1, Fate::plays, 11025, .5, .5},
    {"formats", "02-24bit.wav", "-D -r 44100 -b 24 -c 2", halfSine, 2, Fate::plays, 11025, .5, .5},
    {"formats", "03-float.wav", "-r 44100 -e floating-point -b 32 -c 2", halfSine, 3, Fate::plays,
     11025, .5, .5},
    {"formats", "04-mono.flac", "-D -r 44100 -b 16 -c 1", halfSine, 4, Fate::plays, 11025, .5, .5},
    {"formats", "05-24bit.flac", "-D -r 44100 -b 24 -c 2", halfSine, 5, Fate::plays, 11025, .5, .5},
    {"formats", "06-x.aiff", wav16, halfSine, 6, Fate::plays, 11025, .5, .5},
    {"formats", "07-x.ogg", "-r 44100 -c 2", halfSine, 7, Fate::plays, 11025, .5, .5, .05},
    // rates and channels
    {"formats", "08-22050.wav", "-D -r 22050 -b 16 -c 1", halfSine, 8, Fate::plays, 11025, .5, .5,
     .02},
    {"formats", "09-48000.flac", "-D -r 48000 -b 24 -c 2", halfSine, 9, Fate::plays, 11025, .5, .5,
     .02},
    // four channels, of which the second is silent: the first two are kept, not mixed down
    {"formats", "10-four.wav", "-D -r 44100 -b 16 -c 4",
     "synth 0.25 sine 440 sine 440 sine 440 sine 440 vol 0.5 remix 1 0 3 4", 10, Fate::plays, 11025,
     .5, 0.0},

    // names: which file plays which track; byte order puts capitals before small letters and
    // ASCII before UTF-8
    {"names", "1-x.wav", wav16, halfSine, 1, Fate::ignored},
    {"names", "010-x.wav", wav16, halfSine, 1, Fate::ignored},
    {"names", "02 hat.flac", wav16, halfSine, 2, Fate::plays, 11025, .5, .5},
    {"names", "03-a.wav", wav16, halfSine, 3, Fate::ignored},
    {"names", "03-Z.aiff", wav16, halfSine, 3, Fate::plays, 11025, .5, .5},
    {"names", "03-\xC3\xA9.wav", wav16, halfSine, 3, Fate::ignored},
    {"names", "04.wav", "-D -r 44100 -b 16 -c 1", "synth 0.5 sine 440 vol 0.25", 4, Fate::plays,
     22050, .25, .25},
    {"names", "05-a folder", nullptr, nullptr, 5, Fate::ignored},
    {"names", "05-b.wav", wav16, halfSine, 5, Fate::plays, 11025, .5, .5},
    {"names", "06-broken.wav", nullptr, "RIFF\x24\x00\x00\x00WAVEjunk", 6, Fate::refused},
    {"names", "07-empty.wav", nullptr, "", 7, Fate::refused},
    {"names", "08-words.ogg", nullptr, "a text file, not a sound\n", 8, Fate::refused},
    {"names", std::string("09-line\nbreak.wav"), wav16, halfSine, 9, Fate::plays, 11025, .5, .5},
    {"names", "11-x.wav", wav16, halfSine, 10, Fate::ignored},
    {"names", "00-x.wav", wav16, halfSine, 10, Fate::ignored},
};

// The kit folders of the table, filled by sox, removed afterwards.
struct KitFolders {
  fs::path dir;
  KitFolders() {
    std::string name = (fs::temp_directory_path() / "pocketdrum-kit-XXXXXX").string();
    dir = mkdtemp(&name[0]);
    for (const KitFile& f : kitFiles) {
      fs::create_directories(dir / f.folder);
      fs::path path = dir / f.folder / f.name;
      if (f.sox != nullptr) { // no name of the table holds a quote
        std::string command =
            std::string("sox -n ") + f.sox + " '" + path.string() + "' " + f.bytes + " 2>/dev/null";
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

// The peaks of the two sides of a 16-bit stereo chunk, of full scale, and whether they are the
// same sound.
struct Sides {
  double left = 0.0, right = 0.0;
  bool same = true;
};
Sides sidesOf(const Mix_Chunk* chunk) {
  const Sint16* samples = reinterpret_cast<const Sint16*>(chunk->abuf);
  Sides sides;
  for (Uint32 k = 0; k + 1 < chunk->alen / 2; k += 2) {
    sides.left = std::max(sides.left, std::abs(samples[k]) / 32768.0);
    sides.right = std::max(sides.right, std::abs(samples[k + 1]) / 32768.0);
    sides.same = sides.same && samples[k] == samples[k + 1];
  }
  return sides;
}

TEST(Kit, EachFolderGivesEachTrackItsFileOrSaysWhyNot) {
  KitFolders folders;
  for (const char* folder : {"formats", "names"}) {
    SCOPED_TRACE(folder);
    std::string dir = (folders.dir / folder).string();
    static SampleBank bank;
    testing::internal::CaptureStderr();
    int status = loadKitFolder(dir.c_str(), bank);
    std::string lines = testing::internal::GetCapturedStderr();
    ASSERT_EQ(status, 0) << lines;
    char resolved[PATH_MAX];
    EXPECT_STREQ(bank.folder, realpath(dir.c_str(), resolved));

    std::vector<std::string> expectedLines; // in track order; a refusal's goes on with its reason
    for (int track = 1; track <= trackCount; track++) {
      SCOPED_TRACE("track " + std::to_string(track));
      Mix_Chunk* chunk = bank.chunk[track - 1];
      auto file = std::find_if(std::begin(kitFiles), std::end(kitFiles), [&](const KitFile& f) {
        return f.folder == std::string(folder) && f.track == track && f.fate != Fate::ignored;
      });
      if (file == std::end(kitFiles)) {
        EXPECT_EQ(chunk, nullptr);
        EXPECT_STREQ(bank.name[track - 1], "");
        char number[3];
        std::snprintf(number, sizeof number, "%02d", track);
        expectedLines.push_back("pocketdrum: " + dir + ": no file for track " + number + silent);
        continue;
      }
      SCOPED_TRACE(file->name);
      std::string shown = file->name.substr(0, file->name.rfind('.'));
      std::replace(shown.begin(), shown.end(), '\n', '?'); // it would break the row's line
      EXPECT_EQ(bank.name[track - 1], shown);
      if (file->fate == Fate::refused) {
        EXPECT_EQ(chunk, nullptr);
        expectedLines.push_back("pocketdrum: " + dir + "/" + file->name + ": ");
        continue;
      }
      ASSERT_NE(chunk, nullptr);
      EXPECT_EQ(chunk->allocated, 1) << "the chunk owns its buffer";
      EXPECT_NEAR(long(chunk->alen / 4), file->frames, 2);
      Sides sides = sidesOf(chunk);
      EXPECT_NEAR(sides.left, file->left, file->within);
      EXPECT_NEAR(sides.right, file->right, file->within);
      if (std::string(file->sox).find("-c 1") != std::string::npos) {
        EXPECT_TRUE(sides.same) << "a mono file plays the same on both sides";
      }
    }
    // One line for each silent track and nothing else.
    std::vector<std::string> got;
    for (size_t at = 0, end; (end = lines.find('\n', at)) != std::string::npos; at = end + 1) {
      got.push_back(lines.substr(at, end - at + 1));
    }
    ASSERT_EQ(got.size(), expectedLines.size()) << lines;
    for (size_t i = 0; i < got.size(); i++) {
      const std::string& want = expectedLines[i];
      bool reasoned = got[i].size() > want.size() + silent.size() &&
                      got[i].compare(got[i].size() - silent.size(), silent.size(), silent) == 0;
      EXPECT_TRUE(want.back() == '\n' ? got[i] == want : got[i].rfind(want, 0) == 0 && reasoned)
          << got[i];
    }
    freeKit(bank);
    EXPECT_EQ(std::count(std::begin(bank.chunk), std::end(bank.chunk), nullptr), trackCount);
  }
}

} // namespace
