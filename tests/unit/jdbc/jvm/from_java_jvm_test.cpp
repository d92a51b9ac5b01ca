// Java values into ODBC buffers through the set* converters, in the Java VM the bridge
// tests start (bridge_jvm_test.cpp): the range rules of every number into every integer
// and floating C type with their message keys, text parsed as numbers, the numeric
// record, growth and OVERSIZE_UPDATE, and the buffer a failed conversion leaves.
// Every buffer is guarded with 0xFF bytes on both sides.
#include <jni.h>

#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/misccls.h"
#include "jdbcodbc/c/nativeobj.h"
#include "jvm_test_support.h"

namespace {

constexpr SQLSMALLINT kNumericText = -9999;

class Peer : public NativeWarnObj {
 public:
  explicit Peer(jobject connection) : connection_(connection) {}
  ConstructibleINativeClass* getConstructibleINativeClass() override { return nullptr; }
  jobject getConnection() override { return connection_; }
  Connection* getNConnection() override { return nullptr; }

 private:
  jobject connection_;
};

// A fixed slot of `size` bytes between guard bytes.
struct Slot {
  explicit Slot(std::size_t size) : bytes(size + 16, 0xFF), size(size) {}
  void* data() { return bytes.data() + 8; }
  bool guardsIntact() const {
    for (std::size_t i = 0; i < 8; ++i)
      if (bytes[i] != 0xFF || bytes[8 + size + i] != 0xFF) return false;
    return true;
  }
  std::vector<std::uint8_t> bytes;
  std::size_t size;
};

class FromJava : public ::testing::Test {
 protected:
  void SetUp() override {
    env = jvm_test::CurrentEnv();
    if (env == nullptr) GTEST_SKIP() << "no Java VM in a sanitizer build";
    connection = NOSE()->iConnectionClass()->constructJavaObj(env, 0);
    ASSERT_NE(connection, nullptr);
    peer = new Peer(connection);
  }
  void TearDown() override {
    if (env == nullptr) return;
    EXPECT_FALSE(env->ExceptionCheck());
    delete peer;
    env->DeleteLocalRef(connection);
  }
  // "" when nothing is pending, else the message of the pending exception ("KEY|args").
  std::string Taken() { return jvm_test::TakePending(env, "getMessage"); }
  jstring J(const char* text) { return env->NewStringUTF(text); }

