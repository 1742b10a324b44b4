#include "Follower.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "Cursor.h"
#include "Output.h"
#include "TraceSet.h"
#include "ZolkTrapPtr.h"
#include "ZolkUniqueFd.h"
#include "zolk2trap.h"

namespace zolktail {
namespace {

constexpr uint32_t kBlock = 512u << 10;  // copied, checked and written at a time
constexpr uint32_t kLongestLine = ZOLK2_MPTT_MAX_FILE_SIZE;  // no line outgrows its file
constexpr uint32_t kTailChunk = 64 * 1024;                   // read backwards for -n
constexpr size_t kGuard = kFingerprintBytes;
constexpr int kLockAttempts = 1000;

constexpr char kOvertaken[] = "the writer overtook the reader";
constexpr char kStartedAgain[] = "the writer started the set again";
constexpr char kReplaced[] = "the file was replaced";
constexpr char kRemoved[] = "the set was removed";

char ms_fileBeingRead[4096];

using Trap = zolkinternal::TrapPtr;
using zolkinternal::UniqueFd;

// A report goes out whole, in one write(2) where it can, also when a stop
// signal interrupts a write to a full pipe: a reader of the output must
// never see half a report.
void report(const std::string& line) {
  for (size_t done = 0; done < line.size();) {
    const ssize_t n = ::write(2, line.data() + done, line.size() - done);
    if (n < 0 && errno != EINTR) return;
    if (n > 0) done += static_cast<size_t>(n);
  }
}

void complain(const std::string& file, const std::string& reason) {
  report("zolk2tail: " + file + ": " + reason + "\n");
}

// "zolk2tail: N bytes lost: CAUSE in FILE", or "at least N" when more may
// have been lost than is known, or "an unknown number of" when nothing is.
void reportLoss(uint64_t bytes, bool exact, const char* cause, const std::string& file) {
  const std::string count = bytes == 0 && !exact ? "an unknown number of"
                                                 : (exact ? "" : "at least ") + std::to_string(bytes);
  report("zolk2tail: " + count + " bytes lost: " + cause + " in " + file + "\n");
}

// The texts leave as pointers, not as std::string built in place: GCC copies
// an inlined literal in overlapping 16-byte pieces, and the pieces read out of
// the binary as misspelt words ("ment" of "...management file locked").
const char* readerReasonText(int code) {
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
      return nullptr;
  }
}

std::string readerReason(int code) {
  const char* text = readerReasonText(code);
  return text != nullptr ? std::string(text) : "reader error " + std::to_string(code);
}

bool isMarkPair(char a, char b) {
  return (a == '\xFE' && b == '\xFF') || (a == '\xFF' && b == '\xFE');
}

// A stop signal cuts the pause short; the caller looks at it next.
void sleepMilliseconds(unsigned ms) {
  struct timespec t = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  ::nanosleep(&t, nullptr);
}

// Reads up to size bytes at offset; the count read, or -1 with errno.
ssize_t readAt(int fd, char* data, size_t size, uint64_t offset) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

// Where the written data ends in a copy that starts at a line start: at the
// end-of-data byte 0x1A the writer puts after its last line (the mark pair
// before it included), or at a NUL byte starting a line, which no writer
// writes: there the file holds what it held before the writer came (the
// zeros of a pre-extended file, say).
struct DataEnd {
  enum Kind { None, Mark, Nul } kind = None;
  size_t at = 0;
};

// data[size] must be a NUL: one pass of strchrnul() finds both bytes.
DataEnd findDataEnd(const char* data, size_t size) {
  auto lineStart = [&](size_t i) { return i == 0 || data[i - 1] == '\n'; };
  for (size_t i = 0;; ++i) {
    i = static_cast<size_t>(::strchrnul(data + i, ZOLK2_MPTT_END_OF_DATA) - data);
    if (i >= size) return {};
    if (lineStart(i)) return {data[i] == '\0' ? DataEnd::Nul : DataEnd::Mark, i};
    if (data[i] != '\0' && i >= 2 && isMarkPair(data[i - 2], data[i - 1]) && lineStart(i - 2))
      return {DataEnd::Mark, i - 2};
  }
}

enum class Step { Progress, Idle, Done, Failed, SetGone };
enum class Look { Ok, Busy, Invalid, Failed, OtherSize };
enum class Open { Ok, Missing, Failed };
enum class Read { Printed, Nothing, Again, EndOfData, Unended, Emptied, Done, Failed };
// What the bytes already printed say about the writer.
enum class Evidence { Intact, Lapped, Emptied, Replaced };

// The buffer the data is copied into, its pages allocated in one go: a
// megabyte of pages each faulted in on first touch costs, on a virtual
// machine, a good part of what copying a set of trace files costs.
class CopyBuffer final {
 public:
  CopyBuffer() = default;
  ~CopyBuffer() { release(); }
  CopyBuffer(const CopyBuffer&) = delete;
  CopyBuffer& operator=(const CopyBuffer&) = delete;
  // Contents are not kept. False when out of memory.
  bool resize(size_t size) {
    release();
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED) return false;
    data_ = static_cast<char*>(p);
    size_ = size;
    return true;
  }
  char* data() const { return data_; }

