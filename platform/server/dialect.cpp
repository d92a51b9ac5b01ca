// Expression rewrites, column hints and parameter targets of the dialect layer, on
// a token list that keeps every byte of the text (quotes and comments included).
#include "dialect.h"

#include <cctype>
#include <cstring>

#include "sql_text.h"

namespace vqeng {
namespace {

struct Token {
  enum Kind { Word, Ident, String, Number, Punct, Space } kind;
  std::string text;
};

bool word_start(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalpha(u) || c == '_' || c == '@' || c == '$' || c == '#' || u >= 0x80;
}
bool word_part(char c) { return word_start(c) || std::isdigit(static_cast<unsigned char>(c)); }

std::vector<Token> tokenize(const std::string& s) {
  std::vector<Token> out;
  std::size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    std::size_t j = i + 1;
    Token::Kind kind = Token::Punct;
    if (std::isspace(static_cast<unsigned char>(c))) {
      while (j < s.size() && std::isspace(static_cast<unsigned char>(s[j]))) ++j;
      kind = Token::Space;
    } else if (c == '-' && j < s.size() && s[j] == '-') {
      while (j < s.size() && s[j] != '\n') ++j;
      kind = Token::Space;
    } else if (c == '/' && j < s.size() && s[j] == '*') {
      const auto end = s.find("*/", j + 1);
      j = end == std::string::npos ? s.size() : end + 2;
      kind = Token::Space;
    } else if (c == '\'' || c == '"' || c == '`') {
      // A doubled quote inside stands for one; an unclosed quote runs to the end.
      for (;;) {
        while (j < s.size() && s[j] != c) ++j;
        if (j + 1 < s.size() && s[j + 1] == c) {
          j += 2;
          continue;
        }
        j = std::min(j + 1, s.size());
        break;
      }
      kind = c == '\'' ? Token::String : Token::Ident;
    } else if (word_start(c)) {
      while (j < s.size() && word_part(s[j])) ++j;
      kind = Token::Word;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      while (j < s.size() && (word_part(s[j]) || s[j] == '.')) ++j;
      kind = Token::Number;
    } else {
      static const char* const kTwo[] = {"||", "<=", ">=", "<>", "!=", "=="};
      for (const char* t : kTwo)
        if (s.compare(i, 2, t) == 0) j = i + 2;
    }
    out.push_back({kind, s.substr(i, j - i)});
    i = j;
  }
  return out;
}

// An identifier's name: a word as it is, a quoted name without its quotes.
std::string name_of(const Token& t) {
  if (t.kind != Token::Ident) return t.text;
  std::string out;
  const char q = t.text[0];
  for (std::size_t i = 1; i + 1 < t.text.size(); ++i) {
    out.push_back(t.text[i]);
    if (t.text[i] == q && t.text[i + 1] == q) ++i;
  }
  return out;
}

bool is(const Token& t, const char* punct) { return t.kind == Token::Punct && t.text == punct; }
bool is_word(const Token& t, const char* w) {
  return t.kind == Token::Word && upper(t.text) == w;
}
bool one_of(const std::string& u, std::initializer_list<const char*> words) {
  for (const char* w : words)
    if (u == w) return true;
  return false;
}

// The token list with the matching parenthesis of every parenthesis.
struct Tokens {
  std::vector<Token> t;
  std::vector<std::size_t> match;  // index of the matching parenthesis, or t.size()
  explicit Tokens(const std::string& sql) : t(tokenize(sql)), match(t.size(), t.size()) {
    std::vector<std::size_t> open;
    for (std::size_t i = 0; i < t.size(); ++i) {
      if (is(t[i], "(")) open.push_back(i);
      if (is(t[i], ")") && !open.empty()) {
        match[i] = open.back();
        match[open.back()] = i;
        open.pop_back();
      }
    }
  }
  std::size_t next(std::size_t i) const {  // the next token that is not blank, from i
    while (i < t.size() && t[i].kind == Token::Space) ++i;
    return i;
  }
  std::size_t prev(std::size_t i) const {  // the token that is not blank before i
    while (i > 0) {
      --i;
      if (t[i].kind != Token::Space) return i;
    }
    return t.size();
  }
};

// Functions whose result is text: a '+' next to a call of one of them joins strings.
bool string_function(const std::string& name) {
  return one_of(upper(name), {"SUBSTRING", "SUBSTR", "REPEAT", "STRING", "LEFT", "RIGHT",
                              "UCASE", "LCASE", "UPPER", "LOWER", "LTRIM", "RTRIM", "TRIM",
                              "REPLACE", "DATEFORMAT", "DAYNAME", "MONTHNAME", "CHAR", "SPACE",
                              "VQ_CAST_UUIDSTR"});
}

bool function_name(const Token& t) { return t.kind == Token::Word || t.kind == Token::Ident; }

bool string_left(const Tokens& k, std::size_t i) {
  const std::size_t p = k.prev(i);
  if (p == k.t.size()) return false;
  if (k.t[p].kind == Token::String) return true;
  if (!is(k.t[p], ")") || k.match[p] == k.t.size()) return false;
  const std::size_t f = k.prev(k.match[p]);
  return f != k.t.size() && function_name(k.t[f]) && string_function(name_of(k.t[f]));
}

bool string_right(const Tokens& k, std::size_t i) {
  const std::size_t n = k.next(i + 1);
  if (n == k.t.size()) return false;
  if (k.t[n].kind == Token::String) return true;
  const std::size_t paren = k.next(n + 1);
  return function_name(k.t[n]) && string_function(name_of(k.t[n])) && paren < k.t.size() &&
         is(k.t[paren], "(");
}

// USER is the special value where an expression stands, not a name of a column
// declaration or of something qualified.
bool user_value(const Tokens& k, std::size_t i) {
  const std::size_t p = k.prev(i), n = k.next(i + 1);
  if (p == k.t.size()) return false;
  const Token& a = k.t[p];
  const bool before =
      (a.kind == Token::Punct &&
       one_of(a.text, {",", "(", "=", "<", ">", "<>", "!=", "<=", ">=", "+", "-", "||"})) ||
      (a.kind == Token::Word && one_of(upper(a.text), {"SELECT", "WHEN", "THEN", "ELSE", "AND",
                                                        "OR", "NOT", "RETURN", "LIKE", "IS"}));
  if (!before) return false;
  if (n == k.t.size()) return true;
  const Token& b = k.t[n];
  return (b.kind == Token::Punct &&
          one_of(b.text, {",", ")", ";", "=", "<", ">", "<>", "!=", "<=", ">=", "+", "||"})) ||
         (b.kind == Token::Word &&
          one_of(upper(b.text), {"FROM", "AS", "WHERE", "ORDER", "GROUP", "UNION", "AND", "OR",
                                 "END", "ELSE", "THEN", "WHEN", "IS", "LIKE", "LIMIT",
                                 "HAVING"}));
}

// The function that converts to a cast's target type, or null for a type SQLite
// takes as it is.
const char* cast_function(const std::string& type_text) {
  std::string t = upper(type_text);
  const auto paren = t.find('(');
  if (paren != std::string::npos) t = t.substr(0, paren);
  std::string words;  // blanks collapsed
  for (char c : t) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!words.empty() && words.back() != ' ') words.push_back(' ');
    } else {
      words.push_back(c);
    }
  }
  while (!words.empty() && words.back() == ' ') words.pop_back();
  struct Row {
    const char* type;
    const char* fn;
  };
  static const Row kRows[] = {
      {"DATE", "vq_cast_date"},
      {"TIME", "vq_cast_time"},
      {"TIMESTAMP", "vq_cast_timestamp"},
      {"DATETIME", "vq_cast_timestamp"},
      {"SMALLDATETIME", "vq_cast_timestamp"},
      {"BINARY", "vq_cast_binary"},
      {"VARBINARY", "vq_cast_binary"},
      {"LONG BINARY", "vq_cast_long_binary"},
      {"IMAGE", "vq_cast_long_binary"},
      {"UNIQUEIDENTIFIER", "vq_cast_uuid"},
      {"UNIQUEIDENTIFIERSTR", "vq_cast_uuidstr"},
  };
  for (const auto& r : kRows)
    if (words == r.type) return r.fn;
  return nullptr;
}

