// Mutexes across fork, recursive locks and the temporary-cleaner lock shared between
// threads, and the in-process counting semaphores between threads.
#include <errno.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "forked_check.h"
#include "mutexes_fixture.h"
#include "vqtasks.h"

using vq_test::PthreadSemaphore;
using vq_test::RecursiveLock;
using vq_test::SafeMutex;

namespace {

using namespace std::chrono_literals;

// Waits at most a few seconds, so that a mutex left locked fails the check instead of
// hanging the test.
int lock_within_seconds(pthread_mutex_t* m, int seconds) {
  timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += seconds;
  return pthread_mutex_timedlock(m, &deadline);
}

struct TypeCase {
  const char* label;
  int type;
};
const TypeCase kTypes[] = {
    {"Normal", PTHREAD_MUTEX_NORMAL},
    {"Recursive", PTHREAD_MUTEX_RECURSIVE},
    {"ErrorCheck", PTHREAD_MUTEX_ERRORCHECK},
};

void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.label; }

class SafeMutexAcrossFork : public testing::TestWithParam<TypeCase> {};

// Another thread of the parent holds the mutex while the parent forks. That thread
// does not exist in the child, yet the child must be able to take the mutex.
TEST_P(SafeMutexAcrossFork, MutexHeldByAnotherThreadIsFreeInTheChild) {
  SafeMutex m(GetParam().type);
  ASSERT_EQ(m.rc(), 0);
  std::promise<void> locked;
  std::promise<void> release;
  std::thread holder([&] {
    pthread_mutex_lock(m.handle());
    locked.set_value();
    release.get_future().wait();
    pthread_mutex_unlock(m.handle());
  });
  locked.get_future().wait();

  const int status = run_in_child([&] {
    if (lock_within_seconds(m.handle(), 5) != 0) return 1;
    if (pthread_mutex_unlock(m.handle()) != 0) return 2;
    return 0;
  });
  release.set_value();
  holder.join();
  EXPECT_TRUE(exited_cleanly(status)) << describe_status(status);
  // The parent's mutex is untouched by what the child did.
  EXPECT_EQ(lock_within_seconds(m.handle(), 5), 0);
  EXPECT_EQ(pthread_mutex_unlock(m.handle()), 0);
}

// The forking thread holds the mutex across fork (as fork handlers that guard a
// process-wide list do): in the child it still holds it, other threads of the child
// are kept out, and it can release it.
TEST_P(SafeMutexAcrossFork, MutexHeldByTheForkingThreadStaysItsOwn) {
  SafeMutex m(GetParam().type);
  ASSERT_EQ(m.rc(), 0);
  ASSERT_EQ(pthread_mutex_lock(m.handle()), 0);
  const int status = run_in_child([&] {
    int other = -1;
    std::thread([&] { other = pthread_mutex_trylock(m.handle()); }).join();
    if (other != EBUSY) return 1;
    if (pthread_mutex_unlock(m.handle()) != 0) return 2;
    std::thread([&] {
      other = lock_within_seconds(m.handle(), 5);
      if (other == 0) pthread_mutex_unlock(m.handle());
    }).join();
    if (other != 0) return 3;
    return 0;
  });
  EXPECT_EQ(pthread_mutex_unlock(m.handle()), 0);
  EXPECT_TRUE(exited_cleanly(status)) << describe_status(status);
}

INSTANTIATE_TEST_SUITE_P(Types, SafeMutexAcrossFork, testing::ValuesIn(kTypes),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(RecursiveLock, AnotherThreadWaitsUntilTheOwnerIsDone) {
  OS_MutexGet(&lock_);
  OS_MutexGet(&lock_);
  std::atomic<bool> got{false};
  std::thread other([&] {
    OS_MutexGet(&lock_);
    got = true;
    OS_MutexGive(&lock_);
  });
  OS_MutexGive(&lock_);
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(got) << "one level is still held";
  // A thread that does not own the lock cannot give it back for the owner.
  std::thread([&] { OS_MutexGive(&lock_); }).join();
  EXPECT_EQ(lock_.count, 1u);
  OS_MutexGive(&lock_);
  other.join();
  EXPECT_TRUE(got);
  EXPECT_TRUE(mutex_is_free());
}

// Runs in a child process: a broken lock would leave threads blocked for good, and the
// child's alarm then ends it, so the test fails instead of hanging.
TEST_F(RecursiveLock, NeverTwoOwnersAtOnce) {
  const int status = run_in_child([&] {
    constexpr int kThreads = 6;
    constexpr int kRounds = 2000;
    std::atomic<int> inside{0};
    std::atomic<int> violations{0};
    long total = 0;  // guarded by the lock under test
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        const a_os_thread me = OS_Me();
        for (int i = 0; i < kRounds; ++i) {
          OS_MutexGet(&lock_);
          OS_MutexGet(&lock_);  // re-entry must not block
          if (inside.fetch_add(1) != 0) ++violations;
          if (__atomic_load_n(&lock_.owner, __ATOMIC_RELAXED) != me || lock_.count != 2) {
            ++violations;
          }
          ++total;
          inside.fetch_sub(1);
          OS_MutexGive(&lock_);
          OS_MutexGive(&lock_);
        }
      });
    }
    for (auto& t : threads) t.join();
    if (violations != 0) return 1;
    if (total != long{kThreads} * kRounds) return 2;
    if (!mutex_is_free()) return 3;
    return 0;
  });
  EXPECT_TRUE(exited_cleanly(status)) << describe_status(status)
                                      << " (1: two owners at once, 2: a round lost, "
                                         "3: the mutex left locked, signal 14: a hang)";
}

