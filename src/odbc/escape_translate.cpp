// The escape translator: one pass over the text that copies what is not an escape and
// rewrites each escape clause, recursing only into escape bodies and function
// arguments.
#include "odbc/escape_translate.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "odbc/sql_scanner.h"
#include "utils/base/compat.h"

namespace {

enum class EscapeKind { kCall, kLikeEscape, kDate, kTime, kTimestamp, kGuid, kFunction, kOuterJoin };

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsIdentifierChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || IsDigit(c) || c == '_';
}

// Classifies a trimmed, non-empty escape body; *rest is what the translation works on.
bool Classify(const char* b, const char* e, EscapeKind* kind, SqlRange* rest) {
  using S = SqlScanner;
  const char* after = nullptr;
  if (*b == '?') {
    const char* q = S::SkipSpace(b + 1, e);
    if (q < e && *q == '=') {
      q = S::SkipSpace(q + 1, e);
      if (S::StartsWithWord(q, e, "call")) {
        *kind = EscapeKind::kCall;
        *rest = SqlRange{b, e};
        return true;
      }
    }
    return false;
  }
  if (S::StartsWithWord(b, e, "call")) {
    *kind = EscapeKind::kCall;
    *rest = SqlRange{b, e};
    return true;
  }
  if (*b == 'd' || *b == 'D') {
    *kind = EscapeKind::kDate;
    after = b + 1;
  } else if (S::StartsWithWord(b, e, "escape") && e - b > 6 && S::IsSpace(b[6])) {
    *kind = EscapeKind::kLikeEscape;
    *rest = SqlRange{b, e};
    return true;
  } else if (S::StartsWithWord(b, e, "fn")) {
    *kind = EscapeKind::kFunction;
    after = b + 2;
  } else if (S::StartsWithWord(b, e, "guid") && e - b > 4 && S::IsSpace(b[4])) {
    *kind = EscapeKind::kGuid;
    after = b + 4;
  } else if (S::StartsWithWord(b, e, "oj")) {
    *kind = EscapeKind::kOuterJoin;
    after = b + 2;
  } else if (S::StartsWithWord(b, e, "ts")) {
    *kind = EscapeKind::kTimestamp;
    after = b + 2;
  } else if (*b == 't' || *b == 'T') {
    *kind = EscapeKind::kTime;
    after = b + 1;
  } else {
    return false;
  }
  *rest = SqlRange{S::SkipSpace(after, e), e};
  return true;
}

class Translator {
 public:
  Translator(const EscapeContext& context, std::string* out, const char* start,
             const char* end, const EscapeFunction* table, int mode, bool percent)
      : scanner_(context.client_code_page, context.lead_bytes),
        server_version_(context.server_version),
        out_(out),
        base_(start),
        base_end_(end),
        table_(table),
        mode_(mode),
        percent_(percent),
        anchor_(start) {
    const std::size_t length = static_cast<std::size_t>(end - start);
    std::size_t growth = kEscapeMaxOutputBytes;
    if (length <= (kEscapeMaxOutputBytes - kEscapeGrowthSlackBytes) / kEscapeMaxGrowth) {
      growth = length * kEscapeMaxGrowth + kEscapeGrowthSlackBytes;
    }
    limit_ = out->size() < kEscapeMaxOutputBytes - growth ? out->size() + growth
                                                          : kEscapeMaxOutputBytes;
  }

  void Run() { Scan(base_, base_end_); }
  const EscapeError& error() const { return error_; }

 private:
  bool ok() const { return error_.code == kEscapeOk; }

  void Fail(int code, const char* at) {
    if (!ok()) return;
    error_.code = code;
    EscapeStates(code, &error_.state3, &error_.state2);
    // Text built by the translator itself (the literal calls of a caller's table) has
    // no place in the input; its errors point at the escape being translated.
    if (std::less<const char*>()(at, base_) || std::less<const char*>()(base_end_, at)) {
      at = anchor_;
    }
    error_.position = static_cast<std::size_t>(at - base_);
  }

