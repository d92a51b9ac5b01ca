/* A Unicode library that lacks one entry point ("VSR_ucol_strcoll_sbcs"), for the tests
 * of the binding's mismatch flag. Its converters never open. */
#include <stddef.h>
#include <stdint.h>

#define EXPORT __attribute__((visibility("default")))
#define NOTHING(name) \
  EXPORT void name(void) {}

EXPORT void* ucnv_open_3_4(const char* name, int32_t* status) {
  (void)name;
  if (status) *status = 2;
  return NULL;
}
EXPORT void* ucol_open_3_4(const char* locale, int32_t* status) {
  (void)locale;
  if (status) *status = 2;
  return NULL;
}
EXPORT void* VSR_ucol_open(const char* locale, int32_t* status, int32_t* status2) {
  (void)locale;
  (void)status2;
  if (status) *status = 2;
  return NULL;
}
EXPORT int32_t VSRGetICUDataset(void) { return 2; }
EXPORT int8_t u_isWhitespace_3_4(int32_t c) { return c == ' '; }

NOTHING(ucnv_resetToUnicode_3_4)
NOTHING(ucnv_resetFromUnicode_3_4)
NOTHING(ucnv_close_3_4)
NOTHING(ucnv_toUnicode_3_4)
NOTHING(ucnv_fromUnicode_3_4)
NOTHING(ucnv_setFallback_3_4)
NOTHING(ucol_close_3_4)
NOTHING(ucol_setAttribute_3_4)
NOTHING(ucol_setStrength_3_4)
NOTHING(VSR_ucol_getSortKeyPrefix)
NOTHING(VSR_ucol_getSortKeyPrefixSBCS)
NOTHING(VSR_ucol_getSortKeyPrefixUTF8)
NOTHING(u_isUAlphabetic_3_4)
NOTHING(u_getIntPropertyValue_3_4)
NOTHING(uiter_setUTF8_3_4)
NOTHING(ucol_strcoll_3_4)
NOTHING(ucol_strcollIter_3_4)
NOTHING(VSR_strToUpper)
NOTHING(VSR_strToLower)
NOTHING(u_strToLower_3_4)
NOTHING(u_strToUpper_3_4)
NOTHING(uloc_canonicalize_3_4)
NOTHING(ucnv_setFromUCallBack_3_4)
NOTHING(ucnv_setToUCallBack_3_4)
NOTHING(u_isUWhiteSpace_3_4)
NOTHING(VSR_uiter_setFragmentedSBCS)
NOTHING(VSR_uiter_setFragmentedUTF8Simple)
