// The beat kept for --resume: where it lives, a refused file moved aside, its folder made.
#include "resume.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char dataFolderInHome[] = "/.local/share";
const char keptIn[] = "/pocketdrum/last.pdrum";
const char refusedSuffix[] = ".refused";
const mode_t folderMode = 0700; // the XDG rules: the user's data is the user's alone

bool isSet(const char* text) {
  return text != nullptr && text[0] != '\0';
}

// HOME, or the password entry's home folder when HOME is unset or empty; null for neither.
const char* homeFolder() {
  const char* home = std::getenv("HOME");
  if (isSet(home)) {
    return home;
  }
  const passwd* entry = getpwuid(getuid());
  return entry != nullptr && isSet(entry->pw_dir) ? entry->pw_dir : nullptr;
}

std::string fileName(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

// Moves a refused file aside so that the machine can start without it and its first save does
// not write over it. Says so, or why not, in one line after the complaint.
bool moveAside(const std::string& path, const std::string& complaint) {
  std::string aside = path + refusedSuffix;
  if (std::rename(path.c_str(), aside.c_str()) != 0) {
    tell("%s; it cannot be moved aside (%s), so this session will not save", complaint.c_str(),
         std::strerror(errno));
    return false;
  }
  tell("%s; renamed to %s, starting without it", complaint.c_str(), fileName(aside).c_str());
  return true;
}

// Creates each missing folder on the way to path's folder; false with errno set.
bool makeFoldersFor(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), folderMode) != 0 && errno != EEXIST) {
      return false;
    }
  }
  return true;
}

} // namespace

std::string resumeFilePath(const char* xdgDataHome, const char* home) {
  if (isSet(xdgDataHome) && xdgDataHome[0] == '/') {
    return std::string(xdgDataHome) + keptIn;
  }
  if (isSet(home)) {
    return std::string(home) + dataFolderInHome + keptIn;
  }
  return std::string();
}

std::string resumeBeat(Beat& beat, ReadStatus& read) {
  read = ReadStatus::missing;
  std::string path = resumeFilePath(std::getenv("XDG_DATA_HOME"), homeFolder());
  if (path.empty()) {
    tell("--resume: no home folder to keep the beat in");
    return path;
  }
  std::string complaint;
  read = readBeatFile(path.c_str(), beat, complaint);
  if (read == ReadStatus::refused) {
    read = ReadStatus::missing;
    return moveAside(path, complaint) ? path : std::string();
  }
  return path;
}

bool saveResumedBeat(const char* path, const Beat& beat, const SampleBank& kit) {
  if (!makeFoldersFor(path)) {
    std::string folder(path, std::strrchr(path, '/'));
    tell("%s: %s", folder.c_str(), std::strerror(errno));
    return false;
  }
  return saveBeatFile(path, beat, kit);
}
