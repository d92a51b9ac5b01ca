// Byte-string primitives that never write past a buffer and say whether everything fitted.
//
// Strings are byte strings ending in a zero byte unless a length is given. The bounded copy
// family returns 1 when the whole source fitted and 0 when it was cut (or nothing could be
// written); a terminator always follows what was written. Its two optional outputs let a
// caller chain appends without measuring the string again:
//   char* end; std::size_t left;
//   ut_strcpy(buf, sizeof buf, a, &end, &left);
//   ut_strcat(end, left, b, &end, &left);   // writes nothing and returns 0 once full
#ifndef VQ_UTILS_BASE_BOUNDED_STRINGS_H
#define VQ_UTILS_BASE_BOUNDED_STRINGS_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>

extern "C" {

// Copies `src` (ut_strncpy: at most `n` bytes of it) to the start of `dst`, a buffer of
// `size` bytes including the terminator. The cat forms append at the terminator of the
// string already in `dst`; a destination with no terminator within `size` is taken as full.
//  - null `src`: returns 0, writes nothing, leaves `end` and `remaining` alone;
//  - `size` 0: returns 0, writes nothing, `end` = `dst`, `remaining` = 0;
//  - otherwise, with room = bytes from the start point to the end of the buffer: a source
//    shorter than room is copied whole (result 1), else room - 1 bytes are (result 0);
//    `remaining` = room - copied, except that a last byte holding only the terminator
//    counts as 0; `end` = start + room - `remaining`, which is the terminator while room
//    remains and one past the buffer once it is full.
// `end` and `remaining` may be null. Source and destination may overlap.
int ut_strcpy(char* dst, std::size_t size, const char* src, char** end, std::size_t* remaining);
int ut_strncpy(char* dst, std::size_t size, const char* src, std::size_t n, char** end,
               std::size_t* remaining);
int ut_strcat(char* dst, std::size_t size, const char* src, char** end, std::size_t* remaining);
int ut_strncat(char* dst, std::size_t size, const char* src, std::size_t n, char** end,
               std::size_t* remaining);

// Index of the first zero byte among the first `n` bytes of `s`, else `n`.
std::size_t ut_strnlen(const char* s, std::size_t n);
// Copies made with ut_alloc (the caller releases them with ut_free); null for a null `s`.
// ut_strndup copies at most `n` bytes, up to the first zero byte, and terminates.
char* ut_strdup(const char* s);
char* ut_strndup(const char* s, std::size_t n);
// Number of 16-bit units before the first zero unit.
std::size_t ut_wcslen(const std::uint16_t* s);
// True when none of the first `n` bytes has its top bit set; zero bytes do not end the
// test. True for a null `s` or `n` 0.
bool isAscii7(const char* s, std::size_t n);
// Case-insensitive comparison (A-Z folded only). The same pointer (both null included)
// gives 0; a null `a` compares greater (1), a null `b` smaller (-1).
int ut_stricmp(const char* a, const char* b);

// vsnprintf into `buf`, whose last byte is then set to zero. Returns the formatted length
// when it fitted (length < size), else -1. A `size` of 0 writes nothing and returns -1.
int ut_vsnprintf(char* buf, std::size_t size, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));
int ut_snprintf(char* buf, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Appends `text` at offset `len` of `buf` (a buffer of `size` bytes holding `len` bytes of
// text), at most size - len - 1 bytes, terminates and returns the new length. A null
// `text`, a buffer with only the terminator's byte left, or a `len` not below `size`
// (nothing may be written then) return `len` unchanged.
std::size_t AddCharsToBuffer(char* buf, std::size_t size, std::size_t len, const char* text);

}  // extern "C"

#endif  // VQ_UTILS_BASE_BOUNDED_STRINGS_H
