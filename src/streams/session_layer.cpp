#include "streams/session_layer.h"

#include <time.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "config/conn_parms.h"
#include "config/option_tables.h"
#include "streams/host_functions.h"
#include "utils/base/memory.h"
#include "utils/base/number_conversion.h"
#include "utils/base/timer_tick.h"

namespace {

constexpr int kSlotHost = 43;
constexpr std::uint32_t kMsgHostAndLinks = 19994;
constexpr std::uint32_t kMsgLinkNotStarted = 9033;
constexpr std::uint32_t kMsgLivenessBehind = 10954;
constexpr std::uint32_t kMsgLivenessFalseAlarms = 10955;
constexpr std::uint64_t kTicks = a_timer_tick::TicksPerSecond;
constexpr std::size_t kMaxEnvTimeoutText = 150;
constexpr std::uint32_t kMaxDeletesPerCall = 100;
constexpr std::uint32_t kSendsPerClockCheck = 10;
constexpr std::uint32_t kOverrunsBeforeWarning = 4;
const char kCallbackThreadName[] = "MESSAGE ... IMMEDIATE callback Thread";

std::uint64_t timer_now() {
  a_timer_tick t;
  t.sample();
  return t.ticks;
}

void pause_20ms() {
  const timespec pause{0, 20 * 1000 * 1000};
  nanosleep(&pause, nullptr);
}

void callback_thread_entry(void* layer) {
  static_cast<c_strm_sess_layer*>(layer)->process_callback_msg();
}

// A connection whose link must start receiving on the control thread.
class c_strm_sconn_proxy : public c_utils_link {
 public:
  explicit c_strm_sconn_proxy(c_strm_sconn* c) : conn(c) {}
  c_strm_sconn* conn;
};

}  // namespace

namespace vq::strm {

bool HostLinkText(const char* host, bool has_server_name, std::string* out) {
  if (host == nullptr || std::strpbrk(host, ";(){}") != nullptr) return false;
  const bool direct = has_server_name && std::strchr(host, ':') == nullptr;
  *out = std::string("tcpip(host=") + host + ";Verify=" + (has_server_name ? "YES" : "NO") +
         (direct ? ";DoBroadcast=Direct" : ";DoBroadcast=None") + ")";
  return true;
}

}  // namespace vq::strm

// ---- messages for the callback thread -------------------------------------------------

c_strm_callback_msg::c_strm_callback_msg(c_strm_sconn* c, std::uint8_t t, std::uint32_t k,
                                         const char* source, std::uint16_t n)
    : conn(c), type(t), code(k), length(n) {
  text = static_cast<char*>(ut_alloc(std::size_t{n} + 1));
  if (n != 0 && source != nullptr) std::memcpy(text, source, n);
  text[n] = '\0';
}

c_strm_callback_msg::~c_strm_callback_msg() { ut_free(text); }

// ---- construction -------------------------------------------------------------------------

c_strm_sess_layer::c_strm_sess_layer(c_strm_frlist_controller* controller, a_pres_new_fn pres_new,
                                     a_pres_del_fn pres_del, c_strm_env_notifier* notifier,
                                     void* env)
    : tran_layer_(notifier, controller->default_pool, env),
      controller_(controller),
      parms_{},
      notifier_(notifier),
      pres_new_(pres_new),
      pres_del_(pres_del),
      clock_(&timer_now) {
  parms_.LivenessTimeout = -1;
  parms_.word7 = 255;
  const char* text = std::getenv("VC_INIT_CONN_TIMEOUT");
  if (text != nullptr && std::strlen(text) <= kMaxEnvTimeoutText) {
    const std::uint32_t seconds = strtou32(text, nullptr, 10);
    if (seconds > kDefaultInitConnTimeout) {
      init_conn_timeout_ = static_cast<std::uint16_t>(seconds < 0xFFFF ? seconds : 0xFFFF);
    }
  }
}

c_strm_sess_layer::~c_strm_sess_layer() {
  // Connections still linked here would point into the lists about to go.
  if (!active_.is_empty() || !deletion_.is_empty()) delete_all_connections();
  stop_process_callback_thread();
  while (c_strm_callback_msg* m = messages_.first_element()) delete m;
  while (c_utils_link* p = proxies_.is_empty() ? nullptr : proxies_.first()) delete p;
  ut_free(parms_.text);
}

void c_strm_sess_layer::set_parms(const a_streams_parm_block* parms) {
  vq::strm::LockHold hold(session_lock_);
  ut_free(parms_.text);
  if (parms == nullptr) {
    parms_ = a_streams_parm_block{};
  } else {
    parms_ = *parms;
    parms_.text = nullptr;
    if (parms->text != nullptr) {
      const std::size_t n = std::strlen(parms->text);
      parms_.text = static_cast<char*>(ut_alloc(n + 1));
      std::memcpy(parms_.text, parms->text, n + 1);
    }
  }
  flags_.fetch_or(kParmsSet);
}

