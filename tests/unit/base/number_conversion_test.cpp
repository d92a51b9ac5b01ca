// Number parsing and printing in bases 2 to 36, and gfmt.
#include "utils/base/number_conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace {

struct ParseCase {
  const char* name;
  const char* text;
  int base;
  std::uint64_t value;
  std::ptrdiff_t end;  // characters taken
  int error;           // errno afterwards (0: untouched)
};

const ParseCase kU32Cases[] = {
    {"decimal", "12345", 10, 12345, 5, 0},
    {"stops_at_non_digit", "12a", 10, 12, 2, 0},
    {"base0_hex", "0x1f", 0, 31, 4, 0},
    {"base0_hex_upper", "0X1F", 0, 31, 4, 0},
    {"base0_octal", "017", 0, 15, 3, 0},
    {"base0_decimal", "19", 0, 19, 2, 0},
    {"base0_lone_zero", "0", 0, 0, 1, 0},
    {"base0_hex_no_digits", "0xg", 0, 0, 2, 0},
    {"base16_does_not_skip_0x", "0x1f", 16, 0, 1, 0},
    {"base36", "zZ", 36, 35 * 36 + 35, 2, 0},
    {"base2_stops_at_2", "1012", 2, 5, 3, 0},
    {"no_white_space", " 1", 10, 0, 0, 0},
    {"no_sign", "-1", 10, 0, 0, 0},
    {"empty", "", 10, 0, 0, 0},
    {"max", "4294967295", 10, 0xFFFFFFFFu, 10, 0},
    {"overflow_by_one", "4294967296", 10, 0xFFFFFFFFu, 9, ERANGE},
    {"overflow_long", "99999999999999", 10, 0xFFFFFFFFu, 9, ERANGE},
    {"hex_max", "ffffffff", 16, 0xFFFFFFFFu, 8, 0},
    {"hex_overflow", "100000000", 16, 0xFFFFFFFFu, 8, ERANGE},
    {"base1_invalid", "1", 1, 0, 0, EINVAL},
    {"base37_invalid", "1", 37, 0, 0, EINVAL},
    {"negative_base_invalid", "1", -2, 0, 0, EINVAL},
};

TEST(ParseUnsigned, Table32) {
  for (const ParseCase& c : kU32Cases) {
    SCOPED_TRACE(c.name);
    errno = 0;
    char* end = nullptr;
    EXPECT_EQ(do_strtou32(c.text, &end, c.base), c.value);
    EXPECT_EQ(end - c.text, c.end);
    EXPECT_EQ(errno, c.error);
  }
}

const ParseCase kU64Cases[] = {
    {"max", "18446744073709551615", 10, UINT64_MAX, 20, 0},
    {"overflow", "18446744073709551616", 10, UINT64_MAX, 19, ERANGE},
    {"hex", "0xFFFFFFFFFFFFFFFF", 0, UINT64_MAX, 18, 0},
    {"above_32_bits", "4294967296", 10, 4294967296ull, 10, 0},
    {"base36_max", "3w5e11264sgsf", 36, UINT64_MAX, 13, 0},
    {"base36_overflow", "3w5e11264sgsg", 36, UINT64_MAX, 12, ERANGE},
};

TEST(ParseUnsigned, Table64) {
  for (const ParseCase& c : kU64Cases) {
    SCOPED_TRACE(c.name);
    errno = 0;
    char* end = nullptr;
    EXPECT_EQ(do_strtou64(c.text, &end, c.base), c.value);
    EXPECT_EQ(end - c.text, c.end);
    EXPECT_EQ(errno, c.error);
  }
}

TEST(ParseUnsigned, PlusSignAndNullText) {
  char* end = nullptr;
  const char* text = "+42x";
  EXPECT_EQ(strtou32(text, &end, 10), 42u);
  EXPECT_EQ(end, text + 3);
  EXPECT_EQ(strtou64(text, &end, 10), 42u);
  EXPECT_EQ(do_strtou32(text, &end, 10), 0u);  // the bare parser takes no sign
  EXPECT_EQ(end, text);
  errno = 0;
  EXPECT_EQ(strtou32(nullptr, &end, 10), 0u);
  EXPECT_EQ(errno, EINVAL);
}

struct SignedCase {
  const char* name;
  const char* text;
  int base;
  std::int64_t value;
  int error;
};

