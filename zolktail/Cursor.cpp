// The cursor file: a header naming the format and its version, then one
// field a line in a fixed order, numbers in decimal but the fingerprint:
//   zolk2tail cursor 1
//   set /var/trc/mmap/app.mm
//   device 2049
//   inode 1835017
//   file 3
//   offset 81920
//   fingerprint 256 0123456789abcdef
// The set path is the rest of its line: any bytes but a line end or NUL.
#include "Cursor.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "ZolkUniqueFd.h"
#include "zolk2trap.h"

namespace zolktail {
namespace {

using zolkinternal::UniqueFd;

const char kHeader[] = "zolk2tail cursor 1\n";
// Far more than a file holding a set path of PATH_MAX bytes needs; anything
// larger is not one of ours, and is not read into memory.
constexpr size_t kMaxFileSize = 8192;
constexpr uint32_t kMaxOffset = INT32_MAX;
const char kDigits[] = "0123456789abcdef";

std::atomic<unsigned> cs_temporaryCount{0};

std::string malformed(int line, const std::string& what) {
  return "malformed cursor file (line " + std::to_string(line) + ": " + what + ")";
}

// What load finds wrong with the fields of a cursor; empty when nothing.
// Save refuses the same cursors, so that it never writes a file load rejects.
std::string fault(const std::string& set, uint64_t file, uint64_t offset, uint64_t length) {
  if (set.empty() || set[0] != '/' || set.find('\0') != std::string::npos)
    return malformed(2, "set is not an absolute path");
  if (file < 1 || file > ZOLK2_MPTT_MAX_FILE_COUNT)
    return malformed(5, "file is not from 1 to " + std::to_string(ZOLK2_MPTT_MAX_FILE_COUNT));
  if (offset < 1 || offset > kMaxOffset)
    return malformed(6, "offset is not from 1 to " + std::to_string(kMaxOffset));
  if (length != std::min<uint64_t>(offset, kFingerprintBytes))
    return malformed(7, "fingerprint length does not match the offset");
  return "";
}

// Digits of the base only (lowercase for 16): no sign, no blanks, no junk
// after them, no overflow.
bool parseNumber(const std::string& text, unsigned base, uint64_t* value) {
  if (text.empty()) return false;
  uint64_t v = 0;
  for (const char ch : text) {
    const void* const at = std::memchr(kDigits, ch, base);
    if (at == nullptr) return false;
    const unsigned digit = static_cast<unsigned>(static_cast<const char*>(at) - kDigits);
    if (v > (UINT64_MAX - digit) / base) return false;
    v = v * base + digit;
  }
  *value = v;
  return true;
}

// The lines of a cursor file after its header, in order, each "key value".
class FieldReader final {
 public:
  explicit FieldReader(const std::string& text) : text_(text), pos_(sizeof kHeader - 1) {}

  // The value of the next line, which must have the given key; false with
  // *problem set otherwise.
  bool next(const char* key, std::string* value, std::string* problem) {
    ++line_;
    const std::string prefix = std::string(key) + " ";
    const size_t end = text_.find('\n', pos_);
    if (pos_ == text_.size()) return fail("no " + std::string(key), problem);
    if (end == std::string::npos) return fail("no line end", problem);
    if (text_.compare(pos_, prefix.size(), prefix) != 0)
      return fail(std::string(key) + " expected", problem);
    *value = text_.substr(pos_ + prefix.size(), end - pos_ - prefix.size());
    pos_ = end + 1;
    return true;
  }

  bool number(const char* key, uint64_t* value, std::string* problem) {
    std::string text;
    if (!next(key, &text, problem)) return false;
    return parseNumber(text, 10, value) || fail(std::string(key) + " is not a number", problem);
  }

  bool atEnd(std::string* problem) {
    ++line_;
    return pos_ == text_.size() || fail("unexpected", problem);
  }

  bool fail(const std::string& what, std::string* problem) const {
    *problem = malformed(line_, what);
    return false;
  }

