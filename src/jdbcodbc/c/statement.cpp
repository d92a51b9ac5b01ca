// The statement peer: construction with its cursor set-up, direct execution, results and
// their hand-off to the result-set peer, and teardown. Attributes, catalog calls, long
// data and the cancel token are in the other statement_*.cpp files.
#include "jdbcodbc/c/statement.h"

#include <pthread.h>

#include <cstdio>

#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/dbmetadata.h"
#include "jdbcodbc/c/resultset.h"

namespace {

void LockMutex(a_ut_safe_pthread_mutex_t& m) {
  if (m.handle != nullptr) pthread_mutex_lock(m.handle);
}

void UnlockMutex(a_ut_safe_pthread_mutex_t& m) {
  if (m.handle != nullptr) pthread_mutex_unlock(m.handle);
}

constexpr SQLULEN kUnknown = ~static_cast<SQLULEN>(0);  // an attribute that could not be read

// One row of the JDBC type to ODBC cursor table.
struct CursorSetting {
  jint jdbcType;
  SQLULEN sensitivity;
  SQLULEN cursorType;
};
constexpr CursorSetting kCursorSettings[] = {
    {kJdbcForwardOnly, SQL_INSENSITIVE, SQL_CURSOR_FORWARD_ONLY},
    {kJdbcScrollInsensitive, SQL_INSENSITIVE, SQL_CURSOR_STATIC},
    {kJdbcScrollSensitive, SQL_SENSITIVE, SQL_CURSOR_DYNAMIC},
};

}  // namespace

void RaiseWithValue(JNIEnv* env, const char* key, jint value) {
  if (env->ExceptionCheck()) return;
  char text[16];
  std::snprintf(text, sizeof(text), "%d", static_cast<int>(value));
  jstring arg = env->NewStringUTF(text);
  if (arg == nullptr) return;
  NOSE()->raiseError(env, key, 1, arg);
  env->DeleteLocalRef(arg);
}

jint ToResultSetType(SQLULEN cursorType, SQLULEN sensitivity) {
  if (cursorType == kUnknown || sensitivity == kUnknown) return -1;
  if (cursorType == SQL_CURSOR_DYNAMIC || cursorType == SQL_CURSOR_STATIC)
    return sensitivity == SQL_SENSITIVE ? kJdbcScrollSensitive : kJdbcScrollInsensitive;
  return kJdbcForwardOnly;
}

// ---- Construction and teardown -------------------------------------------------------------

Statement::Statement(JNIEnv* env, Connection* connection, jint resultSetType, jint concurrency,
                     bool tolerant)
    : connection_(connection) {
  ut_safe_pthread_mutex_init(&handleMutex_, nullptr);
  ut_safe_pthread_mutex_init(&rsetMutex_, nullptr);
  fetchSize_ = connection->defaultRowsetSize();
  connectionObj_ = env->NewGlobalRef(connection->getJobj());
  if (connectionObj_ == nullptr) {
    NOSE()->raiseError(env, "OUT_OF_MEMORY");
    return;
  }
  if (!allocHandle(env)) return;
  setupResultSet(env, resultSetType, concurrency, tolerant);
}

Statement::~Statement() {
  ut_safe_pthread_mutex_destroy(&handleMutex_);
  ut_safe_pthread_mutex_destroy(&rsetMutex_);
}

bool Statement::allocHandle(JNIEnv* env) {
  lockStatementHandle();
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, connection_->getODBCHandle(), &hstmt_);
  unlockStatementHandle();
  const bool raised = sqlError(env, rc, SQL_HANDLE_DBC, connection_->getODBCHandle());
  if (!SQL_SUCCEEDED(rc)) hstmt_ = SQL_NULL_HSTMT;
  if (!raised && hstmt_ == SQL_NULL_HSTMT) NOSE()->raiseError(env, "OUT_OF_MEMORY");
  return hstmt_ != SQL_NULL_HSTMT && !raised;
}

