// Parameters end to end against vqeng12 over both links: values of every C type bound,
// inserted and read back on the same connection (fetch is not part of the driver yet,
// so values come back through the engine's one-statement executor), NULLs and defaults,
// values that do not convert, data at execution in pieces, and the parameter description.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <string>

#include "statement_fixture.h"

namespace vq_odbc_e2e {
namespace {

class Parameters : public StatementFixture {
 protected:
  Parameters() : StatementFixture("odbc_params") {}

  // Binds one input parameter; the buffer and length stay the caller's.
  SQLRETURN Bind(SQLUSMALLINT n, SQLSMALLINT c_type, SQLSMALLINT sql_type, SQLULEN size,
                 SQLSMALLINT digits, void* value, SQLLEN buffer, SQLLEN* length) {
    return SQLBindParameter(stmt_, n, SQL_PARAM_INPUT, c_type, sql_type, size, digits, value,
                            buffer, length);
  }
};

TEST_P(Parameters, EveryCTypeIsStoredAndReadBack) {
  MustExec(
      "CREATE TABLE pt (k INTEGER, c VARCHAR(40), w NVARCHAR(40), i INTEGER, s SMALLINT, "
      "t TINYINT, b BIGINT, r REAL, d DOUBLE, n NUMERIC(12,3), dt DATE, tm TIME, "
      "ts TIMESTAMP, bin VARBINARY(16), bit BIT, hx VARBINARY(8))");
  ASSERT_EQ(Prepare("INSERT INTO pt VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
            SQL_SUCCESS)
      << StmtState();

  SQLINTEGER k = 1;
  char c[41] = "hello";
  SQLLEN c_len = SQL_NTS;
  SQLWCHAR w[8] = {'w', 0xE9, 'i', 0};
  SQLLEN w_len = SQL_NTS;
  SQLINTEGER i = -123456;
  SQLSMALLINT s = -321;
  SQLCHAR t = 200;  // above 127: a tinyint is unsigned
  SQLBIGINT b = 9000000000000LL;
  SQLREAL r = 1.5f;
  SQLDOUBLE d = -2.25;
  SQL_NUMERIC_STRUCT n{};
  n.precision = 12;
  n.scale = 3;
  n.sign = 0;
  n.val[0] = 0x39;  // 12345 -> -12.345
  n.val[1] = 0x30;
  SQL_DATE_STRUCT dt{2024, 2, 29};
  SQL_TIME_STRUCT tm{10, 11, 12};
  SQL_TIMESTAMP_STRUCT ts{2024, 2, 29, 10, 11, 12, 500000000};
  unsigned char bin[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  SQLLEN bin_len = 4;
  unsigned char bit = 1;
  char hx[20] = "0a0B";
  SQLLEN hx_len = SQL_NTS;

  MustSucceed(Bind(1, SQL_C_SLONG, SQL_INTEGER, 0, 0, &k, 0, nullptr), "k");
  MustSucceed(Bind(2, SQL_C_CHAR, SQL_VARCHAR, 40, 0, c, sizeof c, &c_len), "c");
  MustSucceed(Bind(3, SQL_C_WCHAR, SQL_WVARCHAR, 40, 0, w, sizeof w, &w_len), "w");
  MustSucceed(Bind(4, SQL_C_SLONG, SQL_INTEGER, 0, 0, &i, 0, nullptr), "i");
  MustSucceed(Bind(5, SQL_C_SSHORT, SQL_SMALLINT, 0, 0, &s, 0, nullptr), "s");
  MustSucceed(Bind(6, SQL_C_UTINYINT, SQL_TINYINT, 0, 0, &t, 0, nullptr), "t");
  MustSucceed(Bind(7, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &b, 0, nullptr), "b");
  MustSucceed(Bind(8, SQL_C_FLOAT, SQL_REAL, 0, 0, &r, 0, nullptr), "r");
  MustSucceed(Bind(9, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &d, 0, nullptr), "d");
  MustSucceed(Bind(10, SQL_C_NUMERIC, SQL_NUMERIC, 12, 3, &n, sizeof n, nullptr), "n");
  MustSucceed(Bind(11, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &dt, 0, nullptr), "dt");
  MustSucceed(Bind(12, SQL_C_TYPE_TIME, SQL_TYPE_TIME, 8, 0, &tm, 0, nullptr), "tm");
  MustSucceed(Bind(13, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 26, 6, &ts, 0, nullptr), "ts");
  MustSucceed(Bind(14, SQL_C_BINARY, SQL_VARBINARY, 16, 0, bin, sizeof bin, &bin_len), "bin");
  MustSucceed(Bind(15, SQL_C_BIT, SQL_BIT, 1, 0, &bit, 0, nullptr), "bit");
  MustSucceed(Bind(16, SQL_C_CHAR, SQL_VARBINARY, 8, 0, hx, sizeof hx, &hx_len), "hx");
  MustSucceed(SQLExecute(stmt_), "execute");
  SQLLEN rows = 0;
  ASSERT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 1);

  EXPECT_EQ(ValueText("SELECT c FROM pt WHERE k = 1"), "hello");
  EXPECT_EQ(ValueText("SELECT w FROM pt WHERE k = 1"), "w\xC3\xA9i");
  EXPECT_EQ(ValueNumber("SELECT i FROM pt WHERE k = 1"), -123456);
  EXPECT_EQ(ValueNumber("SELECT s FROM pt WHERE k = 1"), -321);
  EXPECT_EQ(ValueNumber("SELECT t FROM pt WHERE k = 1"), 200);
  EXPECT_EQ(ValueText("SELECT CAST(b AS VARCHAR(30)) FROM pt WHERE k = 1"), "9000000000000");
  EXPECT_EQ(ValueText("SELECT CAST(r AS VARCHAR(30)) FROM pt WHERE k = 1"), "1.5");
  EXPECT_EQ(ValueText("SELECT CAST(d AS VARCHAR(30)) FROM pt WHERE k = 1"), "-2.25");
  EXPECT_EQ(ValueText("SELECT CAST(n AS VARCHAR(30)) FROM pt WHERE k = 1"), "-12.345");
  EXPECT_EQ(ValueText("SELECT CAST(dt AS VARCHAR(30)) FROM pt WHERE k = 1").substr(0, 10),
            "2024-02-29");
  EXPECT_NE(ValueText("SELECT CAST(tm AS VARCHAR(30)) FROM pt WHERE k = 1").find("10:11:12"),
            std::string::npos);
  EXPECT_EQ(ValueText("SELECT CAST(ts AS VARCHAR(30)) FROM pt WHERE k = 1").substr(0, 19),
            "2024-02-29 10:11:12");
  EXPECT_EQ(ValueText("SELECT hex(bin) FROM pt WHERE k = 1"), "DEADBEEF");
  EXPECT_EQ(ValueNumber("SELECT bit FROM pt WHERE k = 1"), 1);
  EXPECT_EQ(ValueText("SELECT hex(hx) FROM pt WHERE k = 1"), "0A0B");

  // The same statement again: NULLs and an escape literal in character data.
  k = 2;
  c_len = SQL_NULL_DATA;
  w_len = SQL_NULL_DATA;
  std::strcpy(hx, "{d '2024-03-01'}");
  SQLLEN null_ind = SQL_NULL_DATA;
  MustSucceed(Bind(4, SQL_C_SLONG, SQL_INTEGER, 0, 0, &i, 0, &null_ind), "i null");
  MustSucceed(Bind(16, SQL_C_CHAR, SQL_VARCHAR, 20, 0, hx, sizeof hx, &hx_len), "hx as text");
  (void)SQLFreeStmt(stmt_, SQL_CLOSE);
  ASSERT_EQ(Prepare("INSERT INTO pt (k, c, w, i, dt) VALUES (?, ?, ?, ?, ?)"), SQL_SUCCESS);
  SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
  MustSucceed(Bind(1, SQL_C_SLONG, SQL_INTEGER, 0, 0, &k, 0, nullptr), "k");
  MustSucceed(Bind(2, SQL_C_CHAR, SQL_VARCHAR, 40, 0, c, sizeof c, &c_len), "c");
  MustSucceed(Bind(3, SQL_C_WCHAR, SQL_WVARCHAR, 40, 0, w, sizeof w, &w_len), "w");
  MustSucceed(Bind(4, SQL_C_SLONG, SQL_INTEGER, 0, 0, &i, 0, &null_ind), "i");
  MustSucceed(Bind(5, SQL_C_CHAR, SQL_TYPE_DATE, 20, 0, hx, sizeof hx, &hx_len), "dt");
  MustSucceed(SQLExecute(stmt_), "execute nulls");
  EXPECT_EQ(ValueNumber("SELECT count(*) FROM pt WHERE k = 2 AND c IS NULL AND w IS NULL AND "
                        "i IS NULL"),
            1);
  EXPECT_EQ(ValueText("SELECT CAST(dt AS VARCHAR(30)) FROM pt WHERE k = 2").substr(0, 10),
            "2024-03-01");
}

TEST_P(Parameters, ValuesThatDoNotConvertAreRefused) {
  MustExec("CREATE TABLE pbad (n NUMERIC(5,0), b VARBINARY(8))");
  ASSERT_EQ(Prepare("INSERT INTO pbad VALUES (?, ?)"), SQL_SUCCESS) << StmtState();
  SQL_NUMERIC_STRUCT n{};
  n.precision = 3;
  n.sign = 1;
  n.val[0] = 0x39;  // 12345 does not fit 3 digits
  n.val[1] = 0x30;
  char hex[] = "0G";
  SQLLEN hex_len = SQL_NTS;
  ASSERT_EQ(Bind(1, SQL_C_NUMERIC, SQL_NUMERIC, 5, 0, &n, sizeof n, nullptr), SQL_SUCCESS);
  ASSERT_EQ(Bind(2, SQL_C_CHAR, SQL_VARBINARY, 8, 0, hex, sizeof hex, &hex_len), SQL_SUCCESS);
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(), "22003");
  n.precision = 5;
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(), "22018");
  EXPECT_EQ(ValueNumber("SELECT count(*) FROM pbad"), 0);  // nothing went with a cut value
}

TEST_P(Parameters, DataAtExecutionInPieces) {
  MustExec("CREATE TABLE plong (k INTEGER, v LONG VARCHAR)");
  ASSERT_EQ(Prepare("INSERT INTO plong VALUES (?, ?)"), SQL_SUCCESS) << StmtState();
  SQLINTEGER k = 1;  // sent as a piece of data at execution
  SQLLEN k_len = SQL_DATA_AT_EXEC;
  SQLLEN v_len = SQL_LEN_DATA_AT_EXEC(0);
  char token_k[] = "k";
  char token_v[] = "v";
  ASSERT_EQ(Bind(1, SQL_C_SLONG, SQL_INTEGER, 0, 0, token_k, 0, &k_len), SQL_SUCCESS);
  ASSERT_EQ(Bind(2, SQL_C_CHAR, SQL_LONGVARCHAR, 100000, 0, token_v, 0, &v_len), SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA) << StmtState();
  SQLPOINTER token = nullptr;
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA);
  EXPECT_EQ(token, token_k);
  ASSERT_EQ(SQLPutData(stmt_, &k, sizeof k), SQL_SUCCESS) << StmtState();
  k = 99;  // the piece need not outlive SQLPutData
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA) << StmtState();
  EXPECT_EQ(token, token_v);
  std::string expected;
  for (int piece = 0; piece < 10; ++piece) {
    std::string text(1000, static_cast<char>('a' + piece));
    expected += text;
    ASSERT_EQ(SQLPutData(stmt_, text.data(), static_cast<SQLLEN>(text.size())), SQL_SUCCESS)
        << StmtState();
  }
  const SQLRETURN rc = SQLParamData(stmt_, &token);
  ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO)
      << rc << " " << StmtState() << " " << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  EXPECT_EQ(ValueNumber("SELECT length(v) FROM plong WHERE k = 1"), 10000);
  EXPECT_EQ(ValueText("SELECT substr(v, 995, 10) FROM plong WHERE k = 1"), "aaaaaabbbb");
  // The dialogue is over.
  EXPECT_EQ(SQLParamData(stmt_, &token), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY010");
}

