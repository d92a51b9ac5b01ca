// The PreparedStatement setters: each converts the Java value into its parameter's own
// buffer with the converters of from_java.cpp and binds or rebinds the parameter. Clob
// and Blob values of 1024 characters or bytes and more are bound as data at execution
// instead and sent while the statement executes (prepared_execute.cpp).
#include "jdbcodbc/c/misccls.h"
#include "jdbcodbc/c/prepared.h"

namespace {

constexpr SQLSMALLINT kNumericText = -9999;
constexpr std::int64_t kStreamedFrom = 1024;  // characters or bytes sent at execution

// The converter of one Java type, as a member of NativeWarnObj.
template <class T>
using Converter = void* (NativeWarnObj::*)(JNIEnv*, void*, SQLSMALLINT, SQLLEN, SQLLEN*, T,
                                           SQLLEN*);
template <class T>
using StreamConverter = void* (NativeWarnObj::*)(JNIEnv*, void*, SQLSMALLINT, SQLLEN, SQLLEN*,
                                                 T, jint, SQLLEN*);

}  // namespace

namespace {

// The common setter: convert into the parameter's buffer, then bind with what came back.
// A failed conversion keeps the parameter's buffer, which stays valid (and bound).
template <class T>
void SetValue(PreparedStatement* stmt, JNIEnv* env, jint index, SQLSMALLINT cType,
              Converter<T> convert, T value) {
  Parameter* p = stmt->findOrCreateInParameter(env, index);
  SQLLEN newSize = p->dataLength;
  void* out = (stmt->*convert)(env, p->value, cType, p->dataLength, &p->indicator, value, &newSize);
  p->modifyAndBind(env, cType, out, newSize, false);
}

template <class T>
void SetStream(PreparedStatement* stmt, JNIEnv* env, jint index, SQLSMALLINT cType,
               StreamConverter<T> convert, T value, jint length) {
  Parameter* p = stmt->findOrCreateInParameter(env, index);
  SQLLEN newSize = p->dataLength;
  void* out = (stmt->*convert)(env, p->value, cType, p->dataLength, &p->indicator, value, length,
                               &newSize);
  p->modifyAndBind(env, cType, out, newSize, false);
}

}  // namespace

void PreparedStatement::setNull(JNIEnv* env, jint index, jint sqlType) {
  Parameter* p = findOrCreateInParameter(env, index);
  const SQLSMALLINT cType = jdbcToSQLCType(env, sqlType, nullptr);
  if (cType == 0) return;
  p->modifyAndBind(env, cType, nullptr, 0, false);
  p->indicator = SQL_NULL_DATA;
}

void PreparedStatement::setBoolean(JNIEnv* env, jint index, jboolean value) {
  SetValue<jboolean>(this, env, index, SQL_C_BIT, &NativeWarnObj::setBoolean, value);
}
void PreparedStatement::setByte(JNIEnv* env, jint index, jbyte value) {
  SetValue<jbyte>(this, env, index, SQL_C_STINYINT, &NativeWarnObj::setByte, value);
}
void PreparedStatement::setShort(JNIEnv* env, jint index, jshort value) {
  SetValue<jshort>(this, env, index, SQL_C_SSHORT, &NativeWarnObj::setShort, value);
}
void PreparedStatement::setInt(JNIEnv* env, jint index, jint value) {
  SetValue<jint>(this, env, index, SQL_C_SLONG, &NativeWarnObj::setInt, value);
}
void PreparedStatement::setLong(JNIEnv* env, jint index, jlong value) {
  SetValue<jlong>(this, env, index, SQL_C_SBIGINT, &NativeWarnObj::setLong, value);
}
void PreparedStatement::setFloat(JNIEnv* env, jint index, jfloat value) {
  SetValue<jfloat>(this, env, index, SQL_C_FLOAT, &NativeWarnObj::setFloat, value);
}
void PreparedStatement::setDouble(JNIEnv* env, jint index, jdouble value) {
  SetValue<jdouble>(this, env, index, SQL_C_DOUBLE, &NativeWarnObj::setDouble, value);
}
void PreparedStatement::setBigDecimal(JNIEnv* env, jint index, jobject value) {
  SetValue<jobject>(this, env, index, kNumericText, &NativeWarnObj::setBigDecimal, value);
}
void PreparedStatement::setString(JNIEnv* env, jint index, jstring value) {
  SetValue<jstring>(this, env, index, SQL_C_WCHAR, &NativeWarnObj::setString, value);
}
void PreparedStatement::setBytes(JNIEnv* env, jint index, jbyteArray value) {
  SetValue<jbyteArray>(this, env, index, SQL_C_BINARY, &NativeWarnObj::setBytes, value);
}
void PreparedStatement::setDate(JNIEnv* env, jint index, jobject value) {
  SetValue<jobject>(this, env, index, SQL_C_TYPE_DATE, &NativeWarnObj::setDate, value);
}
void PreparedStatement::setTime(JNIEnv* env, jint index, jobject value) {
  SetValue<jobject>(this, env, index, SQL_C_TYPE_TIME, &NativeWarnObj::setTime, value);
}
void PreparedStatement::setTimestamp(JNIEnv* env, jint index, jobject value) {
  SetValue<jobject>(this, env, index, SQL_C_TYPE_TIMESTAMP, &NativeWarnObj::setTimestamp, value);
}
void PreparedStatement::setAsciiStream(JNIEnv* env, jint index, jobject stream, jint length) {
  SetStream<jobject>(this, env, index, SQL_C_WCHAR, &NativeWarnObj::setAsciiStream, stream, length);
}
void PreparedStatement::setBinaryStream(JNIEnv* env, jint index, jobject stream, jint length) {
  SetStream<jobject>(this, env, index, SQL_C_BINARY, &NativeWarnObj::setBinaryStream, stream,
                     length);
}
void PreparedStatement::setCharacterStream(JNIEnv* env, jint index, jobject reader, jint length) {
  SetStream<jobject>(this, env, index, SQL_C_WCHAR, &NativeWarnObj::setCharacterStream, reader,
                     length);
}

