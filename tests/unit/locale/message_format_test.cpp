#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "utils/locale/lang_string.h"
#include "utils/locale/utlocale.h"

namespace {

template <typename... Args>
std::string Fmt(unsigned int size, const char* pattern, Args... args) {
  std::vector<char> buf(size + 1, 'Z');  // one guard byte past the buffer
  unsigned int n = UTLangStringBase::FormatMiscStr(buf.data(), size, pattern, args...);
  EXPECT_EQ('Z', buf[size]) << pattern << ": wrote past the buffer";
  std::string text(buf.data());
  EXPECT_EQ(text.size(), n) << pattern;
  return text;
}

template <typename... Args>
std::string Fmt(const char* pattern, Args... args) {
  return Fmt(256, pattern, args...);
}

TEST(MessageFormat, PlaceholdersAndPercentSigns) {
  EXPECT_EQ("%", Fmt("%%"));
  EXPECT_EQ("%1", Fmt("%%1", "unused"));
  EXPECT_EQ("%0 %x and 100%", Fmt("%0 %x and 100%"));
  EXPECT_EQ("Value %1 and x", Fmt("Value %1 and %1", "x"));
  EXPECT_EQ("b a", Fmt("%2 %1", "a", "b"));
  EXPECT_EQ("third", Fmt("%3", "first", "second", "third"));
  EXPECT_EQ("[???]", Fmt("[%1]", static_cast<const char*>(nullptr)));
  EXPECT_EQ("x!q!", Fmt("%1!q!", "x"));
  EXPECT_EQ("plain", Fmt("plain"));
  EXPECT_EQ("", Fmt(""));
  EXPECT_EQ("a-s", Fmt("%1!s!-%2!at!", "a", "s"));
}

TEST(MessageFormat, TypedArgumentsAtTheirRealWidths) {
  EXPECT_EQ("2345", Fmt("%1!4x!", 74565));
  EXPECT_EQ("000000ff", Fmt("%1!8x!", 255));
  EXPECT_EQ("ffffffff", Fmt("%1!8x!", 0xFFFFFFFFu));
  EXPECT_EQ("-5", Fmt("%1!lld!", -5LL));
  EXPECT_EQ("-2147483648 4294967295", Fmt("%1!d! %2!u!", INT_MIN, UINT_MAX));
  EXPECT_EQ("A", Fmt("%1!c!", 'A'));
  // long is 64 bits on this build: !ld! and !lu! take the whole value.
  EXPECT_EQ("9223372036854775807", Fmt("%1!ld!", LONG_MAX));
  EXPECT_EQ("-9223372036854775808", Fmt("%1!ld!", LONG_MIN));
  EXPECT_EQ("18446744073709551615", Fmt("%1!lu!", ULONG_MAX));
  EXPECT_EQ("18446744073709551615", Fmt("%1!llu!", ULLONG_MAX));
  EXPECT_EQ("-9223372036854775808", Fmt("%1!lld!", LLONG_MIN));
  // Arguments after a wide one stay in place.
  EXPECT_EQ("4294967296 next 7", Fmt("%1!lu! %2 %3!d!", 4294967296UL, "next", 7));
  // An unused number takes one argument, so later ones keep their order.
  EXPECT_EQ("1 3", Fmt("%1!d! %3!d!", 1, 2, 3));
}

TEST(MessageFormat, OutputIsCutToTheBuffer) {
  EXPECT_EQ("abcd", Fmt(5, "abcdefgh"));
  EXPECT_EQ("", Fmt(1, "abcdefgh"));
  EXPECT_EQ("ab", Fmt(3, "%1", "abcdef"));
  EXPECT_EQ("12", Fmt(3, "%1!d!", 12345));
  EXPECT_EQ("00", Fmt(3, "%1!8x!", 1));
  EXPECT_EQ("x%", Fmt(3, "x%%%%"));
  char buf[4] = {'Z', 'Z', 'Z', 'Z'};
  EXPECT_EQ(0u, UTLangStringBase::FormatMiscStr(buf, 0, "abc"));
  EXPECT_EQ('Z', buf[0]);
}

std::string ArrayFmt(const char* pattern, const char* const* args, unsigned int size = 256) {
  std::vector<char> buf(size, 'Z');
  unsigned int n =
      UTLangStringBase::ArrayFormatMiscStr(buf.data(), size, pattern, args, nullptr, nullptr);
  std::string text(buf.data());
  EXPECT_EQ(text.size(), n);
  return text;
}

TEST(MessageFormat, ArrayAndBlockForms) {
  const char* abc[] = {"a", nullptr, "c", nullptr};
  EXPECT_EQ("a ??? ???", ArrayFmt("%1 %2 %3", abc));
  EXPECT_EQ("??? ???", ArrayFmt("%1 %2", nullptr));
  const char* xy[] = {"x", "y", nullptr};
  EXPECT_EQ("x y", ArrayFmt("%1 %2!s!", xy));
  EXPECT_EQ("%2 x y",
            ArrayFmt("%2 %1 %2!d!", xy));  // the first %2 is text; !d! writes the string

  struct Case {
    std::string block;
    const char* pattern;
    const char* text;
  };
  const Case cases[] = {
      {std::string("one\0two\0", 8), "%2/%1", "two/one"},
      {std::string(""), "%1", "???"},
      {std::string("one\0tw", 6), "%1 %2", "one ???"},  // unterminated tail is no argument
      {std::string("1\0002\0003\0004\0005\0006\0007\0008\0009\000a\000b\0", 22), "%9", "9"},
  };
  for (const Case& c : cases) {
    char buf[64];
    UTLangStringBase::SQLFormatMiscStr(buf, sizeof buf, c.pattern, c.block.data(),
                                       static_cast<unsigned int>(c.block.size()), nullptr,
                                       nullptr);
    EXPECT_STREQ(c.text, buf) << c.pattern;
  }
}

TEST(MessageFormat, StringArgumentsThroughAConverterEndWithAWholeZeroUnit) {
  UTLocale locale;
  const CharsetInfo* utf8 = UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll);
  const CharsetInfo* le = UTLocale::GetCharsetInfoFromLabel("UTF-16LE", kSchemeAll);
  CharsetConverter converter(&locale, le, utf8);
  a_ut_safe_pthread_mutex_t mutex{nullptr};
  ASSERT_EQ(0, ut_safe_pthread_mutex_init(&mutex, nullptr));
  const char* args[] = {"ab", nullptr};
  char buf[16];
  std::memset(buf, 'Z', sizeof buf);
  unsigned int n =
      UTLangStringBase::ArrayFormatMiscStr(buf, sizeof buf, "%1", args, &converter, &mutex);
  EXPECT_EQ(4u, n);
  EXPECT_EQ(0, std::memcmp(buf, "a\0b\0\0", 5));
  // Room for less than one converted character plus its zero unit: nothing written.
  std::memset(buf, 'Z', sizeof buf);
  n = UTLangStringBase::ArrayFormatMiscStr(buf, 3, "%1", args, &converter, &mutex);
  EXPECT_EQ(0u, n);
  EXPECT_EQ('\0', buf[0]);
  ut_safe_pthread_mutex_destroy(&mutex);
}

}  // namespace
