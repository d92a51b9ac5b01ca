// The picture parser, the free-form parser and day names: tables of texts with the
// values they give or their rejection, the server's pictures both ways, zone offsets,
// ISO week and ordinal dates, and dates taken from today.
#include "utils/etc/date_parse.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "date_test_support.h"
#include "utils/etc/date_format.h"

namespace {

using datetest::MakeTime;
using datetest::Show;

constexpr unsigned kPivot = 50;

// The expected result of a text: "" for a rejection, else the form Show() writes
// without weekday and day of year (they are checked against the oracle).
std::string Expect(int y, int m, int d, int h = 0, int mi = 0, int s = 0, unsigned us = 0) {
  return Show(MakeTime(y, m, d, h, mi, s, us));
}

std::string Today(int h = 0, int mi = 0, int s = 0) {
  a_time now{};
  timetoday(&now);
  return Expect(now.year, now.month + 1, now.day, h, mi, s);
}

std::string ByPicture(const char* text, const char* picture, unsigned pivot = kPivot) {
  a_time out{};
  if (strtotimefmt_with_century_ex(text, &out, picture, nullptr, pivot, nullptr) != 1)
    return "";
  return Show(out);
}

std::string FreeForm(const char* text, int order, short* zone = nullptr) {
  a_time out{};
  if (strtotime_with_century_ex(text, &out, order, nullptr, kPivot, nullptr, zone) != 1)
    return "";
  return Show(out);
}

TEST(PictureParse, Table) {
  struct Case {
    const char* text;
    const char* picture;
    std::string expected;
  } cases[] = {
      {"2024-03-05", "yyyy-mm-dd", Expect(2024, 3, 5)},
      {"2024/3/5", "yyyy-mm-dd", Expect(2024, 3, 5)},
      {"  2024 .03.  05  ", "yyyy.mm.dd", Expect(2024, 3, 5)},
      {"2024-03-05 09:05:03.250000", "yyyy-mm-dd hh:nn:ss.ssssss",
       Expect(2024, 3, 5, 9, 5, 3, 250000)},
      {"2024-03-05 09:05:03.25", "yyyy-mm-dd hh:nn:ss.ssssss",
       Expect(2024, 3, 5, 9, 5, 3, 250000)},
      {"2024-03-05 9:5", "yyyy-mm-dd hh:nn:ss.ssssss", Expect(2024, 3, 5, 9, 5)},
      {"09:05:03:250", "hh:nn:ss:sss", Today(9, 5, 3).replace(20, 6, "250000")},
      {"05 Mar 24", "dd Mmm yy", Expect(2024, 3, 5)},
      {"05 mar 99", "dd Mmm yy", Expect(1999, 3, 5)},
      {"05 MAR 49", "dd Mmm yy", Expect(2049, 3, 5)},
      {"Jul 04 2024", "Mmm dd yyyy", Expect(2024, 7, 4)},
      {"03/05/2024", "mm/dd/yyyy", Expect(2024, 3, 5)},
      {"20240305", "yyyymmdd", Expect(2024, 3, 5)},
      {"2024-03-05T09:05", "yyyy-mm-ddThh:nn", Expect(2024, 3, 5, 9, 5)},
      {"2024-03-05t09:05", "yyyy-mm-ddThh:nn", Expect(2024, 3, 5, 9, 5)},
      {"2024-02-29", "yyyy-mm-dd", Expect(2024, 2, 29)},
      {"2024-03-05 12:30pm", "yyyy-mm-dd hh:nnaa", Expect(2024, 3, 5, 12, 30)},
      {"2024-03-05 12:30am", "yyyy-mm-dd hh:nnaa", Expect(2024, 3, 5, 0, 30)},
      {"2024-03-05 1:05 PM", "yyyy-mm-dd hh:nn AA", Expect(2024, 3, 5, 13, 5)},
      {"2024-03-05 1:05 p", "yyyy-mm-dd hh:nn AA", Expect(2024, 3, 5, 13, 5)},
      {"09:05", "hh:nn", Today(9, 5)},
      // Rejections.
      {"2024-02-30", "yyyy-mm-dd", ""},
      {"2023-02-29", "yyyy-mm-dd", ""},
      {"1900-02-29", "yyyy-mm-dd", ""},
      {"2024-13-01", "yyyy-mm-dd", ""},
      {"2024-00-01", "yyyy-mm-dd", ""},
      {"2024-03-", "yyyy-mm-dd", ""},
      {"2024-03-05 x", "yyyy-mm-dd", ""},
      {"2024+03+05", "yyyy-mm-dd", ""},
      {"05 March 2024", "dd Mmm yyyy", ""},  // a month name is read as three characters
      {"05 Xyz 2024", "dd Mmm yyyy", ""},
      {"24:00", "hh:nn", ""},
      {"13:05am", "hh:nnaa", ""},
      {"09:60", "hh:nn", ""},
      {"05", "ss", ""},                  // seconds outside the time group
      {"09:05 2024", "hh:nn yyyy", ""},  // the time group must end the picture
      {"2024-2024", "yyyy-yyyy", ""},
      {"", "yyyy-mm-dd", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " by " + c.picture);
    EXPECT_EQ(ByPicture(c.text, c.picture), c.expected);
  }
}

TEST(FreeFormParse, Table) {
  struct Case {
    const char* text;
    int order;
    std::string expected;
  } cases[] = {
      // Server forms.
      {"2024-03-05", 1, Expect(2024, 3, 5)},
      {"2024-03-05 10:11:12.123456", 1, Expect(2024, 3, 5, 10, 11, 12, 123456)},
      {"2024-03-05 10:11:12.1234567", 1, Expect(2024, 3, 5, 10, 11, 12, 123456)},
      {"2024-03-05 10:11:12.12", 1, Expect(2024, 3, 5, 10, 11, 12, 120000)},
      {"10:11:12", 1, Today(10, 11, 12)},
      {"2024-03-05T103000", 1, Expect(2024, 3, 5, 10, 30)},
      {"2024-03-05T1030", 1, Expect(2024, 3, 5, 10, 30)},
      // ISO week and ordinal dates, compact forms.
      {"2004-W53-6", 1, Expect(2005, 1, 1)},
      {"2004W536", 1, Expect(2005, 1, 1)},
      {"2024W101", 1, Expect(2024, 3, 4)},
      {"2004-W01-1", 1, Expect(2003, 12, 29)},
      {"2005-W01", 1, Expect(2005, 1, 3)},
      {"2024-060", 1, Expect(2024, 2, 29)},
      {"2024060", 1, Expect(2024, 2, 29)},
      {"20240229", 1, Expect(2024, 2, 29)},
      {"240305", 1, Expect(2024, 3, 5)},
      // Date orders and the century pivot.
      {"5/6/07", 0, Expect(2007, 6, 5)},
      {"5/6/07", 2, Expect(2007, 5, 6)},
      {"5/6/07", 1, Expect(2005, 6, 7)},
      {"24-03-05", 1, Expect(2024, 3, 5)},
      {"99-03-05", 1, Expect(1999, 3, 5)},
      {"5.3.2024", 0, Expect(2024, 3, 5)},
      {"3/5/2024", 2, Expect(2024, 3, 5)},
      // Names.
      {"Tuesday, March 5, 2024 1:05 PM", 0, Expect(2024, 3, 5, 13, 5)},
      {"5 Mar 2024", 1, Expect(2024, 3, 5)},
      {"Mar 5 2024", 0, Expect(2024, 3, 5)},
      {"march 2024", 0, Expect(2024, 3, 1)},
      {"2024 Mar 5", 1, Expect(2024, 3, 5)},
      {"2024", 1, Expect(2024, 1, 1)},
      // Times: midnight as 24:00, indicators.
      {"2024-12-31 24:00", 1, Expect(2025, 1, 1)},
      {"2024-02-28 24:00:00", 1, Expect(2024, 2, 29)},
      {"2024-03-05 12:30 am", 1, Expect(2024, 3, 5, 0, 30)},
      {"2024-03-05 12:30 pm", 1, Expect(2024, 3, 5, 12, 30)},
      {"2024-03-05 1:30 p", 1, Expect(2024, 3, 5, 13, 30)},
      {"2024-03-05 11:30 A", 1, Expect(2024, 3, 5, 11, 30)},
      // Rejections.
      {"", 1, ""},
      {"   ", 1, ""},
      {"T", 1, ""},
      {"hello", 1, ""},
      {"24", 1, ""},  // a lone two-digit year
      {"12345", 1, ""},
      {"123456789", 1, ""},
      {"2024-13-05", 1, ""},
      {"2024-02-30", 1, ""},
      {"2023-02-29", 1, ""},
      {"2024--03-05", 1, ""},
      {"/2024-03-05", 1, ""},
      {"2024-03-05/06", 1, ""},
      {"2024-000", 1, ""},
      {"2023-366", 1, ""},
      {"2024-W54", 1, ""},
      {"2024-W10-8", 1, ""},
      {"W10", 1, ""},  // a week needs a year
      {"2024-03-05 24:01", 1, ""},
      {"2024-03-05 13:00 am", 1, ""},
      {"2024-03-05 00:30 pm", 1, ""},
      {"2024-03-05 am", 1, ""},
      {"2024-03-05 10:00 11:00", 1, ""},
      {"Mon Tue 2024-03-05", 1, ""},
      {"Mar April 2024", 1, ""},
      {"1/2/3/4", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\" order " + std::to_string(c.order));
    short zone = 7;
    EXPECT_EQ(FreeForm(c.text, c.order, &zone), c.expected);
    if (!c.expected.empty()) {
      EXPECT_EQ(zone, -1);
    }
  }
}

TEST(FreeFormParse, ZoneOffsets) {
  struct Case {
    const char* text;
    std::string expected;
    short zone;
  } cases[] = {
      {"2024-03-05 10:00+05:30", Expect(2024, 3, 5, 10), 330},
      {"2024-03-05 10:00 +0530", Expect(2024, 3, 5, 10), 330},
      {"2024-03-05 10:00+05", Expect(2024, 3, 5, 10), 300},
      {"2024-03-05T10:00:00Z", Expect(2024, 3, 5, 10), 0},
      {"2024-03-05 10:00-0800", Expect(2024, 3, 5, 10), -480},
      {"2024-03-05 10:00:00.5 -08:00", Expect(2024, 3, 5, 10, 0, 0, 500000), -480},
      {"2024-03-05 10:11:12.123456 +14:00", Expect(2024, 3, 5, 10, 11, 12, 123456), 840},
      {"10:00-08:00", Today(10), -480},
      // Rejections.
      {"2024-03-05 10:00+15:00", "", -1},
      {"2024-03-05 10:00+05:60", "", -1},
      {"2024-03-05 10:00+05:30+01:00", "", -1},
      {"2024-03-05 10:00+05:30Z", "", -1},
      {"2024-03-05 10:00+", "", -1},
      {"2024-03-05 10:00+12345", "", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    short zone = 7;
    EXPECT_EQ(FreeForm(c.text, 1, &zone), c.expected);
    if (!c.expected.empty()) {
      EXPECT_EQ(zone, c.zone);
    }
  }
  // Without a place for it the zone is read and dropped.
  EXPECT_EQ(FreeForm("2024-03-05 10:00+05:30", 1, nullptr), Expect(2024, 3, 5, 10));
}

TEST(DateText, ServerPicturesRoundTrip) {
  const a_time times[] = {
      MakeTime(1, 1, 1),
      MakeTime(1900, 2, 28, 23, 59, 59, 999999),
      MakeTime(2000, 2, 29, 12, 0, 0, 1),
      MakeTime(2024, 12, 31, 0, 0, 0, 0),
      MakeTime(9999, 12, 31, 23, 59, 59, 999999),
  };
  const short zones[] = {0, 330, -480, -59, 14 * 60};
  for (const a_time& t : times) {
    SCOPED_TRACE(Show(t));
    char text[64];
    ASSERT_GT(timetostring_nullterm_ex(&t, text, sizeof text, "yyyy-mm-dd hh:nn:ss.ssssss",
                                       nullptr, nullptr),
              0u);
    EXPECT_EQ(ByPicture(text, "yyyy-mm-dd hh:nn:ss.ssssss"), Show(t)) << text;
    EXPECT_EQ(FreeForm(text, 1), Show(t)) << text;
    // The client log's picture, read back free-form (no fraction in it).
    a_time whole = t;
    whole.microsecond = 0;
    timetostring_nullterm_ex(&t, text, sizeof text, "Ddd Mmm dd yyyy hh:nn:ss", nullptr,
                             nullptr);
    EXPECT_EQ(FreeForm(text, 0), Show(whole)) << text;
    for (short zone : zones) {
      const unsigned n =
          timetostring_ex(&t, text, sizeof text - 1, "yyyy-mm-dd hh:nn:ss.ssssss +hh:nn",
                          nullptr, nullptr, zone);
      text[n] = '\0';
      short read = 7;
      EXPECT_EQ(FreeForm(text, 1, &read), Show(t)) << text;
      EXPECT_EQ(read, zone) << text;
    }
  }
}

TEST(DateText, WeekdayNames) {
  const a_jdate_name_sets english = {1, {&JDT_english_langstrings, nullptr, nullptr}};
  const a_jdate_name_sets none = {0, {nullptr, nullptr, nullptr}};
  struct Case {
    const char* text;
    int weekday;
  } cases[] = {
      {"Sunday", 0}, {"monday", 1}, {"TUE", 2},       {"Wed", 3}, {"Thu", 4},  {"Fr", 5},
      {"Sa", 6},     {"S", -1},     {"Tuesdays", -1}, {"", -1},   {"Xyz", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(strtoweekday_ex(c.text, nullptr, &english), c.weekday) << c.text;
  }
  EXPECT_EQ(strtoweekday_ex("Monday", nullptr, &none), -1);
  EXPECT_EQ(strtoweekday_ex("Monday", nullptr, nullptr), -1);
}

TEST(DateText, NameMatching) {
  const char* const months[] = {"January", "June", "July", nullptr};
  struct Case {
    const char* text;
    std::size_t len;
    int matched;
    std::size_t bytes;
    int index;
  } cases[] = {
      {"Jun ", 4, 1, 3, 1},    {"Jul", 3, 1, 3, 2},  {"Ju", 2, 1, 2, 1},
      {"Jux", 3, 0, 0, 0},     {"J", 1, 0, 0, 0},    {"jUNE", 4, 1, 4, 1},
      {"Jun5", 4, 1, 3, 1},    {"Junk", 4, 0, 0, 0}, {"Januaryx", 8, 0, 0, 0},
      {"January", 3, 1, 3, 0},
  };
  for (const Case& c : cases) {
    std::size_t m = 99;
    int index = 99;
    EXPECT_EQ(match_date_name(months, c.text, c.len, &m, &index, nullptr), c.matched) << c.text;
    if (c.matched == 1) {
      EXPECT_EQ(m, c.bytes) << c.text;
      EXPECT_EQ(index, c.index) << c.text;
    }
  }
}

}  // namespace

namespace {

// Arbitrary bytes never crash the parsers or the formatter, and every accepted text
// gives a valid date and time.
TEST(DateText, ArbitraryTextIsHandled) {
  const char alphabet[] = "0123456789-/.:,+TWZ apmAPMJanMarchSunday\t\xC3\xA4\xFF";
  std::uint32_t seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
  };
  for (int round = 0; round < 20000; ++round) {
    char text[24];
    const unsigned len = next() % (sizeof text);
    for (unsigned i = 0; i < len; ++i) text[i] = alphabet[next() % (sizeof alphabet - 1)];
    text[len] = '\0';
    a_time out{};
    short zone = 0;
    if (strtotime_with_century_ex(text, &out, static_cast<int>(next() % 3), nullptr, 50,
                                  nullptr, &zone) == 1) {
      EXPECT_EQ(validDatetime(&out), 1) << text;
      EXPECT_TRUE(zone == -1 || (zone >= -(14 * 60 + 59) && zone <= 14 * 60 + 59)) << text;
    }
    if (strtotimefmt_with_century_ex(text, &out, "yyyy-mm-dd hh:nn:ss.ssssss", nullptr, 50,
                                     nullptr) == 1) {
      EXPECT_EQ(validDatetime(&out), 1) << text;
    }
    char buf[16];
    const a_time t = MakeTime(2024, 3, 5, 13, 7, 9, 123456);
    EXPECT_LE(timetostring_ex(&t, buf, sizeof buf, text, nullptr, nullptr,
                              static_cast<short>(next() % 2000) - 1000),
              sizeof buf);
  }
}

}  // namespace