  void Append(const char* p, std::size_t n) {
    if (!ok() || n == 0) return;
    if (out_->size() >= limit_ || n > limit_ - out_->size()) {
      Fail(kEscapeTooLong, anchor_);
      return;
    }
    out_->append(p, n);
  }
  void Append(const char* s) { Append(s, std::strlen(s)); }

  // The Parse loop over one range: copies it to the output with every escape clause
  // and vendor block rewritten.
  void Scan(const char* start, const char* end) {
    if (!ok()) return;
    if (depth_ >= kEscapeMaxNesting) {
      Fail(kEscapeSyntax, start);
      return;
    }
    ++depth_;
    const char* segment = start;
    const char* p = start;
    while (p < end && ok()) {
      const char c = *p;
      const std::ptrdiff_t left = end - p;
      if (c == '/' && left >= 2 && p[1] == '*') {
        const char* q = scanner_.SkipBlockComment(p + 2, end);
        if (q == nullptr) {
          Fail(kEscapeSyntax, p);
          break;
        }
        p = q;
        continue;
      }
      if (c == '-' && left >= 4 && p[1] == '-' && p[2] == '(' && p[3] == '*') {
        SqlRange body{};
        const char* after = nullptr;
        if (!VendorBlock(p, end, &body, &after)) {
          Fail(kEscapeSyntax, p);
          break;
        }
        EscapeClause(segment, p, body);
        segment = p = after;
        continue;
      }
      if ((c == '/' && left >= 2 && p[1] == '/') || (c == '-' && left >= 2 && p[1] == '-') ||
          (percent_ && c == '%')) {
        // The comment stays in the text; without a newline it runs to the end.
        const char* q = scanner_.SkipLine(p, end);
        p = q != nullptr ? q : end;
        continue;
      }
      if (c == '\'' || c == '"') {
        const char* q = scanner_.SkipQuoted(p, end);
        if (q == nullptr) {
          Fail(kEscapeSyntax, p);
          break;
        }
        p = q;
        continue;
      }
      if (c == '{') {
        const char* close = scanner_.MatchBrace(p, end);
        if (close == nullptr) {
          Fail(kEscapeSyntax, p);
          break;
        }
        EscapeClause(segment, p, SqlRange{p + 1, close});
        segment = p = close + 1;
        continue;
      }
      p = scanner_.Next(p, end);
    }
    if (ok()) Append(segment, static_cast<std::size_t>(end - segment));
    --depth_;
  }

  // "--(* vendor(...), product(...) body *)--" at p: the body and the position after the
  // closing "--".
  bool VendorBlock(const char* p, const char* end, SqlRange* body, const char** after) {
    using S = SqlScanner;
    const char* close = scanner_.MatchParen(p + 2, end);
    // The ")" must follow a "*" of its own and be followed by "--".
    if (close == nullptr || close - 1 < p + 4 || close[-1] != '*' || end - close < 3 ||
        close[1] != '-' || close[2] != '-') {
      return false;
    }
    const char* stop = close - 1;
    const char* q = S::SkipSpace(p + 4, stop);
    for (const char* word : {"vendor", "product"}) {
      if (!S::StartsWithWord(q, stop, word)) return false;
      q = S::SkipSpace(q + std::strlen(word), stop);
      if (q < stop && *q == '(') {
        const char* r = scanner_.MatchParen(q, stop);
        if (r == nullptr) return false;
        q = S::SkipSpace(r + 1, stop);
      }
      if (word[0] == 'v') {
        if (q >= stop || *q != ',') return false;
        q = S::SkipSpace(q + 1, stop);
      }
    }
    *body = SqlRange{q, stop};
    *after = close + 3;
    return true;
  }

