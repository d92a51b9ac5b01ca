// The table-driven collation.
#include "utils/locale/legacy_collation.h"

#include <cmath>
#include <cstring>

#include "utils/base/byte_stream.h"
#include "utils/locale/utlocale.h"

namespace {

using u8 = unsigned char;

u8 byte(const char* p) { return static_cast<u8>(*p); }

constexpr std::size_t kNoLimitBytes = static_cast<std::size_t>(-1);
constexpr unsigned kStreamBlock = 256;  // bytes read from a stream at a time

// The end test of one side of a comparison: a limit pointer (null: none) and, for
// NUL-terminated text, a NUL byte.
struct Side {
  const char* p;
  const char* end;  // null: no limit
  bool nul_ends;
  bool at_end() const { return (end != nullptr && p >= end) || (nul_ends && *p == '\0'); }
};

}  // namespace

LegacyCollation::LegacyCollation(UTLocale* locale, const CollationInfo* info,
                                 const a_packed_collation_order* order,
                                 const UTCollationTailoring& tailoring, unsigned /*flags*/)
    : UTCollationImplementationBase(locale, info, info != nullptr ? info->charset : nullptr,
                                    order != nullptr ? order->classes : nullptr, tailoring) {
  if (order != nullptr) {
    std::memcpy(upper_, order->upper, sizeof upper_);
    std::memcpy(lower_, order->lower, sizeof lower_);
    std::memcpy(weights_, case_ == 'n' ? order->case_insensitive : order->case_sensitive,
                sizeof weights_);
  } else {
    // No order: bytes in their own order, no case.
    for (int i = 0; i < 256; ++i) upper_[i] = lower_[i] = weights_[i] = static_cast<u8>(i);
  }
  reset();
}

void LegacyCollation::reset() {
  multibyte_ = charset_ != nullptr && charset_->max_bytes > 1;
  preserves_ = 1;
  for (int c = 0; c < 256; ++c) {
    if (weights_[c] != weights_[lower_[c]] || weights_[c] != weights_[upper_[c]]) {
      preserves_ = 0;
      break;
    }
  }
}

// ---- Classification ---------------------------------------------------------------------

bool LegacyCollation::do_is_alpha(const char* s, std::size_t len) const {
  return len != 0 && (classes_[byte(s)] & kClassAlpha) != 0;
}
bool LegacyCollation::do_is_num(const char* s, std::size_t len) const {
  return len != 0 && (classes_[byte(s)] & kClassDigit) != 0;
}
bool LegacyCollation::do_is_alphanum(const char* s, std::size_t len) const {
  return len != 0 && (classes_[byte(s)] & (kClassAlpha | kClassDigit)) != 0;
}
bool LegacyCollation::do_is_space(const char* s, std::size_t len) const {
  return len != 0 && (classes_[byte(s)] & kClassSpace) != 0;
}

// ---- Comparison ---------------------------------------------------------------------------

namespace {

// One comparison loop for every form: lead bytes by weight, the trail bytes of a's lead
// by raw value; a side at its end is less than one that goes on.
int compare_sides(Side a, Side b, const std::uint8_t* weights, const std::uint8_t* classes,
                  bool multibyte) {
  for (;;) {
    if (a.at_end()) return b.at_end() ? 0 : -1;
    if (b.at_end()) return 1;
    const int d = weights[byte(a.p)] - weights[byte(b.p)];
    if (d != 0) return d;
    const unsigned trails = multibyte ? classes[byte(a.p)] & kClassTrailMask : 0u;
    ++a.p;
    ++b.p;
    for (unsigned i = 0; i < trails; ++i) {
      if (a.at_end()) return b.at_end() ? 0 : -1;
      if (b.at_end()) return 1;
      if (*a.p != *b.p) return byte(a.p) - byte(b.p);
      ++a.p;
      ++b.p;
    }
  }
}

}  // namespace

int LegacyCollation::trancmp(const char* a, const char* b) const {
  return compare_sides({a, nullptr, true}, {b, nullptr, true}, weights_, classes_, multibyte_);
}

int LegacyCollation::trancmp(const char* a, std::size_t alen, const char* b,
                             std::size_t blen) const {
  return compare_sides({a, a + alen, false}, {b, b + blen, false}, weights_, classes_,
                       multibyte_);
}

