// What all connections of one server may hold together: request messages received
// and not yet run (inflated), the rows of open cursors and the texts of prepared
// statements. Each connection has its own bound besides (Limits); this one keeps
// many connections, each within its own bound, from taking the host's memory.
#pragma once

#include <atomic>
#include <cstddef>

namespace vqeng {

class MemoryBudget {
 public:
  explicit MemoryBudget(std::size_t limit) : limit_(limit) {}
  MemoryBudget(const MemoryBudget&) = delete;
  MemoryBudget& operator=(const MemoryBudget&) = delete;

  std::size_t limit() const { return limit_; }
  std::size_t used() const { return used_.load(std::memory_order_relaxed); }
  std::size_t room() const {
    const std::size_t u = used();
    return u < limit_ ? limit_ - u : 0;
  }
  // Takes `n` bytes when they fit; false, with nothing taken, when they would pass
  // the limit.
  bool take(std::size_t n);
  // Counts `n` bytes already held, whether or not they fit (what a cursor or a
  // statement turned out to hold after a check against room()).
  void add(std::size_t n) { used_.fetch_add(n, std::memory_order_relaxed); }
  void give(std::size_t n) { used_.fetch_sub(n, std::memory_order_relaxed); }

 private:
  const std::size_t limit_;
  std::atomic<std::size_t> used_{0};
};

inline bool MemoryBudget::take(std::size_t n) {
  std::size_t u = used_.load(std::memory_order_relaxed);
  do {
    if (n > limit_ || u > limit_ - n) return false;
  } while (!used_.compare_exchange_weak(u, u + n, std::memory_order_relaxed));
  return true;
}

}  // namespace vqeng
