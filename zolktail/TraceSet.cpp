#include "TraceSet.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace zolktail {
namespace {

constexpr uint32_t kSwappedByteOrderMark = 0x00BFBBEFu;
constexpr int kLockAttempts = 1000;  // 1 ms apart: a writer holds the lock far shorter
constexpr int kInvalidRetries = 3;   // a record written without the lock may be caught half-written

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

void swapByteOrder(management_info_t* r) {
  for (uint32_t* w : {&r->byteOrderMark, &r->fileSize, &r->fileCount, &r->writeOffset,
                      &r->writeFileNumber, &r->flags, &r->lockType, &r->reserved})
    *w = __builtin_bswap32(*w);
}

bool isValid(const management_info_t& r) {
  return std::memcmp(r.magic, ZOLK2_MPTT_MAGIC, sizeof r.magic) == 0 &&
         r.fileSize >= ZOLK2_MPTT_MIN_FILE_SIZE && r.fileSize <= ZOLK2_MPTT_MAX_FILE_SIZE &&
         r.fileCount >= 1 && r.fileCount <= ZOLK2_MPTT_MAX_FILE_COUNT &&
         static_cast<int32_t>(r.writeFileNumber) >= 1 && r.writeFileNumber <= r.fileCount &&
         r.writeOffset <= static_cast<uint32_t>(INT32_MAX);
}

// The byte order is told by the mark, or without one by which order makes
// the record valid.
bool normalise(management_info_t* r) {
  if (r->byteOrderMark == kSwappedByteOrderMark || (r->byteOrderMark == 0 && !isValid(*r)))
    swapByteOrder(r);
  return r->byteOrderMark == ZOLK2_MPTT_BYTE_ORDER_MARK || r->byteOrderMark == 0 ? isValid(*r)
                                                                                 : false;
}

}  // namespace

std::string SetName::tracePath(int64_t fileNumber) const {
  return directory + prefix + std::to_string(fileNumber) + ".log";
}

bool parseSetName(const std::string& traceFile, SetName* name) {
  const size_t length = traceFile.size();
  if (length < 5 || traceFile.compare(length - 4, 4, ".log") != 0 ||
      !isDigit(traceFile[length - 5]))
    return false;
  const size_t slash = traceFile.rfind('/');
  name->directory = slash == std::string::npos ? "" : traceFile.substr(0, slash + 1);
  const std::string stem =
      traceFile.substr(name->directory.size(), length - 5 - name->directory.size());
  const int last = traceFile[length - 5] - '0';
  const std::string oneDigit = name->directory + "mmap/" + stem + ".mm";
  if (last >= 1 && exists(oneDigit)) {
    name->prefix = stem;
    name->number = last;
    name->managementPath = oneDigit;
    return true;
  }
  if (!stem.empty() && isDigit(stem.back())) {
    const int number = 10 * (stem.back() - '0') + last;
    if (number >= 1 && number <= static_cast<int>(ZOLK2_MPTT_MAX_FILE_COUNT)) {
      name->prefix = stem.substr(0, stem.size() - 1);
      name->number = number;
      name->managementPath = name->directory + "mmap/" + name->prefix + ".mm";
      return true;
    }
  }
  if (last == 0) return false;
  name->prefix = stem;
  name->number = last;
  name->managementPath = oneDigit;
  return true;
}

ManagementFile::~ManagementFile() {
  if (fd_ >= 0) ::close(fd_);
}

int ManagementFile::open(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) return errno;
  struct stat st;
  if (::fstat(fd_, &st) != 0) return errno;
  identity_ = {st.st_dev, st.st_ino};
  return 0;
}

bool FileIdentity::of(const std::string& path, FileIdentity* identity, int* error) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    *error = errno;
    return false;
  }
  *identity = {st.st_dev, st.st_ino};
  return true;
}

RecordStatus ManagementFile::snapshot(management_info_t* record, int* error) {
  auto copy = [&](management_info_t* r) {
    const ssize_t n = ::pread(fd_, r, sizeof *r, 0);
    if (n < 0) *error = errno;
    return n;
  };
  // Whether to lock is told by a first copy, unless the last snapshot told
  // it: the writer's flags do not change while it writes.
  bool lock = locking_ == Locking::Lock;
  if (locking_ == Locking::Unknown) {
    management_info_t first;
    for (int attempt = 1;; ++attempt) {
      const ssize_t n = copy(&first);
      if (n < 0) return RecordStatus::Failed;
      if (n < static_cast<ssize_t>(sizeof first)) return RecordStatus::NoRecordYet;
      if (normalise(&first)) break;
      if (attempt == kInvalidRetries) return RecordStatus::Invalid;
      ::usleep(1000);
    }
    lock = (first.flags & ZOLK2_MPTT_FLAG_NO_LOCK) == 0;
    if (lock && first.lockType != 0 && first.lockType != ZOLK2_MPTT_LOCK_LOCKF)
      return RecordStatus::Invalid;
  }
  if (lock) {
    // Never blocking: a stop signal must still end the command promptly.
    int attempt = 1;
    while (::lockf(fd_, F_TLOCK, 0) != 0) {
      if (attempt++ == kLockAttempts) return RecordStatus::Busy;
      ::usleep(1000);
    }
  }
  const ssize_t n = copy(record);
  if (lock) ::lockf(fd_, F_ULOCK, 0);
  locking_ = Locking::Unknown;
  if (n < 0) return RecordStatus::Failed;
  if (n < static_cast<ssize_t>(sizeof *record)) return RecordStatus::NoRecordYet;
  if (!normalise(record)) return RecordStatus::Invalid;
  const bool wanted = (record->flags & ZOLK2_MPTT_FLAG_NO_LOCK) == 0;
  if (wanted && record->lockType != 0 && record->lockType != ZOLK2_MPTT_LOCK_LOCKF)
    return RecordStatus::Invalid;
  // A copy taken without the lock that the record asks for counts only
  // once taken with it.
  if (wanted && !lock) return snapshot(record, error);
  locking_ = wanted ? Locking::Lock : Locking::NoLock;
  return RecordStatus::Ok;
}

}  // namespace zolktail
