// Java values into ODBC value buffers: one converter per Java source type, each handling
// every C type the bridge binds, with the range checks and message keys of the bridge.
//
// A converter that needs more room than the caller's buffer has makes a new block and
// frees the caller's only when it succeeds. Parameters stay bound to their buffer while
// a setter runs, so a conversion that fails half-way (a value out of range after the
// growth, a Java stream that throws) must leave that buffer alive: the driver still
// reads it at the next execution.
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "jdbcodbc/c/misccls.h"
#include "jdbcodbc/c/nativeobj.h"
#include "jdbcodbc/c/odbcw.h"

namespace {

constexpr SQLSMALLINT kNumericText = -9999;       // the driver's own: decimal text
constexpr SQLLEN kStreamStep = 0x20000;           // request step of an unknown length
constexpr jint kStreamChunk = 32768;              // bytes per read of a Java stream
constexpr SQLLEN kLargestBuffer = SQLLEN{1} << 40;  // beyond any value Java can hand us
constexpr double kFloatMax = 3.4028234663852886e38;
constexpr SQLLEN kNumericRecordBytes = 19;
static_assert(sizeof(SQL_NUMERIC_STRUCT) == kNumericRecordBytes, "numeric record layout");
static_assert(sizeof(SQL_DATE_STRUCT) == 6 && sizeof(SQL_TIME_STRUCT) == 6 &&
                  sizeof(SQL_TIMESTAMP_STRUCT) == 16,
              "date and time record layouts");

// The destination of one conversion: the caller's buffer, or a block of our own once
// the caller's was too small. Finish with done() or failed().
class Destination {
 public:
  Destination(JNIEnv* env, void* buffer, SQLLEN size, SQLLEN* length, SQLLEN* newSize)
      : env_(env), callerBuffer_(buffer), callerSize_(size), newSize_(newSize),
        block_(buffer), size_(size) {
    *length = 0;
  }
  ~Destination() {
    if (owned_) NativeWarnObj::free(block_);
  }
  Destination(const Destination&) = delete;
  Destination& operator=(const Destination&) = delete;

  // At least `need` bytes; false after a raise ("OVERSIZE_UPDATE" without a growth
  // slot, "OUT_OF_MEMORY"). Growth keeps what a block of our own held already.
  bool secure(SQLLEN need) {
    if (need <= size_) return true;
    if (newSize_ == nullptr) {
      NOSE()->raiseError(env_, "OVERSIZE_UPDATE");
      return false;
    }
    if (need > kLargestBuffer) {
      NOSE()->raiseError(env_, "OUT_OF_MEMORY");
      return false;
    }
    SQLLEN grown = need + need / 2;
    grown += grown & 1;
    void* block = owned_ ? NativeWarnObj::realloc(env_, block_, static_cast<std::size_t>(grown))
                         : NativeWarnObj::alloc(env_, static_cast<std::size_t>(grown));
    if (block == nullptr) return false;
    block_ = block;
    size_ = grown;
    owned_ = true;
    return true;
  }
  bool growable() const { return newSize_ != nullptr; }
  void* data() const { return block_; }
  SQLLEN size() const { return size_; }

  // The buffer to use from now on; the caller's is freed when it was replaced.
  void* done() {
    if (owned_) {
      NativeWarnObj::free(callerBuffer_);
      owned_ = false;
    }
    if (newSize_ != nullptr) *newSize_ = size_;
    return block_;
  }
  // The caller keeps its buffer and size; nothing else changes.
  void* failed() {
    if (newSize_ != nullptr) *newSize_ = callerSize_;
    return nullptr;
  }