a_streams_parm_block c_strm_sess_layer::parms() {
  vq::strm::LockHold hold(session_lock_);
  return parms_;
}

void c_strm_sess_layer::set_message_callback(a_strm_msg_callback callback, void* data) {
  callback_data_.store(data);
  msg_callback_.store(callback);
}

// ---- connect --------------------------------------------------------------------------------

an_int_strm_error c_strm_sess_layer::connect(c_conn_parms* parms, a_strm_conn_type type, char* err,
                                             std::uint32_t err_len, void* host_ctx,
                                             c_strm_sconn** out) {
  *out = nullptr;
  if (err != nullptr && err_len != 0) err[0] = '\0';
  bool links_set = false;
  if (parms->isSpecified(kSlotHost)) {
    if (parms->isSpecified(kSlotCommLinks)) {
      vq::strm::FormatMsg(err, err_len, kMsgHostAndLinks);
      return STRM_LINK_FAILED;
    }
    std::string links;
    if (!vq::strm::HostLinkText(parms->getString(kSlotHost), parms->isSpecified(kSlotServerName),
                                &links)) {
      vq::strm::FormatMsg(err, err_len, kMsgLinkNotStarted, "TCPIP");
      return STRM_LINK_FAILED;
    }
    // For this connect only.
    parms->setString(kSlotCommLinks, links.c_str());
    links_set = true;
  }
  c_strm_conn_notifier* notifier = nullptr;
  c_strm_tconn* tconn = nullptr;
  const an_int_strm_error rc =
      tran_layer_.connect(parms, type, err, err_len, host_ctx, &notifier, &tconn);
  if (links_set) parms->setString(kSlotCommLinks, nullptr);
  if (rc != STRM_OK) return rc;

  auto* conn = new c_strm_sconn(this, tconn, controller_->default_pool, notifier, host_ctx);
  if (pres_new_ != nullptr && pres_new_(conn) == 0) {
    // No connection is handed out, so the caller must not be told of success.
    delete conn;
    return STRM_NO_MEMORY;
  }
  adopt(conn);
  *out = conn;
  return STRM_OK;
}

void c_strm_sess_layer::adopt(c_strm_sconn* conn) {
  vq::strm::LockHold hold(session_lock_);
  active_.append(conn);
  active_count_.fetch_add(1);
}

// ---- periodic work ------------------------------------------------------------------------

void c_strm_sess_layer::execute() {
  delete_disconnected(false);
  {
    vq::strm::LockHold hold(proxy_lock_);
    while (!proxies_.is_empty()) {
      auto* proxy = static_cast<c_strm_sconn_proxy*>(proxies_.first());
      proxy->unlink();
      c_strm_tconn* t = proxy->conn->tconn();
      if (t != nullptr && t->pconn() != nullptr) t->pconn()->start_receive();
      delete proxy;
    }
  }
  tran_layer_.port_layer().execute();
  // The links poll themselves (a shared-memory connection through the blocked
  // request's wait), so the control thread has no polling pass of its own.
  const std::uint64_t t = now();
  const std::uint64_t next = liveness_next_.load();
  if ((next != kNever && t >= next) || (flags_.load() & kLivenessRequested) != 0) {
    execute_liveness_all_conn(t);
    vq::strm::LockHold hold(session_lock_);
    flags_.fetch_and(~kLivenessRequested);
  }
  const std::uint64_t live = liveness_next_.load();
  const std::uint64_t port = tran_layer_.port_layer().next_timeout();
  next_execute_.store(live < port ? live : port);
}

void c_strm_sess_layer::liveness_plan(std::uint32_t count, std::int16_t shortest, double* period,
                                      std::uint32_t* batch) {
  if (count == 0) {
    *period = 5.0;
    *batch = 10;
    return;
  }
  // A time-out under 3 seconds would make a third of it 0 and the batch a division by
  // zero: a third counts as at least one second.
  std::int32_t third = shortest / 3;
  if (third < 1) third = 1;
  double p = 50.0 * third / count;
  if (p < 2.0) p = 2.0;
  if (p > 5.0) p = 5.0;
  const std::uint64_t visits = static_cast<std::uint64_t>(std::trunc(p * 5 * count));
  std::uint64_t b = visits / (4u * static_cast<std::uint32_t>(third));
  if (b < 10) b = 10;
  *period = p;
  *batch = static_cast<std::uint32_t>(b > UINT32_MAX ? UINT32_MAX : b);
}

