// Sockets of the TCP link and the discovery road: a plain socket handle (Socket, with
// TcpSocket and UdpSocket), a socket whose receives, sends and connects end after a time
// limit (TimedSocket), and a wait on many sockets at once (SelectList).
//
// A Socket is a handle: copies share the descriptor, the destructor leaves it open, and
// only close() closes it. Operations follow the platform's -1 convention and leave the
// error in errno (TimedSocket: in savedError, read through getLastError). A Socket is
// used by one thread at a time.
#ifndef VQ_NET_SOCKET_H
#define VQ_NET_SOCKET_H

#include <sys/socket.h>

#include <cstdint>

#include "net/owning_list.h"
#include "utils/base/list.h"
#include "utils/locale/lang_string.h"

class IPAddress;

enum a_socket_type {
  SOCKET_OTHER = 0,
  SOCKET_DATAGRAM = 1,
  SOCKET_STREAM = 2,
  SOCKET_LOCAL = 3
};
// 0 stops sending, 1 stops receiving, any other value both.
enum a_socket_shutdown_flag {
  SOCKET_SHUT_SEND = 0,
  SOCKET_SHUT_RECEIVE = 1,
  SOCKET_SHUT_BOTH = 2
};

class Socket : public c_utils_link {
 public:
  // Unopened: descriptor -1, closed.
  Socket();
  // Creates a descriptor of the kind (see init).
  Socket(a_socket_type type, unsigned isIPv6);
  Socket(int domain, int type, int protocol);
  // Wraps an open descriptor.
  Socket(int descriptor, a_socket_type type, unsigned isIPv6);
  Socket(const Socket& other);
  Socket& operator=(const Socket& other);
  ~Socket() override;

  // Stream (TCP), datagram (UDP) or local stream socket; 0 when IPv6 is asked and not
  // supported, for another type, or when socket() fails; else 1.
  unsigned init(a_socket_type type, unsigned isIPv6);
  // socket(); 0 on failure, else 1 with the type taken from the protocol.
  unsigned init(int domain, int type, int protocol);
  void init(int descriptor, a_socket_type type, unsigned isIPv6);
  void init(const Socket& other);

  bool operator==(const Socket& other) const { return descriptor == other.descriptor; }

  virtual int recv(char* buf, unsigned len, IPAddress& from);
  virtual int recv(char* buf, unsigned len);
  virtual int send(const char* buf, unsigned len, const IPAddress& to);
  virtual int send(const char* buf, unsigned len);
  // Sends the whole buffer. After a would-block or partial send: without `yield` one
  // poll for writing that does not wait, then the next attempt; with `yield`, yield(arg),
  // and a result of 0 ends the attempts. Returns len, else what was sent, else -1.
  virtual int send_with_yield(const char* buf, unsigned len, unsigned (*yield)(void*),
                              void* arg);
  virtual int shutdown(a_socket_shutdown_flag how);
  // Closes once; the descriptor value stays.
  virtual int close();
  virtual int bind(const IPAddress& address);
  virtual int connect(const IPAddress& address);
  virtual int getsockname(IPAddress& address);
  virtual int getpeername(IPAddress& address);
  virtual int setsockopt(int level, int name, const char* value, unsigned len);
  virtual int getsockopt(int level, int name, char* value, unsigned* len);
  virtual int listen(int backlog);
  // The new connection in `out` (this socket's type, IPv6 flag 0); 0 or -1.
  virtual int accept(IPAddress& peer, Socket& out);
  // Class letter of the local IPv4 address.
  virtual const char* get_class();
  virtual int allow_broadcast();
  virtual int add_membership(IPAddress& group, IPAddress& iface);
  // FIONBIO; records the mode.
  virtual int set_blocking_state(unsigned blocking);
  virtual int set_Nagle_algorithm(unsigned v);
  // Kind 0 and the errno of the last failed call.
  virtual UTErrorCode getLastError();
  virtual int recv(char* buf, unsigned len, sockaddr_storage* from, unsigned* fromLen);
  virtual int send(const char* buf, unsigned len, const sockaddr_storage* to, unsigned toLen);

