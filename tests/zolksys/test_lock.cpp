// The library lock of the reentrant build: cancellation inside a write,
// fork while another thread holds the lock, and many threads writing through
// different instances at once.

#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/Process.h"
#include "common/Sanitizers.h"
#include "zolksys/SysLogTest.h"

namespace zolktest {
namespace {

// Runs a write on another thread and reports whether it finished within the
// time given; a write that never finishes means the lock was left held. The
// thread is detached then, and the test process ends with it blocked.
bool WriteFinishesWithin(ZOLK2_SYSLOG* inst, std::chrono::seconds limit) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread t([inst, done] {
    ZOLK2_PutToSysLogInstance(inst, LOG_ERR, "after", nullptr);
    done->store(true);
  });
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done->load() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  if (done->load()) {
    t.join();
    return true;
  }
  t.detach();
  return false;
}

// A write hook that tells the test it is inside syslog() and then waits
// until released: in a cancellation point (read() on a pipe), or spinning,
// where a cancellation request stays pending. Only the first write waits.
// The hook runs once the call is recorded and owns nothing itself, so a
// thread cancelled in its read() has no object of the test to destroy on
// the way out; only the library's own clean-up runs.
class BlockingWrite final {
 public:
  enum Wait { kInCancellationPoint, kSpinning };
  explicit BlockingWrite(Wait wait) : wait_(wait) {
    ::sem_init(&entered_, 0, 0);
    EXPECT_EQ(::pipe(gate_), 0);
    SyslogRecorder::SetWriteHook(&BlockingWrite::Block, this);
  }
  ~BlockingWrite() {
    SyslogRecorder::SetWriteHook(nullptr);
    ::close(gate_[0]);
    ::close(gate_[1]);
    ::sem_destroy(&entered_);
  }
  BlockingWrite(const BlockingWrite&) = delete;
  BlockingWrite& operator=(const BlockingWrite&) = delete;

  void WaitUntilEntered() { ::sem_wait(&entered_); }
  void Release() {
    released_.store(true);
    EXPECT_EQ(::write(gate_[1], "x", 1), 1);
  }

 private:
  static void Block(void* context) {
    BlockingWrite* const self = static_cast<BlockingWrite*>(context);
    SyslogRecorder::SetWriteHook(nullptr);
    ::sem_post(&self->entered_);
    if (self->wait_ == kSpinning) {
      while (!self->released_.load()) {
      }
      return;
    }
    while (::read(self->gate_[0], &self->byte_, 1) < 0) {
    }
  }

  const Wait wait_;
  sem_t entered_;
  int gate_[2];
  char byte_ = 0;
  std::atomic<bool> released_{false};
};

// The writer asks for asynchronous cancellation and is cancelled while it
// waits inside syslog(), under the library's lock: the request is acted on
// in the hook's read(), after the write has been recorded.
TEST_F(SysLogTest, CancelledInsideAWriteLeavesTheLockFree) {
  Instance log;
  BlockingWrite block(BlockingWrite::kInCancellationPoint);
  struct Args {
    ZOLK2_SYSLOG* inst;
  } args{log};
  pthread_t writer;
  ASSERT_EQ(::pthread_create(
                &writer, nullptr,
                [](void* p) -> void* {
                  int old;
                  ::pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, &old);
                  ZOLK2_PutToSysLogInstance(static_cast<Args*>(p)->inst, LOG_ERR, "blocked", "");
                  return nullptr;
                },
                &args),
            0);
  block.WaitUntilEntered();
  ASSERT_EQ(::pthread_cancel(writer), 0);
  void* result = nullptr;
  ASSERT_EQ(::pthread_join(writer, &result), 0);
  EXPECT_EQ(result, PTHREAD_CANCELED);

  EXPECT_TRUE(WriteFinishesWithin(log, std::chrono::seconds(10)))
      << "the lock stayed held after the cancelled write";
  EXPECT_EQ(Messages(), (std::vector<std::string>{"blocked", "after"}));
}

