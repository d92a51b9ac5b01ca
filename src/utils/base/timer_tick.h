// Tick clocks: the process clock-tick counter that times every time-out and liveness
// interval (a_timer_tick, 100 ticks a second from times()), microseconds of the time of
// day (a_tod_tick), a nanosecond stopwatch, the time-zone offset and the current
// broken-down time.
//
// a_timer_tick widens the tick reading across wrap-around of its low 31 bits, so a
// deadline formed as sample.ticks + seconds * TicksPerSecond stays comparable with later
// samples. The process-wide clock state is kept in atomics and taken without locks.
#ifndef VQ_UTILS_BASE_TIMER_TICK_H
#define VQ_UTILS_BASE_TIMER_TICK_H

#include <cstdint>
#include <ctime>

struct a_timestamp;  // utils/etc/jdate.h

// A count of ticks of some clock; conversions use unsigned 64-bit arithmetic and truncate.
class a_tick {
 public:
  std::uint64_t ticks = 0;

  a_tick() = default;
  explicit a_tick(std::uint64_t count) : ticks(count) {}
  virtual ~a_tick() = default;

  virtual std::uint64_t ticks_per_second() const = 0;

  std::uint64_t microSeconds() const;
  std::uint64_t milliSeconds() const;
  std::uint64_t seconds() const { return ticks / ticks_per_second(); }
  std::uint64_t minutes() const { return seconds() / 60; }
  std::uint64_t hours() const { return minutes() / 60; }

 protected:
  a_tick(const a_tick&) = default;
  a_tick& operator=(const a_tick&) = default;
};

// Process clock ticks. Subtract the ticks of two samples for an interval.
class a_timer_tick : public a_tick {
 public:
  static constexpr std::uint64_t TicksPerSecond = 100;

  std::uint32_t correction = 0;  // microseconds, two's complement; see a_tod_tick

  a_timer_tick() = default;
  explicit a_timer_tick(std::uint64_t count) : a_tick(count) {}
  a_timer_tick(const a_timer_tick&) = default;
  a_timer_tick& operator=(const a_timer_tick&) = default;

  std::uint64_t ticks_per_second() const override { return TicksPerSecond; }

  // Fills this object with the current widened tick count and the current correction.
  void sample();
};

// Microseconds since 1 January 1970 UTC; 0 means that no time is set.
class a_tod_tick : public a_tick {
 public:
  static constexpr std::uint64_t TicksPerSecond = 1000000;

  a_tod_tick() = default;
  explicit a_tod_tick(std::uint64_t micros) : a_tick(micros) {}
  // The time of day of a timer sample: the microseconds its ticks lie after the ticks at
  // timelib_init, plus the time of day at timelib_init, plus the sample's correction.
  explicit a_tod_tick(const a_timer_tick& sample);
  a_tod_tick(const a_tod_tick&) = default;
  a_tod_tick& operator=(const a_tod_tick&) = default;

  std::uint64_t ticks_per_second() const override { return TicksPerSecond; }

  // Sets ticks to the current time of day.
  void sample();
  // The local date and time of this value; 0 ticks give a zero timestamp. Defined with the
  // date arithmetic (utils/etc/clock_stamps.cpp), so only users of vq_etc call it.
  void to_timestamp(a_timestamp* out) const;
};

// Records the tick count and time of day that the clocks are measured from. Returns true.
// Called once at client-environment start; a sample taken before it initialises first.
bool timelib_init();
void timelib_fini();

// Nanosecond stopwatch over gettimeofday.
class a_high_frequency_timer {
 public:
  std::int64_t cumulative = 0;     // nanoseconds of all stopped intervals
  std::int64_t start_seconds = 0;  // gettimeofday at start_timing
  std::int64_t start_microseconds = 0;

  void reset();
  void start_timing();
  // Adds the nanoseconds since start_timing to `cumulative` and returns them.
  std::int64_t stop_timing();
  // (cumulative + nanoseconds since start_timing) in seconds; `cumulative` is unchanged.
  double get_split() const;
  std::int64_t get_cumulative_ticks() const { return cumulative; }
  std::int64_t get_timer_frequency() const { return 1000000000; }
  double get_cumulative_seconds() const { return static_cast<double>(cumulative) / 1e9; }
};

// Seconds to add to UTC to get local time now (daylight saving time included).
std::int32_t GetCurrentTimeZoneAdjustment();

// Kind 0: local time now, kind 1: UTC now, copied into `out`; any other kind leaves `out`
// alone.
void FindCurrentTime(struct tm* out, int kind);

namespace vq::base {

// Widens a reading whose low 31 bits wrap: `last` is the previous widened value. The
// result has the bits 31 to 62 of `last` and the low 31 bits of `reading`, plus 2^31 when
// that falls more than 2^30 below `last` (a wrap). A smaller step back is returned as it is.
std::uint64_t Widen31(std::uint64_t last, std::uint64_t reading);

// Test seams. The tick source replaces times() (100 ticks a second), the time-of-day
// source gettimeofday (microseconds since 1970 UTC). Null restores the system's. Set them
// and call timelib_init() before sampling; not thread-safe.
using TickSource = std::uint64_t (*)();
using TimeOfDaySource = std::int64_t (*)();
void SetTickSource(TickSource source);
void SetTimeOfDaySource(TimeOfDaySource source);

}  // namespace vq::base

#endif  // VQ_UTILS_BASE_TIMER_TICK_H
