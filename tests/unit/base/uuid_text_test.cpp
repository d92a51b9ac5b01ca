// UUID text forms keep the bytes in storage order; serialisation is the record's memory.
#include "utils/base/uuid_text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(UuidText, FormsOfTheSameBytes) {
  std::uint8_t bytes[16];
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  char text[40];
  std::memset(text, '#', sizeof text);
  EXPECT_EQ(UUIDToString(bytes, text), 36);
  EXPECT_STREQ(text, "00010203-0405-0607-0809-0a0b0c0d0e0f");
  EXPECT_EQ(text[37], '#');

  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<std::uint8_t>(0xF0 + i);
  EXPECT_EQ(UUIDToStringCompact(bytes, text), 32);
  EXPECT_STREQ(text, "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
}

TEST(UuidText, SerialisationIsTheRecordAsItLies) {
  a_uuid uuid{0x11223344u, 0x5566u, 0x7788u, {1, 2, 3, 4, 5, 6, 7, 8}};
  std::uint8_t out[16];
  EXPECT_EQ(SerializeUUID(&uuid, out), 16);
  EXPECT_EQ(std::memcmp(out, &uuid, 16), 0);
  EXPECT_EQ(out[0], 0x44);  // processor byte order on this build (little-endian)
  EXPECT_EQ(out[8], 1);
  a_uuid back{};
  EXPECT_EQ(DeserializeUUID(&back, out), 16);
  EXPECT_EQ(back.data1, uuid.data1);
  EXPECT_EQ(back.data2, uuid.data2);
  EXPECT_EQ(back.data3, uuid.data3);
  EXPECT_EQ(std::memcmp(back.data4, uuid.data4, 8), 0);
}

}  // namespace
