// The scalar natives of IDatabaseMetaData in the Java VM the bridge tests start
// (bridge_jvm_test.cpp), over scripted SQLGetInfo answers (fake_odbc_api.cpp): values a
// real driver does not give (65535, 2^32 - 1, a lower-case "y", a text longer than the
// buffer) reach Java as the rules say; a refused item raises its SQLException and gives
// false, 0 or null; a success with information keeps the answer and replaces the
// metadata object's warnings; supportsConvert asks only the item it needs.
#include <jni.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "fake_odbc_api.h"
#include "jvm_test_support.h"
#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/dbmetadata.h"

#define VQ_DBMD_NATIVE(ret, name, ...) \
  extern "C" ret Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_##name(JNIEnv*, jobject, ##__VA_ARGS__);
VQ_DBMD_NATIVE(jboolean, allTablesAreSelectable)
VQ_DBMD_NATIVE(jboolean, supportsOrderByUnrelated)
VQ_DBMD_NATIVE(jboolean, supportsCorrelatedSubqueries)
VQ_DBMD_NATIVE(jboolean, supportsOuterJoins)
VQ_DBMD_NATIVE(jboolean, supportsFullOuterJoins)
VQ_DBMD_NATIVE(jboolean, supportsUnion)
VQ_DBMD_NATIVE(jboolean, supportsDataManipulationTransactionsOnly)
VQ_DBMD_NATIVE(jint, getMaxColumnNameLength)
VQ_DBMD_NATIVE(jint, getMaxRowSize)
VQ_DBMD_NATIVE(jint, getMaxStatementLength)
VQ_DBMD_NATIVE(jint, getDefaultTransactionIsolation)
VQ_DBMD_NATIVE(jstring, getSQLKeywords)
VQ_DBMD_NATIVE(jstring, getDriverName)
VQ_DBMD_NATIVE(jboolean, supportsConvert, jint, jint)
VQ_DBMD_NATIVE(jboolean, supportsTransactionIsolationLevel, jint)

namespace {

using fake_odbc::InfoAnswer;

std::string Bytes16(unsigned v) { return std::string{char(v & 0xFF), char(v >> 8)}; }
std::string Bytes32(unsigned v) {
  return std::string{char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF),
                     char(v >> 24)};
}
InfoAnswer Ok(const std::string& bytes) {
  return {SQL_SUCCESS, bytes, static_cast<short>(bytes.size())};
}

// A joined connection over the fake API and its metadata object.
class ScalarNatives : public ::testing::Test {
 protected:
  void SetUp() override {
    env = jvm_test::CurrentEnv();
    if (env == nullptr) GTEST_SKIP() << "no Java VM in a sanitizer build";
    fake_odbc::records.clear();
    fake_odbc::info_answers.clear();
    static int dbc = 0;
    connection = new Connection(env, &dbc, nullptr, nullptr, kDriverBuildNumber);
    ASSERT_NE(connection->createJobj(env), nullptr);
    md = connection->getMetaData(env);
    ASSERT_NE(md, nullptr);
    ASSERT_FALSE(env->ExceptionCheck());
    fake_odbc::calls.clear();
  }
  void TearDown() override {
    if (env == nullptr) return;
    fake_odbc::records.clear();
    fake_odbc::info_answers.clear();
    env->DeleteLocalRef(md);
    connection->fini(env);
    delete connection;
    EXPECT_FALSE(env->ExceptionCheck());
  }

  std::string TakeState() { return jvm_test::TakePending(env, "getSQLState"); }
  std::string Text(jstring s) {
    if (s == nullptr) return "<null>";
    const jchar* chars = env->GetStringChars(s, nullptr);
    std::string out;
    for (jsize i = 0; i < env->GetStringLength(s); ++i) out.push_back(char(chars[i]));
    env->ReleaseStringChars(s, chars);
    env->DeleteLocalRef(s);
    return out;
  }
  std::vector<std::string> InfoCalls() {
    std::vector<std::string> out;
    for (const std::string& c : fake_odbc::calls)
      if (c.rfind("SQLGetInfo", 0) == 0) out.push_back(c);
    return out;
  }

  JNIEnv* env = nullptr;
  Connection* connection = nullptr;
  jobject md = nullptr;
};

