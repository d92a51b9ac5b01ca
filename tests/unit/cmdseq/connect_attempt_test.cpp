// One connect attempt over the scripted presentation layer, with the server found through
// a scripted engine connect: success, refusals, the database start and its retries, a
// redirection, no server at all. Every failed attempt leaves no connection behind.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cmdseq/cmdseq_env.h"
#include "cmdseq/connect.h"
#include "cmdseq/errors/error_table.h"
#include "cmdseq_fixture.h"
#include "config/conn_parms.h"
#include "config/option_tables.h"
#include "scoped_environment.h"
#include "strm_fake.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/utlocale.h"

namespace {

// The servers the scripted engine connect finds, in order; null: none answers.
struct Servers {
  std::deque<a_strm_conn_rec*> found;
  std::vector<a_cmdseq_conn*> made;
  int calls = 0;
  bool keep = true;  // the test keeps a reference of its own to each connection
  std::vector<std::string> names;  // ServerName as each stream connect saw it
};
Servers* g_servers = nullptr;

a_cmdseq_conn* ScriptedEngine(a_cmdseq_env* env, c_conn_parms* parms, a_cmdseq_error_info*,
                              a_cmdseq_conn_attrib*, const a_cmdseq_strconn_param*) {
  ++g_servers->calls;
  const char* eng = parms->getString(kSlotServerName);
  g_servers->names.emplace_back(eng != nullptr ? eng : "<none>");
  if (g_servers->found.empty()) return nullptr;
  a_strm_conn_rec* s = g_servers->found.front();
  g_servers->found.pop_front();
  if (s == nullptr) return nullptr;
  auto* conn = new a_cmdseq_conn(env, s);
  conn->server_strm_ver = 15;
  if (g_servers->keep) {
    conn->add_ref();  // the test's own, to look at the connection afterwards
    g_servers->made.push_back(conn);
  }
  return conn;
}

struct AttemptFixture : ::testing::Test {
  a_cmdseq_env env;
  a_cmdseq_error_info err;
  c_conn_parms parms;
  a_cmdseq_strconn_param param{};
  Servers servers;
  a_strm_conn_rec s1, s2;
  a_cmdseq_conn* conn = nullptr;

  void SetUp() override {
    strm_fake_reset();
    strm_fake().random = Bytes(32, 0x5A);
    env.app_type = 2;
    CmdSeqInitErrorParam(&env, &err, 0);
    g_servers = &servers;
    i_cs_SetEngineConnect(ScriptedEngine);
    param.parms = &parms;
    param.env = &env;
    param.allow_server_start = param.allow_database_start = 1;
  }
  void TearDown() override {
    if (conn != nullptr) (void)CmdSeqDropConnection(conn, &err);
    for (a_cmdseq_conn* c : servers.made) c->release();
    i_cs_SetEngineConnect(nullptr);
    CmdSeqFiniErrorParam(&err);
    strm_fake_reset();
  }
  std::vector<int> Codes(const a_strm_conn_rec& s) {
    std::vector<int> out;
    for (const auto& x : s.sent) out.push_back(x.code);
    return out;
  }
  void Refusal(a_strm_conn_rec& s, std::int32_t code) {
    s.item(133, le32(1)).item(65, error_record(code, "08W10", "08001", "08001")).item(0).item(0);
    s.item(0).sync();
  }
  void Success(a_strm_conn_rec& s) { s.item(133, le32(9)).item(66).item(0).sync(); }
};

// With a log, the connect writes the application information under its heading, whole,
// on a line of its own: a message line holds 256 characters, which it often outgrows.
TEST_F(AttemptFixture, LogShowsTheApplicationInformationWhole) {
  ASSERT_EQ(CmdSeqAllocEnv(&env), CMDSEQ_OK);  // the message strings
  env.app_type = 2;
  char dir[] = "/tmp/vq_attempt_log_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string log = std::string(dir) + "/client.log";
  const std::string appinfo(300, 'q');
  ASSERT_EQ(parms.init(("UID=dba;PWD=sql;LogFile=" + log).c_str(), false), 0);
  parms.setString(kCsSlotAppInfo, appinfo.c_str());
  servers.found = {&s1};
  Success(s1);
  EXPECT_EQ(i_cs_Connect(&conn, &err, &param, 0, nullptr), CMDSEQ_OK);
  (void)CmdSeqDropConnection(conn, &err);
  conn = nullptr;

  std::ifstream in(log);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const auto heading = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("Application information") != std::string::npos;
  });
  ASSERT_NE(heading, lines.end());
  EXPECT_EQ(heading->substr(heading->find("Application")), "Application information:");
  ASSERT_NE(heading + 1, lines.end());
  const std::string tail = ";APPINFO=" + appinfo;
  EXPECT_GE((heading + 1)->size(), tail.size());
  EXPECT_EQ((heading + 1)->compare((heading + 1)->size() - tail.size(), tail.size(), tail), 0)
      << *(heading + 1);
  std::remove(log.c_str());
  rmdir(dir);
  for (a_cmdseq_conn* c : servers.made) c->release();
  servers.made.clear();
  EXPECT_EQ(CmdSeqFreeEnv(&env), CMDSEQ_OK);
}

