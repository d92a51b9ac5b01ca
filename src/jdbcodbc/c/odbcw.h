// UTF-16 text helpers of the bridge. They work on 16-bit code units as ODBC and Java
// hand them over: no surrogate pairs, no locale. Texts end at a zero unit.
#ifndef VQ_JDBCODBC_ODBCW_H
#define VQ_JDBCODBC_ODBCW_H

#include <sql.h>
#include <sqlucode.h>

#include <cstdint>

static_assert(sizeof(SQLWCHAR) == 2, "the bridge passes Java's UTF-16 units as SQLWCHAR");

// Units before the terminating zero; 0 for a null text.
int ODBCW_wcslen(const SQLWCHAR* text);

// Whole numbers: an optional '+' or '-', then decimal digits up to the end of the text
// or a '.' (what follows the '.' is not examined). True on success with the value in
// *out; an empty (or null) text or any other character fails and leaves *out alone. A
// sign with no digits reads as 0. A number beyond the 64-bit range fails too, with
// *overflow (when given) set, so that no wrapped value passes for the number.
bool ODBCW_SQLWCHAR_TO_I64(const SQLWCHAR* text, std::int64_t* out, bool* overflow = nullptr);
bool ODBCW_SQLCHAR_TO_I64(const SQLCHAR* text, std::int64_t* out, bool* overflow = nullptr);

// An optional sign, then digits until the end, a '.' or any other character. Returns the
// signed 32-bit value (wrapping) and, when `end` is given, where reading stopped; when
// `overflow` is given it says whether the number was beyond the 32-bit range.
std::int32_t ODBCW_SQLWCHAR_TO_LONG(const SQLWCHAR* text, const SQLWCHAR** end,
                                    bool* overflow = nullptr);

// An optional sign, integer digits, then after one '.' fraction digits; no exponent.
// Stops at the end, a second '.' or any other character; `end` as above.
double ODBCW_SQLWCHAR_TO_DOUBLE(const SQLWCHAR* text, const SQLWCHAR** end);

// Compares at most n units, folding 'A'-'Z' to lower case: -1 or 1 at the first
// difference, 0 when both texts end together or after n units.
int ODBCW_wcsnicmp(const SQLWCHAR* a, const SQLWCHAR* b, int n);

// Compares two texts of the given unit counts without regard to case; a shorter text
// that matches the start of the longer one orders first.
int compareStringNIW(const SQLWCHAR* a, int alen, const SQLWCHAR* b, int blen);

#endif  // VQ_JDBCODBC_ODBCW_H
