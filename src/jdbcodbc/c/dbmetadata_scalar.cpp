// The rules that turn an information item's value into a JDBC answer, and the answers
// that take arguments. SQLGetInfo itself is DatabaseMetaData::getSQLInfo.
#include "jdbcodbc/c/dbmetadata_scalar.h"

#include <sqlext.h>
#include <sqlucode.h>

#include <climits>

#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/dbmetadata.h"

namespace {

constexpr SQLSMALLINT kYesNoBufferBytes = 16;  // the "Y"/"N" items' buffer

}  // namespace

// ---- Derivations ----------------------------------------------------------------------------

namespace dbmd {

jint DeriveAnswer(const InfoAnswer& answer, std::uint32_t value) {
  switch (answer.derive) {
    case Derive::kYes:
      return value == 'Y' ? 1 : 0;
    case Derive::kNotYes:
      return value == 'Y' ? 0 : 1;
    case Derive::kValue:
      return static_cast<jint>(value);
    case Derive::kRowSize:
      return (value & 0x80000000u) != 0 ? INT_MAX : static_cast<jint>(value);
    case Derive::kValueIn:
      return value < 32 && (answer.arg & (1u << value)) != 0 ? 1 : 0;
    case Derive::kNotZero:
      return value != 0 ? 1 : 0;
    case Derive::kBit:
      return static_cast<jint>(value & answer.arg);
    case Derive::kLowFour:
      return static_cast<jint>(value & 0xFu);
    case Derive::kIsolation:
      return value <= 128 && IsIsolationLevel(static_cast<jint>(value)) ? static_cast<jint>(value)
                                                                          : 0;
  }
  return 0;
}

SQLUSMALLINT ConvertItem(jint fromType) {
  switch (fromType) {
    case -7: return SQL_CONVERT_BIT;
    case -6: return SQL_CONVERT_TINYINT;
    case -5: return SQL_CONVERT_BIGINT;
    case -4: return SQL_CONVERT_LONGVARBINARY;
    case -3: return SQL_CONVERT_VARBINARY;
    case -2: return SQL_CONVERT_BINARY;
    case -1: return SQL_CONVERT_LONGVARCHAR;
    case 1: return SQL_CONVERT_CHAR;
    case 2: return SQL_CONVERT_NUMERIC;
    case 3: return SQL_CONVERT_DECIMAL;
    case 4: return SQL_CONVERT_INTEGER;
    case 5: return SQL_CONVERT_SMALLINT;
    case 6: return SQL_CONVERT_FLOAT;
    case 7: return SQL_CONVERT_REAL;
    case 8: return SQL_CONVERT_DOUBLE;
    case 9: case 91: return SQL_CONVERT_DATE;
    case 10: case 92: return SQL_CONVERT_TIME;
    case 11: case 93: return SQL_CONVERT_TIMESTAMP;
    case 12: return SQL_CONVERT_VARCHAR;
    default: return 0;
  }
}

jint ConvertAnswer(jint toType, std::uint32_t value) {
  if (toType < 1 || toType > 8) return 0;
  return static_cast<jint>(value & (1u << (toType - 1)));
}

jint Ask(JNIEnv* env, DatabaseMetaData* md, const InfoAnswer& answer) {
  std::uint32_t value = 0;
  switch (answer.width) {
    case InfoWidth::kYesNo: {
      char text[kYesNoBufferBytes] = {};
      if (!md->getSQLInfo(env, answer.item, text, sizeof text, nullptr)) return 0;
      value = static_cast<unsigned char>(text[0]);
      break;
    }
    case InfoWidth::k16: {
      SQLUSMALLINT v = 0;
      if (!md->getSQLInfo(env, answer.item, &v, sizeof v, nullptr)) return 0;
      value = v;
      break;
    }
    case InfoWidth::k32: {
      SQLUINTEGER v = 0;
      if (!md->getSQLInfo(env, answer.item, &v, sizeof v, nullptr)) return 0;
      value = v;
      break;
    }
  }
  return DeriveAnswer(answer, value);
}

jint supportsConvert(JNIEnv* env, DatabaseMetaData* md, jint fromType, jint toType) {
  if (fromType == 0 && toType == 0)
    return Ask(env, md, {SQL_CONVERT_FUNCTIONS, InfoWidth::k32, Derive::kNotZero, 0});
  const SQLUSMALLINT item = ConvertItem(fromType);
  if (item == 0) return 0;
  SQLUINTEGER value = 0;
  if (!md->getSQLInfo(env, item, &value, sizeof value, nullptr)) return 0;
  return ConvertAnswer(toType, value);
}

jint supportsTransactionIsolationLevel(JNIEnv* env, DatabaseMetaData* md, jint level) {
  SQLUINTEGER value = 0;
  if (!md->getSQLInfo(env, SQL_TXN_ISOLATION_OPTION, &value, sizeof value, nullptr)) return 0;
  if (!IsIsolationLevel(level)) return 0;
  return static_cast<jint>(value & static_cast<SQLUINTEGER>(level));
}

jstring getURL(JNIEnv* env, DatabaseMetaData* md) {
  Connection* connection = md->getNConnection();
  if (connection == nullptr) return nullptr;
  std::int32_t length = 0;
  jchar* url = connection->getURL(env, &length);
  if (url == nullptr) return nullptr;
  jstring text = env->NewString(url, length);
  connection->releaseURL(url);
  return text;
}

}  // namespace dbmd
