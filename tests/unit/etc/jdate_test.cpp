// Day numbers, jdate forms and conversions, checked against an independent calendar;
// the database form; the UTC offset under fixed time zones; the current time.
#include "utils/etc/jdate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "calendar_oracle.h"

namespace {

TEST(DayNumbers, Anchors) {
  struct Case {
    unsigned y, m, d;
    std::uint32_t day;
    int weekday;
  } cases[] = {
      {1, 1, 1, 307, 1},        {1600, 2, 29, 584388, 2},   {1900, 1, 1, 693902, 1},
      {1970, 1, 1, 719469, 4},  {2000, 2, 29, 730485, 2},   {7910, 12, 31, 2889373, 6},
      {7911, 2, 5, 2889409, 0}, {9999, 12, 31, 3652365, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.y) + "-" + std::to_string(c.m) + "-" + std::to_string(c.d));
    const std::uint32_t expected =
        static_cast<std::uint32_t>(oracle::DayNumber({int(c.y), int(c.m), int(c.d)}));
    EXPECT_EQ(expected, c.day);  // the oracle agrees with the anchors
    const jdate j = jday(c.m, c.d, c.y);
    EXPECT_EQ(jdate_date_component(j), expected);
    EXPECT_EQ((expected + 2) % 7, static_cast<std::uint32_t>(c.weekday));
    if (c.y <= 7910) {
      EXPECT_EQ(j, expected * 1440u);
    } else {
      EXPECT_EQ(j, kJdateDayForm | expected);
    }
  }
  EXPECT_EQ(jday(1, 1, 1900), 693902u * 1440u);
  EXPECT_GE(jday(12, 31, 7911), kJdateDayForm);
  EXPECT_LT(jday(12, 31, 7910), kJdateDayForm);
  EXPECT_EQ(jday(5, 17, 0), 0u);
  EXPECT_EQ(jday(13, 1, 1999), jday(1, 1, 2000));  // month 13 is January of the next year
}

// Every day from 0001-01-01 to 9999-12-31 against the oracle, both directions.
TEST(DayNumbers, EveryDayFromYearOneToYear9999) {
  oracle::Date t{1, 1, 1};
  std::int64_t n = 307;
  int yearday = 0;
  int failures = 0;
  while (t.y <= 9999 && failures < 10) {
    const jdate j = jday(static_cast<unsigned>(t.m), static_cast<unsigned>(t.d),
                         static_cast<unsigned>(t.y));
    a_time out{};
    jdatetotime(j, &out);
    const bool ok = jdate_date_component(j) == n && out.year == t.y && out.month == t.m - 1 &&
                    out.day == t.d && out.yearday == yearday &&
                    out.weekday == oracle::Weekday(t) && out.hour == 0 && out.minute == 0;
    if (!ok) {
      ++failures;
      ADD_FAILURE() << t.y << "-" << t.m << "-" << t.d << ": day " << jdate_date_component(j)
                    << " broken down as " << out.year << "-" << int(out.month) + 1 << "-"
                    << int(out.day) << " yday " << out.yearday << " wday " << int(out.weekday);
    }
    const oracle::Date next = oracle::Next(t);
    yearday = next.y != t.y ? 0 : yearday + 1;
    t = next;
    ++n;
  }
}

TEST(DayNumbers, NoDateAndTimeOfDay) {
  a_time out{};
  out.hour = 7;
  jdatetotime(0, &out);
  EXPECT_EQ(out.year, 0);
  EXPECT_EQ(out.month, 0);
  EXPECT_EQ(out.day, 0);
  EXPECT_EQ(out.yearday, 0);
  EXPECT_EQ(out.weekday, 2);
  EXPECT_EQ(out.hour, 0);

  a_time t{2024, 1, 0, 0, 29, 13, 45, 30, 250};  // 2024-02-29 13:45:30.000250
  const jdate j = timetojdate(&t);
  EXPECT_EQ(j, jday(2, 29, 2024) + 13 * 60 + 45);
  EXPECT_EQ(jdate_time_component(j), 13u * 60 + 45);
  EXPECT_EQ(jdate_DATE(j), jday(2, 29, 2024));
  jdatetotime(j, &out);
  EXPECT_EQ(out.hour, 13);
  EXPECT_EQ(out.minute, 45);
  EXPECT_EQ(out.second, 0);
  EXPECT_EQ(out.microsecond, 0u);

  a_time late{8000, 5, 0, 0, 1, 10, 30, 0, 0};  // the day form keeps no time of day
  const jdate day_form = timetojdate(&late);
  EXPECT_EQ(day_form, jday(6, 1, 8000));
  EXPECT_EQ(jdate_time_component(day_form), 0u);
  EXPECT_EQ(jdate_DATE(day_form), day_form);
}

