// The natives of the Java class IConnection, each in the frame of jni_frame.h with the
// class name "Connection"; isClosed takes no monitor.
#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/jni_frame.h"
#include "jdbcodbc/c/statement.h"
// The prepared forms exist once the prepared-statement peer is built.
#if __has_include("jdbcodbc/c/prepared.h")
#define VQ_HAVE_PREPARED 1
#endif

namespace {

constexpr char kName[] = "Connection";

jboolean JBool(bool value) { return value ? JNI_TRUE : JNI_FALSE; }

template <class Body>
auto OnConnection(JNIEnv* env, jobject self, Body&& body) {
  return PeerCall<Connection>(env, self, kName, std::forward<Body>(body));
}

jboolean IConnection_isClosed(JNIEnv* env, jobject self) {
  jboolean closed = JNI_TRUE;
  GuardedCall(env, [&] {
    auto* c = static_cast<Connection*>(NOSE()->getNativeObj(env, self));
    if (c != nullptr) closed = JBool(c->isClosed(env));
  });
  return closed;
}

void IConnection_close(JNIEnv* env, jobject self) { CloseCall(env, self, kName, true); }
void IConnection_nFree(JNIEnv* env, jobject self) { CloseCall(env, self, kName, false); }

void IConnection_clearWarnings(JNIEnv* env, jobject self) {
  OnConnection(env, self, [&](Connection* c) { c->clearWarnings(env); });
}

jobject IConnection_getWarnings(JNIEnv* env, jobject self) {
  return OnConnection(env, self, [&](Connection* c) -> jobject {
    return c->getWarnings() != nullptr ? env->NewLocalRef(c->getWarnings()) : nullptr;
  });
}

void IConnection_setIsolationOnOpen(JNIEnv* env, jobject self, jint level) {
  OnConnection(env, self, [&](Connection* c) { c->setIsolationOnOpen(env, level); });
}

jstring IConnection_getStrAttr(JNIEnv* env, jobject self, jshort attribute) {
  return OnConnection(env, self, [&](Connection* c) { return c->getJStrAttr(env, attribute); });
}

jint IConnection_getNumAttr(JNIEnv* env, jobject self, jshort attribute) {
  return OnConnection(env, self, [&](Connection* c) {
    jint value = 0;
    return c->getNumAttr(env, attribute, &value) ? value : 0;
  });
}

void IConnection_setReadOnly(JNIEnv* env, jobject self, jboolean readOnly) {
  OnConnection(env, self, [&](Connection* c) { c->setReadOnly(env, readOnly != JNI_FALSE); });
}

jboolean IConnection_isReadOnly(JNIEnv* env, jobject self) {
  return OnConnection(env, self, [&](Connection* c) { return JBool(c->isReadOnly(env)); });
}

jlong IConnection_getODBCHandle(JNIEnv* env, jobject self) {
  return OnConnection(env, self, [&](Connection* c) {
    return static_cast<jlong>(reinterpret_cast<std::intptr_t>(c->getODBCHandle()));
  });
}

void IConnection_setAllowTransactionControl(JNIEnv* env, jobject self, jboolean allow) {
  OnConnection(env, self,
               [&](Connection* c) { c->setAllowTransactionControl(allow != JNI_FALSE); });
}

void IConnection_setDefaultFetchSize(JNIEnv* env, jobject self, jint size) {
  OnConnection(env, self, [&](Connection* c) { c->setDefaultRowsetSize(size); });
}

void IConnection_setCatalog(JNIEnv* env, jobject self, jstring name) {
  OnConnection(env, self, [&](Connection* c) { c->setCatalog(env, name); });
}

jstring IConnection_getCatalog(JNIEnv* env, jobject self) {
  return OnConnection(env, self, [&](Connection* c) { return c->getCatalog(env); });
}

jint IConnection_getTransactionIsolation(JNIEnv* env, jobject self) {
  return OnConnection(env, self, [&](Connection* c) { return c->getTransactionIsolation(env); });
}

void IConnection_setTransactionIsolation(JNIEnv* env, jobject self, jint level) {
  OnConnection(env, self, [&](Connection* c) { c->setTransactionIsolation(env, level); });
}

jboolean IConnection_getAutoCommit(JNIEnv* env, jobject self) {
  return OnConnection(env, self, [&](Connection* c) { return JBool(c->getAutoCommit(env)); });
}

void IConnection_setAutoCommit(JNIEnv* env, jobject self, jboolean autoCommit) {
  OnConnection(env, self, [&](Connection* c) { c->setAutoCommit(env, autoCommit != JNI_FALSE); });
}

void IConnection_commit(JNIEnv* env, jobject self) {
  OnConnection(env, self, [&](Connection* c) { c->endTransaction(env, true); });
}

void IConnection_rollback(JNIEnv* env, jobject self) {
  OnConnection(env, self, [&](Connection* c) { c->endTransaction(env, false); });
}

jstring IConnection_nativeSQL(JNIEnv* env, jobject self, jstring sql) {
  return OnConnection(env, self, [&](Connection* c) { return c->nativeSQL(env, sql); });
}

jobject IConnection_nativeCreateStatement(JNIEnv* env, jobject self) {
  return OnConnection(env, self, [&](Connection* c) { return c->createStatement(env, -1, -1); });
}

jobject IConnection_nativeCreateStatementII(JNIEnv* env, jobject self, jint type,
                                            jint concurrency) {
  return OnConnection(env, self,
                      [&](Connection* c) { return c->createStatement(env, type, concurrency); });
}

#ifdef VQ_HAVE_PREPARED
jobject IConnection_nativePrepareStatement(JNIEnv* env, jobject self, jstring sql, jboolean a,
                                           jboolean b) {
  return OnConnection(env, self, [&](Connection* c) {
    return c->prepareStatement(env, sql, a != JNI_FALSE, b != JNI_FALSE, -1, -1);
  });
}

jobject IConnection_nativePrepareStatementII(JNIEnv* env, jobject self, jstring sql, jboolean a,
                                             jboolean b, jint type, jint concurrency) {
  return OnConnection(env, self, [&](Connection* c) {
    return c->prepareStatement(env, sql, a != JNI_FALSE, b != JNI_FALSE, type, concurrency);
  });
}
#endif

void IConnection_setVSRMessageHandler(JNIEnv* env, jobject self) {
  OnConnection(env, self, [&](Connection* c) { c->setVSRMessageHandler(env); });
}

void IConnection_setVCValidateFileTransferCallback(JNIEnv* env, jobject self) {
  OnConnection(env, self, [&](Connection* c) { c->setVCValidateFileTransferCallback(env); });
}

void IConnection_setAttribute(JNIEnv* env, jobject self, jint attribute, jstring value) {
  OnConnection(env, self, [&](Connection* c) { c->setAttribute(env, attribute, value); });
}

}  // namespace

