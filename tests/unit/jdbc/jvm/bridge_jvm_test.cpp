// The bridge in a Java VM of this process (with -Xcheck:jni; any JNI warning fails the
// test) over the scripted ODBC API of fake_odbc_api.cpp: ODBC diagnostics into exception
// and warning chains, record by record, read back through JNI; and the ODBC calls of a
// connect, the build-number gate and the kept URL.
#include <jni.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "fake_odbc_api.h"
#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/nativeobj.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kVmRuns = false;  // the Java VM does not run under a sanitizer
#else
constexpr bool kVmRuns = true;
#endif

JavaVM* g_vm = nullptr;
JNIEnv* g_env = nullptr;
// Never destroyed: the VM's threads may print while the process exits.
std::mutex& g_outputMutex = *new std::mutex;
std::string& g_output = *new std::string;  // what the VM printed (JNI check warnings among it)

jint JNICALL CaptureOutput(FILE*, const char* format, va_list args) {
  char line[2048];
  const int n = std::vsnprintf(line, sizeof line, format, args);
  std::lock_guard<std::mutex> guard(g_outputMutex);
  g_output += line;
  return n;
}

class JavaVmEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!kVmRuns) return;
    std::string classPath = std::string("-Djava.class.path=") + VQ_DRIVER_CLASSES_JAR;
    std::string libraryPath = std::string("-Djava.library.path=") + VQ_LIBRARY_DIR;
    JavaVMOption options[4];
    options[0].optionString = const_cast<char*>(classPath.c_str());
    options[1].optionString = const_cast<char*>(libraryPath.c_str());
    options[2].optionString = const_cast<char*>("-Xcheck:jni");
    options[3].optionString = const_cast<char*>("vfprintf");
    options[3].extraInfo = reinterpret_cast<void*>(&CaptureOutput);
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_8;
    args.nOptions = 4;
    args.options = options;
    void* env = nullptr;
    ASSERT_EQ(JNI_CreateJavaVM(&g_vm, &env, &args), JNI_OK);
    g_env = static_cast<JNIEnv*>(env);
    NOSE()->init(g_env, 0, false);
    ASSERT_FALSE(g_env->ExceptionCheck());
  }
};

const auto* const g_registered = ::testing::AddGlobalTestEnvironment(new JavaVmEnvironment);

// A peer with nothing of its own: the warning chain is what is looked at.
class TestPeer : public NativeWarnObj {
 public:
  ConstructibleINativeClass* getConstructibleINativeClass() override { return nullptr; }
  jobject getConnection() override { return nullptr; }
  Connection* getNConnection() override { return nullptr; }
};

class SqlErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    if (g_env == nullptr) GTEST_SKIP() << "no Java VM in a sanitizer build";
    env = g_env;
    fake_odbc::records.clear();
    fake_odbc::diag_reads = 0;
    fake_odbc::calls.clear();
    fake_odbc::connect_result = SQL_SUCCESS;
    std::lock_guard<std::mutex> guard(g_outputMutex);
    g_output.clear();
  }
  void TearDown() override {
    if (env == nullptr) return;
    EXPECT_FALSE(env->ExceptionCheck());
    std::lock_guard<std::mutex> guard(g_outputMutex);
    EXPECT_EQ(g_output.find("WARNING"), std::string::npos) << g_output;
  }

  // The pending exception, taken and cleared.
  jthrowable Take() {
    jthrowable t = env->ExceptionOccurred();
    env->ExceptionClear();
    return t;
  }
  std::string Call(jobject obj, const char* name) {
    jclass cls = env->GetObjectClass(obj);
    jmethodID m = env->GetMethodID(cls, name, "()Ljava/lang/String;");
    auto* s = static_cast<jstring>(env->CallObjectMethod(obj, m));
    EXPECT_FALSE(env->ExceptionCheck());
    env->DeleteLocalRef(cls);
    if (s == nullptr) return "<null>";
    const char* chars = env->GetStringUTFChars(s, nullptr);
    std::string text = chars;
    env->ReleaseStringUTFChars(s, chars);
    env->DeleteLocalRef(s);
    return text;
  }
  int Code(jobject e) {
    jclass cls = env->GetObjectClass(e);
    jint code = env->CallIntMethod(e, env->GetMethodID(cls, "getErrorCode", "()I"));
    EXPECT_FALSE(env->ExceptionCheck());
    env->DeleteLocalRef(cls);
    return code;
  }
  jobject Next(jobject e, const char* name, const char* signature) {
    jclass cls = env->GetObjectClass(e);
    jobject next = env->CallObjectMethod(e, env->GetMethodID(cls, name, signature));
    EXPECT_FALSE(env->ExceptionCheck());
    env->DeleteLocalRef(cls);
    return next;
  }
  // State, code and reason of every object of a chain, head first.
  std::vector<std::string> Chain(jobject head, bool warnings) {
    std::vector<std::string> out;
    jobject e = env->NewLocalRef(head);
    while (e != nullptr) {
      out.push_back(Call(e, "getSQLState") + " " + std::to_string(Code(e)) + " " +
                    Call(e, "getMessage"));
      jobject next = warnings ? Next(e, "getNextWarning", "()Ljava/sql/SQLWarning;")
                              : Next(e, "getNextException", "()Ljava/sql/SQLException;");
      env->DeleteLocalRef(e);
      e = next;
    }
    return out;
  }

  JNIEnv* env = nullptr;
  int dummy = 0;
  SQLHANDLE handle = &dummy;
};

