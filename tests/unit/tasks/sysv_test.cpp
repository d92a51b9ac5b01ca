// System V semaphores of the task runtime. Sets outlive the process, so every test
// closes what it opens, in the parent.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/sem.h>

#include <string>

#include "sysv_fixture.h"
#include "vqtasks.h"

using vq_test::Opened;
using vq_test::set_exists;
using vq_test::value_of;

namespace {

class SysvOpen : public testing::TestWithParam<int> {};

TEST_P(SysvOpen, OpensWithTheInitialValueAndCloses) {
  Opened o;
  EXPECT_EQ(sysv_list_is_empty(), 1);
  ASSERT_EQ(sysv_open_semaphore(&o.s, GetParam()), 1);
  EXPECT_GT(o.s.id, 0);
  EXPECT_EQ(o.s.number, 0u);
  EXPECT_EQ(value_of(o.s), GetParam());
  EXPECT_EQ(sysv_list_is_empty(), 0);

  const int id = o.s.id;
  EXPECT_EQ(sysv_close_semaphore(&o.s), 1);
  EXPECT_EQ(o.s.id, -1);
  EXPECT_EQ(o.s.number, 0u);
  EXPECT_FALSE(set_exists(id));
  EXPECT_EQ(sysv_list_is_empty(), 1);
}

INSTANTIATE_TEST_SUITE_P(InitialValues, SysvOpen, testing::Values(0, 1));

TEST(Sysv, ListCountsEverySetOpen) {
  Opened a, b;
  ASSERT_EQ(sysv_open_semaphore(&a.s, 0), 1);
  ASSERT_EQ(sysv_open_semaphore(&b.s, 0), 1);
  EXPECT_NE(a.s.id, b.s.id);
  EXPECT_EQ(sysv_close_semaphore(&a.s), 1);
  EXPECT_EQ(sysv_list_is_empty(), 0) << "one set is still open";
  EXPECT_EQ(sysv_close_semaphore(&b.s), 1);
  EXPECT_EQ(sysv_list_is_empty(), 1);
}

TEST(Sysv, RefusesBadArgumentsAndRecordsOfNone) {
  a_sysv_semaphore s = {7, 3};
  for (int initial : {-1, 2, 100}) {
    EXPECT_EQ(sysv_open_semaphore(&s, initial), 0) << initial;
    EXPECT_EQ(s.id, -1);
    EXPECT_EQ(s.number, 0u);
  }
  EXPECT_EQ(sysv_open_semaphore(nullptr, 0), 0);
  EXPECT_EQ(sysv_list_is_empty(), 1);

  const a_sysv_semaphore none[] = {{-1, 0}, {0, 0}};
  for (a_sysv_semaphore n : none) EXPECT_EQ(sysv_close_semaphore(&n), 0) << n.id;
  EXPECT_EQ(sysv_close_semaphore(nullptr), 0);

  Opened o;
  ASSERT_EQ(sysv_open_semaphore(&o.s, 0), 1);
  a_sysv_semaphore copy = o.s;
  EXPECT_EQ(sysv_close_semaphore(&o.s), 1);
  EXPECT_EQ(sysv_close_semaphore(&copy), 0) << "the set is gone already";
}

}  // namespace
