// The cursor of the SQLSetPos and SQLBulkOperations tests: a table of the test's own with
// an integer key k, a static cursor with lock concurrency over it in rowsets, the row
// status array, bookmarks when asked for, and k bound column-wise; a test class binds its
// other columns.
#ifndef VQ_TESTS_ODBC_E2E_POSITIONED_CURSOR_H
#define VQ_TESTS_ODBC_E2E_POSITIONED_CURSOR_H

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <functional>
#include <string>
#include <vector>

#include "statement_fixture.h"

namespace vq_odbc_e2e {

class PositionedCursor : public StatementFixture {
 protected:
  explicit PositionedCursor(const char* server_name) : StatementFixture(server_name) {}

  // Makes the table with `create` and `row(k)` (an INSERT) for k = 1 .. rows, then runs
  // `select` (k its first column) as a static cursor with lock concurrency in rowsets of
  // `rowset`, with the row status array, the bookmark column (when `bookmarks`) and k
  // bound. A test class binds the columns after k once this returned without a fatal
  // failure.
  void OpenCursor(const std::string& create, const std::function<std::string(int)>& row,
                  int rows, SQLULEN rowset, bool bookmarks, const std::string& select) {
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE,
                             reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC), 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CONCURRENCY,
                             reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK), 0),
              SQL_SUCCESS);
    if (bookmarks) {
      ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_USE_BOOKMARKS,
                               reinterpret_cast<SQLPOINTER>(SQL_UB_VARIABLE), 0),
                SQL_SUCCESS);
    }
    MustExec(create);
    for (int k = 1; k <= rows; ++k) MustExec(row(k));
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rowset),
                             0),
              SQL_SUCCESS);
    keys_.assign(rowset, -1);
    k_ind_.assign(rowset, 0);
    marks_.assign(rowset, 0);
    mark_ind_.assign(rowset, 0);
    status_.assign(rowset, 0x7E7E);
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status_.data(), 0), SQL_SUCCESS);
    MustSucceed(ExecDirect(select), "select");
    if (bookmarks) {
      ASSERT_EQ(SQLBindCol(stmt_, 0, SQL_C_BOOKMARK, marks_.data(), sizeof(SQLULEN),
                           mark_ind_.data()),
                SQL_SUCCESS);
    }
    ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, keys_.data(), 0, k_ind_.data()), SQL_SUCCESS);
  }

  // The row statuses of the rowset, one digit each.
  std::string Statuses() const {
    std::string out;
    for (SQLUSMALLINT s : status_) out += std::to_string(s);
    return out;
  }

  std::vector<SQLINTEGER> keys_;
  std::vector<SQLLEN> k_ind_, mark_ind_;
  std::vector<SQLULEN> marks_;
  std::vector<SQLUSMALLINT> status_;
};

}  // namespace vq_odbc_e2e

#endif  // VQ_TESTS_ODBC_E2E_POSITIONED_CURSOR_H
