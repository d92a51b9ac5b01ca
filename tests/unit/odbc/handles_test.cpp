// Handle records, option entries and the framing of calls, through the driver's own
// entry points and its internal functions.
#include "odbc/handles.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "odbc/descriptors.h"
#include "odbc/diagnostics.h"
#include "odbc/library_start.h"
#include "odbc/supported_functions.h"
#include "utils/base/memory.h"

namespace {

// The connection of ApiFixture, and handle records made directly under it.
class HandleTest : public ApiFixture {
 protected:
  void TearDown() override {
    for (tagOBJECT* s : extra_) {
      if (s->kind == OBJ_STMT) FreeStmtDescriptors(static_cast<tagSTMT*>(s));
      Free_object(s);
    }
    ApiFixture::TearDown();
  }

  tagENV* Env() { return static_cast<tagENV*>(env_); }

  // A statement or descriptor record under the connection (the statement code that
  // allocates them through the API comes later).
  tagOBJECT* Child(std::int32_t kind) {
    tagOBJECT* h = Allocate_object(Dbc(), kind);
    if (kind == OBJ_STMT) {
      h->state = kStmtAllocated;
      EXPECT_EQ(AllocStmtDescriptors(static_cast<tagSTMT*>(h)), 0);
    }
    extra_.push_back(h);
    return h;
  }

  std::vector<tagOBJECT*> extra_;
};

TEST_F(HandleTest, NewHandlesCarryTheirDefaultsAndNames) {
  EXPECT_EQ(Env()->state, 1);
  EXPECT_EQ(Dbc()->state, kDbcAllocated);
  EXPECT_EQ(Option(Env(), SQL_ATTR_ODBC_VERSION), static_cast<SQLULEN>(SQL_OV_ODBC3));
  EXPECT_EQ(Option(Env(), SQL_ATTR_OUTPUT_NTS), static_cast<SQLULEN>(SQL_TRUE));
  EXPECT_EQ(Option(Dbc(), SQL_ATTR_AUTOCOMMIT), 1u);
  EXPECT_EQ(Option(Dbc(), SQL_ATTR_LOGIN_TIMEOUT), 15u);
  EXPECT_EQ(ULenOption(Dbc(), SQL_ATTR_MAX_LENGTH), 262144u);
  EXPECT_EQ(Dbc()->parent, Env());
  EXPECT_EQ(Env()->first_child, Dbc());
  char expected[40];
  std::snprintf(expected, sizeof expected, "SQL_DBC_%lX",
                reinterpret_cast<unsigned long>(dbc_));
  EXPECT_STREQ(Dbc()->name, expected);
  EXPECT_EQ(std::strncmp(Env()->name, "SQL_ENV_", 8), 0);
  EXPECT_EQ(std::strncmp(Child(OBJ_STMT)->name, "SQL_CUR_", 8), 0);
  EXPECT_EQ(std::strncmp(Child(OBJ_DESC)->name, "SQL_DES_", 8), 0);
  // SQLAllocEnv makes an ODBC 2 application.
  SQLHENV old = nullptr;
  ASSERT_EQ(SQLAllocEnv(&old), SQL_SUCCESS);
  EXPECT_EQ(UIntOption(static_cast<tagOBJECT*>(old), SQL_ATTR_ODBC_VERSION),
            static_cast<std::uint32_t>(SQL_OV_ODBC2));
  EXPECT_EQ(SQLFreeEnv(old), SQL_SUCCESS);
}

TEST_F(HandleTest, StatementReadsConnectionOptionsUntilItSetsItsOwn) {
  tagOBJECT* stmt = Child(OBJ_STMT);
  tagOBJECT* other = Child(OBJ_STMT);
  EXPECT_EQ(ULenOption(stmt, SQL_ATTR_MAX_LENGTH), 262144u);
  ASSERT_EQ(Set_ulen_option(stmt, SQL_ATTR_MAX_LENGTH, 77), 0);
  EXPECT_EQ(ULenOption(stmt, SQL_ATTR_MAX_LENGTH), 77u);
  EXPECT_EQ(ULenOption(other, SQL_ATTR_MAX_LENGTH), 262144u);
  EXPECT_EQ(ULenOption(Dbc(), SQL_ATTR_MAX_LENGTH), 262144u);
  EXPECT_EQ(FindOption(stmt, 4242, false), nullptr);
  tagOPTION* created = FindOption(stmt, 4242, true);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->value, 0u);
  // An environment option is never found through a connection.
  EXPECT_EQ(Option(Dbc(), SQL_ATTR_ODBC_VERSION), 0u);
}

