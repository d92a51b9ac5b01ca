/* Fatal-signal hooks: functions that run when the process is about to die of a
 * signal, so that it can remove what it must not leave behind.
 *
 * We only take signals whose disposition is still the default; a host program's
 * handlers and ignored signals stay as they are. Our handler runs the hooks once,
 * puts the default back and raises the signal again, so the process ends as it
 * would have without us. The handler cannot take a lock, so each hook slot is
 * published through a sequence counter and the handler skips a slot being changed.
 */
#include "vqtasks.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "tasks_int.h"

namespace {

constexpr int kFatalSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGABRT, SIGBUS,
                                 SIGFPE,  SIGSEGV, SIGTERM, SIGSYS,  SIGXCPU, SIGXFSZ};
constexpr int kAsyncSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGXCPU, SIGXFSZ};
constexpr int kMaxHooks = 32;

struct HookSlot {
  std::atomic<unsigned> seq;            /* odd while the slot is being changed */
  std::atomic<ut_onsig_callback> callback;  /* null: free slot */
  std::atomic<void*> data;
  std::atomic<int> order;
  std::atomic<pid_t> owner;             /* the process that registered the hook */
};
static_assert(std::atomic<ut_onsig_callback>::is_always_lock_free &&
                  std::atomic<void*>::is_always_lock_free &&
                  std::atomic<unsigned>::is_always_lock_free,
              "the signal handler reads the slots without a lock");

HookSlot g_hooks[kMaxHooks];
std::atomic<int> g_hooks_running{0};
std::atomic<bool> g_installed[NSIG];   /* our handler was put on that signal */

vqtasks::SafeMutex g_lock_storage;

pthread_mutex_t* hooks_lock() {
  static pthread_mutex_t* lock = vqtasks::adopt_static_mutex(&g_lock_storage);
  return lock;
}

/* Writers hold hooks_lock(). The sequence word is odd while a slot changes. Each field is
   stored with release order, so a reader that sees a new field value also sees the odd
   sequence that came before it; no separate fence is needed (and the thread sanitizer
   understands ordered loads and stores, not fences). */
void write_slot(HookSlot& slot, ut_onsig_callback callback, void* data, int order) {
  slot.seq.fetch_add(1, std::memory_order_relaxed);
  slot.order.store(order, std::memory_order_release);
  slot.data.store(data, std::memory_order_release);
  slot.owner.store(getpid(), std::memory_order_release);
  slot.callback.store(callback, std::memory_order_release);
  slot.seq.fetch_add(1, std::memory_order_release);
}

struct Hook {
  int order;
  ut_onsig_callback callback;
  void* data;
};

/* Async-signal-safe: no lock, no allocation. A hook inherited from the parent of a
   fork() is not ours to run: it would remove the parent's resources. */
void run_hooks() {
  Hook hooks[kMaxHooks];
  int n = 0;
  const pid_t me = getpid();
  for (HookSlot& slot : g_hooks) {
    const unsigned before = slot.seq.load(std::memory_order_acquire);
    if (before & 1u) continue;
    /* Acquire loads keep the second look at the sequence after the fields. */
    Hook hook = {slot.order.load(std::memory_order_acquire),
                 slot.callback.load(std::memory_order_acquire),
                 slot.data.load(std::memory_order_acquire)};
    const pid_t owner = slot.owner.load(std::memory_order_acquire);
    if (slot.seq.load(std::memory_order_relaxed) != before) continue;
    if (hook.callback == nullptr || owner != me) continue;
    int i = n++;
    for (; i > 0 && hooks[i - 1].order > hook.order; --i) hooks[i] = hooks[i - 1];
    hooks[i] = hook;
  }
  for (int i = 0; i < n; ++i) hooks[i].callback(hooks[i].data, 1);
}

void on_fatal_signal(int sig) {
  const int saved_errno = errno;
  /* Once per process: a second fatal signal, or one raised by a hook, goes straight on. */
  if (g_hooks_running.exchange(1) == 0) run_hooks();
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  raise(sig);  /* blocked until we return; then the default action takes the process */
  errno = saved_errno;
}

bool handler_is_ours(const struct sigaction& act) {
  return !(act.sa_flags & SA_SIGINFO) && act.sa_handler == on_fatal_signal;
}

/* When the library is unloaded our handler must not stay behind. */
struct UninstallAtUnload {
  ~UninstallAtUnload() {
    for (int sig : kFatalSignals) {
      if (!g_installed[sig].load()) continue;
      struct sigaction current = {};
      if (sigaction(sig, nullptr, &current) == 0 && handler_is_ours(current)) {
        struct sigaction dfl = {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        sigaction(sig, &dfl, nullptr);
      }
      g_installed[sig].store(false);
    }
  }
} g_uninstall_at_unload;

}  // namespace

extern "C" {

int ut_onsig_install_signal_handlers(int flags) {
  (void)flags;
  vqtasks::MutexHold hold(hooks_lock());
  for (int sig : kFatalSignals) {
    struct sigaction current = {};
    if (sigaction(sig, nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL) continue;
    struct sigaction ours = {};
    ours.sa_handler = on_fatal_signal;
    /* A termination request that comes while the hooks run waits for them. */
    sigemptyset(&ours.sa_mask);
    for (int later : kAsyncSignals) sigaddset(&ours.sa_mask, later);
    ours.sa_flags = SA_RESTART;
    if (sigaction(sig, &ours, nullptr) == 0) g_installed[sig].store(true);
  }
  return 1;
}

int ut_onsig_call_add(int order, ut_onsig_callback callback, void* data) {
  if (callback == nullptr) return 0;
  vqtasks::MutexHold hold(hooks_lock());
  for (HookSlot& slot : g_hooks) {
    if (slot.callback.load(std::memory_order_relaxed) == nullptr) {
      write_slot(slot, callback, data, order);
      return 1;
    }
  }
  return 0;
}

int ut_onsig_call_del(ut_onsig_callback callback, void* data) {
  if (callback == nullptr) return 0;
  vqtasks::MutexHold hold(hooks_lock());
  for (HookSlot& slot : g_hooks) {
    if (slot.callback.load(std::memory_order_relaxed) == callback &&
        slot.data.load(std::memory_order_relaxed) == data) {
      write_slot(slot, nullptr, nullptr, 0);
      return 1;
    }
  }
  return 0;
}

}  // extern "C"
