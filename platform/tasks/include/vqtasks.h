/* The task runtime: threads, wake-ups, mutex creation, recursive locks, semaphores,
 * fork protection and fatal-signal hooks for the client library.
 *
 * This is the interface of libvqtasks12_r.so. Every function may be called from any
 * thread unless its comment says otherwise. Handles and thread identities are
 * pointer-sized. Functions that answer success or failure return 1 or 0 unless stated.
 */
#ifndef VQTASKS_H
#define VQTASKS_H

#include <pthread.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Process-wide start and stop ------------------------------------------------- */

/* Reference counted: the first OS_Init starts the runtime, the matching last OS_Fini
   stops it (and removes the System V set kept back, see sysv_open_semaphore). An
   OS_Fini without a matching OS_Init does nothing. Both return 1. */
int OS_Init(void);
int OS_Fini(void);

/* ---- Threads ----------------------------------------------------------------------- */

typedef uintptr_t a_os_thread;            /* thread handle; 0 is no thread */
typedef void (*a_os_thread_entry)(void* argument);

/* Starts entry(argument) on a new thread named `name` (cut to the 15 bytes the system
   keeps; null for no name). `reserved` must be 0. `stack_size` 0 takes the default
   stack; a size below the system's minimum is raised to it. With `attachable` non-zero
   the thread must be waited for with OS_WaitOnThreadTermination; otherwise it cleans
   up after itself and its handle is valid only while it runs. Returns the handle, 0
   when the thread cannot start, `entry` is null or `reserved` is not 0. */
a_os_thread OS_Begin_Thread_Attachable(a_os_thread_entry entry, int reserved,
                                       unsigned int stack_size, void* argument,
                                       const char* name, int attachable);

/* Waits until an attachable thread started by OS_Begin_Thread_Attachable has ended
   and releases its handle; 0 when it ended, the handle being invalid afterwards.
   Otherwise an errno value and the handle stays as it was: EINVAL for 0 or the handle
   of a thread the runtime did not start as attachable, EDEADLK for the calling thread. */
int OS_WaitOnThreadTermination(a_os_thread thread);

/* The calling thread's identity: the handle OS_Begin_Thread_Attachable returned for a
   thread it started, a handle of its own for any other thread (made on first use and
   released when that thread ends). Usable with OS_Wakeup while the thread lives.
   0 only when no memory is left for the identity. */
a_os_thread OS_Me(void);

/* Blocks the calling thread until another thread calls OS_Wakeup for it. A wake-up
   that arrives before the wait is kept, so none is lost; several collapse into one. */
void OS_Wait(void);
/* Wakes the thread; `reserved` must be 0. Returns 1, or 0 for a null handle or a
   non-zero `reserved`. */
int OS_Wakeup(a_os_thread thread, int reserved);

/* ---- Mutexes and recursive locks ------------------------------------------------- */

/* A mutex record. Its first word is the POSIX mutex, which callers lock and unlock
   directly: pthread_mutex_lock(m.handle). */
typedef struct a_ut_safe_pthread_mutex_t {
  pthread_mutex_t* handle;
} a_ut_safe_pthread_mutex_t;

/* Creates the mutex (attributes may be null for a normal mutex); 0 on success, else an
   errno value and a null handle. Of the attributes the type is kept (normal,
   recursive, error-checking); robust and priority-protocol mutexes are refused with
   EINVAL. A mutex created here is usable in a child process after fork() even when
   another thread of the parent held it at the fork; one that the forking thread held
   stays held by that thread in the child, which can unlock it. */
int ut_safe_pthread_mutex_init(a_ut_safe_pthread_mutex_t* m, const pthread_mutexattr_t* attr);
/* Destroys the mutex and clears the handle; a null record or handle is ignored. 0 on
   success, else the errno value of pthread_mutex_destroy and the mutex stays. */
int ut_safe_pthread_mutex_destroy(a_ut_safe_pthread_mutex_t* m);

/* A recursive lock of the communication stack: the mutex record, the owning thread
   (OS_Me, 0 when free) and the hold count, in this order. */
typedef struct a_os_recursive_lock {
  a_ut_safe_pthread_mutex_t mutex;
  a_os_thread owner;
  uintptr_t count;
} a_os_recursive_lock;

/* Takes the lock: on return the calling thread owns it and the count is one higher. A
   thread that already owns it is not blocked. The holder gives it back itself by
   lowering the count and, at zero, clearing the owner and unlocking the mutex
   (OS_MutexGive does exactly that; from a thread that is not the owner it does
   nothing). The mutex must have been made with ut_safe_pthread_mutex_init; a lock
   with a null handle is ignored. */
