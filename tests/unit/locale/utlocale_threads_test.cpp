// The registry's map cache, filled by threads racing for one map.
#include "utils/locale/utlocale.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "scoped_env.h"

namespace {

TEST(Registry, ThreadsRacingForOneMapGetTheSameMap) {
  ScopedEnv env;
  UTLocale locale;
  const CharsetInfo* koi8 = UTLocale::GetCharsetInfoFromLabel("KOI8-R", kSchemeAll);
  std::vector<const std::uint16_t*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&, i] { seen[i] = locale.FindOrLoadSBCSToUTF16(koi8); });
  }
  for (std::thread& t : threads) t.join();
  ASSERT_NE(seen[0], nullptr);
  for (const std::uint16_t* map : seen) EXPECT_EQ(map, seen[0]);
}

}  // namespace