TEST_F(SysLogTest, AsynchronousCancelTypeIsRestoredAndPendingCancelActedOn) {
  // Inside the library cancellation is deferred, so a request made while the
  // write runs (here spinning, outside any cancellation point) stays pending;
  // with the caller's asynchronous type restored on the way out it is acted
  // on at once, before the caller runs another instruction of its own.
  Instance log;
  BlockingWrite block(BlockingWrite::kSpinning);
  std::atomic<bool> returned{false};
  struct Args {
    ZOLK2_SYSLOG* inst;
    std::atomic<bool>* returned;
  } args{log, &returned};
  pthread_t writer;
  ASSERT_EQ(::pthread_create(
                &writer, nullptr,
                [](void* p) -> void* {
                  auto* a = static_cast<Args*>(p);
                  int old;
                  ::pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, &old);
                  ZOLK2_PutToSysLogInstance(a->inst, LOG_ERR, "held", "");
                  // Reached only if the pending cancellation was lost: this
                  // code has no cancellation point of its own.
                  a->returned->store(true);
                  return nullptr;
                },
                &args),
            0);
  block.WaitUntilEntered();
  ASSERT_EQ(::pthread_cancel(writer), 0);
  block.Release();
  void* result = nullptr;
  ASSERT_EQ(::pthread_join(writer, &result), 0);
  EXPECT_EQ(result, PTHREAD_CANCELED);
  EXPECT_FALSE(returned.load());
  EXPECT_TRUE(WriteFinishesWithin(log, std::chrono::seconds(10)))
      << "the lock stayed held after the cancellation";
}

TEST_F(SysLogTest, ChildForkedWhileTheLockIsHeldCanWrite) {
  ASSERT_EQ(::pthread_atfork(ZOLK2_SysLogPreForkHandler, ZOLK2_SysLogPostForkHandlerForParent,
                             ZOLK2_SysLogPostForkHandlerForChild),
            0);
  Instance log;
  BlockingWrite block(BlockingWrite::kInCancellationPoint);
  std::thread holder([&] { ZOLK2_PutToSysLogInstance(log, LOG_ERR, "holder", ""); });
  block.WaitUntilEntered();  // the holder is inside the lock section now

  // fork() waits in the pre-fork handler until the holder lets go.
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    block.Release();
  });
  ProcessResult child = RunInChild(
      [&] {
        // Only this thread exists here; with the lock inherited held, this
        // write would never return and the parent would kill the child.
        SyslogRecorder::Clear();
        if (ZOLK2_PutToSysLogInstance(log, LOG_ERR, "child", "") != 0) return 2;
        std::vector<SyslogCall> w = SyslogRecorder::Writes();
        return w.size() == 1 && w[0].message == "child" ? 0 : 3;
      },
      20);
  releaser.join();
  holder.join();
  EXPECT_FALSE(child.timedOut) << "the child inherited the lock held";
  EXPECT_EQ(child.exitCode, 0);
  EXPECT_TRUE(WriteFinishesWithin(log, std::chrono::seconds(10))) << "the parent's lock stayed held";
}

TEST_F(SysLogTest, ThreadIdsAreTheWritingThreadsAlsoAfterFork) {
  Instance log;
  ASSERT_EQ(ZOLK2_SetSysLogTidFormatInstance(log, ZOLK2_SYSLOG_TID_DECIMAL, "<", ">"), 0);
  auto writeAndCheck = [&]() -> bool {
    SyslogRecorder::Clear();
    ZOLK2_PutToSysLogWithTidInstance(log, LOG_ERR, "t", "");
    std::vector<std::string> m = Messages();
    return m.size() == 1 && m[0] == "t<" + ThreadIdText("%lu") + ">";
  };
  EXPECT_TRUE(writeAndCheck()) << "main thread";
  std::thread other([&] { EXPECT_TRUE(writeAndCheck()) << "second thread"; });
  other.join();
  EXPECT_TRUE(writeAndCheck()) << "main thread again";
  // The forked child's thread has an id of its own.
  ProcessResult child = RunInChild([&] { return writeAndCheck() ? 0 : 1; });
  EXPECT_EQ(child.exitCode, 0) << "the child wrote its parent's thread id";
  ProcessResult grandchild = RunInChild([&] {
    ProcessResult inner = RunInChild([&] { return writeAndCheck() ? 0 : 1; });
    return inner.exitCode == 0 && writeAndCheck() ? 0 : 1;
  });
  EXPECT_EQ(grandchild.exitCode, 0);
}