 private:
  JNIEnv* env_;
  void* callerBuffer_;
  SQLLEN callerSize_;
  SQLLEN* newSize_;
  void* block_;
  SQLLEN size_;
  bool owned_ = false;  // block_ is ours, not the caller's
};

// The null value of every reference type.
void* NullValue(SQLLEN bufferSize, SQLLEN* length, SQLLEN* newSize) {
  *length = SQL_NULL_DATA;
  if (newSize != nullptr) *newSize = bufferSize;
  return nullptr;
}

StringClass* Strings() { return NOSE()->stringClass(); }

// Raises `key` with one Java string argument (made by the caller), deleting it.
void RaiseWith(JNIEnv* env, const char* key, jstring arg) {
  if (!env->ExceptionCheck()) NOSE()->raiseError(env, key, 1, arg);
  if (arg != nullptr) env->DeleteLocalRef(arg);
}
void RaiseWith(JNIEnv* env, const char* key, jlong value) {
  if (env->ExceptionCheck()) return;
  RaiseWith(env, key, Strings()->valueOf(env, value));
}
void RaiseWith(JNIEnv* env, const char* key, jdouble value) {
  if (env->ExceptionCheck()) return;
  RaiseWith(env, key, Strings()->valueOf(env, value));
}
void Raise(JNIEnv* env, const char* key) { NOSE()->raiseError(env, key); }

template <class T>
void Store(void* dest, T value) {
  std::memcpy(dest, &value, sizeof value);
}

// The key and the inclusive range of an integer destination.
struct IntRange {
  const char* key;
  jlong low;
  jlong high;
};
bool IntegerRange(SQLSMALLINT cType, IntRange* out) {
  switch (cType) {
    case SQL_C_BIT: *out = {"OUT_OF_I1_RANGE", 0, 1}; return true;
    case SQL_C_STINYINT: *out = {"OUT_OF_I8_RANGE", -128, 127}; return true;
    case SQL_C_SSHORT: *out = {"OUT_OF_I16_RANGE", -32768, 32767}; return true;
    case SQL_C_SLONG: *out = {"OUT_OF_I32_RANGE", INT32_MIN, INT32_MAX}; return true;
    case SQL_C_SBIGINT: *out = {"OUT_OF_I64_RANGE", INT64_MIN, INT64_MAX}; return true;
    default: return false;
  }
}

// Writes an integer already known to be in range, in the width of the C type.
void StoreInteger(void* dest, SQLSMALLINT cType, jlong v) {
  switch (cType) {
    case SQL_C_BIT:
    case SQL_C_STINYINT: Store(dest, static_cast<std::int8_t>(v)); break;
    case SQL_C_SSHORT: Store(dest, static_cast<std::int16_t>(v)); break;
    case SQL_C_SLONG: Store(dest, static_cast<std::int32_t>(v)); break;
    default: Store(dest, static_cast<std::int64_t>(v)); break;
  }
}

bool IsDateTimeOrBinary(SQLSMALLINT cType) {
  return cType == SQL_C_BINARY || cType == SQL_C_TYPE_DATE || cType == SQL_C_TYPE_TIME ||
         cType == SQL_C_TYPE_TIMESTAMP;
}

// The modified UTF-8 bytes of a Java string, released on destruction.
class Utf8Chars {
 public:
  Utf8Chars(JNIEnv* env, jstring text) : env_(env), text_(text) {
    length_ = env->GetStringUTFLength(text);
    chars_ = env->GetStringUTFChars(text, nullptr);
  }
  ~Utf8Chars() {
    if (chars_ != nullptr) env_->ReleaseStringUTFChars(text_, chars_);
  }
  Utf8Chars(const Utf8Chars&) = delete;
  Utf8Chars& operator=(const Utf8Chars&) = delete;
  const char* chars() const { return chars_; }
  jsize length() const { return length_; }

 private:
  JNIEnv* env_;
  jstring text_;
  const char* chars_ = nullptr;
  jsize length_ = 0;
};

// A hexadecimal digit as the ASCII stream decodes it: upper-cased, then below 'A' the
// distance from '0', otherwise from 'A' - 10. Other characters are not refused; the
// arithmetic wraps in 8 bits.
std::uint8_t HexDigit(jbyte c) {
  const int upper = std::toupper(static_cast<unsigned char>(c));
  return static_cast<std::uint8_t>(upper < 'A' ? upper - '0' : upper - 55);
}

}  // namespace

// ---- Text copiers and parsers ----------------------------------------------------------

void* NativeWarnObj::copyChars(JNIEnv* env, void* buffer, SQLLEN size, SQLLEN* length,
                               const char* text, SQLLEN n, SQLLEN* newSize) {
  *length = 0;
  void* out = checkAndRealloc(env, buffer, size, n + 1, newSize);
  if (out == nullptr) return nullptr;
  const SQLLEN have = newSize != nullptr ? *newSize : size;
  const SQLLEN copied = n < have - 1 ? n : have - 1;
  auto* dest = static_cast<char*>(out);
  if (copied > 0) std::memcpy(dest, text, static_cast<std::size_t>(copied));
  dest[copied] = '\0';
  *length = copied;
  return out;
}

void* NativeWarnObj::copyJStringUTFChars(JNIEnv* env, void* buffer, SQLLEN size,
                                         SQLLEN* length, jstring text, SQLLEN* newSize) {
  if (text == nullptr) return NullValue(size, length, newSize);
  Utf8Chars chars(env, text);
  if (chars.chars() == nullptr) {
    *length = 0;
    return nullptr;  // OutOfMemoryError pending
  }
  return copyChars(env, buffer, size, length, chars.chars(), chars.length(), newSize);
}

namespace {

// A terminated modified UTF-8 copy of a Java string; empty() after a raise.
class TextCopy {
 public:
  TextCopy(JNIEnv* env, jstring text) {
    SQLLEN length = 0;
    SQLLEN size = 0;
    block_ = static_cast<char*>(
        NativeWarnObj::copyJStringUTFChars(env, nullptr, 0, &length, text, &size));
  }
  ~TextCopy() { NativeWarnObj::free(block_); }
  TextCopy(const TextCopy&) = delete;
  TextCopy& operator=(const TextCopy&) = delete;
  const char* text() const { return block_; }

 private:
  char* block_ = nullptr;
};

}  // namespace

bool NativeWarnObj::jstringToDouble(JNIEnv* env, double* out, jstring text) {
  *out = 0;
  TextCopy copy(env, text);
  if (copy.text() == nullptr) return false;
  double value = 0;
  if (std::sscanf(copy.text(), "%le", &value) != 1) {
    if (!env->ExceptionCheck())
      RaiseWith(env, "INVALID_NUMERIC_STRING", Strings()->valueOf(env, copy.text()));
    return false;
  }
  *out = value;
  return true;
}

