// The picture formatter: fields, case and padding rules, the twelve-hour clock, zone
// offsets, the server's pictures, out-of-range values, and output cut by the buffer;
// the validity test.
#include "utils/etc/date_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "date_test_support.h"
#include "utils/etc/timestamp_arith.h"

namespace {

using datetest::MakeTime;

std::string Format(const a_time& t, const char* picture, short zone = 0,
                   const a_jdate_langstrings* names = &JDT_english_langstrings,
                   unsigned cap = 128) {
  char buf[160];
  std::memset(buf, '#', sizeof buf);
  const unsigned n = timetostring_ex(&t, buf, cap, picture, names, nullptr, zone);
  EXPECT_LE(n, cap);
  EXPECT_EQ(buf[n], '#');  // nothing written past the count, and no terminator
  return std::string(buf, n);
}

TEST(DateFormat, PicturesTable) {
  const a_time tue = MakeTime(2024, 3, 5, 9, 5, 3, 250000);  // a Tuesday
  const a_time pm = MakeTime(2024, 3, 5, 13, 5, 0);
  const a_time midnight = MakeTime(2024, 3, 5, 0, 15, 0);
  const a_time noon_half = MakeTime(2024, 3, 5, 12, 0, 0, 500000);
  const a_time noon_05 = MakeTime(2024, 3, 5, 12, 0, 0, 50000);
  const a_time noon_0 = MakeTime(2024, 3, 5, 12, 0, 0, 0);
  struct Case {
    const a_time* time;
    const char* picture;
    short zone;
    const char* expected;
  } cases[] = {
      // The server's pictures and the client log's.
      {&tue, "hh:nn:ss", 0, "09:05:03"},
      {&tue, "yyyy-mm-dd", 0, "2024-03-05"},
      {&tue, "yyyy-mm-dd hh:nn:ss.ssssss", 0, "2024-03-05 09:05:03.250000"},
      {&tue, "yyyy-mm-dd hh:nn:ss.ssssss +hh:nn", 330, "2024-03-05 09:05:03.250000 +05:30"},
      {&tue, "yyyy-mm-dd hh:nn:ss.ssssss +hh:nn", -480, "2024-03-05 09:05:03.250000 -08:00"},
      {&tue, "yyyy-mm-dd hh:nn:ss.ssssss +hh:nn", 0, "2024-03-05 09:05:03.250000 +00:00"},
      {&tue, "hh:nn+hh:mm", -90, "09:05-01:30"},
      {&tue, "Ddd Mmm dd yyyy hh:nn:ss", 0, "Tue Mar 05 2024 09:05:03"},
      // Names: case of the run, short and long forms, cut to the run.
      {&tue, "DDD MMM", 0, "TUE MAR"},
      {&tue, "ddd mmm", 0, "tue mar"},
      {&tue, "Ddddddd", 0, "Tuesday"},
      {&tue, "Dddd", 0, "Tues"},
      {&tue, "Mmmmmmmmm", 0, "March"},
      {&tue, "MMMM", 0, "MARC"},
      // Numbers: padding, no padding for a mixed-case run, asterisks when too wide.
      {&tue, "Dd/Mm/yy", 0, "5/3/24"},
      {&tue, "Hh:nn", 0, "9:05"},
      {&tue, "yyy", 0, "***"},
      {&tue, "d j jjj", 0, "3 * 065"},
      {&tue, "iii uuuuuu", 0, "250 250000"},
      {&tue, "hh:mm", 0, "09:05"},  // M after ":" is the minute
      {&tue, "yyyy-mm-ddThh:nn", 0, "2024-03-05T09:05"},
      {&tue, "hhEe:nnFf", 0, "09:05"},
      // Twelve-hour clock.
      {&pm, "h:nn", 0, "*:05"},
      {&pm, "h:nnaa", 0, "1:05pm"},
      {&pm, "hh:nnAA", 0, "01:05PM"},
      {&midnight, "hh:nnAA", 0, "12:15AM"},
      {&tue, "hh:nnP", 0, "09:05"},
      {&pm, "hh:nnP", 0, "01:05P"},
      {&pm, "hh:nn AAA", 0, "01:05 PM"},
      // Fractions of a second.
      {&tue, "hh:nn:ss.sss", 0, "09:05:03.250"},
      {&noon_half, "hh:nn:ss.Ss", 0, "12:00:00.5"},
      {&noon_05, "hh:nn:ss.Ssssss", 0, "12:00:00.05"},
      {&noon_0, "hh:nn:ss.Ss", 0, "12:00:00.0"},
      {&tue, "ss.sssssssss", 0, "03.250000"},
      {&tue, "hh:nn:ss:sss", 0, "09:05:03:250"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.picture);
    EXPECT_EQ(Format(*c.time, c.picture, c.zone), c.expected);
  }
}

TEST(DateFormat, OutOfRangeNamesAndMissingNames) {
  a_time t = MakeTime(2024, 3, 5);
  t.month = 12;
  t.weekday = 7;
  EXPECT_EQ(Format(t, "Ddd Mmm Mmmmm"), "ERR ERR ERR");
  EXPECT_EQ(Format(t, "mm"), "13");

  a_jdate_langstrings empty{};  // a set whose messages were missing
  const a_time ok = MakeTime(2024, 3, 5, 9, 0);
  EXPECT_EQ(Format(ok, "Ddd Mmm", 0, &empty), "0 0");
  EXPECT_EQ(Format(ok, "MMM aa", 0, &empty), "000 00");
  EXPECT_EQ(Format(ok, "Mmm", 0, nullptr), "Mar");  // no set: English
}

TEST(DateFormat, BufferCutsFieldsAndLiterals) {
  const a_time t = MakeTime(2024, 3, 5, 9, 5, 3);
  struct Case {
    const char* picture;
    unsigned cap;
    const char* expected;
  } cases[] = {
      {"yyyy-mm-dd", 10, "2024-03-05"},
      {"yyyy-mm-dd", 7, "2024-03"},
      {"yyyy-mm-dd", 6, "2024-0"},
      {"yyyy-mm-dd", 0, ""},
      {"Mmmmm dd", 2, "Ma"},
      {"yyy-", 2, "**"},
      {"dd-Mmmmm", 5, "05-Ma"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.picture) + " in " + std::to_string(c.cap));
    EXPECT_EQ(Format(t, c.picture, 0, &JDT_english_langstrings, c.cap), c.expected);
  }

