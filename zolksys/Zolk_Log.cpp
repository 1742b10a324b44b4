#include "Zolk_Log.h"

#include <cstdio>
#include <cstring>

#include "ZolkSysLog.h"
#if ZOLK_REENTRANT
#include "ZolkThread.h"
#endif

namespace {

// The connection cache. The process has one system log connection; it is
// re-configured when a message is written for another record than the one
// it was last configured for, or after any settings change on any record.
const tag_ZOLK2_SYSLOG* cs_lastOperatedInstance = nullptr;
int cs_isCacheValid = 0;

// openlog() keeps the identity pointer it is given and reads it on every
// later syslog() call, ours or anyone else's in the process. It therefore
// gets a copy owned here, never a record's field: deleting or re-opening
// the record leaves the connection's identity intact. Two slots alternate,
// so the copy being written is never the one the connection is using.
char cs_connectionIdent[2][sizeof(tag_ZOLK2_SYSLOG::ident)];
unsigned cs_connectionIdentSlot = 0;

struct TidModeEntry {
  int mode;
  const char* format;
};

// Thread-id display modes, searched in this order, ended by mode 0.
const TidModeEntry Tid_Mode[] = {
    {ZOLK2_SYSLOG_TID_HEX8, ZOLK_DefaultTidFormat},
    {ZOLK2_SYSLOG_TID_HEX, "%lX"},
    {ZOLK2_SYSLOG_TID_DECIMAL, "%lu"},
    {ZOLK2_SYSLOG_TID_HEX16, "%016lX"},
    {0, nullptr},
};

const char kDefaultTidPrefix[] = "[";
const char kDefaultTidSuffix[] = "] ";

constexpr unsigned kMessageSize = 1024;  // the text handed to syslog is at most 1023 bytes

// Stores an affix (prefix or suffix) of at most 7 bytes, NUL-padded, with
// the 8th byte always NUL.
void storeAffix(char (&field)[8], const char* text) {
  std::strncpy(field, text, sizeof field - 1);
  field[sizeof field - 1] = '\0';
}

// A message assembled piece by piece in a fixed buffer. Each piece is
// appended with the rules of the bounded copy (the room left as its size):
// once a piece was cut or filled the buffer, later pieces are dropped. The
// buffer is not padded: only the bytes up to the terminating NUL are used.
class MessageBuffer final {
 public:
  MessageBuffer() { text_[0] = '\0'; }

  // Appends src (null: empty); returns whether there is room for more.
  bool Append(const char* src) {
    if (!room_) return false;
    if (src == nullptr) src = "";
    const std::size_t size = kMessageSize - length_;
    const std::size_t n = ::strnlen(src, size - 1);
    std::memcpy(text_ + length_, src, n);
    length_ += n;
    text_[length_] = '\0';
    room_ = n + 2 <= size;  // whole source, at least one byte to spare
    return room_;
  }

  bool room() const { return room_; }
  const char* c_str() const { return text_; }

 private:
  char text_[kMessageSize];
  std::size_t length_ = 0;
  bool room_ = true;
};

// Configures the connection for inst unless the cache says it already is,
// then writes the message.
int writeThroughCache(tag_ZOLK2_SYSLOG* inst, int importance, const char* message) {
  ZolkSysLog log;
  if (cs_lastOperatedInstance != inst || cs_isCacheValid == 0) {
    cs_connectionIdentSlot ^= 1u;
    char* ident = cs_connectionIdent[cs_connectionIdentSlot];
    std::memcpy(ident, inst->ident, sizeof inst->ident);
    ident[sizeof inst->ident - 1] = '\0';
    ZolkSysLog::openSyslog(ident, inst->option, inst->facility);
    ZolkSysLog::setLogMask(inst->logMask);
  }
  cs_lastOperatedInstance = inst;
  cs_isCacheValid = 1;
  return log.reportMsg(importance, message);
}

}  // namespace

const char ZOLK_DefaultTidFormat[] = "%08lX";

int ZOLK_CopyAndTrimMultiByteString(char* dst, const char* src, unsigned size) {
  if (dst == nullptr || size == 0) return 0;
  if (src == nullptr) src = "";
  if (size == 1) {
    dst[0] = '\0';
    return 0;
  }
  dst[size - 2] = '\0';
  std::strncpy(dst, src, size);
  if (dst[size - 2] == '\0') return 1;
  dst[size - 1] = '\0';
  return 0;
}

