// The result set's column type table (C type and element size per SQL type and its
// sign, precision and scale), octet-length sizing and the order of column labels.
#include "jdbcodbc/c/resultset.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

struct TypeCase {
  const char* what;
  SQLLEN sqlType;
  bool isUnsigned;
  SQLLEN precision;
  SQLLEN scale;
  SQLSMALLINT cType;
  SQLLEN elementSize;  // 0: sized from the octet length
  bool lateBound;
};

TEST(ResultSetTypeTable, EachSqlTypeGetsItsCTypeAndElementSize) {
  const TypeCase cases[] = {
      {"CHAR", SQL_CHAR, false, 0, 0, SQL_C_WCHAR, 0, false},
      {"VARCHAR", SQL_VARCHAR, false, 0, 0, SQL_C_WCHAR, 0, false},
      {"WVARCHAR", SQL_WVARCHAR, false, 0, 0, SQL_C_WCHAR, 0, false},
      {"LONGVARCHAR", SQL_LONGVARCHAR, false, 0, 0, SQL_C_WCHAR, 0, true},
      {"WLONGVARCHAR", SQL_WLONGVARCHAR, false, 0, 0, SQL_C_WCHAR, 0, true},
      {"VARBINARY", SQL_VARBINARY, false, 0, 0, SQL_C_BINARY, 0, false},
      {"GUID", SQL_GUID, false, 0, 0, SQL_C_BINARY, 0, false},
      {"LONGVARBINARY", SQL_LONGVARBINARY, false, 0, 0, SQL_C_BINARY, 0, true},
      {"BIT", SQL_BIT, false, 0, 0, SQL_C_BIT, 1, false},
      {"TINYINT", SQL_TINYINT, false, 0, 0, SQL_C_STINYINT, 1, false},
      {"unsigned TINYINT", SQL_TINYINT, true, 0, 0, SQL_C_SSHORT, 2, false},
      {"SMALLINT", SQL_SMALLINT, false, 0, 0, SQL_C_SSHORT, 2, false},
      {"unsigned SMALLINT", SQL_SMALLINT, true, 0, 0, SQL_C_SLONG, 4, false},
      {"INTEGER", SQL_INTEGER, false, 0, 0, SQL_C_SLONG, 4, false},
      {"unsigned INTEGER", SQL_INTEGER, true, 0, 0, SQL_C_SBIGINT, 8, false},
      {"BIGINT", SQL_BIGINT, false, 0, 0, SQL_C_SBIGINT, 8, false},
      {"unsigned BIGINT", SQL_BIGINT, true, 0, 0, kCTypeNumericText, 23, false},
      {"NUMERIC(9,0)", SQL_NUMERIC, false, 9, 0, SQL_C_SLONG, 4, false},
      {"NUMERIC(10,0)", SQL_NUMERIC, false, 10, 0, SQL_C_SBIGINT, 8, false},
      {"DECIMAL(18,0)", SQL_DECIMAL, false, 18, 0, SQL_C_SBIGINT, 8, false},
      {"NUMERIC(19,0)", SQL_NUMERIC, false, 19, 0, kCTypeNumericText, 22, false},
      {"NUMERIC(5,2)", SQL_NUMERIC, false, 5, 2, kCTypeNumericText, 8, false},
      // A precision no column has still leaves room for sign, point and terminator.
      {"NUMERIC(-1,2)", SQL_NUMERIC, false, -1, 2, kCTypeNumericText, 3, false},
      {"FLOAT", SQL_FLOAT, false, 0, 0, SQL_C_FLOAT, 4, false},
      {"REAL", SQL_REAL, false, 0, 0, SQL_C_FLOAT, 4, false},
      {"DOUBLE", SQL_DOUBLE, false, 0, 0, SQL_C_DOUBLE, 8, false},
      {"DATE", SQL_DATE, false, 0, 0, SQL_C_TYPE_DATE, 6, false},
      {"TYPE_DATE", SQL_TYPE_DATE, false, 0, 0, SQL_C_TYPE_DATE, 6, false},
      {"TIME", SQL_TIME, false, 0, 0, SQL_C_TYPE_TIME, 6, false},
      {"TYPE_TIMESTAMP", SQL_TYPE_TIMESTAMP, false, 0, 0, SQL_C_TYPE_TIMESTAMP, 16, false},
  };
  for (const TypeCase& c : cases) {
    ColumnTypeChoice got;
    ASSERT_TRUE(ChooseColumnType(c.sqlType, c.isUnsigned, c.precision, c.scale, &got)) << c.what;
    EXPECT_EQ(c.cType, got.cType) << c.what;
    EXPECT_EQ(c.elementSize, got.elementSize) << c.what;
    EXPECT_EQ(c.lateBound, got.lateBound) << c.what;
    EXPECT_EQ(c.sqlType == SQL_GUID, got.isGuid) << c.what;
    EXPECT_EQ(c.sqlType == SQL_LONGVARBINARY, got.longBinary) << c.what;
  }
}

