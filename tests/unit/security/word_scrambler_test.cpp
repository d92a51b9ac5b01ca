// The word scrambler: the stride choice, fixed vectors that pin the wire form, round
// trips over odd and even lengths, and nothing touched outside the buffer.
#include "security/word_scrambler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "test_bytes.h"

namespace {

using vq::testing::RandomBytes;

std::string Hex(const std::vector<unsigned char>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::uint16_t Len(std::size_t n) { return static_cast<std::uint16_t>(n); }

TEST(WordScrambler, MakekeyPicksTheFirstCoprimeStep) {
  struct Case {
    std::uint32_t seed;
    std::uint16_t length;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {6, 20, 7},  // gcd(6, 10) = 2, gcd(7, 10) = 1
      {7, 20, 7},
      {10, 20, 11},
      {0, 20, 1},            // gcd(0, 10) = 10
      {0xFFFFFFFFu, 20, 1},  // 0xFFFFFFFF shares 5 with 10, 0 shares 10: wraps to 1
      {12, 7, 13},           // odd length: n = 4
      {42, 2, 42},           // one word: every step is coprime
      {42, 1, 42},
      {42, 0, 42},                     // no words at all: the seed, and no endless search
      {0x18210014u, 20, 0x18210015u},  // a seed made of packet type, status and length
      {0x19210138u, 0x138, 0x19210139u},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(makekey(c.seed, c.length), c.expected) << c.seed << ", " << c.length;
  }
  std::mt19937 gen(5);
  for (int trial = 0; trial < 2000; ++trial) {
    const std::uint32_t seed = gen();
    const auto length = static_cast<std::uint16_t>(gen());
    const std::uint32_t n = (std::uint32_t{length} + 1) / 2;
    const std::uint32_t k = makekey(seed, length);
    ASSERT_EQ(std::gcd(k, n), 1u) << seed << ", " << length;
    ASSERT_LT(k - seed, n) << "the first coprime value counting up";
  }
}

TEST(WordScrambler, FixedVectors) {
  // Worked out independently of this code from the description of the walk and chain;
  // the peer descrambles exactly these bytes.
  struct Case {
    std::uint32_t key;
    std::uint32_t seed;
    const char* plain;
    const char* scrambled;
  };
  const Case cases[] = {
      {0x1234, 6, "ABCDEFGHIJKLMNOPQRST", "4b2339db5ea1d10e3afcf60eef533aa8bd4f8df3"},
      {0xBEEF, 100, "hello, world", "a278289d3e165c5bd7c4c3ed"},
      {0x0501, 7, "abcdefg", "d20dc77feb99b0"},
      {0xFFFF, 0, "xyz", "9ce143"},
      {0xABCD1234u, 6, "ABCDEFGHIJKLMNOPQRST", "4b2339db5ea1d10e3afcf60eef533aa8bd4f8df3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plain);
    const std::size_t n = std::strlen(c.plain);
    std::vector<unsigned char> buf(c.plain, c.plain + n);
    const std::uint32_t step = makekey(c.seed, Len(n));
    yach_encrypt(c.key, step, Len(n), buf.data());
    EXPECT_EQ(Hex(buf), c.scrambled);
    yach_decrypt(c.key, step, Len(n), buf.data());
    EXPECT_EQ(std::string(buf.begin(), buf.end()), c.plain);
  }
}

TEST(WordScrambler, RestoresEveryBufferAndTouchesNothingOutside) {
  // The buffer is exactly `length` bytes on the heap, so the sanitizer build sees any
  // read or write past it; guard bytes around a copy catch writes in the plain build.
  const std::size_t lengths[] = {2,  3,  4,  5,  6,   7,   8,   9,    15,   16,    17,
                                 63, 64, 65, 99, 255, 256, 257, 1000, 1001, 65534, 65535};
  const std::uint32_t keys[] = {0, 1, 0x1234, 0xFFFF, 0x87654321u};
  const std::uint32_t seeds[] = {0, 1, 2, 6, 1000, 0xFFFFFFFEu};
  constexpr std::size_t kGuard = 8;
  for (std::size_t length : lengths) {
    for (std::uint32_t key : keys) {
      for (std::uint32_t seed : seeds) {
        SCOPED_TRACE(testing::Message()
                     << length << " bytes, key " << key << ", seed " << seed);
        const std::uint32_t step = makekey(seed, Len(length));
        const std::vector<unsigned char> plain =
            RandomBytes(length, static_cast<unsigned>(length * 31 + key + seed));

        std::vector<unsigned char> exact = plain;
        yach_encrypt(key, step, Len(length), exact.data());
        if (length >= 4) {
          EXPECT_NE(exact, plain);
        }
        yach_decrypt(key, step, Len(length), exact.data());
        ASSERT_EQ(exact, plain);

        std::vector<unsigned char> guarded(kGuard + length + kGuard, 0xFF);
        std::copy(plain.begin(), plain.end(), guarded.begin() + kGuard);
        yach_encrypt(key, step, Len(length), guarded.data() + kGuard);
        for (std::size_t i = 0; i < kGuard; ++i) {
          ASSERT_EQ(guarded[i], 0xFF);
          ASSERT_EQ(guarded[kGuard + length + i], 0xFF);
        }
        yach_decrypt(key, step, Len(length), guarded.data() + kGuard);
        ASSERT_TRUE(std::equal(plain.begin(), plain.end(), guarded.begin() + kGuard));
      }
    }
  }
}

TEST(WordScrambler, AnyStepRoundTripsAndAFactorLimitsTheWalk) {
  struct Case {
    std::uint16_t length;
    std::uint32_t step;
    std::vector<std::size_t> untouched_words;
  };
  const Case cases[] = {
      {20, 4, {1, 3, 5, 7, 9}},                 // n = 10: cycle 0, 4, 8, 2, 6
      {20, 15, {1, 2, 3, 4, 6, 7, 8, 9}},       // s = 5: cycle 0, 5
      {9, 2, {}},                               // n = 5, s = 2 coprime: the whole buffer
      {13, 3, {}},                              // n = 7 with a half word, s = 3 coprime
      {24, 20, {1, 2, 3, 5, 6, 7, 9, 10, 11}},  // n = 12, s = 8: cycle 0, 8, 4
      {20, 10, {1, 2, 3, 4, 5, 6, 7, 8, 9}},    // a multiple of n: word 0 alone
      {20, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {7, 4, {1, 2, 3}},  // n = 4 with a half word, s = 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.length << " bytes, step " << c.step);
    const std::uint32_t n = (std::uint32_t{c.length} + 1) / 2;
    const std::vector<unsigned char> plain = RandomBytes(c.length, c.length + c.step);
    std::vector<unsigned char> buf = plain;
    yach_encrypt(0x5A5A, c.step, c.length, buf.data());
    for (std::size_t w : c.untouched_words) {
      ASSERT_LT(w, n);
      for (std::size_t b = 2 * w; b < std::min<std::size_t>(2 * w + 2, c.length); ++b) {
        EXPECT_EQ(buf[b], plain[b]) << "byte " << b << " of word " << w;
      }
    }
    EXPECT_NE(buf, plain);
    yach_decrypt(0x5A5A, c.step, c.length, buf.data());
    EXPECT_EQ(buf, plain);
  }
}

TEST(WordScrambler, BuffersTooShortToHoldTheChainAreLeftAlone) {
  for (std::uint16_t length : {0, 1}) {
    std::vector<unsigned char> buf(length + 2, 0x77);
    yach_encrypt(0x1234, 5, length, buf.data());
    EXPECT_EQ(buf, std::vector<unsigned char>(length + 2, 0x77));
    yach_decrypt(0x1234, 5, length, buf.data());
    EXPECT_EQ(buf, std::vector<unsigned char>(length + 2, 0x77));
  }
}

}  // namespace
