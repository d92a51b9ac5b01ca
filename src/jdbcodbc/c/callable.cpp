// The callable-statement peer: output registration, the search for a registered
// parameter, and the getters that read output values from the bound buffers.
#include "jdbcodbc/c/callable.h"

#include <cstring>

#include "jdbcodbc/c/column_access.h"
#include "jdbcodbc/c/misccls.h"

namespace {

// The buffer of a registered character, binary or GUID output.
constexpr SQLLEN kVariableOutputBytes = 65536;

}  // namespace

CallableStatement::CallableStatement(JNIEnv* env, Connection* connection, jstring sql,
                                     unsigned char isQuery, unsigned char unused,
                                     jint resultSetType, jint concurrency, bool tolerant)
    : PreparedStatement(env, connection, sql, isQuery, unused, resultSetType, concurrency,
                        tolerant) {}

ConstructibleINativeClass* CallableStatement::getConstructibleINativeClass() {
  return static_cast<ConstructibleINativeClass*>(
      NOSE()->wrapper(NativeObjSharedEnv::kICallableStatement));
}

Parameter* CallableStatement::createOutputParameter(JNIEnv* env, jint index, jint scale) {
  Parameter* p = findParameter(index);
  if (p == nullptr) return addParameter(index, SQL_PARAM_OUTPUT, scale);
  if (p->direction == SQL_PARAM_INPUT) {
    p->direction = SQL_PARAM_INPUT_OUTPUT;
    p->scale = scale;
    return p;
  }
  RaiseWithValue(env, "PARAM_REGISTERED_OUT", index);
  return nullptr;
}

void CallableStatement::registerOutParameter(JNIEnv* env, jint index, jint sqlType, jint scale) {
  // The type is checked before the parameter changes: a refused type leaves no
  // half-made registration that would refuse the corrected one as registered already.
  SQLLEN length = 0;
  const SQLSMALLINT cType = jdbcToSQLCType(env, sqlType, &length);
  if (cType == 0) return;
  if (length == -1) length = kVariableOutputBytes;
  Parameter* p = createOutputParameter(env, index, scale);
  if (p == nullptr) return;
  void* buffer = p->value;
  if (p->direction == SQL_PARAM_INPUT_OUTPUT && buffer != nullptr && p->dataLength >= length) {
    length = p->dataLength;  // the input's buffer is large enough: its size is the length
  } else {
    // A new output buffer, or the input's grown with its value kept. An input/output
    // parameter without a buffer (set to NULL) gets one too: bound without one, the
    // driver would have nowhere to put the output.
    buffer = NativeWarnObj::alloc(env, static_cast<std::size_t>(length));
    if (buffer == nullptr) return;
    if (p->value != nullptr) {
      if (p->direction == SQL_PARAM_INPUT_OUTPUT && p->dataLength > 0)
        std::memcpy(buffer, p->value, static_cast<std::size_t>(p->dataLength));
      NativeWarnObj::free(p->value);
      p->value = nullptr;
    }
  }
  p->bufferLength = length;
  p->modifyAndBind(env, cType, buffer, length, false);
}

Parameter* CallableStatement::findOutputParameter(JNIEnv* env, jint index) {
  Parameter* p = findParameter(index);
  if (p != nullptr && p->direction != SQL_PARAM_INPUT) return p;
  RaiseWithValue(env, p != nullptr ? "PARAM_REGISTERED_IN" : "PARAM_NOT_REGISTERED", index);
  return nullptr;
}

template <class R, class Convert>
R CallableStatement::readOutput(JNIEnv* env, jint index, Convert&& convert, bool lateFetch) {
  Parameter* p = findOutputParameter(env, index);
  if (p == nullptr) return R{};
  wasNull_ = p->indicator == SQL_NULL_DATA;
  const bool late = lateFetch && p->bindingDelayed != 0;
  if (late) {
    if (!p->getLongData(env)) return R{};
    wasNull_ = p->indicator == SQL_NULL_DATA;
  }
  // The driver cuts a value longer than the buffer but reports its whole length (or
  // no total): read only what the buffer holds before its terminator. A value read
  // late fills its block whole.
  const SQLLEN n = ClampValueLength(p->indicator, p->bufferLength, p->cType, late);
  return convert(*p, n);
}

template <class R, class... P, class... A>
R CallableStatement::readWith(JNIEnv* env, jint index,
                              R (NativeWarnObj::*make)(JNIEnv*, void*, SQLSMALLINT, SQLLEN, P...),
                              A... extra) {
  return readOutput<R>(env, index, [&](const Parameter& p, SQLLEN n) {
    return (this->*make)(env, p.value, p.cType, n, extra...);
  });
}

jobject CallableStatement::getTimestamp(JNIEnv* env, jint index) {
  return readWith(env, index, &NativeWarnObj::makeTimestamp, jobject{nullptr});
}
jobject CallableStatement::getTime(JNIEnv* env, jint index) {
  return readWith(env, index, &NativeWarnObj::makeTime, jobject{nullptr});
}
jobject CallableStatement::getDate(JNIEnv* env, jint index) {
  return readWith(env, index, &NativeWarnObj::makeDate, jobject{nullptr});
}
jstring CallableStatement::getString(JNIEnv* env, jint index) {
  return readWith(env, index, &NativeWarnObj::makeString);
}
jshort CallableStatement::getShort(JNIEnv* env, jint index) {
  return readWith(env, index, &NativeWarnObj::makeShort, true);
}
jint CallableStatement::getInt(JNIEnv* env, jint index) {
  return readWith(env, index, &NativeWarnObj::makeInt, true);
}
jlong CallableStatement::getLong(JNIEnv* env, jint index) {
  return readWith(env, index, &NativeWarnObj::makeLong);
}
jfloat CallableStatement::getFloat(JNIEnv* env, jint index) {
  return readWith(env, index, &NativeWarnObj::makeFloat, true);
}
jdouble CallableStatement::getDouble(JNIEnv* env, jint index) {
  return readWith(env, index, &NativeWarnObj::makeDouble, true);
}
jbyte CallableStatement::getByte(JNIEnv* env, jint index) {
  return readWith(env, index, &NativeWarnObj::makeByte, true);
}
jboolean CallableStatement::getBoolean(JNIEnv* env, jint index) {
  return readWith(env, index, &NativeWarnObj::makeBoolean);
}
jbyteArray CallableStatement::getBytes(JNIEnv* env, jint index) {
  return readWith(env, index, &NativeWarnObj::makeBytes);
}

jobject CallableStatement::getBigDecimal(JNIEnv* env, jint index, jint scale) {
  return readOutput<jobject>(
      env, index,
      [&](const Parameter& p, SQLLEN n) {
        return makeBigDecimal(env, p.value, p.cType, n, scale == -1 ? p.scale : scale);
      },
      false);
}
