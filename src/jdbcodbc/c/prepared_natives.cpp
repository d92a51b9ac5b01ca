// The natives of the Java class IIPreparedStatement. Each runs in the frame of
// jni_frame.h with the class name "PreparedStatement", except release (which takes the
// monitors itself). Parameter numbers travel to the driver as 16-bit values; a number
// outside that range is refused here rather than wrapped onto another parameter.
#include "jdbcodbc/c/jni_frame.h"
#include "jdbcodbc/c/prepared.h"

namespace {

constexpr char kName[] = "PreparedStatement";

jboolean JBool(bool value) { return value ? JNI_TRUE : JNI_FALSE; }

template <class Body>
auto OnPrepared(JNIEnv* env, jobject self, Body&& body) {
  return PeerCall<PreparedStatement>(env, self, kName, std::forward<Body>(body));
}

bool IndexInRange(JNIEnv* env, jint index) {
  if (index >= 0 && index <= 0xFFFF) return true;
  RaiseWithValue(env, "BAD_PARAMETER_NUMBER", index);
  return false;
}

// A setter native: checks the index, then calls the peer's setter.
template <class... A>
void Set(JNIEnv* env, jobject self, jint index,
         void (PreparedStatement::*setter)(JNIEnv*, jint, A...), A... args) {
  OnPrepared(env, self, [&](PreparedStatement* s) {
    if (IndexInRange(env, index)) (s->*setter)(env, index, args...);
  });
}

jboolean IIPreparedStatement_execute(JNIEnv* env, jobject self) {
  return OnPrepared(env, self, [&](PreparedStatement* s) { return JBool(s->execute(env)); });
}
jobject IIPreparedStatement_executeQuery(JNIEnv* env, jobject self) {
  return OnPrepared(env, self, [&](PreparedStatement* s) { return s->executeQuery(env); });
}
jint IIPreparedStatement_executeUpdate(JNIEnv* env, jobject self) {
  return OnPrepared(env, self, [&](PreparedStatement* s) { return s->executeUpdate(env); });
}
void IIPreparedStatement_addBatch(JNIEnv* env, jobject self) {
  OnPrepared(env, self, [&](PreparedStatement* s) { s->addBatch(env); });
}
jintArray IIPreparedStatement_internalExecuteBatch(JNIEnv* env, jobject self) {
  return OnPrepared(env, self, [&](PreparedStatement* s) { return s->executeBatch(env); });
}
void IIPreparedStatement_clearParameters(JNIEnv* env, jobject self) {
  OnPrepared(env, self, [&](PreparedStatement* s) { s->clearParameters(env); });
}
jint IIPreparedStatement_getParameterSize(JNIEnv* env, jobject self, jint param) {
  return OnPrepared(env, self, [&](PreparedStatement* s) { return s->getParameterSize(env, param); });
}
jint IIPreparedStatement_getParameterScale(JNIEnv* env, jobject self, jint param) {
  return OnPrepared(env, self, [&](PreparedStatement* s) { return s->getParameterScale(env, param); });
}
jint IIPreparedStatement_getParameterType(JNIEnv* env, jobject self, jint param) {
  return OnPrepared(env, self, [&](PreparedStatement* s) { return s->getParameterType(env, param); });
}
jint IIPreparedStatement_getParameterNullable(JNIEnv* env, jobject self, jint param) {
  return OnPrepared(env, self,
                    [&](PreparedStatement* s) { return s->getParameterNullable(env, param); });
}
jint IIPreparedStatement_getParameterCount(JNIEnv* env, jobject self) {
  return OnPrepared(env, self, [&](PreparedStatement* s) { return s->getParameterCount(env); });
}
jobject IIPreparedStatement_getWarnings(JNIEnv* env, jobject self) {
  return OnPrepared(env, self, [&](PreparedStatement* s) {
    return s->getWarnings() != nullptr ? env->NewLocalRef(s->getWarnings()) : nullptr;
  });
}
void IIPreparedStatement_clearWarnings(JNIEnv* env, jobject self) {
  OnPrepared(env, self, [&](PreparedStatement* s) { s->clearWarnings(env); });
}
void IIPreparedStatement_release(JNIEnv* env, jobject self) {
  GuardedCall(env, [&] { Statement::release(env, self); });
}

void IIPreparedStatement_setNull(JNIEnv* env, jobject self, jint i, jint type) {
  Set<jint>(env, self, i, &PreparedStatement::setNull, type);
}
void IIPreparedStatement_setBoolean(JNIEnv* env, jobject self, jint i, jboolean v) {
  Set<jboolean>(env, self, i, &PreparedStatement::setBoolean, v);
}
void IIPreparedStatement_setByte(JNIEnv* env, jobject self, jint i, jbyte v) {
  Set<jbyte>(env, self, i, &PreparedStatement::setByte, v);
}
void IIPreparedStatement_setShort(JNIEnv* env, jobject self, jint i, jshort v) {
  Set<jshort>(env, self, i, &PreparedStatement::setShort, v);
}
void IIPreparedStatement_setInt(JNIEnv* env, jobject self, jint i, jint v) {
  Set<jint>(env, self, i, &PreparedStatement::setInt, v);
}
void IIPreparedStatement_setLong(JNIEnv* env, jobject self, jint i, jlong v) {
  Set<jlong>(env, self, i, &PreparedStatement::setLong, v);
}
void IIPreparedStatement_setFloat(JNIEnv* env, jobject self, jint i, jfloat v) {
  Set<jfloat>(env, self, i, &PreparedStatement::setFloat, v);
}
void IIPreparedStatement_setDouble(JNIEnv* env, jobject self, jint i, jdouble v) {
  Set<jdouble>(env, self, i, &PreparedStatement::setDouble, v);
}
void IIPreparedStatement_setBigDecimal(JNIEnv* env, jobject self, jint i, jobject v) {
  Set<jobject>(env, self, i, &PreparedStatement::setBigDecimal, v);
}
void IIPreparedStatement_setString(JNIEnv* env, jobject self, jint i, jstring v) {
  Set<jstring>(env, self, i, &PreparedStatement::setString, v);
}
void IIPreparedStatement_setLongString(JNIEnv* env, jobject self, jint i, jstring v) {
  Set<jstring>(env, self, i, &PreparedStatement::setString, v);
}
void IIPreparedStatement_setBytes(JNIEnv* env, jobject self, jint i, jbyteArray v) {
  Set<jbyteArray>(env, self, i, &PreparedStatement::setBytes, v);
}
void IIPreparedStatement_setDate(JNIEnv* env, jobject self, jint i, jobject v) {
  Set<jobject>(env, self, i, &PreparedStatement::setDate, v);
}
void IIPreparedStatement_setTime(JNIEnv* env, jobject self, jint i, jobject v) {
  Set<jobject>(env, self, i, &PreparedStatement::setTime, v);
}
void IIPreparedStatement_setTimestamp(JNIEnv* env, jobject self, jint i, jobject v) {
  Set<jobject>(env, self, i, &PreparedStatement::setTimestamp, v);
}
void IIPreparedStatement_setAsciiStream(JNIEnv* env, jobject self, jint i, jobject v, jint n) {
  Set<jobject, jint>(env, self, i, &PreparedStatement::setAsciiStream, v, n);
}
void IIPreparedStatement_setBinaryStream(JNIEnv* env, jobject self, jint i, jobject v, jint n) {
  Set<jobject, jint>(env, self, i, &PreparedStatement::setBinaryStream, v, n);
}
void IIPreparedStatement_setCharacterStream(JNIEnv* env, jobject self, jint i, jobject v, jint n) {
  Set<jobject, jint>(env, self, i, &PreparedStatement::setCharacterStream, v, n);
}
void IIPreparedStatement_setBlob(JNIEnv* env, jobject self, jint i, jobject v) {
  Set<jobject>(env, self, i, &PreparedStatement::setBlob, v);
}
void IIPreparedStatement_setClob(JNIEnv* env, jobject self, jint i, jlong n, jobject v) {
  Set<jlong, jobject>(env, self, i, &PreparedStatement::setClob, n, v);
}

}  // namespace

