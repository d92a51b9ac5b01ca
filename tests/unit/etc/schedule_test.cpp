// Schedule texts: the recurring forms, every kind of item at times before, inside and
// after its window, windows across midnight, days of the month across month and year
// ends, the soonest of several items, and malformed texts. The expected minutes come
// from the independent calendar.
#include "utils/etc/schedule.h"

#include <gtest/gtest.h>

#include <string>

#include "date_test_support.h"

namespace {

constexpr unsigned kNever = 0xFFFFFFFFu;

// Minutes from one local date and time to another, by the independent calendar.
std::int64_t MinutesBetween(oracle::Date a, int ah, int am, oracle::Date b, int bh, int bm) {
  return (oracle::DayNumber(b) - oracle::DayNumber(a)) * 1440 + (bh * 60 + bm) - (ah * 60 + am);
}

class Schedule : public ::testing::Test {
 protected:
  // The schedule reads only the time it is given; the zone is fixed all the same, so
  // that no result can depend on the machine's.
  datetest::FixedTz tz_{"Europe/Berlin"};
  const a_jdate_name_sets english_ = {1, {&JDT_english_langstrings, nullptr, nullptr}};
};

TEST_F(Schedule, RecurringForms) {
  struct Case {
    const char* text;
    int ok;
    unsigned start, end;
  } cases[] = {
      {"INFINITE", 1, kNever, kNever}, {"infinite", 1, kNever, kNever},
      {"EVERY:1:30", 1, 90, 90},       {"every:0001:05", 1, 65, 65},
      {"EVERY:1:5", 1, 65, 65},        {"EVERY:9999:59", 1, 9999 * 60 + 59, 9999 * 60 + 59},
      {"EVERY:1:30PM", 0, 0, 0},       {"EVERY:12345:00", 0, 0, 0},
      {"EVERY:1:60", 0, 0, 0},         {"EVERY:1", 0, 0, 0},
      {"EVERY:1:30 ", 0, 0, 0},        {"INFINITE ", 0, 0, 0},
      {"EVERY::30", 0, 0, 0},
  };
  const jdate now = jday(3, 5, 2024) + 10 * 60;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    unsigned recurring = 7, start = 0, end = 0;
    ASSERT_EQ(parseSchedule(&english_, nullptr, c.text, now, &recurring, &start, &end), c.ok);
    if (c.ok == 1) {
      EXPECT_EQ(recurring, 1u);
      EXPECT_EQ(start, c.start);
      EXPECT_EQ(end, c.end);
    }
  }
}

