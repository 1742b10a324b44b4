// zolk_soak: the pieces of scripts/soak.sh.
//
//   zolk_soak gen SECONDS RATE GO COUNT   numbered lines on standard output at
//                                         RATE a second for SECONDS, once the
//                                         file GO exists; their number to COUNT
//   zolk_soak follow DIR PREFIX           follows the set DIR/PREFIXn.log with the
//                                         reader library, printing its lines
//   zolk_soak slow BYTES                  copies standard input to standard output
//                                         at BYTES a second
//   zolk_soak check LAST NAME=FILE...     counts per follower the lines printed,
//                                         the gaps, the lines lost with and
//                                         without a report, duplicated, torn
//                                         and late, and the reports by kind
//
// A line is "SEQUENCE CHECKSUM TEXT": ten digits, eight hexadecimal digits
// of the FNV-1a hash of the sequence and the text, and a text whose length
// and letters follow from the sequence. A follower reports a loss on a line
// of its own where it happens: "#lap ..." here, where the writer overtook
// it; from zolk2tail one of the few forms ReportKind() knows, and any other
// "zolk2tail:" line is a fault.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "ZolkTrapPtr.h"
#include "zolk2trap.h"

namespace {

volatile sig_atomic_t gs_stop = 0;

uint32_t Fnv1a(const std::string& bytes) {
  uint32_t h = 2166136261u;
  for (unsigned char c : bytes) h = (h ^ c) * 16777619u;
  return h;
}

std::string Text(uint64_t seq) {
  const uint32_t h = Fnv1a(std::to_string(seq));
  std::string text(h % 120, ' ');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + (h >> (i % 24)) % 26);
  return text;
}

std::string Line(uint64_t seq) {
  char head[32];
  const std::string text = Text(seq);
  std::snprintf(head, sizeof head, "%010" PRIu64, seq);
  char sum[16];
  std::snprintf(sum, sizeof sum, "%08x", Fnv1a(std::string(head) + text));
  return std::string(head) + " " + sum + " " + text;
}

void Sleep(double seconds) {
  struct timespec ts = {static_cast<time_t>(seconds),
                        static_cast<long>((seconds - static_cast<time_t>(seconds)) * 1e9)};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR && !gs_stop) {
  }
}

double Now() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

int Generate(double seconds, double rate, const char* go, const char* count) {
  struct stat st;
  while (::stat(go, &st) != 0) Sleep(0.01);
  const double start = Now();
  uint64_t seq = 0;
  while (Now() - start < seconds) {
    // Batches of a millisecond's lines keep the rate without a pause per line.
    const uint64_t due = static_cast<uint64_t>((Now() - start) * rate);
    std::string batch;
    while (seq < due) batch += Line(++seq) + "\n";
    if (!WriteAll(1, batch.data(), batch.size())) return 2;
    Sleep(0.001);
  }
  std::ofstream(count) << seq << "\n";
  return 0;
}

int Slow(double bytesPerSecond) {
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(0, buffer, sizeof buffer)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || !WriteAll(1, buffer, static_cast<size_t>(n))) return 2;
    Sleep(static_cast<double>(n) / bytesPerSecond);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// The follower on the reader library.

using Trap = zolkinternal::TrapPtr;

// Follows the set file by file behind the writer. The writer's entries
// into its files are counted as "uses" from the record, looked at before
// and after every copy; a copy counts only if the writer has not entered
// the file again meanwhile (it may since have gone round the whole set
// between two looks, which the bytes before the follower's position, the
// guard, show). Lines go out whole, CR LF turned into LF.
class Follower final {
 public:
  Follower(std::string dir, std::string prefix)
      : dir_(std::move(dir)), prefix_(std::move(prefix)) {}
  int Run();

 private:
  bool Look();
  bool Overtaken() const { return writerUse_ >= use_ + count_; }
  void Lapped(const char* how);
  bool Open();
  std::string Path(int64_t use) const {
    return dir_ + "/" + prefix_ +
           std::to_string(((first_ - 1 + use) % count_ + count_) % count_ + 1) + ".log";
  }

