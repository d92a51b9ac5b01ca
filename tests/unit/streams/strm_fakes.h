// Small links for the stack's tests: a port and a link connection that record what the
// stack asks of them and answer as told, plus minimal ones that keep every default of
// the interfaces. Later tests of the stack reuse them.
#ifndef VQ_TESTS_UNIT_STREAMS_STRM_FAKES_H
#define VQ_TESTS_UNIT_STREAMS_STRM_FAKES_H

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "streams/packet_buffer.h"
#include "streams/port.h"

namespace vq::testing {

// Implements only what the interface requires; every other operation is the base's.
class MinimalPort : public c_strm_port {
 public:
  explicit MinimalPort(std::uint8_t type = STRM_PORT_SHARED_MEMORY) : type_(type) {}
  an_int_strm_error init_port(c_strm_buff_frlist*, const char*, void*) override { return 1; }
  std::uint8_t get_type() override { return type_; }
  void shutdown_listeners() override {}
  an_int_strm_error connect(const char*, c_strm_pconn**, const char*, char*, unsigned int,
                            c_strm_conn_notifier**, char*, std::uint32_t, void*) override {
    return STRM_NO_SERVER;
  }

 private:
  std::uint8_t type_;
};

class MinimalPconn : public c_strm_pconn {
 public:
  an_int_strm_error put(c_strm_buffer*) override { return STRM_OK; }
  void disconnect() override { pconn_flags |= kDisconnected; }
  an_int_strm_error start_receive() override { return STRM_OK; }
};

// A link connection that keeps the bytes of every packet put on it and answers put
// and blocking_put as told. `on_put` and `on_blocking_put`, when set, see the bytes
// first (a test can hand them to a peer).
class FakePconn : public c_strm_pconn {
 public:
  an_int_strm_error put(c_strm_buffer* buffer) override {
    std::vector<std::uint8_t> bytes(buffer->packet(), buffer->packet() + buffer->used_length());
    {
      std::lock_guard<std::mutex> hold(mutex_);
      packets_.push_back(bytes);
    }
    if (on_put) on_put(bytes);
    if (put_result == STRM_QUEUED) {
      std::lock_guard<std::mutex> hold(mutex_);
      queued.push_back(buffer);  // the link keeps it until it reports the write done
    }
    return put_result;
  }
  an_int_strm_error blocking_put(const char* data, unsigned int len) override {
    std::vector<std::uint8_t> bytes(data, data + len);
    {
      std::lock_guard<std::mutex> hold(mutex_);
      stream_.insert(stream_.end(), bytes.begin(), bytes.end());
    }
    if (on_blocking_put) on_blocking_put(bytes);
    return blocking_put_result;
  }
  void disconnect() override {
    ++disconnects;
    pconn_flags |= kDisconnected;
  }
  an_int_strm_error start_receive() override {
    ++receives_started;
    return STRM_OK;
  }
  void set_tls_mode() override { tls_mode = true; }
  bool isAlive() override { return alive.load(); }

  std::vector<std::vector<std::uint8_t>> packets() {
    std::lock_guard<std::mutex> hold(mutex_);
    return packets_;
  }
  std::vector<std::uint8_t> stream() {
    std::lock_guard<std::mutex> hold(mutex_);
    return stream_;
  }

  an_int_strm_error put_result = STRM_OK;
  an_int_strm_error blocking_put_result = STRM_OK;
  std::function<void(const std::vector<std::uint8_t>&)> on_put;
  std::function<void(const std::vector<std::uint8_t>&)> on_blocking_put;
  int disconnects = 0;
  int receives_started = 0;
  bool tls_mode = false;
  std::atomic<bool> alive{true};
  std::vector<c_strm_buffer*> queued;  // buffers answered with 10, oldest first

 private:
  std::mutex mutex_;
  std::vector<std::vector<std::uint8_t>> packets_;
  std::vector<std::uint8_t> stream_;
};

// A port whose connect answers from a script and which records every call in a trace
// ("init:<options>", "connect:<server>", "shutdown", ...).
class FakePort : public c_strm_port {
 public:
  explicit FakePort(std::uint8_t type, std::vector<std::string>* trace = nullptr)
      : type_(type), trace_(trace) {}

  an_int_strm_error init_port(c_strm_buff_frlist* p, const char* options, void*) override {
    pool = p;
    note("init:" + std::string(options != nullptr ? options : ""));
    return init_result;
  }
  std::uint8_t get_type() override { return type_; }
  bool can_do_liveness() const override { return liveness; }
  bool supportEncryption(signed char level) const override {
    return tls ? true : c_strm_port::supportEncryption(level);
  }
  void shutdown_listeners() override { note("shutdown"); }
  an_int_strm_error connect(const char* server_name, c_strm_pconn** out, const char* options,
                            char* cached_addr, unsigned int cached_size, c_strm_conn_notifier**,
                            char* err, std::uint32_t err_len, void* host_ctx) override {
    note("connect:" + std::string(server_name != nullptr ? server_name : "") + ":" +
         std::string(options != nullptr ? options : "") + ":" +
         std::string(cached_addr != nullptr ? cached_addr : ""));
    if (connect_result != STRM_OK) {
      if (err != nullptr && err_len != 0) std::snprintf(err, err_len, "%s", connect_error.c_str());
      return connect_result;
    }
    if (cached_addr != nullptr && cached_size != 0 && !reached_addr.empty()) {
      std::snprintf(cached_addr, cached_size, "%s", reached_addr.c_str());
    }
    auto* conn = new FakePconn;
    conn->port = this;
    conn->set_host_ctx(host_ctx);
    last_conn = conn;
    *out = conn;
    return STRM_OK;
  }

  an_int_strm_error init_result = STRM_OK;
  an_int_strm_error connect_result = STRM_OK;
  std::string connect_error = "no server";
  std::string reached_addr;  // written into the cache slot on a connect
  bool liveness = false;
  bool tls = false;          // takes the TLS levels too
  c_strm_buff_frlist* pool = nullptr;
  std::atomic<FakePconn*> last_conn{nullptr};

 private:
  // Ports of one test may be called from several threads.
  void note(const std::string& event) {
    static std::mutex trace_mutex;
    std::lock_guard<std::mutex> hold(trace_mutex);
    if (trace_ != nullptr) trace_->push_back(std::to_string(type_) + " " + event);
  }
  std::uint8_t type_;
  std::vector<std::string>* trace_;
};

}  // namespace vq::testing

#endif  // VQ_TESTS_UNIT_STREAMS_STRM_FAKES_H
