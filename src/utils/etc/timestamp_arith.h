// Timestamp arithmetic for the SQL date functions: comparison, adding an amount of a date
// part, the difference in a date part, extracting a date part, and the picture strings of
// the T-SQL conversion styles.
//
// Date-part codes (16-bit), shared by DATEADD, DATEDIFF and DATEPART:
//   1 year, 2 month, 3 day, 4 hour, 5 minute, 6 second, 7 weekday, 8 quarter, 9 week,
//   10 day of year, 11 millisecond, 12 microsecond, 13 ISO week, 14 ISO year,
//   15 ISO weekday.
// Other codes do nothing (DATEADD) or give 0. Differences are the second argument minus
// the first.
#ifndef VQ_UTILS_ETC_TIMESTAMP_ARITH_H
#define VQ_UTILS_ETC_TIMESTAMP_ARITH_H

#include <cstdint>

#include "utils/etc/jdate.h"

enum : std::int16_t {
  kDatePartYear = 1,
  kDatePartMonth = 2,
  kDatePartDay = 3,
  kDatePartHour = 4,
  kDatePartMinute = 5,
  kDatePartSecond = 6,
  kDatePartWeekday = 7,
  kDatePartQuarter = 8,
  kDatePartWeek = 9,
  kDatePartDayOfYear = 10,
  kDatePartMillisecond = 11,
  kDatePartMicrosecond = 12,
  kDatePartIsoWeek = 13,
  kDatePartIsoYear = 14,
  kDatePartIsoWeekday = 15,
};

extern "C" {

// 1 when a is later, 2 when b is later, 0 when equal (minutes, then microseconds).
int timestamp_CMP(const a_timestamp* a, const a_timestamp* b);
// 1 (2) when a (b) is more than one minute ahead; otherwise the microseconds are compared
// with 60,000,000 added to the one whose minute is one higher: 0 equal, 1 a ahead by more
// than `tolerance` microseconds, 3 a ahead within it, 2 b ahead by more, 4 b ahead within.
int timestamp_TOLERABLE_CMP(const a_timestamp* a, const a_timestamp* b,
                            std::uint32_t tolerance);

// In place. Minutes, hours, days and weeks move the day and the minute of the day; the
// result keeps the minute form up to day 2,889,409 and takes the day form (no time of day)
// after. Months and years keep the day of month, or land on the last day of the target
// month when it has no such day. Microseconds are kept unless the part is finer.
void timestamp_ADDMINUTES(a_timestamp* stamp, std::int32_t n);
void timestamp_ADDHOURS(a_timestamp* stamp, std::int32_t n);
void timestamp_ADDDAYS(a_timestamp* stamp, std::int32_t n);
void timestamp_ADDWEEKS(a_timestamp* stamp, std::int32_t n);
void timestamp_ADDSECONDS(a_timestamp* stamp, std::int32_t n);
void timestamp_ADDMICROSECONDS(a_timestamp* stamp, std::int32_t n);
void timestamp_ADDMONTHS(a_timestamp* stamp, std::int32_t n);
void timestamp_ADDYEARS(a_timestamp* stamp, std::int32_t n);
void timestamp_DATEADD(std::int16_t part, std::int32_t amount, a_timestamp* stamp);

std::int64_t timestamp_MINUTES(const a_timestamp* a, const a_timestamp* b);
std::int64_t timestamp_HOURS(const a_timestamp* a, const a_timestamp* b);
std::int64_t timestamp_SECONDS(const a_timestamp* a, const a_timestamp* b);
std::int32_t timestamp_DAYS(const a_timestamp* a, const a_timestamp* b);
std::int32_t timestamp_WEEKS(const a_timestamp* a, const a_timestamp* b);
std::int32_t timestamp_WEEK(const a_timestamp* stamp);  // index of its Sunday-started week
std::int32_t timestamp_MONTHS(const a_timestamp* a, const a_timestamp* b);
std::int16_t timestamp_YEARS(const a_timestamp* a, const a_timestamp* b);
std::int64_t timestamp_DATEDIFF(std::int16_t part, const a_timestamp* a, const a_timestamp* b);
std::int32_t timestamp_DATEPART(std::int16_t part, const a_timestamp* stamp);

// Picture strings of the T-SQL conversion styles; null for an unknown style.
const char* tsql_timestamp_format(int style);
const char* tsql_time_format(int style);

}  // extern "C"

#endif  // VQ_UTILS_ETC_TIMESTAMP_ARITH_H
