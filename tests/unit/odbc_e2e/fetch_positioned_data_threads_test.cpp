// Row values supplied at execution for SQLSetPos (update, add) and SQLBulkOperations (add,
// update by bookmark) through the driver's entry points against vqeng12 over both links:
// SQLParamData answers the address of the row's value in the bound column, SQLPutData
// sends it in pieces, and the last SQLParamData does the row and carries the operation on.
// Long values (above the statement's maximum length) go through a server variable. What
// the table holds is read back by a fresh query on the same connection.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "positioned_cursor.h"

namespace vq_odbc_e2e {
namespace {

constexpr SQLLEN kText = 64;  // bytes of each row's text buffer

class RowsAtExecution : public PositionedCursor {
 protected:
  RowsAtExecution() : PositionedCursor("odbc_setpos_data") {}

  // Table dx of `rows` rows (k, t = "t<k>"), a static updatable cursor over it in rowsets
  // of `rowset`, k and t bound column-wise with the row status array (and bookmarks).
  void Open(int rows, SQLULEN rowset, bool bookmarks = false) {
    text_.assign(rowset * kText, '\x7E');
    t_ind_.assign(rowset, 0);
    OpenCursor(
        "CREATE TABLE dx (k INTEGER, t LONG VARCHAR)",
        [](int k) {
          return "INSERT INTO dx VALUES (" + std::to_string(k) + ", 't" + std::to_string(k) + "')";
        },
        rows, rowset, bookmarks, "SELECT k, t FROM dx ORDER BY k");
    if (HasFatalFailure()) return;
    ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_CHAR, text_.data(), kText, t_ind_.data()), SQL_SUCCESS);
  }

  // Row `row`'s text buffer, where SQLParamData must point for its value.
  void* TextOf(std::size_t row) { return text_.data() + row * static_cast<std::size_t>(kText); }
  void SetText(std::size_t row, const std::string& text) {
    std::memcpy(TextOf(row), text.c_str(), text.size() + 1);
    t_ind_[row] = SQL_NTS;
  }

  // Sends `value` in `pieces` pieces with SQLPutData.
  void PutInPieces(const std::string& value, int pieces) {
    const std::size_t step = value.size() / static_cast<std::size_t>(pieces) + 1;
    for (std::size_t at = 0; at < value.size(); at += step) {
      const std::size_t n = std::min(step, value.size() - at);
      ASSERT_EQ(SQLPutData(stmt_, const_cast<char*>(value.data() + at), static_cast<SQLLEN>(n)),
                SQL_SUCCESS)
          << at << " " << StmtState() << " " << DiagOf(SQL_HANDLE_STMT, stmt_).text;
    }
  }

  // SQLParamData that must ask for the value at `expected`.
  void MustAskFor(void* expected) {
    SQLPOINTER token = nullptr;
    ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA)
        << StmtState() << " " << DiagOf(SQL_HANDLE_STMT, stmt_).text;
    EXPECT_EQ(token, expected);
  }

  // SQLParamData that must end the operation.
  void MustFinish() {
    SQLPOINTER token = nullptr;
    MustSucceed(SQLParamData(stmt_, &token), "last SQLParamData");
  }

  // A value of `n` bytes that shows a piece out of place: letters cycling per 1000.
  static std::string Long(std::size_t n, char first) {
    std::string v(n, ' ');
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<char>(first + (i / 1000) % 20);
    return v;
  }

  // The text of row k, read by a fresh query on a second statement in pieces.
  std::string ReadText(int k) {
    SQLHSTMT other = SQL_NULL_HSTMT;
    if (SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &other) != SQL_SUCCESS) return "<no statement>";
    std::string out = "<no row>";
    if (ExecDirect("SELECT t FROM dx WHERE k = " + std::to_string(k), other) == SQL_SUCCESS &&
        SQLFetch(other) == SQL_SUCCESS) {
      out.clear();
      std::vector<char> piece(65536);
      SQLLEN got = 0;
      SQLRETURN rc;
      while ((rc = SQLGetData(other, 1, SQL_C_BINARY, piece.data(),
                              static_cast<SQLLEN>(piece.size()), &got)) == SQL_SUCCESS ||
             rc == SQL_SUCCESS_WITH_INFO) {
        if (got == SQL_NULL_DATA) return "<null>";
        const std::size_t n = got == SQL_NO_TOTAL || got > static_cast<SQLLEN>(piece.size())
                                  ? piece.size()
                                  : static_cast<std::size_t>(got);
        out.append(piece.data(), n);
      }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, other);
    return out;
  }

  // Row k's text checked byte for byte (a difference is shown by where it starts).
  void ExpectText(int k, const std::string& expected) {
    const std::string got = ReadText(k);
    EXPECT_EQ(got.size(), expected.size()) << "row " << k;
    const auto diff = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
    EXPECT_TRUE(diff.first == got.end() && diff.second == expected.end())
        << "row " << k << " differs at " << (diff.first - got.begin()) << ": "
        << got.substr(0, 40);
  }

  std::vector<SQLLEN> t_ind_;
  std::vector<char> text_;
};

