// Statements through the driver's entry points against vqeng12 over shared memory and
// TCP/IP: allocation and release, execute direct and prepare/execute with their row
// counts, the sequence errors, the cursor name, result columns described from a prepare,
// more results, and the escape forms run end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "odbc/statement.h"
#include "statement_fixture.h"

namespace {

using vq_odbc_e2e::DiagOf;
using vq_odbc_e2e::LinkName;
using vq_odbc_e2e::StatementFixture;
using vq_e2e::Link;

class Statement : public StatementFixture {};

TEST_P(Statement, ExecDirectRunsStatementsWithoutRowsAndCountsThem) {
  ASSERT_EQ(ExecDirect("CREATE TABLE t (a INT, b VARCHAR(20))"), SQL_SUCCESS) << StmtState();
  SQLSMALLINT columns = -7;
  EXPECT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 0);

  ASSERT_EQ(ExecDirect("INSERT INTO t VALUES (1, 'one'), (2, 'two'), (3, 'three')"),
            SQL_SUCCESS)
      << StmtState();
  SQLLEN rows = -7;
  EXPECT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(Stmt()->state, kStmtExecuted);

  ASSERT_EQ(ExecDirect("UPDATE t SET b = 'many' WHERE a >= 2"), SQL_SUCCESS);
  EXPECT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 2);
  // Autocommit is on: the rows are there for any connection.
  EXPECT_EQ(ValueNumber("SELECT COUNT(*) FROM t WHERE b = 'many'"), 2);

  // An update that touches nothing answers SQL_NO_DATA to an ODBC 3 application.
  EXPECT_EQ(ExecDirect("UPDATE t SET b = 'none' WHERE a > 100"), SQL_NO_DATA);
  EXPECT_EQ(StmtState(), "");
  EXPECT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 0);
}

TEST_P(Statement, ServerErrorsReachTheStatementWithTheirState) {
  EXPECT_EQ(ExecDirect("INSERT INTO no_such_table VALUES (1)"), SQL_ERROR);
  const vq_odbc_e2e::StmtDiag d = DiagOf(SQL_HANDLE_STMT, stmt_);
  EXPECT_FALSE(d.state.empty());
  EXPECT_NE(d.native, 0);
  // The statement is usable afterwards.
  EXPECT_EQ(ExecDirect("CREATE TABLE after_error (a INT)"), SQL_SUCCESS) << StmtState();
}

TEST_P(Statement, SequenceErrorsAndBadArguments) {
  SQLLEN rows = -7;
  SQLSMALLINT columns = -7;
  SQLCHAR text[] = "select 1";
  struct Case {
    const char* state;
    std::function<SQLRETURN()> call;
  };
  const Case cases[] = {
      {"HY010", [&] { return SQLRowCount(stmt_, &rows); }},
      {"HY010", [&] { return SQLNumResultCols(stmt_, &columns); }},
      {"HY010", [&] { return SQLExecute(stmt_); }},
      {"24000", [&] { return SQLCloseCursor(stmt_); }},
      {"HY009", [&] { return SQLExecDirect(stmt_, nullptr, SQL_NTS); }},
      {"HY009", [&] { return SQLPrepare(stmt_, nullptr, SQL_NTS); }},
      {"HY090", [&] { return SQLExecDirect(stmt_, text, -5); }},
      {"HY090", [&] { return SQLPrepare(stmt_, text, 0); }},
      {"HY092", [&] { return SQLFreeStmt(stmt_, 17); }},
      {"22025", [&] { return ExecDirect("SELECT {fn NO_SUCH_FUNCTION(1)}"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    EXPECT_EQ(c.call(), SQL_ERROR);
    EXPECT_EQ(StmtState(), c.state);
  }
  EXPECT_EQ(rows, -7);
  EXPECT_EQ(columns, -7);
  // More results on a statement never executed: no data, no diagnostic.
  EXPECT_EQ(SQLMoreResults(stmt_), SQL_NO_DATA);
  EXPECT_EQ(StmtState(), "");
}

TEST_P(Statement, AllocationNeedsAConnectionAndAnOutput) {
  SQLHDBC other = SQL_NULL_HDBC;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &other), SQL_SUCCESS);
  SQLHSTMT s = reinterpret_cast<SQLHSTMT>(0x1);
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, other, &s), SQL_ERROR);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, other).state, "08003");
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, other), SQL_SUCCESS);

  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, nullptr), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, dbc_).state, "HY009");
  // SQLAllocStmt and SQLFreeStmt(SQL_DROP) are the ODBC 2 road to the same handles.
  SQLHSTMT second = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocStmt(dbc_, &second), SQL_SUCCESS);
  EXPECT_EQ(Stmt(second)->state, kStmtAllocated);
  EXPECT_EQ(Stmt(second)->cursor_state, 2);
  EXPECT_NE(Stmt(second)->ird, nullptr);
  ASSERT_EQ(ExecDirect("CREATE TABLE by_second (a INT)", second), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeStmt(second, SQL_DROP), SQL_SUCCESS);
}