TEST_F(SqlErrors, AnErrorThrowsEveryRecordInOrder) {
  fake_odbc::records = {{"42S02", -141, u"Table 'x' not found"},
                        {"01004", 0, u"cut"},
                        {"HY000", -1, u"third"}};
  TestPeer peer;
  EXPECT_TRUE(peer.sqlError(env, SQL_ERROR, SQL_HANDLE_STMT, handle));
  jthrowable thrown = Take();
  ASSERT_NE(thrown, nullptr);
  EXPECT_EQ(Chain(thrown, false), (std::vector<std::string>{"42S02 -141 Table 'x' not found",
                                                             "01004 0 cut", "HY000 -1 third"}));
  EXPECT_EQ(peer.getWarnings(), nullptr);
  env->DeleteLocalRef(thrown);
}

TEST_F(SqlErrors, SkippedStatesLeaveTheirRecordsOut) {
  fake_odbc::records = {{"HY010", 0, u"sequence"}};
  TestPeer peer;
  // The only record is skipped: nothing is raised, the caller goes on.
  EXPECT_FALSE(peer.sqlError(env, SQL_ERROR, SQL_HANDLE_STMT, handle, false, true));
  fake_odbc::records = {{"01004", 0, u"truncated"}, {"01S02", 0, u"changed"}};
  EXPECT_FALSE(peer.sqlError(env, SQL_SUCCESS_WITH_INFO, SQL_HANDLE_STMT, handle, true, false));
  EXPECT_EQ(Chain(peer.getWarnings(), true), (std::vector<std::string>{"01S02 0 changed"}));
  peer.fini(env);
}

TEST_F(SqlErrors, ANewWarningChainReplacesThePendingOne) {
  TestPeer peer;
  fake_odbc::records = {{"01S02", 1, u"first"}, {"01000", 2, u"second"}};
  EXPECT_FALSE(peer.sqlError(env, SQL_SUCCESS_WITH_INFO, SQL_HANDLE_DBC, handle));
  EXPECT_EQ(Chain(peer.getWarnings(), true),
            (std::vector<std::string>{"01S02 1 first", "01000 2 second"}));
  fake_odbc::records = {{"01004", 3, u"third"}};
  EXPECT_FALSE(peer.sqlError(env, SQL_SUCCESS_WITH_INFO, SQL_HANDLE_DBC, handle));
  EXPECT_EQ(Chain(peer.getWarnings(), true), (std::vector<std::string>{"01004 3 third"}));
  // Records that are all skipped leave the pending chain in place.
  EXPECT_FALSE(peer.sqlError(env, SQL_SUCCESS_WITH_INFO, SQL_HANDLE_DBC, handle, true, false));
  EXPECT_EQ(Chain(peer.getWarnings(), true), (std::vector<std::string>{"01004 3 third"}));
  peer.fini(env);
  EXPECT_EQ(peer.getWarnings(), nullptr);
}