TEST_F(Schedule, WindowsTable) {
  struct Case {
    const char* text;
    oracle::Date day;
    int hour, minute;
    std::int64_t start, end;
  } cases[] = {
      // Every day, inside, before and after the window; across midnight.
      {"EVERYDAY@9:00-17:00", {2024, 3, 5}, 10, 0, 0, 420},
      {"EVERYDAY@9:00-17:00", {2024, 3, 5}, 18, 0, 900, 1380},
      {"EVERYDAY@9:00-17:00", {2024, 3, 5}, 7, 30, 90, 570},
      {"EVERYDAY@9:00-17:00", {2024, 3, 5}, 17, 0, 0, 0},
      {"everyday@9:00am-5:00pm", {2024, 3, 5}, 10, 0, 0, 420},
      {"EVERYDAY@22:00-06:00", {2024, 3, 5}, 23, 0, 0, 420},
      {"EVERYDAY@22:00-06:00", {2024, 3, 5}, 5, 0, 0, 60},
      {"EVERYDAY@22:00-06:00", {2024, 3, 5}, 12, 0, 600, 1080},
      {"EVERYDAY@12:00AM", {2024, 3, 5}, 23, 0, 60, 60},
      {"EVERYDAY@24:00", {2024, 3, 5}, 23, 0, 60, 60},
      {"EVERYDAY@9:00,EVERYDAY@8:00", {2024, 3, 5}, 7, 0, 60, 60},
      {"EVERYDAY@8:00,EVERYDAY@8:00-9:00", {2024, 3, 5}, 7, 0, 60, 60},  // first of equals
      // Monday to Friday (2024-03-09 is a Saturday).
      {"WEEKDAY@9:00",
       {2024, 3, 9},
       12,
       0,
       MinutesBetween({2024, 3, 9}, 12, 0, {2024, 3, 11}, 9, 0),
       MinutesBetween({2024, 3, 9}, 12, 0, {2024, 3, 11}, 9, 0)},
      {"WEEKDAY@9:00", {2024, 3, 10}, 10, 0, 1380, 1380},
      {"WEEKDAY@9:00", {2024, 3, 8}, 10, 0, 4260, 4260},
      {"weekday@9:00-17:00", {2024, 3, 8}, 10, 0, 0, 420},
      {"WEEKDAY@9:00", {2024, 3, 11}, 8, 0, 60, 60},
      {"WEEKDAY@9:00", {2024, 3, 12}, 10, 0, 1380, 1380},
      // A day of the week (2024-03-05 is a Tuesday).
      {"Monday@9:00-10:00", {2024, 3, 5}, 10, 0, 8580, 8640},
      {"mon@9:00-10:00", {2024, 3, 4}, 9, 30, 0, 30},
      {"Tue@9:00", {2024, 3, 5}, 8, 0, 60, 60},
      {"Sunday@23:00-01:00", {2024, 3, 4}, 0, 30, 0, 30},
      {"SATURDAY@12:00PM", {2024, 3, 5}, 10, 0, 4 * 1440 + 120, 4 * 1440 + 120},
      // Days of the month: the last day, months without the day, year ends.
      {"0@12:00", {2024, 2, 10}, 12, 0, 19 * 1440, 19 * 1440},
      {"0@12:00", {2023, 2, 10}, 12, 0, 18 * 1440, 18 * 1440},
      {"31@12:00",
       {2024, 4, 10},
       10,
       0,
       MinutesBetween({2024, 4, 10}, 10, 0, {2024, 5, 31}, 12, 0),
       MinutesBetween({2024, 4, 10}, 10, 0, {2024, 5, 31}, 12, 0)},
      {"31@12:00",
       {2024, 3, 31},
       13,
       0,
       MinutesBetween({2024, 3, 31}, 13, 0, {2024, 5, 31}, 12, 0),
       MinutesBetween({2024, 3, 31}, 13, 0, {2024, 5, 31}, 12, 0)},
      {"31@12:00",
       {2024, 12, 31},
       13,
       0,
       MinutesBetween({2024, 12, 31}, 13, 0, {2025, 1, 31}, 12, 0),
       MinutesBetween({2024, 12, 31}, 13, 0, {2025, 1, 31}, 12, 0)},
      {"30@12:00",
       {2023, 1, 31},
       0,
       0,
       MinutesBetween({2023, 1, 31}, 0, 0, {2023, 3, 30}, 12, 0),
       MinutesBetween({2023, 1, 31}, 0, 0, {2023, 3, 30}, 12, 0)},
      {"29@12:00",
       {2023, 2, 1},
       0,
       0,
       MinutesBetween({2023, 2, 1}, 0, 0, {2023, 3, 29}, 12, 0),
       MinutesBetween({2023, 2, 1}, 0, 0, {2023, 3, 29}, 12, 0)},
      {"15@09:00-17:00", {2024, 1, 15}, 10, 0, 0, 420},
      {"15@09:00-17:00",
       {2024, 1, 15},
       18,
       0,
       MinutesBetween({2024, 1, 15}, 18, 0, {2024, 2, 15}, 9, 0),
       MinutesBetween({2024, 1, 15}, 18, 0, {2024, 2, 15}, 17, 0)},
      {"1@09:00",
       {2024, 12, 20},
       0,
       0,
       MinutesBetween({2024, 12, 20}, 0, 0, {2025, 1, 1}, 9, 0),
       MinutesBetween({2024, 12, 20}, 0, 0, {2025, 1, 1}, 9, 0)},
      {"0@23:00-01:00", {2024, 2, 29}, 23, 30, 0, 90},
      {"EVERYDAY@23:00,1@0:30", {2024, 1, 31}, 22, 0, 60, 60},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " at " + std::to_string(c.day.y) + "-" +
                 std::to_string(c.day.m) + "-" + std::to_string(c.day.d) + " " +
                 std::to_string(c.hour) + ":" + std::to_string(c.minute));
    const jdate now = jday(static_cast<unsigned>(c.day.m), static_cast<unsigned>(c.day.d),
                           static_cast<unsigned>(c.day.y)) +
                      static_cast<jdate>(c.hour * 60 + c.minute);
    unsigned recurring = 7, start = 0, end = 0;
    ASSERT_EQ(parseSchedule(&english_, nullptr, c.text, now, &recurring, &start, &end), 1);
    EXPECT_EQ(recurring, 0u);
    EXPECT_EQ(start, static_cast<unsigned>(c.start));
    EXPECT_EQ(end, static_cast<unsigned>(c.end));
  }
}

// Past year 7910 a jdate holds the day alone; the day of the month still comes from it.
TEST_F(Schedule, DayFormOfLateYears) {
  const jdate now = jday(1, 20, 8000);
  ASSERT_GE(now, kJdateDayForm);
  unsigned recurring = 7, start = 0, end = 0;
  ASSERT_EQ(parseSchedule(&english_, nullptr, "1@09:00", now, &recurring, &start, &end), 1);
  const auto expected =
      static_cast<unsigned>(MinutesBetween({8000, 1, 20}, 0, 0, {8000, 2, 1}, 9, 0));
  EXPECT_EQ(start, expected);
  EXPECT_EQ(end, expected);
}

TEST_F(Schedule, MalformedTexts) {
  const char* const texts[] = {
      "",
      "EVERYDAY@",
      "EVERYDAY@9",
      "EVERYDAY@9:",
      "EVERYDAY@9:00-",
      "EVERYDAY@9:00 ",
      "EVERYDAY@ 9:00",
      "EVERYDAY@9:00,",
      "EVERYDAY@009:00",
      "EVERYDAY@9:000",
      "EVERYDAY@9:60",
      "EVERYDAY@25:00",
      "EVERYDAY@13:00PM",
      "EVERYDAY@0:30AM",
      "EVERYDAY@9:00XM",
      "EVERYDAY@9:00-10:00-11:00",
      "EVERYDAY9:00",
      "WEEKDAYS@9:00",
      "Funday@9:00",
      "Monday9:00",
      "32@9:00",
      "123@9:00",
      "@9:00",
      "9:00",
  };
  const jdate now = jday(3, 5, 2024) + 10 * 60;
  for (const char* text : texts) {
    unsigned recurring = 7, start = 0, end = 0;
    EXPECT_EQ(parseSchedule(&english_, nullptr, text, now, &recurring, &start, &end), 0)
        << text;
  }
  // The items before the error have set the results.
  unsigned recurring = 7, start = 0, end = 0;
  EXPECT_EQ(
      parseSchedule(&english_, nullptr, "EVERYDAY@11:00,bad", now, &recurring, &start, &end),
      0);
  EXPECT_EQ(recurring, 0u);
  EXPECT_EQ(start, 60u);
  EXPECT_EQ(end, 60u);
  EXPECT_EQ(parseSchedule(&english_, nullptr, nullptr, now, &recurring, &start, &end), 0);
}

}  // namespace