void Statement::setupResultSet(JNIEnv* env, jint type, jint concurrency, bool tolerant) {
  if (hstmt_ == SQL_NULL_HSTMT) return;
  if (type == kJdbcDriverDefault && concurrency == kJdbcDriverDefault) {
    SQLULEN cursorType = 0;
    SQLULEN sensitivity = 0;
    (void)getUintAttr(env, SQL_ATTR_CURSOR_TYPE, &cursorType, true);
    (void)getUintAttr(env, SQL_ATTR_CURSOR_SENSITIVITY, &sensitivity, true);
    resultSetType_ = ToResultSetType(cursorType, sensitivity);
    return;
  }
  const CursorSetting* setting = nullptr;
  for (const CursorSetting& row : kCursorSettings)
    if (row.jdbcType == type) setting = &row;
  if (setting == nullptr) {
    RaiseWithValue(env, "UNKNOWN_JDBC_RSET_TYPE", type);
    return;
  }
  SQLULEN sensitivity = setting->sensitivity;
  if (!setUintAttr(env, SQL_ATTR_CURSOR_SENSITIVITY, &sensitivity, tolerant)) return;
  SQLULEN cursorType = setting->cursorType;
  if (!setUintAttr(env, SQL_ATTR_CURSOR_TYPE, &cursorType, tolerant)) return;
  resultSetType_ = ToResultSetType(cursorType, sensitivity);

  SQLULEN odbcConcurrency = 0;
  if (concurrency == kJdbcConcurReadOnly) {
    odbcConcurrency = SQL_CONCUR_READ_ONLY;
  } else if (concurrency == kJdbcConcurUpdatable) {
    odbcConcurrency = SQL_CONCUR_LOCK;
  } else {
    RaiseWithValue(env, "UNKNOWN_JDBC_RSET_CONCUR", concurrency);
    return;
  }
  (void)setUintAttr(env, SQL_ATTR_CONCURRENCY, &odbcConcurrency, tolerant);
}

ConstructibleINativeClass* Statement::getConstructibleINativeClass() {
  return static_cast<ConstructibleINativeClass*>(
      NOSE()->wrapper(NativeObjSharedEnv::kIStatement));
}

jobject Statement::createJobj(JNIEnv* env) {
  jobject made = NativeObj::createJobj(env);
  if (made == nullptr) return nullptr;
  createJCancelToken(env, made);
  return made;
}

void Statement::fini(JNIEnv* env) {
  closing_ = 1;
  closeCurrentResultSet(env, 0);
  clearWarnings(env);
  lockStatementHandle();
  if (hstmt_ != SQL_NULL_HSTMT) {
    (void)SQLFreeStmt(hstmt_, SQL_CLOSE);
    (void)SQLFreeHandle(SQL_HANDLE_STMT, hstmt_);
    hstmt_ = SQL_NULL_HSTMT;
  }
  unlockStatementHandle();
  free(lastText_);
  lastText_ = nullptr;
  lastTextUnits_ = 0;
  NativeWarnObj::fini(env);
}

void Statement::discard(JNIEnv* env, Statement* stmt) {
  if (stmt == nullptr) return;
  PendingExceptionScope pending(env);
  if (jobject obj = stmt->getJobj()) {
    // Made but not listed: its token goes first, as in cleanup.
    jobject token = getJCancelToken(env, obj);
    if (token != nullptr) {
      closeCancelToken(env, token);
      env->DeleteLocalRef(token);
    }
  }
  stmt->fini(env);
  if (stmt->connectionObj_ != nullptr) env->DeleteGlobalRef(stmt->connectionObj_);
  stmt->connectionObj_ = nullptr;
  delete stmt;
}

void Statement::cleanup(JNIEnv* env, jobject stmt, unsigned removeFromConnection,
                        unsigned lockCache) {
  if (stmt == nullptr) return;
  // A local reference of our own: the reference we were given may be the peer's, which
  // fini deletes.
  jobject self = env->NewLocalRef(stmt);
  if (self == nullptr) return;
  if (env->MonitorEnter(self) != JNI_OK) {
    env->DeleteLocalRef(self);
    return;
  }
  auto* peer = static_cast<Statement*>(NOSE()->closeNativeObj(env, self, "Statement"));
  if (peer == nullptr) {
    env->MonitorExit(self);
    env->DeleteLocalRef(self);
    return;
  }
  // A catalog statement leaves its metadata's cache first, under this monitor: the
  // metadata's teardown cleans its statements through this function too, so it waits
  // here until this removal is done and the metadata is never gone under it.
  if (peer->metadata_ != nullptr) {
    peer->metadata_->removeFromStatementCache(peer, lockCache);
    peer->metadata_ = nullptr;
  }
  jobject token = getJCancelToken(env, self);
  if (token != nullptr) {
    closeCancelToken(env, token);
    env->DeleteLocalRef(token);
  }
  peer->fini(env);
  env->MonitorExit(self);

  jobject connection = peer->connectionObj_;
  if (connection != nullptr && env->MonitorEnter(connection) == JNI_OK) {
    if (removeFromConnection != 0) {
      auto* owner = static_cast<Connection*>(NOSE()->getNativeObj(env, connection));
      if (owner != nullptr) owner->removeStatement(env, self);
    }
    env->MonitorExit(connection);
  }
  if (connection != nullptr) env->DeleteGlobalRef(connection);
  peer->connectionObj_ = nullptr;
  env->DeleteLocalRef(self);
  delete peer;
}

