// Type tables: every code from -200 to 200 against the rows written out here, so that a
// code that a table must leave alone is checked as well as the ones it maps.
#include "odbc/type_mapping.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kFirstCode = -200;
constexpr int kLastCode = 200;

const std::set<int> kValidCTypes = {-28, -27, -26, -25, -18, -17, -16, -15, -11, -8, -7, -6,
                                    -2,  1,   2,   4,   5,   7,   8,   9,   10,  11,  91, 92,
                                    93,  99,  101, 102, 103, 104, 105, 106, 107, 108, 109,
                                    110, 111, 112, 113};

bool IsInterval(int code) { return code >= 101 && code <= 113; }

TEST(TypeMapping, ValidCTypesAndPointerAlignment) {
  for (int code = kFirstCode; code <= kLastCode; ++code) {
    SCOPED_TRACE(code);
    const auto c = static_cast<SQLSMALLINT>(code);
    const bool valid = kValidCTypes.count(code) != 0;
    EXPECT_EQ(Valid_fCType(c), valid);
    const bool aligned = valid && !IsInterval(code);
    // The address never matters, odd or null.
    char buffer[16];
    for (SQLPOINTER target : {static_cast<SQLPOINTER>(buffer + 1), SQLPOINTER{}}) {
      EXPECT_EQ(PointerAligned(target, c, 10), aligned);
      EXPECT_EQ(PointerAligned(target, c, 11), aligned && code != SQL_C_WCHAR);
    }
  }
  EXPECT_TRUE(Valid_fCType(SQL_C_INTERVAL_DAY));
  EXPECT_FALSE(PointerAligned(nullptr, SQL_C_INTERVAL_DAY, 8));
}

TEST(TypeMapping, CTypeToSqlType) {
  const std::map<int, int> rows = {
      {-28, -6}, {-26, -6}, {-6, -6}, {-27, -27}, {-25, -5}, {-18, -18}, {-17, -17},
      {-16, 4},  {4, 4},    {-15, 5}, {5, 5},     {-11, -11}, {-8, -9},  {-7, -7},
      {-2, -2},  {1, 12},   {2, 2},   {7, 7},     {8, 8},     {9, 91},   {91, 91},
      {10, 92},  {92, 92},  {11, 93}, {93, 93},
  };
  for (int code = kFirstCode; code <= kLastCode; ++code) {
    const auto it = rows.find(code);
    const int expected = it != rows.end() ? it->second : code;  // intervals included
    EXPECT_EQ(SQLCTypeToSQLType(static_cast<SQLSMALLINT>(code)), expected) << code;
  }
  EXPECT_EQ(SQLCTypeToSQLType(SQL_C_WCHAR), SQL_WVARCHAR);
  EXPECT_EQ(SQLCTypeToSQLType(SQL_C_CHAR), SQL_VARCHAR);
}

struct SqlRow {
  int engine;   // SQLTypeToSQLCType
  int default_c;  // ConvertSQLToDefaultC
};

// Rows of the plain tables; codes not listed (the intervals among them) give SQL_C_CHAR
// (engine) and themselves (default).
const std::map<int, SqlRow> kSqlRows = {
    {-27, {-27, -27}}, {-18, {-18, -18}}, {-17, {-17, -17}}, {-11, {-11, -11}},
    {-10, {-8, -8}},   {-9, {-8, -8}},    {-8, {-8, -8}},    {-7, {-7, -7}},
    {-6, {-6, -26}},   {-5, {-25, -25}},  {-4, {-2, -2}},    {-3, {-2, -2}},
    {-2, {-2, -2}},    {-1, {1, 1}},      {1, {1, 1}},       {2, {1, 1}},
    {3, {1, 1}},       {12, {1, 1}},      {4, {4, -16}},     {5, {5, -15}},
    {6, {8, 8}},       {8, {8, 8}},       {7, {7, 7}},       {9, {9, 91}},
    {91, {91, 91}},    {10, {10, 92}},    {92, {92, 92}},    {11, {11, 93}},
    {93, {93, 93}},
};

