// The reader over a 16 MiB trace file in the page cache, against copying the
// same bytes with memcpy() from a mapping and reading its lines with fgets().
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "common/RatioReporter.h"
#include "tracewriter/TraceWriter.h"
#include "zolk2trap.h"

namespace {

constexpr uint32_t kFileSize = ZOLK2_MPTT_MAX_FILE_SIZE;
constexpr uint32_t kBlock = 64 * 1024;
constexpr size_t kLineLength = 100;  // with CR LF

// Two sets of one 16 MiB file each, being written up to their end: one
// whose record asks readers to lock, one whose record does not.
class Fixture final {
 public:
  Fixture() {
    char dir[] = "/tmp/zolkbench.XXXXXX";
    if (::mkdtemp(dir) == nullptr) std::abort();
    dir_ = dir;
    std::string content;
    content.reserve(kFileSize);
    for (uint64_t n = 1; content.size() + kLineLength <= kFileSize; ++n)
      content += zolksupport::NumberedLine(n, kLineLength - 2) + "\r\n";
    content.resize(kFileSize, 'x');
    ::mkdir((dir_ + "/mmap").c_str(), 0755);
    for (const char* prefix : {"locked", "unlocked"}) {
      management_info_t r{};
      std::memcpy(r.magic, ZOLK2_MPTT_MAGIC, 4);
      r.byteOrderMark = ZOLK2_MPTT_BYTE_ORDER_MARK;
      r.fileSize = kFileSize;
      r.fileCount = 1;
      r.writeFileNumber = 1;
      r.writeOffset = kFileSize;
      r.lockType = ZOLK2_MPTT_LOCK_LOCKF;
      r.flags = std::strcmp(prefix, "locked") == 0 ? 0 : ZOLK2_MPTT_FLAG_NO_LOCK;
      const std::vector<unsigned char> rec =
          zolksupport::EncodeManagementRecord(r, zolksupport::HostByteOrder());
      Write(dir_ + "/mmap/" + prefix + ".mm", std::string(rec.begin(), rec.end()));
      Write(TraceFile(prefix), content);
    }
  }
  ~Fixture() {
    for (const char* prefix : {"locked", "unlocked"}) {
      ::unlink(TraceFile(prefix).c_str());
      ::unlink((dir_ + "/mmap/" + prefix + ".mm").c_str());
    }
    ::rmdir((dir_ + "/mmap").c_str());
    ::rmdir(dir_.c_str());
  }
  std::string TraceFile(const char* prefix) const { return dir_ + "/" + prefix + "1.log"; }