  // One escape clause at `open` with its body: the pending text before it goes out
  // first, then the translation.
  void EscapeClause(const char* segment, const char* open, SqlRange body) {
    const char* b = SqlScanner::SkipSpace(body.begin, body.end);
    const char* e = SqlScanner::TrimEnd(b, body.end);
    EscapeKind kind{};
    SqlRange rest{};
    if (b == e || !Classify(b, e, &kind, &rest)) {
      Fail(kEscapeSyntax, open);
      return;
    }
    Append(segment, static_cast<std::size_t>(open - segment));
    const char* saved_anchor = anchor_;
    anchor_ = open;
    switch (kind) {
      case EscapeKind::kCall:
        Scan(rest.begin, rest.end);
        if (mode_ == 1 && std::memchr(rest.begin, '(', rest.size()) == nullptr) Append("()");
        break;
      case EscapeKind::kLikeEscape:
        Scan(rest.begin, rest.end);
        break;
      case EscapeKind::kDate:
        Literal(rest, "DATE", "convertsql_date");
        break;
      case EscapeKind::kTime:
        Literal(rest, "TIME", "convertsql_time");
        break;
      case EscapeKind::kTimestamp:
        Literal(rest, "TIMESTAMP", "convertsql_timestamp");
        break;
      case EscapeKind::kGuid:
        Literal(rest, "UNIQUEIDENTIFIERSTR", "strtouuid");
        break;
      case EscapeKind::kOuterJoin:
        OuterJoin(rest);
        break;
      case EscapeKind::kFunction:
        Function(rest);
        break;
    }
    anchor_ = saved_anchor;
  }

  // The value of a date, time, timestamp or GUID literal as the inside of one quoted
  // string. A value that is one quoted string already keeps its inside; any other value
  // is quoted whole, its quotes doubled, so that it can never end the string early.
  std::string QuotedValue(SqlRange value) const {
    if (!value.empty() && *value.begin == '\'') {
      const char* q = scanner_.SkipQuoted(value.begin, value.end);
      while (q != nullptr && q < value.end && *q == '\'') q = scanner_.SkipQuoted(q, value.end);
      if (q == value.end) return std::string(value.begin + 1, value.end - 1);
    }
    std::string quoted;
    quoted.reserve(value.size());
    for (const char* p = value.begin; p < value.end;) {
      const char* next = scanner_.Next(p, value.end);
      if (*p == '\'') quoted += '\'';
      quoted.append(p, next);
      p = next;
    }
    return quoted;
  }

  void Literal(SqlRange value, const char* type, const char* call) {
    const std::string inside = QuotedValue(value);
    if (table_ != nullptr) {
      // A caller's table decides what the literal becomes.
      std::string text = call;
      text += "('";
      text += inside;
      text += "')";
      Function(SqlRange{text.data(), text.data() + text.size()});
      return;
    }
    Append("cast('");
    Append(inside.data(), inside.size());
    Append("' AS ");
    Append(type);
    Append(")");
  }

  // "( tables on condition )". Two outer joins in a row over the same tables, with only
  // parentheses, commas and white space between them, become one join with both
  // conditions: applications write "{oj a left join b on c1}, {oj a left join b on c2}"
  // for a join on two conditions.
  void OuterJoin(SqlRange body) {
    Append("( ");
    const char* on = scanner_.FindAtLevelZero(body.begin, body.end, " on ");
    if (on == nullptr) {
      Scan(body.begin, body.end);
      join_tables_.clear();
      join_set_ = false;
    } else {
      const std::size_t tables_length = static_cast<std::size_t>(on - body.begin);
      const bool merge = join_set_ && join_depth_ == depth_ &&
                         join_tables_.size() == tables_length &&
                         vq::compat::memicmp(join_tables_.data(), body.begin, tables_length) == 0 &&
                         out_->size() >= join_length_ && out_->size() < join_length_ + 10 &&
                         OnlyJoinGlueAfter(join_length_);
      join_tables_.assign(body.begin, tables_length);
      join_set_ = true;
      join_depth_ = depth_;
      if (merge) {
        out_->resize(join_length_);
        Append(" and ");
        Scan(on + 4, body.end);
      } else {
        Scan(body.begin, body.end);
      }
      join_length_ = out_->size();
    }
    Append(" )");
  }

