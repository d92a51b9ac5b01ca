// Statement attributes behind the JDBC getters and setters, and column attributes for the
// result-set metadata. Values Java gives are checked before they reach the driver; a
// value the driver gives back is clamped into Java's int.
#include <climits>

#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/statement.h"

namespace {

// The attributes the driver keeps at full SQLULEN width.
bool IsLengthAttribute(SQLINTEGER attribute) {
  return (attribute >= -2 && attribute <= 7) || (attribute >= 9 && attribute <= 12) ||
         attribute == 14 || attribute == 15 || attribute == 18 || attribute == 22 ||
         attribute == 27 || attribute == 10014;
}

jint ToJint(SQLULEN value) {
  return value > static_cast<SQLULEN>(INT_MAX) ? INT_MAX : static_cast<jint>(value);
}

constexpr SQLSMALLINT kMaxAttrBytes = 32767;
constexpr SQLSMALLINT kFirstAttrBytes = 128;

}  // namespace

bool Statement::getUintAttr(JNIEnv* env, SQLINTEGER attribute, SQLULEN* value, bool quiet) {
  SQLRETURN rc;
  if (IsLengthAttribute(attribute)) {
    SQLULEN wide = 0;
    rc = SQLGetStmtAttrW(hstmt_, attribute, &wide, SQL_IS_POINTER, nullptr);
    if (SQL_SUCCEEDED(rc)) *value = wide;
  } else {
    SQLUINTEGER narrow = 0;
    rc = SQLGetStmtAttrW(hstmt_, attribute, &narrow, SQL_IS_UINTEGER, nullptr);
    if (SQL_SUCCEEDED(rc)) *value = narrow;
  }
  if (quiet) return SQL_SUCCEEDED(rc);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_) && SQL_SUCCEEDED(rc);
}

bool Statement::setUintAttr(JNIEnv* env, SQLINTEGER attribute, SQLULEN* value, bool tolerant) {
  const SQLRETURN rc = SQLSetStmtAttrW(hstmt_, attribute,
                                       reinterpret_cast<SQLPOINTER>(*value), SQL_IS_UINTEGER);
  if (rc == SQL_SUCCESS) return true;
  if (!tolerant) return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_) && SQL_SUCCEEDED(rc);
  // Whatever the driver now holds is what the statement has.
  if (!getUintAttr(env, attribute, value, true)) *value = ~static_cast<SQLULEN>(0);
  return true;
}

bool Statement::setUintAttr(JNIEnv* env, SQLINTEGER attribute, SQLULEN value) {
  const SQLRETURN rc = SQLSetStmtAttrW(hstmt_, attribute, reinterpret_cast<SQLPOINTER>(value),
                                       SQL_IS_UINTEGER);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_) && SQL_SUCCEEDED(rc);
}

jint Statement::getQueryTimeout(JNIEnv* env) {
  SQLULEN value = 0;
  return getUintAttr(env, SQL_ATTR_QUERY_TIMEOUT, &value, false) ? ToJint(value) : 0;
}

void Statement::setQueryTimeout(JNIEnv* env, jint seconds) {
  if (seconds < 0) {
    RaiseWithValue(env, "BAD_QUERY_TIMEOUT", seconds);
    return;
  }
  (void)setUintAttr(env, SQL_ATTR_QUERY_TIMEOUT, static_cast<SQLULEN>(seconds));
}

jint Statement::getMaxRows(JNIEnv* env) {
  SQLULEN value = 0;
  return getUintAttr(env, SQL_ATTR_MAX_ROWS, &value, false) ? ToJint(value) : 0;
}

void Statement::setMaxRows(JNIEnv* env, jint rows) {
  if (rows < 0) {
    RaiseWithValue(env, "BAD_ROW_LIMIT", rows);
    return;
  }
  const std::int32_t oldFetchSize = fetchSize_;
  if (fetchSize_ >= 1 && rows >= 1 && fetchSize_ > rows) fetchSize_ = rows;
  (void)setUintAttr(env, SQL_ATTR_MAX_ROWS, static_cast<SQLULEN>(rows));
  if (env->ExceptionCheck()) fetchSize_ = oldFetchSize;
}

jint Statement::getMaxFieldSize(JNIEnv* env) {
  SQLULEN value = 0;
  return getUintAttr(env, SQL_ATTR_MAX_LENGTH, &value, false) ? ToJint(value) : 0;
}

void Statement::setMaxFieldSize(JNIEnv* env, jint bytes) {
  if (bytes < 0) {
    RaiseWithValue(env, "BAD_FIELD_SIZE", bytes);
    return;
  }
  (void)setUintAttr(env, SQL_ATTR_MAX_LENGTH, static_cast<SQLULEN>(bytes));
}

void Statement::setFetchSize(JNIEnv* env, jint rows) {
  const jint maxRows = getMaxRows(env);
  if (env->ExceptionCheck()) return;
  if (rows >= 0 && (maxRows < 1 || maxRows >= rows)) {
    fetchSize_ = rows;
    return;
  }
  RaiseWithValue(env, "BAD_FETCH_SIZE", rows);
}

void Statement::setFetchDirection(JNIEnv* env, jint) { NOSE()->raiseError(env, "NYI"); }