void Statement::release(JNIEnv* env, jobject stmt) {
  if (stmt == nullptr) return;
  // The connection object is taken under the statement's monitor and used after leaving
  // it: the connection's close holds its own monitor while it closes statements.
  jobject connection = nullptr;
  if (env->MonitorEnter(stmt) != JNI_OK) return;
  if (auto* peer = static_cast<Statement*>(NOSE()->getNativeObj(env, stmt)))
    if (peer->connectionObj_ != nullptr) connection = env->NewLocalRef(peer->connectionObj_);
  env->MonitorExit(stmt);
  if (connection == nullptr) return;
  if (env->MonitorEnter(connection) == JNI_OK) {
    if (auto* owner = static_cast<Connection*>(NOSE()->getNativeObj(env, connection)))
      owner->addRelease(env, stmt);
    env->MonitorExit(connection);
  }
  env->DeleteLocalRef(connection);
}

void Statement::lockStatementHandle() { LockMutex(handleMutex_); }
void Statement::unlockStatementHandle() { UnlockMutex(handleMutex_); }
void Statement::lockRset() { LockMutex(rsetMutex_); }
void Statement::unlockRset() { UnlockMutex(rsetMutex_); }

// ---- Execution ------------------------------------------------------------------------------

void Statement::beginExecution(JNIEnv* env) {
  if (executed_ & 1) clearWarnings(env);
  executed_ |= 1;
}

bool Statement::resetHandle(JNIEnv* env) {
  static constexpr SQLUSMALLINT kResets[] = {SQL_CLOSE, SQL_UNBIND, SQL_RESET_PARAMS};
  lockStatementHandle();
  bool ok = true;
  for (SQLUSMALLINT option : kResets) {
    const SQLRETURN rc = SQLFreeStmt(hstmt_, option);
    if (sqlError(env, rc, SQL_HANDLE_STMT, hstmt_)) {
      ok = false;
      break;
    }
  }
  unlockStatementHandle();
  return ok;
}

bool Statement::finishExecution(JNIEnv* env, SQLRETURN rc) {
  if (connection_->closing()) {
    if (!env->ExceptionCheck()) {
      jstring name = env->NewStringUTF("Statement");
      if (name != nullptr) {
        NOSE()->raiseError(env, "NATIVE_ACCESS_ERROR", 1, name);
        env->DeleteLocalRef(name);
      }
    }
    return false;
  }
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
}

bool Statement::execDirect(JNIEnv* env, jstring sql) {
  closeCurrentResultSet(env, 0);
  if (!resetHandle(env)) return false;
  if (sql == nullptr) {
    NOSE()->raiseError(env, "NULL_POINTER");
    return false;
  }
  const jsize units = env->GetStringLength(sql);
  if (units == 0) {
    NOSE()->raiseError(env, "EMPTY_STMT");
    return false;
  }
  // The text is kept for reexecute.
  auto* copy = static_cast<jchar*>(
      NativeWarnObj::realloc(env, lastText_, (static_cast<std::size_t>(units) + 1) * 2));
  if (copy == nullptr) {
    lastText_ = nullptr;
    lastTextUnits_ = 0;
    return false;
  }
  lastText_ = copy;
  env->GetStringRegion(sql, 0, units, lastText_);
  lastText_[units] = 0;
  lastTextUnits_ = units;
  const SQLRETURN rc =
      SQLExecDirectW(hstmt_, reinterpret_cast<SQLWCHAR*>(lastText_), lastTextUnits_);
  return finishExecution(env, rc);
}

bool Statement::execDirect(JNIEnv* env, const char* sql) {
  closeCurrentResultSet(env, 0);
  if (!resetHandle(env)) return false;
  if (sql == nullptr) {
    NOSE()->raiseError(env, "NULL_POINTER");
    return false;
  }
  if (sql[0] == 0) {
    NOSE()->raiseError(env, "EMPTY_STMT");
    return false;
  }
  const SQLRETURN rc =
      SQLExecDirect(hstmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS);
  return finishExecution(env, rc);
}

bool Statement::reexecute(JNIEnv* env) {
  lockStatementHandle();
  (void)SQLFreeStmt(hstmt_, SQL_CLOSE);
  unlockStatementHandle();
  if (lastText_ == nullptr) {
    NOSE()->raiseError(env, "EMPTY_STMT");
    return false;
  }
  const SQLRETURN rc =
      SQLExecDirectW(hstmt_, reinterpret_cast<SQLWCHAR*>(lastText_), lastTextUnits_);
  return finishExecution(env, rc);
}

bool Statement::getNumResultCols(JNIEnv* env, SQLSMALLINT* count) {
  *count = 0;
  const SQLRETURN rc = SQLNumResultCols(hstmt_, count);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_, false, true) && SQL_SUCCEEDED(rc);
}

bool Statement::execute(JNIEnv* env, jstring sql) {
  beginExecution(env);
  if (!execDirect(env, sql)) return false;
  SQLSMALLINT count = 0;
  return getNumResultCols(env, &count) && count > 0;
}