TEST_P(Statement, PreparedStatementDescribesItsColumnsBeforeExecution) {
  MustExec("CREATE TABLE d (i INT NOT NULL, v VARCHAR(40), n NUMERIC(12, 3))");
  ASSERT_EQ(Prepare("SELECT i, v, n FROM d"), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Stmt()->state, kStmtPrepared);
  SQLSMALLINT columns = -7;
  ASSERT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
  ASSERT_EQ(columns, 3);

  SQLCHAR name[16];
  std::memset(name, 'x', sizeof name);
  SQLSMALLINT name_length = -7, type = -7, digits = -7, nullable = -7;
  SQLULEN size = 0xdeadbeef;
  ASSERT_EQ(SQLDescribeCol(stmt_, 2, name, sizeof name, &name_length, &type, &size, &digits,
                           &nullable),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "v");
  EXPECT_EQ(name_length, 1);
  EXPECT_EQ(type, SQL_VARCHAR);
  EXPECT_EQ(size, 40u);
  EXPECT_EQ(digits, 0);

  // Column attributes: numbers are written as a whole SQLLEN.
  SQLLEN number = static_cast<SQLLEN>(0x5A5A5A5A5A5A5A5ALL);
  ASSERT_EQ(SQLColAttribute(stmt_, 0, SQL_DESC_COUNT, nullptr, 0, nullptr, &number), SQL_SUCCESS);
  EXPECT_EQ(number, 3);
  number = static_cast<SQLLEN>(0x5A5A5A5A5A5A5A5ALL);
  ASSERT_EQ(SQLColAttribute(stmt_, 1, SQL_DESC_TYPE, nullptr, 0, nullptr, &number), SQL_SUCCESS);
  EXPECT_EQ(number, SQL_INTEGER);
  number = static_cast<SQLLEN>(0x5A5A5A5A5A5A5A5ALL);
  ASSERT_EQ(SQLColAttributes(stmt_, 3, SQL_COLUMN_SCALE, nullptr, 0, nullptr, &number),
            SQL_SUCCESS);
  EXPECT_EQ(number, 3);
  char label[8];
  std::memset(label, 'x', sizeof label);
  SQLSMALLINT label_length = -7;
  ASSERT_EQ(SQLColAttribute(stmt_, 3, SQL_DESC_NAME, label, sizeof label, &label_length, nullptr),
            SQL_SUCCESS);
  EXPECT_STREQ(label, "n");
  EXPECT_EQ(label_length, 1);

  // A column beyond the count, and column 0 with bookmarks off.
  EXPECT_EQ(SQLDescribeCol(stmt_, 4, name, sizeof name, nullptr, nullptr, nullptr, nullptr,
                           nullptr),
            SQL_ERROR);
  EXPECT_EQ(StmtState(), "07009");
  EXPECT_EQ(SQLDescribeCol(stmt_, 0, name, sizeof name, nullptr, nullptr, nullptr, nullptr,
                           nullptr),
            SQL_ERROR);
  EXPECT_EQ(StmtState(), "07009");

  // A truncated name says so and gives the full length.
  SQLCHAR tiny[1];
  ASSERT_EQ(SQLDescribeCol(stmt_, 1, tiny, sizeof tiny, &name_length, nullptr, nullptr, nullptr,
                           nullptr),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(StmtState(), "01004");
  EXPECT_EQ(tiny[0], '\0');
}

TEST_P(Statement, StatementWithoutColumnsReportsNoneAndColumnCallsRefuse) {
  MustExec("CREATE TABLE nocols (a INT)");
  ASSERT_EQ(Prepare("INSERT INTO nocols VALUES (5)"), SQL_SUCCESS) << StmtState();
  SQLSMALLINT columns = -7;
  ASSERT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 0);
  SQLCHAR name[8];
  EXPECT_EQ(SQLDescribeCol(stmt_, 1, name, sizeof name, nullptr, nullptr, nullptr, nullptr,
                           nullptr),
            SQL_ERROR);
  EXPECT_EQ(StmtState(), "07005");
  SQLLEN number = 0;
  EXPECT_EQ(SQLColAttribute(stmt_, 1, SQL_DESC_TYPE, nullptr, 0, nullptr, &number), SQL_ERROR);
  EXPECT_EQ(StmtState(), "07005");
}