TEST_F(HandleTest, TextOptionsAreOwnedCopiesReadBackWithinTheBuffer) {
  struct Case {
    const char* text;
    SQLINTEGER length;
    SQLINTEGER buffer;
    const char* expected;
    SQLINTEGER reported;
  };
  const Case cases[] = {
      {"abcdef", SQL_NTS, 32, "abcdef", 6},
      {"abcdef", 3, 32, "abc", 3},
      {"abcdef", SQL_NTS, 4, "abc", 3},
      {"abcdef", SQL_NTS, 1, "", 0},
      {nullptr, 5, 32, "", 0},
      {"abcdef", 0, 32, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text ? c.text : "(null)") + " " + std::to_string(c.length) +
                 " " + std::to_string(c.buffer));
    ASSERT_EQ(Set_string_option(Dbc(), SQL_ATTR_TRACEFILE, c.text, c.length), 0);
    char out[40];
    std::memset(out, 0x7E, sizeof out);
    SQLINTEGER reported = -1;
    EXPECT_EQ(Get_option(Dbc(), SQL_ATTR_TRACEFILE, out + 1, c.buffer, &reported), 1);
    EXPECT_STREQ(out + 1, c.expected);
    EXPECT_EQ(reported, c.reported);
    EXPECT_EQ(out[0], 0x7E);
    EXPECT_EQ(out[1 + std::strlen(c.expected) + 1], 0x7E);
  }
  // A buffer of length 0 receives nothing at all.
  char untouched = 0x7E;
  EXPECT_EQ(Get_option(Dbc(), SQL_ATTR_TRACEFILE, &untouched, 0, nullptr), 1);
  EXPECT_EQ(untouched, 0x7E);
  // A value over a text releases the text (the leak checker sees it) and changes kind.
  ASSERT_EQ(Set_string_option(Dbc(), 9000, "secret", SQL_NTS), 0);
  ASSERT_EQ(Set_option(Dbc(), 9000, 5), 0);
  EXPECT_EQ(FindOption(Dbc(), 9000, false)->kind, kOptPlain);
  EXPECT_EQ(Get_option(Dbc(), 9999, &untouched, 1, nullptr), 0);
}

TEST_F(HandleTest, ValueOptionsAreWrittenAtTheirWidth) {
  ASSERT_EQ(Set_option(Dbc(), 9001, 0x11223344u), 0);
  ASSERT_EQ(Set_ulen_option(Dbc(), 9002, 0x0102030405060708u), 0);
  unsigned char out[12];
  std::memset(out, 0xFF, sizeof out);
  EXPECT_EQ(Get_option(Dbc(), 9001, out, sizeof out, nullptr), 1);
  SQLUINTEGER u32 = 0;
  std::memcpy(&u32, out, sizeof u32);
  EXPECT_EQ(u32, 0x11223344u);
  EXPECT_EQ(out[4], 0xFF);
  std::memset(out, 0xFF, sizeof out);
  EXPECT_EQ(Get_option(Dbc(), 9002, out, sizeof out, nullptr), 1);
  SQLULEN u64 = 0;
  std::memcpy(&u64, out, sizeof u64);
  EXPECT_EQ(u64, 0x0102030405060708u);
  EXPECT_EQ(out[8], 0xFF);
}

bool FailEverything(std::size_t) { return true; }