  bool OnlyJoinGlueAfter(std::size_t from) const {
    for (std::size_t i = from; i < out_->size(); ++i) {
      const char c = (*out_)[i];
      if (c != '(' && c != ')' && c != ',' && !SqlScanner::IsSpace(c)) return false;
    }
    return true;
  }

  // "name(arguments)" through the function tables.
  void Function(SqlRange body) {
    using S = SqlScanner;
    const char* b = S::SkipSpace(body.begin, body.end);
    const char* e = S::TrimEnd(b, body.end);
    const EscapeFunction* tables[2] = {nullptr, nullptr};
    if (table_ != nullptr) {
      tables[0] = table_;
    } else if (mode_ == 1) {
      tables[0] = kEscapeFunctionsMode1;
    } else {
      tables[0] = server_version_ >= kEscapeReplaceServerVersion ? kEscapeFunctionsV7 : nullptr;
      tables[1] = kEscapeFunctions;
    }
    for (const EscapeFunction* table : tables) {
      if (table == nullptr) continue;
      for (const EscapeFunction* row = table; row->name != nullptr; ++row) {
        if (!S::StartsWithWord(b, e, row->name)) continue;
        const char* q = S::SkipSpace(b + std::strlen(row->name), e);
        if (q < e && *q == '(') {
          const char* args = S::SkipSpace(q + 1, e);
          const char* list_end = scanner_.FindListEnd(args, e);
          // Nothing may follow the argument list: "{fn ABS(x) + 1}" would lose "+ 1".
          if (list_end < e && S::SkipSpace(list_end + 1, e) != e) {
            Fail(kEscapeSyntax, list_end + 1);
            return;
          }
          Call(*row, SqlRange{args, list_end});
          return;
        }
        if (q == e && S::StartsWithWord(row->name, row->name + std::strlen(row->name),
                                        "CURRENT_TIME")) {
          Call(*row, SqlRange{e, e});
          return;
        }
      }
    }
    Fail(kEscapeUnknownFunction, b);
  }

  void Call(const EscapeFunction& row, SqlRange list) {
    std::vector<SqlRange> args;
    scanner_.SplitArguments(list.begin, list.end, row.separator != nullptr ? row.separator : ",",
                            &args);
    list.end = SqlScanner::TrimEnd(list.begin, list.end);
    if (row.prefix != nullptr) Expand(row.prefix, args, list);
    if (row.server_name != nullptr) {
      Append(row.server_name);
      Append("(");
    }
    Expand(row.args, args, list);
    if (row.server_name != nullptr) Append(")");
    if (row.suffix != nullptr) Expand(row.suffix, args, list);
  }

  void Expand(const char* tmpl, const std::vector<SqlRange>& args, SqlRange list) {
    const char marker = percent_ ? '%' : '&';
    const char* t = tmpl;
    while (*t != '\0' && ok()) {
      const char* m = std::strchr(t, marker);
      if (m == nullptr) {
        Append(t);
        return;
      }
      Append(t, static_cast<std::size_t>(m - t));
      t = m + 1;
      if (IsDigit(*t)) {
        const std::size_t n = static_cast<std::size_t>(*t++ - '0');
        if (n == 0 || n > args.size()) {
          Fail(kEscapeBadArgument, list.begin);
          return;
        }
        Scan(args[n - 1].begin, args[n - 1].end);
      } else if (*t == '-' && IsDigit(t[1])) {
        const std::size_t n = static_cast<std::size_t>(t[1] - '0');
        t += 2;
        if (n == 0) {
          if (args.empty()) {
            Append("3");
          } else {
            Scan(args[0].begin, args[0].end);
          }
        } else if (n <= args.size()) {
          Append(",");
          Scan(args[n - 1].begin, args[n - 1].end);
        }
      } else if (*t == 'T' && IsDigit(t[1])) {
        const std::size_t n = static_cast<std::size_t>(t[1] - '0');
        t += 2;
        if (n == 0 || n > args.size()) {
          Fail(kEscapeBadArgument, list.begin);
          return;
        }
        TypeArgument(args[n - 1]);
      } else {
        Scan(list.begin, list.end);
        if (*t != '\0') Append(t++, 1);
      }
    }
  }

