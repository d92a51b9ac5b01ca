// The connect road above one attempt: one redirection hop and what the client keeps of
// the first server's parameters, the still-starting retry with its back-off, and the
// connection pool (reuse, park, idle time-out, a failed reuse) over the scripted
// presentation layer.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cmdseq/cmdseq_env.h"
#include "cmdseq/conn_pool.h"
#include "cmdseq/request_log.h"
#include "cmdseq/connect.h"
#include "cmdseq_fixture.h"
#include "config/conn_parms.h"
#include "config/option_tables.h"
#include "strm_fake.h"
#include "utils/base/bounded_strings.h"

namespace {

// --- A scripted attempt --------------------------------------------------------------

struct Attempt {
  std::int32_t sqlcode = 0;                              // error or warning it leaves
  a_cmdseq_return result = CMDSEQ_OK;
  std::vector<std::pair<std::string, std::string>> redirect;  // entries it produces
  bool connection = true;                                // hands out a connection on 0/5
};

struct Script {
  std::vector<Attempt> attempts;
  std::size_t next = 0;
  std::vector<std::string> servers;  // ServerName of each attempt
  std::vector<std::unique_ptr<a_strm_conn_rec>> streams;
  a_cmdseq_env* env = nullptr;
};
Script* g_script = nullptr;

a_cmdseq_return Scripted(a_cmdseq_conn** conn, a_cmdseq_error_info* err,
                         a_cmdseq_strconn_param* param, int,
                         c_cmdseq_redirect_server_list* redirect) {
  Script& s = *g_script;
  const char* eng = param->parms->getString(kSlotServerName);
  s.servers.emplace_back(eng != nullptr ? eng : "<none>");
  if (s.next >= s.attempts.size()) {
    ADD_FAILURE() << "more attempts than scripted";
    return CMDSEQ_COMM_FAILURE;
  }
  const Attempt& a = s.attempts[s.next++];
  if (a.sqlcode != 0) i_cs_SetErrorInfo(err, a.sqlcode);
  for (const auto& e : a.redirect) {
    redirect->add(new c_cmdseq_redirect_server(ut_strdup(e.first.c_str()),
                                               ut_strdup(e.second.c_str())));
  }
  if ((a.result == CMDSEQ_OK || a.result == CMDSEQ_WARNING) && a.redirect.empty() &&
      a.connection) {
    s.streams.push_back(std::make_unique<a_strm_conn_rec>());
    *conn = new a_cmdseq_conn(s.env, s.streams.back().get());
    (*conn)->server_strm_ver = 15;
  }
  return a.result;
}

std::vector<unsigned> g_sleeps;
void RecordSleep(unsigned ms) { g_sleeps.push_back(ms); }

struct RoadFixture : ::testing::Test {
  a_cmdseq_env env;
  a_cmdseq_error_info err;
  c_conn_parms parms;
  a_cmdseq_strconn_param param{};
  Script script;
  a_cmdseq_conn* conn = nullptr;

