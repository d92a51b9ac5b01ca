// The encryption level read from Encryption values, its names, error text and copies.
#include "config/encrypt_level.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct LevelCase {
  const char* text;
  bool ok;
  bool set;
  std::uint32_t level;
  const char* name;   // get_level_name()
  const char* error;  // error text, null when none
  const char* parms;  // parameter text, null when none
};

TEST(EncryptLevel, FromEncryptionValues) {
  const LevelCase cases[] = {
      {"tls(tls_type=ecc;fips=yes)", true, true, 2, "ecc_tls", nullptr,
       "tls_type=ecc;fips=yes"},
      {"TLS(FIPS=on)", true, true, 4, "rsa_tls_fips", nullptr, "FIPS=on"},
      {"tls", true, true, 3, "rsa_tls", nullptr, nullptr},
      {"tls{tls_type=RSA;fips=no}", true, true, 3, "rsa_tls", nullptr, "tls_type=RSA;fips=no"},
      {"tls(identity=/x.pem;unknown_key=1)", true, true, 3, "rsa_tls", nullptr,
       "identity=/x.pem;unknown_key=1"},
      {"tls(tls_type=dsa)", false, false, 0, "Unknown", "dsa", "tls_type=dsa"},
      {"tls(fips=perhaps)", false, false, 0, "Unknown", nullptr, "fips=perhaps"},
      {"none", true, true, 0, "none", nullptr, nullptr},
      {"NONE", true, true, 0, "none", nullptr, nullptr},
      {"strong", false, true, 0, "none", "strong", nullptr},
      {"simple{x=1}", true, true, 1, "simple", nullptr, "x=1"},
      {"simple,tls", true, true, 1, "simple", nullptr, nullptr},
  };
  for (const LevelCase& c : cases) {
    SCOPED_TRACE(c.text);
    c_encrypt_level level(0u, nullptr);
    level.is_set = 0;
    EXPECT_EQ(level.set_level(c.text), c.ok);
    EXPECT_EQ(level.is_set != 0, c.set);
    if (c.set) {
      EXPECT_EQ(level.level, c.level);
    }
    EXPECT_STREQ(level.get_level_name(), c.name);
    if (c.error == nullptr) {
      EXPECT_EQ(level.error_text, nullptr);
    } else {
      EXPECT_STREQ(level.error_text, c.error);
    }
    if (c.parms == nullptr) {
      EXPECT_EQ(level.parms_text, nullptr);
    } else {
      EXPECT_STREQ(level.parms_text, c.parms);
    }
    EXPECT_EQ(level.is_tls != 0, c.set ? (c.level >= 2 && c.level <= 4) : true);
  }
}

TEST(EncryptLevel, ValuesThatAreNotListsChangeNothing) {
  for (const char* text : {"tls(a=1) x", "tls(a=1", "", "   "}) {
    SCOPED_TRACE(text);
    c_encrypt_level level(3u, "keep");
    EXPECT_FALSE(level.set_level(text));
    EXPECT_EQ(level.level, 3u);
    EXPECT_STREQ(level.parms_text, "keep");
  }
  c_encrypt_level level(1u, nullptr);
  EXPECT_TRUE(level.set_level(static_cast<const char*>(nullptr)));
  EXPECT_EQ(level.level, 1u);
}

TEST(EncryptLevel, NewParametersReplaceOldOnes) {
  c_encrypt_level level("tls", "identity=/a.pem");
  ASSERT_TRUE(level.set_level("tls"));
  EXPECT_EQ(level.parms_text, nullptr);  // the TLS set-up must not see the old identity
}

TEST(EncryptLevel, ConstructionCopyAndAssignment) {
  c_encrypt_level by_number(4u, "fips=yes");
  EXPECT_EQ(by_number.is_tls, 1u);
  EXPECT_STREQ(by_number.get_level_name(), "rsa_tls_fips");
  c_encrypt_level odd(9u, nullptr);
  EXPECT_EQ(odd.get_level_name(), nullptr);

  c_encrypt_level named("tls", "tls_type=rsa");
  EXPECT_EQ(named.level, 3u);
  EXPECT_STREQ(named.name_text, "tls");

  c_encrypt_level copy(named);
  EXPECT_EQ(copy.level, 3u);
  EXPECT_STREQ(copy.name_text, "tls");
  EXPECT_STREQ(copy.parms_text, "tls_type=rsa");
  EXPECT_FALSE(copy.is_linked());

  c_encrypt_level target("strong", nullptr);
  ASSERT_STREQ(target.error_text, "strong");
  target = named;
  EXPECT_EQ(target.level, 3u);
  EXPECT_EQ(target.is_tls, 1u);
  EXPECT_STREQ(target.parms_text, "tls_type=rsa");
  EXPECT_STREQ(target.name_text, "strong");  // the name text is not copied
  EXPECT_STREQ(target.error_text, "strong");

  c_encrypt_level unset("tls", "tls_type=dsa");
  ASSERT_EQ(unset.is_set, 0u);
  c_encrypt_level assigned(0u, nullptr);
  assigned = unset;
  EXPECT_EQ(assigned.is_set, 1u);  // assignment always sets the number
}

TEST(EncryptLevel, ListedLevelsLeaveTheirListWhenDeleted) {
  c_utils_list<c_encrypt_level> list;
  auto* a = new c_encrypt_level(1u, nullptr);
  auto* b = new c_encrypt_level(2u, nullptr);
  list.append(a);
  list.append(b);
  delete a;
  EXPECT_EQ(list.first_element(), b);
  delete b;
  EXPECT_TRUE(list.is_empty());
}

}  // namespace
