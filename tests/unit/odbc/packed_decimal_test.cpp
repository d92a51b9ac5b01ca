// Packed decimal <-> ODBC numeric structure: tables of cases, then randomised checks of
// both directions against 128-bit integers, across the 64-bit and the long road.
#include "odbc/packed_decimal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "decimal_oracle.h"

namespace {

using vq::testing::PackDigits;
using vq::testing::u128;
using vq::testing::U128Text;

using Bytes = std::vector<std::uint8_t>;

Bytes ValBytes(u128 m) {
  Bytes out(16);
  for (auto& b : out) {
    b = static_cast<std::uint8_t>(m & 0xFF);
    m >>= 8;
  }
  return out;
}

u128 FromText(const std::string& digits) {
  u128 v = 0;
  for (char c : digits) v = v * 10 + static_cast<unsigned>(c - '0');
  return v;
}

const char* const kU128Max = "340282366920938463463374607431768211455";

struct ToNumericCase {
  const char* name;
  Bytes packed;
  int precision;
  int scale;
  int result;
  int sign;
  const char* magnitude;  // decimal text of val
};

const ToNumericCase kToNumericCases[] = {
    {"positive", {0x12, 0x34, 0x5C}, 5, 2, kNumericConverted, 1, "12345"},
    {"negative", {0x12, 0x34, 0x5D}, 5, 2, kNumericConverted, 0, "12345"},
    {"sign_f_is_positive", {0x12, 0x34, 0x5F}, 5, 2, kNumericConverted, 1, "12345"},
    {"sign_a_is_refused", {0x12, 0x34, 0x5A}, 5, 2, kNumericBadPacked, 1, "0"},
    {"sign_0_is_refused", {0x12, 0x34, 0x50}, 5, 2, kNumericBadPacked, 1, "0"},
    {"digit_nibble_above_9", {0x1B, 0x34, 0x5C}, 5, 2, kNumericBadPacked, 1, "0"},
    {"even_precision_unused_nibble", {0x71, 0x23, 0x4C}, 4, 0, kNumericConverted, 1, "1234"},
    {"zero", {0x00, 0x0C}, 3, 0, kNumericConverted, 1, "0"},
    {"negative_zero", {0x00, 0x0D}, 3, 0, kNumericConverted, 0, "0"},
    {"precision_0", {0x0C}, 0, 0, kNumericConverted, 1, "0"},
    {"scale_kept_not_applied", {0x12, 0x3C}, 3, -5, kNumericConverted, 1, "123"},
    {"precision_above_255", {0x12, 0x3C}, 256, 0, kNumericBadPacked, 1, "0"},
    {"scale_above_127", {0x12, 0x3C}, 3, 128, kNumericBadPacked, 1, "0"},
};

TEST(PackedToNumeric, Table) {
  for (const ToNumericCase& c : kToNumericCases) {
    SCOPED_TRACE(c.name);
    SQL_NUMERIC_STRUCT n;
    std::memset(&n, 0xEE, sizeof n);
    Bytes packed = c.packed;
    packed.resize(static_cast<std::size_t>(c.precision / 2 + 1), 0);
    EXPECT_EQ(PackedDecimalToODBCNumeric(packed.data(), c.precision, c.scale, &n), c.result);
    EXPECT_EQ(n.sign, c.sign);
    EXPECT_EQ(Bytes(n.val, n.val + 16), ValBytes(FromText(c.magnitude)));
    if (c.result == kNumericConverted) {
      EXPECT_EQ(n.precision, c.precision);
      EXPECT_EQ(n.scale, c.scale);
    }
  }
}

// Decimal digits on both sides of the 64-bit road's limit of 19 and of the 16-byte limit.
TEST(PackedToNumeric, BothRoadsAndTheLimit) {
  struct Case {
    std::string digits;
    int precision;
    int result;
  };
  const Case cases[] = {
      {"9999999999999999999", 19, kNumericConverted},    // 64-bit road
      {"10000000000000000000", 20, kNumericConverted},   // long road
      {"18446744073709551615", 20, kNumericConverted},   // 2^64 - 1 on the long road
      {"18446744073709551616", 25, kNumericConverted},   // 2^64
      {kU128Max, 39, kNumericConverted},
      {kU128Max, 255, kNumericConverted},
      {"340282366920938463463374607431768211456", 39, kNumericOutOfRange},  // 2^128
      {"999999999999999999999999999999999999999", 39, kNumericOutOfRange},
      {"1" + std::string(39, '0'), 40, kNumericOutOfRange},
      {std::string(255, '9'), 255, kNumericOutOfRange},
  };
  for (const Case& c : cases) {
    for (bool negative : {false, true}) {
      SCOPED_TRACE(c.digits + (negative ? " negative" : ""));
      const Bytes packed = PackDigits(c.digits, negative, c.precision);
      SQL_NUMERIC_STRUCT n;
      ASSERT_EQ(PackedDecimalToODBCNumeric(packed.data(), c.precision, 0, &n), c.result);
      const u128 expected = c.result == kNumericConverted ? FromText(c.digits) : 0;
      EXPECT_EQ(Bytes(n.val, n.val + 16), ValBytes(expected));
      EXPECT_EQ(n.sign, negative ? 0 : 1);
    }
  }
}

struct ToPackedCase {
  const char* name;
  int precision;
  int scale;
  int sign;
  const char* magnitude;
  int result;
  Bytes packed;
};

const ToPackedCase kToPackedCases[] = {
    {"positive", 5, 2, 1, "12345", kNumericConverted, {0x12, 0x34, 0x5C}},
    {"negative", 5, 2, 0, "12345", kNumericConverted, {0x12, 0x34, 0x5D}},
    {"negative_zero_keeps_its_sign", 3, 0, 0, "0", kNumericConverted, {0x00, 0x0D}},
    {"zero", 3, 0, 1, "0", kNumericConverted, {0x00, 0x0C}},
    {"negative_scale_scales_up", 3, -2, 1, "5", kNumericConverted, {0x50, 0x0C}},
    {"negative_scale_too_far", 3, -3, 1, "5", kNumericOutOfRange, {}},
    {"more_digits_than_precision", 4, 0, 1, "123456", kNumericOutOfRange, {}},
    {"not_into_the_unused_nibble", 4, 0, 1, "12345", kNumericOutOfRange, {}},
    {"exactly_the_precision", 4, 0, 1, "1234", kNumericConverted, {0x01, 0x23, 0x4C}},
    {"precision_0_zero", 0, 0, 1, "0", kNumericConverted, {0x0C}},
    {"precision_0_value", 0, 0, 1, "1", kNumericOutOfRange, {}},
    {"long_road", 20, 0, 1, "18446744073709551616", kNumericConverted,
     {0x01, 0x84, 0x46, 0x74, 0x40, 0x73, 0x70, 0x95, 0x51, 0x61, 0x6C}},
    {"long_road_too_long", 19, 0, 1, "18446744073709551616", kNumericOutOfRange, {}},
    {"largest", 39, 5, 0, kU128Max, kNumericConverted, {}},
    {"largest_one_digit_short", 38, 0, 1, kU128Max, kNumericOutOfRange, {}},
    {"scale_minus_128", 255, -128, 1, "1", kNumericConverted, {}},
    {"scale_minus_128_large", 170, -128, 0, kU128Max, kNumericConverted, {}},
    {"scale_minus_128_too_long", 166, -128, 0, kU128Max, kNumericOutOfRange, {}},
};

TEST(NumericToPacked, Table) {
  for (const ToPackedCase& c : kToPackedCases) {
    SCOPED_TRACE(c.name);
    SQL_NUMERIC_STRUCT n;
    n.precision = static_cast<SQLCHAR>(c.precision);
    n.scale = static_cast<SQLSCHAR>(c.scale);
    n.sign = static_cast<SQLCHAR>(c.sign);
    const Bytes val = ValBytes(FromText(c.magnitude));
    std::memcpy(n.val, val.data(), 16);
    const std::size_t size = static_cast<std::size_t>(c.precision / 2 + 1);
    Bytes out(size + 1, 0xEE);
    EXPECT_EQ(ODBCNumericToPackedDecimal(&n, out.data()), c.result);
    EXPECT_EQ(out.back(), 0xEE);  // nothing past precision / 2 + 1 bytes
    out.pop_back();
    if (c.result != kNumericConverted) continue;
    Bytes expected = c.packed;
    if (expected.empty()) {
      std::string digits = c.magnitude;
      if (c.scale < 0) digits.append(static_cast<std::size_t>(-c.scale), '0');
      expected = PackDigits(digits, c.sign == 0, c.precision);
    }
    EXPECT_EQ(out, expected);
  }
}

// ---------------------------------------------------------------------------------------
// Randomised checks

constexpr int kRounds = 25000;

u128 RandomMagnitude(std::mt19937_64& gen) {
  const int bits = static_cast<int>(gen() % 129);
  u128 m = (static_cast<u128>(gen()) << 64) | gen();
  if (bits == 0) return 0;
  m >>= 128 - bits;
  switch (gen() % 8) {
    case 0: return (bits == 128 ? ~static_cast<u128>(0) : (static_cast<u128>(1) << bits) - 1);
    case 1: return static_cast<u128>(1) << (bits - 1);
    default: return m;
  }
}

TEST(PackedDecimalOracle, PackedToNumeric) {
  std::mt19937_64 gen(11);
  for (int i = 0; i < kRounds; ++i) {
    const u128 m = RandomMagnitude(gen);
    const std::string digits = U128Text(m);
    const int min_p = m == 0 ? 0 : static_cast<int>(digits.size());
    const int precision = min_p + static_cast<int>(gen() % (gen() % 4 == 0 ? 256 - min_p : 4));
    const int scale = static_cast<int>(gen() % 256) - 128;
    const bool negative = gen() % 2 == 0;
    const Bytes packed = PackDigits(digits, negative, precision);
    SQL_NUMERIC_STRUCT n;
    ASSERT_EQ(PackedDecimalToODBCNumeric(packed.data(), precision, scale, &n), kNumericConverted)
        << digits << " P " << precision;
    ASSERT_EQ(Bytes(n.val, n.val + 16), ValBytes(m)) << digits << " P " << precision;
    ASSERT_EQ(n.sign, negative ? 0 : 1);
    ASSERT_EQ(n.precision, precision);
    ASSERT_EQ(n.scale, scale);
  }
  // Magnitudes past 16 bytes: 39 digits above 2^128 - 1, and longer ones.
  for (int i = 0; i < kRounds / 5; ++i) {
    const int length = 39 + static_cast<int>(gen() % 40);
    std::string digits(1, static_cast<char>('1' + gen() % 9));
    for (int k = 1; k < length; ++k) digits += static_cast<char>('0' + gen() % 10);
    if (length == 39 && digits <= kU128Max) continue;
    const int precision = length + static_cast<int>(gen() % 10);
    const Bytes packed = PackDigits(digits, gen() % 2 == 0, precision);
    SQL_NUMERIC_STRUCT n;
    ASSERT_EQ(PackedDecimalToODBCNumeric(packed.data(), precision, 0, &n), kNumericOutOfRange)
        << digits;
    ASSERT_EQ(Bytes(n.val, n.val + 16), Bytes(16, 0)) << digits;
  }
}

TEST(PackedDecimalOracle, NumericToPackedAndBack) {
  std::mt19937_64 gen(12);
  for (int i = 0; i < kRounds; ++i) {
    const u128 m = RandomMagnitude(gen);
    SQL_NUMERIC_STRUCT n;
    n.sign = static_cast<SQLCHAR>(gen() % 2);
    n.scale = static_cast<SQLSCHAR>(static_cast<int>(gen() % 61) - 30);
    std::string digits = U128Text(m);
    if (n.scale < 0 && m != 0) digits.append(static_cast<std::size_t>(-n.scale), '0');
    const int needed = m == 0 ? 0 : static_cast<int>(digits.size());
    // Mostly around the digits needed, sometimes anywhere.
    int precision = needed + static_cast<int>(gen() % 5) - 2;
    if (gen() % 8 == 0) precision = static_cast<int>(gen() % 256);
    if (precision < 0) precision = 0;
    if (precision > 255) precision = 255;
    n.precision = static_cast<SQLCHAR>(precision);
    const Bytes val = ValBytes(m);
    std::memcpy(n.val, val.data(), 16);
    const std::size_t size = static_cast<std::size_t>(precision / 2 + 1);
    Bytes out(size + 1, 0xEE);
    const int r = ODBCNumericToPackedDecimal(&n, out.data());
    const std::string trace = digits + " P " + std::to_string(precision) + " S " +
                              std::to_string(n.scale);
    ASSERT_EQ(out.back(), 0xEE) << trace;
    out.pop_back();
    if (needed > precision) {
      ASSERT_EQ(r, kNumericOutOfRange) << trace;
      continue;
    }
    ASSERT_EQ(r, kNumericConverted) << trace;
    ASSERT_EQ(out, PackDigits(digits, n.sign == 0, precision)) << trace;
    // And back: the same magnitude, with the scale applied to it.
    SQL_NUMERIC_STRUCT back;
    if (n.scale >= 0) {
      ASSERT_EQ(PackedDecimalToODBCNumeric(out.data(), precision, n.scale, &back),
                kNumericConverted)
          << trace;
      ASSERT_EQ(Bytes(back.val, back.val + 16), val) << trace;
      ASSERT_EQ(back.sign, n.sign) << trace;
    }
  }
}

}  // namespace
