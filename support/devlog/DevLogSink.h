// A datagram socket bound at /dev/log that only the calling process sees,
// so that what the C library's syslog() sends can be received and read.
//
// Preferred: a private mount namespace with a tmpfs over /dev (needs root,
// and a process with a single thread, since the mount namespace can only be
// unshared then). Otherwise, as root on a machine without /dev/log, the
// socket is bound at /dev/log itself and removed again by the destructor.
#ifndef ZOLK_SUPPORT_DEVLOGSINK_H
#define ZOLK_SUPPORT_DEVLOGSINK_H

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

namespace zolk {

class DevLogSink final {
 public:
  // Binds the socket; error() tells why when it could not.
  DevLogSink();
  ~DevLogSink();
  DevLogSink(const DevLogSink&) = delete;
  DevLogSink& operator=(const DevLogSink&) = delete;

  bool ok() const { return fd_ >= 0; }
  const std::string& error() const { return error_; }
  // "private mount namespace" or "/dev/log of the host".
  const char* where() const { return where_; }

  // The next datagram, or nothing after timeoutMs milliseconds; *sender, when
  // given, gets the sender's address (see SenderAddress()).
  std::optional<std::string> Receive(int timeoutMs, std::string* sender = nullptr);
  // The address Receive() reports for datagrams sent through socket fd.
  static std::string SenderAddress(int fd);

  // From now on a background thread reads and discards every datagram until
  // the sink is destroyed (for benchmarks, so that senders never block).
  void StartDraining();
  std::uint64_t drained() const { return drained_.load(); }

 private:
  int fd_ = -1;
  bool unlinkOnClose_ = false;
  const char* where_ = "";
  std::string error_;
  std::thread drainer_;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> drained_{0};
};

}  // namespace zolk

#endif