// UTF-16 pieces of any size: pieces of 7 bytes end inside code units and between the
// halves of surrogate pairs, and the text arrives whole; a value that ends inside a
// character is refused.
TEST_P(Parameters, WidePiecesMayEndInsideACharacter) {
  MustExec("CREATE TABLE pwide (k INTEGER, v LONG NVARCHAR)");
  ASSERT_EQ(Prepare("INSERT INTO pwide VALUES (?, ?)"), SQL_SUCCESS) << StmtState();
  SQLINTEGER k = 1;
  SQLLEN k_len = 0;
  SQLLEN v_len = SQL_DATA_AT_EXEC;
  char token_v[] = "v";
  ASSERT_EQ(Bind(1, SQL_C_SLONG, SQL_INTEGER, 0, 0, &k, 0, &k_len), SQL_SUCCESS);
  ASSERT_EQ(Bind(2, SQL_C_WCHAR, SQL_WLONGVARCHAR, 100000, 0, token_v, 0, &v_len), SQL_SUCCESS);
  const std::u16string unit = u"a\u00e9\U0001F600z\u65e5";  // 6 code units, one pair
  std::u16string text;
  for (int i = 0; i < 50; ++i) text += unit;
  const auto* bytes = reinterpret_cast<const char*>(text.data());
  const SQLLEN size = static_cast<SQLLEN>(text.size() * 2);
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA) << StmtState();
  SQLPOINTER token = nullptr;
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA) << StmtState();
  for (SQLLEN at = 0; at < size; at += 7) {
    const SQLLEN n = std::min<SQLLEN>(7, size - at);
    ASSERT_EQ(SQLPutData(stmt_, const_cast<char*>(bytes + at), n), SQL_SUCCESS)
        << at << " " << StmtState();
  }
  SQLRETURN rc = SQLParamData(stmt_, &token);
  ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << rc << " " << StmtState();
  EXPECT_EQ(ValueNumber("SELECT length(v) FROM pwide WHERE k = 1"), 250);  // 5 characters x 50
  EXPECT_EQ(ValueText("SELECT hex(substr(v, 1, 5)) FROM pwide WHERE k = 1"),
            "61C3A9F09F98807AE697A5");

  k = 2;
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA) << StmtState();
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA) << StmtState();
  ASSERT_EQ(SQLPutData(stmt_, const_cast<char*>(bytes), 5), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(SQLParamData(stmt_, &token), SQL_ERROR);
  EXPECT_EQ(StmtState(), "22018");
  EXPECT_EQ(ValueNumber("SELECT count(*) FROM pwide WHERE k = 2"), 0);
}