 private:
  static void Write(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
      std::abort();
    ::close(fd);
  }
  std::string dir_;
};

Fixture& Files() {
  static Fixture files;
  return files;
}

// A reader with its stream open and the whole file readable.
struct Reader {
  explicit Reader(const char* prefix) : trap(ZOLK2_MpttCreateInstance(Files().TraceFile(prefix).c_str())) {
    if (trap == nullptr || ZOLK2_MpttOpenManagementFile(trap) != 0 || ZOLK2_MpttOpen(trap) != 0 ||
        ZOLK2_MpttGetCurrentOffset(trap) != static_cast<int>(kFileSize))
      std::abort();
  }
  ~Reader() { ZOLK2_MpttDeleteInstance(trap); }
  ZOLK2_MptTrap_t* trap;
};

void BM_Read(benchmark::State& state) {
  Reader r("locked");
  std::vector<char> buf(kBlock);
  for (auto _ : state) {
    ZOLK2_MpttSeek(r.trap, 0, ZOLK2_MPTT_SEEK_SET);
    while (ZOLK2_MpttRead(r.trap, buf.data(), kBlock) > 0) benchmark::DoNotOptimize(buf.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
}

void BM_Memcpy(benchmark::State& state) {
  const int fd = ::open(Files().TraceFile("locked").c_str(), O_RDONLY);
  void* map = ::mmap(nullptr, kFileSize, PROT_READ, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) std::abort();
  const char* data = static_cast<const char*>(map);
  std::vector<char> buf(kBlock);
  for (auto _ : state) {
    for (uint32_t off = 0; off < kFileSize; off += kBlock) {
      std::memcpy(buf.data(), data + off, kBlock);
      benchmark::DoNotOptimize(buf.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
  ::munmap(map, kFileSize);
  ::close(fd);
}

void BM_GetLine(benchmark::State& state) {
  Reader r("locked");
  char line[256];
  for (auto _ : state) {
    ZOLK2_MpttSeek(r.trap, 0, ZOLK2_MPTT_SEEK_SET);
    while (ZOLK2_MpttGetLine(r.trap, line, sizeof line) > 0) benchmark::DoNotOptimize(line);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
}

void BM_Fgets(benchmark::State& state) {
  FILE* f = ::fopen(Files().TraceFile("locked").c_str(), "r");
  char line[256];
  for (auto _ : state) {
    ::rewind(f);
    while (::fgets(line, sizeof line, f) != nullptr) benchmark::DoNotOptimize(line);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
  ::fclose(f);
}

void BM_GetChar(benchmark::State& state) {
  Reader r("locked");
  for (auto _ : state) {
    ZOLK2_MpttSeek(r.trap, 0, ZOLK2_MPTT_SEEK_SET);
    int c;
    while ((c = ZOLK2_MpttGetChar(r.trap)) >= 0) benchmark::DoNotOptimize(c);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
}

void BM_Getc(benchmark::State& state) {
  FILE* f = ::fopen(Files().TraceFile("locked").c_str(), "r");
  for (auto _ : state) {
    ::rewind(f);
    int c;
    while ((c = getc_unlocked(f)) != EOF) benchmark::DoNotOptimize(c);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
  ::fclose(f);
}

void BM_GetCurrentOffset(benchmark::State& state, const char* prefix) {
  Reader r(prefix);
  for (auto _ : state) benchmark::DoNotOptimize(ZOLK2_MpttGetCurrentOffset(r.trap));
}

// The system calls a snapshot of a file being written cannot do without,
// made bare on descriptors of the same files: the record read through the
// descriptor (again under the lock where the record asks for one) and the
// trace file's size, which a writer starting afresh may have cut. Against
// this the reader's own share of a snapshot shows.
void BM_SnapshotSystemCalls(benchmark::State& state, const char* prefix) {
  const bool locked = std::strcmp(prefix, "locked") == 0;
  const std::string trace = Files().TraceFile(prefix);
  const std::string management =
      trace.substr(0, trace.rfind('/')) + "/mmap/" + prefix + ".mm";
  const int mfd = ::open(management.c_str(), O_RDWR);
  const int tfd = ::open(trace.c_str(), O_RDONLY);
  if (mfd < 0 || tfd < 0) std::abort();
  unsigned char rec[ZOLK2_MPTT_RECORD_SIZE];
  struct stat st;
  for (auto _ : state) {
    benchmark::DoNotOptimize(::pread(mfd, rec, sizeof rec, 0));
    if (locked) {
      if (::lockf(mfd, F_TLOCK, 0) != 0) std::abort();
      benchmark::DoNotOptimize(::pread(mfd, rec, sizeof rec, 0));
      ::lockf(mfd, F_ULOCK, 0);
    }
    benchmark::DoNotOptimize(::fstat(tfd, &st));
  }
  ::close(tfd);
  ::close(mfd);
}

BENCHMARK(BM_Read)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fgets)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetChar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Getc)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GetCurrentOffset, locked, "locked");
BENCHMARK_CAPTURE(BM_GetCurrentOffset, unlocked, "unlocked");
BENCHMARK_CAPTURE(BM_SnapshotSystemCalls, locked, "locked");
BENCHMARK_CAPTURE(BM_SnapshotSystemCalls, unlocked, "unlocked");

}  // namespace

int main(int argc, char** argv) {
  zolkbench::Compare("BM_Read", "BM_Memcpy", 0.8, zolkbench::Goal::AtLeast);
  zolkbench::Compare("BM_GetLine", "BM_Memcpy", 0.3, zolkbench::Goal::AtLeast);
  zolkbench::Compare("BM_GetLine", "BM_Fgets", 2.0, zolkbench::Goal::AtLeast);
  zolkbench::Compare("BM_GetCurrentOffset/locked", "BM_SnapshotSystemCalls/locked", 200,
                     zolkbench::Goal::AddsAtMost);
  zolkbench::Compare("BM_GetCurrentOffset/unlocked", "BM_SnapshotSystemCalls/unlocked", 200,
                     zolkbench::Goal::AddsAtMost);
  return zolkbench::RunAndCompare(argc, argv);
}
