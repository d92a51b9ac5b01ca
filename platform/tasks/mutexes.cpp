/* Mutex creation, recursive locks, the temporary-cleaner lock and the in-process
 * counting semaphores.
 *
 * Every mutex made here is kept in a registry. In the child of a fork() the one
 * thread left is the one that forked, so a mutex that another thread held at the
 * fork would stay locked for ever; the child handler re-initialises those. A mutex
 * that the forking thread itself held stays held by it in the child.
 */
#include "vqtasks.h"

#include <errno.h>
#include <limits.h>
#include <stddef.h>
#include <unistd.h>

#include <new>

#include "tasks_int.h"

namespace vqtasks {
namespace {

static_assert(offsetof(SafeMutex, mutex) == 0, "the handle points at the record");

pthread_mutex_t g_registry_lock = PTHREAD_MUTEX_INITIALIZER;
SafeMutex* g_registry = nullptr;          /* guarded by g_registry_lock */
pid_t g_forking_tid = 0;                  /* the thread that called fork(), in the parent */
pthread_once_t g_atfork_once = PTHREAD_ONCE_INIT;

int init_mutex(SafeMutex* m) {
  pthread_mutexattr_t attr;
  int rc = pthread_mutexattr_init(&attr);
  if (rc != 0) return rc;
  rc = pthread_mutexattr_settype(&attr, m->type);
  if (rc == 0) rc = pthread_mutex_init(&m->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  return rc;
}

void before_fork() {
  pthread_mutex_lock(&g_registry_lock);
  g_forking_tid = gettid();
}

void after_fork_in_parent() {
  pthread_mutex_unlock(&g_registry_lock);
}

/* Runs in the child with g_registry_lock held by the (only) thread. */
void after_fork_in_child() {
  const pid_t me = gettid();
  for (SafeMutex* m = g_registry; m != nullptr; m = m->next) {
#if defined(__GLIBC__)
    /* The C library records the owner's thread id in every normal, recursive and
       error-checking mutex. The forking thread has a new id in the child: give it
       the mutexes it held, so that it can still unlock them. A taken lock word with
       no owner yet belongs to a thread that was between the two steps of locking. */
    if (m->mutex.__data.__lock == 0) continue;
    const int owner = m->mutex.__data.__owner;
    if (owner == g_forking_tid) {
      m->mutex.__data.__owner = me;
      continue;
    }
    init_mutex(m);
#else
    if (pthread_mutex_trylock(&m->mutex) == 0)
      pthread_mutex_unlock(&m->mutex);
    else
      init_mutex(m);
#endif
  }
  (void)me;
  /* The registry lock is held by this very thread (before_fork took it), so it is
     unlocked rather than overwritten: a lock replaced in place stays held in the eyes
     of a race checker, which then sees every later lock of the child taken under it. */
  pthread_mutex_unlock(&g_registry_lock);
}

void install_fork_handlers() {
  pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child);
}

void registry_add(SafeMutex* m) {
  pthread_once(&g_atfork_once, install_fork_handlers);
  MutexHold hold(&g_registry_lock);
  m->prev = nullptr;
  m->next = g_registry;
  if (g_registry != nullptr) g_registry->prev = m;
  g_registry = m;
}

void registry_remove(SafeMutex* m) {
  MutexHold hold(&g_registry_lock);
  if (m->prev != nullptr) m->prev->next = m->next;
  else g_registry = m->next;
  if (m->next != nullptr) m->next->prev = m->prev;
}

}  // namespace

pthread_mutex_t* adopt_static_mutex(SafeMutex* storage) {
  storage->type = PTHREAD_MUTEX_NORMAL;
  init_mutex(storage);
  registry_add(storage);
  return &storage->mutex;
}

}  // namespace vqtasks

using vqtasks::SafeMutex;

namespace {

/* The temporary-cleaner lock is recursive, so that a claim may nest. */
a_os_recursive_lock* tmp_cleaner_lock() {
  static SafeMutex storage;
  static a_os_recursive_lock lock = {{vqtasks::adopt_static_mutex(&storage)}, 0, 0};
  return &lock;
}

}  // namespace

