// The table-driven collation: one byte weight per lead byte (trail bytes compare by
// their raw values) and case mapping by byte tables, all from a 1,280-byte packed
// collation order. It needs no library and never fails once constructed.
#ifndef VQ_UTILS_LOCALE_LEGACY_COLLATION_H
#define VQ_UTILS_LOCALE_LEGACY_COLLATION_H

#include "utils/locale/collation.h"

class LegacyCollation final : public UTCollationImplementationBase {
 public:
  // The record's character set and the order's class table; weights by the
  // tailoring's case code ('n': case-insensitive). `flags` is not used.
  LegacyCollation(UTLocale* locale, const CollationInfo* info,
                  const a_packed_collation_order* order, const UTCollationTailoring& tailoring,
                  unsigned flags);

  // Recomputes the multibyte flag and whether case mapping keeps every weight.
  void reset();

  void close() override {}
  bool do_is_alpha(const char* s, std::size_t len) const override;
  bool do_is_num(const char* s, std::size_t len) const override;
  bool do_is_alphanum(const char* s, std::size_t len) const override;
  bool do_is_space(const char* s, std::size_t len) const override;
  int trancmp(const char* a, const char* b) const override;
  int trancmp(UTIStream& a, UTIStream& b) const override;
  // Compares at most alen and blen bytes of the two streams.
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
  // Copies the input to the output through a byte map; multi-byte characters pass
  // unchanged. The bytes written.
  std::size_t zap_stream(const std::uint8_t* map, UTOStream& out, UTIStream& in) const;
  int compare_character(const char* a, const char* a_end, const char** a_next, const char* b,
                        const char* b_end, const char** b_next) const override;
  bool is_prefix(const char* p, const char* p_end, const char* s, const char* s_end,
                 const char** match_end) const override;
  bool case_translation_preserves_sort_order() const override { return preserves_ != 0; }
  double hist_hash(const char* s, std::size_t len, unsigned extra,
                   unsigned width) const override;
  std::size_t hist_unhash(double value, char* dst, std::size_t dstlen, unsigned extra,
                          unsigned width) const override;
  std::uint32_t id_hash(const char* s, std::size_t len) const override;
  std::size_t suggested_sortkey_length(std::size_t len) const override { return len; }
  // The first key form: a lead byte's weight and each trail byte x as x + 1 when
  // x < 254, else 255 and x; then a 0 when room remains. An empty text gives 0.
  std::size_t sortkey_prefix(std::uint8_t* dst, std::size_t dstlen, const char* src,
                             std::size_t srclen) const override;
  std::size_t sortkey_prefix(std::uint8_t* dst, std::size_t dstlen,
                             UTIStream& in) const override;
  std::size_t sortkey_prefix(std::uint8_t* dst, std::size_t dstlen, UTBufferedIStream& in,
                             std::size_t length) const override;
  // The second key form: a lead byte of weight w gives w + 1 when w <= 253, else 255
  // and (w + 2) mod 256; trail bytes are copied raw; the same 0 terminator rule.
  // Weight 254 gives 255, 0, so keys are counted, never NUL-terminated strings. The
  // buffered form reads at most `length` bytes.
  std::size_t sortkey_prefix_tarnel(std::uint8_t* dst, std::size_t dstlen,
                                    UTIStream& in) const override;
  std::size_t sortkey_prefix_tarnel(std::uint8_t* dst, std::size_t dstlen,
                                    UTBufferedIStream& in, std::size_t length) const override;
  std::size_t sortkey_bound(a_sortkey_bound_type type, std::uint8_t* dst, std::size_t dstlen,
                            const std::uint8_t* key, std::size_t keylen) const override;
  bool from_default() const override { return false; }

 private:
  int weight(char c) const { return weights_[static_cast<unsigned char>(c)]; }
  unsigned trails(char c) const {
    return multibyte_ ? classes_[static_cast<unsigned char>(c)] & kClassTrailMask : 0u;
  }
  std::size_t map_string(const std::uint8_t* map, char* dst, std::size_t dstlen,
                         const char* src, std::size_t srclen) const;
  int compare_streams(UTIStream& a, std::size_t alen, UTIStream& b, std::size_t blen) const;
  // Reads up to `limit` bytes of a stream into a key of the given form.
  std::size_t stream_key(int form, std::uint8_t* dst, std::size_t dstlen, UTIStream& in,
                         std::size_t limit) const;
  std::size_t map_character(const std::uint8_t* map, char* dst, std::size_t dstlen,
                            const char* src, std::size_t srclen) const;

  std::uint8_t upper_[256];
  std::uint8_t lower_[256];
  std::uint8_t weights_[256];  // case-insensitive when the case code is 'n'
  std::uint32_t preserves_;    // case mapping never changes a weight
};

#endif  // VQ_UTILS_LOCALE_LEGACY_COLLATION_H
