#include "ZolkThread.h"

#if ZOLK_REENTRANT

#include <pthread.h>
#include <unistd.h>

namespace {

// Guards every record, the default instance, the live-record registry and
// the connection cache.
pthread_mutex_t ms_pthreadMutex = PTHREAD_MUTEX_INITIALIZER;

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

unsigned long ZolkThread::CurrentThreadId() { return static_cast<unsigned long>(::gettid()); }

#else  // single-thread build: no lock, no cancellation handling

int ZolkThread::RunLocked(int (*op)(void*), void* context) { return op(context); }

void ZolkThread::LockForFork() {}

void ZolkThread::UnlockAfterFork() {}

#endif