TEST(TypeMapping, SqlTypeToCTypes) {
  for (bool ms : {false, true}) {
    for (int code = kFirstCode; code <= kLastCode; ++code) {
      SCOPED_TRACE(std::to_string(code) + (ms ? " MSApplications" : ""));
      const auto sql = static_cast<SQLSMALLINT>(code);
      int engine = 1;
      int default_c = code;
      const auto it = kSqlRows.find(code);
      if (it != kSqlRows.end()) {
        engine = it->second.engine;
        default_c = it->second.default_c;
      }
      if (ms && code >= -10 && code <= -8) engine = default_c = SQL_C_CHAR;
      EXPECT_EQ(ms ? SQLTypeToSQLCType_ms(sql) : SQLTypeToSQLCType(sql), engine);
      // The output is written without assuming alignment, and only its two bytes.
      unsigned char buffer[5];
      std::memset(buffer, 0xEE, sizeof buffer);
      auto* out = reinterpret_cast<SQLSMALLINT*>(buffer + 1);
      EXPECT_TRUE(ms ? ConvertSQLToDefaultC_ms(sql, out) : ConvertSQLToDefaultC(sql, out));
      SQLSMALLINT got;
      std::memcpy(&got, buffer + 1, sizeof got);
      EXPECT_EQ(got, default_c);
      EXPECT_EQ(buffer[0], 0xEE);
      EXPECT_EQ(buffer[3], 0xEE);
    }
  }
  SQLSMALLINT c = 0;
  ConvertSQLToDefaultC(SQL_INTEGER, &c);
  EXPECT_EQ(c, SQL_C_SLONG);
  ConvertSQLToDefaultC(SQL_TINYINT, &c);
  EXPECT_EQ(c, SQL_C_STINYINT);
  ConvertSQLToDefaultC(SQL_NUMERIC, &c);
  EXPECT_EQ(c, SQL_C_CHAR);
  ConvertSQLToDefaultC_ms(SQL_WVARCHAR, &c);
  EXPECT_EQ(c, SQL_C_CHAR);
  ConvertSQLToDefaultC(SQL_WVARCHAR, &c);
  EXPECT_EQ(c, SQL_C_WCHAR);
}

TEST(TypeMapping, ReportedTypesAndServerNames) {
  const std::map<int, int> reported = {{-18, 4}, {-17, 5}, {-27, -5}};
  const std::map<int, std::string> names = {
      {-28, "tinyint"}, {-26, "tinyint"}, {-6, "tinyint"}, {-27, "unsigned bigint"},
      {-25, "bigint"}, {-5, "bigint"}, {-18, "unsigned int"}, {-17, "unsigned smallint"},
      {-16, "int"}, {4, "int"}, {-15, "smallint"}, {5, "smallint"},
      {-11, "uniqueidentifier"}, {-10, "long nvarchar"}, {-9, "nvarchar"}, {-8, "nchar"},
      {-7, "bit"}, {-4, "long binary"}, {-3, "varbinary"}, {-2, "binary"},
      {-1, "long varchar"}, {2, "numeric"}, {3, "decimal"}, {6, "float"}, {7, "real"},
      {8, "double"}, {9, "date"}, {91, "date"}, {10, "time"}, {92, "time"},
      {11, "timestamp"}, {93, "timestamp"}, {12, "varchar"},
  };
  for (int code = kFirstCode; code <= kLastCode; ++code) {
    const auto sql = static_cast<SQLSMALLINT>(code);
    const auto r = reported.find(code);
    EXPECT_EQ(GetSQLType(sql), r != reported.end() ? r->second : code) << code;
    const auto n = names.find(code);
    EXPECT_STREQ(NativeTypeToString(sql), n != names.end() ? n->second.c_str() : "char") << code;
  }
}

TEST(TypeMapping, DisplaySize) {
  struct Case {
    SQLSMALLINT type;
    SQLSMALLINT precision;
    SQLINTEGER length;
    SQLLEN expected;
  };
  const Case cases[] = {
      {SQL_BIT, 1, 1, 2},
      {SQL_TINYINT, 3, 1, 4},
      {SQL_SMALLINT, 5, 2, 6},
      {SQL_INTEGER, 10, 4, 11},
      {SQL_BIGINT, 19, 8, 20},
      {SQL_NUMERIC, 30, 16, 32},
      {SQL_DECIMAL, 255, 128, 257},
      {SQL_FLOAT, 15, 8, 22},
      {SQL_DOUBLE, 15, 8, 22},
      {SQL_REAL, 7, 4, 13},
      {SQL_DATE, 10, 0x0001000A, 10},           // the low 16 bits of the length
      {SQL_TIME, 8, 0x7FFF0008, 8},
      {SQL_TIMESTAMP, 26, 0x0000FFFF, 65535},
      {SQL_TYPE_TIMESTAMP, 26, 0x0001001A, 0x0001001A},  // ODBC 3 codes take the length
      {SQL_VARCHAR, 0, 40, 40},
      {SQL_LONGVARCHAR, 0, 2147483647, 2147483647},
      {kSqlUnsignedInt, 10, 4, 4},              // the driver's own codes take the length
      {SQL_INTEGER, -1, 4, 0},                  // precision is 16-bit signed
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SQLDisplaySize(c.type, c.precision, c.length), c.expected)
        << c.type << " " << c.precision << " " << c.length;
  }
}

TEST(TypeMapping, ODBCVersion) {
  EXPECT_EQ(ODBCVersion(SQL_OV_ODBC2), 2);
  EXPECT_EQ(ODBCVersion(SQL_OV_ODBC3), 3);
  EXPECT_EQ(ODBCVersion(380), 3);  // 3.80, which a driver manager may pass on
}

}  // namespace
