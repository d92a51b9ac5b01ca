// Day numbers, jdate forms, broken-down times, the current time and the UTC offset.
#include "utils/etc/jdate.h"

#include <sys/time.h>

#include <ctime>

#include "utils/etc/jdate_internal.h"

namespace {

constexpr std::uint32_t kMinutesPerDay = 1440;
constexpr std::uint32_t kLastMinuteFormYear = 7910;
constexpr std::uint32_t kMicrosPerSecond = 1000000;
constexpr std::uint32_t kDbMinuteBase = 841518720u;  // jdate of 1600-02-29 00:00
constexpr std::uint32_t kDbDayBase = 975736449u;
constexpr std::uint32_t kDbDayProbe = 975736448u;

void FromTm(const tm& t, std::uint32_t microsecond, a_time* out) {
  out->year = static_cast<std::uint16_t>(t.tm_year + 1900);
  out->month = static_cast<std::uint8_t>(t.tm_mon);
  out->weekday = static_cast<std::uint8_t>(t.tm_wday);
  out->yearday = static_cast<std::uint16_t>(t.tm_yday);
  out->day = static_cast<std::uint8_t>(t.tm_mday);
  out->hour = static_cast<std::uint8_t>(t.tm_hour);
  out->minute = static_cast<std::uint8_t>(t.tm_min);
  out->second = static_cast<std::uint8_t>(t.tm_sec);
  out->microsecond = microsecond;
}

// Weekday of 1 January by the short formula the offset search uses: 0 = Saturday.
int JanuaryFirstFromSaturday(int year) {
  const int leap = vq::etc::IsLeapYear(year) ? 1 : 0;
  return ((5 * (year % 100)) / 4 - leap + 5 * ((year / 100) % 4) + 8) % 7;
}

}  // namespace

