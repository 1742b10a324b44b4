// Records what the C library's system log interface receives.
//
// The test program defines openlog, setlogmask, syslog and closelog itself
// (and exports them), so the library under test binds to these definitions
// instead of the C library's. They keep the connection state the way the C
// library does - including the identity *pointer* handed to openlog, which is
// read again at every syslog call - and record every call.
#ifndef ZOLK_TESTS_ZOLKSYS_SYSLOGRECORDER_H
#define ZOLK_TESTS_ZOLKSYS_SYSLOGRECORDER_H

#include <string>
#include <vector>

namespace zolktest {

struct SyslogCall {
  enum Kind { kOpen, kMask, kWrite, kClose };
  explicit SyslogCall(Kind k) : kind(k) {}
  Kind kind;
  // kOpen: the identity as passed; kWrite: the identity in effect, read
  // through the pointer openlog was given, at the time of the write.
  std::string ident;
  bool identNull = false;   // kOpen: a null identity was passed
  int option = 0;           // kOpen: as passed; kWrite: in effect
  int facility = 0;         // kOpen: as passed; kWrite: in effect
  int mask = 0;             // kMask: as passed; kWrite: in effect
  int priority = 0;         // kWrite
  std::string message;      // kWrite: the formatted message
  unsigned long thread = 0; // kWrite: kernel id of the writing thread
};

class SyslogRecorder final {
 public:
  SyslogRecorder() = delete;

  // Forgets the recorded calls; the connection state stays as it is.
  static void Clear();
  static std::vector<SyslogCall> Calls();
  // Only the calls of one kind.
  static std::vector<SyslogCall> Calls(SyslogCall::Kind kind);
  static std::vector<SyslogCall> Writes() { return Calls(SyslogCall::kWrite); }

  // A function run inside every syslog() call once the call has been
  // recorded and every object of the recording is gone, outside the
  // recorder's lock: a thread may block in it, and be cancelled there, with
  // nothing of the recorder left to destroy. Null: none.
  using WriteHook = void (*)(void* context);
  static void SetWriteHook(WriteHook hook, void* context = nullptr);
};

}  // namespace zolktest

#endif
