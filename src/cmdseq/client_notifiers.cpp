// The client's notifiers and its two threads.
#include "cmdseq/client_notifiers.h"

#include <errno.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "cmdseq/cmdseq_env.h"
#include "cmdseq/conn_pool.h"
#include "cmdseq/host_log.h"
#include "streams/host_functions.h"
#include "streams/notifier.h"
#include "streams/shm/resource_tree.h"
#include "streams/shm/shm_port.h"
#include "streams/stream_api.h"
#include "utils/locale/lang_string.h"
#include "vqtasks.h"

namespace {

// The process's environment notifier.
std::atomic<c_cmdseq_env_notifier*> g_process_notifier{nullptr};

constexpr char kControlThreadName[] = "Application Controller Thread";
constexpr char kTimedThreadName[] = "Timed-Semaphore Thread";

// One tick off a wait count. True when this tick ran the count out (the waiter is to be
// woken). The waiting thread may take the count (exchange to 0) at the same time: the
// compare-exchange then fails on the changed value and the loop sees 0.
bool tick_down(std::atomic<std::uint32_t>& count, std::uint32_t tick) {
  std::uint32_t now = count.load();
  while (now != 0) {
    const std::uint32_t next = now <= tick ? 0 : now - tick;
    if (count.compare_exchange_weak(now, next)) return next == 0;
  }
  return false;
}

// The monotonic time `ms` milliseconds from now.
timespec tick_deadline(std::uint32_t ms) {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  t.tv_sec += static_cast<time_t>(ms / 1000) + t.tv_nsec / 1000000000L;
  t.tv_nsec %= 1000000000L;
  return t;
}

void control_entry(void* self) { static_cast<c_cmdseq_env_notifier*>(self)->do_control(); }
void timed_entry(void* self) {
  static_cast<c_cmdseq_env_notifier*>(self)->do_timed_wait_control();
}

// Waits for a thread to end; a failed wait is reported on standard output.
void wait_for_thread(a_os_thread thread) {
  const int rc = OS_WaitOnThreadTermination(thread);
  if (rc != 0) {
    std::printf("OS_WaintOnThread rc=%d\n", rc);
    std::fflush(stdout);
  }
}

}  // namespace

// --- Environment notifier ----------------------------------------------------------------

c_cmdseq_env_notifier::c_cmdseq_env_notifier(a_cmdseq_app) {
  ut_pthread_open_semaphore(&semaphore_, 0);
  ut_safe_pthread_mutex_init(&timed_mutex_, nullptr);
  ut_safe_pthread_mutex_init(&tick_mutex_, nullptr);
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&tick_cond_, &attributes);
  pthread_condattr_destroy(&attributes);
  StrmCurSharedEngineAppName();
  c_cmdseq_env_notifier* none = nullptr;
  g_process_notifier.compare_exchange_strong(none, this);
}

c_cmdseq_env_notifier::~c_cmdseq_env_notifier() {
  stop_control();
  c_cmdseq_env_notifier* self = this;
  g_process_notifier.compare_exchange_strong(self, nullptr);
  ut_pthread_close_semaphore(&semaphore_);
  ut_safe_pthread_mutex_destroy(&timed_mutex_);
  pthread_cond_destroy(&tick_cond_);
  ut_safe_pthread_mutex_destroy(&tick_mutex_);
}

bool c_cmdseq_env_notifier::is_ready() { return g_process_notifier.load() != nullptr; }

bool c_cmdseq_env_notifier::is_registered() const { return g_process_notifier.load() == this; }

void c_cmdseq_env_notifier::post() { ut_pthread_signal_semaphore(&semaphore_); }

void c_cmdseq_env_notifier::prt_msg(void* context, const char* text) {
  if (context != nullptr && text != nullptr && i_cs_HostCheckDebug(context) != 0) {
    i_cs_HostPrtString(context, text);
  }
}

c_strm_conn_notifier* c_cmdseq_env_notifier::create_conn_note(void* context, char* text,
                                                              unsigned int size, unsigned int) {
  // Notifiers come from the library's allocation policy, which ends the process when
  // memory is exhausted.
  auto* note = new c_cmdseq_conn_notifier(this, context);
  if (!note->is_initialized_ok(text, size)) {
    delete note;
    return nullptr;
  }
  return note;
}

void c_cmdseq_env_notifier::block(unsigned long) {
  countdown_ms_.store(kWaitMs);
  ut_pthread_waiton_semaphore(&semaphore_);
  countdown_ms_.store(0);
}

