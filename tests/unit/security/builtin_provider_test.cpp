// The built-in provider, through the environment's slot 0 and through its own tables:
// AES-CBC with the provider's key derivation and the hashers, checked against OpenSSL.
#include "security/builtin_provider.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>
#include <vector>

#include "security/vcci_environment.h"
#include "security/vcci_objects.h"
#include "vcci_test_host.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes pattern(std::size_t n, unsigned seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(seed * 31 + i * 7 + 1);
  return b;
}

// OpenSSL: `in` under `cipher` and key, no padding.
Bytes ossl_crypt(const EVP_CIPHER* cipher, const Bytes& key, const unsigned char* iv,
                 const Bytes& in, bool encrypt) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 32);
  int n = 0;
  int tail = 0;
  EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_CipherUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size()));
  EVP_CipherFinal_ex(ctx, out.data() + n, &tail);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<std::size_t>(n + tail));
  return out;
}

// The provider's key derivation, written out over OpenSSL's ECB.
Bytes expected_key(const Bytes& material, std::size_t k) {
  const EVP_CIPHER* ecb = k == 16 ? EVP_aes_128_ecb() : EVP_aes_256_ecb();
  Bytes acc(k, 0);
  for (std::size_t off = 0; off < material.size(); off += k) {
    Bytes chunk(k, 0);
    std::memcpy(chunk.data(), material.data() + off, std::min(k, material.size() - off));
    for (std::size_t i = 0; i < k; ++i) acc[i] ^= chunk[i];
    acc = ossl_crypt(ecb, chunk, nullptr, acc, true);
  }
  return acc;
}

Bytes iv_of(std::uint32_t word) {
  Bytes iv;
  for (int r = 0; r < 4; ++r) {
    for (int s = 0; s < 32; s += 8) iv.push_back(static_cast<unsigned char>(word >> s));
  }
  return iv;
}

Bytes ossl_digest(const EVP_MD* md, const Bytes& data) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned n = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &n, md, nullptr);
  out.resize(n);
  return out;
}

// An initialised environment over the counting host, finished at the end of the test.
class Builtin : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, env_.Init(0, "VC Client", nullptr, &error_)); }
  void TearDown() override {
    env_.Fini();
    EXPECT_EQ(0, host_.live_blocks) << "the provider released every block it took";
  }
  TestHost host_;
  a_vcci_callbacks cb_ = TestHost::callbacks();
  DBVCCIEnvironment env_{&cb_, &host_};
  DBVCCIError error_;
};

TEST_F(Builtin, EnciphersLikeAesCbcUnderTheDerivedKey) {
  struct Case {
    const char* name;
    std::size_t material;  // bytes of key material
    std::size_t key;       // AES key bytes
    std::size_t length;    // bytes enciphered
  };
  const Case cases[] = {
      {"AES256", 32, 32, 16},   // the connect road: 32 random bytes, one block
      {"aes_256", 32, 32, 64},  // names compare without regard to case
      {"AES-256", 40, 32, 48},  // a 32-byte chunk and an 8-byte one padded with zeros
      {"AES-256", 1, 32, 16},   // the one-byte dummy key of the level check
      {"AES-256", 0, 32, 32},   // no material: an all-zero key
      {"AES", 16, 16, 32},     {"AES_128", 33, 16, 16},
      {nullptr, 20, 16, 16},  // no name: AES-128
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name ? c.name : "(null)") + " material " +
                 std::to_string(c.material));
    const Bytes material = pattern(c.material, 3);
    const unsigned char none = 0;  // key present, of length 0
    DBVCCIBlockEncrypter* enc =
        env_.CreateBlockEncrypter(c.name, material.empty() ? &none : material.data(),
                                  static_cast<unsigned>(c.material), nullptr, &error_);
    ASSERT_NE(nullptr, enc);
    EXPECT_EQ(c.key == 16 ? 2 : 4, enc->GetAlgorithmID());
    EXPECT_EQ(16u, enc->GetBlockSize());
    EXPECT_EQ(nullptr, enc->GetDLLName());
    const std::uint32_t iv_word = 0xA1B2C3D4;
    const Bytes plain = pattern(c.length, 9);
    Bytes buf = plain;
    ASSERT_EQ(0u, enc->Encrypt(buf.data(), static_cast<unsigned>(buf.size()), iv_word));
    const EVP_CIPHER* cbc = c.key == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc();
    EXPECT_EQ(
        ossl_crypt(cbc, expected_key(material, c.key), iv_of(iv_word).data(), plain, true),
        buf);
    ASSERT_EQ(0u, enc->Decrypt(buf.data(), static_cast<unsigned>(buf.size()), iv_word));
    EXPECT_EQ(plain, buf);
    delete enc;
  }
}