TEST(ParseSigned, Table32) {
  const SignedCase cases[] = {
      {"min", "-2147483648", 10, INT32_MIN, 0},
      {"below_min", "-2147483649", 10, INT32_MIN, ERANGE},
      {"far_below_min", "-99999999999", 10, INT32_MIN, ERANGE},
      {"max", "2147483647", 10, INT32_MAX, 0},
      {"above_max", "2147483648", 10, INT32_MAX, ERANGE},
      {"plus", "+7", 10, 7, 0},
      {"minus_zero", "-0", 10, 0, 0},
      {"hex_negative", "-0x10", 0, -16, 0},
      {"base2", "-101", 2, -5, 0},
  };
  for (const SignedCase& c : cases) {
    SCOPED_TRACE(c.name);
    errno = 0;
    EXPECT_EQ(strtoi32(c.text, nullptr, c.base), c.value);
    EXPECT_EQ(errno, c.error);
  }
}

TEST(ParseSigned, Table64) {
  const SignedCase cases[] = {
      {"min", "-9223372036854775808", 10, INT64_MIN, 0},
      {"below_min", "-9223372036854775809", 10, INT64_MIN, ERANGE},
      {"max", "9223372036854775807", 10, INT64_MAX, 0},
      {"above_max", "9223372036854775808", 10, INT64_MAX, ERANGE},
      {"small", "-12", 10, -12, 0},
  };
  for (const SignedCase& c : cases) {
    SCOPED_TRACE(c.name);
    errno = 0;
    EXPECT_EQ(strtoi64(c.text, nullptr, c.base), c.value);
    EXPECT_EQ(errno, c.error);
  }
}

// Every base from 2 to 36 round-trips the extremes and a mixed value, and agrees with the
// C library's parser.
TEST(NumberText, RoundTripInEveryBase) {
  const std::uint64_t values64[] = {
      0, 1, 35, 36, 0x7FFFFFFFull, 0xFFFFFFFFull, 0x123456789ABCDEFull, UINT64_MAX};
  for (int base = 2; base <= 36; ++base) {
    SCOPED_TRACE(base);
    for (std::uint64_t v : values64) {
      char buf[kU64TextBytes];
      u64toa(v, buf, base);
      EXPECT_EQ(std::strtoull(buf, nullptr, base), v) << buf;
      errno = 0;
      char* end = nullptr;
      EXPECT_EQ(do_strtou64(buf, &end, base), v);
      EXPECT_EQ(*end, '\0');
      EXPECT_EQ(errno, 0);
      for (const char* p = buf; *p != '\0'; ++p) EXPECT_FALSE(*p >= 'A' && *p <= 'Z');
      if (v <= UINT32_MAX) {
        char buf32[kU32TextBytes];
        u32toa(static_cast<std::uint32_t>(v), buf32, base);
        EXPECT_STREQ(buf32, buf);
        EXPECT_EQ(do_strtou32(buf32, nullptr, base), v);
      }
    }
  }
  char buf[kU32TextBytes];
  EXPECT_STREQ(u32toa(0xFFFFFFFFu, buf, 2), std::string(32, '1').c_str());
}

TEST(NumberText, SignedFormsAndBadBases) {
  struct Case {
    std::int64_t value;
    int base;
    const char* text32;
    const char* text64;
  } cases[] = {
      {-255, 16, "ffffff01", "ffffffffffffff01"},
      {-255, 10, "-255", "-255"},
      {0, 10, "0", "0"},
      {INT32_MIN, 10, "-2147483648", "-2147483648"},
      {-1, 2, "11111111111111111111111111111111", std::string(64, '1').c_str()},
      {255, 16, "ff", "ff"},
      {5, 1, "", ""},
      {5, 37, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.value) + " base " + std::to_string(c.base));
    char buf32[kU32TextBytes + 1];
    char buf64[kU64TextBytes + 1];
    EXPECT_EQ(i32toa(static_cast<std::int32_t>(c.value), buf32, c.base), buf32);
    EXPECT_STREQ(buf32, c.text32);
    i64toa(c.value, buf64, c.base);
    if (c.value == -1 && c.base == 2) {
      EXPECT_EQ(std::string(buf64), std::string(64, '1'));
    } else {
      EXPECT_STREQ(buf64, c.text64);
    }
  }
  char buf[kU64TextBytes + 1];
  EXPECT_STREQ(i64toa(INT64_MIN, buf, 10), "-9223372036854775808");
}

