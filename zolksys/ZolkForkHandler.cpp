// Fork handlers for applications that register them with pthread_atfork().
// In the reentrant build they hold the library lock across fork(), so that a
// child forked while another thread is inside the library does not inherit
// the mutex locked and hang on its first message.

#include <zolk2sys.h>

#include "ZolkThread.h"

extern "C" {

void ZOLK2_SysLogPreForkHandler(void) { ZolkThread::LockForFork(); }

void ZOLK2_SysLogPostForkHandlerForParent(void) { ZolkThread::UnlockAfterFork(); }

void ZOLK2_SysLogPostForkHandlerForChild(void) { ZolkThread::UnlockAfterFork(); }

}  // extern "C"
