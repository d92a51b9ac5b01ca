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

// A static cursor over 20 rows read with rowsets of 10 (or `rows`): the keys of the
// rowset, the rows fetched and the statuses after each move.
class Scrolling : public FetchScroll {
 protected:
  void Open(SQLULEN rows, SQLULEN max_rows = 0) {
    SetCursor(SQL_CURSOR_STATIC);
    MakeTable(20);
    SetRowset(rows);
    if (max_rows != 0) {
      ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_MAX_ROWS, reinterpret_cast<SQLPOINTER>(max_rows), 0),
                SQL_SUCCESS);
    }
    keys_.assign(rows, -1);
    inds_.assign(rows, -7);
    status_.assign(rows + 1, 0x7E7E);
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status_.data(), 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0), SQL_SUCCESS);
    MustSucceed(ExecDirect("SELECT k FROM ft ORDER BY k"), "select");
    ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, keys_.data(), 0, inds_.data()), SQL_SUCCESS);
  }
  // The keys of the rowset after a scroll, as "first..last" (or "none").
  std::string Scroll(SQLSMALLINT orientation, SQLLEN offset, SQLRETURN* rc_out = nullptr) {
    std::fill(keys_.begin(), keys_.end(), -1);
    fetched_ = 0x7E7E;
    const SQLRETURN rc = SQLFetchScroll(stmt_, orientation, offset);
    if (rc_out != nullptr) *rc_out = rc;
    if (rc == SQL_NO_DATA) return "no data";
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return "error " + StmtState();
    std::string out;
    for (SQLULEN k = 0; k < fetched_; ++k) {
      if (status_[k] != SQL_ROW_SUCCESS) return "status " + std::to_string(status_[k]);
      if (k == 0 || k + 1 == fetched_) out += (k == 0 ? "" : "..") + std::to_string(keys_[k]);
    }
    for (SQLULEN k = fetched_; k < keys_.size(); ++k) {
      if (status_[k] != SQL_ROW_NOROW) return "unfetched status " + std::to_string(status_[k]);
    }
    return out;
  }

  std::vector<SQLINTEGER> keys_;
  std::vector<SQLLEN> inds_;
  std::vector<SQLUSMALLINT> status_;
  SQLULEN fetched_ = 0;
};

TEST_P(Scrolling, EveryOrientationMovesTheRowset) {
  Open(10);
  struct Step {
    SQLSMALLINT orientation;
    SQLLEN offset;
    const char* keys;
    SQLRETURN rc;
    const char* state;
  };
  const Step steps[] = {
      {SQL_FETCH_NEXT, 0, "1..10", SQL_SUCCESS, ""},
      {SQL_FETCH_NEXT, 0, "11..20", SQL_SUCCESS, ""},
      {SQL_FETCH_NEXT, 0, "no data", SQL_NO_DATA, ""},
      {SQL_FETCH_PRIOR, 0, "11..20", SQL_SUCCESS, ""},
      {SQL_FETCH_FIRST, 0, "1..10", SQL_SUCCESS, ""},
      {SQL_FETCH_PRIOR, 0, "no data", SQL_NO_DATA, ""},
      {SQL_FETCH_NEXT, 0, "1..10", SQL_SUCCESS, ""},
      {SQL_FETCH_LAST, 0, "11..20", SQL_SUCCESS, ""},
      {SQL_FETCH_ABSOLUTE, 5, "5..14", SQL_SUCCESS, ""},
      // From a rowset at row 5 a full rowset back would start before row 1.
      {SQL_FETCH_PRIOR, 0, "1..10", SQL_SUCCESS_WITH_INFO, "01S06"},
      {SQL_FETCH_RELATIVE, 3, "4..13", SQL_SUCCESS, ""},
      {SQL_FETCH_RELATIVE, -2, "2..11", SQL_SUCCESS, ""},
      {SQL_FETCH_ABSOLUTE, 15, "15..20", SQL_SUCCESS, ""},
      {SQL_FETCH_ABSOLUTE, -3, "18..20", SQL_SUCCESS, ""},
      {SQL_FETCH_NEXT, 0, "no data", SQL_NO_DATA, ""},
      {SQL_FETCH_ABSOLUTE, 0, "no data", SQL_NO_DATA, ""},
      {SQL_FETCH_NEXT, 0, "1..10", SQL_SUCCESS, ""},
      {SQL_FETCH_ABSOLUTE, 21, "no data", SQL_NO_DATA, ""},
      {SQL_FETCH_PRIOR, 0, "11..20", SQL_SUCCESS, ""},
      {SQL_FETCH_ABSOLUTE, 10, "10..19", SQL_SUCCESS, ""},
      {SQL_FETCH_PRIOR, 0, "1..10", SQL_SUCCESS_WITH_INFO, "01S06"},
      {7, 0, "error HY106", SQL_ERROR, "HY106"},
      {99, 0, "error HY106", SQL_ERROR, "HY106"},
  };
  int n = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE("step " + std::to_string(n++) + " orientation " +
                 std::to_string(s.orientation) + " offset " + std::to_string(s.offset));
    SQLRETURN rc = 0;
    EXPECT_EQ(Scroll(s.orientation, s.offset, &rc), s.keys);
    EXPECT_EQ(rc, s.rc);
    EXPECT_EQ(StmtState(), s.state);
  }
}

