// The client's side of the stack's notifier interfaces and the client's two threads.
//
// A request blocks in c_cmdseq_conn_notifier::block() on the connection's System V
// semaphore; the stack's threads wake it with post() and handle_strm_indicator(). The
// posted flag is the stream connection's user-data word, so a post that arrives before
// the wait begins is not lost.
//
// c_cmdseq_env_notifier owns the "Application Controller Thread", which runs the stack's
// pending work about once a second (and at once after post()), and the "Timed-Semaphore
// Thread", which counts every waiting notifier down in 200 ms steps and wakes it when its
// count runs out: a wait of 1000 ms ends 0.8 to 1 second after it began. The counts are
// atomics that the waiting thread and the timed thread change with exchange and
// compare-exchange; stop requests are flags. Time-outs are measured on the monotonic
// clock.
//
// There is at most one environment notifier in the process: the first one constructed
// registers itself; a later one stays unregistered (is_registered() says so) and must be
// destroyed.
#ifndef VQ_CMDSEQ_CLIENT_NOTIFIERS_H
#define VQ_CMDSEQ_CLIENT_NOTIFIERS_H

#include <atomic>
#include <cstdint>

#include "streams/notifier.h"
#include "streams/shm/bit_signal.h"
#include "vqtasks.h"

struct a_cmdseq_env;
class c_cmdseq_conn_notifier;

// The client's kind of application (a_cmdseq_env::app_type).
typedef std::uint32_t a_cmdseq_app;

// Message formatted into the caller's text when a connection notifier has no semaphore.
constexpr unsigned long kMsgNoConnSemaphore = 14133;

class c_cmdseq_env_notifier : public c_strm_env_notifier {
 public:
  static constexpr std::uint32_t kWaitMs = 1000;        // one wait step of a blocked thread
  static constexpr std::uint32_t kTickMs = 200;         // the timed thread's step
  static constexpr unsigned int kThreadStack = 262144;  // bytes, for both threads

  // Opens the controller's semaphore, creates the process's shared-memory resource name
  // and registers the notifier as the process's one when there is none yet. The kind of
  // application is not kept.
  explicit c_cmdseq_env_notifier(a_cmdseq_app app);
  // Stops the threads if they still run, unregisters, closes the semaphore.
  ~c_cmdseq_env_notifier() override;
  c_cmdseq_env_notifier(const c_cmdseq_env_notifier&) = delete;
  c_cmdseq_env_notifier& operator=(const c_cmdseq_env_notifier&) = delete;

  // Wakes the controller thread so that it runs the stack's pending work soon.
  void post() override;
  // Writes the text to the connection's log when its log is on.
  void prt_msg(void* context, const char* text) override;
  // A notifier for a new connection, or null with message 14133 in `text` when it has no
  // semaphore. `context` is the connection's host context; the flags are not used.
  c_strm_conn_notifier* create_conn_note(void* context, char* text, unsigned int size,
                                         unsigned int flags) override;
  // The client gives the link no environment semaphore.
  void* get_semaphore() override { return nullptr; }

  // True when a notifier is registered as the process's one.
  static bool is_ready();
  // True when this notifier is the process's one.
  bool is_registered() const;

  // Set before start_control(); the threads read the environment's communication
  // environment and callbacks.
  void set_env(a_cmdseq_env* env) { env_ = env; }
  a_cmdseq_env* env() const { return env_; }

  // Starts the controller thread, then the timed thread, each named and waited for until
  // it runs. True when both run; when the first fails the second is not started.
  bool start_control();
  // Stops the timed thread, then the controller thread, and waits for both to end.
  // Nothing for a thread that does not run.
  void stop_control();
  bool control_running() const { return control_thread_.load() != 0; }
  bool timed_running() const { return timed_thread_.load() != 0; }

  // The controller's own wait: one step of kWaitMs or until post(). The argument is not used.
  void block(unsigned long unused);

