// Decimal numbers in base 100: see decimal.h for the format.
//
// Intermediate digit strings are plain arrays on the stack, least significant digit first,
// sized for the longest operands (two 255-digit numbers, or a 255-digit number shifted by
// the widest exponent difference), and only the final normalisation writes the caller's
// number, so every operation may write over its own operands.
#include "odbc/decimal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr int kBias = 64;
constexpr int kMaxExp = 127;
// Room for a product of two 255-digit numbers, or for a 255-digit number shifted by 126
// positions plus a carry, or for a dividend of 510 digits plus the normalising digit.
constexpr int kRawDigits = 2 * kNumMaxDigits + 4;

int exp_of(const a_num* a) { return a->sign_exp & 0x7F; }
bool is_negative(const a_num* a) { return (a->sign_exp & 0x80) == 0; }
bool is_overflow(const a_num* a) { return a->len == 0 && exp_of(a) == 0; }
bool is_zero(const a_num* a) { return a->len == 0 && exp_of(a) != 0; }

void set_zero(a_num* out) {
  out->len = 0;
  out->sign_exp = kNumZeroSignExp;
}

void set_overflow(a_num* out) {
  out->len = 0;
  out->sign_exp = kNumOverflowSignExp;
}

int clamp_budget(int maxd) {
  if (maxd < 1) return 1;
  if (maxd > kNumMaxDigits) return kNumMaxDigits;
  return maxd;
}

int budget_of_precision(int p) { return clamp_budget(p / 2 + 1); }

// Floor of x / 2 for either sign (scales may be negative).
int half_floor(int x) { return x >= 0 ? x / 2 : -((1 - x) / 2); }

// Normal form of `n` raw digits (least significant first) at exponent `e`. `dig` may point
// into `out`.
void normalize_raw(a_num* out, const std::uint8_t* dig, int n, bool negative, int e,
                   int maxd) {
  maxd = clamp_budget(maxd);
  while (n > 0 && dig[n - 1] == 0) --n;
  if (n > maxd) {
    const int drop = n - maxd;
    dig += drop;
    e += drop;
    n = maxd;
  }
  // Digits below the smallest exponent cannot be held; dropping them truncates toward
  // zero like the budget does, rather than losing the whole number.
  if (e < 1 && n > 0) {
    const int drop = 1 - e;
    if (drop >= n) {
      n = 0;
    } else {
      dig += drop;
      n -= drop;
      e = 1;
    }
  }
  while (n > 0 && dig[0] == 0) {
    ++dig;
    ++e;
    --n;
  }
  if (n == 0) {
    set_zero(out);
    return;
  }
  if (e > kMaxExp) {
    set_overflow(out);
    return;
  }
  std::memmove(out->dig, dig, static_cast<std::size_t>(n));
  out->len = static_cast<std::uint8_t>(n);
  out->sign_exp = static_cast<std::uint8_t>((negative ? 0x00 : 0x80) | e);
}

void copy_num(a_num* out, const a_num* in) {
  if (out != in) std::memmove(out, in, static_cast<std::size_t>(in->len) + 2);
}

// Unsigned magnitudes as base-100 digits at exponent 64.
void magnitude_to_num(unsigned __int128 v, bool negative, a_num* out, int maxd) {
  std::uint8_t raw[20];
  int n = 0;
  while (v != 0) {
    raw[n++] = static_cast<std::uint8_t>(v % 100);
    v /= 100;
  }
  normalize_raw(out, raw, n, negative, kBias, maxd);
}

// The integer part of a normal number as an unsigned 128-bit magnitude, when it has at most
// `max_positions` base-100 positions above the units (at most 19, which 128 bits hold).
// False for more positions.
bool integer_magnitude(const a_num* a, int max_positions, unsigned __int128* out) {
  const int e = exp_of(a);
  const int top = e + a->len - kBias;  // positions above the units
  if (top > max_positions) return false;
  unsigned __int128 v = 0;
  for (int i = a->len - 1; i >= 0 && i + e - kBias >= 0; --i) v = v * 100 + a->dig[i];
  for (int k = kBias; k < e; ++k) v *= 100;
  *out = v;
  return true;
}

