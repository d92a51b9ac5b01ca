// The byte table of case mappings and character lengths, under the character set the
// environment names.
#include "utils/locale/char_functions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "scoped_env.h"
#include "utils/locale/utlocale.h"

namespace {

// A fresh table filled under VCCHARSET = charset (LANG unset).
LS_CharFunctions TableFor(const char* charset) {
  ScopedEnv env;
  env.Set("VCCHARSET", charset);
  LS_CharFunctions table;
  table.init();
  return table;
}

TEST(CharFunctions, LeadBytesOfTheDoubleByteSets) {
  const struct {
    const char* charset;
    unsigned char byte;
    unsigned int length;
  } cases[] = {
      {"Shift_JIS", 0x80, 1},
      {"Shift_JIS", 0x81, 2},
      {"Shift_JIS", 0x9F, 2},
      {"Shift_JIS", 0xA0, 1},
      {"Shift_JIS", 0xA5, 1},
      {"Shift_JIS", 0xDF, 1},
      {"Shift_JIS", 0xE0, 2},
      {"Shift_JIS", 0xEF, 2},
      {"Shift_JIS", 0xF0, 1},
      {"Shift_JIS", 0x41, 1},
      {"Windows-31J", 0x81, 2},
      {"Windows-31J", 0xA5, 1},
      {"Windows-31J", 0xF0, 2},
      {"Windows-31J", 0xFC, 2},
      {"Windows-31J", 0xFD, 1},
      {"cp932", 0xF0, 2},
      {"GBK", 0x80, 1},
      {"GBK", 0x81, 2},
      {"GBK", 0xFE, 2},
      {"GBK", 0xFF, 1},
      {"cp936", 0xB0, 2},
      {"GB18030", 0x81, 2},
      {"GB18030", 0x30, 1},
      {"GB18030", 0xFF, 1},
      // Sets the table does not know are single-byte, even when they are not.
      {"EUC-JP", 0xA4, 1},
      {"Big5", 0xA4, 1},
      {"UTF-8", 0xE3, 1},
      {"ISO-8859-1", 0xE9, 1},
  };
  for (const auto& c : cases) {
    const LS_CharFunctions table = TableFor(c.charset);
    EXPECT_EQ(table.charLength(c.byte), c.length)
        << c.charset << " byte 0x" << std::hex << int(c.byte);
  }
}

TEST(CharFunctions, MultibyteFlagOnlyForSetsWithLeadBytes) {
  const struct {
    const char* charset;
    bool multibyte;
  } cases[] = {{"Shift_JIS", true},    {"Windows-31J", true}, {"GBK", true},
               {"GB18030", true},      {"EUC-KR", false},     {"UTF-8", false},
               {"windows-1252", false}};
  for (const auto& c : cases)
    EXPECT_EQ(TableFor(c.charset).isMultibyte(), c.multibyte) << c.charset;
}

TEST(CharFunctions, TheLocaleVariablesChooseTheSetWithoutVCCHARSET) {
  ScopedEnv env;
  env.Set("LANG", "ja.SJIS");
  LS_CharFunctions table;
  table.init();
  EXPECT_TRUE(table.isMultibyte());
  EXPECT_EQ(table.charLength(0xE0), 2u);
}

TEST(CharFunctions, CaseBytesFollowTheCLibrary) {
  const LS_CharFunctions table = TableFor("windows-1252");
  const struct {
    unsigned char byte;
    unsigned char upper;
    unsigned char lower;
  } cases[] = {{'a', 'A', 'a'}, {'Z', 'Z', 'z'}, {'m', 'M', 'm'}, {'1', 0, 0},
               {' ', 0, 0},     {0, 0, 0},       {0xE9, 0, 0},    {0xFF, 0, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(table.upperChar(c.byte), c.upper) << int(c.byte);
    EXPECT_EQ(table.lowerChar(c.byte), c.lower) << int(c.byte);
  }
}

TEST(CharFunctions, InitFillsTheTableOnlyOnce) {
  ScopedEnv env;
  env.Set("VCCHARSET", "Shift_JIS");
  LS_CharFunctions table;
  EXPECT_FALSE(table.isInitialised());
  EXPECT_EQ(table.charLength(0x81), 1u);  // before init every byte is one character
  table.init();
  EXPECT_TRUE(table.isInitialised());
  env.Set("VCCHARSET", "ISO-8859-1");
  table.init();
  EXPECT_EQ(table.charLength(0x81), 2u);
  table.fini();
  EXPECT_EQ(table.charLength(0x81), 2u);
}

TEST(CharFunctions, PreviousCharacterStart) {
  const struct {
    const char* name;
    const char* charset;
    std::vector<unsigned char> text;
    std::size_t p;         // offset of p
    std::size_t expected;  // offset of the result
  } cases[] = {
      {"a then a double-byte character", "Shift_JIS", {'a', 0x82, 0xA0}, 3, 1},
      {"just after a single byte", "Shift_JIS", {'a', 0x82, 0xA0}, 1, 0},
      {"p at start", "Shift_JIS", {'a', 0x82, 0xA0}, 0, 0},
      // 0x81 as a trail byte looks like a lead byte; only walking forward tells.
      {"trail bytes that look like lead bytes", "Shift_JIS", {0x81, 0x81, 0x81, 0x81}, 4, 2},
      {"inside a double-byte character", "Shift_JIS", {'a', 0x82, 0xA0}, 2, 1},
      {"half-width katakana is one byte", "Shift_JIS", {0xA5, 0xA5}, 2, 1},
      {"four-byte GB18030 steps as two pairs", "GB18030", {0x81, 0x30, 0x81, 0x30}, 4, 2},
      {"a lead byte cut by the end", "GBK", {'x', 0x81}, 2, 1},
      {"single-byte set steps one byte", "ISO-8859-1", {0x81, 0x81, 0x81}, 3, 2},
  };
  for (const auto& c : cases) {
    const LS_CharFunctions table = TableFor(c.charset);
    const unsigned char* start = c.text.data();
    EXPECT_EQ(table.prevChar(start, start + c.p) - start,
              static_cast<std::ptrdiff_t>(c.expected))
        << c.name;
  }
}

}  // namespace
