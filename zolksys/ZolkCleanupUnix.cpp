#include "ZolkCleanupUnix.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include <zolk2sys.h>

#include "ZolkUniqueFd.h"

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

// Private names begin with this (then the process id and a count). The
// scan passes them over; the leading dot keeps them out of shell globs and
// most other tools' patterns.
constexpr char kAsidePrefix[] = ".zolk2sys-cleanup-";

// Room for a private name.
constexpr std::size_t kAsideSize = 64;

// Module state: the private names this process has taken so far; with the
// process id the count makes each of them unique.
std::atomic<unsigned long> ms_asideNames{0};

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Deletes the files of one directory, each unless another process holds a
// lockf() lock on it, and never by a name that no longer leads to the file
// it has locked and checked.
//
// Comparing the name with the locked file and then unlinking the name would
// leave a window in which another process can rename its own new, locked
// file over the name (as a writer rotates), and that file would go. So the
// name is moved aside atomically to a private name in the same directory,
// which no other process renames, and what was moved is compared: the
// locked file waits there, still locked, until the next file moved aside
// replaces it or finish() unlinks it (one directory update per file, as an
// unlink alone is); anything else is put back, unless the name was created
// again meanwhile. Then it stays under the private name: the file moved and
// the one that took its name may each be someone's locked file. The
// comparison follows a symbolic link as the open did: a link to the locked
// file is deleted, its target stays.
//
// Owns the descriptor, and so the lock, of the file waiting under the
// private name. Names are relative to dirFd, the same directory on every
// call until finish(), which must come while that directory is open.
class LockedFileDeleter final {
 public:
  LockedFileDeleter() = default;
  LockedFileDeleter(const LockedFileDeleter&) = delete;
  LockedFileDeleter& operator=(const LockedFileDeleter&) = delete;

  // Deletes name unless it cannot be opened for reading and writing or
  // another process holds a lock on it (neither is reported). 0, or errno of
  // a failed rename or unlink.
  int erase(int dirFd, const char* name);
  // Unlinks the file waiting under the private name. 0, or errno.
  int finish(int dirFd);

 private:
  int moveAside(int dirFd, const char* name);

  zolkinternal::UniqueFd waiting_;  // the file under aside_, or none
  struct stat waitingStat_ {};
  char aside_[kAsideSize] = "";  // the private name in use, or empty
};

