// The natives of the Java class IICallableStatement, each in the frame of jni_frame.h
// with the class name "CallableStatement" except release (which takes the monitors
// itself), and the two IConnection natives that make a callable statement. Parameter
// numbers travel to the driver as 16-bit values; a number outside that range is refused
// rather than wrapped onto another parameter.
#include "jdbcodbc/c/callable.h"
#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/jni_frame.h"

namespace {

constexpr char kName[] = "CallableStatement";

template <class Body>
auto OnCallable(JNIEnv* env, jobject self, Body&& body) {
  return PeerCall<CallableStatement>(env, self, kName, std::forward<Body>(body));
}

bool IndexInRange(JNIEnv* env, jint index) {
  if (index >= 0 && index <= 0xFFFF) return true;
  RaiseWithValue(env, "BAD_PARAMETER_NUMBER", index);
  return false;
}

// A getter native: checks the index, then calls the peer's getter.
template <class R>
R Get(JNIEnv* env, jobject self, jint index, R (CallableStatement::*getter)(JNIEnv*, jint)) {
  return OnCallable(env, self, [&](CallableStatement* s) -> R {
    return IndexInRange(env, index) ? (s->*getter)(env, index) : R{};
  });
}

void IICallableStatement_release(JNIEnv* env, jobject self) {
  GuardedCall(env, [&] { Statement::release(env, self); });
}
jboolean IICallableStatement_wasNull(JNIEnv* env, jobject self) {
  return OnCallable(env, self,
                    [&](CallableStatement* s) { return s->wasNull() ? JNI_TRUE : JNI_FALSE; });
}
void IICallableStatement_registerScaled(JNIEnv* env, jobject self, jint index, jint sqlType,
                                        jint scale) {
  OnCallable(env, self, [&](CallableStatement* s) {
    if (IndexInRange(env, index)) s->registerOutParameter(env, index, sqlType, scale);
  });
}
void IICallableStatement_register(JNIEnv* env, jobject self, jint index, jint sqlType) {
  IICallableStatement_registerScaled(env, self, index, sqlType, 0);
}
jobject IICallableStatement_getTimestamp(JNIEnv* env, jobject self, jint i) {
  return Get(env, self, i, &CallableStatement::getTimestamp);
}
jobject IICallableStatement_getTime(JNIEnv* env, jobject self, jint i) {
  return Get(env, self, i, &CallableStatement::getTime);
}
jobject IICallableStatement_getDate(JNIEnv* env, jobject self, jint i) {
  return Get(env, self, i, &CallableStatement::getDate);
}
jstring IICallableStatement_getString(JNIEnv* env, jobject self, jint i) {
  return Get(env, self, i, &CallableStatement::getString);
}
jshort IICallableStatement_getShort(JNIEnv* env, jobject self, jint i) {
  return Get(env, self, i, &CallableStatement::getShort);
}
jint IICallableStatement_getInt(JNIEnv* env, jobject self, jint i) {
  return Get(env, self, i, &CallableStatement::getInt);
}
jlong IICallableStatement_getLong(JNIEnv* env, jobject self, jint i) {
  return Get(env, self, i, &CallableStatement::getLong);
}
jfloat IICallableStatement_getFloat(JNIEnv* env, jobject self, jint i) {
  return Get(env, self, i, &CallableStatement::getFloat);
}
jdouble IICallableStatement_getDouble(JNIEnv* env, jobject self, jint i) {
  return Get(env, self, i, &CallableStatement::getDouble);
}
jbyte IICallableStatement_getByte(JNIEnv* env, jobject self, jint i) {
  return Get(env, self, i, &CallableStatement::getByte);
}
jboolean IICallableStatement_getBoolean(JNIEnv* env, jobject self, jint i) {
  return Get(env, self, i, &CallableStatement::getBoolean);
}
jbyteArray IICallableStatement_getBytes(JNIEnv* env, jobject self, jint i) {
  return Get(env, self, i, &CallableStatement::getBytes);
}
jobject IICallableStatement_getBigDecimalScaled(JNIEnv* env, jobject self, jint index,
                                                jint scale) {
  return OnCallable(env, self, [&](CallableStatement* s) -> jobject {
    return IndexInRange(env, index) ? s->getBigDecimal(env, index, scale) : nullptr;
  });
}
jobject IICallableStatement_getBigDecimal(JNIEnv* env, jobject self, jint index) {
  return IICallableStatement_getBigDecimalScaled(env, self, index, -1);
}

jobject IConnection_prepareCall(JNIEnv* env, jobject self, jstring sql, jboolean a, jboolean b,
                                jint type, jint concurrency) {
  return PeerCall<Connection>(env, self, "Connection", [&](Connection* c) {
    return c->prepareCall(env, sql, a != JNI_FALSE, b != JNI_FALSE, type, concurrency);
  });
}
jobject IConnection_prepareCallDefault(JNIEnv* env, jobject self, jstring sql, jboolean a,
                                       jboolean b) {
  return IConnection_prepareCall(env, self, sql, a, b, -1, -1);
}

}  // namespace

