// Collators of the Unicode stand-in used by several threads at once.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "icu_api.h"

namespace {

const vqicu_uchar* units(const std::u16string& s) {
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

std::string key16(const vqicu_collator* coll, const std::u16string& s, uint32_t dstlen = 4096,
                  int8_t complete = 1, vqicu_status* status_out = nullptr) {
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

TEST(IcuStandinSortKeys, IncompleteTextFromManyThreadsAndTailorings) {
  // The characters a collation unit cannot start at are kept per tailoring and shared.
  const char* const locales[] = {"cs", "da", "en", "ja", "de@collation=phonebook", "sv"};
  const std::u16string text = u"chaaü日本";
  std::vector<std::string> expected;
  for (const char* locale : locales) {
    Collator coll(locale);
    vqicu_status st = VQICU_ZERO_ERROR;
    expected.push_back(key16(coll.coll, text, 4096, 0, &st));
  }
  std::vector<std::string> got[4];
  std::vector<std::thread> threads;
  for (auto& results : got) {
    threads.emplace_back([&results, &locales, &text] {
      for (int round = 0; round < 20; ++round) {
        for (const char* locale : locales) {
          vqicu_status st = VQICU_ZERO_ERROR;
          vqicu_collator* coll = icu().ucol_open_3_4(locale, &st);
          uint8_t dst[256];
          st = VQICU_ZERO_ERROR;
          const int32_t n = icu().VSR_ucol_getSortKeyPrefix(coll, units(text), text.size(), dst,
                                                            sizeof dst, 0, &st);
          if (round == 0) results.emplace_back(reinterpret_cast<char*>(dst), n);
          icu().ucol_close_3_4(coll);
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  for (const auto& results : got) EXPECT_EQ(results, expected);
}

}  // namespace
