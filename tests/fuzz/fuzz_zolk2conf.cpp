// zolk2conf over an arbitrary configuration file and argument vector, run in
// this process against the test build's file etc/D002zolk2.cnf.
//
// A model of the command predicts the exit status from the arguments and the
// file. The file must be untouched unless the status is 0; then it must be
// exactly the model's rewrite: every chunk that is not a key line byte for
// byte in its place, one canonical line per key where the key first stood,
// the missing keys appended in key order, mode 0644, and no temporary file
// left beside it.
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "ConfFuzz.h"
#include "FuzzCommon.h"

int zolk2conf_main(int argc, char* argv[]);

namespace {

using namespace zolkfuzz;

const char kOptions[] = "f:b:n:s:w:i:m:l:h";
const char kSettingLetters[] = "fbnswim";  // by key
const char* const kDefaults[kKeyCount] = {"", "262144", "4", "65536", "10", "0", "0"};
struct Range {
  size_t maxChars;
  long low, high;
};
const Range kRanges[kKeyCount] = {{0, 0, 0},    {4, 8, 8192}, {2, 1, 16},   {4, 8, 2048},
                                  {3, 1, 300}, {4, 0, 3600}, {3, 0, 500}};
enum { kLogFile = 0, kLogSize = 1, kMapSize = 3 };

// -f as the command takes it: at most 1025 leading blanks skipped, at most
// 1024 characters kept, trailing blanks dropped.
std::string trimmedPath(const char* value) {
  std::string s(value);
  size_t skip = 0;
  while (skip < s.size() && skip < 1025 && s[skip] == ' ') ++skip;
  s = s.substr(skip, 1024);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// 0 when the option's value passes, else the status its message carries.
int checkValue(int key, const char* value) {
  if (key != kLogFile) {
    const std::string text = std::string(value).substr(0, 1024);
    const Range& r = kRanges[key];
    if (text.size() > r.maxChars || !AllDigits(text)) return 1;
    const long v = std::atol(text.c_str());
    return v >= r.low && v <= r.high ? 0 : 1;
  }
  const std::string path = trimmedPath(value);
  if (path.empty() || path[0] != '/') return 1;
  if (path.substr(path.rfind('/')).find_first_of("?*") != std::string::npos) return 1;
  for (const unsigned char c : path) {
    if (c < 0x20 || c == 0x7F) return 1;
  }
  const size_t slash = path.size() > 1 ? path.rfind('/') : 0;
  const std::string parent = path.substr(0, slash == 0 ? 1 : slash);
  struct stat st;
  return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : 10;
}

// A stored size as the cross check converts it; false when out of range.
bool storedSize(const std::string& text, long* value) {
  errno = 0;
  *value = std::strtol(text.c_str(), nullptr, 10);
  return !(errno == ERANGE || (errno != 0 && *value == 0));
}

struct Prediction {
  int status = 0;
  bool help = false;
  std::string file;  // the content expected after a status of 0
};

Prediction predict(std::vector<std::string>* args, const std::string& original) {
  Prediction p;
  bool given[kKeyCount] = {};
  std::string value[kKeyCount];
  bool logging = false, emptyLog = false, wrong = false;
  int problem = 0;  // status of the first value refused
  p.help = ParseArgs(args, kOptions, [&](int c, char* v) {
    if (c == 'l') {
      logging = true;
      if (*v == '\0') emptyLog = true;
      return;
    }
    if (wrong || problem != 0) return;  // only the first problem counts
    const char* letter = std::strchr(kSettingLetters, c);
    if (c == '?' || letter == nullptr) {
      wrong = true;
      return;
    }
    const int key = static_cast<int>(letter - kSettingLetters);
    problem = checkValue(key, v);
    given[key] = true;
    value[key] = key == kLogFile ? trimmedPath(v) : std::string(v);
  });
  if (p.help) return p;
  p.status = 1;
  if ((logging && emptyLog) || wrong) return p;
  if (problem != 0) {
    p.status = problem;
    return p;
  }
  bool any = false;
  for (bool g : given) any = any || g;
  if (!any) return p;

  std::string current[kKeyCount];
  for (int k = 0; k < kKeyCount; ++k) current[k] = kDefaults[k];
  const std::vector<std::string> chunks = Chunks(original);
  for (const std::string& chunk : chunks) {
    const int k = ChunkKey(chunk);
    const std::string v = k < 0 ? "" : ChunkValue(chunk);
    if (!v.empty() && (k == kLogFile || AllDigits(v))) current[k] = v.substr(0, 1024);
  }

  const long kb = 1024;
  long stored;
  if (given[kLogSize] && given[kMapSize]) {
    p.status = std::atol(value[kLogSize].c_str()) < std::atol(value[kMapSize].c_str()) ? 11 : 0;
  } else if (given[kMapSize]) {
    p.status = !storedSize(current[kLogSize], &stored) ? 17
               : stored >= std::atol(value[kMapSize].c_str()) * kb ? 0 : 12;
  } else if (given[kLogSize]) {
    p.status = !storedSize(current[kMapSize], &stored) ? 17
               : std::atol(value[kLogSize].c_str()) * kb >= stored ? 0 : 11;
  } else {
    p.status = 0;
  }

  auto canonical = [&](int k) {
    std::string v = given[k] ? value[k] : current[k];
    if (given[k] && (k == kLogSize || k == kMapSize)) v = std::to_string(std::atol(v.c_str()) * kb);
    return std::string(kKeyNames[k]) + " = " + v + "\n";
  };
  bool written[kKeyCount] = {};
  for (const std::string& chunk : chunks) {
    const int k = ChunkKey(chunk);
    if (k < 0) {
      p.file += chunk;
    } else if (!written[k]) {
      p.file += canonical(k);
      written[k] = true;
    }
  }
  for (int k = 0; k < kKeyCount; ++k) {
    if (written[k]) continue;
    if (!p.file.empty() && p.file.back() != '\n') p.file += '\n';
    p.file += canonical(k);
  }
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CommandInput in = SplitCommandInput(data, size, "zolk2conf");
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
    status = RunInScratch(zolk2conf_main, in.args);
    capture.Finish(&out, &err);
  }
  const std::string after = ReadFile(conf);
  const std::vector<std::string> inEtc = ListDir(etc);
  RemoveAllBut(ScratchDir(), {"etc"});

  const std::string what = "status " + std::to_string(status) + ", expected " +
                           std::to_string(p.status) + "; stderr: " + Printable(err);
  FUZZ_CHECK(status == p.status, what);
  FUZZ_CHECK(inEtc == std::vector<std::string>{"D002zolk2.cnf"}, "files left beside the file");
  FUZZ_CHECK(p.help ? !out.empty() && err.empty() : out.empty(), "output: " + Printable(out));
  if (status != 0 || p.help) {
    FUZZ_CHECK(after == in.file, "changed on " + what);
    return 0;
  }
  FUZZ_CHECK(after == p.file, "rewritten as\n" + Printable(after) + "\nexpected\n" + Printable(p.file));
  struct stat st;
  FUZZ_CHECK(::stat(conf.c_str(), &st) == 0 && (st.st_mode & 07777) == 0644, "mode not 0644");
  return 0;
}