bool NativeWarnObj::jstringToInt32(JNIEnv* env, std::int32_t* out, jstring text,
                                   const char* rangeKey) {
  *out = 0;
  TextCopy copy(env, text);
  if (copy.text() == nullptr) return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(copy.text(), &end, 10);
  const bool beyond = errno == ERANGE || parsed > INT32_MAX || parsed < INT32_MIN;
  // The rest may only be a fraction, which is dropped.
  bool ok = true;
  if (*end != '\0') {
    ok = *end == '.';
    for (const char* p = end + 1; ok && *p != '\0'; ++p)
      ok = *p >= '0' && *p <= '9';
  }
  if (!ok) {
    if (!env->ExceptionCheck())
      RaiseWith(env, "INVALID_NUMERIC_STRING", Strings()->valueOf(env, copy.text()));
    return false;
  }
  if (beyond) {
    if (!env->ExceptionCheck()) NOSE()->raiseError(env, rangeKey, 1, text);
    return false;
  }
  *out = static_cast<std::int32_t>(parsed);
  return true;
}

bool NativeWarnObj::jstringToInt64(JNIEnv* env, std::int64_t* out, jstring text) {
  *out = 0;
  TextCopy copy(env, text);
  if (copy.text() == nullptr) return false;
  std::int64_t value = 0;
  bool beyond = false;
  if (!ODBCW_SQLCHAR_TO_I64(reinterpret_cast<const SQLCHAR*>(copy.text()), &value, &beyond)) {
    if (!env->ExceptionCheck())
      NOSE()->raiseError(env, beyond ? "OUT_OF_I64_RANGE" : "INVALID_NUMERIC_STRING", 1, text);
    return false;
  }
  *out = value;
  return true;
}

void NativeWarnObj::raiseDriverWarning(JNIEnv* env, const char* key) {
  if (key == nullptr || env->ExceptionCheck()) return;
  jstring message = NOSE()->iResourceClass()->getString(env, key, 0);
  if (message == nullptr || env->ExceptionCheck()) {
    if (message != nullptr) env->DeleteLocalRef(message);
    return;
  }
  jobject made = NOSE()->sqlWarningClass()->createOrAppendSQLError(env, warnings, message,
                                                                    nullptr, 0);
  env->DeleteLocalRef(message);
  if (made == nullptr) return;
  if (warnings == nullptr) warnings = env->NewGlobalRef(made);
  env->DeleteLocalRef(made);
}

// ---- Numbers -------------------------------------------------------------------------------

namespace {

// A number as text: String.valueOf(value) (`text`, deleted here) through the string rule.
void* SetAsText(NativeWarnObj* self, JNIEnv* env, void* buffer, SQLSMALLINT cType,
                SQLLEN bufferSize, SQLLEN* length, jstring text, SQLLEN* newSize) {
  if (text == nullptr || env->ExceptionCheck()) {
    if (text != nullptr) env->DeleteLocalRef(text);
    *length = 0;
    if (newSize != nullptr) *newSize = bufferSize;
    return nullptr;
  }
  void* out = self->setString(env, buffer, cType, bufferSize, length, text, newSize);
  env->DeleteLocalRef(text);
  return out;
}

// The integer sources (byte, short, int, long): `asText` is String.valueOf(value).
template <class MakeText>
void* SetInteger(NativeWarnObj* self, JNIEnv* env, void* buffer, SQLSMALLINT cType,
                 SQLLEN bufferSize, SQLLEN* length, jlong value, SQLLEN* newSize,
                 MakeText asText) {
  if (cType == SQL_C_WCHAR || cType == kNumericText)
    return SetAsText(self, env, buffer, cType, bufferSize, length, asText(), newSize);
  Destination dest(env, buffer, bufferSize, length, newSize);
  if (IsDateTimeOrBinary(cType)) {
    Raise(env, "UNSUPPORTED_CONVERSION");
    return dest.failed();
  }
  IntRange range{};
  const bool integer = IntegerRange(cType, &range);
  if (!integer && cType != SQL_C_FLOAT && cType != SQL_C_DOUBLE) return dest.failed();
  if (!dest.secure(FixedCTypeBytes(cType))) return dest.failed();
  if (integer) {
    if (value < range.low || value > range.high) {
      RaiseWith(env, range.key, asText());
      return dest.failed();
    }
    StoreInteger(dest.data(), cType, value);
  } else if (cType == SQL_C_FLOAT) {
    Store(dest.data(), static_cast<float>(value));
  } else {
    Store(dest.data(), static_cast<double>(value));
  }
  return dest.done();
}

// The floating-point sources. `isFloat` selects the bounds of a float source where
// they differ from a double's; a NaN is out of range for every integer destination.
template <class MakeText>
void* SetFloating(NativeWarnObj* self, JNIEnv* env, void* buffer, SQLSMALLINT cType,
                  SQLLEN bufferSize, SQLLEN* length, double value, bool isFloat,
                  SQLLEN* newSize, MakeText asText) {
  if (cType == SQL_C_WCHAR || cType == kNumericText)
    return SetAsText(self, env, buffer, cType, bufferSize, length, asText(), newSize);
  Destination dest(env, buffer, bufferSize, length, newSize);
  if (IsDateTimeOrBinary(cType)) {
    Raise(env, "UNSUPPORTED_CONVERSION");
    return dest.failed();
  }
  const char* key = nullptr;
  bool inRange = true;
  switch (cType) {
    case SQL_C_BIT: key = "OUT_OF_I1_RANGE"; inRange = value >= 0.0 && value <= 1.0; break;
    case SQL_C_STINYINT:
      key = "OUT_OF_I8_RANGE"; inRange = value >= -128.0 && value <= 127.0; break;
    case SQL_C_SSHORT:
      key = "OUT_OF_I16_RANGE"; inRange = value >= -32768.0 && value <= 32767.0; break;
    case SQL_C_SLONG:
      key = "OUT_OF_I32_RANGE";
      inRange = isFloat ? value >= -2147483648.0 && value < 2147483648.0
                        : value >= -2147483648.0 && value <= 2147483647.0;
      break;
    case SQL_C_SBIGINT:
      key = "OUT_OF_I64_RANGE";
      inRange = value >= -9223372036854775808.0 && value < 9223372036854775808.0;
      break;
    case SQL_C_FLOAT:
      key = "OUT_OF_F32_RANGE"; inRange = isFloat || std::isnan(value) || std::fabs(value) <= kFloatMax;
      break;
    case SQL_C_DOUBLE: break;
    default: return dest.failed();
  }
  if (!dest.secure(FixedCTypeBytes(cType))) return dest.failed();
  if (!inRange) {
    RaiseWith(env, key, asText());
    return dest.failed();
  }
  if (cType == SQL_C_FLOAT) {
    Store(dest.data(), static_cast<float>(value));
  } else if (cType == SQL_C_DOUBLE) {
    Store(dest.data(), value);
  } else {
    StoreInteger(dest.data(), cType, static_cast<jlong>(value));  // truncated toward zero
  }
  return dest.done();
}

}  // namespace

