// ODBC values into Java values, and server messages and file-transfer requests delivered
// to the Java connection, in the Java VM the bridge tests start (bridge_jvm_test.cpp).
// Values go through the make* converters as bytes of each C type and are read back as
// Java's text of the result, or the key of the error raised. Callbacks are fired the way
// the driver fires them, from the Java thread and from threads the VM has never seen.
#include <jni.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "fake_odbc_api.h"
#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/misccls.h"
#include "jdbcodbc/c/nativeobj.h"
#include "jvm_test_support.h"

extern "C" void jdbcMessageCallback(SQLHDBC identity, std::uint8_t messageType, std::int32_t,
                                    std::uint16_t length, const char* text);
extern "C" int jdbcValidateFileTransferCallback(SQLHDBC identity, const char* fileName,
                                                int value);

namespace {

constexpr SQLSMALLINT kNumericText = -9999;

std::string ToStd(JNIEnv* env, jstring s) {
  if (env->ExceptionCheck()) return "<exception>";
  if (s == nullptr) return "<null>";
  const jsize n = env->GetStringLength(s);
  std::vector<jchar> units(static_cast<std::size_t>(n));
  env->GetStringRegion(s, 0, n, units.data());
  std::string out;
  for (jchar u : units) {
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
    } else {
      char hex[12];
      std::snprintf(hex, sizeof hex, "\\u%04X", u);
      out += hex;
    }
  }
  return out;
}

// A peer whose Java connection is a real IConnection object (its parsers, formatters and
// isTrue are plain Java).
class ValuePeer : public NativeWarnObj {
 public:
  explicit ValuePeer(jobject connection) : connection_(connection) {}
  ConstructibleINativeClass* getConstructibleINativeClass() override { return nullptr; }
  jobject getConnection() override { return connection_; }
  Connection* getNConnection() override { return nullptr; }

 private:
  jobject connection_;
};

class JvmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env = jvm_test::CurrentEnv();
    if (env == nullptr) GTEST_SKIP() << "no Java VM in a sanitizer build";
  }
  void TearDown() override {
    if (env != nullptr) {
      EXPECT_FALSE(env->ExceptionCheck());
    }
  }
  // "!" and the message of the pending exception (cleared), else "".
  std::string TakeError() {
    jthrowable t = env->ExceptionOccurred();
    if (t == nullptr) return "";
    env->ExceptionClear();
    jclass cls = env->GetObjectClass(t);
    auto* message = static_cast<jstring>(
        env->CallObjectMethod(t, env->GetMethodID(cls, "getMessage", "()Ljava/lang/String;")));
    EXPECT_FALSE(env->ExceptionCheck());
    std::string text = "!" + ToStd(env, message);
    env->DeleteLocalRef(message);
    env->DeleteLocalRef(cls);
    env->DeleteLocalRef(t);
    return text;
  }
  std::string ObjectText(jobject value) {
    if (env->ExceptionCheck()) return TakeError();
    if (value == nullptr) return "<null>";
    auto* text = NOSE()->stringClass()->valueOf(env, value);
    std::string out = ToStd(env, text);
    env->DeleteLocalRef(text);
    env->DeleteLocalRef(value);
    return out;
  }
  JNIEnv* env = nullptr;
};

// ---- Values ------------------------------------------------------------------------------

class Values : public JvmTest {
 protected:
  void SetUp() override {
    JvmTest::SetUp();
    if (env == nullptr) return;
    jconnection = NOSE()->iConnectionClass()->constructJavaObj(env, 0);
    ASSERT_NE(jconnection, nullptr);
    peer = new ValuePeer(jconnection);
  }
  void TearDown() override {
    delete peer;
    if (jconnection != nullptr) env->DeleteLocalRef(jconnection);
    JvmTest::TearDown();
  }

