// Character stepping and the lexical searches of escape translation.
#include "odbc/sql_scanner.h"

#include <cstring>

#include "utils/base/compat.h"
#include "utils/locale/char_functions.h"

SqlScanner::SqlScanner(std::int32_t code_page, const LS_CharFunctions* lead_bytes)
    : code_page_(code_page), lead_bytes_(lead_bytes != nullptr ? lead_bytes : &LSCharFunctions) {}

const char* SqlScanner::Next(const char* p, const char* end) const {
  const unsigned char lead = static_cast<unsigned char>(*p);
  std::size_t length = 1;
  if (code_page_ == kCodePageUtf8) {
    if (lead >= 0xC0 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF7) {
      length = 4;
    }
  } else {
    length = lead_bytes_->charLength(lead);
  }
  // Text cut inside a character ends with that character.
  const std::size_t left = static_cast<std::size_t>(end - p);
  return p + (length < left ? length : left);
}

const char* SqlScanner::SkipSpace(const char* p, const char* end) {
  while (p < end && IsSpace(*p)) ++p;
  return p;
}

const char* SqlScanner::TrimEnd(const char* begin, const char* end) {
  while (end > begin && IsSpace(end[-1])) --end;
  return end;
}

bool SqlScanner::StartsWithWord(const char* p, const char* end, const char* word) {
  const std::size_t n = std::strlen(word);
  return static_cast<std::size_t>(end - p) >= n && vq::compat::memicmp(p, word, n) == 0;
}

const char* SqlScanner::SkipQuoted(const char* p, const char* end) const {
  const char quote = *p;
  for (const char* q = Next(p, end); q < end; q = Next(q, end)) {
    if (*q == quote) return q + 1;
  }
  return nullptr;
}

const char* SqlScanner::SkipBlockComment(const char* p, const char* end) const {
  for (const char* q = p; q < end; q = Next(q, end)) {
    if (*q == '*' && q + 1 < end && q[1] == '/') return q + 2;
  }
  return nullptr;
}

const char* SqlScanner::SkipLine(const char* p, const char* end) const {
  for (const char* q = p; q < end; q = Next(q, end)) {
    if (*q == '\n') return q + 1;
  }
  return nullptr;
}

const char* SqlScanner::MatchClosing(const char* p, const char* end, char open,
                                     char close) const {
  int depth = 0;
  for (const char* q = p; q < end;) {
    const char c = *q;
    if (c == '\'' || c == '"') {
      q = SkipQuoted(q, end);
      if (q == nullptr) return nullptr;
      continue;
    }
    if (c == open) {
      ++depth;
    } else if (c == close && --depth == 0) {
      return q;
    }
    q = Next(q, end);
  }
  return nullptr;
}

const char* SqlScanner::StepNested(const char* q, const char* end, int* depth) const {
  const char c = *q;
  if (c == '\'' || c == '"') return SkipQuoted(q, end);
  if (c == '(' || c == '{') {
    ++*depth;
  } else if ((c == ')' || c == '}') && *depth > 0) {
    --*depth;
  }
  return Next(q, end);
}

const char* SqlScanner::FindListEnd(const char* p, const char* end) const {
  int depth = 0;
  for (const char* q = p; q != nullptr && q < end; q = StepNested(q, end, &depth)) {
    if (depth == 0 && *q == ')') return q;
  }
  return end;
}

const char* SqlScanner::FindAtLevelZero(const char* p, const char* end, const char* word) const {
  const std::size_t n = std::strlen(word);
  int depth = 0;
  for (const char* q = p; q != nullptr && q < end && static_cast<std::size_t>(end - q) >= n;
       q = StepNested(q, end, &depth)) {
    if (depth == 0 && StartsWithWord(q, end, word)) return q;
  }
  return nullptr;
}

void SqlScanner::SplitArguments(const char* p, const char* end, const char* separator,
                                std::vector<SqlRange>* args) const {
  args->clear();
  const char* first = SkipSpace(p, end);
  if (TrimEnd(first, end) == first) return;
  const std::size_t sep_length = std::strlen(separator);
  const bool word = sep_length > 1;
  const char* start = p;
  auto add = [&](const char* arg_end) {
    const char* b = SkipSpace(start, arg_end);
    args->push_back(SqlRange{b, TrimEnd(b, arg_end)});
  };
  int depth = 0;
  for (const char* q = p; q != nullptr && q < end;) {
    // A word separator needs white space on both sides ("a IN b", not "INDEX").
    if (depth == 0 && StartsWithWord(q, end, separator) &&
        (!word || (q > p && IsSpace(q[-1]) && q + sep_length < end && IsSpace(q[sep_length])))) {
      add(q);
      q += sep_length;
      start = q;
      continue;
    }
    q = StepNested(q, end, &depth);
  }
  add(end);
}
