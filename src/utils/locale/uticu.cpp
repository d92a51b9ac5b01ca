// The Unicode library binding: entry points bound by name, stand-bys in their place.
#include "utils/locale/uticu.h"

#include "utils/base/library_loader.h"
#include "utils/base/os_info.h"

namespace {

constexpr vqicu_status kMissing = VQICU_MISSING_RESOURCE_ERROR;

void fail(vqicu_status* status) {
  if (status != nullptr) *status = kMissing;
}

// ---- Stand-bys: the answers of an absent library -----------------------------------------

vqicu_converter* sb_ucnv_open(const char*, vqicu_status* status) {
  fail(status);
  return nullptr;
}
void sb_ucnv_reset(vqicu_converter*) {}
void sb_ucnv_close(vqicu_converter*) {}
void sb_ucnv_toUnicode(vqicu_converter*, vqicu_uchar**, const vqicu_uchar*, const char**,
                       const char*, int32_t*, vqicu_bool, vqicu_status* status) {
  fail(status);
}
void sb_ucnv_fromUnicode(vqicu_converter*, char**, const char*, const vqicu_uchar**,
                         const vqicu_uchar*, int32_t*, vqicu_bool, vqicu_status* status) {
  fail(status);
}
void sb_ucnv_setFallback(vqicu_converter*, vqicu_bool) {}
vqicu_collator* sb_ucol_open(const char*, vqicu_status* status) {
  fail(status);
  return nullptr;
}
void sb_ucol_close(vqicu_collator*) {}
void sb_ucol_setAttribute(vqicu_collator*, int32_t, int32_t, vqicu_status* status) {
  fail(status);
}
void sb_ucol_setStrength(vqicu_collator*, int32_t) {}
int32_t sb_getSortKeyPrefix(const vqicu_collator*, const vqicu_uchar*, int32_t, uint8_t*,
                            uint32_t, int8_t, vqicu_status* status) {
  fail(status);
  return 0;
}
int32_t sb_getSortKeyPrefixSBCS(const vqicu_collator*, const char*, int32_t, uint8_t*, uint32_t,
                                const vqicu_uchar*, int8_t, vqicu_status* status) {
  fail(status);
  return 0;
}
int32_t sb_getSortKeyPrefixUTF8(const vqicu_collator*, const char*, int32_t, uint8_t*, uint32_t,
                                int8_t, vqicu_status* status) {
  fail(status);
  return 0;
}
vqicu_bool sb_bool_property(vqicu_uchar32) { return 0; }
int32_t sb_u_getIntPropertyValue(vqicu_uchar32, int32_t) { return 0; }
void sb_uiter_setUTF8(vqicu_char_iterator*, const char*, int32_t) {}
int32_t sb_ucol_strcoll(const vqicu_collator*, const vqicu_uchar*, int32_t, const vqicu_uchar*,
                        int32_t) {
  return -1;
}
int32_t sb_strcoll_sbcs(const vqicu_collator*, const vqicu_uchar*, const char*, uint32_t,
                        const char*, uint32_t) {
  return -1;
}
int32_t sb_ucol_strcollIter(const vqicu_collator*, vqicu_char_iterator*, vqicu_char_iterator*,
                            vqicu_status* status) {
  fail(status);
  return -1;
}
int32_t sb_stream_case(vqicu_write_fn, void*, vqicu_read_fn, void*, const char*,
                       vqicu_status* status) {
  fail(status);
  return 0;
}
int32_t sb_u_strCase(vqicu_uchar*, int32_t, const vqicu_uchar*, int32_t, const char*,
                     vqicu_status* status) {
  fail(status);
  return 0;
}
int32_t sb_uloc_canonicalize(const char*, char*, int32_t, vqicu_status* status) {
  fail(status);
  return 0;
}
int32_t sb_dataset() { return 0; }
void sb_setFromUCallBack(vqicu_converter*, vqicu_from_u_callback, const void*,
                         vqicu_from_u_callback*, const void**, vqicu_status*) {}
void sb_setToUCallBack(vqicu_converter*, vqicu_to_u_callback, const void*, vqicu_to_u_callback*,
                       const void**, vqicu_status*) {}
vqicu_collator* sb_VSR_ucol_open(const char*, vqicu_status* status, vqicu_status*) {
  fail(status);
  return nullptr;
}
void sb_setFragmentedSBCS(vqicu_char_iterator*, const char*, int32_t, int32_t, vqicu_fill_fn,
                          void*, const vqicu_uchar*) {}
void sb_setFragmentedUTF8(vqicu_char_iterator*, const char*, int32_t, int32_t, vqicu_fill_fn,
                          void*) {}

}  // namespace

