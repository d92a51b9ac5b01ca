// The recursive lock of the communication stack: a task-runtime mutex record, its owner
// and hold count (a_os_recursive_lock), taken with OS_MutexGet and given back with
// OS_MutexGive. A thread that holds the lock may take it again.
#ifndef VQ_STREAMS_RECURSIVE_LOCK_H
#define VQ_STREAMS_RECURSIVE_LOCK_H

#include "vqtasks.h"

namespace vq::strm {

class RecursiveLock {
 public:
  // A lock whose mutex cannot be made is ignored by the runtime (null handle); the
  // constructor ends the process instead, since every structure of the stack relies
  // on its lock.
  RecursiveLock();
  ~RecursiveLock();
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void get() { OS_MutexGet(&lock_); }
  void give() { OS_MutexGive(&lock_); }

 private:
  a_os_recursive_lock lock_;
};

// Holds a lock for a scope.
class LockHold {
 public:
  explicit LockHold(RecursiveLock& lock) : lock_(lock) { lock_.get(); }
  ~LockHold() { lock_.give(); }
  LockHold(const LockHold&) = delete;
  LockHold& operator=(const LockHold&) = delete;

 private:
  RecursiveLock& lock_;
};

}  // namespace vq::strm

#endif  // VQ_STREAMS_RECURSIVE_LOCK_H
