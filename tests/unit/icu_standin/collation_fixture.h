// The collation tests' helpers: UTF-16 text as the stand-in's units, a collator closed
// at the end of the scope, and sort-key prefixes checked for writes past their end.
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

// Runs `call(dst, &status)` on a buffer with eight guard bytes past dstlen, checks that
// the key fits and the guard is untouched, and hands the status to the caller (or expects
// success when the caller does not ask for it); the key's bytes.
template <typename Call>
std::string checked_key(uint32_t dstlen, vqicu_status* status_out, Call call) {
  std::string dst(dstlen + 8, '\xEE');
  vqicu_status st = VQICU_ZERO_ERROR;
  const int32_t n = call(reinterpret_cast<uint8_t*>(&dst[0]), &st);
  EXPECT_LE(static_cast<uint32_t>(n), dstlen);
  EXPECT_EQ(dst.substr(dstlen), std::string(8, '\xEE')) << "wrote past dstlen";
  if (status_out)
    *status_out = st;
  else
    EXPECT_EQ(st, VQICU_ZERO_ERROR);
  return dst.substr(0, n);
}

inline std::string key16(const vqicu_collator* coll, const std::u16string& s,
                         uint32_t dstlen = 4096, int8_t complete = 1,
                         vqicu_status* status_out = nullptr) {
  return checked_key(dstlen, status_out, [&](uint8_t* dst, vqicu_status* st) {
    return icu().VSR_ucol_getSortKeyPrefix(coll, units(s), s.size(), dst, dstlen, complete, st);
  });
}

}  // namespace vq_test

#endif  // VQ_TESTS_ICU_COLLATION_FIXTURE_H
