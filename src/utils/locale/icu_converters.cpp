// Converters through the Unicode library, and the registry's maps generated through it.
#include <cstring>

#include "utils/locale/converters_internal.h"
#include "utils/locale/uticu.h"
#include "utils/locale/utlocale.h"

namespace {

constexpr std::uint8_t kUtf16LEId = 55;

bool is_utf16le(const CharsetInfo* cs) { return cs != nullptr && cs->charset_id == kUtf16LEId; }

const char* icu_label(const CharsetInfo* cs) { return CharsetInfo::safe_label(cs, kSchemeICU); }

// The error callback's decision, the same in both directions. True: hand the case on to
// the previous callback (substitution); false: leave ICU's error in place, which stops
// the conversion.
bool pass_on(std::uint32_t& status, std::uint32_t options, int32_t reason,
             const vqicu_status* error) {
  switch (reason) {
    case VQICU_CNV_UNASSIGNED:
      status |= kConvUnmappedChar;
      if (options & kConvUnmappedChar) return false;
      status |= kConvIllegalSequence;
      return (options & kConvIllegalSequence) == 0;
    case VQICU_CNV_ILLEGAL:
    case VQICU_CNV_IRREGULAR:
      // Input cut short at the end of final input is reported as incomplete.
      if (error != nullptr && *error == VQICU_TRUNCATED_CHAR_FOUND) {
        status |= kConvIncompleteInput;
        return (options & kConvIncompleteInput) == 0;
      }
      status |= kConvIllegalSequence;
      return (options & kConvIllegalSequence) == 0;
    default:
      return true;
  }
}

// Opens a converter with fallback mappings on; null on any failure.
vqicu_converter* open_converter(UTICU* icu, const CharsetInfo* cs, bool exact) {
  if (icu == nullptr || cs == nullptr) return nullptr;
  vqicu_status status = VQICU_ZERO_ERROR;
  vqicu_converter* handle = icu->ucnv_open(icu_label(cs), &status);
  if (handle == nullptr) return nullptr;
  if (status > VQICU_ZERO_ERROR || (exact && status != VQICU_ZERO_ERROR)) {
    icu->ucnv_close(handle);
    return nullptr;
  }
  icu->ucnv_setFallback(handle, 1);
  return handle;
}

}  // namespace

int icu_result(vqicu_status status) {
  if (status <= VQICU_ZERO_ERROR) return kConvDone;
  switch (status) {
    case VQICU_BUFFER_OVERFLOW_ERROR:
      return kConvDestFull;
    case VQICU_ILLEGAL_CHAR_FOUND:
      return kConvIllegal;
    case VQICU_INVALID_CHAR_FOUND:
      return kConvUnmapped;
    case VQICU_TRUNCATED_CHAR_FOUND:
      return kConvIncomplete;
    default:
      return kConvFailed;
  }
}

// ---- To UTF-16 ---------------------------------------------------------------------------

ToUTF16ICUCharsetConverter::ToUTF16ICUCharsetConverter(UTLocale* locale, const CharsetInfo* to,
                                                       const CharsetInfo* from)
    : ToUTF16CharsetConverterBase(locale, to, from) {
  if (locale == nullptr || !is_utf16le(to) || from == nullptr || is_utf16le(from)) return;
  icu_ = locale->icu();
  if (icu_ == nullptr) return;
  // Only an open without any warning makes a valid converter.
  handle_ = open_converter(icu_, from, true);
  if (handle_ == nullptr) return;
  vqicu_status status = VQICU_ZERO_ERROR;
  icu_->ucnv_setToUCallBack(handle_, &on_error, this, &previous_, &previous_context_, &status);
  valid_ = 1;
}

ToUTF16ICUCharsetConverter::~ToUTF16ICUCharsetConverter() {
  if (handle_ != nullptr) icu_->ucnv_close(handle_);
}

void ToUTF16ICUCharsetConverter::on_error(const void* context, vqicu_to_u_args* args,
                                          const char* units, int32_t length, int32_t reason,
                                          vqicu_status* status) {
  auto* self = static_cast<ToUTF16ICUCharsetConverter*>(const_cast<void*>(context));
  if (!pass_on(self->status_, self->options_, reason, status)) return;
  if (self->previous_ != nullptr) {
    self->previous_(self->previous_context_, args, units, length, reason, status);
  }
}

void ToUTF16ICUCharsetConverter::Reset() {
  ToUTF16CharsetConverterBase::Reset();
  if (handle_ != nullptr) icu_->ucnv_resetToUnicode(handle_);
}

void ToUTF16ICUCharsetConverter::close() {
  if (handle_ != nullptr) icu_->ucnv_close(handle_);
  handle_ = nullptr;
  valid_ = 0;
}

int ToUTF16ICUCharsetConverter::to_utf16_aligned(unsigned char** dst,
                                                 const unsigned char* dst_end,
                                                 const unsigned char** src,
                                                 const unsigned char* src_end,
                                                 unsigned int final) {
  if (handle_ == nullptr) return kConvFailed;
  // Whole units only.
  const unsigned char* limit = *dst + ((dst_end - *dst) & ~static_cast<std::ptrdiff_t>(1));
  auto* target = reinterpret_cast<vqicu_uchar*>(*dst);
  auto* source = reinterpret_cast<const char*>(*src);
  vqicu_status status = VQICU_ZERO_ERROR;
  icu_->ucnv_toUnicode(handle_, &target, reinterpret_cast<const vqicu_uchar*>(limit), &source,
                       reinterpret_cast<const char*>(src_end), nullptr, final ? 1 : 0, &status);
  *dst = reinterpret_cast<unsigned char*>(target);
  *src = reinterpret_cast<const unsigned char*>(source);
  return icu_result(status);
}

