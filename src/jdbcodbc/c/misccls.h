// Cached wrappers of the Java classes the bridge talks to: one object per class, made
// once by NativeObjSharedEnv::init, holding the class's global reference and the method
// and field IDs it needs, with one small operation per Java call.
//
// Operations do not test for pending exceptions; callers check ExceptionCheck after a
// call whose failure matters. Every object an operation returns is a local reference
// owned by the caller's native frame. The wrappers are read-only after construction and
// usable from any thread with that thread's JNIEnv.
#ifndef VQ_JDBCODBC_MISCCLS_H
#define VQ_JDBCODBC_MISCCLS_H

#include <jni.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdarg>
#include <cstdint>

#include "jdbcodbc/c/nativeobj.h"

class ObjectClass : public JavaClass {
 public:
  explicit ObjectClass(JNIEnv* env);
  jstring toString(JNIEnv* env, jobject obj);

 private:
  jmethodID toString_;
};

class StringClass : public JavaClass {
 public:
  explicit StringClass(JNIEnv* env);
  jstring valueOf(JNIEnv* env, const char* modifiedUtf8);
  jstring valueOf(JNIEnv* env, const jchar* units, int count);
  jstring valueOf(JNIEnv* env, jint value);
  jstring valueOf(JNIEnv* env, jlong value);
  jstring valueOf(JNIEnv* env, jfloat value);
  jstring valueOf(JNIEnv* env, jdouble value);
  jstring valueOf(JNIEnv* env, jobject value);
  jstring construct(JNIEnv* env, jcharArray chars, jint offset, jint count);

 private:
  // One of the static String.valueOf overloads with its one argument.
  jstring callValueOf(JNIEnv* env, jmethodID overload, jvalue value);

  jmethodID init_;
  jmethodID valueOfInt_;
  jmethodID valueOfLong_;
  jmethodID valueOfFloat_;
  jmethodID valueOfDouble_;
  jmethodID valueOfObject_;
};

// java.sql.SQLException (kind 0) or java.sql.SQLWarning (kind 1).
class SQLErrorClasses : public JavaClass {
 public:
  SQLErrorClasses(JNIEnv* env, int kind);
  void setNext(JNIEnv* env, jobject head, jobject next);
  // A new object (message, SQLSTATE, vendor code), appended to the chain of `head` when
  // both exist; null when construction failed.
  jobject createOrAppendSQLError(JNIEnv* env, jobject head, jstring message, jstring state,
                                 jint vendorCode);
  // A new object with the message only (not thrown); null for a null message.
  jobject raiseSQLWarning(JNIEnv* env, jstring message);
  // Throws a new object with the message only; nothing when an exception is pending or
  // the message is null.
  void raiseSQLError(JNIEnv* env, jstring message);

 private:
  jmethodID initMessage_;
  jmethodID initFull_;
  jmethodID setNext_;
};

class CalendarClass : public JavaClass {
 public:
  explicit CalendarClass(JNIEnv* env);
  jobject getInstance(JNIEnv* env);
  jint getField(JNIEnv* env, jobject calendar, jint field);
  void setTime(JNIEnv* env, jobject calendar, jobject date);
  void calendarToSQLDate(JNIEnv* env, jobject calendar, SQL_DATE_STRUCT* out);
  void calendarToSQLTime(JNIEnv* env, jobject calendar, SQL_TIME_STRUCT* out);
  void calendarToSQLTimestamp(JNIEnv* env, jobject calendar, SQL_TIMESTAMP_STRUCT* out);
  jlong calendarToTimeInMillis(JNIEnv* env, jobject calendar);
  // month 1-12; 0 when no calendar could be had.
  jlong computeTimeInMillis(JNIEnv* env, int year, int month, int day, int hour, int minute,
                            int second, int millis);
  void utDateToSQLTimestamp(JNIEnv* env, jobject date, SQL_TIMESTAMP_STRUCT* out);
  void utDateToSQLTime(JNIEnv* env, jobject date, SQL_TIME_STRUCT* out);
  void utDateToSQLDate(JNIEnv* env, jobject date, SQL_DATE_STRUCT* out);

 private:
  jfieldID fields_;
  jfieldID time_;
  jmethodID getInstance_;
  jmethodID setTime_;
  jmethodID set6_;
  jmethodID set2_;
  jmethodID get_;
  jmethodID computeTime_;
};

