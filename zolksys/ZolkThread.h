// The library-wide lock of the reentrant build and the thread id.
//
// Every exported function that touches a record or the connection cache runs
// its work through Locked(). In the reentrant build that is one
// cancellation-safe section on a single process-wide mutex; in the
// single-thread build it runs the work directly.
#ifndef ZOLKSYS_ZOLKTHREAD_H
#define ZOLKSYS_ZOLKTHREAD_H

#include <type_traits>

namespace ZolkThread {

// Runs op(context) inside the lock section and returns its result. In the
// reentrant build: cancellation deferred, the mutex released by a cleanup
// handler if the thread is cancelled inside op (syslog() may be a
// cancellation point), the caller's cancel type restored afterwards and a
// pending cancellation acted on at once if that type was asynchronous.
int RunLocked(int (*op)(void* context), void* context);

template <typename F>
int Locked(F&& work) {
  using Work = std::remove_reference_t<F>;
  return RunLocked([](void* w) -> int { return (*static_cast<Work*>(w))(); }, &work);
}

// Hold the lock across fork(): taken before, released in parent and child.
void LockForFork();
void UnlockAfterFork();

#if ZOLK_REENTRANT
// The calling thread's kernel thread id.
unsigned long CurrentThreadId();
#endif

}  // namespace ZolkThread

#endif
