// Exact decimal numbers for NUMERIC and DECIMAL values: a variable-length base-100 form,
// normalisation to a digit budget, comparison, integer conversions, the four operations,
// truncation and rounding to a scale, and the server's packed decimal format.
//
// No operation allocates from the heap; intermediate digit strings live on the stack.
// Every operation may write its result over one of its operands.
#ifndef VQ_ODBC_DECIMAL_H
#define VQ_ODBC_DECIMAL_H

#include <cstdint>

// Longest digit string of a number, in base-100 digits (its length byte is 8 bits).
constexpr int kNumMaxDigits = 255;

// A decimal number. Value = sum of dig[i] x 100^(i + e - 64), e = sign_exp & 0x7F.
// A normal number has no zero digit at either end and an exponent from 1 to 127. Zero is
// len 0 with sign_exp 0x81. The overflow value is len 0 with sign_exp 0x80: every operation
// that gets it as an operand returns it, and every operation whose result does not fit the
// exponent range returns it. Operations write only the first len + 2 bytes.
struct a_num {
  std::uint8_t len;                 // number of base-100 digits in dig
  std::uint8_t sign_exp;            // bit 7: 1 zero or positive, 0 negative; bits 0-6: e
  std::uint8_t dig[kNumMaxDigits];  // 0..99 each, least significant first
};
static_assert(sizeof(a_num) == 2 + kNumMaxDigits, "a_num is its bytes, without padding");

constexpr std::uint8_t kNumZeroSignExp = 0x81;
constexpr std::uint8_t kNumOverflowSignExp = 0x80;

// The digit budget `maxd` of the operations is the number of base-100 digits the result
// keeps; excess low digits are dropped (truncation toward zero). A budget below 1 counts
// as 1 and one above kNumMaxDigits as kNumMaxDigits. Each "_" entry takes a number of
// decimal digits p instead and uses maxd = p / 2 + 1.
extern "C" {

// Normal form of the raw digit string of `in` (its len, digits and sign bit) placed at
// exponent `e`: high zero digits go, then low digits beyond `maxd`, then low zero digits;
// digits that would sit below exponent 1 are dropped too. Nothing left gives zero; an
// exponent above 127 gives the overflow value.
void do_normalize(a_num* out, const a_num* in, int e, int maxd);
void _do_normalize(a_num* out, const a_num* in, int e, int p);

void absnum(a_num* out, const a_num* in);  // sign bit set
void negnum(a_num* out, const a_num* in);  // sign bit flipped, except for len 0

// Below 0, 0 or above 0 as a < b, a = b, a > b. The overflow value against anything but
// zero compares equal.
int cmpnum(const a_num* a, const a_num* b);

// Integer value, fraction truncated. Zero, the overflow value and values outside the
// result's range give 0: callers that must tell check with numisl/numisll first.
std::int32_t numtol(const a_num* a);
std::int64_t numtoll(const a_num* a);
// Non-zero when `a` is an integer that fits a signed or unsigned 32- or 64-bit integer.
int numisl(const a_num* a);
int numisul(const a_num* a);
int numisll(const a_num* a);
int numisull(const a_num* a);

void ultonum(std::uint32_t v, a_num* out, int maxd);
void ltonum(std::int32_t v, a_num* out, int maxd);
void ulltonum(std::uint64_t v, a_num* out, int maxd);
void lltonum(std::int64_t v, a_num* out, int maxd);
void _ultonum(std::uint32_t v, a_num* out, int p);
void _ltonum(std::int32_t v, a_num* out, int p);
void _lltonum(std::int64_t v, a_num* out, int p);

// out := a + b, a - b, a x b, a / b (quotient truncated toward zero). Division by zero
// gives the overflow value.
void add_num(a_num* out, const a_num* a, const a_num* b, int maxd);
void sub_num(a_num* out, const a_num* a, const a_num* b, int maxd);
void mul_num(a_num* out, const a_num* a, const a_num* b, int maxd);
void div_num(a_num* out, const a_num* a, const a_num* b, int maxd);
void _add_num(a_num* out, const a_num* a, const a_num* b, int p);
void _sub_num(a_num* out, const a_num* a, const a_num* b, int p);
void _mul_num(a_num* out, const a_num* a, const a_num* b, int p);
void _div_num(a_num* out, const a_num* a, const a_num* b, int p);

// Truncates `a` in place to S decimal places, then checks that its integer part has at most
// P - S decimal digits; when it has more, `a` becomes the overflow value. A P with
// P - S + 1 negative (kChopAnyPrecision with S 0) truncates without the check.
constexpr int kChopAnyPrecision = -2;
void chop_num(a_num* a, int P, int S, int maxd);
void _chop_num(a_num* a, int P, int S, int p);
// Rounds `a` in place to S decimal places, half away from zero, then as chop_num.
void round_num(a_num* a, int P, int S, int maxd);
void _round_num(a_num* a, int P, int S, int p);

// Packed decimal of precision P (0 to kPackedMaxPrecision), scale S: P / 2 + 1 bytes, two
// decimal digits a byte, high nibble first, right-aligned so that the last digit sits in
// the high nibble of the last byte, whose low nibble is the sign (0xC or 0xF positive,
// 0xD negative). An even P leaves the high nibble of the first byte unused. The digits
// form the integer value x 10^S.
constexpr int kPackedMaxPrecision = 255;
constexpr int PackedBytes(int P) { return P / 2 + 1; }

// Reads P / 2 + 1 bytes. Returns 1, or 0 with `out` the overflow value when the sign
// nibble or a digit nibble is not valid, P is out of range, or a non-zero digit lies
// outside the exponent range (a scale above 126 or far below 0).
int pack_to_num(const std::uint8_t* packed, int P, int S, a_num* out, int maxd);
int _pack_to_num(const std::uint8_t* packed, int P, int S, a_num* out, int p);
// Writes P / 2 + 1 bytes; digits below 10^-S are dropped. Returns 1 when every digit of
// `a` from 10^-S up fits the P digits, else 0 (the overflow value and a P out of range
// give 0 too; the bytes then hold only what fitted and must not be used).
int numtopack(const a_num* a, std::uint8_t* packed, int P, int S);

// Nearest double; the overflow value gives the NaN whose bits are 0x7FFFFFFFFFFFFFFF.
double numtod(const a_num* a);
// The shortest decimal that reads back as `d`, to `maxd` digits; NaN and infinities give
// the overflow value.
void dtonum(double d, a_num* out, int maxd);
void _dtonum(double d, a_num* out, int p);

}  // extern "C"

#endif  // VQ_ODBC_DECIMAL_H