class BigDecimalClass : public JavaClass {
 public:
  explicit BigDecimalClass(JNIEnv* env);
  jobject construct(JNIEnv* env, jdouble value, jint scale);
  jobject construct(JNIEnv* env, jstring text, jint scale);
  jobject construct(JNIEnv* env, jlong value, jint scale);
  // bd.setScale(scale, ROUND_HALF_UP) for a non-null decimal and scale >= 0, else bd.
  jobject setScale(JNIEnv* env, jobject decimal, jint scale);
  jlong longValue(JNIEnv* env, jobject decimal);
  jdouble doubleValue(JNIEnv* env, jobject decimal);
  jobject unscaledValue(JNIEnv* env, jobject decimal);
  jint scale(JNIEnv* env, jobject decimal);
  jint signum(JNIEnv* env, jobject decimal);

 private:
  jmethodID initString_;
  jmethodID valueOfLong_;
  jmethodID initDouble_;
  jmethodID setScale_;
  jmethodID longValue_;
  jmethodID doubleValue_;
  jmethodID unscaledValue_;
  jmethodID scale_;
  jmethodID signum_;
};

class BigIntegerClass : public JavaClass {
 public:
  explicit BigIntegerClass(JNIEnv* env);
  jbyteArray toByteArray(JNIEnv* env, jobject integer);
  jint bitLength(JNIEnv* env, jobject integer);

 private:
  jmethodID toByteArray_;
  jmethodID bitLength_;
};

// java.sql.Date (kind 0), Time (1) or Timestamp (2).
class SQLDateTimeClasses : public JavaClass {
 public:
  SQLDateTimeClasses(JNIEnv* env, int kind);
  jobject construct(JNIEnv* env, jlong millis);
  jint getNanos(JNIEnv* env, jobject value);              // 0 for Date and Time
  void setNanos(JNIEnv* env, jobject value, jint nanos);  // nothing for Date and Time

 private:
  jmethodID init_;
  jmethodID setNanos_ = nullptr;
  jmethodID getNanos_ = nullptr;
};

class ReaderClass : public JavaClass {
 public:
  explicit ReaderClass(JNIEnv* env);
  jint read(JNIEnv* env, jobject reader, jcharArray chars, jint offset, jint length);
  // One read of up to `length` characters into a new string; null with *count 0 at the
  // end of the stream or on failure.
  jstring read(JNIEnv* env, jobject reader, jint length, jint* count);

 private:
  jmethodID read_;
};

class InputStreamClass : public JavaClass {
 public:
  explicit InputStreamClass(JNIEnv* env);
  jint read(JNIEnv* env, jobject stream, jbyteArray bytes, jint offset, jint length);
  // One read of up to `length` bytes copied to `dest`; the count, -1 at the end.
  jint read(JNIEnv* env, jobject stream, jbyte* dest, jint length);

 private:
  jmethodID read_;
};

class BlobClass : public JavaClass {
 public:
  explicit BlobClass(JNIEnv* env);
  jbyteArray getBytes(JNIEnv* env, jobject blob, jlong position, jint length);
  jlong length(JNIEnv* env, jobject blob);

 private:
  jmethodID getBytes_;
  jmethodID length_;
};

// A class constructed from one argument: readers on a string, streams on a byte array.
class OneArgumentClass : public JavaClass {
 public:
  OneArgumentClass(JNIEnv* env, const char* name, const char* signature);
  jobject construct(JNIEnv* env, jobject argument);

 protected:
  jmethodID init_;
};

class StringReaderClass : public OneArgumentClass {
 public:
  explicit StringReaderClass(JNIEnv* env);
};

class ClobStringReaderClass : public OneArgumentClass {
 public:
  explicit ClobStringReaderClass(JNIEnv* env);
};

class ByteArrayInputStreamClass : public OneArgumentClass {
 public:
  explicit ByteArrayInputStreamClass(JNIEnv* env);
};

// The driver's ASCII streams over a byte array: constructor (byte[], int).
class AsciiStreamClass : public JavaClass {
 public:
  AsciiStreamClass(JNIEnv* env, const char* name);
  jobject construct(JNIEnv* env, jbyteArray bytes, jint kind);