jint Statement::executeUpdate(JNIEnv* env, jstring sql) {
  beginExecution(env);
  if (!execDirect(env, sql)) return 0;
  const jint count = getUpdateCount(env);
  return count == -1 ? 0 : count;
}

jobject Statement::executeQuery(JNIEnv* env, jstring sql) {
  beginExecution(env);
  if (!execDirect(env, sql)) return nullptr;
  SQLSMALLINT count = 0;
  if (!getNumResultCols(env, &count) || count <= 0) return nullptr;
  auto* rset = new ResultSet(env, this);
  if (env->ExceptionCheck()) {
    rset->fini(env);
    delete rset;
    return nullptr;
  }
  jobject made = adoptResultSet(env, rset);
  return made != nullptr ? env->NewLocalRef(made) : nullptr;
}

jobject Statement::adoptResultSet(JNIEnv* env, ResultSet* rset) {
  jobject result = nullptr;
  lockStatementHandle();
  if (closing_ != 0) {
    rset->fini(env);
    delete rset;
    setResultSet(env, nullptr);
  } else {
    getJobjMutex();
    jobject made = rset->createJobj(env);
    giveJobjMutex();
    if (made == nullptr || env->ExceptionCheck()) {
      rset->fini(env);
      delete rset;
    } else {
      setResultSet(env, made);
      result = made;
    }
  }
  unlockStatementHandle();
  return result;
}

ResultSet* Statement::getRawResultSet(JNIEnv* env) {
  lockStatementHandle();
  (void)SQLFreeStmt(hstmt_, SQL_UNBIND);
  (void)SQLFreeStmt(hstmt_, SQL_RESET_PARAMS);
  unlockStatementHandle();
  SQLSMALLINT count = 0;
  if (!getNumResultCols(env, &count) || count <= 0) return nullptr;
  auto* rset = new ResultSet(env, this);
  if (env->ExceptionCheck()) {
    rset->fini(env);
    delete rset;
    return nullptr;
  }
  return rset;
}

jobject Statement::getResultSet(JNIEnv* env) {
  // The open result already has its result set: a second one over the same cursor would
  // unbind the first behind its back and leave it unowned.
  if (jobject current = currentResultSet(env)) return current;
  ResultSet* rset = getRawResultSet(env);
  if (rset == nullptr) return nullptr;
  jobject made = adoptResultSet(env, rset);
  return made != nullptr ? env->NewLocalRef(made) : nullptr;
}

jint Statement::getUpdateCount(JNIEnv* env) {
  SQLSMALLINT columns = 0;
  if (!getNumResultCols(env, &columns) || columns >= 1) return -1;
  SQLLEN count = -1;
  const SQLRETURN rc = SQLRowCount(hstmt_, &count);
  NOSE()->throwError(env, rc, SQL_NULL_HENV, connection_->getODBCHandle(), hstmt_, true);
  if (env->ExceptionCheck()) return -1;
  if (!SQL_SUCCEEDED(rc)) return -1;
  // Java's count is an int; a larger count is given as the largest int.
  if (count > 0x7fffffff) return 0x7fffffff;
  return count < -1 ? -1 : static_cast<jint>(count);
}

bool Statement::getMoreResults(JNIEnv* env) {
  closeCurrentResultSet(env, 1);
  const SQLRETURN rc = SQLMoreResults(hstmt_);
  if (rc == SQL_NO_DATA) return false;
  if (sqlError(env, rc, SQL_HANDLE_STMT, hstmt_)) return false;
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

void Statement::setResultSet(JNIEnv*, jobject rset) {
  lockRset();
  currentResult_ = rset;
  unlockRset();
}

jobject Statement::currentResultSet(JNIEnv* env) {
  lockRset();
  jobject local = currentResult_ != nullptr ? env->NewLocalRef(currentResult_) : nullptr;
  unlockRset();
  return local;
}

void Statement::forgetResultSet(JNIEnv* env, jobject rset) {
  lockRset();
  if (currentResult_ != nullptr && env->IsSameObject(currentResult_, rset))
    currentResult_ = nullptr;
  unlockRset();
}

void Statement::closeCurrentResultSet(JNIEnv* env, unsigned keepCursor) {
  // Taken out as a local reference under the mutex, cleaned outside it: the result set's
  // teardown calls forgetResultSet.
  lockRset();
  jobject current = currentResult_ != nullptr ? env->NewLocalRef(currentResult_) : nullptr;
  currentResult_ = nullptr;
  unlockRset();
  if (current == nullptr) return;
  ResultSet::cleanup(env, current, keepCursor);
  env->DeleteLocalRef(current);
}

jlong Statement::getODBCHandle(JNIEnv* env) {
  closeCurrentResultSet(env, 0);
  return static_cast<jlong>(reinterpret_cast<std::intptr_t>(hstmt_));
}