  void SetUp() override {
    CmdSeqInitErrorParam(&env, &err, 0);
    script.env = &env;
    g_script = &script;
    g_sleeps.clear();
    i_cs_SetConnectAttempt(Scripted);
    i_cs_SetConnectSleep(RecordSleep);
    param.parms = &parms;
    param.env = &env;
    param.allow_server_start = param.allow_database_start = 1;
  }
  void TearDown() override {
    if (conn != nullptr) (void)CmdSeqDropConnection(conn, &err);
    i_cs_SetConnectAttempt(nullptr);
    i_cs_SetConnectSleep(nullptr);
    CmdSeqFiniErrorParam(&err);
    g_script = nullptr;
  }
  const char* Slot(int slot) {
    const char* v = parms.getString(slot);
    return v != nullptr ? v : "<unset>";
  }
};

TEST_F(RoadFixture, OneHopTakesTheSecondEntryAndKeepsTheUser) {
  ASSERT_EQ(parms.init("UID=dba;PWD=sql;ENG=first;DBN=orig;LINKS=shmem;Host=h0;NODE=primary",
                       false),
            0);
  script.attempts = {
      {0, CMDSEQ_OK, {{"alpha", "Host=127.0.0.1:5000;DBN=a;LINKS=tcpip"}, {"beta", "DBN=b"}}},
      {-100, CMDSEQ_COMM_FAILURE, {}},
      {0, CMDSEQ_OK, {}},
  };
  EXPECT_EQ(i_cs_StringConnect(&conn, &err, &param, 0), CMDSEQ_OK);
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(script.servers, (std::vector<std::string>{"first", "alpha", "beta"}));
  EXPECT_STREQ(Slot(kSlotServerName), "beta");
  EXPECT_STREQ(Slot(kSlotDatabaseName), "b");
  EXPECT_STREQ(Slot(kSlotCommLinks), "<unset>");  // the entry names no links
  EXPECT_STREQ(Slot(kCsSlotHost), "<unset>");
  EXPECT_STREQ(Slot(kCsSlotNodeType), "<unset>");
  EXPECT_STREQ(Slot(kSlotUserID), "dba");
  EXPECT_STREQ(Slot(kSlotPassword), "sql");
  EXPECT_EQ(err.sqlcode, 0);  // the refusal of the first entry is forgotten
}

TEST_F(RoadFixture, RedirectionOutcomes) {
  struct Case {
    const char* name;
    std::vector<Attempt> attempts;
    a_cmdseq_return result;
    std::int32_t sqlcode;
    std::size_t attempts_made;
  };
  const std::vector<std::pair<std::string, std::string>> two = {{"a", "DBN=x"}, {"b", "DBN=y"}};
  const Case kCases[] = {
      {"a second redirection ends the connect", {{0, CMDSEQ_OK, two}, {0, CMDSEQ_OK, two}},
       CMDSEQ_COMM_FAILURE, -1380, 2},
      {"every entry refuses",
       {{0, CMDSEQ_OK, two}, {-103, CMDSEQ_ERROR, {}}, {-83, CMDSEQ_ERROR, {}}},
       CMDSEQ_COMM_FAILURE, -83, 3},
      {"an entry whose text does not parse is passed over",
       {{0, CMDSEQ_OK, {{"bad", "DBN=(unclosed"}, {"good", "DBN=g"}}}, {0, CMDSEQ_WARNING, {}}},
       CMDSEQ_WARNING, 0, 2},
      {"a failure without a list stays", {{-100, CMDSEQ_COMM_FAILURE, {}}}, CMDSEQ_COMM_FAILURE,
       -100, 1},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    parms.clear();
    ASSERT_EQ(parms.init("UID=dba;PWD=sql", false), 0);
    CmdSeqResetErrorParam(&err, nullptr);
    script.attempts = k.attempts;
    script.next = 0;
    script.servers.clear();
    EXPECT_EQ(i_cs_StringConnect(&conn, &err, &param, 0), k.result);
    EXPECT_EQ(err.sqlcode, k.sqlcode);
    EXPECT_EQ(script.next, k.attempts_made);
    if (conn != nullptr) {
      EXPECT_TRUE(k.result == CMDSEQ_OK || k.result == CMDSEQ_WARNING);
      (void)CmdSeqDropConnection(conn, &err);
      conn = nullptr;
    }
  }
}

TEST_F(RoadFixture, StillStartingIsRetriedWithAGrowingPause) {
  ASSERT_EQ(parms.init("UID=dba;PWD=sql", false), 0);
  script.attempts = {{-77, CMDSEQ_ERROR, {}}, {-77, CMDSEQ_ERROR, {}}, {-77, CMDSEQ_ERROR, {}},
                     {0, CMDSEQ_OK, {}}};
  EXPECT_EQ(CmdSeqStringConnect(&conn, &err, &param), CMDSEQ_OK);
  EXPECT_NE(conn, nullptr);
  EXPECT_EQ(g_sleeps, (std::vector<unsigned>{100, 200, 400}));
}

TEST_F(RoadFixture, StillStartingGivesUpAfterTenConnects) {
  ASSERT_EQ(parms.init("UID=dba;PWD=sql", false), 0);
  script.attempts.assign(10, Attempt{-77, CMDSEQ_ERROR, {}});
  EXPECT_EQ(CmdSeqStringConnect(&conn, &err, &param), CMDSEQ_ERROR);
  EXPECT_EQ(conn, nullptr);
  EXPECT_EQ(script.next, 10u);
  EXPECT_EQ(g_sleeps, (std::vector<unsigned>{100, 200, 400, 800, 1600, 2000, 2000, 2000, 2000}));
}

// --- The pool ---------------------------------------------------------------------------

std::uint64_t g_now_ms = 0;
std::uint64_t FakeClock() { return g_now_ms; }

struct PoolFixture : RoadFixture {
  a_cmdseq_conn_pool* pool = nullptr;
  void SetUp() override {
    RoadFixture::SetUp();
    pool = new a_cmdseq_conn_pool(&env);
    env.conn_pool = pool;
    g_now_ms = 1000000;
    i_cs_SetPoolClock(FakeClock);
  }
  void TearDown() override {
    RoadFixture::TearDown();
    delete pool;
    env.conn_pool = nullptr;
    i_cs_SetPoolClock(nullptr);
  }
  a_strm_conn_rec& Stream(a_cmdseq_conn* c) { return *c->strm_conn; }
  // Connect (the attempt succeeds when asked) and disconnect; the park exchange is
  // answered when the connection is to be parked.
  a_cmdseq_conn* Connect() {
    script.attempts.push_back({0, CMDSEQ_OK, {}});
    a_cmdseq_conn* c = nullptr;
    EXPECT_EQ(CmdSeqStringConnect(&c, &err, &param), CMDSEQ_OK);
    return c;
  }
};

TEST_F(PoolFixture, FifthDisconnectParksAndTheNextConnectReusesIt) {
  ASSERT_EQ(parms.init("UID=dba;PWD=sql;CON=first", false), 0);
  for (int i = 0; i < 4; ++i) {
    a_cmdseq_conn* c = Connect();
    ASSERT_NE(c, nullptr);
    a_strm_conn_rec& s = Stream(c);
    s.item(66).item(0).sync();  // the disconnect's reply
    EXPECT_EQ(CmdSeqDisconnect(c, &err), CMDSEQ_OK);
    EXPECT_EQ(s.disconnects, 1) << "connect " << i + 1 << " disconnects normally";
  }
  a_cmdseq_conn* c = Connect();
  a_strm_conn_rec& s = Stream(c);
  s.item(66).item(0).sync();  // the park's reply
  EXPECT_EQ(CmdSeqDisconnect(c, &err), CMDSEQ_OK);
  EXPECT_EQ(s.disconnects, 0);
  ASSERT_EQ(s.sent.size(), 2u);
  EXPECT_EQ(s.sent[0].code, CS_ITEM_POOL_PARK);
  EXPECT_EQ(s.sent[0].bytes, le16(0));
  EXPECT_EQ(pool->idle_count, 1);

  // Another connection name, same string otherwise: the parked connection comes back.
  parms.setString(kSlotConnectionName, "second");
  s.sent.clear();
  s.item(CS_ITEM_HANDLE, le32(42)).item(66).item(67, le32(0) + Bytes{19}).item(0).sync();
  a_cmdseq_conn* again = nullptr;
  const std::size_t attempts = script.next;
  EXPECT_EQ(CmdSeqStringConnect(&again, &err, &param), CMDSEQ_OK);
  EXPECT_EQ(again, c);
  EXPECT_EQ(script.next, attempts);  // no connect was made
  ASSERT_EQ(s.sent.size(), 3u);
  EXPECT_EQ(s.sent[0].code, CS_ITEM_POOL_REUSE);
  EXPECT_EQ(s.sent[1].code, CS_ITEM_SERVER_NAME);
  EXPECT_EQ(s.sent[1].bytes, text_bytes("second"));
  EXPECT_EQ(again->server_handle, 42u);
  EXPECT_EQ(pool->idle_count, 0);
  conn = again;
}

TEST_F(PoolFixture, FailedReuseDropsTheIdleConnectionAndConnectsAfresh) {
  ASSERT_EQ(parms.init("UID=dba;PWD=sql;CPOOL='YES(MaxCached=3;StartCachingAfter=1)'", false), 0);
  a_cmdseq_conn* c = Connect();
  CmdSeqConnAddRef(c);  // the test keeps the object to look at it after the drop
  a_strm_conn_rec& s = Stream(c);
  s.item(66).item(0).sync();
  ASSERT_EQ(CmdSeqDisconnect(c, &err), CMDSEQ_OK);
  ASSERT_EQ(pool->idle_count, 1);
  // The server refuses the reuse.
  s.item(CS_ITEM_HANDLE, le32(1)).item(65, error_record(-103, "28000", "28000", "28000"));
  s.item(0).item(0).item(0).sync();
  a_cmdseq_conn* fresh = Connect();
  ASSERT_NE(fresh, nullptr);
  EXPECT_NE(fresh, c);
  EXPECT_EQ(s.disconnects, 1);            // the refused connection's stream is closed
  EXPECT_EQ(CmdSeqConnIsValid(c), 0);     // and the pool's reference is gone with it
  EXPECT_EQ(CmdSeqConnRelease(c), 0);     // ours was the last
  EXPECT_EQ(pool->idle_count, 0);
  conn = fresh;
}

TEST_F(PoolFixture, ReuseOverALostConnection) {
  ASSERT_EQ(parms.init("UID=dba;PWD=sql;CPOOL='YES(StartCachingAfter=1)'", false), 0);
  a_cmdseq_conn* c = Connect();
  a_strm_conn_rec& s = Stream(c);
  s.item(66).item(0).sync();
  ASSERT_EQ(CmdSeqDisconnect(c, &err), CMDSEQ_OK);
  s.fail(SQLPRES_FAILED);  // the parked connection died meanwhile; only the pool held it
  a_cmdseq_conn* fresh = Connect();
  ASSERT_NE(fresh, nullptr);
  EXPECT_NE(fresh->strm_conn, &s);  // a new connection (the old one's memory is gone)
  EXPECT_EQ(s.disconnects, 1);
  EXPECT_EQ(pool->idle_count, 0);
  conn = fresh;
}

TEST_F(PoolFixture, ParkOverALostConnection) {
  ASSERT_EQ(parms.init("UID=dba;PWD=sql;CPOOL='YES(StartCachingAfter=1)'", false), 0);
  a_cmdseq_conn* c = Connect();
  a_strm_conn_rec& s = Stream(c);
  s.fail(SQLPRES_FAILED);
  EXPECT_EQ(CmdSeqDisconnect(c, &err), CMDSEQ_NOT_CONNECTED);
  EXPECT_EQ(s.disconnects, 1);
  EXPECT_EQ(pool->idle_count, 0);
}

TEST_F(PoolFixture, IdleConnectionsTimeOut) {
  ASSERT_EQ(parms.init("UID=dba;PWD=sql;CPOOL='YES(TO=2;StartCachingAfter=1)'", false), 0);
  a_cmdseq_conn* c = Connect();
  a_strm_conn_rec& s = Stream(c);
  s.item(66).item(0).sync();
  ASSERT_EQ(CmdSeqDisconnect(c, &err), CMDSEQ_OK);
  // A time-out below 5 seconds counts as 5.
  g_now_ms += 5000;
  EXPECT_TRUE(pool->drop_timedout());
  EXPECT_EQ(s.disconnects, 0);
  g_now_ms += 1;
  EXPECT_FALSE(pool->drop_timedout());
  EXPECT_EQ(s.disconnects, 1);
  EXPECT_EQ(pool->idle_count, 0);
}

TEST_F(PoolFixture, EmptyingTakesTcpConnectionsOrAll) {
  ASSERT_EQ(parms.init("UID=dba;PWD=sql;CPOOL='YES(StartCachingAfter=1)'", false), 0);
  std::vector<a_strm_conn_rec*> streams;
  std::vector<a_cmdseq_conn*> conns = {Connect(), Connect()};
  for (a_cmdseq_conn* c : conns) {
    streams.push_back(&Stream(c));
    streams.back()->item(66).item(0).sync();
    ASSERT_EQ(CmdSeqDisconnect(c, &err), CMDSEQ_OK);
  }
  ASSERT_EQ(pool->idle_count, 2);
  strm_fake().port_type = 2;  // shared memory: the TCP/IP emptying leaves them
  pool->drop_cached(true);
  EXPECT_EQ(pool->idle_count, 2);
  strm_fake().port_type = 6;
  pool->drop_cached(true);
  EXPECT_EQ(pool->idle_count, 0);
  for (a_strm_conn_rec* s : streams) EXPECT_EQ(s->disconnects, 1);
  strm_fake_reset();
}

TEST_F(PoolFixture, NotPooled) {
  struct Case {
    const char* name;
    const char* parms;
    std::uint16_t level;
  };
  const Case kCases[] = {
      {"pooling off", "UID=dba;CPOOL=NO", 15},
      {"a server below level 15", "UID=dba;CPOOL='YES(StartCachingAfter=1)'", 14},
      {"a connection name of 63 bytes",
       "UID=dba;CPOOL='YES(StartCachingAfter=1)';CON=ccccccccccccccccccccccccccccccccccccccccccc"
       "cccccccccccccccccccc",
       15},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    parms.clear();
    ASSERT_EQ(parms.init(k.parms, false), 0);
    a_cmdseq_conn* c = Connect();
    ASSERT_NE(c, nullptr);
    c->server_strm_ver = k.level;
    a_strm_conn_rec& s = Stream(c);
    s.item(66).item(0).sync();
    EXPECT_EQ(CmdSeqDisconnect(c, &err), CMDSEQ_OK);
    EXPECT_EQ(s.disconnects, 1);
    EXPECT_EQ(pool->idle_count, 0);
  }
}

// A parked connection whose character set was changed gets the client character set back
// ahead of the reuse, in the same exchange; the controlling application types (3 and 4)
// ask for it only when the connection name holds a byte above 127.
TEST_F(PoolFixture, ReuseGivesAChangedCharacterSetBack) {
  struct Case {
    const char* name;
    std::uint32_t app_type;
    const char* charset;   // Charset parameter, or null
    const char* con;       // connection name at the reuse
    const char* expected;  // the set sent; null: none sent; "" any but "local"
  };
  const Case kCases[] = {
      {"given charset", 2, "utf8", "again", "utf8"},
      {"local means the system's", 1, "local", "again", ""},
      {"no charset: the system's", 2, nullptr, "again", ""},
      {"type 3, plain name", 3, "utf8", "again", nullptr},
      {"type 4, name above 127", 4, "utf8", "caf\xc3\xa9", "utf8"},
  };
  const std::uint32_t app_before = i_cs_GetAppType();
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    parms.clear();
    std::string text = "UID=dba;PWD=sql;CPOOL='YES(StartCachingAfter=1)'";
    if (k.charset != nullptr) text += std::string(";CS=") + k.charset;
    ASSERT_EQ(parms.init(text.c_str(), false), 0);
    delete pool;  // a pool of this case's own
    pool = new a_cmdseq_conn_pool(&env);
    env.conn_pool = pool;
    i_cs_SetAppType(k.app_type);
    a_cmdseq_conn* c = Connect();
    ASSERT_NE(c, nullptr);
    c->status |= CS_STATUS_CHARSET_CHANGED;
    a_strm_conn_rec& s = Stream(c);
    s.item(66).item(0).sync();
    ASSERT_EQ(CmdSeqDisconnect(c, &err), CMDSEQ_OK);
    ASSERT_EQ(pool->idle_count, 1);
    s.sent.clear();
    parms.setString(kSlotConnectionName, k.con);
    if (k.expected != nullptr) s.item(CS_ITEM_PARAM, std::string("label")).item(66).item(0);
    s.item(CS_ITEM_HANDLE, le32(7)).item(66).item(0).sync();
    a_cmdseq_conn* again = nullptr;
    EXPECT_EQ(CmdSeqStringConnect(&again, &err, &param), CMDSEQ_OK);
    ASSERT_EQ(again, c);
    std::vector<int> codes;
    for (const auto& x : s.sent) codes.push_back(x.code);
    if (k.expected == nullptr) {
      EXPECT_EQ(codes, (std::vector<int>{CS_ITEM_POOL_REUSE, CS_ITEM_SERVER_NAME, -1}));
      EXPECT_NE(again->status & CS_STATUS_CHARSET_CHANGED, 0);  // still to be given back
    } else {
      EXPECT_EQ(codes, (std::vector<int>{4, CS_ITEM_POOL_REUSE, CS_ITEM_SERVER_NAME, -1}));
      ASSERT_FALSE(s.sent.empty());
      const Bytes& sent = s.sent[0].bytes;
      ASSERT_FALSE(sent.empty());
      EXPECT_EQ(sent.back(), 0);  // the name goes with its terminator
      const std::string set(sent.begin(), sent.end() - 1);
      if (*k.expected != '\0') {
        EXPECT_EQ(set, k.expected);
      } else {
        EXPECT_FALSE(set.empty());
        EXPECT_NE(set, "local");
      }
      EXPECT_EQ(again->status & CS_STATUS_CHARSET_CHANGED, 0);
    }
    EXPECT_EQ(again->server_handle, 7u);
    EXPECT_TRUE(s.script_done());
    (void)CmdSeqDropConnection(again, &err);
  }
  i_cs_SetAppType(app_before);
}

