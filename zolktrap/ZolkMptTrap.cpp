// Reader of one trace file of a rotating set while its writer is at work:
// the reader instance, the management file (found from the trace file name,
// mapped, its record read under the writer's lockf() lock) and the trace
// file (mapped, its readable end computed, read as a stream).
//
// Every byte the reader looks at in the trace mapping lies below the file's
// size as last seen by fstat(), taken at every computation of the end: a
// mapping may be longer than its file (an empty trace file is mapped with
// the record's file size, a writer need not pre-extend its files, and one
// may truncate them), and touching a mapped page beyond the end of the file
// raises SIGBUS in the caller.
#include "zolk2trap.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ZolkUniqueFd.h"

// A reader instance. It owns traceFileName, managementPath, both descriptors
// and both mappings; DeleteInstance releases them. traceMap is null exactly
// when mappedLength is 0, and a null traceMap means traceFd is -1 unless
// removing the mapping failed. The stream never delivers a byte at or beyond
// min(currentOffset, mappedLength, traceSize).
struct tag_ZOLK2_MptTrap {
  char* managementPath;
  char* traceFileName;
  int managementFd;
  int traceFd;
  void* managementMap;
  void* traceMap;
  int managementResolved;
  int fileNumber;
  int lockBlockTime;
  int lockSleepTime;
  int lockRetryTimes;
  int lastError;
  int streamOpen;
  uint32_t mappedLength;
  uint32_t readPosition;
  uint32_t currentOffset;
  int mapFlags;
  // Size of the trace file by fstat() when the readable end was last
  // computed (0 while unknown): the bound of every byte examined or copied.
  uint32_t traceSize;
};

