// The session layer (c_strm_sess_layer): one per communication environment. It owns the
// transport layer (which owns the port layer), opens session connections over transport
// connections, keeps the active and dying connections, runs the periodic work the host's
// control thread drives (deletion, starting receives, link polling, liveness for all
// connections) and delivers immediate server messages on a thread of its own.
//
// Locks: the session lock guards both connection lists, the liveness resume position and
// times, and the flags; the proxy lock the proxy list; the callback lock the message
// queue. A server-message callback runs under its connection's callback lock and never
// under the callback lock, so that stop_conn_callback_msgs can wait for it.
#ifndef VQ_STREAMS_SESSION_LAYER_H
#define VQ_STREAMS_SESSION_LAYER_H

#include <atomic>
#include <cstdint>
#include <string>

#include "streams/session_conn.h"
#include "streams/stream_parms.h"
#include "streams/transport.h"
#include "vqtasks.h"

class c_conn_parms;


// One immediate server message waiting for the callback thread.
class c_strm_callback_msg : public c_utils_link {
 public:
  c_strm_callback_msg(c_strm_sconn* conn, std::uint8_t type, std::uint32_t code, const char* text,
                      std::uint16_t length);
  ~c_strm_callback_msg() override;

  c_strm_sconn* conn;
  std::uint8_t type;
  std::uint32_t code;
  char* text;            // ut_alloc copy, terminated
  std::uint16_t length;  // bytes of the text
  bool in_progress = false;
};

class c_strm_sess_layer : public c_strm_sconn_owner {
 public:
  using a_pres_new_fn = int (*)(c_strm_sconn*);
  using a_pres_del_fn = void (*)(c_strm_sconn*);
  using a_clock_fn = std::uint64_t (*)();

  static constexpr std::uint64_t kNever = UINT64_MAX;
  static constexpr std::uint16_t kDefaultInitConnTimeout = 30;
  // Flags.
  static constexpr std::uint32_t kParmsSet = 0x01;
  static constexpr std::uint32_t kShuttingDown = 0x02;
  static constexpr std::uint32_t kLivenessRequested = 0x04;
  static constexpr std::uint32_t kOverrunWarned = 0x08;
  static constexpr std::uint32_t kPolledOnce = 0x10;

  // `env` is the communication environment, passed through to the links. Reads
  // VC_INIT_CONN_TIMEOUT.
  c_strm_sess_layer(c_strm_frlist_controller* controller, a_pres_new_fn pres_new,
                    a_pres_del_fn pres_del, c_strm_env_notifier* notifier, void* env);
  // Deletes the connections still there (delete_all_connections), then the rest.
  ~c_strm_sess_layer() override;
  c_strm_sess_layer(const c_strm_sess_layer&) = delete;
  c_strm_sess_layer& operator=(const c_strm_sess_layer&) = delete;

  // Copies the block (duplicating its text), or zeroes every word for null.
  void set_parms(const a_streams_parm_block* parms);
  a_streams_parm_block parms();

  // Opens a session connection: 1 with *out; 12 with message 19994 when Host and
  // CommLinks are both given (or message 9033 when the Host value holds a character
  // that would end or open a link option); 14 when the presentation state cannot be
  // made; the transport layer's failure otherwise.
  an_int_strm_error connect(c_conn_parms* parms, a_strm_conn_type type, char* err,
                            std::uint32_t err_len, void* host_ctx, c_strm_sconn** out);

  // The periodic work of the host's control thread.
  void execute();
  // Visits the connections for liveness (a batch of them when there are many).
  void execute_liveness_all_conn(std::uint64_t now);
  // The pass period P (seconds) and batch B for `count` connections whose shortest
  // liveness time-out is `shortest` seconds.
  static void liveness_plan(std::uint32_t count, std::int16_t shortest, double* period,
                            std::uint32_t* batch);

  // ---- c_strm_sconn_owner ----
  void queue_callback_msg(c_strm_sconn* conn, std::uint8_t type, std::uint32_t code,
                          const char* text, std::uint16_t length) override;
  void stop_conn_callback_msgs(c_strm_sconn* conn) override;
  void request_liveness_pass() override;
  void update_timeout_from_conn(std::uint16_t seconds) override;
  void add_receive_proxy(c_strm_sconn* conn) override;
  void remove_receive_proxy(c_strm_sconn* conn) override;
  void delayed_delete(c_strm_sconn* conn) override;
  bool shutting_down() const override { return (flags_.load() & kShuttingDown) != 0; }
  c_strm_env_notifier* env_notifier() override { return notifier_; }
  a_strm_msg_callback message_callback() const override { return msg_callback_.load(); }
  a_strm_validate_callback validate_callback() const override { return validate_.load(); }
  void* callback_data() const override { return callback_data_.load(); }
  UTLocale* locale() const override { return locale_; }

