// System V semaphores of the task runtime shared with forked children. Sets outlive the
// process, so every test closes what it opens, in the parent.
#include <errno.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <time.h>

#include <string>

#include "forked_check.h"
#include "sysv_fixture.h"
#include "vqtasks.h"

using vq_test::Opened;
using vq_test::set_exists;
using vq_test::value_of;

namespace {

// semop on the record's semaphore, giving up after `seconds`.
int change_within(const a_sysv_semaphore& s, short delta, int seconds) {
  sembuf op = {static_cast<unsigned short>(s.number), delta, 0};
  timespec limit = {seconds, 0};
  return semtimedop(s.id, &op, 1, &limit);
}

// Another process signals the semaphore and the creator's wait ends; the child
// inherits the parent's answer to sysv_list_is_empty.
TEST(Sysv, ChildSignalsAndParentWaits) {
  Opened o;
  ASSERT_EQ(sysv_open_semaphore(&o.s, 0), 1);
  const a_sysv_semaphore s = o.s;
  const int status = run_in_child([s] {
    if (sysv_list_is_empty() != 0) return 1;
    sembuf op = {static_cast<unsigned short>(s.number), 1, 0};
    if (semop(s.id, &op, 1) != 0) return 2;
    return 0;
  });
  EXPECT_TRUE(exited_cleanly(status)) << describe_status(status);
  EXPECT_EQ(change_within(s, -1, 10), 0) << "errno " << errno;
  EXPECT_EQ(value_of(s), 0);
  EXPECT_EQ(sysv_close_semaphore(&o.s), 1);
}

TEST(Sysv, ChildOfAProcessWithoutSetsSeesAnEmptyList) {
  const int status = run_in_child([] { return sysv_list_is_empty() == 1 ? 0 : 1; });
  EXPECT_TRUE(exited_cleanly(status)) << describe_status(status);
}

// The first set of a fresh IPC namespace gets identifier 0, which records take for
// "none". The runtime keeps that set back, hands out another, and removes the kept
// set when the runtime stops. Needs the right to make a namespace; skipped without.
TEST(Sysv, NeverHandsOutIdentifierZero) {
  const int status = run_in_child([] {
    if (unshare(CLONE_NEWIPC) != 0) return 99;
    OS_Init();
    a_sysv_semaphore s;
    if (sysv_open_semaphore(&s, 1) != 1) return 1;
    if (s.id <= 0) return 2;
    if (!set_exists(0)) return 3;           // the kept-back set
    if (value_of(s) != 1) return 4;
    a_sysv_semaphore t;
    if (sysv_open_semaphore(&t, 0) != 1 || t.id <= 0 || t.id == s.id) return 5;
    if (sysv_close_semaphore(&s) != 1 || sysv_close_semaphore(&t) != 1) return 6;
    if (!set_exists(0)) return 7;           // kept while the runtime runs
    OS_Fini();
    if (set_exists(0)) return 8;            // and removed when it stops
    return 0;
  });
  if (WIFEXITED(status) && WEXITSTATUS(status) == 99) GTEST_SKIP() << "no right to unshare";
  EXPECT_TRUE(exited_cleanly(status)) << describe_status(status);
}

}  // namespace