  const std::string dir_, prefix_;
  int recordFd_ = -1;
  int64_t count_ = 0, first_ = 0;  // files in the set; the writer's file at the first look
  int64_t writerUse_ = 0;
  uint32_t writerFile_ = 0, writerOffset_ = 0;
  int64_t use_ = 0;
  uint32_t offset_ = 0;
  std::string guard_;  // the last bytes delivered from use_, up to 64
  Trap trap_;
};

bool Follower::Look() {
  management_info_t r;
  if (::lockf(recordFd_, F_LOCK, 0) != 0) return false;
  const ssize_t n = ::pread(recordFd_, &r, sizeof r, 0);
  ::lockf(recordFd_, F_ULOCK, 0);
  if (n != sizeof r || r.fileCount == 0 || r.writeFileNumber < 1 || r.writeFileNumber > r.fileCount)
    return false;
  if (count_ == 0) {
    count_ = r.fileCount;
    first_ = r.writeFileNumber;
    writerFile_ = r.writeFileNumber;
    use_ = -static_cast<int64_t>((first_ - 1) % count_);  // file 1 of this lap
  }
  if (r.writeFileNumber != writerFile_ || r.writeOffset < writerOffset_) {
    writerUse_ += r.writeFileNumber == writerFile_
                      ? count_
                      : (r.writeFileNumber + count_ - writerFile_) % count_;
  }
  writerFile_ = r.writeFileNumber;
  writerOffset_ = r.writeOffset;
  return true;
}

void Follower::Lapped(const char* how) {
  char line[512];
  const int n =
      std::snprintf(line, sizeof line, "#lap: %s in %s at %u\n", how, Path(use_).c_str(), offset_);
  WriteAll(1, line, static_cast<size_t>(n));
  // On at the second oldest file, which the writer will not enter again
  // before it has left the one it is in and the next.
  use_ = std::min(writerUse_, writerUse_ - count_ + 2);
  offset_ = 0;
  guard_.clear();
  trap_.reset();
}

bool Follower::Open() {
  trap_.reset(ZOLK2_MpttCreateInstance(Path(use_).c_str()));
  if (trap_ != nullptr && ZOLK2_MpttOpenManagementFile(trap_.get()) == 0 &&
      ZOLK2_MpttOpen(trap_.get()) == 0)
    return true;
  trap_.reset();
  return false;
}