TEST_P(Statement, PreparedTextRunsAgainAndStaysPreparedAfterClose) {
  MustExec("CREATE TABLE again (a INT)");
  ASSERT_EQ(Prepare("INSERT INTO again VALUES (7)"), SQL_SUCCESS) << StmtState();
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState();
    SQLLEN rows = -7;
    EXPECT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
    EXPECT_EQ(rows, 1);
  }
  EXPECT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(Stmt()->state, kStmtPrepared);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(ValueNumber("SELECT COUNT(*) FROM again"), 4);

  // After an execute direct, a close returns the statement to allocated.
  ASSERT_EQ(ExecDirect("INSERT INTO again VALUES (8)"), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(Stmt()->state, kStmtAllocated);
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY010");
}

TEST_P(Statement, QueryOpensItsCursorInTheRequestAndCloses) {
  MustExec("CREATE TABLE q (a INT, b VARCHAR(10))");
  MustExec("INSERT INTO q VALUES (1, 'x')");
  ASSERT_EQ(ExecDirect("SELECT a, b FROM q"), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Stmt()->cursor_state, kCursorOpen);
  EXPECT_EQ(Dbc()->open_cursors, 1);
  SQLSMALLINT columns = -7;
  ASSERT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 2);
  // A second text while the cursor is open is refused.
  EXPECT_EQ(ExecDirect("SELECT 1"), SQL_ERROR);
  EXPECT_EQ(StmtState(), "24000");
  EXPECT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Stmt()->cursor_state, 2);
  EXPECT_EQ(Dbc()->open_cursors, 0);
  EXPECT_EQ(SQLCloseCursor(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(), "24000");
  // More results after the last result set: no data, and the statement is closed.
  ASSERT_EQ(ExecDirect("SELECT a FROM q"), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(SQLMoreResults(stmt_), SQL_NO_DATA);
  EXPECT_EQ(Dbc()->open_cursors, 0);
  EXPECT_EQ(Stmt()->state, kStmtAllocated);
}

TEST_P(Statement, SeveralResultSetsAreEachDescribedAfresh) {
  MustExec("CREATE TABLE m1 (a INT)");
  MustExec("CREATE TABLE m2 (b VARCHAR(10), c INT, d INT)");
  ASSERT_EQ(ExecDirect("SELECT a FROM m1; SELECT b, c, d FROM m2"), SQL_SUCCESS) << StmtState();
  SQLSMALLINT columns = -7;
  ASSERT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 1);
  ASSERT_EQ(SQLMoreResults(stmt_), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(Dbc()->open_cursors, 1);
  ASSERT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 3);
  SQLCHAR name[8];
  SQLSMALLINT type = 0;
  ASSERT_EQ(SQLDescribeCol(stmt_, 1, name, sizeof name, nullptr, &type, nullptr, nullptr,
                           nullptr),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "b");
  EXPECT_EQ(type, SQL_VARCHAR);
  EXPECT_EQ(SQLMoreResults(stmt_), SQL_NO_DATA);
  EXPECT_EQ(StmtState(), "");
  EXPECT_EQ(Dbc()->open_cursors, 0);
  EXPECT_EQ(Stmt()->state, kStmtAllocated);
}

