// Arbitrary sequences of Read, GetLine, GetChar, Seek, Tell and
// GetCurrentOffset, stream and management file closes and reopens, while
// the files change between the calls.
//
// The trace file only grows, is overwritten in place or is replaced by a
// new file under its name: a writer that shrinks a file a reader has mapped
// makes the reader's process fault by design (see zolk2trap.h), so that is
// no input here. The management file is also cut short and restored, which
// the reader must notice before it copies the record.
//
// Invariants: every byte delivered is the byte at that offset of the file
// the reader has mapped (the current file, or one replaced since) and lies
// below the last end reported; a short Read or an unfinished line happens
// only at the readable end; GetLine stores at most size - 1 bytes, a
// terminator after them and no LF before the last; Tell follows every
// delivery and every seek; each refusal carries its documented code.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "FuzzCommon.h"
#include "TrapFuzz.h"

namespace {

using namespace zolkfuzz;

struct Harness {
  Harness(FuzzedDataProvider& f, const TraceSet& s, ZOLK2_MptTrap_t* t, int n, const std::string& first,
          const Record& r, bool sw)
      : fdp(f), set(s), trap(t), fileNumber(n), files{first}, record(r), swapped(sw) {}

  FuzzedDataProvider& fdp;
  const TraceSet& set;
  ZOLK2_MptTrap_t* trap;
  int fileNumber;
  std::vector<std::string> files;  // contents of every trace file mapped so far; the last is current
  Record record;
  bool swapped;
  bool managementOpen = true, streamOpen = false;
  uint32_t pos = 0, end = 0;  // read position, last end reported
  std::string log;            // the calls so far, for the report

  void check(bool ok, const std::string& what) {
    FUZZ_CHECK(ok, what + "\n  after: " + log);
  }
  void code(int want) {
    const int got = ZOLK2_MpttGetLastError(trap);
    check(got == want, "error code " + std::to_string(got) + ", expected " + std::to_string(want));
  }

  // Bytes at pos that no file the reader can have mapped holds are an error.
  void delivered(const std::string& bytes) {
    if (bytes.empty()) return;
    bool found = false;
    for (const std::string& f : files) {
      found = found || (pos + bytes.size() <= f.size() && f.compare(pos, bytes.size(), bytes) == 0);
    }
    check(found, "delivered " + Printable(bytes) + " at " + std::to_string(pos) +
                     ", which no mapped file holds there");
    check(pos + bytes.size() <= end, "delivered past the end " + std::to_string(end));
    pos += static_cast<uint32_t>(bytes.size());
  }
  void atReadableEnd() {
    check(ZOLK2_MpttGetChar(trap) == -1, "stopped short of the readable end");
  }
  void tellIs(uint32_t want) {
    check(ZOLK2_MpttTell(trap) == static_cast<int>(want), "tell is not " + std::to_string(want));
  }
  void publish() {
    PutBytes(set.management, EncodeRecord(record, swapped), 0);
  }

