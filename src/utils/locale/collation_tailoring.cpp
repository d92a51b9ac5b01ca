// Tailoring texts: the option table with its value maps, Set, and the rebuilt strings.
#include "utils/locale/collation_tailoring.h"

#include <strings.h>

#include <cstring>
#include <initializer_list>

#include "config/key_value_parser.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/memory.h"

namespace {

struct SortTypeName {
  const char* name;
  a_sort_type type;
};
const SortTypeName kSortTypes[] = {
    {"phonebook", kSortTypePhonebook}, {"traditional", kSortTypeTraditional},
    {"standard", kSortTypeStandard},   {"pinyin", kSortTypePinyin},
    {"stroke", kSortTypeStroke},       {"direct", kSortTypeDirect},
    {"posix", kSortTypePosix},         {"big5han", kSortTypeBig5han},
    {"gb2312han", kSortTypeGb2312han},
};

bool is_one_of(const char* value, std::initializer_list<const char*> words) {
  for (const char* w : words) {
    if (strcasecmp(value, w) == 0) return true;
  }
  return false;
}
bool is_respect_word(const char* v) {
  return is_one_of(v, {"respect", "yes", "on", "1", "true"});
}
bool is_ignore_word(const char* v) {
  return is_one_of(v, {"ignore", "no", "off", "0", "false"});
}

// Value maps: the canonical text, or null to reject the value.
const char* map_case(const char* v) {
  if (std::strcmp(v, "Aa") == 0 || is_one_of(v, {"CapsFirst", "UpperFirst"}))
    return "UpperFirst";
  if (std::strcmp(v, "aA") == 0 || strcasecmp(v, "LowerFirst") == 0) return "LowerFirst";
  if (is_respect_word(v)) return "Respect";
  if (is_ignore_word(v)) return "Ignore";
  return nullptr;
}
const char* map_accent(const char* v) {
  if (is_one_of(v, {"French", "f"})) return "French";
  if (is_respect_word(v)) return "Respect";
  if (is_ignore_word(v)) return "Ignore";
  return nullptr;
}
const char* map_punctuation(const char* v) {
  if (is_ignore_word(v)) return "Ignore";
  if (strcasecmp(v, "Primary") == 0) return "Primary";
  if (strcasecmp(v, "Quaternary") == 0) return "Quaternary";
  return nullptr;
}
const char* map_sort_type(const char* v) {
  const char* canonical = nullptr;
  return GetSortType(v, &canonical) != 0 ? canonical : nullptr;
}

enum Slot { kLocale, kCase, kAccent, kPunctuation, kSortType, kNumSlots };

const char* const kCaseAliases[] = {"Case", "CaseSensitive", nullptr};
const char* const kAccentAliases[] = {"Accent", "AccentSensitive", nullptr};
const char* const kPunctuationAliases[] = {"Punct", "PunctuationSensitive", nullptr};

// The options of a tailoring text, one slot per row; every value passes through its
// row's map (Locale: any text, unchanged).
const a_conn_option kOptions[kNumSlots + 1] = {
    {"Locale", nullptr, nullptr, nullptr, 0},
    {"CaseSensitivity", nullptr, kCaseAliases, map_case, 0},
    {"AccentSensitivity", nullptr, kAccentAliases, map_accent, 0},
    {"PunctuationSensitivity", nullptr, kPunctuationAliases, map_punctuation, 0},
    {"SortType", nullptr, nullptr, map_sort_type, 0},
    {nullptr, nullptr, nullptr, nullptr, 0},
};

// The parsed value block, freed on every path.
struct ParsedOptions {
  a_string_parms parms{};
  ~ParsedOptions() { FreeStringParms(&parms); }
  bool present(Slot slot) const {
    return parms.values != nullptr && parms.values[slot] != nullptr;
  }
  const char* value(Slot slot) const { return parms.values[slot]; }
};

a_case_sensitivity case_code_of(const char* canonical) {
  if (std::strcmp(canonical, "LowerFirst") == 0) return 'a';
  if (std::strcmp(canonical, "Ignore") == 0) return 'n';
  return 'A';  // "UpperFirst" or "Respect"
}

an_accent_sensitivity accent_code_of(const char* canonical) {
  if (std::strcmp(canonical, "French") == 0) return 'f';
  if (std::strcmp(canonical, "Respect") == 0) return 'y';
  return 'n';
}

// Appends "key=value" to a growing text, with a ";" before every entry but the first.
bool append_entry(char*& text, std::size_t& len, const char* key, const char* value) {
  const std::size_t add = (len > 0 ? 1 : 0) + std::strlen(key) + 1 + std::strlen(value);
  auto* grown = static_cast<char*>(ut_realloc(text, len + add + 1));
  if (grown == nullptr) return false;
  text = grown;
  std::size_t n = len;
  if (n > 0) text[n++] = ';';
  std::strcpy(text + n, key);
  n += std::strlen(key);
  text[n++] = '=';
  std::strcpy(text + n, value);
  len += add;
  return true;
}

}  // namespace

