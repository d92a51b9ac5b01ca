// The TLS adapter against a scripted engine: every engine answer comes from the test,
// and the fast clock is driven by the test, so the time limits run without waiting.
#include "tls_adapter_fixture.h"

namespace {

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

}  // namespace
