// SQLSetPos and SQLBulkOperations through the driver's entry points against vqeng12 over
// both links: positioned update and delete, a delete of the whole rowset where a row is
// gone, refresh, inserts of many rows in one request, a bulk add whose rows all fail,
// and update, delete and fetch by bookmark. What the table holds afterwards is read on a
// second statement of the same connection.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "positioned_cursor.h"

namespace vq_odbc_e2e {
namespace {

class Positioned : public PositionedCursor {
 protected:
  Positioned() : PositionedCursor("odbc_setpos") {}

  // Table pt of `rows` rows (k, v = k * 10), a static updatable cursor over it in
  // rowsets of `rowset`, k and v bound column-wise with the row status array.
  void Open(int rows, SQLULEN rowset, bool bookmarks = false) {
    vals_.assign(rowset, -1);
    v_ind_.assign(rowset, 0);
    OpenCursor(
        "CREATE TABLE pt (k INTEGER, v INTEGER)",
        [](int k) {
          return "INSERT INTO pt VALUES (" + std::to_string(k) + ", " + std::to_string(k * 10) +
                 ")";
        },
        rows, rowset, bookmarks, "SELECT k, v FROM pt ORDER BY k");
    if (HasFatalFailure()) return;
    ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_LONG, vals_.data(), 0, v_ind_.data()), SQL_SUCCESS);
  }

  // "k:v k:v ..." of the table, read on a second statement.
  std::string Table() {
    SQLHSTMT other = SQL_NULL_HSTMT;
    if (SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &other) != SQL_SUCCESS) return "<no statement>";
    std::string out;
    if (ExecDirect("SELECT k, v FROM pt ORDER BY k", other) == SQL_SUCCESS) {
      SQLINTEGER k = 0, v = 0;
      SQLLEN ki = 0, vi = 0;
      SQLBindCol(other, 1, SQL_C_LONG, &k, 0, &ki);
      SQLBindCol(other, 2, SQL_C_LONG, &v, 0, &vi);
      while (SQLFetch(other) == SQL_SUCCESS) {
        out += (out.empty() ? "" : " ") + std::to_string(k) + ":" +
               (vi == SQL_NULL_DATA ? std::string("null") : std::to_string(v));
      }
    } else {
      out = "<select failed " + StmtState(other) + ">";
    }
    SQLFreeHandle(SQL_HANDLE_STMT, other);
    return out;
  }

  std::vector<SQLINTEGER> vals_;
  std::vector<SQLLEN> v_ind_;
};

