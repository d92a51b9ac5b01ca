// Expression rewrites, column hints and parameter targets of the dialect layer, on
// a token list that keeps every byte of the text (quotes and comments included).
#include "dialect.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "engine.h"
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

// ---- Key joins ---------------------------------------------------------------------------

// Tables that a JOIN without ON pairs by their keys: the catalog tables, by the columns
// that tie them. The condition is found for either order of the two.
struct KeyPair {
  const char* left;
  const char* right;
  const char* left_columns[2];  // up to two columns; null ends the list
  const char* right_columns[2];
};
const KeyPair kKeyPairs[] = {
    {"SYSTABLE", "SYSUSERPERMS", {"creator", nullptr}, {"user_id", nullptr}},
    {"SYSTABLE", "SYSUSERPERM", {"creator", nullptr}, {"user_id", nullptr}},
    {"SYSCOLUMN", "SYSTABLE", {"table_id", nullptr}, {"table_id", nullptr}},
    {"SYSCOLUMN", "SYSDOMAIN", {"domain_id", nullptr}, {"domain_id", nullptr}},
    {"SYSCOLUMN", "SYSIXCOL", {"table_id", "column_id"}, {"table_id", "column_id"}},
    {"SYSIXCOL", "SYSINDEX", {"table_id", "index_id"}, {"table_id", "index_id"}},
    {"SYSINDEX", "SYSTABLE", {"table_id", nullptr}, {"table_id", nullptr}},
    {"SYSFOREIGNKEY", "SYSFKCOL", {"foreign_table_id", "foreign_key_id"},
     {"foreign_table_id", "foreign_key_id"}},
    {"SYSCOLUMN", "SYSFKCOL", {"table_id", "column_id"},
     {"foreign_table_id", "foreign_column_id"}},
    {"SYSPROCEDURE", "SYSUSERPERMS", {"creator", nullptr}, {"user_id", nullptr}},
    {"SYSPROCEDURE", "SYSPROCPARM", {"proc_id", nullptr}, {"proc_id", nullptr}},
    {"SYSPROCPARM", "SYSDOMAIN", {"domain_id", nullptr}, {"domain_id", nullptr}},
    {"SYSCOLPERM", "SYSCOLUMN", {"table_id", "column_id"}, {"table_id", "column_id"}},
};

struct TableRef {
  std::string name;       // the table's name without its owner, upper case
  std::string qualifier;  // what its columns are qualified with: the alias, else the name
};

bool join_word(const Token& t) {
  return t.kind == Token::Word &&
         one_of(upper(t.text), {"LEFT", "RIGHT", "INNER", "OUTER", "FULL", "CROSS", "NATURAL"});
}

bool clause_word(const Token& t) {
  return t.kind == Token::Word &&
         one_of(upper(t.text), {"JOIN", "LEFT", "RIGHT", "INNER", "OUTER", "FULL", "CROSS",
                                "NATURAL", "ON", "USING", "WHERE", "GROUP", "ORDER", "HAVING",
                                "LIMIT", "UNION", "EXCEPT", "INTERSECT", "WINDOW", "KEY"});
}

// Reads a table reference from token p: [owner.]name [[AS] alias], a table-valued call,
// or a parenthesised subquery with its alias. The index after it, or t.size().
std::size_t read_table_ref(const Tokens& k, std::size_t p, TableRef* ref) {
  const std::size_t n = k.t.size();
  if (p >= n) return n;
  std::size_t end;
  if (is(k.t[p], "(")) {
    if (k.match[p] >= n) return n;
    ref->name.clear();
    end = k.match[p] + 1;
  } else if (function_name(k.t[p]) && !clause_word(k.t[p])) {
    std::size_t last = p;
    const std::size_t dot = k.next(p + 1);
    if (dot < n && is(k.t[dot], ".") && k.next(dot + 1) < n && function_name(k.t[k.next(dot + 1)]))
      last = k.next(dot + 1);
    ref->name = upper(name_of(k.t[last]));
    ref->qualifier = name_of(k.t[last]);
    end = last + 1;
    const std::size_t call = k.next(end);
    if (call < n && is(k.t[call], "(") && k.match[call] < n) end = k.match[call] + 1;
  } else {
    return n;
  }
  std::size_t a = k.next(end);
  if (a < n && is_word(k.t[a], "AS")) a = k.next(a + 1);
  if (a < n && function_name(k.t[a]) && !clause_word(k.t[a])) {
    ref->qualifier = name_of(k.t[a]);
    end = a + 1;
  }
  return end;
}

