// The lexical layer under escape translation: steps through SQL text one character at a
// time in the connection's client character set and finds the ends of quoted strings,
// comments, brace escapes, parenthesised lists and function arguments.
//
// Every function works on a range [p, end) of text it is given and returns pointers into
// that range; none reads at or past `end`, even when the text ends inside a multibyte
// character. Nothing here allocates except SplitArguments, which fills a vector.
#ifndef VQ_ODBC_SQL_SCANNER_H
#define VQ_ODBC_SQL_SCANNER_H

#include <cstddef>
#include <cstdint>
#include <vector>

class LS_CharFunctions;

// The code page that selects the UTF-8 character lengths.
constexpr std::int32_t kCodePageUtf8 = 65001;

// A piece of SQL text: [begin, end).
struct SqlRange {
  const char* begin;
  const char* end;
  std::size_t size() const { return static_cast<std::size_t>(end - begin); }
  bool empty() const { return begin == end; }
};

class SqlScanner {
 public:
  // `code_page` 65001 steps by UTF-8 lead bytes (0xC0-0xDF two bytes, 0xE0-0xEF three,
  // 0xF0-0xF7 four, any other byte one); any other code page steps by the lead-byte table
  // `lead_bytes` (null: the process's table, LSCharFunctions). The table must outlive the
  // scanner.
  SqlScanner(std::int32_t code_page, const LS_CharFunctions* lead_bytes);

  // The character that starts at p (p < end) ends here; never past end.
  const char* Next(const char* p, const char* end) const;

  // The first position at or after p that is not ASCII white space.
  static const char* SkipSpace(const char* p, const char* end);
  // The end of the range with trailing ASCII white space removed.
  static const char* TrimEnd(const char* begin, const char* end);
  // True when [p, end) begins with `word` (ASCII letters compared without case).
  static bool StartsWithWord(const char* p, const char* end, const char* word);
  static bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
  }

  // p is at a quote character: the position after its closing quote, or null when the
  // string is not terminated. A doubled quote simply closes and reopens the string.
  const char* SkipQuoted(const char* p, const char* end) const;
  // p is after "/*": the position after the next "*/", or null when there is none.
  const char* SkipBlockComment(const char* p, const char* end) const;
  // The position after the next newline at or after p, or null when there is none.
  const char* SkipLine(const char* p, const char* end) const;
  // p is at "{": the matching "}" (braces nest, quoted strings are skipped), or null.
  const char* MatchBrace(const char* p, const char* end) const {
    return MatchClosing(p, end, '{', '}');
  }
  // p is at "(": the matching ")" (parentheses nest, quoted strings are skipped), or null.
  const char* MatchParen(const char* p, const char* end) const {
    return MatchClosing(p, end, '(', ')');
  }

  // The first ")" at nesting level 0 (parentheses and braces nest, quoted strings are
  // skipped), or end when there is none.
  const char* FindListEnd(const char* p, const char* end) const;
  // The first occurrence of `word` (compared without case) at nesting level 0, at or
  // after p, that lies wholly before end; null when there is none. `word` is ASCII and
  // does not begin with a quote or a bracket.
  const char* FindAtLevelZero(const char* p, const char* end, const char* word) const;

  // Splits an argument list at `separator` at nesting level 0. A one-character separator
  // splits anywhere; a longer one (a word such as "IN") only where white space stands
  // on both sides of it, compared without case. Each argument is trimmed of white space.
  // An empty or all-blank list has no arguments. Existing contents of *args are replaced.
  void SplitArguments(const char* p, const char* end, const char* separator,
                      std::vector<SqlRange>* args) const;

 private:
  const char* MatchClosing(const char* p, const char* end, char open, char close) const;
  // The position after the unit at q: a whole quoted string, or one character, where
  // "(" and "{" raise *depth and ")" and "}" lower it (never below 0). Null when the
  // quoted string has no end.
  const char* StepNested(const char* q, const char* end, int* depth) const;

  std::int32_t code_page_;
  const LS_CharFunctions* lead_bytes_;
};

#endif  // VQ_ODBC_SQL_SCANNER_H