// Magnitude comparison of two normal non-zero numbers: below 0, 0, above 0.
int compare_magnitude(const a_num* a, const a_num* b) {
  const int top_a = exp_of(a) + a->len;
  const int top_b = exp_of(b) + b->len;
  if (top_a != top_b) return top_a - top_b;
  int i = a->len - 1;
  int j = b->len - 1;
  for (; i >= 0 && j >= 0; --i, --j) {
    if (a->dig[i] != b->dig[j]) return a->dig[i] - b->dig[j];
  }
  if (i >= 0) return 1;
  if (j >= 0) return -1;
  return 0;
}

// The integer bounds of the number format, built once.
struct IntegerBounds {
  a_num i32_min, i32_max, u32_max, i64_min, i64_max, u64_max;
  IntegerBounds() {
    ltonum(std::numeric_limits<std::int32_t>::min(), &i32_min, kNumMaxDigits);
    ltonum(std::numeric_limits<std::int32_t>::max(), &i32_max, kNumMaxDigits);
    ultonum(std::numeric_limits<std::uint32_t>::max(), &u32_max, kNumMaxDigits);
    lltonum(std::numeric_limits<std::int64_t>::min(), &i64_min, kNumMaxDigits);
    lltonum(std::numeric_limits<std::int64_t>::max(), &i64_max, kNumMaxDigits);
    ulltonum(std::numeric_limits<std::uint64_t>::max(), &u64_max, kNumMaxDigits);
  }
};

const IntegerBounds& bounds() {
  static const IntegerBounds b;
  return b;
}

// Shared body of the numis* tests: `positions` base-100 positions always fit.
int fits_integer(const a_num* a, int positions, bool is_unsigned, const a_num* lo,
                 const a_num* hi) {
  if (is_overflow(a)) return 0;
  if (is_zero(a)) return 1;
  if (is_unsigned && is_negative(a)) return 0;
  if (exp_of(a) < kBias) return 0;
  if (exp_of(a) + a->len - kBias < positions) return 1;
  if (lo != nullptr && cmpnum(a, lo) < 0) return 0;
  return cmpnum(a, hi) <= 0 ? 1 : 0;
}

// Base-100 long division of u (m + n digits) by v (n >= 2 digits, top digit non-zero);
// q receives m + 1 digits. u is overwritten. Knuth's Algorithm D.
void long_divide(std::uint8_t* u, int un, const std::uint8_t* v_in, int n, std::uint8_t* q) {
  std::uint8_t v[kNumMaxDigits + 1];
  std::memcpy(v, v_in, static_cast<std::size_t>(n));
  const int m = un - n;
  u[un] = 0;
  const int f = 100 / (v[n - 1] + 1);
  if (f > 1) {
    int carry = 0;
    for (int i = 0; i < n; ++i) {
      const int x = v[i] * f + carry;
      v[i] = static_cast<std::uint8_t>(x % 100);
      carry = x / 100;
    }
    carry = 0;
    for (int i = 0; i <= un; ++i) {
      const int x = u[i] * f + carry;
      u[i] = static_cast<std::uint8_t>(x % 100);
      carry = x / 100;
    }
  }
  for (int j = m; j >= 0; --j) {
    const int top = u[j + n] * 100 + u[j + n - 1];
    int qhat = top / v[n - 1];
    int rhat = top % v[n - 1];
    while (qhat >= 100 || qhat * v[n - 2] > rhat * 100 + u[j + n - 2]) {
      --qhat;
      rhat += v[n - 1];
      if (rhat >= 100) break;
    }
    int borrow = 0;
    int carry = 0;
    for (int i = 0; i < n; ++i) {
      const int p = qhat * v[i] + carry;
      carry = p / 100;
      int d = u[i + j] - p % 100 - borrow;
      borrow = d < 0 ? 1 : 0;
      if (d < 0) d += 100;
      u[i + j] = static_cast<std::uint8_t>(d);
    }
    int d = u[j + n] - carry - borrow;
    if (d < 0) {
      // qhat was one too large: add the divisor back.
      u[j + n] = static_cast<std::uint8_t>(d + 100);
      --qhat;
      int c = 0;
      for (int i = 0; i < n; ++i) {
        const int s = u[i + j] + v[i] + c;
        u[i + j] = static_cast<std::uint8_t>(s % 100);
        c = s / 100;
      }
      u[j + n] = static_cast<std::uint8_t>((u[j + n] + c) % 100);
    } else {
      u[j + n] = static_cast<std::uint8_t>(d);
    }
    q[j] = static_cast<std::uint8_t>(qhat);
  }
}

