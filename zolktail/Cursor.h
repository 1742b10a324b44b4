// The cursor file of zolk2tail: where the last line printed ended, so that
// a later run continues right after it. It names the set by the canonical
// path and the identity of its management file, the trace file and offset,
// and a fingerprint of the bytes before the offset, by which a later run
// tells whether those bytes are still the ones printed (a writer that came
// round, started again or a replaced set changes them).
#ifndef ZOLKTAIL_CURSOR_H
#define ZOLKTAIL_CURSOR_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace zolktail {

constexpr size_t kFingerprintBytes = 256;  // at most this many bytes before the offset

struct Cursor {
  std::string set;          // canonical path of the management file
  uint64_t device = 0;      // identity of the management file
  uint64_t inode = 0;
  uint32_t fileNumber = 0;  // 1..64
  uint32_t offset = 0;      // just after the last line printed; greater than 0
  uint32_t fingerprintLength = 0;  // min(offset, kFingerprintBytes)
  uint64_t fingerprint = 0;        // Fingerprint() of the bytes [offset - length, offset)
};

// FNV-1a, 64 bits.
uint64_t Fingerprint(const char* data, size_t size);

enum class CursorLoad {
  Loaded,
  Missing,  // no file by that name: the run starts as its options say
  Failed,   // unreadable or malformed; *problem says why, for "zolk2tail: FILE: problem"
};

CursorLoad loadCursor(const std::string& path, Cursor* cursor, std::string* problem);

// Replaces the cursor file atomically: a temporary file in the same
// directory, written, fsync'ed and renamed over the name. 0 or errno; a
// failure leaves the previous cursor file as it was.
int saveCursor(const std::string& path, const Cursor& cursor);

}  // namespace zolktail

#endif
