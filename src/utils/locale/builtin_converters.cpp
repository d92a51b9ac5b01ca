// The converters that need no library: UTF-8 <-> UTF-16LE, the UTF-16 byte swap, single
// byte sets to UTF-16LE through the registry's map, the last-resort converters, and the
// UTF-8 helpers.
//
// UTF-8 input is checked strictly: stray trail bytes, overlong forms, encoded
// surrogates, bad trail bytes and values beyond U+10FFFF are illegal sequences (status
// bit 1, substituted by one U+FFFD per maximal ill-formed part, or result 2 under option
// bit 1). A sequence cut by the end of the input is incomplete, never illegal, so the
// result does not depend on where the input is split.
#include <cstring>

#include "utils/locale/charset_converter.h"
#include "utils/locale/converters_internal.h"
#include "utils/locale/utlocale.h"

namespace {

constexpr std::uint8_t kUtf8Id = 54;
constexpr std::uint8_t kUtf16LEId = 55;
constexpr std::uint8_t kUtf16BEId = 56;

bool has_id(const CharsetInfo* cs, std::uint8_t id) {
  return cs != nullptr && cs->charset_id == id;
}

std::uint16_t load_unit(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
void store_unit(unsigned char* p, std::uint32_t u) {
  p[0] = static_cast<unsigned char>(u & 0xFF);
  p[1] = static_cast<unsigned char>((u >> 8) & 0xFF);
}

enum class SeqKind { kOk, kIncomplete, kIllegal };
struct Seq {
  SeqKind kind;
  unsigned int length;  // bytes used (kOk) or to skip (kIllegal)
  std::uint32_t cp;
};

// The UTF-8 sequence at p with n > 0 bytes available.
Seq scan_utf8(const unsigned char* p, std::size_t n) {
  const unsigned char b = p[0];
  if (b < 0x80) return {SeqKind::kOk, 1, b};
  unsigned int need;
  std::uint32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the first trail byte
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1;
    cp = b & 0x1Fu;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2;
    cp = b & 0x0Fu;
    if (b == 0xE0) lo = 0xA0;  // overlong below U+0800
    if (b == 0xED) hi = 0x9F;  // surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3;
    cp = b & 0x07u;
    if (b == 0xF0) lo = 0x90;  // overlong below U+10000
    if (b == 0xF4) hi = 0x8F;  // beyond U+10FFFF
  } else {
    // Trail bytes without a lead, C0/C1 (always overlong) and F5..FF.
    return {SeqKind::kIllegal, 1, 0xFFFD};
  }
  for (unsigned int i = 1; i <= need; ++i) {
    if (i >= n) return {SeqKind::kIncomplete, 0, 0};
    const unsigned char c = p[i];
    if (c < lo || c > hi) return {SeqKind::kIllegal, i, 0xFFFD};
    cp = (cp << 6) | (c & 0x3Fu);
    lo = 0x80;
    hi = 0xBF;
  }
  return {SeqKind::kOk, need + 1, cp};
}

bool is_high_surrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The little-endian UTF-16 character at p with n >= 2 bytes available: a lone surrogate
// is illegal (two bytes to skip); a high one whose follower has not come yet is incomplete.
Seq scan_utf16(const unsigned char* p, std::size_t n) {
  const std::uint32_t u = load_unit(p);
  if (is_low_surrogate(u)) return {SeqKind::kIllegal, 2, 0xFFFD};
  if (!is_high_surrogate(u)) return {SeqKind::kOk, 2, u};
  if (n < 4) return {SeqKind::kIncomplete, 0, 0};
  const std::uint32_t u2 = load_unit(p + 2);
  if (!is_low_surrogate(u2)) return {SeqKind::kIllegal, 2, 0xFFFD};
  return {SeqKind::kOk, 4, (u << 10) + u2 - 0x35FDC00};
}

}  // namespace