// A thread of the parent holds the lock at the fork. In the child the lock can be
// taken, and given back fully: the holder's count does not come along.
TEST_F(RecursiveLock, UsableInAChildWhenAnotherParentThreadHeldIt) {
  std::promise<void> locked;
  std::promise<void> release;
  std::thread holder([&] {
    OS_MutexGet(&lock_);
    OS_MutexGet(&lock_);
    locked.set_value();
    release.get_future().wait();
    OS_MutexGive(&lock_);
    OS_MutexGive(&lock_);
  });
  locked.get_future().wait();
  const int status = run_in_child([&] {
    OS_MutexGet(&lock_);
    if (lock_.count != 1 || lock_.owner != OS_Me()) return 1;
    OS_MutexGive(&lock_);
    if (lock_.owner != 0 || !mutex_is_free()) return 2;
    return 0;
  });
  release.set_value();
  holder.join();
  EXPECT_TRUE(exited_cleanly(status)) << describe_status(status);
}

TEST(TmpCleanerMutex, NestsForItsHolderAndKeepsOthersOut) {
  OS_GetTmpCleanerMutex();
  OS_GetTmpCleanerMutex();
  std::atomic<bool> got{false};
  std::thread other([&] {
    OS_GetTmpCleanerMutex();
    got = true;
    OS_GiveTmpCleanerMutex();
  });
  OS_GiveTmpCleanerMutex();
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(got);
  OS_GiveTmpCleanerMutex();
  other.join();
  EXPECT_TRUE(got);
}

// The parent forks while one of its threads holds the lock; the child can still claim.
TEST(TmpCleanerMutex, FreeInAChildWhenAnotherParentThreadHeldIt) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer cannot start a thread in a child forked while another "
                  "thread of the parent runs; the plain and ASan builds run this test";
#endif
  std::promise<void> locked;
  std::promise<void> release;
  std::thread holder([&] {
    OS_GetTmpCleanerMutex();
    locked.set_value();
    release.get_future().wait();
    OS_GiveTmpCleanerMutex();
  });
  locked.get_future().wait();
  const int status = run_in_child([] {
    std::atomic<bool> got{false};
    std::thread t([&] {
      OS_GetTmpCleanerMutex();
      got = true;
      OS_GiveTmpCleanerMutex();
    });
    for (int i = 0; i < 500 && !got; ++i) std::this_thread::sleep_for(10ms);
    if (!got) _exit(1);  // the thread is stuck; do not wait for it
    t.join();
    return 0;
  });
  release.set_value();
  holder.join();
  EXPECT_TRUE(exited_cleanly(status)) << describe_status(status);
}

TEST_F(PthreadSemaphore, WaitBlocksUntilASignal) {
  ASSERT_EQ(ut_pthread_open_semaphore(&s_, 0), 1);
  std::atomic<bool> passed{false};
  std::thread waiter([&] {
    ut_pthread_waiton_semaphore(&s_);
    passed = true;
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(passed);
  ut_pthread_signal_semaphore(&s_);
  waiter.join();
  EXPECT_TRUE(passed);
}

// Every unit signalled by the producers is taken exactly once by the consumers.
TEST_F(PthreadSemaphore, ProducersAndConsumersBalance) {
  constexpr int kProducers = 4;
  constexpr int kConsumers = 2;
  constexpr int kUnits = 1000;  // per producer
  ASSERT_EQ(ut_pthread_open_semaphore(&s_, 0), 1);
  std::atomic<int> taken{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < kConsumers; ++c) {
    threads.emplace_back([&] {
      for (int i = 0; i < kProducers * kUnits / kConsumers; ++i)
        if (ut_pthread_waiton_semaphore(&s_) == 1) ++taken;
    });
  }
  for (int p = 0; p < kProducers; ++p) {
    threads.emplace_back([&] {
      for (int i = 0; i < kUnits; ++i) ut_pthread_signal_semaphore(&s_);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(taken, kProducers * kUnits);
  EXPECT_EQ(s_.count, 0u);
}

}  // namespace
