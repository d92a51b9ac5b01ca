// Sockets over loopback: handles, timed receives, connects and sends, select lists.
// Every address here is 127.0.0.1; no test starts a thread.
#include "net/socket.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "net/ip_address.h"
#include "net/socket_calls.h"
#include "net/tcp_util.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A listening TCP socket on an ephemeral loopback port.
struct Listener {
  Listener() {
    EXPECT_EQ(1u, socket.init(SOCKET_STREAM, 0));
    IPAddress any("127.0.0.1:0");
    EXPECT_EQ(0, socket.bind(any));
    EXPECT_EQ(0, socket.listen(4));
    EXPECT_EQ(0, socket.getsockname(address));
  }
  ~Listener() { socket.close(); }
  TcpSocket socket;
  IPAddress address;
};

// A loopback port that nobody listens on: bound once, then released.
IPAddress ClosedPort() {
  TcpSocket s(SOCKET_STREAM, 0);
  IPAddress a("127.0.0.1:0");
  EXPECT_EQ(0, s.bind(a));
  EXPECT_EQ(0, s.getsockname(a));
  s.close();
  return a;
}

// A connected pair over loopback TCP: `client` (a timed socket, non-blocking) and
// `server`.
struct Connection {
  Connection() {
    EXPECT_EQ(1u, client.init(SOCKET_STREAM, 0));
    EXPECT_EQ(0, client.Socket::set_blocking_state(0));
    client.timeLimit = 2000;
    EXPECT_EQ(0, client.connect(listener.address));
    IPAddress peer;
    EXPECT_EQ(0, listener.socket.accept(peer, server));
    EXPECT_TRUE(peer.isLoopback());
  }
  ~Connection() {
    client.close();
    server.close();
  }
  Listener listener;
  TimedSocket client;
  TcpSocket server;
};

TEST(Socket, IsAHandleThatClosesOnce) {
  Socket unopened;
  EXPECT_EQ(-1, unopened.descriptor);
  EXPECT_EQ(1u, unopened.closed);
  EXPECT_EQ(1u, unopened.blocking);

  Socket s(SOCKET_STREAM, 0);
  ASSERT_EQ(0u, s.closed);
  EXPECT_EQ(SOCKET_STREAM, s.type);
  EXPECT_NE(0, fcntl(s.descriptor, F_GETFD) & FD_CLOEXEC);
  Socket copy(s);
  EXPECT_TRUE(copy == s);
  const int fd = s.descriptor;
  EXPECT_EQ(0, s.close());
  EXPECT_EQ(1u, s.closed);
  EXPECT_EQ(fd, s.descriptor);  // the value stays
  EXPECT_EQ(0, s.close());      // nothing closed twice
  EXPECT_EQ(0u, copy.closed);   // the copy does not know
}

