// The registry's cache of byte maps between single-byte sets, asked by several threads.
#include "utils/locale/conversion_table.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "converter_fixture.h"

namespace {

class GeneratedTablesTest : public RegistryTest {};

TEST_F(GeneratedTablesTest, ThreadsAskingForOnePairShareOneTable) {
  const CharsetInfo* to = Charset("IBM850");
  const CharsetInfo* from = Charset("windows-1250");
  const ConversionTable* seen[8] = {};
  std::vector<std::thread> threads;
  for (auto& slot : seen) {
    threads.emplace_back([&, p = &slot] { *p = locale()->GetConversionTable(to, from, 1, 1); });
  }
  for (auto& t : threads) t.join();
  ASSERT_NE(seen[0], nullptr);
  for (const ConversionTable* t : seen) EXPECT_EQ(t, seen[0]);
}

}  // namespace
