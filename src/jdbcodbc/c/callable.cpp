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
R CallableStatement::readOutput(JNIEnv* env, jint index, Convert&& convert) {
  Parameter* p = findOutputParameter(env, index);
  if (p == nullptr) return R{};
  wasNull_ = p->indicator == SQL_NULL_DATA;
  // The driver cuts a value longer than the buffer but reports its whole length (or
  // no total): read only what the buffer holds before its terminator.
  const SQLLEN n = ClampValueLength(p->indicator, p->bufferLength, p->cType, false);
  return convert(*p, n);
}

jobject CallableStatement::getTimestamp(JNIEnv* env, jint index) {
  return readOutput<jobject>(env, index, [&](const Parameter& p, SQLLEN n) {
    return makeTimestamp(env, p.value, p.cType, n, nullptr);
  });
}

jobject CallableStatement::getTime(JNIEnv* env, jint index) {
  return readOutput<jobject>(env, index, [&](const Parameter& p, SQLLEN n) {
    return makeTime(env, p.value, p.cType, n, nullptr);
  });
}

jobject CallableStatement::getDate(JNIEnv* env, jint index) {
  return readOutput<jobject>(env, index, [&](const Parameter& p, SQLLEN n) {
    return makeDate(env, p.value, p.cType, n, nullptr);
  });
}

jstring CallableStatement::getString(JNIEnv* env, jint index) {
  return readOutput<jstring>(env, index, [&](const Parameter& p, SQLLEN n) {
    return makeString(env, p.value, p.cType, n);
  });
}

jshort CallableStatement::getShort(JNIEnv* env, jint index) {
  return readOutput<jshort>(env, index, [&](const Parameter& p, SQLLEN n) {
    return makeShort(env, p.value, p.cType, n, true);
  });
}

jint CallableStatement::getInt(JNIEnv* env, jint index) {
  return readOutput<jint>(env, index, [&](const Parameter& p, SQLLEN n) {
    return makeInt(env, p.value, p.cType, n, true);
  });
}

jlong CallableStatement::getLong(JNIEnv* env, jint index) {
  return readOutput<jlong>(env, index, [&](const Parameter& p, SQLLEN n) {
    return makeLong(env, p.value, p.cType, n);
  });
}

jfloat CallableStatement::getFloat(JNIEnv* env, jint index) {
  return readOutput<jfloat>(env, index, [&](const Parameter& p, SQLLEN n) {
    return makeFloat(env, p.value, p.cType, n, true);
  });
}

jdouble CallableStatement::getDouble(JNIEnv* env, jint index) {
  return readOutput<jdouble>(env, index, [&](const Parameter& p, SQLLEN n) {
    return makeDouble(env, p.value, p.cType, n, true);
  });
}

jbyte CallableStatement::getByte(JNIEnv* env, jint index) {
  return readOutput<jbyte>(env, index, [&](const Parameter& p, SQLLEN n) {
    return makeByte(env, p.value, p.cType, n, true);
  });
}

jboolean CallableStatement::getBoolean(JNIEnv* env, jint index) {
  return readOutput<jboolean>(env, index, [&](const Parameter& p, SQLLEN n) {
    return static_cast<jboolean>(makeBoolean(env, p.value, p.cType, n) & 0xFF);
  });
}

jbyteArray CallableStatement::getBytes(JNIEnv* env, jint index) {
  return readOutput<jbyteArray>(env, index, [&](const Parameter& p, SQLLEN n) {
    return makeBytes(env, p.value, p.cType, n);
  });
}

jobject CallableStatement::getBigDecimal(JNIEnv* env, jint index, jint scale) {
  return readOutput<jobject>(env, index, [&](const Parameter& p, SQLLEN n) {
    return makeBigDecimal(env, p.value, p.cType, n, scale == -1 ? p.scale : scale);
  });
}