 private:
  void release() {
    if (data_ != nullptr) ::munmap(data_, size_);
    data_ = nullptr;
  }
  char* data_ = nullptr;
  size_t size_ = 0;
};

// The trace file being read: the follower's own descriptor, which the data
// is copied from, and a reader instance, which says where the writer's
// data ends while it writes the file.
struct Reading {
  UniqueFd fd;
  FileIdentity identity;
  Trap trap;
  void reset() {
    trap.reset();
    fd.reset();
  }
};

// Where a run of the follower starts.
enum class Start {
  AsOptions,   // -a, -n or the cursor file
  OldestData,  // the oldest data of a set created again
  FileOne,     // file 1 of the writer's present round: a writer that started again
};

// The writer enters its files one after the other; each entry is a "use"
// of a file, numbered from the one the writer was in at the first look
// (use 0), so that the follower can tell a file's data of one lap from
// that of the next. The writer's use is counted from the record's file
// number and offset at each look, as the least advance that explains the
// change. A writer that goes once or more round the whole set between two
// looks is not seen doing so by the record: the bytes just before the
// follower's position (the guard) are compared with what it printed at
// every look and after every copy it prints, and such a lap overwrites
// them. A writer that starts the set again empties its files: the guard
// turns to zeros or lies beyond the end of the file, or the file the writer
// leaves has no end-of-data byte.
//
// Invariants: offset_ lies at a line start of use_ and everything before
// it has been printed; guard_ holds the last bytes printed, up to kGuard;
// reading_ is closed or open on the file of use_.
class Follower final {
 public:
  Follower(const SetName& name, const std::string& traceFile, const FollowOptions& options,
           const volatile sig_atomic_t* stops, Start start)
      : name_(name),
        traceFile_(traceFile),
        options_(options),
        stops_(stops),
        start_(start),
        output_(1, options.raw, stops) {}

  // The exit status, or -1 when the set went away or its writer started
  // it again with another size; next() then says where to start anew.
  int run();
  Start next() const { return next_; }

 private:
  Look look(bool ofSet = true);
  void track(uint32_t fileNumber, uint32_t offset);
  // The writer is in use_'s file again, a lap on, past the follower's
  // position: the data of use_ from there on is no longer what it was.
  // Behind the writer the data is intact, and read from the follower's
  // own descriptor however the writer stands.
  bool overtaken() const {
    if (writerUse_ != use_ + fileCount_) return writerUse_ > use_ + fileCount_;
    return writerOffset_ > offset_;
  }
  bool pastStop() const { return use_ > stopUse_ || (use_ == stopUse_ && offset_ >= stopOffset_); }
  int64_t fileOf(int64_t use) const {
    return ((originFile_ - 1 + use) % fileCount_ + fileCount_) % fileCount_ + 1;
  }
  std::string pathOf(int64_t use) const { return name_.tracePath(fileOf(use)); }

  bool start();
  bool resume(const Cursor& cursor);
  Step step();
  Open openFile();
  Read readTo(uint32_t limit, bool left, bool capped);
  Read verifyCopy();
  bool print(char* data, size_t consumed, size_t size);
  bool startAtLastLines();
  uint32_t lastLinesStart(uint32_t end, uint64_t count);
  void keepGuard(const char* printed, size_t size);
  void takeHead(int fd);
  Evidence examine();
  Evidence writerHeadEvidence();
  Evidence guardEvidence(int fd, const std::string& head, const std::string& guard, uint32_t end,
                         int64_t use);
  uint64_t knownUnprinted(bool writersUse) const;
  uint64_t unprintedBefore(int64_t upTo) const;
  void resync(const char* cause);
  void startedAgain(uint64_t alsoLost);
  void replaced();
  void moveOn();
  void moveTo(int64_t use);
  bool saveCursor();
  void pause() const;

  const SetName name_;
  const std::string traceFile_;
  const FollowOptions options_;
  const volatile sig_atomic_t* const stops_;
  const Start start_;
  ManagementFile management_;
  std::string setPath_;  // canonical path of the management file, for the cursor
  Output output_;
  CopyBuffer buffer_;  // one byte more than capacity_, for the LF after a last piece
  uint32_t capacity_ = kBlock;
  bool invalidReported_ = false;
  bool failed_ = false;  // a failure reported after which the run ends with 2
  Start next_ = Start::OldestData;
  uint32_t unfinished_ = 0;  // bytes of a line a writer never finished
  bool gone_ = false;
  bool restarting_ = false;  // at the start of a new run, nothing of it printed yet  // the management file's name no longer leads to the set followed

  // The writer.
  int64_t fileCount_ = 0;
  int64_t originFile_ = 0;  // the file of use 0
  int64_t writerUse_ = 0;
  uint32_t writerFile_ = 0;
  uint32_t writerOffset_ = 0;
  std::map<int64_t, uint32_t> seenLength_;  // furthest the writer was seen in uses it left
  // The file the writer was seen writing in each use: a writer that
  // replaces its files instead of overwriting them leaves no overwritten
  // bytes to show a lap, but a file that is not the one of its use. The
  // file is held open, so that its inode number cannot be given to the
  // file that replaces it. Its first bytes, as far as the writer was seen
  // to have written them, show a writer that came into the file again or
  // emptied it before the follower came to read it.
  struct Held {
    UniqueFd fd;
    FileIdentity identity;
    std::string head;
  };
  std::map<int64_t, Held> writerIdentity_;

