// Number parsing and printing in bases 2 to 36, and the compact formatter gfmt.
#include "utils/base/number_conversion.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <type_traits>

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;  // above every base
}

template <typename U>
U ParseUnsigned(const char* s, char** end, int base) {
  if (s == nullptr) {
    errno = EINVAL;
    if (end != nullptr) *end = nullptr;
    return 0;
  }
  const char* p = s;
  if (base == 0) {
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
      base = 16;
      p += 2;
    } else if (p[0] == '0') {
      base = 8;
      p += 1;
    } else {
      base = 10;
    }
  } else if (base < 2 || base > 36) {
    errno = EINVAL;
    if (end != nullptr) *end = const_cast<char*>(s);
    return 0;
  }
  const U ubase = static_cast<U>(base);
  const U limit = std::numeric_limits<U>::max();
  U value = 0;
  for (;; ++p) {
    const int digit = DigitValue(*p);
    if (digit >= base) break;
    const U d = static_cast<U>(digit);
    if (value > (limit - d) / ubase) {
      errno = ERANGE;
      value = limit;
      break;  // `end` stays at the digit that overflowed
    }
    value = value * ubase + d;
  }
  if (end != nullptr) *end = const_cast<char*>(p);
  return value;
}

template <typename U>
U ParseUnsignedPlus(const char* s, char** end, int base) {
  if (s != nullptr && *s == '+') ++s;
  return ParseUnsigned<U>(s, end, base);
}

template <typename S>
S ParseSigned(const char* s, char** end, int base) {
  using U = std::make_unsigned_t<S>;
  constexpr U kMaxPositive = static_cast<U>(std::numeric_limits<S>::max());
  if (s != nullptr && *s == '-') {
    const U magnitude = ParseUnsigned<U>(s + 1, end, base);
    if (magnitude > kMaxPositive + 1) {
      errno = ERANGE;
      return std::numeric_limits<S>::min();
    }
    // Two's complement negation of the magnitude; 2^(N-1) becomes the minimum itself.
    return static_cast<S>(U{0} - magnitude);
  }
  const U value = ParseUnsignedPlus<U>(s, end, base);
  if (value > kMaxPositive) {
    errno = ERANGE;
    return std::numeric_limits<S>::max();
  }
  return static_cast<S>(value);
}

template <typename U>
char* FormatUnsigned(U value, char* buf, int base) {
  if (base < 2 || base > 36) {
    buf[0] = '\0';
    return buf;
  }
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  char reversed[sizeof(U) * 8];
  std::size_t n = 0;
  do {
    reversed[n++] = kDigits[value % static_cast<U>(base)];
    value /= static_cast<U>(base);
  } while (value != 0);
  for (std::size_t i = 0; i < n; ++i) buf[i] = reversed[n - 1 - i];
  buf[n] = '\0';
  return buf;
}

template <typename S>
char* FormatSigned(S value, char* buf, int base) {
  using U = std::make_unsigned_t<S>;
  if (base == 10 && value < 0) {
    buf[0] = '-';
    FormatUnsigned<U>(U{0} - static_cast<U>(value), buf + 1, base);
    return buf;
  }
  return FormatUnsigned<U>(static_cast<U>(value), buf, base);
}

// ---- gfmt -------------------------------------------------------------------------------

constexpr double kE9 = 1e9;
constexpr double kE8 = 1e8;
constexpr double kE17 = 1e17;

int DecimalLength(int value) {
  int len = value < 0 ? 2 : 1;
  for (int v = value < 0 ? -value : value; v >= 10; v /= 10) ++len;
  return len;
}

// Digits fixed notation can show of `nd` significant digits with `e` digits before the
// point, in `width` characters. The place for "." is only taken when a digit follows it:
// an integer that fills the width exactly is shown whole.
int FixedDigits(int nd, int e, int width) {
  if (e > 0) {
    if (e > width) return 0;
    const int most = e > width - 1 ? e : width - 1;
    return nd < most ? nd : most;
  }
  const int most = width - 1 + e;  // "." and -e zeros come first
  if (most <= 0) return 0;
  return nd < most ? nd : most;
}

int ExponentDigits(int nd, int e, int width) {
  const int most = width - 2 - DecimalLength(e - 1);  // "." and "E" and the exponent
  if (most <= 0) return 0;
  return nd < most ? nd : most;
}

// Rounds `digits` half up to its first `keep` digits. A carry out of the first digit turns
// the text into "1" and raises `e`; the caller lays it out again then.
bool RoundAt(char* digits, int nd, int keep, int* e) {
  if (keep >= nd || digits[keep] < '5') return false;
  for (int i = keep - 1; i >= 0; --i) {
    if (digits[i] != '9') {
      ++digits[i];
      return false;
    }
    digits[i] = '0';
  }
  digits[0] = '1';
  *e += 1;
  return true;
}

