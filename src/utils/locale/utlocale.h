// The locale registry: the character sets and languages the client knows, the rules
// that choose the user's language and character set from the environment, and the
// per-registry caches built at run time (byte-to-UTF-16 maps of single-byte sets, byte
// maps between single-byte sets) and the registry's binding of the Unicode library.
//
// The static tables are shared read-only data; a record is identified by its address,
// so callers compare record pointers, never record contents. Lookups in the tables
// take no lock and may run on any thread. A UTLocale is built by each environment and
// handed to message catalogs, converters and collations by pointer; its caches are
// filled under its mutex and live until the registry is destroyed.
#ifndef VQ_UTILS_LOCALE_UTLOCALE_H
#define VQ_UTILS_LOCALE_UTLOCALE_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "utils/base/queue.h"
#include "vqtasks.h"

struct a_packed_collation_order;  // a 1,280-byte collation order of the sort tables
class UTICU;                      // the run-time ICU binding
struct ConversionTable;           // a cached single-byte to single-byte table
struct CollationInfo;             // a collation record (collation_info.h)
class UTCollationTailoring;       // tailoring options (collation_tailoring.h)

// Naming schemes of character-set labels; a label carries the bits of every scheme
// in which it is valid.
enum : std::uint32_t {
  kSchemeDefault = 0x1,        // the registry's canonical labels
  kSchemeIANA = 0x2,           // IANA charset registry names and aliases
  kSchemeMIME = 0x4,           // MIME preferred names
  kSchemeJava = 0x8,           // Java names
  kSchemeWindows = 0x10,       // Windows code-page names
  kSchemeICUCanonical = 0x20,  // ICU canonical converter names (always with 0x80)
  kSchemeIBM = 0x40,           // IBM names
  kSchemeICU = 0x80,           // ICU converter names and aliases
  kSchemeServer = 0x100,       // the database server's names
  kSchemeAll = 0xFFFFFFFFu,
};

// One entry of a record's label list; the list ends with a null label.
struct CharsetLabel {
  const char* label;
  std::uint32_t schemes;  // kScheme* bits
};

struct CharsetInfo {
  // Each points into `labels`; an entry with a null label (the list's end) means the
  // scheme has no label for this character set.
  const CharsetLabel* default_label;
  const CharsetLabel* iana_label;
  const CharsetLabel* mime_label;
  const CharsetLabel* icu_label;
  const CharsetLabel* java_label;
  const CharsetLabel* server_label;
  const CharsetLabel* labels;
  const std::uint16_t* upper128;  // UTF-16 of bytes 0x80..0xFF (U+FFFD undefined);
                                  // single-byte sets only, else null
  std::int32_t cslib_id;          // the product's numbering: -4 UTF-8, -1 UTF-16
  std::int32_t ms_codepage;       // -1 when none
  std::uint8_t unit_width;        // bytes per code unit: 1, or 2 for UTF-16
  std::uint8_t max_bytes;         // bytes per character, 1 to 4
  std::uint8_t charset_id;        // small number indexing caches (ids skip 26)
  std::uint8_t subst_length;      // 1 to 3
  std::uint8_t subst[4];          // substitution character in this set's encoding
  // The set's collation order (its fifth table gives each lead byte's trail count);
  // present for the first 54 records, else null.
  const a_packed_collation_order* packed_order;

  // True when `label` (leading blanks, '-' and '_' ignored) equals one of this
  // record's labels valid in one of `schemes`.
  bool match_label(const char* label, std::uint32_t schemes) const;
  // The preferred label of scheme 2, 4, 8, 128 or 256; the default label for any
  // other scheme or when the record has no label in it; "unknown" for null.
  static const char* safe_label(const CharsetInfo* charset, std::uint32_t scheme);
  // True for labels equal to "UTF16BE", "UTF16LE", "UTF16PE" or "UTF16OE".
  static bool is_UTF16_explicit_endian_label(const char* label);
  // The byte-order signature and its length in *length; null and 0 when none.
  const std::uint8_t* get_BOM(std::uint32_t* length) const;
};

struct LanguageInfo {
  std::int32_t platform_lid;  // -1: none on this platform
  const char* name;
  const char* alternate;  // or null
  const char* code;       // two letters