// Decimal digit of `a` with weight 10^w (0 where a has none).
int decimal_digit(const a_num* a, int w) {
  const int pos = half_floor(w);
  const int i = pos - (exp_of(a) - kBias);
  if (i < 0 || i >= a->len) return 0;
  return (w - 2 * pos) == 0 ? a->dig[i] % 10 : a->dig[i] / 10;
}

}  // namespace

extern "C" {

void do_normalize(a_num* out, const a_num* in, int e, int maxd) {
  normalize_raw(out, in->dig, in->len, is_negative(in), e, maxd);
}

void _do_normalize(a_num* out, const a_num* in, int e, int p) {
  do_normalize(out, in, e, budget_of_precision(p));
}

void absnum(a_num* out, const a_num* in) {
  copy_num(out, in);
  out->sign_exp = static_cast<std::uint8_t>(in->sign_exp | 0x80);
}

void negnum(a_num* out, const a_num* in) {
  copy_num(out, in);
  if (in->len != 0) out->sign_exp = static_cast<std::uint8_t>(in->sign_exp ^ 0x80);
}

int cmpnum(const a_num* a, const a_num* b) {
  if (is_zero(a)) {
    if (is_zero(b)) return 0;
    return is_negative(b) ? 1 : -1;
  }
  if (is_zero(b)) return is_negative(a) ? -1 : 1;
  if (is_overflow(a) || is_overflow(b)) return 0;
  const bool neg_a = is_negative(a);
  if (neg_a != is_negative(b)) return neg_a ? -1 : 1;
  return neg_a ? compare_magnitude(b, a) : compare_magnitude(a, b);
}

std::int32_t numtol(const a_num* a) {
  if (a->len == 0) return 0;
  unsigned __int128 m = 0;
  if (!integer_magnitude(a, 5, &m)) return 0;
  if (is_negative(a)) {
    if (m > static_cast<unsigned __int128>(1) << 31) return 0;
    return static_cast<std::int32_t>(-static_cast<std::int64_t>(m));
  }
  if (m > static_cast<unsigned __int128>(std::numeric_limits<std::int32_t>::max())) return 0;
  return static_cast<std::int32_t>(m);
}

std::int64_t numtoll(const a_num* a) {
  if (a->len == 0) return 0;
  unsigned __int128 m = 0;
  if (!integer_magnitude(a, 10, &m)) return 0;
  if (is_negative(a)) {
    const unsigned __int128 limit = static_cast<unsigned __int128>(1) << 63;
    if (m > limit) return 0;
    if (m == limit) return std::numeric_limits<std::int64_t>::min();
    return -static_cast<std::int64_t>(m);
  }
  if (m > static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max())) return 0;
  return static_cast<std::int64_t>(m);
}

