// Statements through the driver's own entry points against vqeng12, over shared memory and
// TCP/IP: the server started with its request log, the driver started, one environment
// (ODBC 3), one connection made with SQLDriverConnect and one statement. Shared by the
// statement, parameter and engine tests.
//
// Fetch is not part of the driver yet, so a test reads values back with ValueText /
// ValueNumber: the engine interface's one-statement executor (DBExecStmt) on the same
// connection, which returns the first row of a query.
#ifndef VQ_TESTS_ODBC_E2E_STATEMENT_FIXTURE_H
#define VQ_TESTS_ODBC_E2E_STATEMENT_FIXTURE_H

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "cmdseq/client.h"
#include "cmdseq/connect.h"
#include "config/data_source_profile.h"
#include "e2e_session.h"
#include "engine_session.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "odbc/library_start.h"

namespace vq_odbc_e2e {

struct StmtDiag {
  std::string state;
  SQLINTEGER native = 0;
  std::string text;
};

// Diagnostic record `number` of a handle (empty state when there is none).
inline StmtDiag DiagOf(SQLSMALLINT type, SQLHANDLE h, SQLSMALLINT number = 1) {
  SQLCHAR state[6] = {0};
  SQLINTEGER native = 0;
  SQLCHAR text[600] = {0};
  SQLSMALLINT length = 0;
  StmtDiag d;
  const SQLRETURN rc = SQLGetDiagRec(type, h, number, state, &native, text, sizeof text, &length);
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
    d.state = reinterpret_cast<char*>(state);
    d.native = native;
    d.text = reinterpret_cast<char*>(text);
  }
  return d;
}

class StatementFixture : public testing::TestWithParam<Link> {
 protected:
  explicit StatementFixture(const char* server_name = "odbc_stmt") : server_{server_name} {}

  void SetUp() override {
    i_cs_SetEngineConnect(i_cs_EngineConnect);
    ASSERT_FALSE(vctmp_.path().empty());
    ASSERT_TRUE(server_.StartWithRequestLog(log_.path()));
    ProfileFini();
    LibInit_jdbc();
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_SUCCESS);
    ASSERT_EQ(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION,
                            reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(OdbcVersion())), 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_SUCCESS);
    std::string in = server_.Links(GetParam()) + ";UID=dba;PWD=sql" + ConnectExtra();
    std::vector<SQLCHAR> text(in.begin(), in.end());
    text.push_back('\0');
    const SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, text.data(), SQL_NTS, nullptr, 0,
                                          nullptr, SQL_DRIVER_NOPROMPT);
    ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO)
        << DiagOf(SQL_HANDLE_DBC, dbc_).state << " " << DiagOf(SQL_HANDLE_DBC, dbc_).text;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
  }

  void TearDown() override {
    if (stmt_ != SQL_NULL_HSTMT) {
      EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, stmt_), SQL_SUCCESS);
    }
    if (dbc_ != SQL_NULL_HDBC) {
      (void)SQLDisconnect(dbc_);
      EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc_), SQL_SUCCESS);
    }
    if (env_ != SQL_NULL_HENV) {
      EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env_), SQL_SUCCESS);
    }
    LibFini_jdbc();
    ProfileFini();
  }

  // The ODBC version the environment declares; a test class may override.
  virtual SQLINTEGER OdbcVersion() const { return SQL_OV_ODBC3; }
  // More connection parameters (";KEY=value..."); a test class may override.
  virtual std::string ConnectExtra() const { return ""; }

  SQLRETURN ExecDirect(const std::string& sql, SQLHSTMT stmt = SQL_NULL_HSTMT) {
    std::vector<SQLCHAR> text(sql.begin(), sql.end());
    text.push_back('\0');
    return SQLExecDirect(stmt != SQL_NULL_HSTMT ? stmt : stmt_, text.data(), SQL_NTS);
  }
  SQLRETURN Prepare(const std::string& sql, SQLHSTMT stmt = SQL_NULL_HSTMT) {
    std::vector<SQLCHAR> text(sql.begin(), sql.end());
    text.push_back('\0');
    return SQLPrepare(stmt != SQL_NULL_HSTMT ? stmt : stmt_, text.data(), SQL_NTS);
  }
  // ExecDirect that must succeed; the diagnostic is shown when it does not.
  void MustExec(const std::string& sql) {
    const SQLRETURN rc = ExecDirect(sql);
    ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA)
        << sql << ": " << rc << " " << StmtState() << " " << DiagOf(SQL_HANDLE_STMT, stmt_).text;
    (void)SQLFreeStmt(stmt_, SQL_CLOSE);
  }
  // A call on the statement that must succeed; the diagnostic is shown when it does not.
  void MustSucceed(SQLRETURN rc, const char* what) {
    ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO)
        << what << ": " << rc << " " << StmtState() << " " << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  }
  std::string StmtState(SQLHSTMT stmt = SQL_NULL_HSTMT) {
    return DiagOf(SQL_HANDLE_STMT, stmt != SQL_NULL_HSTMT ? stmt : stmt_).state;
  }

  // The first value of the first row of a query, read on the same connection.
  std::string ValueText(const std::string& sql) {
    OneValue v(kWireText);
    if (!v.ok()) return "<no memory>";
    const std::int32_t rc = DBExecStmt(Dbc(), v.desc(), sql.c_str(), SQL_NTS);
    if (rc < 0) return "<error " + std::to_string(rc) + ">";
    return v.text();
  }
  std::int32_t ValueNumber(const std::string& sql) {
    OneValue v(kWireInt);
    if (!v.ok()) return -1;
    const std::int32_t rc = DBExecStmt(Dbc(), v.desc(), sql.c_str(), SQL_NTS);
    return rc < 0 ? rc : v.number();
  }

  tagDBC* Dbc() { return static_cast<tagDBC*>(dbc_); }
  tagSTMT* Stmt(SQLHSTMT stmt = SQL_NULL_HSTMT) {
    return static_cast<tagSTMT*>(stmt != SQL_NULL_HSTMT ? stmt : stmt_);
  }
  // Lines of the server's request log whose event begins with `event` ("prepare ...").
  int LogCount(const std::string& event) const { return log_.Count(event); }
  std::vector<std::string> LogLines() const { return log_.Lines(); }

  vq_e2e::TempVctmp vctmp_;
  vq_e2e::Server server_;
  vq_e2e::RequestLog log_{vctmp_.path() + "/requests.log"};
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

inline std::string LinkName(const testing::TestParamInfo<Link>& info) {
  return info.param == Link::kSharedMemory ? "SharedMemory" : "TcpIp";
}

}  // namespace vq_odbc_e2e

#endif  // VQ_TESTS_ODBC_E2E_STATEMENT_FIXTURE_H
