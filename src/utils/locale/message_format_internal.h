// Shared between the catalog and the pattern formatter.
#ifndef VQ_UTILS_LOCALE_MESSAGE_FORMAT_INTERNAL_H
#define VQ_UTILS_LOCALE_MESSAGE_FORMAT_INTERNAL_H

#include <cstdarg>

#include "utils/locale/charset_converter.h"
#include "vqtasks.h"

namespace vq_msgfmt {

// Where the values of the placeholders come from: a va_list, or an array of strings
// (`use_array`; a null array has no entries).
struct ArgumentSource {
  va_list* args = nullptr;
  const char* const* array = nullptr;
  bool use_array = false;
};

// Formats `pattern` into buf[0, size) (narrow), terminated; returns the text's bytes.
unsigned int FormatPattern(char* buf, unsigned int size, const char* pattern,
                           ArgumentSource& source, CharsetConverter* converter,
                           a_ut_safe_pthread_mutex_t* mutex);

// Splits a block of NUL-terminated strings into at most 10 entries and a null end;
// a last string without its terminator inside the block is not taken.
void SplitBlock(const char* block, unsigned int blocklen, const char* out[11]);

}  // namespace vq_msgfmt

#endif  // VQ_UTILS_LOCALE_MESSAGE_FORMAT_INTERNAL_H