 public:
  // The result of converter `target` as text, or "!" and the error's message.
  std::string Convert(const std::string& target, SQLSMALLINT cType, const void* data,
                      SQLLEN length, bool cLocale = false) {
    auto* p = const_cast<void*>(data);
    std::string out;
    if (target == "byte") out = std::to_string(peer->makeByte(env, p, cType, length, cLocale));
    else if (target == "short") out = std::to_string(peer->makeShort(env, p, cType, length, cLocale));
    else if (target == "int") out = std::to_string(peer->makeInt(env, p, cType, length, cLocale));
    else if (target == "long") out = std::to_string(peer->makeLong(env, p, cType, length));
    else if (target == "float") out = Real(peer->makeFloat(env, p, cType, length, cLocale));
    else if (target == "double") out = Real(peer->makeDouble(env, p, cType, length, cLocale));
    else if (target == "boolean") out = peer->makeBoolean(env, p, cType, length) ? "true" : "false";
    else if (target == "string") out = ToStdAndFree(peer->makeString(env, p, cType, length));
    else if (target == "decimal2") out = ObjectText(peer->makeBigDecimal(env, p, cType, length, 2));
    else if (target == "decimal") out = ObjectText(peer->makeBigDecimal(env, p, cType, length, -1));
    else if (target == "date") out = ObjectText(peer->makeDate(env, p, cType, length, nullptr));
    else if (target == "time") out = ObjectText(peer->makeTime(env, p, cType, length, nullptr));
    else if (target == "timestamp") out = ObjectText(peer->makeTimestamp(env, p, cType, length, nullptr));
    else if (target == "bytes") out = Bytes(peer->makeBytes(env, p, cType, length));
    else ADD_FAILURE() << target;
    const std::string error = TakeError();
    return error.empty() ? out : error;
  }
  std::string ToStdAndFree(jstring s) {
    std::string out = ToStd(env, s);
    if (s != nullptr) env->DeleteLocalRef(s);
    return out;
  }
  static std::string Real(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
  }
  std::string Bytes(jbyteArray bytes) {
    if (env->ExceptionCheck() || bytes == nullptr) return "<null>";
    const jsize n = env->GetArrayLength(bytes);
    std::vector<jbyte> data(static_cast<std::size_t>(n));
    env->GetByteArrayRegion(bytes, 0, n, data.data());
    env->DeleteLocalRef(bytes);
    std::string out;
    for (jbyte b : data) out += std::to_string(static_cast<unsigned char>(b)) + " ";
    return out;
  }

  jobject jconnection = nullptr;
  ValuePeer* peer = nullptr;
};

// A value in its C type's bytes.
struct Source {
  SQLSMALLINT cType;
  std::vector<unsigned char> bytes;
  SQLLEN length;  // -1 for NULL; else the byte count
};

template <class T>
Source Fixed(SQLSMALLINT cType, T value) {
  Source s{cType, std::vector<unsigned char>(sizeof value), static_cast<SQLLEN>(sizeof value)};
  std::memcpy(s.bytes.data(), &value, sizeof value);
  return s;
}
Source Narrow(const std::string& text, SQLSMALLINT cType = kNumericText) {
  // The byte after the data is not a terminator: the converters must not need one.
  Source s{cType, std::vector<unsigned char>(text.begin(), text.end()),
           static_cast<SQLLEN>(text.size())};
  s.bytes.push_back('9');
  return s;
}
Source Wide(const std::u16string& text) {
  Source s{SQL_C_WCHAR, std::vector<unsigned char>(text.size() * 2 + 2, 0),
           static_cast<SQLLEN>(text.size() * 2)};
  std::memcpy(s.bytes.data(), text.data(), text.size() * 2);
  return s;
}
Source Date(int y, int m, int d) {
  SQL_DATE_STRUCT v{static_cast<SQLSMALLINT>(y), static_cast<SQLUSMALLINT>(m),
                    static_cast<SQLUSMALLINT>(d)};
  return Fixed(SQL_C_TYPE_DATE, v);
}
Source Time(int h, int mi, int s) {
  SQL_TIME_STRUCT v{static_cast<SQLUSMALLINT>(h), static_cast<SQLUSMALLINT>(mi),
                    static_cast<SQLUSMALLINT>(s)};
  return Fixed(SQL_C_TYPE_TIME, v);
}
Source Stamp(int y, int m, int d, int h, int mi, int s, SQLUINTEGER fraction) {
  SQL_TIMESTAMP_STRUCT v{static_cast<SQLSMALLINT>(y), static_cast<SQLUSMALLINT>(m),
                         static_cast<SQLUSMALLINT>(d), static_cast<SQLUSMALLINT>(h),
                         static_cast<SQLUSMALLINT>(mi), static_cast<SQLUSMALLINT>(s), fraction};
  return Fixed(SQL_C_TYPE_TIMESTAMP, v);
}

struct Case {
  const char* name;
  Source source;
  const char* target;
  std::string expected;
};

void RunCases(Values& t, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> copy = c.source.bytes;
    EXPECT_EQ(t.Convert(c.target, c.source.cType, copy.data(), c.source.length), c.expected);
    // Nothing is written into the caller's buffer.
    EXPECT_EQ(copy, c.source.bytes);
  }
}

