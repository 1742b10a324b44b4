// Standard output of zolk2tail: whole lines in large write(2)s, the trace's
// CR LF line ends turned into LF unless the bytes are to be printed as read.
#ifndef ZOLKTAIL_OUTPUT_H
#define ZOLKTAIL_OUTPUT_H

#include <signal.h>

#include <cstddef>

namespace zolktail {

enum class OutputStatus {
  Ok,
  Closed,   // the reader of the pipe has gone (EPIPE)
  Stopped,  // a stop signal came; everything written ends with a whole line
  Failed,   // write(2) failed otherwise (errno in error())
};

class Output final {
 public:
  // stops counts the stop signals received (set by their handler).
  Output(int fd, bool raw, const volatile sig_atomic_t* stops);

  // Writes size bytes of whole lines (the last one may lack its line end
  // only where the data ends so), converting them in place first.
  OutputStatus put(char* data, size_t size);
  int error() const { return error_; }

 private:
  OutputStatus writeAll(const char* data, size_t size);

  const int fd_;
  const bool raw_;
  const volatile sig_atomic_t* const stops_;
  int error_ = 0;
};

// Turns every CR LF of [data, data+size) into LF in place; returns the new
// size. Portable takes the way every processor has (for the tests).
enum class Conversion { Fastest, Portable };
size_t crlfToLf(char* data, size_t size, Conversion how = Conversion::Fastest);

}  // namespace zolktail

#endif