  char buf[8];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(timetostring_nullterm_ex(&t, buf, 0, "yyyy", nullptr, nullptr), 0u);
  EXPECT_EQ(buf[0], '#');
  EXPECT_EQ(timetostring_nullterm_ex(&t, buf, 5, "yyyy-mm-dd", nullptr, nullptr), 4u);
  EXPECT_STREQ(buf, "2024");
  EXPECT_EQ(timetostring_nullterm_ex(&t, buf, 1, "yyyy", nullptr, nullptr), 0u);
  EXPECT_STREQ(buf, "");
}

TEST(DateFormat, TsqlStylePictures) {
  const a_time t = MakeTime(2024, 3, 5, 15, 7, 9, 123456);
  struct Case {
    int style;
    const char* expected;
  } cases[] = {
      {100, "Mar 05 2024 03:07PM"},
      {101, "03/05/2024"},
      {109, "Mar 05 2024 03:07:09:123PM"},
      {113, "05 Mar 2024 15:07:09:123"},
      {120, "2024-03-05 15:07:09"},
      {121, "2024-03-05 15:07:09.123"},
      {112, "20240305"},
  };
  for (const Case& c : cases) {
    const char* picture = tsql_timestamp_format(c.style);
    ASSERT_NE(picture, nullptr) << c.style;
    SCOPED_TRACE(picture);
    EXPECT_EQ(Format(t, picture), c.expected);
  }
}

TEST(DateFormat, ValidDatetime) {
  struct Case {
    int y, m, d, h, mi, s;
    int valid;
  } cases[] = {
      {2000, 2, 29, 0, 0, 0, 1}, {1900, 2, 29, 0, 0, 0, 0},  {2024, 2, 29, 0, 0, 0, 1},
      {2023, 2, 29, 0, 0, 0, 0}, {2024, 4, 31, 0, 0, 0, 0},  {2024, 12, 31, 23, 59, 59, 1},
      {1, 1, 1, 0, 0, 0, 1},     {9999, 12, 31, 0, 0, 0, 1}, {10000, 1, 1, 0, 0, 0, 0},
      {0, 1, 1, 0, 0, 0, 0},     {2024, 1, 0, 0, 0, 0, 0},   {2024, 1, 1, 24, 0, 0, 0},
      {2024, 1, 1, 0, 60, 0, 0}, {2024, 1, 1, 0, 0, 60, 0},  {2024, 13, 1, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    a_time t{};
    t.year = static_cast<std::uint16_t>(c.y);
    t.month = static_cast<std::uint8_t>(c.m - 1);
    t.day = static_cast<std::uint8_t>(c.d);
    t.hour = static_cast<std::uint8_t>(c.h);
    t.minute = static_cast<std::uint8_t>(c.mi);
    t.second = static_cast<std::uint8_t>(c.s);
    EXPECT_EQ(validDatetime(&t), c.valid)
        << c.y << "-" << c.m << "-" << c.d << " " << c.h << ":" << c.mi << ":" << c.s;
  }
}

}  // namespace
