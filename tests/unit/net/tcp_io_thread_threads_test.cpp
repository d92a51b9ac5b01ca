// The TCP I/O thread over socket pairs: a recording dispatcher stands in for the link's
// connections. Every wait is bounded, so a fault fails the test instead of hanging it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "net/tcp_io_thread.h"

namespace {

using namespace std::chrono_literals;

// Records the calls and answers with the codes the test sets. A read drains the socket
// so that a kept socket does not stay readable.
class Recorder : public c_strm_tcp_io_thread {
 public:
  ~Recorder() override { shut_down_selector(); }

  an_int_strm_error read_answer = STRM_OK;
  an_int_strm_error write_answer = STRM_OK;
  bool hold_first_read = false;  // the first read waits until release()

  // Waits (at most two seconds) until `n` reads (writes) were seen.
  bool wait_reads(std::size_t n) {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, 2s, [&] { return reads_.size() >= n; });
  }
  bool wait_writes(std::size_t n) {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, 2s, [&] { return writes_.size() >= n; });
  }
  std::vector<int> reads() {
    std::lock_guard<std::mutex> lock(m_);
    return reads_;
  }
  std::vector<int> writes() {
    std::lock_guard<std::mutex> lock(m_);
    return writes_;
  }
  void release() {
    std::lock_guard<std::mutex> lock(m_);
    released_ = true;
    cv_.notify_all();
  }

 protected:
  an_int_strm_error process_fd_read(int fd) override {
    char buf[256];
    (void)!read(fd, buf, sizeof buf);
    std::unique_lock<std::mutex> lock(m_);
    reads_.push_back(fd);
    cv_.notify_all();
    if (hold_first_read && reads_.size() == 1)
      cv_.wait_for(lock, 5s, [&] { return released_; });
    return read_answer;
  }
  an_int_strm_error process_fd_write(int fd) override {
    std::lock_guard<std::mutex> lock(m_);
    writes_.push_back(fd);
    cv_.notify_all();
    return write_answer;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<int> reads_;
  std::vector<int> writes_;
  bool released_ = false;
};

struct Pair {
  Pair() { EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd)); }
  ~Pair() {
    close(fd[0]);
    close(fd[1]);
  }
  int fd[2];
};

TEST(TcpIoThread, SocketsAddedFromOtherThreadsAreDispatched) {
  Recorder io;
  ASSERT_EQ(STRM_OK, io.start_control_thread());
  EXPECT_NE(0u, io.selector().controlThread.load());
  Pair p;
  io.selector().add_socket_with_event(p.fd[0], POLLIN);  // through the pipe
  ASSERT_EQ(1, write(p.fd[1], "a", 1));
  ASSERT_TRUE(io.wait_reads(1));
  ASSERT_EQ(1, write(p.fd[1], "b", 1));  // answered 1: the socket stays
  ASSERT_TRUE(io.wait_reads(2));
  EXPECT_EQ((std::vector<int>{p.fd[0], p.fd[0]}), io.reads());
  io.shut_down_selector();
  io.shut_down_selector();  // a second stop does nothing
}

TEST(TcpIoThread, ASocketWithoutConnectionIsDropped) {
  Recorder io;
  io.read_answer = STRM_NO_SESSION_CONN;
  ASSERT_EQ(STRM_OK, io.start_control_thread());
  Pair dropped;
  Pair watched;
  io.selector().add_socket_with_event(dropped.fd[0], POLLIN);
  ASSERT_EQ(1, write(dropped.fd[1], "a", 1));
  ASSERT_TRUE(io.wait_reads(1));
  // Data on the dropped socket is never dispatched again; a later socket still is, so
  // the thread has polled after the drop.
  ASSERT_EQ(1, write(dropped.fd[1], "b", 1));
  io.selector().add_socket_with_event(watched.fd[0], POLLIN);
  ASSERT_EQ(1, write(watched.fd[1], "c", 1));
  ASSERT_TRUE(io.wait_reads(2));
  EXPECT_EQ((std::vector<int>{dropped.fd[0], watched.fd[0]}), io.reads());
}

