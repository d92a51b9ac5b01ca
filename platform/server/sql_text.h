// Small text helpers for SQL the stand-in reads and builds: letter case of keywords
// and names (ASCII only, as SQL keywords are), and quoting.
#pragma once

#include <cctype>
#include <string>

namespace vqeng {

inline std::string upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
inline std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The text in quotes `q`, a quote inside doubled: 'a''b' for literals (q = '\''),
// "a""b" for identifiers (q = '"').
inline std::string quoted(const std::string& s, char q) {
  std::string out(1, q);
  for (char c : s) {
    out.push_back(c);
    if (c == q) out.push_back(q);
  }
  out.push_back(q);
  return out;
}
inline std::string quote_literal(const std::string& s) { return quoted(s, '\''); }
inline std::string quote_ident(const std::string& s) { return quoted(s, '"'); }

}  // namespace vqeng
