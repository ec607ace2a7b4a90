// Replacing a file whole or not at all, for the pattern files and the exported WAV files.
#include "replace.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const mode_t newFileMode = 0644; // less the umask
const int maxLinkHops = 40;      // as the kernel allows

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file a save replaces: the path itself, or where its chain of symbolic links ends, which
// need not exist yet. False with errno set on a chain that loops.
bool linkTarget(const char* path, std::string& target) {
  target = path;
  for (int hop = 0; hop < maxLinkHops; hop++) {
    char link[PATH_MAX];
    ssize_t n = readlink(target.c_str(), link, sizeof link);
    if (n < 0 || size_t(n) >= sizeof link) {
      return true; // not a link, or nothing there
    }
    std::string next(link, size_t(n));
    target = next[0] == '/' ? next : folderOf(target) + next;
  }
  errno = ELOOP;
  return false;
}

// The umask, which can only be read by setting it; the program has one thread.
mode_t currentUmask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

} // namespace

const char* beginReplacement(const char* path, Replacement& r) {
  r.fd = -1;
  if (!linkTarget(path, r.target)) {
    return std::strerror(errno);
  }
  struct stat st;
  mode_t mode = newFileMode & ~currentUmask();
  bool exists = stat(r.target.c_str(), &st) == 0;
  if (exists) {
    if (S_ISDIR(st.st_mode)) {
      return std::strerror(EISDIR);
    }
    if (!S_ISREG(st.st_mode)) {
      return "not a regular file";
    }
    mode = st.st_mode & 07777;
  } else if (errno != ENOENT) {
    return std::strerror(errno);
  }

  std::string folder = folderOf(r.target);
  r.temp = folder + "." + r.target.substr(folder.size()) + ".XXXXXX";
  r.fd = mkostemp(&r.temp[0], O_CLOEXEC);
  if (r.fd < 0) {
    return std::strerror(errno);
  }
  if (fchmod(r.fd, mode) != 0) {
    return abandonReplacement(r);
  }
  // Someone else's file stays theirs when root saves it.
  if (exists && (st.st_uid != geteuid() || st.st_gid != getegid()) &&
      fchown(r.fd, st.st_uid, st.st_gid) != 0) {
    return abandonReplacement(r);
  }
  return nullptr;
}

bool writeReplacement(Replacement& r, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(r.fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      if (n == 0) {
        errno = EIO;
      }
      return false;
    }
    done += size_t(n);
  }
  return true;
}

const char* finishReplacement(Replacement& r) {
  if (fsync(r.fd) != 0) {
    return abandonReplacement(r);
  }
  int closed = close(r.fd);
  r.fd = -1;
  if (closed != 0 || rename(r.temp.c_str(), r.target.c_str()) != 0) {
    return abandonReplacement(r);
  }
  return nullptr;
}

const char* abandonReplacement(Replacement& r) {
  int reason = errno;
  if (r.fd >= 0) {
    close(r.fd);
    r.fd = -1;
  }
  unlink(r.temp.c_str());
  return std::strerror(reason);
}