TEST(Socket, KindsOfSocket) {
  const struct {
    a_socket_type type;
    unsigned created;
    a_socket_type recorded;
  } cases[] = {
      {SOCKET_STREAM, 1, SOCKET_STREAM},
      {SOCKET_DATAGRAM, 1, SOCKET_DATAGRAM},
      {SOCKET_LOCAL, 1, SOCKET_LOCAL},
      {SOCKET_OTHER, 0, SOCKET_OTHER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    Socket s;
    EXPECT_EQ(c.created, s.init(c.type, 0));
    EXPECT_EQ(c.recorded, s.type);
    s.close();
  }
  // IPv6 counts as unsupported until the network state is started.
  Socket s;
  EXPECT_EQ(0u, s.init(SOCKET_STREAM, 1));
  TcpUtil::Init();
  EXPECT_EQ(TcpUtil::IsIPv6Supported(), s.init(SOCKET_STREAM, 1));
  EXPECT_EQ(TcpUtil::IsIPv6Supported(), s.isIPv6);
  s.close();
  TcpUtil::Fini();
}

TEST(Socket, ConnectToAClosedPortIsRefused) {
  IPAddress closed = ClosedPort();
  {
    TcpSocket blocking(SOCKET_STREAM, 0);
    EXPECT_EQ(-1, blocking.connect(closed));
    EXPECT_EQ(ECONNREFUSED, blocking.getLastError().code);
    blocking.close();
  }
  TimedSocket timed(SOCKET_STREAM, 0);
  ASSERT_EQ(0, timed.Socket::set_blocking_state(0));
  timed.timeLimit = 5000;
  EXPECT_EQ(-1, timed.connect(closed));
  EXPECT_EQ(ECONNREFUSED, timed.getLastError().code);
  EXPECT_EQ(0u, timed.timedOut);
  timed.close();

  TcpSocket invalid(SOCKET_STREAM, 0);
  EXPECT_EQ(-1, invalid.connect(IPAddress()));
  invalid.close();
}

TEST(Socket, TimedReceiveOnASilentSocketTimesOut) {
  Connection c;
  c.client.timeLimit = 600;
  char buf[16];
  const auto start = Clock::now();
  EXPECT_EQ(-1, c.client.recv(buf, sizeof buf));
  const long long waited = MillisecondsSince(start);
  EXPECT_GE(waited, 590);
  EXPECT_LT(waited, 5000);
  EXPECT_EQ(1u, c.client.timedOut);
  // The next operation starts clean: the saved error of this one does not end it early.
  c.client.timeLimit = 300;
  const auto again = Clock::now();
  EXPECT_EQ(-1, c.client.recv(buf, sizeof buf));
  EXPECT_GE(MillisecondsSince(again), 290);
  EXPECT_EQ(1u, c.client.timedOut);
  EXPECT_EQ(ETIMEDOUT, c.client.getLastError().code);
  EXPECT_NE(ETIMEDOUT, c.client.getLastError().code);  // reported once
  ASSERT_EQ(5, c.server.send("hello", 5));
  EXPECT_EQ(5, c.client.recv(buf, sizeof buf));
  EXPECT_EQ(0u, c.client.timedOut);
  EXPECT_EQ(0, std::memcmp(buf, "hello", 5));
}

TEST(Socket, TimedDatagramReceiveTimesOut) {
  TimedSocket udp(SOCKET_DATAGRAM, 0u);
  ASSERT_EQ(0, udp.bind(IPAddress("127.0.0.1:0")));
  ASSERT_EQ(0, udp.Socket::set_blocking_state(0));
  udp.timeLimit = 300;
  char buf[8];
  IPAddress from;
  const auto start = Clock::now();
  EXPECT_EQ(-1, udp.recv(buf, sizeof buf, from));
  EXPECT_GE(MillisecondsSince(start), 290);
  EXPECT_LT(MillisecondsSince(start), 5000);
  EXPECT_EQ(1u, udp.timedOut);
  EXPECT_FALSE(from.isValid());
  udp.close();
}

TEST(Socket, SendingToAClosedPeerIsAnErrorNotASignal) {
  int pair[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
  close(pair[1]);
  Socket s(pair[0], SOCKET_LOCAL, 0u);
  EXPECT_EQ(-1, s.send("x", 1));  // without MSG_NOSIGNAL the process would get SIGPIPE
  EXPECT_EQ(EPIPE, s.getLastError().code);
  s.close();
}

TEST(Socket, TimedReceiveSeesThePeerClose) {
  Connection c;
  c.server.close();
  char buf[4];
  EXPECT_EQ(0, c.client.recv(buf, sizeof buf));
}

TEST(Socket, TimedSendIntoAFullBufferEndsAtTheLimit) {
  Connection c;
  const int small = 4096;
  c.client.setsockopt(SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&small),
                      sizeof small);
  c.client.timeLimit = 400;
  std::vector<char> big(8 << 20, 'x');
  const auto start = Clock::now();
  const int sent = c.client.send(big.data(), static_cast<unsigned>(big.size()));
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, static_cast<int>(big.size()));
  EXPECT_EQ(1u, c.client.timedOut);
  EXPECT_GE(MillisecondsSince(start), 390);
}

unsigned StopAtOnce(void* calls) {
  ++*static_cast<int*>(calls);
  return 0;
}

// Over a local stream pair: its buffers change only when the peer reads, so once a
// send has found no room, none appears by itself. (Over TCP loopback the kernel goes on
// moving queued bytes to the peer and grows the peer's receive buffer after a send
// returns, so a second send could still find room.)
TEST(Socket, SendWithYieldEndsWhenTheYieldSaysSo) {
  int pair[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
  TcpSocket plain(pair[0], SOCKET_STREAM, 0u);  // the base sends
  Socket peer(pair[1], SOCKET_LOCAL, 0u);
  ASSERT_EQ(0, plain.Socket::set_blocking_state(0));
  std::vector<char> big(8 << 20, 'y');
  int calls = 0;
  const int sent =
      plain.send_with_yield(big.data(), static_cast<unsigned>(big.size()), StopAtOnce, &calls);
  EXPECT_EQ(1, calls);
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, static_cast<int>(big.size()));
  // Nothing fits any more: -1 with EAGAIN, after one more question to the yield.
  const int none =
      plain.send_with_yield(big.data(), static_cast<unsigned>(big.size()), StopAtOnce, &calls);
  EXPECT_EQ(-1, none);
  EXPECT_EQ(EAGAIN, errno);
  EXPECT_EQ(2, calls);
  // The other way, a small send that fits goes out whole.
  char reply[3];
  ASSERT_EQ(3, peer.send("abc", 3));
  EXPECT_EQ(3, plain.recv(reply, sizeof reply));
  EXPECT_EQ(0, std::memcmp(reply, "abc", 3));
  plain.close();
  peer.close();
}

