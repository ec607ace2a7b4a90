// The export as the command line runs it, in a process where nothing of SDL is up yet: SDL's
// audio alone on its dummy driver, the kit loaded from the assets folder, SDL down again after.
// Its files must be those that the machine's own mixer and kit give.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/engine.h"
#include "export/export.h"
#include "harness.h"
#include "sequencer/pattern.h"

namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(RunExport, TheFileTheMachinesMixerAndKitGive) {
  struct Run {
    const char* file; // in a scratch folder
    const char* cells;
    float bpm;
    int shuffle;
    int bars;
    const char* says; // after "Wrote PATH: " (the ride rings on past the bars), or the reason
    int status;
  };
  const Run runs[] = {
      {"startup.wav", presetBcells, 94.0f, 0, 4, "4 bars at 94 BPM (11.3 s)\n", 0},
      {"shuffled.wav", presetAcells, 120.0f, 1, 2, "2 bars at 120 BPM (5.2 s)\n", 0},
      {"missing/beat.wav", presetBcells, 94.0f, 0, 1, "No such file or directory\n", 73},
  };
  std::string name = (fs::temp_directory_path() / "export_run_test.XXXXXX").string();
  fs::path dir = mkdtemp(name.data());
  // whatever driver the user's environment names, the export uses none that makes a sound
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  for (const Run& run : runs) {
    std::string path = (dir / run.file).string();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int status =
        runExport(path.c_str(), run.bars, oneSlotSong(run.cells, run.bpm, run.shuffle), ASSET_DIR);
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, run.status) << run.file << ": " << err;
    if (run.status == 0) {
      EXPECT_EQ(out, "Wrote " + path + ": " + run.says);
      EXPECT_EQ(err, "");
    } else {
      EXPECT_EQ(out, "");
      EXPECT_EQ(err, "pocketdrum: " + path + ": " + run.says);
    }
    EXPECT_EQ(SDL_WasInit(SDL_INIT_EVERYTHING), 0u) << run.file << ": SDL left up";
  }

  SampleBank bank;
  harness::startSdl(&bank);
  for (const Run& run : runs) {
    if (run.status != 0) {
      continue;
    }
    fs::path reference = dir / "reference.wav";
    std::string reason;
    ASSERT_TRUE(writeWav(reference.c_str(),
                         renderBeat(oneSlotSong(run.cells, run.bpm, run.shuffle), run.bars, bank),
                         reason))
        << reason;
    EXPECT_TRUE(contents(dir / run.file) == contents(reference)) << run.file;
  }
  fs::remove_all(dir);
}

} // namespace
