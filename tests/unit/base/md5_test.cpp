// MD5: the RFC 1321 suite, OpenSSL as an oracle for input fed in uneven chunks, and
// bit counts that no longer fit in 32 bits.
#define OPENSSL_SUPPRESS_DEPRECATED  // the low-level context lets us preset its bit count
#include "utils/base/md5.h"

#include <gtest/gtest.h>
#include <openssl/md5.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_bytes.h"

namespace {

using vq::testing::Hex;
using vq::testing::RandomBytes;

// Our digest of `data` fed in the given chunks (the rest of the data in one last call).
std::string Md5InChunks(const std::vector<unsigned char>& data,
                        const std::vector<std::size_t>& chunks) {
  md5_state_t st;
  md5_init(&st);
  std::size_t at = 0;
  for (std::size_t chunk : chunks) {
    md5_append(&st, data.data() + at, static_cast<int>(chunk));
    at += chunk;
  }
  md5_append(&st, data.data() + at, static_cast<int>(data.size() - at));
  unsigned char digest[16];
  md5_finish(&st, digest);
  return Hex(digest, 16);
}

std::string OracleMd5(const std::vector<unsigned char>& data) {
  unsigned char digest[16];
  MD5(data.data(), data.size(), digest);
  return Hex(digest, 16);
}

TEST(Md5, Rfc1321Suite) {
  struct Case {
    const char* text;
    const char* digest;
  };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
       "0",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    md5_state_t st;
    md5_init(&st);
    md5_append(&st, reinterpret_cast<const unsigned char*>(c.text),
               static_cast<int>(std::strlen(c.text)));
    unsigned char digest[16];
    md5_finish(&st, digest);
    EXPECT_EQ(Hex(digest, 16), c.digest);
  }
}

TEST(Md5, SameDigestHoweverTheInputIsCut) {
  // Lengths around the block and padding boundaries, each cut at every pair of offsets:
  // a partial block carried from one call to the next must never be lost.
  for (std::size_t n : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 150u}) {
    const std::vector<unsigned char> data = RandomBytes(n, static_cast<unsigned>(n));
    const std::string expected = OracleMd5(data);
    for (std::size_t i = 0; i <= n; ++i) {
      for (std::size_t j = i; j <= n; ++j) {
        ASSERT_EQ(Md5InChunks(data, {i, j - i}), expected)
            << n << " bytes cut at " << i << ", " << j;
      }
    }
  }
}

TEST(Md5, UnevenChunkSequences) {
  const std::vector<unsigned char> data = RandomBytes(5000, 11);
  const std::string expected = OracleMd5(data);
  const std::vector<std::vector<std::size_t>> sequences = {
      std::vector<std::size_t>(5000, 1),  // one byte at a time
      {1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144, 233, 377, 610, 987, 1597},
      {63, 1, 63, 2, 127, 64, 65, 0, 0, 3, 200, 1000, 7},
      {4999},
  };
  for (const auto& chunks : sequences) {
    EXPECT_EQ(Md5InChunks(data, chunks), expected) << chunks.size() << " chunks";
  }
}

TEST(Md5, CountOfZeroOrLessChangesNothing) {
  const std::vector<unsigned char> data = RandomBytes(100, 3);
  md5_state_t st;
  md5_init(&st);
  md5_append(&st, data.data(), 37);  // leave a partial block in the context
  md5_state_t before;
  std::memcpy(&before, &st, sizeof st);
  for (int count : {0, -1, -37, -2147483647 - 1}) {
    md5_append(&st, data.data(), count);
    ASSERT_EQ(std::memcmp(&before, &st, sizeof st), 0) << "count " << count;
  }
  md5_append(&st, data.data() + 37, 63);
  unsigned char digest[16];
  md5_finish(&st, digest);
  EXPECT_EQ(Hex(digest, 16), OracleMd5(data));
}

TEST(Md5, BitCountBeyond32Bits) {
  // Preset both contexts to the same state after a long input, then add a tail that
  // carries the bit count across 2^32 bits (512 MiB) and beyond; the length field of
  // the padding must be the 64-bit count.
  struct Case {
    std::uint64_t bytes_before;  // a multiple of 64: nothing pending
    std::size_t tail;
  };
  const Case cases[] = {
      {(1ull << 29) - 64, 100},  // crosses 2^32 bits inside the tail
      {1ull << 29, 0},           // exactly 2^32 bits
      {(1ull << 32) - 64, 130},  // crosses 2^32 bytes
      {1ull << 40, 55},
      {(1ull << 61) - 64, 64},  // the bit count wraps at 2^64, as the standard says
  };
  const std::vector<unsigned char> block = RandomBytes(64, 5);
  const std::vector<unsigned char> tail = RandomBytes(200, 6);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes_before);
    md5_state_t ours;
    md5_init(&ours);
    md5_append(&ours, block.data(), 64);
    MD5_CTX theirs;
    MD5_Init(&theirs);
    MD5_Update(&theirs, block.data(), 64);

    const std::uint64_t bits = c.bytes_before << 3;
    ours.count[0] = theirs.Nl = static_cast<std::uint32_t>(bits);
    ours.count[1] = theirs.Nh = static_cast<std::uint32_t>(bits >> 32);

    md5_append(&ours, tail.data(), static_cast<int>(c.tail));
    MD5_Update(&theirs, tail.data(), c.tail);
    unsigned char a[16], b[16];
    md5_finish(&ours, a);
    MD5_Final(b, &theirs);
    EXPECT_EQ(Hex(a, 16), Hex(b, 16));
  }
}

}  // namespace
