#include "DevLogSink.h"

#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zolk {
namespace {

constexpr char kDevLog[] = "/dev/log";

std::string failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// A private mount namespace with an empty tmpfs over /dev.
std::string privateDev() {
  if (::unshare(CLONE_NEWNS) != 0) return failure("unshare(CLONE_NEWNS)");
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return failure("making / private");
  if (::mount("devlogsink", "/dev", "tmpfs", 0, "size=64k,mode=0755") != 0)
    return failure("mounting a tmpfs over /dev");
  return {};
}

}  // namespace

DevLogSink::DevLogSink() {
  if (::geteuid() != 0) {
    error_ = "binding /dev/log needs root";
    return;
  }
  std::string why = privateDev();
  if (why.empty()) {
    where_ = "private mount namespace";
  } else {
    struct stat st;
    if (::lstat(kDevLog, &st) == 0) {
      error_ = why + ", and /dev/log of the host is in use";
      return;
    }
    where_ = "/dev/log of the host";
    unlinkOnClose_ = true;
  }
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error_ = failure("socket");
    return;
  }
  struct sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, kDevLog, sizeof kDevLog);
  if (::bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) != 0) {
    error_ = failure("bind /dev/log");
    ::close(fd);
    unlinkOnClose_ = false;
    return;
  }
  ::chmod(kDevLog, 0666);
  int size = 4 << 20;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  fd_ = fd;
}

DevLogSink::~DevLogSink() {
  if (drainer_.joinable()) {
    stop_.store(true);
    drainer_.join();
  }
  if (fd_ >= 0) ::close(fd_);
  if (unlinkOnClose_) ::unlink(kDevLog);
}

std::optional<std::string> DevLogSink::Receive(int timeoutMs, std::string* sender) {
  if (fd_ < 0) return std::nullopt;
  struct pollfd p = {fd_, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) != 1) return std::nullopt;
  char buf[65536];
  struct sockaddr_un from = {};
  socklen_t fromLen = sizeof from;
  ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<struct sockaddr*>(&from), &fromLen);
  if (n < 0) return std::nullopt;
  if (sender != nullptr)
    sender->assign(reinterpret_cast<const char*>(&from), std::min<size_t>(fromLen, sizeof from));
  return std::string(buf, static_cast<size_t>(n));
}

std::string DevLogSink::SenderAddress(int fd) {
  struct sockaddr_un self = {};
  socklen_t len = sizeof self;
  if (::getsockname(fd, reinterpret_cast<struct sockaddr*>(&self), &len) != 0) return {};
  return std::string(reinterpret_cast<const char*>(&self), std::min<size_t>(len, sizeof self));
}

void DevLogSink::StartDraining() {
  if (fd_ < 0 || drainer_.joinable()) return;
  drainer_ = std::thread([this] {
    char buf[65536];
    while (!stop_.load(std::memory_order_relaxed)) {
      struct pollfd p = {fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) != 1) continue;
      while (::recv(fd_, buf, sizeof buf, MSG_DONTWAIT) >= 0) drained_.fetch_add(1);
    }
  });
}

}  // namespace zolk