 private:
  const std::string& text_;
  size_t pos_;
  int line_ = 1;
};

bool parse(const std::string& text, Cursor* cursor, std::string* problem) {
  if (text.compare(0, sizeof kHeader - 1, kHeader) != 0) {
    *problem = "not a zolk2tail cursor file";
    return false;
  }
  FieldReader reader(text);
  Cursor c;
  uint64_t file = 0, offset = 0, length = 0;
  std::string fingerprint;
  if (!reader.next("set", &c.set, problem) ||
      !reader.number("device", &c.device, problem) ||
      !reader.number("inode", &c.inode, problem) ||
      !reader.number("file", &file, problem) ||
      !reader.number("offset", &offset, problem) ||
      !reader.next("fingerprint", &fingerprint, problem))
    return false;
  const size_t space = fingerprint.find(' ');
  if (space == std::string::npos || fingerprint.size() - space - 1 != 16 ||
      !parseNumber(fingerprint.substr(0, space), 10, &length) ||
      !parseNumber(fingerprint.substr(space + 1), 16, &c.fingerprint))
    return reader.fail("fingerprint is not a length and 16 lowercase hex digits", problem);
  if (!reader.atEnd(problem)) return false;
  *problem = fault(c.set, file, offset, length);
  if (!problem->empty()) return false;
  c.fileNumber = static_cast<uint32_t>(file);
  c.offset = static_cast<uint32_t>(offset);
  c.fingerprintLength = static_cast<uint32_t>(length);
  *cursor = c;
  return true;
}

int writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

// A temporary file beside the cursor file: owns its descriptor and its name,
// and removes the file unless it was renamed over the cursor file.
class TemporaryFile final {
 public:
  TemporaryFile() = default;
  ~TemporaryFile() {
    fd_.reset();
    if (!name_.empty()) ::unlink(name_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // A name no other process or thread uses; O_EXCL, so that a file left
  // by a run that died is never reused. 0644 less the umask, like the
  // other state files a user keeps. 0 or errno.
  int create(const std::string& path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string name = path + ".tmp" + std::to_string(::getpid()) + "." +
                               std::to_string(cs_temporaryCount++);
      const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd >= 0) {
        fd_.reset(fd);
        name_ = name;
        return 0;
      }
      if (errno != EEXIST) return errno;
    }
    return EEXIST;
  }

  int fd() const { return fd_.get(); }

  // Makes the data durable and puts the file in the place of path. 0 or errno.
  int commit(const std::string& path) {
    if (::fsync(fd_.get()) != 0) return errno;
    if (::close(fd_.release()) != 0) return errno;
    if (::rename(name_.c_str(), path.c_str()) != 0) return errno;
    name_.clear();
    return 0;
  }

 private:
  UniqueFd fd_;
  std::string name_;
};

// The rename is durable only once the directory is; a failure here leaves
// a complete cursor file, old or new, so it is not reported.
void syncDirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

}  // namespace

uint64_t Fingerprint(const char* data, size_t size) {
  uint64_t hash = 0xcbf29ce484222325u;
  for (size_t i = 0; i < size; ++i) {
    hash ^= static_cast<unsigned char>(data[i]);
    hash *= 0x100000001b3u;
  }
  return hash;
}

CursorLoad loadCursor(const std::string& path, Cursor* cursor, std::string* problem) {
  // O_NONBLOCK: a FIFO in the place of the file must not hang the command.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    if (errno == ENOENT) return CursorLoad::Missing;
    *problem = std::strerror(errno);
    return CursorLoad::Failed;
  }
  std::string text(kMaxFileSize + 1, '\0');
  size_t size = 0;
  while (size < text.size()) {
    const ssize_t n = ::read(fd.get(), &text[size], text.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *problem = std::strerror(errno);
      return CursorLoad::Failed;
    }
    if (n == 0) break;
    size += static_cast<size_t>(n);
  }
  if (size > kMaxFileSize) {
    *problem = "malformed cursor file (more than " + std::to_string(kMaxFileSize) + " bytes)";
    return CursorLoad::Failed;
  }
  text.resize(size);
  return parse(text, cursor, problem) ? CursorLoad::Loaded : CursorLoad::Failed;
}

int saveCursor(const std::string& path, const Cursor& cursor) {
  if (cursor.set.find('\n') != std::string::npos ||
      !fault(cursor.set, cursor.fileNumber, cursor.offset, cursor.fingerprintLength).empty())
    return EINVAL;
  char fingerprint[17];
  std::snprintf(fingerprint, sizeof fingerprint, "%016" PRIx64, cursor.fingerprint);
  const std::string text = kHeader + ("set " + cursor.set) +
                           "\ndevice " + std::to_string(cursor.device) +
                           "\ninode " + std::to_string(cursor.inode) +
                           "\nfile " + std::to_string(cursor.fileNumber) +
                           "\noffset " + std::to_string(cursor.offset) +
                           "\nfingerprint " + std::to_string(cursor.fingerprintLength) + " " +
                           fingerprint + "\n";
  if (text.size() > kMaxFileSize) return ENAMETOOLONG;
  TemporaryFile temporary;
  int error = temporary.create(path);
  if (error == 0) error = writeAll(temporary.fd(), text);
  if (error == 0) error = temporary.commit(path);
  if (error == 0) syncDirectoryOf(path);
  return error;
}

}  // namespace zolktail
