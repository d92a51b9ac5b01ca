// Timestamp comparison, addition in every date part, differences and date parts, across
// month ends, leap years, the day-form boundary, year 1 and year 9999.
#include "utils/etc/timestamp_arith.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "calendar_oracle.h"

namespace {

// A timestamp from its civil parts; seconds and microseconds go into the second word.
a_timestamp Ts(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, std::uint32_t us = 0) {
  a_time t{};
  t.year = static_cast<std::uint16_t>(y);
  t.month = static_cast<std::uint8_t>(mo - 1);
  t.day = static_cast<std::uint8_t>(d);
  t.hour = static_cast<std::uint8_t>(h);
  t.minute = static_cast<std::uint8_t>(mi);
  t.second = static_cast<std::uint8_t>(s);
  t.microsecond = us;
  a_timestamp out{};
  timetotimestamp(&t, &out);
  return out;
}

std::string Show(const a_timestamp& ts) {
  a_time t{};
  timestamptotime(&ts, &t);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%06u%s", t.year, t.month + 1,
                t.day, t.hour, t.minute, t.second, t.microsecond,
                ts.minutes >= kJdateDayForm ? " (day form)" : "");
  return buf;
}

struct AddCase {
  const char* name;
  std::int16_t part;
  std::int32_t amount;
  a_timestamp from;
  a_timestamp to;
};

