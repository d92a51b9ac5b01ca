// SQLGetData and bookmarks through the driver's entry points against vqeng12 over both
// links: values in pieces with buffer lengths of 0, 1 and too small, a value of several
// MB read byte for byte, the same GUID read twice, the end of a value, the bookmark column
// (8-byte SQL_C_BOOKMARK values) and fetches by bookmark.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "statement_fixture.h"

namespace vq_odbc_e2e {
namespace {

class GetData : public StatementFixture {
 protected:
  GetData() : StatementFixture("odbc_getdata") {}
};

TEST_P(GetData, PiecesOfATextWithSmallBuffersThenNoData) {
  MustExec("CREATE TABLE g (c VARCHAR(40))");
  MustExec("INSERT INTO g VALUES ('abcdefghij')");
  MustSucceed(ExecDirect("SELECT c FROM g"), "select");
  MustSucceed(SQLFetch(stmt_), "fetch");
  char buf[8];
  SQLLEN len = -7;
  // Buffer length 0: nothing written, the whole length reported.
  std::memset(buf, 0xFF, sizeof buf);
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, 0, &len), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(StmtState(), "01004");
  EXPECT_EQ(len, 10);
  EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xFF);
  // Buffer length 1: only the terminator fits.
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, 1, &len), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(static_cast<unsigned char>(buf[1]), 0xFF);
  EXPECT_EQ(len, 10);
  // Then pieces of 4 bytes (3 characters and a NUL) until the value ends.
  std::string got;
  SQLRETURN rc;
  int pieces = 0;
  while ((rc = SQLGetData(stmt_, 1, SQL_C_CHAR, buf, 4, &len)) != SQL_NO_DATA) {
    ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << StmtState();
    ASSERT_LT(++pieces, 10);
    got += buf;
    EXPECT_EQ(static_cast<unsigned char>(buf[4]), 0xFF);
    if (rc == SQL_SUCCESS) break;
  }
  EXPECT_EQ(got, "abcdefghij");
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, 4, &len), SQL_NO_DATA);
  // Column 0 is the bookmark: SQL_C_LONG is refused; bookmarks are off here.
  EXPECT_EQ(SQLGetData(stmt_, 0, SQL_C_LONG, buf, 4, &len), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY003");
  EXPECT_EQ(SQLGetData(stmt_, 0, SQL_C_BOOKMARK, buf, 8, &len), SQL_ERROR);
  EXPECT_EQ(StmtState(), "07009");
  EXPECT_EQ(SQLGetData(stmt_, 2, SQL_C_CHAR, buf, 4, &len), SQL_ERROR);
  EXPECT_EQ(StmtState(), "07009");
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, -1, &len), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY090");
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, 4, &len), SQL_ERROR);
  EXPECT_EQ(StmtState(), "24000");
}

TEST_P(GetData, AValueOfSeveralMegabytesComesBackByteForByte) {
  MustExec("CREATE TABLE big (b LONG VARBINARY)");
  const std::size_t size = 3 * 1024 * 1024 + 17;
  std::vector<unsigned char> value(size);
  for (std::size_t i = 0; i < size; ++i) value[i] = static_cast<unsigned char>((i * 131) ^ (i >> 9));
  // The value goes in at execution, in pieces of 64 KB.
  SQLLEN value_len = SQL_LEN_DATA_AT_EXEC(static_cast<SQLLEN>(size));
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY, size, 0,
                             reinterpret_cast<SQLPOINTER>(1), 0, &value_len),
            SQL_SUCCESS);
  ASSERT_EQ(ExecDirect("INSERT INTO big VALUES (?)"), SQL_NEED_DATA) << StmtState();
  SQLPOINTER token = nullptr;
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA);
  for (std::size_t at = 0; at < size; at += 65536) {
    const SQLLEN n = static_cast<SQLLEN>(std::min<std::size_t>(65536, size - at));
    MustSucceed(SQLPutData(stmt_, value.data() + at, n), "put data");
  }
  MustSucceed(SQLParamData(stmt_, &token), "param data");
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  MustSucceed(ExecDirect("SELECT b FROM big"), "select");
  MustSucceed(SQLFetch(stmt_), "fetch");
  std::vector<unsigned char> got;
  std::vector<unsigned char> piece(256 * 1024 + 8);
  SQLRETURN rc;
  int calls = 0;
  while ((rc = SQLGetData(stmt_, 1, SQL_C_BINARY, piece.data(), 256 * 1024, &value_len)) !=
         SQL_NO_DATA) {
    ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << StmtState();
    ASSERT_LT(++calls, 100);
    const SQLLEN n = rc == SQL_SUCCESS ? value_len : 256 * 1024;
    ASSERT_GT(n, 0);
    got.insert(got.end(), piece.begin(), piece.begin() + n);
    if (rc == SQL_SUCCESS) break;
  }
  EXPECT_EQ(calls, static_cast<int>((size + 256 * 1024 - 1) / (256 * 1024)));
  ASSERT_EQ(got.size(), size);
  EXPECT_TRUE(got == value);
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_BINARY, piece.data(), 16, &value_len), SQL_NO_DATA);
}