  // Where -x stops: the writer's position at the first look.
  int64_t stopUse_ = 0;
  uint32_t stopOffset_ = 0;

  // The follower.
  int64_t use_ = 0;
  uint32_t offset_ = 0;
  Reading reading_;
  std::string guard_;
  std::string head_;  // the first bytes of use_'s file, up to kGuard, as printed or read
  uint32_t knownEnd_ = 0;  // the furthest end of use_'s data known
  bool endExact_ = false;  // knownEnd_ is the end the writer left use_ with

  // Until the first bytes of use_ are printed, the guard at the end of the
  // use printed before stands in for guard_: a writer that goes round the
  // set unseen overwrites that file on its way back to this one.
  UniqueFd previousFd_;
  std::string previousGuard_;
  std::string previousHead_;
  uint32_t previousEnd_ = 0;
  int64_t previousUse_ = 0;
};

// The set's own name is looked at too, unless only the copy just taken is
// to be judged: that needs the record, which the descriptor held gives.
Look Follower::look(bool ofSet) {
  if (ofSet && !gone_) {
    FileIdentity now;
    int error = 0;
    if (!FileIdentity::of(name_.managementPath, &now, &error)) {
      gone_ = error == ENOENT;
    } else {
      gone_ = now != management_.identity();
    }
  }
  management_info_t record;
  int error = 0;
  switch (management_.snapshot(&record, &error)) {
    case RecordStatus::Ok:
      break;
    case RecordStatus::NoRecordYet:  // cannot happen once there was one; try again
    case RecordStatus::Busy:
      return Look::Busy;
    case RecordStatus::Invalid:
      if (!invalidReported_) complain(name_.managementPath, "invalid management record");
      invalidReported_ = true;
      return Look::Invalid;
    case RecordStatus::Failed:
      complain(name_.managementPath, std::strerror(error));
      return Look::Failed;
  }
  invalidReported_ = false;
  if (record.fileCount != fileCount_) return Look::OtherSize;
  track(record.writeFileNumber, record.writeOffset);
  if (!gone_ && writerIdentity_.count(writerUse_) == 0) {
    UniqueFd fd(::open(name_.tracePath(writerFile_).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (fd.get() >= 0 && ::fstat(fd.get(), &st) == 0) {
      Held& held = writerIdentity_[writerUse_];
      held.fd.reset(fd.release());
      held.identity = {st.st_dev, st.st_ino};
    }
  }
  if (auto it = writerIdentity_.find(writerUse_); it != writerIdentity_.end()) {
    Held& held = it->second;
    const size_t written = std::min<size_t>(kGuard, writerOffset_);
    std::string head(written, '\0');
    // Only a head that still begins as seen before grows: one that does
    // not is the evidence kept.
    if (held.head.size() < written &&
        readAt(held.fd.get(), head.data(), written, 0) == static_cast<ssize_t>(written) &&
        head.compare(0, held.head.size(), held.head) == 0)
      held.head = std::move(head);
  }
  return Look::Ok;
}

void Follower::track(uint32_t fileNumber, uint32_t offset) {
  // Waiting at the start of a new run, the record may still show the old
  // one for a while: whatever it shows, the writer is in this round.
  if (restarting_) {
    writerUse_ = use_ + (fileNumber + fileCount_ - fileOf(use_)) % fileCount_;
    writerFile_ = fileNumber;
    writerOffset_ = offset;
    return;
  }
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

Open Follower::openFile() {
  const std::string path = pathOf(use_);
  std::snprintf(ms_fileBeingRead, sizeof ms_fileBeingRead, "%s", path.c_str());
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return Open::Missing;
    complain(path, std::strerror(errno));
    return Open::Failed;
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) {
    complain(path, std::strerror(errno));
    return Open::Failed;
  }
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
  reading_.fd.reset(fd.release());
  reading_.identity = {st.st_dev, st.st_ino};
  reading_.trap = std::move(trap);
  // Another file than the writer wrote in this use: it came round and
  // replaced it since.
  if (auto it = writerIdentity_.find(use_);
      it != writerIdentity_.end() && it->second.identity != reading_.identity)
    while (writerUse_ < use_ + fileCount_) writerUse_ += fileCount_;
  return Open::Ok;
}

// One look at the writer and as much reading as it allows.
Step Follower::step() {
  switch (look()) {
    case Look::Ok:
      break;
    case Look::Busy:
      return Step::Idle;
    case Look::Invalid:
      return options_.stopAtEnd ? Step::Failed : Step::Idle;
    case Look::Failed:
      return Step::Failed;
    case Look::OtherSize:
      complain(name_.managementPath, kStartedAgain);
      if (const uint64_t lost = knownUnprinted(true); lost > 0)
        reportLoss(lost, false, kStartedAgain, pathOf(use_));
      next_ = Start::FileOne;
      return Step::SetGone;
  }
  if (overtaken()) {
    resync(kOvertaken);
    return Step::Progress;
  }
  if (options_.stopAtEnd && pastStop()) return Step::Done;
  if (reading_.fd.get() < 0) {
    // The names of a set that went away lead elsewhere, if anywhere.
    if (gone_) return Step::SetGone;
    switch (openFile()) {
      case Open::Ok:
        if (writerHeadEvidence() == Evidence::Emptied) {
          startedAgain(0);
          return Step::Progress;
        }
        if (overtaken()) {
          resync(kOvertaken);
          return Step::Progress;
        }
        break;
      case Open::Missing:
        // In the first round of a run (a new set, or one started again) the
        // writer has not come to the files after its own yet.
        if (use_ < writerUse_ && fileOf(use_) > writerFile_) {
          moveTo(use_ + 1);
          return Step::Progress;
        }
        {
          FileIdentity id;
          int error = 0;
          if (!FileIdentity::of(name_.managementPath, &id, &error)) {
            gone_ = true;
            return Step::SetGone;
          }
        }
        complain(pathOf(use_), std::strerror(ENOENT));
        return Step::Failed;
      case Open::Failed:
        return Step::Failed;
    }
  }
  switch (examine()) {
    case Evidence::Intact:
      break;
    case Evidence::Lapped:
      if (overtaken()) resync(kOvertaken);
      return Step::Progress;
    case Evidence::Emptied:
      startedAgain(0);
      return Step::Progress;
    case Evidence::Replaced:
      replaced();
      return Step::Progress;
  }

  // The writer had left use_ before the end is looked for, so the end
  // found is the one it left the file with.
  const bool left = writerUse_ > use_;
  uint32_t limit;
  if (left) {
    struct stat st;
    if (::fstat(reading_.fd.get(), &st) != 0) {
      complain(pathOf(use_), std::strerror(errno));
      return Step::Failed;
    }
    limit = static_cast<uint32_t>(std::min<off_t>(st.st_size, ZOLK2_MPTT_MAX_FILE_SIZE));
    // Left without its end-of-data byte: the writer stopped there.
    if (limit <= offset_ && !(options_.stopAtEnd && pastStop())) {
      if (offset_ == 0 && use_ == writerUse_ - (writerFile_ - 1)) return Step::Idle;
      startedAgain(0);
      return Step::Progress;
    }
  } else {
    const int end = ZOLK2_MpttGetCurrentOffset(reading_.trap.get());
    if (end < 0) {
      const int code = ZOLK2_MpttGetLastError(reading_.trap.get());
      ZOLK2_MpttClearError(reading_.trap.get());
      // A record the reader refuses may be one a writer is just rewriting;
      // the next look of our own tells whether it is really invalid.
      if (code == ZOLK2_MPTT_E_LOCK || code == ZOLK2_MPTT_E_RECORD) return Step::Idle;
      const bool ofRecord = code == ZOLK2_MPTT_E_STATE;
      complain(ofRecord ? name_.managementPath : pathOf(use_), readerReason(code));
      return Step::Failed;
    }
    limit = static_cast<uint32_t>(end);
    knownEnd_ = std::max(knownEnd_, writerOffset_);
  }
  const bool capped = options_.stopAtEnd && use_ == stopUse_;
  if (capped) limit = std::min(limit, stopOffset_);

  const Read read = readTo(limit, left, capped);
  switch (read) {
    case Read::Printed:
      break;
    case Read::Nothing:
      if (gone_) return Step::SetGone;
      return Step::Idle;
    case Read::Again:
      return Step::Progress;
    case Read::EndOfData:
      if (capped) return Step::Done;
      moveOn();
      return Step::Progress;
    case Read::Unended:
    case Read::Emptied:
      // Nothing printed where the new run starts: wait for its data.
      if (offset_ == 0 && use_ == writerUse_ - (writerFile_ - 1)) return Step::Idle;
      startedAgain(unfinished_);
      unfinished_ = 0;
      return Step::Progress;
    case Read::Done:
      return Step::Done;
    case Read::Failed:
      return Step::Failed;
  }
  if (options_.stopAtEnd && pastStop()) return Step::Done;
  return Step::Progress;
}

// Whether the copy just taken counts: a look after it says whether the
// writer had come round over it, and the guard whether unseen laps or a
// new start had. Again when it does not.
Read Follower::verifyCopy() {
  switch (look(false)) {
    case Look::Ok:
      break;
    case Look::Failed:
      return Read::Failed;
    default:
      return Read::Again;
  }
  if (!overtaken() && examine() != Evidence::Intact) return Read::Again;
  if (overtaken()) {
    resync(kOvertaken);
    return Read::Again;
  }
  return Read::Printed;
}

// Copies, checks and prints use_'s data from offset_ up to limit. Only
// whole lines are printed; at the end of a file the writer has left, what
// follows the last line end is printed as a line of its own, except the
// mark pair before the end-of-data byte. A file the writer left without
// that byte (a writer that stopped and started the set again) ends in
// Unended; zeros where the writer's data should be in Emptied.
Read Follower::readTo(uint32_t limit, bool left, bool capped) {
  bool printed = false;
  const auto sofar = [&] { return printed ? Read::Printed : Read::Nothing; };
  while (offset_ < limit) {
    if (*stops_ > 0) return Read::Done;
    const uint32_t want = std::min(capacity_, limit - offset_);
    char* const data = buffer_.data();
    const ssize_t got = readAt(reading_.fd.get(), data, want, offset_);
    if (got < 0) {
      complain(pathOf(use_), std::strerror(errno));
      return Read::Failed;
    }
    const uint32_t n = static_cast<uint32_t>(got);
    if (const Read r = verifyCopy(); r != Read::Printed) return r == Read::Again && printed ? Read::Printed : r;

    // In a file being written the data ends where the record says; zeros
    // there (a writer that emptied the file) hold no line end, and so are
    // never printed. A file the writer left ends where its data says.
    DataEnd end;
    if (left) {
      data[n] = '\0';
      end = findDataEnd(data, n);
    }
    if (!left && n < want) return Read::Emptied;
    const bool ends = left && (end.kind != DataEnd::None || n < want || offset_ + n >= limit);
    const uint32_t usable = left && end.kind != DataEnd::None ? static_cast<uint32_t>(end.at) : n;
    const void* const lf = ::memrchr(data, '\n', usable);
    const uint32_t lines =
        lf == nullptr ? 0 : static_cast<uint32_t>(static_cast<const char*>(lf) - data) + 1;

    if (ends && !capped) {
      const bool marked = end.kind == DataEnd::Mark;
      // Without the end-of-data byte a piece after the last line end is a
      // line the writer never finished.
      size_t size = marked ? usable : lines;
      if (size > lines && !options_.raw) data[size++] = '\n';
      if (size > 0 && !print(data, marked ? usable : lines, size)) return Read::Done;
      if (marked) {
        endExact_ = true;
        knownEnd_ = offset_;
        return Read::EndOfData;
      }
      unfinished_ = usable - lines;
      return Read::Unended;
    }
    if (lines == 0) {
      if (capped && offset_ + usable >= limit) return Read::Done;  // a line never finished at the stop
      if (n == capacity_ && capacity_ < kLongestLine) {
        capacity_ = std::min(capacity_ * 2, kLongestLine);
        if (!buffer_.resize(capacity_ + 1)) {
          complain("zolk2tail", std::strerror(ENOMEM));
          return Read::Failed;
        }
        continue;
      }
      return sofar();  // the rest of the line is still to come
    }
    if (!print(data, lines, lines)) return Read::Done;
    printed = true;
  }
  return sofar();
}

// Prints size bytes of the copy, of which the first `consumed` come from
// the trace at offset_, and moves on past them. False when the run is to
// end (stopped, output gone or failed; reported).
bool Follower::print(char* data, size_t consumed, size_t size) {
  keepGuard(data, consumed);
  const OutputStatus status = output_.put(data, size);
  offset_ += static_cast<uint32_t>(consumed);
  switch (status) {
    case OutputStatus::Ok:
      return saveCursor();
    case OutputStatus::Closed:
    case OutputStatus::Stopped:
      return false;
    case OutputStatus::Failed:
      complain("standard output", std::strerror(output_.error()));
      failed_ = true;
      return false;
  }
  return false;
}

void Follower::keepGuard(const char* printed, size_t size) {
  if (size > 0) restarting_ = false;
  if (head_.size() == offset_ && offset_ < kGuard)
    head_.append(printed, std::min<size_t>(size, kGuard - offset_));
  if (size > 0) previousFd_.reset();
  if (size >= kGuard) {
    guard_.assign(printed + size - kGuard, kGuard);
    return;
  }
  guard_.append(printed, size);
  if (guard_.size() > kGuard) guard_.erase(0, guard_.size() - kGuard);
}

// The file just opened against what the writer was seen writing in its
// use: other first bytes show that the writer came into it again (a lap)
// or started the set again, which leaves zeros after its position.
Evidence Follower::writerHeadEvidence() {
  const auto it = writerIdentity_.find(use_);
  if (it == writerIdentity_.end() || it->second.head.empty() || writerUse_ >= use_ + fileCount_)
    return Evidence::Intact;
  const std::string& head = it->second.head;
  char bytes[kGuard];
  if (readAt(reading_.fd.get(), bytes, head.size(), 0) == static_cast<ssize_t>(head.size()) &&
      std::memcmp(bytes, head.data(), head.size()) == 0)
    return Evidence::Intact;
  // A lap leaves the data of the round before after the writer's position;
  // a new start leaves zeros there, or nothing.
  if (const auto w = writerIdentity_.find(writerUse_); w != writerIdentity_.end()) {
    const ssize_t n = readAt(w->second.fd.get(), bytes, sizeof bytes, writerOffset_);
    bool zeros = n >= 0;
    for (ssize_t i = 0; i < n; ++i) zeros = zeros && bytes[i] == '\0';
    if (zeros) return Evidence::Emptied;
  }
  while (writerUse_ < use_ + fileCount_) writerUse_ += fileCount_;
  return Evidence::Lapped;
}

// The file being read and the bytes printed of it, or of the file before.
Evidence Follower::examine() {
  FileIdentity now;
  int error = 0;
  if (FileIdentity::of(pathOf(use_), &now, &error) && now != reading_.identity)
    return Evidence::Replaced;
  // A file shorter than what was printed of it: read short below.
  struct stat st;
  if (guard_.empty() && ::fstat(reading_.fd.get(), &st) == 0 &&
      static_cast<uint64_t>(st.st_size) < offset_)
    return Evidence::Emptied;
  if (!guard_.empty()) return guardEvidence(reading_.fd.get(), head_, guard_, offset_, use_);
  if (previousFd_.get() >= 0)
    return guardEvidence(previousFd_.get(), previousHead_, previousGuard_, previousEnd_,
                         previousUse_);
  return Evidence::Intact;
}

// Whether the bytes of `use` before `end` are still those printed there,
// apart from those that a writer known to be in that file's next lap has
// overwritten. Bytes overwritten by lines show a writer a lap further on
// than counted (raised here), zeros or a shorter file one that started
// again. A writer known to be further on makes them no evidence. The
// head, the first bytes of the file, shows a writer that came into the
// file again however little it wrote there.
Evidence Follower::guardEvidence(int fd, const std::string& head, const std::string& guard,
                                 uint32_t end, int64_t use) {
  bool lapped = false;
  if (!head.empty() && writerUse_ < use + fileCount_) {
    char bytes[kGuard];
    const size_t length = head.size();
    if (readAt(fd, bytes, length, 0) != static_cast<ssize_t>(length)) return Evidence::Emptied;
    if (std::memcmp(bytes, head.data(), length) != 0) {
      if (std::memchr(bytes, '\0', length) != nullptr) return Evidence::Emptied;
      while (writerUse_ < use + fileCount_) writerUse_ += fileCount_;
      lapped = true;
    }
  }
  for (;;) {
    if (guard.empty() || writerUse_ > use + fileCount_) break;
    uint32_t from = end - static_cast<uint32_t>(guard.size());
    if (writerUse_ == use + fileCount_) from = std::max(from, writerOffset_);
    if (from >= end) break;
    const uint32_t length = end - from;
    char bytes[kGuard];
    if (readAt(fd, bytes, length, from) != static_cast<ssize_t>(length)) return Evidence::Emptied;
    if (std::memcmp(bytes, guard.data() + guard.size() - length, length) == 0) break;
    if (std::memchr(bytes, '\0', length) != nullptr) return Evidence::Emptied;
    // Overwritten by a lap after the one the writer is counted in.
    while (writerUse_ < use + fileCount_) writerUse_ += fileCount_;
    if (lapped) writerUse_ += fileCount_;
    lapped = true;
  }
  return lapped ? Evidence::Lapped : Evidence::Intact;
}

// Bytes the writer was seen to write after the follower's position and
// that it has not printed: the rest of use_ and the uses after it, up to
// the writer's own if writersUse.
uint64_t Follower::knownUnprinted(bool writersUse) const {
  return unprintedBefore(writerUse_) + (writersUse && writerUse_ > use_ ? writerOffset_ : 0);
}

// The rest of use_ and the uses after it before `upTo`, as far as seen.
uint64_t Follower::unprintedBefore(int64_t upTo) const {
  uint64_t lost = 0;
  uint32_t end = knownEnd_;
  if (auto it = seenLength_.find(use_); it != seenLength_.end()) end = std::max(end, it->second);
  if (writerUse_ == use_) end = std::max(end, writerOffset_);
  if (end > offset_) lost += end - offset_;
  for (auto it = seenLength_.upper_bound(use_); it != seenLength_.end() && it->first < upTo; ++it)
    lost += it->second;
  return lost;
}

// The writer has overwritten data not yet printed: says how much is lost,
// as far as is known, and goes on at the start of the oldest file still
// intact, the one the writer will enter next (or the one it is in, while
// it has written nothing there).
void Follower::resync(const char* cause) {
  // A writer standing at the start of its file has overwritten nothing of
  // that file's previous use yet.
  const int64_t target = writerUse_ - fileCount_ + (writerOffset_ == 0 ? 0 : 1);
  const bool exact = endExact_ && target == use_ + 1;
  reportLoss(unprintedBefore(target), exact, cause, pathOf(use_));
  previousFd_.reset();
  moveTo(target);
}

// The writer started the set again: what it wrote before is lost as far as
// not printed, and its new run is followed from file 1.
void Follower::startedAgain(uint64_t alsoLost) {
  complain(name_.managementPath, kStartedAgain);
  const uint64_t lost = knownUnprinted(false) + alsoLost;
  if (lost > 0) reportLoss(lost, false, kStartedAgain, pathOf(use_));
  previousFd_.reset();
  seenLength_.clear();
  writerIdentity_.clear();
  moveTo(writerUse_ - (writerFile_ - 1));
  restarting_ = true;
}

// The name of the file being read leads to another file now. A copy that
// holds the bytes printed is followed on from the same place; otherwise
// the replacement is new data: with the writer a lap or more on, the
// oldest intact data is in the next file; with the writer in this file,
// the replacement is read from its start.
void Follower::replaced() {
  const std::string path = pathOf(use_);
  complain(path, kReplaced);
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (fd.get() >= 0 && ::fstat(fd.get(), &st) == 0 && static_cast<uint64_t>(st.st_size) >= offset_ &&
      guardEvidence(fd.get(), std::string(), guard_, offset_, use_) == Evidence::Intact) {
    reading_.fd.reset(fd.release());
    reading_.identity = {st.st_dev, st.st_ino};
    return;
  }
  if (writerUse_ > use_) {
    resync(kReplaced);
    return;
  }
  const uint64_t lost = knownUnprinted(false);
  if (lost > 0 || !endExact_) reportLoss(lost, false, kReplaced, path);
  previousFd_.reset();
  moveTo(use_);
}

// On to the next use, keeping the guard of this one while it is the last
// evidence of what was printed.
void Follower::moveOn() {
  if (!guard_.empty()) {
    previousFd_.reset(reading_.fd.release());
    previousGuard_ = guard_;
    previousHead_ = head_;
    previousEnd_ = offset_;
    previousUse_ = use_;
  }
  moveTo(use_ + 1);
}

void Follower::moveTo(int64_t use) {
  reading_.reset();
  seenLength_.erase(seenLength_.begin(), seenLength_.lower_bound(use));
  writerIdentity_.erase(writerIdentity_.begin(), writerIdentity_.lower_bound(use));
  restarting_ = false;
  use_ = use;
  offset_ = 0;
  guard_.clear();
  head_.clear();
  knownEnd_ = 0;
  endExact_ = false;
}

// Where the last line printed ends, after every write of the output, so
// that a follower killed at any moment repeats at most that write.
bool Follower::saveCursor() {
  if (options_.cursorFile.empty() || offset_ == 0) return true;
  Cursor cursor;
  cursor.set = setPath_;
  cursor.device = management_.identity().device;
  cursor.inode = management_.identity().inode;
  cursor.fileNumber = static_cast<uint32_t>(fileOf(use_));
  cursor.offset = offset_;
  cursor.fingerprintLength = static_cast<uint32_t>(guard_.size());
  cursor.fingerprint = Fingerprint(guard_.data(), guard_.size());
  if (const int e = zolktail::saveCursor(options_.cursorFile, cursor); e != 0) {
    complain(options_.cursorFile, std::strerror(e));
    failed_ = true;
    return false;
  }
  return true;
}

// Offset of the first of the last `count` lines of [0, end), read backwards
// in chunks.
uint32_t Follower::lastLinesStart(uint32_t end, uint64_t count) {
  if (count == 0) return end;
  std::vector<char> chunk(kTailChunk);
  uint64_t seen = 0;
  for (uint32_t to = end; to > 0;) {
    const uint32_t from = to > kTailChunk ? to - kTailChunk : 0;
    if (readAt(reading_.fd.get(), chunk.data(), to - from, from) != static_cast<ssize_t>(to - from))
      return to;
    for (uint32_t i = to - from; i-- > 0;) {
      // The line end of the last line does not start a line.
      if (chunk[i] == '\n' && from + i + 1 != end && ++seen == count) return from + i + 1;
    }
    to = from;
  }
  return 0;
}

// The head of a file the follower starts in at offset_, as if printed.
void Follower::takeHead(int fd) {
  head_.resize(std::min<uint32_t>(offset_, kGuard));
  if (readAt(fd, head_.data(), head_.size(), 0) != static_cast<ssize_t>(head_.size())) head_.clear();
}

bool Follower::startAtLastLines() {
  switch (openFile()) {
    case Open::Ok:
      break;
    case Open::Missing:
      complain(pathOf(use_), std::strerror(ENOENT));
      return false;
    case Open::Failed:
      return false;
  }
  offset_ = lastLinesStart(writerOffset_, options_.lines);
  knownEnd_ = writerOffset_;
  takeHead(reading_.fd.get());
  // The guard: the bytes before the first line printed, as if printed.
  const uint32_t length = std::min<uint32_t>(offset_, kGuard);
  guard_.resize(length);
  if (readAt(reading_.fd.get(), guard_.data(), length, offset_ - length) !=
      static_cast<ssize_t>(length))
    guard_.clear();
  return true;
}

// Continues after the last line printed by the run that saved the cursor,
// when the bytes before it are still those; otherwise says what was lost
// and starts where the data still intact starts.
bool Follower::resume(const Cursor& cursor) {
  const int64_t number = cursor.fileNumber;
  if (number > fileCount_) {
    complain(name_.managementPath, kStartedAgain);
    use_ = -(originFile_ - 1);
    return true;
  }
  // The cursor's file in the writer's present round, or in the round
  // before when the writer is behind the cursor in the same file.
  int64_t use = -((originFile_ - number + fileCount_) % fileCount_);
  if (use == 0 && cursor.offset > writerOffset_) use = -fileCount_;
  const std::string path = name_.tracePath(number);
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  std::string bytes(cursor.fingerprintLength, '\0');
  const ssize_t got = fd.get() < 0 ? -1
                                   : readAt(fd.get(), bytes.data(), bytes.size(),
                                            cursor.offset - cursor.fingerprintLength);
  if (got == static_cast<ssize_t>(bytes.size()) &&
      Fingerprint(bytes.data(), bytes.size()) == cursor.fingerprint) {
    use_ = use;
    offset_ = cursor.offset;
    guard_ = bytes;
    takeHead(fd.get());
    return true;
  }
  if (got < static_cast<ssize_t>(bytes.size()) || bytes.find('\0') != std::string::npos) {
    complain(name_.managementPath, kStartedAgain);
    reportLoss(0, false, kStartedAgain, path);
    use_ = -(originFile_ - 1);
  } else {
    reportLoss(0, false, kOvertaken, path);
    use_ = 1 - fileCount_;
  }
  return true;
}

bool Follower::start() {
  switch (start_) {
    case Start::OldestData:
      use_ = 1 - fileCount_;
      return true;
    case Start::FileOne:
      use_ = -(originFile_ - 1);
      return true;
    case Start::AsOptions:
      break;
  }
  if (!options_.cursorFile.empty()) {
    Cursor cursor;
    std::string problem;
    switch (loadCursor(options_.cursorFile, &cursor, &problem)) {
      case CursorLoad::Loaded:
        if (cursor.set != setPath_) {
          complain(options_.cursorFile, "the cursor belongs to another set: " + cursor.set);
          return false;
        }
        if (cursor.device != management_.identity().device ||
            cursor.inode != management_.identity().inode) {
          complain(name_.managementPath, "the set was created again");
          reportLoss(0, false, kRemoved, name_.tracePath(cursor.fileNumber));
          use_ = 1 - fileCount_;
          return true;
        }
        return resume(cursor);
      case CursorLoad::Missing:
        break;
      case CursorLoad::Failed:
        complain(options_.cursorFile, problem);
        return false;
    }
  }
  if (options_.fromStart) {
    use_ = -((originFile_ - name_.number + fileCount_) % fileCount_);
    return true;
  }
  return startAtLastLines();
}

void Follower::pause() const { sleepMilliseconds(options_.intervalMs); }

int Follower::run() {
  if (const int e = management_.open(name_.managementPath); e != 0) {
    complain(name_.managementPath, std::strerror(e));
    return 2;
  }
  char* canonical = ::realpath(name_.managementPath.c_str(), nullptr);
  setPath_ = canonical != nullptr ? canonical : name_.managementPath;
  std::free(canonical);
  management_info_t first;
  for (;;) {
    if (*stops_ > 0) return 0;
    int error = 0;
    const RecordStatus status = management_.snapshot(&first, &error);
    if (status == RecordStatus::Ok) break;
    if (status == RecordStatus::Invalid) {
      // Reported once; a writer may yet put a valid record in place.
      if (!invalidReported_) complain(name_.managementPath, "invalid management record");
      invalidReported_ = true;
      if (options_.stopAtEnd) return 2;
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
  invalidReported_ = false;
  fileCount_ = first.fileCount;
  if (start_ == Start::AsOptions && name_.number > fileCount_) {
    complain(traceFile_, "file number " + std::to_string(name_.number) + " is outside the set of " +
                             std::to_string(fileCount_) + " files");
    return 2;
  }
  originFile_ = writerFile_ = first.writeFileNumber;
  writerOffset_ = stopOffset_ = first.writeOffset;
  if (!buffer_.resize(capacity_ + 1)) {
    complain("zolk2tail", std::strerror(ENOMEM));
    return 2;
  }
  if (!start()) return 2;
  for (;;) {
    if (*stops_ > 0) return failed_ ? 2 : 0;
    switch (step()) {
      case Step::Progress:
        break;
      case Step::Idle:
        pause();
        break;
      case Step::Done:
        return failed_ ? 2 : 0;
      case Step::Failed:
        return 2;
      case Step::SetGone:
        if (next_ == Start::OldestData) {
          if (const uint64_t lost = knownUnprinted(true); lost > 0)
            reportLoss(lost, false, kRemoved, pathOf(use_));
        }
        return -1;
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
  Start start = Start::AsOptions;
  for (;;) {
    Follower follower(name, traceFile, options, stops, start);
    const int status = follower.run();
    if (status >= 0) return status;
    if (options.stopAtEnd) return 2;
    start = follower.next();
    if (start == Start::FileOne) continue;  // a new run of another size, already reported
    // The set went away or was created again: like tail -F, wait for it
    // and follow the new one from its start.
    FileIdentity id;
    int error = 0;
    if (!FileIdentity::of(name.managementPath, &id, &error)) {
      complain(name.managementPath, std::string(kRemoved) + "; waiting for it to be created again");
      while (!FileIdentity::of(name.managementPath, &id, &error)) {
        if (*stops > 0) return 0;
        sleepMilliseconds(options.intervalMs);
      }
    }
    complain(name.managementPath, "the set was created again");
  }
}

const char* fileBeingRead() { return ms_fileBeingRead; }

}  // namespace zolktail
