// The table of fatal-signal hooks, without raising a signal.
#include <gtest/gtest.h>

#include "vqtasks.h"

namespace {

// A hook that is added and removed, never run.
void write_tag(void*, int) {}

// The table of hooks is bounded; a full table refuses, and removing frees a place.
TEST(FatalSignalHooks, FullTableRefusesUntilAHookIsRemoved) {
  static char tags[1000];
  int added = 0;
  while (added < 1000 && ut_onsig_call_add(added, write_tag, &tags[added]) == 1) ++added;
  ASSERT_LT(added, 1000) << "the table never filled";
  EXPECT_GT(added, 8);
  EXPECT_EQ(ut_onsig_call_add(0, write_tag, &tags[999]), 0);
  EXPECT_EQ(ut_onsig_call_del(write_tag, &tags[3]), 1);
  EXPECT_EQ(ut_onsig_call_add(0, write_tag, &tags[999]), 1);
  EXPECT_EQ(ut_onsig_call_del(write_tag, &tags[999]), 1);
  for (int i = 0; i < added; ++i) {
    if (i != 3) {
      EXPECT_EQ(ut_onsig_call_del(write_tag, &tags[i]), 1) << i;
    }
  }
  EXPECT_EQ(ut_onsig_call_add(0, nullptr, nullptr), 0);
  EXPECT_EQ(ut_onsig_call_del(nullptr, nullptr), 0);
}

}  // namespace
