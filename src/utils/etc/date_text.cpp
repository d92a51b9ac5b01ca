// Character rules of date text.
//
// XXX Interim seam: the collation front object is not yet part of this tree, so every
// function below uses single-byte ASCII rules and ignores the collation it is given.
// Once the collation headers are here, these bodies call the implementation's
// char_length, do_is_alpha, compare_character, char_toupper, char_tolower and tranncmp
// whenever `coll` is not null; the callers do not change.
#include "utils/etc/date_text.h"

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

namespace vq::etc {

std::size_t DateCharLength(const UTCollationImplementationBase* /*coll*/, const char* s,
                           const char* end) {
  return s < end ? 1 : 0;
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

bool DateIsAlpha(const UTCollationImplementationBase* /*coll*/, const char* s, const char* end) {
  if (s >= end) return false;
  const char c = AsciiUpper(*s);
  return c >= 'A' && c <= 'Z';
}

int DateCompareChar(const UTCollationImplementationBase* /*coll*/, const char* a,
                    const char* a_end, const char** a_next, const char* b, const char* b_end,
                    const char** b_next) {
  const bool a_more = a < a_end;
  const bool b_more = b < b_end;
  if (a_next != nullptr) *a_next = a_more ? a + 1 : a;
  if (b_next != nullptr) *b_next = b_more ? b + 1 : b;
  if (!a_more || !b_more) return a_more ? 1 : (b_more ? -1 : 0);
  const auto ua = static_cast<unsigned char>(AsciiUpper(*a));
  const auto ub = static_cast<unsigned char>(AsciiUpper(*b));
  return ua < ub ? -1 : (ua > ub ? 1 : 0);
}

std::size_t DateCharToUpper(const UTCollationImplementationBase* /*coll*/, char* dst,
                            std::size_t dstlen, const char* s, std::size_t len) {
  if (len == 0 || dstlen == 0) return 0;
  *dst = AsciiUpper(*s);
  return 1;
}

std::size_t DateCharToLower(const UTCollationImplementationBase* /*coll*/, char* dst,
                            std::size_t dstlen, const char* s, std::size_t len) {
  if (len == 0 || dstlen == 0) return 0;
  *dst = AsciiLower(*s);
  return 1;
}

int DateCompareN(const UTCollationImplementationBase* coll, const char* a, const char* b,
                 std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const int c = DateCompareChar(coll, a + i, a + i + 1, nullptr, b + i, b + i + 1, nullptr);
    if (c != 0) return c;
    if (a[i] == '\0') return 0;
  }
  return 0;
}

}  // namespace vq::etc
