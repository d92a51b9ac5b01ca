// The engine interface against vqeng12 over shared memory and TCP/IP, driven directly:
// start and stop of the client, the string connect with its probe and session options,
// the charset negotiation, one statement through DBExecStmt (its output list filled, no
// server statement or cursor left behind), commit, rollback, cancel, disconnect, and the
// results that end a connection. The server's request log shows what reached it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cmdseq/client.h"
#include "cmdseq/connect.h"
#include "cmdseq/desc.h"
#include "e2e_session.h"
#include "engine_session.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "utils/locale/charset_converter.h"
#include "utils/base/memory.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/utlocale.h"

namespace {

using vq_e2e::Link;
using vq_odbc_e2e::FreeConverter;
using vq_odbc_e2e::HasLine;
using vq_odbc_e2e::kWireInt;
using vq_odbc_e2e::kWireText;
using vq_odbc_e2e::OneValue;

class Engine : public vq_odbc_e2e::EngineSession {};

TEST_P(Engine, ConnectProbesTheServerAndSetsTheSessionOptions) {
  Connect();
  const std::uint32_t number = dbc_->conn.load()->server_handle;
  DBQueryConnection(dbc_.get());
  // vqeng12 answers version 12.0.1.x at protocol level 15, case sensitive, not the
  // column-store product, both charsets UTF-8.
  EXPECT_EQ(dbc_->server_version, 12001u);
  EXPECT_EQ(dbc_->cap_a & 0x5F, 0x1F);
  EXPECT_EQ(dbc_->cap_b & 0x0F, 0x0C);
  EXPECT_EQ(dbc_->fixed_shapes[0][0], 19);
  EXPECT_EQ(dbc_->fixed_shapes[0][1], 4);
  EXPECT_EQ(dbc_->fixed_shapes[1][0], 10);
  EXPECT_EQ(dbc_->fixed_shapes[1][1], 4);
  EXPECT_STREQ(dbc_->conn_charset_name, "UTF-8");
  EXPECT_STREQ(dbc_->db_charset_name, "UTF-8");
  const std::vector<std::string> sent = server_.Requests(number);
  EXPECT_TRUE(HasLine(sent, "prepare SELECT @@version, if 'A'<>'a' then 1 else 0 endif"));
  EXPECT_TRUE(HasLine(sent,
                      "prepare SET TEMPORARY OPTION time_format = 'hh:nn:ss';SET TEMPORARY "
                      "OPTION timestamp_format = 'yyyy-mm-dd hh:nn:ss.ssssss';SET TEMPORARY "
                      "OPTION date_format = 'yyyy-mm-dd';SET TEMPORARY OPTION date_order = "
                      "'ymd';SET TEMPORARY OPTION isolation_level = '0';"));
  ExpectNothingLeftOnTheClient();

  EXPECT_EQ(SetCharSetInDBC(dbc_.get()), SQL_SUCCESS);
  ASSERT_NE(dbc_->conn_to_wide, nullptr);
  ASSERT_NE(dbc_->wide_to_conn, nullptr);
  EXPECT_TRUE(dbc_->conn_to_wide->valid());
  EXPECT_TRUE(dbc_->wide_to_conn->valid());
  EXPECT_NE(dbc_->lang, nullptr);
  EXPECT_NE(dbc_->nchar_to_wide, nullptr);  // a server of version 10000 and later
  EXPECT_EQ(dbc_->conn_wide_factor, 4);     // UTF-8

  EXPECT_EQ(DBDisconnect(dbc_.get()), 0) << dbc_->err.sqlcode;
  EXPECT_EQ(dbc_->conn.load(), nullptr);
  vq_e2e::RequestLog log(vctmp_.path() + "/requests.log");
  EXPECT_TRUE(vq_e2e::RequestLog::WaitFor([&] { return log.OpenConnections() == 0; }));
  // Every later request answers -308 without the client.
  EXPECT_EQ(DBCommit(dbc_.get()), -308);
  EXPECT_STREQ(dbc_->err.odbc3_state, "08S01");
}

TEST_P(Engine, AnAnsiApplicationKeepsItsConvertersAndGetsNewOnesForTheConnection) {
  Connect();
  DBQueryConnection(dbc_.get());
  ASSERT_EQ(Set_option(dbc_.get(), SQL_ATTR_ANSI_APP, 1), 0);
  UTLocale* locale = SQLGetUTLocale();
  auto* in = new CharsetConverter(locale, locale->utf16le_charset(), locale->utf8_charset());
  auto* out = new CharsetConverter(locale, locale->utf8_charset(), locale->utf16le_charset());
  dbc_->conn_to_wide = in;
  dbc_->wide_to_conn = out;
  EXPECT_EQ(SetCharSetInDBC(dbc_.get()), SQL_SUCCESS);
  EXPECT_EQ(dbc_->ansi_to_wide, in);
  EXPECT_EQ(dbc_->wide_to_ansi, out);
  ASSERT_NE(dbc_->conn_to_wide, nullptr);
  EXPECT_NE(dbc_->conn_to_wide, in);
  EXPECT_TRUE(dbc_->conn_to_wide->valid());
  EXPECT_TRUE(dbc_->wide_to_conn->valid());
  ut_free(dbc_->options);
  dbc_->options = nullptr;
  dbc_->option_count = 0;
}

TEST_P(Engine, OneStatementFillsItsOutputListAndLeavesNothingBehind) {
  Connect();
  OneValue answer(kWireInt);
  ASSERT_TRUE(answer.ok());
  EXPECT_EQ(DBExecStmt(dbc_.get(), answer.desc(), "SELECT 41 + 1", SQL_NTS), 0)
      << dbc_->err.sqlcode;
  EXPECT_EQ(answer.number(), 42);
  ExpectNothingLeftOnTheClient();

  // A counted text: only the given bytes are the statement.
  OneValue text(kWireText);
  const char sql[] = "SELECT 'counted'   trailing garbage";
  EXPECT_EQ(DBExecStmt(dbc_.get(), text.desc(), sql, 16), 0) << dbc_->err.sqlcode;
  EXPECT_EQ(text.text(), "counted");
  ExpectNothingLeftOnTheClient();

  // A statement the server refuses: its error stays in the block, the connection stays.
  EXPECT_LT(DBExecStmt(dbc_.get(), nullptr, "SELECT * FROM no_such_table", SQL_NTS), 0);
  EXPECT_LT(dbc_->err.sqlcode, 0);
  ExpectNothingLeftOnTheClient();

  // Every statement the server made is dropped again (the refused one was never made).
  EXPECT_EQ(DBExecStmt(dbc_.get(), nullptr, "SELECT 1", SQL_NTS), 0);
  EXPECT_EQ(DBCommit(dbc_.get()), 0);
  std::vector<std::string> made, dropped;
  std::string all;
  for (const std::string& line : Requests()) {
    all += line + "\n";
    EXPECT_NE(line.compare(0, 5, "open "), 0) << line;
    if (line.compare(0, 8, "execute ") == 0) {
      const std::string id = line.substr(8, line.find(' ', 8) - 8);
      if (id != "4294967295") made.push_back(id);
    }
    if (line.compare(0, 5, "drop ") == 0) dropped.push_back(line.substr(5));
    if (line.compare(0, 12, "cached-drop ") == 0) dropped.push_back(line.substr(12));
  }
  EXPECT_EQ(made.size(), 3u) << all;
  EXPECT_EQ(dropped, made) << all;
}

TEST_P(Engine, CommitAndRollbackReachTheServer) {
  Connect();
  ASSERT_EQ(DBExecStmt(dbc_.get(), nullptr, "CREATE TABLE t (a INTEGER)", SQL_NTS), 0);
  ASSERT_EQ(DBCommit(dbc_.get()), 0) << dbc_->err.sqlcode;
  ASSERT_EQ(DBExecStmt(dbc_.get(), nullptr, "INSERT INTO t VALUES (1)", SQL_NTS), 0);
  EXPECT_EQ(DBRollback(dbc_.get()), 0) << dbc_->err.sqlcode;
  OneValue count(kWireInt);
  ASSERT_EQ(DBExecStmt(dbc_.get(), count.desc(), "SELECT count(*) FROM t", SQL_NTS), 0);
  EXPECT_EQ(count.number(), 0);
  ASSERT_EQ(DBExecStmt(dbc_.get(), nullptr, "INSERT INTO t VALUES (2)", SQL_NTS), 0);
  EXPECT_EQ(DBCommit(dbc_.get()), 0) << dbc_->err.sqlcode;
  EXPECT_TRUE(HasLine(Requests(), "rollback"));
  EXPECT_TRUE(HasLine(Requests(), "commit"));
}

TEST_P(Engine, AProtocolErrorReleasesTheHandlesReferenceOnce) {
  Connect();
  ASSERT_EQ(DBExecStmt(dbc_.get(), nullptr, "SET TEMPORARY OPTION vqeng_fault = 'commit corrupt'",
                       SQL_NTS),
            0);
  a_cmdseq_conn* conn = dbc_->conn.load();
  CmdSeqConnAddRef(conn);  // the test's own, to count what the handle gives back
  const std::int32_t rc = DBCommit(dbc_.get());
  EXPECT_LT(rc, 0);
  EXPECT_EQ(dbc_->err.sqlcode, rc);
  EXPECT_EQ(dbc_->conn.load(), nullptr);
  EXPECT_EQ(CmdSeqConnIsValid(conn), 0);
  EXPECT_EQ(CmdSeqConnRelease(conn), 0);  // the test's was the last reference
  EXPECT_EQ(DBRollback(dbc_.get()), -308);
  EXPECT_EQ(DBDisconnect(dbc_.get()), -308);
}

TEST_P(Engine, ALostConnectionIsReleasedAndMarkedDropped) {
  Connect();
  ASSERT_EQ(DBExecStmt(dbc_.get(), nullptr, "SET TEMPORARY OPTION vqeng_fault = 'commit drop'",
                       SQL_NTS),
            0);
  const std::int32_t rc = DBCommit(dbc_.get());
  // The client's own code for the lost connection stands; without one it is -85.
  EXPECT_LT(rc, 0);
  EXPECT_EQ(dbc_->err.sqlcode, rc);
  EXPECT_EQ(dbc_->conn.load(), nullptr);
  EXPECT_EQ(dbc_->dropped.load(), 1u);
  EXPECT_EQ(DBCommit(dbc_.get()), -308);
}

TEST_P(Engine, ACancelledStatementAnswers299AndKeepsTheConnection) {
  Connect();
  ASSERT_EQ(DBExecStmt(dbc_.get(), nullptr,
                       "SET TEMPORARY OPTION vqeng_fault = 'any text=vqslow delay 20000'",
                       SQL_NTS),
            0);
  a_cmdseq_conn* conn = dbc_->conn.load();
  std::int32_t rc = 0;
  std::thread runner([&] { rc = DBExecStmt(dbc_.get(), nullptr, "SELECT 1 AS vqslow", SQL_NTS); });
  // The cancelling thread sees only the handle's connection pointer.
  const bool in_request = vq_e2e::RequestLog::WaitFor(
      [&] { return conn->in_request.load() != 0; }, std::chrono::seconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(DBCancel(dbc_.get()), 0);
  runner.join();
  ASSERT_TRUE(in_request);
  EXPECT_EQ(rc, -299);
  EXPECT_EQ(dbc_->err.sqlcode, -299);
  EXPECT_STREQ(dbc_->err.odbc3_state, "HY000");
  EXPECT_STREQ(dbc_->err.odbc2_state, "S1000");
  EXPECT_EQ(dbc_->conn.load(), conn);
  OneValue answer(kWireInt);
  EXPECT_EQ(DBExecStmt(dbc_.get(), answer.desc(), "SELECT 7", SQL_NTS), 0) << dbc_->err.sqlcode;
  EXPECT_EQ(answer.number(), 7);
}

// Cancels from another thread while the handle lets go of its connection: the cancel
// holds a reference of its own, so the release never frees the connection under it
// (a use after free shows under the sanitizers).
TEST_P(Engine, CancelsRacingADisconnectNeverUseAFreedConnection) {
  for (int round = 0; round < 5; ++round) {
    Connect();
    std::atomic<bool> stop{false};
    std::atomic<int> cancels{0};
    std::thread canceller([&] {
      while (!stop.load()) {
        EXPECT_EQ(DBCancel(dbc_.get()), 0);
        cancels.fetch_add(1);
        std::this_thread::yield();
      }
    });
    (void)vq_e2e::RequestLog::WaitFor([&] { return cancels.load() > 0; },
                                      std::chrono::seconds(10));
    const std::int32_t rc = DBDisconnect(dbc_.get());
    stop.store(true);
    canceller.join();
    // A cancel that reached the server between requests may turn the disconnect into a
    // cancelled request; either way the handle has let go of its connection.
    EXPECT_TRUE(rc == 0 || rc == -299) << rc;
    EXPECT_EQ(dbc_->conn.load(), nullptr);
    EXPECT_EQ(DBCancel(dbc_.get()), 0);
  }
}

TEST_P(Engine, ABadConnectStringOrNoServerFailsWithoutAConnection) {
  EXPECT_LT(DBStringConnect(dbc_.get(), "UID=dba;PWD=sql;ServerName=no_such_server_here;"
                                        "CommLinks=tcpip(host=127.0.0.1;port=1;DoBroadcast=NONE)"),
            0);
  EXPECT_LT(dbc_->err.sqlcode, 0);
  EXPECT_EQ(dbc_->conn.load(), nullptr);
  EXPECT_LT(DBStringConnect(dbc_.get(), "UID=dba;PWD=sql;LivenessTimeout=notanumber"), 0);
  EXPECT_EQ(dbc_->conn.load(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Links, Engine, testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         [](const testing::TestParamInfo<Link>& info) {
                           return std::string(vq_e2e::LinkName(info.param));
                         });

}  // namespace