namespace {

// One byte of a stream read through a limit; false at the end of either.
bool next_byte(UTIStream& in, std::size_t& left, unsigned char& c) {
  if (left == 0) return false;
  if (in.get(&c, 1) != 1) return false;
  if (left != kNoLimitBytes) --left;
  return true;
}

}  // namespace

int LegacyCollation::trancmp(UTIStream& a, UTIStream& b) const {
  return compare_streams(a, kNoLimitBytes, b, kNoLimitBytes);
}

int LegacyCollation::trancmp(UTBufferedIStream& a, std::size_t alen, UTBufferedIStream& b,
                             std::size_t blen) const {
  return compare_streams(a, alen, b, blen);
}

int LegacyCollation::compare_streams(UTIStream& a, std::size_t alen, UTIStream& b,
                                     std::size_t blen) const {
  unsigned pending = 0;  // trail bytes of the current character still to compare
  for (;;) {
    unsigned char ca = 0, cb = 0;
    const bool more_a = next_byte(a, alen, ca);
    const bool more_b = next_byte(b, blen, cb);
    if (!more_a) return more_b ? -1 : 0;
    if (!more_b) return 1;
    if (pending > 0) {
      --pending;
      if (ca != cb) return ca - cb;
      continue;
    }
    const int d = weights_[ca] - weights_[cb];
    if (d != 0) return d;
    pending = trails(static_cast<char>(ca));
  }
}

int LegacyCollation::tranncmp(const char* a, const char* b, std::size_t n) const {
  return compare_sides({a, a + n, true}, {b, b + n, true}, weights_, classes_, multibyte_);
}

int LegacyCollation::compare_character(const char* a, const char* a_end, const char** a_next,
                                       const char* b, const char* b_end,
                                       const char** b_next) const {
  const char* ae = a < a_end ? a + trails(*a) + 1 : a;
  const char* be = b < b_end ? b + trails(*b) + 1 : b;
  if (ae > a_end) ae = a_end;
  if (be > b_end) be = b_end;
  if (a_next != nullptr) *a_next = ae;
  if (b_next != nullptr) *b_next = be;
  if (a >= ae || b >= be) return static_cast<int>((ae - a) - (be - b));
  const int d = weight(*a) - weight(*b);
  if (d != 0) return d;
  const char* pa = a + 1;
  const char* pb = b + 1;
  for (; pa < ae && pb < be; ++pa, ++pb) {
    if (*pa != *pb) return byte(pa) - byte(pb);
  }
  return static_cast<int>((ae - pa) - (be - pb));
}

bool LegacyCollation::is_prefix(const char* p, const char* p_end, const char* s,
                                const char* s_end, const char** match_end) const {
  while (p < p_end) {
    if (s >= s_end) {
      if (match_end != nullptr) *match_end = s;
      return false;
    }
    const char* character = s;
    if (weight(*p) != weight(*s)) {
      if (match_end != nullptr) *match_end = character;
      return false;
    }
    const unsigned n = trails(*p);
    ++p;
    ++s;
    for (unsigned i = 0; i < n && p < p_end; ++i, ++p, ++s) {
      // A character of p cut by the end of s does not match.
      if (s >= s_end || *p != *s) {
        if (match_end != nullptr) *match_end = character;
        return false;
      }
    }
  }
  if (match_end != nullptr) *match_end = s;
  return true;
}

// ---- Case mapping
// ----------------------------------------------------------------------------

std::size_t LegacyCollation::map_character(const std::uint8_t* map, char* dst,
                                           std::size_t dstlen, const char* src,
                                           std::size_t srclen) const {
  if (srclen == 0 || dstlen == 0) return 0;
  const unsigned n = trails(*src);
  if (n == 0) {
    dst[0] = static_cast<char>(map[byte(src)]);
    return 1;
  }
  std::size_t len = n + 1u;
  if (len > srclen) len = srclen;
  if (len > dstlen) len = dstlen;
  std::memcpy(dst, src, len);
  return len;
}

std::size_t LegacyCollation::map_string(const std::uint8_t* map, char* dst, std::size_t dstlen,
                                        const char* src, std::size_t srclen) const {
  const std::size_t n = dstlen < srclen ? dstlen : srclen;
  std::size_t i = 0;
  while (i < n) {
    const unsigned t = trails(src[i]);
    if (t == 0) {
      dst[i] = static_cast<char>(map[byte(src + i)]);
      ++i;
      continue;
    }
    // A multi-byte character is copied unchanged, trail bytes and all.
    for (unsigned k = 0; k <= t && i < n; ++k, ++i) dst[i] = src[i];
  }
  if (dstlen > n) dst[n] = '\0';
  return n;
}

