// Loopback peers and a running TCP link type for the link's tests.
//
// Listener: a TCP listener on 127.0.0.1 (ephemeral port) whose accept thread answers
// each connection as told: keep it, answer the server-name check with a name (the
// stand-in server's own packet code builds the answer), answer without a name, or stay
// silent. LinkFixture: a TCP link type with its I/O thread, a buffer pool, an
// environment notifier that keeps printed lines, and the English message catalog.
// Every wait is bounded.
#ifndef VQ_TESTS_UNIT_NET_TCP_LINK_FIXTURE_H
#define VQ_TESTS_UNIT_NET_TCP_LINK_FIXTURE_H

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../streams/stream_test_host.h"
#include "name_check.h"
#include "net/tcp_port.h"
#include "streams/buffer_pool.h"
#include "streams/host_functions.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/resource_file.h"
#include "utils/locale/utlocale.h"

namespace vq::testing {

using namespace std::chrono_literals;

// Waits, sleeping between looks, until `done` holds or `limit` passes.
template <typename F>
bool WaitFor(F done, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

class Listener {
 public:
  // kAnswerRaw answers the check with the bytes given as `name`, then closes.
  enum Mode { kKeep, kAnswerName, kAnswerNameless, kSilent, kAnswerRaw };

  explicit Listener(Mode mode = kKeep, std::string name = "")
      : mode_(mode), name_(std::move(name)) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(0, bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a));
    EXPECT_EQ(0, listen(fd_, 64));
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    EXPECT_EQ(0, pipe(stop_));
    thread_ = std::thread([this] { run(); });
  }
  ~Listener() {
    (void)!write(stop_[1], "x", 1);
    thread_.join();
    close(fd_);
    close(stop_[0]);
    close(stop_[1]);
    std::lock_guard<std::mutex> hold(mutex_);
    for (int fd : accepted_) close(fd);
  }

  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  int accepts() const { return accepts_.load(); }
  int checks() const { return checks_.load(); }
  // The newest accepted connection (-1 before the first); it stays open until the end.
  int last() {
    std::lock_guard<std::mutex> hold(mutex_);
    return accepted_.empty() ? -1 : accepted_.back();
  }
  int wait_accepted(int n) {
    WaitFor([&] { return accepts_.load() >= n; });
    return last();
  }

 private:
  void run() {
    for (;;) {
      pollfd p[2] = {{fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (poll(p, 2, -1) < 0) continue;
      if (p[1].revents != 0) return;
      const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      if (mode_ == kAnswerName || mode_ == kAnswerNameless || mode_ == kAnswerRaw) answer(c);
      {
        std::lock_guard<std::mutex> hold(mutex_);
        accepted_.push_back(c);
      }
      ++accepts_;
    }
  }
  // Reads one check packet (bounded wait) and answers it.
  void answer(int c) {
    std::string packet;
    char buf[512];
    std::size_t want = 8;
    while (packet.size() < want) {
      pollfd p{c, POLLIN, 0};
      if (poll(&p, 1, 3000) <= 0) return;
      const ssize_t n = read(c, buf, sizeof buf);
      if (n <= 0) return;
      packet.append(buf, static_cast<std::size_t>(n));
      if (packet.size() >= 4) {
        want =
            (static_cast<std::uint8_t>(packet[2]) << 8) | static_cast<std::uint8_t>(packet[3]);
      }
    }
    vqeng::NameCheckRequest req;
    std::string why;
    if (!vqeng::parse_name_check(packet, req, why)) return;
    ++checks_;
    if (mode_ == kAnswerRaw) {
      (void)!write(c, name_.data(), name_.size());
      shutdown(c, SHUT_WR);
      return;
    }
    const std::string reply =
        vqeng::build_name_check_response(req, mode_ == kAnswerName ? name_ : "", 4242);
    (void)!write(c, reply.data(), reply.size());
  }

  Mode mode_;
  std::string name_;
  int fd_ = -1;
  int port_ = 0;
  int stop_[2] = {-1, -1};
  std::thread thread_;
  std::atomic<int> accepts_{0};
  std::atomic<int> checks_{0};
  std::mutex mutex_;
  std::vector<int> accepted_;
};

// A loopback port on which nothing listens: connects to it are refused.
inline int RefusingPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

class LinkFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(0, file_.Open(VQ_TEST_RES_DIR "/vqlgen12.res"));
    UTResFile* files[] = {&file_};
    catalog_.SetResFiles(files, 1);
    catalog_.set_client_charset(UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll));
    catalog_.reset();
    vq::strm::SetLibraryCatalog(&catalog_);
    an_int_strm_error result = 0;
    port.reset(static_cast<c_strm_tcp_port*>(
        StrmNewTCPPort(nullptr, &notifier, nullptr, nullptr, &result, nullptr)));
    ASSERT_EQ(STRM_OK, result);
    ASSERT_EQ(STRM_OK, port->init_port(controller.default_pool, "", nullptr));
  }
  void TearDown() override {
    port.reset();
    vq::strm::SetLibraryCatalog(nullptr);
  }

  // The connect road with these options; the connection in `conn` on success.
  an_int_strm_error Connect(const std::string& options, const char* name, c_strm_pconn** conn,
                            char* cached = nullptr, unsigned cached_size = 0) {
    err[0] = '\0';
    return port->connect(name, conn, options.c_str(), cached, cached_size, nullptr, err,
                         sizeof err, AsHostCtx(ctx));
  }
  // Whether a printed line holds the text.
  bool Printed(const std::string& text) {
    for (const auto& line : notifier.lines()) {
      if (line.second.find(text) != std::string::npos) return true;
    }
    return false;
  }
  // The text of a numbered message with its arguments, as the link prints it.
  template <typename... Args>
  std::string Msg(std::uint32_t id, Args... args) {
    char text[kStrmMsgBytes];
    vq::strm::FormatMsg(text, sizeof text, id, args...);
    return text;
  }

  ScopedHostTable host_table;
  TestEnvNotifier notifier;
  TestHostCtx host_ctx;  // the test keeps its own reference: never deleted by a release
  TestHostCtx* ctx = &host_ctx;
  c_strm_frlist_controller controller{7300};
  std::unique_ptr<c_strm_tcp_port> port;
  char err[512] = "";

 private:
  UTLocale locale_;
  UTVCResFile file_;
  UTLangStringBase catalog_{&locale_};
};

}  // namespace vq::testing

#endif  // VQ_TESTS_UNIT_NET_TCP_LINK_FIXTURE_H