extern "C" {

int ut_safe_pthread_mutex_init(a_ut_safe_pthread_mutex_t* m, const pthread_mutexattr_t* attr) {
  if (m == nullptr) return EINVAL;
  m->handle = nullptr;
  int type = PTHREAD_MUTEX_NORMAL;
  if (attr != nullptr) {
    /* Only the type is kept across a fork; attributes that put the owner's id into the
       lock word (robust, priority inheritance) could not be handed to the child. */
    int robust = PTHREAD_MUTEX_STALLED;
    int protocol = PTHREAD_PRIO_NONE;
    if (pthread_mutexattr_gettype(attr, &type) != 0) return EINVAL;
    if (pthread_mutexattr_getrobust(attr, &robust) == 0 && robust != PTHREAD_MUTEX_STALLED)
      return EINVAL;
    if (pthread_mutexattr_getprotocol(attr, &protocol) == 0 && protocol != PTHREAD_PRIO_NONE)
      return EINVAL;
  }
  auto* record = new (std::nothrow) SafeMutex();
  if (record == nullptr) return ENOMEM;
  record->type = type;
  const int rc = vqtasks::init_mutex(record);
  if (rc != 0) {
    delete record;
    return rc;
  }
  vqtasks::registry_add(record);
  m->handle = &record->mutex;
  return 0;
}

int ut_safe_pthread_mutex_destroy(a_ut_safe_pthread_mutex_t* m) {
  if (m == nullptr || m->handle == nullptr) return 0;
  auto* record = reinterpret_cast<SafeMutex*>(m->handle);
  const int rc = pthread_mutex_destroy(&record->mutex);
  if (rc != 0) return rc;
  vqtasks::registry_remove(record);
  delete record;
  m->handle = nullptr;
  return 0;
}

/* The owner word is read by threads that do not hold the mutex (to see whether they
   already own the lock), so it is read and written atomically. Only the owner ever
   stores its own identity there, so a thread sees itself only when it is the owner. */
void OS_MutexGet(a_os_recursive_lock* lock) {
  if (lock == nullptr || lock->mutex.handle == nullptr) return;
  const a_os_thread me = OS_Me();
  if (me != 0 && __atomic_load_n(&lock->owner, __ATOMIC_RELAXED) == me) {
    ++lock->count;
    return;
  }
  pthread_mutex_lock(lock->mutex.handle);
  __atomic_store_n(&lock->owner, me, __ATOMIC_RELAXED);
  /* The mutex was free, so nobody holds the lock: the count starts again. A child of
     fork() finds the count of a holder that did not come along. */
  lock->count = 1;
}

void OS_MutexGive(a_os_recursive_lock* lock) {
  if (lock == nullptr || lock->mutex.handle == nullptr) return;
  const a_os_thread me = OS_Me();
  if (me == 0 || __atomic_load_n(&lock->owner, __ATOMIC_RELAXED) != me || lock->count == 0)
    return;
  if (--lock->count == 0) {
    __atomic_store_n(&lock->owner, a_os_thread{0}, __ATOMIC_RELAXED);
    pthread_mutex_unlock(lock->mutex.handle);
  }
}

void OS_GetTmpCleanerMutex(void) {
  OS_MutexGet(tmp_cleaner_lock());
}

void OS_GiveTmpCleanerMutex(void) {
  OS_MutexGive(tmp_cleaner_lock());
}

int ut_pthread_open_semaphore(a_ut_pthread_semaphore* s, unsigned int count) {
  if (s == nullptr) return 0;
  s->is_open = 0;
  if (pthread_mutex_init(&s->mutex, nullptr) != 0) return 0;
  if (pthread_cond_init(&s->cond, nullptr) != 0) {
    pthread_mutex_destroy(&s->mutex);
    return 0;
  }
  s->count = count;
  s->is_open = 1;
  return 1;
}

int ut_pthread_reset_semaphore(a_ut_pthread_semaphore* s) {
  if (s == nullptr || !s->is_open) return 0;
  vqtasks::MutexHold hold(&s->mutex);
  s->count = 0;
  return 1;
}

int ut_pthread_waiton_semaphore(a_ut_pthread_semaphore* s) {
  if (s == nullptr || !s->is_open) return 0;
  vqtasks::MutexHold hold(&s->mutex);
  while (s->count == 0) pthread_cond_wait(&s->cond, &s->mutex);
  --s->count;
  return 1;
}

int ut_pthread_signal_semaphore(a_ut_pthread_semaphore* s) {
  if (s == nullptr || !s->is_open) return 0;
  vqtasks::MutexHold hold(&s->mutex);
  if (s->count == UINT_MAX) return 0;
  ++s->count;
  pthread_cond_signal(&s->cond);
  return 1;
}

int ut_pthread_close_semaphore(a_ut_pthread_semaphore* s) {
  if (s == nullptr || !s->is_open) return 0;
  s->is_open = 0;
  pthread_cond_destroy(&s->cond);
  pthread_mutex_destroy(&s->mutex);
  return 1;
}

}  // extern "C"
