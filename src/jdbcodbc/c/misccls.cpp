// Cached Java class wrappers. Each constructor looks up its members in a fixed order;
// each operation is one Java call with its arguments in the order of the signature.
#include "jdbcodbc/c/misccls.h"

#include <cstdarg>
#include <cstdio>

#include "utils/base/assertions.h"

namespace {

// Calendar field numbers of java.util.Calendar.
constexpr jint kYear = 1;
constexpr jint kMonth = 2;  // counted from 0
constexpr jint kDayOfMonth = 5;
constexpr jint kHourOfDay = 11;
constexpr jint kMinute = 12;
constexpr jint kSecond = 13;
constexpr jint kMillisecond = 14;
constexpr jint kRoundHalfUp = 4;  // java.math.BigDecimal.ROUND_HALF_UP

// Class names by class type: Date, Time, Timestamp, then SQLException, SQLWarning.
const char* const kClassNames[] = {"java/sql/Date", "java/sql/Time", "java/sql/Timestamp",
                                   "java/sql/SQLException", "java/sql/SQLWarning"};

const char* ErrorClassName(int kind) { return kClassNames[3 + (kind == 1 ? 1 : 0)]; }

}  // namespace

// ---- Object and String ------------------------------------------------------------------

ObjectClass::ObjectClass(JNIEnv* env) : JavaClass(env, "java/lang/Object") {
  toString_ = method(env, "toString", "()Ljava/lang/String;");
}

jstring ObjectClass::toString(JNIEnv* env, jobject obj) {
  return static_cast<jstring>(env->CallObjectMethodA(obj, toString_, nullptr));
}

StringClass::StringClass(JNIEnv* env) : JavaClass(env, "java/lang/String") {
  init_ = getConstructorMID(env, "([CII)V");
  valueOfInt_ = staticMethod(env, "valueOf", "(I)Ljava/lang/String;");
  valueOfLong_ = staticMethod(env, "valueOf", "(J)Ljava/lang/String;");
  valueOfFloat_ = staticMethod(env, "valueOf", "(F)Ljava/lang/String;");
  valueOfDouble_ = staticMethod(env, "valueOf", "(D)Ljava/lang/String;");
  valueOfObject_ = staticMethod(env, "valueOf", "(Ljava/lang/Object;)Ljava/lang/String;");
}

jstring StringClass::valueOf(JNIEnv* env, const char* modifiedUtf8) {
  return env->NewStringUTF(modifiedUtf8);
}

jstring StringClass::valueOf(JNIEnv* env, const jchar* units, int count) {
  return env->NewString(units, count);
}

jstring StringClass::callValueOf(JNIEnv* env, jmethodID overload, jvalue value) {
  return static_cast<jstring>(env->CallStaticObjectMethodA(cls, overload, &value));
}

jstring StringClass::valueOf(JNIEnv* env, jint value) {
  jvalue v;
  v.i = value;
  return callValueOf(env, valueOfInt_, v);
}

jstring StringClass::valueOf(JNIEnv* env, jlong value) {
  jvalue v;
  v.j = value;
  return callValueOf(env, valueOfLong_, v);
}

jstring StringClass::valueOf(JNIEnv* env, jfloat value) {
  jvalue v;
  v.f = value;
  return callValueOf(env, valueOfFloat_, v);
}

jstring StringClass::valueOf(JNIEnv* env, jdouble value) {
  jvalue v;
  v.d = value;
  return callValueOf(env, valueOfDouble_, v);
}

jstring StringClass::valueOf(JNIEnv* env, jobject value) {
  jvalue v;
  v.l = value;
  return callValueOf(env, valueOfObject_, v);
}

jstring StringClass::construct(JNIEnv* env, jcharArray chars, jint offset, jint count) {
  jvalue args[3];
  args[0].l = chars;
  args[1].i = offset;
  args[2].i = count;
  return static_cast<jstring>(env->NewObjectA(cls, init_, args));
}

// ---- SQLException and SQLWarning ----------------------------------------------------------