TEST_F(Builtin, LengthsThatAreNotWholeBlocksAreRefusedUntouched) {
  const Bytes key = pattern(32, 1);
  DBVCCIBlockEncrypter* enc =
      env_.CreateBlockEncrypter("AES256", key.data(), 32, nullptr, &error_);
  ASSERT_NE(nullptr, enc);
  for (unsigned length : {0u, 1u, 15u, 17u, 31u, 33u, 47u}) {
    SCOPED_TRACE(length);
    // Guard bytes on both sides: nothing outside the data may change, and nothing in it.
    Bytes buf(16, 0xFF);
    const Bytes data = pattern(length, 2);
    buf.insert(buf.end(), data.begin(), data.end());
    buf.insert(buf.end(), 16, 0xFF);
    const Bytes before = buf;
    EXPECT_EQ(1u, enc->Encrypt(buf.data() + 16, length, 7));
    EXPECT_EQ(34u, enc->GetLastError()->GetCode());
    EXPECT_EQ(1u, enc->Decrypt(buf.data() + 16, length, 7));
    EXPECT_EQ(before, buf);
  }
  delete enc;
}

TEST_F(Builtin, EncrypterCreationErrors) {
  const unsigned char key[32] = {};
  struct Case {
    const char* name;
    const unsigned char* key;
    std::uint32_t code;
  };
  const Case cases[] = {
      {"AES512", key, 21},  // no such cipher
      {"DES", key, 21},
      {"AES256", nullptr, 29},  // no key
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(nullptr, env_.CreateBlockEncrypter(c.name, c.key, 32, nullptr, &error_));
    EXPECT_EQ(c.code, error_.GetCode());
  }
  EXPECT_EQ(nullptr, env_.CreateBlockEncrypterWithID(9, key, 32, nullptr, &error_));
  EXPECT_EQ(21u, error_.GetCode());
  DBVCCIBlockEncrypter* by_id = env_.CreateBlockEncrypterWithID(4, key, 32, nullptr, &error_);
  ASSERT_NE(nullptr, by_id);
  EXPECT_EQ(4, by_id->GetAlgorithmID());
  delete by_id;
}

TEST_F(Builtin, HashesMatchOpenSslInUnevenPieces) {
  struct Case {
    const char* name;
    unsigned char number;
    const EVP_MD* md;
    unsigned size;
    unsigned block;
  };
  const Case cases[] = {
      {"SHA-256", 1, EVP_sha256(), 32, 0},
      {"sha1", 3, EVP_sha1(), 20, 64},
      {"MD5", 5, EVP_md5(), 16, 0},
  };
  const Bytes data = pattern(1000, 5);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DBVCCIBlockHasher* h = env_.CreateBlockHasher(c.name, &error_);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(c.number, h->GetAlgorithmID());
    EXPECT_EQ(c.size, h->GetMaxHashSize());
    EXPECT_EQ(c.block, h->GetBlockSize());
    for (std::size_t piece : {1000u, 1u, 7u, 63u, 64u, 65u, 333u}) {
      SCOPED_TRACE(piece);
      ASSERT_EQ(0u, h->BeginHash());
      for (std::size_t off = 0; off < data.size(); off += piece) {
        ASSERT_EQ(0u, h->AddData(data.data() + off,
                                 static_cast<unsigned>(std::min(piece, data.size() - off))));
      }
      Bytes out(c.size);
      ASSERT_EQ(0u, h->EndHash(out.data(), c.size));
      EXPECT_EQ(ossl_digest(c.md, data), out);
    }
    delete h;
  }
}

