// The client library's counted start and stop, the API name, the communication buffer
// size and application kind, and the environment's set-up and tear-down without a
// communication environment.
#include "cmdseq/cmdseq_env.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "config/conn_parms.h"
#include "pool_park.h"
#include "strm_client_double.h"
#include "utils/locale/lang_string.h"

namespace {

using vq::testing::StrmRecord;

TEST(CmdSeqLibrary, StartAndStopAreCounted) {
  StrmRecord& r = StrmRecord::get();
  r.reset();
  r.init_result = 5;
  CmdSeqFini();  // a stop without a start does nothing
  EXPECT_EQ(r.fini_calls.load(), 0);

  EXPECT_EQ(CmdSeqInit(), 5);  // the stack's start result
  EXPECT_EQ(CmdSeqInit(), 1);  // the previous count
  EXPECT_EQ(r.init_calls.load(), 1);
  CmdSeqFini();
  EXPECT_EQ(r.fini_calls.load(), 0);  // still started
  CmdSeqFini();
  EXPECT_EQ(r.fini_calls.load(), 1);
  EXPECT_EQ(r.init_count.load(), 0);

  EXPECT_EQ(CmdSeqInit(), 5);  // a new start after the last stop starts the stack again
  EXPECT_EQ(r.init_calls.load(), 2);
  CmdSeqFini();
}

struct ApiNameCase {
  const char* name;
  int answer;
  const char* stored;  // null: nothing stored
};

class ApiName : public testing::TestWithParam<ApiNameCase> {};

TEST_P(ApiName, KnownPrefixesIgnoringCase) {
  const ApiNameCase c = GetParam();
  a_cmdseq_env env;
  EXPECT_EQ(CmdSeqSetAPIName(&env, c.name), c.answer);
  if (c.stored == nullptr) {
    EXPECT_EQ(env.api_name, nullptr);
  } else {
    ASSERT_NE(env.api_name, nullptr);
    EXPECT_STREQ(env.api_name, c.stored);
  }
  CmdSeqFreeExt(env.api_name);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ApiName,
    testing::Values(ApiNameCase{"capi_ruby_2", 1, "capi_ruby_2"},
                    ApiNameCase{"QuillonJDBC", 1, "QuillonJDBC"},
                    ApiNameCase{"quillonjdbc 4.0", 1, "quillonjdbc 4.0"},
                    ApiNameCase{"PHP", 1, "PHP"}, ApiNameCase{"perldbd", 1, "perldbd"},
                    ApiNameCase{"dbExpress", 1, "dbExpress"},
                    ApiNameCase{"CAPIX", 1, "CAPIX"},  // "CAPI" is a prefix
                    ApiNameCase{"PH", 0, nullptr},     // shorter than every entry
                    ApiNameCase{"ODBC", 0, nullptr}, ApiNameCase{"", 0, nullptr},
                    ApiNameCase{nullptr, 0, nullptr}));

TEST(CmdSeqApiName, TheFirstNameStays) {
  a_cmdseq_env env;
  ASSERT_EQ(CmdSeqSetAPIName(&env, "capi_ruby_2"), 1);
  EXPECT_EQ(CmdSeqSetAPIName(&env, "PHP"), 1);
  EXPECT_EQ(CmdSeqSetAPIName(&env, "ODBC"), 1);
  EXPECT_STREQ(env.api_name, "capi_ruby_2");
  CmdSeqFreeExt(env.api_name);
}

struct BufferSizeCase {
  const char* conn_string;  // null: no parameters at all
  std::uint16_t size;
};

class CommBufferSize : public testing::TestWithParam<BufferSizeCase> {};

TEST_P(CommBufferSize, ParameterOrDefault) {
  const BufferSizeCase c = GetParam();
  if (c.conn_string == nullptr) {
    EXPECT_EQ(i_cs_CommBufferSize(nullptr), c.size);
    return;
  }
  c_conn_parms parms;
  ASSERT_EQ(parms.init(c.conn_string, false), 0);
  EXPECT_EQ(i_cs_CommBufferSize(&parms), c.size);
}

INSTANTIATE_TEST_SUITE_P(Sizes, CommBufferSize,
                         testing::Values(BufferSizeCase{nullptr, 7300},
                                         BufferSizeCase{"", 7300},
                                         BufferSizeCase{"ServerName=x", 7300},
                                         BufferSizeCase{"CommBufferSize=4000", 4000},
                                         BufferSizeCase{"CBSIZE=16000", 16000},
                                         BufferSizeCase{"CommBufferSize=100", 500}));

TEST(CmdSeqAppKind, EveryApplicationTypeMapsOrIsRefused) {
  const struct {
    std::uint32_t app_type;
    int kind;
  } cases[] = {{0, -1}, {1, 2}, {2, 0}, {3, 3}, {4, 4}, {5, -1}, {0xFFFFFFFFu, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.app_type);
    EXPECT_EQ(i_cs_StrmAppKind(c.app_type), c.kind);
  }
}

// The connection's buffer size and time-outs go to the communication environment; the
// block's other words stay neutral (255 in word 7, zero elsewhere).
TEST(CmdSeqEnv, ConnectSettingsReachTheCommunicationEnvironment) {
  StrmRecord& r = StrmRecord::get();
  r.reset();
  c_strm_env strm_env;
  c_conn_parms parms;
  ASSERT_EQ(parms.init("CBSIZE=4000;LTO=45;IDLE=7", false), 0);
  i_cs_SetEnvironmentParms(&strm_env, &parms);
  EXPECT_EQ(r.parms_words[0].load(), 4000);
  EXPECT_EQ(r.parms_words[1].load(), 45);
  EXPECT_EQ(r.parms_words[2].load(), 7);
  EXPECT_EQ(r.parms_words[3].load(), 255);
  EXPECT_EQ(r.parms_other_words.load(), 0);
  r.reset();
}

// Set-up clears whatever the record held and creates the locale services; tear-down
// frees them and leaves the record empty. Without a communication environment the stack
// is not asked to free one.
TEST(CmdSeqEnv, SetUpAndTearDownWithoutACommunicationEnvironment) {
  StrmRecord& r = StrmRecord::get();
  r.reset();
  a_cmdseq_env env;
  env.strm_env = reinterpret_cast<a_strm_env>(0x10);  // garbage the set-up must clear
  env.wait_callback = reinterpret_cast<a_cmdseq_wait_callback>(0x20);
  env.conn_count = 9;
  env.odbc_flag = 3;
  env.out_of_memory = 1;

  ASSERT_EQ(CmdSeqAllocEnv(&env), CMDSEQ_OK);
  EXPECT_EQ(env.strm_env, nullptr);
  EXPECT_EQ(env.notifier, nullptr);
  EXPECT_EQ(env.wait_callback.load(), nullptr);
  EXPECT_EQ(env.conn_count.load(), 0);
  EXPECT_EQ(env.odbc_flag, 0);
  EXPECT_EQ(env.out_of_memory.load(), 0);
  ASSERT_NE(env.pid, nullptr);
  EXPECT_EQ(*env.pid, static_cast<std::uint32_t>(getpid()));
  ASSERT_NE(env.locale, nullptr);
  ASSERT_NE(env.lang, nullptr);
  EXPECT_NE(env.collation, nullptr);
  EXPECT_NE(env.date, nullptr);
  EXPECT_NE(env.os_charset, nullptr);
  EXPECT_NE(env.os_language, nullptr);
  EXPECT_NE(env.log_files, nullptr);
  // The environment's strings read the message files.
  char text[128];
  env.lang->FormatMiscLangStr(18031, text, sizeof text);
  EXPECT_STRNE(text, "");
  ASSERT_EQ(CmdSeqSetAPIName(&env, "QuillonJDBC"), 1);

  EXPECT_EQ(CmdSeqFreeEnv(&env), CMDSEQ_OK);
  EXPECT_EQ(r.free_calls.load(), 0);
  EXPECT_EQ(env.pid, nullptr);
  EXPECT_EQ(env.locale, nullptr);
  EXPECT_EQ(env.lang, nullptr);
  EXPECT_EQ(env.collation, nullptr);
  EXPECT_EQ(env.date, nullptr);
  EXPECT_EQ(env.api_name, nullptr);
  EXPECT_EQ(env.log_files, nullptr);
}

// The environment owns a pool from its set-up on; its tear-down closes every parked
// connection, over any link, and then the pool.
TEST(CmdSeqEnv, TearDownClosesParkedConnectionsAndThePool) {
  a_cmdseq_env env;
  ASSERT_EQ(CmdSeqAllocEnv(&env), CMDSEQ_OK);
  ASSERT_NE(env.conn_pool, nullptr);
  EXPECT_EQ(env.conn_pool->env, &env);
  a_strm_conn_rec streams[2];
  a_cmdseq_conn* parked[] = {ParkNewConnection(env.conn_pool, &streams[0], 0),
                             ParkNewConnection(env.conn_pool, &streams[1], 0)};

  EXPECT_EQ(CmdSeqFreeEnv(&env), CMDSEQ_OK);
  EXPECT_EQ(env.conn_pool, nullptr);
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(streams[i].disconnects, 1);
    EXPECT_EQ(parked[i]->status & CS_STATUS_CONNECTED, 0);
    EXPECT_EQ(parked[i]->release(), 0u);  // the pool's reference went with the close
  }
}

}  // namespace
