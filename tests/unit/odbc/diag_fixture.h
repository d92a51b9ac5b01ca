// A small tree of handles (environment, connection, statement) for the diagnostics tests,
// built with the driver's own allocation, and the process's client environment for the
// message strings.
#ifndef VQ_TESTS_UNIT_ODBC_DIAG_FIXTURE_H
#define VQ_TESTS_UNIT_ODBC_DIAG_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmdseq/cmdseq_env.h"
#include "cmdseq/error_info.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "utils/base/memory.h"
#include "utils/locale/lang_string.h"

class DiagFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(CmdSeqAllocEnv(&CmdSeqEnv), CMDSEQ_OK); }
  static void TearDownTestSuite() { CmdSeqFreeEnv(&CmdSeqEnv); }

  void SetUp() override {
    env_ = static_cast<tagENV*>(Allocate_object(nullptr, OBJ_ENV));
    ASSERT_NE(env_, nullptr);
    env_->state = 1;
    ASSERT_EQ(Set_option(env_, SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC3), 0);
    dbc_ = static_cast<tagDBC*>(Allocate_object(env_, OBJ_DBC));
    ASSERT_NE(dbc_, nullptr);
    dbc_->state = kDbcConnected;
    CmdSeqInitErrorParam(&CmdSeqEnv, &dbc_->err, reinterpret_cast<std::uintptr_t>(dbc_));
    stmt_ = static_cast<tagSTMT*>(Allocate_object(dbc_, OBJ_STMT));
    ASSERT_NE(stmt_, nullptr);
    stmt_->state = kStmtAllocated;
  }

  void TearDown() override {
    IS_JDBC = 0;
    Free_object(stmt_);
    CmdSeqFiniErrorParam(&dbc_->err);
    for (tagCONNATTR& slot : dbc_->attrs) ut_free(slot.text);
    Free_object(dbc_);
    Free_object(env_);
  }

  // Puts a server error into the connection's error block as a reply would.
  void ServerError(std::int32_t sqlcode, const char* odbc3, const char* odbc2,
                   const char* message) {
    i_cs_ForceErrorInfo(&dbc_->err, sqlcode, "42000", odbc3, odbc2);
    if (message != nullptr) {
      dbc_->err.message = static_cast<char*>(ut_alloc(std::strlen(message) + 1));
      std::strcpy(dbc_->err.message, message);
    }
  }

  // The records of h in order, as "row/state/column".
  static std::vector<std::string> Records(const tagOBJECT* h) {
    std::vector<std::string> out;
    if (h->record_count == 0) return out;
    for (const tagDIAGREC* r = &h->first_rec; r != nullptr; r = r->next) {
      char state[6];
      CmdSeqGetStateString(r->odbc3, state);
      out.push_back(std::to_string(r->row) + "/" + state + "/" + std::to_string(r->column));
    }
    EXPECT_EQ(out.size(), h->record_count);
    return out;
  }

  // The message of record n as SQLGetDiagRec gives it.
  static std::string Message(tagOBJECT* h, SQLSMALLINT n) {
    SQLCHAR text[1024];
    SQLSMALLINT length = -1;
    const SQLRETURN rc = DoSQLGetDiagRec(static_cast<SQLSMALLINT>(h->kind), h, n, nullptr,
                                         nullptr, text, sizeof text, &length);
    EXPECT_TRUE(rc == SQL_SUCCESS || rc == SQL_NO_DATA) << rc;
    return reinterpret_cast<const char*>(text);
  }

  tagENV* env_ = nullptr;
  tagDBC* dbc_ = nullptr;
  tagSTMT* stmt_ = nullptr;
};

#endif  // VQ_TESTS_UNIT_ODBC_DIAG_FIXTURE_H
