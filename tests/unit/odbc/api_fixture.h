// Handles made through the driver's own entry points for the ODBC unit tests: an
// environment, an unconnected connection and, on request, a statement with its implicit
// descriptors and attribute defaults (statements are allocated here directly until the
// statement code allocates them through the API).
#ifndef VQ_TESTS_UNIT_ODBC_API_FIXTURE_H
#define VQ_TESTS_UNIT_ODBC_API_FIXTURE_H

#include <gtest/gtest.h>
#include <pthread.h>
#include <sql.h>
#include <sqlext.h>

#include <string>

#include "odbc/attributes.h"
#include "odbc/descriptors.h"
#include "odbc/handles.h"
#include "odbc/library_start.h"

// The state of the first diagnostic record of a handle as SQLGetDiagRec gives it, or ""
// when there is none.
inline std::string FirstState(SQLSMALLINT type, SQLHANDLE h) {
  SQLCHAR state[6] = {0};
  SQLINTEGER native = 0;
  SQLCHAR text[600];
  SQLSMALLINT length = 0;
  const SQLRETURN rc = SQLGetDiagRec(type, h, 1, state, &native, text, sizeof text, &length);
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO ? reinterpret_cast<char*>(state) : "";
}

class ApiFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    LibInit_jdbc();
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_SUCCESS);
  }
  void TearDown() override {
    if (statement_ != nullptr) {
      FreeStmtDescriptors(statement_);
      Free_object(statement_);
    }
    Dbc()->state = kDbcAllocated;  // tests that make the connection look connected
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc_), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env_), SQL_SUCCESS);
    LibFini_jdbc();
  }

  tagDBC* Dbc() { return static_cast<tagDBC*>(dbc_); }

  // The fixture's statement (state 6, cursor state 2), made on first use and freed with
  // the fixture.
  tagSTMT* Stmt() {
    if (statement_ == nullptr) {
      statement_ = static_cast<tagSTMT*>(Allocate_object(Dbc(), OBJ_STMT));
      EXPECT_NE(statement_, nullptr);
      if (statement_ == nullptr) return nullptr;
      statement_->state = kStmtAllocated;
      statement_->cursor_state = 2;
      EXPECT_EQ(AllocStmtDescriptors(statement_), 0);
      InitStmtAttributes(statement_);
    }
    return statement_;
  }

  // Whether the connection's mutex is free (nobody holds it).
  bool DbcUnlocked() {
    if (pthread_mutex_trylock(Dbc()->mutex.handle) != 0) return false;
    pthread_mutex_unlock(Dbc()->mutex.handle);
    return true;
  }

  SQLHANDLE env_ = nullptr;
  SQLHANDLE dbc_ = nullptr;

 private:
  tagSTMT* statement_ = nullptr;
};

#endif  // VQ_TESTS_UNIT_ODBC_API_FIXTURE_H
