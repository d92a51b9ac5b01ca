// The spine of the JDBC bridge: the one shared environment of the process (the cached
// Java class wrappers, the ODBC environment every connection shares, three global
// mutexes), the base classes that bind a Java object to its native peer through the
// Java long field "nhandle", and the errors and warnings that ODBC diagnostics become in
// Java.
//
// A peer's address travels to Java as a jlong that holds the whole pointer. Peers are
// torn down in two steps: fini(env), which needs the JNI environment (global references,
// ODBC handles, the "nhandle" link), then deletion. Nothing here throws; every function
// that can fail leaves a Java exception pending and returns a zero value.
#ifndef VQ_JDBCODBC_NATIVEOBJ_H
#define VQ_JDBCODBC_NATIVEOBJ_H

#include <jni.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstddef>
#include <cstdint>

#include "utils/base/list.h"

class Connection;
class ObjectClass;
class StringClass;
class SQLErrorClasses;
class CalendarClass;
class StringReaderClass;
class ClobStringReaderClass;
class ByteArrayInputStreamClass;
class BigDecimalClass;
class BigIntegerClass;
class IConnectionClass;
class IResultSetClass;
class IStrAsciiStreamClass;
class IBinAsciiStreamClass;
class IResourceClass;
class SQLDateTimeClasses;
class InputStreamClass;
class ReaderClass;
class BlobClass;

// ---- Java class wrappers: the base family --------------------------------------------

// A global reference to one Java class. The name is given in the form of the jdbc
// package ("tovrak/jdbc/vellumcrest/X") and rewritten for the interface level of the
// shared environment before the lookup. A class that cannot be found ends the process
// through the assertion "Cannot not load %s".
class JavaClass : public c_utils_base {
 public:
  JavaClass(JNIEnv* env, const char* name);
  ~JavaClass() override = default;
  JavaClass(const JavaClass&) = delete;
  JavaClass& operator=(const JavaClass&) = delete;

  // Deletes the class's global reference.
  virtual void fini(JNIEnv* env);

  jclass getClass() const { return cls; }
  jmethodID getConstructorMID(JNIEnv* env, const char* signature);

 protected:
  // Member lookups. Once one has failed (its NoSuchMethodError or NoSuchFieldError is
  // pending), the later ones make no JNI call and give null; NativeObjSharedEnv::init
  // sees the pending exception and undoes the wrappers made so far.
  jmethodID method(JNIEnv* env, const char* name, const char* signature);
  jmethodID staticMethod(JNIEnv* env, const char* name, const char* signature);
  jfieldID field(JNIEnv* env, const char* name, const char* signature);

  jclass cls = nullptr;
};

// Writes into `out` the class name looked up for `name` at interface level `level`: at
// level 4 "tovrak/jdbc/vellumcrest..." becomes "tovrak/jdbc4/vellumcrest...", at any
// other non-zero level "tovrak/jdbc/vellumcrest/jdbc3..."; other names and level 0 stay
// as they are. False when the result does not fit in `size` bytes.
bool RewriteClassName(int level, const char* name, char* out, std::size_t size);

// The driver's root class "INative" and its field "nhandle" (J).
class INativeClass : public JavaClass {
 public:
  explicit INativeClass(JNIEnv* env);
  class NativeObj* getNativeObj(JNIEnv* env, jobject obj);
  // The same read without the nhandle mutex, for the natives that hold no Java monitor
  // and run once per row or per value. The mutex adds nothing there: a Java long field
  // is read whole on a 64-bit VM (the value is the peer or 0, never a mix), and it
  // cannot keep the peer alive after the read either, since close takes the monitor,
  // which these natives do not. The peer's own fields were written before its address
  // reached Java, so a thread that got the Java object from Java sees them.
  class NativeObj* readNativeObj(JNIEnv* env, jobject obj);
  void setNativeHandle(JNIEnv* env, jobject obj, jlong handle);
  void resetNativeHandle(JNIEnv* env, jobject obj) { setNativeHandle(env, obj, 0); }

