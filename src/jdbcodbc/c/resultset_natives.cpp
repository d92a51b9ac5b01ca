// The column-value getters of the Java class IIResultSet in index and label form, the
// row-position queries and getNativeRowReader. The getters run without the Java
// object's monitor (getNextClobPiece excepted); the others hold it. The navigation and
// the other plain natives are in resultset_jni.cpp, the updaters and the positioned
// operations in resultset_update_natives.cpp.
#include <cstdint>

#include "jdbcodbc/c/jni_frame.h"
#include "jdbcodbc/c/resultset.h"
#include "jdbcodbc/c/rowreader.h"

namespace {

constexpr char kName[] = "ResultSet";

jboolean JBool(bool value) { return value ? JNI_TRUE : JNI_FALSE; }

// The frame of a getter without the monitor: peer lookup ("NATIVE_ACCESS_ERROR" when it
// is gone), one operation, the zero value on failure.
template <class Body>
auto Unlocked(JNIEnv* env, jobject self, Body&& body) noexcept
    -> decltype(body(std::declval<ResultSet*>())) {
  using R = decltype(body(std::declval<ResultSet*>()));
  R result{};
  GuardedCall(env, [&] {
    if (auto* rs = static_cast<ResultSet*>(NOSE()->getNonNullNativeObjUnlocked(env, self, kName)))
      result = body(rs);
  });
  return result;
}

template <class Body>
auto Locked(JNIEnv* env, jobject self, Body&& body) {
  return PeerCall<ResultSet>(env, self, kName, std::forward<Body>(body));
}

// A getter in both forms: `call(rs, column)` reads the value.
template <class R, class Call>
R ByIndex(JNIEnv* env, jobject self, jint column, Call call) {
  return Unlocked(env, self, [&](ResultSet* rs) -> R { return call(rs, column); });
}
template <class R, class Call>
R ByLabel(JNIEnv* env, jobject self, jstring label, Call call) {
  return Unlocked(env, self, [&](ResultSet* rs) -> R {
    const jint n = LabelColumn(env, rs, label);
    return n >= 1 ? call(rs, n) : R{};
  });
}

#define VQ_RS_GETTER(R, name)                                                            \
  R IIResultSet_##name##_I(JNIEnv* env, jobject self, jint column) {                     \
    return ByIndex<R>(env, self, column,                                                 \
                      [&](ResultSet* rs, jint c) { return rs->name(env, c); });          \
  }                                                                                      \
  R IIResultSet_##name##_L(JNIEnv* env, jobject self, jstring label) {                   \
    return ByLabel<R>(env, self, label,                                                  \
                      [&](ResultSet* rs, jint c) { return rs->name(env, c); });          \
  }
VQ_RS_GETTER(jobject, getAsciiStream)
VQ_RS_GETTER(jobject, getBigDecimal)
VQ_RS_GETTER(jobject, getBinaryStream)
VQ_RS_GETTER(jboolean, getBoolean)
VQ_RS_GETTER(jbyte, getByte)
VQ_RS_GETTER(jbyteArray, getBytes)
VQ_RS_GETTER(jobject, getCharacterStream)
VQ_RS_GETTER(jobject, getClobCharacterStream)
VQ_RS_GETTER(jobject, getDate)
VQ_RS_GETTER(jdouble, getDouble)
VQ_RS_GETTER(jfloat, getFloat)
VQ_RS_GETTER(jint, getInt)
VQ_RS_GETTER(jlong, getLong)
VQ_RS_GETTER(jshort, getShort)
VQ_RS_GETTER(jstring, getString)
VQ_RS_GETTER(jobject, getTime)
VQ_RS_GETTER(jobject, getTimestamp)
#undef VQ_RS_GETTER

jobject IIResultSet_getBigDecimal_II(JNIEnv* env, jobject self, jint column, jint scale) {
  return ByIndex<jobject>(env, self, column,
                          [&](ResultSet* rs, jint c) { return rs->getBigDecimal(env, c, scale); });
}
jobject IIResultSet_getBigDecimal_LI(JNIEnv* env, jobject self, jstring label, jint scale) {
  return ByLabel<jobject>(env, self, label,
                          [&](ResultSet* rs, jint c) { return rs->getBigDecimal(env, c, scale); });
}

jbyteArray IIResultSet_getBlobBytes_II(JNIEnv* env, jobject self, jint column, jint length) {
  return ByIndex<jbyteArray>(
      env, self, column, [&](ResultSet* rs, jint c) { return rs->getBlobBytes(env, c, length); });
}
jlong IIResultSet_getBlobLength_I(JNIEnv* env, jobject self, jint column) {
  return ByIndex<jlong>(env, self, column,
                        [&](ResultSet* rs, jint c) { return rs->getBlobLength(env, c); });
}

