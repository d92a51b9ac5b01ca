// The fast clock: milliseconds of wall-clock time counted from one hour before the
// process's first reading, cheap to read (one gettimeofday, no conversion). Readings are
// turned into timestamps against a base taken at the first fast_tod reading; those
// conversions live with the date arithmetic (utils/etc/clock_stamps.h).
#ifndef VQ_UTILS_BASE_FAST_CLOCK_H
#define VQ_UTILS_BASE_FAST_CLOCK_H

#include <cstdint>

extern "C" {

// Milliseconds since a base recorded at the first call as "now minus one hour", so the
// first reading is about 3,600,000. Never negative: a wall clock set back before the base
// reads 0.
std::int64_t unix_clock(void);

// The current fast-clock value. The first call also records the base used by
// fast_tod_to_timestamp. fast_timer is the same clock under its other name.
void fast_tod(std::uint64_t* out);
void fast_timer(std::uint64_t* out);
std::uint64_t current_fast_tod(void);
std::uint64_t current_fast_timer(void);

// a - b in milliseconds, and in microseconds.
std::int64_t fast_tod_diff_ms(std::uint64_t a, std::uint64_t b);
std::int64_t fast_tod_diff_ts(std::uint64_t a, std::uint64_t b);

}  // extern "C"

namespace vq::base {

// The base of the fast clock: the millisecond reading of the first fast_tod call and the
// wall-clock time of that reading (microseconds since 1970 UTC). False before the first
// fast_tod call.
bool FastClockBase(std::uint64_t* base_ms, std::int64_t* base_wall_us);

// Test seam: replaces the wall-clock source of unix_clock (microseconds since 1970 UTC)
// and forgets the bases of unix_clock and fast_tod, so that the next calls record new
// ones. Null restores gettimeofday. Not thread-safe.
using WallClockSource = std::int64_t (*)();
void SetFastClockSource(WallClockSource source);

}  // namespace vq::base

#endif  // VQ_UTILS_BASE_FAST_CLOCK_H
