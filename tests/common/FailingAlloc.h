// Allocation failure on demand. A test program that compiles FailingAlloc.cpp
// defines malloc() and calloc() itself and exports them, so the libraries
// it loads call these; each passes the call on to the allocator that would
// have served it, except the one chosen to fail, which returns null with
// errno ENOMEM. Only calls made by the arming thread count.
#ifndef ZOLK_TESTS_COMMON_FAILINGALLOC_H
#define ZOLK_TESTS_COMMON_FAILINGALLOC_H

#include <functional>

namespace zolktest {

struct AllocationRun {
  long calls = 0;       // malloc() and calloc() calls fn made
  bool failed = false;  // one of them was the nth and failed
};

// False under ThreadSanitizer, whose start-up allocates through these
// definitions before it can run their instrumented code: there, no
// allocation fails and the tests skip.
bool AllocationFailureAvailable();

// Runs fn with its nth allocation (counted from 1) failing.
AllocationRun WithFailingAllocation(long nth, const std::function<void()>& fn);

// Runs fn with every allocation in turn failing, once each, until a run makes
// no more than nth - 1 allocations; check(run) follows every run. Returns the
// number of allocations of the run that went through.
long ForEachFailingAllocation(const std::function<void()>& fn,
                              const std::function<void(long nth, const AllocationRun&)>& check);

}  // namespace zolktest

#endif
