// A writer of trace file sets in the layout the reader library follows:
// DIR/PREFIXn.log for n = 1..fileCount, written in rotation, and the
// management file DIR/mmap/PREFIX.mm whose 64-byte record tells readers the
// file size and count, the file being written and how far.
//
// Lines are appended with CR LF. The record is rewritten after every line
// and every rotation while the writer holds a lockf() lock on the whole
// management file, the lock readers take to copy it. A file the writer
// leaves is ended with the end-of-data byte 0x1A, optionally after the mark
// FE FF; coming round to a file again, the writer overwrites it in place
// from offset 0, or, with replaceFiles, puts a new file (a new inode) in its
// place. Trace files only ever grow while the writer lives.
//
// Results are 0 or an errno value; nothing is printed.
#ifndef ZOLK_SUPPORT_TRACEWRITER_H
#define ZOLK_SUPPORT_TRACEWRITER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zolk2trap.h"

namespace zolksupport {

enum class ByteOrder { Little, Big };

ByteOrder HostByteOrder();

// The 64 bytes of a management record whose fields are given in this
// host's order, written in `order`. The byte order mark is taken as given
// (ZOLK2_MPTT_BYTE_ORDER_MARK, 0 for none, or anything else).
std::vector<unsigned char> EncodeManagementRecord(const management_info_t& record, ByteOrder order);

struct TraceWriterOptions {
  std::string directory;  // DIR; must exist, DIR/mmap is created when missing
  std::string prefix;     // PREFIX
  uint32_t fileSize = 65536;  // ZOLK2_MPTT_MIN_FILE_SIZE..ZOLK2_MPTT_MAX_FILE_SIZE
  uint32_t fileCount = 4;     // 1..ZOLK2_MPTT_MAX_FILE_COUNT
  ByteOrder byteOrder = HostByteOrder();
  bool byteOrderMark = true;  // false: the mark word is 0
  bool preExtend = true;      // a file entered for the first time is extended to fileSize
  bool endMarkPair = false;   // FE FF before the 0x1A that ends a file
  // A file entered again is unlinked and created anew (and pre-extended when
  // preExtend says so) instead of being overwritten in place, the way a
  // writer that renames or removes its old files behaves: a reader holding
  // the old file keeps the old data and must notice the new one by its inode.
  bool replaceFiles = false;
  uint32_t flags = 0;         // flags word of the record
  uint32_t lockType = ZOLK2_MPTT_LOCK_LOCKF;  // lock type word of the record
};

// The writer of one trace set. Creating it starts afresh at file 1, offset
// 0: each file is truncated the first time this writer enters it. A writer
// that starts the set again from scratch is one destroyed and created anew
// on the same set.
class TraceWriter final {
 public:
  // EINVAL for options out of range, otherwise the errno of the failing call.
  static int Create(const TraceWriterOptions& options, std::unique_ptr<TraceWriter>* writer);
  ~TraceWriter();
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // Appends text + CR LF, leaving the current file first when the line and
  // the end mark would not fit. EINVAL for text holding CR, LF or 0x1A
  // (they would break the framing readers rely on), EMSGSIZE for a line
  // that fits in no file.
  int WriteLine(std::string_view text);
  // Ends the current file and moves on to the next of the rotation.
  int Rotate();

  uint32_t fileNumber() const { return fileNumber_; }
  uint32_t writeOffset() const { return writeOffset_; }
  std::string TraceFilePath(uint32_t number) const;
  const std::string& managementPath() const { return managementPath_; }

 private:
  explicit TraceWriter(const TraceWriterOptions& options);
  int EnterFile(uint32_t number);
  int PublishRecord();
  uint32_t EndMarkLength() const { return options_.endMarkPair ? 3 : 1; }

  const TraceWriterOptions options_;
  const std::string managementPath_;
  int managementFd_ = -1;
  int traceFd_ = -1;
  uint32_t fileNumber_ = 0;
  uint32_t writeOffset_ = 0;
  std::vector<bool> entered_;  // files entered before, by number - 1
  std::string line_;           // reused buffer of the line being written
};

// The line numbered `number` of a reproducible test text: "%08u " followed
// by letters that depend on the number, `length` bytes in all (without the
// CR LF). Tests and demonstrations check what they read against it.
std::string NumberedLine(uint64_t number, size_t length);

}  // namespace zolksupport

#endif