TEST(DayNumbers, MonthsOutsideTheYear) {
  struct Case {
    std::int16_t y, m, d;
    unsigned ey, em, ed;
  } cases[] = {
      {2000, 13, 1, 2001, 1, 1},    {2000, 0, 15, 1999, 12, 15}, {2000, -1, 1, 1999, 11, 1},
      {2000, 12, 31, 2000, 12, 31}, {2000, 24, 1, 2001, 12, 1},  {2000, -12, 1, 1998, 12, 1},
      {2000, 14, 29, 2001, 3, 1},  // 29 February 2001 does not exist: the next day
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.y) + "/" + std::to_string(c.m));
    EXPECT_EQ(jymd(c.y, c.m, c.d), jday(c.em, c.ed, c.ey));
  }
  EXPECT_EQ(jday_since_1900(1, 1, 1900), 0);
  EXPECT_EQ(jday_since_1900(1, 2, 1900), 1);
  EXPECT_EQ(jday_since_1900(12, 31, 1899), -1);
  EXPECT_EQ(jday_since_1900(1, 1, 1970), 25567);
  // Years above 7910 come in the day form; they still count in days.
  EXPECT_EQ(jday_since_1900(1, 1, 8000),
            oracle::DayNumber({8000, 1, 1}) - oracle::DayNumber({1900, 1, 1}));
}

TEST(Timestamps, ConversionsAndMerge) {
  a_time t{1999, 11, 5, 364, 31, 23, 59, 58, 999999};
  a_timestamp stamp{};
  timetotimestamp(&t, &stamp);
  EXPECT_EQ(stamp.minutes, jday(12, 31, 1999) + 23 * 60 + 59);
  EXPECT_EQ(stamp.microseconds, 58999999u);
  a_time back{};
  timestamptotime(&stamp, &back);
  EXPECT_EQ(back.year, 1999);
  EXPECT_EQ(back.month, 11);
  EXPECT_EQ(back.day, 31);
  EXPECT_EQ(back.yearday, 364);
  EXPECT_EQ(back.weekday, 5);
  EXPECT_EQ(back.second, 58);
  EXPECT_EQ(back.microsecond, 999999u);

  a_timestamp merged{};
  mergedatetime(jday(3, 1, 2024) + 5, &stamp, &merged);  // the date's own minutes are dropped
  EXPECT_EQ(merged.minutes, jday(3, 1, 2024) + 23 * 60 + 59);
  EXPECT_EQ(merged.microseconds, 58999999u);
}

