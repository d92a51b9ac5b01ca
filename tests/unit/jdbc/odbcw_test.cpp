// The bridge's UTF-16 number readers and comparisons, on the texts Java and ODBC hand it.
#include "jdbcodbc/c/odbcw.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

std::vector<SQLWCHAR> W(const std::string& text) {
  std::vector<SQLWCHAR> units(text.begin(), text.end());
  units.push_back(0);
  return units;
}

struct I64Case {
  const char* text;
  bool ok;
  std::int64_t value;   // when ok
  bool beyond = false;  // the number is beyond the 64-bit range
};

TEST(Odbcw, ReadsWholeNumbersLikeTheNarrowForm) {
  const I64Case cases[] = {
      {"-12.75", true, -12},   {"+", true, 0},         {"", false, 0},
      {"12a", false, 0},       {"42", true, 42},       {"-", true, 0},
      {"7.x9", true, 7},       {".5", true, 0},        {" 1", false, 0},
      {"9223372036854775807", true, std::numeric_limits<std::int64_t>::max()},
      {"-9223372036854775808", true, std::numeric_limits<std::int64_t>::min()},
      // Beyond the range: a failure that says so, never a wrapped value.
      {"9223372036854775808", false, 0, true},
      {"-9223372036854775809", false, 0, true},
      {"18446744073709551617", false, 0, true},
      {"-99999999999999999999.5", false, 0, true},
      // A bad character counts for more than the size.
      {"99999999999999999999x", false, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::int64_t wide = 99;
    std::int64_t narrow = 99;
    bool wideBeyond = !c.beyond;
    bool narrowBeyond = !c.beyond;
    EXPECT_EQ(ODBCW_SQLWCHAR_TO_I64(W(c.text).data(), &wide, &wideBeyond), c.ok);
    EXPECT_EQ(ODBCW_SQLCHAR_TO_I64(reinterpret_cast<const SQLCHAR*>(c.text), &narrow, &narrowBeyond),
              c.ok);
    // A failure leaves the output alone.
    EXPECT_EQ(wide, c.ok ? c.value : 99);
    EXPECT_EQ(narrow, c.ok ? c.value : 99);
    EXPECT_EQ(wideBeyond, c.beyond);
    EXPECT_EQ(narrowBeyond, c.beyond);
  }
  std::int64_t untouched = 5;
  EXPECT_FALSE(ODBCW_SQLWCHAR_TO_I64(nullptr, &untouched));
  EXPECT_EQ(untouched, 5);
}

TEST(Odbcw, LongStopsAtTheFirstNonDigitAndWrapsAt32Bits) {
  struct Case {
    const char* text;
    std::int32_t value;
    std::size_t stop;     // units read
    bool beyond = false;  // beyond the 32-bit range
  } const cases[] = {
      {"", 0, 0},          {"123", 123, 3},    {"-45x", -45, 3}, {"+7.9", 7, 2},
      {"2147483647", 2147483647, 10},          {"-2147483648", -2147483647 - 1, 11},
      {"4294967296", 0, 10, true},  // 2^32 wraps to 0, and says it was beyond the range
      {"2147483648", -2147483647 - 1, 10, true},
      {"-2147483649", 2147483647, 11, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto text = W(c.text);
    const SQLWCHAR* end = nullptr;
    bool beyond = !c.beyond;
    EXPECT_EQ(ODBCW_SQLWCHAR_TO_LONG(text.data(), &end, &beyond), c.value);
    EXPECT_EQ(static_cast<std::size_t>(end - text.data()), c.stop);
    EXPECT_EQ(beyond, c.beyond);
  }
}

TEST(Odbcw, DoubleReadsIntegerAndFractionWithoutExponent) {
  struct Case {
    const char* text;
    double value;
    std::size_t stop;
  } const cases[] = {
      {"12.5", 12.5, 4},  {"-0.25", -0.25, 5}, {"3.1.4", 3.1, 3},
      {"1e5", 1.0, 1},    {".75", 0.75, 3},    {"", 0.0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto text = W(c.text);
    const SQLWCHAR* end = nullptr;
    EXPECT_DOUBLE_EQ(ODBCW_SQLWCHAR_TO_DOUBLE(text.data(), &end), c.value);
    EXPECT_EQ(static_cast<std::size_t>(end - text.data()), c.stop);
  }
  // The sign negates: "-0" is negative zero.
  EXPECT_TRUE(std::signbit(ODBCW_SQLWCHAR_TO_DOUBLE(W("-0").data(), nullptr)));
}

TEST(Odbcw, CaseFoldingComparisons) {
  EXPECT_EQ(ODBCW_wcslen(W("abc").data()), 3);
  EXPECT_EQ(ODBCW_wcslen(nullptr), 0);
  struct Case {
    const char* a;
    const char* b;
    int n;
    int order;
  } const cases[] = {
      {"ab", "AB", 2, 0},     {"abc", "abd", 3, -1}, {"abd", "ABC", 3, 1},
      {"abc", "abd", 2, 0},   {"a", "ab", 5, -1},    {"x", "y", 0, 0},
      {"[", "{", 1, -1},      // only A-Z fold: '[' (0x5B) stays below '{' (0x7B)
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(ODBCW_wcsnicmp(W(c.a).data(), W(c.b).data(), c.n), c.order);
  }
  // Units of 127 and above compare as they are.
  const SQLWCHAR upper[] = {0x00C4, 0};  // 'Ä'
  const SQLWCHAR lower[] = {0x00E4, 0};  // 'ä'
  EXPECT_EQ(ODBCW_wcsnicmp(upper, lower, 1), -1);

  EXPECT_EQ(compareStringNIW(W("ab").data(), 2, W("AB").data(), 2), 0);
  EXPECT_EQ(compareStringNIW(W("ab").data(), 2, W("abc").data(), 3), -1);
  EXPECT_EQ(compareStringNIW(W("abc").data(), 3, W("AB").data(), 2), 1);
  EXPECT_EQ(compareStringNIW(W("b").data(), 1, W("abc").data(), 3), 1);
}

}  // namespace
