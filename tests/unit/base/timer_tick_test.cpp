// Tick clocks driven by injected tick and time-of-day sources: widening across
// wrap-around, conversions, the daily correction, and the fast clock.
#include "utils/base/timer_tick.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "utils/base/fast_clock.h"

namespace {

using vq::base::Widen31;

TEST(Widen31, TableOfReadings) {
  struct Case {
    const char* name;
    std::uint64_t last;
    std::uint64_t reading;
    std::uint64_t widened;
  } cases[] = {
      {"forward", 100, 150, 150},
      {"wrap_of_low_31_bits", 0x7FFFFFF0, 0x00000010, 0x80000010},
      {"wrap_higher_up", 0x37FFFFFF0ull, 0x5, 0x380000005ull},
      {"small_step_back_kept", 0x50000000, 0x4FFFFFF0, 0x4FFFFFF0},
      {"step_back_just_under_2^30", 0x40000000, 0x00000001, 0x00000001},
      {"step_back_over_2^30_is_a_wrap", 0x40000002, 0x00000001, 0x80000001},
      {"bit_31_of_reading_ignored", 0x10, 0x80000020, 0x20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Widen31(c.last, c.reading), c.widened);
  }
}

// Fake sources the tests move by hand.
std::uint64_t g_ticks = 0;
std::int64_t g_tod_us = 0;
int g_tod_reads = 0;
std::uint64_t FakeTicks() { return g_ticks; }
std::int64_t FakeTod() {
  ++g_tod_reads;
  return g_tod_us;
}

class TimerTick : public ::testing::Test {
 protected:
  void SetUp() override {
    vq::base::SetTickSource(&FakeTicks);
    vq::base::SetTimeOfDaySource(&FakeTod);
  }
  void TearDown() override {
    vq::base::SetTickSource(nullptr);
    vq::base::SetTimeOfDaySource(nullptr);
    timelib_init();
  }
  void Start(std::uint64_t ticks, std::int64_t tod_us) {
    g_ticks = ticks;
    g_tod_us = tod_us;
    ASSERT_TRUE(timelib_init());
    g_tod_reads = 0;
  }
};

TEST_F(TimerTick, SamplesGrowAcrossTheWrap) {
  Start(0x7FFFFF00, 1000000);
  a_timer_tick before;
  before.sample();
  EXPECT_EQ(before.ticks, 0x7FFFFF00u);
  g_ticks = 0x7FFFFFF0;
  a_timer_tick deadline_base;
  deadline_base.sample();
  const std::uint64_t deadline = deadline_base.ticks + 2 * a_timer_tick::TicksPerSecond;
  g_ticks = 0x00000010;  // the source wrapped its low 31 bits
  a_timer_tick after;
  after.sample();
  EXPECT_EQ(after.ticks - deadline_base.ticks, 0x20u);
  EXPECT_LT(after.ticks, deadline);  // 0.32 s later: the 2 s deadline is still ahead
  g_ticks = 0x000000E0;
  after.sample();
  EXPECT_GT(after.ticks, deadline);
  EXPECT_EQ(g_tod_reads, 0);  // the common case costs no time-of-day read
}

TEST_F(TimerTick, IntervalConversions) {
  a_timer_tick interval(250);
  EXPECT_EQ(interval.milliSeconds(), 2500u);
  EXPECT_EQ(interval.microSeconds(), 2500000u);
  EXPECT_EQ(interval.seconds(), 2u);
  EXPECT_EQ(interval.minutes(), 0u);
  a_timer_tick long_one(100ull * 3600 * 5 + 99);
  EXPECT_EQ(long_one.hours(), 5u);
  EXPECT_EQ(long_one.minutes(), 300u);

  a_tod_tick tod(1234567);
  EXPECT_EQ(tod.microSeconds(), 1234567u);
  EXPECT_EQ(tod.milliSeconds(), 1234u);
  EXPECT_EQ(tod.seconds(), 1u);
}

TEST_F(TimerTick, TimeOfDayOfASample) {
  Start(5000, 1700000000000000);
  a_timer_tick sample;
  g_ticks = 5000 + 1234;
  sample.sample();
  EXPECT_EQ(sample.correction, 0u);
  EXPECT_EQ(a_tod_tick(sample).ticks, 1700000000000000u + 12340000u);
  a_tod_tick now;
  g_tod_us = 1700000000123456;
  now.sample();
  EXPECT_EQ(now.ticks, 1700000000123456u);
}

TEST_F(TimerTick, DailyCorrectionFollowsTheWallClockOncePerDay) {
  const std::uint64_t day = a_timer_tick::TicksPerSecond * 86400;
  Start(1000, 1700000000000000);
  a_timer_tick sample;
  g_ticks = 1000 + day;  // exactly one day: not yet past it
  sample.sample();
  EXPECT_EQ(g_tod_reads, 0);
  // A little past one day of ticks, the wall clock has run 3 s further than the ticks.
  g_ticks = 1000 + day + 10;
  g_tod_us = 1700000000000000 + static_cast<std::int64_t>(day + 10) * 10000 + 3000000;
  sample.sample();
  EXPECT_EQ(g_tod_reads, 1);
  EXPECT_EQ(sample.correction, 3000000u);
  EXPECT_EQ(a_tod_tick(sample).ticks, static_cast<std::uint64_t>(g_tod_us));
  // Later samples of that day reuse the correction without another time-of-day read.
  g_ticks += 500;
  sample.sample();
  sample.sample();
  EXPECT_EQ(g_tod_reads, 1);
  EXPECT_EQ(sample.correction, 3000000u);

  // A wall clock behind the ticks gives a negative correction, which is subtracted.
  g_ticks += day + 1;
  const std::int64_t by_ticks =
      1700000000000000 + static_cast<std::int64_t>(g_ticks - 1000) * 10000;
  g_tod_us = by_ticks - 250000;
  sample.sample();
  EXPECT_EQ(g_tod_reads, 2);
  EXPECT_EQ(static_cast<std::int32_t>(sample.correction), -250000);
  EXPECT_EQ(a_tod_tick(sample).ticks, static_cast<std::uint64_t>(g_tod_us));
}

std::int64_t g_wall_us = 0;
std::int64_t FakeWall() { return g_wall_us; }

TEST(FastClock, ReadingsDifferencesAndBase) {
  g_wall_us = 1700000000500000;
  vq::base::SetFastClockSource(&FakeWall);
  std::uint64_t base_ms = 0;
  std::int64_t base_wall = 0;
  EXPECT_FALSE(vq::base::FastClockBase(&base_ms, &base_wall));

  EXPECT_EQ(unix_clock(), 3600000);  // the first reading: one hour after the base
  std::uint64_t first = 0;
  fast_tod(&first);
  EXPECT_EQ(first, 3600000u);
  ASSERT_TRUE(vq::base::FastClockBase(&base_ms, &base_wall));
  EXPECT_EQ(base_ms, 3600000u);
  EXPECT_EQ(base_wall, 1700000000500000);

  g_wall_us += 1234999;
  const std::uint64_t second = current_fast_tod();
  EXPECT_EQ(second, 3601234u);
  EXPECT_EQ(current_fast_timer(), second);
  EXPECT_EQ(fast_tod_diff_ms(second, first), 1234);
  EXPECT_EQ(fast_tod_diff_ms(first, second), -1234);
  EXPECT_EQ(fast_tod_diff_ts(second, first), 1234000);
  EXPECT_EQ(fast_tod_diff_ts(first, second), -1234000);
  ASSERT_TRUE(vq::base::FastClockBase(&base_ms, &base_wall));
  EXPECT_EQ(base_ms, 3600000u);  // the base stays that of the first reading

  // A wall clock set back before the base reads 0, never a negative number.
  g_wall_us -= 7200LL * 1000000;
  EXPECT_EQ(unix_clock(), 0);
  // Fractions of a millisecond truncate toward zero.
  g_wall_us = 1700000000500000 - 3600LL * 1000000 + 1999;
  EXPECT_EQ(unix_clock(), 1);
  vq::base::SetFastClockSource(nullptr);
}

TEST(FastClock, RealClockStartsNearOneHour) {
  vq::base::SetFastClockSource(nullptr);
  const std::int64_t first = unix_clock();
  EXPECT_GE(first, 3600000);
  EXPECT_LT(first, 3600000 + 60000);
  std::uint64_t a = 0;
  std::uint64_t b = 0;
  fast_timer(&a);
  fast_tod(&b);
  EXPECT_GE(b, a);
}

TEST(CurrentTime, KindsAndZoneAdjustment) {
  struct tm out;
  std::memset(&out, 0x5A, sizeof out);
  struct tm before = out;
  FindCurrentTime(&out, 2);
  EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0);
  FindCurrentTime(&out, -1);
  EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0);

  const char* old_tz = std::getenv("TZ");
  const std::string saved = old_tz != nullptr ? old_tz : "";
  ::setenv("TZ", "UTC0", 1);
  FindCurrentTime(&out, 1);
  struct tm local;
  FindCurrentTime(&local, 0);
  EXPECT_EQ(out.tm_hour, local.tm_hour);
  EXPECT_GE(out.tm_year, 120);
  EXPECT_EQ(GetCurrentTimeZoneAdjustment(), 0);
  ::setenv("TZ", "EST5", 1);  // a zone without daylight saving time
  EXPECT_EQ(GetCurrentTimeZoneAdjustment(), -5 * 3600);
  ::setenv("TZ", "XYZ-3", 1);
  EXPECT_EQ(GetCurrentTimeZoneAdjustment(), 3 * 3600);
  if (old_tz != nullptr) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

TEST(HighFrequencyTimer, AccumulatesStoppedIntervals) {
  a_high_frequency_timer timer;
  timer.cumulative = 77;
  timer.reset();
  EXPECT_EQ(timer.get_cumulative_ticks(), 0);
  EXPECT_EQ(timer.get_timer_frequency(), 1000000000);
  timer.start_timing();
  const std::int64_t first = timer.stop_timing();
  EXPECT_GE(first, 0);
  EXPECT_EQ(timer.get_cumulative_ticks(), first);
  timer.cumulative = 2500000000;
  timer.start_timing();
  const double split = timer.get_split();
  EXPECT_GE(split, 2.5);
  EXPECT_LT(split, 60.0);
  EXPECT_EQ(timer.get_cumulative_ticks(), 2500000000);  // a split changes nothing
  EXPECT_DOUBLE_EQ(timer.get_cumulative_seconds(), 2.5);
}

}  // namespace
