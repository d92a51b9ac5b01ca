// Conversions of fetched values end to end against vqeng12 over both links, through the
// driver's own entry points: a table with a column of every type the server has, one row
// of values and one of NULLs, read into every C type the conversion rules allow, once
// through a bound column (SQLFetch) and once through SQLGetData. Every output buffer is
// filled with 0xFF first: the test checks the exact bytes written, the length word, the
// return code and state, and that nothing past the written bytes changed. Conversions
// the rules refuse, and values that do not fit, must come back as errors with their
// state and leave the buffer alone. Values bound as parameters of each C type go in and
// come back unchanged; the description of every type is true to the table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "statement_fixture.h"

namespace vq_odbc_e2e {
namespace {

constexpr std::size_t kBufferBytes = 96;

template <class T>
std::string Bytes(const T& v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}
// Text with its terminating NUL, as a character buffer receives it.
std::string Text(const char* s) { return std::string(s) + '\0'; }
// UTF-16LE text (ASCII here) with its 16-bit NUL.
std::string Wide(const char* s) {
  std::string out;
  for (const char* p = s; *p != '\0'; ++p) {
    out += *p;
    out += '\0';
  }
  return out + std::string(2, '\0');
}
std::string Hex(const char* s) {
  std::string out;
  for (const char* p = s; p[0] != '\0' && p[1] != '\0'; p += 2) {
    out += static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16));
  }
  return out;
}
std::string Numeric(SQLCHAR precision, SQLSCHAR scale, SQLCHAR sign, unsigned long long value) {
  SQL_NUMERIC_STRUCT n;
  std::memset(&n, 0, sizeof n);
  n.precision = precision;
  n.scale = scale;
  n.sign = sign;
  for (int i = 0; i < 8; ++i) n.val[i] = static_cast<SQLCHAR>(value >> (8 * i));
  return Bytes(n);
}
std::string Date(int y, int m, int d) {
  SQL_DATE_STRUCT v{static_cast<SQLSMALLINT>(y), static_cast<SQLUSMALLINT>(m),
                    static_cast<SQLUSMALLINT>(d)};
  return Bytes(v);
}
std::string Time(int h, int m, int s) {
  SQL_TIME_STRUCT v{static_cast<SQLUSMALLINT>(h), static_cast<SQLUSMALLINT>(m),
                    static_cast<SQLUSMALLINT>(s)};
  return Bytes(v);
}
std::string Stamp(int y, int mo, int d, int h, int mi, int s, SQLUINTEGER fraction) {
  SQL_TIMESTAMP_STRUCT v{static_cast<SQLSMALLINT>(y),  static_cast<SQLUSMALLINT>(mo),
                         static_cast<SQLUSMALLINT>(d), static_cast<SQLUSMALLINT>(h),
                         static_cast<SQLUSMALLINT>(mi), static_cast<SQLUSMALLINT>(s),
                         fraction};
  return Bytes(v);
}

// The table every case reads: row 1 holds the values, row 2 NULL in every column.
constexpr const char* kTable =
    "CREATE TABLE conv (id INT NOT NULL, i INT, s SMALLINT, t TINYINT, b BIGINT, bt BIT, "
    "d DOUBLE, n NUMERIC(10,3), v VARCHAR(20), num VARCHAR(10), bad VARCHAR(10), "
    "lv LONG VARCHAR, bn VARBINARY(10), lb LONG BINARY, dt DATE, tm TIME, ts TIMESTAMP, "
    "g UNIQUEIDENTIFIER)";
constexpr const char* kValues =
    "INSERT INTO conv VALUES (1, 42, -7, 200, 5000000000, 1, 2.5, 1234.567, 'hello world', "
    "'123', '12x', 'long text value', X'ABCDEF', X'0102FF', '2024-02-29', '13:45:07', "
    "'2024-02-29 13:45:07.123456', X'00112233445566778899AABBCCDDEEFF')";