void* NativeWarnObj::setBoolean(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                                SQLLEN* length, jboolean value, SQLLEN* newSize) {
  Destination dest(env, buffer, bufferSize, length, newSize);
  const int bit = value ? 1 : 0;
  switch (cType) {
    case SQL_C_WCHAR: {
      if (!dest.secure(4)) return dest.failed();
      const jchar units[2] = {static_cast<jchar>('0' + bit), 0};
      std::memcpy(dest.data(), units, sizeof units);
      *length = 2;
      return dest.done();
    }
    case kNumericText: {
      if (!dest.secure(2)) return dest.failed();
      auto* bytes = static_cast<char*>(dest.data());
      bytes[0] = static_cast<char>('0' + bit);
      bytes[1] = '\0';
      *length = 1;
      return dest.done();
    }
    case SQL_C_BIT:
    case SQL_C_STINYINT:
    case SQL_C_SSHORT:
    case SQL_C_SLONG:
    case SQL_C_SBIGINT:
      if (!dest.secure(FixedCTypeBytes(cType))) return dest.failed();
      StoreInteger(dest.data(), cType, bit);
      return dest.done();
    case SQL_C_FLOAT:
      if (!dest.secure(4)) return dest.failed();
      Store(dest.data(), static_cast<float>(bit));
      return dest.done();
    case SQL_C_DOUBLE:
      if (!dest.secure(8)) return dest.failed();
      Store(dest.data(), static_cast<double>(bit));
      return dest.done();
    default:
      if (IsDateTimeOrBinary(cType)) Raise(env, "UNSUPPORTED_CONVERSION");
      return dest.failed();
  }
}

void* NativeWarnObj::setByte(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                             SQLLEN* length, jbyte value, SQLLEN* newSize) {
  return SetInteger(this, env, buffer, cType, bufferSize, length, value, newSize,
                    [&] { return Strings()->valueOf(env, static_cast<jint>(value)); });
}

void* NativeWarnObj::setShort(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                              SQLLEN* length, jshort value, SQLLEN* newSize) {
  return SetInteger(this, env, buffer, cType, bufferSize, length, value, newSize,
                    [&] { return Strings()->valueOf(env, static_cast<jint>(value)); });
}

void* NativeWarnObj::setInt(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                            SQLLEN* length, jint value, SQLLEN* newSize) {
  return SetInteger(this, env, buffer, cType, bufferSize, length, value, newSize,
                    [&] { return Strings()->valueOf(env, value); });
}

void* NativeWarnObj::setLong(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                             SQLLEN* length, jlong value, SQLLEN* newSize) {
  return SetInteger(this, env, buffer, cType, bufferSize, length, value, newSize,
                    [&] { return Strings()->valueOf(env, value); });
}

void* NativeWarnObj::setFloat(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                              SQLLEN* length, jfloat value, SQLLEN* newSize) {
  return SetFloating(this, env, buffer, cType, bufferSize, length, value, true, newSize,
                     [&] { return Strings()->valueOf(env, value); });
}

void* NativeWarnObj::setDouble(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                               SQLLEN* length, jdouble value, SQLLEN* newSize) {
  return SetFloating(this, env, buffer, cType, bufferSize, length, value, false, newSize,
                     [&] { return Strings()->valueOf(env, value); });
}

// ---- BigDecimal --------------------------------------------------------------------------