  JNIEnv* env = nullptr;
  jobject connection = nullptr;
  Peer* peer = nullptr;
};

// One Java number into one fixed-size C type: the stored value, or the error raised.
enum class Source { kShort, kInt, kLong, kFloat, kDouble, kString, kDecimal };
struct NumberCase {
  Source source;
  const char* value;  // the Java value as text
  SQLSMALLINT cType;
  double stored;      // when `error` is empty
  const char* error;  // "KEY|argument", or ""
};

double Stored(const void* out, SQLSMALLINT cType) {
  switch (cType) {
    case SQL_C_BIT:
    case SQL_C_STINYINT: return *static_cast<const std::int8_t*>(out);
    case SQL_C_SSHORT: { std::int16_t x; std::memcpy(&x, out, 2); return x; }
    case SQL_C_SLONG: { std::int32_t x; std::memcpy(&x, out, 4); return x; }
    case SQL_C_SBIGINT: { std::int64_t x; std::memcpy(&x, out, 8); return static_cast<double>(x); }
    case SQL_C_FLOAT: { float x; std::memcpy(&x, out, 4); return x; }
    default: { double x; std::memcpy(&x, out, 8); return x; }
  }
}

TEST_F(FromJava, NumbersCheckTheRangeOfTheirDestination) {
  const NumberCase cases[] = {
      {Source::kShort, "-1", SQL_C_BIT, 0, "OUT_OF_I1_RANGE|-1"},
      {Source::kLong, "2", SQL_C_BIT, 0, "OUT_OF_I1_RANGE|2"},
      {Source::kShort, "1", SQL_C_BIT, 1, ""},
      {Source::kShort, "200", SQL_C_STINYINT, 0, "OUT_OF_I8_RANGE|200"},
      {Source::kInt, "-32769", SQL_C_SSHORT, 0, "OUT_OF_I16_RANGE|-32769"},
      {Source::kInt, "-32768", SQL_C_SSHORT, -32768, ""},
      {Source::kLong, "2147483648", SQL_C_SLONG, 0, "OUT_OF_I32_RANGE|2147483648"},
      {Source::kLong, "-2147483648", SQL_C_SLONG, -2147483648.0, ""},
      {Source::kLong, "16777217", SQL_C_FLOAT, 16777216, ""},  // rounded to single
      {Source::kFloat, "2147483648", SQL_C_SLONG, 0, "OUT_OF_I32_RANGE|2.14748365E9"},
      {Source::kDouble, "2147483647", SQL_C_SLONG, 2147483647, ""},
      {Source::kDouble, "2147483647.5", SQL_C_SLONG, 0, "OUT_OF_I32_RANGE|2.1474836475E9"},
      {Source::kDouble, "0.5", SQL_C_BIT, 0, ""},            // truncated toward zero
      {Source::kDouble, "-1.9", SQL_C_STINYINT, -1, ""},
      {Source::kDouble, "9.3e18", SQL_C_SBIGINT, 0, "OUT_OF_I64_RANGE|9.3E18"},
      {Source::kDouble, "1e39", SQL_C_FLOAT, 0, "OUT_OF_F32_RANGE|1.0E39"},
      {Source::kDouble, "3.4028234663852886e38", SQL_C_FLOAT, FLT_MAX, ""},
      {Source::kDouble, "NaN", SQL_C_SLONG, 0, "OUT_OF_I32_RANGE|NaN"},  // never undefined
      {Source::kString, "12.50", SQL_C_SLONG, 12, ""},
      {Source::kString, "12.5x", SQL_C_SLONG, 0, "INVALID_NUMERIC_STRING|12.5x"},
      {Source::kString, "1.5abc", SQL_C_DOUBLE, 1.5, ""},
      // Beyond the range: refused with the text as given, never cut to a limit or wrapped.
      {Source::kString, "99999999999", SQL_C_SLONG, 0, "OUT_OF_I32_RANGE|99999999999"},
      {Source::kString, "99999999999", SQL_C_SSHORT, 0, "OUT_OF_I16_RANGE|99999999999"},
      {Source::kString, "-2147483648", SQL_C_SLONG, -2147483648.0, ""},
      {Source::kString, "9223372036854775808", SQL_C_SBIGINT, 0,
       "OUT_OF_I64_RANGE|9223372036854775808"},
      {Source::kString, "-9223372036854775808", SQL_C_SBIGINT, -9223372036854775808.0, ""},
      {Source::kString, "1e39", SQL_C_FLOAT, 0, "OUT_OF_F32_RANGE|1.0E39"},
      {Source::kString, "-9000000000", SQL_C_SBIGINT, -9000000000.0, ""},
      {Source::kString, "abc", SQL_C_SBIGINT, 0, "INVALID_NUMERIC_STRING|abc"},
      {Source::kDecimal, "300.9", SQL_C_STINYINT, 0, "OUT_OF_I8_RANGE|300"},
      {Source::kDecimal, "-7.9", SQL_C_SLONG, -7, ""},
      {Source::kDecimal, "1E+39", SQL_C_FLOAT, 0, "OUT_OF_F32_RANGE|1.0E39"},
      // Integer parts beyond 64 bits: the low 64 bits alone would pass as 5, 0 or -1.
      {Source::kDecimal, "18446744073709551621", SQL_C_SLONG, 0,
       "OUT_OF_I32_RANGE|18446744073709551621"},
      {Source::kDecimal, "1.8446744073709551616E+19", SQL_C_SBIGINT, 0,
       "OUT_OF_I64_RANGE|18446744073709551616"},
      {Source::kDecimal, "-18446744073709551617.5", SQL_C_SBIGINT, 0,
       "OUT_OF_I64_RANGE|-18446744073709551617.5"},
      {Source::kDecimal, "9223372036854775808", SQL_C_SBIGINT, 0,
       "OUT_OF_I64_RANGE|9223372036854775808"},
      {Source::kDecimal, "9223372036854775807.9", SQL_C_SBIGINT, 9223372036854775807.0, ""},
      {Source::kDecimal, "-9223372036854775808", SQL_C_SBIGINT, -9223372036854775808.0, ""},
  };
  auto* decimals = static_cast<BigDecimalClass*>(NOSE()->wrapper(NativeObjSharedEnv::kBigDecimal));
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.value) + " as " + std::to_string(c.cType));
    Slot slot(8);
    SQLLEN length = -7;
    void* out = nullptr;
    const double d = std::strtod(c.value, nullptr);
    switch (c.source) {
      case Source::kShort:
        out = peer->setShort(env, slot.data(), c.cType, 8, &length, static_cast<jshort>(d), nullptr);
        break;
      case Source::kInt:
        out = peer->setInt(env, slot.data(), c.cType, 8, &length, static_cast<jint>(d), nullptr);
        break;
      case Source::kLong:
        out = peer->setLong(env, slot.data(), c.cType, 8, &length, std::strtoll(c.value, nullptr, 10),
                            nullptr);
        break;
      case Source::kFloat:
        out = peer->setFloat(env, slot.data(), c.cType, 8, &length, static_cast<jfloat>(d), nullptr);
        break;
      case Source::kDouble:
        out = peer->setDouble(env, slot.data(), c.cType, 8, &length, d, nullptr);
        break;
      case Source::kString: {
        jstring text = J(c.value);
        out = peer->setString(env, slot.data(), c.cType, 8, &length, text, nullptr);
        env->DeleteLocalRef(text);
        break;
      }
      case Source::kDecimal: {
        jstring text = J(c.value);
        jobject decimal = decimals->construct(env, text, -1);
        ASSERT_FALSE(env->ExceptionCheck());
        out = peer->setBigDecimal(env, slot.data(), c.cType, 8, &length, decimal, nullptr);
        env->DeleteLocalRef(decimal);
        env->DeleteLocalRef(text);
        break;
      }
    }
    EXPECT_EQ(Taken(), c.error);
    EXPECT_TRUE(slot.guardsIntact());
    if (*c.error != 0) {
      EXPECT_EQ(out, nullptr);
      continue;
    }
    ASSERT_EQ(out, slot.data());
    EXPECT_EQ(length, 0);  // fixed-size numbers report no length
    EXPECT_EQ(Stored(out, c.cType), c.stored);
  }
}

