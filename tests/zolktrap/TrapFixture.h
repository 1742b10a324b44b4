// Shared pieces of the reader tests: a trace set laid out by hand (record
// and trace files written directly, so that any content and any record can
// be set up), an owner of reader instances, and a forked child process that
// runs beside the test.
#ifndef ZOLK_TESTS_ZOLKTRAP_TRAPFIXTURE_H
#define ZOLK_TESTS_ZOLKTRAP_TRAPFIXTURE_H

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "common/Process.h"
#include "common/TempDir.h"
#include "tracewriter/TraceWriter.h"
#include "ZolkTrapPtr.h"
#include "zolk2trap.h"

namespace traptest {

using zolkinternal::TrapPtr;

// A record in this host's order with a byte order mark.
management_info_t MakeRecord(uint32_t fileSize, uint32_t fileCount, uint32_t writeFileNumber,
                             uint32_t writeOffset, uint32_t flags = 0,
                             uint32_t lockType = ZOLK2_MPTT_LOCK_LOCKF);

// Writes bytes at an offset of a file (created when missing), in place:
// a reader's mapping of the file stays valid.
void PutBytes(const std::string& path, const std::string& bytes, off_t offset = 0);

// The descriptor of this process open on path (as /proc/self/fd shows
// it), or -1.
int DescriptorOf(const std::string& path);

// True when path lies on a tmpfs, where pages beyond a file's end may read
// as zeros instead of raising SIGBUS.
bool OnTmpfs(const std::string& path);

// A trace set DIR/PREFIXn.log, DIR/mmap/PREFIX.mm in a temporary directory
// on a disk-backed file system.
class TraceSet final {
 public:
  explicit TraceSet(std::string prefix = "t");
  ~TraceSet();

  const std::string& dir() const { return dir_->path(); }
  std::string TracePath(int number) const;
  std::string ManagementPath() const;

  // Writes the record to the management file (in place).
  void WriteRecord(const management_info_t& record,
                   zolksupport::ByteOrder order = zolksupport::HostByteOrder());
  // Changes the writer's position in the last record written and writes it.
  void MoveWriter(uint32_t writeFileNumber, uint32_t writeOffset);
  // Replaces a trace file's content; size 0 means exactly the content,
  // otherwise the file is extended with zeros to that size.
  void WriteTrace(int number, const std::string& content, off_t size = 0);

 private:
  std::unique_ptr<zolktest::TempDir> dir_;
  std::string prefix_;
  management_info_t record_{};
  zolksupport::ByteOrder order_ = zolksupport::HostByteOrder();
};

// Creates an instance for the trace file and opens its management file and
// the stream; fails the test (and returns null) when either fails.
TrapPtr OpenReader(const std::string& traceFile, bool openStream = true);

// Everything Read delivers from the read position to the readable end.
std::string ReadToEnd(ZOLK2_MptTrap_t* trap);

using zolktest::Child;

double NowSeconds();

}  // namespace traptest

#endif