TEST_P(Parameters, DescribeParametersOfAPreparedStatement) {
  MustExec("CREATE TABLE pdesc (a INTEGER, b VARCHAR(30), c NUMERIC(10,2))");
  SQLSMALLINT count = -1;
  EXPECT_EQ(SQLNumParams(stmt_, &count), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY010");
  ASSERT_EQ(Prepare("INSERT INTO pdesc VALUES (?, ?, ?)"), SQL_SUCCESS) << StmtState();
  ASSERT_EQ(SQLNumParams(stmt_, &count), SQL_SUCCESS);
  EXPECT_EQ(count, 3);
  SQLSMALLINT type = 0, digits = -1, nullable = -1;
  SQLULEN size = 0;
  ASSERT_EQ(SQLDescribeParam(stmt_, 1, &type, &size, &digits, &nullable), SQL_SUCCESS);
  EXPECT_EQ(type, SQL_INTEGER);
  EXPECT_EQ(nullable, SQL_NULLABLE);
  ASSERT_EQ(SQLDescribeParam(stmt_, 2, &type, &size, &digits, &nullable), SQL_SUCCESS);
  EXPECT_TRUE(type == SQL_VARCHAR || type == SQL_CHAR) << type;
  EXPECT_EQ(size, 30u);
  ASSERT_EQ(SQLDescribeParam(stmt_, 3, &type, &size, &digits, &nullable), SQL_SUCCESS);
  EXPECT_TRUE(type == SQL_NUMERIC || type == SQL_DECIMAL) << type;
  EXPECT_EQ(digits, 2);
  EXPECT_EQ(SQLDescribeParam(stmt_, 4, &type, &size, &digits, &nullable), SQL_ERROR);
  EXPECT_EQ(StmtState(), "07009");
}

TEST_P(Parameters, ValuesOfSeveralMegabytesGoThroughAServerVariable) {
  MustExec("CREATE TABLE pbig (k INTEGER, v LONG VARCHAR, b LONG BINARY)");
  ASSERT_EQ(Prepare("INSERT INTO pbig VALUES (1, ?, ?)"), SQL_SUCCESS) << StmtState();
  SQLLEN v_len = SQL_DATA_AT_EXEC;
  SQLLEN b_len = SQL_DATA_AT_EXEC;
  char token_v[] = "v";
  char token_b[] = "b";
  ASSERT_EQ(Bind(1, SQL_C_CHAR, SQL_LONGVARCHAR, 0, 0, token_v, 0, &v_len), SQL_SUCCESS);
  ASSERT_EQ(Bind(2, SQL_C_CHAR, SQL_LONGVARBINARY, 0, 0, token_b, 0, &b_len), SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA) << StmtState();
  SQLPOINTER token = nullptr;
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA);
  const std::size_t kPiece = 64 * 1024;
  const int kPieces = 48;  // 3 MB of text
  for (int piece = 0; piece < kPieces; ++piece) {
    std::string text(kPiece, static_cast<char>('a' + piece % 26));
    ASSERT_EQ(SQLPutData(stmt_, text.data(), static_cast<SQLLEN>(text.size())), SQL_SUCCESS)
        << piece << " " << StmtState() << " " << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  }
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA) << StmtState();
  EXPECT_EQ(token, token_b);
  // Half a megabyte of binary data as hexadecimal text, in pieces of 32 KB.
  const std::string hex_piece = std::string(2 * kPiece / 4, 'A') + std::string(2 * kPiece / 4, '5');
  for (int piece = 0; piece < 16; ++piece) {
    ASSERT_EQ(SQLPutData(stmt_, const_cast<char*>(hex_piece.data()),
                         static_cast<SQLLEN>(hex_piece.size())),
              SQL_SUCCESS)
        << piece << " " << StmtState() << " " << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  }
  const SQLRETURN rc = SQLParamData(stmt_, &token);
  ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO)
      << rc << " " << StmtState() << " " << DiagOf(SQL_HANDLE_STMT, stmt_).text;
  EXPECT_EQ(ValueNumber("SELECT length(v) FROM pbig WHERE k = 1"),
            static_cast<std::int32_t>(kPiece * kPieces));
  EXPECT_EQ(ValueText("SELECT substr(v, 65535, 4) FROM pbig WHERE k = 1"), "aabb");
  EXPECT_EQ(ValueNumber("SELECT length(b) FROM pbig WHERE k = 1"),
            static_cast<std::int32_t>(16 * kPiece / 2));
  EXPECT_EQ(ValueText("SELECT hex(substr(b, 32767, 4)) FROM pbig WHERE k = 1"), "5555AAAA");
  EXPECT_EQ(ValueText("SELECT hex(substr(b, 524287, 2)) FROM pbig WHERE k = 1"), "5555");
  (void)SQLFreeStmt(stmt_, SQL_CLOSE);
  (void)SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
  // The values travelled through server variables, which are gone again.
  EXPECT_EQ(LogCount("prepare create variable"), 2);
  EXPECT_GE(LogCount("prepare set "), 1);
  EXPECT_EQ(LogCount("prepare drop variable"), 2);
}

