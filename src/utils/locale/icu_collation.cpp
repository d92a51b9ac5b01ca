// The ICU collation: tailoring, comparisons with the 1,024-byte prefix and the raw
// tie-break, fragmented strings, sort keys with the raw tail, hashes, classification and
// stream case mapping.
#include "utils/locale/icu_collation.h"

#include <algorithm>
#include <cstring>

#include "utils/base/bounded_strings.h"
#include "utils/base/byte_stream.h"
#include "utils/base/memory.h"
#include "utils/locale/charset_converter.h"
#include "utils/locale/uticu.h"
#include "utils/locale/utlocale.h"

namespace {

constexpr std::size_t kPrefix = ICUCollation::kPrefixBytes;
constexpr std::size_t kProbe = ICUCollation::kProbeBytes;
constexpr vqicu_status kNeedMoreInput = VQICU_INDEX_OUTOFBOUNDS_ERROR;

// Kinds of internal failure, each logged once per collation.
enum : int { kFailStrcollIter = 1, kFailSortKey = 2, kFailCaseMapping = 4 };

std::uint32_t clamp32(std::size_t n) {
  return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(n);
}

int sign_of(long long v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

}  // namespace

// ---- Construction and tailoring
// --------------------------------------------------------------

ICUCollation::ICUCollation(UTLocale* locale, const CollationInfo* info,
                           const CharsetInfo* charset, const UTCollationTailoring& tailoring,
                           unsigned* status)
    : UTCollationImplementationBase(locale, info, charset, nullptr, tailoring),
      icu_(locale != nullptr ? locale->icu() : nullptr),
      collator_(nullptr),
      map_(nullptr),
      from_default_(false) {
  if (status != nullptr) *status = 1;
  if (icu_ != nullptr) {
    vqicu_status s1 = 0;
    vqicu_status s2 = 0;
    collator_ = icu_->VSR_ucol_open(tailoring.GetICULocale(), &s1, &s2);
    from_default_ = s1 == VQICU_USING_FALLBACK_WARNING || s1 == VQICU_USING_DEFAULT_WARNING ||
                    s2 == VQICU_USING_DEFAULT_WARNING;
  }
  const unsigned applied = apply_tailoring();
  if (status != nullptr) *status = applied;
  multibyte_ = charset != nullptr && charset->max_bytes > 1;
  map_ = locale != nullptr ? locale->FindOrLoadSBCSToUTF16(charset) : nullptr;
}

ICUCollation::~ICUCollation() { close(); }

void ICUCollation::close() {
  if (collator_ != nullptr && icu_ != nullptr) icu_->ucol_close(collator_);
  collator_ = nullptr;
}

unsigned ICUCollation::apply_tailoring() {
  unsigned result = 1;
  auto set = [this](std::int32_t attribute, std::int32_t value) {
    if (collator_ == nullptr) return;
    vqicu_status s = 0;
    icu_->ucol_setAttribute(collator_, attribute, value, &s);
  };
  auto strength = [this](std::int32_t value) {
    if (collator_ != nullptr) icu_->ucol_setStrength(collator_, value);
  };
  if (punctuation_ == 'p') {
    set(VQICU_COL_ALTERNATE_HANDLING, VQICU_COL_NON_IGNORABLE);
  } else if (punctuation_ == 'i') {
    set(VQICU_COL_ALTERNATE_HANDLING, VQICU_COL_SHIFTED);
  } else if (punctuation_ == 'q') {
    // Quaternary strength needs case and accents respected.
    if (case_ == 'n') {
      result = 0;
      case_ = 'A';
    }
    if (accent_ == 'n') {
      result = 0;
      accent_ = 'y';
    }
    set(VQICU_COL_ALTERNATE_HANDLING, VQICU_COL_SHIFTED);
  }
  if (accent_ == 'n') {
    strength(VQICU_COL_PRIMARY);
    if (case_ == 'n') return result;
    set(VQICU_COL_CASE_LEVEL, VQICU_COL_ON);
  } else {
    strength(punctuation_ == 'q' ? VQICU_COL_QUATERNARY
             : case_ == 'n'      ? VQICU_COL_SECONDARY
                                 : VQICU_COL_TERTIARY);
    if (accent_ == 'f') set(VQICU_COL_FRENCH_COLLATION, VQICU_COL_ON);
  }
  if (case_ == 'A') {
    set(VQICU_COL_CASE_FIRST, VQICU_COL_UPPER_FIRST);
  } else if (case_ == 'a') {
    set(VQICU_COL_CASE_FIRST, VQICU_COL_LOWER_FIRST);
  }
  return result;
}

void ICUCollation::report_failure(int kind, const char* what) const {
  // An ICU failure must not end the process: the operation goes on as described (raw
  // tie-break, empty key), and the log gets one line per kind so a missing library
  // does not flood it.
  if ((reported_ & static_cast<unsigned>(kind)) != 0) return;
  reported_ |= static_cast<unsigned>(kind);
  char line[128];
  ut_snprintf(line, sizeof line, "utils/etc/icu_collation: %s", what);
  GenerateErrorLog(line, "Vellumcrest");
}

// ---- Prefixes and the raw tie-break
// -------------------------------------------------------------

std::size_t ICUCollation::trimmed_prefix_len(const char* s, std::size_t len) const {
  if (len <= kPrefix) return len;
  if (map_ != nullptr || !multibyte_) return kPrefix;
  const bool utf8 = charset_ != nullptr && charset_->cslib_id == -4;
  if (utf8 && static_cast<unsigned char>(s[kPrefix - 1]) < 0x80) return kPrefix;
  const char* c = prev_character(s, s + kPrefix);
  if (c + char_length(static_cast<unsigned char>(*c)) > s + kPrefix) {
    return static_cast<std::size_t>(c - s);
  }
  return kPrefix;
}

int ICUCollation::binary_compare(const char* a, std::size_t alen, const char* b,
                                 std::size_t blen) {
  const bool a_long = alen > kPrefix;
  const bool b_long = blen > kPrefix;
  if (!a_long && !b_long) return 0;
  if (!a_long) return -1;
  if (!b_long) return 1;
  const int d = std::memcmp(a, b, std::min(alen, blen));
  if (d != 0) return d < 0 ? -1 : 1;
  return sign_of(static_cast<long long>(alen) - static_cast<long long>(blen));
}

std::size_t ICUCollation::binary_encode(std::uint8_t* dst, std::size_t dstlen, const char* src,
                                        std::size_t srclen) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < srclen && n < dstlen; ++i) {
    const auto b = static_cast<std::uint8_t>(src[i]);
    if (b < 253) {
      dst[n++] = static_cast<std::uint8_t>(b + 2);
    } else {
      dst[n++] = 255;
      if (n < dstlen) dst[n++] = b;
    }
  }
  return n;
}

