#include "setconf.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "conffile.h"
#include "ilogs.h"
#include "zolkcuicmd.h"
#include "zolkcuicmnfunc.h"
#include "ZolkUniqueFd.h"

namespace {

// One chunk of the configuration file as read, newline included; length
// counts NUL bytes inside the chunk too, so other lines survive byte for byte.
struct ConfLine {
  ConfLine *next;
  char *text;
  size_t length;
};

const size_t kValueSize = 1025;  // at most 1024 characters and a terminator

char szLogPath[kValueSize];
char szLogSize[kValueSize];
char szFileNum[kValueSize];
char szMapSize[kValueSize];
char szWatchDog[kValueSize];
char szIntervalSec[kValueSize];
char szMaxMsgNum[kValueSize];

// Current values by ZolkConfKey, and the defaults they start from.
char *const cs_current[ZOLK_KEY_COUNT] = {
    szLogPath, szLogSize, szFileNum, szMapSize, szWatchDog, szIntervalSec, szMaxMsgNum,
};
const char *const cs_defaults[ZOLK_KEY_COUNT] = {"", "262144", "4", "65536", "10", "0", "0"};

// Head of the line list in file order; Root.next is the first line.
ConfLine Root = {nullptr, nullptr, 0};

using Fd = zolkinternal::UniqueFd;

// Every run holds an flock() lock on the configuration file itself from
// before it reads the file until the new content is in place, so that runs
// at the same time take turns whole: each reads what the one before wrote,
// and no two rewrites, in place or by rename, ever overlap. A run that
// waited on a file the run before replaced by rename locks the new one.
// The lock needs no file of its own, so it is had also where the caller may
// write the file but not its directory. Anyone who may read the file can
// hold such a lock; the wait for it is bounded by kLockWaitSeconds, after
// which the run ends as one that cannot open the file.
constexpr int kLockWaitSeconds = 30;

class ConfLock final {
 public:
  // held() is false when the file cannot be opened or is no regular file
  // (the load then reports why) or when the wait ran out.
  explicit ConfLock(const char *path) {
    const std::time_t deadline = std::time(nullptr) + kLockWaitSeconds;
    for (int attempt = 0; attempt < 16; ++attempt) {
      Fd fd(::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
      struct stat held, named;
      if (fd.get() < 0 || ::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)) return;
      if (!lockUntil(fd.get(), deadline)) {
        timedOut_ = true;
        return;
      }
      if (::stat(path, &named) == 0 && named.st_dev == held.st_dev &&
          named.st_ino == held.st_ino) {
        fd_.reset(fd.release());
        return;
      }
      // Replaced by the run that held the lock: lock what is there now.
    }
  }
  bool held() const { return fd_.get() >= 0; }
  bool timedOut() const { return timedOut_; }

 private:
  static bool lockUntil(int fd, std::time_t deadline) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) return false;
      if (std::time(nullptr) > deadline) return false;
      ::usleep(2000);
    }
    return true;
  }

  Fd fd_;
  bool timedOut_ = false;
};

// The temporary file of a rewrite by rename: the target's name with
// kTempSuffix, created exclusively and never opened when it is already
// there, so that no one else can hold a descriptor on the file that becomes
// the configuration. Runs take turns under the ConfLock, so a file found at
// that name is the leftover of a killed run or somebody else's: it is
// removed and a new one created. Not renamed, the file is removed again.
const char kTempSuffix[] = ".zolk2conf-new";

class TempFile final {
 public:
  // fd() is -1 when no file of our own can be created there.
  explicit TempFile(const std::string &target) : path_(target + kTempSuffix) {
    for (int attempt = 0; attempt < 16; ++attempt) {
      fd_.reset(::open(path_.c_str(),
                       O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600));
      if (fd_.get() >= 0 || errno != EEXIST) return;
      if (::unlink(path_.c_str()) != 0 && errno != ENOENT) return;
    }
  }
  ~TempFile() {
    if (fd_.get() >= 0 && !committed_) ::unlink(path_.c_str());
  }
  TempFile(const TempFile &) = delete;
  TempFile &operator=(const TempFile &) = delete;
  int fd() const { return fd_.get(); }
  bool commit(const char *target) {
    if (::rename(path_.c_str(), target) != 0) return false;
    committed_ = true;
    return true;
  }

