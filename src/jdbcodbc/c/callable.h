// The native peer of the Java IICallableStatement: a PreparedStatement whose parameters
// may also be output or input/output parameters of a procedure call. Registering a
// parameter gives it an output buffer of the registered type, bound with
// SQLBindParameter; after an execution the getters read the value and its indicator
// from that buffer (never with SQLGetData) and convert it with the converters of
// to_java.cpp. A value longer than its buffer arrives cut by the driver: the getters read
// no more than the buffer holds, whatever length the indicator reports.
//
// Every operation runs under the Java statement object's monitor (jni_frame.h) and takes
// no native lock. A failure leaves a Java exception pending and gives the zero value.
#ifndef VQ_JDBCODBC_CALLABLE_H
#define VQ_JDBCODBC_CALLABLE_H

#include <jni.h>

#include "jdbcodbc/c/prepared.h"

class CallableStatement : public PreparedStatement {
 public:
  CallableStatement(JNIEnv* env, Connection* connection, jstring sql, unsigned char isQuery,
                    unsigned char unused, jint resultSetType, jint concurrency, bool tolerant);

  ConstructibleINativeClass* getConstructibleINativeClass() override;

  // The parameter `index` made an output parameter (a new one), or an input parameter
  // made input/output; null after raising "PARAM_REGISTERED_OUT" for one already
  // registered.
  Parameter* createOutputParameter(JNIEnv* env, jint index, jint scale);
  // Registers `index` as an output of the java.sql.Types code `sqlType`: variable-length
  // types get 65536 bytes, an input/output parameter's buffer grows to the registered
  // size (its value kept), and the parameter is bound. `scale` is kept for
  // getBigDecimal only.
  void registerOutParameter(JNIEnv* env, jint index, jint sqlType, jint scale);
  // The registered parameter `index`; null after raising "PARAM_REGISTERED_IN" (set
  // only as input) or "PARAM_NOT_REGISTERED".
  Parameter* findOutputParameter(JNIEnv* env, jint index);

  // The getters: the value the last execution left in the parameter's buffer. Each sets
  // wasNull from the indicator once the parameter is found.
  jobject getTimestamp(JNIEnv* env, jint index);
  jobject getTime(JNIEnv* env, jint index);
  jobject getDate(JNIEnv* env, jint index);
  jstring getString(JNIEnv* env, jint index);
  jshort getShort(JNIEnv* env, jint index);
  jint getInt(JNIEnv* env, jint index);
  jlong getLong(JNIEnv* env, jint index);
  jfloat getFloat(JNIEnv* env, jint index);
  jdouble getDouble(JNIEnv* env, jint index);
  jbyte getByte(JNIEnv* env, jint index);
  jboolean getBoolean(JNIEnv* env, jint index);
  jbyteArray getBytes(JNIEnv* env, jint index);
  // `scale` -1 takes the scale given at registration.
  jobject getBigDecimal(JNIEnv* env, jint index, jint scale);

  // Whether the last getter read NULL (false before any).
  bool wasNull() const { return wasNull_; }

 private:
  // The common getter: finds the parameter, sets wasNull, reads a delayed parameter
  // afresh (unless `lateFetch` is false), and converts the bytes the buffer holds.
  // `convert` receives the parameter and the clamped length.
  template <class R, class Convert>
  R readOutput(JNIEnv* env, jint index, Convert&& convert, bool lateFetch = true);
  // readOutput with one converter of NativeWarnObj and its arguments after the length.
  template <class R, class... P, class... A>
  R readWith(JNIEnv* env, jint index,
             R (NativeWarnObj::*make)(JNIEnv*, void*, SQLSMALLINT, SQLLEN, P...), A... extra);

  bool wasNull_ = false;
};

#endif  // VQ_JDBCODBC_CALLABLE_H