TEST_F(AttemptFixture, ConnectsToTheServerFound) {
  ASSERT_EQ(parms.init("UID=dba;PWD=sql;DMRF=yes", false), 0);
  servers.found = {&s1};
  Success(s1);
  EXPECT_EQ(i_cs_Connect(&conn, &err, &param, 0, nullptr), CMDSEQ_OK);
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(Codes(s1), (std::vector<int>{16, 133, 20, -1}));
  EXPECT_EQ(conn->status & CS_STATUS_MULTIROW, 0);  // DisableMultiRowFetch
  EXPECT_EQ(conn->server_handle, 9u);
  EXPECT_EQ(param.server_started, 0u);
}

// The connection's fetch settings come from its parameters at connect; a prefetch buffer
// below 64 KiB is raised and the slot rewritten, and LazyClose AUTO keeps the connection's
// own close mode.
TEST_F(AttemptFixture, FetchSettingsFollowTheParameters) {
  struct Case {
    const char* extra;
    std::uint16_t rows;
    std::uint32_t budget;
    std::uint8_t close_mode;
  };
  const Case cases[] = {
      {"", 10, 524288, 1},
      {";PROWS=50;PBUF=1000", 50, 65536, 1},
      {";PBUF=0", 10, 65536, 1},
      {";PBUF=2M;PROWS=0", 0, 2 * 1024 * 1024, 1},
      {";LCLOSE=yes", 10, 524288, 2},
      {";LCLOSE=no", 10, 524288, 0},
      {";LCLOSE=auto", 10, 524288, 1},
  };
  servers.keep = false;  // each connection goes with its drop below
  for (const Case& k : cases) {
    SCOPED_TRACE(k.extra);
    parms.clear();
    ASSERT_EQ(parms.init((std::string("UID=dba;PWD=sql") + k.extra).c_str(), false), 0);
    a_strm_conn_rec s;
    servers.found = {&s};
    Success(s);
    ASSERT_EQ(i_cs_Connect(&conn, &err, &param, 0, nullptr), CMDSEQ_OK);
    ASSERT_NE(conn, nullptr);
    EXPECT_EQ(conn->prefetch_rows, k.rows);
    EXPECT_EQ(conn->fetch_budget, k.budget);
    EXPECT_EQ(conn->close_mode, k.close_mode);
    EXPECT_EQ(static_cast<std::uint32_t>(parms.getInt(kSlotPrefetchBuffer)), k.budget);
    (void)CmdSeqDropConnection(conn, &err);
    conn = nullptr;
  }
}

