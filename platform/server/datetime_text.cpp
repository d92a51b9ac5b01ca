// Date and time texts: parsing, the stored forms, and day arithmetic.
#include "datetime_text.h"

#include <cctype>
#include <cstdio>

namespace vqeng {
namespace {

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : kDays[m - 1];
}

// Reads 1 to `max` digits at s[p]; false when none.
bool digits(const std::string& s, std::size_t& p, std::size_t max, int& out) {
  std::size_t n = 0;
  out = 0;
  while (p < s.size() && n < max && std::isdigit(static_cast<unsigned char>(s[p]))) {
    out = out * 10 + (s[p] - '0');
    ++p;
    ++n;
  }
  return n > 0;
}

bool parse_time(const std::string& s, std::size_t& p, DateTime& t) {
  if (!digits(s, p, 2, t.hour) || p >= s.size() || s[p] != ':') return false;
  ++p;
  if (!digits(s, p, 2, t.minute)) return false;
  if (p < s.size() && s[p] == ':') {
    ++p;
    if (!digits(s, p, 2, t.second)) return false;
    if (p < s.size() && s[p] == '.') {
      ++p;
      std::uint32_t us = 0;
      int n = 0;
      while (p < s.size() && std::isdigit(static_cast<unsigned char>(s[p]))) {
        if (n < 6) us = us * 10 + static_cast<std::uint32_t>(s[p] - '0');
        ++n;
        ++p;
      }
      for (; n < 6; ++n) us *= 10;
      t.micros = us;
    }
  }
  t.has_time = true;
  return t.hour < 24 && t.minute < 60 && t.second < 60;
}

}  // namespace

bool parse_datetime(const std::string& text, DateTime& out) {
  DateTime t;
  std::size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  const std::string s = text.substr(b, e - b);
  std::size_t p = 0;
  int first = 0;
  if (!digits(s, p, 4, first)) return false;
  if (p < s.size() && s[p] == ':') {  // a time alone
    p = 0;
    if (!parse_time(s, p, t) || p != s.size()) return false;
    out = t;
    return true;
  }
  const char sep = p < s.size() ? s[p] : '\0';
  if (sep != '-' && sep != '/') return false;
  t.year = first;
  ++p;
  if (!digits(s, p, 2, t.month) || p >= s.size() || s[p] != sep) return false;
  ++p;
  if (!digits(s, p, 2, t.day)) return false;
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > days_in_month(t.year, t.month))
    return false;
  t.has_date = true;
  if (p < s.size()) {
    if (s[p] != ' ' && s[p] != 'T') return false;
    while (p < s.size() && (s[p] == ' ' || s[p] == 'T')) ++p;
    if (!parse_time(s, p, t) || p != s.size()) return false;
  }
  out = t;
  return true;
}

std::string date_text(const DateTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year, t.month, t.day);
  return buf;
}

std::string time_text(const DateTime& t) {
  char buf[32];
  if (t.micros)
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%06u", t.hour, t.minute, t.second,
                  static_cast<unsigned>(t.micros));
  else
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return buf;
}

std::string timestamp_text(const DateTime& t) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%06u", t.year, t.month, t.day,
                t.hour, t.minute, t.second, static_cast<unsigned>(t.micros));
  return buf;
}

// Civil dates from and to a day count, through 400-year eras of 146097 days.
std::int64_t days_from_civil(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * static_cast<unsigned>(m + (m > 2 ? -3 : 9)) + 2) / 5 +
                       static_cast<unsigned>(d) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civil_from_days(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

}  // namespace vqeng
