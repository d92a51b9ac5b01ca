// Tick clocks and the process-wide clock state.
#include "utils/base/timer_tick.h"

#include <sys/time.h>
#include <sys/times.h>
#include <unistd.h>

#include <atomic>
#include <limits>
#include <mutex>

namespace {

// times() counts in sysconf(_SC_CLK_TCK) units, which is 100 on Linux; we scale anyway so
// that the count stays at TicksPerSecond whatever the kernel reports.
std::uint64_t SystemTicks() {
  tms unused{};
  const clock_t now = ::times(&unused);
  static const long per_second = ::sysconf(_SC_CLK_TCK);
  const auto ticks = static_cast<std::uint64_t>(static_cast<std::int64_t>(now));
  if (per_second <= 0 || per_second == static_cast<long>(a_timer_tick::TicksPerSecond)) {
    return ticks;
  }
  return ticks * a_timer_tick::TicksPerSecond / static_cast<std::uint64_t>(per_second);
}

std::int64_t SystemTimeOfDay() {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  return static_cast<std::int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

std::atomic<vq::base::TickSource> g_tick_source{&SystemTicks};
std::atomic<vq::base::TimeOfDaySource> g_tod_source{&SystemTimeOfDay};

// Process-wide clock state. Each word is atomic, so no sample ever reads a torn value;
// threads that sample at once each widen against the last value they saw.
std::atomic<bool> g_initialised{false};
std::once_flag g_init_once;
std::atomic<std::uint64_t> g_last_ticks{0};
std::atomic<std::uint64_t> g_init_ticks{0};
std::atomic<std::uint64_t> g_sync_ticks{0};
std::atomic<std::int64_t> g_init_tod{0};
std::atomic<std::uint32_t> g_correction{0};

constexpr std::uint64_t kTicksPerDay = a_timer_tick::TicksPerSecond * 86400;

void EnsureInitialised() {
  if (g_initialised.load(std::memory_order_acquire)) return;
  std::call_once(g_init_once, [] {
    if (!g_initialised.load()) timelib_init();
  });
}

// The correction is the wall-clock time elapsed since timelib_init minus the time the
// ticks account for, in microseconds, held as a two's complement 32-bit value (clamped to
// about +-35 minutes): adding it to the tick-derived time of day follows the wall clock.
std::uint32_t ComputeCorrection(std::uint64_t widened) {
  const std::int64_t wall = g_tod_source.load()() - g_init_tod.load();
  const auto ticks = static_cast<std::int64_t>(widened - g_init_ticks.load());
  std::int64_t diff =
      wall - ticks * static_cast<std::int64_t>(1000000 / a_timer_tick::TicksPerSecond);
  if (diff > std::numeric_limits<std::int32_t>::max())
    diff = std::numeric_limits<std::int32_t>::max();
  if (diff < std::numeric_limits<std::int32_t>::min())
    diff = std::numeric_limits<std::int32_t>::min();
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(diff));
}

std::int64_t ElapsedNanos(std::int64_t start_sec, std::int64_t start_usec) {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  return (static_cast<std::int64_t>(tv.tv_sec) * 1000000000 + tv.tv_usec * 1000) -
         (start_sec * 1000000000 + start_usec * 1000);
}

}  // namespace

std::uint64_t a_tick::microSeconds() const {
  const std::uint64_t per_second = ticks_per_second();
  return per_second == 1000000 ? ticks : ticks * 1000000 / per_second;
}

std::uint64_t a_tick::milliSeconds() const {
  const std::uint64_t per_second = ticks_per_second();
  return per_second == 1000 ? ticks : ticks * 1000 / per_second;
}

void a_timer_tick::sample() {
  EnsureInitialised();
  const std::uint64_t widened = vq::base::Widen31(g_last_ticks.load(), g_tick_source.load()());
  g_last_ticks.store(widened);
  // Once a day of ticks has passed since the last synchronisation we realign with the
  // wall clock, and move the synchronisation point so that the next day's samples again
  // cost one times() call only.
  if (widened > g_sync_ticks.load() + kTicksPerDay) {
    g_correction.store(ComputeCorrection(widened));
    g_sync_ticks.store(widened);
  }
  ticks = widened;
  correction = g_correction.load();
}

a_tod_tick::a_tod_tick(const a_timer_tick& sample) {
  EnsureInitialised();
  const auto elapsed = static_cast<std::int64_t>(sample.ticks - g_init_ticks.load());
  const std::int64_t micros =
      elapsed * 1000000 / static_cast<std::int64_t>(sample.ticks_per_second()) +
      g_init_tod.load() + static_cast<std::int32_t>(sample.correction);
  ticks = micros < 0 ? 0 : static_cast<std::uint64_t>(micros);
}

void a_tod_tick::sample() {
  const std::int64_t now = g_tod_source.load()();
  ticks = now < 0 ? 0 : static_cast<std::uint64_t>(now);
}

bool timelib_init() {
  const std::uint64_t now = g_tick_source.load()();
  g_last_ticks.store(now);
  g_init_ticks.store(now);
  g_sync_ticks.store(now);
  g_init_tod.store(g_tod_source.load()());
  g_correction.store(0);
  g_initialised.store(true, std::memory_order_release);
  return true;
}

void timelib_fini() {}

void a_high_frequency_timer::reset() {
  cumulative = 0;
  start_seconds = 0;
  start_microseconds = 0;
}

void a_high_frequency_timer::start_timing() {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  start_seconds = tv.tv_sec;
  start_microseconds = tv.tv_usec;
}

std::int64_t a_high_frequency_timer::stop_timing() {
  const std::int64_t elapsed = ElapsedNanos(start_seconds, start_microseconds);
  cumulative += elapsed;
  return elapsed;
}

double a_high_frequency_timer::get_split() const {
  return static_cast<double>(cumulative + ElapsedNanos(start_seconds, start_microseconds)) /
         1e9;
}

std::int32_t GetCurrentTimeZoneAdjustment() {
  ::tzset();
  const time_t now = ::time(nullptr);
  tm local{};
  ::localtime_r(&now, &local);
  const long dst = (daylight != 0 && local.tm_isdst > 0) ? 3600 : 0;
  return static_cast<std::int32_t>(dst - timezone);
}

void FindCurrentTime(struct tm* out, int kind) {
  if (out == nullptr || (kind != 0 && kind != 1)) return;
  const time_t now = ::time(nullptr);
  tm result{};
  if (kind == 0) {
    ::localtime_r(&now, &result);
  } else {
    ::gmtime_r(&now, &result);
  }
  *out = result;
}

namespace vq::base {

std::uint64_t Widen31(std::uint64_t last, std::uint64_t reading) {
  std::uint64_t candidate = (last & 0x7FFFFFFF80000000ull) | (reading & 0x7FFFFFFFull);
  if (last > candidate + 0x40000000ull) candidate += 0x80000000ull;
  return candidate;
}

void SetTickSource(TickSource source) {
  g_tick_source.store(source != nullptr ? source : &SystemTicks);
}

void SetTimeOfDaySource(TimeOfDaySource source) {
  g_tod_source.store(source != nullptr ? source : &SystemTimeOfDay);
}

}  // namespace vq::base