TEST_F(SqlErrors, AnInvalidHandleReadsNoRecord) {
  fake_odbc::records = {{"08S01", -308, u"must not be read"}};
  TestPeer peer;
  EXPECT_TRUE(peer.sqlError(env, SQL_INVALID_HANDLE, SQL_HANDLE_DBC, handle));
  jthrowable thrown = Take();
  EXPECT_EQ(Chain(thrown, false), (std::vector<std::string>{"HY000 -1 BAD_ODBC_HANDLE"}));
  EXPECT_EQ(fake_odbc::diag_reads, 0);
  env->DeleteLocalRef(thrown);
}

TEST_F(SqlErrors, ResultsWithoutDiagnosticsRaiseNothing) {
  fake_odbc::records = {{"HY000", -1, u"must not be read"}};
  TestPeer peer;
  for (SQLRETURN rc : {SQL_SUCCESS, SQL_NO_DATA, SQL_NEED_DATA, SQL_STILL_EXECUTING}) {
    SCOPED_TRACE(rc);
    EXPECT_FALSE(peer.sqlError(env, rc, SQL_HANDLE_STMT, handle));
  }
  EXPECT_EQ(fake_odbc::diag_reads, 0);
}

TEST_F(SqlErrors, APendingExceptionIsKeptAndNoRecordRead) {
  fake_odbc::records = {{"HY000", -1, u"second error"}};
  env->ThrowNew(env->FindClass("java/lang/IllegalStateException"), "first");
  TestPeer peer;
  EXPECT_TRUE(peer.sqlError(env, SQL_ERROR, SQL_HANDLE_STMT, handle));
  EXPECT_EQ(fake_odbc::diag_reads, 0);
  jthrowable thrown = Take();
  EXPECT_EQ(Call(thrown, "getMessage"), "first");
  env->DeleteLocalRef(thrown);
}

TEST_F(SqlErrors, ALongReasonIsCutTo1024Units) {
  fake_odbc::records = {{"HY000", -1, std::u16string(1500, u'r')}};
  TestPeer peer;
  EXPECT_TRUE(peer.sqlError(env, SQL_ERROR, SQL_HANDLE_STMT, handle));
  jthrowable thrown = Take();
  const auto chain = Chain(thrown, false);
  ASSERT_EQ(chain.size(), 1u);
  EXPECT_EQ(chain[0], "HY000 -1 " + std::string(1023, 'r'));
  env->DeleteLocalRef(thrown);
}

TEST_F(SqlErrors, TheConnectPathThrowsOnlyTheFirstRecord) {
  fake_odbc::records = {{"28000", -103, u"Invalid user ID or password"}, {"08001", 0, u"x"}};
  EXPECT_NE(NOSE()->throwError(env, SQL_ERROR, nullptr, handle, nullptr, false), nullptr);
  jthrowable thrown = Take();
  EXPECT_EQ(Chain(thrown, false),
            (std::vector<std::string>{"28000 -103 Invalid user ID or password"}));
  env->DeleteLocalRef(thrown);
  fake_odbc::records = {{"HY010", 0, u"sequence"}};
  EXPECT_EQ(NOSE()->throwError(env, SQL_ERROR, nullptr, handle, nullptr, true), nullptr);
  EXPECT_EQ(NOSE()->throwError(env, SQL_SUCCESS_WITH_INFO, nullptr, handle, nullptr, false),
            nullptr);
}

// ---- Connect -------------------------------------------------------------------------------

class Connect : public SqlErrors {
 protected:
  jstring Str(const char* text) { return env->NewStringUTF(text); }
  // The calls after the shared environment (made once per process) was allocated.
  std::vector<std::string> Calls() {
    std::vector<std::string> out;
    for (const auto& c : fake_odbc::calls)
      if (c != "SQLAllocHandle 1") out.push_back(c);
    fake_odbc::calls.clear();
    return out;
  }
  void Close(jobject jconnection) {
    NativeObj* peer = NOSE()->closeNativeObj(env, jconnection, "Connection");
    ASSERT_NE(peer, nullptr);
    peer->fini(env);
    delete peer;
  }
};

