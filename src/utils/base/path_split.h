// Taking a file name apart into directory, name and extension, and putting one
// together. "/" is the only directory separator; the path is walked one character at a
// time so that a "/" or "." byte inside a multibyte character is never taken for one.
#ifndef VQ_UTILS_BASE_PATH_SPLIT_H
#define VQ_UTILS_BASE_PATH_SPLIT_H

#include <cstddef>

extern "C" {

// Finds the pieces of `path` without copying: each output is a pointer into `path`
// and a length, or null and 0 when the piece is absent. The drive is always absent.
// The directory keeps its last "/"; the extension keeps its "."; a name that begins
// with its only "." (".profile") is all extension. Every output pointer may be null.
void ut_splitpath2(const char* path, const char** drive, std::size_t* drive_len,
                   const char** dir, std::size_t* dir_len, const char** name,
                   std::size_t* name_len, const char** ext, std::size_t* ext_len);

// ut_splitpath2, then copies each piece into its buffer (when the buffer is non-null);
// an absent piece becomes an empty string. Returns 1, or 0 as soon as a piece does not
// fit its buffer (that buffer then holds what fitted, terminated).
int ut_splitpath(const char* path, char* drive, std::size_t drive_size, char* dir,
                 std::size_t dir_size, char* name, std::size_t name_size, char* ext,
                 std::size_t ext_size);

// out = dir + separator + name + "." + ext, each part only when non-empty. The
// separator is the first character of `separator` ("/" when null); a dir that already
// ends with "/" gets that "/" replaced by it when one is given. The drive is ignored.
// Returns 1, or 0 when the path does not fit (out then holds what fitted).
int ut_makepath(char* out, std::size_t size, const char* drive, const char* dir,
                const char* name, const char* ext, const char* separator);

}  // extern "C"

namespace vq::base {

// Length in bytes (1 to 4) of the character whose first byte is `lead`, in the
// operating system's character set. The multibyte table of the locale code installs
// its lookup here when it is filled; until then every byte is one character.
using CharLengthFn = unsigned (*)(unsigned char lead);
void SetPathCharLengthFn(CharLengthFn fn);  // null restores one byte per character
unsigned PathCharLength(unsigned char lead);

}  // namespace vq::base

#endif  // VQ_UTILS_BASE_PATH_SPLIT_H