const AddCase kAddCases[] = {
    // Months: the day of month is kept or falls back to the month's last day.
    {"month_31jan_to_28feb", kDatePartMonth, 1, Ts(2023, 1, 31, 10, 20, 30, 5),
     Ts(2023, 2, 28, 10, 20, 30, 5)},
    {"month_31jan_to_29feb_leap", kDatePartMonth, 1, Ts(2024, 1, 31, 8, 0),
     Ts(2024, 2, 29, 8, 0)},
    {"month_15dec_to_15jan", kDatePartMonth, 1, Ts(2023, 12, 15), Ts(2024, 1, 15)},
    {"month_15jan_back_to_15dec", kDatePartMonth, -1, Ts(2024, 1, 15), Ts(2023, 12, 15)},
    {"month_31mar_back_to_29feb", kDatePartMonth, -1, Ts(2024, 3, 31), Ts(2024, 2, 29)},
    {"month_31oct_to_30nov", kDatePartMonth, 1, Ts(2023, 10, 31), Ts(2023, 11, 30)},
    {"month_back_12", kDatePartMonth, -12, Ts(2024, 1, 1), Ts(2023, 1, 1)},
    {"month_back_13", kDatePartMonth, -13, Ts(2024, 1, 1), Ts(2022, 12, 1)},
    {"month_forward_120", kDatePartMonth, 120, Ts(2000, 2, 29), Ts(2010, 2, 28)},
    {"month_zero", kDatePartMonth, 0, Ts(2023, 12, 31, 1, 2), Ts(2023, 12, 31, 1, 2)},
    // December 7910 plus one month is rebuilt from year 7910 and month index 12, which
    // keeps the minute form and the time of day (the day number stays below the day form).
    {"month_past_7910", kDatePartMonth, 1, Ts(7910, 12, 31, 12, 0), Ts(7910, 13, 31, 12, 0)},
    // January of year 1 is a date like any other (year 0 is "no date").
    {"month_zero_in_jan_year_1", kDatePartMonth, 0, Ts(1, 1, 9, 3, 4), Ts(1, 1, 9, 3, 4)},
    {"month_back_to_jan_year_1", kDatePartMonth, -1, Ts(1, 2, 15), Ts(1, 1, 15)},
    {"month_back_12_to_year_1", kDatePartMonth, -12, Ts(2, 1, 1), Ts(1, 1, 1)},
    {"quarter_back_to_jan_year_1", kDatePartQuarter, -1, Ts(1, 4, 30), Ts(1, 1, 30)},
    {"quarter", kDatePartQuarter, 1, Ts(2023, 11, 30), Ts(2024, 2, 29)},
    {"quarter_back", kDatePartQuarter, -4, Ts(2024, 5, 5), Ts(2023, 5, 5)},
    // Years: 29 February falls back to 28 February in a common year.
    {"year_29feb_to_28feb", kDatePartYear, 1, Ts(2024, 2, 29, 6, 7), Ts(2025, 2, 28, 6, 7)},
    {"year_29feb_to_29feb", kDatePartYear, 4, Ts(2024, 2, 29), Ts(2028, 2, 29)},
    {"year_back", kDatePartYear, -1, Ts(2024, 2, 29), Ts(2023, 2, 28)},
    {"year_1_to_9999", kDatePartYear, 9998, Ts(1, 1, 1), Ts(9999, 1, 1)},
    // Days, weeks, hours, minutes across month, year and leap-day boundaries.
    {"day_over_leap_day", kDatePartDay, 1, Ts(2024, 2, 28, 23, 59), Ts(2024, 2, 29, 23, 59)},
    {"day_over_year_end", kDatePartDay, 1, Ts(1999, 12, 31, 12, 0), Ts(2000, 1, 1, 12, 0)},
    {"day_back_over_march", kDatePartDay, -1, Ts(2023, 3, 1), Ts(2023, 2, 28)},
    {"weekday_adds_days", kDatePartWeekday, 3, Ts(2023, 1, 30), Ts(2023, 2, 2)},
    {"dayofyear_adds_days", kDatePartDayOfYear, -365, Ts(2024, 12, 31), Ts(2024, 1, 1)},
    {"week", kDatePartWeek, 2, Ts(2023, 12, 25), Ts(2024, 1, 8)},
    {"hour_over_midnight", kDatePartHour, 5, Ts(2023, 12, 31, 22, 15), Ts(2024, 1, 1, 3, 15)},
    {"hour_back", kDatePartHour, -25, Ts(2024, 3, 1, 0, 30), Ts(2024, 2, 28, 23, 30)},
    {"minute_back_from_midnight", kDatePartMinute, -1, Ts(2024, 3, 1), Ts(2024, 2, 29, 23, 59)},
    {"minute_whole_day", kDatePartMinute, 1440, Ts(2024, 2, 28, 9, 9), Ts(2024, 2, 29, 9, 9)},
    {"minute_back_many_days", kDatePartMinute, -3 * 1440 - 1, Ts(2024, 3, 2, 0, 0),
     Ts(2024, 2, 27, 23, 59)},
    {"minute_from_year_one", kDatePartMinute, 1, Ts(1, 1, 1), Ts(1, 1, 1, 0, 1)},
    {"minute_to_year_one", kDatePartMinute, -1, Ts(1, 1, 2), Ts(1, 1, 1, 23, 59)},
    // Seconds and finer parts work on the microseconds word and carry into the minute.
    {"second_carry", kDatePartSecond, 1, Ts(2023, 12, 31, 23, 59, 59, 500000),
     Ts(2024, 1, 1, 0, 0, 0, 500000)},
    {"second_borrow", kDatePartSecond, -1, Ts(2024, 1, 1), Ts(2023, 12, 31, 23, 59, 59)},
    {"second_many", kDatePartSecond, 3661, Ts(2024, 1, 1), Ts(2024, 1, 1, 1, 1, 1)},
    {"second_back_many", kDatePartSecond, -61, Ts(2024, 1, 1, 0, 1, 0),
     Ts(2023, 12, 31, 23, 59, 59)},
    {"millisecond_drops_micros", kDatePartMillisecond, 1, Ts(2024, 1, 1, 0, 0, 0, 123456),
     Ts(2024, 1, 1, 0, 0, 0, 124000)},
    {"millisecond_borrow", kDatePartMillisecond, -1, Ts(2024, 1, 1),
     Ts(2023, 12, 31, 23, 59, 59, 999000)},
    {"millisecond_minute", kDatePartMillisecond, 60000, Ts(2024, 1, 1, 0, 0, 5),
     Ts(2024, 1, 1, 0, 1, 5)},
    {"millisecond_back_mixed", kDatePartMillisecond, -60500, Ts(2024, 1, 1, 0, 1, 0, 250000),
     Ts(2023, 12, 31, 23, 59, 59, 750000)},
    {"microsecond_carry", kDatePartMicrosecond, 1, Ts(2024, 1, 1, 0, 0, 59, 999999),
     Ts(2024, 1, 1, 0, 1, 0, 0)},
    {"microsecond_borrow", kDatePartMicrosecond, -1, Ts(2024, 1, 1),
     Ts(2023, 12, 31, 23, 59, 59, 999999)},
    {"microsecond_many_minutes", kDatePartMicrosecond, 2000000000, Ts(2024, 1, 1),
     Ts(2024, 1, 1, 0, 33, 20)},
    // Parts that add nothing.
    {"iso_week_adds_nothing", kDatePartIsoWeek, 5, Ts(2024, 1, 1, 1, 1), Ts(2024, 1, 1, 1, 1)},
    {"code_zero", 0, 5, Ts(2024, 1, 1), Ts(2024, 1, 1)},
    {"code_16", 16, 5, Ts(2024, 1, 1), Ts(2024, 1, 1)},
};

