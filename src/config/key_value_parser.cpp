// The key=value parser, the value blocks it fills and the yes/no and number readers.
#include "config/key_value_parser.h"

#include <cstring>

#include "config/config_text.h"

using vq::config::copy_bounded;
using vq::config::copy_text;
using vq::config::is_blank_or_tab;
using vq::config::is_white;
using vq::config::same_text;
using vq::config::starts_with_text;
using vq::config::wipe_free;

namespace {

constexpr std::size_t kServerNameMax = 250;  // characters kept of a ServerName value

char closer_of(char open) { return open == '(' ? ')' : '}'; }

void trim_blanks_and_tabs(char* start, char* end) {
  while (end > start && is_blank_or_tab(end[-1])) --end;
  *end = '\0';
}

// Finds the row named `key`: long names first, then short names, then aliases, as the
// lookup order decides which row wins when a table reuses a name.
int find_row(const a_conn_option* table, const char* key) {
  for (int i = 0; table[i].long_name != nullptr; ++i) {
    if (same_text(table[i].long_name, key)) return i;
  }
  for (int i = 0; table[i].long_name != nullptr; ++i) {
    if (same_text(table[i].short_name, key)) return i;
  }
  for (int i = 0; table[i].long_name != nullptr; ++i) {
    for (const char* const* a = table[i].aliases; a != nullptr && *a != nullptr; ++a) {
      if (same_text(*a, key)) return i;
    }
  }
  return -1;
}

// A command-line option after which the next word is a bracketed argument: -x, -xs or
// -ec, ended by white space, ';' or the end. Returns the option's length after '-'.
std::size_t bracket_option_length(const char* p) {
  static const char* const kOptions[] = {"xs", "x", "ec"};
  for (const char* opt : kOptions) {
    if (starts_with_text(p, opt)) {
      char after = p[std::strlen(opt)];
      if (after == '\0' || after == ';' || is_white(after)) return std::strlen(opt);
    }
  }
  return 0;
}

// Scans an unquoted StartLine value from `p`: it ends at ';' or the end, except inside
// the brackets of an -x/-xs/-ec argument, which must nest and match and hold no blank.
int scan_start_line(char* p, char** end) {
  const std::size_t room = std::strlen(p) + 1;
  char* stack = static_cast<char*>(ut_malloc(room));
  if (stack == nullptr) return kParseNoMemory;
  std::size_t depth = 0;
  enum { kNormal, kBeforeArg, kInArg } state = kNormal;
  bool token_start = true;
  int rc = kParseOk;
  for (; *p != '\0'; ++p) {
    const char c = *p;
    if (state == kNormal) {
      if (c == ';') break;
      if (is_white(c)) {
        token_start = true;
        continue;
      }
      if (token_start && c == '-') {
        const std::size_t n = bracket_option_length(p + 1);
        if (n != 0) {
          p += n;
          state = kBeforeArg;
          token_start = false;
          continue;
        }
      }
      token_start = false;
      continue;
    }
    if (state == kBeforeArg) {
      if (is_white(c)) continue;
      if (c == ';') break;
      state = kInArg;
    }
    if (c == '(' || c == '{') {
      stack[depth++] = c;
    } else if (c == ')' || c == '}') {
      if (depth == 0 || closer_of(stack[depth - 1]) != c) {
        rc = kParseBrackets;
        break;
      }
      --depth;
    } else if (c == ';') {
      if (depth == 0) break;
    } else if (is_white(c)) {
      if (depth != 0) {
        rc = kParseBrackets;
        break;
      }
      state = kNormal;
      token_start = true;
    }
  }
  if (rc == kParseOk && depth != 0) rc = kParseBrackets;
  ut_free(stack);
  *end = p;
  return rc;
}

// Scans an unquoted value of a row with the bracket flag: a ( or { opens a group that
// runs to its matching closer, counting nested openers of the same kind only.
int scan_bracketed(char* p, char** end) {
  char open = 0;
  std::size_t depth = 0;
  for (; *p != '\0'; ++p) {
    if (depth == 0) {
      if (*p == ';') break;
      if (*p == '(' || *p == '{') {
        open = *p;
        depth = 1;
      }
    } else if (*p == open) {
      ++depth;
    } else if (*p == closer_of(open)) {
      --depth;
    }
  }
  *end = p;
  return depth == 0 ? kParseOk : kParseBrackets;
}

bool is_named(const a_conn_option& row, const char* name) {
  return same_text(row.long_name, name);
}

}  // namespace

bool InitSizedStringParms(a_string_parms* parms, unsigned count) {
  if (parms == nullptr || count > 0xFFFFu) return false;
  char** values = static_cast<char**>(uicalloc(std::size_t(count) + 1, sizeof(char*)));
  if (values == nullptr) return false;
  char* error = static_cast<char*>(uicalloc(kStringParmsErrorSize, 1));
  if (error == nullptr) {
    ut_free(values);
    return false;
  }
  values[count] = error;
  parms->count = static_cast<std::uint16_t>(count);
  parms->values = values;
  parms->flags = 0;
  return true;
}

