#include "zolktrap/TrapFixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace traptest {
namespace {

constexpr long kTmpfsMagic = 0x01021994;

// The temporary directory's base: $TMPDIR or /tmp unless that is a tmpfs,
// then the working directory (the build tree).
std::unique_ptr<zolktest::TempDir> MakeDiskTempDir() {
  const char* base = ::getenv("TMPDIR");
  std::string where = base != nullptr && *base != '\0' ? base : "/tmp";
  if (OnTmpfs(where)) {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) != nullptr) ::setenv("TMPDIR", cwd, 1);
  }
  return std::make_unique<zolktest::TempDir>();
}

}  // namespace

management_info_t MakeRecord(uint32_t fileSize, uint32_t fileCount, uint32_t writeFileNumber,
                             uint32_t writeOffset, uint32_t flags, uint32_t lockType) {
  management_info_t r{};
  std::memcpy(r.magic, ZOLK2_MPTT_MAGIC, sizeof r.magic);
  r.byteOrderMark = ZOLK2_MPTT_BYTE_ORDER_MARK;
  r.fileSize = fileSize;
  r.fileCount = fileCount;
  r.writeOffset = writeOffset;
  r.writeFileNumber = writeFileNumber;
  r.flags = flags;
  r.lockType = lockType;
  return r;
}

void PutBytes(const std::string& path, const std::string& bytes, off_t offset) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
  EXPECT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()))
      << path;
  ::close(fd);
}

int DescriptorOf(const std::string& path) {
  for (int fd = 3; fd < 1024; ++fd) {
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    if (path == target) return fd;
  }
  return -1;
}

bool OnTmpfs(const std::string& path) {
  struct statfs fs;
  return ::statfs(path.c_str(), &fs) == 0 && static_cast<long>(fs.f_type) == kTmpfsMagic;
}

TraceSet::TraceSet(std::string prefix) : dir_(MakeDiskTempDir()), prefix_(std::move(prefix)) {
  EXPECT_EQ(::mkdir((dir() + "/mmap").c_str(), 0755), 0);
}

TraceSet::~TraceSet() = default;

std::string TraceSet::TracePath(int number) const {
  return dir() + "/" + prefix_ + std::to_string(number) + ".log";
}

std::string TraceSet::ManagementPath() const { return dir() + "/mmap/" + prefix_ + ".mm"; }

void TraceSet::WriteRecord(const management_info_t& record, zolksupport::ByteOrder order) {
  record_ = record;
  order_ = order;
  const std::vector<unsigned char> bytes = zolksupport::EncodeManagementRecord(record, order);
  PutBytes(ManagementPath(), std::string(bytes.begin(), bytes.end()));
}

void TraceSet::MoveWriter(uint32_t writeFileNumber, uint32_t writeOffset) {
  management_info_t r = record_;
  r.writeFileNumber = writeFileNumber;
  r.writeOffset = writeOffset;
  WriteRecord(r, order_);
}

void TraceSet::WriteTrace(int number, const std::string& content, off_t size) {
  const std::string path = TracePath(number);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  EXPECT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  if (size > 0) {
    EXPECT_EQ(::ftruncate(fd, size), 0);
  }
  ::close(fd);
}

TrapPtr OpenReader(const std::string& traceFile, bool openStream) {
  TrapPtr trap(ZOLK2_MpttCreateInstance(traceFile.c_str()));
  if (trap == nullptr) {
    ADD_FAILURE() << "create " << traceFile;
    return nullptr;
  }
  int rc = ZOLK2_MpttOpenManagementFile(trap.get());
  if (rc != 0) {
    ADD_FAILURE() << "open management file of " << traceFile << ": " << rc;
    return nullptr;
  }
  if (openStream && (rc = ZOLK2_MpttOpen(trap.get())) != 0) {
    ADD_FAILURE() << "open stream of " << traceFile << ": " << rc;
    return nullptr;
  }
  return trap;
}

std::string ReadToEnd(ZOLK2_MptTrap_t* trap) {
  std::string out;
  char buf[4096];
  uint32_t n;
  while ((n = ZOLK2_MpttRead(trap, buf, sizeof buf)) > 0) out.append(buf, n);
  return out;
}

double NowSeconds() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace traptest
