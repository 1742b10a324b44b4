#include "setconf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "conffile.h"
#include "ilogs.h"
#include "zolkcuicmd.h"
#include "zolkcuicmnfunc.h"

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

// Owner of a file descriptor.
class Fd final {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// The temporary file of a rewrite: removed unless commit() renamed it over
// the configuration file.
class TempFile final {
 public:
  explicit TempFile(std::string path) : path_(std::move(path)) {}
  ~TempFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile &) = delete;
  TempFile &operator=(const TempFile &) = delete;
  const std::string &path() const { return path_; }
  bool commit(const char *target) {
    if (::rename(path_.c_str(), target) != 0) return false;
    path_.clear();
    return true;
  }

 private:
  std::string path_;
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

// Writes the new content into a fresh temporary file beside the target,
// makes it durable and renames it over the target. Any failure leaves the
// target as it was. writtenFromOption lists, in writing order, the keys
// whose lines came from the command line.
bool rewriteFile(const char *const given[ZOLK_KEY_COUNT], int writtenFromOption[],
                 int *writtenCount) {
  // Replace the file a symbolic link points to, not the link.
  char *resolved = ::realpath(cs_ConfFile, nullptr);
  if (resolved == nullptr) return false;
  const std::string target(resolved);
  std::free(resolved);
  struct stat st;
  if (::stat(target.c_str(), &st) != 0) return false;

  const std::string dir = directoryOf(target);
  std::string tmpl = target + ".XXXXXX";
  const int tmpFd = ::mkostemp(&tmpl[0], O_CLOEXEC);
  if (tmpFd < 0) return false;
  Fd fd(tmpFd);
  TempFile temp(tmpl);
  if (::fchmod(fd.get(), 0644) != 0) return false;
  if (::fchown(fd.get(), st.st_uid, st.st_gid) != 0) return false;
  File out(::fdopen(fd.get(), "w"));
  if (out.get() == nullptr) return false;
  fd.release();

  bool written[ZOLK_KEY_COUNT] = {};
  bool endsLine = true;
  auto put = [&](const char *data, size_t length) {
    if (length == 0) return true;
    endsLine = data[length - 1] == '\n';
    return ::fwrite(data, 1, length, out.get()) == length;
  };
  auto putKey = [&](int key) {
    written[key] = true;
    if (given[key] != nullptr) writtenFromOption[(*writtenCount)++] = key;
    const std::string line = canonicalLine(key, given);
    return put(line.data(), line.size());
  };

  // Each node leaves the list once it is handled; whatever a failure leaves
  // on the list is freed by freeBuff().
  while (Root.next != nullptr) {
    ConfLine *node = Root.next;
    const int key = confKeyIndex(getToken(node->text));
    bool ok = true;
    if (key < 0) {
      ok = put(node->text, node->length);
    } else if (!written[key]) {
      ok = putKey(key);
    }
    Root.next = node->next;
    std::free(node->text);
    std::free(node);
    if (!ok) return false;
  }
  for (int key = 0; key < ZOLK_KEY_COUNT; ++key) {
    if (written[key]) continue;
    // A last line without its newline must not swallow the appended key.
    if (!endsLine && !put("\n", 1)) return false;
    if (!putKey(key)) return false;
  }

  if (::fflush(out.get()) != 0 || ::fsync(::fileno(out.get())) != 0) return false;
  if (!out.close()) return false;
  if (!temp.commit(target.c_str())) return false;

  // The new content is in place: the rewrite has succeeded. Syncing the
  // directory only hastens the rename to the disk; a directory the caller
  // may not read, or a file system that cannot sync one, changes nothing
  // of that.
  Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() >= 0) ::fsync(dirFd.get());
  return true;
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
    rewritten = rewriteFile(given, fromOption, &count);
  } catch (...) {
    // Only std::string throws there, for want of memory; the temporary file
    // is gone with the unwinding and the configuration file is untouched.
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
  int rc = loadConf(logging, logSize, mapSize);
  if (rc == 0) {
    rc = saveConf(logging, logFile, logSize, fileNum, mapSize, watchDog, intervalSec, maxMsgNum);
  }
  freeBuff();
  return rc;
}
