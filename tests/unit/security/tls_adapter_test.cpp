// The TLS adapter against a scripted engine: every engine answer comes from the test,
// and the fast clock is driven by the test, so the time limits run without waiting.
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

void* fake_conn_create(void*, const a_vcci_conn_callbacks* cb, void* ctx, _a_vcci_user_option*,
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
unsigned fake_read(void* c, unsigned char* buffer, unsigned length, unsigned* count) {
  auto* conn = static_cast<FakeConn*>(c);
  ++conn->read_calls;
  *count = 0;
  if (conn->reads.empty()) return conn->default_answer;
  ReadStep step = conn->reads.front();
  conn->reads.pop_front();
  return step(*conn, buffer, length, count);
}
unsigned fake_write(void* c, const unsigned char* bytes, unsigned length) {
  auto* conn = static_cast<FakeConn*>(c);
  ++conn->write_calls;
  if (conn->writes.empty()) return conn->default_answer;
  WriteStep step = conn->writes.front();
  conn->writes.pop_front();
  return step(*conn, bytes, length);
}
const a_vcci_error* fake_conn_error(void* c) { return &static_cast<FakeConn*>(c)->error; }
void fake_conn_destroy(void* c) {
  if (c == g_conn) g_conn = nullptr;
  delete static_cast<FakeConn*>(c);
}
unsigned fake_stream_init(void*, a_vcci_side, _a_vcci_user_option*) { return 0; }
unsigned fake_stream_id(void*) { return kVCCIStreamRsaTls; }
void fake_error_destroy(void*, a_vcci_error*) {}

ReadStep deliver(std::string bytes) {
  return [bytes](FakeConn&, unsigned char* buffer, unsigned length, unsigned* count) {
    const unsigned n = bytes.size() < length ? static_cast<unsigned>(bytes.size()) : length;
    std::memcpy(buffer, bytes.data(), n);
    *count = n;
    return 0u;
  };
}
ReadStep read_answer(unsigned answer) {
  return [answer](FakeConn&, unsigned char*, unsigned, unsigned*) { return answer; };
}
ReadStep pull_whole() {
  return [](FakeConn& c, unsigned char* buffer, unsigned length, unsigned* count) {
    return c.pull(buffer, length, count);
  };
}
WriteStep write_answer(unsigned answer) {
  return [answer](FakeConn&, const unsigned char*, unsigned) { return answer; };
}

// ---- the injected clock: microseconds of wall time the tests move ----

std::atomic<std::int64_t> g_wall_us{1'700'000'000'000'000};
std::int64_t fake_wall() { return g_wall_us.load(); }

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

int host_write(void* ctx, const char* bytes, unsigned length) {
  auto* host = static_cast<Host*>(ctx);
  host->sent.append(bytes, length);
  return host->write_result == -2 ? static_cast<int>(length) : host->write_result;
}
void host_log(const char* text) { g_host->logs.emplace_back(text); }
void host_yield(void* ctx) {
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

TEST_F(TlsAdapterTest, EngineReadsAreServedWholeOrNotAtAll) {
  make(VCCI_SIDE_CLIENT);
  const std::string first(60, 'a');
  const std::string second = std::string(25, 'b') + std::string(15, 'c');
  ASSERT_EQ(tls_->receiveBytes(first.data(), 60), 0u);

  engine().reads = {pull_whole()};
  char buffer[100];
  unsigned length = sizeof buffer;
  EXPECT_EQ(tls_->read(buffer, &length), 10u);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(tls_->getError()->GetCode(), 10u);

  // Two more chunks: the request now spans three chunks and is served in order.
  ASSERT_EQ(tls_->receiveBytes(second.data(), 25), 0u);
  ASSERT_EQ(tls_->receiveBytes(second.data() + 25, 15), 0u);
  engine().reads = {pull_whole()};
  length = sizeof buffer;
  EXPECT_EQ(tls_->read(buffer, &length), 0u);
  ASSERT_EQ(length, 100u);
  EXPECT_EQ(std::string(buffer, 100), first + second);

  // Nothing is left over.
  engine().reads = {pull_whole()};
  length = 1;
  EXPECT_EQ(tls_->read(buffer, &length), 10u);
}

TEST_F(TlsAdapterTest, QueuedBytesAreTakenAcrossChunkBoundaries) {
  make(VCCI_SIDE_CLIENT);
  const std::string data = "0123456789abcdefghij";
  for (const auto& piece : {data.substr(0, 3), data.substr(3, 1), data.substr(4, 16)}) {
    ASSERT_EQ(tls_->receiveBytes(piece.data(), static_cast<unsigned>(piece.size())), 0u);
  }
  std::string got;
  tls_->getMutex();
  for (unsigned want : {2u, 5u, 13u}) {
    char buffer[32];
    unsigned count = 99;
    ASSERT_EQ(tls_->getReceivedBytes(buffer, want, &count), 0u) << want;
    ASSERT_EQ(count, want);
    got.append(buffer, count);
  }
  char buffer[4];
  unsigned count = 99;
  EXPECT_EQ(tls_->getReceivedBytes(buffer, 1, &count), 10u);
  EXPECT_EQ(count, 0u);
  tls_->giveMutex();
  EXPECT_EQ(got, data);
}

TEST_F(TlsAdapterTest, PartialReadThenWouldBlockKeepsWhatWasDelivered) {
  make(VCCI_SIDE_CLIENT);
  engine().reads = {deliver(std::string(30, 'x')), read_answer(2)};
  char buffer[100];
  unsigned length = sizeof buffer;
  EXPECT_EQ(tls_->read(buffer, &length), 10u);
  EXPECT_EQ(length, 30u);
  EXPECT_EQ(std::string(buffer, 30), std::string(30, 'x'));
  EXPECT_TRUE(tls_->doneHandshake());
}

TEST_F(TlsAdapterTest, ReadCollectsPiecesUntilTheRequestIsFull) {
  make(VCCI_SIDE_CLIENT);
  engine().reads = {deliver("hello "), deliver("tls "), deliver("world")};
  char buffer[15];
  unsigned length = sizeof buffer;
  EXPECT_EQ(tls_->read(buffer, &length), 0u);
  EXPECT_EQ(std::string(buffer, length), "hello tls world");
  EXPECT_EQ(host_.yields, 2);  // the mutex was given between the pieces
}

// ---- the server side and the handshake ----

TEST_F(TlsAdapterTest, ServerRefusesWritesUntilAReadCompletedTheHandshake) {
  make(VCCI_SIDE_SERVER);
  EXPECT_EQ(tls_->write("x", 1), 9u);
  EXPECT_EQ(engine().write_calls, 0);
  engine().reads = {deliver("y")};
  char c;
  unsigned length = 1;
  ASSERT_EQ(tls_->read(&c, &length), 0u);
  engine().writes = {write_answer(0)};
  EXPECT_EQ(tls_->write("x", 1), 0u);
}

// ---- time limits with the injected clock ----

struct LimitCase {
  const char* name;
  bool handshake_done_before;
  std::vector<std::int64_t> clock_steps_ms;  // per wait
  unsigned expected;
  int expected_engine_calls;
};

// The case's name stands for it in test names and messages.
void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }

class TlsAdapterLimits : public TlsAdapterTest,
                         public ::testing::WithParamInterface<LimitCase> {};

TEST_P(TlsAdapterLimits, WriteGivesUpAfterTheLimit) {
  const LimitCase& c = GetParam();
  make(VCCI_SIDE_CLIENT);
  if (c.handshake_done_before) {
    engine().writes = {write_answer(0)};
    ASSERT_EQ(tls_->write("a", 1), 0u);
    engine().write_calls = 0;
  }
  host_.clock_steps_ms = c.clock_steps_ms;
  // The engine keeps answering would-block.
  EXPECT_EQ(tls_->write("b", 1), c.expected);
  EXPECT_EQ(engine().write_calls, c.expected_engine_calls);
  EXPECT_EQ(tls_->getError()->GetCode(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Clock, TlsAdapterLimits,
    ::testing::Values(LimitCase{"DuringHandshake", false, {31000}, 17, 1},
                      LimitCase{"AfterHandshake", true, {31000}, 8, 1},
                      LimitCase{"OneMillisecondShortKeepsTrying", false, {30999, 1}, 17, 2},
                      LimitCase{
                          "ClockGoingBackKeepsWaiting", true, {-5000, 20000, 16000}, 8, 3},
                      LimitCase{"ManySmallWaits", false, {10000, 10000, 10000, 1000}, 17, 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TlsAdapterTest, ReadOfPiecesStopsAtTheLimit) {
  make(VCCI_SIDE_CLIENT);
  host_.clock_steps_ms = {31000};
  engine().reads = {deliver("ab"), deliver("cd")};
  char buffer[10];
  unsigned length = sizeof buffer;
  EXPECT_EQ(tls_->read(buffer, &length), 8u);
  EXPECT_EQ(engine().read_calls, 1);
}

TEST_F(TlsAdapterTest, WriteSucceedsOnceThePeerAnswers) {
  make(VCCI_SIDE_CLIENT);
  host_.clock_steps_ms = {1000, 1000};
  engine().writes = {write_answer(2), write_answer(2), write_answer(0)};
  EXPECT_EQ(tls_->write("hello", 5), 0u);
  EXPECT_TRUE(tls_->doneHandshake());
  EXPECT_EQ(engine().write_calls, 3);
}

// ---- closed, shut down and engine errors ----

TEST_F(TlsAdapterTest, AfterShutDownEveryOperationAnswersClosed) {
  make(VCCI_SIDE_CLIENT);
  tls_->shut_down();
  EXPECT_EQ(tls_->write("x", 1), 12u);
  char buffer[8];
  unsigned length = sizeof buffer;
  EXPECT_EQ(tls_->read(buffer, &length), 12u);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(tls_->receiveBytes("x", 1), 12u);
  EXPECT_EQ(engine().write_calls + engine().read_calls, 0);
}

TEST_F(TlsAdapterTest, EngineClosedShutsTheAdapterDown) {
  struct Row {
    const char* name;
    bool by_write;
  };
  for (const Row& row : {Row{"write", true}, Row{"read", false}}) {
    SCOPED_TRACE(row.name);
    make(VCCI_SIDE_CLIENT);
    char buffer[8];
    unsigned length = sizeof buffer;
    if (row.by_write) {
      engine().writes = {write_answer(3)};
      EXPECT_EQ(tls_->write("x", 1), 12u);
    } else {
      engine().reads = {read_answer(3)};
      EXPECT_EQ(tls_->read(buffer, &length), 12u);
    }
    EXPECT_EQ(tls_->receiveBytes("x", 1), 12u);
    length = sizeof buffer;
    EXPECT_EQ(tls_->read(buffer, &length), 12u);
    tls_.reset();
  }
}

TEST_F(TlsAdapterTest, EngineErrorsAreCopiedAndNeverReadAsSuccess) {
  struct Row {
    const char* name;
    std::uint32_t engine_code;
    std::uint32_t expected;
  };
  for (const Row& row : {Row{"coded", 5, 5}, Row{"no code", 0, 34}}) {
    SCOPED_TRACE(row.name);
    make(VCCI_SIDE_CLIENT);
    engine().set_error(row.engine_code, "handshake refused");
    engine().writes = {write_answer(1)};
    EXPECT_EQ(tls_->write("x", 1), row.expected);
    EXPECT_EQ(tls_->getError()->GetCode(), row.expected);
    EXPECT_STREQ(tls_->getError()->GetParm(0), "handshake refused");
    engine().reads = {read_answer(7)};
    char buffer[4];
    unsigned length = sizeof buffer;
    EXPECT_EQ(tls_->read(buffer, &length), row.expected);
    tls_.reset();
  }
}

// The host shuts a refused session down while the peer's last records are still on their
// way: those arrivals answer closed and leave the refusal's reason in the error.
TEST_F(TlsAdapterTest, ArrivalsAfterAFailureKeepItsReason) {
  make(VCCI_SIDE_CLIENT);
  engine().set_error(5, "server certificate not trusted");
  engine().writes = {write_answer(1)};
  ASSERT_EQ(tls_->write("x", 1), 5u);
  tls_->shut_down();
  EXPECT_EQ(tls_->receiveBytes("late", 4), 12u);
  EXPECT_EQ(tls_->getError()->GetCode(), 5u);
  EXPECT_STREQ(tls_->getError()->GetParm(0), "server certificate not trusted");
}

TEST_F(TlsAdapterTest, AdapterWithoutEngineAnswersClosed) {
  g_refuse_conn = true;
  stream_ = std::make_unique<DBVCCIStream>(&iface_, &iface_, &env_);
  callbacks_ = {host_write, nullptr, host_log, host_yield};
  tls_ = std::make_unique<TlsConnection>(stream_.get(), &env_, &callbacks_, &host_, &host_,
                                         &error_, nullptr);
  EXPECT_FALSE(tls_->created());
  EXPECT_EQ(error_.GetCode(), 2u);
  EXPECT_EQ(tls_->write("x", 1), 12u);
  char buffer[4];
  unsigned length = sizeof buffer;
  EXPECT_EQ(tls_->read(buffer, &length), 12u);
  EXPECT_EQ(tls_->receiveBytes("x", 1), 12u);
}

// ---- the engine's callbacks ----

TEST_F(TlsAdapterTest, WriteCallbackAnswersErrorUnlessEverythingWasSent) {
  make(VCCI_SIDE_CLIENT);
  struct Row {
    int host_result;
    int expected;
  };
  const unsigned char bytes[10] = {};
  for (const Row& row : {Row{-2, 0}, Row{10, 0}, Row{4, 1}, Row{0, 1}, Row{-1, 1}}) {
    SCOPED_TRACE(row.host_result);
    host_.write_result = row.host_result;
    EXPECT_EQ(VCCI_WriteCallback(tls_.get(), bytes, 10), row.expected);
  }
}

int g_host_read_ok = 0;
unsigned g_host_read_count = 0;
int host_read(void*, char*, unsigned, unsigned* count) {
  *count = g_host_read_count;
  return g_host_read_ok;
}

TEST_F(TlsAdapterTest, HostReadSlotReplacesTheQueue) {
  make(VCCI_SIDE_CLIENT);
  callbacks_.read = host_read;
  struct Row {
    int ok;
    unsigned count;
    int expected;
  };
  for (const Row& row : {Row{0, 5, 1}, Row{1, 5, 0}, Row{1, 0, 2}}) {
    SCOPED_TRACE(row.expected);
    g_host_read_ok = row.ok;
    g_host_read_count = row.count;
    unsigned char buffer[8];
    unsigned count = 99;
    EXPECT_EQ(VCCI_ReadCallback(tls_.get(), buffer, 8, &count), row.expected);
  }
}

TEST_F(TlsAdapterTest, LogCallbackDropsInternalLogsAndNullTexts) {
  make(VCCI_SIDE_CLIENT);
  EXPECT_EQ(VCCI_ConnLogCallback(tls_.get(), 1, "handshake done", nullptr, 0), 0);
  EXPECT_EQ(VCCI_ConnLogCallback(tls_.get(), 0x80000004u, "internal", nullptr, 0), 0);
  EXPECT_EQ(VCCI_LogCallback(tls_.get(), 2, nullptr, nullptr, 0), 0);
  EXPECT_EQ(VCCI_LogCallback(tls_.get(), 0, "stream text", nullptr, 0), 0);
  EXPECT_EQ(host_.logs, (std::vector<std::string>{"handshake done", "stream text"}));
}

// ---- waiting for the peer costs no CPU ----

TEST_F(TlsAdapterTest, WaitingWriteSleepsUntilBytesArrive) {
  vq::base::SetFastClockSource(nullptr);  // real time here
  make(VCCI_SIDE_CLIENT, /*with_yield=*/false);
  // The engine would-blocks until the peer's bytes are queued, then succeeds.
  std::atomic<bool> arrived{false};
  engine().default_answer = 2;
  for (int i = 0; i < 100000; ++i) {
    engine().writes.push_back([&](FakeConn& c, const unsigned char*, unsigned) {
      unsigned char b;
      unsigned n = 0;
      return arrived && c.pull(&b, 1, &n) == 0 ? 0u : 2u;
    });
  }
  std::thread peer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    arrived = true;
    EXPECT_EQ(tls_->receiveBytes("z", 1), 0u);
  });
  EXPECT_EQ(tls_->write("x", 1), 0u);
  peer.join();
  // A spinning loop would have called the engine many thousands of times in 300 ms.
  EXPECT_LT(engine().write_calls.load(), 100);
}

TEST_F(TlsAdapterTest, ShutDownWakesAWaitingWrite) {
  vq::base::SetFastClockSource(nullptr);
  make(VCCI_SIDE_CLIENT, /*with_yield=*/false);
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    tls_->shut_down();
  });
  EXPECT_EQ(tls_->write("x", 1), 12u);
  other.join();
  EXPECT_LT(engine().write_calls.load(), 100);
}

}  // namespace