// A value bound whole that is longer than the statement's maximum length travels in a
// server variable: 5 MB of text, of binary bytes and of UTF-16 text, read back byte for
// byte. A following execution with short values sends them in the request again.
TEST_P(Parameters, BoundValuesAboveTheMaximumLengthGoThroughAServerVariable) {
  MustExec("CREATE TABLE pbound (k INTEGER, t LONG VARCHAR, b LONG BINARY, w LONG VARCHAR)");
  ASSERT_EQ(Prepare("INSERT INTO pbound VALUES (?, ?, ?, ?)"), SQL_SUCCESS) << StmtState();
  const std::size_t kSize = 5 * 1024 * 1024;
  std::string text(kSize, ' ');
  std::string binary(kSize, '\0');
  std::u16string wide(kSize / 4, u' ');
  for (std::size_t i = 0; i < kSize; ++i) {
    text[i] = static_cast<char>('a' + (i / 997) % 26);
    binary[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  }
  for (std::size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<char16_t>(u'A' + (i / 991) % 26);
  SQLINTEGER k = 1;
  SQLLEN t_len = static_cast<SQLLEN>(text.size());
  SQLLEN b_len = static_cast<SQLLEN>(binary.size());
  SQLLEN w_len = static_cast<SQLLEN>(wide.size() * 2);
  ASSERT_EQ(Bind(1, SQL_C_SLONG, SQL_INTEGER, 0, 0, &k, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(Bind(2, SQL_C_CHAR, SQL_LONGVARCHAR, kSize, 0, text.data(), t_len, &t_len),
            SQL_SUCCESS);
  ASSERT_EQ(Bind(3, SQL_C_BINARY, SQL_LONGVARBINARY, kSize, 0, binary.data(), b_len, &b_len),
            SQL_SUCCESS);
  ASSERT_EQ(Bind(4, SQL_C_WCHAR, SQL_LONGVARCHAR, wide.size(), 0, wide.data(), w_len, &w_len),
            SQL_SUCCESS);
  const int variables = LogCount("prepare create variable");
  MustSucceed(SQLExecute(stmt_), "execute with long values");
  EXPECT_EQ(LogCount("prepare create variable"), variables + 3);
  // Short values in the next execution are sent in the request, not the variables left
  // from the long ones.
  k = 2;
  t_len = 5;
  b_len = 3;
  w_len = 4;
  MustSucceed(SQLExecute(stmt_), "execute with short values");

  // Reads column `column` of row `key` with SQLGetData in pieces on a second statement.
  auto read = [&](int key, const char* column, SQLSMALLINT c_type) {
    SQLHSTMT other = SQL_NULL_HSTMT;
    std::string out = "<no statement>";
    if (SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &other) != SQL_SUCCESS) return out;
    out = "<no row>";
    if (ExecDirect(std::string("SELECT ") + column + " FROM pbound WHERE k = " +
                       std::to_string(key),
                   other) == SQL_SUCCESS &&
        SQLFetch(other) == SQL_SUCCESS) {
      out.clear();
      std::vector<char> piece(1 << 20);
      SQLLEN got = 0;
      SQLRETURN rc;
      const SQLLEN room = static_cast<SQLLEN>(piece.size()) - (c_type == SQL_C_CHAR ? 1 : 0);
      while ((rc = SQLGetData(other, 1, c_type, piece.data(), static_cast<SQLLEN>(piece.size()),
                              &got)) == SQL_SUCCESS ||
             rc == SQL_SUCCESS_WITH_INFO) {
        const std::size_t n = got == SQL_NO_TOTAL || got > room ? static_cast<std::size_t>(room)
                                                                : static_cast<std::size_t>(got);
        out.append(piece.data(), n);
      }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, other);
    return out;
  };
  std::string narrow_wide(wide.size(), ' ');
  for (std::size_t i = 0; i < wide.size(); ++i) narrow_wide[i] = static_cast<char>(wide[i]);
  const struct {
    int key;
    const char* column;
    SQLSMALLINT c_type;
    std::string expected;
  } cases[] = {
      {1, "t", SQL_C_CHAR, text},
      {1, "b", SQL_C_BINARY, binary},
      {1, "w", SQL_C_CHAR, narrow_wide},
      {2, "t", SQL_C_CHAR, text.substr(0, 5)},
      {2, "b", SQL_C_BINARY, binary.substr(0, 3)},
      {2, "w", SQL_C_CHAR, narrow_wide.substr(0, 2)},
  };
  for (const auto& c : cases) {
    const std::string got = read(c.key, c.column, c.c_type);
    EXPECT_EQ(got.size(), c.expected.size()) << c.key << c.column;
    EXPECT_TRUE(got == c.expected) << c.key << c.column << " differs at "
                                   << (std::mismatch(got.begin(), got.end(), c.expected.begin(),
                                                     c.expected.end())
                                           .first -
                                       got.begin());
  }
}

INSTANTIATE_TEST_SUITE_P(Links, Parameters, testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         LinkName);

}  // namespace
}  // namespace vq_odbc_e2e