void Statement::setEscapeProcessing(JNIEnv* env, bool enable) {
  (void)setUintAttr(env, SQL_ATTR_NOSCAN, enable ? SQL_NOSCAN_OFF : SQL_NOSCAN_ON);
}

void Statement::setCursorName(JNIEnv* env, jstring name) {
  if (name == nullptr) {
    NOSE()->raiseError(env, "NULL_POINTER");
    return;
  }
  const jsize units = env->GetStringLength(name);
  if (units > SHRT_MAX) {
    // The length travels as SQLSMALLINT; the driver refuses such a name itself.
    RaiseWithValue(env, "INVALID_CURSOR_NAME", units);
    return;
  }
  const jchar* chars = env->GetStringChars(name, nullptr);
  if (chars == nullptr) return;
  const SQLRETURN rc = SQLSetCursorNameW(
      hstmt_, reinterpret_cast<SQLWCHAR*>(const_cast<jchar*>(chars)), static_cast<SQLSMALLINT>(units));
  env->ReleaseStringChars(name, chars);
  (void)sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
}

jint Statement::getResultSetType(JNIEnv* env) {
  SQLULEN cursorType = 0;
  if (!getUintAttr(env, SQL_ATTR_CURSOR_TYPE, &cursorType, false)) return 0;
  if (cursorType != SQL_CURSOR_DYNAMIC && cursorType != SQL_CURSOR_STATIC)
    return kJdbcForwardOnly;
  SQLULEN sensitivity = 0;
  (void)getUintAttr(env, SQL_ATTR_CURSOR_SENSITIVITY, &sensitivity, true);
  return sensitivity == SQL_SENSITIVE ? kJdbcScrollSensitive : kJdbcScrollInsensitive;
}

jint Statement::getResultSetConcurrency(JNIEnv* env) {
  SQLULEN concurrency = 0;
  (void)getUintAttr(env, SQL_ATTR_CONCURRENCY, &concurrency, false);
  return concurrency == SQL_CONCUR_READ_ONLY ? kJdbcConcurReadOnly : kJdbcConcurUpdatable;
}

// ---- Column attributes -----------------------------------------------------------------------

bool Statement::getColStrAttr(JNIEnv* env, SQLUSMALLINT field, SQLUSMALLINT column,
                              char** buffer, SQLLEN* bufferSize, SQLSMALLINT* length) {
  if (*buffer == nullptr || static_cast<SQLSMALLINT>(*bufferSize) == 0) {
    free(*buffer);
    *buffer = static_cast<char*>(alloc(env, kFirstAttrBytes));
    if (*buffer == nullptr) {
      *bufferSize = 0;
      return false;
    }
    *bufferSize = kFirstAttrBytes;
  }
  SQLSMALLINT size =
      *bufferSize > kMaxAttrBytes ? kMaxAttrBytes : static_cast<SQLSMALLINT>(*bufferSize);
  *length = 0;
  SQLRETURN rc = SQLColAttributeW(hstmt_, column, field, *buffer, size, length, nullptr);
  if (rc == SQL_SUCCESS_WITH_INFO && *length >= 0 && *length + 2 > size) {
    // Truncated: grow to the whole value and its terminator, within SQLSMALLINT.
    const SQLSMALLINT need = *length > kMaxAttrBytes - 2 ? kMaxAttrBytes
                                                         : static_cast<SQLSMALLINT>(*length + 2);
    char* grown = static_cast<char*>(realloc(env, *buffer, static_cast<std::size_t>(need)));
    if (grown == nullptr) {
      *buffer = nullptr;
      *bufferSize = 0;
      return false;
    }
    *buffer = grown;
    *bufferSize = need;
    size = need;
    rc = SQLColAttributeW(hstmt_, column, field, *buffer, size, length, nullptr);
  }
  if (SQL_SUCCEEDED(rc)) {
    // A byte count with the terminator, never beyond what the buffer holds.
    if (*length < 0) *length = 0;
    if (*length > size - 2) *length = static_cast<SQLSMALLINT>(size - 2);
    const auto* units = reinterpret_cast<const SQLWCHAR*>(*buffer);
    const bool counted = *length > 1 && units[*length / 2 - 1] == 0;
    if (!counted) {
      reinterpret_cast<SQLWCHAR*>(*buffer)[*length / 2] = 0;
      *length = static_cast<SQLSMALLINT>(*length + 2);
    }
  }
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_) && SQL_SUCCEEDED(rc);
}

jstring Statement::getColJStrAttr(JNIEnv* env, SQLUSMALLINT field, SQLUSMALLINT column) {
  // A buffer of the call's own: column attributes are read while other statements of the
  // connection may use the connection's shared buffer, and this one is small.
  char* buffer = nullptr;
  SQLLEN size = 0;
  SQLSMALLINT length = 0;
  jstring result = nullptr;
  if (getColStrAttr(env, field, column, &buffer, &size, &length) && length >= 2)
    result = env->NewString(reinterpret_cast<const jchar*>(buffer), (length / 2) - 1);
  free(buffer);
  return result;
}

bool Statement::getColNumAttr(JNIEnv* env, SQLUSMALLINT field, SQLUSMALLINT column,
                              SQLLEN* value) {
  const SQLRETURN rc = SQLColAttribute(hstmt_, column, field, nullptr, 0, nullptr, value);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_) && SQL_SUCCEEDED(rc);
}
