// Values of every C type bound as parameters, inserted into a column of the matching
// type and fetched back into the same C type against vqeng12 over both links: the bytes
// that come back are the bytes that went in, and a NULL comes back as a NULL. And the
// description of a table of every type: SQL type, size, digits and nullability as the
// table declares them, for result columns and (but for nullability) for parameters.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "statement_fixture.h"

namespace vq_odbc_e2e {
namespace {

struct RoundTrip {
  const char* column_type;
  SQLSMALLINT c_type;
  SQLSMALLINT sql_type;
  SQLULEN size;
  SQLSMALLINT digits;
  std::string value;  // the C value's bytes
};

template <class T>
std::string Bytes(const T& v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

std::vector<RoundTrip> Cases() {
  SQL_NUMERIC_STRUCT n;
  std::memset(&n, 0, sizeof n);
  n.precision = 12;
  n.scale = 3;
  n.sign = 0;  // negative
  n.val[0] = 0x39;
  n.val[1] = 0x30;  // 12345 -> -12.345
  const SQL_DATE_STRUCT date{2024, 2, 29};
  const SQL_TIME_STRUCT time{23, 59, 58};
  const SQL_TIMESTAMP_STRUCT stamp{1999, 12, 31, 23, 59, 59, 123456000};
  const SQLGUID guid{0x00112233, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
  const std::string wide("w\0\xE9\0i\0", 6);  // "wéi" in UTF-16LE
  return {
      {"INT", SQL_C_SLONG, SQL_INTEGER, 10, 0, Bytes<SQLINTEGER>(-123456)},
      {"INT", SQL_C_ULONG, SQL_INTEGER, 10, 0, Bytes<SQLUINTEGER>(123456)},
      {"SMALLINT", SQL_C_SSHORT, SQL_SMALLINT, 5, 0, Bytes<SQLSMALLINT>(-321)},
      {"SMALLINT", SQL_C_USHORT, SQL_SMALLINT, 5, 0, Bytes<SQLUSMALLINT>(321)},
      {"TINYINT", SQL_C_UTINYINT, SQL_TINYINT, 3, 0, Bytes<SQLCHAR>(200)},
      {"TINYINT", SQL_C_STINYINT, SQL_TINYINT, 3, 0, Bytes<SQLSCHAR>(100)},
      {"BIGINT", SQL_C_SBIGINT, SQL_BIGINT, 19, 0, Bytes<SQLBIGINT>(-9000000000000LL)},
      {"BIGINT", SQL_C_UBIGINT, SQL_BIGINT, 19, 0, Bytes<SQLUBIGINT>(9000000000000ULL)},
      {"BIT", SQL_C_BIT, SQL_BIT, 1, 0, Bytes<SQLCHAR>(1)},
      {"DOUBLE", SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, Bytes<SQLDOUBLE>(-2.25)},
      {"REAL", SQL_C_FLOAT, SQL_REAL, 7, 0, Bytes<SQLREAL>(1.5f)},
      {"NUMERIC(12,3)", SQL_C_NUMERIC, SQL_NUMERIC, 12, 3, Bytes(n)},
      {"VARCHAR(40)", SQL_C_CHAR, SQL_VARCHAR, 40, 0, std::string("it's \"quoted\"")},
      {"NVARCHAR(40)", SQL_C_WCHAR, SQL_WVARCHAR, 40, 0, wide},
      {"VARBINARY(16)", SQL_C_BINARY, SQL_VARBINARY, 16, 0, std::string("\x00\xAB\xFF\x10", 4)},
      {"DATE", SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, Bytes(date)},
      {"TIME", SQL_C_TYPE_TIME, SQL_TYPE_TIME, 8, 0, Bytes(time)},
      {"TIMESTAMP", SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 26, 6, Bytes(stamp)},
      {"UNIQUEIDENTIFIER", SQL_C_GUID, SQL_GUID, 16, 0, Bytes(guid)},
  };
}

class ConversionRoundTrip : public StatementFixture {
 protected:
  ConversionRoundTrip() : StatementFixture("odbc_roundtrip") {}
};

TEST_P(ConversionRoundTrip, EveryCTypeComesBackAsItWentIn) {
  int table = 0;
  for (const RoundTrip& c : Cases()) {
    SCOPED_TRACE(std::string(c.column_type) + " with C type " + std::to_string(c.c_type));
    const std::string name = "rt" + std::to_string(table++);
    MustExec("CREATE TABLE " + name + " (k INT, v " + c.column_type + ")");
    ASSERT_EQ(Prepare("INSERT INTO " + name + " VALUES (?, ?)"), SQL_SUCCESS) << StmtState();
    SQLINTEGER k = 1;
    std::string in = c.value;
    const bool variable =
        c.c_type == SQL_C_CHAR || c.c_type == SQL_C_WCHAR || c.c_type == SQL_C_BINARY;
    SQLLEN in_length = static_cast<SQLLEN>(in.size());
    ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &k, 0,
                               nullptr),
              SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, c.c_type, c.sql_type, c.size, c.digits,
                               &in[0], in_length, &in_length),
              SQL_SUCCESS)
        << StmtState();
    ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState();
    // The same statement again with a NULL.
    k = 2;
    in_length = SQL_NULL_DATA;
    ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << StmtState();
    (void)SQLFreeStmt(stmt_, SQL_RESET_PARAMS);

    unsigned char out[64];
    std::memset(out, 0xFF, sizeof out);
    SQLLEN out_length = 0x5A5A5A5A;
    ASSERT_EQ(SQLBindCol(stmt_, 1, c.c_type, out, variable ? sizeof out : 0, &out_length),
              SQL_SUCCESS);
    ASSERT_EQ(ExecDirect("SELECT v FROM " + name + " ORDER BY k"), SQL_SUCCESS) << StmtState();
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << StmtState();
    EXPECT_EQ(out_length, static_cast<SQLLEN>(c.value.size()));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), c.value.size()), c.value);
    const std::size_t end = c.value.size() + (c.c_type == SQL_C_CHAR ? 1 : c.c_type == SQL_C_WCHAR ? 2 : 0);
    for (std::size_t i = end; i < sizeof out; ++i) ASSERT_EQ(out[i], 0xFF) << "byte " << i;
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << StmtState();
    EXPECT_EQ(out_length, SQL_NULL_DATA);
    (void)SQLFreeStmt(stmt_, SQL_CLOSE);
    (void)SQLFreeStmt(stmt_, SQL_UNBIND);
  }
}

