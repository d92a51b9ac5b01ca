// Converter entry points of the Unicode stand-in. They forward to the system's ICU,
// after renaming the few converter names of the client's character-set registry that
// today's ICU data no longer carries.
#include <cstring>

#include "icu_bridge.h"

namespace {

static_assert(int{UCNV_UNASSIGNED} == int{VQICU_CNV_UNASSIGNED} &&
                  int{UCNV_ILLEGAL} == int{VQICU_CNV_ILLEGAL} &&
                  int{UCNV_IRREGULAR} == int{VQICU_CNV_IRREGULAR} &&
                  int{UCNV_CLONE} == int{VQICU_CNV_CLONE},
              "callback reasons");
static_assert(int{U_INVALID_CHAR_FOUND} == int{VQICU_INVALID_CHAR_FOUND} &&
                  int{U_TRUNCATED_CHAR_FOUND} == int{VQICU_TRUNCATED_CHAR_FOUND} &&
                  int{U_ILLEGAL_CHAR_FOUND} == int{VQICU_ILLEGAL_CHAR_FOUND} &&
                  int{U_BUFFER_OVERFLOW_ERROR} == int{VQICU_BUFFER_OVERFLOW_ERROR} &&
                  int{U_MISSING_RESOURCE_ERROR} == int{VQICU_MISSING_RESOURCE_ERROR},
              "converter error codes");

// Registry converter names missing from today's data, and the converter that now
// carries the same character set. EUC-JP goes to the table that also decodes the
// three-byte JIS X 0212 sequences (the successor of the old IBM table does not), the
// others to the successor of the old table, which maps the same characters. The old
// windows-1256 table substituted "?", as the registry records; its successor uses 0x1A.
struct Rename {
  const char* old_name;
  const char* name;
  const char* substitution;  // substitution bytes to restore, or null
};
constexpr Rename kRenames[] = {
    {"ibm-33722_P12A-1999", "euc-jp-2007", nullptr},              // EUC-JP
    {"macos-6-10.2", "macos-6_2-10.4", nullptr},                  // x-mac-greek
    {"ibm-1375_P100-2003", "ibm-1375_P100-2008", nullptr},        // Big5-HKSCS
    {"ibm-970_P110-1995", "ibm-970_P110_P110-2006_U2", nullptr},  // EUC-KR
    {"windows-1256-2000", "ibm-9448_X100-2005", "?"},             // windows-1256
};

const Rename* find_rename(const char* name) {
  if (name == nullptr) return nullptr;
  for (const Rename& r : kRenames) {
    if (ucnv_compareNames(name, r.old_name) == 0) return &r;
  }
  return nullptr;
}

}  // namespace

VQICU_EXPORT vqicu_converter* ucnv_open_3_4(const char* name, vqicu_status* status) {
  vqicu::Status st(status);
  if (st.failed()) return nullptr;
  const Rename* rename = find_rename(name);
  UConverter* cnv = ucnv_open(rename ? rename->name : name, st.get());
  if (cnv != nullptr && rename != nullptr && rename->substitution != nullptr) {
    ucnv_setSubstChars(cnv, rename->substitution,
                       static_cast<int8_t>(std::strlen(rename->substitution)), st.get());
    if (st.failed()) {
      ucnv_close(cnv);
      return nullptr;
    }
  }
  return reinterpret_cast<vqicu_converter*>(cnv);
}

VQICU_EXPORT void ucnv_close_3_4(vqicu_converter* converter) {
  ucnv_close(vqicu::icu(converter));
}

VQICU_EXPORT void ucnv_resetToUnicode_3_4(vqicu_converter* converter) {
  if (converter) ucnv_resetToUnicode(vqicu::icu(converter));
}

VQICU_EXPORT void ucnv_resetFromUnicode_3_4(vqicu_converter* converter) {
  if (converter) ucnv_resetFromUnicode(vqicu::icu(converter));
}

VQICU_EXPORT void ucnv_setFallback_3_4(vqicu_converter* converter, vqicu_bool use_fallback) {
  if (converter) ucnv_setFallback(vqicu::icu(converter), use_fallback != 0);
}

VQICU_EXPORT void ucnv_toUnicode_3_4(vqicu_converter* converter, vqicu_uchar** target,
                                     const vqicu_uchar* target_limit, const char** source,
                                     const char* source_limit, int32_t* offsets,
                                     vqicu_bool flush, vqicu_status* status) {
  vqicu::Status st(status);
  if (st.failed()) return;
  ucnv_toUnicode(vqicu::icu(converter), reinterpret_cast<UChar**>(target),
                 vqicu::icu(target_limit), source, source_limit, offsets, flush != 0, st.get());
}

VQICU_EXPORT void ucnv_fromUnicode_3_4(vqicu_converter* converter, char** target,
                                       const char* target_limit, const vqicu_uchar** source,
                                       const vqicu_uchar* source_limit, int32_t* offsets,
                                       vqicu_bool flush, vqicu_status* status) {
  vqicu::Status st(status);
  if (st.failed()) return;
  ucnv_fromUnicode(vqicu::icu(converter), target, target_limit,
                   reinterpret_cast<const UChar**>(source), vqicu::icu(source_limit), offsets,
                   flush != 0, st.get());
}

// The callback types differ from ICU's only in spelling (plain integers for ICU's
// enumerations, opaque argument records), so the function pointers pass through.
VQICU_EXPORT void ucnv_setToUCallBack_3_4(vqicu_converter* converter,
                                          vqicu_to_u_callback action, const void* context,
                                          vqicu_to_u_callback* old_action,
                                          const void** old_context, vqicu_status* status) {
  vqicu::Status st(status);
  if (st.failed()) return;
  if (converter == nullptr) return st.set(U_ILLEGAL_ARGUMENT_ERROR);
  ucnv_setToUCallBack(vqicu::icu(converter), reinterpret_cast<UConverterToUCallback>(action),
                      context, reinterpret_cast<UConverterToUCallback*>(old_action),
                      old_context, st.get());
}

VQICU_EXPORT void ucnv_setFromUCallBack_3_4(vqicu_converter* converter,
                                            vqicu_from_u_callback action, const void* context,
                                            vqicu_from_u_callback* old_action,
                                            const void** old_context, vqicu_status* status) {
  vqicu::Status st(status);
  if (st.failed()) return;
  if (converter == nullptr) return st.set(U_ILLEGAL_ARGUMENT_ERROR);
  ucnv_setFromUCallBack(
      vqicu::icu(converter), reinterpret_cast<UConverterFromUCallback>(action), context,
      reinterpret_cast<UConverterFromUCallback*>(old_action), old_context, st.get());
}
