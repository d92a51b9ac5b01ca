// The collation front object and the shared part of its implementations.
#include "utils/locale/collation.h"

#include <cstring>
#include <new>

#include "utils/base/mbcs_character.h"
#include "utils/locale/icu_collation.h"
#include "utils/locale/legacy_collation.h"
#include "utils/locale/utlocale.h"

static_assert(sizeof(LegacyCollation) <= 1152, "UTCollation's storage holds a LegacyCollation");
static_assert(sizeof(ICUCollation) <= 1152, "UTCollation's storage holds an ICUCollation");
static_assert(alignof(LegacyCollation) <= 16 && alignof(ICUCollation) <= 16,
              "UTCollation's storage is aligned for both");

// ---- UTCollationImplementationBase ---------------------------------------------------------

UTCollationImplementationBase::UTCollationImplementationBase(
    UTLocale* locale, const CollationInfo* info, const CharsetInfo* charset,
    const std::uint8_t* classes, const UTCollationTailoring& tailoring)
    : charset_(charset),
      info_(info),
      locale_(locale),
      multibyte_(charset != nullptr && charset->max_bytes > 1),
      case_(tailoring.case_sensitivity),
      accent_(tailoring.accent_sensitivity),
      punctuation_(tailoring.punctuation_sensitivity),
      sort_type_(tailoring.sort_type) {
  if (classes == nullptr && charset != nullptr && charset->packed_order != nullptr) {
    classes = charset->packed_order->classes;
  }
  if (classes != nullptr) {
    std::memcpy(classes_, classes, sizeof classes_);
  } else {
    std::memset(classes_, 0, sizeof classes_);
  }
}

const char* UTCollationImplementationBase::prev_character(const char* start,
                                                          const char* p) const {
  if (p <= start) return p;
  const char* c = start;
  for (;;) {
    const char* next = c + char_length(static_cast<unsigned char>(*c));
    if (next >= p) return c;
    c = next;
  }
}

std::size_t UTCollationImplementationBase::num_characters(const char* s,
                                                          std::size_t len) const {
  std::size_t count = 0;
  const char* end = s + len;
  for (const char* p = s; p < end; p += char_length(static_cast<unsigned char>(*p))) ++count;
  return count;
}

std::size_t UTCollationImplementationBase::copy_character(char* dst, std::size_t dstlen,
                                                          const char* s,
                                                          const char* end) const {
  if (s >= end) return 0;
  std::size_t n = char_length(static_cast<unsigned char>(*s));
  if (n > static_cast<std::size_t>(end - s)) n = static_cast<std::size_t>(end - s);
  if (n > dstlen) n = dstlen;
  std::memcpy(dst, s, n);
  return n;
}

// ---- UTCollation
// --------------------------------------------------------------------------------

UTCollation::UTCollation(UTLocale* locale) : locale_(locale) {
  UTCollationTailoring tailoring;
  if (locale != nullptr) {
    const CollationInfo* info = UTLocale::FindOSCollation();
    const CharsetInfo* charset =
        info->charset != nullptr ? info->charset : locale->os_charset();
    (void)do_set_collation(false, locale, info, charset, nullptr, tailoring, 0);
  } else {
    const CollationInfo* info = UTLocale::GetCollationInfoFromLabel("C");
    const CharsetInfo* charset =
        info->charset != nullptr ? info->charset
                                 : UTLocale::GetCharsetInfoFromLabel("US-ASCII", kSchemeAll);
    (void)do_set_collation(false, locale, info, charset, nullptr, tailoring, 0);
  }
}

UTCollation::~UTCollation() { destroy_current(); }

void UTCollation::destroy_current() {
  if (!has_impl_) return;
  impl()->close();
  impl()->~UTCollationImplementationBase();
  has_impl_ = false;
}