bool c_cmdseq_env_notifier::start_control() {
  a_ut_pthread_semaphore started{};
  ut_pthread_open_semaphore(&started, 0);
  ut_pthread_reset_semaphore(&started);
  start_semaphore_ = &started;
  control_stop_.store(false);
  timed_stop_.store(false);

  bool ok = false;
  const a_os_thread control =
      OS_Begin_Thread_Attachable(control_entry, 0, kThreadStack, this, kControlThreadName, 1);
  if (control != 0) {
    control_thread_.store(control);
    ut_pthread_waiton_semaphore(&started);
    const a_os_thread timed =
        OS_Begin_Thread_Attachable(timed_entry, 0, kThreadStack, this, kTimedThreadName, 1);
    if (timed != 0) {
      timed_thread_.store(timed);
      ut_pthread_waiton_semaphore(&started);
      ok = true;
    }
  }
  start_semaphore_ = nullptr;
  ut_pthread_close_semaphore(&started);
  return ok;
}

void c_cmdseq_env_notifier::stop_control() {
  const a_os_thread timed = timed_thread_.load();
  if (timed != 0) {
    // The flag changes under the tick's mutex so that the timed thread cannot miss the
    // signal between its check and its wait.
    pthread_mutex_lock(tick_mutex_.handle);
    timed_stop_.store(true);
    pthread_cond_signal(&tick_cond_);
    pthread_mutex_unlock(tick_mutex_.handle);
    wait_for_thread(timed);
    timed_thread_.store(0);
  }
  const a_os_thread control = control_thread_.load();
  if (control != 0) {
    control_stop_.store(true);
    post();
    wait_for_thread(control);
    control_thread_.store(0);
  }
}

void c_cmdseq_env_notifier::do_control() {
  Shmem_SetClientUniquePid(static_cast<std::uint32_t>(getpid()));
  ut_pthread_signal_semaphore(start_semaphore_);
  while (!control_stop_.load()) {
    block(0);
    if (control_stop_.load()) break;
    if (env_ != nullptr && env_->strm_env != nullptr) StrmExecute(env_->strm_env);
    if (control_stop_.load()) break;
    if (env_ != nullptr && env_->conn_pool != nullptr) env_->conn_pool->drop_timedout();
  }
}

void c_cmdseq_env_notifier::do_timed_wait_control() {
  ut_pthread_signal_semaphore(start_semaphore_);
  pthread_mutex_lock(tick_mutex_.handle);
  while (!timed_stop_.load()) {
    // A timed wait on the monotonic clock, which a stop request ends at once.
    const timespec deadline = tick_deadline(kTickMs);
    while (!timed_stop_.load() &&
           pthread_cond_timedwait(&tick_cond_, tick_mutex_.handle, &deadline) != ETIMEDOUT) {
    }
    if (timed_stop_.load()) break;
    pthread_mutex_unlock(tick_mutex_.handle);
    count_down_once();
    pthread_mutex_lock(tick_mutex_.handle);
  }
  pthread_mutex_unlock(tick_mutex_.handle);
}

void c_cmdseq_env_notifier::count_down_once() {
  if (tick_down(countdown_ms_, kTickMs)) ut_pthread_signal_semaphore(&semaphore_);
  pthread_mutex_lock(timed_mutex_.handle);
  for (c_cmdseq_conn_notifier* n = timed_list_; n != nullptr; n = n->next_) {
    if (tick_down(n->countdown_ms_, kTickMs) && n->event_.id > 0) {
      sysv_signal_semaphore(&n->event_);
    }
  }
  pthread_mutex_unlock(timed_mutex_.handle);
}

void c_cmdseq_env_notifier::add_timed_semaphore(c_cmdseq_conn_notifier* note) {
  pthread_mutex_lock(timed_mutex_.handle);
  note->prev_ = nullptr;
  note->next_ = timed_list_;
  if (timed_list_ != nullptr) timed_list_->prev_ = note;
  timed_list_ = note;
  pthread_mutex_unlock(timed_mutex_.handle);
}

void c_cmdseq_env_notifier::del_timed_semaphore(c_cmdseq_conn_notifier* note) {
  pthread_mutex_lock(timed_mutex_.handle);
  if (note->prev_ != nullptr) {
    note->prev_->next_ = note->next_;
  } else if (timed_list_ == note) {
    timed_list_ = note->next_;
  }
  if (note->next_ != nullptr) note->next_->prev_ = note->prev_;
  note->prev_ = note->next_ = nullptr;
  pthread_mutex_unlock(timed_mutex_.handle);
}

