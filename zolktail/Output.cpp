#include "Output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zolktail {

size_t crlfToLf(char* data, size_t size) {
  char* out = data;
  const char* in = data;
  const char* const end = data + size;
  while (in < end) {
    const char* cr = static_cast<const char*>(std::memchr(in, '\r', static_cast<size_t>(end - in)));
    if (cr == nullptr) cr = end;
    const bool pair = cr + 1 < end && cr[1] == '\n';
    // Copy up to the CR, keeping it unless an LF follows.
    const char* const upTo = cr < end && !pair ? cr + 1 : cr;
    const size_t n = static_cast<size_t>(upTo - in);
    if (out != in) std::memmove(out, in, n);
    out += n;
    in = upTo + (pair ? 1 : 0);
  }
  return static_cast<size_t>(out - data);
}

Output::Output(int fd, bool raw, const volatile sig_atomic_t* stops)
    : fd_(fd), raw_(raw), stops_(stops) {}

OutputStatus Output::put(char* data, size_t size) {
  if (*stops_ > 0) return OutputStatus::Stopped;
  return writeAll(data, raw_ ? size : crlfToLf(data, size));
}

// A stop signal interrupts a write(2) that blocks; what part of the data
// went out then is up to the kernel. Whatever it was, the line it stopped
// in is finished before the command ends, so that no reader of the output
// sees half a line; a second signal ends it at once.
OutputStatus Output::writeAll(const char* data, size_t size) {
  size_t done = 0;
  bool finishing = false;
  while (done < size) {
    const ssize_t n = ::write(fd_, data + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EPIPE) {
      return OutputStatus::Closed;
    } else if (n < 0 && errno != EINTR) {
      error_ = errno;
      return OutputStatus::Failed;
    }
    if (*stops_ == 0 || done == size) continue;
    if (finishing && *stops_ > 1) return OutputStatus::Stopped;
    if (!finishing) {
      finishing = true;
      if (done == 0 || data[done - 1] == '\n') return OutputStatus::Stopped;
      const void* lf = std::memchr(data + done, '\n', size - done);
      if (lf != nullptr) size = static_cast<size_t>(static_cast<const char*>(lf) - data) + 1;
    }
  }
  return *stops_ > 0 ? OutputStatus::Stopped : OutputStatus::Ok;
}

}  // namespace zolktail
