// The EINTR-proof wrappers of the socket calls.
#include "net/socket_calls.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kReadableSliceMs = 500;

// Repeats `call` while it fails with EINTR, clearing errno before every attempt.
template <typename Call>
auto retry(Call call) -> decltype(call()) {
  for (;;) {
    errno = 0;
    auto rc = call();
    if (rc == -1 && errno == EINTR) continue;
    return rc;
  }
}

// Waits until the descriptor is readable or in error, however long it takes; -1 when
// poll itself fails.
int wait_readable(int fd) {
  for (;;) {
    pollfd p{fd, POLLIN | POLLERR, 0};
    errno = 0;
    const int rc = poll(&p, 1, kReadableSliceMs);
    if (rc > 0) return 0;
    if (rc < 0 && errno != EINTR) return -1;
  }
}

// Linux 2.6.0 to 2.6.12 refused a scope id on connects to non-link-local addresses.
bool kernel_needs_zero_scope() {
  static const bool needs = [] {
    utsname u{};
    if (uname(&u) != 0) return false;
    int major = 0;
    int minor = 0;
    int patch = 0;
    if (std::sscanf(u.release, "%d.%d.%d", &major, &minor, &patch) != 3) return false;
    return major == 2 && minor == 6 && patch <= 12;
  }();
  return needs;
}

}  // namespace

namespace vq::net {

int SetCloseOnExec(int fd) {
  const int flags = fcntl(fd, F_GETFD);
  if (flags < 0) return -1;
  return fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

}  // namespace vq::net

int unix_poll(pollfd* fds, unsigned n, int timeoutMs) {
  return retry([&] { return poll(fds, n, timeoutMs); });
}

int unix_recv(int fd, char* buf, int len, int flags) {
  return static_cast<int>(
      retry([&] { return recv(fd, buf, static_cast<std::size_t>(len), flags); }));
}

int unix_recvfrom(int fd, char* buf, int len, int flags, sockaddr* from, unsigned* fromLen) {
  if (wait_readable(fd) != 0) return -1;
  return static_cast<int>(retry([&] {
    return recvfrom(fd, buf, static_cast<std::size_t>(len), flags, from,
                    reinterpret_cast<socklen_t*>(fromLen));
  }));
}

int unix_recvmsg(int fd, msghdr* message, int flags) {
  if (wait_readable(fd) != 0) return -1;
  return static_cast<int>(retry([&] { return recvmsg(fd, message, flags); }));
}

int unix_send(int fd, const char* buf, int len, int flags) {
  // MSG_NOSIGNAL: a peer that went away is an EPIPE result, never a SIGPIPE for the host.
  return static_cast<int>(retry(
      [&] { return send(fd, buf, static_cast<std::size_t>(len), flags | MSG_NOSIGNAL); }));
}

int unix_sendto(int fd, const char* buf, int len, int flags, const sockaddr* to,
                unsigned toLen) {
  return static_cast<int>(retry([&] {
    return sendto(fd, buf, static_cast<std::size_t>(len), flags | MSG_NOSIGNAL, to, toLen);
  }));
}

int unix_ioctl(int fd, unsigned long request, void* arg) {
  return retry([&] { return ioctl(fd, request, arg); });
}

int unix_select(int n, fd_set* read, fd_set* write, fd_set* error, timeval* timeout) {
  return retry([&] { return select(n, read, write, error, timeout); });
}

int unix_close(int fd) {
  return retry([&] { return close(fd); });
}

int unix_accept(int fd, sockaddr* peer, unsigned* peerLen) {
  const int rc = retry([&] { return accept(fd, peer, reinterpret_cast<socklen_t*>(peerLen)); });
  if (rc >= 0) vq::net::SetCloseOnExec(rc);
  return rc;
}

int unix_connect(int fd, const sockaddr* address, unsigned len) {
  sockaddr_storage copy{};
  if (address != nullptr && address->sa_family == AF_INET6 && kernel_needs_zero_scope() &&
      len >= sizeof(sockaddr_in6) && len <= sizeof copy) {
    std::memcpy(&copy, address, len);
    reinterpret_cast<sockaddr_in6*>(&copy)->sin6_scope_id = 0;
    address = reinterpret_cast<const sockaddr*>(&copy);
  }
  const int rc = retry([&] { return connect(fd, address, len); });
  if (rc != 0) return -1;
  vq::net::SetCloseOnExec(fd);
  return 0;
}
