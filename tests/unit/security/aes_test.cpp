// AES: the FIPS-197 and SP 800-38A known answers, OpenSSL as an oracle for CBC, and
// buffers that are not whole blocks.
#include "security/aes.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_bytes.h"

namespace {

using vq::testing::RandomBytes;

std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

QuilAES_Context KeyFor(const std::vector<unsigned char>& key) {
  QuilAES_Context ctx;
  EXPECT_NE(QuilAES_KeyInit(&ctx, key.data(), static_cast<unsigned>(key.size() * 8)), 0);
  return ctx;
}

// OpenSSL's CBC without padding over whole blocks.
std::vector<unsigned char> OracleCbc(bool encrypt, const std::vector<unsigned char>& key,
                                     const unsigned char iv[16],
                                     const std::vector<unsigned char>& in) {
  const EVP_CIPHER* cipher = key.size() == 16   ? EVP_aes_128_cbc()
                             : key.size() == 24 ? EVP_aes_192_cbc()
                                                : EVP_aes_256_cbc();
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  std::vector<unsigned char> out(in.size() + 16);
  int n = 0, tail = 0;
  EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_CipherUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size()));
  EVP_CipherFinal_ex(ctx, out.data() + n, &tail);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<std::size_t>(n + tail));
  return out;
}

TEST(Aes, KnownAnswers) {
  struct Case {
    const char* name;
    const char* key;
    const char* plain;
    const char* cipher;
  };
  const Case cases[] = {
      {"FIPS-197 B", "2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
       "3925841d02dc09fbdc118597196a0b32"},
      {"FIPS-197 C.1", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
       "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"FIPS-197 C.2", "000102030405060708090a0b0c0d0e0f1011121314151617",
       "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {"FIPS-197 C.3", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<unsigned char> key = FromHex(c.key);
    const QuilAES_Context ctx = KeyFor(key);
    EXPECT_EQ(ctx.rounds, static_cast<int>(key.size() * 8 / 32 + 6));

    std::vector<unsigned char> buf = FromHex(c.plain);
    unsigned char out[16];
    EXPECT_NE(QuilAES_EncryptBlock(&ctx, buf.data(), out), 0);
    EXPECT_EQ(std::vector<unsigned char>(out, out + 16), FromHex(c.cipher));
    // In place, both ways.
    EXPECT_NE(QuilAES_EncryptBlock(&ctx, buf.data(), buf.data()), 0);
    EXPECT_EQ(buf, FromHex(c.cipher));
    EXPECT_NE(QuilAES_DecryptBlock(&ctx, buf.data(), buf.data()), 0);
    EXPECT_EQ(buf, FromHex(c.plain));
    QuilAES_KeyFini(nullptr);
  }
}

TEST(Aes, KeyLengthsOtherThan128_192_256AreRefused) {
  const std::vector<unsigned char> key = RandomBytes(64, 1);
  for (unsigned bits : {0u, 8u, 64u, 127u, 129u, 160u, 224u, 255u, 257u, 384u, 512u}) {
    QuilAES_Context ctx;
    std::memset(&ctx, 0xAB, sizeof ctx);
    EXPECT_EQ(QuilAES_KeyInit(&ctx, key.data(), bits), 0) << bits;
    EXPECT_EQ(ctx.rounds, static_cast<std::int32_t>(0xABABABABu)) << "context untouched";
  }
  QuilAES_Context ctx;
  EXPECT_EQ(QuilAES_KeyInit(&ctx, nullptr, 128), 0);
  EXPECT_EQ(QuilAES_KeyInit(nullptr, key.data(), 128), 0);
}

TEST(Aes, CbcSp800_38aVector) {
  const std::vector<unsigned char> key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
  const std::vector<unsigned char> iv = FromHex("000102030405060708090a0b0c0d0e0f");
  std::vector<unsigned char> buf = FromHex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  const std::vector<unsigned char> plain = buf;
  const QuilAES_Context ctx = KeyFor(key);
  EXPECT_EQ(QuilAES_EncryptCBC(&ctx, iv.data(), buf.data(), buf.size()), 1);
  EXPECT_EQ(buf, FromHex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                         "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"));
  EXPECT_EQ(QuilAES_DecryptCBC(&ctx, iv.data(), buf.data(), buf.size()), 1);
  EXPECT_EQ(buf, plain);
}

