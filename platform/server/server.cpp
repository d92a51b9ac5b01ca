// Loopback TCP transport of the stand-in server.
#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/rand.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "session.h"
#include "tls_channel.h"

namespace vqeng {
namespace {

bool send_all(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool openssl_random(std::uint8_t* out, std::size_t n) {
  return RAND_bytes(out, static_cast<int>(n)) == 1;
}

// A client connection over TCP.
class TcpChannel : public Channel {
 public:
  TcpChannel(int fd, const TlsContext* tls_ctx) : fd_(fd), tls_ctx_(tls_ctx) {}
  ~TcpChannel() override {
    tls_.reset();
    ::close(fd_);
  }
  long receive(std::uint8_t* buf, std::size_t len, int timeout_ms) override {
    if (tls_) return tls_->receive(buf, len, timeout_ms);
    for (;;) {
      if (timeout_ms >= 0) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeout_ms);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) return kTimedOut;
        if (ready < 0) return kFailed;
      }
      const ssize_t n = ::recv(fd_, buf, len, timeout_ms == 0 ? MSG_DONTWAIT : 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return kTimedOut;
      return n < 0 ? kFailed : static_cast<long>(n);
    }
  }
  bool send(const std::string& data) override {
    return tls_ ? tls_->send(data) : send_all(fd_, data);
  }
  bool send_now(const std::string& packet) override {
    if (tls_) return tls_->send(packet);
    const ssize_t n = ::send(fd_, packet.data(), packet.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    // A packet begun is finished, so that the stream stays whole.
    if (n > 0 && static_cast<std::size_t>(n) < packet.size())
      return send_all(fd_, packet.substr(static_cast<std::size_t>(n)));
    return n > 0;
  }
  void shut() override { ::shutdown(fd_, SHUT_RDWR); }
  void shut_send() override { ::shutdown(fd_, SHUT_WR); }
  // Called on the connection's thread with the send lock held: no send or
  // receive runs while the stream changes over.
  bool start_tls(int timeout_ms, std::string& why) override {
    if (tls_ctx_ == nullptr) return Channel::start_tls(timeout_ms, why);
    auto tls = std::make_unique<TlsStream>(*tls_ctx_, fd_);
    if (!tls->accept(timeout_ms, why)) return false;
    tls_ = std::move(tls);
    return true;
  }

 private:
  int fd_;
  const TlsContext* tls_ctx_;
  std::unique_ptr<TlsStream> tls_;
};

}  // namespace

RequestLog::~RequestLog() {
  if (f_) std::fclose(f_);
}

bool RequestLog::open(const std::string& path) {
  f_ = std::fopen(path.c_str(), "a");
  return f_ != nullptr;
}

void RequestLog::line(const std::string& text) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!f_) return;
  std::fputs(text.c_str(), f_);
  std::fputc('\n', f_);
  std::fflush(f_);  // tests read the log while the server runs
}

Server::~Server() {
  stop();
  reap(true);
  if (listen_fd_ >= 0) ::close(listen_fd_);
  for (int fd : stop_pipe_)
    if (fd >= 0) ::close(fd);
}

bool Server::start(int port, std::string& why) {
  keeper_ = std::make_unique<Engine>(cfg_);
  SqlError err;
  if (!keeper_->open(err)) {
    why = "database cannot be opened: " + err.text;
    return false;
  }
  if (::pipe2(stop_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    why = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) {
    why = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int one = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_, 64) != 0) {
    why = "port " + std::to_string(port) + ": " + std::strerror(errno);
    return false;
  }
  socklen_t len = sizeof addr;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  return true;
}

void Server::stop() {
  if (stop_pipe_[1] >= 0) {
    const char c = 's';
    const ssize_t n = ::write(stop_pipe_[1], &c, 1);
    (void)n;  // a full pipe already holds a stop request
  }
}

void Server::reap(bool all) {
  std::list<std::unique_ptr<Conn>> finished;
  {
    std::lock_guard<std::mutex> lock(conns_mu_);
    for (auto it = conns_.begin(); it != conns_.end();) {
      if (all || (*it)->state.done) {
        if (all && !(*it)->state.done) (*it)->channel->shut();  // wakes its thread
        finished.push_back(std::move(*it));
        it = conns_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished) {
    if (c->thread.joinable()) c->thread.join();
  }
}

void Server::run_liveness() {
  std::unique_lock<std::mutex> wait_lock(liveness_mu_);
  while (!stop_liveness_) {
    liveness_cv_.wait_for(wait_lock, std::chrono::milliseconds(250));
    if (stop_liveness_) break;
    const std::int64_t now = monotonic_ms();
    std::lock_guard<std::mutex> lock(conns_mu_);
    for (const auto& c : conns_) send_liveness_if_due(*c->channel, c->state, now);
  }
}

void Server::serve() {
  std::thread liveness([this] { run_liveness(); });
  std::uint32_t next_number = 1;
  for (;;) {
    pollfd p[2] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    const int n = ::poll(p, 2, 1000);
    reap(false);
    if (n < 0 && errno != EINTR) break;
    if (p[1].revents) break;
    if (auto_stop_ && served_ > 0 && other_links_ == 0) {
      std::lock_guard<std::mutex> lock(conns_mu_);
      if (conns_.empty()) break;
    }
    if (!(p[0].revents & POLLIN)) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<Conn>();
    c->channel = std::make_unique<TcpChannel>(fd, cfg_.tls.get());
    Conn* raw = c.get();
    const std::uint32_t number = next_number++;
    {
      std::lock_guard<std::mutex> lock(conns_mu_);
      unsigned serving = 0;
      int refusing = 0;
      for (const auto& k : conns_) {
        if (k->state.done) continue;
        if (k->refusing)
          ++refusing;
        else
          ++serving;
      }
      if (serving >= cfg_.limits.max_connections) {
        if (refusing >= kRefusalSlots) {
          if (log_)
            log_->line(std::to_string(number) + " closed: " + std::to_string(serving) +
                       " connections open and " + std::to_string(refusing) + " being refused");
          continue;  // the channel closes the socket
        }
        c->refusing = true;
      }
      conns_.push_back(std::move(c));
    }
    raw->thread = std::thread([this, raw, number] { run_connection(raw, number); });
  }
  reap(true);
  {
    std::lock_guard<std::mutex> lock(liveness_mu_);
    stop_liveness_ = true;
  }
  liveness_cv_.notify_all();
  liveness.join();
}

void Server::run_connection(Conn* c, std::uint32_t number) {
  Session s(
      cfg_, number,
      [this](const std::string& l) {
        if (log_) log_->line(l);
      },
      openssl_random);
  s.offer_tls(cfg_.tls != nullptr);
  if (c->refusing) {
    s.refuse_connect(std::to_string(cfg_.limits.max_connections) +
                     " connections are open, the most this server serves");
  }
  if (serve_connection(s, *c->channel, c->state, cfg_.limits)) stop();
  ++served_;
  c->state.done = true;  // the reaper joins this thread and closes the channel
}

}  // namespace vqeng