  // The waiting list of the timed thread; a connection notifier with a semaphore joins at
  // construction and leaves at destruction.
  void add_timed_semaphore(c_cmdseq_conn_notifier* note);
  void del_timed_semaphore(c_cmdseq_conn_notifier* note);

  // Thread bodies.
  void do_control();
  void do_timed_wait_control();

 private:
  // The cycle of the timed thread: counts the controller and every listed connection
  // notifier down by one tick, waking those whose count runs out.
  void count_down_once();

  a_cmdseq_env* env_ = nullptr;
  std::atomic<a_os_thread> control_thread_{0};
  std::atomic<bool> control_stop_{false};
  a_ut_pthread_semaphore semaphore_{};          // counting; the controller waits on it
  std::atomic<std::uint32_t> countdown_ms_{0};  // the controller's wait count
  std::atomic<a_os_thread> timed_thread_{0};
  std::atomic<bool> timed_stop_{false};
  a_ut_safe_pthread_mutex_t tick_mutex_{nullptr};   // with tick_cond_: the timed thread's tick
  pthread_cond_t tick_cond_;                        // on the monotonic clock
  a_ut_safe_pthread_mutex_t timed_mutex_{nullptr};  // guards timed_list_
  c_cmdseq_conn_notifier* timed_list_ = nullptr;    // newest first
  a_ut_pthread_semaphore* start_semaphore_ = nullptr;  // set while start_control runs
};

class c_cmdseq_conn_notifier : public c_strm_conn_notifier {
 public:
  // Opens the connection's System V semaphore (initial 0); with one, joins the timed list.
  c_cmdseq_conn_notifier(c_cmdseq_env_notifier* env_notifier, void* value);
  // Leaves the timed list and closes the semaphore.
  ~c_cmdseq_conn_notifier() override;
  c_cmdseq_conn_notifier(const c_cmdseq_conn_notifier&) = delete;
  c_cmdseq_conn_notifier& operator=(const c_cmdseq_conn_notifier&) = delete;

  // Waits for a post in steps of about a second, calling the environment's wait callback,
  // checking that the connection lives and, for `seconds` > 0, that the time is not over.
  // True when posted (the stack's pending work for the link has run); false when the
  // connection is dead or the time ran out. Without a semaphore: true at once.
  bool block(std::uint32_t seconds) override;
  // Sets the posted flag and signals the semaphore.
  void post() override;
  // 2, 6, 15: post. 7: the dropped-connection callback, then post. 14: post unless the
  // link's block event is cleared (the waiting thread polls that link). Others: nothing.
  void handle_strm_indicator(std::uint8_t code) override;
  // The address of the semaphore for the shared-memory link, or null without one.
  void* get_event() override;
  void set_sconn(a_strm_conn conn) override { sconn_.store(conn); }
  int swap_streams(c_strm_conn_notifier*, std::uintptr_t) override { return 1; }

  // True when the semaphore is usable; otherwise message 14133 goes into `text`.
  bool is_initialized_ok(char* text, unsigned int size) const;

  void* value() const { return value_; }
  a_strm_conn sconn() const { return sconn_.load(); }

 private:
  friend class c_cmdseq_env_notifier;

  c_cmdseq_env_notifier* env_notifier_;
  std::atomic<a_strm_conn> sconn_{nullptr};
  void* value_;                                    // the stack's value at creation
  std::atomic<std::uint32_t> execute_on_wake_{0};  // 1: run the link's work after a wake-up
  c_strm_inter_event event_{-1, 0};  // the semaphore: id > 0 when usable; fixed once made
  std::atomic<std::uint32_t> countdown_ms_{0};  // this notifier's wait count
  c_cmdseq_conn_notifier* prev_ = nullptr;      // links in the timed list (timed_mutex_)
  c_cmdseq_conn_notifier* next_ = nullptr;
};

#endif  // VQ_CMDSEQ_CLIENT_NOTIFIERS_H
