/* Process-wide start and stop, fork protection and the process's identity. */
#include "vqtasks.h"

#include <unistd.h>

#include <atomic>

#include "tasks_int.h"

namespace {

std::atomic<int> g_init_count{0};
std::atomic<pid_t> g_protected_pid{0};   /* 0 until fork protection starts */

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
  return protected_pid != 0 && protected_pid != getpid() ? 1 : 0;
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
