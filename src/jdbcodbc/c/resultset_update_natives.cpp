// The natives of IIResultSet that change rows: the column updaters in index and label
// form and the positioned operations with the insert row. Every one holds the Java
// object's monitor for its whole run (the plain frame of jni_frame.h); a label that names
// no column raises "BAD_COLUMN_NAME" and writes nothing.
#include "jdbcodbc/c/jni_frame.h"
#include "jdbcodbc/c/resultset.h"

namespace {

constexpr char kName[] = "ResultSet";

template <class Body>
void Locked(JNIEnv* env, jobject self, Body&& body) {
  PeerCall<ResultSet>(env, self, kName, std::forward<Body>(body));
}

// `update(rs, column)` runs the ResultSet updater on a 1-based column number.
template <class Update>
void ByIndex(JNIEnv* env, jobject self, jint column, Update update) {
  Locked(env, self, [&](ResultSet* rs) { update(rs, column); });
}
template <class Update>
void ByLabel(JNIEnv* env, jobject self, jstring label, Update update) {
  Locked(env, self, [&](ResultSet* rs) {
    const jint n = LabelColumn(env, rs, label);
    if (n >= 1) update(rs, n);
  });
}

void IIResultSet_updateNull_I(JNIEnv* env, jobject self, jint column) {
  ByIndex(env, self, column, [&](ResultSet* rs, jint c) { rs->updateNull(env, c); });
}
void IIResultSet_updateNull_L(JNIEnv* env, jobject self, jstring label) {
  ByLabel(env, self, label, [&](ResultSet* rs, jint c) { rs->updateNull(env, c); });
}

#define VQ_RS_UPDATER(name, T)                                                              \
  void IIResultSet_##name##_I(JNIEnv* env, jobject self, jint column, T value) {            \
    ByIndex(env, self, column, [&](ResultSet* rs, jint c) { rs->name(env, c, value); });    \
  }                                                                                         \
  void IIResultSet_##name##_L(JNIEnv* env, jobject self, jstring label, T value) {          \
    ByLabel(env, self, label, [&](ResultSet* rs, jint c) { rs->name(env, c, value); });     \
  }
VQ_RS_UPDATER(updateBigDecimal, jobject)
VQ_RS_UPDATER(updateBoolean, jboolean)
VQ_RS_UPDATER(updateByte, jbyte)
VQ_RS_UPDATER(updateBytes, jbyteArray)
VQ_RS_UPDATER(updateDate, jobject)
VQ_RS_UPDATER(updateDouble, jdouble)
VQ_RS_UPDATER(updateFloat, jfloat)
VQ_RS_UPDATER(updateInt, jint)
VQ_RS_UPDATER(updateLong, jlong)
VQ_RS_UPDATER(updateShort, jshort)
VQ_RS_UPDATER(updateString, jstring)
VQ_RS_UPDATER(updateTime, jobject)
VQ_RS_UPDATER(updateTimestamp, jobject)
#undef VQ_RS_UPDATER

#define VQ_RS_STREAM_UPDATER(name)                                                          \
  void IIResultSet_##name##_I(JNIEnv* env, jobject self, jint column, jobject stream,       \
                              jint length) {                                                \
    ByIndex(env, self, column,                                                              \
            [&](ResultSet* rs, jint c) { rs->name(env, c, stream, length); });              \
  }                                                                                         \
  void IIResultSet_##name##_L(JNIEnv* env, jobject self, jstring label, jobject stream,     \
                              jint length) {                                                \
    ByLabel(env, self, label, [&](ResultSet* rs, jint c) { rs->name(env, c, stream, length); }); \
  }
VQ_RS_STREAM_UPDATER(updateAsciiStream)
VQ_RS_STREAM_UPDATER(updateBinaryStream)
VQ_RS_STREAM_UPDATER(updateCharacterStream)
#undef VQ_RS_STREAM_UPDATER

#define VQ_RS_ROW_OPERATION(name)                                             \
  void IIResultSet_##name(JNIEnv* env, jobject self) {                        \
    Locked(env, self, [&](ResultSet* rs) { (void)rs->name(env); });           \
  }
VQ_RS_ROW_OPERATION(updateRow)
VQ_RS_ROW_OPERATION(deleteRow)
VQ_RS_ROW_OPERATION(refreshRow)
VQ_RS_ROW_OPERATION(cancelRowUpdates)
VQ_RS_ROW_OPERATION(insertRow)
VQ_RS_ROW_OPERATION(moveToInsertRow)
VQ_RS_ROW_OPERATION(moveToCurrentRow)
#undef VQ_RS_ROW_OPERATION

}  // namespace