// ---- Names ---------------------------------------------------------------------------

a_sort_type GetSortType(const char* name, const char** canonical) {
  if (canonical != nullptr) *canonical = nullptr;
  if (name == nullptr) return kSortTypeNone;
  for (const SortTypeName& s : kSortTypes) {
    if (strcasecmp(name, s.name) == 0) {
      if (canonical != nullptr) *canonical = s.name;
      return s.type;
    }
  }
  return kSortTypeNone;
}

const char* GetSortTypeName(a_sort_type type) {
  for (const SortTypeName& s : kSortTypes) {
    if (s.type == type) return s.name;
  }
  return nullptr;
}

const char* GetCaseTypeName(a_case_sensitivity case_code, unsigned legacy) {
  switch (case_code) {
    case 'A':
      return legacy ? "Respect" : "UpperFirst";
    case 'a':
      return legacy ? "Respect" : "LowerFirst";
    default:
      return "Ignore";
  }
}

const char* GetAccentTypeName(an_accent_sensitivity accent) {
  switch (accent) {
    case 'y':
      return "Respect";
    case 'f':
      return "French";
    default:
      return "Ignore";
  }
}

const char* GetPunctuationTypeName(a_punctuation_sensitivity punctuation) {
  switch (punctuation) {
    case 'p':
      return "Primary";
    case 'q':
      return "Quaternary";
    default:
      return "Ignore";
  }
}

// ---- UTCollationTailoring --------------------------------------------------------------

UTCollationTailoring::UTCollationTailoring(a_case_sensitivity case_code,
                                           an_accent_sensitivity accent,
                                           a_punctuation_sensitivity punctuation) {
  initialize();
  case_sensitivity = case_code;
  accent_sensitivity = accent;
  punctuation_sensitivity = punctuation;
}

UTCollationTailoring::UTCollationTailoring(a_case_sensitivity case_code) {
  initialize();
  case_sensitivity = case_code;
  accent_sensitivity = case_code == 'n' ? 'n' : 'y';
}

UTCollationTailoring::UTCollationTailoring(const char* text) {
  initialize();
  (void)Set(text, 0);
}

UTCollationTailoring::~UTCollationTailoring() { free_strings(); }

void UTCollationTailoring::initialize() {
  case_sensitivity = 'n';
  accent_sensitivity = 'n';
  punctuation_sensitivity = 'p';
  sort_type = kSortTypeNone;
  flags = static_cast<std::uint8_t>(flags & ~0x07);
  locale_name_ = nullptr;
  icu_locale_ = nullptr;
  tailoring_options_ = nullptr;
  complete_tailoring_options_ = nullptr;
}

void UTCollationTailoring::free_strings() {
  ut_free(locale_name_);
  ut_free(icu_locale_);
  ut_free(tailoring_options_);
  ut_free(complete_tailoring_options_);
  locale_name_ = icu_locale_ = tailoring_options_ = complete_tailoring_options_ = nullptr;
}

const char* UTCollationTailoring::GetICULocale() const {
  return icu_locale_ != nullptr ? icu_locale_ : "";
}
const char* UTCollationTailoring::GetTailoringOptions() const {
  return tailoring_options_ != nullptr ? tailoring_options_ : "";
}
const char* UTCollationTailoring::GetCompleteTailoringOptions() const {
  return complete_tailoring_options_ != nullptr ? complete_tailoring_options_ : "";
}

