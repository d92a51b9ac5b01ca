// One end of a TLS session in a test: a TLS adapter, the socket it writes to and a thread
// that feeds everything the socket receives to the adapter. `send_all` is the adapter's
// send callback (its context is the end).
#ifndef VQ_TESTS_SUPPORT_TLS_SOCKET_END_H
#define VQ_TESTS_SUPPORT_TLS_SOCKET_END_H

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "security/tls_adapter.h"

namespace vq_test {

class TlsSocketEnd {
 public:
  explicit TlsSocketEnd(int fd) : fd_(fd) {}
  ~TlsSocketEnd() { stop(); }
  TlsSocketEnd(const TlsSocketEnd&) = delete;
  TlsSocketEnd& operator=(const TlsSocketEnd&) = delete;

  static int send_all(void* ctx, const char* bytes, unsigned length) {
    auto* end = static_cast<TlsSocketEnd*>(ctx);
    unsigned done = 0;
    while (done < length) {
      const ssize_t n = ::send(end->fd_, bytes + done, length - done, MSG_NOSIGNAL);
      if (n <= 0) return -1;
      done += static_cast<unsigned>(n);
    }
    return static_cast<int>(length);
  }

  void start(TlsConnection* tls) {
    tls_ = tls;
    pump_ = std::thread([this] {
      char buffer[1000];  // small on purpose: records arrive in pieces
      for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        tls_->receiveBytes(buffer, static_cast<unsigned>(n));
        std::lock_guard<std::mutex> hold(lock_);
        ++arrivals_;
        arrived_.notify_all();
      }
    });
  }

  void stop() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    if (pump_.joinable()) pump_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Appends exactly `want` bytes to `out` (a string or a byte vector) within 20 s, waiting
  // for arrivals while the adapter has no data. The adapter's last result (0 when all came).
  template <typename Buffer>
  unsigned read_exactly(Buffer* out, std::size_t want) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (out->size() < want) {
      std::uint64_t seen;
      {
        std::lock_guard<std::mutex> hold(lock_);
        seen = arrivals_;
      }
      std::vector<char> buffer(want - out->size());
      unsigned length = static_cast<unsigned>(buffer.size());
      const unsigned rc = tls_->read(buffer.data(), &length);
      out->insert(out->end(), buffer.begin(), buffer.begin() + length);
      if (rc != 0 && rc != 10) return rc;
      if (rc == 10) {
        std::unique_lock<std::mutex> hold(lock_);
        arrived_.wait_for(hold, std::chrono::milliseconds(50), [&] { return arrivals_ != seen; });
      }
      if (std::chrono::steady_clock::now() > deadline) return 10;
    }
    return 0;
  }

 private:
  int fd_;
  TlsConnection* tls_ = nullptr;
  std::thread pump_;
  std::mutex lock_;
  std::condition_variable arrived_;
  std::uint64_t arrivals_ = 0;
};

}  // namespace vq_test

#endif  // VQ_TESTS_SUPPORT_TLS_SOCKET_END_H
