// UTF-16 text helpers. Numbers are accumulated in unsigned arithmetic so that the
// documented wrap-around is defined behaviour.
#include "jdbcodbc/c/odbcw.h"

#include <algorithm>

namespace {

bool IsDigit(unsigned unit) { return unit >= '0' && unit <= '9'; }

// Adds one decimal digit to `value` unless the result would pass `limit`.
template <class U>
bool AddDigit(U* value, unsigned digit, U limit) {
  if (*value > (limit - digit) / 10u) return false;
  *value = *value * 10u + digit;
  return true;
}

template <class Unit>
bool TextToI64(const Unit* text, std::int64_t* out, bool* overflow) {
  if (overflow != nullptr) *overflow = false;
  if (text == nullptr || text[0] == 0) return false;
  const Unit* p = text;
  bool negative = false;
  if (*p == '-' || *p == '+') {
    negative = *p == '-';
    ++p;
  }
  // The magnitude may reach 2^63 only for a negative number.
  const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
  std::uint64_t value = 0;
  bool beyond = false;
  for (; *p != 0 && *p != '.'; ++p) {
    const unsigned unit = static_cast<unsigned>(*p);
    if (!IsDigit(unit)) return false;
    if (!beyond && !AddDigit(&value, unit - '0', limit)) beyond = true;
  }
  if (beyond) {
    if (overflow != nullptr) *overflow = true;
    return false;
  }
  if (negative) value = 0u - value;
  *out = static_cast<std::int64_t>(value);
  return true;
}

unsigned FoldCase(SQLWCHAR unit) {
  return (unit >= 'A' && unit <= 'Z') ? unit + ('a' - 'A') : unit;
}

}  // namespace

int ODBCW_wcslen(const SQLWCHAR* text) {
  if (text == nullptr) return 0;
  int n = 0;
  while (text[n] != 0) ++n;
  return n;
}

bool ODBCW_SQLWCHAR_TO_I64(const SQLWCHAR* text, std::int64_t* out, bool* overflow) {
  return TextToI64(text, out, overflow);
}

bool ODBCW_SQLCHAR_TO_I64(const SQLCHAR* text, std::int64_t* out, bool* overflow) {
  return TextToI64(text, out, overflow);
}

std::int32_t ODBCW_SQLWCHAR_TO_LONG(const SQLWCHAR* text, const SQLWCHAR** end,
                                    bool* overflow) {
  const SQLWCHAR* p = text;
  std::uint32_t value = 0;
  bool negative = false;
  bool beyond = false;
  if (p != nullptr) {
    if (*p == '-' || *p == '+') {
      negative = *p == '-';
      ++p;
    }
    const std::uint32_t limit = negative ? std::uint32_t{1} << 31 : (std::uint32_t{1} << 31) - 1;
    for (; IsDigit(*p); ++p) {
      const unsigned digit = static_cast<unsigned>(*p - '0');
      if (!beyond && value > (limit - digit) / 10u) beyond = true;
      value = value * 10u + digit;
    }
  }
  if (end != nullptr) *end = p;
  if (overflow != nullptr) *overflow = beyond;
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

double ODBCW_SQLWCHAR_TO_DOUBLE(const SQLWCHAR* text, const SQLWCHAR** end) {
  const SQLWCHAR* p = text;
  double whole = 0.0;
  double numerator = 0.0;
  double divisor = 1.0;
  bool negative = false;
  if (p != nullptr) {
    if (*p == '-' || *p == '+') {
      negative = *p == '-';
      ++p;
    }
    for (; IsDigit(*p); ++p) whole = whole * 10.0 + (*p - '0');
    if (*p == '.') {
      for (++p; IsDigit(*p); ++p) {
        numerator = numerator * 10.0 + (*p - '0');
        divisor *= 10.0;
      }
    }
  }
  if (end != nullptr) *end = p;
  const double value = whole + numerator / divisor;
  return negative ? -value : value;
}

int ODBCW_wcsnicmp(const SQLWCHAR* a, const SQLWCHAR* b, int n) {
  for (int i = 0; i < n; ++i) {
    const unsigned x = FoldCase(a[i]);
    const unsigned y = FoldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
  return 0;
}

int compareStringNIW(const SQLWCHAR* a, int alen, const SQLWCHAR* b, int blen) {
  const int common = std::max(0, std::min(alen, blen));
  const int order = ODBCW_wcsnicmp(a, b, common);
  if (order != 0) return order;
  if (alen < blen) return -1;
  return alen > blen ? 1 : 0;
}