const char* const UTICU::kEntryNames[kNumEntries] = {
    "ucnv_open_3_4",
    "ucnv_resetToUnicode_3_4",
    "ucnv_resetFromUnicode_3_4",
    "ucnv_close_3_4",
    "ucnv_toUnicode_3_4",
    "ucnv_fromUnicode_3_4",
    "ucnv_setFallback_3_4",
    "ucol_open_3_4",
    "ucol_close_3_4",
    "ucol_setAttribute_3_4",
    "ucol_setStrength_3_4",
    "VSR_ucol_getSortKeyPrefix",
    "VSR_ucol_getSortKeyPrefixSBCS",
    "VSR_ucol_getSortKeyPrefixUTF8",
    "u_isUAlphabetic_3_4",
    "u_getIntPropertyValue_3_4",
    "u_isWhitespace_3_4",
    "uiter_setUTF8_3_4",
    "ucol_strcoll_3_4",
    "VSR_ucol_strcoll_sbcs",
    "ucol_strcollIter_3_4",
    "VSR_strToUpper",
    "VSR_strToLower",
    "u_strToLower_3_4",
    "u_strToUpper_3_4",
    "uloc_canonicalize_3_4",
    "VSRGetICUDataset",
    "ucnv_setFromUCallBack_3_4",
    "ucnv_setToUCallBack_3_4",
    "u_isUWhiteSpace_3_4",
    "VSR_ucol_open",
    "VSR_uiter_setFragmentedSBCS",
    "VSR_uiter_setFragmentedUTF8Simple",
};

template <typename F>
F UTICU::load_symbol(const char* name, F standby) {
  if (handle_ == nullptr) return standby;
  void* address = UTGetProcAddress(handle_, name);
  if (address == nullptr) {
    mismatch_ = 1;
    return standby;
  }
  return reinterpret_cast<F>(address);
}

UTICU::UTICU() {
  // Found by the library-search rules (only files of this build's word size) and
  // loaded from the path found; absent, every entry keeps its stand-by.
  handle_ = UTLoadQualifiedLibrary(IsThreaded() ? "libvqicu12_r.so" : "libvqicu12.so");
  const char* const* n = kEntryNames;
  ucnv_open = load_symbol(*n++, &sb_ucnv_open);
  ucnv_resetToUnicode = load_symbol(*n++, &sb_ucnv_reset);
  ucnv_resetFromUnicode = load_symbol(*n++, &sb_ucnv_reset);
  ucnv_close = load_symbol(*n++, &sb_ucnv_close);
  ucnv_toUnicode = load_symbol(*n++, &sb_ucnv_toUnicode);
  ucnv_fromUnicode = load_symbol(*n++, &sb_ucnv_fromUnicode);
  ucnv_setFallback = load_symbol(*n++, &sb_ucnv_setFallback);
  ucol_open = load_symbol(*n++, &sb_ucol_open);
  ucol_close = load_symbol(*n++, &sb_ucol_close);
  ucol_setAttribute = load_symbol(*n++, &sb_ucol_setAttribute);
  ucol_setStrength = load_symbol(*n++, &sb_ucol_setStrength);
  VSR_ucol_getSortKeyPrefix = load_symbol(*n++, &sb_getSortKeyPrefix);
  VSR_ucol_getSortKeyPrefixSBCS = load_symbol(*n++, &sb_getSortKeyPrefixSBCS);
  VSR_ucol_getSortKeyPrefixUTF8 = load_symbol(*n++, &sb_getSortKeyPrefixUTF8);
  u_isUAlphabetic = load_symbol(*n++, &sb_bool_property);
  u_getIntPropertyValue = load_symbol(*n++, &sb_u_getIntPropertyValue);
  u_isWhitespace = load_symbol(*n++, &sb_bool_property);
  uiter_setUTF8 = load_symbol(*n++, &sb_uiter_setUTF8);
  ucol_strcoll = load_symbol(*n++, &sb_ucol_strcoll);
  VSR_ucol_strcoll_sbcs = load_symbol(*n++, &sb_strcoll_sbcs);
  ucol_strcollIter = load_symbol(*n++, &sb_ucol_strcollIter);
  VSR_strToUpper = load_symbol(*n++, &sb_stream_case);
  VSR_strToLower = load_symbol(*n++, &sb_stream_case);
  u_strToLower = load_symbol(*n++, &sb_u_strCase);
  u_strToUpper = load_symbol(*n++, &sb_u_strCase);
  uloc_canonicalize = load_symbol(*n++, &sb_uloc_canonicalize);
  VSRGetICUDataset = load_symbol(*n++, &sb_dataset);
  ucnv_setFromUCallBack = load_symbol(*n++, &sb_setFromUCallBack);
  ucnv_setToUCallBack = load_symbol(*n++, &sb_setToUCallBack);
  u_isUWhiteSpace = load_symbol(*n++, &sb_bool_property);
  VSR_ucol_open = load_symbol(*n++, &sb_VSR_ucol_open);
  VSR_uiter_setFragmentedSBCS = load_symbol(*n++, &sb_setFragmentedSBCS);
  VSR_uiter_setFragmentedUTF8Simple = load_symbol(*n++, &sb_setFragmentedUTF8);
}

