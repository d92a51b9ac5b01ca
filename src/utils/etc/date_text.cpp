// Character rules of date text: through the collation when there is one, else
// single-byte ASCII rules.
#include "utils/etc/date_text.h"

#include "utils/locale/collation.h"

namespace {

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

namespace vq::etc {

std::size_t DateCharLength(const UTCollationImplementationBase* coll, const char* s,
                           const char* end) {
  if (s >= end) return 0;
  if (coll == nullptr) return 1;
  const std::size_t n = coll->char_length(static_cast<unsigned char>(*s));
  const auto left = static_cast<std::size_t>(end - s);
  return n > left ? left : n;  // a character cut by the end of the text
}

std::size_t DateCharCount(const UTCollationImplementationBase* coll, const char* s,
                          std::size_t len) {
  std::size_t n = 0;
  const char* end = s + len;
  while (s < end) {
    s += DateCharLength(coll, s, end);
    ++n;
  }
  return n;
}

bool DateIsAlpha(const UTCollationImplementationBase* coll, const char* s, const char* end) {
  if (s >= end) return false;
  if (coll != nullptr) return coll->do_is_alpha(s, static_cast<std::size_t>(end - s));
  const char c = AsciiUpper(*s);
  return c >= 'A' && c <= 'Z';
}

int DateCompareChar(const UTCollationImplementationBase* coll, const char* a, const char* a_end,
                    const char** a_next, const char* b, const char* b_end,
                    const char** b_next) {
  if (coll != nullptr) return coll->compare_character(a, a_end, a_next, b, b_end, b_next);
  const bool a_more = a < a_end;
  const bool b_more = b < b_end;
  if (a_next != nullptr) *a_next = a_more ? a + 1 : a;
  if (b_next != nullptr) *b_next = b_more ? b + 1 : b;
  if (!a_more || !b_more) return a_more ? 1 : (b_more ? -1 : 0);
  const auto ua = static_cast<unsigned char>(AsciiUpper(*a));
  const auto ub = static_cast<unsigned char>(AsciiUpper(*b));
  return ua < ub ? -1 : (ua > ub ? 1 : 0);
}

std::size_t DateCharToUpper(const UTCollationImplementationBase* coll, char* dst,
                            std::size_t dstlen, const char* s, std::size_t len) {
  if (len == 0 || dstlen == 0) return 0;
  if (coll != nullptr) return coll->char_toupper(dst, dstlen, s, len);
  *dst = AsciiUpper(*s);
  return 1;
}

std::size_t DateCharToLower(const UTCollationImplementationBase* coll, char* dst,
                            std::size_t dstlen, const char* s, std::size_t len) {
  if (len == 0 || dstlen == 0) return 0;
  if (coll != nullptr) return coll->char_tolower(dst, dstlen, s, len);
  *dst = AsciiLower(*s);
  return 1;
}

int DateCompareN(const UTCollationImplementationBase* coll, const char* a, const char* b,
                 std::size_t n) {
  if (coll != nullptr) return coll->tranncmp(a, b, n);
  for (std::size_t i = 0; i < n; ++i) {
    const auto ua = static_cast<unsigned char>(AsciiUpper(a[i]));
    const auto ub = static_cast<unsigned char>(AsciiUpper(b[i]));
    if (ua != ub) return ua < ub ? -1 : 1;
    if (a[i] == '\0') return 0;
  }
  return 0;
}

}  // namespace vq::etc