// ---- Comparison
// ---------------------------------------------------------------------------------

int ICUCollation::trancmp(UTBufferedIStream& a, std::size_t alen, UTBufferedIStream& b,
                          std::size_t blen) const {
  if (a.available() == 0 && !a.eof && alen > 0) a.refill();
  if (b.available() == 0 && !b.eof && blen > 0) b.refill();
  if (map_ != nullptr && collator_ != nullptr && a.available() >= alen &&
      b.available() >= blen) {
    const char* pa = reinterpret_cast<const char*>(a.cur);
    const char* pb = reinterpret_cast<const char*>(b.cur);
    const int r =
        icu_->VSR_ucol_strcoll_sbcs(collator_, map_, pa, clamp32(trimmed_prefix_len(pa, alen)),
                                    pb, clamp32(trimmed_prefix_len(pb, blen)));
    if (r != 0) return r;
    return binary_compare(pa, alen, pb, blen);
  }
  ICUFragmentedString fa(this, a, alen);
  ICUFragmentedString fb(this, b, blen);
  return fa.Compare(fb);
}

int ICUCollation::trancmp(const char* a, std::size_t alen, const char* b,
                          std::size_t blen) const {
  UTBufIStream sa(a, static_cast<unsigned>(alen));
  UTBufIStream sb(b, static_cast<unsigned>(blen));
  return trancmp(sa, alen, sb, blen);
}

int ICUCollation::trancmp(const char* a, const char* b) const {
  return trancmp(a, std::strlen(a), b, std::strlen(b));
}

int ICUCollation::tranncmp(const char* a, const char* b, std::size_t n) const {
  return trancmp(a, strnlen(a, n), b, strnlen(b, n));
}

int ICUCollation::trancmp(UTIStream& a, UTIStream& b) const {
  ICUFragmentedString fa(this, a);
  ICUFragmentedString fb(this, b);
  return fa.Compare(fb);
}