SQLErrorClasses::SQLErrorClasses(JNIEnv* env, int kind) : JavaClass(env, ErrorClassName(kind)) {
  initMessage_ = getConstructorMID(env, "(Ljava/lang/String;)V");
  initFull_ = getConstructorMID(env, "(Ljava/lang/String;Ljava/lang/String;I)V");
  // "setNextException" / "setNextWarning", named after the class's tail.
  const char* tail = ErrorClassName(kind) + sizeof("java/sql/SQL") - 1;
  char name[32];
  char signature[48];
  std::snprintf(name, sizeof(name), "setNext%s", tail);
  std::snprintf(signature, sizeof(signature), "(Ljava/sql/SQL%s;)V", tail);
  setNext_ = method(env, name, signature);
}

void SQLErrorClasses::setNext(JNIEnv* env, jobject head, jobject next) {
  jvalue arg;
  arg.l = next;
  env->CallVoidMethodA(head, setNext_, &arg);
}

jobject SQLErrorClasses::createOrAppendSQLError(JNIEnv* env, jobject head, jstring message,
                                                jstring state, jint vendorCode) {
  jvalue args[3];
  args[0].l = message;
  args[1].l = state;
  args[2].i = vendorCode;
  jobject created = env->NewObjectA(cls, initFull_, args);
  if (created == nullptr || env->ExceptionCheck()) return nullptr;
  if (head != nullptr) setNext(env, head, created);
  return created;
}

jobject SQLErrorClasses::raiseSQLWarning(JNIEnv* env, jstring message) {
  if (message == nullptr) return nullptr;
  jvalue arg;
  arg.l = message;
  return env->NewObjectA(cls, initMessage_, &arg);
}

void SQLErrorClasses::raiseSQLError(JNIEnv* env, jstring message) {
  if (env->ExceptionCheck() || message == nullptr) return;
  jvalue arg;
  arg.l = message;
  jobject error = env->NewObjectA(cls, initMessage_, &arg);
  if (error == nullptr || env->ExceptionCheck()) return;  // its own exception is pending
  if (env->Throw(static_cast<jthrowable>(error)) != 0)
    UT_AssertStrFn("Failed to throw a SQLException", "jdbcodbc/c/misccls", __LINE__);
  env->DeleteLocalRef(error);
}

// ---- Calendar ------------------------------------------------------------------------------

CalendarClass::CalendarClass(JNIEnv* env) : JavaClass(env, "java/util/Calendar") {
  fields_ = field(env, "fields", "[I");
  time_ = field(env, "time", "J");
  getInstance_ = staticMethod(env, "getInstance", "()Ljava/util/Calendar;");
  setTime_ = method(env, "setTime", "(Ljava/util/Date;)V");
  set6_ = method(env, "set", "(IIIIII)V");
  set2_ = method(env, "set", "(II)V");
  get_ = method(env, "get", "(I)I");
  computeTime_ = method(env, "computeTime", "()V");
}

jobject CalendarClass::getInstance(JNIEnv* env) {
  return env->CallStaticObjectMethodA(cls, getInstance_, nullptr);
}

jint CalendarClass::getField(JNIEnv* env, jobject calendar, jint fieldNumber) {
  jvalue arg;
  arg.i = fieldNumber;
  return env->CallIntMethodA(calendar, get_, &arg);
}

void CalendarClass::setTime(JNIEnv* env, jobject calendar, jobject date) {
  jvalue arg;
  arg.l = date;
  env->CallVoidMethodA(calendar, setTime_, &arg);
}

// Reads calendar fields one after the other; once a call has thrown, the rest read 0
// without calling Java.
namespace {
class FieldReader {
 public:
  FieldReader(JNIEnv* env, CalendarClass* cls, jobject calendar)
      : env_(env), cls_(cls), calendar_(calendar) {}
  jint operator()(jint number) {
    if (env_->ExceptionCheck()) return 0;
    const jint value = cls_->getField(env_, calendar_, number);
    return env_->ExceptionCheck() ? 0 : value;
  }

 private:
  JNIEnv* env_;
  CalendarClass* cls_;
  jobject calendar_;
};
}  // namespace

void CalendarClass::calendarToSQLDate(JNIEnv* env, jobject calendar, SQL_DATE_STRUCT* out) {
  FieldReader get(env, this, calendar);
  out->year = static_cast<SQLSMALLINT>(get(kYear));
  out->month = static_cast<SQLUSMALLINT>(get(kMonth) + 1);
  out->day = static_cast<SQLUSMALLINT>(get(kDayOfMonth));
}