constexpr const char* kNulls =
    "INSERT INTO conv VALUES (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
    "NULL, NULL, NULL, NULL, NULL, NULL, NULL)";

struct Case {
  const char* column;
  SQLSMALLINT c_type;
  SQLLEN buffer_length;  // what the application passes; fixed-size types ignore it
  std::string want;      // the bytes written from the start of the buffer
  SQLLEN length;         // the length word afterwards
  const char* state;     // "" for SQL_SUCCESS, "01004" for a cut value
};

std::string Name(const Case& c) { return std::string(c.column) + " as C type " + std::to_string(c.c_type) + " into " + std::to_string(c.buffer_length) + " bytes"; }

const std::vector<Case>& Allowed() {
  static const std::vector<Case> cases = {
      // Integers into every integer, floating, character and numeric type.
      {"i", SQL_C_SLONG, 0, Bytes<SQLINTEGER>(42), 4, ""},
      {"i", SQL_C_LONG, 0, Bytes<SQLINTEGER>(42), 4, ""},
      {"i", SQL_C_ULONG, 0, Bytes<SQLUINTEGER>(42), 4, ""},
      {"i", SQL_C_SSHORT, 0, Bytes<SQLSMALLINT>(42), 2, ""},
      {"i", SQL_C_USHORT, 0, Bytes<SQLUSMALLINT>(42), 2, ""},
      {"i", SQL_C_STINYINT, 0, Bytes<SQLSCHAR>(42), 1, ""},
      {"i", SQL_C_UTINYINT, 0, Bytes<SQLCHAR>(42), 1, ""},
      {"i", SQL_C_SBIGINT, 0, Bytes<SQLBIGINT>(42), 8, ""},
      {"i", SQL_C_UBIGINT, 0, Bytes<SQLUBIGINT>(42), 8, ""},
      {"i", SQL_C_DOUBLE, 0, Bytes<SQLDOUBLE>(42), 8, ""},
      {"i", SQL_C_FLOAT, 0, Bytes<SQLREAL>(42), 4, ""},
      {"i", SQL_C_CHAR, 10, Text("42"), 2, ""},
      {"i", SQL_C_WCHAR, 10, Wide("42"), 4, ""},
      {"s", SQL_C_SSHORT, 0, Bytes<SQLSMALLINT>(-7), 2, ""},
      {"s", SQL_C_SLONG, 0, Bytes<SQLINTEGER>(-7), 4, ""},
      {"s", SQL_C_CHAR, 10, Text("-7"), 2, ""},
      {"t", SQL_C_UTINYINT, 0, Bytes<SQLCHAR>(200), 1, ""},
      {"t", SQL_C_SSHORT, 0, Bytes<SQLSMALLINT>(200), 2, ""},
      {"t", SQL_C_CHAR, 10, Text("200"), 3, ""},
      {"b", SQL_C_SBIGINT, 0, Bytes<SQLBIGINT>(5000000000LL), 8, ""},
      {"b", SQL_C_DOUBLE, 0, Bytes<SQLDOUBLE>(5e9), 8, ""},
      {"b", SQL_C_CHAR, 16, Text("5000000000"), 10, ""},
      {"bt", SQL_C_BIT, 0, Bytes<SQLCHAR>(1), 1, ""},
      {"bt", SQL_C_SLONG, 0, Bytes<SQLINTEGER>(1), 4, ""},
      {"bt", SQL_C_CHAR, 4, Text("1"), 1, ""},
      // Floating point and numeric.
      {"d", SQL_C_DOUBLE, 0, Bytes<SQLDOUBLE>(2.5), 8, ""},
      {"d", SQL_C_FLOAT, 0, Bytes<SQLREAL>(2.5f), 4, ""},
      {"d", SQL_C_CHAR, 10, Text("2.5"), 3, ""},
      {"n", SQL_C_CHAR, 16, Text("1234.567"), 8, ""},
      {"n", SQL_C_DOUBLE, 0, Bytes<SQLDOUBLE>(1234.567), 8, ""},
      {"n", SQL_C_NUMERIC, 0, Numeric(10, 3, 1, 1234567), 19, ""},
      // Character data: whole, cut (01004 with the full length), wide, as bytes, as numbers.
      {"v", SQL_C_CHAR, 32, Text("hello world"), 11, ""},
      {"v", SQL_C_CHAR, 12, Text("hello world"), 11, ""},
      {"v", SQL_C_CHAR, 11, Text("hello worl"), 11, "01004"},
      {"v", SQL_C_CHAR, 6, Text("hello"), 11, "01004"},
      {"v", SQL_C_CHAR, 1, Text(""), 11, "01004"},
      {"v", SQL_C_WCHAR, 64, Wide("hello world"), 22, ""},
      {"v", SQL_C_WCHAR, 12, Wide("hello"), 22, "01004"},
      {"v", SQL_C_BINARY, 32, "hello world", 11, ""},
      {"v", SQL_C_BINARY, 5, "hello", 11, "01004"},
      {"num", SQL_C_SLONG, 0, Bytes<SQLINTEGER>(123), 4, ""},
      {"num", SQL_C_DOUBLE, 0, Bytes<SQLDOUBLE>(123), 8, ""},
      {"lv", SQL_C_CHAR, 64, Text("long text value"), 15, ""},
      {"lv", SQL_C_CHAR, 5, Text("long"), 15, "01004"},
      {"lv", SQL_C_WCHAR, 64, Wide("long text value"), 30, ""},
      // Binary data: raw, cut, and as upper-case hexadecimal text cut to whole bytes.
      {"bn", SQL_C_BINARY, 16, Hex("ABCDEF"), 3, ""},
      {"bn", SQL_C_BINARY, 2, Hex("ABCD"), 3, "01004"},
      {"bn", SQL_C_CHAR, 16, Text("ABCDEF"), 6, ""},
      {"bn", SQL_C_CHAR, 6, Text("ABCD"), 6, "01004"},
      {"bn", SQL_C_WCHAR, 32, Wide("ABCDEF"), 12, ""},
      {"lb", SQL_C_BINARY, 16, Hex("0102FF"), 3, ""},
      {"lb", SQL_C_CHAR, 16, Text("0102FF"), 6, ""},
      // Dates, times and timestamps.
      {"dt", SQL_C_TYPE_DATE, 0, Date(2024, 2, 29), 6, ""},
      {"dt", SQL_C_DATE, 0, Date(2024, 2, 29), 6, ""},
      {"dt", SQL_C_TYPE_TIMESTAMP, 0, Stamp(2024, 2, 29, 0, 0, 0, 0), 16, ""},
      {"dt", SQL_C_CHAR, 16, Text("2024-02-29"), 10, ""},
      {"tm", SQL_C_TYPE_TIME, 0, Time(13, 45, 7), 6, ""},
      {"tm", SQL_C_CHAR, 16, Text("13:45:07"), 8, ""},
      {"ts", SQL_C_TYPE_TIMESTAMP, 0, Stamp(2024, 2, 29, 13, 45, 7, 123456000), 16, ""},
      {"ts", SQL_C_TIMESTAMP, 0, Stamp(2024, 2, 29, 13, 45, 7, 123456000), 16, ""},
      {"ts", SQL_C_CHAR, 32, Text("2024-02-29 13:45:07.123456"), 26, ""},
      // A UUID: its text in the server's byte order, the GUID structure with the first
      // three fields in host order, the raw bytes.
      {"g", SQL_C_CHAR, 37, Text("00112233-4455-6677-8899-aabbccddeeff"), 36, ""},
      {"g", SQL_C_GUID, 0, Hex("33221100554477668899AABBCCDDEEFF"), 16, ""},
      {"g", SQL_C_BINARY, 16, Hex("00112233445566778899AABBCCDDEEFF"), 16, ""},
  };
  return cases;
}

