// The late fetch of a callable statement's output parameter whose binding is delayed, in
// the Java VM the bridge tests start (bridge_jvm_test.cpp), over the scripted SQLGetData
// and the recording SQLBindParameter of fake_odbc_api.cpp: the getters read the value
// afresh in pieces, NULL keeps the bound buffer, a failed read gives the zero value, and
// the driver is never left bound to a buffer the parameter let go.
#include <jni.h>

#include <gtest/gtest.h>

#include <string>

#include "fake_odbc_api.h"
#include "jdbcodbc/c/callable.h"
#include "jdbcodbc/c/connection.h"
#include "jvm_test_support.h"

namespace {

constexpr jint kJavaVarchar = 12;  // java.sql.Types.VARCHAR

class LateFetch : public ::testing::Test {
 protected:
  void SetUp() override {
    env = jvm_test::CurrentEnv();
    if (env == nullptr) GTEST_SKIP() << "no Java VM in a sanitizer build";
    fake_odbc::records.clear();
    fake_odbc::get_data = fake_odbc::GetDataScript{};
    static int dbc = 0;
    connection = new Connection(env, &dbc, nullptr, nullptr, kDriverBuildNumber);
    ASSERT_NE(connection->createJobj(env), nullptr);
    jstring sql = env->NewStringUTF("{call p(?)}");
    stmt = new CallableStatement(env, connection, sql, 0, 0, kJdbcForwardOnly,
                                 kJdbcConcurReadOnly, true);
    env->DeleteLocalRef(sql);
    ASSERT_FALSE(env->ExceptionCheck());
    stmt->registerOutParameter(env, 1, kJavaVarchar, 0);
    ASSERT_FALSE(env->ExceptionCheck());
    parameter = stmt->findParameter(1);
    ASSERT_NE(parameter, nullptr);
    parameter->delayBinding(SQL_C_CHAR);
    bound = parameter->value;
    fake_odbc::binds.clear();
  }
  void TearDown() override {
    if (env == nullptr) return;
    fake_odbc::get_data = fake_odbc::GetDataScript{};
    Statement::discard(env, stmt);
    connection->fini(env);
    delete connection;
    EXPECT_FALSE(env->ExceptionCheck());
  }

  void Script(const std::string& value) {
    fake_odbc::get_data = fake_odbc::GetDataScript{};
    fake_odbc::get_data.active = true;
    fake_odbc::get_data.value = value;
  }
  std::string ReadString() {
    jstring s = stmt->getString(env, 1);
    if (s == nullptr) return "<null>";
    const jsize n = env->GetStringUTFLength(s);
    std::string text(static_cast<std::size_t>(n), '\0');
    env->GetStringUTFRegion(s, 0, env->GetStringLength(s), &text[0]);
    env->DeleteLocalRef(s);
    return text;
  }

  JNIEnv* env = nullptr;
  Connection* connection = nullptr;
  CallableStatement* stmt = nullptr;
  Parameter* parameter = nullptr;
  void* bound = nullptr;  // the output buffer bound at registration
};

TEST_F(LateFetch, AValueLongerThanAPieceIsReadWholeAndTheParameterBoundToItsNewBuffer) {
  std::string value(100000, '\0');
  for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<char>('a' + i % 26);
  Script(value);
  EXPECT_EQ(ReadString(), value);
  EXPECT_FALSE(stmt->wasNull());
  EXPECT_GT(fake_odbc::get_data.calls, 1);
  // The driver now holds the new buffer, never more of it than it has.
  ASSERT_EQ(fake_odbc::binds.size(), 1u);
  const fake_odbc::BindCall& b = fake_odbc::binds[0];
  EXPECT_EQ(b.number, 1);
  EXPECT_EQ(b.direction, SQL_PARAM_OUTPUT);
  EXPECT_EQ(b.target, parameter->value);
  EXPECT_NE(b.target, bound);
  EXPECT_EQ(b.indicator, &parameter->indicator);
  EXPECT_LE(b.bufferLength, static_cast<long>(value.size()) + 1);
  EXPECT_EQ(parameter->indicator, static_cast<SQLLEN>(value.size()));

  // Every getter reads afresh: the next value replaces the first.
  Script("12345");
  EXPECT_EQ(stmt->getInt(env, 1), 12345);
  EXPECT_FALSE(stmt->wasNull());
}

TEST_F(LateFetch, NullKeepsTheBoundBufferAndIsReportedByWasNull) {
  fake_odbc::get_data.active = true;
  fake_odbc::get_data.null = true;
  EXPECT_EQ(ReadString(), "<null>");
  EXPECT_TRUE(stmt->wasNull());
  EXPECT_EQ(parameter->value, bound);
  EXPECT_TRUE(fake_odbc::binds.empty());
}

TEST_F(LateFetch, AFailedReadGivesTheZeroValueAndKeepsTheBinding) {
  // Inactive, the scripted SQLGetData answers SQL_ERROR.
  EXPECT_EQ(stmt->getInt(env, 1), 0);
  EXPECT_EQ(ReadString(), "<null>");
  EXPECT_EQ(parameter->value, bound);
  EXPECT_TRUE(fake_odbc::binds.empty());
  env->ExceptionClear();
}

TEST_F(LateFetch, GetBigDecimalReadsTheBoundBuffer) {
  Script("99");
  env->DeleteLocalRef(stmt->getBigDecimal(env, 1, -1));
  env->ExceptionClear();  // the bound buffer holds no number yet
  EXPECT_EQ(fake_odbc::get_data.calls, 0);
  EXPECT_EQ(parameter->value, bound);
}

}  // namespace
