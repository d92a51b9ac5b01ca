// The natives of the Java classes IIStatement and IStatementCancelToken. Each runs in the
// frame of jni_frame.h with the class name "Statement", except cancel (the token's
// monitor only), close, nFree and release (which take the monitors themselves).
#include "jdbcodbc/c/jni_frame.h"
#include "jdbcodbc/c/statement.h"

namespace {

constexpr char kName[] = "Statement";

jboolean JBool(bool value) { return value ? JNI_TRUE : JNI_FALSE; }

template <class Body>
auto OnStatement(JNIEnv* env, jobject self, Body&& body) {
  return PeerCall<Statement>(env, self, kName, std::forward<Body>(body));
}

// Column numbers and attribute fields travel as 16-bit values; others are refused here
// rather than wrapped onto another column.
bool ColumnArgs(JNIEnv* env, jint field, jint column) {
  if (field < 0 || field > 0xFFFF) {
    RaiseWithValue(env, "BAD_COLUMN_NUMBER", field);
    return false;
  }
  if (column < 0 || column > 0xFFFF) {
    RaiseWithValue(env, "BAD_COLUMN_NUMBER", column);
    return false;
  }
  return true;
}

jboolean IIStatement_execute(JNIEnv* env, jobject self, jstring sql) {
  return OnStatement(env, self, [&](Statement* s) { return JBool(s->execute(env, sql)); });
}

jobject IIStatement_executeQuery(JNIEnv* env, jobject self, jstring sql) {
  return OnStatement(env, self, [&](Statement* s) { return s->executeQuery(env, sql); });
}

jint IIStatement_nativeExecuteUpdate(JNIEnv* env, jobject self, jstring sql) {
  return OnStatement(env, self, [&](Statement* s) { return s->executeUpdate(env, sql); });
}

jobject IIStatement_getResultSet(JNIEnv* env, jobject self) {
  return OnStatement(env, self, [&](Statement* s) { return s->getResultSet(env); });
}

jboolean IIStatement_getMoreResults(JNIEnv* env, jobject self) {
  return OnStatement(env, self, [&](Statement* s) { return JBool(s->getMoreResults(env)); });
}

jint IIStatement_getUpdateCount(JNIEnv* env, jobject self) {
  return OnStatement(env, self, [&](Statement* s) { return s->getUpdateCount(env); });
}

jobject IIStatement_getWarnings(JNIEnv* env, jobject self) {
  return OnStatement(env, self, [&](Statement* s) -> jobject {
    return s->getWarnings() != nullptr ? env->NewLocalRef(s->getWarnings()) : nullptr;
  });
}

void IIStatement_clearWarnings(JNIEnv* env, jobject self) {
  OnStatement(env, self, [&](Statement* s) { s->clearWarnings(env); });
}

jobject IIStatement_getConnection(JNIEnv* env, jobject self) {
  return OnStatement(env, self, [&](Statement* s) -> jobject {
    return s->getConnection() != nullptr ? env->NewLocalRef(s->getConnection()) : nullptr;
  });
}

jlong IIStatement_getODBCHandle(JNIEnv* env, jobject self) {
  return OnStatement(env, self, [&](Statement* s) { return s->getODBCHandle(env); });
}

jstring IIStatement_getColStrAttr(JNIEnv* env, jobject self, jint field, jint column) {
  return OnStatement(env, self, [&](Statement* s) -> jstring {
    if (!ColumnArgs(env, field, column)) return nullptr;
    return s->getColJStrAttr(env, static_cast<SQLUSMALLINT>(field),
                             static_cast<SQLUSMALLINT>(column));
  });
}

jint IIStatement_getColNumAttr(JNIEnv* env, jobject self, jint field, jint column) {
  return OnStatement(env, self, [&](Statement* s) -> jint {
    if (!ColumnArgs(env, field, column)) return 0;
    SQLLEN value = 0;
    if (!s->getColNumAttr(env, static_cast<SQLUSMALLINT>(field),
                          static_cast<SQLUSMALLINT>(column), &value))
      return 0;
    return static_cast<jint>(value);
  });
}

void IIStatement_setEscapeProcessing(JNIEnv* env, jobject self, jboolean enable) {
  OnStatement(env, self, [&](Statement* s) { s->setEscapeProcessing(env, enable != JNI_FALSE); });
}

void IIStatement_setCursorName(JNIEnv* env, jobject self, jstring name) {
  OnStatement(env, self, [&](Statement* s) { s->setCursorName(env, name); });
}

jint IIStatement_getResultSetType(JNIEnv* env, jobject self) {
  return OnStatement(env, self, [&](Statement* s) { return s->getResultSetType(env); });
}

jint IIStatement_getResultSetConcurrency(JNIEnv* env, jobject self) {
  return OnStatement(env, self, [&](Statement* s) { return s->getResultSetConcurrency(env); });
}

jint IIStatement_getQueryTimeout(JNIEnv* env, jobject self) {
  return OnStatement(env, self, [&](Statement* s) { return s->getQueryTimeout(env); });
}

void IIStatement_setQueryTimeout(JNIEnv* env, jobject self, jint seconds) {
  OnStatement(env, self, [&](Statement* s) { s->setQueryTimeout(env, seconds); });
}

jint IIStatement_getMaxRows(JNIEnv* env, jobject self) {
  return OnStatement(env, self, [&](Statement* s) { return s->getMaxRows(env); });
}

void IIStatement_setMaxRows(JNIEnv* env, jobject self, jint rows) {
  OnStatement(env, self, [&](Statement* s) { s->setMaxRows(env, rows); });
}

jint IIStatement_getMaxFieldSize(JNIEnv* env, jobject self) {
  return OnStatement(env, self, [&](Statement* s) { return s->getMaxFieldSize(env); });
}

void IIStatement_setMaxFieldSize(JNIEnv* env, jobject self, jint bytes) {
  OnStatement(env, self, [&](Statement* s) { s->setMaxFieldSize(env, bytes); });
}

jint IIStatement_getFetchSize(JNIEnv* env, jobject self) {
  return OnStatement(env, self, [&](Statement* s) { return s->getFetchSize(); });
}

void IIStatement_setFetchSize(JNIEnv* env, jobject self, jint rows) {
  OnStatement(env, self, [&](Statement* s) { s->setFetchSize(env, rows); });
}

jint IIStatement_getFetchDirection(JNIEnv* env, jobject self) {
  return OnStatement(env, self, [&](Statement* s) { return s->getFetchDirection(); });
}

void IIStatement_setFetchDirection(JNIEnv* env, jobject self, jint direction) {
  OnStatement(env, self, [&](Statement* s) { s->setFetchDirection(env, direction); });
}

void IIStatement_cancel(JNIEnv* env, jobject self) {
  GuardedCall(env, [&] { Statement::cancel(env, self); });
}

void IIStatement_close(JNIEnv* env, jobject self) {
  GuardedCall(env, [&] { Statement::cleanup(env, self, 1, 1); });
}

void IIStatement_nFree(JNIEnv* env, jobject self) {
  GuardedCall(env, [&] { Statement::cleanup(env, self, 1, 1); });
}

void IIStatement_release(JNIEnv* env, jobject self) {
  GuardedCall(env, [&] { Statement::release(env, self); });
}

void IStatementCancelToken_close(JNIEnv* env, jobject self) {
  GuardedCall(env, [&] { Statement::closeCancelToken(env, self); });
}

void IStatementCancelToken_nFree(JNIEnv* env, jobject self) {
  GuardedCall(env, [&] { Statement::closeCancelToken(env, self); });
}

}  // namespace