int FormatMagnitude(double v, char* buf, std::size_t size) {
  if (v != v || v == v / kE9) return 0;  // NaN or infinite
  const int width = size > (1u << 20) ? (1 << 20) : static_cast<int>(size);

  // Scale into [1e8, 1e9): value = v * 10^(e - 9), e = digits before the point.
  int e = 9;
  while (v < 1) {
    v = flush_value_from_fpu(v * kE9);
    e -= 9;
  }
  while (v > kE17) {
    v = flush_value_from_fpu(v / kE9);
    e += 9;
  }
  while (v >= kE9) {
    v = flush_value_from_fpu(v / 10);
    e += 1;
  }
  while (v < kE8) {
    v = flush_value_from_fpu(v * 10);
    e -= 1;
  }

  std::uint64_t m = static_cast<std::uint64_t>(v);
  std::uint64_t f = static_cast<std::uint64_t>(
      flush_value_from_fpu((v - static_cast<double>(m)) * kE9) + 0.5);
  if (f >= 1000000000u) {
    f -= 1000000000u;
    m += 1;
  }
  if (m >= 1000000000u) {
    m = 100000000u;
    f = 0;
    e += 1;
  }
  char digits[18];  // m and f as nine digits each
  for (int i = 8; i >= 0; --i, m /= 10) digits[i] = static_cast<char>('0' + m % 10);
  for (int i = 17; i >= 9; --i, f /= 10) digits[i] = static_cast<char>('0' + f % 10);
  int nd = 18;
  while (nd > 1 && digits[nd - 1] == '0') --nd;

  for (;;) {
    const int fixed = FixedDigits(nd, e, width);
    const int expo = ExponentDigits(nd, e, width);
    const bool use_exponent = fixed < expo;
    const int keep = use_exponent ? expo : fixed;
    if (keep == 0) return 0;
    if (RoundAt(digits, nd, keep, &e)) {
      nd = 1;  // "1" and a larger e: lay out again, the exponent may have grown
      continue;
    }
    int n = 0;
    if (use_exponent) {
      buf[n++] = digits[0];
      buf[n++] = '.';
      for (int i = 1; i < keep; ++i) buf[n++] = digits[i];
      buf[n++] = 'E';
      char exponent[16];
      const int len = std::snprintf(exponent, sizeof exponent, "%d", e - 1);
      std::memcpy(buf + n, exponent, static_cast<std::size_t>(len));
      return n + len;
    }
    if (e <= 0) {
      buf[n++] = '.';
      for (int i = 0; i < -e; ++i) buf[n++] = '0';
      for (int i = 0; i < keep; ++i) buf[n++] = digits[i];
      return n;
    }
    for (int i = 0; i < keep; ++i) {
      if (i == e) buf[n++] = '.';
      buf[n++] = digits[i];
    }
    for (int i = keep; i < e; ++i) buf[n++] = '0';
    return n;
  }
}

}  // namespace

extern "C" {

std::uint32_t do_strtou32(const char* s, char** end, int base) {
  return ParseUnsigned<std::uint32_t>(s, end, base);
}
std::uint64_t do_strtou64(const char* s, char** end, int base) {
  return ParseUnsigned<std::uint64_t>(s, end, base);
}
std::uint32_t strtou32(const char* s, char** end, int base) {
  return ParseUnsignedPlus<std::uint32_t>(s, end, base);
}
std::uint64_t strtou64(const char* s, char** end, int base) {
  return ParseUnsignedPlus<std::uint64_t>(s, end, base);
}
std::int32_t strtoi32(const char* s, char** end, int base) {
  return ParseSigned<std::int32_t>(s, end, base);
}
std::int64_t strtoi64(const char* s, char** end, int base) {
  return ParseSigned<std::int64_t>(s, end, base);
}

char* u32toa(std::uint32_t value, char* buf, int base) {
  return FormatUnsigned(value, buf, base);
}
char* u64toa(std::uint64_t value, char* buf, int base) {
  return FormatUnsigned(value, buf, base);
}
char* i32toa(std::int32_t value, char* buf, int base) { return FormatSigned(value, buf, base); }
char* i64toa(std::int64_t value, char* buf, int base) { return FormatSigned(value, buf, base); }

double flush_value_from_fpu(double value) {
  volatile double stored = value;
  return stored;
}

int gfmt(double value, char* buf, std::size_t size) {
  if (size == 0) return 0;
  if (value == 0) {
    buf[0] = '0';
    return 1;
  }
  if (value < 0) {
    if (size == 1) return 0;
    const int n = FormatMagnitude(-value, buf + 1, size - 1);
    if (n == 0) return 0;  // a lone "-" is no number
    buf[0] = '-';
    return n + 1;
  }
  return FormatMagnitude(value, buf, size);
}

}  // extern "C"
