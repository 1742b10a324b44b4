#include "tracewriter/TraceWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zolksupport {
namespace {

constexpr char kEndOfData = ZOLK2_MPTT_END_OF_DATA;

// Writes all of [data, data+size) at offset, resuming after short writes.
int WriteAllAt(int fd, const void* data, size_t size, off_t offset) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, p, size, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return 0;
}

int CloseFd(int* fd) {
  if (*fd < 0) return 0;
  const int rc = ::close(*fd);
  *fd = -1;
  return rc == 0 ? 0 : errno;
}

bool IsFramingByte(char c) { return c == '\r' || c == '\n' || c == kEndOfData; }

}  // namespace

ByteOrder HostByteOrder() {
  const uint32_t probe = 1;
  unsigned char first;
  std::memcpy(&first, &probe, 1);
  return first == 1 ? ByteOrder::Little : ByteOrder::Big;
}

std::vector<unsigned char> EncodeManagementRecord(const management_info_t& record, ByteOrder order) {
  management_info_t out = record;
  if (order != HostByteOrder()) {
    for (uint32_t* w : {&out.byteOrderMark, &out.fileSize, &out.fileCount, &out.writeOffset,
                        &out.writeFileNumber, &out.flags, &out.lockType, &out.reserved})
      *w = __builtin_bswap32(*w);
  }
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&out);
  return std::vector<unsigned char>(bytes, bytes + sizeof out);
}

std::string NumberedLine(uint64_t number, size_t length) {
  char head[32];
  std::snprintf(head, sizeof head, "%08llu ", static_cast<unsigned long long>(number));
  std::string line(head);
  for (size_t i = line.size(); i < length; ++i)
    line.push_back(static_cast<char>('a' + (number + i) % 26));
  line.resize(length);
  return line;
}

TraceWriter::TraceWriter(const TraceWriterOptions& options)
    : options_(options),
      managementPath_(options.directory + "/mmap/" + options.prefix + ".mm"),
      entered_(options.fileCount, false) {}

TraceWriter::~TraceWriter() {
  CloseFd(&traceFd_);
  CloseFd(&managementFd_);
}

int TraceWriter::Create(const TraceWriterOptions& options, std::unique_ptr<TraceWriter>* writer) {
  if (options.fileSize < ZOLK2_MPTT_MIN_FILE_SIZE || options.fileSize > ZOLK2_MPTT_MAX_FILE_SIZE ||
      options.fileCount < 1 || options.fileCount > ZOLK2_MPTT_MAX_FILE_COUNT ||
      options.directory.empty())
    return EINVAL;
  std::unique_ptr<TraceWriter> w(new TraceWriter(options));
  const std::string mmapDir = options.directory + "/mmap";
  if (::mkdir(mmapDir.c_str(), 0755) != 0 && errno != EEXIST) return errno;
  // Not truncated: a reader may have the record mapped, and a file shorter
  // than the record would make it refuse the record until it is rewritten.
  w->managementFd_ = ::open(w->managementPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (w->managementFd_ < 0) return errno;
  // The first trace file exists before any record names it.
  if (int rc = w->EnterFile(1); rc != 0) return rc;
  if (int rc = w->PublishRecord(); rc != 0) return rc;
  *writer = std::move(w);
  return 0;
}

std::string TraceWriter::TraceFilePath(uint32_t number) const {
  return options_.directory + "/" + options_.prefix + std::to_string(number) + ".log";
}

// Opens file `number` for writing at offset 0. The first time it is entered
// it is emptied (and extended to the file size when asked to); afterwards it
// is overwritten in place, so a reader still sees the old end mark until the
// new data passes it, or replaced by a new file, unseen by a reader that
// still holds the old one.
int TraceWriter::EnterFile(uint32_t number) {
  if (int rc = CloseFd(&traceFd_); rc != 0) return rc;
  const bool first = !entered_[number - 1];
  const bool fresh = first || options_.replaceFiles;
  const std::string path = TraceFilePath(number);
  if (!first && options_.replaceFiles && ::unlink(path.c_str()) != 0 && errno != ENOENT)
    return errno;
  traceFd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (fresh ? O_TRUNC : 0), 0644);
  if (traceFd_ < 0) return errno;
  if (fresh && options_.preExtend && ::ftruncate(traceFd_, options_.fileSize) != 0) return errno;
  entered_[number - 1] = true;
  fileNumber_ = number;
  writeOffset_ = 0;
  return 0;
}

// Rewrites the whole record under the lock readers take to copy it.
int TraceWriter::PublishRecord() {
  management_info_t record{};
  std::memcpy(record.magic, ZOLK2_MPTT_MAGIC, sizeof record.magic);
  record.byteOrderMark = options_.byteOrderMark ? ZOLK2_MPTT_BYTE_ORDER_MARK : 0;
  record.fileSize = options_.fileSize;
  record.fileCount = options_.fileCount;
  record.writeOffset = writeOffset_;
  record.writeFileNumber = fileNumber_;
  record.flags = options_.flags;
  record.lockType = options_.lockType;
  const std::vector<unsigned char> bytes = EncodeManagementRecord(record, options_.byteOrder);

  // The descriptor's offset stays 0, so length 0 locks the whole file.
  while (::lockf(managementFd_, F_LOCK, 0) != 0) {
    if (errno != EINTR) return errno;
  }
  const int rc = WriteAllAt(managementFd_, bytes.data(), bytes.size(), 0);
  if (::lockf(managementFd_, F_ULOCK, 0) != 0 && rc == 0) return errno;
  return rc;
}

int TraceWriter::WriteLine(std::string_view text) {
  for (char c : text) {
    if (IsFramingByte(c)) return EINVAL;
  }
  const uint64_t need = static_cast<uint64_t>(text.size()) + 2;
  if (need + EndMarkLength() > options_.fileSize) return EMSGSIZE;
  if (writeOffset_ + need + EndMarkLength() > options_.fileSize) {
    if (int rc = Rotate(); rc != 0) return rc;
  }
  line_.assign(text);
  line_ += "\r\n";
  if (int rc = WriteAllAt(traceFd_, line_.data(), line_.size(), writeOffset_); rc != 0) return rc;
  writeOffset_ += static_cast<uint32_t>(need);
  return PublishRecord();
}

int TraceWriter::Rotate() {
  static const char kPairAndEnd[] = {'\xFE', '\xFF', kEndOfData};
  const char* mark = options_.endMarkPair ? kPairAndEnd : kPairAndEnd + 2;
  if (int rc = WriteAllAt(traceFd_, mark, EndMarkLength(), writeOffset_); rc != 0) return rc;
  // The end mark is in the file before the record says the writer has left.
  if (int rc = EnterFile(fileNumber_ % options_.fileCount + 1); rc != 0) return rc;
  return PublishRecord();
}

}  // namespace zolksupport
