// The locale registry: its tables, label matching, the environment's choices and the
// SBCS-map cache.
#include "utils/locale/utlocale.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "scoped_env.h"
#include "utils/locale/locale_aliases.h"

namespace {

const CharsetInfo* Row(int i) { return &UTLocale::_charset_info[i]; }

int RowOf(const CharsetInfo* cs) {
  return cs == nullptr ? -1 : static_cast<int>(cs - UTLocale::_charset_info);
}

std::string Text(const char* s) { return s ? s : "(null)"; }

// ---- The character-set table --------------------------------------------------------

struct GivenRow {
  int row;
  const char* default_label;
  const char* iana;  // null: the scheme has no label
  const char* mime;
  const char* icu;
  const char* java;
  const char* server;
  int charset_id;
  int cslib_id;
  int code_page;
  int unit_width;
  int max_bytes;
  unsigned char subst[4];
  int subst_length;
};

// clang-format off
const GivenRow kGivenRows[] = {
    {0, "ANSI_X3.4-1968", "ANSI_X3.4-1968", "US-ASCII", "US-ASCII", "ASCII", nullptr, 0, 0, 20127, 1, 1, {0x1A}, 1},
    {1, "ISO_8859-1:1987", "ISO_8859-1:1987", "ISO-8859-1", "ISO-8859-1", "ISO-8859-1", "iso_1", 1, 1, 28591, 1, 1, {0x1A}, 1},
    {2, "IBM850", "IBM850", "cp850", "ibm-850_P100-1995", "cp850", "cp850", 2, 2, 850, 1, 1, {0x7F}, 1},
    {3, "IBM437", "IBM437", nullptr, "ibm-437_P100-1995", "cp437", "cp437", 3, 3, 437, 1, 1, {0x7F}, 1},
    {4, "hp-roman8", "hp-roman8", nullptr, "ibm-1051_P100-1995", nullptr, "roman8", 4, 4, -1, 1, 1, {0x1A}, 1},
    {5, "macintosh", "macintosh", "macintosh", "macos-0_2-10.2", nullptr, "mac", 5, 5, 10000, 1, 1, {0x3F}, 1},
    {6, "Windows-31J", "Windows-31J", nullptr, "ibm-943_P15A-2003", "cp943c", "cp932", 6, 932, 932, 1, 2, {0xFC, 0xFC}, 2},
    {7, "Shift_JIS", "Shift_JIS", "Shift_JIS", "ibm-943_P15A-2003", nullptr, "sjis", 7, 6, 932, 1, 2, {0xFC, 0xFC}, 2},
    {8, "Extended_UNIX_Code_Packed_Format_for_Japanese", "Extended_UNIX_Code_Packed_Format_for_Japanese", "EUC-JP", "ibm-33722_P12A-1999", "EUC-JP", "eucjis", 8, 7, 51932, 1, 3, {0xF4, 0xFE}, 2},
    {9, "GB2312", "GB2312", "GB2312", "ibm-1383_P110-1999", "GB2312", "eucgb", 9, 10, 20936, 1, 2, {0xA1, 0xA1}, 2},
    {10, "EUC-TW", nullptr, "x-euc-tw", "ibm-964_P110-1999", "cp964", "euccns", 10, 9, -1, 1, 2, {0xFD, 0xFE}, 2},
    {11, "ISO_8859-2:1987", "ISO_8859-2:1987", "iso-8859-2", "ibm-912_P100-1995", "iso-8859-2", "iso88592", 11, 12, 28592, 1, 1, {0x1A}, 1},
    {12, "ISO_8859-5:1988", "ISO_8859-5:1988", "iso-8859-5", "ibm-915_P100-1995", "iso-8859-5", "iso88595", 12, 13, 28595, 1, 1, {0x1A}, 1},
    {13, "ISO_8859-6:1987", "ISO_8859-6:1987", "iso-8859-6", "ibm-1089_P100-1995", "iso-8859-6", "iso88596", 13, 14, 28596, 1, 1, {0x1A}, 1},
    {14, "ISO_8859-7:1987", "ISO_8859-7:1987", "iso-8859-7", "ibm-813_P100-1995", "iso-8859-7", "iso88597", 14, 15, 28597, 1, 1, {0x1A}, 1},
    {15, "ISO_8859-8:1988", "ISO_8859-8:1988", "iso-8859-8", "ibm-916_P100-1995", "iso-8859-8", "iso88598", 15, 16, 28598, 1, 1, {0x1A}, 1},
    {16, "ISO_8859-9:1989", "ISO_8859-9:1989", "iso-8859-9", "ibm-920_P100-1995", "iso-8859-9", "iso88599", 16, 17, 28599, 1, 1, {0x1A}, 1},
    {17, "ISO-8859-15", "ISO-8859-15", "ISO-8859-15", "ibm-923_P100-1998", "ISO-8859-15", "iso15", 17, 21, 28605, 1, 1, {0x1A}, 1},
    {18, "macos-7_3-10.2", nullptr, "x-mac-cyrillic", "macos-7_3-10.2", "MacCyrillic", "mac_cyr", 18, 26, 10007, 1, 1, {0x3F}, 1},
    {19, "macos-29-10.2", nullptr, "x-mac-centraleurroman", "macos-29-10.2", nullptr, "mac_ee", 19, 27, 10029, 1, 1, {0x3F}, 1},
    {20, "macos-6-10.2", nullptr, "x-mac-greek", "macos-6-10.2", nullptr, "macgrk2", 20, 28, 10006, 1, 1, {0x3F}, 1},
    {21, "macturk", nullptr, "x-mac-turkish", "macos-35-10.2", nullptr, "macturk", 21, 29, 10081, 1, 1, {0x3F}, 1},
    {22, "KOI8-R", "KOI8-R", "KOI8-R", "ibm-878_P100-1996", "KOI8-R", "koi8", 22, 32, -1, 1, 1, {0x1A}, 1},
    {23, "TIS-620", "TIS-620", nullptr, "ibm-874_P100-1995", "cp874", "tis620", 23, 33, 874, 1, 1, {0x7F}, 1},
    {24, "Big5-HKSCS", nullptr, nullptr, "ibm-1375_P100-2003", "MS950_HKSCS", "big5hk", 24, 47, 950, 1, 2, {0xA1, 0x48}, 2},
    {25, "Big5", "Big5", "Big5", "windows-950-2000", "Big5", "cp950", 25, 34, 950, 1, 2, {0x3F}, 1},
    {26, "EUC-KR", "EUC-KR", "EUC-KR", "ibm-970_P110-1995", "EUC-KR", "eucksc", 27, 36, 51949, 1, 2, {0xAF, 0xFE}, 2},
    {27, "IBM852", "IBM852", nullptr, "ibm-852_P100-1995", "cp852", "cp852", 28, 852, 852, 1, 1, {0x7F}, 1},
    {28, "IBM855", "IBM855", nullptr, "ibm-855_P100-1995", "cp855", "cp855", 29, 855, 855, 1, 1, {0x7F}, 1},
    {29, "IBM856", nullptr, "cp856", "ibm-856_P100-1995", "cp856", "cp856", 30, 856, -1, 1, 1, {0x7F}, 1},
    {30, "IBM857", "IBM857", "cp857", "ibm-857_P100-1995", "cp857", "cp857", 31, 857, 857, 1, 1, {0x7F}, 1},
    {31, "IBM860", "IBM860", "cp860", "ibm-860_P100-1995", "cp860", "cp860", 32, 860, 860, 1, 1, {0x7F}, 1},
    {32, "IBM861", "IBM861", "cp861", "ibm-861_P100-1995", "cp861", "cp861", 33, 861, 861, 1, 1, {0x7F}, 1},
    {33, "IBM862", "IBM862", "cp862", "ibm-862_P100-1995", "cp862", "cp862", 34, 862, 862, 1, 1, {0x7F}, 1},
    {34, "IBM863", "IBM863", "cp863", "ibm-863_P100-1995", "cp863", "cp863", 35, 863, 863, 1, 1, {0x7F}, 1},
    {35, "IBM864", "IBM864", "cp864", "ibm-864_X110-1999", "cp864", "cp864", 36, 864, 864, 1, 1, {0x7F}, 1},
    {36, "IBM865", "IBM865", "cp865", "ibm-865_P100-1995", "cp865", "cp865", 37, 865, 865, 1, 1, {0x7F}, 1},
    {37, "IBM866", "IBM866", "cp866", "ibm-866_P100-1995", "cp866", "cp866", 38, 866, 866, 1, 1, {0x7F}, 1},
    {38, "IBM869", "IBM869", "cp869", "ibm-869_P100-1995", "cp869", "cp869", 39, 869, 869, 1, 1, {0x7F}, 1},
    {39, "windows-874-2000", nullptr, nullptr, "windows-874-2000", "windows-874", "cp874", 40, 874, 874, 1, 1, {0x3F}, 1},
    {40, "GB18030", "GB18030", nullptr, "gb18030", nullptr, nullptr, 41, 48, 54936, 1, 4, {0x1A}, 1},
    {41, "GBK", "GBK", nullptr, "windows-936-2000", "GBK", "cp936", 42, 936, 936, 1, 2, {0x3F}, 1},
    {42, "IBM949", nullptr, nullptr, "windows-949-2000", "windows-949", "cp949", 43, 949, 949, 1, 2, {0x3F}, 1},
    {43, "IBM950", nullptr, nullptr, "ibm-950_P110-1999", "cp950", "cp950", 44, 950, 950, 1, 2, {0xC8, 0xFE}, 2},
    {44, "windows-1250", "windows-1250", nullptr, "ibm-5346_P100-1998", "windows-1250", "cp1250", 45, 1250, 1250, 1, 1, {0x1A}, 1},
    {45, "windows-1251", "windows-1251", nullptr, "ibm-5347_P100-1998", "windows-1251", "cp1251", 46, 1251, 1251, 1, 1, {0x1A}, 1},
    {46, "windows-1252", "windows-1252", nullptr, "ibm-5348_P100-1997", "windows-1252", "cp1252", 47, 1252, 1252, 1, 1, {0x1A}, 1},
    {47, "windows-1253", "windows-1253", nullptr, "ibm-5349_P100-1998", "windows-1253", "cp1253", 48, 1253, 1253, 1, 1, {0x1A}, 1},
    {48, "windows-1254", "windows-1254", nullptr, "ibm-5350_P100-1998", "windows-1254", "cp1254", 49, 1254, 1254, 1, 1, {0x1A}, 1},
    {49, "windows-1255", "windows-1255", nullptr, "ibm-9447_P100-2002", "windows-1255", "cp1255", 50, 1255, 1255, 1, 1, {0x1A}, 1},
    {50, "windows-1256", "windows-1256", nullptr, "windows-1256-2000", "windows-1256", "cp1256", 51, 1256, 1256, 1, 1, {0x3F}, 1},
    {51, "windows-1257", "windows-1257", nullptr, "ibm-9449_P100-2002", "windows-1257", "cp1257", 52, 1257, 1257, 1, 1, {0x1A}, 1},
    {52, "windows-1258", "windows-1258", nullptr, "ibm-5354_P100-1998", "windows-1258", "cp1258", 53, 1258, 1258, 1, 1, {0x1A}, 1},
    {53, "UTF-8", "UTF-8", "UTF-8", "UTF-8", "UTF-8", "utf8", 54, -4, 65001, 1, 4, {0xEF, 0xBF, 0xBD}, 3},
    {54, "UTF-16LE", "UTF-16LE", "UTF-16LE", "UTF-16LE", "UTF-16LE", "utf16", 55, -1, -1, 2, 2, {0xFD, 0xFF}, 2},
    {55, "UTF-16BE", "UTF-16BE", "UTF-16BE", "UTF-16BE", "UTF-16BE", nullptr, 56, -1, -1, 2, 2, {0xFF, 0xFD}, 2},
};
// clang-format on

TEST(CharsetTable, EveryRecordCarriesItsLabelsNumbersAndSubstitution) {
  ASSERT_EQ(UTLocale::num_charsets(), 56);
  ASSERT_EQ(sizeof kGivenRows / sizeof kGivenRows[0], 56u);
  for (const GivenRow& g : kGivenRows) {
    SCOPED_TRACE("row " + std::to_string(g.row) + " " + g.default_label);
    const CharsetInfo& cs = *Row(g.row);
    EXPECT_STREQ(cs.default_label->label, g.default_label);
    EXPECT_EQ(Text(cs.iana_label->label), Text(g.iana));
    EXPECT_EQ(Text(cs.mime_label->label), Text(g.mime));
    EXPECT_EQ(Text(cs.icu_label->label), Text(g.icu));
    EXPECT_EQ(Text(cs.java_label->label), Text(g.java));
    EXPECT_EQ(Text(cs.server_label->label), Text(g.server));
    EXPECT_EQ(cs.charset_id, g.charset_id);
    EXPECT_EQ(cs.cslib_id, g.cslib_id);
    EXPECT_EQ(cs.ms_codepage, g.code_page);
    EXPECT_EQ(cs.unit_width, g.unit_width);
    EXPECT_EQ(cs.max_bytes, g.max_bytes);
    ASSERT_EQ(cs.subst_length, g.subst_length);
    EXPECT_EQ(std::memcmp(cs.subst, g.subst, g.subst_length), 0);
  }
}

// Each preferred pointer must point into the record's own list, at an entry valid in
// that scheme (or at the list's end when the scheme has none).
TEST(CharsetTable, PreferredLabelsPointIntoTheirOwnListWithTheirSchemeBit) {
  for (const CharsetInfo& cs : UTLocale::_charset_info) {
    SCOPED_TRACE(cs.default_label->label);
    const CharsetLabel* end = cs.labels;
    while (end->label != nullptr) ++end;
    const struct {
      const CharsetLabel* entry;
      std::uint32_t scheme;
    } preferred[] = {{cs.default_label, kSchemeDefault}, {cs.iana_label, kSchemeIANA},
                     {cs.mime_label, kSchemeMIME},       {cs.icu_label, kSchemeICU},
                     {cs.java_label, kSchemeJava},       {cs.server_label, kSchemeServer}};
    for (const auto& p : preferred) {
      ASSERT_GE(p.entry, cs.labels);
      ASSERT_LE(p.entry, end);
      if (p.entry->label != nullptr) {
        EXPECT_NE(p.entry->schemes & p.scheme, 0u);
      }
    }
    EXPECT_EQ(cs.default_label, cs.labels);
    for (const CharsetLabel* e = cs.labels; e != end; ++e) {
      if (e->schemes & kSchemeICUCanonical) {
        EXPECT_NE(e->schemes & kSchemeICU, 0u) << e->label;
      }
    }
  }
}

// Labels the table itself gives to two records resolve to the first; every other
// label must lead back to the one record that carries it.
TEST(CharsetTable, EveryLabelLeadsBackToItsRecord) {
  std::set<std::string> shared = {"ibm-943_P15A-2003", "cp950", "cp874"};
  for (const CharsetInfo& cs : UTLocale::_charset_info) {
    for (const CharsetLabel* e = cs.labels; e->label != nullptr; ++e) {
      SCOPED_TRACE(std::string(cs.default_label->label) + ": " + e->label);
      const CharsetInfo* found = UTLocale::GetCharsetInfoFromLabel(e->label, e->schemes);
      if (shared.count(e->label)) {
        EXPECT_LE(RowOf(found), RowOf(&cs));
      } else {
        EXPECT_EQ(found, &cs);
      }
    }
  }
}

TEST(CharsetTable, UpperHalfMapsExistForTheSingleByteSetsOnly) {
  std::set<int> single_byte;
  for (int i = 0; i <= 5; ++i) single_byte.insert(i);
  for (int i = 11; i <= 23; ++i) single_byte.insert(i);
  for (int i = 27; i <= 39; ++i) single_byte.insert(i);
  for (int i = 44; i <= 52; ++i) single_byte.insert(i);
  for (int i = 0; i < UTLocale::num_charsets(); ++i) {
    EXPECT_EQ(Row(i)->upper128 != nullptr, single_byte.count(i) == 1) << "row " << i;
    EXPECT_EQ(Row(i)->max_bytes == 1, single_byte.count(i) == 1) << "row " << i;
  }
  for (int b = 0; b < 128; ++b) {
    EXPECT_EQ(Row(0)->upper128[b], 0xFFFD) << b;
    EXPECT_EQ(Row(1)->upper128[b], 0x80 + b) << b;
  }
}

TEST(CharsetTable, UpperHalfMapsFollowTheirCodePages) {
  const struct {
    const char* label;
    unsigned char byte;
    std::uint16_t expected;
  } cases[] = {
      {"windows-1252", 0x80, 0x20AC},    {"windows-1252", 0x81, 0xFFFD},
      {"windows-1252", 0xE9, 0x00E9},    {"IBM437", 0x80, 0x00C7},
      {"IBM850", 0xD5, 0x0131},          {"KOI8-R", 0xC1, 0x0430},
      {"ISO-8859-15", 0xA4, 0x20AC},     {"ISO_8859-5:1988", 0xB0, 0x0410},
      {"windows-1251", 0xC0, 0x0410},    {"TIS-620", 0xA1, 0x0E01},
      {"macintosh", 0x80, 0x00C4},       {"IBM866", 0x80, 0x0410},
      {"ISO_8859-7:1987", 0xC1, 0x0391}, {"windows-1255", 0xE0, 0x05D0},
  };
  for (const auto& c : cases) {
    const CharsetInfo* cs = UTLocale::GetCharsetInfoFromLabel(c.label, kSchemeAll);
    ASSERT_NE(cs, nullptr) << c.label;
    ASSERT_NE(cs->upper128, nullptr) << c.label;
    EXPECT_EQ(cs->upper128[c.byte - 0x80], c.expected) << c.label << " byte " << int(c.byte);
  }
}

// ---- Labels ---------------------------------------------------------------------------

TEST(CharsetLabels, ComparisonIgnoresCaseBlanksDashesAndUnderscores) {
  const struct {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"ISO8859-1", "ISO-8859-1", true},
      {"iso_8859_1", "ISO-8859-1", true},
      {"ISO 8859 1", "iso-8859-1", true},
      {"utf8", "UTF-8", true},
      {"UTF-8", "utf8", true},
      {"Shift-JIS", "Shift_JIS", true},
      {"latin1", "latin2", false},
      {"ISO-8859-1", "ISO-8859-15", false},
      {"ISO-8859-15", "ISO-8859-1", false},
      {"", "", true},
      {"-", "", true},
      {"a", "", false},
      {"UTF-8x", "UTF-8", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(equal_charset_labels(c.a, c.b), c.equal) << c.a << " / " << c.b;
  }
}

TEST(CharsetLabels, LookupFindsTheFirstRecordValidInTheSchemes) {
  const struct {
    const char* label;
    std::uint32_t schemes;
    int row;  // -1: none
  } cases[] = {
      {"iso-8859-1", kSchemeAll, 1},
      {"ISO8859_1", kSchemeAll, 1},
      {"  -_ISO-8859-1", kSchemeAll, 1},
      {"iso_1", kSchemeIANA, -1},
      {"iso_1", kSchemeServer, 1},
      {"latin1", kSchemeAll, 1},
      {"8859_1", kSchemeJava, 1},
      {"Shift-JIS", kSchemeIANA, 7},
      {"csShiftJIS", kSchemeAll, 7},
      {"sjis", kSchemeServer, 7},
      {"Windows-31J", kSchemeAll, 6},
      {"cp932", kSchemeAll, 6},
      {"ibm-943_P15A-2003", kSchemeICU, 6},
      {"cp943c", kSchemeJava, 6},
      {"EUC-JP", kSchemeMIME, 8},
      {"eucJP", kSchemeAll, 8},
      {"eucjis", kSchemeServer, 8},
      {"x-euc-tw", kSchemeMIME, 10},
      {"big5", kSchemeAll, 25},
      {"big5hkscs", kSchemeAll, 24},
      {"gb18030", kSchemeICU, 40},
      {"GBK", kSchemeIANA, 41},
      {"cp936", kSchemeServer, 41},
      {"eucKR", kSchemeAll, 26},
      {"windows-1252", kSchemeAll, 46},
      {"cp1251", kSchemeServer, 45},
      {"TIS620", kSchemeAll, 23},
      {"KOI8-R", kSchemeAll, 22},
      {"UTF8", kSchemeAll, 53},
      {"utf16", kSchemeServer, 54},
      {"UTF-16BE", kSchemeAll, 55},
      {"windows-28592", kSchemeWindows, 11},
      {"ibm-819", kSchemeIBM, 1},
      {"nonsense", kSchemeAll, -1},
      {"", kSchemeAll, -1},
      {"iso-8859-1", 0, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RowOf(UTLocale::GetCharsetInfoFromLabel(c.label, c.schemes)), c.row)
        << "'" << c.label << "' in 0x" << std::hex << c.schemes;
  }
  EXPECT_EQ(UTLocale::GetCharsetInfoFromLabel(nullptr, kSchemeAll), nullptr);
  EXPECT_FALSE(Row(1)->match_label(nullptr, kSchemeAll));
}

TEST(CharsetLabels, SafeLabelGivesThePreferredLabelOrTheDefault) {
  const struct {
    int row;
    std::uint32_t scheme;
    const char* expected;
  } cases[] = {
      {1, kSchemeDefault, "ISO_8859-1:1987"},
      {1, kSchemeIANA, "ISO_8859-1:1987"},
      {1, kSchemeMIME, "ISO-8859-1"},
      {1, kSchemeJava, "ISO-8859-1"},
      {1, kSchemeICU, "ISO-8859-1"},
      {1, kSchemeServer, "iso_1"},
      {1, kSchemeWindows, "ISO_8859-1:1987"},
      {0, kSchemeServer, "ANSI_X3.4-1968"},
      {10, kSchemeIANA, "EUC-TW"},
      {7, kSchemeICU, "ibm-943_P15A-2003"},
      {53, kSchemeServer, "utf8"},
      {41, kSchemeICU | kSchemeJava, "GBK"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(CharsetInfo::safe_label(Row(c.row), c.scheme), c.expected)
        << "row " << c.row << " scheme 0x" << std::hex << c.scheme;
  }
  EXPECT_STREQ(CharsetInfo::safe_label(nullptr, kSchemeMIME), "unknown");
}

TEST(CharsetLabels, SpecialLabelSets) {
  const struct {
    const char* label;
    bool utf16_explicit;
    bool acceptable_unknown;
  } cases[] = {
      {"UTF16BE", true, false}, {"utf-16le", true, false}, {"UTF_16PE", true, false},
      {"UTF16OE", true, false}, {"UTF-16", false, false},  {"UTF16XE", false, false},
      {"none", false, true},    {"NULL", false, true},     {"Unspecified", false, true},
      {"unknown", false, true}, {"", false, false},        {"unknown2", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CharsetInfo::is_UTF16_explicit_endian_label(c.label), c.utf16_explicit)
        << c.label;
    EXPECT_EQ(isAcceptableUnknownCharsetLabel(c.label), c.acceptable_unknown) << c.label;
  }
  EXPECT_FALSE(CharsetInfo::is_UTF16_explicit_endian_label(nullptr));
  EXPECT_TRUE(isAcceptableUnknownCharsetLabel(nullptr));
}

TEST(CharsetTable, NumberLookupsGiveTheFirstRecordWithThatNumber) {
  EXPECT_EQ(RowOf(UTLocale::GetCharsetInfoFromMicrosoftCID(932)), 6);
  EXPECT_EQ(RowOf(UTLocale::GetCharsetInfoFromMicrosoftCID(950)), 24);
  EXPECT_EQ(RowOf(UTLocale::GetCharsetInfoFromMicrosoftCID(1252)), 46);
  EXPECT_EQ(RowOf(UTLocale::GetCharsetInfoFromMicrosoftCID(65001)), 53);
  // -1 marks "no code page"; it must not pick the first record without one.
  EXPECT_EQ(UTLocale::GetCharsetInfoFromMicrosoftCID(-1), nullptr);
  EXPECT_EQ(UTLocale::GetCharsetInfoFromMicrosoftCID(12345), nullptr);
  EXPECT_EQ(RowOf(UTLocale::GetCharsetInfoFromCsLibCID(-1)), 54);
  EXPECT_EQ(RowOf(UTLocale::GetCharsetInfoFromCsLibCID(-4)), 53);
  EXPECT_EQ(RowOf(UTLocale::GetCharsetInfoFromCsLibCID(6)), 7);
  EXPECT_EQ(RowOf(UTLocale::GetCharsetInfoFromCsLibCID(932)), 6);
  EXPECT_EQ(UTLocale::GetCharsetInfoFromCsLibCID(26000), nullptr);
}

TEST(CharsetTable, ByteOrderSignatures) {
  const struct {
    int row;
    std::vector<std::uint8_t> bom;
  } cases[] = {
      {54, {0xFF, 0xFE}}, {55, {0xFE, 0xFF}}, {53, {0xEF, 0xBB, 0xBF}}, {1, {}}, {6, {}}};
  for (const auto& c : cases) {
    std::uint32_t length = 99;
    const std::uint8_t* bom = Row(c.row)->get_BOM(&length);
    ASSERT_EQ(length, c.bom.size()) << "row " << c.row;
    EXPECT_EQ(bom == nullptr, c.bom.empty());
    if (bom) {
      EXPECT_EQ(std::vector<std::uint8_t>(bom, bom + length), c.bom);
    }
  }
}

// ---- Languages ------------------------------------------------------------------------

TEST(LanguageTable, TwentySixLanguagesByIdNameAlternateAndCode) {
  const LanguageInfo* end = &UTLocale::_language_info[26];
  EXPECT_EQ(end->name, nullptr);
  EXPECT_EQ(end->code, nullptr);
  for (int i = 0; i < 26; ++i) EXPECT_EQ(UTLocale::_language_info[i].platform_lid, -1);
  const struct {
    const char* label;
    int id;
  } cases[] = {
      {"us_english", 0}, {"English", 0},   {"EN", 0},     {"french", 1},
      {"ja", 4},         {"Portugue", 6},  {"norweg", 9}, {"tw", 12},
      {"tradchin", 12},  {"simpchin", 13}, {"zh", 13},    {"he", 20},
      {"thai", 25},      {"xx", -1},       {"", -1},      {"englis", -1},
  };
  for (const auto& c : cases) {
    const LanguageInfo* l = UTLocale::GetLanguageInfoFromLabel(c.label);
    EXPECT_EQ(l ? static_cast<int>(l - UTLocale::_language_info) : -1, c.id) << c.label;
  }
  EXPECT_EQ(UTLocale::GetLanguageInfoFromLabel(nullptr), nullptr);
  EXPECT_STREQ(UTLocale::GetLanguageInfoFromVsrLID(25)->name, "thai");
  EXPECT_EQ(UTLocale::GetLanguageInfoFromVsrLID(26), nullptr);
  EXPECT_EQ(UTLocale::GetLanguageInfoFromVsrLID(-1), nullptr);
  EXPECT_EQ(UTLocale::GetLanguageInfoFromPlatformLID(-1), nullptr);
  EXPECT_EQ(UTLocale::GetLanguageInfoFromPlatformLID(0), nullptr);
  EXPECT_STREQ(LanguageInfo::safe_label(&UTLocale::_language_info[2], kSchemeMIME), "de");
  EXPECT_STREQ(LanguageInfo::safe_label(&UTLocale::_language_info[2], kSchemeIANA), "german");
  EXPECT_STREQ(LanguageInfo::safe_label(nullptr, kSchemeMIME), "unknown");
}

// ---- Locale names ---------------------------------------------------------------------

TEST(LocaleAliases, AliasOfANameOrItsCanonicalForm) {
  const struct {
    const char* name;
    const char* expected;
  } cases[] = {
      {"POSIX", "C"},
      {"C.iso88591", "en_US.ISO8859-1"},
      {"de", "de_DE.ISO8859-1"},
      {"de_DE.iso885915", "de_DE.ISO8859-15"},
      {"ja_JP", "ja_JP.eucJP"},
      {"ja.SJIS", "ja_JP.SJIS"},
      {"zh_CN.GBK", "zh_CN.gbk"},
      {"japan", "ja_JP.eucJP"},
      {"JAPAN", "ja_JP.eucJP"},                  // second pass ignores case
      {"de_DE.ISO8859-15", "de_DE.ISO8859-15"},  // a canonical name maps to itself
      {"en_US.UTF-8", "en_US.UTF-8"},            // not in the table: the name itself
      {"xx_YY", "xx_YY"},
  };
  for (const auto& c : cases) EXPECT_STREQ(UTLocale::get_alias(c.name), c.expected) << c.name;
  EXPECT_EQ(UTLocale::get_alias(nullptr), nullptr);
  EXPECT_GT(known_locales_count, 600u);
  EXPECT_EQ(known_locales[known_locales_count].name, nullptr);
}

TEST(LocaleAliases, OnlyEnglishLatin1LocalesAreSupported) {
  const struct {
    const char* name;
    bool supported;
  } cases[] = {
      {"en_US.ISO8859-1", true},  {"EN_gb.iso8859-1", true},   {"en_US", true},
      {"C.iso88591", true},       {"en_US.ISO8859-15", false}, {"en_US.UTF-8", false},
      {"de_DE.ISO8859-1", false}, {"en.ISO8859-1", false},     {"", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(UTLocale::is_locale_supported(c.name), c.supported) << c.name;
  EXPECT_FALSE(UTLocale::is_locale_supported(nullptr));
}

// ---- The environment's choices --------------------------------------------------------

struct EnvCase {
  const char* name;
  const char* lc_all;
  const char* lc_messages;
  const char* lc_ctype;
  const char* lang;
  const char* vclang;
  const char* vccharset;
  const char* language;     // code of FindOSLanguage(1)
  int charset_with_env;     // row of FindOSCharset(1)
  int charset_without_env;  // row of FindOSCharset(0)
};

const EnvCase kEnvCases[] = {
    {"nothing set", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "en", 1, 1},
    {"LANG ja_JP", nullptr, nullptr, nullptr, "ja_JP", nullptr, nullptr, "ja", 8, 8},
    {"LANG zh_HK.Big5", nullptr, nullptr, nullptr, "zh_HK.Big5", nullptr, nullptr, "tw", 25,
     25},
    {"LANG zh_TW", nullptr, nullptr, nullptr, "zh_TW", nullptr, nullptr, "tw", 25, 25},
    {"LANG zh_CN.GBK", nullptr, nullptr, nullptr, "zh_CN.GBK", nullptr, nullptr, "zh", 41, 41},
    {"LANG zh_SG", nullptr, nullptr, nullptr, "zh_SG", nullptr, nullptr, "zh", 1, 1},
    {"LANG C", nullptr, nullptr, nullptr, "C", nullptr, nullptr, "en", 1, 1},
    {"LANG POSIX", nullptr, nullptr, nullptr, "POSIX", nullptr, nullptr, "en", 1, 1},
    {"LANG en_US.UTF-8", nullptr, nullptr, nullptr, "en_US.UTF-8", nullptr, nullptr, "en", 53,
     53},
    {"LANG C.UTF-8", nullptr, nullptr, nullptr, "C.UTF-8", nullptr, nullptr, "en", 53, 53},
    {"LANG en_US.utf8", nullptr, nullptr, nullptr, "en_US.utf8", nullptr, nullptr, "en", 53,
     53},
    {"LANG ja.SJIS", nullptr, nullptr, nullptr, "ja.SJIS", nullptr, nullptr, "ja", 7, 7},
    {"LANG ko_KR.eucKR", nullptr, nullptr, nullptr, "ko_KR.eucKR", nullptr, nullptr, "ko", 26,
     26},
    {"LANG th_TH.TIS620", nullptr, nullptr, nullptr, "th_TH.TIS620", nullptr, nullptr, "th", 23,
     23},
    {"LANG ru_RU.KOI8-R", nullptr, nullptr, nullptr, "ru_RU.KOI8-R", nullptr, nullptr, "ru", 22,
     22},
    {"LANG with a modifier", nullptr, nullptr, nullptr, "xx_YY.ISO8859-15@euro", nullptr,
     nullptr, "en", 17, 17},
    {"LANG names nothing known", nullptr, nullptr, nullptr, "xx_YY.nocodeset", nullptr, nullptr,
     "en", 1, 1},
    {"LC_ALL before LANG", "de_DE.ISO8859-15", nullptr, nullptr, "ja_JP", nullptr, nullptr,
     "de", 17, 17},
    {"LC_MESSAGES before LC_CTYPE", nullptr, "fr_FR", "ru_RU.KOI8-R", nullptr, nullptr, nullptr,
     "fr", 1, 1},
    {"LC_CTYPE before LANG", nullptr, nullptr, "ru_RU.KOI8-R", "ja_JP", nullptr, nullptr, "ru",
     22, 22},
    {"empty LC_ALL counts as unset", "", nullptr, nullptr, "ja_JP", nullptr, nullptr, "ja", 8,
     8},
    {"VCLANG before LANG", nullptr, nullptr, nullptr, "ja_JP", "german", nullptr, "de", 8, 8},
    {"VCLANG by code", nullptr, nullptr, nullptr, nullptr, "tw", nullptr, "tw", 1, 1},
    {"VCLANG naming nothing gives English", nullptr, nullptr, nullptr, "ja_JP", "klingon",
     nullptr, "en", 8, 8},
    {"VCCHARSET before LANG", nullptr, nullptr, nullptr, "ja_JP", nullptr, "cp1252", "ja", 46,
     8},
    {"VCCHARSET naming nothing", nullptr, nullptr, nullptr, "ja_JP", nullptr, "nonsense", "ja",
     1, 8},
    {"VCCHARSET in the server's names", nullptr, nullptr, nullptr, nullptr, nullptr, "sjis",
     "en", 7, 1},
};

class EnvChoice : public ::testing::TestWithParam<EnvCase> {};

TEST_P(EnvChoice, LanguageAndCharsetFollowTheEnvironment) {
  const EnvCase& c = GetParam();
  ScopedEnv env;
  env.Set("LC_ALL", c.lc_all);
  env.Set("LC_MESSAGES", c.lc_messages);
  env.Set("LC_CTYPE", c.lc_ctype);
  env.Set("LANG", c.lang);
  env.Set("VCLANG", c.vclang);
  env.Set("VCCHARSET", c.vccharset);
  EXPECT_STREQ(UTLocale::FindOSLanguage(1)->code, c.language);
  EXPECT_EQ(RowOf(UTLocale::FindOSCharset(1)), c.charset_with_env);
  EXPECT_EQ(RowOf(UTLocale::FindOSCharset(0)), c.charset_without_env);

  // The registry records the same choices when it is built.
  UTLocale locale;
  EXPECT_EQ(RowOf(locale.default_client_charset()), c.charset_with_env);
  EXPECT_EQ(RowOf(locale.os_charset()), c.charset_without_env);
  EXPECT_STREQ(locale.os_language()->code, c.language);
}

// The case's name stands for it in test names and messages.
void PrintTo(const EnvCase& c, std::ostream* os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(Cases, EnvChoice, ::testing::ValuesIn(kEnvCases),
                         [](const ::testing::TestParamInfo<EnvCase>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p) {
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

TEST(EnvChoice, UnixLocaleIsTheFirstSetVariable) {
  ScopedEnv env;
  EXPECT_EQ(UTLocale::get_unix_locale(), nullptr);
  env.Set("LANG", "fr_FR");
  EXPECT_STREQ(UTLocale::get_unix_locale(), "fr_FR");
  env.Set("LC_CTYPE", "de_DE");
  EXPECT_STREQ(UTLocale::get_unix_locale(), "de_DE");
  env.Set("LC_MESSAGES", "");
  EXPECT_STREQ(UTLocale::get_unix_locale(), "de_DE");
  env.Set("LC_ALL", "C");
  EXPECT_STREQ(UTLocale::get_unix_locale(), "C");
}

TEST(EnvChoice, OverlongValuesAreCutNotOverrun) {
  ScopedEnv env;
  std::string longlang(4000, 'x');
  env.Set("VCLANG", longlang.c_str());
  env.Set("VCCHARSET", (std::string("UTF-8") + std::string(4000, ' ')).c_str());
  env.Set("LANG", ("ja_JP." + std::string(4000, 'y')).c_str());
  EXPECT_STREQ(UTLocale::FindOSLanguage(1)->code, "en");
  EXPECT_EQ(RowOf(UTLocale::FindOSCharset(1)), 53);
  EXPECT_EQ(RowOf(UTLocale::FindOSCharset(0)), 1);
  EXPECT_STREQ(UTLocale::FindOSLanguage(0)->code, "ja");
}

// ---- The registry object and its cache --------------------------------------------------

TEST(Registry, FixedRecords) {
  ScopedEnv env;
  UTLocale locale;
  EXPECT_EQ(RowOf(locale.ascii_charset()), 0);
  EXPECT_EQ(RowOf(locale.utf8_charset()), 53);
  EXPECT_EQ(RowOf(locale.utf16le_charset()), 54);
  EXPECT_EQ(RowOf(locale.utf16be_charset()), 55);
  EXPECT_STREQ(locale.english()->name, "us_english");
  // The Unicode library is found beside the test program with no environment set.
  EXPECT_TRUE(locale.ICUIsSupported());
  EXPECT_FALSE(locale.ICUVersionMismatch());
}

TEST(Registry, SingleByteMapsAreBuiltOnceAndKept) {
  ScopedEnv env;
  UTLocale locale;
  const CharsetInfo* cp1252 = UTLocale::GetCharsetInfoFromLabel("windows-1252", kSchemeAll);
  const std::uint16_t* map = locale.FindOrLoadSBCSToUTF16(cp1252);
  ASSERT_NE(map, nullptr);
  for (int b = 0; b < 128; ++b) ASSERT_EQ(map[b], b);
  EXPECT_EQ(map[0x80], 0x20AC);
  EXPECT_EQ(map[0xFF], 0x00FF);
  EXPECT_EQ(locale.FindOrLoadSBCSToUTF16(cp1252), map);

  const std::uint16_t* ascii = locale.FindOrLoadSBCSToUTF16(Row(0));
  ASSERT_NE(ascii, nullptr);
  EXPECT_EQ(ascii[0x7F], 0x7F);
  EXPECT_EQ(ascii[0x80], 0xFFFD);
}

TEST(Registry, NoMapForSetsThatAreNotSingleByte) {
  ScopedEnv env;
  UTLocale locale;
  for (int row : {6, 7, 8, 40, 53, 54, 55}) {
    EXPECT_EQ(locale.FindOrLoadSBCSToUTF16(Row(row)), nullptr) << row;
    EXPECT_EQ(locale.FindOrLoadSBCSToUTF16(Row(row)), nullptr) << row << " again";
    std::uint16_t out[128];
    EXPECT_FALSE(locale.GetUnicodeUpper128(out, Row(row))) << row;
  }
  EXPECT_EQ(locale.FindOrLoadSBCSToUTF16(nullptr), nullptr);
  std::uint16_t out[128];
  EXPECT_FALSE(locale.GetUnicodeUpper128(out, nullptr));
  ASSERT_TRUE(locale.GetUnicodeUpper128(out, Row(1)));
  EXPECT_EQ(out[0], 0x80);
}

}  // namespace
