#include "zolksys/SyslogRecorder.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace zolktest {
namespace {

struct Connection {
  const char* ident = nullptr;  // kept as the C library keeps it: the pointer
  int option = 0;
  int facility = LOG_USER;
  int mask = 0xFF;
};

// The write hook and its context: plain data, so that taking a copy leaves
// nothing to destroy on the caller's stack.
struct Hook {
  SyslogRecorder::WriteHook fn = nullptr;
  void* context = nullptr;
};

std::mutex ms_lock;
Connection ms_connection;
std::vector<SyslogCall> ms_calls;
Hook ms_writeHook;

void record(SyslogCall call) {
  std::lock_guard<std::mutex> guard(ms_lock);
  ms_calls.push_back(std::move(call));
}

// Records the call and returns the hook to run; the caller runs it after
// this function's objects are gone.
Hook recordWrite(int priority, const char* format, va_list args) {
  char text[8192];
  std::vsnprintf(text, sizeof text, format, args);
  SyslogCall call(SyslogCall::kWrite);
  call.priority = priority;
  call.message = text;
  call.thread = static_cast<unsigned long>(::gettid());
  Hook hook;
  {
    std::lock_guard<std::mutex> guard(ms_lock);
    // Read the identity through the kept pointer, as the C library does
    // for every message it formats.
    call.ident = ms_connection.ident != nullptr ? ms_connection.ident : "";
    call.identNull = ms_connection.ident == nullptr;
    call.option = ms_connection.option;
    call.facility = ms_connection.facility;
    call.mask = ms_connection.mask;
    ms_calls.push_back(call);
    hook = ms_writeHook;
  }
  return hook;
}

void runHook(const Hook& hook) {
  if (hook.fn != nullptr) hook.fn(hook.context);
}

}  // namespace

void SyslogRecorder::Clear() {
  std::lock_guard<std::mutex> guard(ms_lock);
  ms_calls.clear();
}

std::vector<SyslogCall> SyslogRecorder::Calls() {
  std::lock_guard<std::mutex> guard(ms_lock);
  return ms_calls;
}

std::vector<SyslogCall> SyslogRecorder::Calls(SyslogCall::Kind kind) {
  std::vector<SyslogCall> out;
  for (SyslogCall& c : Calls())
    if (c.kind == kind) out.push_back(std::move(c));
  return out;
}

void SyslogRecorder::SetWriteHook(WriteHook hook, void* context) {
  std::lock_guard<std::mutex> guard(ms_lock);
  ms_writeHook = {hook, context};
}

}  // namespace zolktest

// The C library's system log interface, as seen by the libraries this
// program loads.
using zolktest::SyslogCall;

extern "C" {

__attribute__((visibility("default"))) void openlog(const char* ident, int option, int facility) {
  SyslogCall call(SyslogCall::kOpen);
  call.ident = ident != nullptr ? ident : "";
  call.identNull = ident == nullptr;
  call.option = option;
  call.facility = facility;
  {
    std::lock_guard<std::mutex> guard(zolktest::ms_lock);
    if (ident != nullptr) zolktest::ms_connection.ident = ident;
    zolktest::ms_connection.option = option;
    if ((facility & ~LOG_FACMASK) == 0) zolktest::ms_connection.facility = facility;
  }
  zolktest::record(std::move(call));
}

__attribute__((visibility("default"))) int setlogmask(int mask) noexcept {
  SyslogCall call(SyslogCall::kMask);
  call.mask = mask;
  int old;
  {
    std::lock_guard<std::mutex> guard(zolktest::ms_lock);
    old = zolktest::ms_connection.mask;
    if (mask != 0) zolktest::ms_connection.mask = mask;
  }
  zolktest::record(std::move(call));
  return old;
}

__attribute__((visibility("default"))) void closelog(void) {
  {
    std::lock_guard<std::mutex> guard(zolktest::ms_lock);
    zolktest::ms_connection.ident = nullptr;
  }
  zolktest::record(SyslogCall(SyslogCall::kClose));
}

__attribute__((visibility("default"))) void vsyslog(int priority, const char* format, va_list args) {
  zolktest::runHook(zolktest::recordWrite(priority, format, args));
}

__attribute__((visibility("default"))) void syslog(int priority, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const zolktest::Hook hook = zolktest::recordWrite(priority, format, args);
  va_end(args);
  zolktest::runHook(hook);
}

// The fortified entry point a caller built with _FORTIFY_SOURCE uses.
__attribute__((visibility("default"))) void __syslog_chk(int priority, int, const char* format,
                                                         ...) {
  va_list args;
  va_start(args, format);
  const zolktest::Hook hook = zolktest::recordWrite(priority, format, args);
  va_end(args);
  zolktest::runHook(hook);
}

}  // extern "C"