int ICUCollation::compare_character(const char* a, const char* a_end, const char** a_next,
                                    const char* b, const char* b_end,
                                    const char** b_next) const {
  const char* ae =
      a < a_end ? std::min(a + char_length(static_cast<unsigned char>(*a)), a_end) : a;
  const char* be =
      b < b_end ? std::min(b + char_length(static_cast<unsigned char>(*b)), b_end) : b;
  if (a_next != nullptr) *a_next = ae;
  if (b_next != nullptr) *b_next = be;
  return trancmp(a, static_cast<std::size_t>(ae - a), b, static_cast<std::size_t>(be - b));
}

bool ICUCollation::is_prefix(const char* p, const char* p_end, const char* s, const char* s_end,
                             const char** match_end) const {
  while (p < p_end && s < s_end) {
    const char* pn = nullptr;
    const char* sn = nullptr;
    if (compare_character(p, p_end, &pn, s, s_end, &sn) != 0) return false;
    p = pn;
    s = sn;
  }
  if (p < p_end) return false;
  if (match_end != nullptr) *match_end = s;
  return true;
}

// ---- Fragmented strings
// -------------------------------------------------------------------------

ICUFragmentedString::ICUFragmentedString(const ICUCollation* collation, UTBufferedIStream& in,
                                         std::size_t length)
    : data_(nullptr),
      collation_(collation),
      total_(static_cast<long long>(length)),
      method_(kBuffered),
      source_(&in) {
  if (in.available() == 0 && !in.eof && length > 0) in.refill();
  data_ = reinterpret_cast<const char*>(in.cur);
  // Bytes of the stream's window past the string are not the string's.
  in_hand_ = std::min<std::size_t>(in.available(), length);
  if (in_hand_ > kPrefix) {
    in_hand_ = std::min(in_hand_, kProbe);
    prefix_ = collation_->trimmed_prefix_len(data_, in_hand_);
    done_ = true;
  } else {
    prefix_ = in_hand_;
    done_ = in_hand_ == length;
  }
}

ICUFragmentedString::ICUFragmentedString(const ICUCollation* collation, UTIStream& in)
    : data_(buffer_), collation_(collation), total_(-1), method_(kUnbuffered), source_(&in) {
  const unsigned got = in.get(buffer_, 8);
  in_hand_ = prefix_ = read_total_ = got;
  done_ = got < 8;
}

const char* ICUFragmentedString::fill(void* context, std::int32_t need,
                                      std::int32_t* available) {
  auto* f = static_cast<ICUFragmentedString*>(context);
  const std::size_t wanted = need < 0 ? 0 : static_cast<std::size_t>(need);
  while (!f->done_ && f->in_hand_ <= wanted) {
    if (f->method_ == kBuffered) {
      // From here on the bytes live in our own buffer and the stream is read directly.
      std::memcpy(f->buffer_, f->data_, f->in_hand_);
      static_cast<UTBufferedIStream*>(f->source_)->skip(static_cast<unsigned>(f->in_hand_));
      f->read_total_ = f->in_hand_;
      f->data_ = f->buffer_;
      f->method_ = kUnbuffered;
    }
    std::size_t want = std::max<std::size_t>(wanted - f->in_hand_ + 1, 32);
    want = std::min(want, kProbe - f->in_hand_);
    if (f->total_ >= 0) {
      want = std::min<std::size_t>(want, static_cast<std::size_t>(f->total_) - f->read_total_);
    }
    const unsigned got =
        want > 0 ? f->source_->get(f->buffer_ + f->in_hand_, static_cast<unsigned>(want)) : 0;
    f->in_hand_ += got;
    f->read_total_ += got;
    if (f->in_hand_ > kPrefix) {
      f->prefix_ = f->collation_->trimmed_prefix_len(f->data_, f->in_hand_);
      f->done_ = true;
    } else {
      f->prefix_ = f->in_hand_;
      if (got == 0 || got < want) f->done_ = true;
    }
  }
  if (available != nullptr) *available = static_cast<std::int32_t>(f->prefix_);
  return f->data_;
}