TEST_F(Connect, CallsTheDriverInOrderAndRollsBackAtClose) {
  jstring cs = Str("UID=dba;PWD=sql");
  jstring url = Str("jdbc:vellumcrest:UID=dba");
  jobject c = Connection::makeODBCConnection(env, cs, url, kDriverBuildNumber);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         "SQLSetEnvAttr 200 3", "SQLAllocHandle 2", "SQLSetConnectAttr 103 600",
                         "SQLSetConnectAttrW 1909 QuillonJDBC -3",
                         "SQLDriverConnectW UID=dba;PWD=sql 15 1024 0", "SQLGetInfo 81"}));
  auto* connection = static_cast<Connection*>(NOSE()->getNativeObj(env, c));
  ASSERT_NE(connection, nullptr);
  // The driver's SQL_GD_ANY_ORDER and SQL_GD_BOUND.
  EXPECT_EQ(connection->flags() & 0xF0, Connection::kGetDataAnyOrder | Connection::kGetDataBound);
  std::int32_t units = 0;
  jchar* plain = connection->getURL(env, &units);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(plain), static_cast<std::size_t>(units)),
            u"jdbc:vellumcrest:UID=dba");
  connection->releaseURL(plain);
  // Unscrambling the kept copy in place makes getURL answer the scrambled form: so the
  // copy held every byte of the text XORed with the mask, never the plain text.
  connection->obfuscateURL();
  plain = connection->getURL(env, &units);
  std::u16string expected = u"jdbc:vellumcrest:UID=dba";
  for (char16_t& unit : expected) unit ^= 0x3C3C;
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(plain), static_cast<std::size_t>(units)),
            expected);
  connection->releaseURL(plain);
  Close(c);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"SQLEndTran 1", "SQLDisconnect", "SQLFreeHandle 2"}));
  env->DeleteLocalRef(url);
  env->DeleteLocalRef(cs);
}

TEST_F(Connect, WithoutAURLNoneIsKept) {
  jstring cs = Str("UID=dba");
  jobject c = Connection::makeODBCConnection(env, cs, nullptr, kDriverBuildNumber);
  ASSERT_NE(c, nullptr);
  auto* connection = static_cast<Connection*>(NOSE()->getNativeObj(env, c));
  std::int32_t units = -1;
  EXPECT_EQ(connection->getURL(env, &units), nullptr);
  Close(c);
  env->DeleteLocalRef(cs);
}

TEST_F(Connect, AnotherBuildNumberMakesNoODBCCall) {
  jstring cs = Str("UID=dba");
  EXPECT_EQ(Connection::makeODBCConnection(env, cs, nullptr, kDriverBuildNumber - 1), nullptr);
  jthrowable thrown = Take();
  ASSERT_NE(thrown, nullptr);
  EXPECT_EQ(Call(thrown, "getMessage"), "VCJAR_MISMATCH");
  EXPECT_EQ(Calls(), std::vector<std::string>{});
  env->DeleteLocalRef(thrown);
  env->DeleteLocalRef(cs);
}

TEST_F(Connect, AFailedConnectThrowsItsFirstRecordOrFailedToConnect) {
  jstring cs = Str("UID=dba;PWD=wrong");
  fake_odbc::connect_result = SQL_ERROR;
  fake_odbc::records = {{"28000", -103, u"Invalid user ID or password"}, {"08001", 0, u"x"}};
  EXPECT_EQ(Connection::makeODBCConnection(env, cs, nullptr, kDriverBuildNumber), nullptr);
  jthrowable thrown = Take();
  EXPECT_EQ(Chain(thrown, false),
            (std::vector<std::string>{"28000 -103 Invalid user ID or password"}));
  env->DeleteLocalRef(thrown);
  // The handle is freed; a connection that never connected is not disconnected.
  const auto calls = Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "SQLFreeHandle 2");
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "SQLDisconnect"), 0);

  fake_odbc::records.clear();  // no record at all
  EXPECT_EQ(Connection::makeODBCConnection(env, cs, nullptr, kDriverBuildNumber), nullptr);
  thrown = Take();
  EXPECT_EQ(Call(thrown, "getMessage"), "FAILED_TO_CONNECT");
  env->DeleteLocalRef(thrown);
  env->DeleteLocalRef(cs);
}

}  // namespace