// A wide buffer above 32 KB asks for the long wide-text form of the value; the short
// text comes back whole, with its terminator and the guard bytes after it untouched.
TEST_P(GetData, AWideBufferAboveThirtyTwoKilobytesReadsAShortText) {
  MustExec("CREATE TABLE gw (c VARCHAR(40), n NVARCHAR(40), l LONG VARCHAR)");
  MustExec("INSERT INTO gw VALUES ('abcdefghij', 'abcdefghij', 'abcdefghij')");
  for (const char* column : {"c", "n", "l"})
  for (const SQLLEN room : {SQLLEN{32768}, SQLLEN{70000}, SQLLEN{200000}}) {
    SCOPED_TRACE(std::string(column) + " " + std::to_string(room));
    MustSucceed(ExecDirect((std::string("SELECT ") + column + " FROM gw").c_str()), "select");
    MustSucceed(SQLFetch(stmt_), "fetch");
    std::vector<unsigned char> buf(static_cast<std::size_t>(room) + 8, 0xFF);
    SQLLEN len = -7;
    MustSucceed(SQLGetData(stmt_, 1, SQL_C_WCHAR, buf.data(), room, &len), "wide piece");
    EXPECT_EQ(len, 20);
    const std::string want = "abcdefghij";
    for (std::size_t k = 0; k < want.size(); ++k) {
      EXPECT_EQ(buf[2 * k], static_cast<unsigned char>(want[k]));
      EXPECT_EQ(buf[2 * k + 1], 0);
    }
    EXPECT_EQ(buf[20], 0);
    EXPECT_EQ(buf[21], 0);
    EXPECT_EQ(buf[static_cast<std::size_t>(room)], 0xFF);
    ASSERT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
  }
}

// The same with the column bound: the fetch asks for the long wide form too.
TEST_P(GetData, AWideBoundBufferAboveThirtyTwoKilobytesTakesAShortText) {
  MustExec("CREATE TABLE gb (c VARCHAR(40), n NVARCHAR(40))");
  MustExec("INSERT INTO gb VALUES ('abcdefghij', 'abcdefghij')");
  for (const char* column : {"c", "n"}) {
    SCOPED_TRACE(column);
    std::vector<unsigned char> buf(70000 + 8, 0xFF);
    SQLLEN len = -7;
    MustSucceed(ExecDirect((std::string("SELECT ") + column + " FROM gb").c_str()), "select");
    ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_WCHAR, buf.data(), 70000, &len), SQL_SUCCESS);
    MustSucceed(SQLFetch(stmt_), "fetch");
    EXPECT_EQ(len, 20);
    EXPECT_EQ(buf[0], 'a');
    EXPECT_EQ(buf[20], 0);
    EXPECT_EQ(buf[70000], 0xFF);
    ASSERT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
    ASSERT_EQ(SQLFreeStmt(stmt_, SQL_UNBIND), SQL_SUCCESS);
  }
}

