#include "scrambler.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace vqeng;

namespace {
std::vector<std::uint8_t> bytes(std::initializer_list<int> v) {
  std::vector<std::uint8_t> out;
  for (int b : v) out.push_back(static_cast<std::uint8_t>(b));
  return out;
}
}  // namespace

TEST(Scrambler, MakekeyPicksTheFirstCoprimeStep) {
  EXPECT_EQ(makekey(6, 20), 7u);  // n = 10: 6 shares 2, 7 does not
  EXPECT_EQ(makekey(1, 5), 1u);
  EXPECT_EQ(makekey(0xFFFFFFFFu, 4), 0xFFFFFFFFu);  // n = 2, odd seed already coprime
  EXPECT_EQ(makekey(0xFFFFFFFEu, 4), 0xFFFFFFFFu);
}

// Vectors computed by hand (and by an independent script) from the word rules.
TEST(Scrambler, KnownAnswers) {
  struct Case {
    std::uint32_t key, seed;
    std::vector<std::uint8_t> plain, cipher;
  };
  const Case cases[] = {
      {0x1234, 1, bytes({1, 2, 3, 4, 5}), bytes({0x04, 0xe3, 0x1a, 0x88, 0x0c})},
      {0xBEEF, 3, bytes({0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17}),
       bytes({0xd1, 0x34, 0xb0, 0x7a, 0x74, 0xe0, 0xff, 0xd7})},
  };
  for (const auto& c : cases) {
    auto buf = c.plain;
    const std::uint32_t step = makekey(c.seed, static_cast<std::uint16_t>(buf.size()));
    yach_encrypt(c.key, step, static_cast<std::uint16_t>(buf.size()), buf.data());
    EXPECT_EQ(buf, c.cipher);
    yach_decrypt(c.key, step, static_cast<std::uint16_t>(buf.size()), buf.data());
    EXPECT_EQ(buf, c.plain);
  }
}

TEST(Scrambler, RoundTripEveryLengthNeverTouchingTheNextByte) {
  std::mt19937 rng(42);
  for (std::uint16_t len = 3; len <= 300; ++len) {
    SCOPED_TRACE(len);
    std::vector<std::uint8_t> buf(len + 1);
    for (auto& b : buf) b = static_cast<std::uint8_t>(rng());
    buf[len] = 0xA5;  // guard
    const auto orig = buf;
    const std::uint32_t key = rng() & 0xFFFF;
    const std::uint32_t step = makekey(rng(), len);
    yach_encrypt(key, step, len, buf.data());
    EXPECT_EQ(buf[len], 0xA5);
    yach_decrypt(key, step, len, buf.data());
    EXPECT_EQ(buf, orig);
  }
}

TEST(Scrambler, PacketKeyComesFromTheHeader) {
  // type 24, status 0x21, body "ABCDEFG": key 0x1826, step makekey(0x18210007, 7).
  std::string pk = std::string{24, 0x21, 0, 11} + "ABCDEFG";
  ASSERT_TRUE(scramble_packet(reinterpret_cast<std::uint8_t*>(&pk[0]), 11));
  EXPECT_EQ(pk.substr(0, 4), (std::string{24, 0x21, 0, 11}));
  EXPECT_EQ(pk.substr(4), std::string("\x1e\x66\x7f\x88\xba\x56\x33", 7));
  ASSERT_TRUE(descramble_packet(reinterpret_cast<std::uint8_t*>(&pk[0]), 11));
  EXPECT_EQ(pk.substr(4), "ABCDEFG");
}

TEST(Scrambler, PacketEdges) {
  // A 2-byte body is left alone, even with 0x20 set.
  std::string small{24, 0x20, 0, 6, 'x', 'y'};
  const std::string before = small;
  EXPECT_TRUE(scramble_packet(reinterpret_cast<std::uint8_t*>(&small[0]), 6));
  EXPECT_EQ(small, before);
  // Long-header types scramble after 8 bytes.
  std::string att = std::string{16, 0x25, 0, 12, 0, 0, 0, 0} + "abcd";
  EXPECT_TRUE(scramble_packet(reinterpret_cast<std::uint8_t*>(&att[0]), 12));
  EXPECT_EQ(att.substr(0, 8), (std::string{16, 0x25, 0, 12, 0, 0, 0, 0}));
  EXPECT_NE(att.substr(8), "abcd");
  // A length below the header size or beyond the bytes given is refused untouched.
  std::string bad{16, 0x20, 0, 6, 1, 2};
  EXPECT_FALSE(scramble_packet(reinterpret_cast<std::uint8_t*>(&bad[0]), 6));
  std::string longer{24, 0x20, 0, 40, 1, 2, 3};
  EXPECT_FALSE(descramble_packet(reinterpret_cast<std::uint8_t*>(&longer[0]), 7));
}