// The index of the token that ends an ON or USING condition started at `p`.
std::size_t skip_condition(const Tokens& k, std::size_t p) {
  const std::size_t n = k.t.size();
  for (std::size_t i = p + 1; i < n; ++i) {
    if (is(k.t[i], "(") && k.match[i] < n) {
      i = k.match[i];
      continue;
    }
    if (is(k.t[i], ",") || is(k.t[i], ")") || is(k.t[i], ";")) return i;
    if (clause_word(k.t[i]) && !is_word(k.t[i], "ON") && !is_word(k.t[i], "USING")) return i;
  }
  return n;
}

std::string key_condition(const std::vector<TableRef>& before, const TableRef& ref) {
  for (auto it = before.rbegin(); it != before.rend(); ++it) {
    for (const KeyPair& p : kKeyPairs) {
      const bool forward = it->name == p.left && ref.name == p.right;
      const bool backward = it->name == p.right && ref.name == p.left;
      if (!forward && !backward) continue;
      std::string cond;
      for (int c = 0; c < 2 && p.left_columns[c] != nullptr; ++c) {
        if (!cond.empty()) cond += " AND ";
        const char* mine = forward ? p.left_columns[c] : p.right_columns[c];
        const char* theirs = forward ? p.right_columns[c] : p.left_columns[c];
        cond += it->qualifier + "." + mine + " = " + ref.qualifier + "." + theirs;
      }
      return cond;
    }
  }
  return {};
}

// ---- Aliases in WHERE ------------------------------------------------------------------

struct SelectAlias {
  std::string name;  // upper case
  std::string expression;
};

bool ends_select_list(const Token& t) {
  return t.kind == Token::Word &&
         one_of(upper(t.text), {"FROM", "WHERE", "GROUP", "HAVING", "ORDER", "LIMIT", "UNION",
                                "EXCEPT", "INTERSECT", "WINDOW", "INTO"});
}

bool ends_where(const Token& t) {
  return is(t, ";") || is(t, ")") ||
         (t.kind == Token::Word && one_of(upper(t.text), {"GROUP", "HAVING", "ORDER", "LIMIT",
                                                          "UNION", "EXCEPT", "INTERSECT",
                                                          "WINDOW"}));
}

std::string text_of_range(const Tokens& k, std::size_t b, std::size_t e) {
  std::string out;
  for (std::size_t i = b; i < e; ++i) out += k.t[i].text;
  std::size_t first = 0, last = out.size();
  while (first < last && std::isspace(static_cast<unsigned char>(out[first]))) ++first;
  while (last > first && std::isspace(static_cast<unsigned char>(out[last - 1]))) --last;
  return out.substr(first, last - first);
}

// ---- Column hints of expressions ---------------------------------------------------------

