// The native connection: construction (connect and join forms), the build-number gate,
// the kept URL and teardown. The connection-level operations are in
// connection_operations.cpp.
#include "jdbcodbc/c/connection.h"

#include <pthread.h>

#include <climits>
#include <cstring>

#include "jdbcodbc/c/misccls.h"
#include "jdbcodbc/c/odbcw.h"

namespace {

constexpr SQLSMALLINT kCompletedUnits = 1024;  // the completed connection string (unused)
constexpr int kApiNameUnits = 256;
constexpr char kApiName[] = "QuillonJDBC";
constexpr SQLULEN kLoginTimeoutSeconds = 600;
constexpr std::int32_t kDefaultRowsetSize = 33;
constexpr std::int32_t kConcurReadOnly = 1007;  // java.sql.ResultSet.CONCUR_READ_ONLY
constexpr std::size_t kSharedBufferBytes = 256;

void Wipe(void* block, std::size_t bytes) {
  volatile auto* p = static_cast<volatile unsigned char*>(block);
  for (std::size_t i = 0; i < bytes; ++i) p[i] = 0;
}

}  // namespace

void Connection::baseSetUp() {
  flags_ = kOwnsHandles | kTransactionControl;
  ut_safe_pthread_mutex_init(&bufferMutex_, nullptr);
  ut_safe_pthread_mutex_init(&listsMutex_, nullptr);
  ut_safe_pthread_mutex_init(&releaseMutex_, nullptr);
}

Connection::Connection(JNIEnv* env, jstring connectionString, jstring url, jint buildNumber) {
  baseSetUp();
  if (!checkBuildNum(env, buildNumber)) return;
  NativeObjSharedEnv* shared = NOSE();
  SQLRETURN rc = shared->allocEnv(&henv_);
  if (sqlError(env, rc, SQL_HANDLE_ENV, henv_)) return;
  rc = SQLSetEnvAttr(henv_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                     SQL_IS_INTEGER);
  if (sqlError(env, rc, SQL_HANDLE_ENV, henv_)) return;
  rc = SQLAllocHandle(SQL_HANDLE_DBC, henv_, &hdbc_);
  if (sqlError(env, rc, SQL_HANDLE_ENV, henv_)) return;
  rc = SQLSetConnectAttr(hdbc_, SQL_ATTR_LOGIN_TIMEOUT,
                         reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), SQL_IS_UINTEGER);
  if (sqlError(env, rc, SQL_HANDLE_DBC, hdbc_)) return;

  SQLWCHAR apiName[kApiNameUnits] = {};
  for (std::size_t i = 0; kApiName[i] != 0; ++i) apiName[i] = static_cast<SQLWCHAR>(kApiName[i]);
  (void)SQLSetConnectAttrW(hdbc_, kAttrApiName, apiName, SQL_NTS);

  if (!connect(env, connectionString)) return;
  // Connected before the URL is copied: a connection given up after this point is
  // rolled back and disconnected by fini, not freed while connected.
  flags_ |= kConnected;
  if (url != nullptr && !keepURL(env, url)) return;
  init(env);
}

bool Connection::connect(JNIEnv* env, jstring connectionString) {
  if (connectionString == nullptr) {
    NOSE()->raiseError(env, "NULL_POINTER");
    return false;
  }
  // A terminated copy: the length travels as SQLSMALLINT, so a longer text is passed
  // with SQL_NTS instead of a length that would wrap. It may hold a password and is
  // wiped before it is freed.
  const jsize units = env->GetStringLength(connectionString);
  const std::size_t bytes = (static_cast<std::size_t>(units) + 1) * sizeof(SQLWCHAR);
  auto* text = static_cast<SQLWCHAR*>(alloc(env, bytes));
  if (text == nullptr) return false;
  env->GetStringRegion(connectionString, 0, units, reinterpret_cast<jchar*>(text));
  const SQLSMALLINT length = units <= SHRT_MAX ? static_cast<SQLSMALLINT>(units) : SQL_NTS;

  SQLWCHAR completed[kCompletedUnits + 1] = {};
  SQLSMALLINT completedLength = 0;
  const SQLRETURN rc = SQLDriverConnectW(hdbc_, nullptr, text, length, completed,
                                         kCompletedUnits, &completedLength, SQL_DRIVER_NOPROMPT);
  // The completed string is never used; it may carry the password.
  Wipe(completed, sizeof(completed));
  Wipe(text, bytes);
  free(text);
  if (rc >= 0) return true;
  NativeObjSharedEnv* shared = NOSE();
  if (shared->throwError(env, rc, henv_, hdbc_, SQL_NULL_HSTMT, false) == nullptr &&
      !env->ExceptionCheck())
    shared->raiseError(env, "FAILED_TO_CONNECT");
  return false;
}