TEST_P(Positioned, UpdateAndDeleteTheRowsOfTheRowset) {
  Open(6, 3);
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 2), "absolute 2");
  ASSERT_EQ(keys_[0], 2);
  vals_[1] = 333;
  MustSucceed(SQLSetPos(stmt_, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE), "update row 2");
  EXPECT_EQ(status_[1], SQL_ROW_UPDATED);
  SQLLEN count = -1;
  ASSERT_EQ(SQLRowCount(stmt_, &count), SQL_SUCCESS);
  EXPECT_EQ(count, 1);
  MustSucceed(SQLSetPos(stmt_, 1, SQL_DELETE, SQL_LOCK_NO_CHANGE), "delete row 1");
  EXPECT_EQ(status_[0], SQL_ROW_DELETED);
  EXPECT_EQ(Table(), "1:10 3:333 4:40 5:50 6:60");
  // Refresh reads the row again into the bound buffers.
  vals_[2] = -5;
  MustSucceed(SQLSetPos(stmt_, 3, SQL_REFRESH, SQL_LOCK_NO_CHANGE), "refresh row 3");
  EXPECT_EQ(vals_[2], 40);
  EXPECT_EQ(status_[2], SQL_ROW_SUCCESS);
  // An exclusive lock goes to the server with the lock bit, on the row asked for (row 3
  // of the rowset that starts at row 2: row 4). The refresh left the server cursor on
  // that row, so the move is relative 0.
  MustSucceed(SQLSetPos(stmt_, 3, SQL_POSITION, SQL_LOCK_EXCLUSIVE), "lock row 3");
  bool locked = false;
  for (const std::string& line : LogLines()) {
    // A positioning fetch asks for no rows, or one when the cursor keeps its row.
    if (line.find(" fetch ") != std::string::npos &&
        line.find(" offset=0 rows=") != std::string::npos &&
        line.size() > 10 && line.compare(line.size() - 10, 10, " options=8") == 0)
      locked = true;
  }
  EXPECT_TRUE(locked);
  // Refusals.
  EXPECT_EQ(SQLSetPos(stmt_, 4, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY107");
  EXPECT_EQ(SQLSetPos(stmt_, 0, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY109");
  EXPECT_EQ(SQLSetPos(stmt_, 1, 9, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY092");
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_POSITION, 7), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY092");
}

TEST_P(Positioned, AnInsertOfOneRowTakesThatRowOfTheBoundArraysAndNoneBeyondThem) {
  Open(2, 3);
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0), "first");
  // Row 3 of the arrays is past the two rows fetched but inside the array size.
  keys_[2] = 7;
  vals_[2] = 70;
  k_ind_[2] = v_ind_[2] = 0;
  MustSucceed(SQLSetPos(stmt_, 3, SQL_ADD, SQL_LOCK_NO_CHANGE), "add row 3");
  EXPECT_EQ(status_[2], SQL_ROW_ADDED);
  // Row 4 would be read from beyond the arrays the application bound.
  status_.assign(status_.size(), 0x7E7E);
  EXPECT_EQ(SQLSetPos(stmt_, 4, SQL_ADD, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY107");
  for (SQLUSMALLINT s : status_) EXPECT_EQ(s, 0x7E7E);
  EXPECT_EQ(Table(), "1:10 2:20 7:70");
}

TEST_P(Positioned, DeletingTheWholeRowsetWhereARowIsGoneMarksItNoRow) {
  Open(8, 5);
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0), "first");
  MustSucceed(SQLSetPos(stmt_, 3, SQL_DELETE, SQL_LOCK_NO_CHANGE), "delete row 3");
  std::fill(status_.begin(), status_.end(), 0x7E7E);
  EXPECT_EQ(SQLSetPos(stmt_, 0, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(Statuses(), "11311");
  EXPECT_EQ(DiagOf(SQL_HANDLE_STMT, stmt_, 1).state, "01S01");
  EXPECT_EQ(DiagOf(SQL_HANDLE_STMT, stmt_, 2).state, "HY109");
  SQLLEN count = -1;
  ASSERT_EQ(SQLRowCount(stmt_, &count), SQL_SUCCESS);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(Table(), "6:60 7:70 8:80");
}

TEST_P(Positioned, BulkAddOfTwentyRowsGoesInOneRequest) {
  Open(2, 20);
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0), "first");
  for (int r = 0; r < 20; ++r) {
    keys_[static_cast<std::size_t>(r)] = 100 + r;
    vals_[static_cast<std::size_t>(r)] = r;
    k_ind_[static_cast<std::size_t>(r)] = 0;
    v_ind_[static_cast<std::size_t>(r)] = r == 7 ? SQL_NULL_DATA : 0;
  }
  const int puts = LogCount("put");
  MustSucceed(SQLBulkOperations(stmt_, SQL_ADD), "bulk add");
  EXPECT_EQ(LogCount("put"), puts + 1);
  EXPECT_EQ(Statuses(), std::string(20, '4'));  // SQL_ROW_ADDED
  SQLLEN count = -1;
  ASSERT_EQ(SQLRowCount(stmt_, &count), SQL_SUCCESS);
  EXPECT_EQ(count, 20);
  const std::string table = Table();
  EXPECT_EQ(table.substr(0, 17), "1:10 2:20 100:0 1");
  EXPECT_NE(table.find("107:null 108:8"), std::string::npos) << table;
  EXPECT_NE(table.find("119:19"), std::string::npos) << table;
  // After a bulk operation SQLSetPos waits for the next fetch.
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY109");
}

TEST_P(Positioned, ABulkAddWhoseRowsAllFailReportsTheFailure) {
  MustExec("CREATE TABLE strict (k INTEGER NOT NULL)");
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE,
                           reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC), 0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CONCURRENCY,
                           reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK), 0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(3), 0),
            SQL_SUCCESS);
  SQLUSMALLINT status[3] = {0x7E7E, 0x7E7E, 0x7E7E};
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status, 0), SQL_SUCCESS);
  MustSucceed(ExecDirect("SELECT k FROM strict"), "select");
  SQLINTEGER keys[3] = {1, 2, 3};
  SQLLEN ind[3] = {SQL_NULL_DATA, SQL_NULL_DATA, SQL_NULL_DATA};
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, keys, 0, ind), SQL_SUCCESS);
  EXPECT_EQ(SQLBulkOperations(stmt_, SQL_ADD), SQL_ERROR);
  EXPECT_FALSE(StmtState().empty());
  EXPECT_EQ(status[0], SQL_ROW_ERROR);
  EXPECT_EQ(status[2], SQL_ROW_ERROR);
  SQLHSTMT other = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &other), SQL_SUCCESS);
  ASSERT_EQ(ExecDirect("SELECT count(*) FROM strict", other), SQL_SUCCESS);
  SQLINTEGER n = -1;
  ASSERT_EQ(SQLBindCol(other, 1, SQL_C_LONG, &n, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(other), SQL_SUCCESS);
  EXPECT_EQ(n, 0);
  SQLFreeHandle(SQL_HANDLE_STMT, other);
}

