// Owner of one file descriptor, for the libraries and programs of the
// toolkit: the descriptor is closed when the owner goes out of scope,
// unless it was handed over with release(). Private to the tree.
#ifndef ZOLK_INTERNAL_ZOLKUNIQUEFD_H
#define ZOLK_INTERNAL_ZOLKUNIQUEFD_H

#include <unistd.h>

namespace zolkinternal {

class UniqueFd final {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  // Hands the descriptor over; the owner holds none afterwards.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor held, if any, and takes fd.
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

}  // namespace zolkinternal

#endif
