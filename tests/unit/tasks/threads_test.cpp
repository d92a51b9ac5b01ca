// Threads of the task runtime: the arguments refused before any thread starts.
#include <gtest/gtest.h>

#include "vqtasks.h"

namespace {

void nothing(void*) {}

TEST(ThreadStart, RefusesBadArguments) {
  EXPECT_EQ(OS_Begin_Thread_Attachable(nullptr, 0, 0, nullptr, "x", 1), 0u);
  EXPECT_EQ(OS_Begin_Thread_Attachable(nothing, 1, 0, nullptr, "x", 1), 0u);
  EXPECT_NE(OS_WaitOnThreadTermination(0), 0);
  EXPECT_NE(OS_WaitOnThreadTermination(OS_Me()), 0) << "a thread the runtime did not start";
  EXPECT_EQ(OS_Wakeup(0, 0), 0);
}

}  // namespace