#define VQ_CONN0(ret, name) \
  VQ_JNI_EXPORT(ret, IConnection, name, (JNIEnv * env, jobject self), (env, self), IConnection_##name)
#define VQ_CONN1(ret, name, t1) \
  VQ_JNI_EXPORT(ret, IConnection, name, (JNIEnv * env, jobject self, t1 a), (env, self, a), \
                IConnection_##name)

VQ_CONN0(jboolean, isClosed)
VQ_CONN0(void, close)
VQ_CONN0(void, nFree)
VQ_CONN0(void, clearWarnings)
VQ_CONN0(jobject, getWarnings)
VQ_CONN1(void, setIsolationOnOpen, jint)
VQ_CONN1(jstring, getStrAttr, jshort)
VQ_CONN1(jint, getNumAttr, jshort)
VQ_CONN1(void, setReadOnly, jboolean)
VQ_CONN0(jboolean, isReadOnly)
VQ_CONN0(jlong, getODBCHandle)
VQ_CONN1(void, setAllowTransactionControl, jboolean)
VQ_CONN1(void, setDefaultFetchSize, jint)
VQ_CONN1(void, setCatalog, jstring)
VQ_CONN0(jstring, getCatalog)
VQ_CONN0(jint, getTransactionIsolation)
VQ_CONN1(void, setTransactionIsolation, jint)
VQ_CONN0(jboolean, getAutoCommit)
VQ_CONN1(void, setAutoCommit, jboolean)
VQ_CONN0(void, commit)
VQ_CONN0(void, rollback)
VQ_CONN1(jstring, nativeSQL, jstring)
VQ_JNI_EXPORT(void, IConnection, setAttribute,
              (JNIEnv * env, jobject self, jint attribute, jstring value),
              (env, self, attribute, value), IConnection_setAttribute)
VQ_CONN0(void, setVSRMessageHandler)
VQ_CONN0(void, setVCValidateFileTransferCallback)
// Overloaded natives carry their argument signature in the exported name.
VQ_JNI_EXPORT(jobject, IConnection, nativeCreateStatement__, (JNIEnv * env, jobject self),
              (env, self), IConnection_nativeCreateStatement)
VQ_JNI_EXPORT(jobject, IConnection, nativeCreateStatement__II,
              (JNIEnv * env, jobject self, jint type, jint concurrency),
              (env, self, type, concurrency), IConnection_nativeCreateStatementII)
#ifdef VQ_HAVE_PREPARED
VQ_JNI_EXPORT(jobject, IConnection, nativePrepareStatement__Ljava_lang_String_2ZZ,
              (JNIEnv * env, jobject self, jstring sql, jboolean a, jboolean b),
              (env, self, sql, a, b), IConnection_nativePrepareStatement)
VQ_JNI_EXPORT(jobject, IConnection, nativePrepareStatement__Ljava_lang_String_2ZZII,
              (JNIEnv * env, jobject self, jstring sql, jboolean a, jboolean b, jint type,
               jint concurrency),
              (env, self, sql, a, b, type, concurrency), IConnection_nativePrepareStatementII)
#endif