void* NativeWarnObj::setBigDecimal(JNIEnv* env, void* buffer, SQLSMALLINT cType,
                                   SQLLEN bufferSize, SQLLEN* length, jobject value,
                                   SQLLEN* newSize) {
  if (value == nullptr) return NullValue(bufferSize, length, newSize);
  auto* decimals = static_cast<BigDecimalClass*>(NOSE()->wrapper(NativeObjSharedEnv::kBigDecimal));
  auto* objects = static_cast<ObjectClass*>(NOSE()->wrapper(NativeObjSharedEnv::kObject));
  if (cType == SQL_C_WCHAR) {
    jstring text = objects->toString(env, value);
    if (env->ExceptionCheck() || text == nullptr) {
      *length = 0;
      if (newSize != nullptr) *newSize = bufferSize;
      return nullptr;
    }
    void* out = setString(env, buffer, cType, bufferSize, length, text, newSize);
    env->DeleteLocalRef(text);
    return out;
  }
  Destination dest(env, buffer, bufferSize, length, newSize);
  switch (cType) {
    case kNumericText: {
      jstring text = objects->toString(env, value);
      if (env->ExceptionCheck() || text == nullptr) return dest.failed();
      void* out = nullptr;
      {
        Utf8Chars chars(env, text);  // released before the string's reference goes
        if (chars.chars() != nullptr && dest.secure(SQLLEN{chars.length()} + 1)) {
          std::memcpy(dest.data(), chars.chars(), static_cast<std::size_t>(chars.length()));
          static_cast<char*>(dest.data())[chars.length()] = '\0';
          *length = chars.length();
          out = dest.done();
        }
      }
      env->DeleteLocalRef(text);
      return out != nullptr ? out : dest.failed();
    }
    case SQL_C_BIT:
    case SQL_C_STINYINT:
    case SQL_C_SSHORT:
    case SQL_C_SLONG:
    case SQL_C_SBIGINT: {
      if (!dest.secure(FixedCTypeBytes(cType))) return dest.failed();
      const jlong v = decimals->longValue(env, value);
      if (env->ExceptionCheck()) return dest.failed();
      IntRange range{};
      IntegerRange(cType, &range);
      // longValue keeps only the low 64 bits of a larger integer part: 2^64 + 5 comes back
      // as 5. A wrapped result lies at least 2^63 from the value, an exact one within a
      // few units of rounding, so the value's double tells the two apart.
      const jdouble approx = decimals->doubleValue(env, value);
      if (env->ExceptionCheck()) return dest.failed();
      if (!(std::fabs(approx - static_cast<double>(v)) < 0x1p62)) {
        RaiseWith(env, range.key, Strings()->valueOf(env, value));
        return dest.failed();
      }
      if (v < range.low || v > range.high) {
        RaiseWith(env, range.key, v);
        return dest.failed();
      }
      StoreInteger(dest.data(), cType, v);
      return dest.done();
    }
    case SQL_C_FLOAT:
    case SQL_C_DOUBLE: {
      if (!dest.secure(FixedCTypeBytes(cType))) return dest.failed();
      const jdouble v = decimals->doubleValue(env, value);
      if (env->ExceptionCheck()) return dest.failed();
      if (cType == SQL_C_DOUBLE) {
        Store(dest.data(), v);
        return dest.done();
      }
      if (std::fabs(v) > kFloatMax) {
        RaiseWith(env, "OUT_OF_F32_RANGE", v);
        return dest.failed();
      }
      Store(dest.data(), static_cast<float>(v));
      return dest.done();
    }
    case SQL_C_NUMERIC: {
      if (!dest.secure(kNumericRecordBytes)) return dest.failed();
      auto* integers = static_cast<BigIntegerClass*>(NOSE()->wrapper(NativeObjSharedEnv::kBigInteger));
      jobject unscaled = decimals->unscaledValue(env, value);
      if (env->ExceptionCheck() || unscaled == nullptr) return dest.failed();
      jbyteArray bytes = integers->toByteArray(env, unscaled);
      if (env->ExceptionCheck() || bytes == nullptr) {
        env->DeleteLocalRef(unscaled);
        return dest.failed();
      }
      const jsize n = env->GetArrayLength(bytes);
      if (n > 15) {
        env->DeleteLocalRef(bytes);
        env->DeleteLocalRef(unscaled);
        RaiseWith(env, "OUT_OF_NUMERIC_STRUCT", Strings()->valueOf(env, value));
        return dest.failed();
      }
      jbyte twos[15] = {};
      env->GetByteArrayRegion(bytes, 0, n, twos);
      const jint bits = integers->bitLength(env, unscaled);
      const jint scale = decimals->scale(env, value);
      const jint sign = decimals->signum(env, value);
      env->DeleteLocalRef(bytes);
      env->DeleteLocalRef(unscaled);
      if (env->ExceptionCheck()) return dest.failed();
      // The record's scale is one signed byte: 1E-200 or 1E+300 cannot be written.
      if (scale < -128 || scale > 127) {
        RaiseWith(env, "OUT_OF_NUMERIC_STRUCT", Strings()->valueOf(env, value));
        return dest.failed();
      }
      // Magnitude of the big-endian two's-complement value, least significant first.
      SQL_NUMERIC_STRUCT record{};
      const bool negative = n > 0 && twos[0] < 0;
      unsigned carry = 1;
      for (jsize i = 0; i < n; ++i) {
        unsigned byte = static_cast<std::uint8_t>(twos[n - 1 - i]);
        if (negative) {
          byte = (~byte & 0xFFu) + carry;
          carry = byte >> 8;
        }
        record.val[i] = static_cast<SQLCHAR>(byte & 0xFFu);
      }
      int precision = static_cast<int>(std::ceil(bits * 0.3010299956639812));
      record.precision = static_cast<SQLCHAR>(precision == 0 ? 1 : precision);
      record.scale = static_cast<SQLSCHAR>(scale);
      record.sign = sign >= 0 ? 1 : 0;
      std::memcpy(dest.data(), &record, sizeof record);
      *length = kNumericRecordBytes;
      return dest.done();
    }
    default:
      if (IsDateTimeOrBinary(cType)) Raise(env, "UNSUPPORTED_CONVERSION");
      return dest.failed();
  }
}