std::size_t LegacyCollation::zap_stream(const std::uint8_t* map, UTOStream& out,
                                        UTIStream& in) const {
  std::size_t written = 0;
  unsigned pending = 0;  // trail bytes that pass unchanged, also across blocks
  unsigned char block[kStreamBlock];
  for (;;) {
    const unsigned got = in.get(block, kStreamBlock);
    for (unsigned i = 0; i < got; ++i) {
      if (pending > 0) {
        --pending;
      } else {
        pending = trails(static_cast<char>(block[i]));
        if (pending == 0) block[i] = map[block[i]];
      }
    }
    const unsigned put = out.put(block, got);
    written += put;
    if (put < got || got < kStreamBlock) return written;
  }
}

std::size_t LegacyCollation::str_tolower(UTOStream& out, UTIStream& in) const {
  return zap_stream(lower_, out, in);
}

std::size_t LegacyCollation::str_toupper(UTOStream& out, UTIStream& in) const {
  return zap_stream(upper_, out, in);
}

std::size_t LegacyCollation::char_tolower(char* dst, std::size_t dstlen, const char* src,
                                          std::size_t srclen) const {
  return map_character(lower_, dst, dstlen, src, srclen);
}
std::size_t LegacyCollation::char_toupper(char* dst, std::size_t dstlen, const char* src,
                                          std::size_t srclen) const {
  return map_character(upper_, dst, dstlen, src, srclen);
}
std::size_t LegacyCollation::str_tolower(char* dst, std::size_t dstlen, const char* src,
                                         std::size_t srclen) const {
  return map_string(lower_, dst, dstlen, src, srclen);
}
std::size_t LegacyCollation::str_toupper(char* dst, std::size_t dstlen, const char* src,
                                         std::size_t srclen) const {
  return map_string(upper_, dst, dstlen, src, srclen);
}

// ---- Hashes
// -------------------------------------------------------------------------------------

double LegacyCollation::hist_hash(const char* s, std::size_t len, unsigned /*extra*/,
                                  unsigned width) const {
  const std::size_t n = len < width ? len : width;
  double h = 0.0;
  for (std::size_t i = 0; i < n; ++i) h = h * 256.0 + weight(s[i]);
  for (std::size_t i = n; i < width; ++i) h *= 256.0;
  return h;
}

std::size_t LegacyCollation::hist_unhash(double value, char* dst, std::size_t dstlen,
                                         unsigned /*extra*/, unsigned width) const {
  // The string and its terminator need width + 1 bytes.
  if (dst == nullptr || dstlen < static_cast<std::size_t>(width) + 1) return 0;
  dst[width] = '\0';
  for (unsigned pos = width; pos-- > 0;) {
    const auto b = static_cast<u8>(static_cast<unsigned long long>(std::fmod(value, 256.0)));
    char c = '\0';
    if (b != 0) {
      c = '?';
      for (int x = 1; x < 256; ++x) {
        if (weights_[x] == b) {
          c = static_cast<char>(x);
          break;
        }
      }
    }
    dst[pos] = c;
    value = std::floor(value / 256.0);
  }
  return width;
}

std::uint32_t LegacyCollation::id_hash(const char* s, std::size_t len) const {
  std::uint32_t h = 5381;
  for (std::size_t i = 0; i < len; ++i) h = h * 33u + static_cast<std::uint32_t>(weight(s[i]));
  return h;
}

// ---- Sort keys
// ----------------------------------------------------------------------------------

namespace {

// Builds a key byte by byte from text fed in pieces; trail bytes may arrive in the
// next piece.
class KeyEncoder {
 public:
  KeyEncoder(int form, const std::uint8_t* weights, const std::uint8_t* classes, bool multibyte,
             std::uint8_t* dst, std::size_t dstlen)
      : form_(form),
        weights_(weights),
        classes_(classes),
        multibyte_(multibyte),
        dst_(dst),
        dstlen_(dstlen) {}

