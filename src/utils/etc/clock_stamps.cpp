// Timestamps of time-of-day ticks and of fast-clock readings.
#include "utils/etc/clock_stamps.h"

#include <ctime>

#include "utils/base/fast_clock.h"
#include "utils/base/timer_tick.h"

void a_tod_tick::to_timestamp(a_timestamp* out) const {
  if (ticks == 0) {
    *out = a_timestamp{0, 0};
    return;
  }
  const std::uint64_t micros = microSeconds();
  const auto seconds = static_cast<time_t>(micros / 1000000);
  tm local{};
  ::localtime_r(&seconds, &local);
  a_time t{};
  t.year = static_cast<std::uint16_t>(local.tm_year + 1900);
  t.month = static_cast<std::uint8_t>(local.tm_mon);
  t.weekday = static_cast<std::uint8_t>(local.tm_wday);
  t.yearday = static_cast<std::uint16_t>(local.tm_yday);
  t.day = static_cast<std::uint8_t>(local.tm_mday);
  t.hour = static_cast<std::uint8_t>(local.tm_hour);
  t.minute = static_cast<std::uint8_t>(local.tm_min);
  t.second = static_cast<std::uint8_t>(local.tm_sec);
  t.microsecond = static_cast<std::uint32_t>(micros % 1000000);
  timetotimestamp(&t, out);
}

extern "C" {

void fast_tod_to_timestamp_with_base(std::uint64_t tod, a_timestamp* out,
                                     std::uint64_t base_tod, const a_timestamp* base_ts) {
  if (tod == 0) {
    *out = a_timestamp{0, 0};
    return;
  }
  timestamp_add_to_base(out, base_ts, fast_tod_diff_ts(tod, base_tod));
}

void fast_tod_to_timestamp(std::uint64_t tod, a_timestamp* out) {
  if (tod == 0) {
    *out = a_timestamp{0, 0};
    return;
  }
  std::uint64_t base_ms = 0;
  std::int64_t base_wall = 0;
  if (!vq::base::FastClockBase(&base_ms, &base_wall)) {
    (void)current_fast_tod();  // records the base
    vq::base::FastClockBase(&base_ms, &base_wall);
  }
  a_timestamp base_ts{};
  a_tod_tick(static_cast<std::uint64_t>(base_wall < 0 ? 0 : base_wall)).to_timestamp(&base_ts);
  fast_tod_to_timestamp_with_base(tod, out, base_ms, &base_ts);
}

void fast_tod_to_datetime(std::uint64_t tod, a_time* out) {
  a_timestamp stamp{};
  fast_tod_to_timestamp(tod, &stamp);
  timestamptotime(&stamp, out);
}

}  // extern "C"