std::string rewrite_range(const Tokens& k, std::size_t b, std::size_t e,
                          const std::string& user) {
  std::string out;
  std::size_t i = b;
  while (i < e) {
    const Token& t = k.t[i];
    if (t.kind == Token::Word) {
      const std::string u = upper(t.text);
      if (u == "CURRENT") {
        const std::size_t n = k.next(i + 1);
        if (n < e && k.t[n].kind == Token::Word &&
            one_of(upper(k.t[n].text), {"DATE", "TIME", "TIMESTAMP"})) {
          // In parentheses, so that it also serves where only a constant or a
          // parenthesised expression may stand (a column's DEFAULT).
          out += "(vq_current_" + lower(k.t[n].text) + "())";
          i = n + 1;
          continue;
        }
      } else if (u == "CAST") {
        const std::size_t open = k.next(i + 1);
        if (open < e && is(k.t[open], "(") && k.match[open] < e) {
          const std::size_t close = k.match[open];
          std::size_t as = close;
          for (std::size_t j = open + 1; j < close; ++j) {
            if (is(k.t[j], "(") && k.match[j] < close) j = k.match[j];
            else if (is_word(k.t[j], "AS")) as = j;
          }
          std::string type_text;
          for (std::size_t j = as + 1; j < close; ++j) type_text += k.t[j].text;
          const char* fn = as < close ? cast_function(type_text) : nullptr;
          if (fn) {
            std::string arg = rewrite_range(k, open + 1, as, user);
            while (!arg.empty() && std::isspace(static_cast<unsigned char>(arg.back())))
              arg.pop_back();
            out += std::string(fn) + "(" + arg + ")";
            i = close + 1;
            continue;
          }
        }
      } else if (u == "USER" && user_value(k, i)) {
        out += quote_literal(user);
        ++i;
        continue;
      }
    } else if (is(t, "+") && string_left(k, i) && string_right(k, i)) {
      out += "||";
      ++i;
      continue;
    }
    out += t.text;
    ++i;
  }
  return out;
}