  // One poll: for reading when `read` is set, for writing when `write` is set. The time-out
  // is cut to milliseconds toward zero (-999..999 polls without waiting, -1000 or less
  // waits without limit). -1 on failure or POLLERR; else the poll result, with `read` and
  // `write` telling which asked direction is ready.
  int select(unsigned& read, unsigned& write, std::int32_t timeoutMicroseconds);

  int descriptor;        // -1 when none was ever opened
  std::uint32_t closed;  // 1 while there is no open descriptor
  a_socket_type type;
  std::uint32_t isIPv6;    // created for AF_INET6
  std::uint32_t blocking;  // mode as last set
};

class TcpSocket : public Socket {
 public:
  using Socket::Socket;
  ~TcpSocket() override;
};

class UdpSocket : public Socket {
 public:
  using Socket::Socket;
  ~UdpSocket() override;
  // No limit.
  static std::uint32_t get_max_msg_size() { return 0xFFFFFFFFu; }
};

class Socket_list : public c_net_owning_list<Socket> {};
class Socket_iter : public c_utils_iter<Socket> {
 public:
  explicit Socket_iter(Socket_list& list) : c_utils_iter<Socket>(list) {}
};

// A socket whose receives, sends and connects end after timeLimit milliseconds. Its own
// set_blocking_state does nothing: the owner makes the descriptor non-blocking through
// the base operation first.
class TimedSocket : public Socket {
 public:
  using Socket::Socket;
  // The address forms of recv and send stay callable; they reach the timed ones below.
  using Socket::recv;
  using Socket::send;
  ~TimedSocket() override;

  int recv(char* buf, unsigned len) override;
  int send(const char* buf, unsigned len) override;
  int send_with_yield(const char* buf, unsigned len, unsigned (*yield)(void*),
                      void* arg) override;
  // Connected: 0. Refused, failed or timed out: -1, with getLastError giving the
  // socket's pending error or ETIMEDOUT.
  int connect(const IPAddress& address) override;
  int set_blocking_state(unsigned blocking) override;
  // savedError (once) when set, else the base result.
  UTErrorCode getLastError() override;
  int recv(char* buf, unsigned len, sockaddr_storage* from, unsigned* fromLen) override;
  int send(const char* buf, unsigned len, const sockaddr_storage* to, unsigned toLen) override;

  std::int32_t timeLimit = 0;    // milliseconds per operation; 0 or less: no limit
  std::uint32_t timedOut = 0;    // the last operation ended by the time limit
  std::uint32_t savedError = 0;  // reported instead of errno (0 = none)

 private:
  enum Activity { kTimedOut = 0, kReady = 1, kNotYet = 2, kError = 3 };
  // Waits one 250 ms slice for the directions (bit 0 read, bit 1 write).
  Activity wait_for_activity(unsigned directions, std::uint64_t startTicks);
  template <typename Op>
  int timed(unsigned directions, Op op);
};

// Waits on several sockets at once. Callers add heap copies of their sockets; after
// select_us the read and write lists hold exactly the ready sockets, and sockets in error
// have moved to the error list.
class SelectList {
 public:
  SelectList() = default;
  ~SelectList() = default;
  SelectList(const SelectList&) = delete;
  SelectList& operator=(const SelectList&) = delete;

  // The list takes ownership.
  void addReadSocket(Socket* socket) { readSockets.append(socket); }
  void addWriteSocket(Socket* socket) { writeSockets.append(socket); }
  // Deletes the first entry with the same descriptor.
  void removeReadSocket(const Socket& socket);
  void removeWriteSocket(const Socket& socket);
  void clear();

  // The number of ready descriptors, 0 on time-out, -1 when the poll fails. With a wait
  // function the poll does not block: the function is called with 300 (ms) between polls
  // until it returns 0 or the budget is spent.
  int select_us(std::int32_t timeoutMicroseconds);

  Socket_list readSockets;
  Socket_list writeSockets;
  Socket_list errorSockets;
  unsigned (*waitFunction)(unsigned milliseconds) = nullptr;
};

#endif  // VQ_NET_SOCKET_H