// ---- String ----------------------------------------------------------------------------------

void* NativeWarnObj::setString(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                               SQLLEN* length, jstring value, SQLLEN* newSize) {
  if (value == nullptr) return NullValue(bufferSize, length, newSize);
  Destination dest(env, buffer, bufferSize, length, newSize);
  switch (cType) {
    case SQL_C_WCHAR: {
      const jsize n = env->GetStringLength(value);
      // Without a growth slot the text must fit with its terminator.
      if (!dest.secure(2 * SQLLEN{n} + 2)) return dest.failed();
      env->GetStringRegion(value, 0, n, static_cast<jchar*>(dest.data()));
      if (env->ExceptionCheck()) return dest.failed();
      static_cast<jchar*>(dest.data())[n] = 0;
      *length = 2 * SQLLEN{n};
      return dest.done();
    }
    case kNumericText:
    case SQL_C_BINARY: {
      Utf8Chars chars(env, value);
      if (chars.chars() == nullptr) return dest.failed();
      if (!dest.secure(SQLLEN{chars.length()} + 1)) return dest.failed();
      std::memcpy(dest.data(), chars.chars(), static_cast<std::size_t>(chars.length()));
      static_cast<char*>(dest.data())[chars.length()] = '\0';
      *length = chars.length();
      return dest.done();
    }
    case SQL_C_DOUBLE:
    case SQL_C_FLOAT: {
      if (!dest.secure(FixedCTypeBytes(cType))) return dest.failed();
      double v = 0;
      if (!jstringToDouble(env, &v, value)) return dest.failed();
      if (cType == SQL_C_DOUBLE) {
        Store(dest.data(), v);
        return dest.done();
      }
      if (std::fabs(v) > kFloatMax) {
        RaiseWith(env, "OUT_OF_F32_RANGE", v);
        return dest.failed();
      }
      Store(dest.data(), static_cast<float>(v));
      return dest.done();
    }
    case SQL_C_SLONG:
    case SQL_C_SSHORT:
    case SQL_C_STINYINT:
    case SQL_C_BIT: {
      if (!dest.secure(FixedCTypeBytes(cType))) return dest.failed();
      IntRange range{};
      IntegerRange(cType, &range);
      std::int32_t v = 0;
      if (!jstringToInt32(env, &v, value, range.key)) return dest.failed();
      if (v < range.low || v > range.high) {
        RaiseWith(env, range.key, jlong{v});
        return dest.failed();
      }
      StoreInteger(dest.data(), cType, v);
      return dest.done();
    }
    case SQL_C_SBIGINT: {
      if (!dest.secure(8)) return dest.failed();
      std::int64_t v = 0;
      if (!jstringToInt64(env, &v, value)) return dest.failed();
      Store(dest.data(), v);
      return dest.done();
    }
    case SQL_C_TYPE_DATE:
    case SQL_C_TYPE_TIME:
    case SQL_C_TYPE_TIMESTAMP: {
      if (!dest.secure(FixedCTypeBytes(cType))) return dest.failed();
      IConnectionClass* connections = NOSE()->iConnectionClass();
      jobject connection = getConnection();
      bool parsed = false;
      if (cType == SQL_C_TYPE_DATE) {
        parsed = connections->parseDate(env, connection, value,
                                        static_cast<SQL_DATE_STRUCT*>(dest.data()), nullptr);
      } else if (cType == SQL_C_TYPE_TIME) {
        parsed = connections->parseTime(env, connection, value,
                                        static_cast<SQL_TIME_STRUCT*>(dest.data()), nullptr);
      } else {
        parsed = connections->parseTimestamp(
            env, connection, value, static_cast<SQL_TIMESTAMP_STRUCT*>(dest.data()), nullptr);
      }
      if (!parsed || env->ExceptionCheck()) return dest.failed();
      return dest.done();
    }
    default:
      return dest.failed();
  }
}

// ---- Dates and times ------------------------------------------------------------------------