  // An argument that starts with an ODBC type name: the server's name, then the rest of
  // the argument (a length, say) as written.
  void TypeArgument(SqlRange arg) {
    const char* b = SqlScanner::SkipSpace(arg.begin, arg.end);
    const char* id_end = b;
    while (id_end < arg.end && IsIdentifierChar(*id_end)) ++id_end;
    const char* server = EscapeServerTypeName(b, static_cast<std::size_t>(id_end - b));
    if (server == nullptr) {
      Fail(kEscapeBadArgument, b);
      return;
    }
    Append(server);
    Append(id_end, static_cast<std::size_t>(arg.end - id_end));
  }

  SqlScanner scanner_;
  std::int32_t server_version_;
  std::string* out_;
  const char* base_;      // the input text, for error positions
  const char* base_end_;
  const EscapeFunction* table_;
  int mode_;
  bool percent_;
  const char* anchor_;    // the escape being translated
  std::size_t limit_ = 0;  // the output may not grow beyond this many bytes
  int depth_ = 0;          // Scan calls active
  EscapeError error_;

  // The last outer join with a condition: its tables (the text before " on "), the
  // output length after its condition and the Scan depth it stood at.
  std::string join_tables_;
  std::size_t join_length_ = 0;
  int join_depth_ = 0;
  bool join_set_ = false;
};

int Report(EscapeError* error, int code) {
  if (error != nullptr) {
    *error = EscapeError{};
    error->code = code;
    EscapeStates(code, &error->state3, &error->state2);
  }
  return code;
}

}  // namespace

void EscapeStates(int code, const char** state3, const char** state2) {
  switch (code) {
    case kEscapeOk:
      *state3 = "00000";
      *state2 = "00000";
      break;
    case kEscapeUnknownFunction:
      *state3 = "22025";
      *state2 = "37000";
      break;
    case kEscapeTooLong:
      *state3 = "HY090";
      *state2 = "S1090";
      break;
    case kEscapeNoMemory:
      *state3 = "HY001";
      *state2 = "S1001";
      break;
    default:  // syntax and bad arguments
      *state3 = "42000";
      *state2 = "42000";
      break;
  }
}

int Parse(const EscapeContext& context, std::string* out, const char* start, const char* end,
          const EscapeFunction* table, int mode, bool percent, EscapeError* error) noexcept {
  if (out == nullptr || end < start || (start == nullptr && end != nullptr)) {
    return Report(error, kEscapeTooLong);
  }
  EscapeError result;
  try {
    if (context.no_scan) {
      const std::size_t length = static_cast<std::size_t>(end - start);
      if (length > kEscapeMaxOutputBytes - std::min(out->size(), kEscapeMaxOutputBytes)) {
        result.code = kEscapeTooLong;
      } else {
        out->append(start, length);
      }
    } else {
      Translator translator(context, out, start, end, table, mode, percent);
      translator.Run();
      result = translator.error();
    }
  } catch (...) {
    // Only the output string and the small vectors allocate.
    result = EscapeError{};
    result.code = kEscapeNoMemory;
  }
  EscapeStates(result.code, &result.state3, &result.state2);
  if (error != nullptr) *error = result;
  return result.code;
}

int ODBCParse(const EscapeContext& context, const char* text, std::size_t length,
              std::string* out, EscapeError* error, const EscapeFunction* table) noexcept {
  if (text == nullptr) {
    if (length != 0) return Report(error, kEscapeTooLong);
    text = "";
  }
  return Parse(context, out, text, text + length, table, 0, false, error);
}

bool SqlBeginsWithInsert(const char* text, std::size_t length) noexcept {
  if (text == nullptr) return false;
  const char* end = text + length;
  const char* p = SqlScanner::SkipSpace(text, end);
  return SqlScanner::StartsWithWord(p, end, "insert");
}