// A server that refuses the character set fails the reuse: the idle connection is closed
// and the connect is made afresh.
TEST_F(PoolFixture, RefusedCharacterSetClosesTheIdleConnection) {
  ASSERT_EQ(parms.init("UID=dba;PWD=sql;CS=utf8;CPOOL='YES(StartCachingAfter=1)'", false), 0);
  a_cmdseq_conn* c = Connect();
  c->status |= CS_STATUS_CHARSET_CHANGED;
  a_strm_conn_rec& s = Stream(c);
  s.item(66).item(0).sync();
  ASSERT_EQ(CmdSeqDisconnect(c, &err), CMDSEQ_OK);
  s.item(CS_ITEM_PARAM, std::string("utf8"));
  s.item(65, error_record(-869, "08W10", "08001", "08001")).item(0).item(0).item(0);
  s.item(CS_ITEM_HANDLE, le32(7)).item(66).item(0).sync();
  a_cmdseq_conn* fresh = Connect();
  ASSERT_NE(fresh, nullptr);
  EXPECT_NE(fresh->strm_conn, &s);
  EXPECT_EQ(s.disconnects, 1);
  EXPECT_EQ(pool->idle_count, 0);
  conn = fresh;
}

TEST_F(PoolFixture, BadPoolSettingFailsTheConnect) {
  ASSERT_EQ(parms.init("UID=dba;CPOOL='maybe'", false), 0);
  a_cmdseq_conn* c = nullptr;
  EXPECT_EQ(CmdSeqStringConnect(&c, &err, &param), CMDSEQ_ERROR);
  EXPECT_EQ(err.sqlcode, -95);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(script.next, 0u);
}