int numisl(const a_num* a) {
  return fits_integer(a, 5, false, &bounds().i32_min, &bounds().i32_max);
}
int numisul(const a_num* a) { return fits_integer(a, 5, true, nullptr, &bounds().u32_max); }
int numisll(const a_num* a) {
  return fits_integer(a, 10, false, &bounds().i64_min, &bounds().i64_max);
}
int numisull(const a_num* a) { return fits_integer(a, 10, true, nullptr, &bounds().u64_max); }

void ultonum(std::uint32_t v, a_num* out, int maxd) { magnitude_to_num(v, false, out, maxd); }
void ulltonum(std::uint64_t v, a_num* out, int maxd) { magnitude_to_num(v, false, out, maxd); }

void ltonum(std::int32_t v, a_num* out, int maxd) {
  const std::uint32_t mag = v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
  magnitude_to_num(mag, v < 0, out, maxd);
}

void lltonum(std::int64_t v, a_num* out, int maxd) {
  const std::uint64_t mag = v < 0 ? 0u - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  magnitude_to_num(mag, v < 0, out, maxd);
}

void _ultonum(std::uint32_t v, a_num* out, int p) { ultonum(v, out, budget_of_precision(p)); }
void _ltonum(std::int32_t v, a_num* out, int p) { ltonum(v, out, budget_of_precision(p)); }
void _lltonum(std::int64_t v, a_num* out, int p) { lltonum(v, out, budget_of_precision(p)); }

void add_num(a_num* out, const a_num* a, const a_num* b, int maxd) {
  if (is_overflow(a) || is_overflow(b)) {
    set_overflow(out);
    return;
  }
  maxd = clamp_budget(maxd);
  const a_num* big = exp_of(a) >= exp_of(b) ? a : b;  // the larger exponent; a on a tie
  const a_num* small = big == a ? b : a;
  const int d = exp_of(big) - exp_of(small);
  if (small->len + maxd <= big->len + d) {
    // The other operand lies wholly below the digits the budget keeps.
    normalize_raw(out, big->dig, big->len, is_negative(big), exp_of(big), maxd);
    return;
  }
  // Both digit strings at the smaller exponent: x is the shifted larger-exponent operand.
  std::uint8_t x[kRawDigits];
  const int xn = d + big->len;
  std::memset(x, 0, static_cast<std::size_t>(d));
  std::memcpy(x + d, big->dig, big->len);
  const std::uint8_t* y = small->dig;
  const int yn = small->len;
  std::uint8_t r[kRawDigits];
  int rn = 0;
  bool negative = is_negative(big);
  if (is_negative(big) == is_negative(small) || is_zero(small) || is_zero(big)) {
    if (is_zero(big)) negative = is_negative(small);
    const int n = xn > yn ? xn : yn;
    int carry = 0;
    for (int i = 0; i < n; ++i) {
      const int s = (i < xn ? x[i] : 0) + (i < yn ? y[i] : 0) + carry;
      carry = s >= 100 ? 1 : 0;
      r[i] = static_cast<std::uint8_t>(s - 100 * carry);
    }
    rn = n;
    if (carry != 0) r[rn++] = 1;
  } else {
    // Different signs: subtract the smaller magnitude from the larger. Neither string has
    // a zero top digit, so the longer one is larger.
    int order = xn - yn;
    for (int i = xn - 1; order == 0 && i >= 0; --i) order = x[i] - y[i];
    if (order == 0) {
      set_zero(out);
      return;
    }
    const std::uint8_t* hi = order > 0 ? x : y;
    const std::uint8_t* lo = order > 0 ? y : x;
    const int hn = order > 0 ? xn : yn;
    const int ln = order > 0 ? yn : xn;
    negative = order > 0 ? is_negative(big) : is_negative(small);
    int borrow = 0;
    for (int i = 0; i < hn; ++i) {
      int s = hi[i] - (i < ln ? lo[i] : 0) - borrow;
      borrow = s < 0 ? 1 : 0;
      r[i] = static_cast<std::uint8_t>(s + 100 * borrow);
    }
    rn = hn;
  }
  normalize_raw(out, r, rn, negative, exp_of(small), maxd);
}

