// Long values read by the statement peer in growing pieces, in the Java VM the bridge
// tests start (bridge_jvm_test.cpp), over the scripted SQLGetData of fake_odbc_api.cpp:
// every byte arrives in order, the total is the value's length, NULL and no data are told
// apart, and a driver error reads no piece. And a result set whose construction failed
// lets go of its statement.
#include <jni.h>

#include <gtest/gtest.h>

#include <string>

#include "fake_odbc_api.h"
#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/resultset.h"
#include "jdbcodbc/c/statement.h"
#include "jvm_test_support.h"

namespace {

constexpr SQLSMALLINT kNumericText = -9999;

// A joined connection with one statement over the fake API.
class LongData : public ::testing::Test {
 protected:
  void SetUp() override {
    env = jvm_test::CurrentEnv();
    if (env == nullptr) GTEST_SKIP() << "no Java VM in a sanitizer build";
    fake_odbc::records.clear();
    fake_odbc::get_data = fake_odbc::GetDataScript{};
    static int dbc = 0;
    connection = new Connection(env, &dbc, nullptr, nullptr, kDriverBuildNumber);
    ASSERT_NE(connection->createJobj(env), nullptr);
    stmt = new Statement(env, connection, kJdbcForwardOnly, kJdbcConcurReadOnly, true);
    ASSERT_FALSE(env->ExceptionCheck());
  }
  void TearDown() override {
    if (env == nullptr) return;
    fake_odbc::get_data = fake_odbc::GetDataScript{};
    NativeWarnObj::free(buffer);
    if (stmt != nullptr) Statement::discard(env, stmt);
    connection->fini(env);
    delete connection;
    EXPECT_FALSE(env->ExceptionCheck());
  }

  void Script(const std::string& value, bool noTotal = false) {
    fake_odbc::get_data.active = true;
    fake_odbc::get_data.value = value;
    fake_odbc::get_data.no_total = noTotal;
  }
  bool Read(SQLSMALLINT cType, bool firstPieceOnly = false, bool reuse = false) {
    return stmt->getLongData(env, &buffer, &total, &indicator, 1, cType, firstPieceOnly, reuse);
  }
  std::string Bytes() const { return std::string(static_cast<const char*>(buffer), total); }

  JNIEnv* env = nullptr;
  Connection* connection = nullptr;
  Statement* stmt = nullptr;
  void* buffer = nullptr;
  SQLLEN total = -7;
  SQLLEN indicator = -7;
};

// Bytes that show where each one came from.
std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return s;
}

struct Case {
  const char* name;
  SQLSMALLINT cType;
  std::size_t bytes;
  bool noTotal;
  int calls;  // SQLGetData calls until the value is whole
};