// A CASE expression whose every result is a string literal: VARCHAR of the longest.
bool literal_case_hint(const Tokens& k, std::size_t b, std::size_t e, ColumnHint& h) {
  std::size_t longest = 0;
  bool any = false;
  for (std::size_t i = b; i < e; ++i) {
    if (!is_word(k.t[i], "THEN") && !is_word(k.t[i], "ELSE")) continue;
    const std::size_t v = k.next(i + 1);
    if (v >= e) return false;
    if (is_word(k.t[v], "CASE")) continue;
    if (k.t[v].kind != Token::String) return false;
    const std::size_t after = k.next(v + 1);
    if (after >= e || !(is_word(k.t[after], "WHEN") || is_word(k.t[after], "ELSE") ||
                        is_word(k.t[after], "END")))
      return false;
    longest = std::max(longest, name_of(Token{Token::Ident, k.t[v].text}).size());
    any = true;
  }
  if (!any) return false;
  h = ColumnHint{};
  h.type = type_from_decl(("VARCHAR(" + std::to_string(std::max<std::size_t>(longest, 1)) +
                           ")").c_str());
  h.type_name = "varchar";
  return true;
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

// The end of a select item that starts at token i (the next top-level comma, or the
// end of the list).
std::size_t item_end(const Tokens& k, std::size_t i) {
  for (std::size_t p = i; p < k.t.size(); ++p) {
    if (is(k.t[p], "(") && k.match[p] < k.t.size()) {
      p = k.match[p];
      continue;
    }
    if (is(k.t[p], ",") || is(k.t[p], ";") || is(k.t[p], ")") ||
        (k.t[p].kind == Token::Word &&
         one_of(upper(k.t[p].text), {"FROM", "WHERE", "GROUP", "HAVING", "ORDER", "LIMIT",
                                     "UNION", "EXCEPT", "INTERSECT", "WINDOW", "INTO"})))
      return p;
  }
  return k.t.size();
}

// The index after an item's expression that runs from b to the first token past a
// closing group `close`, when nothing but an alias follows it.
bool only_alias_after(const Tokens& k, std::size_t close, std::size_t end) {
  std::size_t a = k.next(close + 1);
  if (a >= end) return true;
  if (is_word(k.t[a], "AS")) a = k.next(a + 1);
  return a < end && function_name(k.t[a]) && k.next(a + 1) >= end;
}

// Types of items SQLite declares nothing for: CAST(x AS t) takes t's type; a scalar
// subquery whose one item has a type takes it; a CASE whose results are string literals
// is a VARCHAR.
bool expression_hint(const Tokens& k, std::size_t i, ColumnHint& h) {
  const std::size_t n = k.t.size();
  const std::size_t end = item_end(k, i);
  if (is_word(k.t[i], "CAST")) {
    const std::size_t open = k.next(i + 1);
    if (open >= n || !is(k.t[open], "(") || k.match[open] >= n) return false;
    const std::size_t close = k.match[open];
    if (!only_alias_after(k, close, end)) return false;
    std::size_t as = close;
    for (std::size_t j = open + 1; j < close; ++j) {
      if (is(k.t[j], "(") && k.match[j] < close) j = k.match[j];
      else if (is_word(k.t[j], "AS")) as = j;
    }
    if (as == close) return false;
    std::string type_text;
    for (std::size_t j = as + 1; j < close; ++j) type_text += k.t[j].text;
    h = ColumnHint{};
    h.type = type_from_decl(type_text.c_str());
    h.type_name = lower(type_text.substr(0, type_text.find('(')));
    while (!h.type_name.empty() && std::isspace(static_cast<unsigned char>(h.type_name.back())))
      h.type_name.pop_back();
    while (!h.type_name.empty() && std::isspace(static_cast<unsigned char>(h.type_name[0])))
      h.type_name.erase(0, 1);
    return true;
  }
  if (is(k.t[i], "(") && k.match[i] < n) {
    const std::size_t first = k.next(i + 1);
    if (first >= n || !is_word(k.t[first], "SELECT") || !only_alias_after(k, k.match[i], end))
      return false;
    std::string inner;
    for (std::size_t j = first; j < k.match[i]; ++j) inner += k.t[j].text;
    const std::vector<ColumnHint> inner_hints = select_list_hints(inner);
    if (inner_hints.size() != 1 || inner_hints[0].type.type == 0) return false;
    h = inner_hints[0];
    return true;
  }
  if (is_word(k.t[i], "CASE")) {
    int depth = 0;
    for (std::size_t j = i; j < end; ++j) {
      if (is_word(k.t[j], "CASE")) ++depth;
      if (is_word(k.t[j], "END") && --depth == 0) {
        if (!only_alias_after(k, j, end)) return false;
        return literal_case_hint(k, i, j + 1, h);
      }
    }
  }
  return false;
}

}  // namespace