void sub_num(a_num* out, const a_num* a, const a_num* b, int maxd) {
  if (is_overflow(a) || is_overflow(b)) {
    set_overflow(out);
    return;
  }
  if (a == b) {
    set_zero(out);
    return;
  }
  a_num nb;
  negnum(&nb, b);
  add_num(out, a, &nb, maxd);
}

void mul_num(a_num* out, const a_num* a, const a_num* b, int maxd) {
  if (is_overflow(a) || is_overflow(b)) {
    set_overflow(out);
    return;
  }
  const int n = a->len + b->len;
  int acc[kRawDigits];
  std::memset(acc, 0, sizeof(int) * static_cast<std::size_t>(n + 1));
  for (int i = 0; i < a->len; ++i) {
    for (int j = 0; j < b->len; ++j) {
      const int s = acc[i + j] + a->dig[i] * b->dig[j];
      acc[i + j] = s % 100;
      acc[i + j + 1] += s / 100;
    }
  }
  std::uint8_t r[kRawDigits];
  int carry = 0;
  for (int i = 0; i < n; ++i) {
    const int s = acc[i] + carry;
    r[i] = static_cast<std::uint8_t>(s % 100);
    carry = s / 100;
  }
  const bool negative = is_negative(a) != is_negative(b);
  normalize_raw(out, r, n, negative, exp_of(a) + exp_of(b) - kBias, maxd);
}

void div_num(a_num* out, const a_num* a, const a_num* b, int maxd) {
  if (is_overflow(a) || is_overflow(b) || is_zero(b)) {
    set_overflow(out);
    return;
  }
  maxd = clamp_budget(maxd);
  if (is_zero(a)) {
    set_zero(out);
    return;
  }
  // k zero digits below a give the quotient maxd + 1 digits; the dividend's exponent stays
  // at 1 or above. A negative k drops low digits of a, which cannot change the truncated
  // quotient at the position it then has.
  int k = b->len + maxd - a->len;
  if (k > exp_of(a) - 1) k = exp_of(a) - 1;
  std::uint8_t u[kRawDigits + 1];
  int un = 0;
  if (k >= 0) {
    std::memset(u, 0, static_cast<std::size_t>(k));
    std::memcpy(u + k, a->dig, a->len);
    un = a->len + k;
  } else {
    un = a->len + k;
    if (un > 0) std::memcpy(u, a->dig - k, static_cast<std::size_t>(un));
  }
  const bool negative = is_negative(a) != is_negative(b);
  const int qe = exp_of(a) - k - exp_of(b) + kBias;
  std::uint8_t q[kRawDigits];
  int qn = 0;
  if (un < b->len) {
    qn = 0;  // the dividend is below the divisor
  } else if (b->len == 1) {
    int rem = 0;
    const int dv = b->dig[0];
    for (int i = un - 1; i >= 0; --i) {
      const int cur = rem * 100 + u[i];
      q[i] = static_cast<std::uint8_t>(cur / dv);
      rem = cur % dv;
    }
    qn = un;
  } else {
    long_divide(u, un, b->dig, b->len, q);
    qn = un - b->len + 1;
  }
  normalize_raw(out, q, qn, negative, qe, maxd);
}

void _add_num(a_num* out, const a_num* a, const a_num* b, int p) {
  add_num(out, a, b, budget_of_precision(p));
}
void _sub_num(a_num* out, const a_num* a, const a_num* b, int p) {
  sub_num(out, a, b, budget_of_precision(p));
}
void _mul_num(a_num* out, const a_num* a, const a_num* b, int p) {
  mul_num(out, a, b, budget_of_precision(p));
}
void _div_num(a_num* out, const a_num* a, const a_num* b, int p) {
  div_num(out, a, b, budget_of_precision(p));
}

