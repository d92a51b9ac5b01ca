// ut_stack: a growable stack of machine words. Words are pointer-sized, so a stack can
// hold pointers as well as numbers. It grows by 5 entries at a time and always keeps one
// slot free after a push.
#ifndef VQ_UTILS_BASE_UT_STACK_H
#define VQ_UTILS_BASE_UT_STACK_H

#include <cstdint>

class ut_stack {
 public:
  // `initial` entries, or 5 when it is 0.
  explicit ut_stack(std::uint32_t initial);
  ~ut_stack();
  ut_stack(const ut_stack&) = delete;
  ut_stack& operator=(const ut_stack&) = delete;

  void push(std::uintptr_t value);
  // False on an empty stack (`out` untouched); otherwise the top value goes to `out`.
  bool pop(std::uintptr_t* out);

  std::uint32_t count() const { return count_; }
  std::uint32_t capacity() const { return capacity_; }

 private:
  std::uint32_t count_ = 0;
  std::uint32_t capacity_ = 0;
  std::uintptr_t* items_ = nullptr;  // capacity_ words from ut_alloc
};

#endif  // VQ_UTILS_BASE_UT_STACK_H
