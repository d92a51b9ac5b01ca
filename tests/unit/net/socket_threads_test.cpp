// The socket-call wrappers repeat a call that a signal interrupted: a helper thread
// signals the blocked thread several times (the handler is installed without
// SA_RESTART, so the kernel reports EINTR), then sends the bytes the receive waits for.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "net/ip_address.h"
#include "net/socket.h"
#include "net/socket_calls.h"

namespace {

std::atomic<int> g_signals{0};
void CountSignal(int) { g_signals.fetch_add(1); }

// Installs the counting handler for SIGUSR1 without SA_RESTART; restores the old one.
class InterruptingHandler {
 public:
  InterruptingHandler() {
    struct sigaction sa {};
    sa.sa_handler = CountSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGUSR1, &sa, &old_);
  }
  ~InterruptingHandler() { sigaction(SIGUSR1, &old_, nullptr); }

 private:
  struct sigaction old_ {};
};

// Signals `target` five times, 30 ms apart, then runs `finish`.
std::thread Interrupter(pthread_t target, std::function<void()> finish) {
  return std::thread([target, finish] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (int i = 0; i < 5; ++i) {
      pthread_kill(target, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    finish();
  });
}

TEST(SocketCallsThreads, DatagramReceiveIsNotEndedBySignals) {
  InterruptingHandler handler;
  UdpSocket receiver(SOCKET_DATAGRAM, 0u);
  UdpSocket sender(SOCKET_DATAGRAM, 0u);
  IPAddress any("127.0.0.1:0");
  ASSERT_EQ(0, receiver.bind(any));
  IPAddress to(receiver);
  g_signals = 0;
  std::thread helper = Interrupter(pthread_self(), [&] { sender.send("data", 4, to); });
  char buf[8];
  sockaddr_storage from{};
  unsigned from_len = sizeof from;
  const int got = unix_recvfrom(receiver.descriptor, buf, sizeof buf, 0,
                                reinterpret_cast<sockaddr*>(&from), &from_len);
  helper.join();
  EXPECT_EQ(4, got);
  EXPECT_GE(g_signals.load(), 1);
  receiver.close();
  sender.close();
}

TEST(SocketCallsThreads, StreamReceiveIsRepeatedAfterASignal) {
  InterruptingHandler handler;
  int pair[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
  Socket reader(pair[0], SOCKET_LOCAL, 0u);
  Socket writer(pair[1], SOCKET_LOCAL, 0u);
  g_signals = 0;
  std::thread helper = Interrupter(pthread_self(), [&] { writer.send("abc", 3); });
  char buf[8];
  const int got = reader.recv(buf, sizeof buf);
  helper.join();
  EXPECT_EQ(3, got);
  EXPECT_GE(g_signals.load(), 1);
  reader.close();
  writer.close();
}

TEST(SocketCallsThreads, PollIsRepeatedAfterASignal) {
  InterruptingHandler handler;
  int pair[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
  Socket reader(pair[0], SOCKET_LOCAL, 0u);
  Socket writer(pair[1], SOCKET_LOCAL, 0u);
  g_signals = 0;
  std::thread helper = Interrupter(pthread_self(), [&] { writer.send("x", 1); });
  pollfd p{reader.descriptor, POLLIN, 0};
  const int rc = unix_poll(&p, 1, 10000);
  helper.join();
  EXPECT_EQ(1, rc);
  EXPECT_NE(0, p.revents & POLLIN);
  EXPECT_GE(g_signals.load(), 1);
  reader.close();
  writer.close();
}

}  // namespace