void chop_num(a_num* a, int P, int S, int maxd) {
  if (a->len == 0) return;
  const int e = exp_of(a);
  // Positions allowed above the units; halving the 32-bit unsigned value makes a negative
  // P - S + 1 allow any number.
  const std::uint32_t q = static_cast<std::uint32_t>(P - S + 1) / 2;
  const long long t = e + a->len - kBias;
  if (t > static_cast<long long>(q)) {
    set_overflow(a);
    return;
  }
  if (t == static_cast<long long>(q) && ((P - S) & 1) != 0 && a->dig[a->len - 1] > 9) {
    set_overflow(a);  // the top position holds one decimal digit only
    return;
  }
  // Low digits that lie below the S-th decimal place.
  const int c = kBias - (e + half_floor(S + 1));
  if (a->len <= c) {
    set_zero(a);
    return;
  }
  if (c < 0) return;
  if ((S & 1) != 0) a->dig[c] = static_cast<std::uint8_t>(a->dig[c] - a->dig[c] % 10);
  for (int i = 0; i < c; ++i) a->dig[i] = 0;
  normalize_raw(a, a->dig, a->len, is_negative(a), e, maxd);
}

void _chop_num(a_num* a, int P, int S, int p) { chop_num(a, P, S, budget_of_precision(p)); }

void round_num(a_num* a, int P, int S, int maxd) {
  if (a->len == 0) return;
  a_num h;
  h.len = 1;
  h.dig[0] = (S & 1) != 0 ? 5 : 50;
  const int he = kBias - half_floor(S + 2);
  const int shift = he - exp_of(a);
  if (he >= 1 && he <= kMaxExp && shift >= 0 && shift < a->len) {
    h.sign_exp = static_cast<std::uint8_t>((a->sign_exp & 0x80) | he);
    add_num(a, a, &h, maxd);
  }
  chop_num(a, P, S, maxd);
}

void _round_num(a_num* a, int P, int S, int p) { round_num(a, P, S, budget_of_precision(p)); }

int pack_to_num(const std::uint8_t* packed, int P, int S, a_num* out, int maxd) {
  if (P < 0 || P > kPackedMaxPrecision) {
    set_overflow(out);
    return 0;
  }
  const int last = P / 2;
  const int sign = packed[last] & 0x0F;
  if (sign != 0x0C && sign != 0x0D && sign != 0x0F) {
    set_overflow(out);
    return 0;
  }
  // Decimal digits, least significant first; an odd scale puts a zero below them so that
  // the pairs fall on base-100 positions.
  std::uint8_t dec[kPackedMaxPrecision + 2];
  int n = 0;
  if ((S & 1) != 0) dec[n++] = 0;
  for (int k = 0; k < P; ++k) {
    const int nibble = (2 * last + 1) - 1 - k;  // nibble index counted from the first byte
    const std::uint8_t byte = packed[nibble / 2];
    const int digit = (nibble & 1) != 0 ? byte & 0x0F : byte >> 4;
    if (digit > 9) {
      set_overflow(out);
      return 0;
    }
    dec[n++] = static_cast<std::uint8_t>(digit);
  }
  std::uint8_t raw[kPackedMaxPrecision / 2 + 2];
  int rn = 0;
  for (int i = 0; i < n; i += 2) {
    raw[rn++] = static_cast<std::uint8_t>(dec[i] + (i + 1 < n ? 10 * dec[i + 1] : 0));
  }
  // A scale beyond the format's range in either direction would lose digits or the whole
  // value: such a packed decimal does not fit and reads as the overflow value.
  const int e = kBias - half_floor(S + 1);
  int low = 0;
  while (low < rn && raw[low] == 0) ++low;
  if (low < rn && (e + low < 1 || e + low > kMaxExp)) {
    set_overflow(out);
    return 0;
  }
  normalize_raw(out, raw, rn, sign == 0x0D, e, maxd);
  return 1;
}

