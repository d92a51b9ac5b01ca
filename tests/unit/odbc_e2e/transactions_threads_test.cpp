// SQLEndTran and SQLTransact against vqeng12: commit and rollback of one connection
// (rollback under autocommit commits), refusals, every connection of an environment
// (an unconnected one fails on its own), a server error on commit, and the environment
// walk never holding the environment's lock while a connection's commit runs.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "../odbc/api_fixture.h"
#include "cmdseq/client.h"
#include "cmdseq/connect.h"
#include "e2e_session.h"
#include "engine_session.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "odbc/library_start.h"

namespace {

using vq_e2e::Link;
using vq_odbc_e2e::HasLine;
using vq_odbc_e2e::kWireInt;
using vq_odbc_e2e::OneValue;

class Transactions : public vq_odbc_e2e::ApiServerSession {
 protected:
  Transactions() : ApiServerSession("odbc_transactions") {}
  void TearDown() override {
    for (SQLHANDLE dbc : dbcs_) {
      if (static_cast<tagDBC*>(dbc)->state == kDbcConnected) (void)SQLDisconnect(dbc);
      EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
    }
    ApiServerSession::TearDown();
  }
  // A connection of the environment; connected to vqeng12 unless `connect` is false.
  tagDBC* NewConnection(bool connect = true) {
    SQLHANDLE h = nullptr;
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &h), SQL_SUCCESS);
    if (h == nullptr) return nullptr;
    dbcs_.push_back(h);
    auto* dbc = static_cast<tagDBC*>(h);
    if (connect) {
      const std::string text = "UID=dba;PWD=sql;" + server_.Links(GetParam());
      EXPECT_EQ(DBStringConnect(dbc, text.c_str()), 0) << dbc->err.sqlcode;
      dbc->state = kDbcConnected;
    }
    return dbc;
  }
  void AutocommitOff(tagDBC* dbc) {
    ASSERT_EQ(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT,
                                reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
              SQL_SUCCESS);
  }
  void Exec(tagDBC* dbc, const char* sql) {
    ASSERT_EQ(DBExecStmt(dbc, nullptr, sql, SQL_NTS), 0) << sql << ": " << dbc->err.sqlcode;
  }
  int Count(tagDBC* dbc, const char* table) {
    OneValue n(kWireInt);
    const std::string sql = std::string("SELECT count(*) FROM ") + table;
    EXPECT_EQ(DBExecStmt(dbc, n.desc(), sql.c_str(), SQL_NTS), 0) << dbc->err.sqlcode;
    return n.number();
  }
  std::vector<std::string> Requests(tagDBC* dbc) {
    return server_.Requests(dbc->conn.load()->server_handle);
  }
  int CountLines(tagDBC* dbc, const std::string& line) {
    int n = 0;
    for (const std::string& l : Requests(dbc)) n += l == line ? 1 : 0;
    return n;
  }

  std::vector<SQLHANDLE> dbcs_;
};

TEST_P(Transactions, OneConnectionCommitsAndRollsBack) {
  tagDBC* dbc = NewConnection();
  AutocommitOff(dbc);
  Exec(dbc, "CREATE TABLE t (a INTEGER)");
  ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT), SQL_SUCCESS);

  Exec(dbc, "INSERT INTO t VALUES (1)");
  dbc->cap_a |= kCapInTransaction;
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(dbc->cap_a & kCapInTransaction, 0);
  EXPECT_EQ(Count(dbc, "t"), 0);
  EXPECT_EQ(CountLines(dbc, "rollback"), 1);

  Exec(dbc, "INSERT INTO t VALUES (2)");
  dbc->cap_a |= kCapInTransaction;
  EXPECT_EQ(SQLTransact(SQL_NULL_HENV, dbc, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(dbc->cap_a & kCapInTransaction, 0);
  // A second connection sees the committed row.
  EXPECT_EQ(Count(NewConnection(), "t"), 1);
}

TEST_P(Transactions, RollbackUnderAutocommitCommitsWhatWasReportedCommitted) {
  tagDBC* dbc = NewConnection();
  ASSERT_EQ(Option(dbc, SQL_ATTR_AUTOCOMMIT), static_cast<SQLULEN>(SQL_AUTOCOMMIT_ON));
  Exec(dbc, "CREATE TABLE t (a INTEGER)");
  Exec(dbc, "INSERT INTO t VALUES (1)");
  dbc->cap_a |= kCapInTransaction;
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(dbc->cap_a & kCapInTransaction, 0);
  EXPECT_EQ(CountLines(dbc, "rollback"), 0);
  EXPECT_EQ(CountLines(dbc, "commit"), 1);
  EXPECT_EQ(Count(NewConnection(), "t"), 1);
}

TEST_P(Transactions, RefusalsCarryTheirStates) {
  tagDBC* connected = NewConnection();
  tagDBC* unconnected = NewConnection(false);
  struct Case {
    const char* what;
    SQLSMALLINT type;
    SQLHANDLE handle;
    SQLSMALLINT completion;
    const char* state;
  };
  const Case cases[] = {
      {"unknown completion type", SQL_HANDLE_DBC, connected, 2, "HY012"},
      {"not connected", SQL_HANDLE_DBC, unconnected, SQL_COMMIT, "08003"},
      {"not connected, rollback", SQL_HANDLE_DBC, unconnected, SQL_ROLLBACK, "08003"},
      {"statement handle type", SQL_HANDLE_STMT, connected, SQL_COMMIT, "HY092"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SQLEndTran(c.type, c.handle, c.completion), SQL_ERROR) << c.what;
    EXPECT_EQ(FirstState(SQL_HANDLE_DBC, c.handle), c.state) << c.what;
  }
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_ENV, nullptr, SQL_COMMIT), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, env_, SQL_COMMIT), SQL_INVALID_HANDLE);
}