// An expired password with NewPassword "*" asks the prompt; without one (the default) or
// when it declines the error stands, and when it accepts the request goes once more.
int g_prompts = 0;
int AcceptPrompt(a_cmdseq_conn*, c_conn_parms* p) {
  ++g_prompts;
  p->setString(kSlotNewPassword, "fresh");
  return 1;
}
int DeclinePrompt(a_cmdseq_conn*, c_conn_parms*) {
  ++g_prompts;
  return 0;
}

TEST_F(AttemptFixture, ExpiredPasswordAsksThePrompt) {
  struct Case {
    const char* name;
    const char* parms;
    a_cs_password_prompt prompt;
    a_cmdseq_return result;
    std::int32_t sqlcode;
    int prompts;
    int requests;
  };
  const Case kCases[] = {
      {"none registered", "UID=dba;PWD=old;NEWPWD=*", nullptr, CMDSEQ_ERROR, -1152, 0, 1},
      {"declines", "UID=dba;PWD=old;NEWPWD=*", DeclinePrompt, CMDSEQ_ERROR, -1152, 1, 1},
      {"accepts", "UID=dba;PWD=old;NEWPWD=*", AcceptPrompt, CMDSEQ_OK, 0, 1, 2},
      {"new password given", "UID=dba;PWD=old;NEWPWD=new", AcceptPrompt, CMDSEQ_ERROR, -1152, 0,
       1},
      {"no new password", "UID=dba;PWD=old", AcceptPrompt, CMDSEQ_ERROR, -1152, 0, 1},
  };
  servers.keep = false;
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    parms.clear();
    ASSERT_EQ(parms.init(k.parms, false), 0);
    CmdSeqResetErrorParam(&err, nullptr);
    g_prompts = 0;
    i_cs_SetPasswordPrompt(k.prompt);
    a_strm_conn_rec s;
    Refusal(s, -1152);
    Success(s);
    servers.found = {&s};
    EXPECT_EQ(i_cs_Connect(&conn, &err, &param, 0, nullptr), k.result);
    EXPECT_EQ(err.sqlcode, k.sqlcode);
    EXPECT_EQ(g_prompts, k.prompts);
    int requests = 0;
    for (const auto& x : s.sent) requests += x.code == CS_ITEM_CONNECT_STRING ? 1 : 0;
    EXPECT_EQ(requests, k.requests);
    if (conn != nullptr) (void)CmdSeqDropConnection(conn, &err);
    conn = nullptr;
  }
  i_cs_SetPasswordPrompt(nullptr);
}

// The stream connect sees the server name in the connection's character set; the
// parameters keep it as given.
TEST_F(AttemptFixture, ServerNameGoesInTheClientCharacterSet) {
  vq::testing::ScopedEnvironment vars;
  vars.Set("VCCHARSET", "UTF-8");
  UTLocale locale;
  env.locale = &locale;
  struct Case {
    const char* parms;
    const char* seen;
  };
  const Case kCases[] = {
      {"UID=dba;PWD=sql;ENG=caf\xc3\xa9;CS=ISO-8859-1", "caf\xe9"},
      {"UID=dba;PWD=sql;ENG=caf\xc3\xa9", "caf\xc3\xa9"},
      {"UID=dba;PWD=sql;ENG=cafe;CS=ISO-8859-1", "cafe"},
  };
  servers.keep = false;
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.parms);
    parms.clear();
    ASSERT_EQ(parms.init(k.parms, false), 0);
    const std::string given = parms.getString(kSlotServerName);
    servers.names.clear();
    a_strm_conn_rec s;
    Success(s);
    servers.found = {&s};
    EXPECT_EQ(i_cs_Connect(&conn, &err, &param, 0, nullptr), CMDSEQ_OK);
    EXPECT_EQ(servers.names, (std::vector<std::string>{k.seen}));
    EXPECT_EQ(std::string(parms.getString(kSlotServerName)), given);
    if (conn != nullptr) (void)CmdSeqDropConnection(conn, &err);
    conn = nullptr;
  }
  env.locale = nullptr;
}

