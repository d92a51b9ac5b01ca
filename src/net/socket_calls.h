// Wrappers around the raw socket calls. Each sets errno to 0 before every attempt and
// repeats the call while it fails with EINTR, so a signal never ends a wait early. The
// datagram and message receives first wait, in 500 ms slices, until the descriptor is
// readable; accept and connect make the new (connected) descriptor close-on-exec.
// Every wrapper returns what the call returns, with errno set on failure.
#ifndef VQ_NET_SOCKET_CALLS_H
#define VQ_NET_SOCKET_CALLS_H

#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>

int unix_poll(pollfd* fds, unsigned n, int timeoutMs);
int unix_recv(int fd, char* buf, int len, int flags);
int unix_recvfrom(int fd, char* buf, int len, int flags, sockaddr* from, unsigned* fromLen);
int unix_recvmsg(int fd, msghdr* message, int flags);
int unix_send(int fd, const char* buf, int len, int flags);
int unix_sendto(int fd, const char* buf, int len, int flags, const sockaddr* to,
                unsigned toLen);
int unix_ioctl(int fd, unsigned long request, void* arg);
int unix_select(int n, fd_set* read, fd_set* write, fd_set* error, timeval* timeout);
int unix_close(int fd);
int unix_accept(int fd, sockaddr* peer, unsigned* peerLen);
// A failure with EISCONN is returned as -1 with errno EISCONN (a timed connect counts it
// as connected).
int unix_connect(int fd, const sockaddr* address, unsigned len);

namespace vq::net {

// Makes the descriptor close-on-exec; 0 or -1.
int SetCloseOnExec(int fd);

}  // namespace vq::net

#endif  // VQ_NET_SOCKET_CALLS_H