TEST(TcpIoThread, AFailedDelayedWriteLosesItsWriteEvent) {
  Recorder io;
  io.write_answer = STRM_CONN_DEAD;
  ASSERT_EQ(STRM_OK, io.start_control_thread());
  Pair p;
  io.selector().add_socket_with_event(p.fd[0], POLLOUT);  // writable at once
  ASSERT_TRUE(io.wait_writes(1));
  // The write event is gone: a readable socket added later is the next thing seen.
  Pair q;
  io.selector().add_socket_with_event(q.fd[0], POLLIN);
  ASSERT_EQ(1, write(q.fd[1], "x", 1));
  ASSERT_TRUE(io.wait_reads(1));
  EXPECT_EQ(std::vector<int>{p.fd[0]}, io.writes());
}

TEST(TcpIoThread, StopEndsTheThreadWithSocketEventsPending) {
  Recorder io;
  io.hold_first_read = true;
  ASSERT_EQ(STRM_OK, io.start_control_thread());
  Pair p;
  io.selector().add_socket_with_event(p.fd[0], POLLIN);
  ASSERT_EQ(1, write(p.fd[1], "a", 1));
  ASSERT_TRUE(io.wait_reads(1));  // the thread is held inside its first read
  ASSERT_EQ(1, write(p.fd[1], "b", 1));
  std::thread stopper([&] { io.shut_down_selector(); });
  std::this_thread::sleep_for(50ms);  // let the stop flag and command land
  io.release();
  stopper.join();
  EXPECT_EQ(std::vector<int>{p.fd[0]}, io.reads());  // "b" was never dispatched
}

TEST(TcpIoThread, AThreadCanBeStartedAgainAfterAStop) {
  Recorder io;
  ASSERT_EQ(STRM_OK, io.start_control_thread());
  io.shut_down_selector();
  io.selector().clear_control_thread_id();
  ASSERT_EQ(STRM_OK, io.start_control_thread());
  Pair p;
  io.selector().add_socket_with_event(p.fd[0], POLLIN);
  ASSERT_EQ(1, write(p.fd[1], "a", 1));
  EXPECT_TRUE(io.wait_reads(1));
}

TEST(TcpIoThread, ABurstOfCommandsFromManyThreadsIsCarriedOut) {
  // More commands than one batch takes, written at once by several threads while the
  // thread polls: every socket gets its read entry and is dispatched exactly once.
  constexpr int kThreads = 4;
  constexpr int kPerThread = 100;  // 1200 commands: more than one batch
  Recorder io;
  io.read_answer = STRM_NO_SESSION_CONN;  // dispatched once, then dropped
  ASSERT_EQ(STRM_OK, io.start_control_thread());
  std::vector<std::unique_ptr<Pair>> pairs;
  for (int i = 0; i < kThreads * kPerThread; ++i) pairs.push_back(std::make_unique<Pair>());
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = t * kPerThread; i < (t + 1) * kPerThread; ++i) {
        io.selector().add_socket_with_event(pairs[i]->fd[0], POLLOUT);
        io.selector().remove_socket_with_event(pairs[i]->fd[0], POLLOUT);
        io.selector().add_socket_with_event(pairs[i]->fd[0], POLLIN);
        (void)!write(pairs[i]->fd[1], "x", 1);
      }
    });
  }
  for (auto& w : writers) w.join();
  ASSERT_TRUE(io.wait_reads(kThreads * kPerThread));
  std::vector<int> reads = io.reads();
  std::sort(reads.begin(), reads.end());
  std::vector<int> expected;
  for (const auto& p : pairs) expected.push_back(p->fd[0]);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, reads);
  io.shut_down_selector();
}

}  // namespace
