// The collation tests' helpers: UTF-16 text as the stand-in's units, a collator closed
// at the end of the scope, and a UTF-16 sort-key prefix checked for writes past its end.
#ifndef VQ_TESTS_ICU_COLLATION_FIXTURE_H
#define VQ_TESTS_ICU_COLLATION_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "icu_api.h"

namespace vq_test {

inline const vqicu_uchar* units(const std::u16string& s) {
  return reinterpret_cast<const vqicu_uchar*>(s.data());
}

struct Collator {
  explicit Collator(const char* locale) { coll = icu().ucol_open_3_4(locale, &status); }
  ~Collator() { icu().ucol_close_3_4(coll); }
  Collator(const Collator&) = delete;
  Collator& operator=(const Collator&) = delete;
  vqicu_collator* coll = nullptr;
  vqicu_status status = VQICU_ZERO_ERROR;
};

inline std::string key16(const vqicu_collator* coll, const std::u16string& s,
                         uint32_t dstlen = 4096, int8_t complete = 1,
                         vqicu_status* status_out = nullptr) {
  std::string dst(dstlen + 8, '\xEE');
  vqicu_status st = VQICU_ZERO_ERROR;
  const int32_t n = icu().VSR_ucol_getSortKeyPrefix(
      coll, units(s), s.size(), reinterpret_cast<uint8_t*>(&dst[0]), dstlen, complete, &st);
  EXPECT_LE(static_cast<uint32_t>(n), dstlen);
  EXPECT_EQ(dst.substr(dstlen), std::string(8, '\xEE')) << "wrote past dstlen";
  if (status_out)
    *status_out = st;
  else
    EXPECT_EQ(st, VQICU_ZERO_ERROR);
  return dst.substr(0, n);
}

}  // namespace vq_test

#endif  // VQ_TESTS_ICU_COLLATION_FIXTURE_H
