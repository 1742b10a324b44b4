#include "FuzzCommon.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Present when a sanitizer runtime is linked in: where its reports go.
extern "C" void __sanitizer_set_report_fd(void* fd) __attribute__((weak));

namespace zolkfuzz {
namespace {

// The error stream as it was at start. libFuzzer may close descriptor 2
// after initialisation (-close_fd_mask) and a capture redirects it, so
// failure reports go here.
int ms_reportFd = 2;

void removeTree(const std::string& path) {
  auto remove = [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); };
  ::nftw(path.c_str(), remove, 16, FTW_DEPTH | FTW_PHYS);
}

void removeScratch() { removeTree(ScratchDir()); }

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::string readFd(int fd) {
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = ::pread(fd, buf, sizeof buf, static_cast<off_t>(out.size()))) > 0) {
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

}  // namespace

void Fail(const char* file, int line, const char* condition, const std::string& what) {
  const std::string report = std::string(file) + ":" + std::to_string(line) +
                             ": invariant broken: " + condition + "\n  " + what + "\n";
  writeAll(ms_reportFd, report.data(), report.size());
  std::abort();
}

const std::string& ScratchDir() {
  static const std::string dir = [] {
    const char* base = ::getenv("TMPDIR");
    std::string tmpl = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                       "/zolkfuzz.XXXXXX";
    if (::mkdtemp(&tmpl[0]) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    return tmpl;
  }();
  return dir;
}

std::string ReadFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  std::string out = readFd(fd);
  ::close(fd);
  return out;
}

void WriteFile(const std::string& path, const std::string& content) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  FUZZ_CHECK(fd >= 0, "cannot create " + path);
  const bool ok = writeAll(fd, content.data(), content.size());
  ::close(fd);
  FUZZ_CHECK(ok, "cannot write " + path);
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return names;
  while (const dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      names.emplace_back(e->d_name);
    }
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveAllBut(const std::string& dir, const std::vector<std::string>& keep) {
  for (const std::string& name : ListDir(dir)) {
    if (std::find(keep.begin(), keep.end(), name) == keep.end()) removeTree(dir + "/" + name);
  }
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (const unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

OutputCapture::OutputCapture() {
  std::fflush(stdout);
  std::fflush(stderr);
  for (int i = 0; i < 2; ++i) {
    files_[i] = ::memfd_create(i == 0 ? "zolkfuzz-out" : "zolkfuzz-err", MFD_CLOEXEC);
    saved_[i] = ::fcntl(i + 1, F_DUPFD_CLOEXEC, 10);
    FUZZ_CHECK(files_[i] >= 0 && saved_[i] >= 0, "cannot capture the standard streams");
    ::dup2(files_[i], i + 1);
  }
}

OutputCapture::~OutputCapture() {
  std::string out, err;
  Finish(&out, &err);
}

void OutputCapture::Finish(std::string* out, std::string* err) {
  if (finished_) return;
  finished_ = true;
  std::fflush(stdout);
  std::fflush(stderr);
  std::string* const into[2] = {out, err};
  for (int i = 0; i < 2; ++i) {
    ::dup2(saved_[i], i + 1);
    ::close(saved_[i]);
    *into[i] = readFd(files_[i]);
    ::close(files_[i]);
  }
}

int RunInScratch(int (*entry)(int, char**), const std::vector<std::string>& args) {
  // The entry point may keep pointers into argv (as getopt's optarg does),
  // so the strings live until it returns.
  std::vector<std::string> copies(args);
  std::vector<char*> argv;
  for (std::string& a : copies) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  const int back = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  FUZZ_CHECK(back >= 0 && ::chdir(ScratchDir().c_str()) == 0, "cannot enter the scratch directory");
  const int status = entry(static_cast<int>(copies.size()), argv.data());
  FUZZ_CHECK(::fchdir(back) == 0, "cannot leave the scratch directory");
  ::close(back);
  return status;
}

}  // namespace zolkfuzz

// Called once before the first input, by libFuzzer or by the replay program.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zolkfuzz::ms_reportFd = ::fcntl(2, F_DUPFD_CLOEXEC, 10);
  if (zolkfuzz::ms_reportFd < 0) zolkfuzz::ms_reportFd = 2;
  // Sanitizer reports must survive a capture of descriptor 2 as well.
  if (__sanitizer_set_report_fd != nullptr) {
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(zolkfuzz::ms_reportFd)));
  }
  zolkfuzz::ScratchDir();
  std::atexit(zolkfuzz::removeScratch);
  return 0;
}