unsigned int trail_count(const CharsetInfo* charset, unsigned char lead) {
  if (has_id(charset, kUtf8Id)) {
    if (lead >= 0xC2 && lead <= 0xDF) return 1;
    if (lead >= 0xE0 && lead <= 0xEF) return 2;
    if (lead >= 0xF0 && lead <= 0xF4) return 3;
  }
  // No character-class table of the multi-byte sets is built in: every byte counts as
  // a character of its own.
  return 0;
}

// ---- UTF-8 -> UTF-16 ---------------------------------------------------------------------

UTF8ToUTF16CharsetConverter::UTF8ToUTF16CharsetConverter(UTLocale* locale,
                                                         const CharsetInfo* to,
                                                         const CharsetInfo* from)
    : ToUTF16CharsetConverterBase(locale, to, from),
      utf8_(locale != nullptr ? locale->utf8_charset() : nullptr) {
  valid_ = (has_id(from, kUtf8Id) && has_id(to, kUtf16LEId)) ? 1 : 0;
}

int UTF8ToUTF16CharsetConverter::to_utf16_aligned(unsigned char** dst,
                                                  const unsigned char* dst_end,
                                                  const unsigned char** src,
                                                  const unsigned char* src_end, unsigned int) {
  unsigned char* d = *dst;
  const unsigned char* s = *src;
  int result = kConvDone;
  while (s < src_end) {
    if (*s < 0x80) {
      if (dst_end - d < 2) break;
      store_unit(d, *s++);
      d += 2;
      continue;
    }
    Seq q = scan_utf8(s, src_end - s);
    if (q.kind == SeqKind::kIncomplete) break;  // held by the driver
    if (q.kind == SeqKind::kIllegal) {
      status_ |= kConvIllegalSequence;
      if (options_ & kConvIllegalSequence) {
        result = kConvIllegal;
        break;
      }
    }
    const std::size_t bytes = q.cp >= 0x10000 ? 4 : 2;
    if (static_cast<std::size_t>(dst_end - d) < bytes) break;
    if (q.cp >= 0x10000) {
      store_unit(d, (q.cp >> 10) + 0xD7C0);
      store_unit(d + 2, 0xDC00 | (q.cp & 0x3FF));
    } else {
      store_unit(d, q.cp);
    }
    d += bytes;
    s += q.length;
  }
  *dst = d;
  *src = s;
  return result;
}

// ---- UTF-16 -> UTF-8 ---------------------------------------------------------------------

UTF16ToUTF8CharsetConverter::UTF16ToUTF8CharsetConverter(UTLocale* locale,
                                                         const CharsetInfo* to,
                                                         const CharsetInfo* from)
    : FromUTF16CharsetConverterBase(locale, to, from),
      utf8_(locale != nullptr ? locale->utf8_charset() : nullptr) {
  valid_ = (has_id(from, kUtf16LEId) && has_id(to, kUtf8Id)) ? 1 : 0;
}

int UTF16ToUTF8CharsetConverter::from_utf16_aligned(unsigned char** dst,
                                                    const unsigned char* dst_end,
                                                    const unsigned char** src,
                                                    const unsigned char* src_end,
                                                    unsigned int) {
  unsigned char* d = *dst;
  const unsigned char* s = *src;
  int result = kConvDone;
  while (src_end - s >= 2) {
    const std::uint32_t u = load_unit(s);
    if (u < 0x80) {
      if (d >= dst_end) break;
      *d++ = static_cast<unsigned char>(u);
      s += 2;
      continue;
    }
    const Seq seq = scan_utf16(s, static_cast<std::size_t>(src_end - s));
    if (seq.kind == SeqKind::kIncomplete) break;  // its follower has not come yet
    if (seq.kind == SeqKind::kIllegal) {
      status_ |= kConvIllegalSequence;
      if (options_ & kConvIllegalSequence) {
        result = kConvIllegal;
        break;
      }
    }
    const unsigned int n = utf8_length(seq.cp);
    if (static_cast<std::size_t>(dst_end - d) < n) break;
    utf8_encode(d, n, seq.cp);
    d += n;
    s += seq.length;
  }
  *dst = d;
  *src = s;
  return result;
}

