// Timestamps of time-of-day ticks and fast-clock readings, under a fixed time zone and an
// injected wall clock.
#include "utils/etc/clock_stamps.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "utils/base/fast_clock.h"
#include "utils/base/timer_tick.h"

namespace {

class UtcZone : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) saved_ = old;
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
  }
  void TearDown() override {
    vq::base::SetFastClockSource(nullptr);
    if (had_) {
      ::setenv("TZ", saved_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  bool had_ = false;
  std::string saved_;
};

// 2020-02-29 12:34:56.789012 UTC
constexpr std::int64_t kLeapNoonUs = 1582979696789012;

TEST_F(UtcZone, TodTickToTimestamp) {
  a_timestamp out{1, 1};
  a_tod_tick(0).to_timestamp(&out);
  EXPECT_EQ(out.minutes, 0u);
  EXPECT_EQ(out.microseconds, 0u);

  a_tod_tick(kLeapNoonUs).to_timestamp(&out);
  EXPECT_EQ(out.minutes, jday(2, 29, 2020) + 12 * 60 + 34);
  EXPECT_EQ(out.microseconds, 56789012u);
}

std::int64_t g_wall_us = 0;
std::int64_t FakeWall() { return g_wall_us; }

TEST_F(UtcZone, FastClockReadingsBecomeTimestamps) {
  g_wall_us = kLeapNoonUs;
  vq::base::SetFastClockSource(&FakeWall);
  a_timestamp out{7, 7};
  fast_tod_to_timestamp(0, &out);
  EXPECT_EQ(out.minutes, 0u);
  EXPECT_EQ(out.microseconds, 0u);

  const std::uint64_t first = current_fast_tod();  // records the base
  fast_tod_to_timestamp(first, &out);
  EXPECT_EQ(out.minutes, jday(2, 29, 2020) + 12 * 60 + 34);
  EXPECT_EQ(out.microseconds, 56789012u);

  // Across midnight into 1 March; the clock counts whole milliseconds from the base,
  // whose own microseconds stay in the timestamp.
  g_wall_us += (11LL * 3600 + 25 * 60 + 4) * 1000000 + 1234;
  const std::uint64_t later = current_fast_tod();
  fast_tod_to_timestamp(later, &out);
  EXPECT_EQ(out.minutes, jday(3, 1, 2020) + 0 * 60 + 0);
  EXPECT_EQ(out.microseconds, 790012u);

  a_time t{};
  fast_tod_to_datetime(later, &t);
  EXPECT_EQ(t.year, 2020);
  EXPECT_EQ(t.month, 2);
  EXPECT_EQ(t.day, 1);
  EXPECT_EQ(t.second, 0);
  EXPECT_EQ(t.microsecond, 790012u);

  // An explicit base: a reading before the base moves the timestamp back.
  const a_timestamp base{jday(1, 1, 2000), 0};
  fast_tod_to_timestamp_with_base(1000, &out, 1000 + 1500, &base);
  EXPECT_EQ(out.minutes, jday(12, 31, 1999) + 23 * 60 + 59);
  EXPECT_EQ(out.microseconds, 58500000u);
  fast_tod_to_timestamp_with_base(0, &out, 5, &base);
  EXPECT_EQ(out.minutes, 0u);
}

TEST_F(UtcZone, FirstConversionRecordsTheBase) {
  g_wall_us = kLeapNoonUs;
  vq::base::SetFastClockSource(&FakeWall);  // forgets any earlier base
  a_timestamp out{};
  fast_tod_to_timestamp(3600000, &out);  // the first reading of a fresh clock
  EXPECT_EQ(out.minutes, jday(2, 29, 2020) + 12 * 60 + 34);
  EXPECT_EQ(out.microseconds, 56789012u);
}

}  // namespace