void ICUFragmentedString::set_iterator(vqicu_char_iterator* iter) {
  UTICU* icu = collation_->icu_;
  // The iterator gathers the text when it is set: up to a known whole length, else
  // until fill stops growing (which is at the usable prefix once 1,025 bytes are in).
  const std::int32_t total = in_hand_ >= kProbe ? static_cast<std::int32_t>(prefix_)
                             : (total_ >= 0 && total_ <= static_cast<long long>(kPrefix))
                                 ? static_cast<std::int32_t>(total_)
                                 : -1;
  if (collation_->map_ != nullptr) {
    icu->VSR_uiter_setFragmentedSBCS(iter, data_, static_cast<std::int32_t>(prefix_), total,
                                     fill, this, collation_->map_);
  } else {
    icu->VSR_uiter_setFragmentedUTF8Simple(iter, data_, static_cast<std::int32_t>(prefix_),
                                           total, fill, this);
  }
}

int ICUFragmentedString::Compare(ICUFragmentedString& other) {
  UTICU* icu = collation_->icu_;
  if (icu == nullptr) return binary_compare(other);
  vqicu_char_iterator a{};
  vqicu_char_iterator b{};
  set_iterator(&a);
  other.set_iterator(&b);
  vqicu_status status = 0;
  const int r = icu->ucol_strcollIter(collation_->collator_, &a, &b, &status);
  if (status > 0) {
    collation_->report_failure(kFailStrcollIter, "strcollIter failed");
    return binary_compare(other);
  }
  if (r != 0) return r;
  return binary_compare(other);
}

unsigned ICUFragmentedString::read_more(unsigned char* dst, unsigned n) {
  if (method_ == kBuffered) {
    static_cast<UTBufferedIStream*>(source_)->skip(static_cast<unsigned>(in_hand_));
    read_total_ = in_hand_;
    method_ = kUnbuffered;
  }
  if (total_ >= 0) {
    n = static_cast<unsigned>(
        std::min<std::size_t>(n, static_cast<std::size_t>(total_) - read_total_));
  }
  const unsigned got = n > 0 ? source_->get(dst, n) : 0;
  read_total_ += got;
  return got;
}

int ICUFragmentedString::binary_compare(ICUFragmentedString& other) {
  // Learn whether each string is longer than the prefix.
  for (ICUFragmentedString* f : {this, &other}) {
    while (!f->done_ && f->in_hand_ <= kPrefix)
      fill(f, static_cast<std::int32_t>(f->in_hand_), nullptr);
  }
  const bool a_long = in_hand_ > kPrefix;
  const bool b_long = other.in_hand_ > kPrefix;
  if (!a_long && !b_long) return 0;
  if (!a_long) return -1;
  if (!b_long) return 1;
  int d = std::memcmp(data_, other.data_, std::min(in_hand_, other.in_hand_));
  if (d != 0) return d < 0 ? -1 : 1;
  if (in_hand_ != other.in_hand_) return in_hand_ < other.in_hand_ ? -1 : 1;
  unsigned char x[kPrefix];
  unsigned char y[kPrefix];
  for (;;) {
    const unsigned nx = read_more(x, kPrefix);
    const unsigned ny = other.read_more(y, kPrefix);
    d = std::memcmp(x, y, std::min(nx, ny));
    if (d != 0) return d < 0 ? -1 : 1;
    if (nx != ny) return nx < ny ? -1 : 1;
    if (nx == 0) return 0;
  }
}

// ---- Sort keys
// ----------------------------------------------------------------------------------

std::size_t ICUCollation::do_sortkey_prefix(std::uint8_t* dst, std::size_t dstlen,
                                            const char* src, std::size_t srclen, bool complete,
                                            bool* truncated) const {
  *truncated = false;
  const std::size_t n = trimmed_prefix_len(src, srclen);
  vqicu_status status = 0;
  std::int32_t key = 0;
  if (icu_ != nullptr) {
    key = map_ != nullptr ? icu_->VSR_ucol_getSortKeyPrefixSBCS(
                                collator_, src, static_cast<std::int32_t>(n), dst,
                                clamp32(dstlen), map_, complete ? 1 : 0, &status)
                          : icu_->VSR_ucol_getSortKeyPrefixUTF8(
                                collator_, src, static_cast<std::int32_t>(n), dst,
                                clamp32(dstlen), complete ? 1 : 0, &status);
  } else {
    status = VQICU_MISSING_RESOURCE_ERROR;
  }
  std::size_t len = key > 0 ? std::min<std::size_t>(static_cast<std::size_t>(key), dstlen) : 0;
  if (status == kNeedMoreInput) {
    *truncated = true;
    if (!complete) return len;
  }
  if (status > 0) report_failure(kFailSortKey, "GetSortKeyPrefix failed");
  if (srclen > kPrefix && len < dstlen) {
    dst[len++] = 1;
    len += binary_encode(dst + len, dstlen - len, src, srclen);
  }
  return len;
}

