// The natives of IIResultSet that construct, close and move a result set, with its
// smaller queries. next, previous, absolute and relative take no monitor (the Java side
// does not call them concurrently on one result set); doClose and nFree take the
// monitors inside ResultSet::cleanup; the others run in the plain frame of jni_frame.h.
#include "jdbcodbc/c/jni_frame.h"
#include "jdbcodbc/c/resultset.h"

namespace {

constexpr char kName[] = "ResultSet";

jboolean JBool(bool value) { return value ? JNI_TRUE : JNI_FALSE; }

template <class Body>
auto OnResultSet(JNIEnv* env, jobject self, Body&& body) {
  return PeerCall<ResultSet>(env, self, kName, std::forward<Body>(body));
}

// The frame without the monitor.
jboolean Unlocked(JNIEnv* env, jobject self, bool (ResultSet::*move)(JNIEnv*)) noexcept {
  jboolean result = JNI_FALSE;
  GuardedCall(env, [&] {
    if (auto* rs = static_cast<ResultSet*>(NOSE()->getNonNullNativeObjUnlocked(env, self, kName)))
      result = JBool((rs->*move)(env));
  });
  return result;
}
jboolean Unlocked(JNIEnv* env, jobject self, bool (ResultSet::*move)(JNIEnv*, std::int32_t),
                  jint arg) noexcept {
  jboolean result = JNI_FALSE;
  GuardedCall(env, [&] {
    if (auto* rs = static_cast<ResultSet*>(NOSE()->getNonNullNativeObjUnlocked(env, self, kName)))
      result = JBool((rs->*move)(env, arg));
  });
  return result;
}

jboolean RS_next(JNIEnv* env, jobject self) { return Unlocked(env, self, &ResultSet::next); }
jboolean RS_previous(JNIEnv* env, jobject self) {
  return Unlocked(env, self, &ResultSet::previous);
}
jboolean RS_absolute(JNIEnv* env, jobject self, jint row) {
  return Unlocked(env, self, &ResultSet::absolute, row);
}
jboolean RS_relative(JNIEnv* env, jobject self, jint rows) {
  return Unlocked(env, self, &ResultSet::relative, rows);
}

void RS_beforeFirst(JNIEnv* env, jobject self) {
  OnResultSet(env, self, [&](ResultSet* rs) { rs->beforeFirst(env); });
}
void RS_afterLast(JNIEnv* env, jobject self) {
  OnResultSet(env, self, [&](ResultSet* rs) { rs->afterLast(env); });
}
jboolean RS_last(JNIEnv* env, jobject self) {
  return OnResultSet(env, self, [&](ResultSet* rs) { return JBool(rs->last(env)); });
}
jboolean RS_isLast(JNIEnv* env, jobject self) {
  return OnResultSet(env, self, [&](ResultSet* rs) { return JBool(rs->isLast(env)); });
}
void RS_setFetchSize(JNIEnv* env, jobject self, jint rows) {
  OnResultSet(env, self, [&](ResultSet* rs) { rs->setFetchSize(env, rows); });
}

jboolean RS_isClosed(JNIEnv* env, jobject self) {
  jboolean closed = JNI_TRUE;
  GuardedCall(env, [&] { closed = JBool(NOSE()->getNativeObjUnlocked(env, self) == nullptr); });
  return closed;
}
void RS_doClose(JNIEnv* env, jobject self) {
  GuardedCall(env, [&] { ResultSet::cleanup(env, self, 0); });
}
void RS_nFree(JNIEnv* env, jobject self) {
  GuardedCall(env, [&] { ResultSet::cleanup(env, self, 0); });
}

jboolean RS_wasNull(JNIEnv* env, jobject self) {
  return OnResultSet(env, self, [&](ResultSet* rs) { return JBool(rs->wasNull()); });
}
jboolean RS_rowUpdated(JNIEnv* env, jobject self) {
  return OnResultSet(env, self, [&](ResultSet* rs) { return JBool(rs->rowUpdated()); });
}
jboolean RS_rowInserted(JNIEnv* env, jobject self) {
  return OnResultSet(env, self, [&](ResultSet* rs) { return JBool(rs->rowInserted()); });
}
jboolean RS_rowDeleted(JNIEnv* env, jobject self) {
  return OnResultSet(env, self, [&](ResultSet* rs) { return JBool(rs->rowDeleted()); });
}
jobject RS_getWarnings(JNIEnv* env, jobject self) {
  return OnResultSet(env, self, [&](ResultSet* rs) -> jobject {
    return rs->getWarnings() != nullptr ? env->NewLocalRef(rs->getWarnings()) : nullptr;
  });
}
void RS_clearWarnings(JNIEnv* env, jobject self) {
  OnResultSet(env, self, [&](ResultSet* rs) { rs->clearWarnings(env); });
}
jint RS_getType(JNIEnv* env, jobject self) {
  return OnResultSet(env, self, [&](ResultSet* rs) { return rs->getType(env); });
}
jint RS_getConcurrency(JNIEnv* env, jobject self) {
  return OnResultSet(env, self, [&](ResultSet* rs) { return rs->getConcurrency(env); });
}
jobject RS_getStatement(JNIEnv* env, jobject self) {
  return OnResultSet(env, self, [&](ResultSet* rs) { return rs->getStatement(env); });
}
jstring RS_getCursorName(JNIEnv* env, jobject self) {
  return OnResultSet(env, self, [&](ResultSet* rs) { return rs->getCursorName(env); });
}
jint RS_getFetchSize(JNIEnv* env, jobject self) {
  return OnResultSet(env, self, [&](ResultSet* rs) { return rs->getFetchSize(); });
}
jint RS_getFetchDirection(JNIEnv* env, jobject self) {
  return OnResultSet(env, self, [&](ResultSet* rs) { return rs->getFetchDirection(); });
}
void RS_setFetchDirection(JNIEnv* env, jobject self, jint direction) {
  OnResultSet(env, self, [&](ResultSet* rs) { rs->setFetchDirection(env, direction); });
}
jint RS_findColumn(JNIEnv* env, jobject self, jstring label) {
  return OnResultSet(env, self, [&](ResultSet* rs) { return rs->findColumn(env, label); });
}

}  // namespace

