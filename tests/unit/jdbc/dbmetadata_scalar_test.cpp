// The rules that make JDBC metadata answers from SQLGetInfo values, at the values where a
// wrong width, sign or comparison shows: upper-case "Y" only, 16-bit limits unsigned,
// 32-bit limits passed as Java ints except the row size, isolation levels only the
// server's seven, the outer-join bits without the not-ordered bit, and the conversion
// items and bits of the java.sql.Types codes.
#include <gtest/gtest.h>

#include <sqlext.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/dbmetadata_scalar.h"

namespace {

using dbmd::Derive;
using dbmd::InfoAnswer;
using dbmd::InfoWidth;
using dbmd::Values;

struct RuleCase {
  const char* name;
  InfoAnswer answer;
  std::uint32_t value;
  jint expected;
};

TEST(DbmdScalarRules, DeriveAnswerAtItsEdges) {
  const InfoAnswer yes{SQL_ACCESSIBLE_TABLES, InfoWidth::kYesNo, Derive::kYes, 0};
  const InfoAnswer notYes{SQL_ORDER_BY_COLUMNS_IN_SELECT, InfoWidth::kYesNo, Derive::kNotYes, 0};
  const InfoAnswer limit16{SQL_MAX_COLUMN_NAME_LEN, InfoWidth::k16, Derive::kValue, 0};
  const InfoAnswer limit32{SQL_MAX_STATEMENT_LEN, InfoWidth::k32, Derive::kValue, 0};
  const InfoAnswer rowSize{SQL_MAX_ROW_SIZE, InfoWidth::k32, Derive::kRowSize, 0};
  const InfoAnswer manipulationOnly{SQL_TXN_CAPABLE, InfoWidth::k16, Derive::kValueIn,
                                    Values(1, 3, 4)};
  const InfoAnswer sortedHigh{SQL_NULL_COLLATION, InfoWidth::k16, Derive::kValueIn, Values(0)};
  const InfoAnswer transactions{SQL_TXN_CAPABLE, InfoWidth::k16, Derive::kNotZero, 0};
  const InfoAnswer correlated{SQL_SUBQUERIES, InfoWidth::k32, Derive::kBit, 16};
  const InfoAnswer outerJoins{SQL_OJ_CAPABILITIES, InfoWidth::k32, Derive::kLowFour, 0};
  const InfoAnswer isolation{SQL_DEFAULT_TXN_ISOLATION, InfoWidth::k32, Derive::kIsolation, 0};
  const std::vector<RuleCase> cases = {
      {"Y is true", yes, 'Y', 1},
      {"N is false", yes, 'N', 0},
      {"lower-case y is not Y", yes, 'y', 0},
      {"empty answer is false", yes, 0, 0},
      {"order by unrelated: N gives true", notYes, 'N', 1},
      {"order by unrelated: Y gives false", notYes, 'Y', 0},
      {"order by unrelated: y counts as not Y", notYes, 'y', 1},
      {"16-bit 65535 stays positive", limit16, 65535, 65535},
      {"16-bit 0 means no limit", limit16, 0, 0},
      {"32-bit 2^32-1 arrives as -1", limit32, 4294967295u, -1},
      {"32-bit 2^31 arrives negative", limit32, 0x80000000u, INT_MIN},
      {"32-bit below 2^31 as is", limit32, 32767, 32767},
      {"row size 2^32-1 is clamped", rowSize, 4294967295u, INT_MAX},
      {"row size 2^31 is clamped", rowSize, 0x80000000u, INT_MAX},
      {"row size below 2^31 as is", rowSize, 65535, 65535},
      {"value set: 1 in {1,3,4}", manipulationOnly, 1, 1},
      {"value set: 2 not in {1,3,4}", manipulationOnly, 2, 0},
      {"value set: 4 in {1,3,4}", manipulationOnly, 4, 1},
      {"value set: 35 is outside every set", manipulationOnly, 35, 0},
      {"value set: 0 in {0}", sortedHigh, 0, 1},
      {"value set: 1 not in {0}", sortedHigh, 1, 0},
      {"not zero", transactions, 2, 1},
      {"zero", transactions, 0, 0},
      {"bit test answers the bit's value", correlated, 0xFF, 16},
      {"bit test, bit clear", correlated, 0xEF, 0},
      {"outer joins: left only", outerJoins, 1, 1},
      {"outer joins: the not-ordered bit alone is no support", outerJoins, 16, 0},
      {"outer joins: every bit keeps the low four", outerJoins, 0x7F, 15},
      {"isolation 8 as is", isolation, 8, 8},
      {"isolation 128 as is", isolation, 128, 128},
      {"isolation 3 is no level", isolation, 3, 0},
      {"isolation 16 is no level", isolation, 16, 0},
      {"isolation 2^32-1 is no level", isolation, 4294967295u, 0},
  };
  for (const RuleCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(dbmd::DeriveAnswer(c.answer, c.value), c.expected);
  }
}

TEST(DbmdScalarRules, IsolationLevelsAreTheServersSeven) {
  for (jint level = -2; level <= 300; ++level) {
    const bool expected = level == 1 || level == 2 || level == 4 || level == 8 || level == 32 ||
                          level == 64 || level == 128;
    EXPECT_EQ(IsIsolationLevel(level), expected) << level;
  }
  EXPECT_FALSE(IsIsolationLevel(INT_MIN));
  EXPECT_FALSE(IsIsolationLevel(1 << 20));
}

TEST(DbmdScalarRules, ConversionItemOfEveryJdbcType) {
  struct ItemCase {
    jint from;
    SQLUSMALLINT item;
  };
  const std::vector<ItemCase> cases = {
      {-7, SQL_CONVERT_BIT},       {-6, SQL_CONVERT_TINYINT},
      {-5, SQL_CONVERT_BIGINT},    {-4, SQL_CONVERT_LONGVARBINARY},
      {-3, SQL_CONVERT_VARBINARY}, {-2, SQL_CONVERT_BINARY},
      {-1, SQL_CONVERT_LONGVARCHAR}, {1, SQL_CONVERT_CHAR},
      {2, SQL_CONVERT_NUMERIC},    {3, SQL_CONVERT_DECIMAL},
      {4, SQL_CONVERT_INTEGER},    {5, SQL_CONVERT_SMALLINT},
      {6, SQL_CONVERT_FLOAT},      {7, SQL_CONVERT_REAL},
      {8, SQL_CONVERT_DOUBLE},     {9, SQL_CONVERT_DATE},
      {91, SQL_CONVERT_DATE},      {10, SQL_CONVERT_TIME},
      {92, SQL_CONVERT_TIME},      {11, SQL_CONVERT_TIMESTAMP},
      {93, SQL_CONVERT_TIMESTAMP}, {12, SQL_CONVERT_VARCHAR},
      // Types without a conversion item: asked nothing.
      {0, 0}, {-8, 0}, {13, 0}, {16, 0}, {2004, 0}, {1111, 0}, {INT_MIN, 0},
  };
  for (const ItemCase& c : cases) EXPECT_EQ(dbmd::ConvertItem(c.from), c.item) << c.from;
}

TEST(DbmdScalarRules, ConversionBitsOfTheEightTargetTypes) {
  // The ODBC conversion bits of CHAR .. DOUBLE are 1 .. 128 in java.sql.Types order.
  const std::uint32_t bits[] = {SQL_CVT_CHAR,     SQL_CVT_NUMERIC, SQL_CVT_DECIMAL,
                                SQL_CVT_INTEGER,  SQL_CVT_SMALLINT, SQL_CVT_FLOAT,
                                SQL_CVT_REAL,     SQL_CVT_DOUBLE};
  for (jint to = 1; to <= 8; ++to) {
    const std::uint32_t bit = bits[to - 1];
    EXPECT_EQ(dbmd::ConvertAnswer(to, bit), static_cast<jint>(bit)) << to;
    EXPECT_EQ(dbmd::ConvertAnswer(to, ~bit), 0) << to;
  }
  // Every other target is false whatever the value (VARCHAR's own bit included).
  for (jint to : {0, -1, -7, 9, 12, 91, 93, 32, 33, INT_MAX, INT_MIN})
    EXPECT_EQ(dbmd::ConvertAnswer(to, 0xFFFFFFFFu), 0) << to;
}

}  // namespace
