// SQLCancel from another thread while a call on the statement holds the connection's
// mutex: the cancel takes no lock and leaves the running call's diagnostics and the
// connection's fields alone.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cerrno>
#include <future>
#include <thread>

#include "odbc/diagnostics.h"
#include "odbc/handles.h"
#include "odbc/library_start.h"

namespace {

TEST(CancelThreads, CancelDuringACallTakesNoLockAndTouchesNoDiagnostics) {
  LibInit_jdbc();
  SQLHANDLE env = nullptr;
  SQLHANDLE dbc = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, nullptr, &env), SQL_SUCCESS);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
  tagOBJECT* stmt = Allocate_object(static_cast<tagDBC*>(dbc), OBJ_STMT);
  ASSERT_NE(stmt, nullptr);
  stmt->state = kStmtAllocated;

  constexpr int kRecords = 200;
  constexpr int kCancels = 200;
  std::promise<void> in_call;
  std::promise<void> cancels_done;
  std::future<void> cancels_done_seen = cancels_done.get_future();

  // The "running call": framed, it posts records and changes the connection while the
  // other thread cancels; it leaves the frame only once the cancels are over.
  std::thread call([&] {
    ASSERT_EQ(Init_stmt(stmt), 0);
    in_call.set_value();
    for (int i = 0; i < kRecords; ++i) {
      AddSQLState(stmt, kState01004, kState01004);
      static_cast<tagDBC*>(dbc)->err.sqlcode = -i;
    }
    cancels_done_seen.wait();
    Fini_stmt(stmt);
  });

  in_call.get_future().wait();
  int cancelled = 0;
  for (int i = 0; i < kCancels; ++i) cancelled += SQLCancel(stmt) == SQL_SUCCESS ? 1 : 0;
  // The mutex is still the running call's: the cancel never took it.
  EXPECT_EQ(pthread_mutex_trylock(static_cast<tagDBC*>(dbc)->mutex.handle), EBUSY);
  cancels_done.set_value();
  call.join();

  EXPECT_EQ(cancelled, kCancels);
  EXPECT_EQ(stmt->record_count, static_cast<std::uint32_t>(kRecords));
  EXPECT_EQ(stmt->retcode, SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(static_cast<tagDBC*>(dbc)->err.sqlcode, -(kRecords - 1));

  // With no call in progress the cancel is framed and clears the statement's records.
  EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS);
  EXPECT_EQ(stmt->record_count, 0u);

  Free_object(stmt);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
  LibFini_jdbc();
}

}  // namespace
