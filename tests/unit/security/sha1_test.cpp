// SHA-1: the FIPS 180-1 examples, OpenSSL as an oracle for input in uneven chunks, for
// long inputs, for the caller-finished block, and for the file helpers.
#define OPENSSL_SUPPRESS_DEPRECATED  // the low-level context lets us preset counts and state
#include "security/sha1.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "sha1_files_fixture.h"
#include "test_bytes.h"

using vq_test::Sha1Files;

namespace {

using vq::testing::RandomBytes;

// The five state words written most significant byte first: the standard digest.
std::string Hex(const std::uint32_t words[5]) {
  char text[41];
  for (int i = 0; i < 5; ++i) std::snprintf(text + 8 * i, 9, "%08x", words[i]);
  return text;
}

std::string HexBytes(const unsigned char digest[20]) {
  std::string out;
  char two[3];
  for (int i = 0; i < 20; ++i) {
    std::snprintf(two, sizeof two, "%02x", digest[i]);
    out += two;
  }
  return out;
}

std::string OracleSha1(const std::vector<unsigned char>& data) {
  unsigned char digest[20];
  SHA1(data.data(), data.size(), digest);
  return HexBytes(digest);
}

std::string OracleState(const SHA_CTX& c) {
  const std::uint32_t words[5] = {c.h0, c.h1, c.h2, c.h3, c.h4};
  return Hex(words);
}

std::string Sha1InChunks(const std::vector<unsigned char>& data,
                         const std::vector<std::size_t>& chunks) {
  SHA ctx;
  EXPECT_EQ(SHAInit(&ctx), 0);
  std::size_t at = 0;
  for (std::size_t chunk : chunks) {
    EXPECT_EQ(SHAUpdate(&ctx, data.data() + at, chunk), 0);
    at += chunk;
  }
  SHAUpdate(&ctx, data.data() + at, data.size() - at);
  EXPECT_EQ(SHAFinal(&ctx), 0);
  return Hex(ctx.state);
}

TEST(Sha1, Fips180Examples) {
  struct Case {
    std::string text;
    const char* digest;
  };
  const Case cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    std::uint32_t out[5] = {};
    EXPECT_EQ(SHAString(c.text.c_str(), out), 0);
    EXPECT_EQ(Hex(out), c.digest);
    std::uint32_t block_out[5] = {};
    EXPECT_EQ(SHABlock(reinterpret_cast<const unsigned char*>(c.text.data()), c.text.size(),
                       block_out),
              0);
    EXPECT_EQ(Hex(block_out), c.digest);
  }
  // The FIPS example as state words, in host order.
  std::uint32_t out[5];
  SHAString("abc", out);
  const std::uint32_t expected[5] = {0xA9993E36u, 0x4706816Au, 0xBA3E2571u, 0x7850C26Cu,
                                     0x9CD0D89Du};
  EXPECT_EQ(std::memcmp(out, expected, sizeof out), 0);
}

TEST(Sha1, EveryLengthAroundThePadding) {
  // 55 bytes leave room for the length in the last block; 56 need a second block.
  const std::vector<unsigned char> data = RandomBytes(200, 21);
  for (std::size_t n = 0; n <= data.size(); ++n) {
    const std::vector<unsigned char> part(data.begin(), data.begin() + n);
    ASSERT_EQ(Sha1InChunks(part, {}), OracleSha1(part)) << n << " bytes";
  }
}

TEST(Sha1, SameDigestHoweverTheInputIsCut) {
  // A partial block left by one call must survive into the next.
  for (std::size_t n : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 150u}) {
    const std::vector<unsigned char> data = RandomBytes(n, static_cast<unsigned>(n) + 200);
    const std::string expected = OracleSha1(data);
    for (std::size_t i = 0; i <= n; ++i) {
      for (std::size_t j = i; j <= n; ++j) {
        ASSERT_EQ(Sha1InChunks(data, {i, j - i}), expected)
            << n << " bytes cut at " << i << ", " << j;
      }
    }
  }
  const std::vector<unsigned char> data = RandomBytes(5000, 22);
  const std::vector<std::vector<std::size_t>> sequences = {
      std::vector<std::size_t>(5000, 1),
      {1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144, 233, 377, 610, 987, 1597},
      {63, 1, 63, 2, 127, 64, 65, 0, 0, 3, 200, 1000, 7},
  };
  for (const auto& chunks : sequences) {
    EXPECT_EQ(Sha1InChunks(data, chunks), OracleSha1(data)) << chunks.size() << " chunks";
  }
}

