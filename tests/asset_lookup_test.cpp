// Where the assets are found: real folders in a scratch directory, laid out as a source tree, a
// handheld's folder, an installed or moved prefix, or with the assets nowhere.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "startup/assets.h"

namespace {

namespace fs = std::filesystem;

struct Layout {
  const char* name;
  std::vector<const char*> files; // created empty; a name ending in "/" is a folder
  const char* workingDir;
  const char* exe;      // the program's file; nullptr when /proc/self/exe could not be read
  const char* expected; // "assets" (under the working folder), or a folder from the scratch root
};

const Layout layouts[] = {
    {"the source tree",
     {"src/assets/gui.png", "src/build/pocketdrum"},
     "src",
     "src/build/pocketdrum",
     "assets"},
    {"the handheld's folder",
     {"gp2x/drum/assets/gui.png", "gp2x/drum/pocketdrum"},
     "gp2x/drum",
     "gp2x/drum/pocketdrum",
     "assets"},
    {"installed, started from another folder",
     {"usr/bin/pocketdrum", "usr/share/pocketdrum/assets/gui.png", "home/"},
     "home",
     "usr/bin/pocketdrum",
     "/usr/share/pocketdrum/assets"},
    {"installed, started from the root",
     {"usr/bin/pocketdrum", "usr/share/pocketdrum/assets/gui.png"},
     "",
     "usr/bin/pocketdrum",
     "/usr/share/pocketdrum/assets"},
    {"installed, started beside assets of its own",
     {"usr/bin/pocketdrum", "usr/share/pocketdrum/assets/gui.png", "home/assets/gui.png"},
     "home",
     "usr/bin/pocketdrum",
     "assets"},
    {"installed, the working folder's assets lack the background",
     {"usr/bin/pocketdrum", "usr/share/pocketdrum/assets/gui.png", "home/assets/bmmini.ttf"},
     "home",
     "usr/bin/pocketdrum",
     "/usr/share/pocketdrum/assets"},
    {"a moved prefix",
     {"opt/moved/bin/pocketdrum", "opt/moved/share/pocketdrum/assets/gui.png", "home/"},
     "home",
     "opt/moved/bin/pocketdrum",
     "/opt/moved/share/pocketdrum/assets"},
    {"installed, the background missing there too",
     {"usr/bin/pocketdrum", "usr/share/pocketdrum/assets/bmmini.ttf", "home/"},
     "home",
     "usr/bin/pocketdrum",
     "assets"},
    {"nowhere", {"usr/bin/pocketdrum", "home/"}, "home", "usr/bin/pocketdrum", "assets"},
    {"the program's own file unknown",
     {"usr/share/pocketdrum/assets/gui.png", "home/"},
     "home",
     nullptr,
     "assets"},
    {"a prefix one level too deep",
     {"usr/local/bin/pocketdrum", "usr/share/pocketdrum/assets/gui.png", "home/"},
     "home",
     "usr/local/bin/pocketdrum",
     "assets"},
};

class AssetLookup : public testing::TestWithParam<Layout> {
protected:
  void SetUp() override {
    char name[] = "/tmp/pocketdrum-lookup-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    root = name;
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(root, error);
  }
  void create(const std::string& relative) {
    fs::path path = root / relative;
    if (relative.back() == '/') {
      fs::create_directories(path);
      return;
    }
    fs::create_directories(path.parent_path());
    std::ofstream(path).put('\n');
  }
  fs::path root;
};

TEST_P(AssetLookup, FindsTheFolderThatHoldsTheBackground) {
  const Layout& layout = GetParam();
  for (const char* file : layout.files) {
    create(file);
  }
  fs::path working = root / layout.workingDir;
  std::string exe = layout.exe != nullptr ? (root / layout.exe).string() : "";

  std::string found = chooseAssetFolder(working.string(), exe);

  std::string expected = layout.expected;
  if (expected[0] == '/') {
    expected = (root / expected.substr(1)).string();
  }
  EXPECT_EQ(found, expected);
  // a folder beside the program is named in full, with no ".." left in it
  if (found != "assets") {
    EXPECT_TRUE(fs::exists(fs::path(found) / "gui.png")) << found;
    EXPECT_EQ(found.find(".."), std::string::npos) << found;
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, AssetLookup, testing::ValuesIn(layouts),
                         [](const testing::TestParamInfo<Layout>& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c != '\0'; c++) {
                             if (std::isalnum(static_cast<unsigned char>(*c))) {
                               name += *c;
                             }
                           }
                           return name;
                         });

} // namespace
