// The fast clock and unix_clock.
//
// unix_clock already returns 64 bits, so fast_tod uses it as it stands: the 31-bit
// widening that a 32-bit reading needed would turn two readings more than 2^30 ms
// (about 12 days) apart into a jump back of 2^31 ms.
#include "utils/base/fast_clock.h"

#include <sys/time.h>

#include <atomic>

namespace {

std::int64_t SystemWallMicros() {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  return static_cast<std::int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

std::atomic<vq::base::WallClockSource> g_wall{&SystemWallMicros};

// Bases are recorded by whichever thread reads first; a racing thread may record an
// almost equal value again, which is harmless.
std::atomic<bool> g_unix_base_set{false};
std::atomic<std::int64_t> g_unix_base_sec{0};
std::atomic<std::int64_t> g_unix_base_usec{0};

std::atomic<bool> g_fast_base_set{false};
std::atomic<std::uint64_t> g_fast_base_ms{0};
std::atomic<std::int64_t> g_fast_base_wall{0};

std::int64_t UnixClockAt(std::int64_t wall_us) {
  const std::int64_t sec = wall_us / 1000000;
  const std::int64_t usec = wall_us % 1000000;
  if (!g_unix_base_set.load(std::memory_order_acquire)) {
    g_unix_base_sec.store(sec - 3600, std::memory_order_relaxed);
    g_unix_base_usec.store(usec, std::memory_order_relaxed);
    g_unix_base_set.store(true, std::memory_order_release);
  }
  const std::int64_t ms = (sec - g_unix_base_sec.load(std::memory_order_relaxed)) * 1000 +
                          (usec - g_unix_base_usec.load(std::memory_order_relaxed)) / 1000;
  return ms < 0 ? 0 : ms;
}

}  // namespace

extern "C" {

std::int64_t unix_clock(void) { return UnixClockAt(g_wall.load()()); }

void fast_tod(std::uint64_t* out) {
  const std::int64_t wall = g_wall.load()();
  const std::uint64_t now = static_cast<std::uint64_t>(UnixClockAt(wall));
  if (!g_fast_base_set.load(std::memory_order_acquire)) {
    g_fast_base_ms.store(now, std::memory_order_relaxed);
    g_fast_base_wall.store(wall, std::memory_order_relaxed);
    g_fast_base_set.store(true, std::memory_order_release);
  }
  *out = now;
}

void fast_timer(std::uint64_t* out) { fast_tod(out); }

std::uint64_t current_fast_tod(void) {
  std::uint64_t now = 0;
  fast_tod(&now);
  return now;
}

std::uint64_t current_fast_timer(void) { return current_fast_tod(); }

std::int64_t fast_tod_diff_ms(std::uint64_t a, std::uint64_t b) {
  return static_cast<std::int64_t>(a - b);
}

std::int64_t fast_tod_diff_ts(std::uint64_t a, std::uint64_t b) {
  const std::int64_t ms = fast_tod_diff_ms(a, b);
  return (ms / 1000) * 1000000 + (ms % 1000) * 1000;
}

}  // extern "C"

namespace vq::base {

bool FastClockBase(std::uint64_t* base_ms, std::int64_t* base_wall_us) {
  if (!g_fast_base_set.load(std::memory_order_acquire)) return false;
  *base_ms = g_fast_base_ms.load(std::memory_order_relaxed);
  *base_wall_us = g_fast_base_wall.load(std::memory_order_relaxed);
  return true;
}

void SetFastClockSource(WallClockSource source) {
  g_wall.store(source != nullptr ? source : &SystemWallMicros);
  g_unix_base_set.store(false);
  g_fast_base_set.store(false);
}

}  // namespace vq::base