TEST_F(Values, NumbersFollowTheRangeTable) {
  const double kNaN = std::nan("");
  RunCases(*this, {
      {"tinyint to byte", Fixed<std::int8_t>(SQL_C_STINYINT, -5), "byte", "-5"},
      {"bit to long", Fixed<std::int8_t>(SQL_C_BIT, 1), "long", "1"},
      {"short 200 to byte", Fixed<std::int16_t>(SQL_C_SSHORT, 200), "byte", "!OUT_OF_I8_RANGE|200"},
      {"short -128 to byte", Fixed<std::int16_t>(SQL_C_SSHORT, -128), "byte", "-128"},
      {"slong 40000 to short", Fixed<std::int32_t>(SQL_C_SLONG, 40000), "short",
       "!OUT_OF_I16_RANGE|40000"},
      {"slong 32767 to short", Fixed<std::int32_t>(SQL_C_SLONG, 32767), "short", "32767"},
      {"bigint 2^31 to int", Fixed<std::int64_t>(SQL_C_SBIGINT, 2147483648LL), "int",
       "!OUT_OF_I32_RANGE|2147483648"},
      {"bigint -2^31 to int", Fixed<std::int64_t>(SQL_C_SBIGINT, -2147483648LL), "int",
       "-2147483648"},
      {"double 127.9 to byte", Fixed<double>(SQL_C_DOUBLE, 127.9), "byte",
       "!OUT_OF_I8_RANGE|127.9"},
      {"double -12.7 to short", Fixed<double>(SQL_C_DOUBLE, -12.7), "short", "-12"},
      {"float 2^31 to int", Fixed<float>(SQL_C_FLOAT, 2147483648.0f), "int", "2147483647"},
      {"float -2^31 to int", Fixed<float>(SQL_C_FLOAT, -2147483648.0f), "int", "-2147483648"},
      {"float 1e10 to int", Fixed<float>(SQL_C_FLOAT, 1e10f), "int", "!OUT_OF_I32_RANGE|1.0E10"},
      {"double 2^31 to int", Fixed<double>(SQL_C_DOUBLE, 2147483648.0), "int",
       "!OUT_OF_I32_RANGE|2.147483648E9"},
      {"double 2147483647.0 to int", Fixed<double>(SQL_C_DOUBLE, 2147483647.0), "int",
       "2147483647"},
      {"double 9.3e18 to long", Fixed<double>(SQL_C_DOUBLE, 9.3e18), "long",
       "!OUT_OF_I64_RANGE|9.3E18"},
      {"double -2^63 to long", Fixed<double>(SQL_C_DOUBLE, -9223372036854775808.0), "long",
       "-9223372036854775808"},
      {"double 1e39 to float", Fixed<double>(SQL_C_DOUBLE, 1e39), "float",
       "!OUT_OF_F32_RANGE|1.0E39"},
      {"double 0.5 to float", Fixed<double>(SQL_C_DOUBLE, 0.5), "float", "0.5"},
      // NaN has no integer: the range key, never an undefined cast.
      {"NaN to int", Fixed<double>(SQL_C_DOUBLE, kNaN), "int", "!OUT_OF_I32_RANGE|NaN"},
      {"NaN to long", Fixed<double>(SQL_C_DOUBLE, kNaN), "long", "!OUT_OF_I64_RANGE|NaN"},
      {"NaN float to byte", Fixed<float>(SQL_C_FLOAT, static_cast<float>(kNaN)), "byte",
       "!OUT_OF_I8_RANGE|NaN"},
      {"NaN to float", Fixed<double>(SQL_C_DOUBLE, kNaN), "float", "nan"},
      {"binary to int", Source{SQL_C_BINARY, {1, 2}, 2}, "int", "!UNSUPPORTED_CONVERSION"},
      {"date to double", Date(2024, 2, 29), "double", "!UNSUPPORTED_CONVERSION"},
      {"unknown type to int", Fixed<std::int32_t>(99, 7), "int", "0"},
  });
}

