// Fork protection and the process's identity as forked children see them.
#include <gtest/gtest.h>
#include <unistd.h>

#include "forked_check.h"
#include "vqtasks.h"

namespace {

TEST(ForkProtection, OnlyAChildForkedAfterStartIsAChild) {
  EXPECT_EQ(UnixForkProtection_IsChild(), 0) << "before Init nothing is protected";
  UnixForkProtection_Init();
  EXPECT_EQ(UnixForkProtection_IsChild(), 0);

  const int status = run_in_child([] {
    if (UnixForkProtection_IsChild() != 1) return 1;
    // A grandchild is a child of the protected process's line too.
    const int grandchild = run_in_child([] { return UnixForkProtection_IsChild() == 1 ? 0 : 1; });
    if (!exited_cleanly(grandchild)) return 2;
    UnixForkProtection_Reset();
    if (UnixForkProtection_IsChild() != 0) return 3;
    // After the reset the child is the protected process and its own children are children.
    const int after_reset = run_in_child([] { return UnixForkProtection_IsChild() == 1 ? 0 : 1; });
    if (!exited_cleanly(after_reset)) return 4;
    return 0;
  });
  EXPECT_TRUE(exited_cleanly(status)) << describe_status(status);
  EXPECT_EQ(UnixForkProtection_IsChild(), 0) << "the child's reset does not reach the parent";
}

TEST(ProcessIdentity, RootPidIsTheProcessOwnInEveryProcess) {
  EXPECT_EQ(OS_GetRootPid(), static_cast<int>(getpid()));
  const int status = run_in_child([] { return OS_GetRootPid() == static_cast<int>(getpid()) ? 0 : 1; });
  EXPECT_TRUE(exited_cleanly(status)) << describe_status(status);
}

}  // namespace
