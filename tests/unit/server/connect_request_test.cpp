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
      {"APP='IP=1.2.3.4;API=QuillonJDBC|ODBC';CON=c1", {{"APP", "IP=1.2.3.4;API=QuillonJDBC|ODBC"}, {"CON", "c1"}}},
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

TEST(SecurePart, DeciphersWhatOpenSslEnciphered) {
  std::uint8_t key[32];
  for (int i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(0xC3 ^ (i * 29));
  // A three-character password: 7 characters, a zero and 8 zero bytes: one block.
  const std::string one_block = script::encipher("PWD=abc", key);
  EXPECT_EQ(one_block.size(), 16u);
  // 15 characters and the zero fill 16 bytes exactly; 16 characters need 32.
  EXPECT_EQ(script::encipher("PWD=abcdefghijk", key).size(), 16u);
  EXPECT_EQ(script::encipher("PWD=abcdefghijkl", key).size(), 32u);
  const char* texts[] = {"PWD=abc", "PWD=abcdefghijk", "PWD=sql;DBKEY=k1;NEWPWD=n2", "PWD='a;b'"};
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