std::size_t ICUCollation::sortkey_prefix(std::uint8_t* dst, std::size_t dstlen, const char* src,
                                         std::size_t srclen) const {
  bool truncated = false;
  std::size_t n = do_sortkey_prefix(dst, dstlen, src, srclen, true, &truncated);
  if (n < dstlen) dst[n++] = 0;
  return n;
}

std::size_t ICUCollation::stream_sortkey(std::uint8_t* dst, std::size_t dstlen, UTIStream& in,
                                         std::size_t limit) const {
  char block[kProbe];
  const unsigned first = static_cast<unsigned>(std::min(limit, kProbe));
  const unsigned got = in.get(block, first);
  bool truncated = false;
  std::size_t n = do_sortkey_prefix(dst, dstlen, block, got, true, &truncated);
  if (got == kProbe) {
    limit -= got;
    // The raw tail of the rest of the string, block by block.
    while (n < dstlen && limit > 0) {
      const unsigned more = in.get(block, static_cast<unsigned>(std::min(limit, kProbe)));
      if (more == 0) break;
      limit -= more;
      n += binary_encode(dst + n, dstlen - n, block, more);
    }
  }
  if (n < dstlen) dst[n++] = 0;
  return n;
}

std::size_t ICUCollation::sortkey_prefix(std::uint8_t* dst, std::size_t dstlen,
                                         UTIStream& in) const {
  return stream_sortkey(dst, dstlen, in, static_cast<std::size_t>(-1));
}

std::size_t ICUCollation::sortkey_prefix(std::uint8_t* dst, std::size_t dstlen,
                                         UTBufferedIStream& in, std::size_t length) const {
  if (in.available() == 0 && !in.eof && length > 0) in.refill();
  if (in.available() >= length) {
    // The whole string is in the window.
    const std::size_t n =
        sortkey_prefix(dst, dstlen, reinterpret_cast<const char*>(in.cur), length);
    in.cur += length;
    return n;
  }
  return stream_sortkey(dst, dstlen, in, length);
}

std::size_t ICUCollation::sortkey_prefix_tarnel(std::uint8_t* dst, std::size_t dstlen,
                                                UTIStream& in) const {
  return sortkey_prefix(dst, dstlen, in);
}

std::size_t ICUCollation::sortkey_prefix_tarnel(std::uint8_t* dst, std::size_t dstlen,
                                                UTBufferedIStream& in,
                                                std::size_t length) const {
  return sortkey_prefix(dst, dstlen, in, length);
}

std::size_t ICUCollation::sortkey_bound(a_sortkey_bound_type type, std::uint8_t* dst,
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
    // Only the primary part (up to the first level separator) bounds the range.
    std::size_t m = 0;
    const std::size_t look = std::min(n, dstlen);
    while (m < look && key[m] != 1) ++m;
    const std::size_t copy = std::min(m, dstlen - 2);
    if (copy > 0) std::memcpy(dst, key, copy);
    std::size_t len = copy;
    dst[len++] = 255;
    dst[len++] = 255;
    if (len < dstlen) dst[len++] = 0;
    return len;
  }
  if (dstlen == 0) return 0;
  const std::size_t copy = std::min(n, dstlen - 1);
  if (copy > 0) std::memcpy(dst, key, copy);
  dst[copy] = 0;
  return copy + 1;
}

// ---- Hashes
// -------------------------------------------------------------------------------------

double ICUCollation::hist_hash(const char* s, std::size_t len, unsigned /*extra*/,
                               unsigned width) const {
  if (len == 0) return 0.0;
  std::uint8_t key[8];
  const std::size_t k = sortkey_prefix(key, sizeof key, s, len);
  const std::size_t n = std::min<std::size_t>(k, width);
  double h = 0.0;
  for (std::size_t i = 0; i < n; ++i) h = h * 256.0 + key[i];
  for (std::size_t i = n; i < width; ++i) h *= 256.0;
  return h;
}

