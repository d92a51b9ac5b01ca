// The TCP transport of the stand-in: a loopback listener, one thread per client
// connection, and a clean stop. Threads only move bytes between sockets and their
// Session; all protocol work is the session's.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "connection_loop.h"
#include "engine.h"

namespace vqeng {

// Appends lines to the request log (one file shared by all connections). Each
// line is the connection number (0 for the server itself), a blank, the name of
// the request item and its details, e.g. "3 prepare SELECT 1" or
// "3 closed: protocol error: unknown request item 250".
class RequestLog {
 public:
  RequestLog() = default;
  ~RequestLog();
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;
  bool open(const std::string& path);
  void line(const std::string& text);

 private:
  std::mutex mu_;
  std::FILE* f_ = nullptr;
};

class Server {
 public:
  Server(const DatabaseConfig& cfg, RequestLog* log) : cfg_(cfg), log_(log) {}
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Opens the database (kept open while the server runs, so that a database in
  // memory lives as long as the server) and listens on 127.0.0.1:port.
  bool start(int port, std::string& why);
  int port() const { return port_; }
  // Accepts connections until stop() is called from another thread or a signal
  // handler writes to the stop pipe.
  void serve();
  void stop();  // async-signal-safe
  // Stop once the last connection has closed (after at least one was served).
  void set_auto_stop(bool on) { auto_stop_ = on; }
  int connections_served() const { return served_.load(); }
  // A link of another transport (shared memory) opened or closed: it counts for the
  // auto-stop as a connection of ours does.
  void link_opened() { ++other_links_; }
  void link_closed() {
    ++served_;
    --other_links_;
  }

 private:
  struct Conn {
    std::thread thread;
    std::unique_ptr<Channel> channel;
    ConnectionState state;  // whole packets go out under state.send_mu
    bool refusing = false;  // past the connection limit: its connect is refused
  };
  // Sends a liveness packet on every connection that has sent nothing for a
  // third of its liveness time-out, until stop_liveness_ is set.
  void run_liveness();
  // Connections past the limit that are still answered (with a refused connect);
  // past these a new connection is closed at once.
  static constexpr int kRefusalSlots = 16;
  void run_connection(Conn* c, std::uint32_t number);
  void reap(bool all);

  const DatabaseConfig& cfg_;
  RequestLog* log_;
  std::unique_ptr<Engine> keeper_;
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  int port_ = 0;
  std::mutex conns_mu_;
  std::list<std::unique_ptr<Conn>> conns_;
  std::atomic<int> served_{0};
  std::atomic<int> other_links_{0};
  bool auto_stop_ = false;
  std::mutex liveness_mu_;
  std::condition_variable liveness_cv_;
  bool stop_liveness_ = false;
};

}  // namespace vqeng