class ConversionMatrix : public StatementFixture {
 protected:
  ConversionMatrix() : StatementFixture("odbc_conv") {}

  void SetUp() override {
    StatementFixture::SetUp();
    if (HasFatalFailure()) return;
    MustExec(kTable);
    MustExec(kValues);
    MustExec(kNulls);
  }

  // Opens "SELECT <column> FROM conv ORDER BY id".
  void Open(const char* column) {
    const std::string sql = std::string("SELECT ") + column + " FROM conv ORDER BY id";
    ASSERT_EQ(ExecDirect(sql), SQL_SUCCESS) << sql << " " << StmtState();
  }
  void Close() {
    (void)SQLFreeStmt(stmt_, SQL_CLOSE);
    (void)SQLFreeStmt(stmt_, SQL_UNBIND);
  }

  // The buffer holds what the case wants, and nothing past it changed.
  void ExpectWritten(const unsigned char* buffer, const std::string& want) {
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer), want.size()), want);
    for (std::size_t i = want.size(); i < kBufferBytes; ++i) {
      ASSERT_EQ(buffer[i], 0xFF) << "byte " << i << " past the value was written";
    }
  }
  static SQLRETURN Expected(const char* state) {
    return *state == '\0' ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
  }
};

TEST_P(ConversionMatrix, BoundColumnsReceiveEveryAllowedConversion) {
  for (const Case& c : Allowed()) {
    SCOPED_TRACE(Name(c));
    unsigned char buffer[kBufferBytes];
    std::memset(buffer, 0xFF, sizeof buffer);
    SQLLEN length = 0x5A5A5A5A;
    ASSERT_EQ(SQLBindCol(stmt_, 1, c.c_type, buffer, c.buffer_length, &length), SQL_SUCCESS)
        << StmtState();
    Open(c.column);
    EXPECT_EQ(SQLFetch(stmt_), Expected(c.state)) << StmtState();
    EXPECT_EQ(StmtState(), c.state);
    EXPECT_EQ(length, c.length);
    ExpectWritten(buffer, c.want);
    // The NULL row: the indicator says so, the buffer keeps what it had.
    std::memset(buffer, 0xFF, sizeof buffer);
    EXPECT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << StmtState();
    EXPECT_EQ(length, SQL_NULL_DATA);
    ExpectWritten(buffer, "");
    EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
    Close();
  }
}