std::string rewrite_expressions(const std::string& sql, const std::string& user) {
  const Tokens k(sql);
  std::string out = rewrite_where_aliases(rewrite_key_joins(rewrite_range(k, 0, k.t.size(), user)));
  // Catalog statements name their columns as written (COLUMN_NAME, not column_name); other
  // statements keep SQLite's names, which clients already rely on.
  bool catalog = false;
  for (std::size_t i = 0; i + 2 < k.t.size() && !catalog; ++i)
    catalog = is_word(k.t[i], "SYS") && is(k.t[i + 1], ".");
  return catalog ? name_bare_columns(out) : out;
}

std::string name_bare_columns(const std::string& sql) {
  const Tokens k(sql);
  const std::size_t n = k.t.size();
  std::vector<std::size_t> named;  // tokens that get an alias
  for (std::size_t i = 0; i < n; ++i) {
    if (!is_word(k.t[i], "SELECT")) continue;
    std::size_t p = k.next(i + 1);
    if (p < n && (is_word(k.t[p], "DISTINCT") || is_word(k.t[p], "ALL"))) p = k.next(p + 1);
    std::size_t item = p;
    for (;; ++p) {
      const bool end = p >= n || is(k.t[p], ")") || is(k.t[p], ";") || ends_select_list(k.t[p]);
      if (end || is(k.t[p], ",")) {
        // One word, no alias, not a keyword: a column named as written.
        const std::size_t last = k.prev(p < n ? p : n);
        if (last == item && item < n && k.t[item].kind == Token::Word &&
            !sqlite3_keyword_check(k.t[item].text.data(), static_cast<int>(k.t[item].text.size())))
          named.push_back(item);
        if (end) break;
        item = k.next(p + 1);
        continue;
      }
      if (is(k.t[p], "(") && k.match[p] < n) p = k.match[p];
    }
  }
  if (named.empty()) return sql;
  std::sort(named.begin(), named.end());
  std::string out;
  std::size_t r = 0;
  for (std::size_t i = 0; i < n; ++i) {
    out += k.t[i].text;
    if (r < named.size() && named[r] == i) {
      out += " AS " + quote_ident(k.t[i].text);
      ++r;
    }
  }
  return out;
}

std::string rewrite_key_joins(const std::string& sql) {
  const Tokens k(sql);
  const std::size_t n = k.t.size();
  std::vector<std::pair<std::size_t, std::string>> inserts;  // before token, text
  for (std::size_t i = 0; i < n; ++i) {
    if (!is_word(k.t[i], "FROM")) continue;
    std::vector<TableRef> refs;
    TableRef ref;
    std::size_t j = read_table_ref(k, k.next(i + 1), &ref);
    if (j >= n && ref.name.empty()) continue;
    refs.push_back(ref);
    while (j < n) {
      std::size_t m = k.next(j);
      if (m < n && is(k.t[m], ",")) {
        TableRef next_ref;
        j = read_table_ref(k, k.next(m + 1), &next_ref);
        refs.push_back(next_ref);
        continue;
      }
      bool keyless = true;  // CROSS and NATURAL joins pair nothing by keys
      while (m < n && join_word(k.t[m])) {
        if (is_word(k.t[m], "CROSS") || is_word(k.t[m], "NATURAL")) keyless = false;
        m = k.next(m + 1);
      }
      if (m >= n || !is_word(k.t[m], "JOIN")) break;
      TableRef joined;
      const std::size_t end = read_table_ref(k, k.next(m + 1), &joined);
      const std::size_t after = k.next(end);
      if (after < n && (is_word(k.t[after], "ON") || is_word(k.t[after], "USING"))) {
        refs.push_back(joined);
        j = skip_condition(k, after);
        continue;
      }
      if (keyless && !joined.name.empty()) {
        const std::string cond = key_condition(refs, joined);
        if (!cond.empty()) inserts.emplace_back(end, " ON " + cond);
      }
      refs.push_back(joined);
      j = end;
    }
  }
  if (inserts.empty()) return sql;
  std::string out;
  std::size_t next_insert = 0;
  std::sort(inserts.begin(), inserts.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 0; i <= n; ++i) {
    while (next_insert < inserts.size() && inserts[next_insert].first == i)
      out += inserts[next_insert++].second;
    if (i < n) out += k.t[i].text;
  }
  return out;
}