TEST_F(HandleTest, OptionsThatCannotGrowKeepWhatTheyHadAndReportHY001) {
  const std::uint32_t before = Dbc()->option_count;
  vq::odbc::SetAllocFailureHook(FailEverything);
  const int set = Set_option(Dbc(), 9100, 1);
  const int text = Set_string_option(Dbc(), 9101, "abc", SQL_NTS);
  // Overwriting an existing entry needs no memory.
  const int overwrite = Set_option(Dbc(), SQL_ATTR_AUTOCOMMIT, 0);
  vq::odbc::SetAllocFailureHook(nullptr);
  EXPECT_EQ(set, -1);
  EXPECT_EQ(text, -1);
  EXPECT_EQ(overwrite, 0);
  EXPECT_EQ(Dbc()->option_count, before);
  EXPECT_EQ(FindOption(Dbc(), 9100, false), nullptr);
  EXPECT_EQ(Option(Dbc(), SQL_ATTR_LOGIN_TIMEOUT), 15u);
  EXPECT_EQ(Option(Dbc(), SQL_ATTR_AUTOCOMMIT), 0u);
  EXPECT_EQ(Dbc()->first_rec.odbc3, kStateHY001);
  // A handle allocation that fails yields null and HY001 on the parent.
  vq::odbc::SetAllocFailureHook(FailEverything);
  tagOBJECT* none = Allocate_object(Dbc(), OBJ_STMT);
  vq::odbc::SetAllocFailureHook(nullptr);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(Allocate_object(Dbc(), 7), nullptr);
}

// Each framing operation against handles of every kind: only the right kind with a whole
// parent chain passes, and a refusal holds no lock.
TEST_F(HandleTest, FramingRefusesWrongKindsAndBrokenChains) {
  tagOBJECT* stmt = Child(OBJ_STMT);
  tagOBJECT* desc = Child(OBJ_DESC);
  tagOBJECT* stray_desc = Allocate_object(Env(), OBJ_DESC);  // parent is not a connection
  struct Case {
    const char* name;
    SQLHANDLE h;
    SQLRETURN env, dbc, stmt, desc;
  };
  const SQLRETURN bad = SQL_INVALID_HANDLE;
  const Case cases[] = {
      {"null", nullptr, bad, bad, bad, bad}, {"env", env_, 0, bad, bad, bad},
      {"dbc", dbc_, bad, 0, bad, bad},       {"stmt", stmt, bad, bad, 0, bad},
      {"desc", desc, bad, bad, bad, 0},      {"desc under env", stray_desc, bad, bad, bad, bad},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SQLRETURN rc = Init_env(c.h);
    EXPECT_EQ(rc, c.env);
    rc = Init_dbc(c.h);
    EXPECT_EQ(rc, c.dbc);
    if (rc == 0) Fini_dbc(c.h);
    rc = Init_stmt(c.h);
    EXPECT_EQ(rc, c.stmt);
    if (rc == 0) Fini_stmt(c.h);
    rc = Init_desc(c.h);
    EXPECT_EQ(rc, c.desc);
    if (rc == 0) Fini_desc(c.h);
    for (SQLSMALLINT kind = 1; kind <= 4; ++kind) {
      rc = Init_object(c.h, kind);
      if (rc == 0) Fini_object(c.h, kind);
    }
    EXPECT_TRUE(DbcUnlocked());
  }
  EXPECT_EQ(Init_desc2(desc, stray_desc), 0);
  Fini_desc2(desc, stray_desc);
  EXPECT_EQ(Init_desc2(stray_desc, desc), bad);
  EXPECT_TRUE(DbcUnlocked());
  Free_object(stray_desc);
  // Entry points say the same.
  EXPECT_EQ(SQLSetEnvAttr(dbc_, SQL_ATTR_ODBC_VERSION, nullptr, 0), bad);
  EXPECT_EQ(SQLDisconnect(env_), bad);
  EXPECT_EQ(SQLGetDescField(stmt, 0, 0, nullptr, 0, nullptr), bad);
  EXPECT_EQ(SQLError(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr), bad);
  EXPECT_EQ(SQLCancel(dbc_), bad);
}

