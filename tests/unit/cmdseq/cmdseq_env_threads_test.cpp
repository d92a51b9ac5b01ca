// The communication environment of the client environment: created on first need with
// the client's notifier, host functions and relays, its two threads running; refused
// cleanly when the resource root or the stack says no; freed with the threads stopped
// first; and the relays of server messages and file-transfer checks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "cmdseq/client_notifiers.h"
#include "cmdseq/cmdseq_env.h"
#include "cmdseq/error_info.h"
#include "cmdseq/host_log.h"
#include "cmdseq/request_log.h"
#include "config/conn_parms.h"
#include "pool_park.h"
#include "scoped_environment.h"
#include "streams/shm/resource_tree.h"
#include "strm_client_double.h"

namespace {

using vq::testing::StrmRecord;

// A started library and a set-up environment with an error block; torn down in order.
class ClientEnv : public testing::Test {
 protected:
  void SetUp() override {
    StrmRecord::get().reset();
    ASSERT_EQ(CmdSeqInit(), 0);
    ASSERT_EQ(CmdSeqAllocEnv(&env_), CMDSEQ_OK);
    env_.app_type = 2;
    CmdSeqInitErrorParam(&env_, &err_, 0);
  }
  void TearDown() override {
    CmdSeqFiniErrorParam(&err_);
    StrmRecord::get().free_refuses = 0;
    EXPECT_EQ(CmdSeqFreeEnv(&env_), CMDSEQ_OK);
    CmdSeqFini();
    EXPECT_FALSE(c_cmdseq_env_notifier::is_ready());
  }

  std::vector<std::string> params() const {
    std::vector<std::string> out;
    for (const a_cmdseq_str_node* n = err_.params; n != nullptr; n = n->next) {
      out.emplace_back(n->text);
    }
    return out;
  }

  a_cmdseq_env env_;
  a_cmdseq_error_info err_;
};

TEST_F(ClientEnv, CreatedOnceWithTheClientsNotifierAndThreads) {
  StrmRecord& r = StrmRecord::get();
  ASSERT_EQ(i_cs_AllocStrmEnv(&env_, nullptr, &err_), CMDSEQ_OK);
  ASSERT_NE(env_.strm_env, nullptr);
  ASSERT_NE(env_.notifier, nullptr);
  EXPECT_EQ(env_.strm_env->notifier, env_.notifier);
  EXPECT_EQ(env_.strm_env->buffer_size, 7300);
  EXPECT_EQ(env_.strm_env->app_kind, 0);  // the ODBC layer's application type 2
  EXPECT_TRUE(env_.notifier->is_registered());
  EXPECT_EQ(env_.notifier->env(), &env_);
  EXPECT_TRUE(env_.notifier->control_running());
  EXPECT_TRUE(env_.notifier->timed_running());

  // A complete host function table, which the stack refuses otherwise.
  const a_strm_func_list& f = r.functions;
  EXPECT_NE(f.StrmAlloc, nullptr);
  EXPECT_NE(f.StrmFree, nullptr);
  EXPECT_NE(f.StrmRealloc, nullptr);
  EXPECT_NE(f.StrmPrtString, nullptr);
  EXPECT_EQ(f.StrmPrtErrString, f.StrmPrtString);
  EXPECT_NE(f.StrmCheckDebug, nullptr);
  EXPECT_NE(f.StrmConnectionlessPrtString, nullptr);
  EXPECT_EQ(f.StrmConnectionlessPrtStringParam, env_.log_files);
  EXPECT_EQ(r.message_data, &env_);
  EXPECT_NE(r.message_fn, nullptr);
  EXPECT_NE(r.validate_fn, nullptr);
  EXPECT_EQ(r.user_message_callback.load(), 0);

  EXPECT_EQ(i_cs_AllocStrmEnv(&env_, nullptr, &err_), CMDSEQ_OK);
  EXPECT_EQ(r.alloc_calls.load(), 1);
  EXPECT_EQ(err_.sqlcode, 0);

  c_cmdseq_env_notifier* notifier = env_.notifier;
  EXPECT_EQ(CmdSeqFreeEnv(&env_), CMDSEQ_OK);
  EXPECT_EQ(r.free_flag.load(), 1);  // the stack deleted the notifier
  EXPECT_FALSE(c_cmdseq_env_notifier::is_ready());
  EXPECT_NE(notifier, nullptr);
  EXPECT_EQ(env_.strm_env, nullptr);
  EXPECT_EQ(env_.notifier, nullptr);
  ASSERT_EQ(CmdSeqAllocEnv(&env_), CMDSEQ_OK);  // for TearDown
}

TEST_F(ClientEnv, TheBufferSizeComesFromTheParameters) {
  c_conn_parms parms;
  ASSERT_EQ(parms.init("CommBufferSize=4000", false), 0);
  ASSERT_EQ(i_cs_AllocStrmEnv(&env_, &parms, nullptr), CMDSEQ_OK);
  EXPECT_EQ(env_.strm_env->buffer_size, 4000);
}

// The resource root would lie below a plain file.
TEST_F(ClientEnv, NoResourceRootIsACommunicationError) {
  const std::string file = std::string(std::getenv("VCTMP")) + "/plain";
  std::fclose(std::fopen(file.c_str(), "w"));
  vq::testing::ScopedEnvironment vars;
  vars.Set("VCTMP", file + "/below");
  vq::shm::testing::ResetResourceRootCache();
  EXPECT_EQ(i_cs_AllocStrmEnv(&env_, nullptr, &err_), CMDSEQ_COMM_FAILURE);
  EXPECT_EQ(err_.sqlcode, -832);
  const std::vector<std::string> p = params();
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0], "The local server resource directory cannot be created");
  EXPECT_EQ(env_.strm_env, nullptr);
  EXPECT_EQ(StrmRecord::get().alloc_calls.load(), 0);
  // Without an error block the answer is the same.
  EXPECT_EQ(i_cs_AllocStrmEnv(&env_, nullptr, nullptr), CMDSEQ_COMM_FAILURE);
  EXPECT_FALSE(c_cmdseq_env_notifier::is_ready());
  vq::shm::testing::ResetResourceRootCache();  // the program's root again once vars ends
}