void FreeStringParms(a_string_parms* parms) {
  if (parms == nullptr) return;
  if (parms->values != nullptr) {
    for (unsigned i = 0; i < parms->count; ++i) wipe_free(parms->values[i]);
    ut_free(parms->values[parms->count]);
    ut_free(parms->values);
  }
  parms->values = nullptr;
  parms->count = 0;
  parms->flags = 0;
}

char* StringParmsError(const a_string_parms* parms) {
  if (parms == nullptr || parms->values == nullptr) return nullptr;
  return parms->values[parms->count];
}

int ParseKeyValueNextKey(char** pos, char** key) {
  char* p = *pos;
  while (*p == ';' || is_white(*p)) ++p;
  *pos = p;
  if (*p == '\0') {
    *key = nullptr;
    return kParseOk;
  }
  char* sep = p;
  while (*sep != '\0' && *sep != '=' && *sep != '#') ++sep;
  if (*sep == '\0') {
    *key = nullptr;
    return kParseNoEquals;
  }
  trim_blanks_and_tabs(p, sep);
  *key = p;
  *pos = sep + 1;
  return kParseOk;
}

int ParseKeyValueNextValue(char** pos, char** value, bool brackets, bool startLine) {
  char* p = *pos;
  while (is_white(*p)) ++p;
  if (*p == '\'' || *p == '"') {
    const char quote = *p++;
    char* start = p;
    char* out = p;  // doubled quotes shrink the value in place
    for (;;) {
      if (*p == '\0') {
        *pos = p;
        return kParseOpenQuote;
      }
      if (*p == quote) {
        if (p[1] != quote) break;
        p += 2;
        *out++ = quote;
        continue;
      }
      *out++ = *p++;
    }
    ++p;  // the closing quote
    while (is_white(*p)) ++p;
    if (*p != ';' && *p != '\0') {
      *pos = p;
      return kParseBadValue;
    }
    if (*p == ';') ++p;
    *out = '\0';
    *value = start;
    *pos = p;
    return kParseOk;
  }
  char* start = p;
  char* end = nullptr;
  int rc = kParseOk;
  if (startLine) {
    rc = scan_start_line(p, &end);
  } else if (brackets) {
    rc = scan_bracketed(p, &end);
  } else {
    end = p;
    while (*end != '\0' && *end != ';') ++end;
  }
  if (rc != kParseOk) {
    *pos = end;
    return rc;
  }
  char* next = *end == ';' ? end + 1 : end;
  trim_blanks_and_tabs(start, end);
  *value = start;
  *pos = next;
  return kParseOk;
}

int ParseKeyValueHeader(char** pos, char** name) {
  char* p = *pos;
  while (is_white(*p)) ++p;
  char* start = p;
  while (*p != '\0' && !is_white(*p) && *p != '(' && *p != '{' && *p != '=' && *p != '#') ++p;
  char* name_end = p;
  while (is_white(*p)) ++p;
  if (*p == '=' || *p == '#') {
    *name = nullptr;
    *pos = start;
    return kParseOk;
  }
  if (*p == '\0') {
    *name_end = '\0';
    *name = start;
    *pos = p;
    return kParseOk;
  }
  if (*p != '(' && *p != '{') return kParseBadHeaderText;
  char* last = p + std::strlen(p);
  while (last > p + 1 && is_white(last[-1])) --last;
  if (last == p + 1 || last[-1] != closer_of(*p)) return kParseBrackets;
  last[-1] = '\0';
  *name_end = '\0';
  *name = start;
  *pos = p + 1;
  return kParseOk;
}