void CalendarClass::calendarToSQLTime(JNIEnv* env, jobject calendar, SQL_TIME_STRUCT* out) {
  FieldReader get(env, this, calendar);
  out->hour = static_cast<SQLUSMALLINT>(get(kHourOfDay));
  out->minute = static_cast<SQLUSMALLINT>(get(kMinute));
  out->second = static_cast<SQLUSMALLINT>(get(kSecond));
}

void CalendarClass::calendarToSQLTimestamp(JNIEnv* env, jobject calendar,
                                           SQL_TIMESTAMP_STRUCT* out) {
  SQL_DATE_STRUCT date;
  SQL_TIME_STRUCT time;
  calendarToSQLDate(env, calendar, &date);
  calendarToSQLTime(env, calendar, &time);
  out->year = date.year;
  out->month = date.month;
  out->day = date.day;
  out->hour = time.hour;
  out->minute = time.minute;
  out->second = time.second;
  out->fraction =
      static_cast<SQLUINTEGER>(FieldReader(env, this, calendar)(kMillisecond)) * 1000000u;
}

jlong CalendarClass::calendarToTimeInMillis(JNIEnv* env, jobject calendar) {
  env->CallVoidMethodA(calendar, computeTime_, nullptr);
  if (env->ExceptionCheck()) return 0;
  return env->GetLongField(calendar, time_);
}

jlong CalendarClass::computeTimeInMillis(JNIEnv* env, int year, int month, int day, int hour,
                                         int minute, int second, int millis) {
  jobject calendar = getInstance(env);
  if (calendar == nullptr || env->ExceptionCheck()) return 0;
  jvalue args[6];
  args[0].i = year;
  args[1].i = month - 1;
  args[2].i = day;
  args[3].i = hour;
  args[4].i = minute;
  args[5].i = second;
  env->CallVoidMethodA(calendar, set6_, args);
  jlong result = 0;
  if (!env->ExceptionCheck()) {
    args[0].i = kMillisecond;
    args[1].i = millis;
    env->CallVoidMethodA(calendar, set2_, args);
    if (!env->ExceptionCheck()) result = calendarToTimeInMillis(env, calendar);
  }
  env->DeleteLocalRef(calendar);
  return result;
}

void CalendarClass::utDateToSQLTimestamp(JNIEnv* env, jobject date, SQL_TIMESTAMP_STRUCT* out) {
  jobject calendar = getInstance(env);
  if (calendar == nullptr || env->ExceptionCheck()) return;
  setTime(env, calendar, date);
  if (env->ExceptionCheck()) {
    env->DeleteLocalRef(calendar);
    return;
  }
  // setMillisecond takes a Timestamp; for a plain java.util.Date (or java.sql.Date or
  // Time) setTime has already carried the milliseconds into the calendar.
  JavaClass* timestamp = NOSE()->wrapper(NativeObjSharedEnv::kTimestamp);
  if (timestamp != nullptr && env->IsInstanceOf(date, timestamp->getClass()))
    NOSE()->iResourceClass()->setMilli(env, calendar, date);
  if (!env->ExceptionCheck()) calendarToSQLTimestamp(env, calendar, out);
  env->DeleteLocalRef(calendar);
}

void CalendarClass::utDateToSQLTime(JNIEnv* env, jobject date, SQL_TIME_STRUCT* out) {
  jobject calendar = getInstance(env);
  if (calendar == nullptr || env->ExceptionCheck()) return;
  setTime(env, calendar, date);
  if (!env->ExceptionCheck()) calendarToSQLTime(env, calendar, out);
  env->DeleteLocalRef(calendar);
}

void CalendarClass::utDateToSQLDate(JNIEnv* env, jobject date, SQL_DATE_STRUCT* out) {
  jobject calendar = getInstance(env);
  if (calendar == nullptr || env->ExceptionCheck()) return;
  setTime(env, calendar, date);
  if (!env->ExceptionCheck()) calendarToSQLDate(env, calendar, out);
  env->DeleteLocalRef(calendar);
}

// ---- BigDecimal and BigInteger -------------------------------------------------------------