TEST_P(RowsAtExecution, SetPosUpdateAndAddTakeValuesInPieces) {
  Open(4, 2);
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 2), "absolute 2");
  ASSERT_EQ(keys_[0], 2);

  // Update of row 2 of the rowset (k = 3) with a text of 120 KB in six pieces.
  t_ind_[1] = SQL_LEN_DATA_AT_EXEC(0);
  ASSERT_EQ(SQLSetPos(stmt_, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_NEED_DATA) << StmtState();
  MustAskFor(TextOf(1));
  // The same question until data comes.
  MustAskFor(TextOf(1));
  const std::string updated = Long(120000, 'a');
  PutInPieces(updated, 6);
  MustFinish();
  EXPECT_EQ(status_[1], SQL_ROW_UPDATED);
  SQLLEN count = -1;
  ASSERT_EQ(SQLRowCount(stmt_, &count), SQL_SUCCESS);
  EXPECT_EQ(count, 1);
  ExpectText(3, updated);
  ExpectText(2, "t2");

  // Insert of both rows of the rowset: the first row's text at execution, the second's
  // bound. Both go in; the second after the first is complete.
  keys_ = {50, 51};
  k_ind_ = {0, 0};
  t_ind_[0] = SQL_DATA_AT_EXEC;
  SetText(1, "bound");
  ASSERT_EQ(SQLSetPos(stmt_, 0, SQL_ADD, SQL_LOCK_NO_CHANGE), SQL_NEED_DATA) << StmtState();
  MustAskFor(TextOf(0));
  const std::string added = Long(50000, 'k');
  PutInPieces(added, 5);
  MustFinish();
  EXPECT_EQ(Statuses(), "44");  // SQL_ROW_ADDED
  ExpectText(50, added);
  ExpectText(51, "bound");
  // The cursor is still usable: a fetch reads the rowset from the start again.
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0), "first after the add");
  EXPECT_EQ(keys_[0], 1);
}

TEST_P(RowsAtExecution, BulkAddAndUpdateByBookmarkTakeValuesInPieces) {
  Open(3, 3, true);
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0), "first");
  const std::vector<SQLULEN> saved = marks_;

  // Three rows, the first and the last at execution; the last above the statement's
  // maximum length, so it travels through a server variable.
  keys_ = {60, 61, 62};
  k_ind_ = {0, 0, 0};
  t_ind_[0] = SQL_LEN_DATA_AT_EXEC(0);
  SetText(1, "middle");
  t_ind_[2] = SQL_DATA_AT_EXEC;
  ASSERT_EQ(SQLBulkOperations(stmt_, SQL_ADD), SQL_NEED_DATA) << StmtState();
  MustAskFor(TextOf(0));
  const std::string first = Long(30000, 'A');
  PutInPieces(first, 3);
  MustAskFor(TextOf(2));
  const std::string last = Long(700000, 'a');
  const int variables = LogCount("prepare create variable");
  PutInPieces(last, 7);
  MustFinish();
  EXPECT_GT(LogCount("prepare create variable"), variables);
  EXPECT_EQ(Statuses(), "444");
  SQLLEN count = -1;
  ASSERT_EQ(SQLRowCount(stmt_, &count), SQL_SUCCESS);
  EXPECT_EQ(count, 3);
  ExpectText(60, first);
  ExpectText(61, "middle");
  ExpectText(62, last);

  // Update by bookmark of rows 1 and 3 with their texts at execution.
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0), "first again");
  marks_ = {saved[0], saved[1], saved[2]};
  keys_ = {1, 2, 3};
  t_ind_[0] = SQL_DATA_AT_EXEC;
  SetText(1, "two");
  t_ind_[2] = SQL_DATA_AT_EXEC;
  ASSERT_EQ(SQLBulkOperations(stmt_, SQL_UPDATE_BY_BOOKMARK), SQL_NEED_DATA) << StmtState();
  MustAskFor(TextOf(0));
  const std::string one = Long(40000, 'c');
  PutInPieces(one, 4);
  MustAskFor(TextOf(2));
  const std::string three = Long(20000, 'e');
  PutInPieces(three, 2);
  MustFinish();
  EXPECT_EQ(Statuses(), "222");  // SQL_ROW_UPDATED
  ExpectText(1, one);
  ExpectText(2, "two");
  ExpectText(3, three);
}

