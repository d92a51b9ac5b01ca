// The Unicode stand-in as the client sees it: loaded with dlopen by its file name from
// the library directory, every entry point found with dlsym by the name the client
// binds. Tests call it only through this table.
#ifndef VQ_TESTS_ICU_API_H
#define VQ_TESTS_ICU_API_H

#include <dlfcn.h>

#include <string>

#include "vqicu.h"

// name, function type
#define VQ_ICU_ENTRY_POINTS(X)     \
  X(ucnv_open_3_4)                 \
  X(ucnv_resetToUnicode_3_4)       \
  X(ucnv_resetFromUnicode_3_4)     \
  X(ucnv_close_3_4)                \
  X(ucnv_toUnicode_3_4)            \
  X(ucnv_fromUnicode_3_4)          \
  X(ucnv_setFallback_3_4)          \
  X(ucol_open_3_4)                 \
  X(ucol_close_3_4)                \
  X(ucol_setAttribute_3_4)         \
  X(ucol_setStrength_3_4)          \
  X(VSR_ucol_getSortKeyPrefix)     \
  X(VSR_ucol_getSortKeyPrefixSBCS) \
  X(VSR_ucol_getSortKeyPrefixUTF8) \
  X(u_isUAlphabetic_3_4)           \
  X(u_getIntPropertyValue_3_4)     \
  X(u_isWhitespace_3_4)            \
  X(uiter_setUTF8_3_4)             \
  X(ucol_strcoll_3_4)              \
  X(VSR_ucol_strcoll_sbcs)         \
  X(ucol_strcollIter_3_4)          \
  X(VSR_strToUpper)                \
  X(VSR_strToLower)                \
  X(u_strToLower_3_4)              \
  X(u_strToUpper_3_4)              \
  X(uloc_canonicalize_3_4)         \
  X(VSRGetICUDataset)              \
  X(ucnv_setFromUCallBack_3_4)     \
  X(ucnv_setToUCallBack_3_4)       \
  X(u_isUWhiteSpace_3_4)           \
  X(VSR_ucol_open)                 \
  X(VSR_uiter_setFragmentedSBCS)   \
  X(VSR_uiter_setFragmentedUTF8Simple)

struct IcuApi {
#define VQ_ICU_MEMBER(name) decltype(&::name) name = nullptr;
  VQ_ICU_ENTRY_POINTS(VQ_ICU_MEMBER)
#undef VQ_ICU_MEMBER
  void* handle = nullptr;
  std::string missing;  // names dlsym did not find, space-separated
};

inline std::string icu_library_path(const char* file) {
  return std::string(VQ_TEST_LIB_DIR) + "/" + file;
}

// Loads the library file and binds every entry point. Leaves api.handle null (and
// api.missing the dlerror text) when the file does not load.
inline IcuApi load_icu(const char* file) {
  IcuApi api;
  api.handle = dlopen(icu_library_path(file).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (api.handle == nullptr) {
    api.missing = dlerror();
    return api;
  }
#define VQ_ICU_BIND(name)                                                   \
  api.name = reinterpret_cast<decltype(&::name)>(dlsym(api.handle, #name)); \
  if (api.name == nullptr) api.missing += " " #name;
  VQ_ICU_ENTRY_POINTS(VQ_ICU_BIND)
#undef VQ_ICU_BIND
  return api;
}

// The threaded form, loaded once for all tests.
inline const IcuApi& icu() {
  static const IcuApi api = load_icu("libvqicu12_r.so");
  return api;
}

#endif  // VQ_TESTS_ICU_API_H
