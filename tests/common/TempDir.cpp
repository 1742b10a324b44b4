#include "common/TempDir.h"

#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

namespace zolktest {

TempDir::TempDir() {
  const char* base = ::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/zolktest.XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr)
    throw std::runtime_error("mkdtemp " + tmpl + ": " + std::strerror(errno));
  path_ = tmpl;
}

TempDir::~TempDir() {
  auto remove = [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); };
  ::nftw(path_.c_str(), remove, 16, FTW_DEPTH | FTW_PHYS);
}

std::string ReadFile(const std::string& path) {
  std::string out;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    ADD_FAILURE() << "open " << path << ": " << std::strerror(errno);
    return out;
  }
  char buf[65536];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  if (n < 0) ADD_FAILURE() << "read " << path << ": " << std::strerror(errno);
  ::close(fd);
  return out;
}

void WriteFile(const std::string& path, const std::string& content) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    ADD_FAILURE() << "open " << path << ": " << std::strerror(errno);
    return;
  }
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n <= 0) {
      ADD_FAILURE() << "write " << path << ": " << std::strerror(errno);
      break;
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

}  // namespace zolktest