int LockedFileDeleter::erase(int dirFd, const char* name) {
  // O_NONBLOCK and O_NOCTTY: a matching FIFO or device can neither block the
  // call nor become the controlling terminal. The file is locked, not merely
  // tested, and stays locked until it is gone: a process that locked it
  // after a mere test would have its file deleted under its lock.
  zolkinternal::UniqueFd fd(::openat(dirFd, name, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0 || ::lockf(fd.get(), F_TLOCK, 0) != 0) return 0;
  struct stat locked, named;
  if (::fstat(fd.get(), &locked) != 0) return errno;
  if (waiting_.get() >= 0 && sameFile(locked, waitingStat_)) {
    // Another name of the waiting file. Closing that descriptor lets go of
    // this one's lock as well (locks belong to the process): lock again.
    const int finished = finish(dirFd);
    if (finished != 0) return finished;
    if (::lockf(fd.get(), F_TLOCK, 0) != 0) return 0;
  }
  // A name that leads elsewhere already (the file was replaced under it, or
  // another thread of this process has moved it aside) needs no move: this
  // look, about a tenth of the time of a deletion, spares the move aside and
  // back, which leaves the name missing for a moment.
  if (::fstatat(dirFd, name, &named, 0) != 0) return errno;
  if (!sameFile(locked, named)) return 0;

  const int moved = moveAside(dirFd, name);
  if (moved == EINVAL || moved == ENOSYS || moved == ENOSPC || moved == EDQUOT) {
    // No private name to be had: a file system without RENAME_NOREPLACE, or
    // no room for one more entry, as on a full disk, where the cleanup is
    // needed most. The comparison above must do.
    return ::unlinkat(dirFd, name, 0) == 0 ? 0 : errno;
  }
  if (moved != 0) return moved;
  if (::fstatat(dirFd, aside_, &named, 0) == 0 && sameFile(locked, named)) {
    waiting_.reset(fd.release());
    waitingStat_ = locked;
  } else if (::renameat2(dirFd, aside_, dirFd, name, RENAME_NOREPLACE) != 0) {
    aside_[0] = '\0';  // what was moved stays there: the name is not used again
  }
  return 0;
}

// Moves name to the private name: over the file waiting there, which goes
// with it, or to a free private name (one in use is never replaced, not even
// one left by a killed process whose pid came round again, or taken in
// another pid namespace). 0, or errno of the rename.
int LockedFileDeleter::moveAside(int dirFd, const char* name) {
  if (waiting_.get() >= 0) {
    if (::renameat(dirFd, name, dirFd, aside_) != 0) return errno;
    waiting_.reset();  // gone with its private name; closing lets go of its lock
    return 0;
  }
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (aside_[0] == '\0') {
      std::snprintf(aside_, sizeof aside_, "%s%ld-%lu", kAsidePrefix, static_cast<long>(::getpid()),
                    ms_asideNames.fetch_add(1, std::memory_order_relaxed));
    }
    if (::renameat2(dirFd, name, dirFd, aside_, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EEXIST) return errno;
    aside_[0] = '\0';
  }
  return EEXIST;
}

int LockedFileDeleter::finish(int dirFd) {
  int rc = 0;
  if (waiting_.get() >= 0 && ::unlinkat(dirFd, aside_, 0) != 0) rc = errno;
  waiting_.reset();
  aside_[0] = '\0';
  return rc;
}

// Visits every file of the pattern's directory that matches the pattern.
// The directory part (up to and including the last '/', or "./" without
// one) is taken literally; the whole pattern is matched against the whole
// composed path with fnmatch flags 0. Directories are skipped; so are the
// private names of LockedFileDeleter and any entry whose path would not fit
// kPathSize bytes, before their stat. visit(dirFd, name, path, mtime) is
// called for each match, with the entry's name relative to the open
// directory (cheaper for the kernel than the whole path again) and its
// composed path; atEnd(dirFd) once after the last, before the directory is
// closed, also when a stat ends the scan. Returns 0, or errno of the
// directory open or of a stat, which ends the scan at once.
template <typename Visit, typename AtEnd>
int scanMatches(const char* pattern, Visit visit, AtEnd atEnd) {
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
  int rc = 0;
  // readdir() on a stream that only this call uses is thread-safe; a read
  // error ends the scan as if the directory had ended.
  while (const struct dirent* entry = ::readdir(dir.get())) {
    const std::size_t nameLength = std::strlen(entry->d_name);
    if (dirLength + nameLength >= kPathSize) continue;
    if (std::strncmp(entry->d_name, kAsidePrefix, sizeof kAsidePrefix - 1) == 0) continue;
    std::memcpy(path + dirLength, entry->d_name, nameLength + 1);

    struct stat st;
    if (::fstatat(dirFd, entry->d_name, &st, 0) != 0) {  // follows links
      rc = errno;
      break;
    }
    if (S_ISDIR(st.st_mode)) continue;
    if (::fnmatch(pattern, path, 0) != 0) continue;
    visit(dirFd, entry->d_name, path, st.st_mtime);
  }
  atEnd(dirFd);
  return rc;
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
  return scanMatches(
      pattern,
      [&list](int, const char*, const char* path, time_t mtime) { list.addElement(path, mtime); },
      [](int) {});
}

int ZOLK_ExecDeleteLogByNumber_zolksys(ZOLKFindFileList_zolksys& list, int keep) {
  // The deleter takes names in one directory: that of the nodes, opened once
  // for all the files of a scan (and again wherever the list changes
  // directories).
  LockedFileDeleter deleter;
  zolkinternal::UniqueFd dir;
  int dirFd = AT_FDCWD;
  char dirPath[kPathSize] = "";
  int rc = 0;
  const auto note = [&rc](int failed) {
    if (failed != 0) rc = failed;
  };
  int index = 0;
  for (const ZOLKFindFileInfo_zolksys* node = list.head(); node != nullptr; node = node->next) {
    if (index++ < keep) continue;
    const char* slash = std::strrchr(node->name, '/');
    const std::size_t dirLength =
        slash != nullptr ? static_cast<std::size_t>(slash - node->name) + 1 : 0;
    if (std::strncmp(dirPath, node->name, dirLength) != 0 || dirPath[dirLength] != '\0') {
      note(deleter.finish(dirFd));
      std::memcpy(dirPath, node->name, dirLength);
      dirPath[dirLength] = '\0';
      dir.reset(dirLength > 0 ? ::open(dirPath, O_PATH | O_DIRECTORY | O_CLOEXEC) : -1);
      dirFd = dirLength > 0 ? dir.get() : AT_FDCWD;
    }
    // A directory that cannot be opened leaves its files as an open failure does.
    if (dirFd != -1) note(deleter.erase(dirFd, node->name + dirLength));
  }
  note(deleter.finish(dirFd));
  return rc;
}

extern "C" {

int ZOLK2_FileCleanupByTime(const char* pattern, long seconds) {
  const time_t threshold = thresholdOf(std::time(nullptr), seconds);
  LockedFileDeleter deleter;
  int unlinkError = 0;
  const auto note = [&unlinkError](int failed) {
    if (failed != 0) unlinkError = failed;
  };
  const int scanError = scanMatches(
      pattern,
      [&](int dirFd, const char* name, const char*, time_t mtime) {
        if (mtime <= threshold) note(deleter.erase(dirFd, name));
      },
      [&](int dirFd) { note(deleter.finish(dirFd)); });
  return scanError != 0 ? scanError : unlinkError;
}

int ZOLK2_FileCleanupByNum(const char* pattern, int keep) {
  ZOLKFindFileList_zolksys list;
  const int scanError = ZOLK_CheckNumberOfFileDelete_zolksys(pattern, list);
  if (scanError != 0) return scanError;  // nothing deleted; the list frees its nodes
  return ZOLK_ExecDeleteLogByNumber_zolksys(list, keep);
}

}  // extern "C"