struct StackRefusal {
  int stack_code;
  a_cmdseq_return result;
  std::int32_t sqlcode;
};

class StackRefuses : public ClientEnv, public testing::WithParamInterface<StackRefusal> {};

// The notifier is destroyed and the environment stays absent, so a later connect tries
// again and succeeds.
TEST_P(StackRefuses, TheNotifierGoesAndALaterCallTriesAgain) {
  const StackRefusal c = GetParam();
  StrmRecord& r = StrmRecord::get();
  r.alloc_result = c.stack_code;
  EXPECT_EQ(i_cs_AllocStrmEnv(&env_, nullptr, &err_), c.result);
  EXPECT_EQ(err_.sqlcode, c.sqlcode);
  EXPECT_EQ(env_.strm_env, nullptr);
  EXPECT_EQ(env_.notifier, nullptr);
  EXPECT_FALSE(c_cmdseq_env_notifier::is_ready());

  r.alloc_result = 0;
  EXPECT_EQ(i_cs_AllocStrmEnv(&env_, nullptr, nullptr), CMDSEQ_OK);
  EXPECT_NE(env_.strm_env, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Codes, StackRefuses,
                         testing::Values(StackRefusal{7, CMDSEQ_COMM_FAILURE, -832},
                                         StackRefusal{3, CMDSEQ_NO_MEMORY, -86},
                                         StackRefusal{5, CMDSEQ_FAILED, 0}));

TEST_F(ClientEnv, AnUnknownApplicationTypeIsRefused) {
  env_.app_type = 9;
  EXPECT_EQ(i_cs_AllocStrmEnv(&env_, nullptr, &err_), CMDSEQ_FAILED);
  EXPECT_EQ(StrmRecord::get().alloc_calls.load(), 0);
  EXPECT_FALSE(c_cmdseq_env_notifier::is_ready());
}

// Another environment notifier already serves the process.
TEST_F(ClientEnv, ASecondProcessNotifierIsRefused) {
  c_cmdseq_env_notifier first(2);
  ASSERT_TRUE(first.is_registered());
  EXPECT_EQ(i_cs_AllocStrmEnv(&env_, nullptr, &err_), CMDSEQ_COMM_FAILURE);
  EXPECT_EQ(env_.strm_env, nullptr);
  EXPECT_TRUE(first.is_registered());
}

// Threads of two connects race for the first communication environment: one is made.
TEST_F(ClientEnv, ConcurrentFirstConnectsMakeOneEnvironment) {
  std::vector<std::thread> connects;
  std::atomic<int> failures{0};
  for (int i = 0; i < 4; ++i) {
    connects.emplace_back([&] {
      if (i_cs_AllocStrmEnv(&env_, nullptr, nullptr) != CMDSEQ_OK) ++failures;
    });
  }
  for (auto& t : connects) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(StrmRecord::get().alloc_calls.load(), 1);
}

// The stack refuses to free its environment: the answer is 1 and a later tear-down
// hands the notifier over again, so nothing is left behind.
TEST_F(ClientEnv, ARefusedFreeCanBeRepeated) {
  StrmRecord& r = StrmRecord::get();
  ASSERT_EQ(i_cs_AllocStrmEnv(&env_, nullptr, nullptr), CMDSEQ_OK);
  r.free_refuses = 1;
  EXPECT_EQ(CmdSeqFreeEnv(&env_), CMDSEQ_FAILED);
  ASSERT_NE(env_.notifier, nullptr);               // kept until the stack takes it
  EXPECT_FALSE(env_.notifier->control_running());  // the threads stopped first
  EXPECT_FALSE(env_.notifier->timed_running());
  r.free_refuses = 0;
  EXPECT_EQ(CmdSeqFreeEnv(&env_), CMDSEQ_OK);
  EXPECT_EQ(r.free_calls.load(), 2);
  EXPECT_EQ(r.free_flag.load(), 1);
  EXPECT_FALSE(c_cmdseq_env_notifier::is_ready());
  ASSERT_EQ(CmdSeqAllocEnv(&env_), CMDSEQ_OK);  // for TearDown
}

std::atomic<std::uint64_t> g_pool_now{0};
std::uint64_t PoolNow() { return g_pool_now.load(); }

bool Connected(const a_cmdseq_conn* conn) {
  return (conn->status.load() & CS_STATUS_CONNECTED) != 0;
}

// Waits (bounded) until the connection is closed.
bool WaitClosed(const a_cmdseq_conn* conn) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (Connected(conn) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return !Connected(conn);
}

// A parked connection waits out its idle time-out (60 s by default); the controller
// thread closes one that waited longer within about a second and leaves a younger one,
// which the tear-down closes while the threads still run.
TEST_F(ClientEnv, TheControllerClosesAConnectionParkedTooLong) {
  constexpr std::uint64_t kNow = 1000000;
  g_pool_now = kNow;
  i_cs_SetPoolClock(PoolNow);
  a_strm_conn_rec old_stream;
  a_strm_conn_rec young_stream;
  a_cmdseq_conn* old = ParkNewConnection(env_.conn_pool, &old_stream, kNow - 61000);
  a_cmdseq_conn* young = ParkNewConnection(env_.conn_pool, &young_stream, kNow - 59000);
  ASSERT_EQ(i_cs_AllocStrmEnv(&env_, nullptr, &err_), CMDSEQ_OK);

  ASSERT_TRUE(WaitClosed(old));
  EXPECT_EQ(old_stream.disconnects, 1);
  EXPECT_EQ(IdleCount(env_.conn_pool), 1);
  EXPECT_TRUE(Connected(young));
  EXPECT_EQ(old->release(), 0u);

  EXPECT_EQ(CmdSeqFreeEnv(&env_), CMDSEQ_OK);
  EXPECT_FALSE(Connected(young));
  EXPECT_EQ(young_stream.disconnects, 1);
  EXPECT_EQ(young->release(), 0u);
  i_cs_SetPoolClock(nullptr);
  ASSERT_EQ(CmdSeqAllocEnv(&env_), CMDSEQ_OK);  // for TearDown
}

struct Message {
  std::uintptr_t value;
  std::uint8_t type;
  std::int32_t code;
  std::string text;
};
std::vector<Message> g_messages;

// A connection's callback value as the stack hands it to the callbacks.
void* ConnValue(std::uintptr_t value) { return reinterpret_cast<void*>(value); }

void RecordMessage(std::uintptr_t value, std::uint8_t type, std::int32_t code,
                   std::uint16_t length, const char* text) {
  g_messages.push_back({value, type, code, std::string(text, length)});
}

TEST_F(ClientEnv, ServerMessagesGoToTheCallbackUnchanged) {
  StrmRecord& r = StrmRecord::get();
  ASSERT_EQ(i_cs_AllocStrmEnv(&env_, nullptr, nullptr), CMDSEQ_OK);
  g_messages.clear();
  CmdSeqRegisterMessageCallback(&env_, RecordMessage);
  EXPECT_EQ(r.user_message_callback.load(), 1);  // the stack passes messages up now
  int host = 0;
  r.message_fn(r.message_data, ConnValue(42), 2, -7, 5, "helloXX", &host);
  r.message_fn(r.message_data, ConnValue(0), 2, -7, 5, "dropped", &host);  // no connection value
  ASSERT_EQ(g_messages.size(), 1u);
  EXPECT_EQ(g_messages[0].value, 42u);
  EXPECT_EQ(g_messages[0].type, 2);
  EXPECT_EQ(g_messages[0].code, -7);
  EXPECT_EQ(g_messages[0].text, "hello");
}

// A message callback registered before the first connect is announced to the stack when
// the communication environment is made.
TEST_F(ClientEnv, AnEarlierMessageCallbackIsAnnouncedAtCreation) {
  CmdSeqRegisterMessageCallback(&env_, RecordMessage);
  EXPECT_EQ(StrmRecord::get().user_message_callback.load(), 0);
  ASSERT_EQ(i_cs_AllocStrmEnv(&env_, nullptr, nullptr), CMDSEQ_OK);
  EXPECT_EQ(StrmRecord::get().user_message_callback.load(), 1);
}

// A callback registered while the first connect makes the communication environment is
// announced to the stack exactly once, whichever comes first.
TEST_F(ClientEnv, AMessageCallbackRacingTheFirstConnectIsAnnouncedOnce) {
  StrmRecord& r = StrmRecord::get();
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    a_cmdseq_env env;
    ASSERT_EQ(CmdSeqAllocEnv(&env), CMDSEQ_OK);
    env.app_type = 2;
    r.user_message_callback = 0;
    std::thread connect(
        [&] { EXPECT_EQ(i_cs_AllocStrmEnv(&env, nullptr, nullptr), CMDSEQ_OK); });
    std::thread registering([&] { CmdSeqRegisterMessageCallback(&env, RecordMessage); });
    connect.join();
    registering.join();
    EXPECT_EQ(r.user_message_callback.load(), 1);
    EXPECT_EQ(CmdSeqFreeEnv(&env), CMDSEQ_OK);
  }
}