 private:
  jfieldID nhandle_ = nullptr;
};

// A peer class: constructed from the native address ("<init>" "(J)V").
class ConstructibleINativeClass : public JavaClass {
 public:
  ConstructibleINativeClass(JNIEnv* env, const char* name);
  // A new local reference, or null with the Java exception pending.
  jobject constructJavaObj(JNIEnv* env, jlong handle);

 private:
  jmethodID init_ = nullptr;
};

// A peer class that can be closed and freed from the native side.
class ClosibleINativeClass : public ConstructibleINativeClass {
 public:
  ClosibleINativeClass(JNIEnv* env, const char* name);
  void close(JNIEnv* env, jobject obj);
  void nFree(JNIEnv* env, jobject obj);

 private:
  jmethodID close_ = nullptr;
  jmethodID nFree_ = nullptr;
};

// ---- Native peers ----------------------------------------------------------------------

class NativeObj : public c_utils_base {
 public:
  NativeObj() = default;
  ~NativeObj() override = default;
  NativeObj(const NativeObj&) = delete;
  NativeObj& operator=(const NativeObj&) = delete;

  // Detaches the Java object and drops the global reference to it.
  virtual void fini(JNIEnv* env);
  virtual ConstructibleINativeClass* getConstructibleINativeClass() = 0;
  // Constructs the Java peer with this object's address and keeps a global reference to
  // it, which it returns; null with the Java exception pending on failure.
  virtual jobject createJobj(JNIEnv* env);

  jobject getJobj() const { return jobj; }

  // The whole address, through intptr_t, both ways.
  static jlong toNHandle(const NativeObj* obj) {
    return static_cast<jlong>(reinterpret_cast<std::intptr_t>(obj));
  }
  static NativeObj* toNativeObj(jlong handle) {
    return reinterpret_cast<NativeObj*>(static_cast<std::intptr_t>(handle));
  }

  // The Java-peer creation mutex; neither takes it when the single-lock flag is set.
  static void getJobjMutex();
  static void giveJobjMutex();

  void resetNativeHandle(JNIEnv* env, jobject obj);
  void removeJavaReference(JNIEnv* env);

 protected:
  jobject jobj = nullptr;  // global reference to the Java peer, null until createJobj
};

inline NativeObj* INativeClass::readNativeObj(JNIEnv* env, jobject obj) {
  if (obj == nullptr) return nullptr;
  return NativeObj::toNativeObj(env->GetLongField(obj, nhandle_));
}

// Bytes a value of a fixed-size C type takes (SQL_C_NUMERIC: the numeric record); 0 for
// the others.
SQLLEN FixedCTypeBytes(SQLSMALLINT cType);

class NativeWarnObj : public NativeObj {
 public:
  // Drops the pending warning chain, then NativeObj::fini.
  void fini(JNIEnv* env) override;
  // The Java connection object and the native connection the peer belongs to.
  virtual jobject getConnection() = 0;
  virtual Connection* getNConnection() = 0;

  jobject getWarnings() const { return warnings; }
  void clearWarnings(JNIEnv* env);

  // Reads the diagnostics of an ODBC call's result (handle type 1, 2 or 3): an error
  // becomes a thrown SQLException chain, a success with information replaces this
  // object's warning chain. True when a Java exception is pending on return; when one
  // is pending on entry, true at once and no record is read.
  bool sqlError(JNIEnv* env, SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle,
                bool skip01004 = false, bool skipHY010 = false);

