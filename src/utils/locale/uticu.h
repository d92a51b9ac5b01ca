// The run-time binding of the Unicode library. The library is never required: every
// entry point that cannot be bound holds a stand-by function with a clean failure
// (error code 2, a null handle, -1 or false), so callers always call through the table.
// The locale registry owns one binding; the table is read-only after construction.
#ifndef VQ_UTILS_LOCALE_UTICU_H
#define VQ_UTILS_LOCALE_UTICU_H

#include <cstdint>

#include "vqicu.h"

// Entry-point types, named after the members of the table.
namespace uticu_types {
using ucnv_open_fn = decltype(&::ucnv_open_3_4);
using ucnv_resetToUnicode_fn = decltype(&::ucnv_resetToUnicode_3_4);
using ucnv_resetFromUnicode_fn = decltype(&::ucnv_resetFromUnicode_3_4);
using ucnv_close_fn = decltype(&::ucnv_close_3_4);
using ucnv_toUnicode_fn = decltype(&::ucnv_toUnicode_3_4);
using ucnv_fromUnicode_fn = decltype(&::ucnv_fromUnicode_3_4);
using ucnv_setFallback_fn = decltype(&::ucnv_setFallback_3_4);
using ucol_open_fn = decltype(&::ucol_open_3_4);
using ucol_close_fn = decltype(&::ucol_close_3_4);
using ucol_setAttribute_fn = decltype(&::ucol_setAttribute_3_4);
using ucol_setStrength_fn = decltype(&::ucol_setStrength_3_4);
using VSR_ucol_getSortKeyPrefix_fn = decltype(&::VSR_ucol_getSortKeyPrefix);
using VSR_ucol_getSortKeyPrefixSBCS_fn = decltype(&::VSR_ucol_getSortKeyPrefixSBCS);
using VSR_ucol_getSortKeyPrefixUTF8_fn = decltype(&::VSR_ucol_getSortKeyPrefixUTF8);
using u_isUAlphabetic_fn = decltype(&::u_isUAlphabetic_3_4);
using u_getIntPropertyValue_fn = decltype(&::u_getIntPropertyValue_3_4);
using u_isWhitespace_fn = decltype(&::u_isWhitespace_3_4);
using uiter_setUTF8_fn = decltype(&::uiter_setUTF8_3_4);
using ucol_strcoll_fn = decltype(&::ucol_strcoll_3_4);
using VSR_ucol_strcoll_sbcs_fn = decltype(&::VSR_ucol_strcoll_sbcs);
using ucol_strcollIter_fn = decltype(&::ucol_strcollIter_3_4);
using VSR_strToUpper_fn = decltype(&::VSR_strToUpper);
using VSR_strToLower_fn = decltype(&::VSR_strToLower);
using u_strToLower_fn = decltype(&::u_strToLower_3_4);
using u_strToUpper_fn = decltype(&::u_strToUpper_3_4);
using uloc_canonicalize_fn = decltype(&::uloc_canonicalize_3_4);
using VSRGetICUDataset_fn = decltype(&::VSRGetICUDataset);
using ucnv_setFromUCallBack_fn = decltype(&::ucnv_setFromUCallBack_3_4);
using ucnv_setToUCallBack_fn = decltype(&::ucnv_setToUCallBack_3_4);
using u_isUWhiteSpace_fn = decltype(&::u_isUWhiteSpace_3_4);
using VSR_ucol_open_fn = decltype(&::VSR_ucol_open);
using VSR_uiter_setFragmentedSBCS_fn = decltype(&::VSR_uiter_setFragmentedSBCS);
using VSR_uiter_setFragmentedUTF8Simple_fn = decltype(&::VSR_uiter_setFragmentedUTF8Simple);
}  // namespace uticu_types

class UTICU {
 public:
  static constexpr int kNumEntries = 33;
  // The names looked up, in table order.
  static const char* const kEntryNames[kNumEntries];

  // Loads "libvqicu12_r.so" in a threaded process, else "libvqicu12.so", and binds
  // every entry point by name.
  UTICU();
  ~UTICU();
  UTICU(const UTICU&) = delete;
  UTICU& operator=(const UTICU&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  // The library was loaded but lacks at least one entry point.
  bool mismatch() const { return mismatch_ != 0; }
  // The bound address of entry `index`, or its stand-by.
  void* entry(int index) const;

  // The table, in order.
  uticu_types::ucnv_open_fn ucnv_open;
  uticu_types::ucnv_resetToUnicode_fn ucnv_resetToUnicode;
  uticu_types::ucnv_resetFromUnicode_fn ucnv_resetFromUnicode;
  uticu_types::ucnv_close_fn ucnv_close;
  uticu_types::ucnv_toUnicode_fn ucnv_toUnicode;
  uticu_types::ucnv_fromUnicode_fn ucnv_fromUnicode;
  uticu_types::ucnv_setFallback_fn ucnv_setFallback;
  uticu_types::ucol_open_fn ucol_open;
  uticu_types::ucol_close_fn ucol_close;
  uticu_types::ucol_setAttribute_fn ucol_setAttribute;
  uticu_types::ucol_setStrength_fn ucol_setStrength;
  uticu_types::VSR_ucol_getSortKeyPrefix_fn VSR_ucol_getSortKeyPrefix;
  uticu_types::VSR_ucol_getSortKeyPrefixSBCS_fn VSR_ucol_getSortKeyPrefixSBCS;
  uticu_types::VSR_ucol_getSortKeyPrefixUTF8_fn VSR_ucol_getSortKeyPrefixUTF8;
  uticu_types::u_isUAlphabetic_fn u_isUAlphabetic;
  uticu_types::u_getIntPropertyValue_fn u_getIntPropertyValue;
  uticu_types::u_isWhitespace_fn u_isWhitespace;
  uticu_types::uiter_setUTF8_fn uiter_setUTF8;
  uticu_types::ucol_strcoll_fn ucol_strcoll;
  uticu_types::VSR_ucol_strcoll_sbcs_fn VSR_ucol_strcoll_sbcs;
  uticu_types::ucol_strcollIter_fn ucol_strcollIter;
  uticu_types::VSR_strToUpper_fn VSR_strToUpper;
  uticu_types::VSR_strToLower_fn VSR_strToLower;
  uticu_types::u_strToLower_fn u_strToLower;
  uticu_types::u_strToUpper_fn u_strToUpper;
  uticu_types::uloc_canonicalize_fn uloc_canonicalize;
  uticu_types::VSRGetICUDataset_fn VSRGetICUDataset;
  uticu_types::ucnv_setFromUCallBack_fn ucnv_setFromUCallBack;
  uticu_types::ucnv_setToUCallBack_fn ucnv_setToUCallBack;
  uticu_types::u_isUWhiteSpace_fn u_isUWhiteSpace;
  uticu_types::VSR_ucol_open_fn VSR_ucol_open;
  uticu_types::VSR_uiter_setFragmentedSBCS_fn VSR_uiter_setFragmentedSBCS;
  uticu_types::VSR_uiter_setFragmentedUTF8Simple_fn VSR_uiter_setFragmentedUTF8Simple;

 private:
  template <typename F>
  F load_symbol(const char* name, F standby);

  std::int32_t mismatch_ = 0;
  void* handle_ = nullptr;
};

#endif  // VQ_UTILS_LOCALE_UTICU_H
