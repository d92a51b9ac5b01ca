// TimedSocket: receives, sends and connects on a non-blocking socket that end after a
// time limit. Waits go in 250 ms slices and are timed by the process tick clock.
#include <sys/socket.h>

#include <cerrno>

#include "net/ip_address.h"
#include "net/socket.h"
#include "net/socket_calls.h"
#include "utils/base/timer_tick.h"

namespace {

constexpr std::int32_t kSliceMicroseconds = 250000;
constexpr unsigned kRead = 1;
constexpr unsigned kWrite = 2;

std::uint64_t now_ticks() {
  a_timer_tick t;
  t.sample();
  return t.ticks;
}

bool would_block(std::uint32_t code) {
  return code == EAGAIN || code == EWOULDBLOCK || code == EINPROGRESS;
}

}  // namespace

TimedSocket::~TimedSocket() = default;

TimedSocket::Activity TimedSocket::wait_for_activity(unsigned directions,
                                                     std::uint64_t startTicks) {
  unsigned read = (directions & kRead) != 0 ? 1 : 0;
  unsigned write = (directions & kWrite) != 0 ? 1 : 0;
  const int rc = select(read, write, kSliceMicroseconds);
  if (rc == -1) {
    int pending = 0;
    unsigned len = sizeof pending;
    if (getsockopt(SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending), &len) == 0)
      savedError = static_cast<std::uint32_t>(pending);
    return kError;
  }
  if (rc > 0) return kReady;
  if (timeLimit <= 0) return kNotYet;
  const std::uint64_t elapsed_ms =
      (now_ticks() - startTicks) * 1000 / a_timer_tick::TicksPerSecond;
  if (elapsed_ms >= static_cast<std::uint64_t>(timeLimit)) {
    timedOut = 1;
    savedError = ETIMEDOUT;
    return kTimedOut;
  }
  return kNotYet;
}

// Runs `op` until it succeeds, fails with an error other than would-block, or the wait
// for the directions times out or fails. An error left from an earlier operation is
// dropped first, so that it cannot end this one.
template <typename Op>
int TimedSocket::timed(unsigned directions, Op op) {
  timedOut = 0;
  savedError = 0;
  const std::uint64_t start = now_ticks();
  for (;;) {
    const int rc = op();
    if (rc != -1) return rc;
    if (!would_block(getLastError().code)) return -1;
    const Activity a = wait_for_activity(directions, start);
    if (a == kTimedOut || a == kError) return -1;
  }
}

int TimedSocket::recv(char* buf, unsigned len) {
  return timed(kRead, [&] { return unix_recv(descriptor, buf, static_cast<int>(len), 0); });
}

int TimedSocket::recv(char* buf, unsigned len, sockaddr_storage* from, unsigned* fromLen) {
  // The receive itself must not wait: the readable wait of unix_recvfrom has no limit.
  return timed(kRead, [&] {
    for (;;) {
      socklen_t l = *fromLen;
      errno = 0;
      const int rc = static_cast<int>(::recvfrom(descriptor, buf, len, MSG_DONTWAIT,
                                                 reinterpret_cast<sockaddr*>(from), &l));
      if (rc == -1 && errno == EINTR) continue;
      if (rc >= 0) *fromLen = l;
      return rc;
    }
  });
}

int TimedSocket::send(const char* buf, unsigned len) {
  return send_with_yield(buf, len, nullptr, nullptr);
}

int TimedSocket::send(const char* buf, unsigned len, const sockaddr_storage* to,
                      unsigned toLen) {
  return timed(kWrite, [&] {
    return unix_sendto(descriptor, buf, static_cast<int>(len), 0,
                       reinterpret_cast<const sockaddr*>(to), toLen);
  });
}

int TimedSocket::send_with_yield(const char* buf, unsigned len, unsigned (*yield)(void*),
                                 void* arg) {
  // One send attempt at a time, so that a full socket buffer meets the time limit instead
  // of an endless wait.
  timedOut = 0;
  savedError = 0;
  const std::uint64_t start = now_ticks();
  unsigned sent = 0;
  for (;;) {
    const int rc = unix_send(descriptor, buf + sent, static_cast<int>(len - sent), 0);
    if (rc > 0) {
      sent += static_cast<unsigned>(rc);
      if (sent == len) return static_cast<int>(len);
      continue;
    }
    if (rc == -1 && !would_block(getLastError().code)) return -1;
    if (yield != nullptr && yield(arg) == 0) break;
    const Activity a = wait_for_activity(kWrite, start);
    if (a == kTimedOut || a == kError) break;
  }
  if (sent != 0) return static_cast<int>(sent);
  if (savedError == 0) savedError = EAGAIN;
  errno = static_cast<int>(savedError);
  return -1;
}

int TimedSocket::connect(const IPAddress& address) {
  timedOut = 0;
  savedError = 0;
  const std::uint64_t start = now_ticks();
  for (;;) {
    const int rc = Socket::connect(address);
    const std::uint32_t code = getLastError().code;
    if (rc == 0 || code == EISCONN) return 0;
    if (code != EAGAIN && code != EINPROGRESS && code != EALREADY) {
      savedError = code;
      return -1;
    }
    switch (wait_for_activity(kRead | kWrite, start)) {
      case kReady: {
        // Writable with no error pending: connected.
        int pending = 0;
        unsigned l = sizeof pending;
        if (getsockopt(SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending), &l) == 0 &&
            pending != 0) {
          savedError = static_cast<std::uint32_t>(pending);
          return -1;
        }
        return 0;
      }
      case kNotYet:
        continue;
      default:
        return -1;
    }
  }
}

int TimedSocket::set_blocking_state(unsigned) { return 0; }

UTErrorCode TimedSocket::getLastError() {
  if (savedError != 0) {
    const UTErrorCode e{0, static_cast<std::int32_t>(savedError)};
    savedError = 0;
    return e;
  }
  return Socket::getLastError();
}