TEST_F(Values, NumericTextFollowsTheTextRules) {
  RunCases(*this, {
      {"12.75 to int", Narrow("12.75"), "int", "12"},
      {"12.7x to int", Narrow("12.7x"), "int", "!INVALID_NUMERIC_STRING|12.7x"},
      {"wide 12 and spaces to int", Wide(u"12  "), "int", "12"},
      {"wide 12x to int", Wide(u"12x"), "int", "!INVALID_NUMERIC_STRING|12x"},
      {"wide 12.5 to short", Wide(u"12.5"), "short", "12"},
      {"text 300 to byte", Narrow("300"), "byte", "!OUT_OF_I8_RANGE|300"},
      // A number beyond the target's range is refused, never cut or wrapped to another.
      {"text 99999999999 to int", Narrow("99999999999"), "int", "!OUT_OF_I32_RANGE|99999999999"},
      {"wide 4294967297 to int", Wide(u"4294967297"), "int", "!OUT_OF_I32_RANGE|4294967297"},
      {"text -2147483648 to int", Narrow("-2147483648"), "int", "-2147483648"},
      {"wide -2147483648 to int", Wide(u"-2147483648"), "int", "-2147483648"},
      {"wide 2147483648 to int", Wide(u"2147483648"), "int", "!OUT_OF_I32_RANGE|2147483648"},
      {"text 9000000000 to long", Narrow("9000000000"), "long", "9000000000"},
      {"text 2^64 + 1 to long", Narrow("18446744073709551617"), "long",
       "!OUT_OF_I64_RANGE|18446744073709551617"},
      {"wide -2^63 - 1 to long", Wide(u"-9223372036854775809"), "long",
       "!OUT_OF_I64_RANGE|-9223372036854775809"},
      {"wide -2^63 to long", Wide(u"-9223372036854775808"), "long", "-9223372036854775808"},
      {"text 99999999999999999999x to long", Narrow("99999999999999999999x"), "long",
       "!INVALID_NUMERIC_STRING|99999999999999999999x"},
      {"wide -42 to long", Wide(u"-42"), "long", "-42"},
      {"text abc to long", Narrow("abc"), "long", "!INVALID_NUMERIC_STRING|abc"},
      {"1.5e3 to float", Narrow("1.5e3"), "float", "1500"},
      {"1.5 and a space to float", Narrow("1.5 "), "float", "!INVALID_NUMERIC_STRING|1.5 "},
      {"empty text to double", Narrow(""), "double", "!INVALID_NUMERIC_STRING|"},
      {"wide 2.25 to double", Wide(u"2.25"), "double", "2.25"},
      {"text 1e39 to float", Narrow("1e39"), "float", "!OUT_OF_F32_RANGE|1.0E39"},
  });
}

TEST_F(Values, TruthIsExactlyOne) {
  RunCases(*this, {
      {"slong 1", Fixed<std::int32_t>(SQL_C_SLONG, 1), "boolean", "true"},
      {"slong 2", Fixed<std::int32_t>(SQL_C_SLONG, 2), "boolean", "false"},
      {"double 1.0", Fixed<double>(SQL_C_DOUBLE, 1.0), "boolean", "true"},
      {"text +1.00", Narrow("+1.00"), "boolean", "true"},
      {"text 1", Narrow("1"), "boolean", "true"},
      {"text 10", Narrow("10"), "boolean", "false"},
      {"text 1.5", Narrow("1.5"), "boolean", "false"},
      // UTF-16 text is judged by the Java connection.
      {"wide yes", Wide(u" yes"), "boolean", "true"},
      {"wide no", Wide(u"no"), "boolean", "false"},
      {"time", Time(1, 2, 3), "boolean", "!UNSUPPORTED_CONVERSION"},
  });
}

TEST_F(Values, StringsOfEveryType) {
  RunCases(*this, {
      {"wide", Wide(u"h\u00e9llo"), "string", "h\\u00E9llo"},
      {"numeric text", Narrow("-12.50"), "string", "-12.50"},
      {"binary as modified UTF-8", Narrow("caf\xc3\xa9", SQL_C_BINARY), "string", "caf\\u00E9"},
      // Bytes that are no valid sequence become U+FFFD instead of reaching the VM.
      {"binary, invalid bytes", Source{SQL_C_BINARY, {'a', 0xFF, 0xC3, 'b'}, 4}, "string",
       "a\\uFFFD\\uFFFDb"},
      {"binary stops at a zero byte", Source{SQL_C_BINARY, {'a', 0, 'b'}, 3}, "string", "a"},
      {"tinyint", Fixed<std::int8_t>(SQL_C_STINYINT, -3), "string", "-3"},
      {"bigint", Fixed<std::int64_t>(SQL_C_SBIGINT, -9000000000LL), "string", "-9000000000"},
      {"float", Fixed<float>(SQL_C_FLOAT, 1.5f), "string", "1.5"},
      {"double", Fixed<double>(SQL_C_DOUBLE, 0.1), "string", "0.1"},
      {"date", Date(2024, 2, 29), "string", "2024-02-29"},
      {"time", Time(13, 45, 30), "string", "13:45:30"},
      // Milliseconds pass to Java: fraction / 1000000.
      {"timestamp", Stamp(2024, 2, 29, 13, 45, 30, 123456789), "string",
       "2024-02-29 13:45:30.123"},
      {"unknown type", Fixed<std::int32_t>(99, 7), "string", "<null>"},
  });
  // UTF-16 text at an odd address (a value inside a packed buffer) reads the same.
  const std::u16string text = u"odd";
  std::vector<unsigned char> odd(1 + text.size() * 2);
  std::memcpy(odd.data() + 1, text.data(), text.size() * 2);
  EXPECT_EQ(Convert("string", SQL_C_WCHAR, odd.data() + 1, 6), "odd");
}

