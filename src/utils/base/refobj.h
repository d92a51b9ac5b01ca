// Atomically reference-counted objects. The count starts at 1; references may be added
// and released from any thread, and the object is deleted exactly once, by the release
// that takes the count from 1 to 0.
#ifndef VQ_UTILS_BASE_REFOBJ_H
#define VQ_UTILS_BASE_REFOBJ_H

#include <atomic>
#include <cstdint>

#include "utils/base/list.h"

// Released objects go back through the global delete.
class c_utils_refobj_no_base {
 public:
  c_utils_refobj_no_base() noexcept : count(1) {}
  virtual ~c_utils_refobj_no_base() = default;

  c_utils_refobj_no_base(const c_utils_refobj_no_base&) = delete;
  c_utils_refobj_no_base& operator=(const c_utils_refobj_no_base&) = delete;

  // Returns the new count.
  std::uint32_t add_ref() noexcept { return count.fetch_add(1, std::memory_order_relaxed) + 1; }

  // Returns the new count; at 0 the object has been deleted through its virtual
  // destructor and must not be touched again.
  std::uint32_t release() noexcept {
    const std::uint32_t before = count.fetch_sub(1, std::memory_order_acq_rel);
    if (before == 1) delete this;
    return before - 1;
  }

  std::uint32_t ref_count() const noexcept { return count.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::uint32_t> count;  // references held; 32-bit, starts at 1
};

// Released objects go back through ut_free (the allocation of c_utils_base).
class c_utils_refobj : public c_utils_refobj_no_base, public c_utils_base {
 public:
  using c_utils_base::operator new;
  using c_utils_base::operator delete;
};

#endif  // VQ_UTILS_BASE_REFOBJ_H