TEST_P(Transactions, AServerErrorOnCommitIsPostedAndTheTransactionStaysOpen) {
  tagDBC* dbc = NewConnection();
  Exec(dbc, "SET TEMPORARY OPTION vqeng_fault = 'commit error -210 row locked'");
  dbc->cap_a |= kCapInTransaction;
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT), SQL_ERROR);
  SQLCHAR state[6] = {}, text[300] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  ASSERT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, dbc, 1, state, &native, text, sizeof text, &length),
            SQL_SUCCESS);
  EXPECT_EQ(native, -210);
  EXPECT_NE(std::string(reinterpret_cast<char*>(text)).find("row locked"), std::string::npos);
  EXPECT_NE(dbc->cap_a & kCapInTransaction, 0);
  // Without the fault the transaction ends, and the connection can be let go.
  Exec(dbc, "SET TEMPORARY OPTION vqeng_fault = ''");
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(dbc->cap_a & kCapInTransaction, 0);
}

TEST_P(Transactions, TheEnvironmentEndsEveryConnection) {
  // No connections: nothing to do.
  SQLHANDLE empty = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &empty), SQL_SUCCESS);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_ENV, empty, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, empty), SQL_SUCCESS);

  tagDBC* first = NewConnection();
  tagDBC* second = NewConnection();
  AutocommitOff(first);
  Exec(first, "CREATE TABLE t (a INTEGER)");
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_ENV, env_, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(CountLines(first, "commit"), 1);
  EXPECT_EQ(CountLines(second, "commit"), 1);
  EXPECT_EQ(DBTableExists(second, "t"), 1);

  // One of three fails: success with information overall; the failing one keeps its
  // diagnostic, the others were committed all the same.
  Exec(first, "INSERT INTO t VALUES (1)");
  tagDBC* unconnected = NewConnection(false);
  EXPECT_EQ(SQLTransact(env_, SQL_NULL_HDBC, SQL_COMMIT), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, unconnected), "08003");
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, first), "");
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, second), "");
  EXPECT_EQ(Count(second, "t"), 1);

  // The only connection failing: its result.
  SQLHANDLE lone_env = nullptr, lone = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &lone_env), SQL_SUCCESS);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, lone_env, &lone), SQL_SUCCESS);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_ENV, lone_env, SQL_ROLLBACK), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, lone), "08003");
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, lone), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, lone_env), SQL_SUCCESS);
}

// While one connection's commit waits on the server, other threads use the environment
// (allocate a connection, read its diagnostics): the walk holds no lock of the
// environment across the connection's call.
TEST_P(Transactions, TheEnvironmentWalkHoldsNoEnvironmentLockDuringACommit) {
  tagDBC* slow = NewConnection();
  Exec(slow, "SET TEMPORARY OPTION vqeng_fault = 'commit delay 3000'");
  a_cmdseq_conn* conn = slow->conn.load();
  std::atomic<bool> ended{false};
  SQLRETURN walk = SQL_ERROR;
  std::thread walker([&] {
    walk = SQLEndTran(SQL_HANDLE_ENV, env_, SQL_COMMIT);
    ended.store(true);
  });
  ASSERT_TRUE(vq_e2e::RequestLog::WaitFor([&] { return conn->in_request.load() != 0; },
                                          std::chrono::seconds(10)));
  SQLHANDLE extra = nullptr;
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &extra), SQL_SUCCESS);
  SQLCHAR state[6];
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_ENV, env_, 1, state, &native, nullptr, 0, &length),
            SQL_NO_DATA);
  EXPECT_FALSE(ended.load());  // the commit is still waiting on the server
  walker.join();
  EXPECT_EQ(walk, SQL_SUCCESS);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, extra), SQL_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Links, Transactions, testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         [](const testing::TestParamInfo<Link>& info) {
                           return std::string(vq_e2e::LinkName(info.param));
                         });

}  // namespace
