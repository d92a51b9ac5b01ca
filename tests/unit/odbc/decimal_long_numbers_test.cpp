// Decimal numbers beyond 128 bits: randomised checks of addition, subtraction, comparison,
// multiplication and the packed form over long digit strings and the whole exponent range,
// against exact arithmetic on decimal digit strings done by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "decimal_oracle.h"
#include "odbc/decimal.h"

namespace {

using vq::testing::Build;
using vq::testing::NormalFormFault;
using vq::testing::PackDigits;
using vq::testing::Text;

// An exact value: decimal digits (least significant first, no high zeros) x 10^exp10.
struct Exact {
  bool negative = false;
  std::vector<int> d;
  int exp10 = 0;
};

Exact ExactOf(const a_num& n) {
  Exact x;
  x.negative = (n.sign_exp & 0x80) == 0;
  for (int i = 0; i < n.len; ++i) {
    x.d.push_back(n.dig[i] % 10);
    x.d.push_back(n.dig[i] / 10);
  }
  while (!x.d.empty() && x.d.back() == 0) x.d.pop_back();
  x.exp10 = 2 * ((n.sign_exp & 0x7F) - 64);
  return x;
}

// Digits of `x` from 10^low upward, with zeros below its own lowest digit.
std::vector<int> DigitsFrom(const Exact& x, int low) {
  std::vector<int> out(static_cast<std::size_t>(x.exp10 - low), 0);
  out.insert(out.end(), x.d.begin(), x.d.end());
  return out;
}

int CompareMagnitude(const Exact& a, const Exact& b) {
  const int low = std::min(a.exp10, b.exp10);
  const std::vector<int> x = DigitsFrom(a, low);
  const std::vector<int> y = DigitsFrom(b, low);
  if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
  for (std::size_t i = x.size(); i-- > 0;) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

Exact Add(const Exact& a, const Exact& b) {
  const int low = std::min(a.exp10, b.exp10);
  std::vector<int> x = DigitsFrom(a, low);
  std::vector<int> y = DigitsFrom(b, low);
  Exact r;
  r.exp10 = low;
  if (a.negative == b.negative) {
    r.negative = a.negative;
    if (x.size() < y.size()) x.swap(y);
    int carry = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      const int s = x[i] + (i < y.size() ? y[i] : 0) + carry;
      r.d.push_back(s % 10);
      carry = s / 10;
    }
    if (carry != 0) r.d.push_back(carry);
  } else {
    const int order = CompareMagnitude(a, b);
    if (order == 0) return Exact{};
    if (order < 0) x.swap(y);
    r.negative = order > 0 ? a.negative : b.negative;
    int borrow = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      int s = x[i] - (i < y.size() ? y[i] : 0) - borrow;
      borrow = s < 0 ? 1 : 0;
      r.d.push_back(s + 10 * borrow);
    }
  }
  while (!r.d.empty() && r.d.back() == 0) r.d.pop_back();
  return r;
}

Exact Multiply(const Exact& a, const Exact& b) {
  Exact r;
  r.negative = a.negative != b.negative;
  r.exp10 = a.exp10 + b.exp10;
  r.d.assign(a.d.size() + b.d.size() + 1, 0);
  for (std::size_t i = 0; i < a.d.size(); ++i) {
    int carry = 0;
    for (std::size_t j = 0; j < b.d.size(); ++j) {
      const int s = r.d[i + j] + a.d[i] * b.d[j] + carry;
      r.d[i + j] = s % 10;
      carry = s / 10;
    }
    for (std::size_t k = i + b.d.size(); carry != 0; ++k) {
      const int s = r.d[k] + carry;
      r.d[k] = s % 10;
      carry = s / 10;
    }
  }
  while (!r.d.empty() && r.d.back() == 0) r.d.pop_back();
  return r;
}

// The text a number holding `x` to `maxd` base-100 digits must print: the exact value cut
// toward zero below its top maxd base-100 positions and below 10^-126 (the lowest digit
// the format holds), or "overflow" when its lowest non-zero digit would need a base-100
// exponent above 127.
std::string Expected(Exact x, int maxd) {
  if (x.d.empty()) return "0";
  if (x.exp10 % 2 != 0) {  // onto base-100 positions
    x.d.insert(x.d.begin(), 0);
    --x.exp10;
  }
  std::vector<int> dig;
  for (std::size_t i = 0; i < x.d.size(); i += 2) {
    dig.push_back(x.d[i] + (i + 1 < x.d.size() ? 10 * x.d[i + 1] : 0));
  }
  int e = x.exp10 / 2 + 64;
  const int top = e + static_cast<int>(dig.size());  // one above the top position
  const int lowest = std::max(top - maxd, 1);
  if (lowest > e) {
    dig.erase(dig.begin(), dig.begin() + std::min<int>(lowest - e, static_cast<int>(dig.size())));
    e = lowest;
  }
  std::size_t first = 0;
  while (first < dig.size() && dig[first] == 0) ++first;
  if (first == dig.size()) return "0";
  if (e + static_cast<int>(first) > 127) return "overflow";
  return Text(Build(dig, x.negative, e));
}