struct Described {
  const char* column;
  SQLSMALLINT type;
  SQLULEN size;
  SQLSMALLINT digits;
  SQLSMALLINT nullable;
};

// Result columns and parameters of a table of every type describe it as declared.
TEST_P(ConversionRoundTrip, EveryTypeIsDescribedAsTheTableDeclaresIt) {
  MustExec(
      "CREATE TABLE described (i INT NOT NULL, s SMALLINT, t TINYINT, b BIGINT NOT NULL, "
      "bt BIT, d DOUBLE, n NUMERIC(10,3) NOT NULL, v VARCHAR(20), lv LONG VARCHAR, "
      "bn VARBINARY(10), lb LONG BINARY, dt DATE, tm TIME, ts TIMESTAMP NOT NULL, "
      "g UNIQUEIDENTIFIER)");
  static const Described want[] = {
      {"i", SQL_INTEGER, 10, 0, SQL_NO_NULLS},
      {"s", SQL_SMALLINT, 5, 0, SQL_NULLABLE},
      {"t", SQL_TINYINT, 3, 0, SQL_NULLABLE},
      {"b", SQL_BIGINT, 19, 0, SQL_NO_NULLS},
      {"bt", SQL_BIT, 1, 0, SQL_NULLABLE},
      {"d", SQL_DOUBLE, 15, 0, SQL_NULLABLE},
      {"n", SQL_NUMERIC, 10, 3, SQL_NO_NULLS},
      {"v", SQL_VARCHAR, 20, 0, SQL_NULLABLE},
      {"lv", SQL_LONGVARCHAR, 2147483647, 0, SQL_NULLABLE},
      // The server keeps one binary type: a VARBINARY column is described as BINARY.
      {"bn", SQL_BINARY, 10, 0, SQL_NULLABLE},
      {"lb", SQL_LONGVARBINARY, 2147483647, 0, SQL_NULLABLE},
      {"dt", SQL_TYPE_DATE, 10, 0, SQL_NULLABLE},
      // The server's times carry microseconds: "hh:mm:ss.ffffff".
      {"tm", SQL_TYPE_TIME, 15, 0, SQL_NULLABLE},
      {"ts", SQL_TYPE_TIMESTAMP, 26, 6, SQL_NO_NULLS},
      {"g", SQL_GUID, 16, 0, SQL_NULLABLE},
  };
  ASSERT_EQ(Prepare("SELECT * FROM described"), SQL_SUCCESS) << StmtState();
  SQLSMALLINT count = 0;
  ASSERT_EQ(SQLNumResultCols(stmt_, &count), SQL_SUCCESS);
  ASSERT_EQ(count, static_cast<SQLSMALLINT>(sizeof want / sizeof want[0]));
  for (SQLUSMALLINT k = 1; k <= count; ++k) {
    const Described& w = want[k - 1];
    SCOPED_TRACE(w.column);
    SQLCHAR name[8];
    SQLSMALLINT name_length = -1, type = -1, digits = -1, nullable = -1;
    SQLULEN size = 0xdeadbeef;
    ASSERT_EQ(SQLDescribeCol(stmt_, k, name, sizeof name, &name_length, &type, &size, &digits,
                             &nullable),
              SQL_SUCCESS)
        << StmtState();
    EXPECT_STREQ(reinterpret_cast<char*>(name), w.column);
    EXPECT_EQ(type, w.type);
    EXPECT_EQ(size, w.size);
    EXPECT_EQ(digits, w.digits);
    EXPECT_EQ(nullable, w.nullable);
    SQLLEN attribute = static_cast<SQLLEN>(0x5A5A5A5A5A5A5A5ALL);
    ASSERT_EQ(SQLColAttribute(stmt_, k, SQL_DESC_NULLABLE, nullptr, 0, nullptr, &attribute),
              SQL_SUCCESS);
    EXPECT_EQ(attribute, w.nullable);
    attribute = static_cast<SQLLEN>(0x5A5A5A5A5A5A5A5ALL);
    ASSERT_EQ(SQLColAttribute(stmt_, k, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &attribute),
              SQL_SUCCESS);
    EXPECT_EQ(attribute, w.type);
  }
  (void)SQLFreeStmt(stmt_, SQL_CLOSE);

  // The same columns as parameters of an insert. Parameters are always reported
  // nullable: the driver does not pass on what the server says of them.
  std::string sql = "INSERT INTO described VALUES (?";
  for (std::size_t k = 1; k < sizeof want / sizeof want[0]; ++k) sql += ", ?";
  ASSERT_EQ(Prepare(sql + ")"), SQL_SUCCESS) << StmtState();
  for (SQLUSMALLINT k = 1; k <= count; ++k) {
    const Described& w = want[k - 1];
    SCOPED_TRACE(w.column);
    SQLSMALLINT type = -1, digits = -1, nullable = -1;
    SQLULEN size = 0xdeadbeef;
    ASSERT_EQ(SQLDescribeParam(stmt_, k, &type, &size, &digits, &nullable), SQL_SUCCESS)
        << StmtState();
    EXPECT_EQ(type, w.type);
    EXPECT_EQ(size, w.size);
    EXPECT_EQ(digits, w.digits);
    EXPECT_EQ(nullable, SQL_NULLABLE);
  }
}

INSTANTIATE_TEST_SUITE_P(Links, ConversionRoundTrip,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp), LinkName);

}  // namespace
}  // namespace vq_odbc_e2e