void c_strm_sess_layer::execute_liveness_all_conn(std::uint64_t n) {
  std::uint64_t t = n;
  {
    vq::strm::LockHold hold(session_lock_);
    double period = 0;
    std::uint32_t batch = 0;
    liveness_plan(active_count_.load(), shortest_timeout_.load(), &period, &batch);
    const std::uint64_t period_ticks = static_cast<std::uint64_t>(std::trunc(period)) * kTicks;
    std::uint64_t next = kNever;
    c_strm_sconn* start = resume_.load();
    if (start == nullptr) start = active_.first_element();
    bool ended = false;
    std::uint32_t sends = 0;
    for (c_strm_sconn* c = start; c != nullptr;) {
      bool sent = false;
      const std::uint64_t when = c->execute_liveness(n, &sent);
      if (when < next) next = when;
      c_utils_link* after_link = c->next != active_.end() ? c->next : active_.first();
      c_strm_sconn* after = after_link != active_.end() ? static_cast<c_strm_sconn*>(after_link) : nullptr;
      c_strm_sconn* resume_at = after == start ? nullptr : after;
      if (sent) {
        ++sends;
        if (sends % kSendsPerClockCheck == 0) {
          t = now();
          if (t > n + kTicks) {
            // The pass overruns: go on later from the next connection.
            const double r = period * sends / batch - 1.0;
            next = t + (r > 0.2 ? static_cast<std::uint64_t>(std::trunc(r)) * kTicks : 0);
            resume_.store(resume_at);
            const std::uint32_t overruns = overruns_.fetch_add(1) + 1;
            if (overruns > kOverrunsBeforeWarning && (flags_.load() & kOverrunWarned) == 0) {
              vq::strm::HostPrintConnectionlessMsg(kMsgLivenessBehind);
              vq::strm::HostPrintConnectionlessMsg(kMsgLivenessFalseAlarms);
              flags_.fetch_or(kOverrunWarned);
            }
            ended = true;
            break;
          }
        }
        if (sends == batch) {
          next = t + period_ticks;
          resume_.store(resume_at);
          overruns_.store(0);
          ended = true;
          break;
        }
      }
      c = after;
      if (c == start) break;
    }
    if (!ended) {
      resume_.store(nullptr);
      if (next != kNever && next < t + period_ticks) next = t + period_ticks;
      overruns_.store(0);
    }
    liveness_next_.store(next);
  }
  last_pass_.store(t);
}

void c_strm_sess_layer::update_timeout_from_conn(std::uint16_t seconds) {
  vq::strm::LockHold hold(session_lock_);
  // Kept in 16 signed bits: a longer time-out never becomes the shortest.
  if (seconds < shortest_timeout_.load()) shortest_timeout_.store(static_cast<std::int16_t>(seconds));
  const std::uint64_t at = now() + std::uint64_t{seconds / 3u} * kTicks;
  if (at < liveness_next_.load()) liveness_next_.store(at);
}

void c_strm_sess_layer::request_liveness_pass() {
  vq::strm::LockHold hold(session_lock_);
  flags_.fetch_or(kLivenessRequested);
}

// ---- proxies and lists --------------------------------------------------------------------

void c_strm_sess_layer::add_receive_proxy(c_strm_sconn* conn) {
  vq::strm::LockHold hold(proxy_lock_);
  proxies_.append(new c_strm_sconn_proxy(conn));
}

void c_strm_sess_layer::remove_receive_proxy(c_strm_sconn* conn) {
  vq::strm::LockHold hold(proxy_lock_);
  for (c_utils_link* l = proxies_.first(); l != proxies_.end();) {
    c_utils_link* next = l->next;
    if (static_cast<c_strm_sconn_proxy*>(l)->conn == conn) delete l;
    l = next;
  }
}

void c_strm_sess_layer::remove_from_active_connections(c_strm_sconn* conn) {
  vq::strm::LockHold hold(session_lock_);
  bool found = false;
  for (c_utils_link* l = active_.first(); l != active_.end(); l = l->next) {
    if (l == static_cast<c_utils_link*>(conn)) found = true;
  }
  if (!found) return;
  if (resume_.load() == conn) {
    c_utils_link* next = conn->next;
    resume_.store(next != active_.end() ? static_cast<c_strm_sconn*>(next) : nullptr);
  }
  conn->unlink();
  active_count_.fetch_sub(1);
}

void c_strm_sess_layer::delayed_delete(c_strm_sconn* conn) {
  vq::strm::LockHold hold(session_lock_);
  remove_from_active_connections(conn);
  conn->unlink();
  deletion_.append(conn);
}