TEST(ResultSetTypeTable, TypesOutsideTheTableAreRefused) {
  for (SQLLEN type : {SQLLEN{0}, SQLLEN{SQL_INTERVAL_YEAR}, SQLLEN{SQL_INTERVAL_DAY_TO_SECOND},
                      SQLLEN{-150}, SQLLEN{LLONG_MAX}}) {
    ColumnTypeChoice got;
    got.cType = 77;
    EXPECT_FALSE(ChooseColumnType(type, false, 0, 0, &got)) << type;
    EXPECT_EQ(77, got.cType) << "left alone for " << type;
  }
}

TEST(ResultSetTypeTable, OnlyIntegersAskForTheSignAndOnlyDecimalsForTheScale) {
  for (SQLLEN type : {SQL_TINYINT, SQL_SMALLINT, SQL_INTEGER, SQL_BIGINT}) {
    EXPECT_TRUE(TypeDependsOnSign(type)) << type;
    EXPECT_FALSE(TypeDependsOnScale(type)) << type;
  }
  for (SQLLEN type : {SQL_NUMERIC, SQL_DECIMAL}) {
    EXPECT_TRUE(TypeDependsOnScale(type)) << type;
    EXPECT_FALSE(TypeDependsOnSign(type)) << type;
  }
  EXPECT_FALSE(TypeDependsOnSign(SQL_VARCHAR));
  EXPECT_FALSE(TypeDependsOnScale(SQL_DOUBLE));
}

TEST(ResultSetTypeTable, OctetLengthsBecomeElementSizes) {
  struct {
    SQLLEN sqlType, octets, size;
  } cases[] = {
      {SQL_VARCHAR, 10, 22},   // ten narrow characters as UTF-16 plus a terminator
      {SQL_CHAR, 0, 2},
      {SQL_WVARCHAR, 20, 22},  // already UTF-16: the terminator only
      {SQL_WCHAR, 0, 2},
      {SQL_BINARY, 0, 1},      // never an empty element
      {SQL_VARBINARY, 16, 16},
      {SQL_GUID, 16, 16},
      {SQL_VARBINARY, -4, 1},  // no length known
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.size, AdjustOctetLength(c.sqlType, c.octets)) << c.sqlType << " " << c.octets;
  // A length no buffer can hold gives 0, never a wrapped size.
  EXPECT_EQ(0, AdjustOctetLength(SQL_VARCHAR, LLONG_MAX / 2));
}

std::u16string U(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

int Compare(const std::u16string& a, const std::u16string& b) {
  return CompareLabels(reinterpret_cast<const jchar*>(a.data()), static_cast<std::int32_t>(a.size()),
                       reinterpret_cast<const jchar*>(b.data()), static_cast<std::int32_t>(b.size()));
}

TEST(ResultSetLabels, OnlyAsciiLettersFoldAndShorterLabelsComeFirst) {
  EXPECT_EQ(0, Compare(U("a"), U("A")));
  EXPECT_EQ(0, Compare(U("Total_Sum"), U("tOTAL_sUM")));
  EXPECT_LT(Compare(U("AB"), U("ABC")), 0);
  EXPECT_GT(Compare(U("abc"), U("AB")), 0);
  EXPECT_LT(Compare(U("a"), U("b")), 0);
  // '_' (0x5F) lies between the upper and the lower case letters: 'A' is compared as
  // 'a' and so sorts after it.
  EXPECT_LT(Compare(U("_"), U("A")), 0);
  EXPECT_LT(Compare(U("_"), U("a")), 0);
  // Other letters compare by their unit: U+00E9 and U+00C9 differ.
  EXPECT_NE(0, Compare(u"\u00e9", u"\u00c9"));
  EXPECT_EQ(0, Compare(u"", u""));
  EXPECT_LT(Compare(u"", U("a")), 0);
}

}  // namespace