bool Connection::keepURL(JNIEnv* env, jstring url) {
  const jsize units = env->GetStringLength(url);
  auto* copy = static_cast<jchar*>(alloc(env, static_cast<std::size_t>(units) * 2 + 2));
  if (copy == nullptr) return false;
  env->GetStringRegion(url, 0, units, copy);
  url_ = copy;
  urlLength_ = units;
  obfuscateURL();
  return true;
}

Connection::Connection(JNIEnv* env, SQLHDBC hdbc, ReleaseFunction release, void* context,
                       jint buildNumber)
    : hdbc_(hdbc), release_(release), releaseContext_(context) {
  flags_ = kConnected;
  if (release != nullptr) flags_ |= kTransactionControl;
  init(env);
  ut_safe_pthread_mutex_init(&bufferMutex_, nullptr);
  ut_safe_pthread_mutex_init(&listsMutex_, nullptr);
  ut_safe_pthread_mutex_init(&releaseMutex_, nullptr);
  // A mismatch leaves "VCJAR_MISMATCH" pending; joinODBCConnection then discards this.
  (void)checkBuildNum(env, buildNumber);
}

Connection::~Connection() {
  ut_safe_pthread_mutex_destroy(&bufferMutex_);
  ut_safe_pthread_mutex_destroy(&listsMutex_);
  ut_safe_pthread_mutex_destroy(&releaseMutex_);
}

bool Connection::checkBuildNum(JNIEnv* env, jint buildNumber) {
  if (env->ExceptionCheck()) return false;
  if (buildNumber == kDriverBuildNumber) return true;
  NOSE()->raiseError(env, "VCJAR_MISMATCH");
  return false;
}

void Connection::init(JNIEnv* env) {
  defaultRowsetSize_ = kDefaultRowsetSize;
  defaultConcurrency_ = kConcurReadOnly;
  flags_ &= ~(kGetDataAnyColumn | kGetDataAnyOrder | kGetDataBlock | kGetDataBound);
  buffer_ = alloc(env, kSharedBufferBytes);
  bufferSize_ = buffer_ != nullptr ? static_cast<SQLINTEGER>(kSharedBufferBytes) : 0;

  SQLUINTEGER extensions = 0;
  const SQLRETURN rc = SQLGetInfo(hdbc_, SQL_GETDATA_EXTENSIONS, &extensions, 0, nullptr);
  if (SQL_SUCCEEDED(rc)) {
    if (extensions & SQL_GD_ANY_COLUMN) flags_ |= kGetDataAnyColumn;
    if (extensions & SQL_GD_ANY_ORDER) flags_ |= kGetDataAnyOrder;
    if (extensions & SQL_GD_BLOCK) flags_ |= kGetDataBlock;
    if (extensions & SQL_GD_BOUND) flags_ |= kGetDataBound;
  }
}

jobject Connection::makeODBCConnection(JNIEnv* env, jstring connectionString, jstring url,
                                       jint buildNumber) {
  auto* connection = new Connection(env, connectionString, url, buildNumber);
  if (!env->ExceptionCheck() && connection->createJobj(env) != nullptr)
    return connection->getJobj();
  connection->fini(env);
  delete connection;
  return nullptr;
}

