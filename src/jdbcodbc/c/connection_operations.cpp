// The connection-level operations of the Java connection: attributes, auto-commit,
// isolation, transactions, read-only, catalog and native SQL. Each ODBC call is followed
// by its diagnostics (NativeWarnObj::sqlError on the connection handle).
#include <algorithm>

#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/misccls.h"

namespace {

// Attributes the Java side passes to setAttribute that have no meaning for this driver.
constexpr jint kIgnoredAttributeA = 1041;
constexpr jint kIgnoredAttributeB = 1042;
constexpr SQLINTEGER kMaxAttributeRequest = 32767;  // bytes asked for a string attribute
constexpr SQLINTEGER kFirstAttributeBuffer = 128;
// A string attribute or native SQL text longer than this is not believed: it is read
// truncated to the buffer it has rather than grown without bound.
constexpr SQLINTEGER kMaxTextBytes = 1 << 24;

SQLPOINTER IntegerValue(SQLULEN value) { return reinterpret_cast<SQLPOINTER>(value); }

// Integer attributes are read into a zeroed pointer-sized word: the driver writes 32 or
// 64 bits depending on the attribute, and the low 32 bits are the value either way.
struct IntegerAttribute {
  SQLULEN word = 0;
  jint value() const { return static_cast<jint>(static_cast<std::uint32_t>(word)); }
};

}  // namespace

bool IsIsolationLevel(jint level) {
  switch (level) {
    case 1: case 2: case 4: case 8: case 32: case 64: case 128:
      return true;
    default:
      return false;
  }
}

bool Connection::isClosed(JNIEnv*) {
  if ((flags_ & kOwnsHandles) && henv_ == SQL_NULL_HENV) return true;
  if (hdbc_ == SQL_NULL_HDBC || (flags_ & kConnected) == 0) return true;
  IntegerAttribute dead;
  SQLGetConnectAttr(hdbc_, SQL_ATTR_CONNECTION_DEAD, &dead.word, 0, nullptr);
  return dead.value() == 1;
}

void Connection::setReadOnly(JNIEnv* env, bool readOnly) {
  const SQLRETURN rc = SQLSetConnectAttr(hdbc_, SQL_ATTR_ACCESS_MODE,
                                         IntegerValue(readOnly ? 1 : 0), SQL_IS_UINTEGER);
  sqlError(env, rc, SQL_HANDLE_DBC, hdbc_);
}

bool Connection::isReadOnly(JNIEnv* env) {
  IntegerAttribute mode;
  const SQLRETURN rc = SQLGetConnectAttr(hdbc_, SQL_ATTR_ACCESS_MODE, &mode.word, 0, nullptr);
  return !sqlError(env, rc, SQL_HANDLE_DBC, hdbc_) && mode.value() == 1;
}

bool Connection::getAutoCommit(JNIEnv* env) {
  IntegerAttribute mode;
  mode.word = static_cast<SQLULEN>(-1);
  const SQLRETURN rc = SQLGetConnectAttr(hdbc_, SQL_ATTR_AUTOCOMMIT, &mode.word, 0, nullptr);
  return !sqlError(env, rc, SQL_HANDLE_DBC, hdbc_) && mode.value() == 1;
}

jint Connection::getTransactionIsolation(JNIEnv* env) {
  IntegerAttribute level;
  const SQLRETURN rc = SQLGetConnectAttr(hdbc_, SQL_ATTR_TXN_ISOLATION, &level.word, 0, nullptr);
  if (sqlError(env, rc, SQL_HANDLE_DBC, hdbc_)) return 0;
  return IsIsolationLevel(level.value()) ? level.value() : 0;
}

bool Connection::getNumAttr(JNIEnv* env, jint attribute, jint* value) {
  IntegerAttribute attr;
  const SQLRETURN rc = SQLGetConnectAttr(hdbc_, attribute, &attr.word, 0, nullptr);
  *value = attr.value();
  return !sqlError(env, rc, SQL_HANDLE_DBC, hdbc_);
}

// ---- Transactions ----------------------------------------------------------------------------

void Connection::setAllowTransactionControl(bool allow) {
  if (allow) {
    flags_ |= kTransactionControl;
  } else {
    flags_ &= ~kTransactionControl;
  }
}

bool Connection::transactionControlRefused(JNIEnv* env, const char* method) {
  if (flags_ & kTransactionControl) return false;
  if (!env->ExceptionCheck()) {
    jstring text = env->NewStringUTF(method);
    if (text != nullptr) {
      NOSE()->raiseError(env, "DISABLED_FUNCTION", 1, text);
      env->DeleteLocalRef(text);
    }
  }
  return true;
}

