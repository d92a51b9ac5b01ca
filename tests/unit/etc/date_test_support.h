// Helpers of the date text tests: broken-down times built with the independent calendar,
// a compact text form of a broken-down time, and a fixed time zone for one test.
#ifndef VQ_TESTS_UNIT_ETC_DATE_TEST_SUPPORT_H
#define VQ_TESTS_UNIT_ETC_DATE_TEST_SUPPORT_H

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "calendar_oracle.h"
#include "utils/etc/jdate.h"

namespace datetest {

// month 1 to 12; weekday and day of year from the oracle.
inline a_time MakeTime(int y, int m, int d, int h = 0, int mi = 0, int s = 0, unsigned us = 0) {
  a_time t{};
  t.year = static_cast<std::uint16_t>(y);
  t.month = static_cast<std::uint8_t>(m - 1);
  t.day = static_cast<std::uint8_t>(d);
  t.hour = static_cast<std::uint8_t>(h);
  t.minute = static_cast<std::uint8_t>(mi);
  t.second = static_cast<std::uint8_t>(s);
  t.microsecond = us;
  t.weekday = static_cast<std::uint8_t>(oracle::Weekday({y, m, d}));
  t.yearday = static_cast<std::uint16_t>(oracle::DaysSinceYearOne({y, m, d}) -
                                         oracle::DaysSinceYearOne({y, 1, 1}));
  return t;
}

// "YYYY-MM-DD hh:mm:ss.uuuuuu w<weekday> j<day of year>".
inline std::string Show(const a_time& t) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%06u w%u j%u", t.year,
                t.month + 1u, t.day, t.hour, t.minute, t.second, t.microsecond, t.weekday,
                t.yearday);
  return buf;
}

// Sets TZ for the lifetime of the object and puts the old value back.
class FixedTz {
 public:
  explicit FixedTz(const char* tz) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) saved_ = old;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~FixedTz() {
    if (had_) {
      ::setenv("TZ", saved_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  FixedTz(const FixedTz&) = delete;
  FixedTz& operator=(const FixedTz&) = delete;

 private:
  bool had_ = false;
  std::string saved_;
};

}  // namespace datetest

#endif  // VQ_TESTS_UNIT_ETC_DATE_TEST_SUPPORT_H