std::vector<std::pair<std::uintptr_t, std::string>> g_log_lines;

void RecordLogLine(std::uintptr_t value, const char* text) {
  g_log_lines.emplace_back(value, text != nullptr ? text : "<null>");
}

// Log attributes of a connection whose lines go to the environment's debug-message
// callback.
a_cmdseq_conn_attrib* LoggingAttributes(a_cmdseq_env* env, std::uintptr_t value) {
  g_log_lines.clear();
  env->debug_message_callback = RecordLogLine;
  a_cmdseq_conn_attrib* attrib = CmdSeqCreateEmptyConnAttributes();
  attrib->env = env;
  attrib->debug = 1;
  attrib->cb_value = value;
  return attrib;
}

// Without a callback the client prints messages of types 1 and 2 to standard error and
// logs every message to the connection's log when it is on.
TEST_F(ClientEnv, ServerMessagesWithoutACallbackArePrintedAndLogged) {
  StrmRecord& r = StrmRecord::get();
  ASSERT_EQ(i_cs_AllocStrmEnv(&env_, nullptr, nullptr), CMDSEQ_OK);
  a_cmdseq_conn_attrib* attrib = LoggingAttributes(&env_, 9);
  void* host = i_cs_HostCtxOfAttrib(attrib);
  testing::internal::CaptureStderr();
  r.message_fn(r.message_data, ConnValue(42), 1, 100, 6, "note: extra", host);
  r.message_fn(r.message_data, ConnValue(42), 3, 100, 5, "quiet", nullptr);
  r.message_fn(r.message_data, ConnValue(42), 3, 100, 0, nullptr, host);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "note: \n");
  CmdSeqFreeConnAttributes(attrib);
  ASSERT_EQ(g_log_lines.size(), 2u);
  EXPECT_EQ(g_log_lines[0].first, 9u);
  EXPECT_EQ(g_log_lines[0].second, "note: ");
  EXPECT_EQ(g_log_lines[1].second, "");
}