  // The callback thread.
  void process_callback_msg();
  void stop_process_callback_thread();

  void remove_from_active_connections(c_strm_sconn* conn);
  // Deletes connections of the deletion list (all with `force`); true when any went.
  bool delete_disconnected(bool force);
  void delete_all_connections();

  void set_message_callback(a_strm_msg_callback callback, void* data);
  void set_validate_callback(a_strm_validate_callback callback) { validate_.store(callback); }
  void set_locale(UTLocale* locale) { locale_ = locale; }

  // The tick at which the environment next needs execute(); kNever for none.
  std::uint64_t next_execute() const { return next_execute_.load(); }
  std::uint64_t liveness_next() const { return liveness_next_.load(); }
  std::uint64_t last_liveness_pass() const { return last_pass_.load(); }
  std::int16_t shortest_timeout() const { return shortest_timeout_.load(); }
  std::uint32_t overrun_count() const { return overruns_.load(); }
  std::uint32_t flags() const { return flags_.load(); }
  std::uint16_t init_conn_timeout() const { return init_conn_timeout_; }
  std::uint32_t active_count() const { return active_count_.load(); }
  c_strm_sconn* resume_position() const { return resume_.load(); }
  bool callback_thread_running() const { return thread_.load() != 0; }
  c_strm_tran_layer& tran_layer() { return tran_layer_; }

  // The clock of the liveness pass (ticks of a_timer_tick); tests set their own.
  void set_clock(a_clock_fn clock) { clock_ = clock; }
  // Appends a connection built outside connect() to the active list (tests, and links
  // that accept connections).
  void adopt(c_strm_sconn* conn);

 private:
  void delete_conn(c_strm_sconn* conn);
  std::uint64_t now() const { return clock_(); }

  c_strm_tran_layer tran_layer_;  // holds the environment for the links
  c_utils_list<c_strm_sconn> active_;
  c_utils_list<c_strm_sconn> deletion_;
  c_strm_frlist_controller* controller_;
  a_streams_parm_block parms_;
  vq::strm::RecursiveLock session_lock_;
  c_strm_env_notifier* notifier_;
  a_pres_new_fn pres_new_;
  a_pres_del_fn pres_del_;
  std::atomic<std::uint64_t> liveness_next_{kNever};  // ticks
  std::atomic<std::uint64_t> next_execute_{kNever};   // ticks
  std::atomic<std::int16_t> shortest_timeout_{32767};  // seconds
  std::uint16_t init_conn_timeout_ = kDefaultInitConnTimeout;  // seconds
  std::atomic<c_strm_sconn*> resume_{nullptr};
  std::atomic<std::uint32_t> active_count_{0};
  std::atomic<std::uint64_t> last_pass_{0};  // ticks
  std::atomic<std::uint32_t> overruns_{0};
  c_utils_list_base proxies_;
  vq::strm::RecursiveLock proxy_lock_;
  std::atomic<a_strm_msg_callback> msg_callback_{nullptr};
  std::atomic<void*> callback_data_{nullptr};
  std::atomic<a_strm_validate_callback> validate_{nullptr};
  UTLocale* locale_ = nullptr;  // not owned
  c_utils_list<c_strm_callback_msg> messages_;
  vq::strm::RecursiveLock callback_lock_;
  std::atomic<a_os_thread> thread_{0};
  std::atomic<std::uint32_t> stop_{0};
  std::atomic<std::uint32_t> flags_{0};
  a_clock_fn clock_;
};

namespace vq::strm {
// The link list a Host value stands for: "tcpip(host=<host>;Verify=YES|NO;
// DoBroadcast=None|Direct)". False when the value holds ';', '(', ')', '{' or '}',
// which would end the host option or the group and add options of its own.
bool HostLinkText(const char* host, bool has_server_name, std::string* out);
}  // namespace vq::strm

#endif  // VQ_STREAMS_SESSION_LAYER_H
