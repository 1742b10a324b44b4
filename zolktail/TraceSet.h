// The trace set a trace file belongs to, as zolk2tail sees it: the names of
// its files, and consistent copies of the management record, which tell
// where the writer is. The data itself is read through libzolk2trap.
#ifndef ZOLKTAIL_TRACESET_H
#define ZOLKTAIL_TRACESET_H

#include <cstdint>
#include <string>

#include "zolk2trap.h"

namespace zolktail {

// DIR/PREFIXn.log and DIR/mmap/PREFIX.mm.
struct SetName {
  std::string directory;  // up to and including the last '/'; empty for none
  std::string prefix;     // the file name without its number and ".log"
  int number = 0;         // number of the named file
  std::string managementPath;

  std::string tracePath(int64_t fileNumber) const;
};

// Splits a trace file name the way the reader library does: the last digit
// before ".log" is the file number when DIR/mmap/PREFIX.mm exists for the
// rest of the name, otherwise the last two digits are. False when the name
// has no number 1 to 64 before ".log"; a management file that exists for
// neither reading is left for the caller to report, under the name of the
// likelier one.
bool parseSetName(const std::string& traceFile, SetName* name);

// A file as the system knows it, whatever its name: a name that leads to
// another identity than an open descriptor's was replaced.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity& o) const { return device == o.device && inode == o.inode; }
  bool operator!=(const FileIdentity& o) const { return !(*this == o); }
  // The identity of what path leads to; false with errno in *error.
  static bool of(const std::string& path, FileIdentity* identity, int* error);
};

enum class RecordStatus {
  Ok,
  NoRecordYet,  // the file is shorter than a record: the writer is setting up
  Invalid,      // a whole record that is not valid (a writer offset beyond the
                // signed range included), or an unsupported lock type
  Busy,         // the writer kept the lock for the whole of the attempts
  Failed,       // reading the file failed (errno in *error)
};

// Owner of a descriptor of the management file. Copies of the record are
// taken as the reader library takes them: under the writer's lockf() lock
// unless the record says readers take none, which is why the file is
// opened read-write.
class ManagementFile final {
 public:
  ManagementFile() = default;
  ~ManagementFile();
  ManagementFile(const ManagementFile&) = delete;
  ManagementFile& operator=(const ManagementFile&) = delete;

  int open(const std::string& path);  // 0 or errno
  // The record in this host's byte order.
  RecordStatus snapshot(management_info_t* record, int* error);
  const FileIdentity& identity() const { return identity_; }

 private:
  int fd_ = -1;
  FileIdentity identity_;
  enum class Locking { Unknown, Lock, NoLock } locking_ = Locking::Unknown;
};

}  // namespace zolktail

#endif