TEST(DateAdd, TableOfParts) {
  for (const AddCase& c : kAddCases) {
    SCOPED_TRACE(c.name);
    a_timestamp ts = c.from;
    timestamp_DATEADD(c.part, c.amount, &ts);
    EXPECT_EQ(Show(ts), Show(c.to));
    EXPECT_EQ(ts.minutes, c.to.minutes);
    EXPECT_EQ(ts.microseconds, c.to.microseconds);
  }
}

// The minute form ends with day 2,889,409 (7911-02-05); from 10:08 of that day it would
// read as the day form, so values from there on are kept in the day form.
TEST(DateAdd, DayFormBoundary) {
  a_timestamp ts = Ts(7910, 12, 31, 23, 59);
  timestamp_ADDMINUTES(&ts, 1);
  EXPECT_LT(ts.minutes, kJdateDayForm);  // 7911-01-01 00:00 keeps the minute form
  EXPECT_EQ(Show(ts), "7911-01-01 00:00:00.000000");

  a_timestamp last = ts;
  timestamp_ADDDAYS(&last, 35);  // 7911-02-05
  timestamp_ADDMINUTES(&last, 10 * 60 + 7);
  EXPECT_EQ(Show(last), "7911-02-05 10:07:00.000000");
  EXPECT_EQ(last.minutes, 0xF7FFFFFFu);
  timestamp_ADDMINUTES(&last, 1);  // 10:08 would collide with the day form
  EXPECT_EQ(Show(last), "7911-02-05 00:00:00.000000 (day form)");
  EXPECT_EQ(last.minutes, kJdateDayForm | 2889409u);

  a_timestamp next = ts;
  timestamp_ADDDAYS(&next, 36);  // day 2,889,410: the day form, time dropped
  EXPECT_EQ(Show(next), "7911-02-06 00:00:00.000000 (day form)");
  timestamp_ADDHOURS(&next, 48);
  EXPECT_EQ(Show(next), "7911-02-08 00:00:00.000000 (day form)");

  // Back from the day form into the minute form.
  a_timestamp back = Ts(7912, 1, 1);
  ASSERT_GE(back.minutes, kJdateDayForm);
  timestamp_ADDYEARS(&back, -2);
  EXPECT_EQ(Show(back), "7910-01-01 00:00:00.000000");
  back = Ts(7911, 3, 1);
  timestamp_ADDDAYS(&back, -100);
  EXPECT_LT(back.minutes, kJdateDayForm);
  EXPECT_EQ(Show(back), "7910-11-21 00:00:00.000000");
}

// Microseconds and the fast clock's base addition carry whole minutes through the day and
// minute split: on a day-form value they never step into the next day's number.
TEST(DateAdd, FineAmountsOnTheDayForm) {
  const a_timestamp base = Ts(8000, 6, 15);
  ASSERT_GE(base.minutes, kJdateDayForm);
  a_timestamp ts = base;
  timestamp_ADDMICROSECONDS(&ts, 60000000 - 1);
  timestamp_ADDMICROSECONDS(&ts, 2);
  EXPECT_EQ(ts.minutes, base.minutes);  // the minute is dropped, the day stays
  EXPECT_EQ(ts.microseconds, 1u);
  timestamp_ADDSECONDS(&ts, 86400);
  EXPECT_EQ(Show(ts), "8000-06-16 00:00:00.000001 (day form)");
}

