// A small reader of the statements the server runs itself (procedures, grants): words,
// names, punctuation and lists, outside quotes and parentheses.
#pragma once

#include <cctype>
#include <string>
#include <vector>

namespace vqeng {

inline std::string trim_text(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// A reader of words and punctuation over a statement text.
class StatementReader {
 public:
  explicit StatementReader(const std::string& s) : s_(s) {}
  void blanks() {
    while (p_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[p_]))) ++p_;
  }
  bool word(const char* w) {
    blanks();
    std::size_t n = 0;
    while (w[n] != '\0') ++n;
    if (s_.size() - p_ < n) return false;
    for (std::size_t k = 0; k < n; ++k)
      if (std::toupper(static_cast<unsigned char>(s_[p_ + k])) != w[k]) return false;
    if (p_ + n < s_.size() && ident_char(s_[p_ + n])) return false;
    p_ += n;
    return true;
  }
  bool punct(char c) {
    blanks();
    if (p_ < s_.size() && s_[p_] == c) {
      ++p_;
      return true;
    }
    return false;
  }
  // An identifier, plain or in double quotes; [owner.] before it is skipped.
  bool name(std::string& out) {
    if (!one_name(out)) return false;
    const std::size_t save = p_;
    if (punct('.')) {
      if (!one_name(out)) p_ = save;
    }
    return true;
  }
  // Text up to the parenthesis that closes the one just read, outside quotes.
  bool until_close(std::string& out) {
    int depth = 1;
    const std::size_t b = p_;
    char quote = 0;
    for (; p_ < s_.size(); ++p_) {
      const char c = s_[p_];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '\'' || c == '"') {
        quote = c;
      } else if (c == '(') {
        ++depth;
      } else if (c == ')' && --depth == 0) {
        out = s_.substr(b, p_ - b);
        ++p_;
        return true;
      }
    }
    return false;
  }
  std::string rest() const { return s_.substr(p_); }
  bool at_end() {
    blanks();
    while (p_ < s_.size() && s_[p_] == ';') {
      ++p_;
      blanks();
    }
    return p_ == s_.size();
  }

 private:
  static bool ident_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#' ||
           c == '@';
  }
  bool one_name(std::string& out) {
    blanks();
    if (p_ < s_.size() && s_[p_] == '"') {
      const std::size_t e = s_.find('"', p_ + 1);
      if (e == std::string::npos || e == p_ + 1) return false;
      out = s_.substr(p_ + 1, e - p_ - 1);
      p_ = e + 1;
      return true;
    }
    const std::size_t b = p_;
    while (p_ < s_.size() && ident_char(s_[p_])) ++p_;
    if (p_ == b || std::isdigit(static_cast<unsigned char>(s_[b]))) return false;
    out = s_.substr(b, p_ - b);
    return true;
  }
  const std::string& s_;
  std::size_t p_ = 0;
};

// Calls on_char(index, character) for each character outside quotes.
template <typename F>
void for_each_unquoted(const std::string& s, F on_char) {
  char quote = 0;
  for (std::size_t k = 0; k < s.size(); ++k) {
    const char c = s[k];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else {
      on_char(k, c);
    }
  }
}

// Splits at `sep` outside quotes and parentheses; pieces trimmed, empty ones kept.
inline std::vector<std::string> split_top(const std::string& s, char sep) {
  std::vector<std::string> out;
  int depth = 0;
  std::size_t b = 0;
  for_each_unquoted(s, [&](std::size_t k, char c) {
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (c == sep && depth == 0) {
      out.push_back(trim_text(s.substr(b, k - b)));
      b = k + 1;
    }
  });
  out.push_back(trim_text(s.substr(b)));
  return out;
}

}  // namespace vqeng
