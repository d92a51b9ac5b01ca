// The collation front object and the interface of its implementations. A UTCollation
// compares, case-maps, classifies and sort-keys text under one collation: it holds one
// implementation object, built in place, either the table-driven LegacyCollation or the
// ICU collation, both derived from UTCollationImplementationBase. A UTCollation is used
// by one thread at a time.
#ifndef VQ_UTILS_LOCALE_COLLATION_H
#define VQ_UTILS_LOCALE_COLLATION_H

#include <cstddef>
#include <cstdint>

#include "utils/locale/collation_info.h"
#include "utils/locale/collation_tailoring.h"
#include "utils/locale/custom_collation_record.h"
#include "utils/locale/packed_collation.h"

class UTLocale;
class UTIStream;
class UTBufferedIStream;
class UTOStream;
struct CharsetInfo;

// Kinds of search bound made from a sort key.
enum a_sortkey_bound_type : std::uint32_t {
  kSortkeyLowerBound = 0,
  kSortkeyUpperBound = 1,
};

class UTCollationImplementationBase {
 public:
  // `classes` is the 256-byte class table; null takes the character set's packed order's.
  UTCollationImplementationBase(UTLocale* locale, const CollationInfo* info,
                                const CharsetInfo* charset, const std::uint8_t* classes,
                                const UTCollationTailoring& tailoring);
  virtual ~UTCollationImplementationBase() = default;
  UTCollationImplementationBase(const UTCollationImplementationBase&) = delete;
  UTCollationImplementationBase& operator=(const UTCollationImplementationBase&) = delete;

  // Releases what the implementation holds; called before it is replaced or dropped.
  virtual void close() = 0;
  // Class tests of the character at s; false when len is 0.
  virtual bool do_is_alpha(const char* s, std::size_t len) const = 0;
  virtual bool do_is_num(const char* s, std::size_t len) const = 0;
  virtual bool do_is_alphanum(const char* s, std::size_t len) const = 0;
  virtual bool do_is_space(const char* s, std::size_t len) const = 0;
  // The start of the character that ends just before p, found by stepping from start;
  // p itself when p <= start.
  virtual const char* prev_character(const char* start, const char* p) const;
  // Comparisons: < 0, 0, > 0. The stream forms consume what they read.
  virtual int trancmp(const char* a, const char* b) const = 0;
  virtual int trancmp(UTIStream& a, UTIStream& b) const = 0;
  virtual int trancmp(UTBufferedIStream& a, std::size_t alen, UTBufferedIStream& b,
                      std::size_t blen) const = 0;
  virtual int trancmp(const char* a, std::size_t alen, const char* b,
                      std::size_t blen) const = 0;
  virtual int tranncmp(const char* a, const char* b, std::size_t n) const = 0;
  // Case mapping of one character / a counted string / a stream; the bytes written.
  // The string forms write a NUL after the result when room remains.
  virtual std::size_t char_tolower(char* dst, std::size_t dstlen, const char* src,
                                   std::size_t srclen) const = 0;
  virtual std::size_t char_toupper(char* dst, std::size_t dstlen, const char* src,
                                   std::size_t srclen) const = 0;
  virtual std::size_t str_tolower(char* dst, std::size_t dstlen, const char* src,
                                  std::size_t srclen) const = 0;
  virtual std::size_t str_toupper(char* dst, std::size_t dstlen, const char* src,
                                  std::size_t srclen) const = 0;
  virtual std::size_t str_tolower(UTOStream& out, UTIStream& in) const = 0;
  virtual std::size_t str_toupper(UTOStream& out, UTIStream& in) const = 0;
  // Compares the first characters of two ranges; the ends of both characters are
  // stored through a_next and b_next when given.
  virtual int compare_character(const char* a, const char* a_end, const char** a_next,
                                const char* b, const char* b_end,
                                const char** b_next) const = 0;
  // Does p..p_end collate equal to a prefix of s..s_end; the end of the matched part of
  // s is stored through match_end.
  virtual bool is_prefix(const char* p, const char* p_end, const char* s, const char* s_end,
                         const char** match_end) const = 0;
  virtual bool case_translation_preserves_sort_order() const = 0;
  // An order-preserving number of the first width characters, for histograms.
  virtual double hist_hash(const char* s, std::size_t len, unsigned extra,
                           unsigned width) const = 0;
  // A string whose hist_hash approximates value; dst needs width + 1 bytes.
  virtual std::size_t hist_unhash(double value, char* dst, std::size_t dstlen, unsigned extra,
                                  unsigned width) const = 0;
  // Equal for strings that compare equal.
  virtual std::uint32_t id_hash(const char* s, std::size_t len) const = 0;
  virtual std::size_t suggested_sortkey_length(std::size_t len) const = 0;
  // Binary sort keys, truncated to dstlen; the bytes written. memcmp of two keys orders
  // as the collation does. Keys are counted byte strings: a key may hold 0 bytes before
  // its end.
  virtual std::size_t sortkey_prefix(std::uint8_t* dst, std::size_t dstlen, const char* src,
                                     std::size_t srclen) const = 0;
  virtual std::size_t sortkey_prefix(std::uint8_t* dst, std::size_t dstlen,
                                     UTIStream& in) const = 0;
  virtual std::size_t sortkey_prefix(std::uint8_t* dst, std::size_t dstlen,
                                     UTBufferedIStream& in, std::size_t length) const = 0;
  // The second key form.
  virtual std::size_t sortkey_prefix_tarnel(std::uint8_t* dst, std::size_t dstlen,
                                            UTIStream& in) const = 0;
  virtual std::size_t sortkey_prefix_tarnel(std::uint8_t* dst, std::size_t dstlen,
                                            UTBufferedIStream& in,
                                            std::size_t length) const = 0;
  // A lower (or, for kSortkeyUpperBound, upper) search bound made from a key.
  virtual std::size_t sortkey_bound(a_sortkey_bound_type type, std::uint8_t* dst,
                                    std::size_t dstlen, const std::uint8_t* key,
                                    std::size_t keylen) const = 0;
  // True when the ICU collator fell back to default or parent locale data.
  virtual bool from_default() const = 0;

