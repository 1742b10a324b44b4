// zolk2getconf over an arbitrary configuration file and argument vector, run
// in this process against the test build's file etc/D002zolk2.cnf.
//
// A model of the command gives the exit status and every byte it must print
// on standard output (the keys in the order of their last mention, sizes in
// KB, the printing cut off at a missing or unconvertible key). The file is
// never changed.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "ConfFuzz.h"
#include "FuzzCommon.h"

int zolk2getconf_main(int argc, char* argv[]);

namespace {

using namespace zolkfuzz;

const char kOptions[] = "fbnswiml:h";
const char kKeyLetters[] = "fbnswim";  // by key

struct Prediction {
  int status = 1;
  bool help = false;
  std::string out;
};

Prediction predict(std::vector<std::string>* args, const std::string& file) {
  Prediction p;
  std::string letters;
  bool logging = false, emptyLog = false, wrong = false;
  p.help = ParseArgs(args, kOptions, [&](int c, char* v) {
    if (c == 'l') {
      logging = true;
      if (*v == '\0') emptyLog = true;
    } else if (c == '?') {
      wrong = true;
    } else {
      const size_t at = letters.find(static_cast<char>(c));
      if (at != std::string::npos) letters.erase(at, 1);
      letters += static_cast<char>(c);
    }
  });
  if (p.help) {
    p.status = 0;
    return p;
  }
  if ((logging && emptyLog) || wrong || letters.empty()) return p;

  std::string values[kKeyCount];
  for (const std::string& chunk : Chunks(file)) {
    const int k = ChunkKey(chunk);
    const std::string v = k < 0 ? "" : ChunkValue(chunk);
    if (!v.empty()) values[k] = v;
  }
  for (const char letter : letters) {
    const int k = static_cast<int>(std::strchr(kKeyLetters, letter) - kKeyLetters);
    std::string v = values[k];
    if ((k == 1 || k == 3) && AllDigits(v)) {
      errno = 0;
      const long bytes = std::strtol(v.c_str(), nullptr, 10);
      if (errno == ERANGE || (errno != 0 && bytes == 0)) {
        p.status = 17;
        return p;
      }
      v = std::to_string(bytes / 1024);
    }
    if (v.empty()) {
      p.status = 15;
      return p;
    }
    p.out += (letters.size() > 1 ? std::string(kKeyNames[k]) + "=" : "") + v + "\n";
  }
  p.status = 0;
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CommandInput in = SplitCommandInput(data, size, "zolk2getconf");
  ConfineLogNames(&in.args, kOptions);
  const std::string etc = ScratchDir() + "/etc";
  const std::string conf = etc + "/D002zolk2.cnf";
  ::mkdir(etc.c_str(), 0755);
  WriteFile(conf, in.file);

  const Prediction p = predict(&in.args, in.file);
  std::string out, err;
  int status;
  {
    OutputCapture capture;
    status = RunInScratch(zolk2getconf_main, in.args);
    capture.Finish(&out, &err);
  }
  const bool unchanged = ReadFile(conf) == in.file;
  RemoveAllBut(ScratchDir(), {"etc"});

  FUZZ_CHECK(status == p.status, "status " + std::to_string(status) + ", expected " +
                                     std::to_string(p.status) + "; stderr: " + Printable(err));
  FUZZ_CHECK(unchanged, "the getter changed the file");
  if (p.help) {
    FUZZ_CHECK(!out.empty() && err.empty(), "help: " + Printable(out));
  } else {
    FUZZ_CHECK(out == p.out, "printed\n" + Printable(out) + "\nexpected\n" + Printable(p.out));
  }
  return 0;
}