TEST_P(Scrolling, MaxRowsEndsTheResultWithoutAServerRequest) {
  Open(1, 10);
  EXPECT_EQ(Scroll(SQL_FETCH_ABSOLUTE, 10), "10");
  const int before = LogCount("fetch");
  EXPECT_EQ(Scroll(SQL_FETCH_ABSOLUTE, 11), "no data");
  EXPECT_EQ(Scroll(SQL_FETCH_NEXT, 0), "no data");
  EXPECT_EQ(LogCount("fetch"), before);
  EXPECT_EQ(Scroll(SQL_FETCH_FIRST, 0), "1");
  EXPECT_EQ(Scroll(SQL_FETCH_RELATIVE, 20), "no data");
  EXPECT_EQ(LogCount("fetch"), before + 1);
}

TEST_P(Scrolling, ExtendedFetchAndTheOtherFetchesExcludeEachOther) {
  Open(10);
  SQLULEN rows = 0;
  std::vector<SQLUSMALLINT> status(10, 0x7E7E);
  MustSucceed(SQLExtendedFetch(stmt_, SQL_FETCH_ABSOLUTE, 3, &rows, status.data()), "extended");
  EXPECT_EQ(rows, 10u);
  EXPECT_EQ(keys_[0], 3);
  EXPECT_EQ(keys_[9], 12);
  EXPECT_EQ(status[9], SQL_ROW_SUCCESS);
  EXPECT_EQ(SQLFetch(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY010");
  EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY010");
  // A new cursor may be read either way.
  ASSERT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
  MustSucceed(ExecDirect("SELECT k FROM ft ORDER BY k"), "select");
  MustSucceed(SQLFetch(stmt_), "fetch");
  EXPECT_EQ(keys_[0], 1);
  EXPECT_EQ(SQLExtendedFetch(stmt_, SQL_FETCH_NEXT, 0, &rows, status.data()), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY010");
}

TEST_P(FetchScroll, RowsetsOfOneThousandAndTenThousandFillEveryRow) {
  MakeTable(10000);
  for (const SQLULEN rowset : {SQLULEN{1}, SQLULEN{1000}, SQLULEN{10000}}) {
    SCOPED_TRACE("rowset " + std::to_string(rowset));
    SetRowset(rowset);
    // Column-wise: one array per column, SQLLEN indicators, one guard element past the end.
    std::vector<SQLINTEGER> keys(rowset + 1, -1);
    std::vector<SQLCHAR> texts((rowset + 1) * 8, 0xFF);
    std::vector<SQLLEN> k_ind(rowset + 1, -7), v_ind(rowset + 1, -7);
    std::vector<SQLUSMALLINT> status(rowset + 1, 0x7E7E);
    SQLULEN fetched = 0;
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
    MustSucceed(ExecDirect("SELECT k, v FROM ft ORDER BY k"), "select");
    ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, keys.data(), 0, k_ind.data()), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_CHAR, texts.data(), 8, v_ind.data()), SQL_SUCCESS);
    SQLULEN total = 0;
    SQLRETURN rc;
    int calls = 0;
    while ((rc = SQLFetch(stmt_)) == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
      ++calls;
      ASSERT_EQ(fetched, std::min<SQLULEN>(rowset, 10000 - total));
      for (SQLULEN r = 0; r < fetched; ++r) {
        const int key = static_cast<int>(total + r + 1);
        ASSERT_EQ(keys[r], key) << r;
        ASSERT_EQ(status[r], SQL_ROW_SUCCESS) << r;
        const std::string want = "r" + std::to_string(key);
        ASSERT_EQ(std::string(reinterpret_cast<char*>(&texts[r * 8])), want) << r;
        ASSERT_EQ(v_ind[r], static_cast<SQLLEN>(want.size()));
      }
      total += fetched;
      if (rowset == 1) {
        // Rowsets of 1 over 10,000 rows take long enough: the first 1,500 show it.
        if (total == 1500) break;
      }
    }
    if (rowset != 1) {
      EXPECT_EQ(rc, SQL_NO_DATA);
      EXPECT_EQ(total, 10000u);
      EXPECT_EQ(calls, static_cast<int>((10000 + rowset - 1) / rowset));
    }
    EXPECT_EQ(keys[rowset], -1);
    EXPECT_EQ(texts[rowset * 8], 0xFF);
    EXPECT_EQ(k_ind[rowset], -7);
    EXPECT_EQ(status[rowset], 0x7E7E);
    ASSERT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
    ASSERT_EQ(SQLFreeStmt(stmt_, SQL_UNBIND), SQL_SUCCESS);
  }
}