namespace vq::etc {

std::int64_t DayNumber(std::int64_t month, std::int64_t day, std::int64_t year) {
  std::int64_t m;
  std::int64_t y;
  if (month > 2) {
    m = month - 3;
    y = year;
  } else {
    m = month + 9;
    y = year - 1;
  }
  const std::int64_t c = y / 100;
  const std::int64_t yy = y - 100 * c;
  return (153 * m + 2) / 5 + (146097 * c) / 4 + (1461 * yy) / 4 + day;
}

bool IsLeapYear(std::int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int WeekdayOfJanuaryFirst(std::int64_t year) {
  const std::int64_t n = DayNumber(1, 1, year);
  return static_cast<int>(((n + 2) % 7 + 7) % 7);
}

jdate StoreDayAndMinute(std::int64_t day, std::int64_t minute) {
  if (day < static_cast<std::int64_t>(kJdateDayFormFromDay)) {
    const std::int64_t value = day * kMinutesPerDay + minute;
    if (value < static_cast<std::int64_t>(kJdateDayForm)) return static_cast<jdate>(value);
  }
  return kJdateDayForm | (static_cast<std::uint32_t>(day) & kJdateDayMask);
}

}  // namespace vq::etc

extern "C" {

jdate jday(unsigned month, unsigned day, unsigned year) {
  if (year == 0) return 0;
  const auto n = static_cast<std::uint32_t>(vq::etc::DayNumber(month, day, year));
  if (year <= kLastMinuteFormYear) return n * kMinutesPerDay;
  return kJdateDayForm | (n & kJdateDayMask);
}

jdate jymd(std::int16_t year, std::int16_t month, std::int16_t day) {
  int y = year + month / 12;
  int m = month % 12;
  if (m <= 0) {
    m += 12;
    y -= 1;
  }
  return jday(static_cast<unsigned>(m), static_cast<unsigned>(day),
              static_cast<unsigned>(static_cast<std::uint16_t>(y)));
}

std::int32_t jday_since_1900(unsigned month, unsigned day, unsigned year) {
  // Through the day number, so that the day form of years above 7910 counts too.
  return static_cast<std::int32_t>(jdate_date_component(jday(month, day, year))) - 693902;
}

jdate timetojdate(const a_time* time) {
  jdate value = jday(time->month + 1u, time->day, time->year);
  if (time->year <= kLastMinuteFormYear) value += time->hour * 60u + time->minute;
  return value;
}

std::uint32_t jdate_date_component(jdate value) {
  return value >= kJdateDayForm ? (value & kJdateDayMask) : value / kMinutesPerDay;
}

std::uint32_t jdate_time_component(jdate value) {
  return value >= kJdateDayForm ? 0 : value % kMinutesPerDay;
}

jdate jdate_DATE(jdate value) {
  return value >= kJdateDayForm ? value : value - value % kMinutesPerDay;
}

void jdatetotime(jdate value, a_time* out) {
  std::uint32_t d = jdate_date_component(value);
  const std::uint32_t m = jdate_time_component(value);
  out->hour = static_cast<std::uint8_t>(m / 60);
  out->minute = static_cast<std::uint8_t>(m % 60);
  out->second = 0;
  out->microsecond = 0;
  out->weekday = static_cast<std::uint8_t>((d + 2) % 7);
  if (d == 0) {
    out->year = 0;
    out->month = 0;
    out->day = 0;
    out->yearday = 0;
    return;
  }
  const std::uint32_t q1 = (4 * d - 1) / 146097;
  const std::uint32_t r1 = (4 * d - 1) % 146097;
  const std::uint32_t q2 = (r1 | 3) / 1461;
  const std::uint32_t r2 = (r1 | 3) % 1461;
  std::uint32_t year = 100 * q1 + q2;
  const std::uint32_t e = r2 / 4;  // day of the March-based year, from 0
  const std::uint32_t q3 = (5 * e + 2) / 153;
  const std::uint32_t r3 = (5 * e + 2) % 153;
  out->day = static_cast<std::uint8_t>(r3 / 5 + 1);
  if (q3 > 9) {
    year += 1;
    out->month = static_cast<std::uint8_t>(q3 - 10);
    out->yearday = static_cast<std::uint16_t>(e - 306);
  } else {
    out->month = static_cast<std::uint8_t>(q3 + 2);
    out->yearday = static_cast<std::uint16_t>(e + 59 + (vq::etc::IsLeapYear(year) ? 1 : 0));
  }
  out->year = static_cast<std::uint16_t>(year);
}

void timenow(a_time* out) {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  const time_t seconds = tv.tv_sec;
  tm local{};
  ::localtime_r(&seconds, &local);
  FromTm(local, static_cast<std::uint32_t>(tv.tv_usec), out);
}

void timetoday(a_time* out) {
  timenow(out);
  out->hour = 0;
  out->minute = 0;
  out->second = 0;
  out->microsecond = 0;
}

jdate jtoday(void) {
  a_time now{};
  timetoday(&now);
  return timetojdate(&now);
}

jdate jnow(void) {
  a_time now{};
  timenow(&now);
  return timetojdate(&now);
}

void timetotimestamp(const a_time* time, a_timestamp* out) {
  out->minutes = timetojdate(time);
  out->microseconds = time->second * kMicrosPerSecond + time->microsecond;
}

void timestamptotime(const a_timestamp* stamp, a_time* out) {
  jdatetotime(stamp->minutes, out);
  out->second = static_cast<std::uint8_t>(stamp->microseconds / kMicrosPerSecond);
  out->microsecond = stamp->microseconds % kMicrosPerSecond;
}

void mergedatetime(jdate date, const a_timestamp* time, a_timestamp* out) {
  a_time merged{};
  jdatetotime(date, &merged);
  a_time clock{};
  timestamptotime(time, &clock);
  merged.hour = clock.hour;
  merged.minute = clock.minute;
  merged.second = clock.second;
  merged.microsecond = clock.microsecond;
  timetotimestamp(&merged, out);
}

void timestampnow(a_timestamp* out) {
  a_time now{};
  timenow(&now);
  timetotimestamp(&now, out);
}

void timestampnow_truncated(a_timestamp* out) {
  a_time now{};
  timenow(&now);
  now.microsecond = 0;
  timetotimestamp(&now, out);
}

void timestamp_add_to_base(a_timestamp* out, const a_timestamp* base,
                           std::int64_t microseconds) {
  constexpr std::int64_t kMicrosPerMinute = 60000000;
  // Split before adding, so that an amount near the 64-bit limits cannot overflow.
  const std::int64_t from = base->microseconds;
  std::int64_t quotient = microseconds / kMicrosPerMinute;
  std::int64_t remainder = microseconds % kMicrosPerMinute + from;
  quotient += remainder / kMicrosPerMinute;
  remainder %= kMicrosPerMinute;
  if (remainder < 0) {
    remainder += kMicrosPerMinute;
    quotient -= 1;
  }
  a_timestamp result{base->minutes, static_cast<std::uint32_t>(remainder)};
  vq::etc::AddMinutes(&result, quotient);
  *out = result;
}

std::int32_t UTCoffset(const a_time* time) {
  int year = time->year;
  if (year < 1970 || year > 2038) {
    const bool leap = vq::etc::IsLeapYear(year);
    const int weekday = JanuaryFirstFromSaturday(year);
    for (int candidate = 1970; candidate < 2039; ++candidate) {
      if (vq::etc::IsLeapYear(candidate) == leap &&
          JanuaryFirstFromSaturday(candidate) == weekday) {
        year = candidate;
        break;
      }
    }
  }
  tm local{};
  local.tm_sec = time->second;
  local.tm_min = time->minute;
  local.tm_hour = time->hour;
  local.tm_mday = time->day;
  local.tm_mon = time->month;
  local.tm_year = year - 1900;
  local.tm_isdst = -1;  // let the system decide
  const time_t instant = ::mktime(&local);
  tm utc{};
  ::gmtime_r(&instant, &utc);  // the reentrant form: callers may be on any thread

  const std::int32_t local_seconds = (time->hour * 60 + time->minute) * 60 + time->second;
  const std::int32_t utc_seconds = (utc.tm_hour * 60 + utc.tm_min) * 60 + utc.tm_sec;
  const int local_date = ((year * 12) + time->month) * 32 + time->day;
  const int utc_date = (((utc.tm_year + 1900) * 12) + utc.tm_mon) * 32 + utc.tm_mday;
  if (utc_date < local_date) return local_seconds - utc_seconds + 86400;
  if (utc_date > local_date) return local_seconds - utc_seconds - 86400;
  return local_seconds - utc_seconds;
}

jdate jdate_from_db(std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  if (v + kDbDayProbe <= kJdateDayMask) return (v + kDbDayBase) | kJdateDayForm;
  return v + kDbMinuteBase;
}

std::int32_t jdate_to_db(jdate value) {
  if (value >= kJdateDayForm)
    return static_cast<std::int32_t>((value & kJdateDayMask) - kDbDayBase);
  return static_cast<std::int32_t>(value - kDbMinuteBase);
}

}  // extern "C"