unsigned UTCollation::do_set_collation(bool has_previous, UTLocale* locale,
                                       const CollationInfo* info, const CharsetInfo* charset,
                                       const a_packed_collation_order* packed,
                                       const UTCollationTailoring& tailoring, unsigned flags) {
  if (info == nullptr) return 0;
  if (info->kind != kCollationTableDriven) {
    // The previous implementation goes whatever the new one's status.
    if (has_previous || has_impl_) destroy_current();
    unsigned status = 1;
    new (storage_) ICUCollation(locale, info, charset, tailoring, &status);
    has_impl_ = true;
    return status;
  }
  if (charset != info->charset) return 0;
  if (packed == nullptr) {
    packed = info->custom != 0 ? info->get_packed_collation_for_custom_collation()
                               : (charset != nullptr ? charset->packed_order : nullptr);
  }
  if (has_previous || has_impl_) destroy_current();
  new (storage_) LegacyCollation(locale, info, packed, tailoring, flags);
  has_impl_ = true;
  return 1;
}

unsigned UTCollation::set_builtin(const CollationInfo* info,
                                  const CharsetInfo* fallback_charset,
                                  const UTCollationTailoring& tailoring) {
  const CharsetInfo* charset =
      info != nullptr && info->charset != nullptr ? info->charset : fallback_charset;
  return do_set_collation(true, locale_, info, charset, nullptr, tailoring, 0);
}

unsigned UTCollation::set_c_collation(const UTCollationTailoring& tailoring) {
  return set_builtin(UTLocale::GetCollationInfoFromLabel("C"),
                     UTLocale::GetCharsetInfoFromLabel("US-ASCII", kSchemeAll), tailoring);
}
unsigned UTCollation::set_c_collation(a_case_sensitivity case_code) {
  const UTCollationTailoring tailoring(case_code);
  return set_c_collation(tailoring);
}
unsigned UTCollation::set_c_collation(a_case_sensitivity case_code,
                                      an_accent_sensitivity accent) {
  const UTCollationTailoring tailoring(case_code, accent, 'p');
  return set_c_collation(tailoring);
}

unsigned UTCollation::set_os_collation(const UTCollationTailoring& tailoring) {
  return set_builtin(UTLocale::FindOSCollation(), UTLocale::FindOSCharset(1), tailoring);
}
unsigned UTCollation::set_os_collation(a_case_sensitivity case_code) {
  const UTCollationTailoring tailoring(case_code);
  return set_os_collation(tailoring);
}
unsigned UTCollation::set_os_collation(a_case_sensitivity case_code,
                                       an_accent_sensitivity accent) {
  const UTCollationTailoring tailoring(case_code, accent, 'p');
  return set_os_collation(tailoring);
}

// ---- Case conversion of one multibyte character --------------------------------------

namespace {

enum class CaseTarget { kLower, kUpper };

unsigned ConvertCase(an_mbcs_character& c, CaseTarget target) {
  if (c.impl == nullptr || c.length == 0) return c.length;
  char scratch[8];
  const char* src = reinterpret_cast<const char*>(c.bytes);
  const std::size_t n = target == CaseTarget::kLower
                            ? c.impl->char_tolower(scratch, sizeof scratch, src, c.length)
                            : c.impl->char_toupper(scratch, sizeof scratch, src, c.length);
  // Only the first character of the mapping comes back (a mapping may grow, as the
  // upper case of a sharp s does).
  std::size_t first = n;
  if (c.classes != nullptr && n > 0)
    first = 1 + (c.classes[static_cast<unsigned char>(scratch[0])] & 3u);
  if (first > n) first = n;
  if (first > sizeof c.bytes) first = sizeof c.bytes;
  std::memcpy(c.bytes, scratch, first);
  c.length = static_cast<unsigned char>(first);
  c.flags[0] = c.flags[1] = 0;
  return c.length;
}

}  // namespace

unsigned an_mbcs_character::tolower() { return ConvertCase(*this, CaseTarget::kLower); }
unsigned an_mbcs_character::toupper() { return ConvertCase(*this, CaseTarget::kUpper); }