TEST_P(GetData, AGuidReadTwiceGivesTheSameBytes) {
  MustExec("CREATE TABLE gu (g UNIQUEIDENTIFIER)");
  SQLGUID in{0x00112233, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_GUID, SQL_GUID, 16, 0, &in,
                             sizeof in, nullptr),
            SQL_SUCCESS);
  MustSucceed(ExecDirect("INSERT INTO gu VALUES (?)"), "insert");
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  MustSucceed(ExecDirect("SELECT g, g FROM gu"), "select");
  SQLGUID bound{};
  SQLLEN bound_len = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_GUID, &bound, sizeof bound, &bound_len), SQL_SUCCESS);
  MustSucceed(SQLFetch(stmt_), "fetch");
  EXPECT_EQ(bound.Data1, 0x00112233u);
  EXPECT_EQ(bound.Data2, 0x4455);
  EXPECT_EQ(bound.Data3, 0x6677);
  char text[40];
  SQLLEN len = 0;
  // The bound column read again as text, then the second column as text twice: the
  // conversion never changes the fetched bytes.
  MustSucceed(SQLGetData(stmt_, 1, SQL_C_CHAR, text, sizeof text, &len), "text of column 1");
  EXPECT_STREQ(text, "00112233-4455-6677-8899-aabbccddeeff");
  MustSucceed(SQLGetData(stmt_, 2, SQL_C_CHAR, text, sizeof text, &len), "column 2");
  EXPECT_STREQ(text, "00112233-4455-6677-8899-aabbccddeeff");
  SQLGUID again{};
  MustSucceed(SQLGetData(stmt_, 1, SQL_C_GUID, &again, sizeof again, &len), "guid again");
  EXPECT_EQ(std::memcmp(&again, &bound, sizeof again), 0);
}

TEST_P(GetData, BookmarksAreEightByteValuesAndFetchByBookmark) {
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE,
                           reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC), 0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_USE_BOOKMARKS,
                           reinterpret_cast<SQLPOINTER>(SQL_UB_VARIABLE), 0),
            SQL_SUCCESS);
  MustExec("CREATE TABLE bm (k INTEGER)");
  for (int k = 1; k <= 12; ++k) MustExec("INSERT INTO bm VALUES (" + std::to_string(k) + ")");
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(4), 0),
            SQL_SUCCESS);
  MustSucceed(ExecDirect("SELECT k FROM bm ORDER BY k"), "select");
  // Bookmarks in a column-wise array of SQLULEN with a guard element.
  SQLULEN marks[5];
  SQLLEN mark_len[5];
  SQLINTEGER keys[4];
  SQLLEN key_len[4];
  std::memset(marks, 0xAB, sizeof marks);
  ASSERT_EQ(SQLBindCol(stmt_, 0, SQL_C_BOOKMARK, marks, sizeof(SQLULEN), mark_len), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, keys, 0, key_len), SQL_SUCCESS);
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 5), "absolute 5");
  EXPECT_EQ(keys[0], 5);
  for (int r = 0; r < 4; ++r) {
    EXPECT_EQ(marks[r], static_cast<SQLULEN>(5 + r)) << r;
    EXPECT_EQ(mark_len[r], static_cast<SQLLEN>(sizeof(SQLULEN)));
  }
  SQLULEN guard;
  std::memset(&guard, 0xAB, sizeof guard);
  EXPECT_EQ(marks[4], guard);
  // SQLGetData on column 0 after positioning on the third row.
  MustSucceed(SQLSetPos(stmt_, 3, SQL_POSITION, SQL_LOCK_NO_CHANGE), "position");
  SQLULEN one = 0;
  SQLLEN len = 0;
  MustSucceed(SQLGetData(stmt_, 0, SQL_C_BOOKMARK, &one, sizeof one, &len), "bookmark");
  EXPECT_EQ(one, marks[2]);
  EXPECT_EQ(len, static_cast<SQLLEN>(sizeof(SQLULEN)));
  EXPECT_EQ(SQLGetData(stmt_, 0, SQL_C_BOOKMARK, &one, sizeof one, &len), SQL_NO_DATA);
  // Fetch by bookmark: the rowset starts at the saved row, plus the offset.
  SQLULEN saved = marks[1];  // row 6
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_FETCH_BOOKMARK_PTR, &saved, 0), SQL_SUCCESS);
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0), "first");
  EXPECT_EQ(keys[0], 1);
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_BOOKMARK, 2), "bookmark + 2");
  EXPECT_EQ(keys[0], 8);
  EXPECT_EQ(keys[3], 11);
  EXPECT_EQ(marks[0], 8u);
  MustSucceed(SQLFetchScroll(stmt_, SQL_FETCH_BOOKMARK, 0), "bookmark");
  EXPECT_EQ(keys[0], 6);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_FETCH_BOOKMARK_PTR, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_BOOKMARK, 0), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY111");
}

INSTANTIATE_TEST_SUITE_P(Links, GetData, testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         LinkName);

}  // namespace
}  // namespace vq_odbc_e2e
