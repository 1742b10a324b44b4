// Control of the stand-in core trace library, for tests and benchmarks.
//
// The stand-in keeps real state (the process-wide trace, instances with
// 32-bit handles, levels and thresholds, the last error) and writes each
// message as one line "level|id|tid|text|type|message" (absent texts empty)
// into a trace set of the trace writer: the option block's path is the
// set's directory and the name its prefix. Without an option block the set
// goes to the default directory, and without one of those nowhere.
//
// Every call of a core function is recorded with its arguments. Any
// function's next result can be scripted together with the error word and
// detail it leaves behind: a scripted result replaces the call's work,
// except that a creating call scripted to 0..3 (a success, qualified or
// not) still creates, then answers the scripted result. A scripted failure
// of a creating call writes no handle.
#ifndef ZOLK_SUPPORT_ZOLK2T_CONTROL_H
#define ZOLK_SUPPORT_ZOLK2T_CONTROL_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zolk2t {

// One recorded call: the function's name and its arguments in order, each
// as text (integers in decimal, an option block as "{size,count,path}"),
// a null pointer as nullopt. Out parameters are not recorded.
struct Call {
  std::string function;
  std::vector<std::optional<std::string>> args;
};

// The codes of the stand-in's own error words (bits 31..24); the position
// is kPositionBase plus the function's number.
enum ErrorCode : int { kInvalid = 1, kState = 2, kNoInstance = 3, kIo = 4 };
constexpr int kPositionBase = 0x100;

// Back to the state of a fresh process, recording and scripts cleared.
void Reset();

// The next call of `function` answers `result` and leaves (word, detail)
// as the last error. Scripts of one function are used in the order given.
void Script(const std::string& function, int result, int word = -1, int detail = 0);

// The calls since the last Reset, all or those of one function.
std::vector<Call> Calls();
std::vector<Call> Calls(const std::string& function);

// The instances created and not yet deleted.
size_t LiveInstances();

// The handle the next created instance gets (later ones count up from it).
void SetNextHandle(uint32_t handle);

// Where trace sets made without an option block go ("" for nowhere).
void SetDefaultDirectory(const std::string& directory);

// While on, the four put functions answer 0 at once: nothing is checked,
// recorded or written (the benchmark's do-nothing core).
void SetDiscard(bool on);

}  // namespace zolk2t

#endif