// ---- From UTF-16 -----------------------------------------------------------------------

FromUTF16ICUCharsetConverter::FromUTF16ICUCharsetConverter(UTLocale* locale,
                                                           const CharsetInfo* to,
                                                           const CharsetInfo* from)
    : FromUTF16CharsetConverterBase(locale, to, from) {
  if (locale == nullptr || !is_utf16le(from) || to == nullptr || is_utf16le(to)) return;
  icu_ = locale->icu();
  if (icu_ == nullptr) return;
  handle_ = open_converter(icu_, to, true);
  if (handle_ == nullptr) return;
  vqicu_status status = VQICU_ZERO_ERROR;
  icu_->ucnv_setFromUCallBack(handle_, &on_error, this, &previous_, &previous_context_,
                              &status);
  valid_ = 1;
}

FromUTF16ICUCharsetConverter::~FromUTF16ICUCharsetConverter() {
  if (handle_ != nullptr) icu_->ucnv_close(handle_);
}

void FromUTF16ICUCharsetConverter::on_error(const void* context, vqicu_from_u_args* args,
                                            const vqicu_uchar* units, int32_t length,
                                            vqicu_uchar32 code_point, int32_t reason,
                                            vqicu_status* status) {
  auto* self = static_cast<FromUTF16ICUCharsetConverter*>(const_cast<void*>(context));
  if (!pass_on(self->status_, self->options_, reason, status)) return;
  if (self->previous_ != nullptr) {
    self->previous_(self->previous_context_, args, units, length, code_point, reason, status);
  }
}

void FromUTF16ICUCharsetConverter::Reset() {
  FromUTF16CharsetConverterBase::Reset();
  if (handle_ != nullptr) icu_->ucnv_resetFromUnicode(handle_);
}

void FromUTF16ICUCharsetConverter::close() {
  if (handle_ != nullptr) icu_->ucnv_close(handle_);
  handle_ = nullptr;
  valid_ = 0;
}

int FromUTF16ICUCharsetConverter::from_utf16_aligned(unsigned char** dst,
                                                     const unsigned char* dst_end,
                                                     const unsigned char** src,
                                                     const unsigned char* src_end,
                                                     unsigned int final) {
  if (handle_ == nullptr) return kConvFailed;
  const unsigned char* limit = *src + ((src_end - *src) & ~static_cast<std::ptrdiff_t>(1));
  auto* target = reinterpret_cast<char*>(*dst);
  auto* source = reinterpret_cast<const vqicu_uchar*>(*src);
  vqicu_status status = VQICU_ZERO_ERROR;
  // A trailing odd byte stays unconsumed; the driver holds it.
  icu_->ucnv_fromUnicode(handle_, &target, reinterpret_cast<const char*>(dst_end), &source,
                         reinterpret_cast<const vqicu_uchar*>(limit), nullptr,
                         (final && limit == src_end) ? 1 : 0, &status);
  *dst = reinterpret_cast<unsigned char*>(target);
  *src = reinterpret_cast<const unsigned char*>(source);
  return icu_result(status);
}

// ---- Maps generated for the registry --------------------------------------------------

bool UTLocale::icu_generate_unicode_map_upper128(std::uint16_t* out,
                                                 const CharsetInfo* charset) {
  if (out == nullptr || charset == nullptr) return false;
  vqicu_converter* handle = open_converter(icu_, charset, false);
  if (handle == nullptr) return false;
  char bytes[128];
  for (int i = 0; i < 128; ++i) bytes[i] = static_cast<char>(0x80 + i);
  vqicu_uchar units[128];
  vqicu_uchar* target = units;
  const char* source = bytes;
  vqicu_status status = VQICU_ZERO_ERROR;
  icu_->ucnv_toUnicode(handle, &target, units + 128, &source, bytes + 128, nullptr, 1, &status);
  icu_->ucnv_close(handle);
  if (status > VQICU_ZERO_ERROR || source != bytes + 128 || target != units + 128) return false;
  std::memcpy(out, units, sizeof units);
  return true;
}

bool UTLocale::icu_generate_upper128(unsigned char* out128, const CharsetInfo* to,
                                     const CharsetInfo* from) {
  if (out128 == nullptr || to == nullptr || from == nullptr || to->icu_label == nullptr ||
      to->icu_label->label == nullptr || from->icu_label == nullptr ||
      from->icu_label->label == nullptr) {
    return false;
  }
  vqicu_converter* in = open_converter(icu_, from, false);
  if (in == nullptr) return false;
  vqicu_converter* out = open_converter(icu_, to, false);
  if (out == nullptr) {
    icu_->ucnv_close(in);
    return false;
  }
  char bytes[128];
  for (int i = 0; i < 128; ++i) bytes[i] = static_cast<char>(0x80 + i);
  vqicu_uchar units[128];
  vqicu_uchar* unit_end = units;
  const char* source = bytes;
  vqicu_status status = VQICU_ZERO_ERROR;
  icu_->ucnv_toUnicode(in, &unit_end, units + 128, &source, bytes + 128, nullptr, 1, &status);
  bool ok = status <= VQICU_ZERO_ERROR && source == bytes + 128 && unit_end == units + 128;
  if (ok) {
    char result[128];
    char* target = result;
    const vqicu_uchar* unit = units;
    status = VQICU_ZERO_ERROR;
    icu_->ucnv_fromUnicode(out, &target, result + 128, &unit, units + 128, nullptr, 1, &status);
    ok = status <= VQICU_ZERO_ERROR && unit == units + 128 && target == result + 128;
    if (ok) std::memcpy(out128, result, 128);
  }
  icu_->ucnv_close(in);
  icu_->ucnv_close(out);
  return ok;
}
