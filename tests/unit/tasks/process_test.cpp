// Start and stop and the process's identity, within one process.
#include <gtest/gtest.h>

#include "vqtasks.h"

namespace {

TEST(ProcessIdentity, NoServerRunsInTheClientProcess) {
  for (const char* name : {"__Vellum__", "", "anything", static_cast<const char*>(nullptr)})
    EXPECT_EQ(OS_IsEngineName(name), 0) << (name ? name : "(null)");
}

TEST(StartStop, CountedAndAlwaysSucceeds) {
  EXPECT_EQ(OS_Init(), 1);
  EXPECT_EQ(OS_Init(), 1);
  EXPECT_EQ(OS_Fini(), 1);
  EXPECT_EQ(OS_Fini(), 1);
  EXPECT_EQ(OS_Fini(), 1) << "an unmatched stop is harmless";
  EXPECT_EQ(OS_Init(), 1);
  EXPECT_EQ(OS_Fini(), 1);
}

}  // namespace
