// The connection character set's conversion: a set iconv knows is taken, an unknown
// one leaves the connection as it was, and a character without a form on the other
// side fails the conversion instead of being replaced.
#include "client_charset.h"

#include <gtest/gtest.h>

namespace vqeng {
namespace {

TEST(ClientCharset, OpensKnownSetsAndKeepsTheOldOneOtherwise) {
  ClientCharset cs;
  EXPECT_TRUE(cs.is_utf8());
  EXPECT_EQ(cs.name(), "UTF-8");
  EXPECT_FALSE(cs.open("no-such-charset"));
  EXPECT_FALSE(cs.open(""));
  EXPECT_TRUE(cs.is_utf8());
  ASSERT_TRUE(cs.open("windows-1252"));
  EXPECT_FALSE(cs.is_utf8());
  EXPECT_EQ(cs.name(), "windows-1252");
  EXPECT_FALSE(cs.open("no-such-charset"));
  EXPECT_EQ(cs.name(), "windows-1252");
  EXPECT_TRUE(cs.open("utf8"));
  EXPECT_TRUE(cs.is_utf8());
}

TEST(ClientCharset, ConvertsBothWaysAndRefusesWhatDoesNotFit) {
  struct Case {
    const char* set;
    std::string client;  // bytes in the client's set
    std::string db;      // the same text in UTF-8
  };
  const Case fits[] = {
      {"windows-1252", "Gr\xFC\xDF" "e \x80", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"},
      {"ISO-8859-1", "caf\xE9", "caf\xC3\xA9"},
      {"ISO-8859-5", "\xBF\xE0\xD8", "\xD0\x9F\xD1\x80\xD0\xB8"},
      {"UTF-8", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"windows-1252", std::string(3000, 'a') + "\xE9", std::string(3000, 'a') + "\xC3\xA9"},
  };
  for (const Case& c : fits) {
    SCOPED_TRACE(c.set);
    ClientCharset cs;
    ASSERT_TRUE(cs.open(c.set));
    std::string out;
    ASSERT_TRUE(cs.to_db(c.client, out));
    EXPECT_EQ(out, c.db);
    ASSERT_TRUE(cs.from_db(c.db, out));
    EXPECT_EQ(out, c.client);
  }

  ClientCharset cs;
  ASSERT_TRUE(cs.open("ISO-8859-1"));
  std::string out;
  EXPECT_FALSE(cs.from_db("ok \xD0\x9F", out));          // Cyrillic: no Latin-1 form
  EXPECT_FALSE(cs.from_db("\xF0\x9F\x98\x80", out));     // outside the BMP
  EXPECT_FALSE(cs.from_db("cut \xC3", out));             // a UTF-8 sequence cut short
  ASSERT_TRUE(cs.open("windows-1252"));
  EXPECT_FALSE(cs.to_db("\x81", out));                   // a byte windows-1252 leaves undefined
  const SqlError e = conversion_error(cs.name());
  EXPECT_EQ(e.sqlcode, -883);
  EXPECT_EQ(e.odbc3_state, "22018");
}

}  // namespace
}  // namespace vqeng