UTICU::~UTICU() {
  if (handle_ != nullptr) UTUnloadLibrary(handle_);
  handle_ = nullptr;
}

void* UTICU::entry(int index) const {
  void* const table[kNumEntries] = {
      reinterpret_cast<void*>(ucnv_open),
      reinterpret_cast<void*>(ucnv_resetToUnicode),
      reinterpret_cast<void*>(ucnv_resetFromUnicode),
      reinterpret_cast<void*>(ucnv_close),
      reinterpret_cast<void*>(ucnv_toUnicode),
      reinterpret_cast<void*>(ucnv_fromUnicode),
      reinterpret_cast<void*>(ucnv_setFallback),
      reinterpret_cast<void*>(ucol_open),
      reinterpret_cast<void*>(ucol_close),
      reinterpret_cast<void*>(ucol_setAttribute),
      reinterpret_cast<void*>(ucol_setStrength),
      reinterpret_cast<void*>(VSR_ucol_getSortKeyPrefix),
      reinterpret_cast<void*>(VSR_ucol_getSortKeyPrefixSBCS),
      reinterpret_cast<void*>(VSR_ucol_getSortKeyPrefixUTF8),
      reinterpret_cast<void*>(u_isUAlphabetic),
      reinterpret_cast<void*>(u_getIntPropertyValue),
      reinterpret_cast<void*>(u_isWhitespace),
      reinterpret_cast<void*>(uiter_setUTF8),
      reinterpret_cast<void*>(ucol_strcoll),
      reinterpret_cast<void*>(VSR_ucol_strcoll_sbcs),
      reinterpret_cast<void*>(ucol_strcollIter),
      reinterpret_cast<void*>(VSR_strToUpper),
      reinterpret_cast<void*>(VSR_strToLower),
      reinterpret_cast<void*>(u_strToLower),
      reinterpret_cast<void*>(u_strToUpper),
      reinterpret_cast<void*>(uloc_canonicalize),
      reinterpret_cast<void*>(VSRGetICUDataset),
      reinterpret_cast<void*>(ucnv_setFromUCallBack),
      reinterpret_cast<void*>(ucnv_setToUCallBack),
      reinterpret_cast<void*>(u_isUWhiteSpace),
      reinterpret_cast<void*>(VSR_ucol_open),
      reinterpret_cast<void*>(VSR_uiter_setFragmentedSBCS),
      reinterpret_cast<void*>(VSR_uiter_setFragmentedUTF8Simple),
  };
  return (index >= 0 && index < kNumEntries) ? table[index] : nullptr;
}