void Connection::setAutoCommit(JNIEnv* env, bool autoCommit) {
  if (transactionControlRefused(env, "Connection.setAutoCommit( jboolean )")) return;
  const SQLRETURN rc = SQLSetConnectAttr(hdbc_, SQL_ATTR_AUTOCOMMIT,
                                         IntegerValue(autoCommit ? 1 : 0), SQL_IS_UINTEGER);
  sqlError(env, rc, SQL_HANDLE_DBC, hdbc_);
}

void Connection::setTransactionIsolation(JNIEnv* env, jint level) {
  if (transactionControlRefused(env, "Connection.setTransactionIsolation( int )")) return;
  // The snapshot levels have only the driver's own attribute; every other value goes to
  // the standard one, which refuses what it does not know.
  const SQLINTEGER attribute = (level == 32 || level == 64 || level == 128)
                                   ? kAttrIsolationExtended
                                   : SQL_ATTR_TXN_ISOLATION;
  const SQLRETURN rc = SQLSetConnectAttr(hdbc_, attribute,
                                         IntegerValue(static_cast<std::uint32_t>(level)),
                                         SQL_IS_UINTEGER);
  sqlError(env, rc, SQL_HANDLE_DBC, hdbc_);
}

void Connection::endTransaction(JNIEnv* env, bool commit) {
  if (transactionControlRefused(env, commit ? "Connection.commit()" : "Connection.rollback()"))
    return;
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, hdbc_, commit ? SQL_COMMIT : SQL_ROLLBACK);
  sqlError(env, rc, SQL_HANDLE_DBC, hdbc_);
}

