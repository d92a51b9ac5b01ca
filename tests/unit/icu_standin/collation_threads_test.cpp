// Collators of the Unicode stand-in used by several threads at once.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "collation_fixture.h"
#include "icu_api.h"

using vq_test::Collator;
using vq_test::key16;
using vq_test::units;

namespace {

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
