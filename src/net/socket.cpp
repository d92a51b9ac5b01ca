// Socket, TcpSocket and UdpSocket: a thin handle over one socket descriptor.
#include "net/socket.h"

#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "net/ip_address.h"
#include "net/socket_calls.h"
#include "net/tcp_util.h"

namespace {

constexpr std::int32_t kWaitWithoutLimit = -1000;  // microseconds: poll without a limit

}  // namespace

Socket::Socket() : descriptor(-1), closed(1), type(SOCKET_OTHER), isIPv6(0), blocking(1) {}

Socket::Socket(a_socket_type t, unsigned ipv6) : Socket() { init(t, ipv6); }

Socket::Socket(int domain, int t, int protocol) : Socket() { init(domain, t, protocol); }

Socket::Socket(int fd, a_socket_type t, unsigned ipv6) : Socket() { init(fd, t, ipv6); }

Socket::Socket(const Socket& other) : Socket() { init(other); }

Socket& Socket::operator=(const Socket& other) {
  init(other);
  return *this;
}

Socket::~Socket() = default;
TcpSocket::~TcpSocket() = default;
UdpSocket::~UdpSocket() = default;

unsigned Socket::init(a_socket_type t, unsigned ipv6) {
  if (ipv6 != 0 && TcpUtil::IsIPv6Supported() == 0) return 0;
  const int family = GET_AF_INET(ipv6);
  switch (t) {
    case SOCKET_STREAM:
      return init(family, SOCK_STREAM, IPPROTO_TCP);
    case SOCKET_DATAGRAM:
      return init(family, SOCK_DGRAM, IPPROTO_UDP);
    case SOCKET_LOCAL:
      return init(AF_UNIX, SOCK_STREAM, 0);
    default:
      return 0;
  }
}

unsigned Socket::init(int domain, int t, int protocol) {
  // Created close-on-exec: a server the client starts must not inherit its sockets.
  const int fd = ::socket(domain, t | SOCK_CLOEXEC, protocol);
  if (fd == -1) return 0;
  descriptor = fd;
  closed = 0;
  blocking = 1;
  isIPv6 = domain == AF_INET6 ? 1 : 0;
  if (domain == AF_UNIX)
    type = SOCKET_LOCAL;
  else if (protocol == IPPROTO_TCP)
    type = SOCKET_STREAM;
  else if (protocol == IPPROTO_UDP)
    type = SOCKET_DATAGRAM;
  else
    type = SOCKET_OTHER;
  return 1;
}

void Socket::init(int fd, a_socket_type t, unsigned ipv6) {
  descriptor = fd;
  closed = 0;
  type = t;
  isIPv6 = ipv6;
  blocking = 1;
}

void Socket::init(const Socket& other) {
  descriptor = other.descriptor;
  closed = other.closed;
  type = other.type;
  isIPv6 = other.isIPv6;
  blocking = other.blocking;
}

int Socket::recv(char* buf, unsigned len, IPAddress& from) {
  unsigned from_len = sizeof from.storage;
  const int rc = recv(buf, len, &from.storage, &from_len);
  if (rc >= 0) {
    from.length = from_len;
    from.setValid(1);
  }
  return rc;
}

int Socket::recv(char* buf, unsigned len) {
  return unix_recv(descriptor, buf, static_cast<int>(len), 0);
}

int Socket::send(const char* buf, unsigned len, const IPAddress& to) {
  return send(buf, len, &to.storage, to.length);
}

int Socket::send(const char* buf, unsigned len) {
  return send_with_yield(buf, len, nullptr, nullptr);
}

int Socket::send_with_yield(const char* buf, unsigned len, unsigned (*yield)(void*),
                            void* arg) {
  unsigned sent = 0;
  for (;;) {
    const int rc = unix_send(descriptor, buf + sent, static_cast<int>(len - sent), 0);
    if (rc == -1 && getLastError().code != EAGAIN) return -1;
    if (rc > 0) {
      sent += static_cast<unsigned>(rc);
      if (sent == len) return static_cast<int>(len);
    }
    if (yield == nullptr) {
      // Sleep until the socket takes more bytes; a poll that does not wait would spin.
      unsigned read = 0;
      unsigned write = 1;
      if (select(read, write, kWaitWithoutLimit) == -1) return -1;
    } else if (yield(arg) == 0) {
      break;
    }
  }
  if (sent != 0) return static_cast<int>(sent);
  errno = EAGAIN;
  return -1;
}

int Socket::shutdown(a_socket_shutdown_flag how) {
  const int direction = how == SOCKET_SHUT_SEND      ? SHUT_WR
                        : how == SOCKET_SHUT_RECEIVE ? SHUT_RD
                                                     : SHUT_RDWR;
  return ::shutdown(descriptor, direction);
}

int Socket::close() {
  if (closed != 0) return 0;
  const int rc = unix_close(descriptor);
  closed = 1;
  return rc;
}