// Adding days agrees with the independent calendar from year 1 to 9999.
TEST(DateAdd, DaysAgreeWithTheCalendar) {
  const oracle::Date starts[] = {{1, 1, 1},     {1, 3, 1},     {1582, 10, 4}, {1899, 12, 31},
                                 {2000, 2, 28}, {2100, 2, 28}, {7910, 12, 1}, {9999, 1, 1}};
  const std::int32_t amounts[] = {1, 27, 59, 365, 366, 1461, 36524, 146097, -1, -366};
  for (const oracle::Date& s : starts) {
    for (std::int32_t n : amounts) {
      const std::int64_t target = oracle::DayNumber(s) + n;
      if (target < 307 || target > oracle::DayNumber({9999, 12, 31})) continue;
      SCOPED_TRACE(std::to_string(s.y) + "-" + std::to_string(s.m) + "-" + std::to_string(s.d) +
                   " + " + std::to_string(n));
      a_timestamp ts = Ts(s.y, s.m, s.d);
      timestamp_ADDDAYS(&ts, n);
      const oracle::Date e = oracle::FromDayNumber(target);
      a_time t{};
      timestamptotime(&ts, &t);
      EXPECT_EQ(t.year, e.y);
      EXPECT_EQ(t.month + 1, e.m);
      EXPECT_EQ(t.day, e.d);
      EXPECT_EQ(jdate_date_component(ts.minutes), static_cast<std::uint32_t>(target));
    }
  }
}

struct DiffCase {
  const char* name;
  std::int16_t part;
  a_timestamp a;
  a_timestamp b;
  std::int64_t diff;
};

const DiffCase kDiffCases[] = {
    {"years", kDatePartYear, Ts(2023, 12, 31), Ts(2024, 1, 1), 1},
    {"years_1_to_9999", kDatePartYear, Ts(1, 1, 1), Ts(9999, 12, 31), 9998},
    {"years_back", kDatePartYear, Ts(2024, 1, 1), Ts(1999, 6, 1), -25},
    {"months", kDatePartMonth, Ts(2023, 1, 31), Ts(2023, 2, 1), 1},
    {"months_back_over_year", kDatePartMonth, Ts(2024, 2, 1), Ts(2023, 11, 30), -3},
    {"days_leap_year", kDatePartDay, Ts(2024, 1, 1, 23, 59), Ts(2025, 1, 1), 366},
    {"days_common_year", kDatePartDay, Ts(2023, 1, 1), Ts(2024, 1, 1), 365},
    {"days_year_1_to_9999", kDatePartDay, Ts(1, 1, 1), Ts(9999, 12, 31), 3652058},
    {"days_into_day_form", kDatePartDay, Ts(7910, 12, 31, 23, 0), Ts(8000, 1, 1), 32508},
    {"hours_under_one", kDatePartHour, Ts(2024, 1, 1, 10, 59), Ts(2024, 1, 1, 11, 1), 0},
    {"hours_back_truncates_to_zero", kDatePartHour, Ts(2024, 1, 1, 11, 1),
     Ts(2024, 1, 1, 10, 2), 0},
    {"hours_day", kDatePartHour, Ts(2024, 2, 28, 12, 0), Ts(2024, 3, 1, 12, 0), 48},
    {"hours_to_day_form", kDatePartHour, Ts(7910, 12, 31, 23, 0), Ts(8000, 1, 1),
     32508LL * 24 - 23},
    {"minutes", kDatePartMinute, Ts(2024, 2, 28, 23, 59), Ts(2024, 3, 1, 0, 1), 1442},
    {"seconds_truncate", kDatePartSecond, Ts(2024, 1, 1, 0, 0, 0, 999999),
     Ts(2024, 1, 1, 0, 0, 2, 0), 1},
    {"seconds_back", kDatePartSecond, Ts(2024, 1, 1, 0, 1), Ts(2024, 1, 1, 0, 0, 30), -30},
    {"weekday_is_zero", kDatePartWeekday, Ts(2024, 1, 1), Ts(2024, 5, 1), 0},
    {"quarters", kDatePartQuarter, Ts(2023, 12, 31), Ts(2024, 4, 1), 2},
    {"weeks_saturday_to_sunday", kDatePartWeek, Ts(2024, 1, 6), Ts(2024, 1, 7), 1},
    {"weeks_sunday_to_saturday", kDatePartWeek, Ts(2024, 1, 7), Ts(2024, 1, 13), 0},
    {"day_of_year", kDatePartDayOfYear, Ts(2023, 12, 31), Ts(2024, 1, 2), 1 - 364},
    {"milliseconds", kDatePartMillisecond, Ts(2024, 1, 1, 0, 0, 0, 1999),
     Ts(2024, 1, 1, 0, 1, 0, 0), 59999},
    {"microseconds", kDatePartMicrosecond, Ts(2024, 1, 1, 0, 0, 0, 1),
     Ts(2023, 12, 31, 23, 59, 59, 0), -1000001},
    {"microseconds_years", kDatePartMicrosecond, Ts(1, 1, 1), Ts(7910, 12, 31),
     2889066LL * 86400000000LL},
    {"iso_week_is_zero", kDatePartIsoWeek, Ts(2024, 1, 1), Ts(2025, 1, 1), 0},
    {"code_zero", 0, Ts(2024, 1, 1), Ts(2025, 1, 1), 0},
};

