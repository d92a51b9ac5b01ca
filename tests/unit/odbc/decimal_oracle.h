// Test-side view of decimal numbers, written independently of the library: numbers built
// straight from decimal text or from a 128-bit unscaled integer and a scale, read back
// the same ways, and a checker of the normal form. The 128-bit forms are the oracle of
// the randomised checks.
#ifndef VQ_TESTS_UNIT_ODBC_DECIMAL_ORACLE_H
#define VQ_TESTS_UNIT_ODBC_DECIMAL_ORACLE_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "odbc/decimal.h"

namespace vq::testing {

using i128 = __int128;
using u128 = unsigned __int128;

// A value u x 10^-scale, canonical when u has no factor 10 (and scale is 0 for zero).
struct Dec {
  i128 u = 0;
  int scale = 0;
  bool operator==(const Dec& o) const { return u == o.u && scale == o.scale; }
};

inline Dec Canonical(Dec d) {
  if (d.u == 0) return Dec{0, 0};
  while (d.u % 10 == 0) {
    d.u /= 10;
    --d.scale;
  }
  return d;
}

inline std::string U128Text(u128 v) {
  if (v == 0) return "0";
  std::string s;
  while (v != 0) {
    s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  }
  return s;
}

inline std::string DecText(Dec d) {
  d = Canonical(d);
  const bool neg = d.u < 0;
  std::string digits = U128Text(neg ? static_cast<u128>(-d.u) : static_cast<u128>(d.u));
  if (d.scale <= 0) {
    if (digits != "0") digits.append(static_cast<std::size_t>(-d.scale), '0');
  } else {
    if (static_cast<int>(digits.size()) <= d.scale) {
      digits.insert(0, static_cast<std::size_t>(d.scale) - digits.size() + 1, '0');
    }
    digits.insert(digits.size() - static_cast<std::size_t>(d.scale), ".");
  }
  return (neg ? "-" : "") + digits;
}

// Number from a base-100 digit string (least significant first) at exponent e, built the
// way the format describes, with no library call. Zero digits at either end are removed.
inline a_num Build(std::vector<int> dig, bool negative, int e) {
  while (!dig.empty() && dig.back() == 0) dig.pop_back();
  std::size_t low = 0;
  while (low < dig.size() && dig[low] == 0) ++low;
  a_num n{};
  if (low == dig.size()) {
    n.len = 0;
    n.sign_exp = 0x81;
    return n;
  }
  n.len = static_cast<std::uint8_t>(dig.size() - low);
  n.sign_exp = static_cast<std::uint8_t>((negative ? 0 : 0x80) | (e + static_cast<int>(low)));
  for (std::size_t i = low; i < dig.size(); ++i) n.dig[i - low] = static_cast<std::uint8_t>(dig[i]);
  return n;
}

// "-123.45", "7", "1e-30", "12.5E3", or "overflow".
inline a_num Num(const std::string& text) {
  if (text == "overflow") {
    a_num n{};
    n.sign_exp = 0x80;
    return n;
  }
  std::size_t i = 0;
  bool negative = false;
  if (text[i] == '-' || text[i] == '+') negative = text[i++] == '-';
  std::string digits;
  int scale = 0;
  bool point = false;
  for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
    if (text[i] == '.') {
      point = true;
    } else {
      digits += text[i];
      if (point) ++scale;
    }
  }
  if (i < text.size()) scale -= std::stoi(text.substr(i + 1));
  if (scale % 2 != 0) {  // put the digits on base-100 positions
    digits += '0';
    ++scale;
  }
  if (digits.size() % 2 != 0) digits.insert(0, "0");
  std::vector<int> dig;
  for (std::size_t k = digits.size(); k >= 2; k -= 2) {
    dig.push_back((digits[k - 2] - '0') * 10 + (digits[k - 1] - '0'));
  }
  return Build(dig, negative, 64 - scale / 2);
}