// --- Connection notifier -----------------------------------------------------------------

c_cmdseq_conn_notifier::c_cmdseq_conn_notifier(c_cmdseq_env_notifier* env_notifier, void* value)
    : env_notifier_(env_notifier), value_(value) {
  a_sysv_semaphore opened{-1, 0};
  if (sysv_open_semaphore(&opened, 0) == 1 && opened.id > 0) {
    event_ = c_strm_inter_event::From(opened);
    execute_on_wake_.store(1);
    countdown_ms_.store(0);
    env_notifier_->add_timed_semaphore(this);
  }
}

c_cmdseq_conn_notifier::~c_cmdseq_conn_notifier() {
  if (event_.id > 0) {
    env_notifier_->del_timed_semaphore(this);
    a_sysv_semaphore opened{event_.id, event_.number};
    sysv_close_semaphore(&opened);
    event_.id = 0;
  }
}

bool c_cmdseq_conn_notifier::is_initialized_ok(char* text, unsigned int size) const {
  if (event_.id > 0) return true;
  if (text != nullptr && size != 0) {
    a_cmdseq_env* env = env_notifier_->env();
    text[0] = '\0';
    if (env != nullptr && env->lang != nullptr) {
      env->lang->FormatMiscLangStr(kMsgNoConnSemaphore, text, size);
    }
    if (text[0] == '\0') std::snprintf(text, size, "%s", "No semaphore for the connection");
  }
  return false;
}

bool c_cmdseq_conn_notifier::block(std::uint32_t seconds) {
  using Clock = std::chrono::steady_clock;
  const a_strm_conn sconn = sconn_.load();
  a_cmdseq_env* env = env_notifier_->env();
  const a_cmdseq_wait_callback wait_cb = env != nullptr ? env->wait_callback.load() : nullptr;
  const std::uintptr_t cb_value = sconn != nullptr ? StrmGetCallbackData(sconn) : 0;
  const Clock::time_point start = Clock::now();

  for (;;) {
    countdown_ms_.store(c_cmdseq_env_notifier::kWaitMs);
    if (event_.id > 0) sysv_waiton_semaphore(&event_);
    // A count the timed thread did not run out means a post ended the wait.
    bool posted = countdown_ms_.exchange(0) != 0;
    if (!posted) {
      posted = sconn != nullptr && StrmGetUserData(sconn) != 0;
      if (!posted) {
        const bool given_up = wait_cb != nullptr && wait_cb(cb_value) != 0;
        const bool alive = !given_up && sconn != nullptr && StrmIsAlive(sconn) == 1;
        if (sconn != nullptr && StrmBlockEventCleared(sconn) != 0) posted = true;
        if (!alive) {
          if (sconn != nullptr) StrmSetUserData(sconn, 0);
          return false;
        }
      }
    }
    if (posted) {
      if (sconn != nullptr) {
        StrmSetUserData(sconn, 0);
        if (execute_on_wake_.load() != 0) StrmConnExecute(sconn);
      }
      return true;
    }
    if (seconds != 0 &&
        Clock::now() - start >= std::chrono::seconds(static_cast<std::int64_t>(seconds))) {
      return false;
    }
  }
}

void c_cmdseq_conn_notifier::post() {
  const a_strm_conn sconn = sconn_.load();
  if (sconn != nullptr) StrmSetUserData(sconn, 1);
  if (event_.id > 0) sysv_signal_semaphore(&event_);
}

void c_cmdseq_conn_notifier::handle_strm_indicator(std::uint8_t code) {
  const a_strm_conn sconn = sconn_.load();
  switch (code) {
    case STRM_IND_LINK_CLOSED:
    case STRM_IND_APP_CONNECT:
    case STRM_IND_ROOM_AGAIN:
      post();
      break;
    case STRM_IND_CONN_DIED: {
      a_cmdseq_env* env = env_notifier_->env();
      const a_cmdseq_conn_dropped_callback dropped =
          env != nullptr ? env->conn_dropped_callback.load() : nullptr;
      if (dropped != nullptr && sconn != nullptr) {
        dropped(StrmGetCallbackData(sconn), StrmGetConnName(sconn));
      }
      post();
      break;
    }
    case STRM_IND_DATA_ARRIVED:
      if (sconn == nullptr || StrmBlockEventCleared(sconn) == 0) post();
      break;
    default:
      break;
  }
}

void* c_cmdseq_conn_notifier::get_event() {
  if (event_.id <= 0) return nullptr;
  execute_on_wake_.store(1);
  return &event_;
}