BigDecimalClass::BigDecimalClass(JNIEnv* env) : JavaClass(env, "java/math/BigDecimal") {
  initString_ = getConstructorMID(env, "(Ljava/lang/String;)V");
  valueOfLong_ = staticMethod(env, "valueOf", "(J)Ljava/math/BigDecimal;");
  initDouble_ = getConstructorMID(env, "(D)V");
  setScale_ = method(env, "setScale", "(II)Ljava/math/BigDecimal;");
  longValue_ = method(env, "longValue", "()J");
  doubleValue_ = method(env, "doubleValue", "()D");
  unscaledValue_ = method(env, "unscaledValue", "()Ljava/math/BigInteger;");
  scale_ = method(env, "scale", "()I");
  signum_ = method(env, "signum", "()I");
}

jobject BigDecimalClass::construct(JNIEnv* env, jdouble value, jint newScale) {
  jvalue arg;
  arg.d = value;
  return setScale(env, env->NewObjectA(cls, initDouble_, &arg), newScale);
}

jobject BigDecimalClass::construct(JNIEnv* env, jstring text, jint newScale) {
  if (text == nullptr) return nullptr;
  jvalue arg;
  arg.l = text;
  return setScale(env, env->NewObjectA(cls, initString_, &arg), newScale);
}

jobject BigDecimalClass::construct(JNIEnv* env, jlong value, jint newScale) {
  jvalue arg;
  arg.j = value;
  return setScale(env, env->CallStaticObjectMethodA(cls, valueOfLong_, &arg), newScale);
}

jobject BigDecimalClass::setScale(JNIEnv* env, jobject decimal, jint newScale) {
  if (decimal == nullptr || newScale < 0 || env->ExceptionCheck()) return decimal;
  jvalue args[2];
  args[0].i = newScale;
  args[1].i = kRoundHalfUp;
  jobject scaled = env->CallObjectMethodA(decimal, setScale_, args);
  env->DeleteLocalRef(decimal);
  return scaled;
}

jlong BigDecimalClass::longValue(JNIEnv* env, jobject decimal) {
  return env->CallLongMethodA(decimal, longValue_, nullptr);
}

jdouble BigDecimalClass::doubleValue(JNIEnv* env, jobject decimal) {
  return env->CallDoubleMethodA(decimal, doubleValue_, nullptr);
}

jobject BigDecimalClass::unscaledValue(JNIEnv* env, jobject decimal) {
  return env->CallObjectMethodA(decimal, unscaledValue_, nullptr);
}

jint BigDecimalClass::scale(JNIEnv* env, jobject decimal) {
  return env->CallIntMethodA(decimal, scale_, nullptr);
}

jint BigDecimalClass::signum(JNIEnv* env, jobject decimal) {
  return env->CallIntMethodA(decimal, signum_, nullptr);
}

BigIntegerClass::BigIntegerClass(JNIEnv* env) : JavaClass(env, "java/math/BigInteger") {
  toByteArray_ = method(env, "toByteArray", "()[B");
  bitLength_ = method(env, "bitLength", "()I");
}

jbyteArray BigIntegerClass::toByteArray(JNIEnv* env, jobject integer) {
  return static_cast<jbyteArray>(env->CallObjectMethodA(integer, toByteArray_, nullptr));
}

jint BigIntegerClass::bitLength(JNIEnv* env, jobject integer) {
  return env->CallIntMethodA(integer, bitLength_, nullptr);
}

// ---- Date, Time, Timestamp --------------------------------------------------------------------

SQLDateTimeClasses::SQLDateTimeClasses(JNIEnv* env, int kind)
    : JavaClass(env, kClassNames[kind >= 0 && kind <= 2 ? kind : 0]) {
  init_ = getConstructorMID(env, "(J)V");
  if (kind == 2) {
    setNanos_ = method(env, "setNanos", "(I)V");
    getNanos_ = method(env, "getNanos", "()I");
  }
}

jobject SQLDateTimeClasses::construct(JNIEnv* env, jlong millis) {
  jvalue arg;
  arg.j = millis;
  return env->NewObjectA(cls, init_, &arg);
}

jint SQLDateTimeClasses::getNanos(JNIEnv* env, jobject value) {
  if (getNanos_ == nullptr) return 0;
  return env->CallIntMethodA(value, getNanos_, nullptr);
}

void SQLDateTimeClasses::setNanos(JNIEnv* env, jobject value, jint nanos) {
  if (setNanos_ == nullptr) return;
  jvalue arg;
  arg.i = nanos;
  env->CallVoidMethodA(value, setNanos_, &arg);
}

