// The length a column getter hands to a converter never reaches past what the element
// holds: SQL_NO_TOTAL and lengths of values cut to the element are clamped to the bytes
// before the element's terminator.
#include <gtest/gtest.h>

#include "jdbcodbc/c/column_access.h"
#include "jdbcodbc/c/resultset.h"

namespace {

TEST(ColumnAccess, ClampsLengthsToTheElementsData) {
  struct Case {
    const char* name;
    SQLLEN indicator;
    SQLLEN elementSize;
    SQLSMALLINT cType;
    bool lateBound;
    SQLLEN expected;
  } const cases[] = {
      {"null passes", SQL_NULL_DATA, 42, SQL_C_WCHAR, false, SQL_NULL_DATA},
      {"null of a late value", SQL_NULL_DATA, 0, SQL_C_BINARY, true, SQL_NULL_DATA},
      {"wide text that fits", 10, 42, SQL_C_WCHAR, false, 10},
      {"wide text filling the element", 40, 42, SQL_C_WCHAR, false, 40},
      {"wide text cut", 60, 42, SQL_C_WCHAR, false, 40},
      {"wide text of unknown length", SQL_NO_TOTAL, 42, SQL_C_WCHAR, false, 40},
      {"wide text in an odd element stays even", 80, 41, SQL_C_WCHAR, false, 38},
      {"numeric text keeps its terminator byte", 22, 22, kCTypeNumericText, false, 21},
      {"numeric text of unknown length", SQL_NO_TOTAL, 22, kCTypeNumericText, false, 21},
      {"narrow text", 9, 10, SQL_C_CHAR, false, 9},
      {"binary has no terminator", 20, 16, SQL_C_BINARY, false, 16},
      {"binary of unknown length", SQL_NO_TOTAL, 16, SQL_C_BINARY, false, 16},
      {"an element too small for any text", 5, 1, SQL_C_WCHAR, false, 0},
      {"a late value is bounded by what was read", 70000, 65534, SQL_C_WCHAR, true, 65534},
      {"a late value read whole", 65534, 65534, SQL_C_WCHAR, true, 65534},
      {"a late value of unknown length", SQL_NO_TOTAL, 300, SQL_C_BINARY, true, 300},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ClampValueLength(c.indicator, c.elementSize, c.cType, c.lateBound), c.expected);
  }
}

}  // namespace