// The type of a call of one of our typed functions.
bool function_hint(const std::string& name, ColumnHint& h) {
  struct Row {
    const char* fn;
    std::int16_t type;
    std::uint8_t subtype;
    std::uint32_t length;
    const char* type_name;
  };
  static const Row kRows[] = {
      {"vq_cast_date", 9, 1, 10, "date"},
      {"vq_current_date", 9, 1, 10, "date"},
      {"today", 9, 1, 10, "date"},
      {"ymd", 9, 1, 10, "date"},
      {"vq_cast_time", 9, 2, 15, "time"},
      {"vq_current_time", 9, 2, 15, "time"},
      {"vq_cast_timestamp", 9, 3, 26, "timestamp"},
      {"vq_current_timestamp", 9, 3, 26, "timestamp"},
      {"now", 9, 3, 26, "timestamp"},
      {"vq_cast_binary", -2, 0, 32767, "binary"},
      {"vq_cast_long_binary", -4, 0, 0x7FFFFFFF, "long binary"},
      {"vq_cast_uuid", -2, 0, 16, "uniqueidentifier"},
      {"vq_cast_uuidstr", 1, 0, 36, "uniqueidentifierstr"},
  };
  const std::string n = lower(name);
  for (const Row& r : kRows) {
    if (n != r.fn) continue;
    h = ColumnHint{};
    h.type.type = r.type;
    h.type.subtype = r.subtype;
    h.type.length = r.length;
    h.type_name = r.type_name;
    return true;
  }
  return false;
}

}  // namespace

