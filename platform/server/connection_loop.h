// Serving one client connection over any byte transport. A transport (TCP here;
// shared memory may follow) provides a Channel; serve_connection runs the
// session over it: received bytes in, replies out, the connect's time limit, the
// hooks a session needs while a statement runs or a file transfer waits. The
// liveness side (send_liveness_if_due) is called from the server's liveness
// thread and shares the channel's send lock, so packets never interleave.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "limits.h"

namespace vqeng {

class Session;

class Channel {
 public:
  virtual ~Channel() = default;
  // Results of receive besides a byte count.
  static constexpr long kClosed = 0;
  static constexpr long kTimedOut = -1;
  static constexpr long kFailed = -2;
  // Waits up to timeout_ms (-1: without limit, 0: not at all) for bytes.
  virtual long receive(std::uint8_t* buf, std::size_t len, int timeout_ms) = 0;
  // Sends all the bytes; false when the peer is gone.
  virtual bool send(const std::string& data) = 0;
  // Sends a small packet now, whole, or (when the transport is full) not at all.
  virtual bool send_now(const std::string& packet) = 0;
  // Wakes a receive in progress and refuses further traffic.
  virtual void shut() = 0;
  // Ends the sending side: the peer reads what was sent to its end, then finds the
  // connection closed. Receiving goes on.
  virtual void shut_send() = 0;
  // Runs the server side of a TLS handshake within timeout_ms; from then on all
  // traffic goes through TLS. False with `why` when the transport has no TLS or
  // the handshake failed.
  virtual bool start_tls(int timeout_ms, std::string& why) {
    (void)timeout_ms;
    why = "this transport runs no TLS";
    return false;
  }
};

// What the server's threads share about one connection.
struct ConnectionState {
  std::mutex send_mu;                         // held for each whole send
  std::atomic<unsigned> liveness_s{0};        // agreed liveness time-out; 0 off
  std::atomic<std::int64_t> last_send_ms{0};  // monotonic clock
  std::atomic<bool> done{false};
};

std::int64_t monotonic_ms();

// Runs the session over the channel until the session closes or the peer goes.
// Returns whether the client asked the server to shut down (and was allowed to).
bool serve_connection(Session& s, Channel& ch, ConnectionState& st, const Limits& limits);

// Sends a liveness packet when the connection has sent nothing for a third of
// its liveness time-out (at least a second). A connection busy sending is
// skipped: it is alive enough.
void send_liveness_if_due(Channel& ch, ConnectionState& st, std::int64_t now_ms);

}  // namespace vqeng