// ---- Readers, streams, Blob ---------------------------------------------------------------------

ReaderClass::ReaderClass(JNIEnv* env) : JavaClass(env, "java/io/Reader") {
  read_ = method(env, "read", "([CII)I");
}

jint ReaderClass::read(JNIEnv* env, jobject reader, jcharArray chars, jint offset, jint length) {
  jvalue args[3];
  args[0].l = chars;
  args[1].i = offset;
  args[2].i = length;
  return env->CallIntMethodA(reader, read_, args);
}

jstring ReaderClass::read(JNIEnv* env, jobject reader, jint length, jint* count) {
  *count = 0;
  if (length < 0) return nullptr;
  jcharArray chars = env->NewCharArray(length);
  if (chars == nullptr) return nullptr;
  const jint got = read(env, reader, chars, 0, length);
  jstring text = nullptr;
  // A reader may answer more than it was asked for; never build past the array.
  if (!env->ExceptionCheck() && got >= 1 && got <= length) {
    *count = got;
    text = NOSE()->stringClass()->construct(env, chars, 0, got);
  }
  env->DeleteLocalRef(chars);
  return text;
}

InputStreamClass::InputStreamClass(JNIEnv* env) : JavaClass(env, "java/io/InputStream") {
  read_ = method(env, "read", "([BII)I");
}

jint InputStreamClass::read(JNIEnv* env, jobject stream, jbyteArray bytes, jint offset,
                            jint length) {
  jvalue args[3];
  args[0].l = bytes;
  args[1].i = offset;
  args[2].i = length;
  return env->CallIntMethodA(stream, read_, args);
}

jint InputStreamClass::read(JNIEnv* env, jobject stream, jbyte* dest, jint length) {
  if (length < 0) return -1;
  jbyteArray bytes = env->NewByteArray(length);
  if (bytes == nullptr) return -1;
  jint got = read(env, stream, bytes, 0, length);
  if (env->ExceptionCheck()) {
    got = -1;
  } else if (got > length) {
    got = length;  // a stream that claims more than it was asked for
  }
  if (got >= 1) env->GetByteArrayRegion(bytes, 0, got, dest);
  env->DeleteLocalRef(bytes);
  return got;
}

BlobClass::BlobClass(JNIEnv* env) : JavaClass(env, "java/sql/Blob") {
  getBytes_ = method(env, "getBytes", "(JI)[B");
  length_ = method(env, "length", "()J");
}

jbyteArray BlobClass::getBytes(JNIEnv* env, jobject blob, jlong position, jint length) {
  jvalue args[2];
  args[0].j = position;
  args[1].i = length;
  return static_cast<jbyteArray>(env->CallObjectMethodA(blob, getBytes_, args));
}

jlong BlobClass::length(JNIEnv* env, jobject blob) {
  return env->CallLongMethodA(blob, length_, nullptr);
}

OneArgumentClass::OneArgumentClass(JNIEnv* env, const char* name, const char* signature)
    : JavaClass(env, name) {
  init_ = getConstructorMID(env, signature);
}

jobject OneArgumentClass::construct(JNIEnv* env, jobject argument) {
  jvalue arg;
  arg.l = argument;
  return env->NewObjectA(cls, init_, &arg);
}

StringReaderClass::StringReaderClass(JNIEnv* env)
    : OneArgumentClass(env, "java/io/StringReader", "(Ljava/lang/String;)V") {}

ClobStringReaderClass::ClobStringReaderClass(JNIEnv* env)
    : OneArgumentClass(env, "tovrak/jdbc/vellumcrest/ICharacterStreamReader",
                       "(Ljava/lang/String;)V") {}

ByteArrayInputStreamClass::ByteArrayInputStreamClass(JNIEnv* env)
    : OneArgumentClass(env, "java/io/ByteArrayInputStream", "([B)V") {}

AsciiStreamClass::AsciiStreamClass(JNIEnv* env, const char* name) : JavaClass(env, name) {
  init_ = getConstructorMID(env, "([BI)V");
}

jobject AsciiStreamClass::construct(JNIEnv* env, jbyteArray bytes, jint kind) {
  jvalue args[2];
  args[0].l = bytes;
  args[1].i = kind;
  return env->NewObjectA(cls, init_, args);
}