TEST_F(SysLogTest, ThreadsWritingThroughTheirOwnInstances) {
  // Every message must go out with the identity, options, facility and mask
  // of the instance it was written through, however the threads interleave;
  // a further thread creates and deletes instances meanwhile.
  constexpr int kThreads = 4;
  constexpr int kMessages = 300;
  struct Setting {
    std::string ident;
    int option, facility, mask;
    bool withTid;
  };
  std::vector<Setting> settings;
  std::vector<ZOLK2_SYSLOG*> insts(kThreads);
  for (int i = 0; i < kThreads; ++i) {
    settings.push_back({"ident" + std::to_string(i), LOG_PID | (i % 2 ? LOG_NDELAY : 0),
                        (16 + i) << 3, 0x7F >> i, i % 2 == 0});
    ASSERT_EQ(ZOLK2_CreateSysLogInstance(&insts[i]), 0);
    ASSERT_EQ(ZOLK2_OpenSysLogInstance(insts[i], settings[i].ident.c_str(),
                                       settings[i].option |
                                           (settings[i].withTid ? ZOLK2_SYSLOG_OPT_WITH_TID : 0),
                                       settings[i].facility),
              0);
    ASSERT_EQ(ZOLK2_SetLogMaskInstance(insts[i], settings[i].mask), 0x7F);
  }
  SyslogRecorder::Clear();
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    while (!stop.load()) {
      ZOLK2_SYSLOG* p = nullptr;
      if (ZOLK2_CreateSysLogInstance(&p) == 0) {
        ZOLK2_SetLogMaskInstance(p, 1);
        ZOLK2_DeleteSysLogInstance(p);
      }
    }
  });
  std::vector<std::thread> writers;
  for (int i = 0; i < kThreads; ++i) {
    writers.emplace_back([&, i] {
      for (int m = 0; m < kMessages; ++m) {
        const std::string text = std::to_string(i) + ":" + std::to_string(m);
        ZOLK2_PutToSysLogInstance(insts[i], LOG_ERR, "", text.c_str());
        if (m % 50 == 0) ZOLK2_PutToSysLog(LOG_ERR, "default");
      }
    });
  }
  for (std::thread& t : writers) t.join();
  stop.store(true);
  churn.join();

  std::vector<int> next(kThreads, 0);
  for (const SyslogCall& w : SyslogRecorder::Writes()) {
    if (w.message == "default") {
      EXPECT_EQ(w.ident, "");
      continue;
    }
    // " i:m" or "[tid] i:m"
    const size_t colon = w.message.rfind(':');
    const size_t start = w.message.find_last_of(" ", colon) + 1;
    const int i = std::stoi(w.message.substr(start, colon - start));
    const int m = std::stoi(w.message.substr(colon + 1));
    ASSERT_TRUE(i >= 0 && i < kThreads) << w.message;
    EXPECT_EQ(m, next[i]++) << "thread " << i << " messages out of order";
    EXPECT_EQ(w.ident, settings[i].ident) << w.message;
    EXPECT_EQ(w.option, settings[i].option) << w.message;
    EXPECT_EQ(w.facility, settings[i].facility) << w.message;
    EXPECT_EQ(w.mask, settings[i].mask) << w.message;
    EXPECT_EQ(w.message[0] == '[', settings[i].withTid) << w.message;
  }
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(next[i], kMessages) << "thread " << i;
    ZOLK2_DeleteSysLogInstance(insts[i]);
  }
}

// A storm: writer threads cancelled at random moments, all of them
// cancellable inside syslog(), under the library's lock, while another
// thread keeps forking children that write once each. No child may hang or
// fail to write, and the lock is free when the storm is over.
void* WriteUntilCancelled(void* inst) {
  for (;;) {
    ZOLK2_PutToSysLogInstance(static_cast<ZOLK2_SYSLOG*>(inst), LOG_ERR, "storm", "");
    ZOLK2_PutToSysLog(LOG_ERR, "default");
  }
}

