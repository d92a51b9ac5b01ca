// Number parsing and printing in any base from 2 to 36 for 32-bit and 64-bit values, and
// the compact floating-point formatter gfmt.
//
// The parsers follow the C library's strtoul conventions where they agree: `end` (when not
// null) receives the first character not taken, and problems are reported through errno
// (EINVAL for a base outside 2 to 36 other than 0, ERANGE on overflow). errno is left alone
// on success, so callers clear it first when they need to tell.
#ifndef VQ_UTILS_BASE_NUMBER_CONVERSION_H
#define VQ_UTILS_BASE_NUMBER_CONVERSION_H

#include <cstddef>
#include <cstdint>

extern "C" {

// Digits "0"-"9" and letters of either case (10 to 35) while their value is below the
// base; no white space and no sign. Base 0: a leading "0x"/"0X" selects 16 and is skipped,
// another leading "0" selects 8 and is skipped, else 10 (a given base 16 does not skip
// "0x"). An empty digit string gives 0 with `end` after any prefix skipped. Overflow:
// ERANGE, the all-ones value, and `end` at the digit that overflowed. A null `s` gives
// EINVAL and 0.
std::uint32_t do_strtou32(const char* s, char** end, int base);
std::uint64_t do_strtou64(const char* s, char** end, int base);
// As above after one optional leading "+".
std::uint32_t strtou32(const char* s, char** end, int base);
std::uint64_t strtou64(const char* s, char** end, int base);
// Signed: a leading "-" parses the rest unsigned and negates it; a magnitude above 2^31
// (2^63) gives the most negative value and ERANGE. Otherwise one "+" is skipped and a
// value above the largest positive one gives that value and ERANGE.
std::int32_t strtoi32(const char* s, char** end, int base);
std::int64_t strtoi64(const char* s, char** end, int base);

// Writes the digits of `value` in `base`, most significant first, lower-case letters above
// 9, "0" for zero, and a terminator; a base outside 2 to 36 writes an empty string.
// Returns `buf`. The signed forms write "-" and the magnitude of a negative value in base
// 10 only; in other bases they print the value's bits as unsigned.
// `buf` must hold kU32TextBytes (kU64TextBytes) bytes: base 2 needs them all.
constexpr std::size_t kU32TextBytes = 33;
constexpr std::size_t kU64TextBytes = 65;
char* u32toa(std::uint32_t value, char* buf, int base);
char* u64toa(std::uint64_t value, char* buf, int base);
char* i32toa(std::int32_t value, char* buf, int base);
char* i64toa(std::int64_t value, char* buf, int base);

// Compact decimal form of `value` in at most `size` characters, no terminator written:
// fixed notation ("1500", "12.25", ".0005") or, when that shows fewer digits, exponent
// notation ("1.E20", "1.5E-7"), rounded half up at the last digit shown. Returns the
// number of characters written, 0 when nothing fits. Zero of either sign gives "0"; a
// negative value gives "-" and its magnitude in size - 1 characters. Infinities and NaN
// write nothing and give 0.
int gfmt(double value, char* buf, std::size_t size);

// Returns `value` after storing it as a 64-bit double, so that an extended-precision
// intermediate is rounded to double precision; gfmt passes every scaling step through it.
double flush_value_from_fpu(double value);

}  // extern "C"

#endif  // VQ_UTILS_BASE_NUMBER_CONVERSION_H