int Follower::Run() {
  recordFd_ = ::open((dir_ + "/mmap/" + prefix_ + ".mm").c_str(), O_RDWR | O_CLOEXEC);
  if (recordFd_ < 0 || !Look()) return 2;
  std::vector<char> data(ZOLK2_MPTT_MAX_FILE_SIZE);
  std::string out;
  while (!gs_stop) {
    if (!Look()) return 2;
    if (Overtaken()) {
      Lapped("the writer overtook the follower");
      continue;
    }
    if (trap_ == nullptr && !Open()) {
      Sleep(0.002);
      continue;
    }
    const bool left = use_ < writerUse_;  // looked at before the end is computed
    const int end = ZOLK2_MpttGetCurrentOffset(trap_.get());
    if (end < 0) {
      Sleep(0.002);
      continue;
    }
    uint32_t got = 0;
    if (static_cast<uint32_t>(end) > offset_ &&
        ZOLK2_MpttSeek(trap_.get(), static_cast<int32_t>(offset_), ZOLK2_MPTT_SEEK_SET) == 0)
      got = ZOLK2_MpttRead(trap_.get(), data.data(), static_cast<uint32_t>(end) - offset_);
    const char* const lf =
        got > 0 ? static_cast<const char*>(::memrchr(data.data(), '\n', got)) : nullptr;
    if (lf == nullptr) {
      if (left && got == 0) {  // the end of a file the writer has left
        ++use_;
        offset_ = 0;
        guard_.clear();
        trap_.reset();
      } else {
        Sleep(0.002);
      }
      continue;
    }
    // The copy counts if the writer has not come back into the file since.
    std::string before(guard_.size(), '\0');
    if (!guard_.empty()) {
      ZOLK2_MpttSeek(trap_.get(), static_cast<int32_t>(offset_ - guard_.size()),
                     ZOLK2_MPTT_SEEK_SET);
      before.resize(ZOLK2_MpttRead(trap_.get(), &before[0], static_cast<uint32_t>(guard_.size())));
    }
    if (!Look()) return 2;
    if (Overtaken() || before != guard_) {
      Lapped(Overtaken() ? "the writer overtook the follower" : "the writer went round unseen");
      continue;
    }
    const size_t whole = static_cast<size_t>(lf - data.data()) + 1;
    out.clear();
    for (size_t i = 0; i < whole; ++i) {
      if (!(data[i] == '\r' && i + 1 < whole && data[i + 1] == '\n')) out += data[i];
    }
    guard_.assign(data.data() + whole - std::min<size_t>(whole, 64), std::min<size_t>(whole, 64));
    offset_ += static_cast<uint32_t>(whole);
    // Written a piece at a time with a look between, so that a slow reader
    // of the output does not hide the writer's laps from the counting.
    for (size_t at = 0; at < out.size(); at += 16384) {
      if (!WriteAll(1, out.data() + at, std::min<size_t>(16384, out.size() - at))) return 2;
      if (!Look()) return 2;
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------
// The check.

// What a follower may say about its losses, on a line of its own. A gap in
// the sequence is accepted only with at least one of these between the line
// before it and the line after it.
enum Kind { kLap, kOvertook, kLostRestart, kLostReplaced, kLostRemoved, kRestarted, kReplaced,
            kRemoved, kCreated, kKinds, kUnknown = kKinds, kNotReport };
const char* const kKindNames[kKinds] = {"#lap", "lost:overtook", "lost:restart",
                                        "lost:replaced", "lost:removed", "restarted",
                                        "replaced", "removed", "created"};

Kind ReportKind(const std::string& line) {
  if (line.rfind("#lap", 0) == 0) return kLap;
  static const char kHead[] = "zolk2tail: ";
  if (line.rfind(kHead, 0) != 0) return kNotReport;
  static const std::string kFile = R"((?:.*/)?[^/]*[0-9]+\.log)",
                           kMm = R"((?:.*/)?mmap/[^/]+\.mm)";
  static const std::regex kLost(R"((?:[0-9]+|at least [0-9]+|an unknown number of) bytes lost: )"
                                R"((the writer overtook the reader|the writer started the set again|)"
                                R"(the file was replaced|the set was removed) in )" + kFile);
  static const std::pair<std::regex, Kind> kNotices[] = {
      {std::regex(kMm + ": the writer started the set again"), kRestarted},
      {std::regex(kFile + ": the file was replaced"), kReplaced},
      {std::regex(kMm + ": the set was removed; waiting for it to be created again"), kRemoved},
      {std::regex(kMm + ": the set was created again"), kCreated},
  };
  const std::string rest = line.substr(sizeof kHead - 1);
  std::smatch m;
  if (std::regex_match(rest, m, kLost)) {
    const std::string cause = m[1];
    return cause == "the writer overtook the reader"     ? kOvertook
           : cause == "the writer started the set again" ? kLostRestart
           : cause == "the file was replaced"            ? kLostReplaced
                                                         : kLostRemoved;
  }
  for (const auto& notice : kNotices) {
    if (std::regex_match(rest, notice.first)) return notice.second;
  }
  return kUnknown;
}

struct Counts {
  uint64_t lines = 0, gaps = 0, reported = 0, lost = 0, duplicated = 0, torn = 0, late = 0,
           unknown = 0;
  uint64_t reports[kKinds] = {};
};

// The sequence of a line that is whole, or 0.
uint64_t SequenceOf(const std::string& line) {
  if (line.size() < 20 || line[10] != ' ' || line[19] != ' ') return 0;
  const uint64_t seq = std::strtoull(line.substr(0, 10).c_str(), nullptr, 10);
  return seq > 0 && line == Line(seq) ? seq : 0;
}

// Counts the lines of one follower's output; the first few faults are
// described on standard error, with the lines around them.
Counts Check(const char* name, const char* path, uint64_t last) {
  Counts c;
  std::vector<bool> seen(last + 2, false);
  uint64_t next = 1;
  bool reported = false;  // since the last line in sequence
  std::ifstream in(path, std::ios::binary);
  std::string line, previous;
  int described = 0;
  auto describe = [&](const std::string& what) {
    if (described++ < 5)
      std::fprintf(stderr, "%s: %s\n  after: %s\n  line:  %s\n", name, what.c_str(),
                   previous.substr(0, 120).c_str(), line.substr(0, 120).c_str());
  };
  auto gap = [&](uint64_t missing) {
    if (!reported) describe(std::to_string(missing) + " lines lost, no loss reported");
    ++c.gaps;
    (reported ? c.reported : c.lost) += missing;
  };
  for (; std::getline(in, line); previous = line) {
    const Kind kind = ReportKind(line);
    if (kind == kUnknown) {
      describe("not a report zolk2tail may print");
      ++c.unknown;
      continue;
    }
    if (kind != kNotReport) {
      ++c.reports[kind];
      reported = true;
      continue;
    }
    const uint64_t seq = SequenceOf(line);
    if (seq == 0 || seq > last) {
      describe("torn");
      ++c.torn;
      continue;
    }
    ++c.lines;
    if (seen[seq]) {
      describe("duplicated");
      ++c.duplicated;
      continue;
    }
    seen[seq] = true;
    if (seq < next) {
      describe("late");
      ++c.late;  // counted lost when its successor came
      continue;
    }
    if (seq > next) gap(seq - next);
    reported = false;
    next = seq + 1;
  }
  if (next <= last) gap(last - next + 1);
  return c;
}

int CheckAll(int argc, char** argv) {
  const uint64_t last = std::strtoull(argv[2], nullptr, 10);
  std::printf("%-12s %9s %6s %9s %9s %6s %6s %6s %7s  %s\n", "follower", "lines", "gaps",
              "reported", "lost", "dupl.", "torn", "late", "unknown", "reports");
  bool ok = true;
  for (int i = 3; i < argc; ++i) {
    const char* eq = std::strchr(argv[i], '=');
    if (eq == nullptr) return 1;
    const std::string name(argv[i], static_cast<size_t>(eq - argv[i]));
    const Counts c = Check(name.c_str(), eq + 1, last);
    std::string reports;
    for (int k = 0; k < kKinds; ++k) {
      if (c.reports[k] > 0)
        reports += std::string(reports.empty() ? "" : ", ") + kKindNames[k] + " " +
                   std::to_string(c.reports[k]);
    }
    std::printf("%-12s %9" PRIu64 " %6" PRIu64 " %9" PRIu64 " %9" PRIu64 " %6" PRIu64
                " %6" PRIu64 " %6" PRIu64 " %7" PRIu64 "  %s\n",
                name.c_str(), c.lines, c.gaps, c.reported, c.lost, c.duplicated, c.torn, c.late,
                c.unknown, reports.empty() ? "none" : reports.c_str());
    std::fflush(stdout);
    ok = ok && c.lost == 0 && c.duplicated == 0 && c.torn == 0 && c.late == 0 && c.unknown == 0;
  }
  std::printf("%" PRIu64
              " lines written; goal (nothing lost without a report, duplicated, torn, late or "
              "unknown): %s\n",
              last, ok ? "met" : "MISSED");
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  struct sigaction stop = {};
  stop.sa_handler = [](int) { gs_stop = 1; };
  ::sigaction(SIGTERM, &stop, nullptr);
  ::sigaction(SIGINT, &stop, nullptr);
  if (mode == "gen" && argc == 6)
    return Generate(std::atof(argv[2]), std::atof(argv[3]), argv[4], argv[5]);
  if (mode == "follow" && argc == 4) return Follower(argv[2], argv[3]).Run();
  if (mode == "slow" && argc == 3) return Slow(std::atof(argv[2]));
  if (mode == "check" && argc >= 4) return CheckAll(argc, argv);
  std::fprintf(stderr,
               "usage: zolk_soak gen SECONDS RATE GO COUNT | follow DIR PREFIX | slow BYTES | "
               "check LAST NAME=FILE...\n");
  return 1;
}