std::string rewrite_expressions(const std::string& sql, const std::string& user) {
  const Tokens k(sql);
  return rewrite_range(k, 0, k.t.size(), user);
}

std::vector<ColumnHint> select_list_hints(const std::string& sql) {
  const Tokens k(sql);
  std::size_t i = 0;
  while (i < k.t.size() && !is_word(k.t[i], "SELECT")) {
    if (is(k.t[i], "(") && k.match[i] < k.t.size()) i = k.match[i];
    ++i;
  }
  if (i == k.t.size()) return {};
  i = k.next(i + 1);
  if (i < k.t.size() && (is_word(k.t[i], "DISTINCT") || is_word(k.t[i], "ALL")))
    i = k.next(i + 1);
  std::vector<ColumnHint> hints;
  bool item_start = true;
  for (; i < k.t.size(); ++i) {
    const Token& t = k.t[i];
    if (t.kind == Token::Space) continue;
    if (is(t, ";") || (t.kind == Token::Word &&
                       one_of(upper(t.text), {"FROM", "WHERE", "GROUP", "HAVING", "ORDER",
                                              "LIMIT", "UNION", "EXCEPT", "INTERSECT", "WINDOW",
                                              "INTO"})))
      break;
    // The columns of "*" and "t.*" are SQLite's to count.
    if (is(t, "*") && (item_start || (k.prev(i) < k.t.size() && is(k.t[k.prev(i)], "."))))
      return {};
    if (is(t, ",")) {
      item_start = true;
      continue;
    }
    if (item_start) {
      item_start = false;
      hints.emplace_back();
      // A call, or a call in parentheses: "f(...)" or "(f(...))".
      std::size_t f = i, end = k.t.size();
      if (is(t, "(") && k.match[i] < k.t.size()) {
        f = k.next(i + 1);
        end = k.match[i];
      }
      const std::size_t n = f < k.t.size() ? k.next(f + 1) : k.t.size();
      const bool call = f < k.t.size() && function_name(k.t[f]) && n < k.t.size() &&
                        is(k.t[n], "(") && k.match[n] < k.t.size() &&
                        (end == k.t.size() || k.next(k.match[n] + 1) == end);
      if (call) {
        const std::size_t after = k.next((end == k.t.size() ? k.match[n] : end) + 1);
        // Only a call that is the whole item (an alias may follow) gives its type.
        const bool whole = after == k.t.size() || is(k.t[after], ",") || is(k.t[after], ";") ||
                           k.t[after].kind == Token::Word || k.t[after].kind == Token::Ident;
        const bool operand = after < k.t.size() && k.t[after].kind == Token::Word &&
                             one_of(upper(k.t[after].text), {"AND", "OR", "IS", "LIKE", "IN",
                                                             "BETWEEN", "COLLATE", "NOT"});
        if (whole && !operand) function_hint(name_of(k.t[f]), hints.back());
      }
    }
    if (is(t, "(") && k.match[i] < k.t.size()) i = k.match[i];
  }
  return hints;
}

