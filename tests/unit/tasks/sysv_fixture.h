// The System V semaphore tests' helpers: a semaphore's value, whether a set still
// exists, and a record closed at the end of the scope.
#ifndef VQ_TESTS_TASKS_SYSV_FIXTURE_H
#define VQ_TESTS_TASKS_SYSV_FIXTURE_H

#include <sys/ipc.h>
#include <sys/sem.h>

#include "vqtasks.h"

namespace vq_test {

union SemArg {
  int val;
  struct semid_ds* buf;
  unsigned short* array;
};

inline int value_of(const a_sysv_semaphore& s) {
  return semctl(s.id, static_cast<int>(s.number), GETVAL);
}

inline bool set_exists(int id) {
  semid_ds ds;
  SemArg arg;
  arg.buf = &ds;
  return semctl(id, 0, IPC_STAT, arg) == 0;
}

// Closes the record at the end of the scope if the test did not.
struct Opened {
  a_sysv_semaphore s{-1, 0};
  ~Opened() {
    if (s.id > 0) sysv_close_semaphore(&s);
  }
};

}  // namespace vq_test

#endif  // VQ_TESTS_TASKS_SYSV_FIXTURE_H