int Socket::bind(const IPAddress& address) {
  const int rc =
      ::bind(descriptor, reinterpret_cast<const sockaddr*>(&address.storage), address.length);
  if (rc == 0) vq::net::SetCloseOnExec(descriptor);
  return rc;
}

int Socket::connect(const IPAddress& address) {
  if (address.valid == 0) {
    errno = EINVAL;
    return -1;
  }
  return unix_connect(descriptor, reinterpret_cast<const sockaddr*>(&address.storage),
                      address.length);
}

int Socket::getsockname(IPAddress& address) {
  socklen_t len = sizeof address.storage;
  const int rc = ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address.storage), &len);
  if (rc == 0) {
    address.length = len;
    address.setValid(1);
  }
  return rc;
}

int Socket::getpeername(IPAddress& address) {
  socklen_t len = sizeof address.storage;
  const int rc = ::getpeername(descriptor, reinterpret_cast<sockaddr*>(&address.storage), &len);
  if (rc == 0) {
    address.length = len;
    address.setValid(1);
  }
  return rc;
}

int Socket::setsockopt(int level, int name, const char* value, unsigned len) {
  return ::setsockopt(descriptor, level, name, value, len);
}

int Socket::getsockopt(int level, int name, char* value, unsigned* len) {
  return ::getsockopt(descriptor, level, name, value, reinterpret_cast<socklen_t*>(len));
}

int Socket::listen(int backlog) {
  const int rc = ::listen(descriptor, backlog);
  if (rc == 0) vq::net::SetCloseOnExec(descriptor);
  return rc;
}

int Socket::accept(IPAddress& peer, Socket& out) {
  unsigned len = sizeof peer.storage;
  const int fd = unix_accept(descriptor, reinterpret_cast<sockaddr*>(&peer.storage), &len);
  if (fd == -1) return -1;
  peer.length = len;
  peer.setValid(1);
  out.init(fd, type, 0u);
  return 0;
}

const char* Socket::get_class() {
  IPAddress local;
  if (getsockname(local) != 0) return "";
  return TcpUtil::GetClass(&local.storage, local.length);
}

int Socket::allow_broadcast() {
  const int on = 1;
  return setsockopt(SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
}

int Socket::add_membership(IPAddress& group, IPAddress& iface) {
  if (isIPv6 != 0 && group.isIPv6 != 0) {
    const int loop = 0;
    if (setsockopt(IPPROTO_IPV6, IPV6_MULTICAST_LOOP, reinterpret_cast<const char*>(&loop),
                   sizeof loop) != 0)
      return -1;
    ipv6_mreq request{};
    request.ipv6mr_multiaddr = reinterpret_cast<const sockaddr_in6*>(&group.storage)->sin6_addr;
    request.ipv6mr_interface = iface.getScopeId();
    return setsockopt(IPPROTO_IPV6, IPV6_ADD_MEMBERSHIP,
                      reinterpret_cast<const char*>(&request), sizeof request);
  }
  ip_mreq request{};
  request.imr_multiaddr.s_addr = my_htonl(group.ipv4HostOrder());
  request.imr_interface.s_addr = my_htonl(iface.ipv4HostOrder());
  return setsockopt(IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&request),
                    sizeof request);
}

int Socket::set_blocking_state(unsigned block) {
  int non_blocking = block != 0 ? 0 : 1;
  const int rc = unix_ioctl(descriptor, FIONBIO, &non_blocking);
  if (rc == 0) blocking = block;
  return rc;
}

int Socket::set_Nagle_algorithm(unsigned v) {
  const int value = static_cast<int>(v);
  return setsockopt(IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&value),
                    sizeof value);
}

UTErrorCode Socket::getLastError() { return UTErrorCode{0, errno}; }

int Socket::recv(char* buf, unsigned len, sockaddr_storage* from, unsigned* fromLen) {
  return unix_recvfrom(descriptor, buf, static_cast<int>(len), 0,
                       reinterpret_cast<sockaddr*>(from), fromLen);
}

int Socket::send(const char* buf, unsigned len, const sockaddr_storage* to, unsigned toLen) {
  return unix_sendto(descriptor, buf, static_cast<int>(len), 0,
                     reinterpret_cast<const sockaddr*>(to), toLen);
}

int Socket::select(unsigned& read, unsigned& write, std::int32_t timeoutMicroseconds) {
  pollfd p{descriptor, POLLERR, 0};
  if (read != 0) p.events |= POLLIN;
  if (write != 0) p.events |= POLLOUT;
  const int rc = unix_poll(&p, 1, timeoutMicroseconds / 1000);
  if (rc == -1 || (p.revents & POLLERR) != 0) return -1;
  read = read != 0 && (p.revents & POLLIN) != 0 ? 1 : 0;
  write = write != 0 && (p.revents & POLLOUT) != 0 ? 1 : 0;
  return rc;
}