// getNextClobPiece holds the monitor in both forms.
jstring IIResultSet_getNextClobPiece_I(JNIEnv* env, jobject self, jint column) {
  return Locked(env, self, [&](ResultSet* rs) { return rs->getNextClobPiece(env, column); });
}
jstring IIResultSet_getNextClobPiece_L(JNIEnv* env, jobject self, jstring label) {
  return Locked(env, self, [&](ResultSet* rs) -> jstring {
    const jint n = LabelColumn(env, rs, label);
    return n >= 1 ? rs->getNextClobPiece(env, n) : nullptr;
  });
}

jint IIResultSet_getRow(JNIEnv* env, jobject self) {
  return Locked(env, self, [&](ResultSet* rs) { return rs->getRow(env); });
}
jboolean IIResultSet_isFirst(JNIEnv* env, jobject self) {
  return Locked(env, self, [&](ResultSet* rs) { return JBool(rs->isFirst(env)); });
}
jboolean IIResultSet_isBeforeFirst(JNIEnv* env, jobject self) {
  return Locked(env, self, [&](ResultSet* rs) { return JBool(rs->isBeforeFirst(env)); });
}
jboolean IIResultSet_isAfterLast(JNIEnv* env, jobject self) {
  return Locked(env, self, [&](ResultSet* rs) { return JBool(rs->isAfterLast(env)); });
}

// Writes the reader record at the whole 64-bit address Java gives (the record holds
// 8-byte pointers: see rowreader.h).
void IIResultSet_getNativeRowReader(JNIEnv* env, jobject self, jlong address) {
  Locked(env, self, [&](ResultSet* rs) {
    if (address == 0) return;
    auto* reader = reinterpret_cast<el_reader*>(static_cast<std::intptr_t>(address));
    reader->env = env;
    reader->resultSet = rs;
    reader->readRow = &nativeReadRow;
  });
}

}  // namespace

jint LabelColumn(JNIEnv* env, ResultSet* rs, jstring label) {
  const jint n = rs->findColumn(env, label);
  if (n >= 1) return n;
  if (label != nullptr && !env->ExceptionCheck()) NOSE()->raiseError(env, "BAD_COLUMN_NAME", 1, label);
  return 0;
}

#define VQ_RS_EXPORT_GETTER(R, name, labelSuffix)                                        \
  VQ_JNI_EXPORT(R, IIResultSet, name##__I, (JNIEnv * env, jobject self, jint column),    \
                (env, self, column), IIResultSet_##name##_I)                             \
  VQ_JNI_EXPORT(R, IIResultSet, name##__##labelSuffix,                                   \
                (JNIEnv * env, jobject self, jstring label), (env, self, label),         \
                IIResultSet_##name##_L)
VQ_RS_EXPORT_GETTER(jobject, getAsciiStream, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jobject, getBigDecimal, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jobject, getBinaryStream, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jboolean, getBoolean, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jbyte, getByte, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jbyteArray, getBytes, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jobject, getCharacterStream, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jobject, getClobCharacterStream, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jobject, getDate, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jdouble, getDouble, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jfloat, getFloat, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jint, getInt, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jlong, getLong, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jstring, getNextClobPiece, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jshort, getShort, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jstring, getString, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jobject, getTime, Ljava_lang_String_2)
VQ_RS_EXPORT_GETTER(jobject, getTimestamp, Ljava_lang_String_2)
#undef VQ_RS_EXPORT_GETTER

VQ_JNI_EXPORT(jobject, IIResultSet, getBigDecimal__II,
              (JNIEnv * env, jobject self, jint column, jint scale), (env, self, column, scale),
              IIResultSet_getBigDecimal_II)
VQ_JNI_EXPORT(jobject, IIResultSet, getBigDecimal__Ljava_lang_String_2I,
              (JNIEnv * env, jobject self, jstring label, jint scale),
              (env, self, label, scale), IIResultSet_getBigDecimal_LI)
VQ_JNI_EXPORT(jbyteArray, IIResultSet, getBlobBytes__II,
              (JNIEnv * env, jobject self, jint column, jint length),
              (env, self, column, length), IIResultSet_getBlobBytes_II)
VQ_JNI_EXPORT(jlong, IIResultSet, getBlobLength__I, (JNIEnv * env, jobject self, jint column),
              (env, self, column), IIResultSet_getBlobLength_I)
VQ_JNI_EXPORT(jint, IIResultSet, getRow, (JNIEnv * env, jobject self), (env, self),
              IIResultSet_getRow)
VQ_JNI_EXPORT(jboolean, IIResultSet, isFirst, (JNIEnv * env, jobject self), (env, self),
              IIResultSet_isFirst)
VQ_JNI_EXPORT(jboolean, IIResultSet, isBeforeFirst, (JNIEnv * env, jobject self), (env, self),
              IIResultSet_isBeforeFirst)
VQ_JNI_EXPORT(jboolean, IIResultSet, isAfterLast, (JNIEnv * env, jobject self), (env, self),
              IIResultSet_isAfterLast)
VQ_JNI_EXPORT(void, IIResultSet, getNativeRowReader, (JNIEnv * env, jobject self, jlong address),
              (env, self, address), IIResultSet_getNativeRowReader)
