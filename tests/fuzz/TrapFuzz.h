// Shared pieces of the reader's fuzz targets: a trace set in the scratch
// directory, management records drawn from the input (mostly near the
// valid ones, so that the fuzzer spends its time past the validation),
// trace bytes rich in the bytes that frame lines and end the data, and the
// reference model of how a record is read.
#ifndef ZOLK_TESTS_FUZZ_TRAPFUZZ_H
#define ZOLK_TESTS_FUZZ_TRAPFUZZ_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzCommon.h"
#include "ZolkTrapPtr.h"
#include "zolk2trap.h"

namespace zolkfuzz {

using zolkinternal::TrapPtr;

// DIR/tN.log and DIR/mmap/t.mm, DIR emptied of earlier inputs' files.
struct TraceSet {
  std::string trace;
  std::string management;

  explicit TraceSet(int fileNumber) {
    const std::string dir = ScratchDir() + "/trc";
    ::mkdir(dir.c_str(), 0755);
    ::mkdir((dir + "/mmap").c_str(), 0755);
    RemoveAllBut(dir, {"mmap"});
    trace = dir + "/t" + std::to_string(fileNumber) + ".log";
    management = dir + "/mmap/t.mm";
  }
};

// Writes bytes at an offset of an existing file, in place.
inline void PutBytes(const std::string& path, const std::string& bytes, off_t offset) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  FUZZ_CHECK(fd >= 0 && ::pwrite(fd, bytes.data(), bytes.size(), offset) ==
                            static_cast<ssize_t>(bytes.size()),
             "cannot write " + path);
  ::close(fd);
}

// The words of a record in this host's order.
struct Record {
  char magic[4];
  uint32_t words[8];  // mark, fileSize, fileCount, writeOffset, writeFileNumber, flags, lockType, reserved
  uint32_t& mark() { return words[0]; }
  uint32_t fileSize() const { return words[1]; }
  uint32_t fileCount() const { return words[2]; }
  uint32_t& writeOffset() { return words[3]; }
  uint32_t& writeFileNumber() { return words[4]; }
  uint32_t flags() const { return words[5]; }
  uint32_t lockType() const { return words[6]; }
};

inline uint32_t Swap(uint32_t v) { return __builtin_bswap32(v); }

// The 64 bytes of a record, in this host's order or swapped.
inline std::string EncodeRecord(const Record& r, bool swapped, const std::string& tail = "") {
  std::string bytes(r.magic, 4);
  for (uint32_t w : r.words) {
    const uint32_t v = swapped ? Swap(w) : w;
    bytes.append(reinterpret_cast<const char*>(&v), 4);
  }
  bytes += tail.substr(0, 28);
  bytes.resize(ZOLK2_MPTT_RECORD_SIZE, '\0');
  return bytes;
}

inline bool ValidRecord(const Record& r) {
  const int32_t n = static_cast<int32_t>(r.words[4]);
  return std::memcmp(r.magic, "ZOLK", 4) == 0 && r.fileSize() >= 4096 &&
         r.fileSize() <= 16777216 && r.fileCount() >= 1 && r.fileCount() <= 64 && n >= 1 &&
         n <= static_cast<int32_t>(r.fileCount());
}

// How the reader must read a management file: false when it is shorter
// than a record, its mark is neither order's, or the record is invalid.
// A record without a mark is taken in whichever order makes it valid, this
// host's first.
inline bool DecodeRecord(const std::string& file, Record* r) {
  if (file.size() < ZOLK2_MPTT_RECORD_SIZE) return false;
  std::memcpy(r->magic, file.data(), 4);
  std::memcpy(r->words, file.data() + 4, sizeof r->words);
  const uint32_t mark = r->words[0];
  bool swap = mark == Swap(ZOLK2_MPTT_BYTE_ORDER_MARK);
  if (mark == 0) swap = !ValidRecord(*r);
  if (!swap && mark != 0 && mark != ZOLK2_MPTT_BYTE_ORDER_MARK) return false;
  if (swap) {
    for (uint32_t& w : r->words) w = Swap(w);
  }
  return ValidRecord(*r);
}

// A record for the instance's file number: each field usually in range,
// sometimes at or just past a limit, now and then anything.
inline Record ConsumeRecord(FuzzedDataProvider& fdp, int fileNumber, size_t traceSize) {
  Record r;
  std::memcpy(r.magic, fdp.ConsumeIntegralInRange(0, 15) == 0 ? "ZOLx" : "ZOLK", 4);
  const uint32_t marks[] = {ZOLK2_MPTT_BYTE_ORDER_MARK, Swap(ZOLK2_MPTT_BYTE_ORDER_MARK), 0, 1};
  r.words[0] = fdp.PickValueInArray(marks);
  const uint32_t sizes[] = {4096, 4096, 8192, 65536, 4095, 16777216, 16777217};
  r.words[1] = fdp.PickValueInArray(sizes);
  r.words[2] = fdp.ConsumeIntegralInRange<uint32_t>(0, 66);
  const uint32_t slack = static_cast<uint32_t>(traceSize) + 64;
  r.words[3] = fdp.ConsumeIntegralInRange<uint32_t>(0, 2 * slack);
  const int other = fdp.ConsumeIntegralInRange(-1, 66);
  r.words[4] = fdp.ConsumeBool() ? static_cast<uint32_t>(fileNumber) : static_cast<uint32_t>(other);
  r.words[5] = fdp.ConsumeBool() ? ZOLK2_MPTT_FLAG_NO_LOCK : fdp.ConsumeIntegral<uint8_t>();
  r.words[6] = fdp.ConsumeIntegralInRange<uint32_t>(0, 3);
  r.words[7] = fdp.ConsumeIntegral<uint32_t>();
  return r;
}

// Trace bytes: raw, or (mostly) drawn from the bytes the end scan and the
// line reads care about.
inline std::string ConsumeTraceBytes(FuzzedDataProvider& fdp, size_t maxLength) {
  std::string bytes = fdp.ConsumeRandomLengthString(maxLength);
  if (fdp.ConsumeIntegralInRange(0, 3) != 0) {
    static const char alphabet[] = {'a', 'b', '\r', '\n', '\x1A', '\xFE', '\xFF', '\r', '\n'};
    for (char& c : bytes) c = alphabet[static_cast<unsigned char>(c) % sizeof alphabet];
  }
  return bytes;
}

inline bool IsReaderError(int code) {
  switch (code) {
    case 2: case 3: case 7: case 11: case 13: case 20: case 22: case 23: case 29:
      return true;
    default:
      return false;
  }
}

}  // namespace zolkfuzz

#endif
