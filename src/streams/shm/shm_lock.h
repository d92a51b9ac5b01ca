// The recursive lock of the shared-memory link: the task runtime's record (mutex, owner,
// count) taken with OS_MutexGet and given back with OS_MutexGive, owned by one object.
#ifndef VQ_STREAMS_SHM_SHM_LOCK_H
#define VQ_STREAMS_SHM_SHM_LOCK_H

#include "vqtasks.h"

namespace vq::shm {

class ShmLock {
 public:
  ShmLock() noexcept { ut_safe_pthread_mutex_init(&lock_.mutex, nullptr); }
  ~ShmLock() { ut_safe_pthread_mutex_destroy(&lock_.mutex); }
  ShmLock(const ShmLock&) = delete;
  ShmLock& operator=(const ShmLock&) = delete;

  void get() noexcept { OS_MutexGet(&lock_); }
  void give() noexcept { OS_MutexGive(&lock_); }

 private:
  a_os_recursive_lock lock_{};
};

class ShmLockHold {
 public:
  explicit ShmLockHold(ShmLock& lock) noexcept : lock_(lock) { lock_.get(); }
  ~ShmLockHold() { lock_.give(); }
  ShmLockHold(const ShmLockHold&) = delete;
  ShmLockHold& operator=(const ShmLockHold&) = delete;

 private:
  ShmLock& lock_;
};

}  // namespace vq::shm

#endif  // VQ_STREAMS_SHM_SHM_LOCK_H