TEST_F(Values, DecimalsAndTheirErrors) {
  RunCases(*this, {
      {"bigint, scale 2", Fixed<std::int64_t>(SQL_C_SBIGINT, 42), "decimal2", "42.00"},
      {"double rounds half up", Fixed<double>(SQL_C_DOUBLE, 2.5), "decimal2", "2.50"},
      {"char text rounds half up", Narrow("1.005", SQL_C_CHAR), "decimal2", "1.01"},
      {"numeric text, no scale", Narrow("-3.14159"), "decimal", "-3.14159"},
      {"char abc", Narrow("abc", SQL_C_CHAR), "decimal", "!INVALID_NUMERIC_STRING|abc"},
      {"wide abc", Wide(u"abc"), "decimal", "!INVALID_NUMERIC_STRING|abc"},
      {"binary", Source{SQL_C_BINARY, {1}, 1}, "decimal", "!UNSUPPORTED_CONVERSION"},
  });
  // Numeric text that is no number leaves the constructor's own exception.
  std::vector<unsigned char> abc = {'a', 'b', 'c'};
  EXPECT_EQ(peer->makeBigDecimal(env, abc.data(), kNumericText, 3, -1), nullptr);
  jthrowable t = env->ExceptionOccurred();
  ASSERT_NE(t, nullptr);
  env->ExceptionClear();
  jclass nfe = env->FindClass("java/lang/NumberFormatException");
  EXPECT_TRUE(env->IsInstanceOf(t, nfe));
  env->DeleteLocalRef(nfe);
  env->DeleteLocalRef(t);
}

TEST_F(Values, DatesAndTimes) {
  RunCases(*this, {
      {"date to date", Date(2024, 2, 29), "date", "2024-02-29"},
      {"date to timestamp", Date(2024, 2, 29), "timestamp", "2024-02-29 00:00:00.0"},
      {"date to time", Date(2024, 2, 29), "time", "!UNSUPPORTED_CONVERSION"},
      {"time to time", Time(13, 45, 30), "time", "13:45:30"},
      {"time to date", Time(13, 45, 30), "date", "!UNSUPPORTED_CONVERSION"},
      {"timestamp to date", Stamp(2024, 2, 29, 13, 45, 30, 5), "date", "2024-02-29"},
      {"timestamp to time", Stamp(2024, 2, 29, 13, 45, 30, 5), "time", "13:45:30"},
      // Natively built timestamps keep every nanosecond.
      {"timestamp to timestamp", Stamp(2024, 2, 29, 13, 45, 30, 123456789), "timestamp",
       "2024-02-29 13:45:30.123456789"},
      {"wide text to date", Wide(u"2023-12-31"), "date", "2023-12-31"},
      {"wide nonsense to date", Wide(u"31/12/2023"), "date", "<null>"},
      {"bigint to timestamp", Fixed<std::int64_t>(SQL_C_SBIGINT, 1), "timestamp",
       "!UNSUPPORTED_CONVERSION"},
      // A NUMERIC output parameter holds its decimal text as SQL_C_CHAR: refused like the
      // same text of a column, never taken for SQL NULL.
      {"output decimal text to date", Narrow("20240229", SQL_C_CHAR), "date",
       "!UNSUPPORTED_CONVERSION"},
      {"output decimal text to time", Narrow("1", SQL_C_CHAR), "time", "!UNSUPPORTED_CONVERSION"},
      {"output decimal text to timestamp", Narrow("1", SQL_C_CHAR), "timestamp",
       "!UNSUPPORTED_CONVERSION"},
  });
}

TEST_F(Values, DatesThroughTheJavaResultSet) {
  jobject rs = static_cast<IResultSetClass*>(NOSE()->wrapper(NativeObjSharedEnv::kIResultSet))
                   ->constructJavaObj(env, 0);
  ASSERT_NE(rs, nullptr);
  Source stamp = Stamp(2024, 2, 29, 13, 45, 30, 123456789);
  EXPECT_EQ(ObjectText(peer->makeTimestamp(env, stamp.bytes.data(), stamp.cType, stamp.length, rs)),
            "2024-02-29 13:45:30.123456789");
  Source date = Date(1999, 12, 31);
  EXPECT_EQ(ObjectText(peer->makeDate(env, date.bytes.data(), date.cType, date.length, rs)),
            "1999-12-31");
  EXPECT_EQ(TakeError(), "");
  env->DeleteLocalRef(rs);
}

