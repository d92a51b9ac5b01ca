// Functions that the system's code calls by the names of another platform's C library:
// case-insensitive comparisons, lower-casing, a millisecond sleep, a millisecond-clock
// reading, full-path resolution and a search along a path variable.
//
// They live in namespace vq::compat so that they never clash with, or replace, the C
// library's functions of the same name (clock() above all, whose meaning differs) for any
// other code in the process. Callers write vq::compat::stricmp or import the names they use.
#ifndef VQ_UTILS_BASE_COMPAT_H
#define VQ_UTILS_BASE_COMPAT_H

#include <cstddef>
#include <cstdint>

namespace vq::compat {

// Byte-by-byte comparison with only A-Z folded to a-z; stops at the first difference or at
// the end of `b` and returns the difference of the two folded bytes (as unsigned bytes),
// 0 when equal. The n forms compare at most `n` bytes (`n` 0 gives 0); memicmp compares
// exactly `n` bytes, zero bytes included.
int stricmp(const char* a, const char* b);
int _stricmp(const char* a, const char* b);
int strcmpi(const char* a, const char* b);
int strnicmp(const char* a, const char* b, std::size_t n);
int _strnicmp(const char* a, const char* b, std::size_t n);
int memicmp(const void* a, const void* b, std::size_t n);
int _memicmp(const void* a, const void* b, std::size_t n);

// Maps A-Z to a-z in place; returns `s`.
char* strlwr(char* s);

// Sleeps `ms` milliseconds. A signal does not cut the sleep short: the time left is slept
// again as long as it is shorter than the time asked for; any other failure ends it.
void delay(unsigned ms);

// The fast millisecond clock (unix_clock) in microseconds, taken modulo 2^32 as a signed
// 32-bit value: the difference of two readings less than about 35 minutes apart is the
// microseconds between them.
std::int32_t clock();

// Resolves `path` against the current directory and removes "." and ".." components
// (".." never climbs above the root; a path that reduces to the root gives "/").
// A null `buf` makes it allocate 4,096 bytes with malloc (the caller frees them with free)
// and use that size; ENOMEM and null when that fails. A null or empty path gives the
// current directory (getcwd). A result of `size` characters or more: ERANGE and null.
char* _fullpath(char* buf, const char* path, unsigned size);

// Finds `file`: as given (relative to the current directory or absolute; `out` then gets
// it prefixed by the current directory and "/" unless it begins with "/" or "."), else in
// the first ":"-separated element of the environment variable `variable` that holds it
// (empty elements skipped, double quotes dropped). Nothing found, or the variable unset or
// empty: `out` is empty. `out` must hold 4,096 bytes.
void _searchenv(const char* file, const char* variable, char* out);

}  // namespace vq::compat

extern "C" {

// Splits `line` in place into at most max - 1 arguments separated by blanks or the control
// characters 9 to 13; an argument that begins with a double quote runs to the next double
// quote, which is removed. `argv` receives the addresses and a closing null entry (it must
// hold `max` entries). Returns the count; `max` below 2 gives 0 and a null first entry.
unsigned ParseArgv(char** argv, unsigned max, char* line);

}  // extern "C"

#endif  // VQ_UTILS_BASE_COMPAT_H
