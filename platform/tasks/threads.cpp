/* Threads of the task runtime: start, join, identity and wake-ups.
 *
 * A thread handle is the address of a heap record. The runtime's own threads get
 * theirs at start; any other thread gets one the first time it asks OS_Me, and that
 * record goes with the thread. A wake-up is a flag in the record, so one that comes
 * before the wait is kept.
 */
#include "vqtasks.h"

#include <errno.h>
#include <limits.h>
#include <string.h>
#include <unistd.h>

#include <new>

namespace {

constexpr size_t kThreadNameBytes = 16;  /* what the system keeps, terminator included */

struct ThreadRecord {
  pthread_t thread;
  a_os_thread_entry entry;
  void* argument;
  bool attachable;                 /* joined and freed by OS_WaitOnThreadTermination */
  bool started_here;               /* false for a record made for a foreign thread */
  char name[kThreadNameBytes];
  pthread_mutex_t wake_mutex;
  pthread_cond_t wake_cond;
  bool woken;                      /* guarded by wake_mutex */
};

ThreadRecord* new_record() {
  auto* rec = new (std::nothrow) ThreadRecord();
  if (rec == nullptr) return nullptr;
  pthread_mutex_init(&rec->wake_mutex, nullptr);
  pthread_cond_init(&rec->wake_cond, nullptr);
  return rec;
}

void delete_record(ThreadRecord* rec) {
  pthread_cond_destroy(&rec->wake_cond);
  pthread_mutex_destroy(&rec->wake_mutex);
  delete rec;
}

/* The calling thread's record. A record made here for a foreign thread is owned by
   this object and freed when the thread ends. */
struct CurrentThread {
  ThreadRecord* rec = nullptr;
  bool owned = false;
  ~CurrentThread() {
    if (owned && rec != nullptr) delete_record(rec);
  }
};

thread_local CurrentThread t_current;

ThreadRecord* current_record() {
  if (t_current.rec == nullptr) {
    ThreadRecord* rec = new_record();
    if (rec == nullptr) return nullptr;
    rec->thread = pthread_self();
    t_current.rec = rec;
    t_current.owned = true;
  }
  return t_current.rec;
}

void* thread_main(void* arg) {
  auto* rec = static_cast<ThreadRecord*>(arg);
  t_current.rec = rec;
  t_current.owned = false;
  pthread_setname_np(pthread_self(), rec->name);
  rec->entry(rec->argument);
  t_current.rec = nullptr;
  if (!rec->attachable) delete_record(rec);
  return nullptr;
}

size_t effective_stack_size(unsigned int requested) {
  size_t size = requested;
  const size_t minimum = PTHREAD_STACK_MIN;
  if (size < minimum) size = minimum;
  const long page = sysconf(_SC_PAGESIZE);
  if (page > 0) {
    const size_t p = static_cast<size_t>(page);
    size = (size + p - 1) / p * p;
  }
  return size;
}

}  // namespace

extern "C" {

a_os_thread OS_Begin_Thread_Attachable(a_os_thread_entry entry, int reserved,
                                       unsigned int stack_size, void* argument,
                                       const char* name, int attachable) {
  if (entry == nullptr || reserved != 0) return 0;
  const bool joinable = attachable != 0;
  ThreadRecord* rec = new_record();
  if (rec == nullptr) return 0;
  rec->entry = entry;
  rec->argument = argument;
  rec->attachable = joinable;
  rec->started_here = true;
  if (name != nullptr) {
    strncpy(rec->name, name, kThreadNameBytes - 1);
    rec->name[kThreadNameBytes - 1] = '\0';
  }

  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    delete_record(rec);
    return 0;
  }
  int rc = pthread_attr_setdetachstate(
      &attr, joinable ? PTHREAD_CREATE_JOINABLE : PTHREAD_CREATE_DETACHED);
  if (rc == 0 && stack_size != 0) rc = pthread_attr_setstacksize(&attr, effective_stack_size(stack_size));
  /* A detached thread may end and free its record before pthread_create returns, so
     the identifier goes to a local first and into the record only when it is joinable. */
  pthread_t thread;
  if (rc == 0) rc = pthread_create(&thread, &attr, thread_main, rec);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete_record(rec);
    return 0;
  }
  if (joinable) rec->thread = thread;
  return reinterpret_cast<a_os_thread>(rec);
}

int OS_WaitOnThreadTermination(a_os_thread thread) {
  auto* rec = reinterpret_cast<ThreadRecord*>(thread);
  if (rec == nullptr || !rec->started_here || !rec->attachable) return EINVAL;
  const int rc = pthread_join(rec->thread, nullptr);
  if (rc != 0) return rc;
  delete_record(rec);
  return 0;
}

a_os_thread OS_Me(void) {
  return reinterpret_cast<a_os_thread>(current_record());
}

void OS_Wait(void) {
  ThreadRecord* rec = current_record();
  if (rec == nullptr) return;
  pthread_mutex_lock(&rec->wake_mutex);
  while (!rec->woken) pthread_cond_wait(&rec->wake_cond, &rec->wake_mutex);
  rec->woken = false;
  pthread_mutex_unlock(&rec->wake_mutex);
}

int OS_Wakeup(a_os_thread thread, int reserved) {
  auto* rec = reinterpret_cast<ThreadRecord*>(thread);
  if (rec == nullptr || reserved != 0) return 0;
  pthread_mutex_lock(&rec->wake_mutex);
  rec->woken = true;
  pthread_cond_signal(&rec->wake_cond);
  pthread_mutex_unlock(&rec->wake_mutex);
  return 1;
}

}  // extern "C"