void PreparedStatement::bindStream(JNIEnv* env, jint index, jobject stream, std::int64_t length,
                                   bool wide) {
  Parameter* p = findOrCreateInParameter(env, index);
  jobject ref = env->NewGlobalRef(stream);
  if (ref == nullptr) {
    NOSE()->raiseError(env, "OUT_OF_MEMORY");
    return;
  }
  if (p->streamObject != nullptr) env->DeleteGlobalRef(p->streamObject);
  p->streamObject = ref;
  p->streamLength = length;
  p->wideStream = wide ? 1 : 0;
  // Lengths in 64 bits: a Clob of 2^30 characters is 2^31 bytes.
  const std::int64_t bytes = wide ? 2 * length : length;
  p->indicator = SQL_LEN_DATA_AT_EXEC(static_cast<SQLLEN>(bytes));
  // The binding now differs from the recorded one: the next ordinary setter rebinds.
  p->cType = 0;
  p->sqlType = 99;
  const SQLRETURN rc = SQLBindParameter(
      handle(), p->number, p->direction, wide ? SQL_C_WCHAR : SQL_C_BINARY,
      wide ? SQL_LONGVARCHAR : SQL_LONGVARBINARY, static_cast<SQLULEN>(bytes), 0,
      reinterpret_cast<SQLPOINTER>(static_cast<std::intptr_t>(p->number)), 0, &p->indicator);
  sqlError(env, rc, SQL_HANDLE_STMT, handle());
}

void PreparedStatement::setClob(JNIEnv* env, jint index, jlong length, jobject reader) {
  if (reader == nullptr) {
    setNull(env, index, -1);
    return;
  }
  if (length < kStreamedFrom) {
    setCharacterStream(env, index, reader, static_cast<jint>(length));
    return;
  }
  bindStream(env, index, reader, length, true);
}

void PreparedStatement::setBlob(JNIEnv* env, jint index, jobject blob) {
  if (blob == nullptr) {
    setNull(env, index, -4);
    return;
  }
  auto* blobs = static_cast<BlobClass*>(NOSE()->wrapper(NativeObjSharedEnv::kBlob));
  const jlong length = blobs->length(env, blob);
  if (env->ExceptionCheck()) return;
  if (length < kStreamedFrom) {
    // A short blob is read at once; ask for no more than it holds.
    const jint want = length < 0 ? 0 : static_cast<jint>(length);
    jbyteArray bytes = blobs->getBytes(env, blob, 1, want);
    if (env->ExceptionCheck()) return;
    setBytes(env, index, bytes);
    if (bytes != nullptr) env->DeleteLocalRef(bytes);
    return;
  }
  bindStream(env, index, blob, length, false);
}
