// The version record as tools read it from the built library file.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "odbc/library_start.h"
#include "utils/base/version_block.h"

namespace {

TEST(VersionRecord, TheLibraryFileCarriesItsRecordWithTheRealPointerSize) {
  auto record = std::make_unique<tc>();
  ASSERT_EQ(__Get_dbversion_info(VQJDBC12_PATH, record.get(), 1), 1);
  const struct {
    const char* key;
    const char* value;
  } expected[] = {
      {"VERSION_MAJOR", "12"},
      {"VERSION_MINOR", "0"},
      {"VERSION_PATCH", "0"},
      {"POINTERSIZE", "64"},
  };
  for (const auto& e : expected) {
    const char* value = __Find_arg(record.get(), e.key);
    ASSERT_NE(value, nullptr) << e.key;
    EXPECT_STREQ(value, e.value) << e.key;
  }
  // UNAME is the fifteenth entry: the one printed at load.
  ASSERT_GE(record->entry_count, 15u);
  EXPECT_STREQ(record->entries[14].key, "UNAME");
  EXPECT_EQ(__Find_arg_index(record.get(), "MODULE"), 0);
  // The driver prints from the same record in memory.
  std::size_t size = 0;
  const char* own = VersionRecord(&size);
  ASSERT_GT(size, kVersionTagBytes);
  auto in_memory = std::make_unique<tc>();
  ASSERT_EQ(__Get_dbversion_info_mem(own, size, in_memory.get()), 16);
  EXPECT_EQ(std::memcmp(in_memory->data, "MODULE=", 7), 0);
}

}  // namespace
