#include "config/version_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "utils/base/os_info.h"
#include "utils/base/version_block.h"

namespace {

TEST(OwnVersionBlock, IsFoundInTheBuiltLibraryWithItsKeysInOrder) {
  auto record = std::make_unique<tc>();
  ASSERT_EQ(__Get_dbversion_info(VQ_LIBRARY_FILE, record.get(), 1), 1);
  const std::vector<std::string> keys = {
      "MODULE",       "VERSION_CLASS", "VERSION_MAJOR", "VERSION_MINOR", "VERSION_PATCH",
      "BUILD_NUMBER", "POINTERSIZE",   "PLATFORM",      "DATE",          "TIME",
      "HOST",         "THREADS",       "PRODUCTION",    "COMPILER",      "UNAME",
      "IDENT",        "COPYRIGHT",     "EXTENSIONS"};
  ASSERT_EQ(record->entry_count, keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(record->entries[i].key, keys[i]);
    EXPECT_NE(record->entries[i].equal, nullptr);
  }
  EXPECT_STREQ(__Find_arg(record.get(), "MODULE"), "vqjdbc12");
  EXPECT_STREQ(__Find_arg(record.get(), "POINTERSIZE"),
               std::to_string(sizeof(void*) * 8).c_str());
  EXPECT_STREQ(__Find_arg(record.get(), "EXTENSIONS"), "A8");
  ASSERT_EQ(record->extension_count, 1u);
  EXPECT_EQ(record->extensions[0].width, 8);
  EXPECT_EQ(std::memcmp(record->extensions[0].bytes, "\0\0\0\0\0\0\0\0", 8), 0);
  EXPECT_EQ(std::strlen(__Find_arg(record.get(), "DATE")), 10u);  // YYYY-MM-DD

  VCFileVersion version;
  ASSERT_TRUE(version.set_from_file(VQ_LIBRARY_FILE));
  EXPECT_EQ(version.major(), 12);
}

TEST(OwnVersionBlock, FileCopyMatchesTheBlockInMemory) {
  auto record = std::make_unique<tc>();
  const std::int64_t at =
      __Get_dbversion_info_mem(vq_version_info_block, vq_version_info_block_size, record.get());
  ASSERT_EQ(at, 16);
  auto from_file = std::make_unique<tc>();
  ASSERT_EQ(__Get_dbversion_info(VQ_LIBRARY_FILE, from_file.get(), 1), 1);
  ASSERT_GE(from_file->data_bytes, record->data_bytes);
  EXPECT_EQ(std::memcmp(record->data, vq_version_info_block + 16, record->data_bytes), 0);
  EXPECT_EQ(from_file->data_used, record->data_bytes);
}

}  // namespace