#define VQ_PREP0(ret, name)                                                          \
  VQ_JNI_EXPORT(ret, IIPreparedStatement, name, (JNIEnv * env, jobject self), (env, self), \
                IIPreparedStatement_##name)
#define VQ_PREP1(ret, name, t1)                                                               \
  VQ_JNI_EXPORT(ret, IIPreparedStatement, name, (JNIEnv * env, jobject self, t1 a), (env, self, a), \
                IIPreparedStatement_##name)
#define VQ_PREP2(ret, name, t1, t2)                                                   \
  VQ_JNI_EXPORT(ret, IIPreparedStatement, name, (JNIEnv * env, jobject self, t1 a, t2 b), \
                (env, self, a, b), IIPreparedStatement_##name)
#define VQ_PREP3(ret, name, t1, t2, t3)                                                     \
  VQ_JNI_EXPORT(ret, IIPreparedStatement, name, (JNIEnv * env, jobject self, t1 a, t2 b, t3 c), \
                (env, self, a, b, c), IIPreparedStatement_##name)

VQ_PREP0(jboolean, execute)
VQ_PREP0(jobject, executeQuery)
VQ_PREP0(jint, executeUpdate)
VQ_PREP0(void, addBatch)
VQ_PREP0(jintArray, internalExecuteBatch)
VQ_PREP0(void, clearParameters)
VQ_PREP1(jint, getParameterSize, jint)
VQ_PREP1(jint, getParameterScale, jint)
VQ_PREP1(jint, getParameterType, jint)
VQ_PREP1(jint, getParameterNullable, jint)
VQ_PREP0(jint, getParameterCount)
VQ_PREP0(jobject, getWarnings)
VQ_PREP0(void, clearWarnings)
VQ_PREP0(void, release)
VQ_PREP2(void, setNull, jint, jint)
VQ_PREP2(void, setBoolean, jint, jboolean)
VQ_PREP2(void, setByte, jint, jbyte)
VQ_PREP2(void, setShort, jint, jshort)
VQ_PREP2(void, setInt, jint, jint)
VQ_PREP2(void, setLong, jint, jlong)
VQ_PREP2(void, setFloat, jint, jfloat)
VQ_PREP2(void, setDouble, jint, jdouble)
VQ_PREP2(void, setBigDecimal, jint, jobject)
VQ_PREP2(void, setString, jint, jstring)
VQ_PREP2(void, setLongString, jint, jstring)
VQ_PREP2(void, setBytes, jint, jbyteArray)
VQ_PREP2(void, setDate, jint, jobject)
VQ_PREP2(void, setTime, jint, jobject)
VQ_PREP2(void, setTimestamp, jint, jobject)
VQ_PREP3(void, setAsciiStream, jint, jobject, jint)
VQ_PREP3(void, setBinaryStream, jint, jobject, jint)
VQ_PREP3(void, setCharacterStream, jint, jobject, jint)
VQ_PREP2(void, setBlob, jint, jobject)
VQ_PREP3(void, setClob, jint, jlong, jobject)