// ---- UTF-16 byte swap ------------------------------------------------------------------

UTF16SwapEndianCharsetConverter::UTF16SwapEndianCharsetConverter(UTLocale* locale,
                                                                 const CharsetInfo* to,
                                                                 const CharsetInfo* from)
    : CharsetConverterBase(locale, to, from) {
  valid_ = ((has_id(from, kUtf16LEId) && has_id(to, kUtf16BEId)) ||
            (has_id(from, kUtf16BEId) && has_id(to, kUtf16LEId)))
               ? 1
               : 0;
}

void UTF16SwapEndianCharsetConverter::Reset() {
  CharsetConverterBase::Reset();
  held_ = 0;
  pending_count_ = 0;
}

int UTF16SwapEndianCharsetConverter::ContinueConvert(PivotBuffer&, void** dstp,
                                                     const void* dst_end_v, const void** srcp,
                                                     const void* src_end_v,
                                                     unsigned int flush) {
  auto* d = static_cast<unsigned char*>(*dstp);
  auto* const de = static_cast<unsigned char*>(const_cast<void*>(dst_end_v));
  auto* s = static_cast<const unsigned char*>(*srcp);
  auto* const se = static_cast<const unsigned char*>(src_end_v);
  auto emit = [&](const unsigned char* bytes, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i) {
      if (d < de) {
        *d++ = bytes[i];
      } else {
        pending_[pending_count_++] = bytes[i];
      }
    }
  };
  auto done = [&](int r) {
    *dstp = d;
    *srcp = s;
    return r;
  };

  // 1. Pending output.
  std::uint32_t i = 0;
  while (i < pending_count_ && d < de) *d++ = pending_[i++];
  std::memmove(pending_, pending_ + i, pending_count_ - i);
  pending_count_ -= i;
  if (pending_count_ != 0) return done(kConvDestFull);
  // 2. A held odd byte pairs with the next input byte.
  if (held_ && s < se) {
    const unsigned char pair[2] = {*s, held_byte_};
    ++s;
    held_ = 0;
    emit(pair, 2);
    if (pending_count_ != 0) return done(kConvDestFull);
  }
  // 3. Whole pairs.
  while (se - s >= 2 && de - d >= 2) {
    d[0] = s[1];
    d[1] = s[0];
    d += 2;
    s += 2;
  }
  if (se - s >= 2 && de - d == 1) {
    *d++ = s[1];
    pending_[0] = s[0];
    pending_count_ = 1;
    s += 2;
    return done(kConvDestFull);
  }
  if (se - s == 1) {
    held_byte_ = *s++;
    held_ = 1;
  }
  // 4. Final input ending in half a unit.
  if (flush && held_ && s == se) {
    status_ |= kConvIncompleteInput;
    if (options_ & kConvIncompleteInput) return done(kConvIncomplete);
    held_ = 0;
    const std::uint32_t n = (to_ != nullptr && to_->subst_length <= 4) ? to_->subst_length : 0;
    if (n != 0) emit(to_->subst, n);
  }
  // 5. A held byte is not output the caller has to make room for, so it reads as done.
  return done((s < se || pending_count_ != 0) ? kConvDestFull : kConvDone);
}

// ---- Single-byte map -> UTF-16 -----------------------------------------------------------

SBCSToUTF16MapCharsetConverter::SBCSToUTF16MapCharsetConverter(UTLocale* locale,
                                                               const CharsetInfo* to,
                                                               const CharsetInfo* from)
    : CharsetConverterBase(locale, to, from) {
  if (locale != nullptr && from != nullptr && from->unit_width == 1 && from->max_bytes == 1 &&
      has_id(to, kUtf16LEId)) {
    map_ = locale->FindOrLoadSBCSToUTF16(from);
  }
  valid_ = map_ != nullptr ? 1 : 0;
}

void SBCSToUTF16MapCharsetConverter::Reset() {
  CharsetConverterBase::Reset();
  held_ = 0;
}

