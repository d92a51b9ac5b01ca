// The tailoring of a collation: case, accent and punctuation sensitivity, an
// alternative sort type and an ICU locale, read from a text of key=value pairs
// separated by ";" (for example "Locale=de;SortType=phonebook;Case=Respect").
// The object owns four heap strings rebuilt from the codes after every change; it is
// used by one thread at a time, and the name lookups read constant tables only.
#ifndef VQ_UTILS_LOCALE_COLLATION_TAILORING_H
#define VQ_UTILS_LOCALE_COLLATION_TAILORING_H

#include <cstdint>

// Sensitivity codes; each holds a character code.
using a_case_sensitivity = std::uint32_t;     // 'n' ignore, 'A' upper first, 'a' lower first
using an_accent_sensitivity = std::uint32_t;  // 'n' ignore, 'y' respect, 'f' French
using a_punctuation_sensitivity = std::uint32_t;  // 'i' ignore, 'p' primary, 'q' quaternary

// Alternative sort orders; 0 means none.
using a_sort_type = std::uint32_t;
enum : a_sort_type {
  kSortTypeNone = 0,
  kSortTypePhonebook = 1,
  kSortTypeTraditional = 2,
  kSortTypeStandard = 3,
  kSortTypePinyin = 4,
  kSortTypeStroke = 5,
  kSortTypeDirect = 6,
  kSortTypePosix = 7,
  kSortTypeBig5han = 8,
  kSortTypeGb2312han = 9,
};

// Bits of UTCollationTailoring::flags.
enum : std::uint8_t {
  kTailoringApplied = 0x01,  // a tailoring text has been applied
  kTailoringSetOk = 0x02,    // the last Set succeeded
  kTailoringLegacy = 0x04,   // case "Respect" is not split into upper and lower first
};

class UTCollationTailoring {
 public:
  UTCollationTailoring() { initialize(); }
  UTCollationTailoring(a_case_sensitivity case_code, an_accent_sensitivity accent,
                       a_punctuation_sensitivity punctuation);
  // Accent 'n' when case is 'n', else 'y'; punctuation 'p'.
  explicit UTCollationTailoring(a_case_sensitivity case_code);
  // Applies the text with Set(text, 0); a text that fails leaves the defaults.
  explicit UTCollationTailoring(const char* text);
  ~UTCollationTailoring();
  UTCollationTailoring(const UTCollationTailoring&) = delete;
  UTCollationTailoring& operator=(const UTCollationTailoring&) = delete;

  // Restores the defaults (case 'n', accent 'n', punctuation 'p', no sort type, flags
  // 0 to 2 cleared, no strings) without freeing anything: only for an object that
  // holds no strings yet.
  void initialize();

  // Applies a tailoring text; 1 on success, 0 when the text does not parse, names an
  // option or value that is not accepted, asks for quaternary punctuation while case
  // or accent is ignored, or memory runs out. With a non-zero `legacy` only
  // CaseSensitivity=Respect or Ignore is accepted. A null or empty text succeeds and
  // changes nothing but the flags.
  unsigned Set(const char* text, unsigned legacy);
  // Stores the sort type and rebuilds the strings; 0 when memory runs out.
  unsigned SetSortType(a_sort_type type);

  // The strings, or "" when absent.
  const char* GetICULocale() const;
  const char* GetTailoringOptions() const;
  const char* GetCompleteTailoringOptions() const;
  const char* GetLocaleName() const { return locale_name_ != nullptr ? locale_name_ : ""; }

  a_case_sensitivity case_sensitivity;
  an_accent_sensitivity accent_sensitivity;
  a_punctuation_sensitivity punctuation_sensitivity;
  a_sort_type sort_type;
  std::uint8_t flags = 0;  // kTailoring* bits

 private:
  // Rebuilds the ICU locale and the two option strings; 0 when an allocation fails.
  unsigned rebuild_locale_strings();
  void free_strings();

  // Each ut_malloc'd or null.
  char* locale_name_ = nullptr;
  char* icu_locale_ = nullptr;                  // locale name and "@collation=<sort type>"
  char* tailoring_options_ = nullptr;           // "Locale=<name>" when a locale is set
  char* complete_tailoring_options_ = nullptr;  // every option, ";"-separated
};

// Sort-type lookup, ignoring case: the value, and the name as the table spells it
// through `canonical` (when not null); 0 and a null name when unknown or null.
a_sort_type GetSortType(const char* name, const char** canonical);
// The table's name of a sort type; null for 0 or an unknown value.
const char* GetSortTypeName(a_sort_type type);
// "Ignore", "UpperFirst", "LowerFirst" ("Respect" for both when legacy is set);
// unknown codes are "Ignore".
const char* GetCaseTypeName(a_case_sensitivity case_code, unsigned legacy);
// "Ignore", "Respect", "French"; unknown codes are "Ignore".
const char* GetAccentTypeName(an_accent_sensitivity accent);
// "Ignore", "Primary", "Quaternary"; unknown codes are "Ignore".
const char* GetPunctuationTypeName(a_punctuation_sensitivity punctuation);

#endif  // VQ_UTILS_LOCALE_COLLATION_TAILORING_H