TEST_F(Builtin, HasherByNameAndItsQuirks) {
  // CRC-32 of "abc", most significant byte first.
  DBVCCIBlockHasher* crc = env_.CreateBlockHasher("crc", &error_);
  ASSERT_NE(nullptr, crc);
  EXPECT_EQ(6, crc->GetAlgorithmID());
  ASSERT_EQ(0u, crc->BeginHash());
  crc->AddData(reinterpret_cast<const unsigned char*>("a"), 1);
  crc->AddData(reinterpret_cast<const unsigned char*>("bc"), 2);
  unsigned char out[32] = {};
  ASSERT_EQ(0u, crc->EndHash(out, 4));
  EXPECT_EQ(0, std::memcmp(out, "\x35\x24\x41\xC2", 4));
  delete crc;

  // An output smaller than the hash fails with 34 and writes nothing.
  DBVCCIBlockHasher* sha1 = env_.CreateBlockHasher("SHA_1", &error_);
  ASSERT_NE(nullptr, sha1);
  sha1->AddData(reinterpret_cast<const unsigned char*>("abc"), 3);
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(1u, sha1->EndHash(out, 16));
  EXPECT_EQ(34u, sha1->GetLastError()->GetCode());
  EXPECT_EQ(0xEE, out[0]);
  ASSERT_EQ(0u, sha1->EndHash(out, 20));
  EXPECT_EQ(0, std::memcmp(out,
                           "\xA9\x99\x3E\x36\x47\x06\x81\x6A\xBA\x3E\x25\x71\x78\x50\xC2\x6C"
                           "\x9C\xD0\xD8\x9D",
                           20));
  delete sha1;

  for (const char* bad : {"SHA512", "md4", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(nullptr, env_.CreateBlockHasher(bad, &error_));
    EXPECT_EQ(22u, error_.GetCode());
  }
  EXPECT_EQ(nullptr, env_.CreateBlockHasher(nullptr, &error_));
  EXPECT_EQ(22u, error_.GetCode());
  EXPECT_EQ(nullptr, env_.CreateBlockHasherWithID(2, &error_));  // the FIPS SHA-256: slot 3
  EXPECT_NE(0u, error_.GetCode());
}

TEST_F(Builtin, PasswordHasherIsSha256OfExactly32Bytes) {
  DBVCCIPasswordHasher* p = env_.CreatePasswordHasher(&error_);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(1, p->GetAlgorithmID());
  EXPECT_EQ(32u, p->GetMaxHashSize());
  const Bytes pwd = {'s', 'e', 'c', 'r', 'e', 't'};
  Bytes out(64, 0);
  EXPECT_EQ(1u, p->Hash(pwd.data(), 6, out.data(), 64));
  EXPECT_EQ(0u, p->GetLastError()->GetCode()) << "a refused size sets no error";
  ASSERT_EQ(0u, p->Hash(pwd.data(), 6, out.data(), 32));
  out.resize(32);
  EXPECT_EQ(ossl_digest(EVP_sha256(), pwd), out);
  delete p;

  EXPECT_EQ(nullptr, env_.CreatePasswordHasherWithID(3, &error_));
  EXPECT_EQ(22u, error_.GetCode());
  p = env_.CreatePasswordHasherWithID(1, &error_);
  ASSERT_NE(nullptr, p);
  delete p;
}

TEST_F(Builtin, QueriesReportOnlyWhatTheProviderAdvertises) {
  struct Case {
    const char* name;
    bool hasher;
    bool supported;
  };
  const Case by_name[] = {
      {"SHA1", true, true},          {"sha-256", true, true}, {"MD5", true, false},
      {"CRC32", true, false},        {"AES", false, true},    {"aes-256", false, true},
      {"AES256_FIPS", false, false},  // a FIPS name: slot 3, no module here
  };
  {
    ModuleRoot nowhere("/nonexistent");
    for (const Case& c : by_name) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(c.supported, c.hasher ? env_.IsBlockHasherAlgorithmSupported(c.name)
                                      : env_.IsBlockEncrypterAlgorithmSupported(c.name));
    }
  }
  EXPECT_TRUE(env_.IsBlockHasherAlgorithmSupported(static_cast<unsigned char>(5)));
  EXPECT_FALSE(env_.IsBlockHasherAlgorithmSupported(static_cast<unsigned char>(6)));
  EXPECT_TRUE(env_.IsBlockEncrypterAlgorithmSupported(static_cast<unsigned char>(4)));
  EXPECT_FALSE(env_.IsBlockEncrypterAlgorithmSupported(static_cast<unsigned char>(9)));
  // MD5 is not reported, yet it can be made.
  DBVCCIBlockHasher* md5 = env_.CreateBlockHasher("md5", &error_);
  ASSERT_NE(nullptr, md5);
  delete md5;
}

TEST(BuiltinTables, SlotOrderOfTheFilledTables) {
  namespace b = vq::vcci_builtin;
  a_vcci_env_iface env{};
  ASSERT_EQ(0, b::VCCIGetEnvIface(&env));
  EXPECT_EQ(&b::VCCIEnvironment_Create, env.Create);
  EXPECT_EQ(nullptr, env.IsStreamAlgorithmSupported);
  EXPECT_EQ(nullptr, env.IsStreamAlgorithmIDSupported);
  EXPECT_EQ(&b::VCCI_IsPasswordHasherAlgorithmIDSupported,
            env.IsPasswordHasherAlgorithmIDSupported);
  a_vcci_block_encrypter_iface enc{};
  ASSERT_EQ(0, b::VCCIGetBlockEncrypterIface(&enc));
  EXPECT_EQ(&b::VCCIBlockEncrypter_Encrypt, enc.Encrypt);
  EXPECT_EQ(&b::VCCIBlockEncrypter_Destroy, enc.Destroy);
  a_vcci_block_hasher_iface hash{};
  ASSERT_EQ(0, b::VCCIGetBlockHasherIface(&hash));
  EXPECT_EQ(&b::VCCIBlockHasher_AddData, hash.AddData);
  EXPECT_EQ(&b::VCCIBlockHasher_Destroy, hash.Destroy);

  // The FIPS option switches the provider into FIPS mode, and is marked used.
  Options fips{{"fips", "yes"}};
  a_vcci_error err{};
  void* e = b::VCCIEnvironment_Create(nullptr, nullptr, fips.list(), "app", &err);
  ASSERT_NE(nullptr, e);
  EXPECT_TRUE(b::VCCIEnvironment_IsFIPS(e));
  EXPECT_EQ(1, fips.at(0).used);
  // The provider itself takes a null hasher name as MD5.
  void* md5 = b::VCCIBlockHasher_Create(e, nullptr, &err);
  ASSERT_NE(nullptr, md5);
  EXPECT_EQ(5u, b::VCCIBlockHasher_GetAlgorithmID(md5));
  b::VCCIBlockHasher_Destroy(md5);
  b::VCCIEnvironment_Destroy(e);
}

}  // namespace