 private:
  const std::string path_;
  Fd fd_;
  bool committed_ = false;
};

void freeBuff() {
  ConfLine *node = Root.next;
  while (node != nullptr) {
    ConfLine *next = node->next;
    std::free(node->text);
    std::free(node);
    node = next;
  }
  Root.next = nullptr;
}

void resetValues() {
  for (int k = 0; k < ZOLK_KEY_COUNT; ++k) {
    std::snprintf(cs_current[k], kValueSize, "%s", cs_defaults[k]);
  }
}

void reportOutOfMemory(int logging, int line) {
  ic_LogPrintf(messageDestination(logging), "System error. Message='%s' File='%s' Line='%d'",
               "Out of memory.", "setconf", line);
}

// Takes the key and value of one chunk into the current values.
void applyLine(const char *text) {
  const int key = confKeyIndex(getToken(text));
  if (key < 0) return;
  char value[ZOLK_CONF_CHUNK_MAX + 1];
  if (getConfValue(text, value, sizeof value) != 0) return;
  if (key != ZOLK_KEY_LOGFILE && checkNumeric(value) != 0) return;
  // A value longer than the buffer is cut to 1024 characters.
  const size_t length = ::strnlen(value, kValueSize - 1);
  std::memcpy(cs_current[key], value, length);
  cs_current[key][length] = '\0';
}

// Loads the file into the line list and the current values, then checks
// the given sizes against each other or against the stored ones.
int loadConf(int logging, const char *logSize, const char *mapSize) {
  const int dest = messageDestination(logging);
  if (logSize != nullptr && mapSize != nullptr && ZOLK_atoi(logSize) < ZOLK_atoi(mapSize)) {
    ic_LogPrintf(dest, "Size that is smaller than the size of the Map file. (-%c %s)", 'b',
                 logSize);
    return 11;
  }

  int rc;
  File fp(openConfFile(cs_ConfFile, dest, &rc));
  if (fp.get() == nullptr) return rc;

  freeBuff();
  ConfLine *tail = &Root;
  char chunk[ZOLK_CONF_CHUNK_MAX + 1];
  size_t length;
  while ((length = readConfChunk(fp.get(), chunk, sizeof chunk)) > 0) {
    ConfLine *node = static_cast<ConfLine *>(std::malloc(sizeof(ConfLine)));
    if (node == nullptr) {
      fp.close();
      reportOutOfMemory(logging, 339);
      return 99;
    }
    *node = ConfLine{nullptr, nullptr, 0};
    tail->next = node;
    tail = node;
    node->text = static_cast<char *>(std::malloc(length + 1));
    if (node->text == nullptr) {
      fp.close();
      reportOutOfMemory(logging, 347);
      return 99;
    }
    std::memcpy(node->text, chunk, length + 1);
    node->length = length;
    applyLine(node->text);
  }
  if (::ferror(fp.get())) {
    ::clearerr(fp.get());
    fp.close();
    ic_LogPrintf(dest, "Cannot read the key value.");
    return 17;
  }
  fp.close();

  if (mapSize != nullptr && logSize == nullptr) {
    long stored;
    if (convertStoredSize(szLogSize, &stored) != 0) return reportUnreadableKey(dest, "LogSize");
    if (stored >= static_cast<long>(ZOLK_atoi(mapSize)) * 1024) return 0;
    ic_LogPrintf(dest, "Sizes that are larger than sizes of log file. (-%c %s)", 's', mapSize);
    return 12;
  }
  if (logSize != nullptr && mapSize == nullptr) {
    long stored;
    if (convertStoredSize(szMapSize, &stored) != 0) return reportUnreadableKey(dest, "MapSize");
    if (static_cast<long>(ZOLK_atoi(logSize)) * 1024 >= stored) return 0;
    ic_LogPrintf(dest, "Size that is smaller than the size of the Map file. (-%c %s)", 'b',
                 logSize);
    return 11;
  }
  return 0;
}