namespace {

enum class DateKind { kDate, kTime, kTimestamp };

void* SetDateTime(NativeWarnObj* self, JNIEnv* env, void* buffer, SQLSMALLINT cType,
                  SQLLEN bufferSize, SQLLEN* length, jobject value, SQLLEN* newSize,
                  DateKind kind) {
  if (value == nullptr) return NullValue(bufferSize, length, newSize);
  IConnectionClass* connections = NOSE()->iConnectionClass();
  if (cType == SQL_C_WCHAR) {
    jobject connection = self->getConnection();
    jstring text = kind == DateKind::kDate ? connections->formatDateObj(env, connection, value)
                   : kind == DateKind::kTime
                       ? connections->formatTimeObj(env, connection, value)
                       : connections->formatTimestampObj(env, connection, value);
    if (env->ExceptionCheck() || text == nullptr) {
      *length = 0;
      if (newSize != nullptr) *newSize = bufferSize;
      return nullptr;
    }
    void* out = self->setString(env, buffer, cType, bufferSize, length, text, newSize);
    env->DeleteLocalRef(text);
    return out;
  }
  Destination dest(env, buffer, bufferSize, length, newSize);
  auto* calendar = static_cast<CalendarClass*>(NOSE()->wrapper(NativeObjSharedEnv::kCalendar));
  const bool allowed = cType == SQL_C_TYPE_TIMESTAMP ||
                       (cType == SQL_C_TYPE_DATE && kind != DateKind::kTime) ||
                       (cType == SQL_C_TYPE_TIME && kind == DateKind::kTime);
  if (!allowed) {
    Raise(env, "UNSUPPORTED_CONVERSION");
    return dest.failed();
  }
  if (!dest.secure(FixedCTypeBytes(cType))) return dest.failed();
  if (cType == SQL_C_TYPE_TIMESTAMP) {
    SQL_TIMESTAMP_STRUCT record{};
    calendar->utDateToSQLTimestamp(env, value, &record);
    if (env->ExceptionCheck()) return dest.failed();
    if (kind == DateKind::kTimestamp) {
      auto* stamps = static_cast<SQLDateTimeClasses*>(NOSE()->wrapper(NativeObjSharedEnv::kTimestamp));
      record.fraction = static_cast<SQLUINTEGER>(stamps->getNanos(env, value));
      if (env->ExceptionCheck()) return dest.failed();
    }
    std::memcpy(dest.data(), &record, sizeof record);
    *length = sizeof record;
  } else if (cType == SQL_C_TYPE_DATE) {
    SQL_DATE_STRUCT record{};
    calendar->utDateToSQLDate(env, value, &record);
    if (env->ExceptionCheck()) return dest.failed();
    std::memcpy(dest.data(), &record, sizeof record);
    *length = sizeof record;
  } else {
    SQL_TIME_STRUCT record{};
    calendar->utDateToSQLTime(env, value, &record);
    if (env->ExceptionCheck()) return dest.failed();
    std::memcpy(dest.data(), &record, sizeof record);
    *length = sizeof record;
  }
  return dest.done();
}

}  // namespace

void* NativeWarnObj::setDate(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                             SQLLEN* length, jobject value, SQLLEN* newSize) {
  return SetDateTime(this, env, buffer, cType, bufferSize, length, value, newSize, DateKind::kDate);
}

void* NativeWarnObj::setTime(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                             SQLLEN* length, jobject value, SQLLEN* newSize) {
  return SetDateTime(this, env, buffer, cType, bufferSize, length, value, newSize, DateKind::kTime);
}

void* NativeWarnObj::setTimestamp(JNIEnv* env, void* buffer, SQLSMALLINT cType,
                                  SQLLEN bufferSize, SQLLEN* length, jobject value,
                                  SQLLEN* newSize) {
  return SetDateTime(this, env, buffer, cType, bufferSize, length, value, newSize,
                     DateKind::kTimestamp);
}

// ---- Bytes and streams ---------------------------------------------------------------------

void* NativeWarnObj::setBytes(JNIEnv* env, void* buffer, SQLSMALLINT cType, SQLLEN bufferSize,
                              SQLLEN* length, jbyteArray value, SQLLEN* newSize) {
  if (value == nullptr) return NullValue(bufferSize, length, newSize);
  Destination dest(env, buffer, bufferSize, length, newSize);
  if (cType != SQL_C_BINARY) {
    Raise(env, "UNSUPPORTED_CONVERSION");
    return dest.failed();
  }
  const jsize n = env->GetArrayLength(value);
  if (!dest.secure(n)) return dest.failed();
  env->GetByteArrayRegion(value, 0, n, static_cast<jbyte*>(dest.data()));
  if (env->ExceptionCheck()) return dest.failed();
  *length = n;
  return dest.done();
}

void* NativeWarnObj::setBinaryStream(JNIEnv* env, void* buffer, SQLSMALLINT cType,
                                     SQLLEN bufferSize, SQLLEN* length, jobject stream,
                                     jint streamLength, SQLLEN* newSize) {
  if (stream == nullptr) return NullValue(bufferSize, length, newSize);
  Destination dest(env, buffer, bufferSize, length, newSize);
  if (streamLength != -1 && streamLength < 1) {
    Raise(env, "BAD_STREAM_LEN");
    return dest.failed();
  }
  if (cType != SQL_C_BINARY) {
    Raise(env, "UNSUPPORTED_CONVERSION");
    return dest.failed();
  }
  const bool unknown = streamLength == -1;
  // An unknown length without a growth slot reads into the fixed buffer as it is.
  SQLLEN requested = unknown ? (dest.growable() ? kStreamStep : bufferSize) : streamLength;
  if (!dest.secure(requested)) return dest.failed();
  auto* streams = static_cast<InputStreamClass*>(NOSE()->wrapper(NativeObjSharedEnv::kInputStream));
  SQLLEN got = 0;
  for (;;) {
    if (got == requested) {
      if (!unknown) break;
      if (!dest.growable()) {
        // Full: one more byte means the value does not fit.
        jbyte probe = 0;
        const jint more = streams->read(env, stream, &probe, 1);
        if (env->ExceptionCheck()) return dest.failed();
        if (more > 0) {
          Raise(env, "OVERSIZE_UPDATE");
          return dest.failed();
        }
        break;
      }
      requested += kStreamStep;
      if (!dest.secure(requested)) return dest.failed();
    }
    const SQLLEN room = requested - got;
    const jint chunk = room < kStreamChunk ? static_cast<jint>(room) : kStreamChunk;
    const jint n = streams->read(env, stream, static_cast<jbyte*>(dest.data()) + got, chunk);
    if (env->ExceptionCheck()) return dest.failed();
    if (n < 0) break;
    got += n;
  }
  *length = got;
  return dest.done();
}

