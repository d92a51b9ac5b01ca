// An independent civil calendar for the date tests: dates are walked one day at a time
// with month lengths, never through the library's day-number formula.
#ifndef VQ_TESTS_UNIT_ETC_CALENDAR_ORACLE_H
#define VQ_TESTS_UNIT_ETC_CALENDAR_ORACLE_H

#include <cstdint>

namespace oracle {

inline bool Leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

inline int MonthDays(int y, int m) {  // m 1 to 12
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && Leap(y) ? 29 : kDays[m - 1];
}

struct Date {
  int y;
  int m;  // 1 to 12
  int d;
};

inline Date Next(Date t) {
  if (++t.d > MonthDays(t.y, t.m)) {
    t.d = 1;
    if (++t.m > 12) {
      t.m = 1;
      ++t.y;
    }
  }
  return t;
}

// Days since 0001-01-01 by whole years and months (Gregorian, proleptic).
inline std::int64_t DaysSinceYearOne(Date t) {
  std::int64_t days = 0;
  const int y = t.y - 1;
  days += 365LL * y + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < t.m; ++m) days += MonthDays(t.y, m);
  return days + t.d - 1;
}

// The library's day number counts from 1 March of year 0 (day 1); 0001-01-01 is day 307.
inline std::int64_t DayNumber(Date t) { return DaysSinceYearOne(t) + 307; }

inline Date FromDaysSinceYearOne(std::int64_t days) {
  Date t{1 + static_cast<int>(days / 146097) * 400, 1, 1};
  days %= 146097;
  while (days >= (Leap(t.y) ? 366 : 365)) {
    days -= Leap(t.y) ? 366 : 365;
    ++t.y;
  }
  while (days >= MonthDays(t.y, t.m)) {
    days -= MonthDays(t.y, t.m);
    ++t.m;
  }
  t.d = static_cast<int>(days) + 1;
  return t;
}

inline Date FromDayNumber(std::int64_t n) { return FromDaysSinceYearOne(n - 307); }

// 0 = Sunday; 0001-01-01 was a Monday.
inline int Weekday(Date t) { return static_cast<int>((DaysSinceYearOne(t) + 1) % 7); }

}  // namespace oracle

#endif  // VQ_TESTS_UNIT_ETC_CALENDAR_ORACLE_H