int SBCSToUTF16MapCharsetConverter::ContinueConvert(PivotBuffer&, void** dstp,
                                                    const void* dst_end_v, const void** srcp,
                                                    const void* src_end_v, unsigned int) {
  auto* d = static_cast<unsigned char*>(*dstp);
  auto* const de = static_cast<const unsigned char*>(dst_end_v);
  auto* s = static_cast<const unsigned char*>(*srcp);
  auto* const se = static_cast<const unsigned char*>(src_end_v);
  if (map_ == nullptr) return kConvFailed;
  if (held_ && d < de) {
    *d++ = held_byte_;
    held_ = 0;
  }
  while (!held_ && s < se && d < de) {
    const std::uint16_t u = map_[*s++];
    // Bytes the set leaves undefined read as U+FFFD; the status says so.
    if (u == 0xFFFD) status_ |= kConvUnmappedChar;
    d[0] = static_cast<unsigned char>(u & 0xFF);
    if (de - d >= 2) {
      d[1] = static_cast<unsigned char>(u >> 8);
      d += 2;
    } else {
      ++d;
      held_byte_ = static_cast<unsigned char>(u >> 8);
      held_ = 1;
    }
  }
  *dstp = d;
  *srcp = s;
  return (s < se || held_) ? kConvDestFull : kConvDone;
}

// ---- UTF-16 -> single-byte map -----------------------------------------------------------

UTF16ToSBCSMapCharsetConverter::UTF16ToSBCSMapCharsetConverter(UTLocale* locale,
                                                               const CharsetInfo* to,
                                                               const CharsetInfo* from)
    : FromUTF16CharsetConverterBase(locale, to, from) {
  if (locale != nullptr && to != nullptr && to->unit_width == 1 && to->max_bytes == 1 &&
      has_id(from, kUtf16LEId)) {
    map_ = locale->FindOrLoadSBCSToUTF16(to);
  }
  valid_ = map_ != nullptr ? 1 : 0;
}

int UTF16ToSBCSMapCharsetConverter::from_utf16_aligned(unsigned char** dst,
                                                       const unsigned char* dst_end,
                                                       const unsigned char** src,
                                                       const unsigned char* src_end,
                                                       unsigned int) {
  if (map_ == nullptr) return kConvFailed;
  unsigned char* d = *dst;
  const unsigned char* s = *src;
  int result = kConvDone;
  const unsigned char subst =
      (to_ != nullptr && to_->subst_length == 1) ? to_->subst[0] : static_cast<unsigned char>('?');
  while (src_end - s >= 2 && d < dst_end) {
    const std::uint32_t u = load_unit(s);
    unsigned int used = 2;
    int byte = -1;
    if (u < 0x80 && map_[u] == u) {
      byte = static_cast<int>(u);
    } else if (u != 0xFFFD && !is_high_surrogate(u) && !is_low_surrogate(u)) {
      // The upper half holds at most 128 characters; a scan costs less than keeping an
      // inverse table per converter.
      for (int b = 0; b < 256; ++b) {
        if (map_[b] == u) {
          byte = b;
          break;
        }
      }
    }
    if (byte < 0) {
      const Seq seq = scan_utf16(s, static_cast<std::size_t>(src_end - s));
      if (seq.kind == SeqKind::kIncomplete) break;  // held
      used = seq.length;
      if (seq.kind == SeqKind::kIllegal) {
        status_ |= kConvIllegalSequence;
        if (options_ & kConvIllegalSequence) {
          result = kConvIllegal;
          break;
        }
      } else {
        status_ |= kConvUnmappedChar;
        if (options_ & kConvUnmappedChar) {
          result = kConvUnmapped;
          break;
        }
      }
      byte = subst;
    }
    *d++ = static_cast<unsigned char>(byte);
    s += used;
  }
  *dst = d;
  *src = s;
  return result;
}

// ---- Last resort -----------------------------------------------------------------------