TEST(Socket, SelectWaitsForTheAskedDirections) {
  Connection c;
  unsigned read = 1;
  unsigned write = 0;
  EXPECT_EQ(0, c.client.select(read, write, 999));  // cut to 0 ms: no wait
  EXPECT_EQ(0u, read);
  ASSERT_EQ(1, c.server.send("z", 1));
  read = 1;
  write = 1;
  EXPECT_EQ(1, c.client.select(read, write, 1000000));
  EXPECT_EQ(1u, read);
  EXPECT_EQ(1u, write);
}

TEST(SelectList, KeepsOnlyTheReadySockets) {
  Connection with_data;
  Connection silent;
  ASSERT_EQ(2, with_data.server.send("hi", 2));
  SelectList list;
  list.addReadSocket(new Socket(with_data.client));
  list.addReadSocket(new Socket(silent.client));
  EXPECT_EQ(1, list.select_us(1000000));
  ASSERT_FALSE(list.readSockets.is_empty());
  EXPECT_EQ(with_data.client.descriptor, list.readSockets.first_element()->descriptor);
  EXPECT_EQ(list.readSockets.first(), list.readSockets.last());
  EXPECT_TRUE(list.errorSockets.is_empty());

  list.addWriteSocket(new Socket(silent.client));
  list.removeReadSocket(with_data.client);
  EXPECT_TRUE(list.readSockets.is_empty());
  EXPECT_EQ(1, list.select_us(0));
  EXPECT_FALSE(list.writeSockets.is_empty());
}

TEST(SelectList, MovesSocketsInErrorToTheErrorList) {
  // A datagram sent to a closed port leaves an error pending on a connected UDP socket.
  IPAddress closed = ClosedPort();
  UdpSocket udp(SOCKET_DATAGRAM, 0);
  ASSERT_EQ(0, udp.connect(closed));
  ASSERT_EQ(1, unix_send(udp.descriptor, "x", 1, 0));
  SelectList list;
  list.addReadSocket(new Socket(udp));
  EXPECT_EQ(1, list.select_us(2000000));
  EXPECT_TRUE(list.readSockets.is_empty());
  ASSERT_FALSE(list.errorSockets.is_empty());
  EXPECT_EQ(udp.descriptor, list.errorSockets.first_element()->descriptor);
  udp.close();
}

unsigned g_wait_calls = 0;
unsigned g_last_wait = 0;
unsigned CountingWait(unsigned ms) {
  ++g_wait_calls;
  g_last_wait = ms;
  return 1;
}

TEST(SelectList, WaitFunctionRunsBetweenPollsUntilTheBudgetIsSpent) {
  Connection silent;
  SelectList list;
  list.waitFunction = CountingWait;
  list.addReadSocket(new Socket(silent.client));
  g_wait_calls = 0;
  EXPECT_EQ(0, list.select_us(1000000));  // 1000 ms: waits of 300 while 1000-300k-300 >= 1
  EXPECT_EQ(3u, g_wait_calls);
  EXPECT_EQ(300u, g_last_wait);
  EXPECT_TRUE(list.readSockets.is_empty());
}

TEST(Socket, DatagramsCarryTheirSender) {
  UdpSocket a(SOCKET_DATAGRAM, 0);
  UdpSocket b(SOCKET_DATAGRAM, 0);
  IPAddress any("127.0.0.1:0");
  ASSERT_EQ(0, a.bind(any));
  ASSERT_EQ(0, b.bind(any));
  IPAddress a_addr(a);
  IPAddress b_addr(b);
  ASSERT_TRUE(a_addr.isValid());
  ASSERT_EQ(4, b.send("ping", 4, a_addr));
  char buf[8];
  IPAddress from;
  ASSERT_EQ(4, a.recv(buf, sizeof buf, from));
  EXPECT_TRUE(from.isValid());
  EXPECT_TRUE(from.sameIPAddress(b_addr));
  EXPECT_EQ(b_addr.getPortNumber(), from.getPortNumber());
  EXPECT_STREQ("A", a.get_class());
  EXPECT_EQ(0, a.allow_broadcast());
  a.close();
  b.close();
}

}  // namespace