TEST(Sha1, LengthBeyond32Bits) {
  // Preset both contexts to the same state after a long input. From 512 MiB on, the
  // bit length's high word must get the carry out of its low word.
  struct Case {
    std::uint64_t blocks_before;
    std::size_t tail;
  };
  const Case cases[] = {
      {(1ull << 23) - 1, 100},  // crosses 2^32 bits (512 MiB) inside the tail
      {1ull << 23, 0},          // exactly 2^32 bits
      {(1ull << 26) + 3, 56},   // beyond 4 GiB
      {0xFFFFFFFFull, 70},      // the block counter's low word wraps inside the tail
  };
  const std::vector<unsigned char> block = RandomBytes(64, 23);
  const std::vector<unsigned char> tail = RandomBytes(200, 24);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.blocks_before);
    SHA ours;
    SHAInit(&ours);
    SHAUpdate(&ours, block.data(), 64);
    SHA_CTX theirs;
    SHA1_Init(&theirs);
    SHA1_Update(&theirs, block.data(), 64);

    ours.blocks_high = static_cast<std::uint32_t>(c.blocks_before >> 32);
    ours.blocks_low = static_cast<std::uint32_t>(c.blocks_before);
    const std::uint64_t bits = c.blocks_before * 512;
    theirs.Nl = static_cast<std::uint32_t>(bits);
    theirs.Nh = static_cast<std::uint32_t>(bits >> 32);

    SHAUpdate(&ours, tail.data(), c.tail);
    SHA1_Update(&theirs, tail.data(), c.tail);
    SHAFinal(&ours);
    unsigned char digest[20];
    SHA1_Final(digest, &theirs);
    EXPECT_EQ(Hex(ours.state), HexBytes(digest));
  }
}

TEST(Sha1, StartFromStateAndFinishCallerBlock) {
  // SHAInit2 starts from a given state; SHAFinal2 compresses the caller's words padded
  // with zeros and ending in the length word, after the caller's block itself when that
  // already fills word 15's place. OpenSSL's single-block transform is the oracle.
  const std::uint32_t start[5] = {0x01234567u, 0x89ABCDEFu, 0xFEDCBA98u, 0x76543210u,
                                  0xF0E1D2C3u};
  const std::uint32_t length_word = 0xDEADBEEFu;
  auto block_bytes = [](const std::uint32_t words[16], unsigned char out[64]) {
    for (int i = 0; i < 16; ++i) {
      out[4 * i] = static_cast<unsigned char>(words[i] >> 24);
      out[4 * i + 1] = static_cast<unsigned char>(words[i] >> 16);
      out[4 * i + 2] = static_cast<unsigned char>(words[i] >> 8);
      out[4 * i + 3] = static_cast<unsigned char>(words[i]);
    }
  };
  for (unsigned placed : {0u, 1u, 7u, 14u, 15u, 16u}) {
    SCOPED_TRACE(placed);
    SHA ours;
    EXPECT_EQ(SHAInit2(&ours, start), 0);
    EXPECT_EQ(std::memcmp(ours.state, start, sizeof start), 0);
    for (unsigned i = 0; i < 16; ++i) ours.data[i] = 0xA5A50000u + i;  // stale words
    for (unsigned i = 0; i < placed; ++i) ours.data[i] = 0x11111111u * (i + 1);

    SHA_CTX theirs;
    SHA1_Init(&theirs);
    theirs.h0 = start[0], theirs.h1 = start[1], theirs.h2 = start[2];
    theirs.h3 = start[3], theirs.h4 = start[4];
    std::uint32_t words[16] = {};
    unsigned char bytes[64];
    if (placed >= 15) {
      for (unsigned i = 0; i < placed; ++i) words[i] = ours.data[i];
      block_bytes(words, bytes);
      SHA1_Transform(&theirs, bytes);
      std::memset(words, 0, sizeof words);
    } else {
      for (unsigned i = 0; i < placed; ++i) words[i] = ours.data[i];
    }
    words[15] = length_word;
    block_bytes(words, bytes);
    SHA1_Transform(&theirs, bytes);

    EXPECT_EQ(SHAFinal2(&ours, placed, length_word), 0);
    EXPECT_EQ(Hex(ours.state), OracleState(theirs));
  }
}

TEST_F(Sha1Files, DigestOfContentsAndOfContentsWithDate) {
  // Sizes around the 6,400-byte read chunk: the date's bytes may fall in the last short
  // chunk, straddle its end, or follow a file of whole chunks.
  const std::uint32_t date = 0x20261210u;
  const unsigned char date_bytes[4] = {0x20, 0x26, 0x12, 0x10};
  for (std::size_t size :
       {0u, 1u, 55u, 64u, 6396u, 6397u, 6398u, 6399u, 6400u, 6401u, 12800u, 20000u}) {
    SCOPED_TRACE(size);
    const std::vector<unsigned char> content = RandomBytes(size, static_cast<unsigned>(size));
    const std::string path = Make("f" + std::to_string(size), content);

    std::uint32_t out[5] = {};
    ASSERT_EQ(SHAFile(path.c_str(), out), 0);
    EXPECT_EQ(Hex(out), OracleSha1(content));

    std::vector<unsigned char> with_date = content;
    with_date.insert(with_date.end(), date_bytes, date_bytes + 4);
    ASSERT_EQ(SHAFileDate(path.c_str(), date, out), 0);
    EXPECT_EQ(Hex(out), OracleSha1(with_date));
  }
}

TEST_F(Sha1Files, FilesThatCannotBeDigested) {
  const std::uint32_t sentinel[5] = {1, 2, 3, 4, 5};
  struct Case {
    const char* why;
    std::string path;
  };
  const Case cases[] = {
      {"missing", dir_ + "/missing"},
      {"a directory", dir_},
      {"read fails", "/proc/self/mem"},  // opens, but reading at offset 0 fails
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::uint32_t out[5];
    std::memcpy(out, sentinel, sizeof out);
    EXPECT_EQ(SHAFile(c.path.c_str(), out), 1);
    EXPECT_EQ(SHAFileDate(c.path.c_str(), 7, out), 1);
    EXPECT_EQ(std::memcmp(out, sentinel, sizeof out), 0);
  }
}

}  // namespace