TEST_F(FromJava, TextIsWrittenWithItsTerminatorOrRefusedWhenTheSlotIsFixed) {
  // A boolean as wide text: the unit '1' and a zero unit, 2 bytes.
  Slot wide(4);
  SQLLEN length = 0;
  ASSERT_EQ(peer->setBoolean(env, wide.data(), SQL_C_WCHAR, 4, &length, JNI_TRUE, nullptr), wide.data());
  const jchar one[2] = {'1', 0};
  EXPECT_EQ(std::memcmp(wide.data(), one, 4), 0);
  EXPECT_EQ(length, 2);
  EXPECT_TRUE(wide.guardsIntact());

  // Ten characters do not fit a fixed 16-byte slot; with a growth slot the buffer grows
  // to 22 + 11 = 33, rounded up to 34 bytes.
  jstring ten = J("abcdefghij");
  Slot fixed(16);
  EXPECT_EQ(peer->setString(env, fixed.data(), SQL_C_WCHAR, 16, &length, ten, nullptr), nullptr);
  EXPECT_EQ(Taken(), "OVERSIZE_UPDATE");
  EXPECT_TRUE(fixed.guardsIntact());
  void* small = NativeWarnObj::alloc(env, 16);
  SQLLEN size = -1;
  void* grown = peer->setString(env, small, SQL_C_WCHAR, 16, &length, ten, &size);
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(size, 34);
  EXPECT_EQ(length, 20);
  EXPECT_EQ(static_cast<jchar*>(grown)[10], 0);
  NativeWarnObj::free(grown);  // `small` went with the growth

  // A null string: length -1, the old size, no buffer.
  size = -1;
  EXPECT_EQ(peer->setString(env, nullptr, SQL_C_WCHAR, 12, &length, nullptr, &size), nullptr);
  EXPECT_EQ(length, SQL_NULL_DATA);
  EXPECT_EQ(size, 12);

  // Numeric text: the modified UTF-8 bytes and a zero byte.
  Slot narrow(8);
  jstring number = J("-12.5");
  ASSERT_EQ(peer->setString(env, narrow.data(), kNumericText, 8, &length, number, nullptr),
            narrow.data());
  EXPECT_STREQ(static_cast<char*>(narrow.data()), "-12.5");
  EXPECT_EQ(length, 5);
  EXPECT_TRUE(narrow.guardsIntact());
  env->DeleteLocalRef(number);
  env->DeleteLocalRef(ten);
}