TEST_F(PoolFixture, PooledStringsHideThePassword) {
  ASSERT_EQ(parms.init("UID=dba;PWD=secretword", false), 0);
  conn = Connect();
  ASSERT_NE(conn->pooled_str, nullptr);
  const a_cmdseq_pooled_conn_str* e = conn->pooled_str;
  const std::string stored(reinterpret_cast<const char*>(e->conn_str), e->length);
  EXPECT_EQ(stored.find("secretword"), std::string::npos);
  EXPECT_EQ(stored.size(), std::string("UID=dba;PWD=secretword").size());
}

// --- The fetch settings' log line ------------------------------------------------------

// The line names the close mode the settings left on the connection; its message text
// takes that value, and a line written without it made the formatter read an argument
// that was never passed.
TEST(FetchSettings, LogLineNamesTheCloseMode) {
  a_cmdseq_env env;
  ASSERT_EQ(CmdSeqAllocEnv(&env), CMDSEQ_OK);
  char dir[] = "/tmp/vq_fetch_settings_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const struct {
    const char* lazy_close;  // null: not given
    int close_mode;
  } cases[] = {{"YES", 2}, {"no", 0}, {"AUTO", 1}, {nullptr, 1}};
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lazy_close != nullptr ? c.lazy_close : "<unset>");
    const std::string log = std::string(dir) + "/log" + std::to_string(++n);
    c_conn_parms parms;
    std::string text = "LogFile=" + log;
    if (c.lazy_close != nullptr) text += std::string(";LazyClose=") + c.lazy_close;
    ASSERT_EQ(parms.init(text.c_str(), false), 0);
    a_cmdseq_error_info err;
    CmdSeqInitErrorParam(&env, &err, 0);
    a_cmdseq_conn_attrib* attrib = CmdSeqCreateConnAttributes(&parms, &env, &err);
    ASSERT_NE(attrib, nullptr);
    a_strm_conn_rec stream;
    auto* conn = new a_cmdseq_conn(&env, &stream);
    i_cs_ApplyFetchSettings(conn, &parms, attrib);
    EXPECT_EQ(conn->close_mode, c.close_mode);
    CmdSeqFreeConnAttributes(attrib);
    CmdSeqFiniErrorParam(&err);
    EXPECT_EQ(conn->release(), 0u);

    std::ifstream in(log);
    std::string lines((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(lines.find("Lazy close setting: " + std::to_string(c.close_mode) + "\n"),
              std::string::npos)
        << lines;
    std::remove(log.c_str());
  }
  rmdir(dir);
  EXPECT_EQ(CmdSeqFreeEnv(&env), CMDSEQ_OK);
}

}  // namespace
