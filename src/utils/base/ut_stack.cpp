// ut_stack.
#include "utils/base/ut_stack.h"

#include "utils/base/memory.h"

namespace {
constexpr std::uint32_t kGrowth = 5;
}

ut_stack::ut_stack(std::uint32_t initial) : capacity_(initial == 0 ? kGrowth : initial) {
  items_ = static_cast<std::uintptr_t*>(ut_alloc(capacity_ * sizeof(std::uintptr_t)));
}

ut_stack::~ut_stack() { ut_free(items_); }

void ut_stack::push(std::uintptr_t value) {
  if (count_ + 1 >= capacity_) {
    capacity_ += kGrowth;
    items_ = static_cast<std::uintptr_t*>(
        ut_realloc(items_, static_cast<std::size_t>(capacity_) * sizeof(std::uintptr_t)));
  }
  items_[count_++] = value;
}

bool ut_stack::pop(std::uintptr_t* out) {
  if (count_ == 0) return false;
  *out = items_[--count_];
  return true;
}
