// The stand-in core trace library libzolk2t: the 26 functions the Java
// trace bridge calls, over real state and real trace sets, plus the control
// interface of zolk2t_control.h. One mutex guards all state, so calls may
// come from any thread.
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>

#pragma GCC visibility push(default)
#include "zolk2t.h"
#include "zolk2t/zolk2t_control.h"
#pragma GCC visibility pop

#include "tracewriter/TraceWriter.h"

namespace zolk2t {
namespace {

using Arg = std::optional<std::string>;

// The functions by number; the number is the position of their errors.
enum Fn : int {
  kInitialize = 1, kFinalize, kPutWithIdAndTidEx, kPutWithMsgTypeAndTid, kTraceBackup,
  kChFileAttr, kSetLogLevel, kSetFileThreshold, kSetShmThreshold, kGetLogLevel,
  kCreateInstance, kCreateInstanceM, kDeleteInstance, kInstanceFileBufferFlush,
  kPutInstanceWithIdEx, kPutInstanceWithMsgType, kInstanceTraceBackup, kInstanceTraceBackupM,
  kChInstanceFileAttr, kSetInstanceLogLevel, kSetInstanceFileThreshold,
  kSetInstanceShmThreshold, kSetInstanceLockWaitTime, kSetInstanceLockRetryTimes,
  kLogFileClear, kGetLastError,
};

const char* const kNames[] = {
    "", "ZOLK2_Initialize", "ZOLK2_Finalize", "ZOLK2_PutWithIdAndTidEx",
    "ZOLK2_PutWithMsgTypeAndTid", "ZOLK2_TraceBackup", "ZOLK2_ChFileAttr", "ZOLK2_SetLogLevel",
    "ZOLK2_SetFileThreshold", "ZOLK2_SetShmThreshold", "ZOLK2_GetLogLevel",
    "ZOLK2_CreateInstance", "ZOLK2_CreateInstanceM", "ZOLK2_DeleteInstance",
    "ZOLK2_InstanceFileBufferFlush", "ZOLK2_PutInstanceWithIdEx", "ZOLK2_PutInstanceWithMsgType",
    "ZOLK2_InstanceTraceBackup", "ZOLK2_InstanceTraceBackupM", "ZOLK2_ChInstanceFileAttr",
    "ZOLK2_SetInstanceLogLevel", "ZOLK2_SetInstanceFileThreshold",
    "ZOLK2_SetInstanceShmThreshold", "ZOLK2_SetInstanceLockWaitTime",
    "ZOLK2_SetInstanceLockRetryTimes", "ZOLK2_LogFileClear", "ZOLK2_GetLastError",
};

constexpr int kDefaultLevel = 9;
constexpr uint32_t kDefaultFileSize = 65536;
constexpr uint32_t kDefaultFileCount = 4;

// A trace: the process-wide one or an instance. Without a writer its
// messages are accepted and go nowhere.
struct Trace {
  std::unique_ptr<zolksupport::TraceWriter> writer;
  int level = kDefaultLevel;
  int fileThreshold = 0;
  int shmThreshold = 0;
  int attribute = 0;
  int lockWaitTime = 0;
  int lockRetryTimes = 0;
  int extra = 0;
};

struct Scripted {
  int result;
  int word;
  int detail;
};

std::mutex gs_lock;
std::atomic<bool> gs_discard{false};
std::unique_ptr<Trace> gs_trace;  // the process-wide trace while initialised
// The process-wide level and thresholds, which outlive the trace they apply to.
Trace gs_settings;
std::map<ZOLK2_TraceHandle, Trace> gs_instances;
ZOLK2_TraceHandle gs_nextHandle = 1;
int gs_word = ZOLK2_TRACE_NO_ERROR;
int gs_detail = 0;
std::string gs_defaultDirectory;
std::map<std::string, std::deque<Scripted>> gs_scripts;
std::vector<Call> gs_calls;

Arg Text(const char* s) { return s != nullptr ? Arg(s) : std::nullopt; }
Arg Num(long long v) { return std::to_string(v); }
Arg Block(const ZOLK2_TraceOption* o) {
  if (o == nullptr) return std::nullopt;
  return "{" + std::to_string(o->fileSize) + "," + std::to_string(o->fileCount) + "," +
         (o->filePath != nullptr ? o->filePath : "(null)") + "}";
}

int Fail(Fn fn, int code, int detail = 0) {
  gs_word = ZOLK2_TRACE_ERROR_WORD(code, kPositionBase + fn);
  gs_detail = detail;
  return -1;
}

// Records the call (the lock is held) and takes its script, if any.
std::optional<Scripted> Enter(Fn fn, std::initializer_list<Arg> args) {
  gs_calls.push_back({kNames[fn], std::vector<Arg>(args)});
  auto it = gs_scripts.find(kNames[fn]);
  if (it == gs_scripts.end() || it->second.empty()) return std::nullopt;
  Scripted s = it->second.front();
  it->second.pop_front();
  return s;
}

// The result of a scripted call, its error left behind.
int Answer(const Scripted& s) {
  gs_word = s.word;
  gs_detail = s.detail;
  return s.result;
}

bool IsDirectory(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// A new trace for a creating call, its file set as the option block or the
// default directory says; 0 or the error's result.
int MakeTrace(Fn fn, const ZOLK2_TraceOption* option, const char* name, Trace* trace) {
  if (name == nullptr || name[0] == '\0') return Fail(fn, kInvalid);
  zolksupport::TraceWriterOptions w;
  w.prefix = name;
  w.fileSize = kDefaultFileSize;
  w.fileCount = kDefaultFileCount;
  if (option != nullptr) {
    if (option->fileSize < static_cast<int32_t>(ZOLK2_MPTT_MIN_FILE_SIZE) ||
        option->fileCount < 1 || option->fileCount > 16 || option->filePath == nullptr ||
        !IsDirectory(option->filePath))
      return Fail(fn, kInvalid);
    w.directory = option->filePath;
    w.fileSize = static_cast<uint32_t>(option->fileSize);
    w.fileCount = static_cast<uint32_t>(option->fileCount);
  } else if (!gs_defaultDirectory.empty()) {
    w.directory = gs_defaultDirectory;
  } else {
    return 0;
  }
  const int rc = zolksupport::TraceWriter::Create(w, &trace->writer);
  return rc == 0 ? 0 : Fail(fn, kIo, rc);
}

// A creating call whose script, if any, is a (qualified) success keeps its
// work and answers the scripted result.
int Qualified(const std::optional<Scripted>& s, int rc) {
  if (!s || rc != 0) return rc;
  Answer(*s);
  return s->result;
}

bool CreatesWithScript(const std::optional<Scripted>& s) {
  return !s || (s->result >= 0 && s->result <= 3);
}

int CreateInstance(Fn fn, std::optional<Scripted> s, ZOLK2_TraceHandle* handle,
                   const ZOLK2_TraceOption* option, const char* name, int extra) {
  if (!CreatesWithScript(s)) return Answer(*s);
  if (handle == nullptr) return Fail(fn, kInvalid);
  Trace trace;
  trace.extra = extra;
  const int rc = MakeTrace(fn, option, name, &trace);
  if (rc != 0) return rc;
  while (gs_nextHandle == 0 || gs_instances.count(gs_nextHandle) != 0) ++gs_nextHandle;
  *handle = gs_nextHandle++;
  gs_instances.emplace(*handle, std::move(trace));
  return Qualified(s, 0);
}

Trace* Find(ZOLK2_TraceHandle handle) {
  auto it = gs_instances.find(handle);
  return it != gs_instances.end() ? &it->second : nullptr;
}

// One line of a message, its framing bytes replaced so that it stays one line.
int Write(Fn fn, Trace* trace, int level, const char* id, const char* tid, const char* text,
          const char* type, const char* message) {
  if (trace == nullptr) return Fail(fn, fn == kPutWithIdAndTidEx || fn == kPutWithMsgTypeAndTid
                                            ? kState : kNoInstance);
  if (level > trace->level || !trace->writer) return 0;
  std::string line = std::to_string(level);
  for (const char* part : {id, tid, text, type, message}) {
    line += '|';
    if (part != nullptr) line += part;
  }
  for (char& c : line)
    if (c == '\r' || c == '\n' || c == ZOLK2_MPTT_END_OF_DATA) c = ' ';
  const int rc = trace->writer->WriteLine(line);
  return rc == 0 ? 0 : Fail(fn, kIo, rc);
}

int Backup(Fn fn, Trace* trace, const char* path) {
  if (trace == nullptr) return Fail(fn, fn == kTraceBackup ? kState : kNoInstance);
  if (path != nullptr && !IsDirectory(path)) return Fail(fn, kIo, ENOTDIR);
  return 0;
}

// A setter of one int: the previous value, or -1 for a negative one.
int Set(Fn fn, int* field, int value) {
  if (value < 0) return Fail(fn, kInvalid);
  const int previous = *field;
  *field = value;
  return previous;
}

int SetOnInstance(Fn fn, ZOLK2_TraceHandle handle, int Trace::*field, int value) {
  Trace* t = Find(handle);
  return t != nullptr ? Set(fn, &(t->*field), value) : Fail(fn, kNoInstance);
}

}  // namespace

void Reset() {
  std::lock_guard<std::mutex> guard(gs_lock);
  gs_trace.reset();
  gs_settings = Trace();
  gs_instances.clear();
  gs_nextHandle = 1;
  gs_word = ZOLK2_TRACE_NO_ERROR;
  gs_detail = 0;
  gs_defaultDirectory.clear();
  gs_scripts.clear();
  gs_calls.clear();
  gs_discard = false;
}

void Script(const std::string& function, int result, int word, int detail) {
  std::lock_guard<std::mutex> guard(gs_lock);
  gs_scripts[function].push_back({result, word, detail});
}

std::vector<Call> Calls() {
  std::lock_guard<std::mutex> guard(gs_lock);
  return gs_calls;
}

std::vector<Call> Calls(const std::string& function) {
  std::lock_guard<std::mutex> guard(gs_lock);
  std::vector<Call> out;
  for (const Call& c : gs_calls)
    if (c.function == function) out.push_back(c);
  return out;
}

size_t LiveInstances() {
  std::lock_guard<std::mutex> guard(gs_lock);
  return gs_instances.size();
}

void SetNextHandle(uint32_t handle) {
  std::lock_guard<std::mutex> guard(gs_lock);
  gs_nextHandle = handle;
}

void SetDefaultDirectory(const std::string& directory) {
  std::lock_guard<std::mutex> guard(gs_lock);
  gs_defaultDirectory = directory;
}

void SetDiscard(bool on) { gs_discard = on; }

}  // namespace zolk2t

using namespace zolk2t;

#define ZOLK2T_ENTER(fn, ...)                        \
  std::lock_guard<std::mutex> guard(gs_lock);        \
  const std::optional<Scripted> s = Enter(fn, {__VA_ARGS__})
// A function whose script replaces all its work.
#define ZOLK2T_SCRIPTED(fn, ...) \
  ZOLK2T_ENTER(fn, __VA_ARGS__); \
  if (s) return Answer(*s)

extern "C" {

int ZOLK2_Initialize(const ZOLK2_TraceOption* option, const char* name) {
  ZOLK2T_ENTER(kInitialize, Block(option), Text(name));
  if (!CreatesWithScript(s)) return Answer(*s);
  if (gs_trace) return Fail(kInitialize, kState);
  auto trace = std::make_unique<Trace>();
  trace->level = gs_settings.level;
  const int rc = MakeTrace(kInitialize, option, name, trace.get());
  if (rc != 0) return rc;
  gs_trace = std::move(trace);
  return Qualified(s, 0);
}

int ZOLK2_Finalize(void) {
  ZOLK2T_SCRIPTED(kFinalize);
  if (!gs_trace) return Fail(kFinalize, kState);
  gs_trace.reset();
  return 0;
}

int ZOLK2_PutWithIdAndTidEx(int level, const char* id, const char* tid, const char* text,
                            const char* message) {
  if (gs_discard) return 0;
  ZOLK2T_SCRIPTED(kPutWithIdAndTidEx, Num(level), Text(id), Text(tid), Text(text), Text(message));
  return Write(kPutWithIdAndTidEx, gs_trace.get(), level, id, tid, text, nullptr, message);
}

int ZOLK2_PutWithMsgTypeAndTid(int level, const char* id, const char* tid, const char* text,
                               const char* type, const char* message) {
  if (gs_discard) return 0;
  ZOLK2T_SCRIPTED(kPutWithMsgTypeAndTid, Num(level), Text(id), Text(tid), Text(text), Text(type),
                  Text(message));
  return Write(kPutWithMsgTypeAndTid, gs_trace.get(), level, id, tid, text, type, message);
}

int ZOLK2_TraceBackup(const char* path) {
  ZOLK2T_SCRIPTED(kTraceBackup, Text(path));
  return Backup(kTraceBackup, gs_trace.get(), path);
}

int ZOLK2_ChFileAttr(int attribute) {
  ZOLK2T_SCRIPTED(kChFileAttr, Num(attribute));
  if (!gs_trace) return Fail(kChFileAttr, kState);
  gs_trace->attribute = attribute;
  return 0;
}

int ZOLK2_SetLogLevel(int level) {
  ZOLK2T_SCRIPTED(kSetLogLevel, Num(level));
  const int rc = Set(kSetLogLevel, &gs_settings.level, level);
  if (gs_trace) gs_trace->level = gs_settings.level;
  return rc;
}

int ZOLK2_SetFileThreshold(int threshold) {
  ZOLK2T_SCRIPTED(kSetFileThreshold, Num(threshold));
  return Set(kSetFileThreshold, &gs_settings.fileThreshold, threshold);
}

int ZOLK2_SetShmThreshold(int threshold) {
  ZOLK2T_SCRIPTED(kSetShmThreshold, Num(threshold));
  return Set(kSetShmThreshold, &gs_settings.shmThreshold, threshold);
}

int ZOLK2_GetLogLevel(void) {
  ZOLK2T_SCRIPTED(kGetLogLevel);
  return gs_settings.level;
}

int ZOLK2_CreateInstance(ZOLK2_TraceHandle* handle, const ZOLK2_TraceOption* option,
                         const char* name) {
  ZOLK2T_ENTER(kCreateInstance, Block(option), Text(name));
  return CreateInstance(kCreateInstance, s, handle, option, name, 0);
}

int ZOLK2_CreateInstanceM(ZOLK2_TraceHandle* handle, const ZOLK2_TraceOption* option,
                          const char* name, int extra) {
  ZOLK2T_ENTER(kCreateInstanceM, Block(option), Text(name), Num(extra));
  return CreateInstance(kCreateInstanceM, s, handle, option, name, extra);
}

int ZOLK2_DeleteInstance(ZOLK2_TraceHandle handle) {
  ZOLK2T_SCRIPTED(kDeleteInstance, Num(handle));
  return gs_instances.erase(handle) == 1 ? 0 : Fail(kDeleteInstance, kNoInstance);
}

int ZOLK2_InstanceFileBufferFlush(ZOLK2_TraceHandle handle) {
  ZOLK2T_SCRIPTED(kInstanceFileBufferFlush, Num(handle));
  return Find(handle) != nullptr ? 0 : Fail(kInstanceFileBufferFlush, kNoInstance);
}

int ZOLK2_PutInstanceWithIdEx(ZOLK2_TraceHandle handle, int level, const char* id,
                              const char* text, const char* message) {
  if (gs_discard) return 0;
  ZOLK2T_SCRIPTED(kPutInstanceWithIdEx, Num(handle), Num(level), Text(id), Text(text),
                  Text(message));
  return Write(kPutInstanceWithIdEx, Find(handle), level, id, nullptr, text, nullptr, message);
}

int ZOLK2_PutInstanceWithMsgType(ZOLK2_TraceHandle handle, int level, const char* id,
                                 const char* text, const char* type, const char* message) {
  if (gs_discard) return 0;
  ZOLK2T_SCRIPTED(kPutInstanceWithMsgType, Num(handle), Num(level), Text(id), Text(text),
                  Text(type), Text(message));
  return Write(kPutInstanceWithMsgType, Find(handle), level, id, nullptr, text, type, message);
}

int ZOLK2_InstanceTraceBackup(ZOLK2_TraceHandle handle, const char* path) {
  ZOLK2T_SCRIPTED(kInstanceTraceBackup, Num(handle), Text(path));
  return Backup(kInstanceTraceBackup, Find(handle), path);
}

int ZOLK2_InstanceTraceBackupM(ZOLK2_TraceHandle handle, const char* path, int value) {
  ZOLK2T_SCRIPTED(kInstanceTraceBackupM, Num(handle), Text(path), Num(value));
  return Backup(kInstanceTraceBackupM, Find(handle), path);
}

int ZOLK2_ChInstanceFileAttr(ZOLK2_TraceHandle handle, int attribute) {
  ZOLK2T_SCRIPTED(kChInstanceFileAttr, Num(handle), Num(attribute));
  Trace* t = Find(handle);
  if (t == nullptr) return Fail(kChInstanceFileAttr, kNoInstance);
  t->attribute = attribute;
  return 0;
}

int ZOLK2_SetInstanceLogLevel(ZOLK2_TraceHandle handle, int level) {
  ZOLK2T_SCRIPTED(kSetInstanceLogLevel, Num(handle), Num(level));
  return SetOnInstance(kSetInstanceLogLevel, handle, &Trace::level, level);
}

int ZOLK2_SetInstanceFileThreshold(ZOLK2_TraceHandle handle, int threshold) {
  ZOLK2T_SCRIPTED(kSetInstanceFileThreshold, Num(handle), Num(threshold));
  return SetOnInstance(kSetInstanceFileThreshold, handle, &Trace::fileThreshold, threshold);
}

int ZOLK2_SetInstanceShmThreshold(ZOLK2_TraceHandle handle, int threshold) {
  ZOLK2T_SCRIPTED(kSetInstanceShmThreshold, Num(handle), Num(threshold));
  return SetOnInstance(kSetInstanceShmThreshold, handle, &Trace::shmThreshold, threshold);
}

int ZOLK2_SetInstanceLockWaitTime(ZOLK2_TraceHandle handle, int time) {
  ZOLK2T_SCRIPTED(kSetInstanceLockWaitTime, Num(handle), Num(time));
  // Any time is taken, -1 (wait without end) included.
  Trace* t = Find(handle);
  if (t == nullptr) return Fail(kSetInstanceLockWaitTime, kNoInstance);
  const int previous = t->lockWaitTime;
  t->lockWaitTime = time;
  return previous;
}

int ZOLK2_SetInstanceLockRetryTimes(ZOLK2_TraceHandle handle, int times) {
  ZOLK2T_SCRIPTED(kSetInstanceLockRetryTimes, Num(handle), Num(times));
  return SetOnInstance(kSetInstanceLockRetryTimes, handle, &Trace::lockRetryTimes, times);
}

int ZOLK2_LogFileClear(const char* path, int mode, int value) {
  ZOLK2T_SCRIPTED(kLogFileClear, Text(path), Num(mode), Num(value));
  if ((mode != ZOLK2_LOGCLEAR_BY_NUM && mode != ZOLK2_LOGCLEAR_BY_TIME) || value < 0)
    return Fail(kLogFileClear, kInvalid);
  return 0;
}

int ZOLK2_GetLastError(int* detail) {
  ZOLK2T_ENTER(kGetLastError, detail != nullptr ? Arg("&detail") : std::nullopt);
  // A script here says what the error is: the word answered and the detail.
  if (s) {
    gs_word = s->result;
    gs_detail = s->detail;
  }
  if (detail != nullptr) *detail = gs_detail;
  return gs_word;
}

}  // extern "C"