// The canonical line of a key: the given option's value when there is one,
// else the current value. Sizes given in KB are written in bytes.
std::string canonicalLine(int key, const char *const given[ZOLK_KEY_COUNT]) {
  char value[kValueSize];
  if (given[key] != nullptr && (key == ZOLK_KEY_LOGSIZE || key == ZOLK_KEY_MAPSIZE)) {
    std::snprintf(value, sizeof value, "%d", ZOLK_atoi(given[key]) * 1024);
  } else {
    std::snprintf(value, sizeof value, "%s", given[key] != nullptr ? given[key] : cs_current[key]);
  }
  return std::string(confKeyName(key)) + " = " + value + "\n";
}

// Directory part of a path ("." for a bare name).
std::string directoryOf(const std::string &path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Builds the new content of the file from the line list, which it consumes,
// and from the given and current values; original receives the bytes as they
// were loaded. fromOption lists, in writing order, the keys whose lines came
// from the command line.
void buildContent(const char *const given[ZOLK_KEY_COUNT], std::string *content,
                  std::string *original, int fromOption[], int *fromOptionCount) {
  bool written[ZOLK_KEY_COUNT] = {};
  auto putKey = [&](int key) {
    written[key] = true;
    if (given[key] != nullptr) fromOption[(*fromOptionCount)++] = key;
    *content += canonicalLine(key, given);
  };

  // A node leaves the list only once it is handled; should memory run out,
  // freeBuff() frees what is left.
  while (Root.next != nullptr) {
    ConfLine *node = Root.next;
    original->append(node->text, node->length);
    const int key = confKeyIndex(getToken(node->text));
    if (key < 0) {
      content->append(node->text, node->length);
    } else if (!written[key]) {
      putKey(key);
    }
    Root.next = node->next;
    std::free(node->text);
    std::free(node);
  }
  for (int key = 0; key < ZOLK_KEY_COUNT; ++key) {
    if (written[key]) continue;
    // A last line without its newline must not swallow the appended key.
    if (!content->empty() && content->back() != '\n') *content += '\n';
    putKey(key);
  }
}

// Writes all of data from the start of the file, resuming after short
// writes and interruptions.
bool writeAll(int fd, const std::string &data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n =
        ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

enum class Replacement { kDone, kNotPossible, kFailed };

// Replaces the file by a new one beside it, synced and then renamed over it,
// so that neither a crash nor a full disk can leave half a file. That is
// only done where the new file is the same file to everyone who uses it:
// kNotPossible, with the file untouched, when it has other hard links (they
// would keep the old content), when the new file cannot be given the owner,
// the group or the mode, when the directory takes no new file, or when the
// rename is refused (a bind-mounted file, for one). kFailed, with
// the file untouched, when the new content cannot be written.
Replacement replaceByRename(const std::string &target, const struct stat &st,
                            const std::string &content) {
  if (!S_ISREG(st.st_mode) || st.st_nlink != 1) return Replacement::kNotPossible;
  const std::string dir = directoryOf(target);  // nothing may throw once renamed
  TempFile temp(target);
  if (temp.fd() < 0) return Replacement::kNotPossible;
  if (::fchown(temp.fd(), st.st_uid, st.st_gid) != 0 || ::fchmod(temp.fd(), 0644) != 0) {
    return Replacement::kNotPossible;
  }
  // Write errors show in the sync at the latest.
  if (!writeAll(temp.fd(), content) || ::fsync(temp.fd()) != 0) return Replacement::kFailed;
  if (!temp.commit(target.c_str())) return Replacement::kNotPossible;

  // The new content is in place: the rewrite has succeeded. Syncing the
  // directory only hastens the rename to the disk; a directory the caller
  // may not read, or a file system that cannot sync one, changes nothing
  // of that.
  Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() >= 0) ::fsync(dirFd.get());
  return Replacement::kDone;
}

// Rewrites the file through itself, which keeps every name, the owner, the
// group and a mount on it: the new content from the start, cut to its
// length, synced. Should any step fail, the loaded bytes are written back
// and the file cut to their length, so that it ends as it was as far as the
// disk allows.
bool rewriteInPlace(const std::string &target, const std::string &content,
                    const std::string &original) {
  Fd fd(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) return false;
  if (writeAll(fd.get(), content) &&
      ::ftruncate(fd.get(), static_cast<off_t>(content.size())) == 0 && ::fsync(fd.get()) == 0) {
    // Only the owner may change the mode; a group member who may write the
    // file leaves it as it was, which is no failure of the rewrite.
    ::fchmod(fd.get(), 0644);
    return true;
  }
  if (writeAll(fd.get(), original) &&
      ::ftruncate(fd.get(), static_cast<off_t>(original.size())) == 0) {
    ::fsync(fd.get());
  }
  return false;
}

// Puts the new content into the configuration file: replaced by rename
// where that keeps the file's identity, else rewritten in place.
bool rewriteFile(const std::string &content, const std::string &original) {
  // The file a symbolic link points to is rewritten, not the link.
  char *resolved = ::realpath(cs_ConfFile, nullptr);
  if (resolved == nullptr) return false;
  const std::string target(resolved);
  std::free(resolved);
  struct stat st;
  if (::stat(target.c_str(), &st) != 0) return false;

  switch (replaceByRename(target, st, content)) {
    case Replacement::kDone:
      return true;
    case Replacement::kFailed:
      return false;
    case Replacement::kNotPossible:
      break;
  }
  return rewriteInPlace(target, content, original);
}

int saveConf(int logging, const char *logFile, const char *logSize, const char *fileNum,
             const char *mapSize, const char *watchDog, const char *intervalSec,
             const char *maxMsgNum) {
  const int dest = messageDestination(logging);
  // A file the caller may not write is refused before anything is created.
  {
    Fd check(::open(cs_ConfFile, O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (check.get() < 0) {
      ic_LogPrintf(dest, "Failed to open. '%s'", cs_ConfFile);
      return 14;
    }
  }

  const char *const given[ZOLK_KEY_COUNT] = {logFile,  logSize,     fileNum,  mapSize,
                                             watchDog, intervalSec, maxMsgNum};
  int fromOption[ZOLK_KEY_COUNT];
  int count = 0;
  bool rewritten;
  try {
    std::string content, original;
    buildContent(given, &content, &original, fromOption, &count);
    rewritten = rewriteFile(content, original);
  } catch (...) {
    // Only std::string throws there, for want of memory, and only before the
    // file is touched; a temporary file is gone with the unwinding.
    rewritten = false;
  }
  if (!rewritten) {
    ic_LogPrintf(dest, "Failed to write. '%s'", cs_ConfFile);
    return 14;
  }
  // Reported once the new content is in place, so a log never claims a key
  // that a failed rewrite did not store.
  if (logging) {
    for (int i = 0; i < count; ++i) {
      ic_LogPrintf(IC_DEST_LOG, "%s : %s", confKeyName(fromOption[i]), "SUCCESS");
    }
  }
  return 0;
}

}  // namespace

extern "C" int setConf(int logging, const char *logFile, const char *logSize,
                       const char *fileNum, const char *mapSize, const char *watchDog,
                       const char *intervalSec, const char *maxMsgNum) {
  freeBuff();
  resetValues();
  const ConfLock lock(cs_ConfFile);
  if (lock.timedOut()) {
    ic_LogPrintf(messageDestination(logging), "Failed to open. '%s'", cs_ConfFile);
    return 14;
  }
  int rc = loadConf(logging, logSize, mapSize);
  if (rc == 0) {
    rc = saveConf(logging, logFile, logSize, fileNum, mapSize, watchDog, intervalSec, maxMsgNum);
  }
  freeBuff();
  return rc;
}
