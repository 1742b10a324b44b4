// The replay program of a fuzz target: runs every input file named on the
// command line, or found in a directory named there (in name order), through
// the target once, all in one process - as libFuzzer does, so a pair of
// inputs can show state that one run leaves behind for the next.
// A broken invariant aborts, so the CTest entry fails; so does a run that
// found no input at all, which would prove nothing.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "FuzzCommon.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) {
    struct stat st;
    if (::stat(argv[i], &st) != 0) continue;  // a target without regressions yet
    if (!S_ISDIR(st.st_mode)) {
      inputs.emplace_back(argv[i]);
      continue;
    }
    for (const std::string& name : zolkfuzz::ListDir(argv[i])) {
      inputs.push_back(std::string(argv[i]) + "/" + name);
    }
  }
  for (const std::string& path : inputs) {
    const std::string data = zolkfuzz::ReadFile(path);
    std::fprintf(stderr, "replay %s (%zu bytes)\n", path.c_str(), data.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return inputs.empty() ? 1 : 0;
}
