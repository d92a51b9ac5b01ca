// One connection's loop, independent of the transport.
#include "connection_loop.h"

#include <algorithm>
#include <chrono>

#include "session.h"

namespace vqeng {
namespace {

constexpr int kTlsHandshakeMs = 30000;
// How long a connection that ended waits for its client to close.
constexpr int kLingerMs = 1000;

bool send_whole(Channel& ch, ConnectionState& st, const std::string& data) {
  if (data.empty()) return true;
  std::lock_guard<std::mutex> lock(st.send_mu);
  const bool ok = ch.send(data);
  st.last_send_ms = monotonic_ms();
  return ok;
}

// Feeds what arrives within timeout_ms; false when the peer went away. Bytes
// received are a sign of life: last_recv_ms is set then.
bool take_bytes(Session& s, Channel& ch, int timeout_ms, bool* got,
                std::int64_t* last_recv_ms) {
  std::uint8_t buf[16384];
  *got = false;
  const long n = ch.receive(buf, sizeof buf, timeout_ms);
  if (n == Channel::kTimedOut) return true;
  if (n <= 0) {
    s.peer_closed();
    return false;
  }
  *last_recv_ms = monotonic_ms();
  s.feed(buf, static_cast<std::size_t>(n));
  *got = true;
  return true;
}

// The connection ends with its last reply on the way: the client is told no more
// comes, and what it still sends is read and dropped until it closes too (or the time
// is up, or shut() wakes the wait). A socket closed with input unread resets the
// connection, and the reset takes with it whatever of the reply the system still
// held to send: a refusal, the reply to a disconnect or an error before the close
// would be lost.
void linger(Channel& ch, ConnectionState& st) {
  {
    std::lock_guard<std::mutex> lock(st.send_mu);  // after a liveness packet under way
    ch.shut_send();
  }
  std::uint8_t buf[4096];
  const std::int64_t deadline = monotonic_ms() + kLingerMs;
  for (;;) {
    const std::int64_t left = deadline - monotonic_ms();
    if (left <= 0) return;
    const long n = ch.receive(buf, sizeof buf, static_cast<int>(left));
    if (n == Channel::kClosed || n == Channel::kFailed) return;
  }
}

}  // namespace

std::int64_t monotonic_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool serve_connection(Session& s, Channel& ch, ConnectionState& st, const Limits& limits) {
  // While a statement runs, bytes that arrive meanwhile (an attention) are taken
  // without waiting.
  std::int64_t last_recv_ms = monotonic_ms();
  // The session's output is taken into this one string every time, which then gives
  // its storage back for the next reply.
  std::string outgoing;
  auto send_output = [&] {
    s.take_output(outgoing);
    return send_whole(ch, st, outgoing);
  };
  s.set_poll_hook([&] {
    bool got = true;
    while (got && take_bytes(s, ch, 0, &got, &last_recv_ms)) {
    }
  });
  // A file transfer to the client sends its request at once and waits (a minute
  // at most) for the answer.
  s.set_flush_hook([&] { send_output(); });
  s.set_wait_hook([&] {
    bool got = false;
    return take_bytes(s, ch, 60000, &got, &last_recv_ms) && got;
  });
  // A shutdown request is acted on once its reply is on the wire: stopping at once
  // would let the server cut this connection before the client hears the answer.
  bool shutdown_asked = false;
  s.set_shutdown_hook([&shutdown_asked] { shutdown_asked = true; });
  // The app-connect exchange and the database connect must be done in time.
  const unsigned login_s = limits.login_timeout_seconds;
  const std::int64_t deadline = monotonic_ms() + static_cast<std::int64_t>(login_s) * 1000;
  while (!s.closed()) {
    int timeout = -1;
    if (login_s != 0 && !s.connected()) {
      const std::int64_t left = deadline - monotonic_ms();
      if (left <= 0) {
        s.login_timed_out(login_s);
        send_output();
        break;
      }
      timeout = static_cast<int>(std::min<std::int64_t>(left + 1, 60000));
    }
    // A client that agreed on a liveness time-out sends at least a liveness packet
    // within it; one silent for longer is gone (its host or its network), and its
    // connection is dropped. A reply that took longer than the time-out is no
    // silence of the client's: what waits in the socket is read before deciding.
    const unsigned liveness_s = s.agreement().liveness;
    if (liveness_s != 0) {
      const std::int64_t silent_ms = monotonic_ms() - last_recv_ms;
      const std::int64_t left = static_cast<std::int64_t>(liveness_s) * 1000 - silent_ms;
      const int until = static_cast<int>(std::clamp<std::int64_t>(left + 1, 0, 60000));
      timeout = timeout < 0 ? until : std::min(timeout, until);
    }
    bool got = false;
    if (!take_bytes(s, ch, timeout, &got, &last_recv_ms)) break;
    if (!got) {
      if (liveness_s != 0 && monotonic_ms() - last_recv_ms >= liveness_s * 1000LL) {
        s.liveness_timed_out(liveness_s);
        break;
      }
      continue;
    }
    s.run();
    const bool sent = send_output();
    // An agreed TLS level: the app-connect reply went in the clear, and the
    // client starts its handshake once it has it. The send lock keeps the
    // liveness thread off the channel while it changes over.
    if (sent && s.take_tls_start()) {
      std::string why;
      bool started;
      {
        std::lock_guard<std::mutex> lock(st.send_mu);
        started = ch.start_tls(kTlsHandshakeMs, why);
      }
      if (!started) {
        s.tls_failed(why);
        break;
      }
    }
    if (s.silent()) {
      st.liveness_s = 0;  // no liveness packets either
    } else if (st.liveness_s == 0 && s.agreement().liveness != 0 && !s.closed()) {
      st.liveness_s = s.agreement().liveness;
    }
    if (shutdown_asked) break;
    if (!sent) {
      s.peer_closed();
      break;
    }
  }
  st.liveness_s = 0;  // nothing more goes to the client
  linger(ch, st);
  ch.shut();
  return shutdown_asked;
}

void send_liveness_if_due(Channel& ch, ConnectionState& st, std::int64_t now_ms) {
  static const std::string kLivenessPacket{26, 0, 0, 4};
  const unsigned t = st.liveness_s;
  if (t == 0 || st.done) return;
  const std::int64_t interval_ms =
      std::max<std::int64_t>(1000, static_cast<std::int64_t>(t) * 1000 / 3);
  if (now_ms - st.last_send_ms < interval_ms) return;
  std::unique_lock<std::mutex> send(st.send_mu, std::try_to_lock);
  if (!send.owns_lock()) return;
  if (ch.send_now(kLivenessPacket)) st.last_send_ms = now_ms;
}

}  // namespace vqeng