void Connection::setIsolationOnOpen(JNIEnv*, jint level) {
  // Never raises: the driver answers SQL_SUCCESS_WITH_INFO when the connection string
  // chose the isolation itself, and then nothing more is done.
  if (SQLSetConnectAttr(hdbc_, kAttrIsolationOnOpen,
                        IntegerValue(static_cast<std::uint32_t>(level)),
                        SQL_IS_UINTEGER) != SQL_SUCCESS)
    return;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (SQLAllocHandle(SQL_HANDLE_STMT, hdbc_, &stmt) != SQL_SUCCESS) return;
  static SQLCHAR text[] = "SET TEMPORARY OPTION ISOLATION_LEVEL=";
  (void)SQLExecDirect(stmt, text, SQL_NTS);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

// ---- String attributes --------------------------------------------------------------------------

bool Connection::getStrAttr(JNIEnv* env, jint attribute, void** buffer, SQLINTEGER* size,
                            SQLINTEGER* length) {
  *length = 0;
  *size = std::min(*size, kMaxAttributeRequest);
  if (*buffer == nullptr || *size <= 0) {
    free(*buffer);
    *buffer = alloc(env, kFirstAttributeBuffer);
    *size = *buffer != nullptr ? kFirstAttributeBuffer : 0;
    if (*buffer == nullptr) return false;
  }
  SQLINTEGER got = 0;
  SQLRETURN rc = SQLGetConnectAttrW(hdbc_, attribute, *buffer, *size, &got);
  if (SQL_SUCCEEDED(rc) && got >= 0 && got > *size - 2 && got <= kMaxTextBytes - 2) {
    void* grown = NativeWarnObj::realloc(env, *buffer, static_cast<std::size_t>(got) + 2);
    if (grown == nullptr) {
      *buffer = nullptr;
      *size = 0;
      return false;
    }
    *buffer = grown;
    *size = got + 2;
    rc = SQLGetConnectAttrW(hdbc_, attribute, *buffer, *size, &got);
  }
  // No value: nothing was written, and there is no string to make.
  if (rc == SQL_NO_DATA) return true;
  if (sqlError(env, rc, SQL_HANDLE_DBC, hdbc_)) return false;
  if (!SQL_SUCCEEDED(rc)) return true;
  // Never past what the buffer holds (the value may have been cut to fit).
  got = std::max<SQLINTEGER>(0, std::min(got, *size - 2)) & ~SQLINTEGER{1};
  *length = got + 2;
  return true;
}

jstring Connection::getJStrAttr(JNIEnv* env, jint attribute) {
  lockBuffer();
  SQLINTEGER length = 0;
  jstring text = nullptr;
  if (getStrAttr(env, attribute, &buffer_, &bufferSize_, &length) && length >= 2)
    text = env->NewString(static_cast<const jchar*>(buffer_), length / 2 - 1);
  unlockBuffer();
  return text;
}

void Connection::setAttribute(JNIEnv* env, jint attribute, jstring value) {
  if (attribute == kIgnoredAttributeA || attribute == kIgnoredAttributeB) return;
  SQLLEN length = 0;
  SQLLEN size = 0;
  void* copy = copyJStringChars(env, nullptr, 0, &length, value, &size);
  if (env->ExceptionCheck()) {
    free(copy);
    return;
  }
  const SQLRETURN rc = SQLSetConnectAttrW(hdbc_, attribute, copy, SQL_NTS);
  free(copy);
  sqlError(env, rc, SQL_HANDLE_DBC, hdbc_);
}

// ---- Catalog ------------------------------------------------------------------------------------

void Connection::setCatalog(JNIEnv* env, jstring name) {
  if (name == nullptr) {
    NOSE()->raiseError(env, "NULL_POINTER");
    return;
  }
  const jsize units = env->GetStringLength(name);
  const jchar* chars = env->GetStringChars(name, nullptr);
  if (chars == nullptr) return;
  const SQLRETURN rc = SQLSetConnectAttrW(hdbc_, SQL_ATTR_CURRENT_CATALOG,
                                          const_cast<jchar*>(chars), 2 * units);
  env->ReleaseStringChars(name, chars);
  sqlError(env, rc, SQL_HANDLE_DBC, hdbc_);
}

jstring Connection::getCatalog(JNIEnv* env) {
  lockBuffer();
  SQLINTEGER got = 0;
  SQLRETURN rc = SQLGetConnectAttrW(hdbc_, SQL_ATTR_CURRENT_CATALOG, buffer_, bufferSize_, &got);
  if (SQL_SUCCEEDED(rc) && got >= 0 && got > bufferSize_ - 2 && got <= kMaxTextBytes - 2) {
    if (!growBuffer(env, got + 2)) {
      unlockBuffer();
      return nullptr;
    }
    rc = SQLGetConnectAttrW(hdbc_, SQL_ATTR_CURRENT_CATALOG, buffer_, bufferSize_, &got);
  }
  if (rc == SQL_NO_DATA) {
    // No current catalog: the database name, through the metadata peer.
    unlockBuffer();
    return databaseNameFromMetaData(env);
  }
  jstring name = nullptr;
  if (!sqlError(env, rc, SQL_HANDLE_DBC, hdbc_) && SQL_SUCCEEDED(rc) &&
      buffer_ != nullptr) {
    const SQLINTEGER units = std::max<SQLINTEGER>(0, std::min(got, bufferSize_ - 2)) / 2;
    name = env->NewString(static_cast<const jchar*>(buffer_), units);
  }
  unlockBuffer();
  return name;
}

// ---- Native SQL ------------------------------------------------------------------------------------

jstring Connection::nativeSQL(JNIEnv* env, jstring sql) {
  if (sql == nullptr) {
    NOSE()->raiseError(env, "NULL_POINTER");
    return nullptr;
  }
  const jsize units = env->GetStringLength(sql);
  if (units == 0) return env->NewString(nullptr, 0);
  const jchar* chars = env->GetStringChars(sql, nullptr);
  if (chars == nullptr) return nullptr;

  lockBuffer();
  auto* in = reinterpret_cast<SQLWCHAR*>(const_cast<jchar*>(chars));
  SQLINTEGER outUnits = 0;
  SQLRETURN rc = SQLNativeSqlW(hdbc_, in, units, static_cast<SQLWCHAR*>(buffer_), bufferSize_ / 2,
                               &outUnits);
  const std::int64_t need = 2 * static_cast<std::int64_t>(outUnits) + 2;
  if (SQL_SUCCEEDED(rc) && outUnits >= 0 && need > bufferSize_ && need <= kMaxTextBytes) {
    if (!growBuffer(env, static_cast<SQLINTEGER>(need))) {
      unlockBuffer();
      env->ReleaseStringChars(sql, chars);
      return nullptr;
    }
    rc = SQLNativeSqlW(hdbc_, in, units, static_cast<SQLWCHAR*>(buffer_), bufferSize_ / 2,
                       &outUnits);
  }
  env->ReleaseStringChars(sql, chars);
  jstring text = nullptr;
  if (!sqlError(env, rc, SQL_HANDLE_DBC, hdbc_) && SQL_SUCCEEDED(rc) && buffer_ != nullptr) {
    const SQLINTEGER n = std::max<SQLINTEGER>(0, std::min(outUnits, bufferSize_ / 2 - 1));
    text = env->NewString(static_cast<const jchar*>(buffer_), n);
  }
  unlockBuffer();
  return text;
}