unsigned UTCollationTailoring::Set(const char* text, unsigned legacy) {
  flags = static_cast<std::uint8_t>((flags | kTailoringApplied) & ~kTailoringSetOk);
  if (legacy != 0) {
    flags = static_cast<std::uint8_t>((flags & ~kTailoringLegacy) |
                                      ((legacy & 1u) != 0 ? kTailoringLegacy : 0));
  }
  if (text == nullptr || *text == '\0') {
    if (rebuild_locale_strings() == 0) return 0;
    flags |= kTailoringSetOk;
    return 1;
  }
  ParsedOptions parsed;
  if (!InitSizedStringParms(&parsed.parms, kNumSlots)) return 0;
  if (ParseKeyValueString(text, &parsed.parms, kOptions, false, false, false, nullptr) !=
      kParseOk) {
    return 0;
  }

  // The new codes are worked out first and stored only when the whole text is good, so
  // a text that fails leaves the tailoring as it was.
  a_case_sensitivity new_case = case_sensitivity;
  an_accent_sensitivity new_accent = accent_sensitivity;
  a_punctuation_sensitivity new_punctuation = punctuation_sensitivity;
  a_sort_type new_sort_type = sort_type;
  if (legacy != 0) {
    if (parsed.present(kSortType) || parsed.present(kAccent) || parsed.present(kPunctuation) ||
        parsed.present(kLocale)) {
      return 0;
    }
    if (parsed.present(kCase)) {
      const char* c = parsed.value(kCase);
      if (std::strcmp(c, "Respect") != 0 && std::strcmp(c, "Ignore") != 0) return 0;
      new_case = case_code_of(c);
    }
  } else {
    if (parsed.present(kCase)) new_case = case_code_of(parsed.value(kCase));
    if (parsed.present(kAccent)) new_accent = accent_code_of(parsed.value(kAccent));
    if (parsed.present(kPunctuation)) {
      const char* p = parsed.value(kPunctuation);
      if (std::strcmp(p, "Primary") == 0) {
        new_punctuation = 'p';
      } else if (std::strcmp(p, "Quaternary") == 0) {
        if (new_case == 'n' || new_accent == 'n') return 0;
        new_punctuation = 'q';
      } else {
        new_punctuation = 'i';
      }
    }
    if (parsed.present(kSortType))
      new_sort_type = GetSortType(parsed.value(kSortType), nullptr);
  }
  if (parsed.present(kLocale)) {
    char* name = ut_strdup(parsed.value(kLocale));
    if (name == nullptr) return 0;
    ut_free(locale_name_);
    locale_name_ = name;
  }
  case_sensitivity = new_case;
  accent_sensitivity = new_accent;
  punctuation_sensitivity = new_punctuation;
  sort_type = new_sort_type;
  if (rebuild_locale_strings() == 0) return 0;
  flags |= kTailoringSetOk;
  return 1;
}

unsigned UTCollationTailoring::SetSortType(a_sort_type type) {
  sort_type = type;
  return rebuild_locale_strings();
}

unsigned UTCollationTailoring::rebuild_locale_strings() {
  ut_free(icu_locale_);
  ut_free(tailoring_options_);
  ut_free(complete_tailoring_options_);
  icu_locale_ = tailoring_options_ = complete_tailoring_options_ = nullptr;

  const char* sort_name = GetSortTypeName(sort_type);
  if (locale_name_ != nullptr || sort_name != nullptr) {
    const char* name = locale_name_ != nullptr ? locale_name_ : "";
    const std::size_t size =
        std::strlen(name) + (sort_name != nullptr ? 11 + std::strlen(sort_name) : 0) + 1;
    icu_locale_ = static_cast<char*>(ut_malloc(size));
    if (icu_locale_ == nullptr) return 0;
    ut_snprintf(icu_locale_, size, "%s%s%s", name, sort_name != nullptr ? "@collation=" : "",
                sort_name != nullptr ? sort_name : "");
  }
  std::size_t len = 0;
  if (locale_name_ != nullptr &&
      !append_entry(tailoring_options_, len, kOptions[kLocale].long_name, locale_name_)) {
    return 0;
  }
  len = 0;
  char*& all = complete_tailoring_options_;
  if (locale_name_ != nullptr &&
      !append_entry(all, len, kOptions[kLocale].long_name, locale_name_)) {
    return 0;
  }
  const unsigned legacy = (flags & kTailoringLegacy) != 0 ? 1u : 0u;
  if (!append_entry(all, len, kOptions[kCase].long_name,
                    GetCaseTypeName(case_sensitivity, legacy)) ||
      !append_entry(all, len, kOptions[kAccent].long_name,
                    GetAccentTypeName(accent_sensitivity)) ||
      !append_entry(all, len, kOptions[kPunctuation].long_name,
                    GetPunctuationTypeName(punctuation_sensitivity))) {
    return 0;
  }
  if (sort_name != nullptr &&
      !append_entry(all, len, kOptions[kSortType].long_name, sort_name)) {
    return 0;
  }
  return 1;
}