// The stack prints through the host function table into the connection's log.
TEST_F(ClientEnv, TheStackPrintsIntoTheConnectionsLog) {
  ASSERT_EQ(i_cs_AllocStrmEnv(&env_, nullptr, nullptr), CMDSEQ_OK);
  const a_strm_func_list& f = StrmRecord::get().functions;
  a_cmdseq_conn_attrib* attrib = LoggingAttributes(&env_, 3);
  void* host = i_cs_HostCtxOfAttrib(attrib);
  EXPECT_EQ(f.StrmCheckDebug(host), 1);
  EXPECT_EQ(f.StrmCheckDebug(nullptr), 0);
  f.StrmPrtString(host, "from the stack");
  f.StrmPrtErrString(host, "an error");
  CmdSeqFreeConnAttributes(attrib);
  ASSERT_EQ(g_log_lines.size(), 2u);
  EXPECT_EQ(g_log_lines[0].second, "from the stack");
  EXPECT_EQ(g_log_lines[1].second, "an error");
}

TEST_F(ClientEnv, FileTransfersAreRefusedUnlessTheApplicationChecksThem) {
  StrmRecord& r = StrmRecord::get();
  ASSERT_EQ(i_cs_AllocStrmEnv(&env_, nullptr, nullptr), CMDSEQ_OK);
  std::uint32_t allow = 7;
  EXPECT_EQ(r.validate_fn(&env_, ConnValue(42), "/tmp/x", 1, &allow), 0);
  CmdSeqRegisterValidateFileTranCallback(
      &env_, [](std::uintptr_t value, const char* name, int write, int* out) {
        *out = value == 42 && std::string(name) == "/tmp/x" && write == 1 ? 1 : 0;
        return 1;
      });
  EXPECT_EQ(r.validate_fn(&env_, ConnValue(42), "/tmp/x", 1, &allow), 1);
  EXPECT_EQ(allow, 1);
}