a_num RandomNum(std::mt19937& gen, int max_len) {
  const int len = 1 + static_cast<int>(gen() % static_cast<unsigned>(max_len));
  std::vector<int> dig(static_cast<std::size_t>(len));
  const unsigned style = gen() % 4;
  for (int& d : dig) d = style == 0 ? 99 : style == 1 ? static_cast<int>(gen() % 2) * 99 : static_cast<int>(gen() % 100);
  dig.front() = 1 + static_cast<int>(gen() % 99);
  dig.back() = 1 + static_cast<int>(gen() % 99);
  // Exponents anywhere in 1..127 that keep the number normal.
  const int e = 1 + static_cast<int>(gen() % 127);
  return Build(dig, gen() % 2 == 0, e);
}

TEST(DecimalLongNumbers, AddSubtractCompare) {
  std::mt19937 gen(21);
  for (int i = 0; i < 6000; ++i) {
    const a_num a = RandomNum(gen, 100);
    const a_num b = RandomNum(gen, 100);
    // With operands of at most 100 digits and the full budget, nothing is cut below the
    // exponent difference of at most 126 positions: the results are exact.
    const Exact x = ExactOf(a);
    const Exact y = ExactOf(b);
    a_num out;
    add_num(&out, &a, &b, kNumMaxDigits);
    ASSERT_EQ(Text(out), Expected(Add(x, y), kNumMaxDigits)) << Text(a) << " + " << Text(b);
    ASSERT_EQ(NormalFormFault(out), "");
    Exact minus_y = y;
    minus_y.negative = !y.negative;
    sub_num(&out, &a, &b, kNumMaxDigits);
    ASSERT_EQ(Text(out), Expected(Add(x, minus_y), kNumMaxDigits)) << Text(a) << " - " << Text(b);
    const int c = cmpnum(&a, &b);
    const Exact diff = Add(x, minus_y);
    const int expected = diff.d.empty() ? 0 : diff.negative ? -1 : 1;
    ASSERT_EQ((c > 0) - (c < 0), expected) << Text(a) << " <=> " << Text(b);
  }
}

TEST(DecimalLongNumbers, MultiplyAcrossTheExponentRange) {
  std::mt19937 gen(22);
  for (int i = 0; i < 4000; ++i) {
    const a_num a = RandomNum(gen, 60);
    const a_num b = RandomNum(gen, 60);
    const int maxd = 1 + static_cast<int>(gen() % kNumMaxDigits);
    a_num out;
    mul_num(&out, &a, &b, maxd);
    ASSERT_EQ(Text(out), Expected(Multiply(ExactOf(a), ExactOf(b)), maxd))
        << Text(a) << " * " << Text(b) << " maxd " << maxd;
    ASSERT_EQ(NormalFormFault(out), "");
  }
}

TEST(DecimalLongNumbers, PackedDigitStrings) {
  std::mt19937 gen(23);
  for (int i = 0; i < 6000; ++i) {
    const int P = static_cast<int>(gen() % (kPackedMaxPrecision + 1));
    std::string digits;
    const int n = P == 0 ? 0 : 1 + static_cast<int>(gen() % static_cast<unsigned>(P));
    for (int k = 0; k < n; ++k) digits += static_cast<char>('0' + gen() % 10);
    const int S = static_cast<int>(gen() % 140) - 10;  // past 126 the value does not fit
    const bool negative = gen() % 2 == 0;
    const std::vector<std::uint8_t> packed = PackDigits(digits.empty() ? "0" : digits, negative, P);
    Exact x;
    x.negative = negative;
    for (std::size_t k = digits.size(); k-- > 0;) x.d.push_back(digits[k] - '0');
    while (!x.d.empty() && x.d.back() == 0) x.d.pop_back();
    while (!x.d.empty() && x.d.front() == 0) {  // its lowest non-zero digit decides the fit
      x.d.erase(x.d.begin());
      ++x.exp10;
    }
    x.exp10 -= S;
    const std::string trace = digits + " P " + std::to_string(P) + " S " + std::to_string(S);
    a_num num;
    const int r = pack_to_num(packed.data(), P, S, &num, kNumMaxDigits);
    const bool representable = x.d.empty() || (x.exp10 >= -126 && x.exp10 <= 127);
    if (!representable) {
      ASSERT_EQ(r, 0) << trace;
      ASSERT_EQ(Text(num), "overflow") << trace;
      continue;
    }
    ASSERT_EQ(r, 1) << trace;
    ASSERT_EQ(Text(num), Expected(x, kNumMaxDigits)) << trace;
    std::vector<std::uint8_t> back(packed.size());
    ASSERT_EQ(numtopack(&num, back.data(), P, S), 1) << trace;
    // A negative zero has no sign of its own once read.
    ASSERT_EQ(back, x.d.empty() ? PackDigits("0", false, P) : packed) << trace;
  }
}

}  // namespace
