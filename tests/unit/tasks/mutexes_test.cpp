// Mutex creation, recursive locks and the in-process counting semaphores, as far as one
// thread sees them; what other threads and forked children see is in
// mutexes_threads_test.cpp.
#include <errno.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdint>

#include "mutexes_fixture.h"
#include "vqtasks.h"

using vq_test::PthreadSemaphore;
using vq_test::RecursiveLock;
using vq_test::SafeMutex;

namespace {

TEST(SafeMutex, KeepsTheTypeAskedFor) {
  SafeMutex recursive(PTHREAD_MUTEX_RECURSIVE);
  ASSERT_EQ(recursive.rc(), 0);
  EXPECT_EQ(pthread_mutex_lock(recursive.handle()), 0);
  EXPECT_EQ(pthread_mutex_trylock(recursive.handle()), 0);
  EXPECT_EQ(pthread_mutex_unlock(recursive.handle()), 0);
  EXPECT_EQ(pthread_mutex_unlock(recursive.handle()), 0);

  SafeMutex checking(PTHREAD_MUTEX_ERRORCHECK);
  ASSERT_EQ(checking.rc(), 0);
  EXPECT_EQ(pthread_mutex_unlock(checking.handle()), EPERM);
}

TEST(SafeMutex, BadArgumentsAndNullRecords) {
  EXPECT_EQ(ut_safe_pthread_mutex_init(nullptr, nullptr), EINVAL);

  a_ut_safe_pthread_mutex_t m{};
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  EXPECT_EQ(ut_safe_pthread_mutex_init(&m, &attr), EINVAL);
  EXPECT_EQ(m.handle, nullptr);
  pthread_mutexattr_destroy(&attr);

  EXPECT_EQ(ut_safe_pthread_mutex_destroy(&m), 0) << "a null handle is ignored";
  EXPECT_EQ(ut_safe_pthread_mutex_destroy(nullptr), 0);

  ASSERT_EQ(ut_safe_pthread_mutex_init(&m, nullptr), 0);
  ASSERT_NE(m.handle, nullptr);
  EXPECT_EQ(ut_safe_pthread_mutex_destroy(&m), 0);
  EXPECT_EQ(m.handle, nullptr);
  EXPECT_EQ(ut_safe_pthread_mutex_destroy(&m), 0) << "destroying twice is harmless";
}

TEST_F(RecursiveLock, OwnerReentersAndGivesBackLevelByLevel) {
  for (uintptr_t level = 1; level <= 3; ++level) {
    OS_MutexGet(&lock_);
    EXPECT_EQ(lock_.owner, OS_Me());
    EXPECT_EQ(lock_.count, level);
  }
  for (uintptr_t level = 3; level >= 1; --level) {
    EXPECT_FALSE(mutex_is_free());
    OS_MutexGive(&lock_);
    EXPECT_EQ(lock_.count, level - 1);
  }
  EXPECT_EQ(lock_.owner, 0u);
  EXPECT_TRUE(mutex_is_free());
}

TEST_F(PthreadSemaphore, CountsResetsAndCloses) {
  ASSERT_EQ(ut_pthread_open_semaphore(&s_, 2), 1);
  EXPECT_EQ(ut_pthread_waiton_semaphore(&s_), 1);
  EXPECT_EQ(ut_pthread_waiton_semaphore(&s_), 1);
  EXPECT_EQ(s_.count, 0u);
  EXPECT_EQ(ut_pthread_signal_semaphore(&s_), 1);
  EXPECT_EQ(ut_pthread_signal_semaphore(&s_), 1);
  EXPECT_EQ(ut_pthread_reset_semaphore(&s_), 1);
  EXPECT_EQ(s_.count, 0u);
  EXPECT_EQ(ut_pthread_close_semaphore(&s_), 1);
  // A closed record is refused, not used.
  EXPECT_EQ(ut_pthread_signal_semaphore(&s_), 0);
  EXPECT_EQ(ut_pthread_waiton_semaphore(&s_), 0);
  EXPECT_EQ(ut_pthread_reset_semaphore(&s_), 0);
  EXPECT_EQ(ut_pthread_close_semaphore(&s_), 0);
  EXPECT_EQ(ut_pthread_open_semaphore(nullptr, 0), 0);
}

}  // namespace