VQ_JNI_EXPORT(void, IIResultSet, updateNull__I, (JNIEnv * env, jobject self, jint column),
              (env, self, column), IIResultSet_updateNull_I)
VQ_JNI_EXPORT(void, IIResultSet, updateNull__Ljava_lang_String_2,
              (JNIEnv * env, jobject self, jstring label), (env, self, label),
              IIResultSet_updateNull_L)

// `sig` is the mangled Java type of the value argument.
#define VQ_RS_EXPORT_UPDATER(name, T, sig)                                                  \
  VQ_JNI_EXPORT(void, IIResultSet, name##__I##sig,                                          \
                (JNIEnv * env, jobject self, jint column, T value), (env, self, column, value), \
                IIResultSet_##name##_I)                                                     \
  VQ_JNI_EXPORT(void, IIResultSet, name##__Ljava_lang_String_2##sig,                        \
                (JNIEnv * env, jobject self, jstring label, T value),                       \
                (env, self, label, value), IIResultSet_##name##_L)
VQ_RS_EXPORT_UPDATER(updateBigDecimal, jobject, Ljava_math_BigDecimal_2)
VQ_RS_EXPORT_UPDATER(updateBoolean, jboolean, Z)
VQ_RS_EXPORT_UPDATER(updateByte, jbyte, B)
VQ_RS_EXPORT_UPDATER(updateBytes, jbyteArray, _3B)
VQ_RS_EXPORT_UPDATER(updateDate, jobject, Ljava_sql_Date_2)
VQ_RS_EXPORT_UPDATER(updateDouble, jdouble, D)
VQ_RS_EXPORT_UPDATER(updateFloat, jfloat, F)
VQ_RS_EXPORT_UPDATER(updateInt, jint, I)
VQ_RS_EXPORT_UPDATER(updateLong, jlong, J)
VQ_RS_EXPORT_UPDATER(updateShort, jshort, S)
VQ_RS_EXPORT_UPDATER(updateString, jstring, Ljava_lang_String_2)
VQ_RS_EXPORT_UPDATER(updateTime, jobject, Ljava_sql_Time_2)
VQ_RS_EXPORT_UPDATER(updateTimestamp, jobject, Ljava_sql_Timestamp_2)
#undef VQ_RS_EXPORT_UPDATER

// `sig` is the mangled Java type of the stream argument; the length follows as an int.
#define VQ_RS_EXPORT_STREAM_UPDATER(name, sig)                                               \
  VQ_JNI_EXPORT(void, IIResultSet, name##__I##sig##I,                                        \
                (JNIEnv * env, jobject self, jint column, jobject stream, jint length),      \
                (env, self, column, stream, length), IIResultSet_##name##_I)                 \
  VQ_JNI_EXPORT(void, IIResultSet, name##__Ljava_lang_String_2##sig##I,                      \
                (JNIEnv * env, jobject self, jstring label, jobject stream, jint length),     \
                (env, self, label, stream, length), IIResultSet_##name##_L)
VQ_RS_EXPORT_STREAM_UPDATER(updateAsciiStream, Ljava_io_InputStream_2)
VQ_RS_EXPORT_STREAM_UPDATER(updateBinaryStream, Ljava_io_InputStream_2)
VQ_RS_EXPORT_STREAM_UPDATER(updateCharacterStream, Ljava_io_Reader_2)
#undef VQ_RS_EXPORT_STREAM_UPDATER

#define VQ_RS_EXPORT_ROW_OPERATION(name) \
  VQ_JNI_EXPORT(void, IIResultSet, name, (JNIEnv * env, jobject self), (env, self), IIResultSet_##name)
VQ_RS_EXPORT_ROW_OPERATION(updateRow)
VQ_RS_EXPORT_ROW_OPERATION(deleteRow)
VQ_RS_EXPORT_ROW_OPERATION(refreshRow)
VQ_RS_EXPORT_ROW_OPERATION(cancelRowUpdates)
VQ_RS_EXPORT_ROW_OPERATION(insertRow)
VQ_RS_EXPORT_ROW_OPERATION(moveToInsertRow)
VQ_RS_EXPORT_ROW_OPERATION(moveToCurrentRow)
#undef VQ_RS_EXPORT_ROW_OPERATION