 private:
  jmethodID init_;
};

class IStrAsciiStreamClass : public AsciiStreamClass {
 public:
  explicit IStrAsciiStreamClass(JNIEnv* env);
};

class IBinAsciiStreamClass : public AsciiStreamClass {
 public:
  explicit IBinAsciiStreamClass(JNIEnv* env);
};

// The driver's message texts.
class IResourceClass : public JavaClass {
 public:
  explicit IResourceClass(JNIEnv* env);
  // IResource.getString(key, args) with `argCount` Java strings following; the array is
  // null when there are none. Null when a Java object cannot be made.
  jstring getString(JNIEnv* env, const char* key, int argCount, ...);
  jstring getStringV(JNIEnv* env, const char* key, int argCount, va_list args);
  void setMilli(JNIEnv* env, jobject calendar, jobject timestamp);

 private:
  jmethodID getString_;
  jmethodID setMillisecond_;
};

// The Java connection class with its upcalls.
class IConnectionClass : public ClosibleINativeClass {
 public:
  explicit IConnectionClass(JNIEnv* env);

  // ---- Upcalls on the Java connection object (callbacks.cpp) ----
  // Each returns the Java answer; after a Java exception (left pending) the zero value.
  void callMessageHandler(JNIEnv* env, jobject connection, jobject warning);
  jint callValidateFileTransferCallback(JNIEnv* env, jobject connection, jstring fileName,
                                        jint value);
  jboolean isTrue(JNIEnv* env, jobject connection, jstring text);
  jboolean convertPointToComma(JNIEnv* env, jobject connection);
  // The text parsed by the Java connection: false when it answers no calendar. `out`
  // (when given) receives the fields, `millis` (when given) the time in milliseconds.
  bool parseDate(JNIEnv* env, jobject connection, jstring text, SQL_DATE_STRUCT* out,
                 jlong* millis);
  bool parseTime(JNIEnv* env, jobject connection, jstring text, SQL_TIME_STRUCT* out,
                 jlong* millis);
  bool parseTimestamp(JNIEnv* env, jobject connection, jstring text, SQL_TIMESTAMP_STRUCT* out,
                      jlong* millis);
  // Java takes months from 0; a timestamp passes milliseconds (fraction / 1000000).
  jstring formatDate(JNIEnv* env, jobject connection, const SQL_DATE_STRUCT* value);
  jstring formatTime(JNIEnv* env, jobject connection, const SQL_TIME_STRUCT* value);
  jstring formatTimestamp(JNIEnv* env, jobject connection, const SQL_TIMESTAMP_STRUCT* value);
  jstring formatDateObj(JNIEnv* env, jobject connection, jobject value);
  jstring formatTimeObj(JNIEnv* env, jobject connection, jobject value);
  jstring formatTimestampObj(JNIEnv* env, jobject connection, jobject value);

 private:
  jmethodID parseDate_;
  jmethodID parseTime_;
  jmethodID parseTimestamp_;
  jmethodID formatDate_;
  jmethodID formatTime_;
  jmethodID formatTimestamp_;
  jmethodID formatDateObj_;
  jmethodID formatTimeObj_;
  jmethodID formatTimestampObj_;
  jmethodID isTrue_;
  jmethodID convertPointToComma_;
  jmethodID callMessageHandler_;
  jmethodID callValidateFileTransferCallback_;
};

// The Java result-set class with its date and time constructors.
class IResultSetClass : public ClosibleINativeClass {
 public:
  explicit IResultSetClass(JNIEnv* env);

  // The date and time values the Java result set builds from fields (to_java.cpp). Months
  // are given 1-12 and passed to Java from 0; the fraction is in nanoseconds. A new local
  // reference, or null (an exception may be pending).
  jobject computeDateInMillis(JNIEnv* env, jobject target, int year, int month, int day);
  jobject computeTimeInMillis(JNIEnv* env, jobject target, int hour, int minute, int second);
  jobject computeTimestampInMillis(JNIEnv* env, jobject target, int year, int month, int day,
                                   int hour, int minute, int second, std::int32_t fraction);

 private:
  jmethodID computeTimestampInMillis_;
  jmethodID computeTimeInMillis_;
  jmethodID computeDateInMillis_;
};

#endif  // VQ_JDBCODBC_MISCCLS_H