  void step() {
    const int op = fdp.ConsumeIntegralInRange(0, 13);
    log += " " + std::to_string(op);
    switch (op) {
      case 0: {
        const int got = ZOLK2_MpttGetCurrentOffset(trap);
        if (!managementOpen) {
          check(got == -1, "end without a management file");
          code(ZOLK2_MPTT_E_STATE);
        } else if (got == -1) {
          check(IsReaderError(ZOLK2_MpttGetLastError(trap)), "unknown error code");
        } else {
          end = static_cast<uint32_t>(got);
        }
        break;
      }
      case 1: {
        const uint32_t size = fdp.ConsumeIntegralInRange<uint32_t>(0, 300);
        std::unique_ptr<char[]> buf(new char[size + 1]);
        const uint32_t n = ZOLK2_MpttRead(trap, buf.get(), size);
        check(n <= size, "read more than asked");
        if (!streamOpen) {
          check(n == 0, "read on a closed stream");
          code(ZOLK2_MPTT_E_STATE);
          break;
        }
        delivered(std::string(buf.get(), n));
        if (n < size) atReadableEnd();
        break;
      }
      case 2: {
        const int c = ZOLK2_MpttGetChar(trap);
        if (!streamOpen) {
          check(c == -1, "a byte from a closed stream");
          code(ZOLK2_MPTT_E_STATE);
        } else if (c != -1) {
          check(c >= 0 && c <= 255, "GetChar out of range");
          delivered(std::string(1, static_cast<char>(c)));
        }
        break;
      }
      case 3: {
        const uint32_t size = fdp.ConsumeIntegralInRange<uint32_t>(0, 300);
        // Exactly size bytes, so that a write past them is caught.
        std::unique_ptr<char[]> buf(new char[size == 0 ? 1 : size]);
        std::memset(buf.get(), 0x55, size == 0 ? 1 : size);
        const uint32_t n = ZOLK2_MpttGetLine(trap, buf.get(), size);
        if (!streamOpen || size == 0) {
          check(n == 0 && buf[0] == 0x55, "GetLine with nothing to store");
          if (!streamOpen) code(ZOLK2_MPTT_E_STATE);
          break;
        }
        check(n <= size - 1, "line longer than the buffer allows");
        check(n == 0 ? buf[0] == '\0' || buf[0] == 0x55 : buf[n] == '\0', "line not terminated");
        const std::string line(buf.get(), n);
        check(line.find('\n') == std::string::npos || line.find('\n') == n - 1, "LF inside a line");
        delivered(line);
        if (n < size - 1 && (n == 0 || line.back() != '\n')) atReadableEnd();
        break;
      }
      case 4: {
        const int origins[] = {0, 1, 2, 3, -1};
        const int origin = fdp.PickValueInArray(origins);
        const int32_t extremes[] = {INT32_MIN, -1, 0, 1, INT32_MAX};
        const int32_t offset = fdp.ConsumeBool() ? fdp.PickValueInArray(extremes)
                                                 : fdp.ConsumeIntegralInRange<int32_t>(-600, 600);
        const int rc = ZOLK2_MpttSeek(trap, offset, origin);
        if (!streamOpen) {
          check(rc == ZOLK2_MPTT_E_STATE, "seek on a closed stream");
          break;
        }
        const int64_t from = origin == 1 ? pos : 0;
        if (origin < 0 || origin > 2) {
          check(rc == ZOLK2_MPTT_E_INVALID, "seek from an unknown origin");
        } else if ((origin == 2 && offset > 0) || (origin != 2 && from + offset < 0)) {
          check(rc == ZOLK2_MPTT_E_SEEK, "seek out of range accepted");
        } else {
          check(rc == 0 || rc == ZOLK2_MPTT_E_SEEK, "seek code " + std::to_string(rc));
        }
        if (rc == 0 && origin != 2) pos = static_cast<uint32_t>(from + offset);
        if (rc == 0 && origin == 2) pos = static_cast<uint32_t>(ZOLK2_MpttTell(trap));
        tellIs(pos);
        break;
      }
      case 5:
        if (streamOpen) {
          tellIs(pos);
        } else {
          check(ZOLK2_MpttTell(trap) == -1, "tell on a closed stream");
          code(ZOLK2_MPTT_E_STATE);
        }
        break;
      case 6: {  // the writer appends
        const std::string more = ConsumeTraceBytes(fdp, 400);
        PutBytes(set.trace, more, static_cast<off_t>(files.back().size()));
        files.back() += more;
        break;
      }
      case 7: {  // the writer overwrites in place
        std::string& f = files.back();
        if (f.empty()) break;
        const size_t at = fdp.ConsumeIntegralInRange<size_t>(0, f.size() - 1);
        const std::string bytes = ConsumeTraceBytes(fdp, f.size() - at);
        PutBytes(set.trace, bytes, static_cast<off_t>(at));
        f.replace(at, bytes.size(), bytes);
        break;
      }
      case 8: {  // a new file takes the name; the old one lives on in its mappings
        if (files.size() >= 8) break;
        const std::string fresh = ConsumeTraceBytes(fdp, 1024);
        WriteFile(set.trace + ".new", fresh);
        check(::rename((set.trace + ".new").c_str(), set.trace.c_str()) == 0, "rename");
        files.push_back(fresh);
        break;
      }
      case 9: {  // the writer publishes a new position
        record.writeOffset() =
            fdp.ConsumeIntegralInRange<uint32_t>(0, static_cast<uint32_t>(files.back().size()) + 64);
        record.writeFileNumber() = static_cast<uint32_t>(fdp.ConsumeBool() ? fileNumber : 3 - fileNumber);
        publish();
        break;
      }
      case 10: {  // the management file cut short, or whole again
        if (fdp.ConsumeBool()) {
          check(::truncate(set.management.c_str(), fdp.ConsumeIntegralInRange(0, 63)) == 0, "truncate");
        } else {
          publish();
        }
        break;
      }
      case 11:
        if (streamOpen) {
          check(ZOLK2_MpttClose(trap) == 0, "stream close");
          streamOpen = false;
        } else {
          const int rc = ZOLK2_MpttOpen(trap);
          check(managementOpen ? rc == 0 || IsReaderError(rc) : rc == ZOLK2_MPTT_E_STATE,
                "stream open code " + std::to_string(rc));
          streamOpen = rc == 0;
          if (streamOpen) pos = 0;
        }
        break;
      case 12:
      case 13: {
        if (managementOpen) {
          const int rc = ZOLK2_MpttCloseManagementFile(trap);
          check(rc == (streamOpen ? ZOLK2_MPTT_E_STATE : 0), "management close code " + std::to_string(rc));
          managementOpen = streamOpen;
        } else {
          check(ZOLK2_MpttOpenManagementFile(trap) == 0, "management reopen");
          managementOpen = true;
          end = 0;
        }
        break;
      }
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  const int fileNumber = fdp.ConsumeIntegralInRange(1, 2);
  const TraceSet set(fileNumber);
  const std::string first = ConsumeTraceBytes(fdp, 1024);
  WriteFile(set.trace, first);
  Record record = ConsumeRecord(fdp, fileNumber, first.size());
  std::memcpy(record.magic, "ZOLK", 4);
  record.words[1] = fdp.ConsumeBool() ? 4096 : 65536;
  record.words[2] = 2;
  record.writeFileNumber() = static_cast<uint32_t>(fdp.ConsumeBool() ? fileNumber : 3 - fileNumber);
  const bool swapped = fdp.ConsumeBool();
  WriteFile(set.management, EncodeRecord(record, swapped));

  TrapPtr trap(ZOLK2_MpttCreateInstance(set.trace.c_str()));
  FUZZ_CHECK(trap != nullptr && ZOLK2_MpttOpenManagementFile(trap.get()) == 0, "reader not opened");
  Harness h(fdp, set, trap.get(), fileNumber, first, record, swapped);
  h.streamOpen = ZOLK2_MpttOpen(trap.get()) == 0;
  for (int i = 0; i < 64 && fdp.remaining_bytes() > 0; ++i) h.step();
  return 0;
}