TEST_P(RowsAtExecution, WrongCallsInTheDialogueAndCancelLeaveTheCursorUsable) {
  Open(3, 2);
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0), "first");
  SQLPOINTER token = nullptr;
  // No dialogue is open.
  EXPECT_EQ(SQLParamData(stmt_, &token), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY010");
  EXPECT_EQ(SQLPutData(stmt_, const_cast<char*>("x"), 1), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY010");

  t_ind_[0] = SQL_DATA_AT_EXEC;
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_NEED_DATA) << StmtState();
  MustAskFor(TextOf(0));
  ASSERT_EQ(SQLPutData(stmt_, const_cast<char*>("half"), 4), SQL_SUCCESS);
  // Calls that do not belong to the dialogue are function sequence errors and change
  // nothing.
  SQLCHAR got[16];
  SQLLEN got_len = 0;
  struct Call {
    const char* name;
    SQLRETURN rc;
  };
  const Call calls[] = {
      {"SQLFetchScroll", SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0)},
      {"SQLSetPos", SQLSetPos(stmt_, 1, SQL_REFRESH, SQL_LOCK_NO_CHANGE)},
      {"SQLBulkOperations", SQLBulkOperations(stmt_, SQL_ADD)},
      {"SQLGetData", SQLGetData(stmt_, 1, SQL_C_CHAR, got, sizeof got, &got_len)},
      {"SQLExecDirect", ExecDirect("SELECT k FROM dx")},
      // The bindings the row's values are read from stay as they are.
      {"SQLBindCol", SQLBindCol(stmt_, 2, SQL_C_CHAR, nullptr, 0, nullptr)},
      {"SQLFreeStmt(SQL_UNBIND)", SQLFreeStmt(stmt_, SQL_UNBIND)},
      {"SQLFreeStmt(SQL_RESET_PARAMS)", SQLFreeStmt(stmt_, SQL_RESET_PARAMS)},
      {"SQLBindParameter", SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                                            4, 0, got, sizeof got, &got_len)},
  };
  for (const Call& c : calls) {
    EXPECT_EQ(c.rc, SQL_ERROR) << c.name;
  }
  EXPECT_EQ(StmtState(), "HY010");
  // The dialogue goes on with the bindings it began with.
  ASSERT_EQ(SQLPutData(stmt_, const_cast<char*>("-way"), 4), SQL_SUCCESS) << StmtState();
  MustFinish();
  ExpectText(1, "half-way");
  t_ind_[0] = SQL_DATA_AT_EXEC;
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_NEED_DATA) << StmtState();
  MustAskFor(TextOf(0));
  ASSERT_EQ(SQLPutData(stmt_, const_cast<char*>("half"), 4), SQL_SUCCESS);
  // Cancel ends the dialogue: the row is not changed and the cursor goes on.
  ASSERT_EQ(SQLCancel(stmt_), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(SQLParamData(stmt_, &token), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY010");
  ExpectText(1, "half-way");
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0), "next after cancel");
  EXPECT_EQ(keys_[0], 3);
  SetText(0, "after");
  MustSucceed(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), "update after cancel");
  ExpectText(3, "after");

  // A bulk add cancelled in its second row inserts none of its rows.
  keys_ = {70, 71};
  k_ind_ = {0, 0};
  SetText(0, "seventy");
  t_ind_[1] = SQL_DATA_AT_EXEC;
  ASSERT_EQ(SQLBulkOperations(stmt_, SQL_ADD), SQL_NEED_DATA) << StmtState();
  MustAskFor(TextOf(1));
  PutInPieces(Long(5000, 'q'), 2);
  ASSERT_EQ(SQLCancel(stmt_), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(ValueNumber("SELECT count(*) FROM dx WHERE k >= 70"), 0);
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0), "first after the cancelled add");
  EXPECT_EQ(keys_[0], 1);
  // Closing the cursor in the middle of a dialogue ends it as well.
  t_ind_[0] = SQL_DATA_AT_EXEC;
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_NEED_DATA) << StmtState();
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(SQLParamData(stmt_, &token), SQL_ERROR);
  MustSucceed(ExecDirect("SELECT k, t FROM dx ORDER BY k"), "select after close");
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0), "first after close");
  EXPECT_EQ(keys_[0], 1);
  ExpectText(1, "half-way");
}

INSTANTIATE_TEST_SUITE_P(Links, RowsAtExecution,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp), LinkName);

}  // namespace
}  // namespace vq_odbc_e2e
