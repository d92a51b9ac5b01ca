// SHA-256: the FIPS 180-2 examples, OpenSSL as an oracle for input fed in uneven
// chunks, and byte counts of 512 MiB and more.
#define OPENSSL_SUPPRESS_DEPRECATED  // the low-level context lets us preset its bit count
#include "utils/base/sha256.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_bytes.h"

namespace {

using vq::testing::Hex;
using vq::testing::RandomBytes;

std::string Sha256InChunks(const std::vector<unsigned char>& data,
                           const std::vector<std::size_t>& chunks) {
  UT_SHA256_CTX ctx;
  EXPECT_EQ(UT_SHA256_Init(&ctx), 1);
  std::size_t at = 0;
  for (std::size_t chunk : chunks) {
    EXPECT_EQ(UT_SHA256_Update(&ctx, data.data() + at, static_cast<unsigned>(chunk)), 1);
    at += chunk;
  }
  UT_SHA256_Update(&ctx, data.data() + at, static_cast<unsigned>(data.size() - at));
  unsigned char digest[32];
  EXPECT_EQ(UT_SHA256_Final(&ctx, digest), 1);
  return Hex(digest, 32);
}

std::string OracleSha256(const std::vector<unsigned char>& data) {
  unsigned char digest[32];
  SHA256(data.data(), data.size(), digest);
  return Hex(digest, 32);
}

TEST(Sha256, Fips180Examples) {
  struct Case {
    std::string text;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    const auto* bytes = reinterpret_cast<const unsigned char*>(c.text.data());
    const auto len = static_cast<unsigned>(c.text.size());
    unsigned char digest[32];
    EXPECT_EQ(UT_SHA256_Hash(digest, bytes, len), 1);
    EXPECT_EQ(Hex(digest, 32), c.digest);

    // The context form, and the state words left holding the digest bytes.
    UT_SHA256_CTX ctx;
    UT_SHA256_Init(&ctx);
    UT_SHA256_Update(&ctx, bytes, len);
    UT_SHA256_Final(&ctx, digest);
    EXPECT_EQ(Hex(digest, 32), c.digest);
    EXPECT_EQ(std::memcmp(ctx.state, digest, 32), 0);
  }
}

TEST(Sha256, SameDigestHoweverTheInputIsCut) {
  for (std::size_t n : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 150u}) {
    const std::vector<unsigned char> data = RandomBytes(n, static_cast<unsigned>(n) + 100);
    const std::string expected = OracleSha256(data);
    for (std::size_t i = 0; i <= n; ++i) {
      for (std::size_t j = i; j <= n; ++j) {
        ASSERT_EQ(Sha256InChunks(data, {i, j - i}), expected)
            << n << " bytes cut at " << i << ", " << j;
      }
    }
  }
}

TEST(Sha256, UnevenChunkSequences) {
  const std::vector<unsigned char> data = RandomBytes(5000, 12);
  const std::string expected = OracleSha256(data);
  const std::vector<std::vector<std::size_t>> sequences = {
      std::vector<std::size_t>(5000, 1),
      {1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144, 233, 377, 610, 987, 1597},
      {63, 1, 63, 2, 127, 64, 65, 0, 0, 3, 200, 1000, 7},
      {4999},
  };
  for (const auto& chunks : sequences) {
    EXPECT_EQ(Sha256InChunks(data, chunks), expected) << chunks.size() << " chunks";
  }
}

TEST(Sha256, StartedAgainAfterFinal) {
  const std::vector<unsigned char> data = RandomBytes(77, 13);
  UT_SHA256_CTX ctx;
  unsigned char first[32], second[32];
  UT_SHA256_Init(&ctx);
  UT_SHA256_Update(&ctx, data.data(), 77);
  UT_SHA256_Final(&ctx, first);
  UT_SHA256_Init(&ctx);
  UT_SHA256_Update(&ctx, data.data(), 77);
  UT_SHA256_Final(&ctx, second);
  EXPECT_EQ(Hex(first, 32), Hex(second, 32));
  EXPECT_EQ(Hex(first, 32), OracleSha256(data));
}

TEST(Sha256, ByteCountBeyond32Bits) {
  // Preset both contexts to the same state after a long input, then add a tail. From
  // 512 MiB on, the bit length needs more than 32 bits; from 4 GiB on, so does the
  // byte count. Either kept in 32 bits gives a wrong length field in the padding.
  struct Case {
    std::uint64_t bytes_before;  // a multiple of 64: nothing pending
    std::size_t tail;
  };
  const Case cases[] = {
      {(1ull << 29) - 64, 100}, {1ull << 29, 0},          {(1ull << 32) - 64, 130},
      {1ull << 32, 56},         {(1ull << 40) + 640, 55},
  };
  const std::vector<unsigned char> block = RandomBytes(64, 14);
  const std::vector<unsigned char> tail = RandomBytes(200, 15);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes_before);
    UT_SHA256_CTX ours;
    UT_SHA256_Init(&ours);
    UT_SHA256_Update(&ours, block.data(), 64);
    SHA256_CTX theirs;
    SHA256_Init(&theirs);
    SHA256_Update(&theirs, block.data(), 64);

    ours.total_bytes = c.bytes_before;
    const std::uint64_t bits = c.bytes_before << 3;
    theirs.Nl = static_cast<std::uint32_t>(bits);
    theirs.Nh = static_cast<std::uint32_t>(bits >> 32);

    UT_SHA256_Update(&ours, tail.data(), static_cast<unsigned>(c.tail));
    SHA256_Update(&theirs, tail.data(), c.tail);
    unsigned char a[32], b[32];
    UT_SHA256_Final(&ours, a);
    SHA256_Final(b, &theirs);
    EXPECT_EQ(Hex(a, 32), Hex(b, 32));
  }
}

}  // namespace