std::string rewrite_where_aliases(const std::string& sql) {
  const Tokens k(sql);
  const std::size_t n = k.t.size();
  std::vector<std::pair<std::size_t, std::string>> replaced;  // token, text
  for (std::size_t i = 0; i < n; ++i) {
    if (!is_word(k.t[i], "SELECT")) continue;
    // The select list up to FROM at this level, its items and their aliases.
    std::vector<SelectAlias> aliases;
    std::size_t item_start = k.next(i + 1), p = item_start;
    auto close_item = [&](std::size_t end) {
      const std::size_t last = k.prev(end);
      if (last >= n || last < item_start || !function_name(k.t[last])) return;
      const std::size_t as = k.prev(last);
      if (as >= n || as <= item_start || !is_word(k.t[as], "AS")) return;
      const std::string expression = text_of_range(k, item_start, as);
      const std::string name = upper(name_of(k.t[last]));
      if (upper(expression) == name || expression.empty()) return;
      aliases.push_back({name, expression});
    };
    for (; p < n; ++p) {
      if (is(k.t[p], "(") && k.match[p] < n) {
        p = k.match[p];
        continue;
      }
      if (is(k.t[p], ")") || is(k.t[p], ";") || ends_select_list(k.t[p])) break;
      if (is(k.t[p], ",")) {
        close_item(p);
        item_start = k.next(p + 1);
      }
    }
    if (p >= n || !is_word(k.t[p], "FROM")) continue;
    close_item(p);
    if (aliases.empty()) continue;
    // WHERE at this level, after the FROM list.
    std::size_t w = p + 1;
    for (; w < n; ++w) {
      if (is(k.t[w], "(") && k.match[w] < n) {
        w = k.match[w];
        continue;
      }
      if (is_word(k.t[w], "WHERE") || ends_where(k.t[w])) break;
    }
    if (w >= n || !is_word(k.t[w], "WHERE")) continue;
    for (std::size_t q = w + 1; q < n; ++q) {
      if (is(k.t[q], "(") && k.match[q] < n) {
        // A subquery has names of its own.
        const std::size_t first = k.next(q + 1);
        if (first < n && is_word(k.t[first], "SELECT")) q = k.match[q];
        continue;
      }
      if (ends_where(k.t[q]) && !is(k.t[q], ")")) break;
      if (is(k.t[q], ")")) {
        // The end of the enclosing parenthesis ends this WHERE.
        if (k.match[q] < w) break;
        continue;
      }
      if (k.t[q].kind != Token::Word && k.t[q].kind != Token::Ident) continue;
      const std::size_t before = k.prev(q), after = k.next(q + 1);
      if (before < n && is(k.t[before], ".")) continue;
      if (after < n && (is(k.t[after], ".") || is(k.t[after], "("))) continue;
      const std::string word = upper(name_of(k.t[q]));
      for (const SelectAlias& a : aliases) {
        if (a.name != word) continue;
        replaced.emplace_back(q, "(" + a.expression + ")");
        break;
      }
    }
  }
  if (replaced.empty()) return sql;
  std::string out;
  std::size_t r = 0;
  std::sort(replaced.begin(), replaced.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 0; i < n; ++i) {
    if (r < replaced.size() && replaced[r].first == i) {
      out += replaced[r++].second;
      while (r < replaced.size() && replaced[r].first == i) ++r;
    } else {
      out += k.t[i].text;
    }
  }
  return out;
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
      if (expression_hint(k, i, hints.back())) {
        if (is(t, "(") && k.match[i] < k.t.size()) i = k.match[i];
        continue;
      }
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
