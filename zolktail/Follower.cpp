#include "Follower.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "Output.h"
#include "TraceSet.h"
#include "ZolkTrapPtr.h"
#include "zolk2trap.h"

namespace zolktail {
namespace {

constexpr uint32_t kBlock = 1u << 20;                        // copied and written at a time
constexpr uint32_t kLongestLine = ZOLK2_MPTT_MAX_FILE_SIZE;  // no line outgrows its file
constexpr uint32_t kTailChunk = 64 * 1024;                   // read backwards for -n
constexpr size_t kGuard = 256;
constexpr int kLockAttempts = 1000;

char ms_fileBeingRead[4096];

using Trap = zolkinternal::TrapPtr;

void complain(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "zolk2tail: %s: %s\n", file.c_str(), reason.c_str());
}

std::string readerReason(int code) {
  switch (code) {
    case ZOLK2_MPTT_E_OPEN:
      return "cannot be opened";
    case ZOLK2_MPTT_E_MAP:
      return "cannot be mapped";
    case ZOLK2_MPTT_E_NOMEM:
      return std::strerror(ENOMEM);
    case ZOLK2_MPTT_E_NOTFOUND:
      return std::strerror(ENOENT);
    case ZOLK2_MPTT_E_STAT:
      return "its status cannot be read";
    case ZOLK2_MPTT_E_LOCK:
      return "the writer keeps the management file locked";
    case ZOLK2_MPTT_E_RECORD:
      return "invalid management record";
    default:
      return "reader error " + std::to_string(code);
  }
}

bool isEndMarkPair(const char* p, size_t n) {
  return n == 2 && ((p[0] == '\xFE' && p[1] == '\xFF') || (p[0] == '\xFF' && p[1] == '\xFE'));
}

enum class Step { Progress, Idle, Done, Failed };
enum class Look { Ok, Busy, Failed };
enum class Open { Ok, Missing, Failed };
enum class Read { Printed, Nothing, Stuck, Resynced, Done, Failed };

// The writer enters its files one after the other; each entry is a "use"
// of a file, numbered from the one the writer was in at the first look
// (use 0), so that the follower can tell a file's data of one lap from
// that of the next. The writer's use is counted from the record's file
// number and offset at each look, as the least advance that explains the
// change; a writer that goes once or more round the whole set between two
// looks and stands further on in the same file is not seen doing so by the
// record. The bytes just before the follower's position (the guard) are
// compared with what it printed before every copy it prints: such a lap
// overwrites them.
//
// Invariants: offset_ lies at a line start of use_ and everything before
// it has been printed; guard_ holds the last bytes printed, up to kGuard;
// trap_ is null or open on the file of use_.
class Follower final {
 public:
  Follower(const SetName& name, const std::string& traceFile, const FollowOptions& options,
           const volatile sig_atomic_t* stops)
      : name_(name),
        traceFile_(traceFile),
        options_(options),
        stops_(stops),
        output_(1, options.raw, stops) {}

  int run();

 private:
  Look look();
  void track(uint32_t fileNumber, uint32_t offset);
  // The writer is in use_'s file again, a lap on, past the follower's
  // position, or right at it with data of use_ not known to be all
  // printed: the reader delivers a file being written only up to the
  // writer's offset, so what use_ held beyond it can no longer be read.
  bool overtaken() const {
    if (writerUse_ != use_ + fileCount_) return writerUse_ > use_ + fileCount_;
    return writerOffset_ > offset_ ||
           (writerOffset_ == offset_ && !(endExact_ && offset_ >= knownEnd_));
  }
  bool pastStop() const { return use_ > stopUse_ || (use_ == stopUse_ && offset_ >= stopOffset_); }
  int64_t fileOf(int64_t use) const {
    return ((originFile_ - 1 + use) % fileCount_ + fileCount_) % fileCount_ + 1;
  }
  std::string pathOf(int64_t use) const { return name_.tracePath(fileOf(use)); }

  Step step();
  Open openTrap();
  Read readTo(uint32_t limit, bool left);
  bool startAtLastLines();
  uint32_t lastLinesStart(uint32_t end, uint64_t count);
  void keepGuard(const char* printed, size_t size);
  bool guardHolds(ZOLK2_MptTrap_t* trap, const std::string& guard, uint32_t end, int64_t use);
  void checkGuards();
  void resync();
  void moveOn();
  void moveTo(int64_t use);
  void pause() const;

