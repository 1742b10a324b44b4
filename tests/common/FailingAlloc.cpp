#include "common/FailingAlloc.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstddef>

#include "common/Sanitizers.h"

#ifdef ZOLK_TEST_THREAD_SANITIZER
#define ZOLK_TEST_NO_INTERPOSITION 1
#endif

namespace zolktest {
namespace {

// Plain thread-local integers: reading them allocates nothing.
thread_local long ms_failAt = 0;  // 0: not armed
thread_local long ms_calls = 0;
thread_local bool ms_failed = false;

#ifndef ZOLK_TEST_NO_INTERPOSITION
using MallocFn = void* (*)(std::size_t);
using CallocFn = void* (*)(std::size_t, std::size_t);

MallocFn ms_nextMalloc = nullptr;
CallocFn ms_nextCalloc = nullptr;
bool ms_resolving = false;

// The allocator behind this program's definitions: the sanitizer's, or the
// C library's. Looking it up may allocate; such a call gets null, which the
// dynamic linker copes with.
bool resolve() {
  if (ms_nextMalloc != nullptr) return true;
  if (ms_resolving) return false;
  ms_resolving = true;
  ms_nextCalloc = reinterpret_cast<CallocFn>(::dlsym(RTLD_NEXT, "calloc"));
  ms_nextMalloc = reinterpret_cast<MallocFn>(::dlsym(RTLD_NEXT, "malloc"));
  ms_resolving = false;
  return ms_nextMalloc != nullptr && ms_nextCalloc != nullptr;
}

bool failThisOne() {
  if (ms_failAt == 0) return false;
  if (++ms_calls != ms_failAt) return false;
  ms_failed = true;
  errno = ENOMEM;
  return true;
}

#endif

}  // namespace

bool AllocationFailureAvailable() { return !kThreadSanitizer; }

AllocationRun WithFailingAllocation(long nth, const std::function<void()>& fn) {
  ms_calls = 0;
  ms_failed = false;
  ms_failAt = nth;
  fn();
  ms_failAt = 0;
  return {ms_calls, ms_failed};
}

long ForEachFailingAllocation(const std::function<void()>& fn,
                              const std::function<void(long, const AllocationRun&)>& check) {
  for (long nth = 1;; ++nth) {
    const AllocationRun run = WithFailingAllocation(nth, fn);
    check(nth, run);
    if (!run.failed) return run.calls;
  }
}

}  // namespace zolktest

#ifndef ZOLK_TEST_NO_INTERPOSITION
extern "C" {

__attribute__((visibility("default"))) void* malloc(std::size_t size) {
  if (!zolktest::resolve() || zolktest::failThisOne()) return nullptr;
  return zolktest::ms_nextMalloc(size);
}

__attribute__((visibility("default"))) void* calloc(std::size_t count, std::size_t size) {
  if (!zolktest::resolve() || zolktest::failThisOne()) return nullptr;
  return zolktest::ms_nextCalloc(count, size);
}

}  // extern "C"
#endif
