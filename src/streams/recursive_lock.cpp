#include "streams/recursive_lock.h"

#include "utils/base/memory.h"

namespace vq::strm {

RecursiveLock::RecursiveLock() : lock_{{nullptr}, 0, 0} {
  if (ut_safe_pthread_mutex_init(&lock_.mutex, nullptr) != 0) {
    ut_fatal("The communication stack could not create a mutex");
  }
}

RecursiveLock::~RecursiveLock() { ut_safe_pthread_mutex_destroy(&lock_.mutex); }

}  // namespace vq::strm