TEST_P(ConversionMatrix, GetDataReceivesEveryAllowedConversion) {
  for (const Case& c : Allowed()) {
    SCOPED_TRACE(Name(c));
    Open(c.column);
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << StmtState();
    unsigned char buffer[kBufferBytes];
    std::memset(buffer, 0xFF, sizeof buffer);
    SQLLEN length = 0x5A5A5A5A;
    EXPECT_EQ(SQLGetData(stmt_, 1, c.c_type, buffer, c.buffer_length, &length),
              Expected(c.state))
        << StmtState();
    EXPECT_EQ(StmtState(), c.state);
    EXPECT_EQ(length, c.length);
    ExpectWritten(buffer, c.want);
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << StmtState();
    std::memset(buffer, 0xFF, sizeof buffer);
    EXPECT_EQ(SQLGetData(stmt_, 1, c.c_type, buffer, c.buffer_length, &length), SQL_SUCCESS)
        << StmtState();
    EXPECT_EQ(length, SQL_NULL_DATA);
    ExpectWritten(buffer, "");
    Close();
  }
}

// A NULL with no indicator to say so cannot be returned: 22002, not success.
TEST_P(ConversionMatrix, NullWithoutAnIndicatorIsAnError) {
  SQLINTEGER value = 0x5A5A5A5A;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_SLONG, &value, 0, nullptr), SQL_SUCCESS);
  Open("i");
  EXPECT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(value, 42);
  EXPECT_EQ(SQLFetch(stmt_), SQL_ERROR);
  EXPECT_EQ(StmtState(), "22002");
  Close();
}