TEST_P(Positioned, UpdateDeleteAndFetchByBookmark) {
  Open(9, 3, true);
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 4), "absolute 4");
  ASSERT_EQ(keys_[0], 4);
  const std::vector<SQLULEN> saved = marks_;  // rows 4, 5, 6
  // Update rows 4 and 6 by bookmark; row 5 is left alone (SQL_ROW_IGNORE).
  std::vector<SQLUSMALLINT> ops = {SQL_ROW_PROCEED, SQL_ROW_IGNORE, SQL_ROW_PROCEED};
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_OPERATION_PTR, ops.data(), 0), SQL_SUCCESS);
  vals_ = {400, 500, 600};
  MustSucceed(SQLBulkOperations(stmt_, SQL_UPDATE_BY_BOOKMARK), "update by bookmark");
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_OPERATION_PTR, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(Table(), "1:10 2:20 3:30 4:400 5:500 6:600 7:70 8:80 9:90");
  // Fetch by bookmark reads the saved rows back in the order of the bookmarks.
  marks_ = {saved[2], saved[0], saved[1]};
  MustSucceed(SQLBulkOperations(stmt_, SQL_FETCH_BY_BOOKMARK), "fetch by bookmark");
  EXPECT_EQ(keys_[0], 6);
  EXPECT_EQ(keys_[1], 4);
  EXPECT_EQ(keys_[2], 5);
  EXPECT_EQ(Statuses(), "000");
  // Delete by bookmark.
  marks_ = {saved[0], saved[2], saved[1]};
  MustSucceed(SQLBulkOperations(stmt_, SQL_DELETE_BY_BOOKMARK), "delete by bookmark");
  EXPECT_EQ(Statuses(), "111");
  EXPECT_EQ(Table(), "1:10 2:20 3:30 7:70 8:80 9:90");
  EXPECT_EQ(SQLBulkOperations(stmt_, 99), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HYC00");
}

// Variable bookmarks in elements of 2 bytes, shorter than the 4-byte wire value: the
// fetch writes and the bookmark operations read each element no further than it reaches,
// at the same stride (a 4-byte read ran past the array and took the wrong rows).
TEST_P(Positioned, ShortVariableBookmarksAreReadWithinTheirElements) {
  Open(9, 3, true);
  // Exactly three 2-byte elements on the heap, so that a read past them is caught.
  auto marks = std::make_unique<std::uint8_t[]>(6);
  std::vector<SQLLEN> ind(3, 0);
  ASSERT_EQ(SQLBindCol(stmt_, 0, SQL_C_VARBOOKMARK, marks.get(), 2, ind.data()), SQL_SUCCESS);
  const SQLRETURN rc = SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 4);
  ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << StmtState();
  ASSERT_EQ(keys_[0], 4);
  std::uint8_t saved[6];
  std::memcpy(saved, marks.get(), sizeof saved);
  // Fetch by bookmark in the order 6, 4, 5.
  std::memcpy(marks.get(), saved + 4, 2);
  std::memcpy(marks.get() + 2, saved, 2);
  std::memcpy(marks.get() + 4, saved + 2, 2);
  MustSucceed(SQLBulkOperations(stmt_, SQL_FETCH_BY_BOOKMARK), "fetch by bookmark");
  EXPECT_EQ(keys_[0], 6);
  EXPECT_EQ(keys_[1], 4);
  EXPECT_EQ(keys_[2], 5);
  std::memcpy(marks.get(), saved, sizeof saved);
  MustSucceed(SQLBulkOperations(stmt_, SQL_DELETE_BY_BOOKMARK), "delete by bookmark");
  EXPECT_EQ(Table(), "1:10 2:20 3:30 7:70 8:80 9:90");
}

INSTANTIATE_TEST_SUITE_P(Links, Positioned, testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         LinkName);

}  // namespace
}  // namespace vq_odbc_e2e