inline a_num NumOf(Dec d) {
  bool negative = d.u < 0;
  u128 m = negative ? static_cast<u128>(-d.u) : static_cast<u128>(d.u);
  int scale = d.scale;
  std::vector<int> dig;
  if (scale % 2 != 0) {  // a low decimal zero puts the digits on base-100 positions
    dig.push_back(static_cast<int>(m % 10) * 10);
    m /= 10;
    ++scale;
  }
  for (; m != 0; m /= 100) dig.push_back(static_cast<int>(m % 100));
  return Build(dig, negative, 64 - scale / 2);
}

inline bool IsOverflow(const a_num& n) { return n.len == 0 && n.sign_exp == 0x80; }

// Text of a number: plain decimal, "0" or "overflow".
inline std::string Text(const a_num& n) {
  if (IsOverflow(n)) return "overflow";
  if (n.len == 0) return n.sign_exp == 0x81 ? "0" : "bad zero";
  std::string digits;
  for (int i = n.len - 1; i >= 0; --i) {
    digits += static_cast<char>('0' + n.dig[i] / 10);
    digits += static_cast<char>('0' + n.dig[i] % 10);
  }
  const int exp10 = 2 * ((n.sign_exp & 0x7F) - 64);
  if (exp10 >= 0) {
    digits.append(static_cast<std::size_t>(exp10), '0');
  } else {
    const std::size_t frac = static_cast<std::size_t>(-exp10);
    if (digits.size() <= frac) digits.insert(0, frac - digits.size() + 1, '0');
    digits.insert(digits.size() - frac, ".");
    while (digits.back() == '0') digits.pop_back();
    if (digits.back() == '.') digits.pop_back();
  }
  std::size_t lead = 0;
  while (lead + 1 < digits.size() && digits[lead] == '0' && digits[lead + 1] != '.') ++lead;
  digits.erase(0, lead);
  return ((n.sign_exp & 0x80) == 0 ? "-" : "") + digits;
}

// Value of a number whose digits fit 128 bits; false otherwise.
inline bool DecOf(const a_num& n, Dec* out) {
  if (n.len == 0) {
    *out = Dec{0, 0};
    return n.sign_exp == 0x81;
  }
  if (n.len > 19) return false;
  i128 u = 0;
  for (int i = n.len - 1; i >= 0; --i) u = u * 100 + n.dig[i];
  const int scale = 2 * (64 - (n.sign_exp & 0x7F));
  if ((n.sign_exp & 0x80) == 0) u = -u;
  *out = Canonical(Dec{u, scale});
  return true;
}

// Empty when `n` is a normal number, zero or the overflow value; else what is wrong.
inline std::string NormalFormFault(const a_num& n) {
  if (n.len == 0) {
    return n.sign_exp == 0x81 || n.sign_exp == 0x80 ? "" : "zero length with a bad sign_exp";
  }
  const int e = n.sign_exp & 0x7F;
  if (e < 1) return "exponent 0 with digits";
  if (n.dig[0] == 0) return "low zero digit";
  if (n.dig[n.len - 1] == 0) return "high zero digit";
  for (int i = 0; i < n.len; ++i) {
    if (n.dig[i] > 99) return "digit above 99";
  }
  return "";
}

// Packed decimal of precision P from a decimal digit text (most significant first, no
// sign), right-aligned; empty when the digits do not fit.
inline std::vector<std::uint8_t> PackDigits(const std::string& digits, bool negative, int P,
                                            std::uint8_t sign_nibble = 0) {
  std::string d = digits;
  while (d.size() > 1 && d[0] == '0') d.erase(0, 1);
  if (d == "0") d.clear();
  if (static_cast<int>(d.size()) > P) return {};
  d.insert(0, static_cast<std::size_t>(P) - d.size(), '0');
  // Nibbles: P digits then the sign, padded in front to whole bytes.
  std::vector<int> nibbles;
  if (P % 2 == 0) nibbles.push_back(0);
  for (char c : d) nibbles.push_back(c - '0');
  nibbles.push_back(sign_nibble != 0 ? sign_nibble : (negative ? 0xD : 0xC));
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < nibbles.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(nibbles[i] << 4 | nibbles[i + 1]));
  }
  return out;
}

}  // namespace vq::testing

#endif  // VQ_TESTS_UNIT_ODBC_DECIMAL_ORACLE_H
