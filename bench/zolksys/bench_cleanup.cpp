// Log file cleanup against `find DIR -name PATTERN -delete` on identical
// directories of 10,000 and 100,000 matching files, in the same run.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>

#include <benchmark/benchmark.h>
#include <zolk2sys.h>

#include "common/RatioReporter.h"

extern char** environ;

namespace {

constexpr char kPattern[] = "app-*.log";

// A fresh directory holding `files` matching files with distinct
// modification times, one second apart (plus a file that does not match).
std::string MakeDirectory(long files) {
  const char* base = std::getenv("TMPDIR");
  std::string dir = std::string(base && *base ? base : "/tmp") + "/zolkbench.XXXXXX";
  if (::mkdtemp(dir.data()) == nullptr) std::abort();
  const time_t now = std::time(nullptr);
  char path[4096];
  for (long i = 0; i < files; ++i) {
    std::snprintf(path, sizeof path, "%s/app-%06ld.log", dir.c_str(), i);
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) std::abort();
    const struct timespec times[2] = {{now - i, 0}, {now - i, 0}};
    ::futimens(fd, times);
    ::close(fd);
  }
  std::snprintf(path, sizeof path, "%s/keep.txt", dir.c_str());
  ::close(::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  return dir;
}

int Run(const char* const argv[]) {
  pid_t pid;
  if (::posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
    return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void RemoveDirectory(const std::string& dir) {
  const char* const argv[] = {"/bin/rm", "-rf", dir.c_str(), nullptr};
  Run(argv);
}

// Times one cleanup of a fresh directory per iteration; making and removing
// the directories is not timed.
void Measure(benchmark::State& state, const std::function<int(const std::string& dir)>& cleanup) {
  for (auto _ : state) {
    state.PauseTiming();
    const std::string dir = MakeDirectory(state.range(0));
    state.ResumeTiming();
    const int rc = cleanup(dir);
    state.PauseTiming();
    RemoveDirectory(dir);
    if (rc != 0) state.SkipWithError("the cleanup failed");
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_FindDelete(benchmark::State& state) {
  Measure(state, [](const std::string& dir) {
    const char* const argv[] = {"/usr/bin/find", dir.c_str(), "-name", kPattern, "-delete", nullptr};
    return Run(argv);
  });
}

void BM_CleanupByNum(benchmark::State& state) {
  Measure(state, [](const std::string& dir) {
    return ZOLK2_FileCleanupByNum((dir + "/" + kPattern).c_str(), 10);
  });
}

void BM_CleanupByTime(benchmark::State& state) {
  Measure(state, [](const std::string& dir) {
    return ZOLK2_FileCleanupByTime((dir + "/" + kPattern).c_str(), 0);
  });
}

}  // namespace

int main(int argc, char** argv) {
  for (auto* b : {benchmark::RegisterBenchmark("find_delete", BM_FindDelete),
                  benchmark::RegisterBenchmark("cleanup_by_num_keep10", BM_CleanupByNum),
                  benchmark::RegisterBenchmark("cleanup_by_time", BM_CleanupByTime)}) {
    b->Arg(10000)->Arg(100000)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
  }
  for (const char* n : {"10000", "100000"}) {
    const std::string suffix = std::string("/") + n + "/iterations:3/real_time";
    zolkbench::Compare("cleanup_by_num_keep10" + suffix, "find_delete" + suffix, 2.5);
    zolkbench::Compare("cleanup_by_time" + suffix, "find_delete" + suffix, 2.5);
  }
  // Growth from 10,000 to 100,000 files: per-file times, so a ratio of 1.2
  // here is a total time ratio of 12.
  for (const char* b : {"cleanup_by_num_keep10", "cleanup_by_time", "find_delete"}) {
    zolkbench::Compare(std::string(b) + "/100000/iterations:3/real_time",
                       std::string(b) + "/10000/iterations:3/real_time", 1.2);
  }
  return zolkbench::RunAndCompare(argc, argv);
}
