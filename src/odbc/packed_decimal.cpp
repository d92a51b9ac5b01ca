// Packed decimal <-> ODBC numeric structure.
//
// Neither direction drops digits: a magnitude beyond the 16 bytes of the structure, or
// beyond the precision of the packed form, is reported as kNumericOutOfRange.
#include "odbc/packed_decimal.h"

#include <cstring>

#include "odbc/decimal.h"

namespace {

constexpr int kValBytes = SQL_MAX_NUMERIC_LEN;
static_assert(kValBytes == 16, "the numeric structure's magnitude is 16 bytes");
static_assert(sizeof(SQL_NUMERIC_STRUCT) == 19, "precision, scale, sign and 16 bytes");

// Digit k of a packed decimal of precision P, counted from the last digit.
int packed_digit(const std::uint8_t* packed, int P, int k) {
  const int nibble = 2 * (P / 2) - k;
  const std::uint8_t byte = packed[nibble / 2];
  return (nibble & 1) != 0 ? byte & 0x0F : byte >> 4;
}

}  // namespace

int PackedDecimalToODBCNumeric(const std::uint8_t* packed, int precision, int scale,
                               SQL_NUMERIC_STRUCT* numeric) {
  std::memset(numeric->val, 0, kValBytes);
  numeric->sign = 1;
  if (precision < 0 || precision > kPackedMaxPrecision || scale < -128 || scale > 127) {
    return kNumericBadPacked;
  }
  numeric->precision = static_cast<SQLCHAR>(precision);
  numeric->scale = static_cast<SQLSCHAR>(scale);
  const int sign = packed[precision / 2] & 0x0F;
  if (sign != 0x0C && sign != 0x0D && sign != 0x0F) return kNumericBadPacked;
  numeric->sign = sign == 0x0D ? 0 : 1;

  // Significant digits: the count below the highest non-zero digit. Every digit nibble is
  // checked, since a value from the server is trusted only once it reads as digits.
  int significant = 0;
  for (int k = 0; k < precision; ++k) {
    const int digit = packed_digit(packed, precision, k);
    if (digit > 9) return kNumericBadPacked;
    if (digit != 0) significant = k + 1;
  }
  if (significant == 0) return kNumericConverted;

  if (significant <= 19) {
    std::uint64_t v = 0;
    for (int k = significant - 1; k >= 0; --k) v = v * 10 + packed_digit(packed, precision, k);
    for (int i = 0; i < 8 && v != 0; ++i, v >>= 8) {
      numeric->val[i] = static_cast<SQLCHAR>(v & 0xFF);
    }
    return kNumericConverted;
  }

  // The long road: the magnitude as an integer, divided by 256 once for each byte. A budget
  // of the significant digits holds the magnitude and every integer quotient exactly.
  const int budget = significant;
  a_num num;
  if (_pack_to_num(packed, precision, 0, &num, budget) != 1) return kNumericBadPacked;
  absnum(&num, &num);
  a_num radix;
  ultonum(256, &radix, kNumMaxDigits);
  for (int i = 0; i < kValBytes && num.len != 0; ++i) {
    a_num quotient;
    _div_num(&quotient, &num, &radix, budget);
    _chop_num(&quotient, kChopAnyPrecision, 0, budget);  // the integer part
    a_num back;
    _mul_num(&back, &quotient, &radix, budget);
    a_num byte;
    _sub_num(&byte, &num, &back, budget);
    numeric->val[i] = static_cast<SQLCHAR>(numtol(&byte));
    num = quotient;
  }
  if (num.len != 0) {
    std::memset(numeric->val, 0, kValBytes);
    return kNumericOutOfRange;
  }
  return kNumericConverted;
}

int ODBCNumericToPackedDecimal(const SQL_NUMERIC_STRUCT* numeric, std::uint8_t* packed) {
  const int precision = numeric->precision;
  const int scale = numeric->scale;
  const int bytes = PackedBytes(precision);
  std::memset(packed, 0, static_cast<std::size_t>(bytes));
  packed[bytes - 1] = numeric->sign == 1 ? 0x0C : 0x0D;

  int top = kValBytes - 1;
  while (top >= 0 && numeric->val[top] == 0) --top;
  if (top < 0) return kNumericConverted;

  if (top < 8 && scale >= 0) {
    std::uint64_t v = 0;
    for (int i = top; i >= 0; --i) v = (v << 8) | numeric->val[i];
    // Digits from the last one backwards: the high nibble of the last byte, then the low
    // and high nibbles of the bytes before it, up to `precision` digits.
    for (int k = 0; k < precision && v != 0; ++k, v /= 10) {
      const int nibble = 2 * bytes - 2 - k;
      const int digit = static_cast<int>(v % 10);
      packed[nibble / 2] = static_cast<std::uint8_t>(
          packed[nibble / 2] | ((nibble & 1) != 0 ? digit : digit << 4));
    }
    return v == 0 ? kNumericConverted : kNumericOutOfRange;
  }

  // The long road: the magnitude built byte by byte. A negative scale moves the digits up
  // as they are written (numtopack at scale -scale), which is the value times ten once for
  // each unit without an intermediate number whose exponent could run out.
  a_num num;
  a_num radix;
  a_num byte;
  ultonum(numeric->val[top], &num, kNumMaxDigits);
  ultonum(256, &radix, kNumMaxDigits);
  for (int i = top - 1; i >= 0; --i) {
    _mul_num(&num, &num, &radix, precision);
    ultonum(numeric->val[i], &byte, kNumMaxDigits);
    _add_num(&num, &num, &byte, precision);
  }
  if (numeric->sign != 1) negnum(&num, &num);
  const int shift = scale < 0 ? -scale : 0;
  return numtopack(&num, packed, precision, shift) == 1 ? kNumericConverted
                                                         : kNumericOutOfRange;
}
