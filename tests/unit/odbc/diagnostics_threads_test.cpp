// An environment's records are shared by every thread that works on its connections:
// posting takes EnvCritSect itself, and readers hold it as the framing of the diagnostic
// calls does. Run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "odbc/diagnostics.h"

namespace {

TEST(DiagThreads, EnvironmentRecordsPostedFromManyThreads) {
  InitializeEnvironmentSemaphores();
  auto* env = static_cast<tagENV*>(Allocate_object(nullptr, OBJ_ENV));
  ASSERT_NE(env, nullptr);
  ASSERT_EQ(Set_option(env, SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC3), 0);

  constexpr int kThreads = 4;
  constexpr int kPerThread = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([env, t] {
      for (int i = 0; i < kPerThread; ++i) {
        if (t % 2 == 0) {
          AddSQLCustomState(env, kState01000, kState01000, "warning", SQL_NTS);
        } else {
          AddSQLState(env, kStateHY010, kStateS1010);
        }
      }
    });
  }
  // A reader as SQLGetDiagField runs it: under EnvCritSect.
  threads.emplace_back([env] {
    for (int i = 0; i < kPerThread; ++i) {
      SQLINTEGER count = 0;
      SQLCHAR state[6];
      EnterEnvCritSect();
      DoSQLGetDiagField(SQL_HANDLE_ENV, env, 0, SQL_DIAG_NUMBER, &count, 0, nullptr);
      DoSQLGetDiagRec(SQL_HANDLE_ENV, env, 1, state, nullptr, nullptr, 0, nullptr);
      LeaveEnvCritSect();
    }
  });
  for (std::thread& t : threads) t.join();

  EXPECT_EQ(env->record_count, static_cast<std::uint32_t>(kThreads * kPerThread));
  EXPECT_EQ(env->retcode, SQL_ERROR);
  // Warnings all come before the errors.
  std::uint32_t seen = 0;
  bool in_errors = false;
  for (const tagDIAGREC* r = &env->first_rec; r != nullptr; r = r->next, ++seen) {
    if (r->odbc3 == kStateHY010) in_errors = true;
    if (in_errors) {
      ASSERT_EQ(r->odbc3, kStateHY010) << "record " << seen;
    }
  }
  EXPECT_EQ(seen, env->record_count);
  Free_object(env);
}

}  // namespace