std::size_t ICUCollation::hist_unhash(double /*value*/, char* dst, std::size_t dstlen,
                                      unsigned /*extra*/, unsigned /*width*/) const {
  if (dst != nullptr && dstlen > 0) dst[0] = '\0';
  return 0;
}

std::uint32_t ICUCollation::id_hash(const char* s, std::size_t len) const {
  // The buffer starts zeroed: the mixing below reads one byte past a key of odd length.
  std::uint8_t key[128] = {};
  const std::size_t k = sortkey_prefix(key, sizeof key, s, len);
  if (k == 0) return 0;
  auto h = static_cast<std::uint32_t>(k);
  const std::size_t m = std::min<std::size_t>((k + 1) / 2, 8);
  for (std::size_t i = 1, j = m; i <= m; ++i, --j) {
    h = (h * 31u) ^ key[i - 1];
    h = (h * 31u) ^ key[j];
  }
  return h;
}

// ---- Classification
// ------------------------------------------------------------------------------

bool ICUCollation::first_code_point(const char* s, std::size_t len, std::uint32_t* cp) const {
  if (len == 0) return false;
  const auto lead = static_cast<unsigned char>(s[0]);
  if (lead < 0x80) {
    *cp = lead;
    return true;
  }
  if (map_ != nullptr) {
    *cp = map_[lead];
    return true;
  }
  std::size_t n = 0;
  std::uint32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF7) {
    n = 4;
    value = lead & 0x07;
  } else {
    return false;
  }
  if (len < n) return false;
  for (std::size_t i = 1; i < n; ++i)
    value = (value << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
  *cp = value;
  return true;
}

bool ICUCollation::do_is_alpha(const char* s, std::size_t len) const {
  std::uint32_t cp = 0;
  return icu_ != nullptr && first_code_point(s, len, &cp) &&
         icu_->u_isUAlphabetic(static_cast<vqicu_uchar32>(cp)) != 0;
}

bool ICUCollation::do_is_space(const char* s, std::size_t len) const {
  std::uint32_t cp = 0;
  return icu_ != nullptr && first_code_point(s, len, &cp) &&
         icu_->u_isUWhiteSpace(static_cast<vqicu_uchar32>(cp)) != 0;
}

bool ICUCollation::do_is_num(const char* s, std::size_t len) const {
  std::uint32_t cp = 0;
  return icu_ != nullptr && first_code_point(s, len, &cp) &&
         icu_->u_getIntPropertyValue(static_cast<vqicu_uchar32>(cp), VQICU_NUMERIC_TYPE) ==
             VQICU_NT_DECIMAL;
}

bool ICUCollation::do_is_alphanum(const char* s, std::size_t len) const {
  return do_is_alpha(s, len) || do_is_num(s, len);
}

// ---- Case mapping
// -------------------------------------------------------------------------------

namespace {

// The input side: bytes of the collation's character set read from a stream and handed
// to ICU as UTF-16LE.
struct CaseInput {
  CaseInput(UTLocale* locale, const CharsetInfo* from, UTIStream& stream)
      : conv(locale, locale->utf16le_charset(), from), in(&stream) {}
  CharsetConverter conv;
  PivotBuffer pivot;
  UTIStream* in;
  unsigned char src[256];
  const unsigned char* sp = src;
  const unsigned char* se = src;
  bool eof = false;
  bool flushed = false;

  static std::int32_t read(void* context, char* buffer, std::int32_t size) {
    auto* c = static_cast<CaseInput*>(context);
    char* out = buffer;
    char* const end = buffer + (size > 0 ? size : 0);
    while (out < end && !c->flushed) {
      if (c->sp == c->se && !c->eof) {
        const unsigned n = c->in->get(c->src, sizeof c->src);
        c->sp = c->src;
        c->se = c->src + n;
        if (n < sizeof c->src) c->eof = true;
      }
      void* d = out;
      const void* s = c->sp;
      const int r = c->conv.ContinueConvert(c->pivot, &d, end, &s, c->se, c->eof ? 1 : 0);
      const bool moved = d != out || s != c->sp;
      out = static_cast<char*>(d);
      c->sp = static_cast<const unsigned char*>(s);
      if (r == kConvDestFull) break;
      if (r != kConvDone) return -1;
      if (c->eof && c->sp == c->se) c->flushed = true;
      if (!moved && c->eof) break;
    }
    return static_cast<std::int32_t>(out - buffer);
  }
};

// The output side: UTF-16LE from ICU converted back and written to a stream.
struct CaseOutput {
  CaseOutput(UTLocale* locale, const CharsetInfo* to, UTOStream& stream)
      : conv(locale, to, locale->utf16le_charset()), out(&stream) {}
  CharsetConverter conv;
  PivotBuffer pivot;
  UTOStream* out;
  std::size_t written = 0;
  bool stopped = false;