int ToUTF16LastResortCharsetConverter::to_utf16_aligned(unsigned char** dst,
                                                        const unsigned char* dst_end,
                                                        const unsigned char** src,
                                                        const unsigned char* src_end,
                                                        unsigned int) {
  unsigned char* d = *dst;
  const unsigned char* s = *src;
  int result = kConvDone;
  while (s < src_end && dst_end - d >= 2) {
    const unsigned char b = *s;
    if (b < 0x80) {
      store_unit(d, b);
      d += 2;
      ++s;
      continue;
    }
    const std::size_t length = 1 + trail_count(from_, b);
    if (static_cast<std::size_t>(src_end - s) < length) break;  // held
    status_ |= kConvUnmappedChar;
    if (options_ & kConvUnmappedChar) {
      result = kConvUnmapped;
      break;
    }
    store_unit(d, 0xFFFD);
    d += 2;
    s += length;
  }
  *dst = d;
  *src = s;
  return result;
}

int FromUTF16LastResortCharsetConverter::from_utf16_aligned(unsigned char** dst,
                                                            const unsigned char* dst_end,
                                                            const unsigned char** src,
                                                            const unsigned char* src_end,
                                                            unsigned int) {
  unsigned char* d = *dst;
  const unsigned char* s = *src;
  int result = kConvDone;
  const unsigned int subst_length =
      (to_ != nullptr && to_->subst_length >= 1 && to_->subst_length <= 4) ? to_->subst_length
                                                                           : 0;
  static const unsigned char kQuestion = '?';
  const unsigned char* subst = subst_length != 0 ? to_->subst : &kQuestion;
  const unsigned int n = subst_length != 0 ? subst_length : 1;
  while (src_end - s >= 2) {
    const std::uint32_t u = load_unit(s);
    if (u < 0x80) {
      if (d >= dst_end) break;
      *d++ = static_cast<unsigned char>(u);
      s += 2;
      continue;
    }
    if (static_cast<std::size_t>(dst_end - d) < n) break;
    const Seq seq = scan_utf16(s, static_cast<std::size_t>(src_end - s));
    if (seq.kind == SeqKind::kIncomplete) break;  // held
    const unsigned int used = seq.length;
    if (seq.kind == SeqKind::kIllegal) {
      status_ |= kConvIllegalSequence;
      if (options_ & kConvIllegalSequence) {
        result = kConvIllegal;
        break;
      }
    }
    status_ |= kConvUnmappedChar;
    if (options_ & kConvUnmappedChar) {
      result = kConvUnmapped;
      break;
    }
    std::memcpy(d, subst, n);
    d += n;
    s += used;
  }
  *dst = d;
  *src = s;
  return result;
}

// ---- UTF-8 helpers -----------------------------------------------------------------------

unsigned int utf8_length(std::uint32_t cp) {
  if (cp < 0x80) return 1;
  if (cp < 0x800) return 2;
  if (cp < 0x10000) return 3;
  if (cp < 0x110000) return 4;
  return 0;
}

unsigned int utf8_encode(unsigned char* buf, unsigned int size, std::uint32_t cp) {
  const unsigned int n = utf8_length(cp);
  if (n == 0) return 0;
  unsigned char bytes[4];
  if (n == 1) {
    bytes[0] = static_cast<unsigned char>(cp);
  } else {
    static const unsigned char kLead[5] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (unsigned int i = n - 1; i > 0; --i) {
      bytes[i] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      cp >>= 6;
    }
    bytes[0] = static_cast<unsigned char>(kLead[n] | cp);
  }
  for (unsigned int i = 0; i < n && i < size; ++i) buf[i] = bytes[i];
  return n;
}

unsigned int utf8_decode(const CharsetInfo*, const unsigned char* src, unsigned int len,
                         std::uint32_t* cp) {
  if (src == nullptr || len == 0) {
    *cp = 0;
    return 0;
  }
  const Seq q = scan_utf8(src, len);
  if (q.kind == SeqKind::kIncomplete) {
    *cp = 0;
    return len;
  }
  *cp = q.cp;
  return q.length;
}
