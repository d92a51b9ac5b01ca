// Decimal numbers: tables of cases for every operation, then randomised checks against
// 128-bit integer arithmetic done by the test itself.
#include "odbc/decimal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "decimal_oracle.h"

namespace {

using vq::testing::Build;
using vq::testing::Dec;
using vq::testing::DecOf;
using vq::testing::DecText;
using vq::testing::i128;
using vq::testing::NormalFormFault;
using vq::testing::Num;
using vq::testing::NumOf;
using vq::testing::PackDigits;
using vq::testing::Text;
using vq::testing::u128;

// The expected text is written in any form Num reads; both sides are printed alike.
std::string Expect(const std::string& text) { return Text(Num(text)); }

// ---------------------------------------------------------------------------------------
// Tables

TEST(DecimalFormat, BytesOfASmallNumberAndItsNegation) {
  a_num n = Num("123.45");
  EXPECT_EQ(n.len, 3);
  EXPECT_EQ(n.sign_exp, 0x80 | 63);
  EXPECT_EQ(n.dig[0], 45);
  EXPECT_EQ(n.dig[1], 23);
  EXPECT_EQ(n.dig[2], 1);
  a_num neg;
  negnum(&neg, &n);
  EXPECT_EQ(std::memcmp(&neg, &n, 5) == 0, false);
  EXPECT_EQ(neg.sign_exp, 63);
  EXPECT_EQ(std::memcmp(neg.dig, n.dig, 3), 0);
  a_num back;
  absnum(&back, &neg);
  EXPECT_EQ(std::memcmp(&back, &n, 5), 0);

  // Zero and the overflow value keep their byte under negation.
  for (const char* text : {"0", "overflow"}) {
    a_num v = Num(text);
    a_num out;
    negnum(&out, &v);
    EXPECT_EQ(out.sign_exp, v.sign_exp) << text;
    absnum(&out, &v);
    EXPECT_EQ(out.sign_exp, v.sign_exp) << text;
  }
}

struct NormalizeCase {
  const char* name;
  std::vector<int> digits;  // raw, least significant first
  bool negative;
  int e;
  int maxd;
  const char* expected;
};

const NormalizeCase kNormalizeCases[] = {
    {"zeros_at_both_ends", {0, 45, 23, 1, 0, 0}, false, 63, 10, "12345"},
    {"sign_kept", {45, 23, 1}, true, 63, 10, "-123.45"},
    {"budget_truncates_low_digits", {12, 34, 56, 78}, false, 64, 2, "78560000"},
    {"budget_truncation_is_toward_zero", {99, 99, 1}, true, 64, 1, "-10000"},
    {"all_zero", {0, 0, 0}, true, 64, 10, "0"},
    {"empty", {}, false, 64, 10, "0"},
    {"highest_exponent", {7}, false, 127, 10, "7e126"},
    {"exponent_above_range", {7}, false, 128, 10, "overflow"},
    {"low_zeros_raise_out_of_range", {0, 7}, false, 127, 10, "overflow"},
    {"high_zeros_do_not_count", {7, 0, 0}, false, 127, 1, "7e126"},
    {"lowest_exponent", {7}, false, 1, 10, "7e-126"},
    // Digits below the lowest exponent are cut like budget digits, not the whole number.
    {"digits_below_range_dropped", {5, 7}, false, 0, 10, "7e-126"},
    {"wholly_below_range", {5}, false, 0, 10, "0"},
    {"budget_below_one_keeps_one", {34, 12}, false, 64, 0, "1200"},
};

class Normalize : public ::testing::TestWithParam<NormalizeCase> {};

TEST_P(Normalize, GivesTheNormalForm) {
  const NormalizeCase& c = GetParam();
  a_num in{};
  in.len = static_cast<std::uint8_t>(c.digits.size());
  in.sign_exp = c.negative ? 0x40 : 0xC0;  // the exponent bits of `in` are not read
  for (std::size_t i = 0; i < c.digits.size(); ++i) in.dig[i] = static_cast<std::uint8_t>(c.digits[i]);
  a_num out;
  do_normalize(&out, &in, c.e, c.maxd);
  EXPECT_EQ(Text(out), Expect(c.expected));
  EXPECT_EQ(NormalFormFault(out), "");
  // In place gives the same.
  do_normalize(&in, &in, c.e, c.maxd);
  EXPECT_EQ(Text(in), Expect(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Table, Normalize, ::testing::ValuesIn(kNormalizeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Normalize, PrecisionEntryUsesHalfThePrecisionPlusOne) {
  a_num in = Build({12, 34, 56, 78}, false, 64);
  a_num out;
  _do_normalize(&out, &in, 64, 3);  // 3 decimal digits: 2 base-100 digits
  EXPECT_EQ(Text(out), "78560000");
}

struct CompareCase {
  const char* a;
  const char* b;
  int sign;  // of the result
};

const CompareCase kCompareCases[] = {
    {"1.5", "1.50", 0},      {"0", "0", 0},         {"0", "-1", 1},
    {"0", "1", -1},          {"-1", "0", -1},       {"2", "0", 1},
    {"-1", "1", -1},         {"1", "-1", 1},        {"100", "99", 1},
    {"99.99", "100", -1},    {"-100", "-99", -1},   {"-99", "-100", 1},
    {"12.3", "12.31", -1},   {"12.31", "12.3", 1},  {"-12.31", "-12.3", -1},
    {"1e-30", "1e-31", 1},   {"1e30", "1e30", 0},   {"-7e-126", "-7e-126", 0},
    {"overflow", "1", 0},    {"1", "overflow", 0},  {"overflow", "overflow", 0},
    {"123456789.1", "123456789.01", 1},
};

TEST(Compare, Table) {
  for (const CompareCase& c : kCompareCases) {
    SCOPED_TRACE(std::string(c.a) + " <=> " + c.b);
    a_num a = Num(c.a);
    a_num b = Num(c.b);
    const int r = cmpnum(&a, &b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign);
  }
}

struct IntegerCase {
  const char* text;
  int isl, isul, isll, isull;
  std::int32_t tol;
  std::int64_t toll;
};

constexpr std::int64_t kI64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kI64Max = std::numeric_limits<std::int64_t>::max();

const IntegerCase kIntegerCases[] = {
    {"0", 1, 1, 1, 1, 0, 0},
    {"100", 1, 1, 1, 1, 100, 100},
    {"99999999", 1, 1, 1, 1, 99999999, 99999999},
    {"100000000", 1, 1, 1, 1, 100000000, 100000000},
    {"2147483647", 1, 1, 1, 1, 2147483647, 2147483647},
    {"2147483648", 0, 1, 1, 1, 0, 2147483648LL},
    {"-2147483648", 1, 0, 1, 0, -2147483647 - 1, -2147483648LL},
    {"-2147483649", 0, 0, 1, 0, 0, -2147483649LL},
    {"4294967295", 0, 1, 1, 1, 0, 4294967295LL},
    {"4294967296", 0, 0, 1, 1, 0, 4294967296LL},
    {"9999999999", 0, 0, 1, 1, 0, 9999999999LL},
    {"10000000000", 0, 0, 1, 1, 0, 10000000000LL},
    {"9223372036854775807", 0, 0, 1, 1, 0, kI64Max},
    {"9223372036854775808", 0, 0, 0, 1, 0, 0},
    {"-9223372036854775808", 0, 0, 1, 0, 0, kI64Min},
    {"-9223372036854775809", 0, 0, 0, 0, 0, 0},
    {"18446744073709551615", 0, 0, 0, 1, 0, 0},
    {"18446744073709551616", 0, 0, 0, 0, 0, 0},
    {"1e30", 0, 0, 0, 0, 0, 0},
    {"12.5", 0, 0, 0, 0, 12, 12},
    {"-12.5", 0, 0, 0, 0, -12, -12},
    {"0.5", 0, 0, 0, 0, 0, 0},
    {"-1", 1, 0, 1, 0, -1, -1},
    {"overflow", 0, 0, 0, 0, 0, 0},
};

TEST(IntegerConversion, TestsAndValues) {
  for (const IntegerCase& c : kIntegerCases) {
    SCOPED_TRACE(c.text);
    a_num a = Num(c.text);
    EXPECT_EQ(numisl(&a) != 0, c.isl != 0);
    EXPECT_EQ(numisul(&a) != 0, c.isul != 0);
    EXPECT_EQ(numisll(&a) != 0, c.isll != 0);
    EXPECT_EQ(numisull(&a) != 0, c.isull != 0);
    EXPECT_EQ(numtol(&a), c.tol);
    EXPECT_EQ(numtoll(&a), c.toll);
  }
}

TEST(IntegerConversion, FromIntegers) {
  a_num n;
  ultonum(0, &n, 10);
  EXPECT_EQ(n.len, 0);
  EXPECT_EQ(n.sign_exp, 0x81);
  ultonum(100, &n, 10);
  EXPECT_EQ(n.len, 1);
  EXPECT_EQ(n.dig[0], 1);
  EXPECT_EQ(n.sign_exp, 0x80 | 65);

  struct Case {
    const char* name;
    void (*make)(a_num*);
    const char* expected;
  };
  const Case cases[] = {
      {"u32_max", [](a_num* o) { ultonum(4294967295u, o, 10); }, "4294967295"},
      {"i32_min", [](a_num* o) { ltonum(std::numeric_limits<std::int32_t>::min(), o, 10); },
       "-2147483648"},
      {"i32_neg", [](a_num* o) { ltonum(-120, o, 10); }, "-120"},
      {"u64_max", [](a_num* o) { ulltonum(std::numeric_limits<std::uint64_t>::max(), o, 10); },
       "18446744073709551615"},
      {"i64_min", [](a_num* o) { lltonum(kI64Min, o, 10); }, "-9223372036854775808"},
      {"i64_max", [](a_num* o) { lltonum(kI64Max, o, 10); }, "9223372036854775807"},
      {"budget", [](a_num* o) { ulltonum(123456789, o, 2); }, "123000000"},
      {"precision_entry_u32", [](a_num* o) { _ultonum(123456789, o, 3); }, "123000000"},
      {"precision_entry_i32", [](a_num* o) { _ltonum(-123456789, o, 3); }, "-123000000"},
      {"precision_entry_i64", [](a_num* o) { _lltonum(-123456789, o, 3); }, "-123000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    a_num out;
    c.make(&out);
    EXPECT_EQ(Text(out), c.expected);
    EXPECT_EQ(NormalFormFault(out), "");
  }
}

enum class Op { Add, Sub, Mul, Div };

struct ArithCase {
  Op op;
  const char* a;
  const char* b;
  int maxd;
  const char* expected;
};

const ArithCase kArithCases[] = {
    {Op::Add, "1", "1e-30", 10, "1"},
    {Op::Add, "1", "1e-30", 255, "1.000000000000000000000000000001"},
    {Op::Add, "123.45", "0.55", 10, "124"},
    {Op::Add, "99.99", "0.01", 10, "100"},
    {Op::Add, "9999999999999999999999.99", "0.01", 20, "10000000000000000000000"},
    {Op::Add, "-5", "3", 10, "-2"},
    {Op::Add, "5", "-3", 10, "2"},
    {Op::Add, "3", "-5", 10, "-2"},
    {Op::Add, "-3", "-5", 10, "-8"},
    {Op::Add, "1.5", "-1.5", 10, "0"},
    {Op::Add, "0", "-7", 10, "-7"},
    {Op::Add, "-7", "0", 10, "-7"},
    {Op::Add, "0", "0", 10, "0"},
    {Op::Add, "-7e-126", "0", 10, "-7e-126"},
    {Op::Add, "overflow", "1", 10, "overflow"},
    {Op::Add, "1", "overflow", 10, "overflow"},
    {Op::Add, "123456", "0.78", 3, "123456"},
    // The smaller operand lies wholly below the kept digits: the larger one is the result.
    {Op::Add, "100", "-0.01", 2, "100"},
    {Op::Add, "100", "-0.01", 3, "99.99"},
    {Op::Add, "99e126", "1e126", 10, "overflow"},
    {Op::Add, "-99e126", "-1e126", 10, "overflow"},
    {Op::Add, "1e-100", "-1e-100", 10, "0"},
    {Op::Sub, "5", "3", 10, "2"},
    {Op::Sub, "3", "5", 10, "-2"},
    {Op::Sub, "-3", "-3", 10, "0"},
    {Op::Sub, "0", "5", 10, "-5"},
    {Op::Sub, "1", "1e-30", 255, "0.999999999999999999999999999999"},
    {Op::Sub, "1", "1e-30", 2, "1"},
    {Op::Sub, "10000", "0.0001", 4, "10000"},
    {Op::Sub, "10000", "0.0001", 5, "9999.9999"},
    {Op::Sub, "overflow", "1", 10, "overflow"},
    {Op::Sub, "1", "overflow", 10, "overflow"},
    {Op::Mul, "123.45", "2", 10, "246.9"},
    {Op::Mul, "-1.5", "1.5", 10, "-2.25"},
    {Op::Mul, "-2", "-3", 10, "6"},
    {Op::Mul, "0", "-5", 10, "0"},
    {Op::Mul, "99", "99", 10, "9801"},
    {Op::Mul, "9999", "9999", 10, "99980001"},
    {Op::Mul, "99999999999999999999", "99999999999999999999", 20,
     "9999999999999999999800000000000000000001"},
    {Op::Mul, "123456789", "1", 2, "123000000"},
    {Op::Mul, "-123456789", "1", 2, "-123000000"},
    {Op::Mul, "1e100", "1e100", 10, "overflow"},
    {Op::Mul, "1e-100", "1e-100", 10, "0"},
    {Op::Mul, "overflow", "0", 10, "overflow"},
    {Op::Mul, "0", "overflow", 10, "overflow"},
    {Op::Div, "1", "3", 5, "0.3333333333"},
    {Op::Div, "2", "3", 3, "0.666666"},
    {Op::Div, "10", "4", 10, "2.5"},
    {Op::Div, "-10", "4", 10, "-2.5"},
    {Op::Div, "10", "-4", 10, "-2.5"},
    {Op::Div, "-10", "-4", 10, "2.5"},
    {Op::Div, "1", "7", 4, "0.14285714"},
    {Op::Div, "123456789012", "3456.78", 10, "35714389.98489924149"},
    {Op::Div, "98765432109876543210.123", "0.0000789", 8, "1251779874649890000000000"},
    {Op::Div, "1", "0", 10, "overflow"},
    {Op::Div, "0", "0", 10, "overflow"},
    {Op::Div, "0", "5", 10, "0"},
    {Op::Div, "overflow", "1", 10, "overflow"},
    {Op::Div, "1", "overflow", 10, "overflow"},
    {Op::Div, "1e-120", "1e10", 10, "0"},
    {Op::Div, "1e120", "1e-10", 10, "overflow"},
    {Op::Div, "9801", "99", 10, "99"},
    {Op::Div, "99980001", "9999", 10, "9999"},
};

const char* OpName(Op op) {
  switch (op) {
    case Op::Add: return " + ";
    case Op::Sub: return " - ";
    case Op::Mul: return " * ";
    case Op::Div: return " / ";
  }
  return "?";
}

void Apply(Op op, a_num* out, const a_num* a, const a_num* b, int maxd) {
  switch (op) {
    case Op::Add: add_num(out, a, b, maxd); break;
    case Op::Sub: sub_num(out, a, b, maxd); break;
    case Op::Mul: mul_num(out, a, b, maxd); break;
    case Op::Div: div_num(out, a, b, maxd); break;
  }
}

TEST(Arithmetic, Table) {
  for (const ArithCase& c : kArithCases) {
    SCOPED_TRACE(std::string(c.a) + OpName(c.op) + c.b + " maxd " + std::to_string(c.maxd));
    const a_num a = Num(c.a);
    const a_num b = Num(c.b);
    a_num out;
    Apply(c.op, &out, &a, &b, c.maxd);
    EXPECT_EQ(Text(out), Expect(c.expected));
    EXPECT_EQ(NormalFormFault(out), "");
    // The result may be written over either operand.
    a_num x = a;
    Apply(c.op, &x, &x, &b, c.maxd);
    EXPECT_EQ(Text(x), Expect(c.expected));
    a_num y = b;
    Apply(c.op, &y, &a, &y, c.maxd);
    EXPECT_EQ(Text(y), Expect(c.expected));
  }
}

TEST(Arithmetic, SameOperandTwice) {
  a_num x = Num("12.5");
  a_num out;
  sub_num(&out, &x, &x, 10);
  EXPECT_EQ(Text(out), "0");
  add_num(&x, &x, &x, 10);
  EXPECT_EQ(Text(x), "25");
  mul_num(&x, &x, &x, 10);
  EXPECT_EQ(Text(x), "625");
  div_num(&x, &x, &x, 10);
  EXPECT_EQ(Text(x), "1");
  a_num ov = Num("overflow");
  sub_num(&out, &ov, &ov, 10);
  EXPECT_EQ(Text(out), "overflow");
}

TEST(Arithmetic, PrecisionEntries) {
  const a_num a = Num("123456789");
  const a_num one = Num("1");
  a_num out;
  _mul_num(&out, &a, &one, 3);
  EXPECT_EQ(Text(out), "123000000");
  _add_num(&out, &a, &one, 3);
  EXPECT_EQ(Text(out), "123000000");
  _sub_num(&out, &a, &one, 3);
  EXPECT_EQ(Text(out), "123000000");
  _div_num(&out, &one, &a, 3);  // 0.0000000081000000737...
  EXPECT_EQ(Text(out), "0.0000000081");
}

TEST(Arithmetic, LongestNumbers) {
  // (100^127 - 1)^2 = 100^254 - 2 x 100^127 + 1, exact in 254 digits at the lowest exponent.
  const a_num x = Build(std::vector<int>(127, 99), false, 64);
  const a_num y = Build(std::vector<int>(127, 99), false, 1);
  a_num sq;
  mul_num(&sq, &x, &y, kNumMaxDigits);
  ASSERT_EQ(sq.len, 254);
  EXPECT_EQ(sq.sign_exp, 0x80 | 1);
  for (int i = 0; i < 254; ++i) {
    ASSERT_EQ(sq.dig[i], i == 0 ? 1 : i < 127 ? 0 : i == 127 ? 98 : 99) << i;
  }
  // A product whose digits cannot sit at any exponent is the overflow value.
  std::vector<int> nines(kNumMaxDigits, 99);
  const a_num a = Build(nines, false, 64);
  mul_num(&sq, &a, &a, kNumMaxDigits);
  EXPECT_EQ(Text(sq), "overflow");
  a_num sum;
  add_num(&sum, &a, &a, kNumMaxDigits);  // 2 x (100^255 - 1): the carry needs digit 256
  EXPECT_EQ(sum.len, kNumMaxDigits);
  EXPECT_EQ(sum.dig[kNumMaxDigits - 1], 1);
  a_num q;
  const a_num b = Build(std::vector<int>(kNumMaxDigits - 1, 99), false, 64);
  // (100^255 - 1) / (100^254 - 1) = 100 + 99 / (100^254 - 1): the fraction starts below
  // the digits kept.
  div_num(&q, &a, &b, kNumMaxDigits);
  EXPECT_EQ(Text(q), "100");
}

// Long operands beyond 128 bits: a product divided by one factor gives the other back, and
// so does the integer part of the product plus any remainder smaller than the divisor. Many lengths and digit patterns exercise every branch of the long division.
TEST(Arithmetic, LongDivisionUndoesMultiplication) {
  std::mt19937 gen(8);
  auto random_num = [&](int len, bool negative) {
    std::vector<int> dig(static_cast<std::size_t>(len));
    const int style = static_cast<int>(gen() % 4);
    for (int& d : dig) {
      d = style == 0 ? 99 : style == 1 ? static_cast<int>(gen() % 3) : static_cast<int>(gen() % 100);
    }
    dig.back() = style == 3 ? 1 + static_cast<int>(gen() % 49) : 1 + static_cast<int>(gen() % 99);
    return Build(dig, negative, 64);
  };
  for (int i = 0; i < 3000; ++i) {
    const int la = 1 + static_cast<int>(gen() % 127);
    const int lb = 1 + static_cast<int>(gen() % 127);
    const a_num a = random_num(la, gen() % 2 == 0);
    const a_num b = random_num(lb, gen() % 2 == 0);
    a_num product;
    mul_num(&product, &a, &b, kNumMaxDigits);
    a_num q;
    div_num(&q, &product, &b, kNumMaxDigits);
    ASSERT_EQ(cmpnum(&q, &a), 0) << Text(a) << " * " << Text(b) << " / " << Text(b)
                                  << " gave " << Text(q);
    // Add a remainder of the product's sign and below |b| in magnitude.
    a_num rem = random_num(lb, false);
    a_num babs;
    absnum(&babs, &b);
    const a_num one = Num("1");
    if (cmpnum(&rem, &babs) >= 0) sub_num(&rem, &babs, &one, kNumMaxDigits);
    if ((product.sign_exp & 0x80) == 0) negnum(&rem, &rem);
    a_num dividend;
    add_num(&dividend, &product, &rem, kNumMaxDigits);
    div_num(&q, &dividend, &b, kNumMaxDigits);
    chop_num(&q, kChopAnyPrecision, 0, kNumMaxDigits);
    ASSERT_EQ(cmpnum(&q, &a), 0) << "(" << Text(a) << " * " << Text(b) << " + " << Text(rem)
                                  << ") / " << Text(b) << " gave " << Text(q);
    ASSERT_EQ(NormalFormFault(q), "");
  }
}

struct ChopCase {
  bool round;
  const char* a;
  int P;
  int S;
  const char* expected;
};

const ChopCase kChopCases[] = {
    {false, "123.456", 5, 2, "123.45"},
    {false, "123.456", 4, 2, "overflow"},
    {false, "-123.456", 6, 1, "-123.4"},
    {false, "0.999", 3, 0, "0"},
    {false, "99.5", 2, 0, "99"},
    {false, "123", 3, 0, "123"},
    {false, "999", 3, 0, "999"},
    {false, "1234", 3, 0, "overflow"},
    {false, "12.34", 3, 1, "12.3"},
    {false, "123.4", 3, 1, "overflow"},
    {false, "0.05", 1, 1, "0"},
    {false, "0.0123", 3, 3, "0.012"},
    {false, "0.123", 2, 3, "overflow"},
    {false, "1234", 4, -1, "1230"},
    {false, "1234", 3, -2, "1200"},
    {false, "1234", 1, -2, "overflow"},
    {false, "1e30", kChopAnyPrecision, 0, "1e30"},
    {false, "123456789.987", kChopAnyPrecision, 0, "123456789"},
    {false, "0", 1, 0, "0"},
    {false, "overflow", 10, 0, "overflow"},
    {true, "-2.5", 5, 0, "-3"},
    {true, "2.5", 5, 0, "3"},
    {true, "2.449", 5, 2, "2.45"},
    {true, "2.444", 5, 2, "2.44"},
    {true, "-2.445", 5, 2, "-2.45"},
    {true, "99.5", 2, 0, "overflow"},
    {true, "99.5", 3, 0, "100"},
    {true, "0.5", 1, 0, "1"},
    {true, "0.05", 1, 1, "0.1"},
    {true, "0.04", 1, 1, "0"},
    {true, "0.006", 1, 0, "0"},
    {true, "0.0006", 4, 3, "0.001"},
    {true, "9.99", 3, 1, "10"},
    {true, "1250", 4, -2, "1300"},
    {true, "1249", 4, -2, "1200"},
    {true, "7", 1, 0, "7"},
    {true, "0", 1, 0, "0"},
    {true, "overflow", 10, 0, "overflow"},
};

TEST(ChopAndRound, Table) {
  for (const ChopCase& c : kChopCases) {
    SCOPED_TRACE(std::string(c.round ? "round " : "chop ") + c.a + " P " + std::to_string(c.P) +
                 " S " + std::to_string(c.S));
    a_num a = Num(c.a);
    if (c.round) {
      round_num(&a, c.P, c.S, 20);
    } else {
      chop_num(&a, c.P, c.S, 20);
    }
    EXPECT_EQ(Text(a), Expect(c.expected));
    EXPECT_EQ(NormalFormFault(a), "");
  }
  a_num a = Num("123.456");
  _chop_num(&a, 5, 2, 10);
  EXPECT_EQ(Text(a), "123.45");
  a = Num("2.449");
  _round_num(&a, 5, 2, 10);
  EXPECT_EQ(Text(a), "2.45");
}

struct PackCase {
  std::vector<std::uint8_t> bytes;
  int P;
  int S;
  const char* value;  // "overflow" for a packed decimal that does not read
};

const PackCase kUnpackCases[] = {
    {{0x12, 0x34, 0x5C}, 5, 2, "123.45"},
    {{0x01, 0x23, 0x4D}, 4, 0, "-1234"},
    {{0x91, 0x23, 0x4C}, 4, 0, "1234"},  // the unused high nibble is not read
    {{0x12, 0x34, 0x5F}, 5, 2, "123.45"},
    {{0x12, 0x34, 0x5A}, 5, 2, "overflow"},
    {{0x12, 0x34, 0x5B}, 5, 2, "overflow"},
    {{0x12, 0x34, 0x50}, 5, 2, "overflow"},
    {{0x1A, 0x34, 0x5C}, 5, 2, "overflow"},  // a digit nibble above 9
    {{0x0C}, 0, 0, "0"},
    {{0x0D}, 0, 0, "0"},
    {{0x5C}, 1, 0, "5"},
    {{0x12, 0x3C}, 3, 1, "12.3"},
    {{0x12, 0x3C}, 3, 3, "0.123"},
    {{0x12, 0x3C}, 3, 5, "0.00123"},
    {{0x12, 0x3C}, 3, -2, "12300"},
    {{0x12, 0x3C}, 3, -1, "1230"},
    {{0x00, 0x00, 0x0D}, 5, 2, "0"},
};

TEST(PackedDecimal, Unpack) {
  for (const PackCase& c : kUnpackCases) {
    SCOPED_TRACE(std::string(c.value) + " P " + std::to_string(c.P) + " S " + std::to_string(c.S));
    a_num out;
    const int r = pack_to_num(c.bytes.data(), c.P, c.S, &out, 20);
    EXPECT_EQ(r, std::string(c.value) == "overflow" ? 0 : 1);
    EXPECT_EQ(Text(out), Expect(c.value));
  }
  const std::uint8_t bytes[] = {0x12, 0x34, 0x5C};
  a_num out;
  EXPECT_EQ(pack_to_num(bytes, -1, 0, &out, 20), 0);
  EXPECT_EQ(Text(out), "overflow");
  EXPECT_EQ(_pack_to_num(bytes, 5, 0, &out, 1), 1);  // budget of one base-100 digit
  EXPECT_EQ(Text(out), "10000");
}

struct NumToPackCase {
  const char* value;
  int P;
  int S;
  std::vector<std::uint8_t> bytes;
  int fits;
};

const NumToPackCase kPackCases[] = {
    {"123.45", 5, 2, {0x12, 0x34, 0x5C}, 1},
    {"-1234", 4, 0, {0x01, 0x23, 0x4D}, 1},
    {"0", 3, 0, {0x00, 0x0C}, 1},
    {"123.456", 5, 2, {0x12, 0x34, 0x5C}, 1},  // digits below the scale are cut
    {"1234.5", 5, 2, {0x23, 0x45, 0x0C}, 0},   // the high digit did not fit
    {"12345", 4, 0, {0x02, 0x34, 0x5C}, 0},    // not into the unused nibble either
    {"12300", 3, -2, {0x12, 0x3C}, 1},
    {"12345", 3, -2, {0x12, 0x3C}, 1},
    {"0.123", 3, 3, {0x12, 0x3C}, 1},
    {"0.123", 2, 3, {0x02, 0x3C}, 0},
    {"5", 0, 0, {0x0C}, 0},
    {"-0.5", 0, 0, {0x0D}, 1},
    {"overflow", 3, 0, {0x00, 0x0C}, 0},
};

TEST(PackedDecimal, Pack) {
  for (const NumToPackCase& c : kPackCases) {
    SCOPED_TRACE(std::string(c.value) + " P " + std::to_string(c.P) + " S " + std::to_string(c.S));
    const a_num a = Num(c.value);
    std::vector<std::uint8_t> out(c.bytes.size() + 1, 0xEE);
    EXPECT_EQ(numtopack(&a, out.data(), c.P, c.S), c.fits);
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.end() - 1), c.bytes);
    EXPECT_EQ(out.back(), 0xEE);  // nothing written past P / 2 + 1 bytes
  }
}

TEST(PackedDecimal, LongestRoundTrip) {
  const std::string digits(kPackedMaxPrecision, '9');
  const std::vector<std::uint8_t> packed = PackDigits(digits, true, kPackedMaxPrecision);
  for (int S : {0, 1, 2, 126}) {
    SCOPED_TRACE(S);
    a_num n;
    ASSERT_EQ(_pack_to_num(packed.data(), kPackedMaxPrecision, S, &n, kPackedMaxPrecision), 1);
    EXPECT_EQ(n.len, 128);
    std::vector<std::uint8_t> back(packed.size());
    EXPECT_EQ(numtopack(&n, back.data(), kPackedMaxPrecision, S), 1);
    EXPECT_EQ(back, packed);
  }
  // Digits below 10^-126 or a lowest digit above 100^63 cannot be held: the value is not
  // read rather than read with digits missing.
  for (int S : {127, 255, -190}) {
    SCOPED_TRACE(S);
    a_num n;
    EXPECT_EQ(pack_to_num(packed.data(), kPackedMaxPrecision, S, &n, kNumMaxDigits), 0);
    EXPECT_EQ(Text(n), "overflow");
  }
  // Zero digits may lie anywhere.
  const std::vector<std::uint8_t> small = PackDigits("5", false, kPackedMaxPrecision);
  a_num n;
  EXPECT_EQ(pack_to_num(small.data(), kPackedMaxPrecision, 126, &n, kNumMaxDigits), 1);
  EXPECT_EQ(Text(n), Expect("5e-126"));
}

TEST(DoubleConversion, Table) {
  struct ToDouble {
    const char* value;
    double expected;
  };
  const ToDouble to_double[] = {
      {"0", 0.0},         {"123.45", 123.45},   {"-0.1", -0.1},
      {"1e-100", 1e-100}, {"7e126", 7e126},     {"9007199254740993", 9007199254740992.0},
      {"-2.5", -2.5},     {"0.3333333333333333333333333333", 1.0 / 3},
  };
  for (const ToDouble& c : to_double) {
    const a_num a = Num(c.value);
    EXPECT_EQ(numtod(&a), c.expected) << c.value;
  }
  const a_num ov = Num("overflow");
  const double nan = numtod(&ov);
  std::uint64_t bits;
  std::memcpy(&bits, &nan, sizeof bits);
  EXPECT_EQ(bits, 0x7FFFFFFFFFFFFFFFull);

  struct FromDouble {
    double d;
    int maxd;
    const char* expected;
  };
  const FromDouble from_double[] = {
      {0.1, 10, "0.1"},
      {-2.5, 10, "-2.5"},
      {1e20, 10, "1e20"},
      {123456.789, 10, "123456.789"},
      {1.0 / 3, 10, "0.3333333333333333"},
      {1.0 / 3, 3, "0.333333"},
      {-0.0, 10, "0"},
      {5e-324, 10, "0"},  // below the smallest exponent
      {1e200, 10, "overflow"},
      {std::numeric_limits<double>::quiet_NaN(), 10, "overflow"},
      {std::numeric_limits<double>::infinity(), 10, "overflow"},
      {-std::numeric_limits<double>::infinity(), 10, "overflow"},
  };
  for (const FromDouble& c : from_double) {
    a_num out;
    dtonum(c.d, &out, c.maxd);
    EXPECT_EQ(Text(out), Expect(c.expected)) << c.d;
    EXPECT_EQ(NormalFormFault(out), "");
  }
  a_num out;
  _dtonum(1.0 / 3, &out, 5);
  EXPECT_EQ(Text(out), "0.333333");
}

// ---------------------------------------------------------------------------------------
// Randomised checks against 128-bit integers

constexpr i128 Pow10(int n) {
  i128 p = 1;
  for (int i = 0; i < n; ++i) p *= 10;
  return p;
}

int Digits(u128 v) {
  int n = 0;
  for (; v != 0; v /= 10) ++n;
  return n;
}

u128 Abs(i128 v) { return v < 0 ? static_cast<u128>(-v) : static_cast<u128>(v); }

class Operands {
 public:
  explicit Operands(std::uint64_t seed) : gen_(seed) {}

  // Up to `max_digits` digits, scale from `min_scale` to `max_scale`; one in eight is a
  // limit value (zero, one, all nines, a power of ten).
  Dec Next(int max_digits, int min_scale, int max_scale) {
    Dec d;
    d.scale = static_cast<int>(Uniform(min_scale, max_scale));
    const int kind = static_cast<int>(Uniform(0, 15));
    const int n = static_cast<int>(Uniform(1, max_digits));
    if (kind == 0) {
      d.u = 0;
    } else if (kind == 1) {
      d.u = 1;
    } else if (kind == 2) {
      d.u = Pow10(n) - 1;
    } else if (kind == 3) {
      d.u = Pow10(n - 1);
    } else {
      i128 u = 0;
      for (int i = 0; i < n; ++i) u = u * 10 + static_cast<int>(Uniform(0, 9));
      d.u = u;
    }
    if (Uniform(0, 1) != 0) d.u = -d.u;
    return d;
  }

  long long Uniform(long long lo, long long hi) {
    return std::uniform_int_distribution<long long>(lo, hi)(gen_);
  }
  std::uint64_t Bits() { return gen_(); }

 private:
  std::mt19937_64 gen_;
};

// Exact value of (u, scale) truncated toward zero to `maxd` base-100 digits.
Dec Truncate(Dec d, int maxd) {
  if (d.u == 0) return Dec{0, 0};
  if (d.scale % 2 != 0) {
    d.u *= 10;
    ++d.scale;
  }
  int positions = 0;
  for (u128 m = Abs(d.u); m != 0; m /= 100) ++positions;
  for (; positions > maxd; --positions) {
    d.u /= 100;
    d.scale -= 2;
  }
  return vq::testing::Canonical(d);
}

Dec ResultOf(const a_num& n) {
  Dec d;
  EXPECT_TRUE(DecOf(n, &d)) << Text(n);
  return d;
}

constexpr int kRounds = 25000;

TEST(DecimalOracle, AddSubtractCompareExactly) {
  Operands gen(1);
  for (int i = 0; i < kRounds; ++i) {
    const Dec x = gen.Next(18, -4, 12);
    const Dec y = gen.Next(18, -4, 12);
    const a_num a = NumOf(x);
    const a_num b = NumOf(y);
    const int s = x.scale > y.scale ? x.scale : y.scale;
    const i128 xa = x.u * Pow10(s - x.scale);
    const i128 ya = y.u * Pow10(s - y.scale);
    a_num sum;
    add_num(&sum, &a, &b, kNumMaxDigits);
    a_num diff;
    sub_num(&diff, &a, &b, kNumMaxDigits);
    const int c = cmpnum(&a, &b);
    ASSERT_EQ(ResultOf(sum), vq::testing::Canonical(Dec{xa + ya, s}))
        << DecText(x) << " + " << DecText(y) << " gave " << Text(sum);
    ASSERT_EQ(ResultOf(diff), vq::testing::Canonical(Dec{xa - ya, s}))
        << DecText(x) << " - " << DecText(y) << " gave " << Text(diff);
    ASSERT_EQ((c > 0) - (c < 0), (xa > ya) - (xa < ya)) << DecText(x) << " <=> " << DecText(y);
    ASSERT_EQ(NormalFormFault(sum), "");
    ASSERT_EQ(NormalFormFault(diff), "");
  }
}

TEST(DecimalOracle, MultiplyTruncatesToTheBudget) {
  Operands gen(2);
  for (int i = 0; i < kRounds; ++i) {
    const Dec x = gen.Next(18, -6, 12);
    const Dec y = gen.Next(18, -6, 12);
    const int maxd = static_cast<int>(gen.Uniform(1, 20));
    const a_num a = NumOf(x);
    const a_num b = NumOf(y);
    a_num p;
    mul_num(&p, &a, &b, maxd);
    ASSERT_EQ(ResultOf(p), Truncate(Dec{x.u * y.u, x.scale + y.scale}, maxd))
        << DecText(x) << " * " << DecText(y) << " maxd " << maxd << " gave " << Text(p);
    ASSERT_EQ(NormalFormFault(p), "");
  }
}

// floor(n x 10^k / d) for magnitudes, or -1 when it would need more than 127 bits.
i128 ScaledQuotient(u128 n, int k, u128 d) {
  if (k >= 0) {
    for (int i = 0; i < k; ++i) {
      if (n > (static_cast<u128>(1) << 123)) return -1;
      n *= 10;
    }
    return static_cast<i128>(n / d);
  }
  for (int i = 0; i < -k; ++i) {
    if (d > (static_cast<u128>(1) << 123)) return 0;
    d *= 10;
  }
  return static_cast<i128>(n / d);
}

TEST(DecimalOracle, DivideTruncatesToTheBudget) {
  Operands gen(3);
  for (int i = 0; i < kRounds; ++i) {
    const Dec x = gen.Next(18, -4, 10);
    Dec y = gen.Next(18, -4, 10);
    if (y.u == 0) y.u = 7;
    const int maxd = static_cast<int>(gen.Uniform(1, 9));
    const a_num a = NumOf(x);
    const a_num b = NumOf(y);
    a_num q;
    div_num(&q, &a, &b, maxd);
    // The lowest kept base-100 position p is the highest one at which the quotient
    // already has maxd digits.
    Dec expected{0, 0};
    if (x.u != 0) {
      const i128 low = Pow10(2 * (maxd - 1));
      for (int p = 40; p > -60; --p) {
        const i128 v = ScaledQuotient(Abs(x.u), y.scale - x.scale - 2 * p, Abs(y.u));
        ASSERT_GE(v, 0);
        if (v >= low) {
          ASSERT_LT(v, low * 100);
          expected = vq::testing::Canonical(Dec{((x.u < 0) != (y.u < 0)) ? -v : v, -2 * p});
          break;
        }
      }
    }
    ASSERT_EQ(ResultOf(q), expected)
        << DecText(x) << " / " << DecText(y) << " maxd " << maxd << " gave " << Text(q);
    ASSERT_EQ(NormalFormFault(q), "");
  }
}

TEST(DecimalOracle, ChopAndRound) {
  Operands gen(4);
  for (int i = 0; i < kRounds; ++i) {
    const Dec x = gen.Next(18, -2, 12);
    const int S = static_cast<int>(gen.Uniform(-3, 12));
    const int P = static_cast<int>(gen.Uniform(S > 0 ? S : 0, 22));
    // Truncated and rounded unscaled values at scale S.
    i128 chopped = x.u;
    i128 rounded = x.u;
    if (x.scale > S) {
      const i128 unit = Pow10(x.scale - S);
      chopped = x.u / unit;
      const i128 half = unit / 2;
      rounded = x.u < 0 ? -((-x.u + half) / unit) : (x.u + half) / unit;
    } else {
      chopped = rounded = x.u * Pow10(S - x.scale);
    }
    // At most P digits at scale S (for a negative S, P digits from 10^-S up).
    auto fits = [&](i128 v) { return Digits(Abs(v)) <= P; };
    a_num c = NumOf(x);
    chop_num(&c, P, S, kNumMaxDigits);
    a_num r = NumOf(x);
    round_num(&r, P, S, kNumMaxDigits);
    const std::string trace = DecText(x) + " P " + std::to_string(P) + " S " + std::to_string(S);
    if (fits(chopped)) {
      ASSERT_EQ(ResultOf(c), vq::testing::Canonical(Dec{chopped, S})) << "chop " << trace;
    } else {
      ASSERT_EQ(Text(c), "overflow") << "chop " << trace;
    }
    if (fits(rounded)) {
      ASSERT_EQ(ResultOf(r), vq::testing::Canonical(Dec{rounded, S})) << "round " << trace;
    } else {
      ASSERT_EQ(Text(r), "overflow") << "round " << trace;
    }
  }
}

TEST(DecimalOracle, IntegerConversions) {
  Operands gen(5);
  for (int i = 0; i < kRounds; ++i) {
    // Magnitudes of every length up to 20 digits, and the neighbours of the limits.
    const int n = static_cast<int>(gen.Uniform(1, 20));
    u128 m = 0;
    for (int k = 0; k < n; ++k) m = m * 10 + static_cast<unsigned>(gen.Uniform(0, 9));
    static const u128 kLimits[] = {
        static_cast<u128>(std::numeric_limits<std::int32_t>::max()),
        static_cast<u128>(std::numeric_limits<std::uint32_t>::max()),
        static_cast<u128>(kI64Max), static_cast<u128>(std::numeric_limits<std::uint64_t>::max())};
    if (gen.Uniform(0, 3) == 0) m = kLimits[gen.Uniform(0, 3)] - 1 + static_cast<u128>(gen.Uniform(0, 2));
    const bool neg = gen.Uniform(0, 1) != 0;
    const i128 v = neg ? -static_cast<i128>(m) : static_cast<i128>(m);
    const a_num a = NumOf(Dec{v, 0});
    const std::string trace = DecText(Dec{v, 0});
    const bool isl = v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
    const bool isul = v >= 0 && v <= std::numeric_limits<std::uint32_t>::max();
    const bool isll = v >= kI64Min && v <= kI64Max;
    const bool isull = v >= 0 && v <= static_cast<i128>(std::numeric_limits<std::uint64_t>::max());
    ASSERT_EQ(numisl(&a) != 0, isl) << trace;
    ASSERT_EQ(numisul(&a) != 0, isul) << trace;
    ASSERT_EQ(numisll(&a) != 0, isll) << trace;
    ASSERT_EQ(numisull(&a) != 0, isull) << trace;
    ASSERT_EQ(numtol(&a), isl ? static_cast<std::int32_t>(v) : 0) << trace;
    ASSERT_EQ(numtoll(&a), isll ? static_cast<std::int64_t>(v) : 0) << trace;
    a_num back;
    if (isll) {
      lltonum(static_cast<std::int64_t>(v), &back, kNumMaxDigits);
      ASSERT_EQ(std::memcmp(&back, &a, a.len + 2u), 0) << trace;
    }
    if (isull) {
      ulltonum(static_cast<std::uint64_t>(v), &back, kNumMaxDigits);
      ASSERT_EQ(std::memcmp(&back, &a, a.len + 2u), 0) << trace;
    }
    if (isl) {
      ltonum(static_cast<std::int32_t>(v), &back, kNumMaxDigits);
      ASSERT_EQ(std::memcmp(&back, &a, a.len + 2u), 0) << trace;
    }
    if (isul) {
      ultonum(static_cast<std::uint32_t>(v), &back, kNumMaxDigits);
      ASSERT_EQ(std::memcmp(&back, &a, a.len + 2u), 0) << trace;
    }
    // A fraction makes it no integer; the integer part is what numtoll gives.
    if (isll && m > 0) {
      const a_num f = NumOf(Dec{v * 10 + (neg ? -5 : 5), 1});
      ASSERT_EQ(numisll(&f), 0) << trace;
      ASSERT_EQ(numtoll(&f), static_cast<std::int64_t>(v)) << trace;
    }
  }
}

TEST(DecimalOracle, PackAndUnpack) {
  Operands gen(6);
  for (int i = 0; i < kRounds; ++i) {
    const Dec x = gen.Next(36, -1, 40);
    const u128 m = Abs(x.u);
    const int digits = Digits(m);
    const int P = static_cast<int>(gen.Uniform(digits > 0 ? digits - 1 : 0, 45));
    const std::vector<std::uint8_t> packed = PackDigits(vq::testing::U128Text(m), x.u < 0, P);
    const a_num a = NumOf(x);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(PackedBytes(P)));
    const int fits = numtopack(&a, out.data(), P, x.scale);
    const std::string trace = DecText(x) + " P " + std::to_string(P);
    if (packed.empty()) {
      ASSERT_EQ(fits, 0) << trace;
      continue;
    }
    ASSERT_EQ(fits, 1) << trace;
    // A negative zero has no sign of its own.
    ASSERT_EQ(out, m == 0 ? PackDigits("0", false, P) : packed) << trace;
    a_num back;
    ASSERT_EQ(pack_to_num(packed.data(), P, x.scale, &back, kNumMaxDigits), 1) << trace;
    ASSERT_EQ(ResultOf(back), vq::testing::Canonical(x)) << trace;
  }
}

TEST(DecimalOracle, Doubles) {
  Operands gen(7);
  for (int i = 0; i < kRounds; ++i) {
    // Integers below 2^53 over a power of ten up to 10^22 are both exact doubles, so the
    // one division rounds correctly.
    const std::int64_t u = static_cast<std::int64_t>(gen.Bits() >> 11) * (gen.Uniform(0, 1) ? 1 : -1);
    const int s = static_cast<int>(gen.Uniform(0, 22));
    const a_num a = NumOf(Dec{u, s});
    ASSERT_EQ(numtod(&a), static_cast<double>(u) / std::pow(10.0, s)) << u << "e-" << s;
    // Any finite double in the format's range reads back the same.
    double d;
    std::uint64_t bits = gen.Bits();
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isfinite(d) || std::fabs(d) > 1e120 || std::fabs(d) < 1e-110) continue;
    a_num n;
    dtonum(d, &n, 9);
    ASSERT_EQ(numtod(&n), d) << d;
  }
}

}  // namespace
