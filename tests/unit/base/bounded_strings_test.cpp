// Bounded copies and formatting: nothing is written past the buffer, truncation is
// reported, and the end/remaining outputs chain.
#include "utils/base/bounded_strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "utils/base/memory.h"

namespace {

// A destination with guard bytes on both sides; the guards must survive every call.
class Guarded {
 public:
  explicit Guarded(std::size_t size, const char* initial = "")
      : bytes_(size + 2 * kGuard, '\xFF') {
    if (size > 0) std::memcpy(data(), initial, std::strlen(initial) + 1);
  }
  char* data() { return bytes_.data() + kGuard; }
  bool guards_intact(std::size_t size) const {
    for (std::size_t i = 0; i < kGuard; ++i) {
      if (bytes_[i] != '\xFF' || bytes_[kGuard + size + i] != '\xFF') return false;
    }
    return true;
  }

 private:
  static constexpr std::size_t kGuard = 8;
  std::vector<char> bytes_;
};

enum class Op { Cpy, NCpy, Cat, NCat };

struct CopyCase {
  const char* name;
  Op op;
  const char* initial;
  std::size_t size;
  const char* src;
  std::size_t n;
  int result;
  const char* text;  // destination afterwards
  std::size_t remaining;
  std::ptrdiff_t end_offset;  // from the start of the buffer
};

const CopyCase kCopyCases[] = {
    {"fits_with_room", Op::Cpy, "", 10, "abc", 0, 1, "abc", 7, 3},
    {"fills_exactly", Op::Cpy, "", 4, "abc", 0, 1, "abc", 0, 4},
    {"truncated_by_one", Op::Cpy, "", 4, "abcd", 0, 0, "abc", 0, 4},
    {"truncated_long", Op::Cpy, "", 3, "abcdefgh", 0, 0, "ab", 0, 3},
    {"empty_source", Op::Cpy, "xyz", 5, "", 0, 1, "", 5, 0},
    {"size_one_holds_terminator_only", Op::Cpy, "", 1, "a", 0, 0, "", 0, 1},
    {"size_one_empty_source", Op::Cpy, "", 1, "", 0, 1, "", 0, 1},
    {"n_limits_source", Op::NCpy, "", 10, "abcdef", 2, 1, "ab", 8, 2},
    {"n_beyond_source", Op::NCpy, "", 10, "ab", 50, 1, "ab", 8, 2},
    {"n_but_buffer_smaller", Op::NCpy, "", 3, "abcdef", 5, 0, "ab", 0, 3},
    {"cat_fits_leaving_terminator", Op::Cat, "abcde", 8, "fg", 0, 1, "abcdefg", 0, 8},
    {"cat_with_room", Op::Cat, "ab", 8, "cd", 0, 1, "abcd", 4, 4},
    {"cat_truncated", Op::Cat, "abcde", 8, "fghij", 0, 0, "abcdefg", 0, 8},
    {"cat_onto_full", Op::Cat, "abc", 4, "d", 0, 0, "abc", 0, 4},
    {"cat_empty_onto_full", Op::Cat, "abc", 4, "", 0, 1, "abc", 0, 4},
    {"ncat_limits_source", Op::NCat, "ab", 8, "cdef", 1, 1, "abc", 5, 3},
    {"ncat_truncated", Op::NCat, "ab", 4, "cdef", 3, 0, "abc", 0, 4},
};

int RunCopy(const CopyCase& c, char* dst, char** end, std::size_t* rem) {
  switch (c.op) {
    case Op::Cpy:
      return ut_strcpy(dst, c.size, c.src, end, rem);
    case Op::NCpy:
      return ut_strncpy(dst, c.size, c.src, c.n, end, rem);
    case Op::Cat:
      return ut_strcat(dst, c.size, c.src, end, rem);
    case Op::NCat:
      return ut_strncat(dst, c.size, c.src, c.n, end, rem);
  }
  return -1;
}

TEST(BoundedCopy, TableOfCopiesAndAppends) {
  for (const CopyCase& c : kCopyCases) {
    SCOPED_TRACE(c.name);
    Guarded buf(c.size, c.initial);
    char* end = nullptr;
    std::size_t rem = 12345;
    EXPECT_EQ(RunCopy(c, buf.data(), &end, &rem), c.result);
    EXPECT_STREQ(buf.data(), c.text);
    EXPECT_EQ(rem, c.remaining);
    EXPECT_EQ(end - buf.data(), c.end_offset);
    EXPECT_TRUE(buf.guards_intact(c.size));
    // The same call with null outputs gives the same result and text.
    Guarded again(c.size, c.initial);
    EXPECT_EQ(RunCopy(c, again.data(), nullptr, nullptr), c.result);
    EXPECT_STREQ(again.data(), c.text);
  }
}

TEST(BoundedCopy, NullSourceAndZeroSize) {
  char buf[4] = "xy";
  char* end = reinterpret_cast<char*>(&buf[3]);
  std::size_t rem = 77;
  EXPECT_EQ(ut_strcpy(buf, sizeof buf, nullptr, &end, &rem), 0);
  EXPECT_EQ(ut_strcat(buf, sizeof buf, nullptr, &end, &rem), 0);
  EXPECT_EQ(ut_strncpy(buf, sizeof buf, nullptr, 2, &end, &rem), 0);
  EXPECT_STREQ(buf, "xy");
  EXPECT_EQ(end, &buf[3]);  // outputs untouched
  EXPECT_EQ(rem, 77u);

  EXPECT_EQ(ut_strcpy(buf, 0, "abc", &end, &rem), 0);
  EXPECT_STREQ(buf, "xy");
  EXPECT_EQ(end, buf);
  EXPECT_EQ(rem, 0u);
  EXPECT_EQ(ut_strncat(buf, 0, "abc", 1, &end, &rem), 0);
  EXPECT_EQ(end, buf);
}

TEST(BoundedCopy, ChainedAppendsStopAtTheEnd) {
  Guarded buf(8);
  char* end = nullptr;
  std::size_t left = 0;
  EXPECT_EQ(ut_strcpy(buf.data(), 8, "abc", &end, &left), 1);
  EXPECT_EQ(ut_strcat(end, left, "de", &end, &left), 1);
  EXPECT_STREQ(buf.data(), "abcde");
  EXPECT_EQ(left, 3u);
  EXPECT_EQ(ut_strcat(end, left, "fghij", &end, &left), 0);
  EXPECT_STREQ(buf.data(), "abcdefg");
  EXPECT_EQ(left, 0u);
  EXPECT_EQ(end, buf.data() + 8);
  // Full: a further chained append writes nothing, not even a terminator.
  EXPECT_EQ(ut_strcat(end, left, "x", &end, &left), 0);
  EXPECT_STREQ(buf.data(), "abcdefg");
  EXPECT_TRUE(buf.guards_intact(8));
}

TEST(BoundedCopy, UnterminatedDestinationIsNotOverrun) {
  Guarded buf(4);
  std::memcpy(buf.data(), "wxyz", 4);  // no terminator within the size
  char* end = nullptr;
  std::size_t left = 9;
  EXPECT_EQ(ut_strcat(buf.data(), 4, "a", &end, &left), 0);
  EXPECT_EQ(left, 0u);
  EXPECT_EQ(end, buf.data() + 4);
  EXPECT_TRUE(buf.guards_intact(4));
}

TEST(BoundedFormat, FitsAndTruncates) {
  struct Case {
    std::size_t size;
    int result;
    const char* text;
  } cases[] = {{10, 5, "ab-42"}, {6, 5, "ab-42"}, {5, -1, "ab-4"}, {1, -1, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    Guarded buf(c.size);
    EXPECT_EQ(ut_snprintf(buf.data(), c.size, "%s%d", "ab", -42), c.result);
    EXPECT_STREQ(buf.data(), c.text);
    EXPECT_TRUE(buf.guards_intact(c.size));
  }
  Guarded none(0);
  EXPECT_EQ(ut_snprintf(none.data(), 0, "%d", 1), -1);
  EXPECT_TRUE(none.guards_intact(0));
}

TEST(AddChars, AppendsWithinTheBuffer) {
  struct Case {
    const char* name;
    std::size_t size;
    const char* initial;
    const char* text;
    std::size_t result;
    const char* after;
  } cases[] = {
      {"fits", 10, "ab", "cde", 5, "abcde"},
      {"cut", 5, "ab", "cdef", 4, "abcd"},
      {"terminator_only_left", 3, "ab", "c", 2, "ab"},
      {"null_text", 10, "ab", nullptr, 2, "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Guarded buf(c.size, c.initial);
    EXPECT_EQ(AddCharsToBuffer(buf.data(), c.size, std::strlen(c.initial), c.text), c.result);
    EXPECT_STREQ(buf.data(), c.after);
    EXPECT_TRUE(buf.guards_intact(c.size));
  }
  Guarded full(2, "a");
  EXPECT_EQ(AddCharsToBuffer(full.data(), 2, 5, "x"), 5u);  // offset beyond the buffer
  EXPECT_TRUE(full.guards_intact(2));
}

TEST(StringHelpers, LengthsDuplicatesAndTests) {
  EXPECT_EQ(ut_strnlen("abc", 10), 3u);
  EXPECT_EQ(ut_strnlen("abcdef", 4), 4u);
  EXPECT_EQ(ut_strnlen("", 0), 0u);

  EXPECT_EQ(ut_strdup(nullptr), nullptr);
  EXPECT_EQ(ut_strndup(nullptr, 3), nullptr);
  std::unique_ptr<char, vq::base::UtFree> copy(ut_strdup("hello"));
  EXPECT_STREQ(copy.get(), "hello");
  std::unique_ptr<char, vq::base::UtFree> part(ut_strndup("hello", 3));
  EXPECT_STREQ(part.get(), "hel");
  std::unique_ptr<char, vq::base::UtFree> whole(ut_strndup("hi", 30));
  EXPECT_STREQ(whole.get(), "hi");

  const std::uint16_t wide[] = {0x41, 0xD800, 0xDC00, 0};
  EXPECT_EQ(ut_wcslen(wide), 3u);

  EXPECT_TRUE(isAscii7(nullptr, 5));
  EXPECT_TRUE(isAscii7("\x80", 0));
  EXPECT_TRUE(isAscii7("ab\0c", 4));
  EXPECT_FALSE(isAscii7("ab\0\x80", 4));  // zero bytes do not end the test
  EXPECT_FALSE(isAscii7("\xC3\xA9", 2));
}

TEST(StringHelpers, CaseInsensitiveCompareWithNulls) {
  const char* same = "x";
  EXPECT_EQ(ut_stricmp(nullptr, nullptr), 0);
  EXPECT_EQ(ut_stricmp(same, same), 0);
  EXPECT_EQ(ut_stricmp(nullptr, "a"), 1);
  EXPECT_EQ(ut_stricmp("a", nullptr), -1);
  EXPECT_EQ(ut_stricmp("Hello", "hELLO"), 0);
  EXPECT_LT(ut_stricmp("abc", "ABD"), 0);
  EXPECT_GT(ut_stricmp("abcd", "ABC"), 0);
}

}  // namespace
