/* Process-wide start and stop, fork protection and the process's identity. */
#include "vqtasks.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

#include "tasks_int.h"

namespace {

std::atomic<int> g_init_count{0};
std::atomic<pid_t> g_protected_pid{0};   /* 0 until fork protection starts */

/* This process's id, kept so that the fork test (made on every ODBC call) needs no
 * system call: read once when the library is loaded and again in the child of every
 * fork, by the handler registered below before anyone can fork through it. */
std::atomic<pid_t> g_current_pid{0};

void RefreshCurrentPid() { g_current_pid.store(getpid(), std::memory_order_relaxed); }

pid_t CurrentPid() {
  const pid_t pid = g_current_pid.load(std::memory_order_relaxed);
  return pid != 0 ? pid : getpid();
}

const bool g_pid_tracked = [] {
  RefreshCurrentPid();
  return pthread_atfork(nullptr, nullptr, RefreshCurrentPid) == 0;
}();

}  // namespace

extern "C" {

int OS_Init(void) {
  g_init_count.fetch_add(1);
  return 1;
}

int OS_Fini(void) {
  int count = g_init_count.load();
  while (count > 0 && !g_init_count.compare_exchange_weak(count, count - 1)) {
  }
  if (count == 1) vqtasks::release_reserved_semaphore();
  return 1;
}

void UnixForkProtection_Init(void) {
  g_protected_pid.store(getpid());
}

int UnixForkProtection_IsChild(void) {
  const pid_t protected_pid = g_protected_pid.load();
  if (protected_pid == 0) return 0;
  /* Without the fork handler the cached id could be the parent's: ask the system. */
  const pid_t me = g_pid_tracked ? CurrentPid() : getpid();
  return protected_pid != me ? 1 : 0;
}

void UnixForkProtection_Reset(void) {
  g_protected_pid.store(getpid());
}

int OS_GetRootPid(void) {
  return static_cast<int>(getpid());
}

/* No server ever runs inside the client's process. */
int OS_IsEngineName(const char* name) {
  (void)name;
  return 0;
}

}  // extern "C"