  // Value buffers. alloc gives a zero-filled block; alloc and realloc raise
  // "OUT_OF_MEMORY" (unless an exception is pending) and give null on failure. Blocks
  // go back through free.
  static void* alloc(JNIEnv* env, std::size_t size);
  static void* realloc(JNIEnv* env, void* block, std::size_t size);
  static void free(void* block);
  // Returns `buffer` when `have` >= `need`. Otherwise grows it when `newSize` is given
  // (to need + need / 2, rounded up to even; *newSize receives the size, 0 on failure)
  // and raises "OVERSIZE_UPDATE" when it is not.
  static void* checkAndRealloc(JNIEnv* env, void* buffer, SQLLEN have, SQLLEN need,
                               SQLLEN* newSize);
  // Copies n UTF-16 units and a zero unit into the buffer (growing it as checkAndRealloc
  // does); *length receives the bytes copied without the terminator. A null string
  // (copyJStringChars) sets *length to SQL_NULL_DATA and returns null.
  static void* copyJChars(JNIEnv* env, void* buffer, SQLLEN size, SQLLEN* length,
                          const jchar* units, SQLLEN n, SQLLEN* newSize);
  static void* copyJStringChars(JNIEnv* env, void* buffer, SQLLEN size, SQLLEN* length,
                                jstring text, SQLLEN* newSize);

  // ---- Java values into value buffers (from_java.cpp) ----
  // Each converter writes one Java value into `buffer` as C type `cType`. It first makes
  // sure the buffer holds the bytes the type needs: with a growth slot (`newSize`) a
  // larger block is made, without one "OVERSIZE_UPDATE" is raised. *length receives the
  // ODBC length or indicator: SQL_NULL_DATA for a null Java object, the byte count for
  // text and binary values, the record size for dates, times and numeric records, 0 for
  // fixed-size numbers. The result is the buffer to use from now on (the caller's, or a
  // new one, in which case the caller's block has been freed) and *newSize its size.
  // Null means a null Java object, a C type outside the converter's table (nothing
  // raised) or a raise; then the caller's buffer is untouched and still valid (a block
  // grown meanwhile is freed again) and *newSize is `bufferSize`.
  void* setBoolean(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                   SQLLEN* length, jboolean value, SQLLEN* newSize);
  void* setByte(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                SQLLEN* length, jbyte value, SQLLEN* newSize);
  void* setShort(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                 SQLLEN* length, jshort value, SQLLEN* newSize);
  void* setInt(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
               SQLLEN* length, jint value, SQLLEN* newSize);
  void* setLong(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                SQLLEN* length, jlong value, SQLLEN* newSize);
  void* setFloat(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                 SQLLEN* length, jfloat value, SQLLEN* newSize);
  void* setDouble(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                  SQLLEN* length, jdouble value, SQLLEN* newSize);
  void* setBigDecimal(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                      SQLLEN* length, jobject value, SQLLEN* newSize);
  void* setString(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                  SQLLEN* length, jstring value, SQLLEN* newSize);
  void* setDate(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                SQLLEN* length, jobject value, SQLLEN* newSize);
  void* setTime(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                SQLLEN* length, jobject value, SQLLEN* newSize);
  void* setTimestamp(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                     SQLLEN* length, jobject value, SQLLEN* newSize);
  void* setBytes(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                 SQLLEN* length, jbyteArray value, SQLLEN* newSize);
  // Streams: `streamLength` -1 means unknown; other values below 1 raise
  // "BAD_STREAM_LEN". Without a growth slot an unknown length reads into the fixed
  // buffer and raises "OVERSIZE_UPDATE" when the stream holds more.
  void* setBinaryStream(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                        SQLLEN* length, jobject stream, jint streamLength, SQLLEN* newSize);
  void* setAsciiStream(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                       SQLLEN* length, jobject stream, jint streamLength, SQLLEN* newSize);
  void* setCharacterStream(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                           SQLLEN* length, jobject reader, jint streamLength, SQLLEN* newSize);

