// Collation records: one per collation the client can sort with (its character set,
// the server's sort-order names, the languages it serves, its kind), and records of
// custom collations built from a custom-collation record. The 68 built-in records are
// UTLocale::_collation_info; the choosers that pick one are UTLocale's (utlocale.h).
#ifndef VQ_UTILS_LOCALE_COLLATION_INFO_H
#define VQ_UTILS_LOCALE_COLLATION_INFO_H

#include <cstddef>
#include <cstdint>

class UTLangStringBase;
struct CharsetInfo;
struct a_custom_collation_info;
struct a_packed_collation_order;

// Kinds of collation.
enum : std::uint8_t {
  kCollationTableDriven = 'L',
  kCollationICU = 'I',
};

struct CollationInfo {
  // A built-in record.
  constexpr CollationInfo(const char* label_text, const CharsetInfo* charset_info,
                          const char* cs_order, const char* ci_order, std::uint32_t supports,
                          std::uint32_t defaults, std::int32_t message_id,
                          std::uint8_t flag_byte, std::uint8_t kind_code)
      : label(label_text),
        charset(charset_info),
        case_sensitive_order(cs_order),
        case_insensitive_order(ci_order),
        supported_languages(supports),
        default_languages(defaults),
        description_id(message_id),
        flag(flag_byte),
        kind(kind_code),
        custom(0),
        custom_description(nullptr),
        custom_order(nullptr) {}
  // A custom record: the label from the definition; for a kind other than 'I' the
  // character set found by the definition's charset label (default scheme first, then
  // every scheme). When the label names a built-in record, its sort-order names (unless
  // the definition gives its own), masks, description id and flag are taken; otherwise
  // names and description come from the definition and the masks are 0. The packed
  // order is copied. When memory runs out the record is left without strings and
  // order (valid() is false).
  explicit CollationInfo(const a_custom_collation_info* definition);
  ~CollationInfo();
  CollationInfo(const CollationInfo&) = delete;
  CollationInfo& operator=(const CollationInfo&) = delete;

  // False only for a custom record whose copies could not be allocated.
  bool valid() const { return custom == 0 || (label != nullptr && custom_order != nullptr); }

  // The description in buf (cut to size, terminated): a custom record without a message
  // id copies its own text; any other gives the text of its message id. Returns the
  // bytes written (without the terminator).
  unsigned int get_description(UTLangStringBase& strings, char* buf, unsigned int size) const;
  // The codes of the languages in `mask`, from id 25 down to 0, joined by `separator`;
  // 0 when buf is too small (it then holds an empty string when size > 0), else 1.
  static int GetLanguagesList(char* buf, std::size_t size, const char* separator,
                              std::uint32_t mask);
  // The packed order of a custom collation; null for a built-in record, which has none
  // of its own (it sorts with its character set's order).
  const a_packed_collation_order* get_packed_collation_for_custom_collation() const;
  // A custom record's own description text, or null.
  const char* get_custom_description() const { return custom_description; }

  const char* label;
  const CharsetInfo* charset;              // null for "UCA"
  const char* case_sensitive_order;        // server sort-order name, or null
  const char* case_insensitive_order;      // server sort-order name, or null
  std::uint32_t supported_languages;       // bit = language id
  std::uint32_t default_languages;         // within supported_languages
  std::int32_t description_id;             // message id, 0 for none
  std::uint8_t flag;                       // copied into custom records
  std::uint8_t kind;                       // 'L' or 'I'
  std::uint8_t custom;                     // 1 for a custom record
  char* custom_description;                // custom records only (ut_malloc'd)
  a_packed_collation_order* custom_order;  // custom records only (ut_malloc'd)
};

// The order in which collation records are listed.
class VSRCollationIterator {
 public:
  // qsort comparator over an array of `const CollationInfo*`: flag 0 before flag 1;
  // then labels starting with a digit before the others, two such by their leading
  // decimal number; equal numbers and other labels by case-insensitive comparison.
  static int compare_collations(const void* a, const void* b);
};

#endif  // VQ_UTILS_LOCALE_COLLATION_INFO_H