TEST_F(Values, NullAndBadLengths) {
  std::int32_t value = 7;
  const struct {
    const char* target;
    const char* zero;
  } targets[] = {{"byte", "0"},         {"short", "0"},     {"int", "0"},
                 {"long", "0"},         {"float", "0"},     {"double", "0"},
                 {"boolean", "false"},  {"string", "<null>"}, {"decimal", "<null>"},
                 {"date", "<null>"},    {"time", "<null>"}, {"timestamp", "<null>"},
                 {"bytes", "<null>"}};
  for (const auto& t : targets) {
    const char* target = t.target;
    const std::string zero = t.zero;
    SCOPED_TRACE(target);
    EXPECT_EQ(Convert(target, SQL_C_SLONG, &value, SQL_NULL_DATA), zero);
    EXPECT_EQ(Convert(target, SQL_C_WCHAR, nullptr, 4), zero);
    // An unclamped SQL_NO_TOTAL is refused, never read.
    EXPECT_EQ(Convert(target, SQL_C_BINARY, &value, SQL_NO_TOTAL), "!NATIVE_ACCESS_ERROR|-4");
  }
}

TEST_F(Values, BytesAndStreams) {
  std::vector<unsigned char> data = {0, 1, 255, 'x'};
  EXPECT_EQ(Convert("bytes", SQL_C_BINARY, data.data(), 4), "0 1 255 120 ");
  EXPECT_EQ(Convert("bytes", SQL_C_WCHAR, data.data(), 4), "!UNSUPPORTED_CONVERSION");
  jobject stream = peer->makeBinaryStream(env, data.data(), SQL_C_BINARY, 4);
  ASSERT_NE(stream, nullptr);
  jclass cls = env->GetObjectClass(stream);
  jmethodID available = env->GetMethodID(cls, "available", "()I");
  EXPECT_EQ(env->CallIntMethod(stream, available), 4);
  EXPECT_FALSE(env->ExceptionCheck());
  env->DeleteLocalRef(cls);
  env->DeleteLocalRef(stream);
  std::int32_t n = 5;
  EXPECT_EQ(peer->makeAsciiStream(env, &n, SQL_C_SLONG, 4), nullptr);
  EXPECT_EQ(TakeError(), "!UNSUPPORTED_CONVERSION");
  Source decimal = Narrow("12.5", SQL_C_CHAR);  // a NUMERIC output parameter's text
  EXPECT_EQ(peer->makeAsciiStream(env, decimal.bytes.data(), decimal.cType, decimal.length), nullptr);
  EXPECT_EQ(TakeError(), "!UNSUPPORTED_CONVERSION");
  Source text = Wide(u"abc");
  jobject reader = peer->makeCharacterStream(env, text.bytes.data(), SQL_C_WCHAR, text.length);
  ASSERT_NE(reader, nullptr);
  cls = env->GetObjectClass(reader);
  EXPECT_EQ(env->CallIntMethod(reader, env->GetMethodID(cls, "read", "()I")), 'a');
  EXPECT_FALSE(env->ExceptionCheck());
  env->DeleteLocalRef(cls);
  env->DeleteLocalRef(reader);
  EXPECT_EQ(peer->makeClobCharacterStream(env, text.bytes.data(), SQL_C_WCHAR, SQL_NULL_DATA),
            nullptr);
}

// ---- Callbacks ----------------------------------------------------------------------------------

