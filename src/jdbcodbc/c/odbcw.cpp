// UTF-16 text helpers. Numbers are accumulated in unsigned arithmetic so that the
// documented wrap-around is defined behaviour.
#include "jdbcodbc/c/odbcw.h"

#include <algorithm>

namespace {

bool IsDigit(unsigned unit) { return unit >= '0' && unit <= '9'; }

template <class Unit>
bool TextToI64(const Unit* text, std::int64_t* out) {
  if (text == nullptr || text[0] == 0) return false;
  const Unit* p = text;
  bool negative = false;
  if (*p == '-' || *p == '+') {
    negative = *p == '-';
    ++p;
  }
  std::uint64_t value = 0;
  for (; *p != 0 && *p != '.'; ++p) {
    const unsigned unit = static_cast<unsigned>(*p);
    if (!IsDigit(unit)) return false;
    value = value * 10u + (unit - '0');
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

bool ODBCW_SQLWCHAR_TO_I64(const SQLWCHAR* text, std::int64_t* out) {
  return TextToI64(text, out);
}

bool ODBCW_SQLCHAR_TO_I64(const SQLCHAR* text, std::int64_t* out) {
  return TextToI64(text, out);
}

std::int32_t ODBCW_SQLWCHAR_TO_LONG(const SQLWCHAR* text, const SQLWCHAR** end) {
  const SQLWCHAR* p = text;
  std::uint32_t value = 0;
  bool negative = false;
  if (p != nullptr) {
    if (*p == '-' || *p == '+') {
      negative = *p == '-';
      ++p;
    }
    for (; IsDigit(*p); ++p) value = value * 10u + (*p - '0');
  }
  if (end != nullptr) *end = p;
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