struct Refusal {
  const char* column;
  SQLSMALLINT c_type;
  const char* state;  // what the conversion rules say
};

// Conversions the rules refuse (07006), numbers that do not fit the C type (22003) and
// text that is not a number (22018): an error with its state, the buffer untouched.
TEST_P(ConversionMatrix, ValuesThatDoNotConvertAreErrorsAndWriteNothing) {
  static const Refusal refusals[] = {
      {"i", SQL_C_TYPE_DATE, "07006"},   {"dt", SQL_C_SLONG, "07006"},
      {"g", SQL_C_SLONG, "07006"},       {"lb", SQL_C_DOUBLE, "07006"},
      {"b", SQL_C_SLONG, "22003"},       {"s", SQL_C_USHORT, "22003"},
      {"s", SQL_C_ULONG, "22003"},       {"b", SQL_C_SSHORT, "22003"},
      {"bad", SQL_C_SLONG, "22018"},     {"v", SQL_C_DOUBLE, "22018"},
      {"v", SQL_C_TYPE_TIMESTAMP, "22018"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(std::string(r.column) + " as C type " + std::to_string(r.c_type));
    unsigned char buffer[kBufferBytes];
    std::memset(buffer, 0xFF, sizeof buffer);
    SQLLEN length = 0x5A5A5A5A;
    ASSERT_EQ(SQLBindCol(stmt_, 1, r.c_type, buffer, sizeof buffer, &length), SQL_SUCCESS);
    Open(r.column);
    EXPECT_EQ(SQLFetch(stmt_), SQL_ERROR);
    EXPECT_EQ(StmtState(), r.state);
    ExpectWritten(buffer, "");
    Close();
  }
}

// In a rowset the row whose value does not fit fails alone: its status says so, the
// diagnostic names it, and the rows around it arrive.
TEST_P(ConversionMatrix, ARowThatDoesNotFitFailsAloneInItsRowset) {
  MustExec("CREATE TABLE fit (k INT, v BIGINT)");
  MustExec("INSERT INTO fit VALUES (1, 1), (2, 5000000000), (3, 3)");
  SQLINTEGER values[3];
  SQLLEN lengths[3];
  SQLUSMALLINT statuses[3];
  SQLULEN fetched = 0;
  std::memset(values, 0xFF, sizeof values);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(3), 0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, statuses, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_SLONG, values, 0, lengths), SQL_SUCCESS);
  ASSERT_EQ(ExecDirect("SELECT v FROM fit ORDER BY k"), SQL_SUCCESS) << StmtState();
  EXPECT_EQ(SQLFetch(stmt_), SQL_SUCCESS_WITH_INFO) << StmtState();
  EXPECT_EQ(fetched, 3u);
  EXPECT_EQ(statuses[0], SQL_ROW_SUCCESS);
  EXPECT_EQ(statuses[1], SQL_ROW_ERROR);
  EXPECT_EQ(statuses[2], SQL_ROW_SUCCESS);
  EXPECT_EQ(values[0], 1);
  EXPECT_EQ(values[1], -1) << "the failed row's buffer was written";
  EXPECT_EQ(values[2], 3);
  bool named = false;
  std::string records;
  for (SQLSMALLINT n = 1; !named; ++n) {
    const StmtDiag d = DiagOf(SQL_HANDLE_STMT, stmt_, n);
    if (d.state.empty()) break;
    SQLLEN row = 0;
    (void)SQLGetDiagField(SQL_HANDLE_STMT, stmt_, n, SQL_DIAG_ROW_NUMBER, &row, 0, nullptr);
    named = d.state == "22003" && row == 2;
    records += " " + d.state + " row " + std::to_string(row);
  }
  EXPECT_TRUE(named) << "no 22003 record for row 2 among:" << records;
  Close();
}

INSTANTIATE_TEST_SUITE_P(Links, ConversionMatrix,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp), LinkName);

}  // namespace
}  // namespace vq_odbc_e2e
