// Bounded copies, duplication and bounded formatting.
#include "utils/base/bounded_strings.h"

#include <cstdio>
#include <cstring>

#include "utils/base/compat.h"
#include "utils/base/memory.h"

namespace {

// The shared body of the four bounded copies: `start` is where the text goes and `room`
// the bytes from there to the end of the buffer (at least 1 here).
int CopyBounded(char* start, std::size_t room, const char* src, std::size_t src_len, char** end,
                std::size_t* remaining) {
  int whole = 1;
  std::size_t copied = src_len;
  if (src_len >= room) {
    copied = room - 1;
    whole = 0;
  }
  std::memmove(start, src, copied);  // the caller may append a part of its own buffer
  start[copied] = '\0';
  std::size_t left = room - copied;
  if (left == 1) left = 0;  // only the terminator's byte is left: nothing more fits
  if (end != nullptr) *end = start + (room - left);
  if (remaining != nullptr) *remaining = left;
  return whole;
}

int CopyAt(char* dst, std::size_t size, std::size_t offset, const char* src,
           std::size_t src_len, char** end, std::size_t* remaining) {
  if (offset >= size) {
    // No terminator within the buffer: we treat it as full rather than write past it.
    if (end != nullptr) *end = dst + size;
    if (remaining != nullptr) *remaining = 0;
    return 0;
  }
  return CopyBounded(dst + offset, size - offset, src, src_len, end, remaining);
}

bool SizeZero(char* dst, std::size_t size, char** end, std::size_t* remaining) {
  if (size != 0) return false;
  if (end != nullptr) *end = dst;
  if (remaining != nullptr) *remaining = 0;
  return true;
}

}  // namespace

extern "C" {

int ut_strcpy(char* dst, std::size_t size, const char* src, char** end,
              std::size_t* remaining) {
  if (src == nullptr || dst == nullptr) return 0;
  if (SizeZero(dst, size, end, remaining)) return 0;
  return CopyAt(dst, size, 0, src, std::strlen(src), end, remaining);
}

int ut_strncpy(char* dst, std::size_t size, const char* src, std::size_t n, char** end,
               std::size_t* remaining) {
  if (src == nullptr || dst == nullptr) return 0;
  if (SizeZero(dst, size, end, remaining)) return 0;
  return CopyAt(dst, size, 0, src, ut_strnlen(src, n), end, remaining);
}

int ut_strcat(char* dst, std::size_t size, const char* src, char** end,
              std::size_t* remaining) {
  if (src == nullptr || dst == nullptr) return 0;
  if (SizeZero(dst, size, end, remaining)) return 0;
  return CopyAt(dst, size, ut_strnlen(dst, size), src, std::strlen(src), end, remaining);
}

int ut_strncat(char* dst, std::size_t size, const char* src, std::size_t n, char** end,
               std::size_t* remaining) {
  if (src == nullptr || dst == nullptr) return 0;
  if (SizeZero(dst, size, end, remaining)) return 0;
  return CopyAt(dst, size, ut_strnlen(dst, size), src, ut_strnlen(src, n), end, remaining);
}

std::size_t ut_strnlen(const char* s, std::size_t n) {
  const void* zero = std::memchr(s, 0, n);
  return zero == nullptr ? n : static_cast<std::size_t>(static_cast<const char*>(zero) - s);
}

char* ut_strdup(const char* s) {
  if (s == nullptr) return nullptr;
  return ut_strndup(s, std::strlen(s));
}

char* ut_strndup(const char* s, std::size_t n) {
  if (s == nullptr) return nullptr;
  const std::size_t len = ut_strnlen(s, n);
  char* copy = static_cast<char*>(ut_alloc(len + 1));
  std::memcpy(copy, s, len);
  copy[len] = '\0';
  return copy;
}

std::size_t ut_wcslen(const std::uint16_t* s) {
  std::size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

bool isAscii7(const char* s, std::size_t n) {
  if (s == nullptr) return true;
  for (std::size_t i = 0; i < n; ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0x80) != 0) return false;
  }
  return true;
}

int ut_stricmp(const char* a, const char* b) {
  if (a == b) return 0;
  if (a == nullptr) return 1;
  if (b == nullptr) return -1;
  return vq::compat::stricmp(a, b);
}

int ut_vsnprintf(char* buf, std::size_t size, const char* format, va_list args) {
  if (buf == nullptr || size == 0) return -1;
  const int len = std::vsnprintf(buf, size, format, args);
  buf[size - 1] = '\0';
  if (len < 0 || static_cast<std::size_t>(len) >= size) return -1;
  return len;
}

int ut_snprintf(char* buf, std::size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int len = ut_vsnprintf(buf, size, format, args);
  va_end(args);
  return len;
}

std::size_t AddCharsToBuffer(char* buf, std::size_t size, std::size_t len, const char* text) {
  if (text == nullptr || len >= size || size - len <= 1) return len;
  std::size_t add = std::strlen(text);
  if (add > size - len - 1) add = size - len - 1;
  std::memmove(buf + len, text, add);
  buf[len + add] = '\0';
  return len + add;
}

}  // extern "C"
