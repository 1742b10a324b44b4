// The readable end over arbitrary management records and trace bytes:
// ZOLK2_MpttGetCurrentOffset call by call against a model of the record's
// byte order and validation, of the mapping, and of the end-of-data scan
// (here a table of states, not a switch), while the writer changes the
// record and appends to the file. After every call the stream must deliver
// exactly the file's bytes up to the end it reported.
#include <algorithm>
#include <string>

#include "FuzzCommon.h"
#include "TrapFuzz.h"

namespace {

using namespace zolkfuzz;

enum State { kNone, kCr, kLineEnd, kMarkFe, kMarkFf, kMark, kStop };

// The end-of-data scan as a table: rows by state, columns CR, LF, 0x1A,
// FE, FF, any other byte.
const State kScan[6][6] = {
    {kCr, kNone, kNone, kNone, kNone, kNone},                 // none
    {kCr, kLineEnd, kCr, kCr, kCr, kCr},                      // CR
    {kCr, kLineEnd, kStop, kMarkFe, kMarkFf, kLineEnd},       // line end
    {kCr, kMarkFe, kMarkFe, kMarkFe, kMark, kMarkFe},         // FE
    {kCr, kMarkFf, kMarkFf, kMark, kMarkFf, kMarkFf},         // FF
    {kCr, kMark, kStop, kMark, kMark, kMark},                 // mark
};

int column(unsigned char c) {
  switch (c) {
    case 0x0D: return 0;
    case 0x0A: return 1;
    case 0x1A: return 2;
    case 0xFE: return 3;
    case 0xFF: return 4;
    default: return 5;
  }
}

// Resuming at a previous end: a line end is known at offset 0 or right after
// a CR LF; elsewhere the scan must see one of its own.
uint32_t scanModel(const std::string& data, uint32_t from, uint32_t end) {
  State s = from == 0 || (from >= 2 && data.compare(from - 2, 2, "\r\n") == 0) ? kLineEnd : kNone;
  for (uint32_t i = from; i < end; ++i) {
    s = kScan[s][column(static_cast<unsigned char>(data[i]))];
    if (s == kStop) return i;
  }
  return end;
}

// What the reader knows of the trace file: its mapping and its size.
struct Model {
  int fileNumber;
  std::string trace, management;
  bool mapped = false;
  uint32_t mappedLength = 0, traceSize = 0, currentOffset = 0;