  // Scheme 4 gives the code (the name when there is none), any other the name;
  // "unknown" for null.
  static const char* safe_label(const LanguageInfo* language, std::uint32_t scheme);
};

// Label comparison of the registry: blanks, '-' and '_' do not count and ASCII letters
// compare without case, so "ISO8859-1", "iso_8859_1" and "ISO-8859-1" are one label.
bool equal_charset_labels(const char* a, const char* b);

// True for null and, ignoring case, "none", "null", "unspecified" and "unknown".
bool isAcceptableUnknownCharsetLabel(const char* label);

class UTLocale {
 public:
  static constexpr int kNumCharsets = 56;
  static constexpr int kNumLanguages = 26;
  static constexpr int kNumCharsetIds = 57;  // ids 0..56
  static constexpr int kNumConversionBuckets = 32;

  // The shared tables. _language_info ends with an all-null record.
  static const CharsetInfo _charset_info[kNumCharsets];
  static const LanguageInfo _language_info[kNumLanguages + 1];

  // Creates the mutex and fills the default records from the environment. When the
  // mutex cannot be created the registry still answers lookups but caches nothing.
  UTLocale();
  ~UTLocale();
  UTLocale(const UTLocale&) = delete;
  UTLocale& operator=(const UTLocale&) = delete;

  static int num_charsets() { return kNumCharsets; }

  // Lookups; all return null when nothing matches.
  // The first record, in table order, with a label valid in one of `schemes`.
  static const CharsetInfo* GetCharsetInfoFromLabel(const char* label, std::uint32_t schemes);
  static const CharsetInfo* GetCharsetInfoFromMicrosoftCID(std::int32_t code_page);
  static const CharsetInfo* GetCharsetInfoFromCsLibCID(std::int32_t cslib_id);
  // Name, alternate name or code, ignoring case.
  static const LanguageInfo* GetLanguageInfoFromLabel(const char* label);
  static const LanguageInfo* GetLanguageInfoFromVsrLID(std::int32_t id);
  static const LanguageInfo* GetLanguageInfoFromPlatformLID(std::int32_t id);

  // The environment's choices. With use_env the product's own variables (VCLANG,
  // VCCHARSET) come first; then the standard locale variables; then English and
  // "ISO_8859-1:1987". Never null.
  static const LanguageInfo* FindOSLanguage(unsigned int use_env);
  static const CharsetInfo* FindOSCharset(unsigned int use_env);
  // The first non-empty one of LC_ALL, LC_MESSAGES, LC_CTYPE and LANG, or null.
  static const char* get_unix_locale();
  // The canonical name of a locale name from the alias table, or the name itself.
  static const char* get_alias(const char* name);
  // True only for the English locales in ISO 8859-1 ("en_US.ISO8859-1" and the like).
  static bool is_locale_supported(const char* name);

  // The choices made at construction.
  const CharsetInfo* default_client_charset() const { return default_client_charset_; }
  const CharsetInfo* os_charset() const { return os_charset_; }
  const LanguageInfo* os_language() const { return os_language_; }
  const CharsetInfo* ascii_charset() const { return ascii_; }
  const CharsetInfo* utf16be_charset() const { return utf16be_; }
  const CharsetInfo* utf16le_charset() const { return utf16le_; }
  const CharsetInfo* utf8_charset() const { return utf8_; }
  const LanguageInfo* english() const { return english_; }

  // The 256-entry UTF-16 map of a single-byte set (bytes below 0x80 map to
  // themselves), built once and kept until the registry ends; null when the set is
  // not single-byte or no map can be built (remembered, never retried). Thread-safe.
  const std::uint16_t* FindOrLoadSBCSToUTF16(const CharsetInfo* charset);
  // The UTF-16 values of bytes 0x80..0xFF of a single-byte set into out[0..127]:
  // the record's own map, else one generated through ICU. False when none.
  bool GetUnicodeUpper128(std::uint16_t* out, const CharsetInfo* charset);

  // ICU is usable: the binding is loaded, complete, and reports a data set above 1.
  bool ICUIsSupported() const;
  // The binding was loaded but lacks entry points.
  bool ICUVersionMismatch() const;
  UTICU* icu() const { return icu_; }