TEST(DateDiff, TableOfParts) {
  for (const DiffCase& c : kDiffCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(timestamp_DATEDIFF(c.part, &c.a, &c.b), c.diff);
  }
  const a_timestamp sat = Ts(2024, 1, 6);
  const a_timestamp sun = Ts(2024, 1, 7);
  EXPECT_EQ(timestamp_WEEKS(&sat, &sun), 0);  // whole days / 7
  EXPECT_EQ(timestamp_WEEK(&sun) - timestamp_WEEK(&sat), 1);
  const a_timestamp a = Ts(2024, 1, 1);
  const a_timestamp b = Ts(2024, 1, 22);
  EXPECT_EQ(timestamp_WEEKS(&a, &b), 3);
  EXPECT_EQ(timestamp_WEEKS(&b, &a), -3);
  EXPECT_EQ(timestamp_YEARS(&b, &a), 0);
}

struct PartCase {
  const char* name;
  std::int16_t part;
  a_timestamp ts;
  std::int32_t value;
};

const PartCase kPartCases[] = {
    {"year", kDatePartYear, Ts(9999, 12, 31), 9999},
    {"month", kDatePartMonth, Ts(2024, 12, 1), 12},
    {"day", kDatePartDay, Ts(2024, 2, 29), 29},
    {"hour", kDatePartHour, Ts(2024, 2, 29, 23, 5), 23},
    {"minute", kDatePartMinute, Ts(2024, 2, 29, 23, 5), 5},
    {"second", kDatePartSecond, Ts(2024, 2, 29, 23, 5, 42, 999999), 42},
    {"weekday_sunday", kDatePartWeekday, Ts(2024, 1, 7), 1},
    {"weekday_saturday", kDatePartWeekday, Ts(2024, 1, 6), 7},
    {"quarter", kDatePartQuarter, Ts(2024, 9, 30), 3},
    {"week_first", kDatePartWeek, Ts(2023, 1, 1), 1},   // a Sunday
    {"week_second", kDatePartWeek, Ts(2022, 1, 2), 2},  // 1 January 2022 was a Saturday
    {"week_last", kDatePartWeek, Ts(2022, 12, 31), 53},
    {"day_of_year_leap", kDatePartDayOfYear, Ts(2024, 12, 31), 366},
    {"millisecond", kDatePartMillisecond, Ts(2024, 1, 1, 0, 0, 7, 123456), 123},
    {"microsecond", kDatePartMicrosecond, Ts(2024, 1, 1, 0, 0, 7, 123456), 123456},
    {"iso_week_2004_12_31", kDatePartIsoWeek, Ts(2004, 12, 31), 53},
    {"iso_week_2008_12_29", kDatePartIsoWeek, Ts(2008, 12, 29), 1},
    {"iso_year_2005_01_01", kDatePartIsoYear, Ts(2005, 1, 1), 2004},
    {"iso_year_2008_12_29", kDatePartIsoYear, Ts(2008, 12, 29), 2009},
    {"iso_weekday_sunday", kDatePartIsoWeekday, Ts(2024, 1, 7), 7},
    {"iso_weekday_monday", kDatePartIsoWeekday, Ts(2024, 1, 8), 1},
    {"code_zero", 0, Ts(2024, 1, 8), 0},
    {"code_16", 16, Ts(2024, 1, 8), 0},
};

TEST(DatePart, TableOfParts) {
  for (const PartCase& c : kPartCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(timestamp_DATEPART(c.part, &c.ts), c.value);
  }
}