void c_strm_sess_layer::delete_conn(c_strm_sconn* conn) {
  stop_conn_callback_msgs(conn);
  if (pres_del_ != nullptr) pres_del_(conn);
  delete conn;
}

bool c_strm_sess_layer::delete_disconnected(bool force) {
  vq::strm::LockHold hold(session_lock_);
  if (deletion_.is_empty()) return false;
  c_utils_list<c_strm_sconn> kept;
  std::uint32_t deleted = 0;
  while (c_strm_sconn* c = deletion_.first_element()) {
    c->unlink();
    bool go = force;
    if (!go && c->reason() != SCONN_REASON_NONE) {
      c_strm_tconn* t = c->tconn();
      go = t == nullptr || t->pconn() == nullptr || t->pconn()->can_delete();
    }
    if (go) {
      delete_conn(c);
      if (++deleted > kMaxDeletesPerCall && !force) break;
    } else {
      kept.append(c);
    }
  }
  while (c_strm_sconn* c = kept.first_element()) {
    c->unlink();
    deletion_.append(c);
  }
  return deleted != 0;
}

void c_strm_sess_layer::delete_all_connections() {
  flags_.fetch_or(kShuttingDown);
  tran_layer_.port_layer().shutdown_listeners();
  stop_process_callback_thread();
  {
    vq::strm::LockHold hold(session_lock_);
    while (c_strm_sconn* c = active_.first_element()) {
      c->drop_connection(0);
      remove_from_active_connections(c);
      c->unlink();
      deletion_.append(c);
    }
    resume_.store(nullptr);
  }
  delete_disconnected(true);
  vq::strm::LockHold hold(callback_lock_);
  while (c_strm_callback_msg* m = messages_.first_element()) delete m;
}

// ---- immediate server messages ----------------------------------------------------------------

void c_strm_sess_layer::queue_callback_msg(c_strm_sconn* conn, std::uint8_t type, std::uint32_t code,
                                           const char* text, std::uint16_t length) {
  auto* msg = new c_strm_callback_msg(conn, type, code, text, length);
  vq::strm::LockHold hold(callback_lock_);
  if (conn->state() != SCONN_CONNECTED_TO_DB) {
    delete msg;
    return;
  }
  messages_.append(msg);
  if (thread_.load() == 0 && stop_.load() == 0) {
    thread_.store(OS_Begin_Thread_Attachable(&callback_thread_entry, 0, 0, this,
                                             kCallbackThreadName, 1));
  }
  if (thread_.load() != 0) OS_Wakeup(thread_.load(), 0);
}

void c_strm_sess_layer::process_callback_msg() {
  for (;;) {
    c_strm_callback_msg* msg = nullptr;
    {
      vq::strm::LockHold hold(callback_lock_);
      if (stop_.load() != 0) return;
      msg = messages_.first_element();
      if (msg != nullptr) msg->in_progress = true;
    }
    if (msg == nullptr) {
      OS_Wait();
      continue;
    }
    a_strm_msg_callback callback = msg_callback_.load();
    c_strm_sconn* conn = msg->conn;
    if (callback != nullptr && msg->text != nullptr && conn->state() == SCONN_CONNECTED_TO_DB) {
      vq::strm::LockHold hold(conn->callback_lock());
      if (conn->state() == SCONN_CONNECTED_TO_DB) {
        callback(callback_data_.load(), conn->callback_data(), msg->type, msg->code, msg->length,
                 msg->text, conn->host_ctx());
      }
    }
    vq::strm::LockHold hold(callback_lock_);
    delete msg;
  }
}

void c_strm_sess_layer::stop_process_callback_thread() {
  stop_.store(1);
  {
    vq::strm::LockHold hold(callback_lock_);
  }
  const a_os_thread thread = thread_.load();
  if (thread == 0) return;
  OS_Wakeup(thread, 0);
  OS_WaitOnThreadTermination(thread);
  thread_.store(0);
}

void c_strm_sess_layer::stop_conn_callback_msgs(c_strm_sconn* conn) {
  // On the callback thread itself the message in progress is the caller's own.
  const bool on_thread = thread_.load() != 0 && OS_Me() == thread_.load();
  for (;;) {
    bool busy = false;
    {
      vq::strm::LockHold hold(callback_lock_);
      for (c_utils_link* l = messages_.first(); l != messages_.end();) {
        c_utils_link* next = l->next;
        auto* m = static_cast<c_strm_callback_msg*>(l);
        if (m->conn == conn) {
          if (!m->in_progress) {
            delete m;
          } else if (!on_thread) {
            busy = true;
          }
        }
        l = next;
      }
    }
    {
      // Waits out a callback running for this connection.
      vq::strm::LockHold hold(conn->callback_lock());
    }
    if (!busy) return;
    pause_20ms();
  }
}