struct GfmtCase {
  double value;
  std::size_t size;
  const char* text;
};

const GfmtCase kGfmtCases[] = {
    {0.5, 10, ".5"},
    {1500, 10, "1500"},
    {1e20, 10, "1.E20"},
    {0.0, 10, "0"},
    {-0.0, 10, "0"},
    {0.0, 1, "0"},
    {-2.5, 10, "-2.5"},
    {12.25, 10, "12.25"},
    {0.0005, 10, ".0005"},
    {1e-10, 10, "1.E-10"},
    {1.5e-7, 6, "1.5E-7"},
    {1234.5678, 6, "1234.6"},
    {1234, 4, "1234"},  // an integer that fills the width needs no point
    {12345.6, 5, "12346"},
    {123.45, 4, "123"},
    {9.99, 3, "10"},  // rounding carries into a new digit
    {0.0999, 4, ".1"},
    {99999, 4, "1.E5"},  // too wide for fixed; the carry raises the exponent
    {123456789012.0, 12, "123456789012"},
    {0.1, 10, ".1"},
    {1.0 / 3.0, 8, ".3333333"},
    {2.0 / 3.0, 5, ".6667"},
    {-1e20, 6, "-1.E20"},
    {1e-300, 7, "1.E-300"},
    {1.7976931348623157e308, 10, "1.7977E308"},
};

TEST(Gfmt, TableOfValuesAndWidths) {
  for (const GfmtCase& c : kGfmtCases) {
    SCOPED_TRACE(std::to_string(c.value) + " in " + std::to_string(c.size));
    char buf[64];
    std::memset(buf, '#', sizeof buf);
    const int n = gfmt(c.value, buf, c.size);
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(n)), c.text);
    EXPECT_LE(static_cast<std::size_t>(n), c.size);
    EXPECT_EQ(buf[c.size], '#');  // never past the width
  }
}

TEST(Gfmt, NothingFitsOrNoNumber) {
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(gfmt(1.5, buf, 0), 0);
  EXPECT_EQ(gfmt(-1.5, buf, 1), 0);
  EXPECT_EQ(gfmt(1e20, buf, 3), 0);
  EXPECT_EQ(gfmt(0.5, buf, 1), 0);
  EXPECT_EQ(gfmt(std::numeric_limits<double>::infinity(), buf, 10), 0);
  EXPECT_EQ(gfmt(-std::numeric_limits<double>::infinity(), buf, 10), 0);
  EXPECT_EQ(gfmt(std::nan(""), buf, 10), 0);
  EXPECT_EQ(buf[0], '#');
}

// Whatever the width, gfmt stays inside it and what it writes reads back as a number close
// to the value (within the rounding of the digits shown).
TEST(Gfmt, ReadsBackWithinItsPrecision) {
  const double values[] = {3.14159265358979, 1e-5, 123456.789, 9.999999,
                           0.000123456,      42,   7e15,       5e-324};
  for (double v : values) {
    for (std::size_t width = 1; width <= 24; ++width) {
      SCOPED_TRACE(std::to_string(v) + " in " + std::to_string(width));
      char buf[32];
      std::memset(buf, '#', sizeof buf);
      const int n = gfmt(v, buf, width);
      ASSERT_LE(static_cast<std::size_t>(n), width);
      EXPECT_EQ(buf[width], '#');
      if (n == 0) continue;
      const std::string text(buf, static_cast<std::size_t>(n));
      const double back = std::strtod(text.c_str(), nullptr);
      std::size_t digits = 0;  // significant digits shown
      for (char ch : text) {
        if (ch == 'E') break;
        if ((ch >= '1' && ch <= '9') || (ch == '0' && digits > 0)) ++digits;
      }
      // The digits shown bound the error, and so does the scaling (about 1e-15 relative).
      const double shown =
          std::fabs(v) * 1.0001 * std::pow(10.0, 1.0 - static_cast<double>(digits));
      EXPECT_NEAR(back, v, std::max(shown, std::fabs(v) * 1e-14)) << text;
    }
  }
}

}  // namespace