  // Characters in s..s+len, stepping (class & 3) + 1 bytes from each lead byte.
  std::size_t num_characters(const char* s, std::size_t len) const;
  // Copies the character at s (at most dstlen bytes); the count, 0 when s >= end.
  std::size_t copy_character(char* dst, std::size_t dstlen, const char* s,
                             const char* end) const;

  const CharsetInfo* charset() const { return charset_; }
  const CollationInfo* collation_info() const { return info_; }
  bool multibyte() const { return multibyte_; }
  a_case_sensitivity case_sensitivity() const { return case_; }
  an_accent_sensitivity accent_sensitivity() const { return accent_; }
  a_punctuation_sensitivity punctuation_sensitivity() const { return punctuation_; }
  a_sort_type sort_type() const { return sort_type_; }
  // The byte count of the character led by c (1 to 4).
  unsigned char_length(unsigned char c) const { return (classes_[c] & kClassTrailMask) + 1u; }

 protected:
  const CharsetInfo* charset_;
  const CollationInfo* info_;
  UTLocale* locale_;
  bool multibyte_;             // the set's characters may be longer than a byte
  std::uint8_t classes_[256];  // kClass* bits per byte
  a_case_sensitivity case_;
  an_accent_sensitivity accent_;
  a_punctuation_sensitivity punctuation_;
  a_sort_type sort_type_;
};

class UTCollation {
 public:
  // With a locale the environment's collation (and its character set, or the locale's
  // OS character set when it names none); without, "C" (and its set, or "US-ASCII").
  // Default tailoring.
  explicit UTCollation(UTLocale* locale);
  ~UTCollation();
  UTCollation(const UTCollation&) = delete;
  UTCollation& operator=(const UTCollation&) = delete;

  // Each returns 1 on success, 0 on failure (the previous implementation stays for a
  // table-driven collation whose character set does not match).
  unsigned set_c_collation(const UTCollationTailoring& tailoring);
  unsigned set_c_collation(a_case_sensitivity case_code);
  unsigned set_c_collation(a_case_sensitivity case_code, an_accent_sensitivity accent);
  unsigned set_os_collation(const UTCollationTailoring& tailoring);
  unsigned set_os_collation(a_case_sensitivity case_code);
  unsigned set_os_collation(a_case_sensitivity case_code, an_accent_sensitivity accent);
  // Builds the implementation for a record and character set: an ICU collation for a
  // record whose kind is not 'L' (its status is the result), else a LegacyCollation
  // over `packed` (null: a custom record's own order, else the set's), or 0 when the
  // set is not the record's. `flags` is handed to the table-driven collation.
  unsigned do_set_collation(bool has_previous, UTLocale* locale, const CollationInfo* info,
                            const CharsetInfo* charset, const a_packed_collation_order* packed,
                            const UTCollationTailoring& tailoring, unsigned flags);

  static unsigned read_custom_collation(const char* path, a_custom_collation_info& info) {
    return ::read_custom_collation(path, info);
  }
  static unsigned write_custom_collation(const char* path,
                                         const a_custom_collation_info& info) {
    return ::write_custom_collation(path, info);
  }
  static unsigned read_custom_collation_defn(const void* data, std::size_t length,
                                             a_custom_collation_info& info) {
    return ::read_custom_collation_defn(data, length, info);
  }
  static char* write_custom_collation_defn(const a_custom_collation_info& info) {
    return ::write_custom_collation_defn(info);
  }

  UTCollationImplementationBase* operator->() { return impl(); }
  const UTCollationImplementationBase* operator->() const { return impl(); }
  UTCollationImplementationBase& implementation() { return *impl(); }

 private:
  UTCollationImplementationBase* impl() {
    return reinterpret_cast<UTCollationImplementationBase*>(storage_);
  }
  const UTCollationImplementationBase* impl() const {
    return reinterpret_cast<const UTCollationImplementationBase*>(storage_);
  }
  void destroy_current();
  unsigned set_builtin(const CollationInfo* info, const CharsetInfo* fallback_charset,
                       const UTCollationTailoring& tailoring);

  UTLocale* locale_;
  bool has_impl_ = false;
  // Room for the larger implementation (static_asserts in collation.cpp).
  static constexpr std::size_t kStorageBytes = 1152;
  alignas(16) unsigned char storage_[kStorageBytes];
};

#endif  // VQ_UTILS_LOCALE_COLLATION_H
