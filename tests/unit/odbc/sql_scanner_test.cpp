// The scanner's character steps and searches, on exact-size buffers so that a read past
// the end of the text is caught by the sanitizer build.
#include "odbc/sql_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utils/locale/char_functions.h"

namespace {

TEST(SqlScanner, Utf8StepsNeverPassTheEnd) {
  const SqlScanner utf8(kCodePageUtf8, nullptr);
  const struct {
    const char* bytes;
    std::size_t length;  // of the text
    std::size_t step;    // expected length of the first character
  } cases[] = {
      {"a", 1, 1},         {"\x7F", 1, 1},         {"\x80\x80", 2, 1},
      {"\xBF\x80", 2, 1},  {"\xC0\x80", 2, 2},     {"\xDF\xBF", 2, 2},
      {"\xE0\xA0\x80", 3, 3}, {"\xEF\xBF\xBF", 3, 3}, {"\xF0\x90\x80\x80", 4, 4},
      {"\xF7\xBF\xBF\xBF", 4, 4}, {"\xF8\x80", 2, 1}, {"\xFF", 1, 1},
      // Cut inside the character: the step ends at the end of the text.
      {"\xC3", 1, 1},      {"\xE3\x81", 2, 2},     {"\xF0\x9F\x98", 3, 3},
      {"\xF0", 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.bytes, c.length)));
    std::vector<char> exact(c.bytes, c.bytes + c.length);
    const char* end = exact.data() + exact.size();
    EXPECT_EQ(utf8.Next(exact.data(), end) - exact.data(), static_cast<std::ptrdiff_t>(c.step));
  }
  // Any other code page with a table that is not filled steps one byte at a time.
  LS_CharFunctions empty;
  const SqlScanner single(1252, &empty);
  const char text[] = "\xE3\x81\x82";
  EXPECT_EQ(single.Next(text, text + 3), text + 1);
}

TEST(SqlScanner, SearchesSkipQuotedTextAndNesting) {
  const SqlScanner s(0, nullptr);
  auto text = [](const char* t) { return std::string(t); };
  {
    const std::string t = text("a, (b, ')'), {c)} ) tail");
    EXPECT_EQ(s.FindListEnd(t.data(), t.data() + t.size()) - t.data(),
              static_cast<std::ptrdiff_t>(t.find(") tail")));
    const std::string open = text("a, ')");
    EXPECT_EQ(s.FindListEnd(open.data(), open.data() + open.size()), open.data() + open.size());
  }
  {
    const std::string t = text("a ON (x on y) ' on ' {b on c} on d");
    const char* on = s.FindAtLevelZero(t.data() + 2, t.data() + t.size(), " on ");
    ASSERT_NE(on, nullptr);
    EXPECT_EQ(on - t.data(), static_cast<std::ptrdiff_t>(t.rfind(" on ")));
    // The word must fit wholly before the end.
    const std::string tail = text("a on");
    EXPECT_EQ(s.FindAtLevelZero(tail.data(), tail.data() + tail.size(), " on "), nullptr);
  }
  {
    const std::string t = text("(a (b) 'c)' d) e");
    EXPECT_EQ(s.MatchParen(t.data(), t.data() + t.size()) - t.data(), 13);
    const std::string b = text("{a {b} '}' }x");
    EXPECT_EQ(s.MatchBrace(b.data(), b.data() + b.size()) - b.data(), 11);
    const std::string unclosed = text("{a '}");
    EXPECT_EQ(s.MatchBrace(unclosed.data(), unclosed.data() + unclosed.size()), nullptr);
  }
}

TEST(SqlScanner, ArgumentsSplitAtLevelZero) {
  const SqlScanner s(0, nullptr);
  const struct {
    const char* list;
    const char* separator;
    std::vector<std::string> args;
  } cases[] = {
      {"", ",", {}},
      {"   ", ",", {}},
      {"a", ",", {"a"}},
      {" a , b ,c ", ",", {"a", "b", "c"}},
      {"f(a, b), 'x,y', {fn g(1, 2)}", ",", {"f(a, b)", "'x,y'", "{fn g(1, 2)}"}},
      {"a,,b", ",", {"a", "", "b"}},
      {"a,", ",", {"a", ""}},
      {"'x' IN s", "IN", {"'x'", "s"}},
      {"'x' in (a IN b)", "IN", {"'x'", "(a IN b)"}},
      {"INDEX IN INTO", "IN", {"INDEX", "INTO"}},
      {"xIN y", "IN", {"xIN y"}},
      {"YEAR FROM d", "FROM", {"YEAR", "d"}},
      {"a IN", "IN", {"a IN"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    const std::string list = c.list;
    std::vector<char> exact(list.begin(), list.end());
    std::vector<SqlRange> ranges;
    s.SplitArguments(exact.data(), exact.data() + exact.size(), c.separator, &ranges);
    std::vector<std::string> got;
    for (const SqlRange& r : ranges) got.emplace_back(r.begin, r.end);
    EXPECT_EQ(got, c.args);
  }
}

}  // namespace