TEST_F(HandleTest, StatementFramingMarksTheCallAndFreesTheLock) {
  tagOBJECT* stmt = Child(OBJ_STMT);
  auto* s = static_cast<tagSTMT*>(stmt);
  ASSERT_EQ(Init_stmt(stmt), 0);
  EXPECT_FALSE(DbcUnlocked());
  EXPECT_EQ(Dbc()->current_stmt.load(), s);
  EXPECT_NE(s->call_flags.load() & kStmtInCall, 0);
  Fini_stmt(stmt);
  EXPECT_EQ(s->call_flags.load() & kStmtInCall, 0);
  EXPECT_TRUE(DbcUnlocked());
  // A refused statement call is framed: its state is posted and the lock released.
  EXPECT_EQ(SQLExecDirect(stmt, nullptr, SQL_NTS), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, stmt), "HY009");
  // A catalog function refuses a catalog name (this server has none) with HYC00.
  EXPECT_EQ(SQLPrimaryKeys(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("c")), SQL_NTS,
                           nullptr, 0, nullptr, 0),
            SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, stmt), "HYC00");
  EXPECT_EQ(stmt->record_count, 1u);
  EXPECT_EQ(SQLFreeStmt(stmt, 99), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, stmt), "HY092");
  EXPECT_EQ(s->call_flags.load() & kStmtInCall, 0);
  EXPECT_TRUE(DbcUnlocked());
}

TEST_F(HandleTest, CancelWithNoCallInProgressClosesOnlyForOdbc2) {
  tagOBJECT* stmt = Child(OBJ_STMT);
  EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS);
  EXPECT_EQ(stmt->record_count, 0u);
  ASSERT_EQ(
      SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0),
      SQL_SUCCESS);
  EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, stmt), "01000");
  EXPECT_TRUE(DbcUnlocked());
}

TEST_F(HandleTest, RefusedCallsPostTheirStates) {
  SQLHANDLE out = reinterpret_cast<SQLHANDLE>(0x1);
  EXPECT_EQ(SQLAllocHandle(5, dbc_, &out), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "HY092");
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, nullptr), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_ENV, env_), "HY009");
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, env_, &out), SQL_ERROR);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(SQLGetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, nullptr, 0, nullptr), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_ENV, env_), "HY009");
  SQLINTEGER value = 0;
  EXPECT_EQ(SQLGetEnvAttr(env_, 12345, &value, 0, nullptr), SQL_NO_DATA);
  // The ODBC 2 partner state is what an ODBC 2 application reads.
  ASSERT_EQ(
      SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0),
      SQL_SUCCESS);
  EXPECT_EQ(SQLGetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, &value, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(value, SQL_OV_ODBC2);
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, nullptr), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_ENV, env_), "S1009");
  // Every refusal leaves the connection's lock free.
  EXPECT_TRUE(DbcUnlocked());
}

TEST_F(HandleTest, EnvironmentWithConnectionsIsNotFreed) {
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env_), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_ENV, env_), "HY010");
  // Still whole: a second connection comes and goes.
  SQLHANDLE second = nullptr;
  ASSERT_EQ(SQLAllocConnect(env_, &second), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeConnect(second), SQL_SUCCESS);
  EXPECT_EQ(Env()->first_child, Dbc());
}

TEST_F(HandleTest, DisconnectAndFreeFollowTheConnectionState) {
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "08003");
  EXPECT_TRUE(DbcUnlocked());
  // A connected connection is not freed; its lock is given back.
  Dbc()->state = kDbcConnected;
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc_), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "08002");
  EXPECT_TRUE(DbcUnlocked());
  // Disconnecting a connection whose client connection is already gone, with a
  // transaction open: the lost connection is a warning, children go, the slots are wiped.
  Dbc()->cap_a |= kCapInTransaction;
  Dbc()->attrs[kSlotPassword].text = static_cast<char*>(ut_memdup("pw", 3));
  tagOBJECT* stmt = Allocate_object(Dbc(), OBJ_STMT);
  tagOBJECT* desc = Allocate_object(Dbc(), OBJ_DESC);
  ASSERT_NE(stmt, nullptr);
  ASSERT_NE(desc, nullptr);
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "01002");
  EXPECT_EQ(Dbc()->state, kDbcAllocated);
  EXPECT_EQ(Dbc()->first_child, nullptr);
  EXPECT_EQ(Dbc()->attrs[kSlotPassword].text, nullptr);
  EXPECT_TRUE(DbcUnlocked());
}