// Each result set of a text of several queries gives its own rows, read through bound
// columns, and the connection stays usable after the last.
TEST_P(Statement, TheRowsOfEachResultSetAreFetched) {
  MustExec("CREATE TABLE r1 (a INT)");
  MustExec("CREATE TABLE r2 (b VARCHAR(10), c INT)");
  for (int i = 1; i <= 3; ++i) MustExec("INSERT INTO r1 VALUES (" + std::to_string(i) + ")");
  for (int i = 1; i <= 2; ++i)
    MustExec("INSERT INTO r2 VALUES ('v" + std::to_string(i) + "', " + std::to_string(10 * i) + ")");
  ASSERT_EQ(ExecDirect("SELECT a FROM r1 ORDER BY a; SELECT b, c FROM r2 ORDER BY c"), SQL_SUCCESS)
      << StmtState();
  std::string first;
  while (SQLFetch(stmt_) == SQL_SUCCESS) {
    SQLBIGINT a = 0;
    ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_SBIGINT, &a, 0, nullptr), SQL_SUCCESS) << StmtState();
    first += std::to_string(a) + " ";
  }
  EXPECT_EQ(first, "1 2 3 ");
  EXPECT_EQ(StmtState(), "");
  ASSERT_EQ(SQLMoreResults(stmt_), SQL_SUCCESS) << StmtState();
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_UNBIND), SQL_SUCCESS);
  // What a generic application asks before reading: the shape and the row count.
  SQLSMALLINT columns = 0;
  ASSERT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 2);
  SQLLEN count = -7;
  ASSERT_EQ(SQLRowCount(stmt_, &count), SQL_SUCCESS) << StmtState();
  // The second result's values read with SQLGetData, as many applications read them.
  std::string second;
  SQLRETURN rc;
  while ((rc = SQLFetch(stmt_)) == SQL_SUCCESS) {
    SQLCHAR b[8] = {};
    SQLINTEGER c = 0;
    ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, b, sizeof b, nullptr), SQL_SUCCESS) << StmtState();
    ASSERT_EQ(SQLGetData(stmt_, 2, SQL_C_LONG, &c, 0, nullptr), SQL_SUCCESS) << StmtState();
    second += reinterpret_cast<char*>(b) + std::string(":") + std::to_string(c) + " ";
  }
  EXPECT_EQ(rc, SQL_NO_DATA) << StmtState();
  EXPECT_EQ(second, "v1:10 v2:20 ");
  EXPECT_EQ(SQLMoreResults(stmt_), SQL_NO_DATA);
  EXPECT_EQ(ValueNumber("SELECT COUNT(*) FROM r1"), 3);
}