// ISO week and week-numbering year of every day of 1901 to 2100 against the C library's
// strftime (%V and %G), which computes them from the weekday and day of year alone.
TEST(DatePart, IsoWeekAgreesWithTheCLibrary) {
  oracle::Date d{1901, 1, 1};
  int failures = 0;
  while (d.y <= 2100 && failures < 10) {
    const a_timestamp ts = Ts(d.y, d.m, d.d);
    a_time t{};
    timestamptotime(&ts, &t);
    tm c{};
    c.tm_year = d.y - 1900;
    c.tm_mon = d.m - 1;
    c.tm_mday = d.d;
    c.tm_wday = t.weekday;
    c.tm_yday = t.yearday;
    char week[8];
    char year[8];
    std::strftime(week, sizeof week, "%V", &c);
    std::strftime(year, sizeof year, "%G", &c);
    const int iso_week = timestamp_DATEPART(kDatePartIsoWeek, &ts);
    const int iso_year = timestamp_DATEPART(kDatePartIsoYear, &ts);
    if (iso_week != std::atoi(week) || iso_year != std::atoi(year)) {
      ++failures;
      ADD_FAILURE() << Show(ts) << ": " << iso_year << "-W" << iso_week << ", expected " << year
                    << "-W" << week;
    }
    d = oracle::Next(d);
  }
}

TEST(Compare, PlainAndTolerable) {
  const std::uint32_t m = jday(6, 1, 2024) + 600;
  struct Case {
    a_timestamp a;
    a_timestamp b;
    std::uint32_t tolerance;
    int cmp;
    int tolerable;
  } cases[] = {
      {{m, 5}, {m, 5}, 0, 0, 0},
      {{m, 59999999}, {m + 1, 0}, 0, 2, 2},
      {{m + 1, 0}, {m, 59999999}, 0, 1, 1},
      {{m, 59999999}, {m + 1, 0}, 1, 2, 4},
      {{m + 1, 0}, {m, 59999999}, 1, 1, 3},
      {{m, 100}, {m, 50}, 49, 1, 1},
      {{m, 100}, {m, 50}, 50, 1, 3},
      {{m, 50}, {m, 100}, 60, 2, 4},
      {{m + 2, 0}, {m, 59999999}, 100000000, 1, 1},  // more than a minute apart
      {{m, 0}, {m + 2, 0}, 100000000, 2, 2},
      {{0xFFFFFFFFu, 0}, {0xFFFFFFFEu, 59999995}, 10, 1, 3},  // no overflow at the top
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.a.minutes - m) + "/" + std::to_string(c.a.microseconds) +
                 " vs " + std::to_string(c.b.minutes - m) + "/" +
                 std::to_string(c.b.microseconds));
    EXPECT_EQ(timestamp_CMP(&c.a, &c.b), c.cmp);
    EXPECT_EQ(timestamp_TOLERABLE_CMP(&c.a, &c.b, c.tolerance), c.tolerable);
  }
}

TEST(TsqlStyles, Pictures) {
  struct Case {
    int style;
    const char* timestamp;
    const char* time;
  } cases[] = {
      {0, "Mmm dd yyyy hh:nnAA", "hh:nnAA"},
      {100, "Mmm dd yyyy hh:nnAA", "hh:nnAA"},
      {1, "mm/dd/yy", ""},
      {7, "Mmm dd, yy", ""},
      {8, "hh:nn:ss", "hh:nn:ss"},
      {109, "Mmm dd yyyy hh:nn:ss:sssAA", "hh:nn:ss:sssAA"},
      {12, "yymmdd", ""},
      {13, "dd Mmm yyyy hh:nn:ss:sss", "hh:nn:ss:sss"},
      {114, "hh:nn:ss:sss", "hh:nn:ss:sss"},
      {20, "yyyy-mm-dd hh:nn:ss", "hh:nn:ss"},
      {121, "yyyy-mm-dd hh:nn:ss.sss", "hh:nn:ss.sss"},
      {101, "mm/dd/yyyy", ""},
      {107, "Mmm dd, yyyy", ""},
      {112, "yyyymmdd", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.style);
    ASSERT_NE(tsql_timestamp_format(c.style), nullptr);
    ASSERT_NE(tsql_time_format(c.style), nullptr);
    EXPECT_STREQ(tsql_timestamp_format(c.style), c.timestamp);
    EXPECT_STREQ(tsql_time_format(c.style), c.time);
  }
  for (int unknown : {-1, 15, 19, 22, 99, 115, 122, 200}) {
    SCOPED_TRACE(unknown);
    EXPECT_EQ(tsql_timestamp_format(unknown), nullptr);
    EXPECT_EQ(tsql_time_format(unknown), nullptr);
  }
}

}  // namespace
