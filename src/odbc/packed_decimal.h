// Conversion between the server's packed decimal (see decimal.h) and the ODBC numeric
// structure: precision, scale, sign (1 positive, 0 negative) and the unscaled magnitude
// as 16 bytes, least significant first. Both sides hold the same unscaled integer, so a
// value is copied without any scaling. Values of up to 19 digits (8 bytes) take a 64-bit
// road; longer ones go through the decimal numbers of decimal.h.
#ifndef VQ_ODBC_PACKED_DECIMAL_H
#define VQ_ODBC_PACKED_DECIMAL_H

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

// Results of both conversions. Anything but kNumericConverted is a failure: the output
// must not be used. kNumericOutOfRange means that the value has more digits than the
// target holds; the caller reports it with kNumericOutOfRangeState and never passes on a
// value with digits dropped.
constexpr int kNumericConverted = 1;
constexpr int kNumericBadPacked = 0;   // a sign or digit nibble is not valid
constexpr int kNumericOutOfRange = 2;  // the value does not fit
constexpr const char* kNumericOutOfRangeState = "22003";

// Reads precision / 2 + 1 bytes of `packed` (precision 0 to 255) and fills `numeric` with
// that precision and scale (scale -128 to 127). Returns kNumericConverted, kNumericBadPacked
// (also for a precision or scale out of range), or kNumericOutOfRange when the magnitude
// needs more than 16 bytes.
int PackedDecimalToODBCNumeric(const std::uint8_t* packed, int precision, int scale,
                               SQL_NUMERIC_STRUCT* numeric);

// Writes the structure's precision / 2 + 1 bytes into `packed`, scale 0 (a negative scale
// multiplies the value by ten once for each unit). Returns kNumericConverted, or
// kNumericOutOfRange when the value has more digits than the precision allows.
// A zero value keeps the structure's sign: sign 0 gives the negative sign nibble 0xD.
int ODBCNumericToPackedDecimal(const SQL_NUMERIC_STRUCT* numeric, std::uint8_t* packed);

#endif  // VQ_ODBC_PACKED_DECIMAL_H