int _pack_to_num(const std::uint8_t* packed, int P, int S, a_num* out, int p) {
  return pack_to_num(packed, P, S, out, budget_of_precision(p));
}

int numtopack(const a_num* a, std::uint8_t* packed, int P, int S) {
  if (P < 0 || P > kPackedMaxPrecision) return 0;
  const int bytes = PackedBytes(P);
  std::memset(packed, 0, static_cast<std::size_t>(bytes));
  const bool negative = a->len != 0 && is_negative(a);
  packed[bytes - 1] = negative ? 0x0D : 0x0C;
  if (is_overflow(a)) return 0;
  if (a->len == 0) return 1;
  for (int k = 0; k < P; ++k) {
    const int digit = decimal_digit(a, k - S);
    const int nibble = 2 * bytes - 2 - k;
    if (nibble & 1) {
      packed[nibble / 2] = static_cast<std::uint8_t>(packed[nibble / 2] | digit);
    } else {
      packed[nibble / 2] = static_cast<std::uint8_t>(packed[nibble / 2] | (digit << 4));
    }
  }
  // It fits when no digit of a sits at 10^(P - S) or above.
  const int e = exp_of(a);
  const int top_weight = 2 * (e + a->len - kBias) - 1;  // weight of a's highest decimal place
  for (int w = P - S; w <= top_weight; ++w) {
    if (decimal_digit(a, w) != 0) return 0;
  }
  return 1;
}

double numtod(const a_num* a) {
  if (is_overflow(a)) {
    const std::uint64_t bits = 0x7FFFFFFFFFFFFFFFull;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  if (a->len == 0) return 0.0;
  // The digits as an integer and a decimal exponent; strtod rounds that text correctly
  // and reads no decimal point, so the locale cannot change it.
  char text[2 * kNumMaxDigits + 16];
  int n = 0;
  if (is_negative(a)) text[n++] = '-';
  for (int i = a->len - 1; i >= 0; --i) {
    text[n++] = static_cast<char>('0' + a->dig[i] / 10);
    text[n++] = static_cast<char>('0' + a->dig[i] % 10);
  }
  std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "e%d",
                2 * (exp_of(a) - kBias));
  return std::strtod(text, nullptr);
}

void dtonum(double d, a_num* out, int maxd) {
  if (std::isnan(d) || std::isinf(d)) {
    set_overflow(out);
    return;
  }
  if (d == 0.0) {
    set_zero(out);
    return;
  }
  // The shortest of 1 to 17 significant digits that reads back as d.
  char text[64];
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*e", digits - 1, d);
    if (std::strtod(text, nullptr) == d) break;
  }
  // text is [-]d[.ddd]e[+-]x; the point may be any locale's, so only digits are taken.
  std::uint8_t dec[20];
  int n = 0;
  const char* p = text;
  const bool negative = *p == '-';
  for (; *p != '\0' && *p != 'e' && *p != 'E'; ++p) {
    if (*p >= '0' && *p <= '9') dec[n++] = static_cast<std::uint8_t>(*p - '0');
  }
  const int exp10 = (*p != '\0' ? std::atoi(p + 1) : 0) - (n - 1);  // weight of dec[n - 1]
  // Digits least significant first, with a zero below them when the weight is odd.
  std::uint8_t low_first[22];
  int m = 0;
  if (exp10 & 1) low_first[m++] = 0;
  for (int i = n - 1; i >= 0; --i) low_first[m++] = dec[i];
  std::uint8_t raw[12];
  int rn = 0;
  for (int i = 0; i < m; i += 2) {
    raw[rn++] = static_cast<std::uint8_t>(low_first[i] + (i + 1 < m ? 10 * low_first[i + 1] : 0));
  }
  normalize_raw(out, raw, rn, negative, kBias + half_floor(exp10), maxd);
}

void _dtonum(double d, a_num* out, int p) { dtonum(d, out, budget_of_precision(p)); }

}  // extern "C"