TEST_P(FetchScroll, RowWiseBindingWithABindOffsetFillsTheShiftedRows) {
  MakeTable(25);
  struct Row {
    SQLINTEGER k;
    SQLLEN k_ind;
    SQLCHAR v[6];
    SQLLEN v_ind;
  };
  // Two rows of slack in front: the bind offset moves every row by one Row.
  std::vector<Row> rows(12);
  std::memset(rows.data(), 0xEE, rows.size() * sizeof(Row));
  SQLLEN offset = sizeof(Row);
  SetRowset(10);
  SQLULEN fetched = 0;
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(sizeof(Row)),
                           0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_OFFSET_PTR, &offset, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
  MustSucceed(ExecDirect("SELECT k, v FROM ft ORDER BY k"), "select");
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, &rows[0].k, 0, &rows[0].k_ind), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_CHAR, rows[0].v, sizeof rows[0].v, &rows[0].v_ind),
            SQL_SUCCESS);
  MustSucceed(SQLFetch(stmt_), "first rowset");
  EXPECT_EQ(fetched, 10u);
  for (int r = 0; r < 10; ++r) {
    EXPECT_EQ(rows[r + 1].k, r + 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rows[r + 1].v)), "r" + std::to_string(r + 1));
  }
  EXPECT_EQ(rows[0].k, static_cast<SQLINTEGER>(0xEEEEEEEE));
  EXPECT_EQ(rows[11].k, static_cast<SQLINTEGER>(0xEEEEEEEE));
  // The offset changes between fetches: the next rowset lands at the new place.
  offset = 0;
  MustSucceed(SQLFetch(stmt_), "second rowset");
  EXPECT_EQ(rows[0].k, 11);
  EXPECT_EQ(rows[9].k, 20);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rows[0].v)), "r11");
  EXPECT_EQ(rows[9].v_ind, 3);
  MustSucceed(SQLFetch(stmt_), "last rowset");
  EXPECT_EQ(fetched, 5u);
  EXPECT_EQ(rows[4].k, 25);
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA) << StmtState();
}

// With "Prefetch On Open" the first rows travel with the open of a prepared statement.
class PrefetchOnOpen : public FetchScroll {
 protected:
  std::string ConnectExtra() const override { return ";PrefetchOnOpen=YES"; }
};

TEST_P(PrefetchOnOpen, TheFirstRowsComeWithTheOpen) {
  MakeTable(30);
  SetRowset(10);
  std::vector<SQLINTEGER> keys(10, -1);
  std::vector<SQLLEN> ind(10, -7);
  SQLULEN fetched = 0;
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
  ASSERT_EQ(Prepare("SELECT k FROM ft ORDER BY k"), SQL_SUCCESS) << StmtState();
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, keys.data(), 0, ind.data()), SQL_SUCCESS);
  MustSucceed(SQLExecute(stmt_), "execute");
  const int fetches = LogCount("fetch");
  int total = 0;
  SQLRETURN rc;
  while ((rc = SQLFetch(stmt_)) == SQL_SUCCESS) {
    for (SQLULEN r = 0; r < fetched; ++r) ASSERT_EQ(keys[r], total + static_cast<int>(r) + 1);
    total += static_cast<int>(fetched);
  }
  EXPECT_EQ(rc, SQL_NO_DATA);
  EXPECT_EQ(total, 30);
  // The first rowset was already in the client's buffer.
  EXPECT_LT(LogCount("fetch") - fetches, 4);
}

INSTANTIATE_TEST_SUITE_P(Links, PrefetchOnOpen,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp), LinkName);

INSTANTIATE_TEST_SUITE_P(Links, Scrolling, testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         LinkName);

INSTANTIATE_TEST_SUITE_P(Links, FetchScroll,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp), LinkName);

}  // namespace
}  // namespace vq_odbc_e2e
