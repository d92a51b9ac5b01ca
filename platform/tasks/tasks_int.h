/* Declarations shared by the files of the task runtime; nothing here is exported. */
#ifndef VQTASKS_TASKS_INT_H
#define VQTASKS_TASKS_INT_H

#include <pthread.h>

namespace vqtasks {

/* === in mutexes.cpp === */

/* A mutex known to the fork handler. The POSIX mutex comes first: the handle given
   to callers points at it. */
struct SafeMutex {
  pthread_mutex_t mutex;
  int type;                 /* PTHREAD_MUTEX_NORMAL, _RECURSIVE or _ERRORCHECK */
  SafeMutex* prev;
  SafeMutex* next;
};

/* Initialises a mutex of static storage as a normal mutex and registers it, so that
   it is usable in a child after fork() like those of ut_safe_pthread_mutex_init.
   Call it once per object (from a function-local static's initialiser). */
pthread_mutex_t* adopt_static_mutex(SafeMutex* storage);

/* Holds a mutex for a scope. */
class MutexHold {
 public:
  explicit MutexHold(pthread_mutex_t* m) : m_(m) { pthread_mutex_lock(m_); }
  ~MutexHold() { pthread_mutex_unlock(m_); }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;

 private:
  pthread_mutex_t* m_;
};

/* === in sysv.cpp === */

/* Removes the set this process keeps so that no caller is given identifier 0. */
void release_reserved_semaphore();

}  // namespace vqtasks

#endif /* VQTASKS_TASKS_INT_H */
