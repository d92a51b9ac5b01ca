// The calendar core: day numbers, the 32-bit day-and-minute count (jdate), the 8-byte
// timestamp built on it, the broken-down local time, conversions between them, the current
// time, the offset of local time from UTC, and the database form of a jdate.
//
// Day numbers count days of the proleptic Gregorian calendar with day 1 = 1 March of year
// 0; day 0 stands for "no date". Anchors: 0001-01-01 is day 307, 1900-01-01 day 693,902,
// 1970-01-01 day 719,469. The weekday of day N is (N + 2) mod 7, 0 = Sunday.
//
// A jdate has two forms, told apart by its top five bits:
//   minute form, below 0xF8000000: day number * 1440 + hour * 60 + minute;
//   day form, 0xF8000000 and above: 0xF8000000 | day number (low 27 bits), no time of day.
// jday gives the day form for every date of a year above 7910. The minute form of
// 7911-02-05 (day 2,889,409) reaches 0xF8000000 at 10:08; from that minute on we store
// that day in the day form too, so that no stored value is read back as another.
//
// Every function is reentrant and keeps no state; none reports an error. Arguments out of
// their ranges are computed through the formulas and give a neighbouring date.
#ifndef VQ_UTILS_ETC_JDATE_H
#define VQ_UTILS_ETC_JDATE_H

#include <cstdint>

using jdate = std::uint32_t;

constexpr jdate kJdateDayForm = 0xF8000000u;             // first value of the day form
constexpr jdate kJdateDayMask = 0x07FFFFFFu;             // day number bits of the day form
constexpr std::uint32_t kJdateDayFormFromDay = 2889410;  // add functions: day form from here

// Two 32-bit words, 8 bytes, each in processor byte order.
struct a_timestamp {
  std::uint32_t minutes;       // a jdate
  std::uint32_t microseconds;  // within the minute, 0 to 59,999,999
};
static_assert(sizeof(a_timestamp) == 8, "a timestamp is two 32-bit words");

// Broken-down local date and time.
struct a_time {
  std::uint16_t year;         // full year, 0 = no date
  std::uint8_t month;         // 0 to 11
  std::uint8_t weekday;       // 0 = Sunday to 6 = Saturday
  std::uint16_t yearday;      // 0 = 1 January
  std::uint8_t day;           // 1 to 31
  std::uint8_t hour;          // 0 to 23
  std::uint8_t minute;        // 0 to 59
  std::uint8_t second;        // 0 to 59
  std::uint32_t microsecond;  // 0 to 999,999
};

extern "C" {

// The jdate of a date at 00:00 (month 1 to 12): 0 for year 0, the minute form up to year
// 7910, the day form above. A month of 13 is January of the following year.
jdate jday(unsigned month, unsigned day, unsigned year);
// As jday with a month outside 1 to 12 carried into the year (0 is December of the year
// before, -1 November, 14 February of the next).
jdate jymd(std::int16_t year, std::int16_t month, std::int16_t day);
// Days since 1900-01-01.
std::int32_t jday_since_1900(unsigned month, unsigned day, unsigned year);
// jday of the date, plus the minute of the day up to year 7910.
jdate timetojdate(const a_time* time);

std::uint32_t jdate_date_component(jdate value);  // the day number
std::uint32_t jdate_time_component(jdate value);  // minute of the day; 0 in the day form
jdate jdate_DATE(jdate value);                    // the same date at 00:00

// Breaks a jdate down; seconds and microseconds are 0. Day 0 gives year, month, day and
// day of year 0 (weekday 2).
void jdatetotime(jdate value, a_time* out);

// The current local time from the time of day with microseconds; timetoday sets the time
// of day to 00:00:00.000000.
void timenow(a_time* out);
void timetoday(a_time* out);
jdate jtoday(void);
jdate jnow(void);

void timetotimestamp(const a_time* time, a_timestamp* out);
void timestamptotime(const a_timestamp* stamp, a_time* out);
// The date of `date` with the time of day of `time`.
void mergedatetime(jdate date, const a_timestamp* time, a_timestamp* out);
void timestampnow(a_timestamp* out);
void timestampnow_truncated(a_timestamp* out);  // microseconds of the second dropped

// `base` moved by `microseconds` (either sign); minutes carried through the jdate as
// timestamp_ADDMINUTES does.
void timestamp_add_to_base(a_timestamp* out, const a_timestamp* base,
                           std::int64_t microseconds);

// Seconds east of UTC (local minus UTC) in force at that local date and time. Years outside
// 1970 to 2038 are computed with the first year from 1970 on with the same leap-ness and
// weekday of 1 January.
std::int32_t UTCoffset(const a_time* time);

// The database form: minutes from 1600-02-29 00:00 for the minute form, a range of its own
// below that for the day form. Both directions work modulo 2^32.
jdate jdate_from_db(std::int32_t value);
std::int32_t jdate_to_db(jdate value);

}  // extern "C"

#endif  // VQ_UTILS_ETC_JDATE_H