#define VQ_STMT0(ret, name) \
  VQ_JNI_EXPORT(ret, IIStatement, name, (JNIEnv * env, jobject self), (env, self), IIStatement_##name)
#define VQ_STMT1(ret, name, t1) \
  VQ_JNI_EXPORT(ret, IIStatement, name, (JNIEnv * env, jobject self, t1 a), (env, self, a), \
                IIStatement_##name)
#define VQ_STMT2(ret, name, t1, t2)                                                    \
  VQ_JNI_EXPORT(ret, IIStatement, name, (JNIEnv * env, jobject self, t1 a, t2 b),      \
                (env, self, a, b), IIStatement_##name)

VQ_STMT1(jboolean, execute, jstring)
VQ_STMT1(jobject, executeQuery, jstring)
VQ_STMT1(jint, nativeExecuteUpdate, jstring)
VQ_STMT0(jobject, getResultSet)
VQ_STMT0(jboolean, getMoreResults)
VQ_STMT0(jint, getUpdateCount)
VQ_STMT0(jobject, getWarnings)
VQ_STMT0(void, clearWarnings)
VQ_STMT0(jobject, getConnection)
VQ_STMT0(jlong, getODBCHandle)
VQ_STMT2(jstring, getColStrAttr, jint, jint)
VQ_STMT2(jint, getColNumAttr, jint, jint)
VQ_STMT1(void, setEscapeProcessing, jboolean)
VQ_STMT1(void, setCursorName, jstring)
VQ_STMT0(jint, getResultSetType)
VQ_STMT0(jint, getResultSetConcurrency)
VQ_STMT0(jint, getQueryTimeout)
VQ_STMT1(void, setQueryTimeout, jint)
VQ_STMT0(jint, getMaxRows)
VQ_STMT1(void, setMaxRows, jint)
VQ_STMT0(jint, getMaxFieldSize)
VQ_STMT1(void, setMaxFieldSize, jint)
VQ_STMT0(jint, getFetchSize)
VQ_STMT1(void, setFetchSize, jint)
VQ_STMT0(jint, getFetchDirection)
VQ_STMT1(void, setFetchDirection, jint)
VQ_STMT0(void, cancel)
VQ_STMT0(void, close)
VQ_STMT0(void, nFree)
VQ_STMT0(void, release)
VQ_JNI_EXPORT(void, IStatementCancelToken, close, (JNIEnv * env, jobject self), (env, self),
              IStatementCancelToken_close)
VQ_JNI_EXPORT(void, IStatementCancelToken, nFree, (JNIEnv * env, jobject self), (env, self),
              IStatementCancelToken_nFree)