VQ_JNI_EXPORT(jboolean, IIResultSet, next, (JNIEnv* env, jobject self), (env, self), RS_next)
VQ_JNI_EXPORT(jboolean, IIResultSet, previous, (JNIEnv* env, jobject self), (env, self), RS_previous)
VQ_JNI_EXPORT(jboolean, IIResultSet, absolute, (JNIEnv* env, jobject self, jint row), (env, self, row), RS_absolute)
VQ_JNI_EXPORT(jboolean, IIResultSet, relative, (JNIEnv* env, jobject self, jint rows), (env, self, rows), RS_relative)
VQ_JNI_EXPORT(void, IIResultSet, beforeFirst, (JNIEnv* env, jobject self), (env, self), RS_beforeFirst)
VQ_JNI_EXPORT(void, IIResultSet, afterLast, (JNIEnv* env, jobject self), (env, self), RS_afterLast)
VQ_JNI_EXPORT(jboolean, IIResultSet, last, (JNIEnv* env, jobject self), (env, self), RS_last)
VQ_JNI_EXPORT(jboolean, IIResultSet, isLast, (JNIEnv* env, jobject self), (env, self), RS_isLast)
VQ_JNI_EXPORT(void, IIResultSet, setFetchSize, (JNIEnv* env, jobject self, jint rows), (env, self, rows), RS_setFetchSize)
VQ_JNI_EXPORT(jboolean, IIResultSet, isClosed, (JNIEnv* env, jobject self), (env, self), RS_isClosed)
VQ_JNI_EXPORT(void, IIResultSet, doClose, (JNIEnv* env, jobject self), (env, self), RS_doClose)
VQ_JNI_EXPORT(void, IIResultSet, nFree, (JNIEnv* env, jobject self), (env, self), RS_nFree)
VQ_JNI_EXPORT(jboolean, IIResultSet, wasNull, (JNIEnv* env, jobject self), (env, self), RS_wasNull)
VQ_JNI_EXPORT(jboolean, IIResultSet, rowUpdated, (JNIEnv* env, jobject self), (env, self), RS_rowUpdated)
VQ_JNI_EXPORT(jboolean, IIResultSet, rowInserted, (JNIEnv* env, jobject self), (env, self), RS_rowInserted)
VQ_JNI_EXPORT(jboolean, IIResultSet, rowDeleted, (JNIEnv* env, jobject self), (env, self), RS_rowDeleted)
VQ_JNI_EXPORT(jobject, IIResultSet, getWarnings, (JNIEnv* env, jobject self), (env, self), RS_getWarnings)
VQ_JNI_EXPORT(void, IIResultSet, clearWarnings, (JNIEnv* env, jobject self), (env, self), RS_clearWarnings)
VQ_JNI_EXPORT(jint, IIResultSet, getType, (JNIEnv* env, jobject self), (env, self), RS_getType)
VQ_JNI_EXPORT(jint, IIResultSet, getConcurrency, (JNIEnv* env, jobject self), (env, self), RS_getConcurrency)
VQ_JNI_EXPORT(jobject, IIResultSet, getStatement, (JNIEnv* env, jobject self), (env, self), RS_getStatement)
VQ_JNI_EXPORT(jstring, IIResultSet, getCursorName, (JNIEnv* env, jobject self), (env, self), RS_getCursorName)
VQ_JNI_EXPORT(jint, IIResultSet, getFetchSize, (JNIEnv* env, jobject self), (env, self), RS_getFetchSize)
VQ_JNI_EXPORT(jint, IIResultSet, getFetchDirection, (JNIEnv* env, jobject self), (env, self), RS_getFetchDirection)
VQ_JNI_EXPORT(void, IIResultSet, setFetchDirection, (JNIEnv* env, jobject self, jint direction), (env, self, direction), RS_setFetchDirection)
VQ_JNI_EXPORT(jint, IIResultSet, findColumn, (JNIEnv* env, jobject self, jstring label), (env, self, label), RS_findColumn)
