/* System V semaphores of the task runtime: one private set of one semaphore per
 * record, and the list of the sets this process holds.
 *
 * Records that travel between processes treat a set identifier of 0 as "none", but
 * the kernel hands out 0 to the first set of an IPC namespace. When that happens we
 * keep the set unused for the life of the process and create another one.
 */
#include "vqtasks.h"

#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include <new>

#include "tasks_int.h"

namespace {

static_assert(sizeof(a_sysv_semaphore) == 8, "the record travels in shared memory");

union SemctlArg {
  int val;
  struct semid_ds* buf;
  unsigned short* array;
};

struct OpenSet {
  int id;
  OpenSet* next;
};

struct SysvState {
  OpenSet* open;             /* the sets opened and not yet closed */
  int reserved_id;           /* the set kept back because its identifier is 0; -1 none */
  pid_t reserved_by;         /* the process that created it; only it removes it */
};

vqtasks::SafeMutex g_lock_storage;
SysvState g_state = {nullptr, -1, 0};

/* At exit (or unload) the reserved set goes, unless it belongs to our parent. */
struct ReleaseAtExit {
  ~ReleaseAtExit() { vqtasks::release_reserved_semaphore(); }
} g_release_at_exit;

pthread_mutex_t* sysv_lock() {
  static pthread_mutex_t* lock = vqtasks::adopt_static_mutex(&g_lock_storage);
  return lock;
}

const a_sysv_semaphore kNoSemaphore = {-1, 0};

int new_set() {
  return semget(IPC_PRIVATE, 1, IPC_CREAT | 0600);
}

}  // namespace

void vqtasks::release_reserved_semaphore() {
  MutexHold hold(sysv_lock());
  if (g_state.reserved_id >= 0 && g_state.reserved_by == getpid()) {
    semctl(g_state.reserved_id, 0, IPC_RMID);
    g_state.reserved_id = -1;
    g_state.reserved_by = 0;
  }
}

extern "C" {

int sysv_open_semaphore(a_sysv_semaphore* s, int initial) {
  if (s == nullptr) return 0;
  *s = kNoSemaphore;
  if (initial != 0 && initial != 1) return 0;
  auto* entry = new (std::nothrow) OpenSet();
  if (entry == nullptr) return 0;

  vqtasks::MutexHold hold(sysv_lock());
  int id = new_set();
  if (id == 0) {
    /* Kept back. Should an earlier reserved set have been removed behind our back,
       this one takes its place. */
    g_state.reserved_id = 0;
    g_state.reserved_by = getpid();
    id = new_set();
  }
  if (id <= 0) {
    delete entry;
    return 0;
  }
  SemctlArg arg;
  arg.val = initial;
  if (semctl(id, 0, SETVAL, arg) != 0) {
    semctl(id, 0, IPC_RMID);
    delete entry;
    return 0;
  }
  entry->id = id;
  entry->next = g_state.open;
  g_state.open = entry;
  s->id = id;
  s->number = 0;
  return 1;
}

int sysv_close_semaphore(a_sysv_semaphore* s) {
  if (s == nullptr || s->id <= 0) return 0;
  const int id = s->id;
  *s = kNoSemaphore;
  vqtasks::MutexHold hold(sysv_lock());
  for (OpenSet** link = &g_state.open; *link != nullptr; link = &(*link)->next) {
    if ((*link)->id == id) {
      OpenSet* gone = *link;
      *link = gone->next;
      delete gone;
      break;
    }
  }
  return semctl(id, 0, IPC_RMID) == 0 ? 1 : 0;
}

int sysv_list_is_empty(void) {
  vqtasks::MutexHold hold(sysv_lock());
  return g_state.open == nullptr ? 1 : 0;
}

}  // extern "C"
