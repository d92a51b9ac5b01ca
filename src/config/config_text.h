// Small text helpers shared by the configuration parsers and builders: soft copies that
// report running out of memory instead of ending the process, wiping release of texts
// that may hold passwords, ASCII case folding and the white-space class of the parsers.
#ifndef VQ_CONFIG_CONFIG_TEXT_H
#define VQ_CONFIG_CONFIG_TEXT_H

#include <cstddef>
#include <cstring>

#include "utils/base/bounded_strings.h"
#include "utils/base/memory.h"

namespace vq::config {

// Blank and the characters 9 to 13.
inline bool is_white(char c) noexcept { return c == ' ' || (c >= 9 && c <= 13); }
inline bool is_blank_or_tab(char c) noexcept { return c == ' ' || c == '\t'; }

inline char fold(char c) noexcept { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// Equality without regard to ASCII case; null equals nothing.
inline bool same_text(const char* a, const char* b) noexcept {
  return a != nullptr && b != nullptr && ut_stricmp(a, b) == 0;
}

// `text` begins with `word`, without regard to ASCII case.
inline bool starts_with_text(const char* text, const char* word) noexcept {
  for (; *word != '\0'; ++text, ++word) {
    if (*text == '\0' || fold(*text) != fold(*word)) return false;
  }
  return true;
}

// A copy of `n` bytes of `text` with a terminator, from ut_malloc; null when memory runs out.
inline char* copy_text_n(const char* text, std::size_t n) noexcept {
  char* copy = static_cast<char*>(ut_malloc(n + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text, n);
  copy[n] = '\0';
  return copy;
}

// A copy of `text` from ut_malloc; null for null text or when memory runs out.
inline char* copy_text(const char* text) noexcept {
  return text == nullptr ? nullptr : copy_text_n(text, std::strlen(text));
}

// Overwrites a text with zero bytes and frees it; null is ignored. Texts of connection
// parameters may hold passwords, so none of them goes back to the heap readable.
inline void wipe_free(char* text) noexcept {
  if (text == nullptr) return;
  volatile char* p = text;
  while (*p != '\0') *p++ = '\0';
  ut_free(text);
}

// Copies at most `size` - 1 bytes of `text` into `buffer` and terminates it.
inline void copy_bounded(char* buffer, std::size_t size, const char* text) noexcept {
  if (buffer == nullptr || size == 0) return;
  if (ut_strcpy(buffer, size, text, nullptr, nullptr) == 0 && text == nullptr) buffer[0] = '\0';
}

}  // namespace vq::config

#endif  // VQ_CONFIG_CONFIG_TEXT_H
