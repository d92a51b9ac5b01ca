// The ICU collation: text ordered by an ICU collator opened through the registry's ICU
// binding and tailored by a UTCollationTailoring. Single-byte text reaches ICU through
// its character set's byte-to-UTF-16 map; any other text goes as UTF-8. ICU sees at
// most the first 1,024 bytes of a string (cut back to a character boundary); ties
// between longer strings are broken by their raw bytes, and sort keys of longer
// strings carry the raw bytes after the ICU key. So strings equal under the tailoring
// still differ when they are longer than 1,024 bytes and differ in their raw bytes.
//
// Without the ICU library the binding's stand-bys answer: there is no collator, sort
// keys have empty ICU parts and comparisons fall to the raw tie-break; each kind of
// failure is written once per collation to the error log.
#ifndef VQ_UTILS_LOCALE_ICU_COLLATION_H
#define VQ_UTILS_LOCALE_ICU_COLLATION_H

#include <cstdint>

#include "utils/locale/collation.h"
#include "vqicu.h"

class UTICU;
class ICUFragmentedString;

class ICUCollation final : public UTCollationImplementationBase {
 public:
  static constexpr std::size_t kPrefixBytes = 1024;  // the most ICU sees of a string
  static constexpr std::size_t kProbeBytes = 1025;   // read to learn a string is longer

  // Opens the collator for the tailoring's ICU locale and applies the tailoring;
  // *status is 1, or 0 when quaternary punctuation forced case or accent to be
  // respected.
  ICUCollation(UTLocale* locale, const CollationInfo* info, const CharsetInfo* charset,
               const UTCollationTailoring& tailoring, unsigned* status);
  ~ICUCollation() override;

  void close() override;
  bool do_is_alpha(const char* s, std::size_t len) const override;
  bool do_is_num(const char* s, std::size_t len) const override;
  bool do_is_alphanum(const char* s, std::size_t len) const override;
  bool do_is_space(const char* s, std::size_t len) const override;
  int trancmp(const char* a, const char* b) const override;
  int trancmp(UTIStream& a, UTIStream& b) const override;
  int trancmp(UTBufferedIStream& a, std::size_t alen, UTBufferedIStream& b,
              std::size_t blen) const override;
  int trancmp(const char* a, std::size_t alen, const char* b, std::size_t blen) const override;
  int tranncmp(const char* a, const char* b, std::size_t n) const override;
  std::size_t char_tolower(char* dst, std::size_t dstlen, const char* src,
                           std::size_t srclen) const override;
  std::size_t char_toupper(char* dst, std::size_t dstlen, const char* src,
                           std::size_t srclen) const override;
  std::size_t str_tolower(char* dst, std::size_t dstlen, const char* src,
                          std::size_t srclen) const override;
  std::size_t str_toupper(char* dst, std::size_t dstlen, const char* src,
                          std::size_t srclen) const override;
  std::size_t str_tolower(UTOStream& out, UTIStream& in) const override;
  std::size_t str_toupper(UTOStream& out, UTIStream& in) const override;
  int compare_character(const char* a, const char* a_end, const char** a_next, const char* b,
                        const char* b_end, const char** b_next) const override;
  bool is_prefix(const char* p, const char* p_end, const char* s, const char* s_end,
                 const char** match_end) const override;
  bool case_translation_preserves_sort_order() const override { return false; }
  double hist_hash(const char* s, std::size_t len, unsigned extra,
                   unsigned width) const override;
  std::size_t hist_unhash(double value, char* dst, std::size_t dstlen, unsigned extra,
                          unsigned width) const override;
  std::uint32_t id_hash(const char* s, std::size_t len) const override;
  std::size_t suggested_sortkey_length(std::size_t len) const override { return 2 * len; }
  std::size_t sortkey_prefix(std::uint8_t* dst, std::size_t dstlen, const char* src,
                             std::size_t srclen) const override;
  std::size_t sortkey_prefix(std::uint8_t* dst, std::size_t dstlen,
                             UTIStream& in) const override;
  std::size_t sortkey_prefix(std::uint8_t* dst, std::size_t dstlen, UTBufferedIStream& in,
                             std::size_t length) const override;
  std::size_t sortkey_prefix_tarnel(std::uint8_t* dst, std::size_t dstlen,
                                    UTIStream& in) const override;
  std::size_t sortkey_prefix_tarnel(std::uint8_t* dst, std::size_t dstlen,
                                    UTBufferedIStream& in, std::size_t length) const override;
  std::size_t sortkey_bound(a_sortkey_bound_type type, std::uint8_t* dst, std::size_t dstlen,
                            const std::uint8_t* key, std::size_t keylen) const override;
  bool from_default() const override { return from_default_; }