  bool convert(const void* bytes, std::size_t size, bool flush) {
    const void* s = bytes;
    const void* const se = static_cast<const char*>(bytes) + size;
    for (;;) {
      unsigned char buf[256];
      void* d = buf;
      const int r = conv.ContinueConvert(pivot, &d, buf + sizeof buf, &s, se, flush ? 1 : 0);
      const auto n = static_cast<unsigned>(static_cast<unsigned char*>(d) - buf);
      const unsigned put = n > 0 ? out->put(buf, n) : 0;
      written += put;
      if (put < n) {
        stopped = true;
        return false;
      }
      if (r == kConvDestFull) continue;
      return r == kConvDone;
    }
  }

  static std::int32_t write(void* context, const char* bytes, std::int32_t size) {
    auto* c = static_cast<CaseOutput*>(context);
    if (size <= 0 || c->stopped) return 0;
    c->convert(bytes, static_cast<std::size_t>(size), false);
    return c->stopped ? 0 : size;
  }
};

}  // namespace

std::size_t ICUCollation::convert_stream_case(bool upper, UTOStream& out, UTIStream& in) const {
  if (locale_ == nullptr || icu_ == nullptr || charset_ == nullptr) {
    report_failure(kFailCaseMapping, "case mapping failed");
    return 0;
  }
  CaseInput input(locale_, charset_, in);
  CaseOutput output(locale_, charset_, out);
  vqicu_status status = 0;
  if (upper) {
    icu_->VSR_strToUpper(CaseOutput::write, &output, CaseInput::read, &input, "", &status);
  } else {
    icu_->VSR_strToLower(CaseOutput::write, &output, CaseInput::read, &input, "", &status);
  }
  if (!output.stopped) output.convert(nullptr, 0, true);
  if (status > 0 && status != VQICU_BUFFER_OVERFLOW_ERROR) {
    report_failure(kFailCaseMapping, "case mapping failed");
  }
  return output.written;
}

std::size_t ICUCollation::str_tolower(UTOStream& out, UTIStream& in) const {
  return convert_stream_case(false, out, in);
}

std::size_t ICUCollation::str_toupper(UTOStream& out, UTIStream& in) const {
  return convert_stream_case(true, out, in);
}

std::size_t ICUCollation::buffer_case(bool upper, char* dst, std::size_t dstlen,
                                      const char* src, std::size_t srclen) const {
  UTBufOStream out(dst, static_cast<unsigned>(dstlen));
  UTBufIStream in(src, static_cast<unsigned>(srclen));
  const std::size_t n = convert_stream_case(upper, out, in);
  if (n < dstlen) dst[n] = '\0';
  return n;
}

std::size_t ICUCollation::str_tolower(char* dst, std::size_t dstlen, const char* src,
                                      std::size_t srclen) const {
  return buffer_case(false, dst, dstlen, src, srclen);
}

std::size_t ICUCollation::str_toupper(char* dst, std::size_t dstlen, const char* src,
                                      std::size_t srclen) const {
  return buffer_case(true, dst, dstlen, src, srclen);
}

std::size_t ICUCollation::one_character_case(bool upper, char* dst, std::size_t dstlen,
                                             const char* src, std::size_t srclen) const {
  if (srclen == 0) return 0;
  const unsigned n = char_length(static_cast<unsigned char>(src[0]));
  if (srclen < n) return 0;
  return buffer_case(upper, dst, dstlen, src, n);
}

std::size_t ICUCollation::char_tolower(char* dst, std::size_t dstlen, const char* src,
                                       std::size_t srclen) const {
  return one_character_case(false, dst, dstlen, src, srclen);
}

std::size_t ICUCollation::char_toupper(char* dst, std::size_t dstlen, const char* src,
                                       std::size_t srclen) const {
  return one_character_case(true, dst, dstlen, src, srclen);
}