TEST(Aes, CbcMatchesOpenSsl) {
  for (std::size_t key_bytes : {16u, 24u, 32u}) {
    for (std::size_t blocks : {1u, 2u, 3u, 7u, 64u}) {
      SCOPED_TRACE(testing::Message() << key_bytes * 8 << "-bit key, " << blocks << " blocks");
      const auto seed = static_cast<unsigned>(key_bytes * 100 + blocks);
      const std::vector<unsigned char> key = RandomBytes(key_bytes, seed);
      const std::vector<unsigned char> iv = RandomBytes(16, seed + 1);
      const std::vector<unsigned char> plain = RandomBytes(16 * blocks, seed + 2);
      const std::vector<unsigned char> iv_before = iv;
      const QuilAES_Context ctx = KeyFor(key);

      std::vector<unsigned char> buf = plain;
      EXPECT_EQ(QuilAES_EncryptCBC(&ctx, iv.data(), buf.data(), buf.size()), 1);
      EXPECT_EQ(buf, OracleCbc(true, key, iv.data(), plain));
      // The first block is the cipher of (first plain block xor vector).
      unsigned char first[16];
      for (int i = 0; i < 16; ++i) first[i] = plain[i] ^ iv[i];
      QuilAES_EncryptBlock(&ctx, first, first);
      EXPECT_EQ(std::memcmp(first, buf.data(), 16), 0);

      const std::vector<unsigned char> cipher = buf;
      EXPECT_EQ(QuilAES_DecryptCBC(&ctx, iv.data(), buf.data(), buf.size()), 1);
      EXPECT_EQ(buf, plain);
      EXPECT_EQ(OracleCbc(false, key, iv.data(), cipher), plain);
      EXPECT_EQ(iv, iv_before) << "the vector is only read";
    }
  }
}

TEST(Aes, CbcLengthsThatAreNotWholeBlocks) {
  // Only the leading whole blocks are enciphered; the bytes after them, and everything
  // past the buffer, stay as they are, and decryption restores the same blocks. The
  // buffer is exactly `length` bytes on the heap, so the sanitizer build sees any
  // overrun; guard bytes around a copy catch it in the plain build.
  const std::vector<unsigned char> key = RandomBytes(32, 41);
  const std::vector<unsigned char> iv = RandomBytes(16, 42);
  const QuilAES_Context ctx = KeyFor(key);
  constexpr std::size_t kGuard = 16;
  for (std::size_t length = 0; length <= 50; ++length) {
    SCOPED_TRACE(length);
    const std::vector<unsigned char> plain = RandomBytes(length, static_cast<unsigned>(length));
    std::vector<unsigned char> exact = plain;
    QuilAES_EncryptCBC(&ctx, iv.data(), exact.data(), exact.size());
    const std::size_t whole = length / 16 * 16;
    EXPECT_TRUE(std::equal(exact.begin() + whole, exact.end(), plain.begin() + whole));
    if (whole != 0) {
      const std::vector<unsigned char> head(plain.begin(), plain.begin() + whole);
      EXPECT_TRUE(std::equal(exact.begin(), exact.begin() + whole,
                             OracleCbc(true, key, iv.data(), head).begin()));
    } else {
      EXPECT_EQ(exact, plain);
    }
    QuilAES_DecryptCBC(&ctx, iv.data(), exact.data(), exact.size());
    EXPECT_EQ(exact, plain);

    std::vector<unsigned char> guarded(kGuard + length + kGuard, 0xFF);
    std::copy(plain.begin(), plain.end(), guarded.begin() + kGuard);
    QuilAES_EncryptCBC(&ctx, iv.data(), guarded.data() + kGuard, length);
    QuilAES_DecryptCBC(&ctx, iv.data(), guarded.data() + kGuard, length);
    for (std::size_t i = 0; i < kGuard; ++i) {
      ASSERT_EQ(guarded[i], 0xFF);
      ASSERT_EQ(guarded[kGuard + length + i], 0xFF);
    }
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), guarded.begin() + kGuard));
  }
}

}  // namespace