void* NativeWarnObj::setAsciiStream(JNIEnv* env, void* buffer, SQLSMALLINT cType,
                                    SQLLEN bufferSize, SQLLEN* length, jobject stream,
                                    jint streamLength, SQLLEN* newSize) {
  if (stream == nullptr) return NullValue(bufferSize, length, newSize);
  Destination dest(env, buffer, bufferSize, length, newSize);
  if (streamLength != -1 && streamLength < 1) {
    Raise(env, "BAD_STREAM_LEN");
    return dest.failed();
  }
  int group = 0;  // hex digits per unit written
  if (cType == SQL_C_WCHAR) {
    group = 4;
    if (streamLength != -1 && streamLength % 4 != 0) {
      Raise(env, "NON4_ASCII_STREAM");
      return dest.failed();
    }
  } else if (cType == SQL_C_BINARY) {
    group = 2;
    if (streamLength != -1 && streamLength % 2 != 0) {
      Raise(env, "NON2_ASCII_STREAM");
      return dest.failed();
    }
  } else {
    if (FixedCTypeBytes(cType) != 0 || cType == kNumericText) Raise(env, "UNSUPPORTED_CONVERSION");
    return dest.failed();
  }
  const bool unknown = streamLength == -1;
  // Hex digits that may be read before the request must grow.
  SQLLEN digitsAllowed = unknown ? (dest.growable() ? kStreamStep : 2 * bufferSize) : streamLength;
  if (!dest.secure(digitsAllowed / 2)) return dest.failed();
  auto* streams = static_cast<InputStreamClass*>(NOSE()->wrapper(NativeObjSharedEnv::kInputStream));
  jbyte chunk[kStreamChunk];
  jbyte pending[4];  // digits of a group a read split
  int pendingCount = 0;
  SQLLEN digits = 0;
  SQLLEN written = 0;  // bytes
  for (;;) {
    if (digits == digitsAllowed) {
      if (!unknown) break;
      if (!dest.growable()) {
        jbyte probe = 0;
        const jint more = streams->read(env, stream, &probe, 1);
        if (env->ExceptionCheck()) return dest.failed();
        if (more > 0) {
          Raise(env, "OVERSIZE_UPDATE");
          return dest.failed();
        }
        break;
      }
      const SQLLEN need = digits / 2 + 65536;
      if (!dest.secure(need)) return dest.failed();
      digitsAllowed = 2 * need;
    }
    const SQLLEN room = digitsAllowed - digits;
    const jint want = room < kStreamChunk ? static_cast<jint>(room) : kStreamChunk;
    const jint n = streams->read(env, stream, chunk, want);
    if (env->ExceptionCheck()) return dest.failed();
    if (n < 0) break;
    digits += n;
    // Whole groups are decoded as they arrive; a split group waits for its next digits.
    auto* out = static_cast<std::uint8_t*>(dest.data());
    for (jint i = 0; i < n; ++i) {
      pending[pendingCount++] = chunk[i];
      if (pendingCount < group) continue;
      pendingCount = 0;
      if (group == 2) {
        out[written++] = static_cast<std::uint8_t>((HexDigit(pending[0]) << 4) | HexDigit(pending[1]));
      } else {
        const jchar unit = static_cast<jchar>((HexDigit(pending[0]) << 12) | (HexDigit(pending[1]) << 8) |
                                              (HexDigit(pending[2]) << 4) | HexDigit(pending[3]));
        std::memcpy(out + written, &unit, sizeof unit);
        written += 2;
      }
    }
  }
  *length = written;
  return dest.done();
}

void* NativeWarnObj::setCharacterStream(JNIEnv* env, void* buffer, SQLSMALLINT cType,
                                        SQLLEN bufferSize, SQLLEN* length, jobject reader,
                                        jint streamLength, SQLLEN* newSize) {
  if (reader == nullptr) return NullValue(bufferSize, length, newSize);
  *length = 0;
  if (newSize != nullptr) *newSize = bufferSize;
  if (streamLength < 1) {
    Raise(env, "BAD_STREAM_LEN");
    return nullptr;
  }
  auto* readers = static_cast<ReaderClass*>(NOSE()->wrapper(NativeObjSharedEnv::kReader));
  jint count = 0;
  jstring text = readers->read(env, reader, streamLength, &count);
  if (env->ExceptionCheck()) {
    if (text != nullptr) env->DeleteLocalRef(text);
    return nullptr;
  }
  if (count != streamLength) {
    if (text != nullptr) env->DeleteLocalRef(text);
    jstring asked = Strings()->valueOf(env, streamLength);
    jstring got = env->ExceptionCheck() ? nullptr : Strings()->valueOf(env, count);
    if (!env->ExceptionCheck()) NOSE()->raiseError(env, "INCOMPLETE_CHAR_STREAM_READ", 2, asked, got);
    if (asked != nullptr) env->DeleteLocalRef(asked);
    if (got != nullptr) env->DeleteLocalRef(got);
    return nullptr;
  }
  void* out = setString(env, buffer, cType, bufferSize, length, text, newSize);
  env->DeleteLocalRef(text);
  return out;
}
