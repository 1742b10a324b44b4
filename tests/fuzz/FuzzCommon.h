// Shared pieces of the fuzz targets: the failure report, a scratch
// directory per process, whole-file helpers and the capture of what a
// command prints.
//
// Every target is built twice from the same file: as a libFuzzer program
// and as a replay program (ReplayMain.cpp) that runs the committed inputs
// under CTest. A broken invariant aborts in both, after saying which.
#ifndef ZOLK_TESTS_FUZZ_FUZZCOMMON_H
#define ZOLK_TESTS_FUZZ_FUZZCOMMON_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

namespace zolkfuzz {

// Reports a broken invariant on the error stream the process had at start
// (not the one a capture may have redirected) and aborts.
[[noreturn]] void Fail(const char* file, int line, const char* condition, const std::string& what);

#define FUZZ_CHECK(condition, what)                                            \
  do {                                                                         \
    if (!(condition)) ::zolkfuzz::Fail(__FILE__, __LINE__, #condition, (what)); \
  } while (0)

// A directory of this process, removed at exit.
const std::string& ScratchDir();

std::string ReadFile(const std::string& path);  // "" when it cannot be read
void WriteFile(const std::string& path, const std::string& content);
// Names in a directory, without "." and "..", sorted.
std::vector<std::string> ListDir(const std::string& path);
// Removes every entry of a directory except the names in keep.
void RemoveAllBut(const std::string& dir, const std::vector<std::string>& keep);

// Shows a byte string with non-printing bytes as \xNN, for reports.
std::string Printable(const std::string& bytes);

// While alive, standard output and standard error go to memory files, so a
// command run in this process can be checked by what it printed.
class OutputCapture final {
 public:
  OutputCapture();
  ~OutputCapture();
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;
  // Ends the capture (once) and returns what was written to each stream.
  void Finish(std::string* out, std::string* err);

 private:
  int saved_[2];
  int files_[2];
  bool finished_ = false;
};

// Runs a command's entry point with the given arguments (argv[0] first) in
// the scratch directory and returns its status.
int RunInScratch(int (*entry)(int, char**), const std::vector<std::string>& args);

}  // namespace zolkfuzz

#endif
