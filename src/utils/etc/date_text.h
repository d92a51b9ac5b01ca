// Character rules of date text, in one place: the byte length of a character, letter
// tests, case mapping and comparison of characters. With a collation they go through it;
// without one (null) the text is single-byte under ASCII case rules.
#ifndef VQ_UTILS_ETC_DATE_TEXT_H
#define VQ_UTILS_ETC_DATE_TEXT_H

#include <cstddef>

class UTCollationImplementationBase;

namespace vq::etc {

// Bytes of the character at s (at least 1, never past end).
std::size_t DateCharLength(const UTCollationImplementationBase* coll, const char* s,
                           const char* end);
// Characters in s[0, len).
std::size_t DateCharCount(const UTCollationImplementationBase* coll, const char* s,
                          std::size_t len);
bool DateIsAlpha(const UTCollationImplementationBase* coll, const char* s, const char* end);
// Compares the characters at a and b; 0 when they are equal ignoring case. The ends of
// both characters are stored through a_next and b_next.
int DateCompareChar(const UTCollationImplementationBase* coll, const char* a, const char* a_end,
                    const char** a_next, const char* b, const char* b_end, const char** b_next);
// The character at s in upper (lower) case into dst; the bytes written, 0 when it does
// not fit.
std::size_t DateCharToUpper(const UTCollationImplementationBase* coll, char* dst,
                            std::size_t dstlen, const char* s, std::size_t len);
std::size_t DateCharToLower(const UTCollationImplementationBase* coll, char* dst,
                            std::size_t dstlen, const char* s, std::size_t len);
// The first n bytes of a and b compared ignoring case; 0 when equal.
int DateCompareN(const UTCollationImplementationBase* coll, const char* a, const char* b,
                 std::size_t n);

}  // namespace vq::etc

#endif  // VQ_UTILS_ETC_DATE_TEXT_H
