// CRC-32: the published check value, the bare table value, and feeding in chunks.
#include "utils/base/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include "test_bytes.h"

namespace {

using vq::testing::RandomBytes;

std::uint32_t StandardCrc(const unsigned char* data, std::size_t len) {
  return ~ECrc32Block(0xFFFFFFFFu, data, len);
}

const unsigned char* Bytes(const char* text) {
  return reinterpret_cast<const unsigned char*>(text);
}

TEST(Crc32, PublishedValues) {
  struct Case {
    const char* text;
    std::uint32_t standard;
  };
  const Case cases[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"abc", 0x352441C2u},
      {"123456789", 0xCBF43926u},  // the CRC-32 check value
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(StandardCrc(Bytes(c.text), std::strlen(c.text)), c.standard);
  }
}

TEST(Crc32, NoInversionInside) {
  // Started from 0 and not complemented: the bare table CRC, which is the zlib value
  // with the inversions taken back out.
  const char* text = "123456789";
  const std::uint32_t bare = ECrc32Block(0, Bytes(text), 9);
  EXPECT_EQ(bare, static_cast<std::uint32_t>(~crc32(0xFFFFFFFFul, Bytes(text), 9)));
  EXPECT_NE(bare, 0xCBF43926u);
  // A count of 0 hands the running value back unchanged, whatever it is.
  for (std::uint32_t v : {0u, 1u, 0xFFFFFFFFu, 0x12345678u}) {
    EXPECT_EQ(ECrc32Block(v, Bytes(text), 0), v);
  }
}

TEST(Crc32, MatchesZlibSplitAtEveryOffset) {
  const std::vector<unsigned char> data = RandomBytes(1031, 7);
  const std::uint32_t expected =
      static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
  for (std::size_t cut = 0; cut <= data.size(); ++cut) {
    std::uint32_t crc = ECrc32Block(0xFFFFFFFFu, data.data(), cut);
    crc = ECrc32Block(crc, data.data() + cut, data.size() - cut);
    ASSERT_EQ(~crc, expected) << "cut at " << cut;
  }
}

}  // namespace