  // Copies n bytes and a zero byte (growing as checkAndRealloc does); *length receives
  // the bytes copied. copyJStringUTFChars copies the string's modified UTF-8 form.
  static void* copyChars(JNIEnv* env, void* buffer, SQLLEN size, SQLLEN* length,
                         const char* text, SQLLEN n, SQLLEN* newSize);
  static void* copyJStringUTFChars(JNIEnv* env, void* buffer, SQLLEN size, SQLLEN* length,
                                   jstring text, SQLLEN* newSize);
  // Number parsers of Java text; each raises "INVALID_NUMERIC_STRING" with the text and
  // stores 0 when the text is not a number of its kind. True on success. A whole number
  // beyond the 32-bit range raises `rangeKey` with the text, beyond the 64-bit range
  // "OUT_OF_I64_RANGE".
  static bool jstringToDouble(JNIEnv* env, double* out, jstring text);
  static bool jstringToInt32(JNIEnv* env, std::int32_t* out, jstring text, const char* rangeKey);
  static bool jstringToInt64(JNIEnv* env, std::int64_t* out, jstring text);
  // Appends a warning with the text of `key` to this object's chain.
  void raiseDriverWarning(JNIEnv* env, const char* key);

  // ---- ODBC values into Java values (to_java.cpp) ----
  // `data` holds one value of C type `cType` as ODBC bound or returned it; `length` is
  // its length/indicator: SQL_NULL_DATA (or a null `data`) gives the null result (null,
  // 0, 0.0, false) at once, otherwise the byte length of the data (UTF-16 text: 2 bytes
  // a unit, terminator excluded). The caller clamps the length to its buffer; any other
  // negative length is refused with "NATIVE_ACCESS_ERROR". The converters never write
  // into `data`. A failure raises a SQLException with the key ("UNSUPPORTED_CONVERSION",
  // "INVALID_NUMERIC_STRING", "OUT_OF_I8_RANGE" ... "OUT_OF_F32_RANGE", "OUT_OF_MEMORY")
  // unless an exception is pending, and gives the null result. `cLocale` parses numeric
  // text (-9999) with the C locale's decimal point. Objects are new local references.
  jstring makeString(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length);
  jboolean makeBoolean(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length);
  jlong makeLong(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length);
  jbyte makeByte(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length, bool cLocale);
  jshort makeShort(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length, bool cLocale);
  jint makeInt(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length, bool cLocale);
  jfloat makeFloat(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length, bool cLocale);
  jdouble makeDouble(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length, bool cLocale);
  // Rounded half up to `scale` when it is 0 or more.
  jobject makeBigDecimal(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length, jint scale);
  // With a Java result set (IIResultSet) the value is built by it; with null natively in
  // the default time zone.
  jobject makeDate(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length, jobject resultSet);
  jobject makeTime(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length, jobject resultSet);
  jobject makeTimestamp(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length,
                        jobject resultSet);
  jbyteArray makeBytes(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length);
  jobject makeBinaryStream(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length);
  jobject makeAsciiStream(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length);
  jobject makeCharacterStream(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length);
  jobject makeClobCharacterStream(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length);

 protected:
  jobject warnings = nullptr;  // global reference to the pending SQLWarning chain
};

// ---- The shared environment --------------------------------------------------------------

class NativeObjSharedEnv : public c_utils_base {
 public:
  // The 27 wrappers in field order.
  enum Slot {
    kObject, kString, kSQLException, kSQLWarning, kCalendar, kStringReader,
    kClobStringReader, kByteArrayInputStream, kBigDecimal, kBigInteger, kINative,
    kIConnection, kIStatement, kIStatementCancelToken, kIPreparedStatement,
    kICallableStatement, kIResultSet, kIStrAsciiStream, kIBinAsciiStream, kIResource,
    kDate, kTime, kTimestamp, kInputStream, kReader, kBlob, kIDatabaseMetaData,
    kWrapperCount
  };

  // Builds the wrappers once, under the environment mutex, while the Object wrapper is
  // missing; a later call changes nothing, not even the level or the flag. When a Java
  // member is missing, the wrappers made so far are released again and the Java
  // exception stays pending.
  void init(JNIEnv* env, int version, bool singleLock);
  // Releases every wrapper. Takes no lock: no other thread may use the bridge meanwhile.
  void fini(JNIEnv* env);

