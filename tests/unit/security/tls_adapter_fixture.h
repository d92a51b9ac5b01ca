// The TLS adapter's test fixture: a scripted engine, a host and a driven fast clock.
#ifndef VQ_TESTS_UNIT_SECURITY_TLS_ADAPTER_FIXTURE_H
#define VQ_TESTS_UNIT_SECURITY_TLS_ADAPTER_FIXTURE_H

#include "security/tls_adapter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "security/vcci_environment.h"
#include "security/vcci_objects.h"
#include "tls_test_host.h"
#include "utils/base/fast_clock.h"

namespace {

// ---- the scripted engine ----

struct FakeConn;
using ReadStep = std::function<unsigned(FakeConn&, unsigned char*, unsigned, unsigned*)>;
using WriteStep = std::function<unsigned(FakeConn&, const unsigned char*, unsigned)>;

struct FakeConn {
  a_vcci_conn_callbacks callbacks{};
  void* ctx = nullptr;  // the adapter
  std::deque<ReadStep> reads;
  std::deque<WriteStep> writes;
  unsigned default_answer = 2;  // once a script runs out
  std::atomic<int> read_calls{0};
  std::atomic<int> write_calls{0};
  a_vcci_error error{};
  std::vector<std::string> parms;
  std::vector<char*> parm_ptrs;

  // Pulls `length` bytes through the adapter's read callback.
  unsigned pull(unsigned char* buffer, unsigned length, unsigned* count) {
    const int rc = callbacks.read(ctx, buffer, length, count);
    return rc == 0 ? 0u : 2u;
  }
  void set_error(std::uint32_t code, const char* parm) {
    parms.assign(1, parm);
    parm_ptrs = {parms[0].data(), nullptr};
    error = {code, 0, parm_ptrs.data()};
  }
};

FakeConn* g_conn = nullptr;  // the engine of the adapter under test
bool g_refuse_conn = false;  // CreateConn fails with code 2

inline void* fake_conn_create(void*, const a_vcci_conn_callbacks* cb, void* ctx, _a_vcci_user_option*,
                       a_vcci_error* err) {
  if (g_refuse_conn) {
    *err = {2, 0, nullptr};
    return nullptr;
  }
  g_conn = new FakeConn;
  g_conn->callbacks = *cb;
  g_conn->ctx = ctx;
  return g_conn;
}
inline unsigned fake_read(void* c, unsigned char* buffer, unsigned length, unsigned* count) {
  auto* conn = static_cast<FakeConn*>(c);
  ++conn->read_calls;
  *count = 0;
  if (conn->reads.empty()) return conn->default_answer;
  ReadStep step = conn->reads.front();
  conn->reads.pop_front();
  return step(*conn, buffer, length, count);
}
inline unsigned fake_write(void* c, const unsigned char* bytes, unsigned length) {
  auto* conn = static_cast<FakeConn*>(c);
  ++conn->write_calls;
  if (conn->writes.empty()) return conn->default_answer;
  WriteStep step = conn->writes.front();
  conn->writes.pop_front();
  return step(*conn, bytes, length);
}
const a_vcci_error* fake_conn_error(void* c) { return &static_cast<FakeConn*>(c)->error; }
inline void fake_conn_destroy(void* c) {
  if (c == g_conn) g_conn = nullptr;
  delete static_cast<FakeConn*>(c);
}
inline unsigned fake_stream_init(void*, a_vcci_side, _a_vcci_user_option*) { return 0; }
inline unsigned fake_stream_id(void*) { return kVCCIStreamRsaTls; }
inline void fake_error_destroy(void*, a_vcci_error*) {}

inline ReadStep deliver(std::string bytes) {
  return [bytes](FakeConn&, unsigned char* buffer, unsigned length, unsigned* count) {
    const unsigned n = bytes.size() < length ? static_cast<unsigned>(bytes.size()) : length;
    std::memcpy(buffer, bytes.data(), n);
    *count = n;
    return 0u;
  };
}
inline ReadStep read_answer(unsigned answer) {
  return [answer](FakeConn&, unsigned char*, unsigned, unsigned*) { return answer; };
}
inline ReadStep pull_whole() {
  return [](FakeConn& c, unsigned char* buffer, unsigned length, unsigned* count) {
    return c.pull(buffer, length, count);
  };
}
inline WriteStep write_answer(unsigned answer) {
  return [answer](FakeConn&, const unsigned char*, unsigned) { return answer; };
}

// ---- the injected clock: microseconds of wall time the tests move ----

std::atomic<std::int64_t> g_wall_us{1'700'000'000'000'000};
inline std::int64_t fake_wall() { return g_wall_us.load(); }

// ---- host transport ----

struct Host {
  std::string sent;
  int write_result = -2;                     // -2: the full length
  std::vector<std::int64_t> clock_steps_ms;  // consumed one per yield
  std::function<void()> on_yield;
  int yields = 0;
  std::vector<std::string> logs;
};
Host* g_host = nullptr;

inline int host_write(void* ctx, const char* bytes, unsigned length) {
  auto* host = static_cast<Host*>(ctx);
  host->sent.append(bytes, length);
  return host->write_result == -2 ? static_cast<int>(length) : host->write_result;
}
inline void host_log(const char* text) { g_host->logs.emplace_back(text); }
inline void host_yield(void* ctx) {
  auto* host = static_cast<Host*>(ctx);
  ++host->yields;
  if (!host->clock_steps_ms.empty()) {
    g_wall_us += host->clock_steps_ms.front() * 1000;
    host->clock_steps_ms.erase(host->clock_steps_ms.begin());
  }
  if (host->on_yield) host->on_yield();
}

class TlsAdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vq::base::SetFastClockSource(fake_wall);
    g_host = &host_;
    g_refuse_conn = false;
    iface_.stream_iface.Init = fake_stream_init;
    iface_.stream_iface.GetAlgorithmID = fake_stream_id;
    iface_.stream_conn_iface = {fake_conn_create, fake_read,       fake_write,
                                nullptr,          fake_conn_error, fake_conn_destroy};
    iface_.error_iface.Destroy = fake_error_destroy;
  }
  void TearDown() override {
    tls_.reset();
    stream_.reset();
    vq::base::SetFastClockSource(nullptr);
    g_host = nullptr;
  }

  // A stream of the given side (this stream's pointer is a dummy) and an adapter on it.
  void make(a_vcci_side side, bool with_yield = true) {
    stream_ = std::make_unique<DBVCCIStream>(&iface_, &iface_, &env_);
    ASSERT_EQ(stream_->Init(side, nullptr), 0u);
    callbacks_ = {host_write, nullptr, host_log, with_yield ? host_yield : nullptr};
    tls_ = std::make_unique<TlsConnection>(stream_.get(), &env_, &callbacks_, &host_, &host_,
                                           &error_, nullptr);
    ASSERT_TRUE(tls_->created());
    ASSERT_NE(g_conn, nullptr);
  }
  FakeConn& engine() { return *g_conn; }

  DBVCCIInterface iface_;
  DBVCCIEnvironment env_{&tls_test::kHostCallbacks, nullptr};
  Host host_;
  TlsCallbacks callbacks_{};
  DBVCCIError error_;
  std::unique_ptr<DBVCCIStream> stream_;
  std::unique_ptr<TlsConnection> tls_;
};

// ---- the receive queue: the engine gets whole requests or nothing ----

}  // namespace

#endif  // VQ_TESTS_UNIT_SECURITY_TLS_ADAPTER_FIXTURE_H
