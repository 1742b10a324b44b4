// zolk2tail -a -x over a full set of four 16 MiB trace files, against cat
// of the same four files, both as processes writing to /dev/null. A third
// figure is the floor of any reader that goes through a mapping: mapping
// each file and touching each of its pages, in this process.
//
// Each runs over two sets with the same content: one written a file at a
// time, one written a line at a time as a trace writer writes. How the page
// cache holds the files differs between the two (few large pages or many
// small ones), and mapping small pages into a process costs much more than
// copying them out with read(2).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/RatioReporter.h"
#include "tracewriter/TraceWriter.h"
#include "zolk2trap.h"

extern char** environ;

namespace {

constexpr uint32_t kFileSize = ZOLK2_MPTT_MAX_FILE_SIZE;
constexpr uint32_t kFiles = 4;
constexpr size_t kLineLength = 100;  // with CR LF

// Files 1 to 3 left by the writer (ended with 0x1A), file 4 being written,
// all pre-extended and filled with lines up to the end.
class Set final {
 public:
  Set(const char* prefix, bool byLine) : prefix_(prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string dir = std::string(base && *base ? base : "/tmp") + "/zolkbench.XXXXXX";
    if (::mkdtemp(dir.data()) == nullptr) std::abort();
    dir_ = dir;
    ::mkdir((dir_ + "/mmap").c_str(), 0755);
    std::string lines;
    for (uint64_t n = 1; lines.size() + kLineLength + 1 <= kFileSize; ++n)
      lines += zolksupport::NumberedLine(n, kLineLength - 2) + "\r\n";
    for (uint32_t n = 1; n <= kFiles; ++n) {
      std::string content = lines;
      if (n < kFiles) content += static_cast<char>(ZOLK2_MPTT_END_OF_DATA);
      content.resize(kFileSize, '\0');
      Write(Path(n), content, byLine ? kLineLength : content.size());
    }
    management_info_t r{};
    std::memcpy(r.magic, ZOLK2_MPTT_MAGIC, 4);
    r.byteOrderMark = ZOLK2_MPTT_BYTE_ORDER_MARK;
    r.fileSize = kFileSize;
    r.fileCount = kFiles;
    r.writeFileNumber = kFiles;
    r.writeOffset = static_cast<uint32_t>(lines.size());
    r.lockType = ZOLK2_MPTT_LOCK_LOCKF;
    const std::vector<unsigned char> rec =
        zolksupport::EncodeManagementRecord(r, zolksupport::HostByteOrder());
    Write(dir_ + "/mmap/" + prefix_ + ".mm", std::string(rec.begin(), rec.end()), rec.size());
  }
  ~Set() {
    for (uint32_t n = 1; n <= kFiles; ++n) ::unlink(Path(n).c_str());
    ::unlink((dir_ + "/mmap/" + prefix_ + ".mm").c_str());
    ::rmdir((dir_ + "/mmap").c_str());
    ::rmdir(dir_.c_str());
  }
  std::string Path(uint32_t n) const { return dir_ + "/" + prefix_ + std::to_string(n) + ".log"; }

 private:
  // Writes content in pieces of `piece` bytes.
  static void Write(const std::string& path, const std::string& content, size_t piece) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) std::abort();
    for (size_t at = 0; at < content.size(); at += piece) {
      const size_t n = std::min(piece, content.size() - at);
      if (::pwrite(fd, content.data() + at, n, static_cast<off_t>(at)) != static_cast<ssize_t>(n))
        std::abort();
    }
    ::close(fd);
  }
  const std::string prefix_;
  std::string dir_;
};

// Runs argv with standard output on /dev/null; true when it exits with 0.
bool Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (rc != 0 || ::waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Measure(benchmark::State& state, const std::vector<std::string>& args) {
  for (auto _ : state) {
    if (!Run(args)) state.SkipWithError("the command failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFiles * kFileSize);
}

void BM_Cat(benchmark::State& state, const Set* set) {
  std::vector<std::string> args = {"/bin/cat"};
  for (uint32_t n = 1; n <= kFiles; ++n) args.push_back(set->Path(n));
  Measure(state, args);
}

void BM_TailRaw(benchmark::State& state, const Set* set) {
  Measure(state, {ZOLK_TAIL_PATH, "-a", "-x", "-r", set->Path(1)});
}

void BM_TailLf(benchmark::State& state, const Set* set) {
  Measure(state, {ZOLK_TAIL_PATH, "-a", "-x", set->Path(1)});
}

void BM_MapAndTouch(benchmark::State& state, const Set* set) {
  const long page = ::sysconf(_SC_PAGESIZE);
  for (auto _ : state) {
    for (uint32_t n = 1; n <= kFiles; ++n) {
      const int fd = ::open(set->Path(n).c_str(), O_RDONLY | O_CLOEXEC);
      void* map = ::mmap(nullptr, kFileSize, PROT_READ, MAP_SHARED, fd, 0);
      if (map == MAP_FAILED) std::abort();
      const volatile char* bytes = static_cast<const char*>(map);
      for (uint32_t at = 0; at < kFileSize; at += static_cast<uint32_t>(page)) (void)bytes[at];
      ::munmap(map, kFileSize);
      ::close(fd);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFiles * kFileSize);
}

}  // namespace

int main(int argc, char** argv) {
  static const Set byFile("f", false), byLine("l", true);
  for (const auto& [name, set] : {std::pair<std::string, const Set*>{"by_file", &byFile},
                                  std::pair<std::string, const Set*>{"by_line", &byLine}}) {
    for (auto* b :
         {benchmark::RegisterBenchmark(("cat/" + name).c_str(), BM_Cat, set),
          benchmark::RegisterBenchmark(("zolk2tail_raw/" + name).c_str(), BM_TailRaw, set),
          benchmark::RegisterBenchmark(("zolk2tail_lf/" + name).c_str(), BM_TailLf, set),
          benchmark::RegisterBenchmark(("map_and_touch/" + name).c_str(), BM_MapAndTouch, set)})
      b->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5)->Repetitions(7);
    const std::string cat = "cat/" + name + "/min_time:0.500/real_time";
    auto figure = [&](const char* what) {
      return std::string(what) + "/" + name + "/min_time:0.500/real_time";
    };
    zolkbench::Compare(figure("zolk2tail_raw"), cat, 1.2);
    zolkbench::Compare(figure("zolk2tail_lf"), cat, 1.5);
    zolkbench::Report(figure("map_and_touch"), cat);
    zolkbench::Report(figure("zolk2tail_raw"), figure("map_and_touch"));
  }
  return zolkbench::RunAndCompare(argc, argv);
}