std::vector<ParamTarget> parameter_targets(const std::string& sql) {
  const Tokens k(sql);
  std::vector<std::size_t> marks;
  for (std::size_t i = 0; i < k.t.size(); ++i)
    if (is(k.t[i], "?")) marks.push_back(i);
  std::vector<ParamTarget> out(marks.size());
  if (marks.empty()) return out;
  auto mark_index = [&](std::size_t tok) {
    for (std::size_t m = 0; m < marks.size(); ++m)
      if (marks[m] == tok) return static_cast<int>(m);
    return -1;
  };
  // The table: after INTO, UPDATE or the first FROM, the last part of a dotted name.
  std::string table;
  std::size_t table_at = k.t.size();
  const std::size_t first = k.next(0);
  for (std::size_t i = first; i < k.t.size(); ++i) {
    if (is_word(k.t[i], "INTO") || is_word(k.t[i], "UPDATE") || is_word(k.t[i], "FROM")) {
      std::size_t n = k.next(i + 1);
      if (is_word(k.t[i], "UPDATE") && n < k.t.size() && is_word(k.t[n], "OR"))
        n = k.next(k.next(n + 1) + 1);
      while (n < k.t.size() && function_name(k.t[n])) {
        table = name_of(k.t[n]);
        table_at = n;
        const std::size_t dot = k.next(n + 1);
        if (dot < k.t.size() && is(k.t[dot], ".")) {
          n = k.next(dot + 1);
          continue;
        }
        break;
      }
      break;
    }
  }
  if (table.empty()) return out;
  // An INSERT: the VALUES positions name their columns.
  if (first < k.t.size() && (is_word(k.t[first], "INSERT") || is_word(k.t[first], "REPLACE"))) {
    std::vector<std::string> cols;
    std::size_t n = k.next(table_at + 1);
    if (n < k.t.size() && is(k.t[n], "(") && k.match[n] < k.t.size()) {
      for (std::size_t j = n + 1; j < k.match[n]; ++j)
        if (function_name(k.t[j])) cols.push_back(name_of(k.t[j]));
      n = k.next(k.match[n] + 1);
    }
    if (n < k.t.size() && is_word(k.t[n], "VALUES")) {
      for (std::size_t g = k.next(n + 1); g < k.t.size() && is(k.t[g], "(");) {
        const std::size_t close = k.match[g];
        if (close == k.t.size()) break;
        int position = 0;
        std::size_t item_start = g + 1;
        for (std::size_t j = g + 1; j <= close; ++j) {
          if (is(k.t[j], "(") && k.match[j] < close) {
            j = k.match[j];
            continue;
          }
          if (j != close && !is(k.t[j], ",")) continue;
          const std::size_t a = k.next(item_start);
          const std::size_t b = a < j ? k.next(a + 1) : j;
          if (a < j && b >= j && is(k.t[a], "?")) {
            const int m = mark_index(a);
            if (m >= 0) {
              out[static_cast<std::size_t>(m)].table = table;
              if (static_cast<std::size_t>(position) < cols.size())
                out[static_cast<std::size_t>(m)].column = cols[static_cast<std::size_t>(position)];
              else if (cols.empty())
                out[static_cast<std::size_t>(m)].position = position;
              else
                out[static_cast<std::size_t>(m)].table.clear();
            }
          }
          ++position;
          item_start = j + 1;
        }
        const std::size_t comma = k.next(close + 1);
        if (comma >= k.t.size() || !is(k.t[comma], ",")) break;
        g = k.next(comma + 1);
      }
    }
  }
  // Comparisons and assignments: column op ? and ? op column.
  auto comparison = [](const Token& t) {
    return (t.kind == Token::Punct && one_of(t.text, {"=", "==", "<>", "!=", "<", ">", "<=", ">="})) ||
           (t.kind == Token::Word && upper(t.text) == "LIKE");
  };
  for (std::size_t m = 0; m < marks.size(); ++m) {
    if (!out[m].table.empty()) continue;
    const std::size_t op = k.prev(marks[m]);
    std::size_t col = k.t.size();
    if (op < k.t.size() && comparison(k.t[op])) {
      col = k.prev(op);
    } else {
      const std::size_t op2 = k.next(marks[m] + 1);
      if (op2 < k.t.size() && comparison(k.t[op2])) col = k.next(op2 + 1);
      // A qualified name: its last part.
      for (std::size_t dot = col < k.t.size() ? k.next(col + 1) : k.t.size();
           dot < k.t.size() && is(k.t[dot], ".") && k.next(dot + 1) < k.t.size();
           dot = k.next(col + 1))
        col = k.next(dot + 1);
    }
    if (col < k.t.size() && function_name(k.t[col]) &&
        !one_of(upper(k.t[col].text), {"NULL", "NOT", "AND", "OR", "SELECT", "WHERE", "SET"})) {
      out[m].table = table;
      out[m].column = name_of(k.t[col]);
    }
  }
  return out;
}

}  // namespace vqeng