#define VQ_CALL0(ret, name)                                                                 \
  VQ_JNI_EXPORT(ret, IICallableStatement, name, (JNIEnv * env, jobject self), (env, self), \
                IICallableStatement_##name)
#define VQ_CALL1(ret, name)                                                                \
  VQ_JNI_EXPORT(ret, IICallableStatement, name, (JNIEnv * env, jobject self, jint index), \
                (env, self, index), IICallableStatement_##name)

VQ_CALL0(void, release)
VQ_CALL0(jboolean, wasNull)
VQ_CALL1(jobject, getTimestamp)
VQ_CALL1(jobject, getTime)
VQ_CALL1(jobject, getDate)
VQ_CALL1(jstring, getString)
VQ_CALL1(jshort, getShort)
VQ_CALL1(jint, getInt)
VQ_CALL1(jlong, getLong)
VQ_CALL1(jfloat, getFloat)
VQ_CALL1(jdouble, getDouble)
VQ_CALL1(jbyte, getByte)
VQ_CALL1(jboolean, getBoolean)
VQ_CALL1(jbyteArray, getBytes)
// Overloaded natives carry their argument signature in the exported name.
VQ_JNI_EXPORT(void, IICallableStatement, nativeRegisterOutParameter__III,
              (JNIEnv * env, jobject self, jint index, jint sqlType, jint scale),
              (env, self, index, sqlType, scale), IICallableStatement_registerScaled)
VQ_JNI_EXPORT(void, IICallableStatement, nativeRegisterOutParameter__II,
              (JNIEnv * env, jobject self, jint index, jint sqlType),
              (env, self, index, sqlType), IICallableStatement_register)
VQ_JNI_EXPORT(jobject, IICallableStatement, getBigDecimal__I,
              (JNIEnv * env, jobject self, jint index), (env, self, index),
              IICallableStatement_getBigDecimal)
VQ_JNI_EXPORT(jobject, IICallableStatement, getBigDecimal__II,
              (JNIEnv * env, jobject self, jint index, jint scale), (env, self, index, scale),
              IICallableStatement_getBigDecimalScaled)
VQ_JNI_EXPORT(jobject, IConnection, nativePrepareCall__Ljava_lang_String_2ZZ,
              (JNIEnv * env, jobject self, jstring sql, jboolean a, jboolean b),
              (env, self, sql, a, b), IConnection_prepareCallDefault)
VQ_JNI_EXPORT(jobject, IConnection, nativePrepareCall__Ljava_lang_String_2ZZII,
              (JNIEnv * env, jobject self, jstring sql, jboolean a, jboolean b, jint type,
               jint concurrency),
              (env, self, sql, a, b, type, concurrency), IConnection_prepareCall)
