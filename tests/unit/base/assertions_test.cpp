// Assertions within the test process itself.
#include "utils/base/assertions.h"

#include <gtest/gtest.h>

namespace {

TEST(Assertions, NoDebuggerAttachedUnderTest) { EXPECT_EQ(ut_enter_debugger("t"), 0); }

}  // namespace
