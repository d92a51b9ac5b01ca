// The client's notifiers without their threads: which indications post and which call
// the dropped-connection callback, the process's single environment notifier, making
// connection notifiers and printing to the connection's log.
#include "cmdseq/client_notifiers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmdseq/cmdseq_env.h"
#include "cmdseq/host_log.h"
#include "cmdseq/request_log.h"
#include "streams/shm/resource_tree.h"
#include "strm_client_double.h"

namespace {

using vq::testing::StrmRecord;
using vq::testing::Words;

struct Dropped {
  std::uintptr_t value;
  std::string name;
};
std::vector<Dropped> g_dropped;

void RecordDropped(std::uintptr_t value, const char* name) {
  g_dropped.push_back({value, name != nullptr ? name : "<null>"});
}

struct IndicatorCase {
  std::uint8_t code;
  int block_event_cleared;  // a link the waiting thread polls itself
  bool posts;
  bool drops;
};

class Indicators : public testing::TestWithParam<IndicatorCase> {};

TEST_P(Indicators, PostOnlyForTheCodesThatWake) {
  const IndicatorCase c = GetParam();
  StrmRecord::get().reset();
  g_dropped.clear();
  a_cmdseq_env env;
  env.conn_dropped_callback = RecordDropped;
  c_cmdseq_env_notifier en(2);
  en.set_env(&env);
  c_cmdseq_conn_notifier note(&en, nullptr);
  ASSERT_TRUE(note.is_initialized_ok(nullptr, 0));
  a_strm_conn_rec sconn;
  Words(&sconn).callback_data = 0x1234;
  Words(&sconn).name = "orders";
  Words(&sconn).block_event_cleared = c.block_event_cleared;
  note.set_sconn(&sconn);

  note.handle_strm_indicator(c.code);

  EXPECT_EQ(Words(&sconn).user_data.load(), c.posts ? 1u : 0u);
  ASSERT_EQ(g_dropped.size(), c.drops ? 1u : 0u);
  if (c.drops) {
    EXPECT_EQ(g_dropped[0].value, 0x1234u);
    EXPECT_EQ(g_dropped[0].name, "orders");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, Indicators,
    testing::Values(IndicatorCase{0, 0, false, false}, IndicatorCase{1, 0, false, false},
                    IndicatorCase{2, 0, true, false}, IndicatorCase{3, 0, false, false},
                    IndicatorCase{6, 0, true, false}, IndicatorCase{7, 0, true, true},
                    IndicatorCase{7, 1, true, true}, IndicatorCase{14, 0, true, false},
                    IndicatorCase{14, 1, false, false}, IndicatorCase{15, 0, true, false},
                    IndicatorCase{16, 0, false, false}, IndicatorCase{255, 0, false, false}));

TEST(ConnNotifier, DeadConnectionWithoutDroppedCallbackStillPosts) {
  c_cmdseq_env_notifier en(2);
  a_cmdseq_env env;
  en.set_env(&env);
  c_cmdseq_conn_notifier note(&en, nullptr);
  StrmRecord::get().reset();
  a_strm_conn_rec sconn;
  note.set_sconn(&sconn);
  note.handle_strm_indicator(STRM_IND_CONN_DIED);
  EXPECT_EQ(Words(&sconn).user_data.load(), 1u);
}

TEST(ConnNotifier, EventIsTheSemaphoreAndSwapAnswersOne) {
  c_cmdseq_env_notifier en(2);
  c_cmdseq_conn_notifier note(&en, nullptr);
  auto* event = static_cast<c_strm_inter_event*>(note.get_event());
  ASSERT_NE(event, nullptr);
  EXPECT_GT(event->id, 0);
  EXPECT_EQ(note.swap_streams(nullptr, 0), 1);
  EXPECT_EQ(note.get_strm_connid(), 0u);
}

TEST(EnvNotifier, OnlyTheFirstIsTheProcessNotifier) {
  ASSERT_FALSE(c_cmdseq_env_notifier::is_ready());
  StrmRecord::get().reset();
  {
    c_cmdseq_env_notifier first(2);
    EXPECT_TRUE(first.is_registered());
    {
      c_cmdseq_env_notifier second(2);
      EXPECT_FALSE(second.is_registered());
    }
    // Destroying the unregistered one leaves the first in place.
    EXPECT_TRUE(first.is_registered());
    EXPECT_TRUE(c_cmdseq_env_notifier::is_ready());
    EXPECT_GE(StrmCurSharedEngineLockFd(), 0);  // the client name is claimed
  }
  EXPECT_FALSE(c_cmdseq_env_notifier::is_ready());
  c_cmdseq_env_notifier again(2);
  EXPECT_TRUE(again.is_registered());
}

TEST(EnvNotifier, MakesConnectionNotifiersThatKeepTheirValue) {
  c_cmdseq_env_notifier en(2);
  int context = 0;
  char text[64] = "untouched";
  c_strm_conn_notifier* made = en.create_conn_note(&context, text, sizeof text, 0);
  ASSERT_NE(made, nullptr);
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(static_cast<c_cmdseq_conn_notifier*>(made)->value(), &context);
  EXPECT_EQ(en.get_semaphore(), nullptr);
  made->release();
}

std::vector<std::pair<std::uintptr_t, std::string>> g_log_lines;

void RecordLogLine(std::uintptr_t value, const char* text) {
  g_log_lines.emplace_back(value, text != nullptr ? text : "<null>");
}

// The stack's debug printer reaches the connection's log through its host context.
TEST(EnvNotifier, PrintsToTheLogOfTheConnection) {
  g_log_lines.clear();
  a_cmdseq_env env;
  env.debug_message_callback = RecordLogLine;
  a_cmdseq_conn_attrib* attrib = CmdSeqCreateEmptyConnAttributes();
  attrib->env = &env;
  attrib->debug = 1;
  attrib->cb_value = 77;
  c_cmdseq_env_notifier en(2);
  en.prt_msg(i_cs_HostCtxOfAttrib(attrib), "first");
  en.prt_msg(nullptr, "no connection");
  CmdSeqFreeConnAttributes(attrib);
  ASSERT_EQ(g_log_lines.size(), 1u);
  EXPECT_EQ(g_log_lines[0].first, 77u);
  EXPECT_EQ(g_log_lines[0].second, "first");
}

// Without threads nothing is stopped, and stopping twice is harmless.
TEST(EnvNotifier, StopWithoutThreadsDoesNothing) {
  c_cmdseq_env_notifier en(2);
  EXPECT_FALSE(en.control_running());
  en.stop_control();
  en.stop_control();
  EXPECT_FALSE(en.timed_running());
}

}  // namespace
