// Where the drum machine finds its assets: under the working directory, as on the handheld and in
// the source tree, or in the share folder of the prefix it was installed into.
#include "assets.h"

#include <filesystem>
#include <system_error>

#include "../machine.h"

namespace {

namespace fs = std::filesystem;

const char* const workingAssets = "assets";
// From the installed bin/ to the installed assets; the build computes it from its install layout
// (normally "../share/pocketdrum/assets").
const char* const installedAssets = INSTALLED_ASSETS;

// The background, the first asset start-up loads, marks a folder as the one that holds them.
bool holdsAssets(const fs::path& folder) {
  std::error_code error;
  return fs::exists(folder / backgroundFile, error);
}

} // namespace

std::string chooseAssetFolder(const std::string& workingDir, const std::string& exePath) {
  if (holdsAssets(fs::path(workingDir) / workingAssets)) {
    return workingAssets;
  }
  if (!exePath.empty()) {
    // /proc/self/exe names the real file, every link resolved, so ".." is the real parent
    fs::path installed = (fs::path(exePath).parent_path() / installedAssets).lexically_normal();
    if (holdsAssets(installed)) {
      return installed.string();
    }
  }
  return workingAssets;
}

std::string findAssetFolder() {
  std::error_code error;
  fs::path exe = fs::read_symlink("/proc/self/exe", error);
  return chooseAssetFolder(".", error ? std::string() : exe.string());
}