TEST_F(ScalarNatives, BooleanAnswersAtTheValuesThatShowARule) {
  struct Case {
    const char* name;
    jboolean (*native)(JNIEnv*, jobject);
    int item;
    std::string bytes;
    jboolean expected;
  };
  const std::vector<Case> cases = {
      {"Y", Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_allTablesAreSelectable, 19, "Y", 1},
      {"lower-case y is not Y",
       Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_allTablesAreSelectable, 19, "y", 0},
      {"N is the opposite for ORDER BY",
       Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_supportsOrderByUnrelated, 90, "N", 1},
      {"Y is the opposite for ORDER BY",
       Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_supportsOrderByUnrelated, 90, "Y", 0},
      {"y is not Y for ORDER BY",
       Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_supportsOrderByUnrelated, 90, "y", 1},
      {"bit 16 reaches Java as true",
       Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_supportsCorrelatedSubqueries, 95,
       Bytes32(16), 1},
      {"bit 16 clear", Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_supportsCorrelatedSubqueries,
       95, Bytes32(0xFFFFFFEFu), 0},
      {"outer joins: the not-ordered bit alone",
       Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_supportsOuterJoins, 115, Bytes32(16), 0},
      {"outer joins: nested", Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_supportsOuterJoins,
       115, Bytes32(8), 1},
      {"full outer joins", Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_supportsFullOuterJoins,
       115, Bytes32(4), 1},
      {"manipulation only: 4",
       Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_supportsDataManipulationTransactionsOnly,
       46, Bytes16(4), 1},
      {"manipulation only: 2",
       Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_supportsDataManipulationTransactionsOnly,
       46, Bytes16(2), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_odbc::info_answers = {{c.item, Ok(c.bytes)}};
    fake_odbc::calls.clear();
    EXPECT_EQ(c.native(env, md), c.expected);
    EXPECT_EQ(TakeState(), "");
    EXPECT_EQ(InfoCalls(), std::vector<std::string>{"SQLGetInfo " + std::to_string(c.item)});
  }
}

TEST_F(ScalarNatives, IntAnswersKeepTheirWidthAndSign) {
  struct Case {
    const char* name;
    jint (*native)(JNIEnv*, jobject);
    int item;
    std::string bytes;
    jint expected;
  };
  const std::vector<Case> cases = {
      {"16-bit 65535 is not -1",
       Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_getMaxColumnNameLength, 30, Bytes16(65535),
       65535},
      {"row size 2^32 - 1 is clamped", Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_getMaxRowSize,
       104, Bytes32(0xFFFFFFFFu), INT_MAX},
      {"statement length 2^32 - 1 arrives as -1",
       Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_getMaxStatementLength, 105,
       Bytes32(0xFFFFFFFFu), -1},
      {"default isolation 3 is no level",
       Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_getDefaultTransactionIsolation, 26,
       Bytes32(3), 0},
      {"default isolation 64",
       Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_getDefaultTransactionIsolation, 26,
       Bytes32(64), 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_odbc::info_answers = {{c.item, Ok(c.bytes)}};
    EXPECT_EQ(c.native(env, md), c.expected);
    EXPECT_EQ(TakeState(), "");
  }
}

TEST_F(ScalarNatives, ARefusedItemRaisesAndGivesTheZeroAnswer) {
  for (int item : {96, 105, 6}) {
    fake_odbc::info_answers = {{item, {SQL_ERROR, "", 0}}};
    fake_odbc::records = {{"08003", 0, u"connection not open"}};
    switch (item) {
      case 96:
        EXPECT_EQ(Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_supportsUnion(env, md), 0);
        break;
      case 105:
        EXPECT_EQ(Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_getMaxStatementLength(env, md),
                  0);
        break;
      default:
        EXPECT_EQ(Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_getDriverName(env, md), nullptr);
    }
    EXPECT_EQ(TakeState(), "08003") << item;
  }
}

TEST_F(ScalarNatives, AWarningKeepsTheAnswerAndReplacesTheWarnings) {
  auto* peer = static_cast<DatabaseMetaData*>(NOSE()->getNativeObj(env, md));
  ASSERT_NE(peer, nullptr);
  fake_odbc::info_answers = {{96, {SQL_SUCCESS_WITH_INFO, Bytes32(3), 4}}};
  fake_odbc::records = {{"01000", 0, u"first"}};
  EXPECT_EQ(Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_supportsUnion(env, md), JNI_TRUE);
  EXPECT_EQ(TakeState(), "");
  ASSERT_NE(peer->getWarnings(), nullptr);
  fake_odbc::records = {{"01000", 0, u"second"}};
  EXPECT_EQ(Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_supportsUnion(env, md), JNI_TRUE);
  ASSERT_NE(peer->getWarnings(), nullptr);
  jclass cls = env->GetObjectClass(peer->getWarnings());
  auto* message = static_cast<jstring>(env->CallObjectMethod(
      peer->getWarnings(), env->GetMethodID(cls, "getMessage", "()Ljava/lang/String;")));
  auto* next = env->CallObjectMethod(
      peer->getWarnings(), env->GetMethodID(cls, "getNextWarning", "()Ljava/sql/SQLWarning;"));
  env->DeleteLocalRef(cls);
  EXPECT_NE(Text(message).find("second"), std::string::npos);
  EXPECT_EQ(next, nullptr) << "the chain was replaced, not appended to";
}

TEST_F(ScalarNatives, StringAnswersNeverReadPastTheBuffer) {
  struct Case {
    const char* name;
    std::string bytes;
    short reported;
    std::size_t units;
  };
  std::string longText;
  for (int i = 0; i < 6000; ++i) longText += std::string{char('a' + i % 26), '\0'};
  const std::vector<Case> cases = {
      {"as reported", std::string("a\0b\0c\0", 6), 6, 3},
      {"an odd byte count drops the half unit", std::string("a\0b\0c\0", 6), 5, 2},
      {"longer than the buffer: what it holds", longText, 12000, 4095},
      {"a negative length is empty", std::string("a\0", 2), -4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_odbc::info_answers = {{89, {SQL_SUCCESS, c.bytes, c.reported}}};
    const std::string text = Text(Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_getSQLKeywords(env, md));
    EXPECT_EQ(TakeState(), "");
    ASSERT_EQ(text.size(), c.units);
    for (std::size_t i = 0; i < c.units; ++i) ASSERT_EQ(text[i], c.bytes[2 * i]) << i;
  }
}

TEST_F(ScalarNatives, ConvertAndIsolationAskOnlyTheirItem) {
  struct Case {
    const char* name;
    jint from, to;
    std::vector<std::string> asked;
    jboolean expected;
  };
  fake_odbc::info_answers = {{48, Ok(Bytes32(1))},
                             {61, Ok(Bytes32(0xFFFFFFFFu))},
                             {57, Ok(Bytes32(SQL_CVT_CHAR))}};
  const std::vector<Case> cases = {
      {"0 to 0 asks item 48", 0, 0, {"SQLGetInfo 48"}, 1},
      {"0 to INTEGER asks nothing", 0, 4, {}, 0},
      {"INTEGER to VARCHAR asks 61 and is false", 4, 12, {"SQLGetInfo 61"}, 0},
      {"INTEGER to DOUBLE", 4, 8, {"SQLGetInfo 61"}, 1},
      {"DATE (91) to CHAR", 91, 1, {"SQLGetInfo 57"}, 1},
      {"DATE (9) to INTEGER", 9, 4, {"SQLGetInfo 57"}, 0},
      {"BLOB asks nothing", 2004, 1, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_odbc::calls.clear();
    EXPECT_EQ(Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_supportsConvert(env, md, c.from, c.to),
              c.expected);
    EXPECT_EQ(InfoCalls(), c.asked);
  }
  // Item 72 with every bit set: the seven levels only, and the item is asked every time.
  fake_odbc::info_answers = {{72, Ok(Bytes32(0xFFFFFFFFu))}};
  for (jint level : {0, 1, 3, 16, 32, 128, 256, -1}) {
    fake_odbc::calls.clear();
    const bool known = level == 1 || level == 32 || level == 128;
    EXPECT_EQ(Java_tovrak_jdbc_vellumcrest_IDatabaseMetaData_supportsTransactionIsolationLevel(
                  env, md, level),
              known ? JNI_TRUE : JNI_FALSE)
        << level;
    EXPECT_EQ(InfoCalls(), std::vector<std::string>{"SQLGetInfo 72"}) << level;
  }
  EXPECT_EQ(TakeState(), "");
}

}  // namespace