TEST_P(Statement, InsertArraysGoAsOneBlockAndFallBackToSingleSets) {
  MustExec("CREATE TABLE pa (a INT PRIMARY KEY)");
  constexpr SQLULEN kSets = 10;
  SQLINTEGER values[kSets];
  SQLUSMALLINT status[kSets];
  SQLULEN processed = 0;
  for (SQLULEN i = 0; i < kSets; ++i) values[i] = static_cast<SQLINTEGER>(i + 1);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(kSets), 0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_STATUS_PTR, status, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, values,
                             sizeof values[0], nullptr),
            SQL_SUCCESS);
  const int executes_before = LogCount("execute ");
  std::fill(std::begin(status), std::end(status), 0x7E7E);
  ASSERT_EQ(ExecDirect("INSERT INTO pa VALUES (?)"), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(LogCount("execute ") - executes_before, 1);  // one request for the block
  SQLLEN rows = -7;
  EXPECT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 10);
  EXPECT_EQ(processed, kSets);
  for (SQLUSMALLINT s : status) EXPECT_EQ(s, SQL_PARAM_SUCCESS);
  EXPECT_EQ(ValueNumber("SELECT COUNT(*) FROM pa"), 10);

  // The first set repeats a key: the block fails and the sets run one by one, the
  // failing one ending the call; each status entry tells its own outcome.
  for (SQLULEN i = 0; i < kSets; ++i) values[i] = static_cast<SQLINTEGER>(i + 11);
  values[0] = 1;
  std::fill(std::begin(status), std::end(status), 0x7E7E);
  const int executes_between = LogCount("execute ");
  EXPECT_EQ(ExecDirect("INSERT INTO pa VALUES (?)"), SQL_ERROR);
  EXPECT_FALSE(StmtState().empty());
  EXPECT_EQ(LogCount("execute ") - executes_between, 2);  // the block, then the first set
  EXPECT_EQ(status[0], SQL_PARAM_ERROR);
  for (SQLULEN i = 1; i < kSets; ++i) EXPECT_EQ(status[i], SQL_PARAM_UNUSED) << i;
  EXPECT_EQ(ValueNumber("SELECT COUNT(*) FROM pa"), 10);

  // The fifth set repeats a key: the failed block leaves no row behind, so the sets
  // before it succeed one by one and the fifth fails alone.
  for (SQLULEN i = 0; i < kSets; ++i) values[i] = static_cast<SQLINTEGER>(i + 21);
  values[4] = 1;
  std::fill(std::begin(status), std::end(status), 0x7E7E);
  const int executes_after = LogCount("execute ");
  EXPECT_EQ(ExecDirect("INSERT INTO pa VALUES (?)"), SQL_ERROR);
  EXPECT_EQ(LogCount("execute ") - executes_after, 6);  // the block, then sets 1 to 5
  for (SQLULEN i = 0; i < 4; ++i) EXPECT_EQ(status[i], SQL_PARAM_SUCCESS) << i;
  EXPECT_EQ(status[4], SQL_PARAM_ERROR);
  for (SQLULEN i = 5; i < kSets; ++i) EXPECT_EQ(status[i], SQL_PARAM_UNUSED) << i;
  EXPECT_EQ(ValueNumber("SELECT COUNT(*) FROM pa"), 14);
}

TEST_P(Statement, CursorNamesAreCheckedAndKeptApart) {
  // No name yet and no result set.
  SQLCHAR name[40];
  SQLSMALLINT length = -7;
  EXPECT_EQ(SQLGetCursorName(stmt_, name, sizeof name, &length), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY015");

  const std::string longest(32, 'c');
  EXPECT_EQ(SQLSetCursorName(stmt_,
                             reinterpret_cast<SQLCHAR*>(const_cast<char*>(longest.c_str())),
                             SQL_NTS),
            SQL_SUCCESS);
  std::memset(name, 'x', sizeof name);
  ASSERT_EQ(SQLGetCursorName(stmt_, name, sizeof name, &length), SQL_SUCCESS);
  EXPECT_EQ(reinterpret_cast<char*>(name), longest);
  EXPECT_EQ(length, 32);

  struct Case {
    std::string name;
    SQLSMALLINT length;
    const char* state;
  };
  const Case refused[] = {
      {std::string(33, 'c'), SQL_NTS, "34000"},
      {"abc", -7, "HY090"},
      {"", 0, "34000"},
      {std::string("a\0b", 3), 3, "34000"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.state);
    EXPECT_EQ(SQLSetCursorName(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(c.name.data())),
                               c.length),
              SQL_ERROR);
    EXPECT_EQ(StmtState(), c.state);
  }
  EXPECT_EQ(SQLSetCursorName(stmt_, nullptr, SQL_NTS), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY009");

  // Another statement of the connection may not take the same name in another case.
  SQLHSTMT other = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &other), SQL_SUCCESS);
  const std::string upper(32, 'C');
  EXPECT_EQ(SQLSetCursorName(other, reinterpret_cast<SQLCHAR*>(const_cast<char*>(upper.c_str())),
                             SQL_NTS),
            SQL_ERROR);
  EXPECT_EQ(StmtState(other), "3C000");

  // A name with quotes and blanks is a name like any other: queries still run under it.
  const char quoted[] = "my \"cur\" 'x'";
  ASSERT_EQ(SQLSetCursorName(other, reinterpret_cast<SQLCHAR*>(const_cast<char*>(quoted)),
                             SQL_NTS),
            SQL_SUCCESS);
  MustExec("CREATE TABLE named (a INT)");
  MustExec("INSERT INTO named VALUES (1)");
  ASSERT_EQ(ExecDirect("SELECT a FROM named", other), SQL_SUCCESS) << StmtState(other);
  ASSERT_EQ(SQLGetCursorName(other, name, sizeof name, &length), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(name), quoted);
  // While its cursor is open the name cannot change.
  EXPECT_EQ(SQLSetCursorName(other, reinterpret_cast<SQLCHAR*>(const_cast<char*>("n2")), SQL_NTS),
            SQL_ERROR);
  EXPECT_EQ(StmtState(other), "24000");
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, other), SQL_SUCCESS);
  EXPECT_EQ(Dbc()->open_cursors, 0);
}