class Callbacks : public JvmTest {
 protected:
  void SetUp() override {
    JvmTest::SetUp();
    if (env == nullptr) return;
    fake_odbc::records.clear();
    fake_odbc::calls.clear();
    fake_odbc::refused_attribute = 0;
    fake_odbc::connect_result = SQL_SUCCESS;
    jstring cs = env->NewStringUTF("UID=dba");
    jobject peerRef = Connection::makeODBCConnection(env, cs, nullptr, kDriverBuildNumber);
    env->DeleteLocalRef(cs);
    ASSERT_NE(peerRef, nullptr);
    // A reference of the test's own: the peer's goes at close.
    jconnection = env->NewGlobalRef(peerRef);
    connection = static_cast<Connection*>(NOSE()->getNativeObj(env, jconnection));
    identity = connection->getODBCHandle();
    fake_odbc::calls.clear();
  }
  void TearDown() override {
    fake_odbc::refused_attribute = 0;
    if (jconnection != nullptr) {
      Close();
      env->DeleteGlobalRef(jconnection);
    }
    JvmTest::TearDown();
  }
  void Close() {
    if (connection == nullptr) return;
    NativeObj* peer = NOSE()->closeNativeObj(env, jconnection, "Connection");
    ASSERT_NE(peer, nullptr);
    peer->fini(env);
    delete peer;
    connection = nullptr;
  }
  std::vector<std::string> AttributeCalls() {
    std::vector<std::string> out;
    for (const auto& c : fake_odbc::calls)
      if (c.rfind("SQLSetConnectAttr 19", 0) == 0) out.push_back(c.substr(0, 22));
    return out;
  }
  jobject Field(const char* name) {
    jclass cls = env->GetObjectClass(jconnection);
    jobject value = env->GetObjectField(jconnection, env->GetFieldID(cls, name, "Ljava/util/List;"));
    env->DeleteLocalRef(cls);
    return value;
  }
  void SetListField(const char* name, jobject value) {
    jclass cls = env->GetObjectClass(jconnection);
    env->SetObjectField(jconnection, env->GetFieldID(cls, name, "Ljava/util/List;"), value);
    env->DeleteLocalRef(cls);
  }
  int ListSize(const char* name) {
    jobject list = Field(name);
    jclass cls = env->GetObjectClass(list);
    const int n = env->CallIntMethod(list, env->GetMethodID(cls, "size", "()I"));
    EXPECT_FALSE(env->ExceptionCheck());
    env->DeleteLocalRef(cls);
    env->DeleteLocalRef(list);
    return n;
  }
  jobject ListItem(const char* name, int index) {
    jobject list = Field(name);
    jclass cls = env->GetObjectClass(list);
    jobject item = env->CallObjectMethod(list, env->GetMethodID(cls, "get", "(I)Ljava/lang/Object;"),
                                         index);
    EXPECT_FALSE(env->ExceptionCheck());
    env->DeleteLocalRef(cls);
    env->DeleteLocalRef(list);
    return item;
  }
  // Reason, SQLState and vendor code of message `index`, and the name of its thread.
  std::string Message(int index) {
    jobject message = ListItem("messages", index);
    jclass cls = env->GetObjectClass(message);
    jobject warning = env->GetObjectField(
        message, env->GetFieldID(cls, "warning", "Ljava/sql/SQLException;"));
    auto* thread = static_cast<jstring>(
        env->GetObjectField(message, env->GetFieldID(cls, "threadName", "Ljava/lang/String;")));
    jclass wcls = env->GetObjectClass(warning);
    jclass warningClass = env->FindClass("java/sql/SQLWarning");
    std::string out = env->IsInstanceOf(warning, warningClass) ? "SQLWarning " : "not a warning ";
    auto get = [&](const char* name) {
      auto* s = static_cast<jstring>(
          env->CallObjectMethod(warning, env->GetMethodID(wcls, name, "()Ljava/lang/String;")));
      EXPECT_FALSE(env->ExceptionCheck());
      std::string text = ToStd(env, s);
      if (s != nullptr) env->DeleteLocalRef(s);
      return text;
    };
    out += get("getMessage") + " " + get("getSQLState") + " ";
    const jint code = env->CallIntMethod(warning, env->GetMethodID(wcls, "getErrorCode", "()I"));
    EXPECT_FALSE(env->ExceptionCheck());
    out += std::to_string(code) + " " + ToStd(env, thread);
    for (jobject o : {static_cast<jobject>(warningClass), static_cast<jobject>(wcls),
                      static_cast<jobject>(thread), warning, static_cast<jobject>(cls), message})
      env->DeleteLocalRef(o);
    return out;
  }
  void SetAnswer(int answer) {
    jclass cls = env->GetObjectClass(jconnection);
    env->SetIntField(jconnection, env->GetFieldID(cls, "fileTransferAnswer", "I"), answer);
    env->DeleteLocalRef(cls);
  }

  jobject jconnection = nullptr;
  Connection* connection = nullptr;
  SQLHDBC identity = nullptr;
};

// Fires a message from a thread the VM has never seen and checks the thread is detached
// again afterwards.
void FireFromNewThread(SQLHDBC identity, const std::u16string& text, bool* detachedAfter) {
  std::thread t([&] {
    std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    jdbcMessageCallback(identity, 3, 0, static_cast<std::uint16_t>(bytes.size()), bytes.data());
    JavaVM* vm = jvm_test::TestVm();
    void* env = nullptr;
    *detachedAfter = vm != nullptr && vm->GetEnv(&env, JNI_VERSION_1_8) == JNI_EDETACHED;
  });
  t.join();
}

TEST_F(Callbacks, MessagesReachTheJavaHandlerOnAnyThread) {
  connection->setVSRMessageHandler(env);
  connection->setVSRMessageHandler(env);  // registered once
  EXPECT_EQ(AttributeCalls(), (std::vector<std::string>{"SQLSetConnectAttr 1912"}));
  ASSERT_EQ(TakeError(), "");
  // On the Java thread (inside a request).
  const std::u16string here = u"on the caller's thread";
  jdbcMessageCallback(identity, 3, 0, static_cast<std::uint16_t>(here.size() * 2),
                      reinterpret_cast<const char*>(here.data()));
  bool detached = false;
  FireFromNewThread(identity, u"from the server thread \u00e9", &detached);
  EXPECT_TRUE(detached);
  ASSERT_EQ(ListSize("messages"), 2);
  EXPECT_EQ(Message(0), "SQLWarning on the caller's thread <null> 131 main");
  const std::string second = Message(1);
  EXPECT_EQ(second.substr(0, second.rfind(' ')),
            "SQLWarning from the server thread \\u00E9 <null> 131");
  EXPECT_NE(second.substr(second.rfind(' ') + 1), "main");
  // Another identity finds nothing.
  int other = 0;
  jdbcMessageCallback(&other, 3, 0, 2, "x\0");
  EXPECT_EQ(ListSize("messages"), 2);
}

