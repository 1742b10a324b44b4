#include "ZolkThread.h"

#if ZOLK_REENTRANT

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace {

// Guards every record, the default instance, the live-record registry and
// the connection cache.
pthread_mutex_t ms_pthreadMutex = PTHREAD_MUTEX_INITIALIZER;

// Asking the kernel for the thread id is a system call, costlier than the
// rest of a message's assembly; each thread keeps its id once asked. A fork
// gives the child's thread a new id, so the child handler (registered with
// the first query) moves the generation on and every kept id is asked anew.
std::atomic<unsigned> ms_tidGeneration{1};
thread_local unsigned ms_keptTidGeneration = 0;
thread_local unsigned long ms_keptTid = 0;
pthread_once_t ms_forkWatch = PTHREAD_ONCE_INIT;

void newTidGeneration() { ms_tidGeneration.fetch_add(1, std::memory_order_relaxed); }

void watchForks() { ::pthread_atfork(nullptr, nullptr, newTidGeneration); }

void unlockOnCancel(void*) { ::pthread_mutex_unlock(&ms_pthreadMutex); }

}  // namespace

int ZolkThread::RunLocked(int (*op)(void*), void* context) {
  int old = PTHREAD_CANCEL_DEFERRED;
  ::pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, &old);
  int rc;
  pthread_cleanup_push(unlockOnCancel, nullptr);
  ::pthread_mutex_lock(&ms_pthreadMutex);
  rc = op(context);
  ::pthread_mutex_unlock(&ms_pthreadMutex);
  pthread_cleanup_pop(0);
  ::pthread_setcanceltype(old, nullptr);
  if (old == PTHREAD_CANCEL_ASYNCHRONOUS) ::pthread_testcancel();
  return rc;
}

void ZolkThread::LockForFork() { ::pthread_mutex_lock(&ms_pthreadMutex); }

void ZolkThread::UnlockAfterFork() { ::pthread_mutex_unlock(&ms_pthreadMutex); }

unsigned long ZolkThread::CurrentThreadId() {
  const unsigned generation = ms_tidGeneration.load(std::memory_order_relaxed);
  if (ms_keptTidGeneration != generation) {
    ::pthread_once(&ms_forkWatch, watchForks);
    ms_keptTid = static_cast<unsigned long>(::gettid());
    ms_keptTidGeneration = generation;
  }
  return ms_keptTid;
}

#else  // single-thread build: no lock, no cancellation handling

int ZolkThread::RunLocked(int (*op)(void*), void* context) { return op(context); }

void ZolkThread::LockForFork() {}

void ZolkThread::UnlockAfterFork() {}

#endif