  const SetName name_;
  const std::string traceFile_;
  const FollowOptions options_;
  const volatile sig_atomic_t* const stops_;
  ManagementFile management_;
  Output output_;
  std::vector<char> buffer_;  // one byte more than capacity_, for the LF after a last piece
  uint32_t capacity_ = kBlock;

  // The writer.
  int64_t fileCount_ = 0;
  int64_t originFile_ = 0;  // the file of use 0
  int64_t writerUse_ = 0;
  uint32_t writerFile_ = 0;
  uint32_t writerOffset_ = 0;
  std::map<int64_t, uint32_t> seenLength_;  // furthest the writer was seen in uses it left

  // Where -x stops: the writer's position at the first look.
  int64_t stopUse_ = 0;
  uint32_t stopOffset_ = 0;

  // The follower.
  int64_t use_ = 0;
  uint32_t offset_ = 0;
  Trap trap_;
  std::string guard_;
  uint32_t knownEnd_ = 0;  // the furthest end of use_'s data known
  bool endExact_ = false;  // knownEnd_ is the end the writer left use_ with

  // Until the first bytes of use_ are printed, the guard at the end of the
  // use printed before stands in for guard_: a writer that goes round the
  // set unseen overwrites that file on its way back to this one.
  Trap previousTrap_;
  std::string previousGuard_;
  uint32_t previousEnd_ = 0;
  int64_t previousUse_ = 0;
};

Look Follower::look() {
  management_info_t record;
  int error = 0;
  switch (management_.snapshot(&record, &error)) {
    case RecordStatus::Ok:
      break;
    case RecordStatus::NoRecordYet:  // cannot happen once there was one; try again
    case RecordStatus::Busy:
      return Look::Busy;
    case RecordStatus::Invalid:
      complain(name_.managementPath, "invalid management record");
      return Look::Failed;
    case RecordStatus::Failed:
      complain(name_.managementPath, std::strerror(error));
      return Look::Failed;
  }
  if (record.fileCount != fileCount_) {
    complain(name_.managementPath, "the set now has " + std::to_string(record.fileCount) +
                                       " files instead of " + std::to_string(fileCount_));
    return Look::Failed;
  }
  track(record.writeFileNumber, record.writeOffset);
  return Look::Ok;
}

void Follower::track(uint32_t fileNumber, uint32_t offset) {
  if (fileNumber == writerFile_ && offset >= writerOffset_) {
    writerOffset_ = offset;
    return;
  }
  uint32_t& seen = seenLength_[writerUse_];
  seen = std::max(seen, writerOffset_);
  writerUse_ +=
      fileNumber == writerFile_ ? fileCount_ : (fileNumber + fileCount_ - writerFile_) % fileCount_;
  writerFile_ = fileNumber;
  writerOffset_ = offset;
}

Open Follower::openTrap() {
  const std::string path = pathOf(use_);
  std::snprintf(ms_fileBeingRead, sizeof ms_fileBeingRead, "%s", path.c_str());
  Trap trap(ZOLK2_MpttCreateInstance(path.c_str()));
  if (trap == nullptr) {
    complain(path, std::strerror(ENOMEM));
    return Open::Failed;
  }
  ZOLK2_MpttSetLockRetryTimes(trap.get(), kLockAttempts);
  int rc = ZOLK2_MpttOpenManagementFile(trap.get());
  if (rc != 0) {
    complain(name_.managementPath, readerReason(rc));
    return Open::Failed;
  }
  rc = ZOLK2_MpttOpen(trap.get());
  if (rc == ZOLK2_MPTT_E_NOTFOUND) return Open::Missing;
  if (rc != 0) {
    complain(path, readerReason(rc));
    return Open::Failed;
  }
  trap_ = std::move(trap);
  return Open::Ok;
}

// One look at the writer and as much reading as it allows.
Step Follower::step() {
  switch (look()) {
    case Look::Ok:
      break;
    case Look::Busy:
      return Step::Idle;
    case Look::Failed:
      return Step::Failed;
  }
  if (overtaken()) {
    resync();
    return Step::Progress;
  }
  if (options_.stopAtEnd && pastStop()) return Step::Done;
  if (trap_ == nullptr) {
    switch (openTrap()) {
      case Open::Ok:
        break;
      case Open::Missing:
        // In its first lap the writer has not come to the files after its own yet.
        if (use_ < 0 && fileOf(use_) > originFile_) {
          moveTo(use_ + 1);
          return Step::Progress;
        }
        complain(pathOf(use_), std::strerror(ENOENT));
        return Step::Failed;
      case Open::Failed:
        return Step::Failed;
    }
  }
  // The writer had left use_ before the end is computed, so the end found
  // is the one it left the file with.
  const bool left = writerUse_ > use_;
  const int end = ZOLK2_MpttGetCurrentOffset(trap_.get());
  if (end < 0) {
    const int code = ZOLK2_MpttGetLastError(trap_.get());
    ZOLK2_MpttClearError(trap_.get());
    // A record the reader refuses may be one a writer is just rewriting;
    // the next look of our own tells whether it is really invalid.
    if (code == ZOLK2_MPTT_E_LOCK || code == ZOLK2_MPTT_E_RECORD) return Step::Idle;
    const bool ofRecord = code == ZOLK2_MPTT_E_STATE;
    complain(ofRecord ? name_.managementPath : pathOf(use_), readerReason(code));
    return Step::Failed;
  }
  uint32_t limit = static_cast<uint32_t>(end);
  if (left) {
    // An end behind the follower: the writer is in this file again, behind it.
    limit = std::max(limit, offset_);
    knownEnd_ = std::max(knownEnd_, limit);
    endExact_ = true;
  } else {
    knownEnd_ = std::max(knownEnd_, writerOffset_);
  }
  const bool capped = options_.stopAtEnd && use_ == stopUse_;
  if (capped) limit = std::min(limit, stopOffset_);

  const Read read = readTo(limit, left);
  switch (read) {
    case Read::Resynced:
      return Step::Progress;
    case Read::Done:
      return Step::Done;
    case Read::Failed:
      return Step::Failed;
    default:
      break;
  }
  if (left && !capped && (offset_ >= limit || read == Read::Stuck)) {
    moveOn();
    return Step::Progress;
  }
  if (options_.stopAtEnd && pastStop()) return Step::Done;
  return read == Read::Printed ? Step::Progress : Step::Idle;
}

// Copies, checks and prints use_'s data from offset_ up to limit. Only
// whole lines are printed; at the end of a file the writer has left, what
// follows the last line end is printed as a line of its own, except the
// mark pair that may come before the end-of-data byte.
Read Follower::readTo(uint32_t limit, bool left) {
  bool printed = false;
  while (offset_ < limit) {
    if (*stops_ > 0) return Read::Done;
    const uint32_t want = std::min(capacity_, limit - offset_);
    char* const data = buffer_.data();
    uint32_t n = 0;
    if (ZOLK2_MpttSeek(trap_.get(), static_cast<int32_t>(offset_), ZOLK2_MPTT_SEEK_SET) == 0)
      n = ZOLK2_MpttRead(trap_.get(), data, want);
    if (n == 0) return printed ? Read::Printed : Read::Stuck;

    // The copy counts only if the writer had not come round over it when
    // it was taken: a look after the copy says where the writer is.
    switch (look()) {
      case Look::Ok:
        break;
      case Look::Busy:
        return printed ? Read::Printed : Read::Nothing;
      case Look::Failed:
        return Read::Failed;
    }
    if (!overtaken()) checkGuards();
    if (overtaken()) {
      resync();
      return Read::Resynced;
    }

    const bool lastPiece = left && offset_ + n >= limit;
    const void* const lf = ::memrchr(data, '\n', n);
    const uint32_t lines =
        lf == nullptr ? 0 : static_cast<uint32_t>(static_cast<const char*>(lf) - data) + 1;
    if (lines == 0 && !lastPiece) {
      if (n == capacity_ && capacity_ < kLongestLine) {
        capacity_ = std::min(capacity_ * 2, kLongestLine);
        buffer_.resize(capacity_ + 1);
        continue;
      }
      break;  // the rest of the line is still to come
    }
    const uint32_t consumed = lastPiece ? n : lines;
    keepGuard(data, consumed);
    size_t size = lines;
    if (lastPiece && lines < n && !isEndMarkPair(data + lines, n - lines)) {
      size = n;
      if (!options_.raw) data[size++] = '\n';
    }
    const OutputStatus status = output_.put(data, size);
    offset_ += consumed;
    printed = true;
    switch (status) {
      case OutputStatus::Ok:
        break;
      case OutputStatus::Closed:
      case OutputStatus::Stopped:
        return Read::Done;
      case OutputStatus::Failed:
        complain("standard output", std::strerror(output_.error()));
        return Read::Failed;
    }
  }
  return printed ? Read::Printed : Read::Nothing;
}

void Follower::keepGuard(const char* printed, size_t size) {
  if (size > 0) previousTrap_.reset();
  if (size >= kGuard) {
    guard_.assign(printed + size - kGuard, kGuard);
    return;
  }
  guard_.append(printed, size);
  if (guard_.size() > kGuard) guard_.erase(0, guard_.size() - kGuard);
}

// Whether the bytes of `use` before `end` are still those printed there,
// apart from those that a writer known to be in that file's next lap has
// overwritten. A writer known to be further on makes them no evidence.
bool Follower::guardHolds(ZOLK2_MptTrap_t* trap, const std::string& guard, uint32_t end,
                          int64_t use) {
  if (guard.empty() || writerUse_ > use + fileCount_) return true;
  uint32_t from = end - static_cast<uint32_t>(guard.size());
  if (writerUse_ == use + fileCount_) from = std::max(from, writerOffset_);
  if (from >= end) return true;
  const uint32_t length = end - from;
  char bytes[kGuard];
  if (ZOLK2_MpttSeek(trap, static_cast<int32_t>(from), ZOLK2_MPTT_SEEK_SET) != 0) return false;
  return ZOLK2_MpttRead(trap, bytes, length) == length &&
         std::memcmp(bytes, guard.data() + guard.size() - length, length) == 0;
}

// A guard that no longer holds shows a writer that came round over it
// unseen: it is a lap further on than counted.
void Follower::checkGuards() {
  int64_t overwritten = 0;
  if (!guard_.empty()) {
    if (guardHolds(trap_.get(), guard_, offset_, use_)) return;
    overwritten = use_;
  } else if (previousTrap_ != nullptr) {
    if (guardHolds(previousTrap_.get(), previousGuard_, previousEnd_, previousUse_)) return;
    overwritten = previousUse_;
  } else {
    return;
  }
  while (writerUse_ < overwritten + fileCount_) writerUse_ += fileCount_;
}

// The writer has overwritten data not yet printed: says how much is lost,
// as far as is known, and goes on at the start of the oldest file still
// intact, the one the writer will enter next.
void Follower::resync() {
  const int64_t target = writerUse_ - fileCount_ + 1;
  uint64_t lost = 0;
  uint32_t end = knownEnd_;
  if (auto it = seenLength_.find(use_); it != seenLength_.end()) end = std::max(end, it->second);
  if (end > offset_) lost += end - offset_;
  for (auto it = seenLength_.upper_bound(use_); it != seenLength_.end() && it->first < target; ++it)
    lost += it->second;
  const bool exact = endExact_ && target == use_ + 1;
  const std::string file = pathOf(use_);
  if (exact) {
    std::fprintf(stderr, "zolk2tail: %llu bytes lost: the writer overtook the reader in %s\n",
                 static_cast<unsigned long long>(lost), file.c_str());
  } else if (lost > 0) {
    std::fprintf(stderr,
                 "zolk2tail: at least %llu bytes lost: the writer overtook the reader in %s\n",
                 static_cast<unsigned long long>(lost), file.c_str());
  } else {
    std::fprintf(
        stderr,
        "zolk2tail: an unknown number of bytes lost: the writer overtook the reader in %s\n",
        file.c_str());
  }
  previousTrap_.reset();
  moveTo(target);
}

// On to the next use, keeping the guard of this one while it is the last
// evidence of what was printed.
void Follower::moveOn() {
  if (!guard_.empty()) {
    previousTrap_ = std::move(trap_);
    previousGuard_ = guard_;
    previousEnd_ = offset_;
    previousUse_ = use_;
  }
  moveTo(use_ + 1);
}

void Follower::moveTo(int64_t use) {
  trap_.reset();
  seenLength_.erase(seenLength_.begin(), seenLength_.lower_bound(use));
  use_ = use;
  offset_ = 0;
  guard_.clear();
  knownEnd_ = 0;
  endExact_ = false;
}

// Offset of the first of the last `count` lines of [0, end), read backwards
// in chunks.
uint32_t Follower::lastLinesStart(uint32_t end, uint64_t count) {
  if (count == 0) return end;
  std::vector<char> chunk(kTailChunk);
  uint64_t seen = 0;
  for (uint32_t to = end; to > 0;) {
    const uint32_t from = to > kTailChunk ? to - kTailChunk : 0;
    if (ZOLK2_MpttSeek(trap_.get(), static_cast<int32_t>(from), ZOLK2_MPTT_SEEK_SET) != 0 ||
        ZOLK2_MpttRead(trap_.get(), chunk.data(), to - from) != to - from)
      return to;
    for (uint32_t i = to - from; i-- > 0;) {
      // The line end of the last line does not start a line.
      if (chunk[i] == '\n' && from + i + 1 != end && ++seen == count) return from + i + 1;
    }
    to = from;
  }
  return 0;
}

bool Follower::startAtLastLines() {
  switch (openTrap()) {
    case Open::Ok:
      break;
    case Open::Missing:
      complain(pathOf(use_), std::strerror(ENOENT));
      return false;
    case Open::Failed:
      return false;
  }
  while (ZOLK2_MpttGetCurrentOffset(trap_.get()) < 0) {
    const int code = ZOLK2_MpttGetLastError(trap_.get());
    if (code != ZOLK2_MPTT_E_LOCK && code != ZOLK2_MPTT_E_RECORD) {
      complain(pathOf(use_), readerReason(code));
      return false;
    }
    if (*stops_ > 0) return true;
    pause();
  }
  offset_ = lastLinesStart(writerOffset_, options_.lines);
  knownEnd_ = writerOffset_;
  // The guard: the bytes before the first line printed, as if printed.
  const uint32_t length = std::min<uint32_t>(offset_, kGuard);
  guard_.resize(length);
  if (length > 0 && (ZOLK2_MpttSeek(trap_.get(), static_cast<int32_t>(offset_ - length),
                                    ZOLK2_MPTT_SEEK_SET) != 0 ||
                     ZOLK2_MpttRead(trap_.get(), guard_.data(), length) != length))
    guard_.clear();
  return true;
}

void Follower::pause() const {
  struct timespec t = {static_cast<time_t>(options_.intervalMs / 1000),
                       static_cast<long>(options_.intervalMs % 1000) * 1000000L};
  // A stop signal cuts the pause short; the caller looks at it next.
  ::nanosleep(&t, nullptr);
}

int Follower::run() {
  if (const int e = management_.open(name_.managementPath); e != 0) {
    complain(name_.managementPath, std::strerror(e));
    return 2;
  }
  management_info_t first;
  for (;;) {
    if (*stops_ > 0) return 0;
    int error = 0;
    const RecordStatus status = management_.snapshot(&first, &error);
    if (status == RecordStatus::Ok) break;
    if (status == RecordStatus::Invalid) {
      complain(name_.managementPath, "invalid management record");
      return 2;
    }
    if (status == RecordStatus::Failed) {
      complain(name_.managementPath, std::strerror(error));
      return 2;
    }
    // No record yet: the writer has not started. There is nothing to print
    // so far, and nothing to stop at.
    if (status == RecordStatus::NoRecordYet && options_.stopAtEnd) return 0;
    pause();
  }
  fileCount_ = first.fileCount;
  if (name_.number > fileCount_) {
    complain(traceFile_, "file number " + std::to_string(name_.number) + " is outside the set of " +
                             std::to_string(fileCount_) + " files");
    return 2;
  }
  originFile_ = writerFile_ = first.writeFileNumber;
  writerOffset_ = stopOffset_ = first.writeOffset;
  buffer_.resize(capacity_ + 1);
  if (options_.fromStart) {
    use_ = -((originFile_ - name_.number + fileCount_) % fileCount_);
  } else if (!startAtLastLines()) {
    return 2;
  }
  for (;;) {
    if (*stops_ > 0) return 0;
    switch (step()) {
      case Step::Progress:
        break;
      case Step::Idle:
        pause();
        break;
      case Step::Done:
        return 0;
      case Step::Failed:
        return 2;
    }
  }
}

}  // namespace

int follow(const std::string& traceFile, const FollowOptions& options,
           const volatile sig_atomic_t* stops) {
  SetName name;
  if (!parseSetName(traceFile, &name)) {
    complain(traceFile, "not the name of a file of a trace set (DIR/PREFIXn.log, n from 1 to 64)");
    return 2;
  }
  return Follower(name, traceFile, options, stops).run();
}

const char* fileBeingRead() { return ms_fileBeingRead; }

}  // namespace zolktail