int Zolk_Log::OpenLog(tag_ZOLK2_SYSLOG* inst, const char* ident, int option, int facility) {
  if (inst == nullptr) return 1;
  inst->option = option;
  inst->facility = facility;
  cs_isCacheValid = 0;
  ZOLK_CopyAndTrimMultiByteString(inst->ident, ident, sizeof inst->ident);
  return 0;
}

int Zolk_Log::CloseLog(tag_ZOLK2_SYSLOG* inst) {
  if (inst == nullptr) return 1;
  cs_isCacheValid = 0;
  std::memset(inst->ident, 0, sizeof inst->ident);
  inst->option = 3;     // LOG_PID | LOG_CONS
  inst->facility = 8;   // LOG_USER
  inst->tidFormat = GetTidFormat(ZOLK2_SYSLOG_TID_HEX8);
  inst->withTid = 0;
  storeAffix(inst->tidPrefix, kDefaultTidPrefix);
  storeAffix(inst->tidSuffix, kDefaultTidSuffix);
  return 0;
}

int Zolk_Log::PutToLog(tag_ZOLK2_SYSLOG* inst, int importance, const char* message) {
  if (inst == nullptr) return 1;
  return writeThroughCache(inst, importance, message != nullptr ? message : "");
}

#if ZOLK_REENTRANT
int Zolk_Log::PutToLogWithTid(tag_ZOLK2_SYSLOG* inst, int importance, const char* text1,
                              const char* text2) {
  if (inst == nullptr) return 1;
  MessageBuffer message;
  if (message.Append(text1) && message.Append(inst->tidPrefix)) {
    char tid[68];  // scratch for the formatted thread id
    std::snprintf(tid, sizeof tid, inst->tidFormat, ZolkThread::CurrentThreadId());
    if (message.Append(tid) && message.Append(inst->tidSuffix)) message.Append(text2);
  }
  return writeThroughCache(inst, importance, message.c_str());
}
#endif

int Zolk_Log::PutToLogWithoutTid(tag_ZOLK2_SYSLOG* inst, int importance, const char* text1,
                                 const char* text2) {
  if (inst == nullptr) return 1;
  MessageBuffer message;
  if (message.Append(text1)) {
    // The separating blank only between two texts that are both there.
    const bool separate = text1 != nullptr && text2 != nullptr && text2[0] != '\0';
    if (!separate || message.Append(" ")) message.Append(text2);
  }
  return writeThroughCache(inst, importance, message.c_str());
}

int Zolk_Log::SetMask(tag_ZOLK2_SYSLOG* inst, int mask) {
  if (inst == nullptr) return 1;
  cs_isCacheValid = 0;
  const int old = inst->logMask;
  inst->logMask = mask;
  return old;
}

int Zolk_Log::SetSrcName(tag_ZOLK2_SYSLOG*, const char*) { return 0; }

int Zolk_Log::SetTidFormat(tag_ZOLK2_SYSLOG* inst, int mode, const char* prefix,
                           const char* suffix) {
  if (inst == nullptr) return 1;
  constexpr std::size_t kMax = ZOLK2_SYSLOG_TID_AFFIX_MAX;
  if (prefix != nullptr && ::strnlen(prefix, kMax + 1) > kMax) return 1;
  if (suffix != nullptr && ::strnlen(suffix, kMax + 1) > kMax) return 1;
  if (mode < ZOLK2_SYSLOG_TID_HEX8 ? mode != ZOLK2_SYSLOG_TID_HEX && mode != ZOLK2_SYSLOG_TID_DECIMAL
                                   : mode != ZOLK2_SYSLOG_TID_HEX8 && mode != ZOLK2_SYSLOG_TID_HEX16)
    return 1;
  const char* format = GetTidFormat(mode);
  if (format == nullptr) return 1;
  inst->tidFormat = format;
  cs_isCacheValid = 0;
  storeAffix(inst->tidPrefix, prefix != nullptr ? prefix : kDefaultTidPrefix);
  storeAffix(inst->tidSuffix, suffix != nullptr ? suffix : kDefaultTidSuffix);
  return 0;
}

const char* Zolk_Log::GetTidFormat(int mode) {
  const TidModeEntry* entry = Tid_Mode;
  while (entry->mode != 0 && entry->mode != mode) ++entry;
  return entry->format;
}
