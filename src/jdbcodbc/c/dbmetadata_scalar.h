// The scalar answers of the Java IDatabaseMetaData: constants of the driver and facts of
// the data source read with SQLGetInfo on the connection's ODBC handle. Each answer is
// one information item read at a fixed width ("Y"/"N" text, 16 or 32 bits) and a rule
// that derives the JDBC value from it; the rules are pure functions here so that they can
// be checked without a driver. The natives are in dbmetadata_scalar_natives.cpp.
//
// Every operation runs inside the metadata object's Java monitor and takes no lock of its
// own. A failed SQLGetInfo leaves its SQLException pending and gives false, 0 or null; a
// success with information replaces the metadata object's warning chain and the answer
// stands.
#ifndef VQ_JDBCODBC_DBMETADATA_SCALAR_H
#define VQ_JDBCODBC_DBMETADATA_SCALAR_H

#include <jni.h>
#include <sql.h>

#include <cstdint>

class DatabaseMetaData;

namespace dbmd {

// The driver's own version, answered without asking the data source.
constexpr jint kDriverMajorVersion = 12;
constexpr jint kDriverMinorVersion = 0;

// How an information item is read: the first byte of a "Y"/"N" text (16-byte buffer), or
// an unsigned 16-bit or 32-bit value.
enum class InfoWidth : std::uint8_t { kYesNo, k16, k32 };

// How a JDBC answer is derived from the value of its item.
enum class Derive : std::uint8_t {
  kYes,        // true when the first byte is "Y" (upper case only)
  kNotYes,     // true unless the first byte is "Y"
  kValue,      // the value as a Java int (a 32-bit value of 2^31 or more arrives negative)
  kRowSize,    // the value, but one with bit 31 set gives 2147483647
  kValueIn,    // true when the value v has bit v of `arg` set (v below 32)
  kNotZero,    // true when the value is not 0
  kBit,        // the value's bit `arg` (its own value, or 0)
  kLowFour,    // the value's low four bits
  kIsolation,  // the value when it is an isolation level (IsIsolationLevel), else 0
};

struct InfoAnswer {
  SQLUSMALLINT item;   // the information item asked
  InfoWidth width;     // how its value is read
  Derive derive;       // how the answer is made from the value
  std::uint32_t arg;   // the bit of kBit, the value set of kValueIn; else 0
};

// A set of small values for kValueIn.
constexpr std::uint32_t Values(std::uint32_t v) { return 1u << v; }
template <class... More>
constexpr std::uint32_t Values(std::uint32_t v, More... more) {
  return (1u << v) | Values(more...);
}

// The answer the rule gives for `value` (for kYes and kNotYes the first byte of the
// text). Boolean answers are 0 for false and non-zero for true.
jint DeriveAnswer(const InfoAnswer& answer, std::uint32_t value);

// The conversion item for a java.sql.Types code (DATE, TIME and TIMESTAMP in both their
// JDBC 1 and 2 codes); 0 when the type has none.
SQLUSMALLINT ConvertItem(jint fromType);
// The answer of supportsConvert from the conversion item's value: the ODBC conversion bit
// 2^(to - 1) for the types CHAR (1) to DOUBLE (8), 0 for any other target.
jint ConvertAnswer(jint toType, std::uint32_t value);

// The item's answer on the metadata object's connection: the item read at its width,
// then derived; 0 when SQLGetInfo raised.
jint Ask(JNIEnv* env, DatabaseMetaData* md, const InfoAnswer& answer);

// The answers that take arguments or are not one item and one rule.
jint supportsConvert(JNIEnv* env, DatabaseMetaData* md, jint fromType, jint toType);
jint supportsTransactionIsolationLevel(JNIEnv* env, DatabaseMetaData* md, jint level);
// The connection's URL (unscrambled copy, freed again); null when none is kept.
jstring getURL(JNIEnv* env, DatabaseMetaData* md);

}  // namespace dbmd

#endif  // VQ_JDBCODBC_DBMETADATA_SCALAR_H