TEST(Timestamps, AddToBase) {
  const jdate noon = jday(2, 28, 2023) + 12 * 60;
  struct Case {
    const char* name;
    a_timestamp base;
    std::int64_t micros;
    a_timestamp expected;
  } cases[] = {
      {"within_minute", {noon, 1000}, 5, {noon, 1005}},
      {"carry_minute", {noon, 59999999}, 1, {noon + 1, 0}},
      {"borrow_minute", {noon, 0}, -1, {noon - 1, 59999999}},
      {"one_day", {noon, 7}, 86400000000LL, {jday(3, 1, 2023) + 12 * 60, 7}},
      {"back_a_year", {noon, 0}, -365LL * 86400000000LL, {jday(2, 28, 2022) + 12 * 60, 0}},
      {"minus_exact_minutes", {noon, 30}, -120000000, {noon - 2, 30}},
      {"day_form_stays_day_form", {jday(1, 1, 8000), 0}, 86400000000LL, {jday(1, 2, 8000), 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    a_timestamp out{};
    timestamp_add_to_base(&out, &c.base, c.micros);
    EXPECT_EQ(out.minutes, c.expected.minutes);
    EXPECT_EQ(out.microseconds, c.expected.microseconds);
  }
}

TEST(DatabaseForm, ValuesAndRoundTrip) {
  struct Case {
    const char* name;
    jdate value;
    std::int32_t db;
  } cases[] = {
      {"origin", jday(2, 29, 1600), 0},
      {"one_minute_after", jday(2, 29, 1600) + 1, 1},
      {"day_before", jday(2, 28, 1600), -1440},
      {"year_one", jday(1, 1, 1), static_cast<std::int32_t>(307u * 1440u - 841518720u)},
      {"day_form", jday(1, 1, 8000),
       static_cast<std::int32_t>(static_cast<std::uint32_t>(oracle::DayNumber({8000, 1, 1})) -
                                 975736449u)},
      {"last_minute_form", 0xF7FFFFFFu, -975736449},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(jdate_to_db(c.value), c.db);
    EXPECT_EQ(jdate_from_db(c.db), c.value);
  }
  const jdate samples[] = {0,
                           1,
                           1440,
                           jday(12, 31, 5683),
                           jday(1, 1, 5684),
                           jday(12, 31, 7910),
                           jday(1, 1, 7911),
                           jday(12, 31, 9999),
                           kJdateDayForm | 1};
  for (jdate v : samples) {
    SCOPED_TRACE(v);
    EXPECT_EQ(jdate_from_db(jdate_to_db(v)), v);
  }
}

// Runs a test body under a fixed time zone and restores the caller's afterwards.
class FixedZone {
 public:
  explicit FixedZone(const char* tz) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) saved_ = old;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~FixedZone() {
    if (had_) {
      ::setenv("TZ", saved_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  bool had_ = false;
  std::string saved_;
};

a_time At(int y, int m, int d, int hh, int mm) {
  a_time t{};
  t.year = static_cast<std::uint16_t>(y);
  t.month = static_cast<std::uint8_t>(m - 1);
  t.day = static_cast<std::uint8_t>(d);
  t.hour = static_cast<std::uint8_t>(hh);
  t.minute = static_cast<std::uint8_t>(mm);
  return t;
}

TEST(UtcOffset, FixedZones) {
  struct Case {
    const char* name;
    const char* tz;
    a_time when;
    std::int32_t offset;
  } cases[] = {
      {"utc", "UTC0", At(2024, 6, 1, 12, 0), 0},
      {"us_eastern_winter", "EST5EDT,M3.2.0,M11.1.0", At(2024, 1, 15, 12, 0), -5 * 3600},
      {"us_eastern_summer", "EST5EDT,M3.2.0,M11.1.0", At(2024, 7, 15, 12, 0), -4 * 3600},
      {"us_eastern_evening_next_utc_day", "EST5EDT,M3.2.0,M11.1.0", At(2024, 7, 15, 22, 30),
       -4 * 3600},
      {"east_of_utc_previous_utc_day", "XYZ-14", At(2020, 1, 1, 5, 0), 14 * 3600},
      {"year_1950_substituted", "EST5EDT,M3.2.0,M11.1.0", At(1950, 7, 1, 12, 0), -4 * 3600},
      {"year_2100_substituted", "EST5EDT,M3.2.0,M11.1.0", At(2100, 1, 10, 12, 0), -5 * 3600},
      {"year_9999", "XYZ-2", At(9999, 12, 31, 23, 59), 2 * 3600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FixedZone zone(c.tz);
    EXPECT_EQ(UTCoffset(&c.when), c.offset);
  }
}

TEST(CurrentTime, NowAndToday) {
  FixedZone zone("UTC0");
  const time_t before = ::time(nullptr);
  a_time now{};
  timenow(&now);
  tm expected{};
  ::gmtime_r(&before, &expected);
  EXPECT_EQ(now.year, expected.tm_year + 1900);
  EXPECT_EQ(now.yearday, expected.tm_yday);
  EXPECT_EQ(now.weekday, expected.tm_wday);
  EXPECT_LT(now.microsecond, 1000000u);
  // The weekday and day of year of the system's conversion agree with our day numbers.
  a_time broken{};
  jdatetotime(timetojdate(&now), &broken);
  EXPECT_EQ(broken.weekday, now.weekday);
  EXPECT_EQ(broken.yearday, now.yearday);

  a_time today{};
  timetoday(&today);
  EXPECT_EQ(today.hour, 0);
  EXPECT_EQ(today.microsecond, 0u);
  EXPECT_EQ(jtoday(), jdate_DATE(jnow()));  // same day unless run across midnight

  a_timestamp stamp{};
  timestampnow_truncated(&stamp);
  EXPECT_EQ(stamp.microseconds % 1000000, 0u);
  timestampnow(&stamp);
  EXPECT_LT(stamp.microseconds, 60000000u);
  EXPECT_EQ(jdate_date_component(stamp.minutes), jdate_date_component(jnow()));
}

}  // namespace
