// ODBC values into Java values: the make* converters of NativeWarnObj, one per Java
// target, each taking every C type the bridge binds. Column getters and callable-statement
// getters hand over a value as ODBC left it (data, C type, length/indicator).
//
// The converters read exactly `length` bytes and never write into the caller's buffer:
// text is copied aside where a terminator is needed, so a value that fills its element
// to the last byte is read whole and the next element is left alone. Numeric text is
// parsed without touching the process's locale. Every range test is made before a
// floating value is turned into an integer, so NaN and infinities raise the range key.
#include <cerrno>
#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <locale.h>

#include "jdbcodbc/c/misccls.h"
#include "jdbcodbc/c/nativeobj.h"
#include "jdbcodbc/c/odbcw.h"

namespace {

// The driver's own C type: decimal text, bound as SQL_C_CHAR.
constexpr SQLSMALLINT kNumericText = -9999;

// ---- Raising -------------------------------------------------------------------------------

void Raise(JNIEnv* env, const char* key) { NOSE()->raiseError(env, key); }

void RaiseWith(JNIEnv* env, const char* key, jstring argument) {
  if (env->ExceptionCheck()) return;
  NOSE()->raiseError(env, key, 1, argument);
}

void RaiseWithText(JNIEnv* env, const char* key, const std::string& argument) {
  if (env->ExceptionCheck()) return;
  jstring text = env->NewStringUTF(argument.c_str());  // ASCII only: numbers
  if (text == nullptr) return;
  RaiseWith(env, key, text);
  env->DeleteLocalRef(text);
}

// The key with Java's text of the value (String.valueOf), as a Java user would write it.
template <class T>
void RaiseWithReal(JNIEnv* env, const char* key, T value) {
  if (env->ExceptionCheck()) return;
  jstring text = NOSE()->stringClass()->valueOf(env, value);
  if (text == nullptr || env->ExceptionCheck()) return;
  RaiseWith(env, key, text);
  env->DeleteLocalRef(text);
}
void RaiseWithDouble(JNIEnv* env, const char* key, double value) {
  RaiseWithReal(env, key, static_cast<jdouble>(value));
}
void RaiseWithFloat(JNIEnv* env, const char* key, float value) {
  RaiseWithReal(env, key, static_cast<jfloat>(value));
}

// SQL_NULL_DATA or no data: the null result. Another negative length is a caller's fault
// (an unclamped SQL_NO_TOTAL, say) and is refused rather than read.
enum class Length { Value, Null, Bad };
Length CheckLength(JNIEnv* env, const void* data, SQLLEN length) {
  if (length == SQL_NULL_DATA || data == nullptr) return Length::Null;
  if (length < 0) {
    RaiseWithText(env, "NATIVE_ACCESS_ERROR", std::to_string(static_cast<long long>(length)));
    return Length::Bad;
  }
  return Length::Value;
}

template <class T>
T Load(const void* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return value;
}

// ---- Text ------------------------------------------------------------------------------------

// Bytes taken as modified UTF-8 up to the first zero byte, as JNI's NewStringUTF reads
// them, but safely: a byte that starts no valid sequence becomes U+FFFD (arbitrary bytes
// of a binary value would otherwise be undefined behaviour in the VM), and a four-byte
// sequence of standard UTF-8 becomes its surrogate pair.
jstring BytesToString(JNIEnv* env, const unsigned char* bytes, SQLLEN length) {
  std::vector<jchar> units;
  units.reserve(static_cast<std::size_t>(length));
  auto cont = [&](SQLLEN at) { return at < length && (bytes[at] & 0xC0) == 0x80; };
  for (SQLLEN i = 0; i < length && bytes[i] != 0;) {
    const unsigned b = bytes[i];
    if (b < 0x80) {
      units.push_back(static_cast<jchar>(b));
      i += 1;
    } else if (b >= 0xC0 && b < 0xE0 && cont(i + 1)) {
      units.push_back(static_cast<jchar>(((b & 0x1F) << 6) | (bytes[i + 1] & 0x3F)));
      i += 2;
    } else if (b >= 0xE0 && b < 0xF0 && cont(i + 1) && cont(i + 2)) {
      units.push_back(static_cast<jchar>(((b & 0x0F) << 12) | ((bytes[i + 1] & 0x3F) << 6) |
                                         (bytes[i + 2] & 0x3F)));
      i += 3;
    } else if (b >= 0xF0 && b < 0xF5 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      const std::uint32_t cp = ((b & 0x07u) << 18) | ((bytes[i + 1] & 0x3Fu) << 12) |
                               ((bytes[i + 2] & 0x3Fu) << 6) | (bytes[i + 3] & 0x3Fu);
      if (cp >= 0x10000 && cp <= 0x10FFFF) {
        units.push_back(static_cast<jchar>(0xD800 + ((cp - 0x10000) >> 10)));
        units.push_back(static_cast<jchar>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
      } else {
        units.push_back(0xFFFD);
      }
      i += 4;
    } else {
      units.push_back(0xFFFD);
      i += 1;
    }
  }
  if (units.size() > static_cast<std::size_t>(INT32_MAX)) {
    Raise(env, "OUT_OF_MEMORY");
    return nullptr;
  }
  return env->NewString(units.data(), static_cast<jsize>(units.size()));
}

jstring UnitsToString(JNIEnv* env, const void* data, SQLLEN length) {
  const SQLLEN count = length / 2;
  if (count > INT32_MAX) {
    Raise(env, "OUT_OF_MEMORY");
    return nullptr;
  }
  if (count == 0) return env->NewString(nullptr, 0);
  // Java's units and SQLWCHAR are both 16-bit: bound buffers are read in place; a copy
  // keeps an odd address safe.
  if (reinterpret_cast<std::uintptr_t>(data) % alignof(jchar) == 0)
    return env->NewString(static_cast<const jchar*>(data), static_cast<jsize>(count));
  std::vector<jchar> units(static_cast<std::size_t>(count));
  std::memcpy(units.data(), data, static_cast<std::size_t>(count) * 2);
  return env->NewString(units.data(), static_cast<jsize>(count));
}

// A terminated copy of UTF-16 text of `length` bytes.
std::vector<SQLWCHAR> WideCopy(const void* data, SQLLEN length) {
  const std::size_t count = static_cast<std::size_t>(length / 2);
  std::vector<SQLWCHAR> text(count + 1, 0);
  if (count > 0) std::memcpy(text.data(), data, count * 2);
  return text;
}

bool IsDigit(unsigned unit) { return unit >= '0' && unit <= '9'; }

// The rest of a whole number's text: nothing, or '.' followed only by digits.
template <class Unit>
bool OnlyFractionFollows(const Unit* from, const Unit* to) {
  if (from == to) return true;
  if (*from != '.') return false;
  for (const Unit* p = from + 1; p < to; ++p)
    if (!IsDigit(static_cast<unsigned>(*p))) return false;
  return true;
}

// The C locale for numeric text whose caller asks for it; made once, never freed.
locale_t CLocale() {
  static locale_t c = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
  return c;
}

}  // namespace

// ---- The text rules, as members so they can make the value's string for the error ------

namespace {

// "INVALID_NUMERIC_STRING" with the value's text as argument.
// The text of a value raised with `key` (a number beyond the target's range).
void RaiseTextWith(NativeWarnObj* self, JNIEnv* env, const char* key, void* data,
                   SQLSMALLINT cType, SQLLEN length) {
  jstring shown = self->makeString(env, data, cType, length);
  RaiseWith(env, key, shown);
  if (shown != nullptr) env->DeleteLocalRef(shown);
}

void RaiseInvalidText(NativeWarnObj* self, JNIEnv* env, void* data, SQLSMALLINT cType,
                      SQLLEN length) {
  RaiseTextWith(self, env, "INVALID_NUMERIC_STRING", data, cType, length);
}

// 32-bit text (makeByte, makeShort, makeInt), UTF-16 after trailing spaces and zero units
// were dropped. A number beyond the 32-bit range raises `rangeKey` with the text.
bool Text32(NativeWarnObj* self, JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length,
            const char* rangeKey, std::int32_t* out) {
  bool beyond = false;
  if (cType == SQL_C_WCHAR) {
    std::vector<SQLWCHAR> text = WideCopy(data, length);
    std::size_t last = text.size() - 1;
    while (last > 0 && (text[last - 1] == ' ' || text[last - 1] == 0)) --last;
    const SQLWCHAR* end = nullptr;
    const std::int32_t value = ODBCW_SQLWCHAR_TO_LONG(text.data(), &end, &beyond);
    const SQLWCHAR* stop = text.data() + last;
    if (end != nullptr && end <= stop && OnlyFractionFollows(end, stop)) {
      if (!beyond) {
        *out = value;
        return true;
      }
      RaiseTextWith(self, env, rangeKey, data, cType, length);
      return false;
    }
  } else {
    const std::string text(static_cast<const char*>(data), static_cast<std::size_t>(length));
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    beyond = errno == ERANGE || value > INT32_MAX || value < INT32_MIN;
    if (OnlyFractionFollows<char>(end, text.c_str() + text.size())) {
      if (!beyond) {
        *out = static_cast<std::int32_t>(value);
        return true;
      }
      RaiseTextWith(self, env, rangeKey, data, cType, length);
      return false;
    }
  }
  RaiseInvalidText(self, env, data, cType, length);
  return false;
}

bool Text64(NativeWarnObj* self, JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length,
            std::int64_t* out) {
  bool ok;
  bool beyond = false;
  if (cType == SQL_C_WCHAR) {
    std::vector<SQLWCHAR> text = WideCopy(data, length);
    ok = ODBCW_SQLWCHAR_TO_I64(text.data(), out, &beyond);
  } else {
    const std::string text(static_cast<const char*>(data), static_cast<std::size_t>(length));
    ok = ODBCW_SQLCHAR_TO_I64(reinterpret_cast<const SQLCHAR*>(text.c_str()), out, &beyond);
  }
  if (ok) return true;
  RaiseTextWith(self, env, beyond ? "OUT_OF_I64_RANGE" : "INVALID_NUMERIC_STRING", data, cType,
                length);
  return false;
}

// Floating text: the number must take the whole text (an empty text is no number).
bool TextDouble(NativeWarnObj* self, JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length,
                bool cLocale, double* out) {
  if (cType == SQL_C_WCHAR) {
    std::vector<SQLWCHAR> text = WideCopy(data, length);
    const SQLWCHAR* end = nullptr;
    const double value = ODBCW_SQLWCHAR_TO_DOUBLE(text.data(), &end);
    const SQLWCHAR* stop = text.data() + (text.size() - 1);
    if (stop != text.data() && end == stop) {
      *out = value;
      return true;
    }
  } else {
    const std::string text(static_cast<const char*>(data), static_cast<std::size_t>(length));
    char* end = nullptr;
    // strtod_l with a locale object of our own: switching the process's LC_NUMERIC
    // would race every other thread that formats or parses numbers.
    const double value = cLocale && CLocale() != static_cast<locale_t>(0)
                             ? strtod_l(text.c_str(), &end, CLocale())
                             : std::strtod(text.c_str(), &end);
    if (!text.empty() && end == text.c_str() + text.size()) {
      *out = value;
      return true;
    }
  }
  RaiseInvalidText(self, env, data, cType, length);
  return false;
}

// What a source holds for the number converters.
struct Number {
  enum Kind { Integer, Real, Text, Unsupported, Other } kind;
  std::int64_t i;
  double d;
  bool isFloat;  // Real from a 4-byte float
};

// Decimal text arrives as -9999; SQL_C_CHAR (1) carries the same text when an output
// parameter of type NUMERIC was bound with it, so it is read the same way.
bool IsNarrowText(SQLSMALLINT cType) { return cType == kNumericText || cType == SQL_C_CHAR; }

Number Classify(const void* data, SQLSMALLINT cType) {
  Number n{Number::Other, 0, 0.0, false};
  switch (cType) {
    case SQL_C_BIT:
    case SQL_C_STINYINT:
      n.kind = Number::Integer;
      n.i = Load<std::int8_t>(data);
      break;
    case SQL_C_SSHORT:
      n.kind = Number::Integer;
      n.i = Load<std::int16_t>(data);
      break;
    case SQL_C_SLONG:
      n.kind = Number::Integer;
      n.i = Load<std::int32_t>(data);
      break;
    case SQL_C_SBIGINT:
      n.kind = Number::Integer;
      n.i = Load<std::int64_t>(data);
      break;
    case SQL_C_FLOAT:
      n.kind = Number::Real;
      n.d = Load<float>(data);
      n.isFloat = true;
      break;
    case SQL_C_DOUBLE:
      n.kind = Number::Real;
      n.d = Load<double>(data);
      break;
    case SQL_C_WCHAR:
    case SQL_C_CHAR:
    case kNumericText:
      n.kind = Number::Text;
      break;
    case SQL_C_BINARY:
    case SQL_C_TYPE_DATE:
    case SQL_C_TYPE_TIME:
    case SQL_C_TYPE_TIMESTAMP:
      n.kind = Number::Unsupported;
      break;
    default:
      break;
  }
  return n;
}

constexpr double kTwoTo63 = 9223372036854775808.0;

// An integer target of [lo, hi] (makeByte, makeShort, makeInt; makeInt takes floats apart).
template <class T>
T IntegerTarget(NativeWarnObj* self, JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length,
                const char* rangeKey) {
  constexpr std::int64_t lo = std::numeric_limits<T>::min();
  constexpr std::int64_t hi = std::numeric_limits<T>::max();
  const Number n = Classify(data, cType);
  switch (n.kind) {
    case Number::Integer:
      if (n.i < lo || n.i > hi) {
        RaiseWithText(env, rangeKey, std::to_string(static_cast<long long>(n.i)));
        return 0;
      }
      return static_cast<T>(n.i);
    case Number::Real:
      // Written so that NaN fails the test too.
      if (!(n.d >= static_cast<double>(lo) && n.d <= static_cast<double>(hi))) {
        if (n.isFloat)
          RaiseWithFloat(env, rangeKey, static_cast<float>(n.d));
        else
          RaiseWithDouble(env, rangeKey, n.d);
        return 0;
      }
      return static_cast<T>(std::trunc(n.d));
    case Number::Text: {
      std::int32_t value = 0;
      if (!Text32(self, env, data, cType, length, rangeKey, &value)) return 0;
      if (value < lo || value > hi) {
        RaiseWithText(env, rangeKey, std::to_string(value));
        return 0;
      }
      return static_cast<T>(value);
    }
    case Number::Unsupported:
      Raise(env, "UNSUPPORTED_CONVERSION");
      return 0;
    case Number::Other:
      break;
  }
  return 0;
}

}  // namespace

// ---- Numbers -----------------------------------------------------------------------------------

jbyte NativeWarnObj::makeByte(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length, bool) {
  if (CheckLength(env, data, length) != Length::Value) return 0;
  return IntegerTarget<jbyte>(this, env, data, cType, length, "OUT_OF_I8_RANGE");
}

jshort NativeWarnObj::makeShort(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length, bool) {
  if (CheckLength(env, data, length) != Length::Value) return 0;
  return IntegerTarget<jshort>(this, env, data, cType, length, "OUT_OF_I16_RANGE");
}

jint NativeWarnObj::makeInt(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length, bool) {
  if (CheckLength(env, data, length) != Length::Value) return 0;
  if (cType == SQL_C_FLOAT) {
    // A float is taken from -2^31 to 2^31 inclusive and saturates at the ends: a float
    // cannot hold 2^31 - 1, and 2^31 is what the largest int rounds to.
    const double v = Load<float>(data);
    constexpr double kTwoTo31 = 2147483648.0;
    if (!(v >= -kTwoTo31 && v <= kTwoTo31)) {
      RaiseWithFloat(env, "OUT_OF_I32_RANGE", static_cast<float>(v));
      return 0;
    }
    if (v >= kTwoTo31 - 1) return INT32_MAX;
    if (v <= -kTwoTo31) return INT32_MIN;
    return static_cast<jint>(std::trunc(v));
  }
  return IntegerTarget<jint>(this, env, data, cType, length, "OUT_OF_I32_RANGE");
}

jlong NativeWarnObj::makeLong(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length) {
  if (CheckLength(env, data, length) != Length::Value) return 0;
  const Number n = Classify(data, cType);
  switch (n.kind) {
    case Number::Integer:
      return n.i;
    case Number::Real:
      if (!(n.d >= -kTwoTo63 && n.d < kTwoTo63)) {
        RaiseWithDouble(env, "OUT_OF_I64_RANGE", n.d);
        return 0;
      }
      return static_cast<jlong>(std::trunc(n.d));
    case Number::Text: {
      std::int64_t value = 0;
      return Text64(this, env, data, cType, length, &value) ? value : 0;
    }
    case Number::Unsupported:
      Raise(env, "UNSUPPORTED_CONVERSION");
      return 0;
    case Number::Other:
      break;
  }
  return 0;
}

jdouble NativeWarnObj::makeDouble(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length,
                                  bool cLocale) {
  if (CheckLength(env, data, length) != Length::Value) return 0.0;
  const Number n = Classify(data, cType);
  switch (n.kind) {
    case Number::Integer:
      return static_cast<jdouble>(n.i);
    case Number::Real:
      return n.d;
    case Number::Text: {
      double value = 0.0;
      return TextDouble(this, env, data, cType, length, cLocale, &value) ? value : 0.0;
    }
    case Number::Unsupported:
      Raise(env, "UNSUPPORTED_CONVERSION");
      return 0.0;
    case Number::Other:
      break;
  }
  return 0.0;
}

jfloat NativeWarnObj::makeFloat(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length,
                                bool cLocale) {
  if (CheckLength(env, data, length) != Length::Value) return 0.0f;
  const Number n = Classify(data, cType);
  double value = 0.0;
  switch (n.kind) {
    case Number::Integer:
      return static_cast<jfloat>(n.i);
    case Number::Real:
      if (n.isFloat) return static_cast<jfloat>(n.d);
      value = n.d;
      break;
    case Number::Text:
      if (!TextDouble(this, env, data, cType, length, cLocale, &value)) return 0.0f;
      break;
    case Number::Unsupported:
      Raise(env, "UNSUPPORTED_CONVERSION");
      return 0.0f;
    case Number::Other:
      return 0.0f;
  }
  // NaN passes: it has a float form.
  if (std::fabs(value) > static_cast<double>(FLT_MAX)) {
    RaiseWithDouble(env, "OUT_OF_F32_RANGE", value);
    return 0.0f;
  }
  return static_cast<jfloat>(value);
}

jboolean NativeWarnObj::makeBoolean(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length) {
  if (CheckLength(env, data, length) != Length::Value) return JNI_FALSE;
  if (cType == SQL_C_WCHAR) {
    jstring text = makeString(env, data, cType, length);
    if (text == nullptr) return JNI_FALSE;
    const jboolean answer = NOSE()->iConnectionClass()->isTrue(env, getConnection(), text);
    env->DeleteLocalRef(text);
    return answer;
  }
  if (IsNarrowText(cType)) {
    // '+'?, '1', then the end or '.' and only zeros.
    const auto* p = static_cast<const char*>(data);
    const char* end = p + length;
    if (p < end && *p == '+') ++p;
    if (p == end || *p != '1') return JNI_FALSE;
    ++p;
    if (p == end) return JNI_TRUE;
    if (*p != '.') return JNI_FALSE;
    for (++p; p < end; ++p)
      if (*p != '0') return JNI_FALSE;
    return JNI_TRUE;
  }
  const Number n = Classify(data, cType);
  switch (n.kind) {
    case Number::Integer:
      return n.i == 1 ? JNI_TRUE : JNI_FALSE;
    case Number::Real:
      return n.d == 1.0 ? JNI_TRUE : JNI_FALSE;
    case Number::Unsupported:
      Raise(env, "UNSUPPORTED_CONVERSION");
      return JNI_FALSE;
    default:
      return JNI_FALSE;
  }
}

// ---- Text and decimals --------------------------------------------------------------------------

jstring NativeWarnObj::makeString(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length) {
  if (CheckLength(env, data, length) != Length::Value) return nullptr;
  auto strings = [] { return NOSE()->stringClass(); };
  auto connection = [] { return NOSE()->iConnectionClass(); };
  switch (cType) {
    case SQL_C_WCHAR:
      return UnitsToString(env, data, length);
    case kNumericText:
    case SQL_C_CHAR:
    case SQL_C_BINARY:
      return BytesToString(env, static_cast<const unsigned char*>(data), length);
    case SQL_C_BIT:
    case SQL_C_STINYINT:
      return strings()->valueOf(env, static_cast<jint>(Load<std::int8_t>(data)));
    case SQL_C_SSHORT:
      return strings()->valueOf(env, static_cast<jint>(Load<std::int16_t>(data)));
    case SQL_C_SLONG:
      return strings()->valueOf(env, static_cast<jint>(Load<std::int32_t>(data)));
    case SQL_C_SBIGINT:
      return strings()->valueOf(env, static_cast<jlong>(Load<std::int64_t>(data)));
    case SQL_C_FLOAT:
      return strings()->valueOf(env, static_cast<jfloat>(Load<float>(data)));
    case SQL_C_DOUBLE:
      return strings()->valueOf(env, static_cast<jdouble>(Load<double>(data)));
    case SQL_C_TYPE_DATE: {
      const auto value = Load<SQL_DATE_STRUCT>(data);
      return connection()->formatDate(env, getConnection(), &value);
    }
    case SQL_C_TYPE_TIME: {
      const auto value = Load<SQL_TIME_STRUCT>(data);
      return connection()->formatTime(env, getConnection(), &value);
    }
    case SQL_C_TYPE_TIMESTAMP: {
      const auto value = Load<SQL_TIMESTAMP_STRUCT>(data);
      return connection()->formatTimestamp(env, getConnection(), &value);
    }
    default:
      return nullptr;
  }
}

jobject NativeWarnObj::makeBigDecimal(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length,
                                      jint scale) {
  if (CheckLength(env, data, length) != Length::Value) return nullptr;
  auto* decimals = static_cast<BigDecimalClass*>(NOSE()->wrapper(NativeObjSharedEnv::kBigDecimal));
  const Number n = Classify(data, cType);
  if (n.kind == Number::Integer) return decimals->construct(env, static_cast<jlong>(n.i), scale);
  if (n.kind == Number::Real) return decimals->construct(env, static_cast<jdouble>(n.d), scale);
  if (n.kind == Number::Unsupported) {
    Raise(env, "UNSUPPORTED_CONVERSION");
    return nullptr;
  }
  if (n.kind != Number::Text) return nullptr;
  jstring text = makeString(env, data, cType, length);
  if (text == nullptr) return nullptr;
  jobject decimal = decimals->construct(env, text, scale);
  if (cType != kNumericText && env->ExceptionCheck()) {
    // The constructor's NumberFormatException becomes the driver's own error.
    env->ExceptionClear();
    if (decimal != nullptr) env->DeleteLocalRef(decimal);
    decimal = nullptr;
    RaiseWith(env, "INVALID_NUMERIC_STRING", text);
  }
  env->DeleteLocalRef(text);
  return decimal;
}

// ---- Dates and times ----------------------------------------------------------------------------

jobject IResultSetClass::computeDateInMillis(JNIEnv* env, jobject target, int year, int month,
                                             int day) {
  jvalue args[3];
  args[0].i = year;
  args[1].i = month - 1;
  args[2].i = day;
  return env->CallObjectMethodA(target, computeDateInMillis_, args);
}

jobject IResultSetClass::computeTimeInMillis(JNIEnv* env, jobject target, int hour, int minute,
                                             int second) {
  jvalue args[3];
  args[0].i = hour;
  args[1].i = minute;
  args[2].i = second;
  return env->CallObjectMethodA(target, computeTimeInMillis_, args);
}

jobject IResultSetClass::computeTimestampInMillis(JNIEnv* env, jobject target, int year,
                                                  int month, int day, int hour, int minute,
                                                  int second, std::int32_t fraction) {
  jvalue args[7];
  args[0].i = year;
  args[1].i = month - 1;
  args[2].i = day;
  args[3].i = hour;
  args[4].i = minute;
  args[5].i = second;
  args[6].i = fraction;
  return env->CallObjectMethodA(target, computeTimestampInMillis_, args);
}

namespace {

enum class Target { Date = 0, Time = 1, Timestamp = 2 };

SQLDateTimeClasses* DateTimeClass(Target target) {
  static const NativeObjSharedEnv::Slot slots[] = {NativeObjSharedEnv::kDate,
                                                   NativeObjSharedEnv::kTime,
                                                   NativeObjSharedEnv::kTimestamp};
  return static_cast<SQLDateTimeClasses*>(NOSE()->wrapper(slots[static_cast<int>(target)]));
}

// The value of the fields: by the Java result set when there is one, else through a
// default-zone calendar (a timestamp then keeps its nanoseconds).
jobject FromFields(JNIEnv* env, Target target, jobject resultSet, const SQL_TIMESTAMP_STRUCT& f) {
  if (resultSet != nullptr) {
    auto* rs = static_cast<IResultSetClass*>(NOSE()->wrapper(NativeObjSharedEnv::kIResultSet));
    switch (target) {
      case Target::Date:
        return rs->computeDateInMillis(env, resultSet, f.year, f.month, f.day);
      case Target::Time:
        return rs->computeTimeInMillis(env, resultSet, f.hour, f.minute, f.second);
      case Target::Timestamp:
        return rs->computeTimestampInMillis(env, resultSet, f.year, f.month, f.day, f.hour,
                                            f.minute, f.second,
                                            static_cast<std::int32_t>(f.fraction));
    }
  }
  auto* calendar = static_cast<CalendarClass*>(NOSE()->wrapper(NativeObjSharedEnv::kCalendar));
  const jlong millis =
      target == Target::Time
          ? calendar->computeTimeInMillis(env, 1970, 1, 1, f.hour, f.minute, f.second, 0)
          : calendar->computeTimeInMillis(env, f.year, f.month, f.day, f.hour, f.minute,
                                          f.second, static_cast<int>(f.fraction / 1000000));
  if (env->ExceptionCheck()) return nullptr;
  SQLDateTimeClasses* cls = DateTimeClass(target);
  jobject value = cls->construct(env, millis);
  if (value != nullptr && target == Target::Timestamp && !env->ExceptionCheck())
    cls->setNanos(env, value, static_cast<jint>(f.fraction));
  return value;
}

}  // namespace

static jobject MakeDateTime(NativeWarnObj* self, JNIEnv* env, void* data, SQLSMALLINT cType,
                            SQLLEN length, jobject resultSet, Target target) {
  if (CheckLength(env, data, length) != Length::Value) return nullptr;
  SQL_TIMESTAMP_STRUCT f{};
  switch (cType) {
    case SQL_C_TYPE_DATE: {
      if (target == Target::Time) break;
      const auto d = Load<SQL_DATE_STRUCT>(data);
      f.year = d.year;
      f.month = d.month;
      f.day = d.day;
      return FromFields(env, target, resultSet, f);
    }
    case SQL_C_TYPE_TIME: {
      if (target != Target::Time) break;
      const auto t = Load<SQL_TIME_STRUCT>(data);
      f.hour = t.hour;
      f.minute = t.minute;
      f.second = t.second;
      return FromFields(env, target, resultSet, f);
    }
    case SQL_C_TYPE_TIMESTAMP:
      f = Load<SQL_TIMESTAMP_STRUCT>(data);
      if (target == Target::Date) f.hour = f.minute = f.second = 0, f.fraction = 0;
      if (target == Target::Time) f.fraction = 0;
      return FromFields(env, target, resultSet, f);
    case SQL_C_WCHAR: {
      jstring text = self->makeString(env, data, cType, length);
      if (text == nullptr) return nullptr;
      IConnectionClass* connection = NOSE()->iConnectionClass();
      jlong millis = 0;
      bool parsed = false;
      if (target == Target::Date)
        parsed = connection->parseDate(env, self->getConnection(), text, nullptr, &millis);
      else if (target == Target::Time)
        parsed = connection->parseTime(env, self->getConnection(), text, nullptr, &millis);
      else
        parsed = connection->parseTimestamp(env, self->getConnection(), text, nullptr, &millis);
      env->DeleteLocalRef(text);
      if (!parsed || env->ExceptionCheck()) return nullptr;
      return DateTimeClass(target)->construct(env, millis);
    }
    case SQL_C_BIT:
    case SQL_C_STINYINT:
    case SQL_C_SSHORT:
    case SQL_C_SLONG:
    case SQL_C_SBIGINT:
    case kNumericText:
    case SQL_C_CHAR:  // decimal text of a NUMERIC output parameter
    case SQL_C_FLOAT:
    case SQL_C_DOUBLE:
    case SQL_C_BINARY:
      break;
    default:
      return nullptr;
  }
  Raise(env, "UNSUPPORTED_CONVERSION");
  return nullptr;
}

jobject NativeWarnObj::makeDate(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length,
                                jobject resultSet) {
  return MakeDateTime(this, env, data, cType, length, resultSet, Target::Date);
}

jobject NativeWarnObj::makeTime(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length,
                                jobject resultSet) {
  return MakeDateTime(this, env, data, cType, length, resultSet, Target::Time);
}

jobject NativeWarnObj::makeTimestamp(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length,
                                     jobject resultSet) {
  return MakeDateTime(this, env, data, cType, length, resultSet, Target::Timestamp);
}

// ---- Bytes and streams ----------------------------------------------------------------------------

namespace {

// A new byte[] holding the bytes; null with the VM's exception pending when it cannot be
// had.
jbyteArray NewBytes(JNIEnv* env, const void* data, SQLLEN length) {
  if (length > INT32_MAX) {
    Raise(env, "OUT_OF_MEMORY");
    return nullptr;
  }
  const auto n = static_cast<jsize>(length);
  jbyteArray bytes = env->NewByteArray(n);
  if (bytes == nullptr) return nullptr;
  if (n > 0) env->SetByteArrayRegion(bytes, 0, n, static_cast<const jbyte*>(data));
  return bytes;
}

}  // namespace

jbyteArray NativeWarnObj::makeBytes(JNIEnv* env, void* data, SQLSMALLINT cType, SQLLEN length) {
  if (CheckLength(env, data, length) != Length::Value) return nullptr;
  if (cType != SQL_C_BINARY) {
    Raise(env, "UNSUPPORTED_CONVERSION");
    return nullptr;
  }
  return NewBytes(env, data, length);
}

jobject NativeWarnObj::makeBinaryStream(JNIEnv* env, void* data, SQLSMALLINT cType,
                                        SQLLEN length) {
  jbyteArray bytes = makeBytes(env, data, cType, length);
  if (bytes == nullptr) return nullptr;
  auto* streams = static_cast<ByteArrayInputStreamClass*>(
      NOSE()->wrapper(NativeObjSharedEnv::kByteArrayInputStream));
  jobject stream = streams->construct(env, bytes);
  env->DeleteLocalRef(bytes);
  return stream;
}

jobject NativeWarnObj::makeAsciiStream(JNIEnv* env, void* data, SQLSMALLINT cType,
                                       SQLLEN length) {
  if (CheckLength(env, data, length) != Length::Value) return nullptr;
  NativeObjSharedEnv::Slot slot;
  switch (cType) {
    case SQL_C_WCHAR:
      slot = NativeObjSharedEnv::kIStrAsciiStream;
      length -= length % 2;  // whole units only
      break;
    case SQL_C_BINARY:
      slot = NativeObjSharedEnv::kIBinAsciiStream;
      break;
    case SQL_C_BIT:
    case SQL_C_STINYINT:
    case SQL_C_SSHORT:
    case SQL_C_SLONG:
    case SQL_C_SBIGINT:
    case kNumericText:
    case SQL_C_CHAR:  // decimal text of a NUMERIC output parameter
    case SQL_C_FLOAT:
    case SQL_C_DOUBLE:
    case SQL_C_TYPE_DATE:
    case SQL_C_TYPE_TIME:
    case SQL_C_TYPE_TIMESTAMP:
      Raise(env, "UNSUPPORTED_CONVERSION");
      return nullptr;
    default:
      return nullptr;
  }
  jbyteArray bytes = NewBytes(env, data, length);
  if (bytes == nullptr) return nullptr;
  jobject stream = static_cast<AsciiStreamClass*>(NOSE()->wrapper(slot))->construct(env, bytes, 1);
  env->DeleteLocalRef(bytes);
  return stream;
}

namespace {

jobject ReaderOver(JNIEnv* env, jstring text, NativeObjSharedEnv::Slot slot) {
  if (text == nullptr) return nullptr;
  jobject reader = static_cast<OneArgumentClass*>(NOSE()->wrapper(slot))->construct(env, text);
  env->DeleteLocalRef(text);
  return reader;
}

}  // namespace

jobject NativeWarnObj::makeCharacterStream(JNIEnv* env, void* data, SQLSMALLINT cType,
                                           SQLLEN length) {
  return ReaderOver(env, makeString(env, data, cType, length), NativeObjSharedEnv::kStringReader);
}

jobject NativeWarnObj::makeClobCharacterStream(JNIEnv* env, void* data, SQLSMALLINT cType,
                                               SQLLEN length) {
  return ReaderOver(env, makeString(env, data, cType, length),
                    NativeObjSharedEnv::kClobStringReader);
}