TEST_F(FromJava, DecimalsBecomeNumericRecords) {
  auto* decimals = static_cast<BigDecimalClass*>(NOSE()->wrapper(NativeObjSharedEnv::kBigDecimal));
  struct Case {
    const char* text;
    int precision;
    int scale;
    int sign;
    std::vector<std::uint8_t> value;  // least significant first, the rest zero
  } const cases[] = {
      {"-1.5", 2, 1, 0, {0x0F}},
      {"0", 1, 0, 1, {}},
      {"65535", 5, 0, 1, {0xFF, 0xFF}},
      {"-128", 3, 0, 0, {0x80}},
      {"1.00", 3, 2, 1, {100}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    jstring text = J(c.text);
    jobject decimal = decimals->construct(env, text, -1);
    Slot slot(19);
    SQLLEN length = 0;
    ASSERT_EQ(peer->setBigDecimal(env, slot.data(), SQL_C_NUMERIC, 19, &length, decimal, nullptr),
              slot.data());
    const auto* record = static_cast<const SQL_NUMERIC_STRUCT*>(slot.data());
    EXPECT_EQ(record->precision, c.precision);
    EXPECT_EQ(record->scale, c.scale);
    EXPECT_EQ(record->sign, c.sign);
    std::vector<std::uint8_t> expected = c.value;
    expected.resize(16, 0);
    EXPECT_EQ(std::vector<std::uint8_t>(record->val, record->val + 16), expected);
    EXPECT_EQ(length, 19);
    EXPECT_TRUE(slot.guardsIntact());
    env->DeleteLocalRef(decimal);
    env->DeleteLocalRef(text);
  }
  // A scale beyond the record's signed byte is refused, not wrapped (200 would be -56).
  for (const char* text : {"1E-200", "1E+300"}) {
    SCOPED_TRACE(text);
    jstring t = J(text);
    jobject decimal = decimals->construct(env, t, -1);
    Slot slot(19);
    SQLLEN length = 0;
    EXPECT_EQ(peer->setBigDecimal(env, slot.data(), SQL_C_NUMERIC, 19, &length, decimal, nullptr),
              nullptr);
    EXPECT_EQ(Taken(), std::string("OUT_OF_NUMERIC_STRUCT|") + text);
    EXPECT_TRUE(slot.guardsIntact());
    env->DeleteLocalRef(decimal);
    env->DeleteLocalRef(t);
  }
  // Sixteen bytes of unscaled value do not fit the record.
  jstring huge = J("170141183460469231731687303715884105728");  // 2^127
  jobject decimal = decimals->construct(env, huge, -1);
  Slot slot(19);
  SQLLEN length = 0;
  EXPECT_EQ(peer->setBigDecimal(env, slot.data(), SQL_C_NUMERIC, 19, &length, decimal, nullptr), nullptr);
  EXPECT_EQ(Taken(), "OUT_OF_NUMERIC_STRUCT|170141183460469231731687303715884105728");
  env->DeleteLocalRef(decimal);
  env->DeleteLocalRef(huge);
}

TEST_F(FromJava, AFailedConversionKeepsTheCallersBufferAlive) {
  // The destination needs growth, then the value is refused: the caller's block must
  // still be the live one (a parameter stays bound to it), with its size.
  void* block = NativeWarnObj::alloc(env, 4);
  std::memset(block, 0x5A, 4);
  jstring bad = J("x12");
  SQLLEN length = 0;
  SQLLEN size = -1;
  ASSERT_EQ(peer->setString(env, block, SQL_C_SBIGINT, 4, &length, bad, &size), nullptr);
  EXPECT_EQ(Taken(), "INVALID_NUMERIC_STRING|x12");
  EXPECT_EQ(size, 4);
  EXPECT_EQ(static_cast<std::uint8_t*>(block)[3], 0x5A);  // still ours, unchanged
  // Unsupported pairs raise without touching the buffer; out-of-table types raise nothing.
  EXPECT_EQ(peer->setInt(env, block, SQL_C_TYPE_DATE, 4, &length, 1, &size), nullptr);
  EXPECT_EQ(Taken(), "UNSUPPORTED_CONVERSION");
  EXPECT_EQ(peer->setInt(env, block, SQL_C_GUID, 4, &length, 1, &size), nullptr);
  EXPECT_EQ(Taken(), "");
  NativeWarnObj::free(block);
  env->DeleteLocalRef(bad);
}

}  // namespace