int ParseKeyValueString(const char* text, a_string_parms* parms, const a_conn_option* table,
                        bool client, bool keepFirst, bool allowUnknown, int* order) {
  int written = 0;
  if (order != nullptr) order[0] = -1;
  if (text == nullptr) return kParseOk;
  if (parms == nullptr || parms->values == nullptr || table == nullptr) return kParseNoMemory;
  char* copy = copy_text(text);
  if (copy == nullptr) return kParseNoMemory;
  trim_blanks_and_tabs(copy, copy + std::strlen(copy));

  char* error = parms->values[parms->count];
  char* pos = copy;
  int last_row = 0;
  int rc = kParseOk;
  for (;;) {
    char* key = nullptr;
    rc = ParseKeyValueNextKey(&pos, &key);
    if (rc != kParseOk) {
      copy_bounded(error, kStringParmsErrorSize, pos);
      break;
    }
    if (key == nullptr) break;
    const int row = find_row(table, key);
    if (row < 0 && !allowUnknown) {
      rc = kParseUnknownKey;
      copy_bounded(error, kStringParmsErrorSize, key);
      break;
    }
    const a_conn_option& rules = table[row >= 0 ? row : last_row];
    const bool start_line = client && is_named(rules, "StartLine");
    char* value = nullptr;
    rc = ParseKeyValueNextValue(&pos, &value, rules.brackets != 0, start_line);
    if (rc != kParseOk) {
      if (rc != kParseNoMemory) copy_bounded(error, kStringParmsErrorSize, key);
      break;
    }
    if (row < 0) continue;  // an unknown key allowed: its value is dropped
    last_row = row;

    const char* stored = value;
    if (rules.check != nullptr) {
      stored = rules.check(value);
      if (stored == nullptr) {
        rc = kParseBadValue;
        copy_bounded(error, kStringParmsErrorSize, value);
        break;
      }
    }
    if (*stored == '\0') continue;
    if (row >= parms->count) continue;  // a table longer than the block: nowhere to store
    char** slot = &parms->values[row];
    if (*slot != nullptr && keepFirst) continue;
    std::size_t length = std::strlen(stored);
    if (client && length > kServerNameMax && is_named(rules, "ServerName")) {
      length = kServerNameMax;
    }
    char* kept = vq::config::copy_text_n(stored, length);
    if (kept == nullptr) {
      rc = kParseNoMemory;
      break;
    }
    const bool first_value = *slot == nullptr;
    wipe_free(*slot);
    *slot = kept;
    // A slot is listed once, where it first got a value, so the list never holds more
    // entries than the block has slots.
    if (order != nullptr && first_value) {
      order[written++] = row;
      order[written] = -1;
    }
  }
  wipe_free(copy);
  return rc;
}

bool ParseYesNo(const char* text, int* value, bool whole) {
  static const char* const kYes[] = {"yes", "on", "1", "true", "y", "t"};
  static const char* const kNo[] = {"no", "off", "0", "false", "n", "f"};
  if (text == nullptr) return false;
  const auto match = [&](const char* word) {
    return whole ? same_text(text, word) : starts_with_text(text, word);
  };
  for (const char* word : kYes) {
    if (match(word)) {
      if (value != nullptr) *value = 1;
      return true;
    }
  }
  for (const char* word : kNo) {
    if (match(word)) {
      if (value != nullptr) *value = 0;
      return true;
    }
  }
  return false;
}

bool knumber(const char* text, std::uint64_t* value, std::uint64_t base, bool bytes,
             bool strict, const char** end) {
  constexpr std::uint64_t kMax = ~std::uint64_t{0};
  std::uint64_t v = 0;
  const auto finish = [&](const char* at, bool ok) {
    if (value != nullptr) *value = v;
    if (end != nullptr) *end = at;
    return ok;
  };
  if (text == nullptr) return finish(text, true);
  const char* p = text;
  while (is_white(*p)) ++p;
  if (*p == '\0') return finish(p, false);

  // Digits saturate instead of wrapping: a huge number must never read as a small one.
  if (p[0] == '0' && p[1] == 'x') {
    p += 2;
    for (;; ++p) {
      int d;
      if (*p >= '0' && *p <= '9')
        d = *p - '0';
      else if (*p >= 'a' && *p <= 'f')
        d = *p - 'a' + 10;
      else if (*p >= 'A' && *p <= 'F')
        d = *p - 'A' + 10;
      else
        break;
      v = v > (kMax >> 4) ? kMax : (v << 4) | std::uint64_t(d);
    }
  } else {
    for (; *p >= '0' && *p <= '9'; ++p) {
      const std::uint64_t d = std::uint64_t(*p - '0');
      v = v > (kMax - d) / 10 ? kMax : v * 10 + d;
    }
  }
  if (*p == '\0') return finish(p, true);
  if (bytes) {
    unsigned shift = 0;
    switch (*p) {
      case 'k':
      case 'K':
        shift = 10;
        break;
      case 'm':
      case 'M':
        shift = 20;
        break;
      case 'g':
      case 'G':
        shift = 30;
        break;
      default:
        break;
    }
    if (shift != 0) {
      v = v > (kMax >> shift) ? kMax : v << shift;
      return finish(p + 1, true);
    }
  }
  if (base != 0 && (*p == 'P' || *p == 'p' || *p == '%')) {
    if (v > 100) return finish(p + 1, false);
    v = static_cast<std::uint64_t>((static_cast<unsigned __int128>(base) * v) / 100);
    return finish(p + 1, true);
  }
  return finish(p, !strict);
}

void RTrim(char* text) {
  if (text == nullptr) return;
  std::size_t n = std::strlen(text);
  while (n > 0 && text[n - 1] == ' ') --n;
  text[n] = '\0';
}
