#include "connect_request.h"

#include <gtest/gtest.h>

#include "script_client.h"

using namespace vqeng;

TEST(ConnectString, Pairs) {
  struct Case {
    const char* text;
    std::map<std::string, std::string> want;
  };
  const Case cases[] = {
      {"UID=DBA;DBN=demo", {{"UID", "DBA"}, {"DBN", "demo"}}},
      {"uid=a;;pwd=", {{"UID", "a"}, {"PWD", ""}}},
      {"APP='IP=1.2.3.4;API=QuillonJDBC|ODBC';CON=c1",
       {{"APP", "IP=1.2.3.4;API=QuillonJDBC|ODBC"}, {"CON", "c1"}}},
      {"PWD='it''s;x'", {{"PWD", "it's;x"}}},
      {"DBF=/tmp/a b.db", {{"DBF", "/tmp/a b.db"}}},
      {"", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::map<std::string, std::string> got;
    std::string why;
    ASSERT_TRUE(parse_connect_string(c.text, got, why)) << why;
    EXPECT_EQ(got, c.want);
  }
  for (const char* bad : {"UID", "UID=a;PWD", "PWD='open"}) {
    SCOPED_TRACE(bad);
    std::map<std::string, std::string> got;
    std::string why;
    EXPECT_FALSE(parse_connect_string(bad, got, why));
    EXPECT_FALSE(why.empty());
  }
}

namespace {
std::string from_hex(const std::string& h) {
  std::string out;
  for (std::size_t i = 0; i + 1 < h.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return out;
}
}  // namespace

// Vectors computed apart from this code (Python's cryptography package, and the
// openssl command for the first): the key is the material's two blocks enciphered
// with AES-256-ECB under the material, the IV the first material byte as a
// little-endian word four times, the text zero-terminated and zero-padded to 16.
TEST(SecurePart, KnownVectors) {
  struct Case {
    const char* name;
    const char* material;
    const char* key;
    std::uint32_t iv_word;
    const char* text;
    const char* cipher;
  };
  const Case cases[] = {
      {"counting bytes", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "5a6e045708fb7196f02e553d02c3a692e9c3ef8ab23453e6f0749cd636e7a88e", 0x00, "PWD=sql",
       "ee24234a16ee347ca33d99dd7568d464"},
      {"two blocks", "5a61686f767d848b9299a0a7aeb5bcc3cad1d8dfe6edf4fb020910171e252c33",
       "db5e922941f8525b026021cac21692230ea81cfb4f31634b5422096c84197fa3", 0x5A,
       "PWD=sql;DBKEY=k;NEWPWD='a;b'",
       "2891f327f1051569356babd4fa923ce4e0ab0013fba30b0f1a555e2696c390e9"},
      {"first byte above 0x7F, 15 characters",
       "f0f3f6f9fcff0205080b0e1114171a1d202326292c2f3235383b3e4144474a4d",
       "222f05c80231e00816192d3b4cfea827665d1d49b02f4035c40d35de6782d918", 0xF0,
       "PWD=xxxxxxxxxxx", "5f0c402d8d105d73d7bee8e7d28002de"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string material = from_hex(c.material);
    const auto* m = reinterpret_cast<const std::uint8_t*>(material.data());
    std::uint8_t key[kSecureKeyBytes];
    ASSERT_TRUE(derive_secure_part_key(m, material.size(), key));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key), sizeof key), from_hex(c.key));
    EXPECT_EQ(secure_part_iv_word(m), c.iv_word);
    EXPECT_EQ(encipher_secure_part(c.text, m), from_hex(c.cipher));
    std::string plain, why;
    ASSERT_TRUE(decipher_secure_part(from_hex(c.cipher), m, plain, why)) << why;
    EXPECT_EQ(plain, c.text);
    // The scripted client the session tests use enciphers the same way.
    EXPECT_EQ(script::encipher(c.text, m), from_hex(c.cipher));
  }
}

TEST(SecurePart, DeciphersWhatOpenSslEnciphered) {
  std::uint8_t key[32];
  for (int i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(0xC3 ^ (i * 29));
  // A three-character password: 7 characters, a zero and 8 zero bytes: one block.
  const std::string one_block = script::encipher("PWD=abc", key);
  EXPECT_EQ(one_block.size(), 16u);
  // 15 characters and the zero fill 16 bytes exactly; 16 characters need 32.
  EXPECT_EQ(script::encipher("PWD=abcdefghijk", key).size(), 16u);
  EXPECT_EQ(script::encipher("PWD=abcdefghijkl", key).size(), 32u);
  const char* texts[] = {"PWD=abc", "PWD=abcdefghijk", "PWD=sql;DBKEY=k1;NEWPWD=n2",
                         "PWD='a;b'"};
  for (const char* t : texts) {
    SCOPED_TRACE(t);
    std::string plain, why;
    ASSERT_TRUE(decipher_secure_part(script::encipher(t, key), key, plain, why)) << why;
    EXPECT_EQ(plain, t);
    // The server's own encipher matches the scripted client's.
    EXPECT_EQ(encipher_secure_part(t, key), script::encipher(t, key));
  }
  EXPECT_EQ(secure_part_iv_word(key), key[0]);
}

TEST(SecurePart, RefusesBadCipherTexts) {
  std::uint8_t key[32] = {1, 2, 3};
  std::string plain, why;
  EXPECT_FALSE(decipher_secure_part("", key, plain, why));
  EXPECT_FALSE(decipher_secure_part(std::string(15, 'x'), key, plain, why));
  // 16 bytes that decipher to no terminating zero are refused, not over-read.
  std::string junk;
  for (int attempt = 0; attempt < 64; ++attempt) {
    junk = std::string(16, static_cast<char>(attempt));
    std::string p2, w2;
    if (!decipher_secure_part(junk, key, p2, w2)) break;
  }
  EXPECT_FALSE(decipher_secure_part(junk, key, plain, why));
  // A wrong key deciphers to something else than the password.
  std::uint8_t other[32] = {9};
  const std::string c = script::encipher("PWD=sql", key);
  std::string p3, w3;
  if (decipher_secure_part(c, other, p3, w3)) {
    EXPECT_NE(p3, "PWD=sql");
  }
}