IStrAsciiStreamClass::IStrAsciiStreamClass(JNIEnv* env)
    : AsciiStreamClass(env, "tovrak/jdbc/vellumcrest/IStrAsciiStream") {}

IBinAsciiStreamClass::IBinAsciiStreamClass(JNIEnv* env)
    : AsciiStreamClass(env, "tovrak/jdbc/vellumcrest/IBinAsciiStream") {}

// ---- IResource ------------------------------------------------------------------------------------

IResourceClass::IResourceClass(JNIEnv* env) : JavaClass(env, "tovrak/jdbc/vellumcrest/IResource") {
  getString_ = staticMethod(env, "getString",
                            "(Ljava/lang/String;[Ljava/lang/String;)Ljava/lang/String;");
  setMillisecond_ =
      staticMethod(env, "setMillisecond", "(Ljava/sql/Timestamp;Ljava/util/Calendar;)V");
}

jstring IResourceClass::getString(JNIEnv* env, const char* key, int argCount, ...) {
  va_list args;
  va_start(args, argCount);
  jstring text = getStringV(env, key, argCount, args);
  va_end(args);
  return text;
}

jstring IResourceClass::getStringV(JNIEnv* env, const char* key, int argCount, va_list args) {
  jstring jkey = env->NewStringUTF(key);
  if (jkey == nullptr) return nullptr;
  jobjectArray array = nullptr;
  if (argCount > 0) {
    array = env->NewObjectArray(argCount, NOSE()->stringClass()->getClass(), nullptr);
    if (array == nullptr) {
      env->DeleteLocalRef(jkey);
      return nullptr;
    }
    for (int i = 0; i < argCount; ++i)
      env->SetObjectArrayElement(array, i, va_arg(args, jstring));
  }
  jvalue callArgs[2];
  callArgs[0].l = jkey;
  callArgs[1].l = array;
  auto* text = static_cast<jstring>(env->CallStaticObjectMethodA(cls, getString_, callArgs));
  if (array != nullptr) env->DeleteLocalRef(array);
  env->DeleteLocalRef(jkey);
  return text;
}

void IResourceClass::setMilli(JNIEnv* env, jobject calendar, jobject timestamp) {
  jvalue args[2];
  args[0].l = timestamp;
  args[1].l = calendar;
  env->CallStaticVoidMethodA(cls, setMillisecond_, args);
}

// ---- Peer classes with members of their own ---------------------------------------------------------

IConnectionClass::IConnectionClass(JNIEnv* env)
    : ClosibleINativeClass(env, "tovrak/jdbc/vellumcrest/IConnection") {
  const char* parse = "(Ljava/lang/String;)Ljava/util/Calendar;";
  const char* formatObj = "(Ljava/lang/Object;)Ljava/lang/String;";
  parseDate_ = method(env, "parseDate", parse);
  parseTime_ = method(env, "parseTime", parse);
  parseTimestamp_ = method(env, "parseTimestamp", parse);
  formatDate_ = method(env, "formatDate", "(III)Ljava/lang/String;");
  formatTime_ = method(env, "formatTime", "(III)Ljava/lang/String;");
  formatTimestamp_ = method(env, "formatTimestamp", "(IIIIIII)Ljava/lang/String;");
  formatDateObj_ = method(env, "formatDate", formatObj);
  formatTimeObj_ = method(env, "formatTime", formatObj);
  formatTimestampObj_ = method(env, "formatTimestamp", formatObj);
  isTrue_ = method(env, "isTrue", "(Ljava/lang/String;)Z");
  convertPointToComma_ = method(env, "convertPointToComma", "()Z");
  callMessageHandler_ = method(env, "callMessageHandler", "(Ljava/sql/SQLException;)V");
  callValidateFileTransferCallback_ =
      method(env, "callValidateFileTransferCallback", "(Ljava/lang/String;I)I");
}

IResultSetClass::IResultSetClass(JNIEnv* env)
    : ClosibleINativeClass(env, "tovrak/jdbc/vellumcrest/IIResultSet") {
  computeTimestampInMillis_ =
      method(env, "computeTimestampInMillis", "(IIIIIII)Ljava/sql/Timestamp;");
  computeTimeInMillis_ = method(env, "computeTimeInMillis", "(III)Ljava/sql/Time;");
  computeDateInMillis_ = method(env, "computeDateInMillis", "(III)Ljava/sql/Date;");
}