// A connection without a callback value is refused by the relay itself: the
// application's check is never asked, and the answer word is left alone.
TEST_F(ClientEnv, FileTransfersOfAConnectionWithoutACallbackValueAreRefusedUnasked) {
  static std::atomic<int> calls{0};
  calls = 0;
  StrmRecord& r = StrmRecord::get();
  ASSERT_EQ(i_cs_AllocStrmEnv(&env_, nullptr, nullptr), CMDSEQ_OK);
  CmdSeqRegisterValidateFileTranCallback(&env_, [](std::uintptr_t, const char*, int, int* out) {
    ++calls;
    *out = 1;
    return 1;
  });
  for (std::uint32_t write : {0u, 1u}) {
    SCOPED_TRACE(write);
    std::uint32_t allow = 7;
    EXPECT_EQ(r.validate_fn(&env_, nullptr, "/tmp/x", write, &allow), 0);
    EXPECT_EQ(allow, 7u);
  }
  EXPECT_EQ(calls.load(), 0);
  // With a callback value the same check is asked.
  std::uint32_t allow = 0;
  EXPECT_EQ(r.validate_fn(&env_, ConnValue(5), "/tmp/x", 0, &allow), 1);
  EXPECT_EQ(allow, 1u);
  EXPECT_EQ(calls.load(), 1);
}

}  // namespace
