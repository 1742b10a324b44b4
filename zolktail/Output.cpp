#include "Output.h"

#include <unistd.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <cerrno>
#include <cstring>

namespace zolktail {

namespace {

// Copies [in, end) to out (out <= in), dropping each CR that an LF follows.
char* dropPairedCrs(char* out, const char* in, const char* const end) {
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
  return out;
}

#if defined(__x86_64__)
// Trace lines are short, so a call to find each CR and one to move each
// line cost more than the bytes they handle. Where the processor can pack
// the bytes of a vector under a mask, 64 bytes at a time are looked at and
// the ones kept are stored together, with no branch per line. The store
// covers only the bytes kept, which never reach the bytes not yet read.
__attribute__((target("avx512f,avx512bw,avx512vbmi2"))) char* dropPairedCrsBy64(
    char* out, const char*& in, const char* const end) {
  const __m512i crs = _mm512_set1_epi8('\r');
  const __m512i lfs = _mm512_set1_epi8('\n');
  while (end - in > 64) {  // the byte after the block tells a CR LF pair
    const __m512i block = _mm512_loadu_si512(in);
    const __m512i next = _mm512_loadu_si512(in + 1);
    const __mmask64 pairs =
        _mm512_cmpeq_epi8_mask(block, crs) & _mm512_cmpeq_epi8_mask(next, lfs);
    const unsigned kept = 64 - static_cast<unsigned>(__builtin_popcountll(pairs));
    const __mmask64 used = kept == 64 ? ~__mmask64{0} : (__mmask64{1} << kept) - 1;
    _mm512_mask_storeu_epi8(out, used, _mm512_maskz_compress_epi8(~pairs, block));
    out += kept;
    in += 64;
  }
  return out;
}

bool canPackBytes() {
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vbmi2");
}
#endif

}  // namespace

size_t crlfToLf(char* data, size_t size, Conversion how) {
  char* out = data;
  const char* in = data;
#if defined(__x86_64__)
  if (how == Conversion::Fastest && canPackBytes()) out = dropPairedCrsBy64(out, in, data + size);
#else
  (void)how;
#endif
  out = dropPairedCrs(out, in, data + size);
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