void OS_MutexGet(a_os_recursive_lock* lock);
void OS_MutexGive(a_os_recursive_lock* lock);

/* The process-wide lock held while a resource directory is claimed. */
void OS_GetTmpCleanerMutex(void);
void OS_GiveTmpCleanerMutex(void);

/* ---- In-process counting semaphores ------------------------------------------------ */

/* A counting semaphore in a caller-owned record. Each call returns 1, or 0 for a null
   record or one that is not open (and for a signal that would overflow the count).
   Close only when no thread waits on it. */
typedef struct a_ut_pthread_semaphore {
  pthread_mutex_t mutex;
  pthread_cond_t cond;
  unsigned int count;
  int is_open;
} a_ut_pthread_semaphore;

int ut_pthread_open_semaphore(a_ut_pthread_semaphore* s, unsigned int count);
int ut_pthread_reset_semaphore(a_ut_pthread_semaphore* s);   /* count back to 0 */
int ut_pthread_waiton_semaphore(a_ut_pthread_semaphore* s);  /* waits for count > 0, takes one */
int ut_pthread_signal_semaphore(a_ut_pthread_semaphore* s);  /* adds one, wakes a waiter */
int ut_pthread_close_semaphore(a_ut_pthread_semaphore* s);

/* ---- System V semaphores ----------------------------------------------------------- */

/* One semaphore of a System V set: the set identifier (never 0 when opened, not greater
   than 0 for none) and the semaphore's number in the set. 8 bytes; it travels inside
   shared-memory records. */
typedef struct a_sysv_semaphore {
  int32_t id;
  uint32_t number;
} a_sysv_semaphore;

/* Creates a private semaphore (mode 0600) with the given initial value, 0 or 1. Fills
   *s and returns 1; on failure or another initial value *s is {-1, 0} and the result
   is 0. The runtime never hands out set identifier 0, so a record holding 0 always
   means "none": when the kernel gives 0, that set is kept back unused until the last
   OS_Fini or the end of the process, and another is created. */
int sysv_open_semaphore(a_sysv_semaphore* s, int initial);
/* Removes the semaphore and sets *s to {-1, 0}; 1 on success, 0 for none or failure
   (a set already removed). */
int sysv_close_semaphore(a_sysv_semaphore* s);
/* 1 when this process holds no System V semaphore of the runtime. A child created by
   fork() inherits its parent's answer. */
int sysv_list_is_empty(void);

/* ---- Fork protection ---------------------------------------------------------------- */

void UnixForkProtection_Init(void);     /* records the current process as the protected one */
int UnixForkProtection_IsChild(void);   /* 1 in a process forked after Init or Reset */
void UnixForkProtection_Reset(void);    /* makes the current process the protected one */

/* ---- Fatal-signal hooks --------------------------------------------------------------- */

/* A hook runs when the process receives a fatal signal, before the signal takes its
   course; it is called with its data and a non-zero `in_signal`. Hooks run in
   ascending `order`, inside the signal handler, so they must be async-signal-safe.
   They run once per process, and only in the process that registered them: a child
   made by fork() does not run its parent's hooks. */
typedef void (*ut_onsig_callback)(void* data, int in_signal);

/* Installs the runtime's handlers for the fatal signals whose disposition is still the
   default. A signal for which the host program has installed a handler (or which it
   ignores) is left to the host: the runtime never replaces a handler it does not own.
   After the hooks have run, the signal's previous disposition takes over and the
   signal is raised again. The signals taken are SIGHUP, SIGINT, SIGQUIT, SIGILL,
   SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGTERM, SIGSYS, SIGXCPU and SIGXFSZ. Calling it
   again changes nothing; unloading the library puts the default back where our
   handler still is. `flags` is 1 at every call site and not otherwise used. Returns 1. */
int ut_onsig_install_signal_handlers(int flags);
/* Registers a hook; returns 1, or 0 for a null callback or when the table of hooks
   (32 places) is full. */
int ut_onsig_call_add(int order, ut_onsig_callback callback, void* data);
/* Removes a hook registered with the same callback and data; 1 when one was removed. */
int ut_onsig_call_del(ut_onsig_callback callback, void* data);

/* ---- Process identity ------------------------------------------------------------------ */

int OS_GetRootPid(void);                /* the process id written into pid files */
/* 1 when a server of that name runs in this process. No server ever runs inside a
   client process, so the answer is always 0. */
int OS_IsEngineName(const char* name);

#ifdef __cplusplus
}
#endif

#endif /* VQTASKS_H */