  // The byte map between two single-byte sets, from the table file, the platform (none
  // on this system) or generated through ICU, created once per pair and kept until the
  // registry ends; null when the pair has none (remembered), when either set is missing
  // or not single-byte, or when both are the same record. Thread-safe.
  const ConversionTable* GetConversionTable(const CharsetInfo* to, const CharsetInfo* from,
                                            unsigned int use_file, unsigned int use_platform);
  // The 128 target bytes of source bytes 0x80..0xFF from the table file "vellum.cvf";
  // false when the file is absent, foreign, damaged or lacks the pair.
  bool read_cvf_conversion_table(unsigned char* out128, const CharsetInfo* to,
                                 const CharsetInfo* from);
  // The same 128 bytes generated through ICU; false unless every upper-half character
  // of `from` becomes exactly one byte of `to`.
  bool icu_generate_upper128(unsigned char* out128, const CharsetInfo* to,
                             const CharsetInfo* from);

  // ---- Collation records (collation_info.cpp) ----
  static constexpr int kNumCollations = 68;
  static const CollationInfo _collation_info[kNumCollations];
  static int num_vsr_collations() { return kNumCollations; }
  // The record of a label, ignoring case; null when none.
  static const CollationInfo* GetCollationInfoFromLabel(const char* label);
  // "ISO_BINENG".
  static const CollationInfo* GetDefaultCollation();
  // The first record whose character set is `charset` (GB18030 counts as GBK) and that
  // is the default for the language (English when null); null when none.
  static const CollationInfo* GetCollationInfoFromCharsetLang(const CharsetInfo* charset,
                                                              const LanguageInfo* language);
  // The collation of the pair, else of the character set with English; a null argument
  // is the environment's choice (FindOSCharset(1), FindOSLanguage(1)).
  static const CollationInfo* FindCollation(const CharsetInfo* charset,
                                            const LanguageInfo* language);
  // The environment's collation; never null (the last resort is "1252LATIN1").
  static const CollationInfo* FindOSCollation();
  // Copies the label of a collation specification ("label", "label(options)" or
  // "label{options}") into buf, cut to size - 1 bytes, and points *bracket (when not
  // null) at the first "(" (or, without one, the first "{"), or null. Returns buf, or
  // null when spec or buf is null or size is 0.
  static char* GetCollationLabel(const char* spec, char* buf, std::size_t size,
                                 const char** bracket);
  // The record of a specification with its options applied to *tailoring (legacy rules
  // for table-driven records). A bracket without its closing bracket at the end resets
  // the tailoring with Set("") and gives null; options that fail give null.
  static const CollationInfo* GetCollationInfoAndTailoring(const char* spec,
                                                           UTCollationTailoring* tailoring);
  // The record of a specification; for an ICU record the tailoring defaults to case 'A'
  // and accent 'y' when the environment's language is Japanese or its character set
  // (without VCCHARSET) is Shift_JIS or EUC-JP.
  static const CollationInfo* GetCollationTailoringDefaults(const char* spec,
                                                            UTCollationTailoring* tailoring);

 private:
  void init();
  void fini();
  bool icu_generate_unicode_map_upper128(std::uint16_t* out, const CharsetInfo* charset);
  void free_conversion_tables();

  a_ut_safe_pthread_mutex_t mutex_{nullptr};             // guards the caches
  const CharsetInfo* default_client_charset_ = nullptr;  // with the environment
  const CharsetInfo* os_charset_ = nullptr;              // without it
  const CharsetInfo* ascii_ = nullptr;
  const CharsetInfo* utf16be_ = nullptr;
  const CharsetInfo* utf16le_ = nullptr;
  const CharsetInfo* utf8_ = nullptr;
  const LanguageInfo* os_language_ = nullptr;
  const LanguageInfo* english_ = nullptr;
  // Byte-map conversion tables by (charset id of the source) & 31, each the head of a
  // circular queue of ConversionTable entries, new ones at the tail.
  Q_link conversion_tables_[kNumConversionBuckets] = {};
  // The SBCS-map cache: kNumCharsetIds slots indexed by charset id, allocated on
  // first use; a slot holds a map, null (not tried yet) or kNoMap.
  std::atomic<std::atomic<const std::uint16_t*>*> sbcs_maps_{nullptr};
  UTICU* icu_ = nullptr;  // owned
};

#endif  // VQ_UTILS_LOCALE_UTLOCALE_H
