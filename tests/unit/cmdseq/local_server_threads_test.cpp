// Starting a local server process: the double fork, the process id and the 2-byte ready
// status through the hand-shake descriptor, servers that fail, exit early or never
// answer, and what the started server inherits. Runs a small stand-in program built with
// the tests and, when it is built, the real server.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cmdseq/connect.h"
#include "cmdseq/error_info.h"
#include "config/conn_parms.h"
#include "pres_double.h"
#include "strm_fake.h"

namespace {

struct StartFixture : ::testing::Test {
  a_cmdseq_env env;
  a_cmdseq_error_info err;
  std::string dir;
  void SetUp() override {
    CmdSeqInitErrorParam(&env, &err, 0);
    char tmpl[] = "/tmp/vq_start_XXXXXX";
    dir = mkdtemp(tmpl);
  }
  void TearDown() override {
    CmdSeqFiniErrorParam(&err);
    std::remove((dir + "/report").c_str());
    rmdir(dir.c_str());
  }
  std::vector<std::string> Report() {
    // The server writes its report before its status, so it is complete here.
    std::ifstream in(dir + "/report");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

TEST_F(StartFixture, ReadyServerGetsOnlyTheHandshakeDescriptor) {
  // A descriptor of the caller that is not close-on-exec must not reach the server.
  int leak[2];
  ASSERT_EQ(pipe(leak), 0);
  const std::string line = std::string(FAKE_SERVER) + " ready " + dir + "/report";
  std::int32_t pid = 0;
  ASSERT_EQ(i_cs_PlatformSpecificStartEngine(line.c_str(), &env, &err, &pid), CMDSEQ_OK);
  EXPECT_GT(pid, 0);
  EXPECT_NE(pid, getpid());
  const std::vector<std::string> report = Report();
  ASSERT_GE(report.size(), 4u);
  EXPECT_EQ(report[0], "arg ready");
  EXPECT_EQ(report[2], "arg -hn");
  const std::string hs = report[3].substr(4);
  std::vector<std::string> fds;
  for (const std::string& l : report) {
    if (l.rfind("fd ", 0) == 0) fds.push_back(l.substr(3));
  }
  std::sort(fds.begin(), fds.end());
  std::vector<std::string> expected = {"0", "1", "2", hs};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(fds, expected);
  close(leak[0]);
  close(leak[1]);
}

TEST_F(StartFixture, ServersThatDoNotBecomeReady) {
  struct Case {
    const char* name;
    std::string line;
    std::int32_t sqlcode;
  };
  const Case kCases[] = {
      {"status 3 from the server", std::string(FAKE_SERVER) + " status 3", -83},
      {"exits before its status", std::string(FAKE_SERVER) + " exit", -80},
      {"never answers (bounded wait)", std::string(FAKE_SERVER) + " silent", -80},
      {"program not found", dir + "/no-such-server", -80},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    CmdSeqResetErrorParam(&err, nullptr);
    std::int32_t pid = 0;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(i_cs_PlatformSpecificStartEngine(k.line.c_str(), &env, &err, &pid, 1500),
              CMDSEQ_ERROR);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_EQ(err.sqlcode, k.sqlcode);
    EXPECT_LT(pid, 0);  // started, then failed: the id comes back negated
    if (pid < 0) kill(-pid, SIGKILL);  // the silent one is still there
  }
}

TEST_F(StartFixture, TooManyArgumentsAreRefusedWithoutAStart) {
  std::string line = FAKE_SERVER;
  for (int i = 0; i < 57; ++i) line += " a";
  std::int32_t pid = 0;
  EXPECT_EQ(i_cs_PlatformSpecificStartEngine(line.c_str(), &env, &err, &pid), CMDSEQ_ERROR);
  EXPECT_EQ(err.sqlcode, -81);
  EXPECT_EQ(pid, 0);
}

#ifdef VQENG12_PATH
TEST_F(StartFixture, RealServerReportsReadyOrItsFailure) {
  std::int32_t pid = 0;
  const std::string ok = std::string(VQENG12_PATH) + " -x tcpip(port=0) -ga";
  ASSERT_EQ(i_cs_PlatformSpecificStartEngine(ok.c_str(), &env, &err, &pid), CMDSEQ_OK)
      << err.sqlcode;
  ASSERT_GT(pid, 0);
  EXPECT_EQ(kill(pid, SIGTERM), 0);

  CmdSeqResetErrorParam(&err, nullptr);
  const std::string bad = std::string(VQENG12_PATH) + " -x tcpip(port=0) /nonexistent-dir/x.db";
  EXPECT_EQ(i_cs_PlatformSpecificStartEngine(bad.c_str(), &env, &err, &pid), CMDSEQ_ERROR);
  EXPECT_EQ(err.sqlcode, -83);
  EXPECT_LT(pid, 0);
}
#endif


// --- The connect road starting a server -------------------------------------------------

std::vector<a_strm_conn_rec*> g_found;  // null entries: no server answers
std::vector<std::string> g_asked;       // ServerName at each engine connect
std::vector<a_cmdseq_conn*> g_made;

a_cmdseq_conn* FoundServer(a_cmdseq_env* env, c_conn_parms* parms, a_cmdseq_error_info*,
                           a_cmdseq_conn_attrib*, const a_cmdseq_strconn_param*) {
  const char* eng = parms->getString(kSlotServerName);
  g_asked.emplace_back(eng != nullptr ? eng : "<none>");
  if (g_found.empty()) return nullptr;
  a_strm_conn_rec* s = g_found.front();
  g_found.erase(g_found.begin());
  if (s == nullptr) return nullptr;
  auto* conn = new a_cmdseq_conn(env, s);
  conn->server_strm_ver = 15;
  conn->add_ref();
  g_made.push_back(conn);
  return conn;
}

struct RoadStartFixture : StartFixture {
  c_conn_parms parms;
  a_cmdseq_strconn_param param{};
  a_strm_conn_rec s1;
  void SetUp() override {
    StartFixture::SetUp();
    strm_fake_reset();
    strm_fake().random = Bytes(32, 1);
    env.app_type = 2;
    g_found.clear();
    g_asked.clear();
    i_cs_SetEngineConnect(FoundServer);
    param.parms = &parms;
    param.env = &env;
    param.allow_server_start = param.allow_database_start = 1;
  }
  void TearDown() override {
    for (a_cmdseq_conn* c : g_made) c->release();
    g_made.clear();
    i_cs_SetEngineConnect(nullptr);
    strm_fake_reset();
    StartFixture::TearDown();
  }
};

TEST_F(RoadStartFixture, StartsTheServerThenConnectsUnderItsName) {
  const std::string line = "START='" + std::string(FAKE_SERVER) + " ready " + dir + "/report'";
  ASSERT_EQ(parms.init(("UID=dba;PWD=sql;DBN=demo;" + line).c_str(), false), 0);
  g_found = {nullptr, &s1};
  s1.item(133, le32(4)).item(66).item(0).sync();
  a_cmdseq_conn* conn = nullptr;
  ASSERT_EQ(i_cs_Connect(&conn, &err, &param, 0, nullptr), CMDSEQ_OK) << err.sqlcode;
  EXPECT_EQ(param.server_started, 1u);
  EXPECT_EQ(g_asked, (std::vector<std::string>{"<none>", "demo"}));
  ASSERT_NE(conn, nullptr);
  (void)CmdSeqDropConnection(conn, &err);
}

TEST_F(RoadStartFixture, AServerStartedForARefusedConnectIsShutDown) {
  const std::string line = "START='" + std::string(FAKE_SERVER) + " ready " + dir + "/report'";
  ASSERT_EQ(parms.init(("UID=dba;PWD=wrong;ENG=mine;" + line).c_str(), false), 0);
  g_found = {nullptr, &s1};
  s1.item(133, le32(4)).item(65, error_record(-103, "28000", "28000", "28000"));
  s1.item(0).item(0).item(0).sync();
  s1.item(66).item(0).sync();  // the shut-down reply
  a_cmdseq_conn* conn = nullptr;
  EXPECT_EQ(i_cs_Connect(&conn, &err, &param, 0, nullptr), CMDSEQ_ERROR);
  EXPECT_EQ(conn, nullptr);
  EXPECT_EQ(err.sqlcode, -103);
  std::vector<int> codes;
  for (const auto& x : s1.sent) codes.push_back(x.code);
  EXPECT_EQ(codes, (std::vector<int>{16, 133, 20, -1, 8, -1}));
  EXPECT_EQ(s1.disconnects, 1);
}

// A server started here that answers it is still starting is left running for the next
// try, which finds it; when that try then fails, the server is still this connect's and
// is shut down.
TEST_F(RoadStartFixture, AServerStillStartingIsKeptForTheNextTry) {
  const std::string line = "START='" + std::string(FAKE_SERVER) + " ready " + dir + "/report'";
  ASSERT_EQ(parms.init(("UID=dba;PWD=sql;ENG=mine;" + line).c_str(), false), 0);
  a_strm_conn_rec s2;
  g_found = {nullptr, &s1, &s2};
  s1.item(0).item(65, error_record(-77, "08W27", "08001", "08001"));
  s1.item(0).item(0).item(0).sync();
  a_cmdseq_conn* conn = nullptr;
  EXPECT_EQ(i_cs_Connect(&conn, &err, &param, 0, nullptr), CMDSEQ_ERROR);
  EXPECT_EQ(err.sqlcode, -77);
  EXPECT_EQ(param.server_started, 1u);
  std::vector<int> codes;
  for (const auto& x : s1.sent) codes.push_back(x.code);
  EXPECT_EQ(codes, (std::vector<int>{16, 133, 20, -1}));  // no shut-down request
  EXPECT_EQ(s1.disconnects, 1);

  // The next try finds the server; refused now, it shuts it down.
  CmdSeqResetErrorParam(&err, nullptr);
  s2.item(0).item(65, error_record(-103, "28000", "28000", "28000"));
  s2.item(0).item(0).item(0).sync();
  s2.item(66).item(0).sync();  // the shut-down reply
  EXPECT_EQ(i_cs_Connect(&conn, &err, &param, 0, nullptr), CMDSEQ_ERROR);
  EXPECT_EQ(err.sqlcode, -103);
  codes.clear();
  for (const auto& x : s2.sent) codes.push_back(x.code);
  EXPECT_EQ(codes, (std::vector<int>{16, 133, 20, -1, 8, -1}));
  EXPECT_EQ(g_asked, (std::vector<std::string>{"mine", "mine", "mine"}));
}

TEST_F(RoadStartFixture, AFailedStartKeepsItsError) {
  const std::string line = "START='" + std::string(FAKE_SERVER) + " status 3'";
  ASSERT_EQ(parms.init(("UID=dba;PWD=sql;DBF=/d/x.db;" + line).c_str(), false), 0);
  a_cmdseq_conn* conn = nullptr;
  EXPECT_EQ(i_cs_Connect(&conn, &err, &param, 0, nullptr), CMDSEQ_COMM_FAILURE);
  EXPECT_EQ(conn, nullptr);
  EXPECT_EQ(err.sqlcode, -83);  // the server's status 3, not "server not found"
  EXPECT_EQ(param.server_started, 0u);
  EXPECT_EQ(g_asked.size(), 2u);
}

}  // namespace