std::vector<std::string> g_lines;
void Line(std::uintptr_t, const char* text) { g_lines.emplace_back(text); }

TEST_F(AttemptFixture, LogShowsTheApplicationInformation) {
  ASSERT_EQ(parms.init("UID=dba;PWD=sql;APP=mine", false), 0);
  g_lines.clear();
  env.debug_message_callback = Line;
  servers.found = {&s1};
  Success(s1);
  EXPECT_EQ(i_cs_Connect(&conn, &err, &param, 0, nullptr), CMDSEQ_OK);
  env.debug_message_callback = nullptr;
  bool app = false;
  for (const std::string& l : g_lines) app = app || (l.find("APPINFO=mine") != std::string::npos);
  EXPECT_TRUE(app) << ::testing::PrintToString(g_lines);
}

// The errors the connect sets itself reach the user with a text from the message files:
// the database not found, the user ID missing, the password part that could not be
// enciphered, and the Kerberos failures.
TEST(ConnectErrors, HaveMessageTexts) {
  a_cmdseq_env env;
  ASSERT_EQ(CmdSeqAllocEnv(&env), CMDSEQ_OK);
  ASSERT_NE(env.lang, nullptr);
  for (const std::int32_t code : {-83, -103, -895, -1069, -1070}) {
    SCOPED_TRACE(code);
    const a_cmdseq_error_map* row = GetErrorMapForSQLCode(code);
    ASSERT_NE(row, nullptr);
    char text[256] = "";
    env.lang->FormatMiscLangStr(static_cast<unsigned long>(row->message_id), text, sizeof text,
                                "a parameter");
    EXPECT_STRNE(text, "");
  }
  EXPECT_EQ(CmdSeqFreeEnv(&env), CMDSEQ_OK);
}

TEST_F(AttemptFixture, FailuresLeaveNoConnection) {
  struct Case {
    const char* name;
    const char* parms;
    std::function<void(a_strm_conn_rec&)> reply;
    a_cmdseq_return result;
    std::int32_t sqlcode;
  };
  const Case kCases[] = {
      {"wrong password", "UID=dba;PWD=x",
       [this](a_strm_conn_rec& s) { Refusal(s, -103); }, CMDSEQ_ERROR, -103},
      {"database not found and no file to start", "UID=dba;PWD=sql;DBN=nope",
       [this](a_strm_conn_rec& s) { Refusal(s, -83); }, CMDSEQ_ERROR, -83},
      {"protocol error", "UID=dba;PWD=sql", [](a_strm_conn_rec& s) { s.item(99).sync(); },
       CMDSEQ_COMM_FAILURE, -105},
      {"connection lost", "UID=dba;PWD=sql", [](a_strm_conn_rec& s) { s.fail(SQLPRES_FAILED); },
       CMDSEQ_COMM_FAILURE, 0 /* any error */},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    parms.clear();
    ASSERT_EQ(parms.init(k.parms, false), 0);
    CmdSeqResetErrorParam(&err, nullptr);
    auto s = std::make_unique<a_strm_conn_rec>();
    k.reply(*s);
    servers.found = {s.get()};
    EXPECT_EQ(i_cs_Connect(&conn, &err, &param, 0, nullptr), k.result);
    EXPECT_EQ(conn, nullptr);
    if (k.sqlcode != 0) {
      EXPECT_EQ(err.sqlcode, k.sqlcode);
    }
    EXPECT_LT(err.sqlcode, 0);
    EXPECT_EQ(s->disconnects, 1);
    ASSERT_FALSE(servers.made.empty());
    EXPECT_EQ(CmdSeqConnIsValid(servers.made.back()), 0);
    for (a_cmdseq_conn* c : servers.made) c->release();
    servers.made.clear();
  }
}