TEST_F(LongData, ValuesOfEverySizeArriveWholeInGrowingPieces) {
  const Case cases[] = {
      {"empty text", SQL_C_WCHAR, 0, false, 1},
      {"wide text that fits with its terminator", SQL_C_WCHAR, 32766, false, 1},
      {"wide text one unit too long for one piece", SQL_C_WCHAR, 32768, false, 2},
      {"wide text of 100000 bytes", SQL_C_WCHAR, 100000, false, 2},
      {"wide text, remaining length not told", SQL_C_WCHAR, 100000, true, 4},
      {"numeric text is read as wide text", kNumericText, 40000, false, 2},
      {"narrow text", SQL_C_CHAR, 70000, false, 2},
      {"binary of exactly one piece", SQL_C_BINARY, 32768, false, 1},
      {"binary of several MB", SQL_C_BINARY, 3 * 1024 * 1024 + 5, false, 2},
      {"binary, remaining length not told", SQL_C_BINARY, 300000, true, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string value = Pattern(c.bytes);
    fake_odbc::get_data = fake_odbc::GetDataScript{};
    Script(value, c.noTotal);
    ASSERT_TRUE(Read(c.cType));
    ASSERT_FALSE(env->ExceptionCheck());
    EXPECT_EQ(total, static_cast<SQLLEN>(c.bytes));
    EXPECT_EQ(indicator, total);
    EXPECT_EQ(fake_odbc::get_data.calls, c.calls);
    ASSERT_NE(buffer, nullptr);
    EXPECT_TRUE(Bytes() == value) << "the bytes differ";
  }
}

TEST_F(LongData, NullNoDataAndFirstPieceOnly) {
  fake_odbc::get_data.active = true;
  fake_odbc::get_data.null = true;
  EXPECT_TRUE(Read(SQL_C_WCHAR));
  EXPECT_EQ(indicator, SQL_NULL_DATA);
  EXPECT_EQ(buffer, nullptr);

  // A value already used up: no data, and the buffer is gone.
  fake_odbc::get_data = fake_odbc::GetDataScript{};
  Script("ab");
  fake_odbc::get_data.calls = 1;
  fake_odbc::get_data.offset = 2;
  EXPECT_FALSE(Read(SQL_C_BINARY));
  EXPECT_FALSE(env->ExceptionCheck());
  EXPECT_EQ(buffer, nullptr);

  // The first piece only, then the rest into the same buffer.
  const std::string value = Pattern(80000);
  fake_odbc::get_data = fake_odbc::GetDataScript{};
  Script(value);
  ASSERT_TRUE(Read(SQL_C_WCHAR, true));
  EXPECT_EQ(total, 32766);
  EXPECT_EQ(indicator, 32766);
  EXPECT_TRUE(Bytes() == value.substr(0, 32766));
  ASSERT_TRUE(Read(SQL_C_WCHAR, true, true));
  EXPECT_EQ(total, 32766);
  EXPECT_TRUE(Bytes() == value.substr(32766, 32766));
}

TEST_F(LongData, ALengthBeyondAnyJavaValueIsRefusedNotAllocated) {
  // The driver tells how much remains; a length no Java value can hold (or one that would
  // overflow the sum) raises OUT_OF_MEMORY instead of growing the buffer (a failed growth
  // of a block ends the process).
  for (long claimed : {0x7FFFFFFFFFFFFFFFL, 1L << 40, (1L << 32) + 3}) {
    SCOPED_TRACE(claimed);
    fake_odbc::get_data = fake_odbc::GetDataScript{};
    Script(Pattern(40000));
    fake_odbc::get_data.claimed = claimed;
    EXPECT_FALSE(Read(SQL_C_BINARY));
    EXPECT_EQ(jvm_test::TakePending(env, "getMessage"), "OUT_OF_MEMORY");
    EXPECT_EQ(total, 0);
    EXPECT_EQ(fake_odbc::get_data.calls, 1);
  }
  // A true remaining length grows the buffer as before.
  fake_odbc::get_data = fake_odbc::GetDataScript{};
  Script(Pattern(40000));
  fake_odbc::get_data.claimed = 40000;
  ASSERT_TRUE(Read(SQL_C_BINARY));
  EXPECT_EQ(total, 40000);
}

TEST_F(LongData, ADriverErrorReadsNoPieceAndRaises) {
  // Inactive script: SQLGetData fails with no diagnostic records.
  fake_odbc::records = {{"HY000", -1, u"the read failed"}};
  EXPECT_FALSE(Read(SQL_C_BINARY));
  EXPECT_EQ(total, 0);
  EXPECT_EQ(indicator, 0);
  ASSERT_TRUE(env->ExceptionCheck());
  env->ExceptionClear();
}

using FailedResultSet = LongData;

TEST_F(FailedResultSet, LeavesTheStatementFreeToBeCollected) {
  // A result set takes a global reference to its statement's Java object. Here its
  // construction fails (the fake driver cannot count the result's columns) and the peer
  // is dropped as executeQuery drops it; once the statement is gone too, nothing may
  // keep its Java object alive.
  fake_odbc::records = {{"HY000", -1, u"no result"}};
  ASSERT_NE(stmt->createJobj(env), nullptr);
  jweak watched = env->NewWeakGlobalRef(stmt->getJobj());
  ASSERT_NE(watched, nullptr);
  auto* rset = new ResultSet(env, stmt);
  ASSERT_TRUE(env->ExceptionCheck());
  env->ExceptionClear();
  rset->fini(env);
  delete rset;
  Statement::discard(env, stmt);
  stmt = nullptr;

  jclass system = env->FindClass("java/lang/System");
  ASSERT_NE(system, nullptr);
  jmethodID gc = env->GetStaticMethodID(system, "gc", "()V");
  bool collected = false;
  for (int i = 0; i < 10 && !collected; ++i) {
    env->CallStaticVoidMethod(system, gc);
    collected = env->IsSameObject(watched, nullptr) == JNI_TRUE;
  }
  EXPECT_TRUE(collected) << "the statement's Java object is still referenced";
  env->DeleteWeakGlobalRef(watched);
  env->DeleteLocalRef(system);
}

}  // namespace
