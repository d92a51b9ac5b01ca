// The mutex and semaphore tests' fixtures: a mutex record of a chosen type, a recursive
// lock of the communication stack and an in-process counting semaphore, each made and
// destroyed with the test.
#ifndef VQ_TESTS_TASKS_MUTEXES_FIXTURE_H
#define VQ_TESTS_TASKS_MUTEXES_FIXTURE_H

#include <gtest/gtest.h>
#include <pthread.h>

#include "vqtasks.h"

namespace vq_test {

// A mutex record with the type given; destroyed at the end of the scope.
class SafeMutex {
 public:
  explicit SafeMutex(int type) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, type);
    rc_ = ut_safe_pthread_mutex_init(&m_, type == PTHREAD_MUTEX_NORMAL ? nullptr : &attr);
    pthread_mutexattr_destroy(&attr);
  }
  ~SafeMutex() { ut_safe_pthread_mutex_destroy(&m_); }
  int rc() const { return rc_; }
  pthread_mutex_t* handle() { return m_.handle; }

 private:
  a_ut_safe_pthread_mutex_t m_{};
  int rc_;
};

// A recursive lock of the communication stack, made and destroyed with the test.
class RecursiveLock : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ut_safe_pthread_mutex_init(&lock_.mutex, nullptr), 0); }
  void TearDown() override { EXPECT_EQ(ut_safe_pthread_mutex_destroy(&lock_.mutex), 0); }
  bool mutex_is_free() {
    if (pthread_mutex_trylock(lock_.mutex.handle) != 0) return false;
    pthread_mutex_unlock(lock_.mutex.handle);
    return true;
  }
  a_os_recursive_lock lock_{};
};

// An in-process counting semaphore, closed after the test when it is still open.
class PthreadSemaphore : public testing::Test {
 protected:
  void TearDown() override {
    if (s_.is_open) {
      EXPECT_EQ(ut_pthread_close_semaphore(&s_), 1);
    }
  }
  a_ut_pthread_semaphore s_{};
};

}  // namespace vq_test

#endif  // VQ_TESTS_TASKS_MUTEXES_FIXTURE_H