TEST_P(Statement, BindColChecksTypesAndKeepsAnIdenticalBinding) {
  SQLINTEGER value = 0;
  SQLLEN indicator = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_SLONG, &value, sizeof value, &indicator), SQL_SUCCESS);
  const std::uint32_t counter = Stmt()->ard->change_counter;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_SLONG, &value, sizeof value, &indicator), SQL_SUCCESS);
  EXPECT_EQ(Stmt()->ard->change_counter, counter);
  EXPECT_EQ(Stmt()->ard->count, 1);

  SQLWCHAR wide[8];
  EXPECT_EQ(SQLBindCol(stmt_, 2, SQL_C_WCHAR, wide, 7, &indicator), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY090");
  EXPECT_EQ(SQLBindCol(stmt_, 2, 12345, wide, sizeof wide, &indicator), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY003");
  EXPECT_EQ(Stmt()->ard->count, 1);

  SQL_NUMERIC_STRUCT numeric;
  ASSERT_EQ(SQLBindCol(stmt_, 3, SQL_C_NUMERIC, &numeric, sizeof numeric, nullptr), SQL_SUCCESS);
  EXPECT_EQ(Stmt()->ard->count, 3);
  EXPECT_EQ(Stmt()->ard->records[2]->precision, 30);

  // Unbinding the last column shrinks the descriptor; SQL_UNBIND empties it.
  ASSERT_EQ(SQLBindCol(stmt_, 3, SQL_C_NUMERIC, nullptr, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(Stmt()->ard->count, 1);
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_UNBIND), SQL_SUCCESS);
  EXPECT_EQ(Stmt()->ard->count, 0);
}

INSTANTIATE_TEST_SUITE_P(Links, Statement, testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         LinkName);

// An ODBC 2 application: an update without rows is plain success.
class Odbc2Statement : public StatementFixture {
 protected:
  SQLINTEGER OdbcVersion() const override { return SQL_OV_ODBC2; }
};

TEST_P(Odbc2Statement, UpdateWithoutRowsSucceeds) {
  MustExec("CREATE TABLE u (a INT)");
  EXPECT_EQ(ExecDirect("UPDATE u SET a = 1 WHERE a = 2"), SQL_SUCCESS) << StmtState();
  SQLLEN rows = -7;
  EXPECT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(SQLMoreResults(stmt_), SQL_NO_DATA);
}

INSTANTIATE_TEST_SUITE_P(Links, Odbc2Statement, testing::Values(Link::kTcpIp), LinkName);

}  // namespace