  bool full() const { return n_ >= dstlen_; }
  void feed(const unsigned char* p, std::size_t len) {
    for (std::size_t i = 0; i < len && !full(); ++i) {
      const unsigned char b = p[i];
      if (pending_ > 0) {
        --pending_;
        if (form_ == 1) {
          put_escaped(b);
        } else {
          put(b);
        }
        continue;
      }
      const unsigned w = weights_[b];
      if (form_ == 1) {
        put_escaped(w);
      } else if (w <= 253) {
        put(static_cast<std::uint8_t>(w + 1));
      } else {
        put(255);
        put(static_cast<std::uint8_t>((w + 2) % 256));
      }
      pending_ = multibyte_ ? classes_[b] & kClassTrailMask : 0u;
    }
  }
  std::size_t finish() {
    put(0);
    return n_;
  }

 private:
  void put(std::uint8_t b) {
    if (n_ < dstlen_) dst_[n_++] = b;
  }
  // x + 1 below 254, else 255 and x: key bytes of text stay above the terminator.
  void put_escaped(unsigned x) {
    if (x < 254) {
      put(static_cast<std::uint8_t>(x + 1));
    } else {
      put(255);
      put(static_cast<std::uint8_t>(x));
    }
  }

  int form_;
  const std::uint8_t* weights_;
  const std::uint8_t* classes_;
  bool multibyte_;
  std::uint8_t* dst_;
  std::size_t dstlen_;
  std::size_t n_ = 0;
  unsigned pending_ = 0;  // trail bytes still to come
};

}  // namespace

std::size_t LegacyCollation::sortkey_prefix(std::uint8_t* dst, std::size_t dstlen,
                                            const char* src, std::size_t srclen) const {
  KeyEncoder key(1, weights_, classes_, multibyte_, dst, dstlen);
  key.feed(reinterpret_cast<const unsigned char*>(src), srclen);
  return key.finish();
}

std::size_t LegacyCollation::stream_key(int form, std::uint8_t* dst, std::size_t dstlen,
                                        UTIStream& in, std::size_t limit) const {
  KeyEncoder key(form, weights_, classes_, multibyte_, dst, dstlen);
  unsigned char block[kStreamBlock];
  while (limit > 0 && !key.full()) {
    const unsigned want = limit < kStreamBlock ? static_cast<unsigned>(limit) : kStreamBlock;
    const unsigned got = in.get(block, want);
    key.feed(block, got);
    limit -= got;
    if (got < want) break;
  }
  return key.finish();
}

std::size_t LegacyCollation::sortkey_prefix(std::uint8_t* dst, std::size_t dstlen,
                                            UTIStream& in) const {
  return stream_key(1, dst, dstlen, in, kNoLimitBytes);
}

std::size_t LegacyCollation::sortkey_prefix(std::uint8_t* dst, std::size_t dstlen,
                                            UTBufferedIStream& in, std::size_t length) const {
  return stream_key(1, dst, dstlen, in, length);
}

std::size_t LegacyCollation::sortkey_prefix_tarnel(std::uint8_t* dst, std::size_t dstlen,
                                                   UTIStream& in) const {
  return stream_key(2, dst, dstlen, in, kNoLimitBytes);
}

std::size_t LegacyCollation::sortkey_prefix_tarnel(std::uint8_t* dst, std::size_t dstlen,
                                                   UTBufferedIStream& in,
                                                   std::size_t length) const {
  // Like the first form, the key covers the string's own `length` bytes and nothing
  // the stream holds after them.
  return stream_key(2, dst, dstlen, in, length);
}

std::size_t LegacyCollation::sortkey_bound(a_sortkey_bound_type type, std::uint8_t* dst,
                                           std::size_t dstlen, const std::uint8_t* key,
                                           std::size_t keylen) const {
  std::size_t n = keylen;
  if (n > 0 && key[n - 1] == 0) --n;
  if (type == kSortkeyUpperBound) {
    if (dstlen == 0) return 0;
    if (dstlen == 1) {
      dst[0] = 255;
      return 1;
    }
    const std::size_t copy = n < dstlen - 2 ? n : dstlen - 2;
    if (copy > 0) std::memcpy(dst, key, copy);
    std::size_t len = copy;
    dst[len++] = 255;
    dst[len++] = 255;
    if (len < dstlen) dst[len++] = 0;
    return len;
  }
  if (dstlen == 0) return 0;
  const std::size_t copy = n < dstlen - 1 ? n : dstlen - 1;
  if (copy > 0) std::memcpy(dst, key, copy);
  dst[copy] = 0;
  return copy + 1;
}