  // The shared ODBC environment, allocated by the first caller (SQL_SUCCESS or the
  // failing result; on failure *out receives what the allocation left).
  SQLRETURN allocEnv(SQLHENV* out);
  void freeEnv(void*) {}  // connections never free the shared environment
  // Hands over the shared ODBC environment (null when none was made) and forgets it;
  // the library's unload frees it.
  SQLHENV takeEnvHandle();

  NativeObj* getNativeObj(JNIEnv* env, jobject obj);
  // The peer, or null after raising "NATIVE_ACCESS_ERROR" with the class name (unless
  // an exception was already pending).
  NativeObj* getNonNullNativeObj(JNIEnv* env, jobject obj, const char* className);
  // The same for the natives that run without the Java monitor (INativeClass::readNativeObj).
  // Inline: they run once per value.
  NativeObj* getNonNullNativeObjUnlocked(JNIEnv* env, jobject obj, const char* className) {
    NativeObj* peer = getNativeObjUnlocked(env, obj);
    return peer != nullptr ? peer : raiseMissing(env, className);
  }
  NativeObj* getNativeObjUnlocked(JNIEnv* env, jobject obj) {
    INativeClass* native = iNativeClass();
    return native == nullptr ? nullptr : native->readNativeObj(env, obj);
  }
  // Detaches and returns the peer (nhandle becomes 0); null when there is none.
  NativeObj* closeNativeObj(JNIEnv* env, jobject obj, const char* className);

  // Diagnostics of the result `rc` on the handle into a Java chain (see
  // NativeWarnObj::sqlError); returns the head, which is thrown unless *isWarning.
  jobject sqlError(JNIEnv* env, SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle,
                   Connection* connection, bool* isWarning, bool skip01004, bool skipHY010);
  // For failures with no peer yet: throws the first record of the statement, else the
  // connection, else the environment. Returns the thrown exception or null.
  jobject throwError(JNIEnv* env, SQLRETURN rc, SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt,
                     bool skipHY010);

  // Raises a SQLException whose reason is the text of the message key with `argCount`
  // Java strings as arguments. Nothing when an exception is pending.
  void raiseError(JNIEnv* env, const char* key, int argCount = 0, ...);

  int version() const { return version_; }
  bool singleLock() const { return singleLock_ != 0; }
  JavaClass* wrapper(Slot slot) const { return wrappers_[slot]; }
  StringClass* stringClass() const;
  SQLErrorClasses* sqlExceptionClass() const;
  SQLErrorClasses* sqlWarningClass() const;
  INativeClass* iNativeClass() const { return static_cast<INativeClass*>(wrappers_[kINative]); }
  IConnectionClass* iConnectionClass() const;
  IResourceClass* iResourceClass() const;

 private:
  // Raises "NATIVE_ACCESS_ERROR" with the class name (unless an exception is pending);
  // always null.
  NativeObj* raiseMissing(JNIEnv* env, const char* className);

  JavaClass* wrappers_[kWrapperCount] = {};
  std::int32_t version_ = 0;  // interface level: 0 (jdbc), 3 or 4
  std::uint8_t singleLock_ = 0;
  SQLHENV henv_ = SQL_NULL_HENV;

};

// The shared environment; created with the global mutexes on first use when the library
// was not loaded by a Java VM.
NativeObjSharedEnv* NOSE();

// The nhandle mutex, held around every access of the field.
void LockNhandle();
void UnlockNhandle();

// Makes JNI calls possible while an exception is pending (teardown after a failure):
// takes the pending exception aside and throws it again when it goes out of scope.
class PendingExceptionScope {
 public:
  explicit PendingExceptionScope(JNIEnv* env);
  ~PendingExceptionScope();
  PendingExceptionScope(const PendingExceptionScope&) = delete;
  PendingExceptionScope& operator=(const PendingExceptionScope&) = delete;

 private:
  JNIEnv* env_;
  jthrowable pending_ = nullptr;
};

#endif  // VQ_JDBCODBC_NATIVEOBJ_H