TEST_F(HandleTest, ConnectMarksTheNarrowApplication) {
  // A data source that does not exist ends the connect before any server is sought.
  SQLCHAR dsn[] = "no such data source";
  EXPECT_EQ(SQLConnect(dbc_, dsn, SQL_NTS, nullptr, 0, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(Option(Dbc(), SQL_ATTR_ANSI_APP), 1u);
  EXPECT_EQ(Dbc()->state, kDbcAllocated);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "08004");
  SQLCHAR state[6];
  SQLINTEGER native = -1;
  SQLCHAR text[600];
  SQLSMALLINT length = 0;
  ASSERT_EQ(SQLError(env_, dbc_, nullptr, state, &native, text, sizeof text, &length),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "08004");
  EXPECT_EQ(SQLError(env_, dbc_, nullptr, state, &native, text, sizeof text, &length),
            SQL_NO_DATA);
  EXPECT_TRUE(DbcUnlocked());
}

TEST_F(HandleTest, GetFunctionsReportsWhatWorks) {
  struct Case {
    SQLUSMALLINT id;
    SQLRETURN rc;
    SQLUSMALLINT supported;
  };
  const Case cases[] = {
      {SQL_API_SQLALLOCHANDLE, SQL_SUCCESS, SQL_TRUE},
      {SQL_API_SQLGETDIAGREC, SQL_SUCCESS, SQL_TRUE},
      {SQL_API_SQLSETENVATTR, SQL_SUCCESS, SQL_TRUE},
      {SQL_API_SQLEXECDIRECT, SQL_SUCCESS, SQL_TRUE},
      {SQL_API_SQLSETSTMTATTR, SQL_SUCCESS, SQL_TRUE},
      {SQL_API_SQLSETSCROLLOPTIONS, SQL_SUCCESS, SQL_TRUE},
      {SQL_API_SQLFETCH, SQL_SUCCESS, SQL_TRUE},
      {SQL_API_SQLTABLES, SQL_SUCCESS, SQL_TRUE},
      {SQL_API_SQLPRIMARYKEYS, SQL_SUCCESS, SQL_TRUE},
      {SQL_API_SQLDRIVERCONNECT, SQL_SUCCESS, SQL_TRUE},
      {SQL_API_SQLBINDPARAM, SQL_ERROR, 0x7E7E},
      {30, SQL_ERROR, 0x7E7E},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    SQLUSMALLINT supported = 0x7E7E;
    EXPECT_EQ(SQLGetFunctions(dbc_, c.id, &supported), c.rc);
    EXPECT_EQ(supported, c.supported);
  }
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "HY095");

  SQLUSMALLINT bitmap[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE + 1];
  std::fill(std::begin(bitmap), std::end(bitmap), 0x7E7E);
  ASSERT_EQ(SQLGetFunctions(dbc_, SQL_API_ODBC3_ALL_FUNCTIONS, bitmap), SQL_SUCCESS);
  for (unsigned id = 0; id < SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * 16; ++id) {
    EXPECT_EQ(SQL_FUNC_EXISTS(bitmap, id) == SQL_TRUE, FunctionWorks(id)) << id;
  }
  EXPECT_EQ(bitmap[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE], 0x7E7E);

  SQLUSMALLINT all[101];
  std::fill(std::begin(all), std::end(all), 0x7E7E);
  ASSERT_EQ(SQLGetFunctions(dbc_, SQL_API_ALL_FUNCTIONS, all), SQL_SUCCESS);
  EXPECT_EQ(all[SQL_API_SQLALLOCENV], SQL_TRUE);
  EXPECT_EQ(all[SQL_API_SQLFETCH], SQL_TRUE);
  EXPECT_EQ(all[SQL_API_SQLTABLES], SQL_TRUE);
  EXPECT_EQ(all[100], 0x7E7E);
  EXPECT_EQ(SQLGetFunctions(dbc_, SQL_API_SQLFETCH, nullptr), SQL_ERROR);
}

TEST(LibraryStart, CountedStartAndStopLeaveTheDriverUsable) {
  LibInit_jdbc();
  const int started = vq::odbc::LibraryStartCount();
  LibInit_jdbc();
  LibFini_jdbc();
  EXPECT_EQ(vq::odbc::LibraryStartCount(), started);
  SQLHANDLE env = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, nullptr, &env), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
  LibFini_jdbc();
}

}  // namespace