// Half of the writers take asynchronous cancellation inside syslog(), in a
// window that runs nothing but a system call. Anywhere else it may strike
// inside malloc() or a destructor, which POSIX leaves undefined (a writer
// cancelled in a destructor ended the storm's child with std::terminate).
// The sanitizers wrap system calls in code of their own, so there every
// writer waits for deferred cancellation.
constexpr bool kAsynchronousCancellation = !kAddressSanitizer && !kThreadSanitizer;
thread_local bool tl_asynchronous = false;

void CancellationPointInsideSyslog(void*) {
  if (tl_asynchronous) {
    ::pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, nullptr);
    ::sched_yield();
    ::pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, nullptr);
  }
  ::pthread_testcancel();
}

void* WriteUntilCancelledAsynchronously(void* inst) {
  tl_asynchronous = kAsynchronousCancellation;
  return WriteUntilCancelled(inst);
}

// The storm itself, in a child process of the test, so that a deadlock
// ends in the test's time limit: 0, or 1 when a forked child hung, 2 when
// one could not write, 3 when the lock stayed held afterwards.
int RunStorm(ZOLK2_SYSLOG* log) {
  SyslogRecorder::SetLimit(1000);
  // syslog() is a cancellation point; the recorder's becomes one here.
  SyslogRecorder::SetWriteHook(CancellationPointInsideSyslog);
  // ThreadSanitizer's runtime does not hold its allocator's locks across
  // fork(): a child forked while another thread is in malloc() or free()
  // inherits such a lock taken and hangs in its own first malloc() or free()
  // that needs it, whatever the library does. Under it the storm only cancels.
  constexpr int kCancels = 600, kForks = kThreadSanitizer ? 0 : 150, kSlots = 3;
  std::atomic<int> outcome{0};
  std::thread forker([&] {
    for (int i = 0; i < kForks && outcome.load() == 0; ++i) {
      const ProcessResult child = RunInChild(
          [&] {
            SyslogRecorder::Clear();
            if (ZOLK2_PutToSysLogInstance(log, LOG_ERR, "child", "") != 0) return 2;
            std::vector<SyslogCall> w = SyslogRecorder::Writes();
            return w.size() == 1 && w[0].message.rfind("child[", 0) == 0 ? 0 : 3;
          },
          10);
      if (child.timedOut || child.exitCode != 0) outcome = child.timedOut ? 1 : 2;
    }
  });
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<useconds_t> moment(0, 300);
  pthread_t writers[kSlots];
  for (pthread_t& slot : writers) ::pthread_create(&slot, nullptr, WriteUntilCancelled, log);
  for (int i = 0; i < kCancels; ++i) {
    ::usleep(moment(random));
    pthread_t& slot = writers[i % kSlots];
    ::pthread_cancel(slot);
    ::pthread_join(slot, nullptr);
    ::pthread_create(&slot, nullptr,
                     i % 2 ? WriteUntilCancelledAsynchronously : WriteUntilCancelled, log);
  }
  forker.join();
  for (pthread_t& slot : writers) {
    ::pthread_cancel(slot);
    ::pthread_join(slot, nullptr);
  }
  SyslogRecorder::SetWriteHook(nullptr);
  if (outcome.load() == 0 && !WriteFinishesWithin(log, std::chrono::seconds(10))) outcome = 3;
  std::cout << kCancels << " cancellations, " << kForks << " forks, " << SyslogRecorder::Count()
            << " messages written\n";
  return outcome.load();
}

TEST_F(SysLogTest, StormOfCancellationsAndForks) {
  ASSERT_EQ(::pthread_atfork(ZOLK2_SysLogPreForkHandler, ZOLK2_SysLogPostForkHandlerForParent,
                             ZOLK2_SysLogPostForkHandlerForChild),
            0);
  Instance log;
  ASSERT_EQ(ZOLK2_OpenSysLogInstance(log, "storm", LOG_PID | ZOLK2_SYSLOG_OPT_WITH_TID, LOG_LOCAL0),
            0);
  const ProcessResult storm = RunInChild([&] { return RunStorm(log); }, 60);
  EXPECT_FALSE(storm.timedOut) << "deadlock: a thread waits for the lock for ever";
  EXPECT_EQ(storm.exitCode, 0) << "1: a forked child hung, 2: one could not write, "
                                  "3: the lock stayed held";
}

}  // namespace
}  // namespace zolktest