// The connection's only reference is the one the connect hands out: a connection lost in
// the middle of the request must not be touched after the loss removed it.
TEST_F(AttemptFixture, ConnectionLostWithNoOtherHolder) {
  struct Case {
    const char* name;
    const char* parms;
    std::function<void(a_strm_conn_rec&)> reply;
  };
  const Case kCases[] = {
      {"during the request", "UID=dba;PWD=sql", [](a_strm_conn_rec& s) { s.fail(SQLPRES_FAILED); }},
      {"during the database start", "UID=dba;PWD=sql;DBF=x.db",
       [this](a_strm_conn_rec& s) {
         Refusal(s, -83);
         s.fail(SQLPRES_DEAD);
       }},
      {"server closed", "UID=dba;PWD=sql",
       [](a_strm_conn_rec& s) { s.item(64).item(66).sync(); }},
  };
  servers.keep = false;
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    parms.clear();
    ASSERT_EQ(parms.init(k.parms, false), 0);
    CmdSeqResetErrorParam(&err, nullptr);
    auto s = std::make_unique<a_strm_conn_rec>();
    k.reply(*s);
    servers.found = {s.get()};
    const a_cmdseq_return r = i_cs_Connect(&conn, &err, &param, 0, nullptr);
    EXPECT_NE(r, CMDSEQ_OK);
    EXPECT_EQ(conn, nullptr);
    EXPECT_LT(err.sqlcode, 0);
    EXPECT_EQ(s->disconnects + s->discon_responses, 1);
  }
}

TEST_F(AttemptFixture, DatabaseIsStartedAndTheRequestSentAgain) {
  ASSERT_EQ(parms.init("UID=dba;PWD=sql;DBF=/d/demo.db", false), 0);
  servers.found = {&s1};
  Refusal(s1, -83);
  s1.item(66).item(0).sync();  // the start-database reply
  Success(s1);
  EXPECT_EQ(i_cs_Connect(&conn, &err, &param, 0, nullptr), CMDSEQ_OK);
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(Codes(s1), (std::vector<int>{16, 133, 20, -1, 7, -1, 16, 133, 20, -1}));
  EXPECT_EQ(err.sqlcode, 0);
}

TEST_F(AttemptFixture, DatabaseStartThatFailsDropsTheConnection) {
  ASSERT_EQ(parms.init("UID=dba;PWD=sql;DBF=/d/demo.db", false), 0);
  servers.found = {&s1};
  Refusal(s1, -83);
  s1.item(65, error_record(-82, "08W09", "08001", "08001")).item(0).item(0).item(0).sync();
  EXPECT_EQ(i_cs_Connect(&conn, &err, &param, 0, nullptr), CMDSEQ_ERROR);
  EXPECT_EQ(conn, nullptr);
  EXPECT_EQ(err.sqlcode, -82);
  EXPECT_EQ(s1.disconnects, 1);
}

TEST_F(AttemptFixture, DatabaseStillNotFoundIsRetriedTenTimes) {
  ASSERT_EQ(parms.init("UID=dba;PWD=sql;DBF=/d/demo.db", false), 0);
  servers.found = {&s1};
  Refusal(s1, -83);
  for (int i = 0; i < 10; ++i) {
    s1.item(66).item(0).sync();
    Refusal(s1, -83);
  }
  EXPECT_EQ(i_cs_Connect(&conn, &err, &param, 0, nullptr), CMDSEQ_ERROR);
  EXPECT_EQ(conn, nullptr);
  EXPECT_EQ(err.sqlcode, -83);
  EXPECT_TRUE(s1.script_done());
  EXPECT_EQ(s1.disconnects, 1);
}

TEST_F(AttemptFixture, RedirectionDropsTheConnectionAndHandsOnTheList) {
  ASSERT_EQ(parms.init("UID=dba;PWD=sql", false), 0);
  servers.found = {&s1};
  s1.item(134, "other").item(107, "Host=127.0.0.1:5001").item(0).item(66).item(0).sync();
  c_cmdseq_redirect_server_list list;
  EXPECT_EQ(i_cs_Connect(&conn, &err, &param, 0, &list), CMDSEQ_OK);
  EXPECT_EQ(conn, nullptr);
  EXPECT_EQ(list.count, 1u);
  EXPECT_EQ(s1.disconnects, 1);
}