  void open() {
    Record r;
    if (!trace.empty()) {
      mapped = true;
      mappedLength = static_cast<uint32_t>(std::min<size_t>(trace.size(), 16777216));
    } else if (DecodeRecord(management, &r)) {
      // An empty file is mapped with the record's size, to show the data as it comes.
      mapped = true;
      mappedLength = r.fileSize();
    }
  }
  void remap() {
    mapped = false;
    mappedLength = traceSize = 0;
    open();
  }
  int currentEnd() {
    Record r;
    if (!DecodeRecord(management, &r)) return -1;
    const bool lock = (r.flags() & ZOLK2_MPTT_FLAG_NO_LOCK) == 0;
    if (lock && r.lockType() > 1) return -1;
    const uint32_t w = r.writeOffset();
    const bool beingWritten = fileNumber == static_cast<int>(r.writeFileNumber());
    if (beingWritten) {
      if (mappedLength < w) remap();
      if (currentOffset <= w) {
        if (traceSize < w) traceSize = mapped ? static_cast<uint32_t>(trace.size()) : 0;
        currentOffset = w;
        return static_cast<int>(w);
      }
    }
    if (!mapped || mappedLength < r.fileSize() || mappedLength < w) {
      remap();
      if (!mapped) return -1;
    }
    traceSize = static_cast<uint32_t>(trace.size());
    const uint32_t examinable = std::min(mappedLength, traceSize);
    const bool atEnd = currentOffset >= examinable || trace[currentOffset] == '\x1A';
    if (atEnd) {
      if (beingWritten) currentOffset = w;
      return static_cast<int>(currentOffset);
    }
    currentOffset = scanModel(trace, currentOffset, examinable);
    return static_cast<int>(currentOffset);
  }
  uint32_t readable() const { return std::min({currentOffset, mappedLength, traceSize}); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  Model m;
  m.fileNumber = fdp.ConsumeBool() ? fdp.ConsumeIntegralInRange(1, 3) : fdp.ConsumeIntegralInRange(1, 64);
  const TraceSet set(m.fileNumber);
  m.trace = ConsumeTraceBytes(fdp, 2048);
  if (fdp.ConsumeIntegralInRange(0, 7) == 0) {
    m.management = fdp.ConsumeRandomLengthString(80);  // anything at all
  } else {
    m.management = EncodeRecord(ConsumeRecord(fdp, m.fileNumber, m.trace.size()), fdp.ConsumeBool());
  }
  WriteFile(set.management, m.management);
  WriteFile(set.trace, m.trace);

  TrapPtr trap(ZOLK2_MpttCreateInstance(set.trace.c_str()));
  FUZZ_CHECK(trap != nullptr, "no instance");
  FUZZ_CHECK(ZOLK2_MpttOpenManagementFile(trap.get()) == 0, "management file not opened");
  m.open();
  const bool stream = ZOLK2_MpttOpen(trap.get()) == 0;
  FUZZ_CHECK(stream == m.mapped, "stream opened without a mapping, or not with one");

  for (int step = 0; step < 8 && fdp.remaining_bytes() > 0; ++step) {
    switch (fdp.ConsumeIntegralInRange(0, 3)) {
      case 0: {  // the writer publishes a new record
        const Record r = ConsumeRecord(fdp, m.fileNumber, m.trace.size());
        m.management = EncodeRecord(r, fdp.ConsumeBool());
        PutBytes(set.management, m.management, 0);
        break;
      }
      case 1: {  // the writer moves on in this file or to another
        Record r;
        if (!DecodeRecord(m.management, &r)) break;
        r.writeOffset() = fdp.ConsumeIntegralInRange<uint32_t>(0, static_cast<uint32_t>(m.trace.size()) + 64);
        r.writeFileNumber() = fdp.ConsumeBool() ? m.fileNumber : fdp.ConsumeIntegralInRange(1, 3);
        r.mark() = ZOLK2_MPTT_BYTE_ORDER_MARK;
        m.management = EncodeRecord(r, false, m.management.substr(36));
        PutBytes(set.management, m.management, 0);
        break;
      }
      case 2: {  // the writer appends
        const std::string more = ConsumeTraceBytes(fdp, 512);
        PutBytes(set.trace, more, static_cast<off_t>(m.trace.size()));
        m.trace += more;
        break;
      }
      default:
        break;
    }
    const uint32_t before = m.currentOffset;
    const int want = m.currentEnd();
    const int got = ZOLK2_MpttGetCurrentOffset(trap.get());
    const std::string what = "step " + std::to_string(step) + ": end " + std::to_string(got) +
                             ", expected " + std::to_string(want) + " (previous end " +
                             std::to_string(before) + ", trace " + Printable(m.trace.substr(0, 256)) + ")";
    FUZZ_CHECK(got == want, what);
    if (got == -1) {
      FUZZ_CHECK(IsReaderError(ZOLK2_MpttGetLastError(trap.get())), what + ": error code");
    }
    if (!stream) continue;
    // The stream delivers the file's bytes up to the end, and nothing more.
    FUZZ_CHECK(ZOLK2_MpttSeek(trap.get(), 0, ZOLK2_MPTT_SEEK_SET) == 0, what + ": seek");
    std::string read;
    char buf[777];
    for (uint32_t n; (n = ZOLK2_MpttRead(trap.get(), buf, sizeof buf)) > 0;) read.append(buf, n);
    FUZZ_CHECK(read == m.trace.substr(0, m.readable()),
               what + ": read " + std::to_string(read.size()) + " bytes, expected " +
                   std::to_string(m.readable()));
  }
  return 0;
}
