// The custom-collation record: a fixed 1,828-byte layout, written to and read from a
// file or a hexadecimal definition text byte for byte. Numbers are little-endian,
// strings NUL-padded; the record holds no pointers, so its layout is the same in every
// build.
//
//   offset size  field
//        0   51  collation label
//       51   51  character set label
//      102   51  case-sensitive sort-order name
//      153   51  case-insensitive sort-order name
//      204  129  description
//      333  193  ICU locale string
//      526    2  padding (zero)
//      528    4  case code (LE32)
//      532    4  accent code (LE32)
//      536    4  punctuation code (LE32)
//      540    1  kind: 'L' table-driven, else as the collation record's kind
//      541    3  padding (zero)
//      544    4  reserved, 0
//      548 1280  packed collation order
#ifndef VQ_UTILS_LOCALE_CUSTOM_COLLATION_RECORD_H
#define VQ_UTILS_LOCALE_CUSTOM_COLLATION_RECORD_H

#include <cstddef>
#include <cstdint>

#include "utils/locale/collation_tailoring.h"
#include "utils/locale/packed_collation.h"

struct CharsetInfo;
struct CollationInfo;

constexpr std::size_t kCustomCollationRecordBytes = 1828;
constexpr std::size_t kCustomCollationNameBytes = 51;
constexpr std::size_t kCustomCollationDescriptionBytes = 129;
constexpr std::size_t kCustomCollationICULocaleBytes = 193;
// The definition's binary form: a 2-byte header {2, 0} and the record.
constexpr std::size_t kCustomCollationHeaderBytes = 2;
// "0x", two hex digits per byte of header and record, NUL.
constexpr std::size_t kCustomCollationDefnTextBytes =
    2 + 2 * (kCustomCollationHeaderBytes + kCustomCollationRecordBytes) + 1;
static_assert(kCustomCollationDefnTextBytes == 3663, "the definition text is 3,663 bytes");

struct a_custom_collation_info {
  char label[kCustomCollationNameBytes];
  char charset_label[kCustomCollationNameBytes];
  char case_sensitive_order[kCustomCollationNameBytes];
  char case_insensitive_order[kCustomCollationNameBytes];
  char description[kCustomCollationDescriptionBytes];
  char icu_locale[kCustomCollationICULocaleBytes];
  a_case_sensitivity case_sensitivity;
  an_accent_sensitivity accent_sensitivity;
  a_punctuation_sensitivity punctuation_sensitivity;
  std::uint8_t kind;  // 'L' or 'I'
  std::uint32_t reserved;
  a_packed_collation_order order;

  // All zero, case 'n', accent 'n', punctuation 'p'.
  a_custom_collation_info();

  // Label, description and charset label copied bounded by their fields (NUL-
  // terminated), the packed order copied, kind 'L'. Null texts are stored empty.
  void set(const char* label_text, const char* description_text,
           const a_packed_collation_order* packed, const char* charset_label_text);
  // From a collation record, its character set (first label), a packed order and a
  // tailoring: both sort-order names from the record, empty description, the ICU
  // locale and the three codes from the tailoring, the record's kind.
  void set(const CollationInfo* info, const CharsetInfo* charset,
           const a_packed_collation_order* packed, const UTCollationTailoring& tailoring);

  // The 1,828 bytes of the record.
  void to_bytes(std::uint8_t (&out)[kCustomCollationRecordBytes]) const;
  void from_bytes(const std::uint8_t (&in)[kCustomCollationRecordBytes]);
};

// Field offsets of the byte layout.
namespace custom_collation_layout {
constexpr std::size_t kLabel = 0;
constexpr std::size_t kCharsetLabel = 51;
constexpr std::size_t kCaseSensitiveOrder = 102;
constexpr std::size_t kCaseInsensitiveOrder = 153;
constexpr std::size_t kDescription = 204;
constexpr std::size_t kICULocale = 333;
constexpr std::size_t kCase = 528;
constexpr std::size_t kAccent = 532;
constexpr std::size_t kPunctuation = 536;
constexpr std::size_t kKind = 540;
constexpr std::size_t kReserved = 544;
constexpr std::size_t kOrder = 548;
static_assert(kICULocale + kCustomCollationICULocaleBytes + 2 == kCase, "2 bytes of padding");
static_assert(kKind + 1 + 3 == kReserved, "3 bytes of padding");
static_assert(kOrder + sizeof(a_packed_collation_order) == kCustomCollationRecordBytes,
              "the packed order ends the record");
}  // namespace custom_collation_layout

// File and definition forms (all return 1 on success, 0 on failure).
// Reads 1,828 bytes; 0 only when the file cannot be opened (a short read leaves the
// rest of the record as it was).
unsigned read_custom_collation(const char* path, a_custom_collation_info& info);
// Creates or truncates the file and writes the record; 0 when it cannot be opened or
// the write falls short.
unsigned write_custom_collation(const char* path, const a_custom_collation_info& info);
// data: a header whose first byte is its length h and whose second byte is 0, then the
// record; length must be h + 1,828.
unsigned read_custom_collation_defn(const void* data, std::size_t length,
                                    a_custom_collation_info& info);
// The definition text ("0x" and lower-case hex of the header and record); one
// allocation of 3,663 bytes that the caller releases with ut_free; null when memory
// runs out.
char* write_custom_collation_defn(const a_custom_collation_info& info);

#endif  // VQ_UTILS_LOCALE_CUSTOM_COLLATION_RECORD_H