TEST_F(Callbacks, ADriverWithoutWideMessagesGetsTheNarrowFormConverted) {
  fake_odbc::refused_attribute = 1912;
  connection->setVSRMessageHandler(env);
  EXPECT_EQ(AttributeCalls(),
            (std::vector<std::string>{"SQLSetConnectAttr 1912", "SQLSetConnectAttr 1904"}));
  ASSERT_EQ(TakeError(), "");
  const char text[] = "narrow text";
  std::thread t([&] { jdbcMessageCallback(identity, 5, 0, sizeof text - 1, text); });
  t.join();
  ASSERT_EQ(ListSize("messages"), 1);
  const std::string m = Message(0);
  EXPECT_EQ(m.substr(0, m.rfind(' ')), "SQLWarning narrow text <null> 133");
}

TEST_F(Callbacks, FileTransfersAreAnsweredByJava) {
  // Not registered yet: refused without asking Java.
  EXPECT_EQ(jdbcValidateFileTransferCallback(identity, "a.dat", 1), 0);
  connection->setVCValidateFileTransferCallback(env);
  EXPECT_EQ(AttributeCalls(), (std::vector<std::string>{"SQLSetConnectAttr 1910"}));
  SetAnswer(1);
  EXPECT_EQ(jdbcValidateFileTransferCallback(identity, "data/in.csv", 1), 1);
  SetAnswer(0);
  int answer = -1;
  std::thread t([&] { answer = jdbcValidateFileTransferCallback(identity, "out.csv", 0); });
  t.join();
  EXPECT_EQ(answer, 0);
  ASSERT_EQ(ListSize("fileTransferRequests"), 2);
  jobject first = ListItem("fileTransferRequests", 0);
  jobject second = ListItem("fileTransferRequests", 1);
  EXPECT_EQ(ToStd(env, static_cast<jstring>(first)), "data/in.csv|1");
  EXPECT_EQ(ToStd(env, static_cast<jstring>(second)), "out.csv|0");
  env->DeleteLocalRef(first);
  env->DeleteLocalRef(second);
}

TEST_F(Callbacks, AfterCloseNoCallbackFindsTheConnection) {
  connection->setVSRMessageHandler(env);
  connection->setVCValidateFileTransferCallback(env);
  SetAnswer(1);
  EXPECT_EQ(jdbcValidateFileTransferCallback(identity, "f", 2), 1);
  Close();
  EXPECT_EQ(jdbcValidateFileTransferCallback(identity, "f", 2), 0);
  jdbcMessageCallback(identity, 3, 0, 2, "x\0");
  EXPECT_EQ(ListSize("messages"), 0);
  EXPECT_EQ(ListSize("fileTransferRequests"), 1);
}

TEST_F(Callbacks, AThrowingHandlerLeavesNoExceptionPending) {
  connection->setVSRMessageHandler(env);
  connection->setVCValidateFileTransferCallback(env);
  SetAnswer(1);
  // With the lists gone the handlers throw NullPointerException.
  jobject messages = Field("messages");
  jobject requests = Field("fileTransferRequests");
  SetListField("messages", nullptr);
  SetListField("fileTransferRequests", nullptr);
  const std::u16string text = u"m";
  jdbcMessageCallback(identity, 3, 0, 2, reinterpret_cast<const char*>(text.data()));
  EXPECT_FALSE(env->ExceptionCheck());
  // A handler that threw refuses the transfer.
  EXPECT_EQ(jdbcValidateFileTransferCallback(identity, "f", 1), 0);
  EXPECT_FALSE(env->ExceptionCheck());
  bool detached = false;
  FireFromNewThread(identity, u"n", &detached);
  EXPECT_TRUE(detached);
  // An exception the caller had pending is kept, and the message still arrives.
  SetListField("messages", messages);
  SetListField("fileTransferRequests", requests);
  jclass error = env->FindClass("java/lang/IllegalStateException");
  env->ThrowNew(error, "the caller's own");
  jdbcMessageCallback(identity, 3, 0, 2, reinterpret_cast<const char*>(text.data()));
  EXPECT_EQ(TakeError(), "!the caller's own");
  EXPECT_EQ(ListSize("messages"), 1);
  env->DeleteLocalRef(error);
  env->DeleteLocalRef(messages);
  env->DeleteLocalRef(requests);
}

}  // namespace
