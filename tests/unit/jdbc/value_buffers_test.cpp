// The bridge's value buffers: growth to one and a half times the need (even), and UTF-16
// copies with their terminator and byte length. Only paths that raise nothing in Java are
// run here (they make no JNI call).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "jdbcodbc/c/nativeobj.h"

namespace {

TEST(ValueBuffers, GrowsToOneAndAHalfTheNeedRoundedToEven) {
  struct Case {
    SQLLEN have;
    SQLLEN need;
    SQLLEN size;  // after the call
  } const cases[] = {
      {16, 10, 16},  // enough: the buffer stays with its size
      {16, 16, 16},  {0, 10, 16},  {4, 11, 16},  // 11 + 5 = 16
      {4, 13, 20},   // 13 + 6 = 19, rounded up to 20
      {0, 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "have " << c.have << " need " << c.need);
    void* buffer = c.have > 0 ? NativeWarnObj::alloc(nullptr, static_cast<std::size_t>(c.have))
                              : nullptr;
    SQLLEN size = -1;
    void* out = NativeWarnObj::checkAndRealloc(nullptr, buffer, c.have, c.need, &size);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(size, c.size);
    if (c.have >= c.need) {
      EXPECT_EQ(out, buffer);
    }
    std::memset(out, 0xAB, static_cast<std::size_t>(size));  // the whole size is usable
    NativeWarnObj::free(out);
  }
}

TEST(ValueBuffers, CopiesUnitsWithATerminatorAndTheirByteLength) {
  const jchar text[] = {'a', 'b', 0x00E9, 'd'};
  for (SQLLEN start : {SQLLEN{0}, SQLLEN{4}, SQLLEN{10}, SQLLEN{64}}) {
    SCOPED_TRACE(start);
    void* buffer = start > 0 ? NativeWarnObj::alloc(nullptr, static_cast<std::size_t>(start))
                             : nullptr;
    SQLLEN length = -7;
    SQLLEN size = 0;
    auto* out = static_cast<jchar*>(
        NativeWarnObj::copyJChars(nullptr, buffer, start, &length, text, 4, &size));
    ASSERT_NE(out, nullptr);
    EXPECT_GE(size, 10);
    EXPECT_EQ(length, 8);  // bytes, terminator excluded
    EXPECT_EQ(std::vector<jchar>(out, out + 5), (std::vector<jchar>{'a', 'b', 0x00E9, 'd', 0}));
    NativeWarnObj::free(out);
  }
  // No units: an empty, terminated text.
  SQLLEN length = -7;
  SQLLEN size = 0;
  auto* out = static_cast<jchar*>(
      NativeWarnObj::copyJChars(nullptr, nullptr, 0, &length, text, 0, &size));
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(out[0], 0);
  NativeWarnObj::free(out);
}

}  // namespace