namespace {

const ZOLK2_MptTrap_t ms_defaultInstance = {
    nullptr,                              // managementPath
    nullptr,                              // traceFileName
    -1,                                   // managementFd
    -1,                                   // traceFd
    nullptr,                              // managementMap
    nullptr,                              // traceMap
    0,                                    // managementResolved
    0,                                    // fileNumber
    ZOLK2_MPTT_DEFAULT_LOCK_BLOCK_TIME,   // lockBlockTime
    ZOLK2_MPTT_DEFAULT_LOCK_SLEEP_TIME,   // lockSleepTime
    ZOLK2_MPTT_DEFAULT_LOCK_RETRY_TIMES,  // lockRetryTimes
    0,                                    // lastError
    0,                                    // streamOpen
    0,                                    // mappedLength
    0,                                    // readPosition
    0,                                    // currentOffset
    0,                                    // mapFlags
    0,                                    // traceSize
};

// Last error of the calls made without an instance; shared by the process.
int ms_errno = 0;

static_assert(sizeof(management_info_t) == ZOLK2_MPTT_RECORD_SIZE,
              "the management record is 64 bytes");

constexpr unsigned char kCr = 0x0D;
constexpr unsigned char kLf = 0x0A;
constexpr unsigned char kEndOfData = ZOLK2_MPTT_END_OF_DATA;
constexpr uint32_t kSwappedByteOrderMark = 0x00BFBBEFu;

int fail(ZOLK2_MptTrap_t* trap, int code) {
  trap->lastError = code;
  return code;
}

int failWithoutInstance() {
  ms_errno = ZOLK2_MPTT_E_INVALID;
  return ZOLK2_MPTT_E_INVALID;
}

uint32_t smallest(uint32_t a, uint32_t b) { return a < b ? a : b; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// ---------------------------------------------------------------------------
// The management record.

void swapByteOrder(management_info_t* rec) {
  uint32_t* const words[] = {&rec->byteOrderMark, &rec->fileSize,        &rec->fileCount,
                             &rec->writeOffset,   &rec->writeFileNumber, &rec->flags,
                             &rec->lockType,      &rec->reserved};
  for (uint32_t* w : words) *w = __builtin_bswap32(*w);
}

// The writer's offset is the readable end that ZOLK2_MpttGetCurrentOffset()
// returns as it stands, a signed value whose negative range means failure:
// one beyond that range cannot be told from a failure and is refused.
bool isValidRecord(const management_info_t& rec) {
  return std::memcmp(rec.magic, ZOLK2_MPTT_MAGIC, sizeof rec.magic) == 0 &&
         rec.writeOffset <= static_cast<uint32_t>(INT32_MAX) &&
         rec.fileSize >= ZOLK2_MPTT_MIN_FILE_SIZE && rec.fileSize <= ZOLK2_MPTT_MAX_FILE_SIZE &&
         rec.fileCount >= 1 && rec.fileCount <= ZOLK2_MPTT_MAX_FILE_COUNT &&
         static_cast<int32_t>(rec.writeFileNumber) >= 1 &&
         static_cast<int32_t>(rec.writeFileNumber) <= static_cast<int32_t>(rec.fileCount);
}

// Brings a copied record into this host's byte order. A record without a
// mark is taken as it stands when that makes it valid. False for a mark
// that is neither order's.
bool normaliseByteOrder(management_info_t* rec) {
  if (rec->byteOrderMark == ZOLK2_MPTT_BYTE_ORDER_MARK) return true;
  if (rec->byteOrderMark == kSwappedByteOrderMark) {
    swapByteOrder(rec);
    return true;
  }
  if (rec->byteOrderMark == 0) {
    if (!isValidRecord(*rec)) swapByteOrder(rec);
    return true;
  }
  return false;
}

// Reads the record from the management file into rec and brings it into
// this host's order; 0, or ZOLK2_MPTT_E_RECORD for a record that is short,
// of an unknown byte order or invalid. The record is read through the
// descriptor, not copied out of the mapping: another process decides the
// file's size at any time, and a file shorter than its record (just
// created, or truncated by a writer that starts afresh) makes a copy out of
// the mapping fault, while a read just comes back short. The mapping stays
// what marks the management file open.
int readRecord(const ZOLK2_MptTrap_t* trap, management_info_t* rec) {
  ssize_t n;
  do {
    n = ::pread(trap->managementFd, rec, sizeof *rec, 0);
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(sizeof *rec)) return ZOLK2_MPTT_E_RECORD;
  return normaliseByteOrder(rec) && isValidRecord(*rec) ? 0 : ZOLK2_MPTT_E_RECORD;
}

void pauseMilliseconds(int milliseconds) {
  if (milliseconds >= 1000) ::sleep(static_cast<unsigned>(milliseconds / 1000));
  ::usleep(static_cast<useconds_t>(milliseconds % 1000) * 1000);
}

// Non-blocking attempts on the whole-file lock, lockRetryTimes in all, with
// lockSleepTime between two of them. The descriptor's offset stays at 0, so
// length 0 covers the whole file.
int lockManagementFile(const ZOLK2_MptTrap_t* trap) {
  for (int attempt = 1;; ++attempt) {
    if (::lockf(trap->managementFd, F_TLOCK, 0) == 0) return 0;
    if (attempt >= trap->lockRetryTimes) return ZOLK2_MPTT_E_LOCK;
    pauseMilliseconds(trap->lockSleepTime);
  }
}

// A consistent copy of the record. Whether to lock is decided from a first
// read; with locking the snapshot is a second read, made under the lock.
// Without it, a second read would be no more consistent than the first, so
// the first is the snapshot (every read is a system call).
int takeSnapshot(ZOLK2_MptTrap_t* trap, management_info_t* snapshot) {
  if (trap->managementMap == nullptr) return ZOLK2_MPTT_E_STATE;
  if (readRecord(trap, snapshot) != 0) return ZOLK2_MPTT_E_RECORD;
  if ((snapshot->flags & ZOLK2_MPTT_FLAG_NO_LOCK) != 0) return 0;
  const uint32_t lockType = snapshot->lockType == 0 ? ZOLK2_MPTT_LOCK_LOCKF : snapshot->lockType;
  if (lockType != ZOLK2_MPTT_LOCK_LOCKF) return ZOLK2_MPTT_E_RECORD;
  const int lockRc = lockManagementFile(trap);
  if (lockRc != 0) return lockRc;
  const int rc = readRecord(trap, snapshot);
  if (::lockf(trap->managementFd, F_ULOCK, 0) != 0) return ZOLK2_MPTT_E_LOCK;
  return rc;
}

// ---------------------------------------------------------------------------
// Finding, opening and closing the management file.

// path = dir + "mmap/" + stem + ".mm"; the buffer holds the longest such
// path (one digit of the trace file name left out).
void buildManagementPath(char* path, size_t capacity, const char* dir, size_t dirLength,
                         const char* stem, size_t stemLength) {
  std::snprintf(path, capacity, "%.*smmap/%.*s.mm", static_cast<int>(dirLength), dir,
                static_cast<int>(stemLength), stem);
}

int adoptManagementFile(ZOLK2_MptTrap_t* trap, int fd, int fileNumber) {
  trap->managementResolved = 1;
  trap->fileNumber = fileNumber;
  trap->managementFd = fd;
  return 0;
}

// NAME.log with NAME ending in one or two digits: DIR/STEMn.log belongs to
// DIR/mmap/STEM.mm as file n, DIR/STEMmn.log to DIR/mmap/STEM.mm as file mn.
// The one-digit reading is tried first and wins when its file exists.
int searchManagementFileAndOpen(ZOLK2_MptTrap_t* trap) {
  const char* const name = trap->traceFileName;
  const size_t length = std::strlen(name);
  if (length < 5 || std::memcmp(name + length - 4, ".log", 4) != 0 || !isDigit(name[length - 5]))
    return ZOLK2_MPTT_E_NAME;

  const char* const slash = std::strrchr(name, '/');
  const size_t dirLength = slash != nullptr ? static_cast<size_t>(slash - name) + 1 : 0;
  const char* const stem = name + dirLength;
  const size_t stemLength = length - 5 - dirLength;
  const int lastDigit = name[length - 5] - '0';
  char* const path = trap->managementPath;
  const size_t capacity = length + 4;

  if (lastDigit >= 1) {
    buildManagementPath(path, capacity, name, dirLength, stem, stemLength);
    const int fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (fd >= 0) return adoptManagementFile(trap, fd, lastDigit);
    if (errno != ENOENT) {
      path[0] = '\0';
      return ZOLK2_MPTT_E_OPEN;
    }
  }
  path[0] = '\0';
  if (stemLength == 0 || !isDigit(stem[stemLength - 1])) return ZOLK2_MPTT_E_NOTFOUND;
  const int fileNumber = 10 * (stem[stemLength - 1] - '0') + lastDigit;
  if (fileNumber < 1 || fileNumber > static_cast<int>(ZOLK2_MPTT_MAX_FILE_COUNT))
    return ZOLK2_MPTT_E_NOTFOUND;

  buildManagementPath(path, capacity, name, dirLength, stem, stemLength - 1);
  const int fd = ::open(path, O_RDWR | O_CLOEXEC);
  if (fd >= 0) return adoptManagementFile(trap, fd, fileNumber);
  const int code = errno == ENOENT ? ZOLK2_MPTT_E_NOTFOUND : ZOLK2_MPTT_E_OPEN;
  path[0] = '\0';
  return code;
}

// ---------------------------------------------------------------------------
// The trace file.

// Called with no trace mapping present. A file too short to map (empty) is
// mapped with the record's file size instead, so that the writer's data
// shows through the same mapping as it arrives.
int doOpenTraceFile(ZOLK2_MptTrap_t* trap) {
  zolkinternal::UniqueFd fd(::open(trap->traceFileName, O_RDONLY));
  if (fd.get() < 0) return errno == ENOENT ? ZOLK2_MPTT_E_NOTFOUND : ZOLK2_MPTT_E_OPEN;
  struct stat st;
  if (::stat(trap->traceFileName, &st) != 0) return ZOLK2_MPTT_E_STAT;

  uint32_t length = st.st_size > static_cast<off_t>(ZOLK2_MPTT_MAX_FILE_SIZE)
                        ? ZOLK2_MPTT_MAX_FILE_SIZE
                        : static_cast<uint32_t>(st.st_size);
  const int flags = MAP_SHARED | trap->mapFlags;
  void* map = ::mmap(nullptr, length, PROT_READ, flags, fd.get(), 0);
  if (map == MAP_FAILED && trap->managementMap != nullptr) {
    management_info_t rec;
    if (readRecord(trap, &rec) == 0) {
      length = rec.fileSize;
      map = ::mmap(nullptr, length, PROT_READ, flags, fd.get(), 0);
    }
  }
  if (map == MAP_FAILED) return ZOLK2_MPTT_E_MAP;

  trap->traceFd = fd.release();
  trap->traceMap = map;
  trap->mappedLength = length;
  return 0;
}

// A descriptor is gone once close() has been called, whatever it reports:
// closing it again could close a descriptor that has since been reused.
int doCloseTraceFile(ZOLK2_MptTrap_t* trap) {
  if (trap->traceMap != nullptr) {
    if (::munmap(trap->traceMap, trap->mappedLength) != 0) return ZOLK2_MPTT_E_UNMAP;
    trap->traceMap = nullptr;
    trap->mappedLength = 0;
  }
  trap->traceSize = 0;
  if (trap->traceFd >= 0) {
    const int rc = ::close(trap->traceFd);
    trap->traceFd = -1;
    if (rc != 0) return ZOLK2_MPTT_E_CLOSE;
  }
  return 0;
}

// Replaces the trace mapping by a fresh one; failures go to lastError. When
// the old mapping cannot be removed it stays in use rather than being leaked.
void remapTraceFile(ZOLK2_MptTrap_t* trap) {
  int rc = doCloseTraceFile(trap);
  if (rc != 0) {
    trap->lastError = rc;
    if (trap->traceMap != nullptr) return;
  }
  rc = doOpenTraceFile(trap);
  if (rc != 0) trap->lastError = rc;
}

void refreshTraceSize(ZOLK2_MptTrap_t* trap) {
  struct stat st;
  if (trap->traceFd < 0) {
    trap->traceSize = 0;
  } else if (::fstat(trap->traceFd, &st) != 0) {
    trap->traceSize = 0;
    trap->lastError = ZOLK2_MPTT_E_STAT;
  } else {
    trap->traceSize = st.st_size > static_cast<off_t>(UINT32_MAX) ? UINT32_MAX
                                                                   : static_cast<uint32_t>(st.st_size);
  }
}

int closeManagementFile(ZOLK2_MptTrap_t* trap) {
  if (trap->managementMap != nullptr) {
    if (::munmap(trap->managementMap, ZOLK2_MPTT_RECORD_SIZE) != 0) return ZOLK2_MPTT_E_UNMAP;
    trap->managementMap = nullptr;
  }
  if (trap->managementFd >= 0) {
    const int rc = ::close(trap->managementFd);
    trap->managementFd = -1;
    if (rc != 0) return ZOLK2_MPTT_E_CLOSE;
  }
  trap->currentOffset = 0;
  if (trap->traceMap != nullptr || trap->traceFd >= 0) return doCloseTraceFile(trap);
  return 0;
}

// End-of-data scan. A 0x1A ends the data only where it follows a line end
// (CR LF) with no CR since, directly or after a complete FE FF or FF FE
// pair; anywhere else it is ordinary data.
enum class ScanState { None, Cr, LineEnd, MarkFe, MarkFf, Mark };

// The scan resumes at a previous end. At offset 0, or right after a CR LF,
// the state there is known to be a line end; elsewhere the bytes before are
// unknown and the scan must first see a line end of its own.
ScanState scanStartState(const unsigned char* data, uint32_t from) {
  if (from == 0) return ScanState::LineEnd;
  if (from >= 2 && data[from - 2] == kCr && data[from - 1] == kLf) return ScanState::LineEnd;
  return ScanState::None;
}

// One step of the scan's state machine for a byte other than CR (a CR
// always leads to ScanState::Cr). True when the byte is the 0x1A that ends
// the data.
bool scanStep(ScanState* state, unsigned char c) {
  switch (*state) {
    case ScanState::None:
      break;
    case ScanState::Cr:
      if (c == kLf) *state = ScanState::LineEnd;
      break;
    case ScanState::LineEnd:
      if (c == kEndOfData) return true;
      if (c == 0xFE) *state = ScanState::MarkFe;
      if (c == 0xFF) *state = ScanState::MarkFf;
      break;
    case ScanState::MarkFe:
      if (c == 0xFF) *state = ScanState::Mark;
      break;
    case ScanState::MarkFf:
      if (c == 0xFE) *state = ScanState::Mark;
      break;
    case ScanState::Mark:
      if (c == kEndOfData) return true;
      break;
  }
  return false;
}

// Offset of the 0x1A that ends the data in [from, end), or end.
//
// Only a 0x1A can end the data, and every CR puts the machine in the same
// state whatever came before, so the machine need only be run over the
// bytes between the last CR before a 0x1A and that 0x1A: the search jumps
// from one 0x1A to the next with memchr() and runs the machine from the
// last CR before it (memrchr()), or from where the previous run stopped.
// Each byte is stepped through at most once; on trace data, where 0x1A is
// rare, the cost is that of memchr() over the file.
uint32_t scanForEndOfData(const unsigned char* data, uint32_t from, uint32_t end) {
  ScanState state = scanStartState(data, from);
  uint32_t stepped = from;  // the machine has run over [from, stepped)
  while (stepped < end) {
    const void* const hit = std::memchr(data + stepped, kEndOfData, end - stepped);
    if (hit == nullptr) return end;
    const uint32_t candidate = static_cast<uint32_t>(static_cast<const unsigned char*>(hit) - data);
    const void* const cr = ::memrchr(data + stepped, kCr, candidate - stepped);
    if (cr != nullptr) {
      state = ScanState::Cr;
      stepped = static_cast<uint32_t>(static_cast<const unsigned char*>(cr) - data) + 1;
    }
    for (; stepped < candidate; ++stepped) scanStep(&state, data[stepped]);
    if (scanStep(&state, kEndOfData)) return candidate;
    stepped = candidate + 1;
  }
  return end;
}

// Copies bytes from `from` up to and including the first LF, at most
// `limit` of them, and returns their count.
uint32_t copyLine(char* to, const unsigned char* from, uint32_t limit) {
  const void* const lf = std::memchr(from, kLf, limit);
  const uint32_t count =
      lf != nullptr ? static_cast<uint32_t>(static_cast<const unsigned char*>(lf) - from) + 1 : limit;
  std::memcpy(to, from, count);
  return count;
}

uint32_t readableEnd(const ZOLK2_MptTrap_t* trap) {
  return smallest(smallest(trap->currentOffset, trap->mappedLength), trap->traceSize);
}

const unsigned char* traceBytes(const ZOLK2_MptTrap_t* trap) {
  return static_cast<const unsigned char*>(trap->traceMap);
}

}  // namespace

// ---------------------------------------------------------------------------
// Instances and settings.

extern "C" {

ZOLK2_MptTrap_t* ZOLK2_MpttCreateInstance(const char* traceFileName) {
  if (traceFileName == nullptr) {
    failWithoutInstance();
    return nullptr;
  }
  ZOLK2_MptTrap_t* trap = static_cast<ZOLK2_MptTrap_t*>(std::malloc(sizeof *trap));
  if (trap == nullptr) {
    ms_errno = ZOLK2_MPTT_E_NOMEM;
    return nullptr;
  }
  *trap = ms_defaultInstance;
  const size_t length = std::strlen(traceFileName);
  trap->traceFileName = static_cast<char*>(std::malloc(length + 1));
  trap->managementPath = static_cast<char*>(std::malloc(length + 4));
  if (trap->traceFileName == nullptr || trap->managementPath == nullptr) {
    std::free(trap->traceFileName);
    std::free(trap->managementPath);
    std::free(trap);
    ms_errno = ZOLK2_MPTT_E_NOMEM;
    return nullptr;
  }
  std::memcpy(trap->traceFileName, traceFileName, length + 1);
  trap->managementPath[0] = '\0';
  return trap;
}

int ZOLK2_MpttDeleteInstance(ZOLK2_MptTrap_t* trap) {
  if (trap == nullptr) return 0;
  if (trap->streamOpen) {
    const int rc = ZOLK2_MpttClose(trap);
    if (rc != 0) return ms_errno = fail(trap, rc);
  }
  if (trap->traceMap != nullptr || trap->traceFd >= 0) {
    const int rc = doCloseTraceFile(trap);
    if (rc != 0) return ms_errno = fail(trap, rc);
  }
  if (trap->managementMap != nullptr || trap->managementFd >= 0) {
    const int rc = ZOLK2_MpttCloseManagementFile(trap);
    if (rc != 0) return ms_errno = fail(trap, rc);
  }
  std::free(trap->managementPath);
  std::free(trap->traceFileName);
  std::free(trap);
  return 0;
}

int ZOLK2_MpttGetLockBlockTime(ZOLK2_MptTrap_t* trap) {
  if (trap == nullptr) return failWithoutInstance(), -1;
  return trap->lockBlockTime;
}

int ZOLK2_MpttSetLockBlockTime(ZOLK2_MptTrap_t* trap, int blockTime) {
  if (trap == nullptr) return failWithoutInstance(), -1;
  if (blockTime < 0) return fail(trap, ZOLK2_MPTT_E_INVALID), -1;
  const int previous = trap->lockBlockTime;
  trap->lockBlockTime = blockTime;
  return previous;
}

int ZOLK2_MpttGetLockSleepTime(ZOLK2_MptTrap_t* trap) {
  if (trap == nullptr) return failWithoutInstance(), -1;
  return trap->lockSleepTime;
}

int ZOLK2_MpttSetLockSleepTime(ZOLK2_MptTrap_t* trap, int milliseconds) {
  if (trap == nullptr) return failWithoutInstance(), -1;
  if (milliseconds < 0) return fail(trap, ZOLK2_MPTT_E_INVALID), -1;
  const int previous = trap->lockSleepTime;
  trap->lockSleepTime = milliseconds;
  return previous;
}

int ZOLK2_MpttGetLockRetryTimes(ZOLK2_MptTrap_t* trap) {
  if (trap == nullptr) return failWithoutInstance(), -1;
  return trap->lockRetryTimes;
}

int ZOLK2_MpttSetLockRetryTimes(ZOLK2_MptTrap_t* trap, int attempts) {
  if (trap == nullptr) return failWithoutInstance(), -1;
  if (attempts < 1) return fail(trap, ZOLK2_MPTT_E_INVALID), -1;
  const int previous = trap->lockRetryTimes;
  trap->lockRetryTimes = attempts;
  return previous;
}

int ZOLK2_MpttGetLastError(ZOLK2_MptTrap_t* trap) {
  return trap == nullptr ? ms_errno : trap->lastError;
}

void ZOLK2_MpttClearError(ZOLK2_MptTrap_t* trap) {
  if (trap == nullptr) {
    ms_errno = 0;
  } else {
    trap->lastError = 0;
  }
}

// ---------------------------------------------------------------------------
// The management file.

int ZOLK2_MpttOpenManagementFile(ZOLK2_MptTrap_t* trap) {
  if (trap == nullptr) return failWithoutInstance();
  if (trap->managementMap != nullptr) return fail(trap, ZOLK2_MPTT_E_STATE);
  if (!trap->managementResolved) {
    const int rc = searchManagementFileAndOpen(trap);
    if (rc != 0) return fail(trap, rc);
  }
  if (trap->managementFd < 0) {
    const int fd = ::open(trap->managementPath, O_RDWR | O_CLOEXEC);
    if (fd < 0) return fail(trap, errno == ENOENT ? ZOLK2_MPTT_E_NOTFOUND : ZOLK2_MPTT_E_OPEN);
    trap->managementFd = fd;
  }
  void* map = ::mmap(nullptr, ZOLK2_MPTT_RECORD_SIZE, PROT_READ, MAP_SHARED | trap->mapFlags,
                     trap->managementFd, 0);
  if (map == MAP_FAILED) {
    closeManagementFile(trap);
    return fail(trap, ZOLK2_MPTT_E_MAP);
  }
  trap->managementMap = map;
  // The trace file may not exist yet; the stream and the end computation
  // try again later, so a failure here is nobody's business.
  if (trap->traceMap == nullptr) {
    const int saved = trap->lastError;
    doOpenTraceFile(trap);
    trap->lastError = saved;
  }
  trap->currentOffset = 0;
  return 0;
}

int ZOLK2_MpttCloseManagementFile(ZOLK2_MptTrap_t* trap) {
  if (trap == nullptr) return failWithoutInstance();
  if (trap->streamOpen) return fail(trap, ZOLK2_MPTT_E_STATE);
  if (trap->managementFd < 0 && trap->managementMap == nullptr)
    return fail(trap, ZOLK2_MPTT_E_STATE);
  const int rc = closeManagementFile(trap);
  return rc != 0 ? fail(trap, rc) : 0;
}

// ---------------------------------------------------------------------------
// The readable end.

int ZOLK2_MpttGetCurrentOffset(ZOLK2_MptTrap_t* trap) {
  if (trap == nullptr) return failWithoutInstance(), -1;
  management_info_t snapshot;
  const int rc = takeSnapshot(trap, &snapshot);
  if (rc != 0) return fail(trap, rc), -1;
  const uint32_t writeOffset = snapshot.writeOffset;
  const bool beingWritten = trap->fileNumber == static_cast<int>(snapshot.writeFileNumber);

  if (beingWritten) {
    if (trap->mappedLength < writeOffset) remapTraceFile(trap);
    if (trap->currentOffset <= writeOffset) {
      // The size is looked at on every call, though the record says the
      // file has grown: a writer that starts afresh truncates the file
      // before its record says so.
      refreshTraceSize(trap);
      trap->currentOffset = writeOffset;
      return static_cast<int>(writeOffset);
    }
    // Otherwise the writer has come round to this file again and is behind
    // the previous end.
  }

  if (trap->traceMap == nullptr || trap->mappedLength < snapshot.fileSize ||
      trap->mappedLength < writeOffset) {
    remapTraceFile(trap);
    if (trap->traceMap == nullptr) return -1;
  }
  refreshTraceSize(trap);

  const uint32_t previousEnd = trap->currentOffset;
  const uint32_t examinable = smallest(trap->mappedLength, trap->traceSize);
  const unsigned char* const data = traceBytes(trap);
  const bool atEnd = previousEnd >= examinable || data[previousEnd] == kEndOfData;
  if (beingWritten && atEnd) {
    trap->currentOffset = writeOffset;
    return static_cast<int>(writeOffset);
  }
  if (atEnd) return static_cast<int>(previousEnd);
  trap->currentOffset = scanForEndOfData(data, previousEnd, examinable);
  return static_cast<int>(trap->currentOffset);
}

// ---------------------------------------------------------------------------
// The read stream.

int ZOLK2_MpttOpen(ZOLK2_MptTrap_t* trap) {
  if (trap == nullptr) return failWithoutInstance();
  if (trap->streamOpen || trap->managementMap == nullptr) return fail(trap, ZOLK2_MPTT_E_STATE);
  if (trap->traceMap == nullptr) {
    const int rc = doOpenTraceFile(trap);
    if (rc != 0) return fail(trap, rc);
  }
  trap->streamOpen = 1;
  trap->readPosition = 0;
  return 0;
}

int ZOLK2_MpttClose(ZOLK2_MptTrap_t* trap) {
  if (trap == nullptr) return failWithoutInstance();
  if (!trap->streamOpen) return fail(trap, ZOLK2_MPTT_E_STATE);
  if (trap->managementFd < 0 && trap->managementMap == nullptr) {
    const int rc = doCloseTraceFile(trap);
    if (rc != 0) return fail(trap, rc);
  }
  trap->streamOpen = 0;
  return 0;
}

uint32_t ZOLK2_MpttRead(ZOLK2_MptTrap_t* trap, void* buffer, uint32_t size) {
  if (trap == nullptr) return failWithoutInstance(), 0;
  if (!trap->streamOpen) return fail(trap, ZOLK2_MPTT_E_STATE), 0;
  if (buffer == nullptr) return fail(trap, ZOLK2_MPTT_E_INVALID), 0;
  const uint32_t end = readableEnd(trap);
  if (trap->readPosition >= end) return 0;
  const uint32_t count = smallest(size, end - trap->readPosition);
  std::memcpy(buffer, traceBytes(trap) + trap->readPosition, count);
  trap->readPosition += count;
  return count;
}

int ZOLK2_MpttGetChar(ZOLK2_MptTrap_t* trap) {
  if (trap == nullptr) return failWithoutInstance(), -1;
  if (!trap->streamOpen) return fail(trap, ZOLK2_MPTT_E_STATE), -1;
  if (trap->readPosition >= readableEnd(trap)) return -1;
  return traceBytes(trap)[trap->readPosition++];
}

uint32_t ZOLK2_MpttGetLine(ZOLK2_MptTrap_t* trap, char* buffer, uint32_t size) {
  if (trap == nullptr) return failWithoutInstance(), 0;
  if (!trap->streamOpen) return fail(trap, ZOLK2_MPTT_E_STATE), 0;
  if (buffer == nullptr) return fail(trap, ZOLK2_MPTT_E_INVALID), 0;
  const uint32_t end = readableEnd(trap);
  if (trap->readPosition >= end || size == 0) return 0;
  const unsigned char* const from = traceBytes(trap) + trap->readPosition;
  const uint32_t count = copyLine(buffer, from, smallest(size - 1, end - trap->readPosition));
  buffer[count] = '\0';
  trap->readPosition += count;
  return count;
}

int ZOLK2_MpttSeek(ZOLK2_MptTrap_t* trap, int32_t offset, int origin) {
  if (trap == nullptr) return failWithoutInstance();
  if (!trap->streamOpen) return fail(trap, ZOLK2_MPTT_E_STATE);
  int64_t target = 0;
  switch (origin) {
    case ZOLK2_MPTT_SEEK_SET:
      if (offset < 0) return fail(trap, ZOLK2_MPTT_E_SEEK);
      target = offset;
      break;
    case ZOLK2_MPTT_SEEK_CUR:
      target = static_cast<int64_t>(trap->readPosition) + offset;
      if (target < 0 || target > static_cast<int64_t>(UINT32_MAX)) return fail(trap, ZOLK2_MPTT_E_SEEK);
      break;
    case ZOLK2_MPTT_SEEK_END:
      if (offset > 0) return fail(trap, ZOLK2_MPTT_E_SEEK);
      target = static_cast<int64_t>(trap->mappedLength) + offset;
      if (target < 0) return fail(trap, ZOLK2_MPTT_E_SEEK);
      break;
    default:
      return fail(trap, ZOLK2_MPTT_E_INVALID);
  }
  if (target > static_cast<int64_t>(trap->mappedLength)) return fail(trap, ZOLK2_MPTT_E_SEEK);
  trap->readPosition = static_cast<uint32_t>(target);
  return 0;
}

int ZOLK2_MpttTell(ZOLK2_MptTrap_t* trap) {
  if (trap == nullptr) return failWithoutInstance(), -1;
  if (!trap->streamOpen) return fail(trap, ZOLK2_MPTT_E_STATE), -1;
  if (trap->readPosition > static_cast<uint32_t>(INT32_MAX)) return -1;
  return static_cast<int>(trap->readPosition);
}

}  // extern "C"