  // The tailoring as collator attributes; 0 when it had to raise a sensitivity.
  unsigned apply_tailoring();
  // Bytes of s that ICU sees: all of it up to 1,024 bytes, else 1,024 cut back to the
  // start of a character that would cross byte 1,024.
  std::size_t trimmed_prefix_len(const char* s, std::size_t len) const;
  // The raw tie-break: 0 when both are at most 1,024 bytes, the shorter first when one
  // is, else unsigned bytes and then lengths.
  static int binary_compare(const char* a, std::size_t alen, const char* b, std::size_t blen);
  // Each byte below 253 as b + 2, bytes 253 to 255 as 255, b; the bytes written.
  static std::size_t binary_encode(std::uint8_t* dst, std::size_t dstlen, const char* src,
                                   std::size_t srclen);

  const std::uint16_t* map() const { return map_; }
  vqicu_collator* collator() const { return collator_; }
  UTICU* icu() const { return icu_; }
  // Writes an internal failure to the error log, once per kind and collation.
  void report_failure(int kind, const char* what) const;

 private:
  friend class ICUFragmentedString;
  std::size_t do_sortkey_prefix(std::uint8_t* dst, std::size_t dstlen, const char* src,
                                std::size_t srclen, bool complete, bool* truncated) const;
  std::size_t stream_sortkey(std::uint8_t* dst, std::size_t dstlen, UTIStream& in,
                             std::size_t limit) const;
  bool first_code_point(const char* s, std::size_t len, std::uint32_t* cp) const;
  std::size_t convert_stream_case(bool upper, UTOStream& out, UTIStream& in) const;
  std::size_t buffer_case(bool upper, char* dst, std::size_t dstlen, const char* src,
                          std::size_t srclen) const;
  std::size_t one_character_case(bool upper, char* dst, std::size_t dstlen, const char* src,
                                 std::size_t srclen) const;

  UTICU* icu_;                // the registry's binding, not owned
  vqicu_collator* collator_;  // owned; released by close()
  const std::uint16_t* map_;  // 256 UTF-16 units of a single-byte set, or null
  bool from_default_;
  mutable unsigned reported_ = 0;  // kinds of failure already logged
};

// A string that lives in a stream, fed to an ICU character iterator without copying
// more than 1,025 bytes. The stream must outlive the object.
class ICUFragmentedString {
 public:
  // Over a buffered stream holding a string of `length` bytes from its current position.
  ICUFragmentedString(const ICUCollation* collation, UTBufferedIStream& in, std::size_t length);
  // Over a stream read to its end (length unknown).
  ICUFragmentedString(const ICUCollation* collation, UTIStream& in);
  ICUFragmentedString(const ICUFragmentedString&) = delete;
  ICUFragmentedString& operator=(const ICUFragmentedString&) = delete;

  // ICU's order of the two strings, ties broken by raw bytes: < 0, 0, > 0.
  int Compare(ICUFragmentedString& other);
  // The raw tie-break over the whole strings (reads the rest of both streams).
  int binary_compare(ICUFragmentedString& other);

 private:
  enum Method { kBuffered, kUnbuffered };
  static const char* fill(void* context, std::int32_t need, std::int32_t* available);
  void set_iterator(vqicu_char_iterator* iter);
  // Reads up to n further bytes of the string (after those in hand).
  unsigned read_more(unsigned char* dst, unsigned n);

  const char* data_;  // the bytes in hand
  const ICUCollation* collation_;
  std::size_t prefix_ = 0;  // bytes in hand ICU may use
  std::size_t in_hand_ = 0;
  long long total_;    // -1 when unknown
  bool done_ = false;  // no more bytes will be fetched
  Method method_;
  UTIStream* source_;
  std::size_t read_total_ = 0;  // bytes of the string taken from the source
  char buffer_[ICUCollation::kProbeBytes];
};

#endif  // VQ_UTILS_LOCALE_ICU_COLLATION_H