TEST_F(AttemptFixture, NoServerAndNoStart) {
  struct Case {
    const char* name;
    const char* parms;
    std::int32_t sqlcode;
  };
  const Case kCases[] = {
      {"nothing to start", "UID=dba;ASTART=no", -100},
      {"over TCP/IP no start is tried", "UID=dba;LINKS=tcpip;DBF=x.db", -100},
      {"a named database alone starts nothing", "UID=dba;DBN=demo", -100},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    parms.clear();
    ASSERT_EQ(parms.init(k.parms, false), 0);
    CmdSeqResetErrorParam(&err, nullptr);
    servers.found.clear();
    servers.calls = 0;
    EXPECT_EQ(i_cs_Connect(&conn, &err, &param, 0, nullptr), CMDSEQ_COMM_FAILURE);
    EXPECT_EQ(err.sqlcode, k.sqlcode);
    EXPECT_EQ(servers.calls, 1);
    EXPECT_EQ(param.server_started, 0u);
  }
}

}  // namespace

namespace {

TEST_F(AttemptFixture, ControlOperations) {
  a_cmdseq_engine_ctl rec{};
  rec.env = &env;
  rec.parms = &parms;
  rec.server_name = "srv";

  // Find: a connection of its own, command 1, dropped.
  s1.item(66).item(0).sync();
  servers.found = {&s1};
  EXPECT_EQ(CmdSeqFindEngine(&err, &rec), CMDSEQ_OK);
  EXPECT_EQ(Codes(s1), (std::vector<int>{CS_ITEM_FIND_SERVER, -1}));
  EXPECT_EQ(s1.disconnects, 1);
  servers.found.clear();
  EXPECT_EQ(CmdSeqFindEngine(&err, &rec), CMDSEQ_ERROR);
  EXPECT_EQ(err.sqlcode, -100);

  // Stop the server over the caller's connection to it: the caller keeps it.
  CmdSeqResetErrorParam(&err, nullptr);
  ASSERT_EQ(parms.init("UID=dba;ENG=double;LTO=60;ENC=simple", false), 0);
  CmdSeqConn given;
  given.sconn.item(66).item(0).sync();
  rec.unconditional = 1;
  EXPECT_EQ(CmdSeqStopEngine(given.conn, &err, &rec), CMDSEQ_OK);
  EXPECT_EQ(given.sconn.sent[0].code, CS_ITEM_SHUTDOWN);
  EXPECT_EQ(given.sconn.sent[0].bytes, Bytes{1});
  EXPECT_EQ(given.sconn.disconnects, 0);

  // Stop a database on another server: a control connection, dropped; the caller's
  // parameters come back unchanged.
  parms.clear();
  ASSERT_EQ(parms.init("UID=dba;ENG=other;DBN=demo;LTO=60;ENC=simple", false), 0);
  s2.item(66).item(0).sync();
  servers.found = {&s2};
  EXPECT_EQ(CmdSeqStopDatabase(given.conn, &err, &rec), CMDSEQ_OK);
  EXPECT_EQ(Codes(s2), (std::vector<int>{CS_ITEM_STOP_DATABASE, CS_ITEM_SERVER_NAME, -1}));
  EXPECT_EQ(s2.disconnects, 1);
  EXPECT_EQ(parms.getInt(kSlotLivenessTimeout), 60);
  EXPECT_STREQ(parms.getString(kSlotEncryption), "simple");

  // Start a database: a file is required.
  EXPECT_EQ(CmdSeqStartDatabase(given.conn, &err, &rec), CMDSEQ_ERROR);
  EXPECT_EQ(err.sqlcode, -84);
}

}  // namespace
