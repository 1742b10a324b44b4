#include "ZolkCleanupUnix.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>

#include <zolk2sys.h>

namespace {

// Patterns and composed paths must fit this many bytes with their NUL.
constexpr std::size_t kPathSize = ZOLKFindFileInfo_zolksys::kNameMax;

// Owner of a directory stream.
class Directory final {
 public:
  explicit Directory(const char* path) : dir_(::opendir(path)) {}
  ~Directory() {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* const dir_;
};

// Deletes a file (path relative to the directory dirFd, or AT_FDCWD) unless
// another process holds a lockf() lock on it. Files that cannot be opened
// for reading and writing, or that are locked, are left alone without a
// report. Returns 0, or errno of a failed unlink.
//
// The file is locked, not merely tested, before it is unlinked, and stays
// locked until it is gone: a process that locks it after a mere test would
// have its file deleted under its lock.
int deleteUnlessLocked(int dirFd, const char* path) {
  // O_NONBLOCK and O_NOCTTY: a matching FIFO or device can neither block the
  // call nor become the controlling terminal.
  const int fd = ::openat(dirFd, path, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return 0;
  int rc = 0;
  if (::lockf(fd, F_TLOCK, 0) == 0 && ::unlinkat(dirFd, path, 0) != 0) rc = errno;
  ::close(fd);  // also lets go of the lock
  return rc;
}

// Visits every file of the pattern's directory that matches the pattern.
// The directory part (up to and including the last '/', or "./" without
// one) is taken literally; the whole pattern is matched against the whole
// composed path with fnmatch flags 0. Directories are skipped; an entry
// whose path would not fit kPathSize bytes is skipped before its stat.
// visit(dirFd, name, path, mtime) is called for each match, with the entry's
// name relative to the open directory (cheaper for the kernel than the whole
// path again) and its composed path. Returns 0, or errno of the directory
// open or of a stat, which ends the scan at once.
template <typename Visit>
int scanMatches(const char* pattern, Visit visit) {
  if (pattern == nullptr) return EINVAL;
  const std::size_t patternLength = ::strnlen(pattern, kPathSize);
  if (patternLength >= kPathSize) return ENAMETOOLONG;

  char path[kPathSize];
  const char* slash = std::strrchr(pattern, '/');
  std::size_t dirLength;
  if (slash != nullptr) {
    dirLength = static_cast<std::size_t>(slash - pattern) + 1;
    std::memcpy(path, pattern, dirLength);
  } else {
    dirLength = 2;
    std::memcpy(path, "./", dirLength);
  }
  path[dirLength] = '\0';

  Directory dir(path);
  if (dir.get() == nullptr) return errno;
  const int dirFd = ::dirfd(dir.get());
  // readdir() on a stream that only this call uses is thread-safe; a read
  // error ends the scan as if the directory had ended.
  while (const struct dirent* entry = ::readdir(dir.get())) {
    const std::size_t nameLength = std::strlen(entry->d_name);
    if (dirLength + nameLength >= kPathSize) continue;
    std::memcpy(path + dirLength, entry->d_name, nameLength + 1);

    struct stat st;
    if (::fstatat(dirFd, entry->d_name, &st, 0) != 0) return errno;  // follows links
    if (S_ISDIR(st.st_mode)) continue;
    if (::fnmatch(pattern, path, 0) != 0) continue;
    visit(dirFd, entry->d_name, path, st.st_mtime);
  }
  return 0;
}

// now - seconds, kept within the range of time_t.
time_t thresholdOf(time_t now, long seconds) {
  time_t threshold;
  if (__builtin_sub_overflow(now, seconds, &threshold))
    return seconds > 0 ? std::numeric_limits<time_t>::min() : std::numeric_limits<time_t>::max();
  return threshold;
}

}  // namespace

int ZOLK_CheckNumberOfFileDelete_zolksys(const char* pattern, ZOLKFindFileList_zolksys& list) {
  return scanMatches(pattern, [&list](int, const char*, const char* path, time_t mtime) {
    list.addElement(path, mtime);
  });
}

int ZOLK_ExecDeleteLogByNumber_zolksys(ZOLKFindFileList_zolksys& list, int keep) {
  int rc = 0;
  int index = 0;
  for (const ZOLKFindFileInfo_zolksys* node = list.head(); node != nullptr; node = node->next) {
    if (index++ < keep) continue;
    const int failed = deleteUnlessLocked(AT_FDCWD, node->name);
    if (failed != 0) rc = failed;
  }
  return rc;
}

extern "C" {

int ZOLK2_FileCleanupByTime(const char* pattern, long seconds) {
  const time_t threshold = thresholdOf(std::time(nullptr), seconds);
  int unlinkError = 0;
  const int scanError = scanMatches(pattern, [&](int dirFd, const char* name, const char*,
                                                  time_t mtime) {
    if (mtime <= threshold) {
      const int failed = deleteUnlessLocked(dirFd, name);
      if (failed != 0) unlinkError = failed;
    }
  });
  return scanError != 0 ? scanError : unlinkError;
}

int ZOLK2_FileCleanupByNum(const char* pattern, int keep) {
  ZOLKFindFileList_zolksys list;
  const int scanError = ZOLK_CheckNumberOfFileDelete_zolksys(pattern, list);
  if (scanError != 0) return scanError;  // nothing deleted; the list frees its nodes
  return ZOLK_ExecDeleteLogByNumber_zolksys(list, keep);
}

}  // extern "C"