jobject Connection::joinODBCConnection(JNIEnv* env, jlong hdbc, jlong release, jlong context,
                                       jint buildNumber) {
  // Every value is a whole pointer carried in a Java long.
  auto handle = reinterpret_cast<SQLHDBC>(static_cast<std::intptr_t>(hdbc));
  auto function = reinterpret_cast<ReleaseFunction>(static_cast<std::intptr_t>(release));
  auto* data = reinterpret_cast<void*>(static_cast<std::intptr_t>(context));
  auto* connection = new Connection(env, handle, function, data, buildNumber);
  if (!env->ExceptionCheck() && connection->createJobj(env) != nullptr)
    return connection->getJobj();
  connection->fini(env);
  delete connection;
  return nullptr;
}

ConstructibleINativeClass* Connection::getConstructibleINativeClass() {
  return NOSE()->iConnectionClass();
}

jobject Connection::createJobj(JNIEnv* env) {
  getJobjMutex();
  jobject made = NativeObj::createJobj(env);
  giveJobjMutex();
  return made;
}

void Connection::fini(JNIEnv* env) {
  flags_ |= kClosed;
  closing_.store(true, std::memory_order_release);
  cleanUpRelease(env);
  close_active_statements(env);
  leaveCallbackRegistries();
  lockBuffer();
  free(buffer_);
  buffer_ = nullptr;
  bufferSize_ = 0;
  unlockBuffer();
  releaseURL(url_);
  url_ = nullptr;
  urlLength_ = 0;
  // The metadata's statements go before the connection handle.
  closeDbMD(env);

  if ((flags_ & kOwnsHandles) == 0) {
    // Joined: the handle goes back to its owner.
    if (release_ != nullptr) {
      ReleaseFunction release = release_;
      release_ = nullptr;
      release(releaseContext_, hdbc_);
    }
  } else if (hdbc_ != SQL_NULL_HDBC) {
    if (flags_ & kConnected) {
      // Uncommitted work is rolled back; a failure raises, and the teardown goes on.
      SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, hdbc_, SQL_ROLLBACK);
      if (rc != SQL_SUCCESS) sqlError(env, rc, SQL_HANDLE_DBC, hdbc_);
      rc = SQLDisconnect(hdbc_);
      if (rc != SQL_SUCCESS) sqlError(env, rc, SQL_HANDLE_DBC, hdbc_);
      flags_ &= ~kConnected;
    }
    SQLFreeHandle(SQL_HANDLE_DBC, hdbc_);
  }
  hdbc_ = SQL_NULL_HDBC;
  NativeWarnObj::fini(env);
}

// ---- The kept URL --------------------------------------------------------------------------

void Connection::obfuscateURL() {
  if (url_ == nullptr) return;
  auto* bytes = reinterpret_cast<unsigned char*>(url_);
  for (std::size_t i = 0; i < static_cast<std::size_t>(urlLength_) * 2; ++i) bytes[i] ^= kUrlMask;
}

jchar* Connection::getURL(JNIEnv* env, std::int32_t* length) {
  if (url_ == nullptr) return nullptr;
  const std::size_t bytes = static_cast<std::size_t>(urlLength_) * 2;
  auto* plain = static_cast<jchar*>(alloc(env, bytes + 2));
  if (plain == nullptr) return nullptr;
  const auto* from = reinterpret_cast<const unsigned char*>(url_);
  auto* to = reinterpret_cast<unsigned char*>(plain);
  for (std::size_t i = 0; i < bytes; ++i) to[i] = from[i] ^ kUrlMask;
  *length = urlLength_;
  return plain;
}

void Connection::releaseURL(jchar* url) {
  if (url == nullptr) return;
  Wipe(url, static_cast<std::size_t>(urlLength_) * 2);
  free(url);
}

// ---- Shared buffer ------------------------------------------------------------------------------

void Connection::lockBuffer() {
  if (bufferMutex_.handle != nullptr) pthread_mutex_lock(bufferMutex_.handle);
}

void Connection::unlockBuffer() {
  if (bufferMutex_.handle != nullptr) pthread_mutex_unlock(bufferMutex_.handle);
}

bool Connection::growBuffer(JNIEnv* env, SQLINTEGER size) {
  void* grown = NativeWarnObj::realloc(env, buffer_, static_cast<std::size_t>(size));
  if (grown == nullptr) {
    buffer_ = nullptr;
    bufferSize_ = 0;
    return false;
  }
  buffer_ = grown;
  bufferSize_ = size;
  return true;
}
