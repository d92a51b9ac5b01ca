// Collation records, the choosers, specifications with tailoring, the listing order and
// custom records.
#include "utils/locale/collation_info.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "scoped_env.h"
#include "utils/locale/collation_tailoring.h"
#include "utils/locale/custom_collation_record.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/packed_collation.h"
#include "utils/locale/utlocale.h"

namespace {

const CharsetInfo* Charset(const char* label) {
  return UTLocale::GetCharsetInfoFromLabel(label, kSchemeAll);
}
const LanguageInfo* Language(const char* label) {
  return UTLocale::GetLanguageInfoFromLabel(label);
}
const char* LabelOf(const CollationInfo* c) { return c != nullptr ? c->label : "(null)"; }

TEST(CollationRecords, TableShapeAndSpotRows) {
  ASSERT_EQ(UTLocale::num_vsr_collations(), 68);
  std::set<std::string> labels;
  for (const CollationInfo& c : UTLocale::_collation_info) {
    SCOPED_TRACE(c.label);
    EXPECT_TRUE(labels.insert(c.label).second) << "duplicate label";
    EXPECT_EQ(c.default_languages & ~c.supported_languages, 0u);
    EXPECT_EQ(c.custom, 0);
    if (c.kind == kCollationTableDriven) {
      ASSERT_NE(c.charset, nullptr);
      // Every table-driven record sorts with its character set's built-in order.
      EXPECT_NE(c.charset->packed_order, nullptr);
    }
  }
  struct Row {
    const char* label;
    const char* charset;  // default label, or null
    const char* cs_order;
    const char* ci_order;
    std::uint32_t supports, defaults;
    std::int32_t id;
    std::uint8_t flag, kind;
  };
  const Row rows[] = {
      {"C", "ANSI_X3.4-1968", nullptr, nullptr, 0x1, 0x1, 14720, 1, 'L'},
      {"UCA", nullptr, nullptr, nullptr, 0x3FFFFFF, 0, 14721, 0, 'I'},
      {"1251CYR", "windows-1251", "cyrdict_cp1251", "cyrnocs_cp1251", 0x18001, 0x18001, 13668,
       0, 'L'},
      {"1252LT1ACC", "windows-1252", "dictionary_iso_1", "nocase_iso_1", 0x8001C7, 0, 18494, 0,
       'L'},
      {"437ESP", "IBM437", "espdict_cp437", "espnocs_cp437", 0x9, 0x8, 13692, 1, 'L'},
      {"874THAIBIN", "TIS-620", "dictionary_cp874", "dictionary_cp874", 0x2000001, 0x2000001,
       14421, 0, 'L'},
      {"EUC_JAPAN", "Extended_UNIX_Code_Packed_Format_for_Japanese", "bin_eucjis", "bin_eucjis",
       0x11, 0x11, 13680, 0, 'L'},
      {"UTF8BIN", "UTF-8", "bin_utf8", "bin_utf8", 0x3FFFFFF, 0x3FFFFFF, 17074, 0, 'L'},
      {"internal", "IBM850", "dictionary_cp850", "nocase_cp850", 0x1, 0, 13736, 1, 'L'},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    const CollationInfo* c = UTLocale::GetCollationInfoFromLabel(r.label);
    ASSERT_NE(c, nullptr);
    if (r.charset == nullptr) {
      EXPECT_EQ(c->charset, nullptr);
    } else {
      ASSERT_NE(c->charset, nullptr);
      EXPECT_STREQ(c->charset->default_label->label, r.charset);
    }
    EXPECT_STREQ(c->case_sensitive_order ? c->case_sensitive_order : "-",
                 r.cs_order ? r.cs_order : "-");
    EXPECT_STREQ(c->case_insensitive_order ? c->case_insensitive_order : "-",
                 r.ci_order ? r.ci_order : "-");
    EXPECT_EQ(c->supported_languages, r.supports);
    EXPECT_EQ(c->default_languages, r.defaults);
    EXPECT_EQ(c->description_id, r.id);
    EXPECT_EQ(c->flag, r.flag);
    EXPECT_EQ(c->kind, r.kind);
  }
  // The flag byte is set on exactly these records.
  std::set<std::string> flagged;
  for (const CollationInfo& c : UTLocale::_collation_info) {
    if (c.flag != 0) flagged.insert(c.label);
  }
  const std::set<std::string> expected = {
      "C",          "1252DEU",    "437EBCDIC", "437ESP", "437LATIN1", "819DAN",    "819ESP",
      "819ISL",     "819LATIN1",  "819NOR",    "819SVE", "850DAN",    "850ESP",    "850ISL",
      "850LATIN1",  "850NOR",     "850SVE",    "852CYR", "852LATIN2", "852POL",    "855CYR",
      "856HEB",     "857TRK",     "860LATIN1", "861ISL", "862HEB",    "863LATIN1", "865NOR",
      "866RUS",     "869ELL",     "920TRK",    "950TWN", "UTF8",      "SJIS",      "SJIS2",
      "WIN_LATIN1", "WIN_LATIN5", "internal"};
  EXPECT_EQ(flagged, expected);
}

TEST(CollationRecords, LabelLookup) {
  EXPECT_STREQ(LabelOf(UTLocale::GetCollationInfoFromLabel("iso_bineng")), "ISO_BINENG");
  EXPECT_STREQ(LabelOf(UTLocale::GetCollationInfoFromLabel("INTERNAL")), "internal");
  EXPECT_EQ(UTLocale::GetCollationInfoFromLabel("1252LATIN"), nullptr);
  EXPECT_EQ(UTLocale::GetCollationInfoFromLabel(""), nullptr);
  EXPECT_EQ(UTLocale::GetCollationInfoFromLabel(nullptr), nullptr);
  EXPECT_STREQ(LabelOf(UTLocale::GetDefaultCollation()), "ISO_BINENG");
}

TEST(CollationRecords, ChoiceByCharsetAndLanguage) {
  struct Case {
    const char* charset;
    const char* language;  // null: none given
    const char* expected;  // null: no record
  };
  const Case cases[] = {
      {"GB18030", "chinese", "936ZHO"},  // GB18030 counts as GBK
      {"GBK", "chinese", "936ZHO"},
      {"windows-1252", nullptr, "1252LATIN1"},
      {"windows-1252", "german", "1252LATIN1"},
      {"windows-1252", "spanish", "1252SPA"},
      {"windows-1252", "swedish", "1252SWEFIN"},
      {"windows-1250", "polish", "1250POL"},
      {"windows-1250", "czech", "1250LATIN2"},
      {"ISO_8859-1:1987", "us_english", "ISO1LATIN1"},
      {"Shift_JIS", "japanese", "SJIS2"},
      {"Shift_JIS", "german", nullptr},
      {"UTF-8", "thai", "UTF8BIN"},
      {"Big5-HKSCS", "tchinese", "950ZHO_HK"},
      {"KOI8-R", "russian", nullptr},  // no collation for the set
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.charset) + "/" + (c.language ? c.language : "-"));
    const CollationInfo* got = UTLocale::GetCollationInfoFromCharsetLang(
        Charset(c.charset), c.language ? Language(c.language) : nullptr);
    EXPECT_STREQ(got ? got->label : nullptr, c.expected);
  }
  EXPECT_EQ(UTLocale::GetCollationInfoFromCharsetLang(nullptr, Language("german")), nullptr);
  // FindCollation falls back to English for the character set.
  EXPECT_STREQ(LabelOf(UTLocale::FindCollation(Charset("Shift_JIS"), Language("german"))),
               "SJIS2");
  EXPECT_STREQ(LabelOf(UTLocale::FindCollation(Charset("windows-1254"), Language("french"))),
               "1254TRK");
}

TEST(CollationRecords, EnvironmentChoices) {
  struct Case {
    const char* vclang;
    const char* vccharset;
    const char* expected;
    const char* find_collation;  // FindCollation with both arguments missing
  };
  const Case cases[] = {
      {"german", "windows-1252", "1252LATIN1", "1252LATIN1"},
      {"polish", "windows-1250", "1250POL", "1250POL"},
      {"japanese", "EUC-JP", "EUC_JAPAN", "EUC_JAPAN"},
      // Nothing for KOI8-R: English in ISO 8859-1.
      {"russian", "KOI8-R", "ISO1LATIN1", nullptr},
      {nullptr, nullptr, "ISO1LATIN1", "ISO1LATIN1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    ScopedEnv env;
    env.Set("VCLANG", c.vclang);
    env.Set("VCCHARSET", c.vccharset);
    EXPECT_STREQ(LabelOf(UTLocale::FindOSCollation()), c.expected);
    const CollationInfo* found = UTLocale::FindCollation(nullptr, nullptr);
    EXPECT_STREQ(found ? found->label : nullptr, c.find_collation);
  }
}

TEST(CollationSpecification, LabelAndBracket) {
  struct Case {
    const char* spec;
    const char* label;
    int bracket;  // offset, or -1
  };
  const Case cases[] = {
      {"1252LATIN1", "1252LATIN1", -1},
      {"UCA(Locale=de)", "UCA", 3},
      {"UCA{Case=Respect}", "UCA", 3},
      {"A{x(y)}", "A{x", 3},  // "(" is looked for first
      {"", "", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    char buf[33];
    const char* bracket = reinterpret_cast<const char*>(1);
    ASSERT_EQ(UTLocale::GetCollationLabel(c.spec, buf, sizeof buf, &bracket), buf);
    EXPECT_STREQ(buf, c.label);
    EXPECT_EQ(bracket == nullptr ? -1 : static_cast<int>(bracket - c.spec), c.bracket);
  }
  char small[4];
  EXPECT_STREQ(UTLocale::GetCollationLabel("1252LATIN1", small, sizeof small, nullptr), "125");
}

TEST(CollationSpecification, InfoAndTailoring) {
  struct Case {
    const char* spec;
    const char* expected;  // null: fails
    a_case_sensitivity case_code;
    an_accent_sensitivity accent;
  };
  const Case cases[] = {
      {"1252LATIN1", "1252LATIN1", 'n', 'n'},
      {"1252LATIN1(CaseSensitivity=Respect)", "1252LATIN1", 'A', 'n'},
      {"1252LATIN1{Case=ignore}  ", "1252LATIN1", 'n', 'n'},
      {"1252LATIN1(CaseSensitivity=Respect", nullptr, 'n', 'n'},  // no closing bracket
      {"1252LATIN1(CaseSensitivity=Respect}", nullptr, 'n', 'n'},
      {"1252LATIN1(Case=UpperFirst)", nullptr, 'n', 'n'},  // legacy rules
      {"1252LATIN1(Accent=Respect)", nullptr, 'n', 'n'},
      {"UCA(Case=LowerFirst;Accent=French)", "UCA", 'a', 'f'},
      {"NOSUCH(Case=Respect)", nullptr, 'n', 'n'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    UTCollationTailoring t;
    const CollationInfo* info = UTLocale::GetCollationInfoAndTailoring(c.spec, &t);
    EXPECT_STREQ(info ? info->label : nullptr, c.expected);
    EXPECT_EQ(t.case_sensitivity, c.case_code);
    EXPECT_EQ(t.accent_sensitivity, c.accent);
    EXPECT_EQ(t.punctuation_sensitivity, static_cast<a_punctuation_sensitivity>('p'));
  }
  UTCollationTailoring legacy;
  ASSERT_NE(UTLocale::GetCollationInfoAndTailoring("1252LATIN1(Case=Respect)", &legacy),
            nullptr);
  EXPECT_STREQ(
      legacy.GetCompleteTailoringOptions(),
      "CaseSensitivity=Respect;AccentSensitivity=Ignore;PunctuationSensitivity=Primary");
}

TEST(CollationSpecification, JapaneseEnvironmentDefaultsForICU) {
  struct Case {
    const char* vclang;
    const char* lc_all;
    const char* spec;
    a_case_sensitivity case_code;
    an_accent_sensitivity accent;
  };
  const Case cases[] = {
      {"japanese", nullptr, "UCA", 'A', 'y'},
      {"japanese", nullptr, "1252LATIN1", 'n', 'n'},
      {nullptr, "ja_JP.eucJP", "UCA", 'A', 'y'},
      {nullptr, "de_DE.UTF-8", "UCA", 'n', 'n'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    ScopedEnv env;
    env.Set("VCLANG", c.vclang);
    env.Set("LC_ALL", c.lc_all);
    UTCollationTailoring t;
    const CollationInfo* info = UTLocale::GetCollationTailoringDefaults(c.spec, &t);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(t.case_sensitivity, c.case_code);
    EXPECT_EQ(t.accent_sensitivity, c.accent);
  }
}

TEST(CollationListing, Order) {
  std::vector<const CollationInfo*> list;
  for (const CollationInfo& c : UTLocale::_collation_info) list.push_back(&c);
  std::qsort(list.data(), list.size(), sizeof list[0],
             VSRCollationIterator::compare_collations);
  auto pos = [&](const char* label) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (std::strcmp(list[i]->label, label) == 0) return static_cast<int>(i);
    }
    return -1;
  };
  const std::pair<const char*, const char*> before[] = {
      {"1250LATIN2", "1252LATIN1"}, {"1252LATIN1", "ISO_BINENG"},
      {"UTF8BIN", "437LATIN1"},     {"874THAIBIN", "1250LATIN2"} /* flag 0 each: 874 < 1250 */,
      {"437EBCDIC", "437ESP"},      {"865NOR", "C"},
      {"950ZHO_HK", "950ZHO_TW"},   {"1254TRK", "1254TRKALT"},
  };
  for (const auto& [a, b] : before) {
    SCOPED_TRACE(std::string(a) + " before " + b);
    EXPECT_LT(pos(a), pos(b));
  }
}

TEST(CollationRecords, Descriptions) {
  ScopedEnv env;
  {
    UTLocale locale;
    UTLangString strings(&locale);
    ASSERT_EQ(strings.Init("en", Charset("UTF-8"), 0), LS_INIT_SUCCESS);
    char buf[128];
    const CollationInfo* c = UTLocale::GetCollationInfoFromLabel("1250LATIN2");
    EXPECT_GT(c->get_description(strings, buf, sizeof buf), 0u);
    EXPECT_STREQ(buf, "Collation 1250LATIN2 (windows-1250)");
    // A custom record of a new label has its own text; one of a known label the
    // table's message.
    a_custom_collation_info def;
    def.set("MINE", "Sorted my way", &_packed_collation_46, "windows-1252");
    CollationInfo mine(&def);
    EXPECT_EQ(mine.get_description(strings, buf, sizeof buf), 13u);
    EXPECT_STREQ(buf, "Sorted my way");
    EXPECT_EQ(mine.get_description(strings, buf, 7), 6u);
    EXPECT_STREQ(buf, "Sorted");
    def.set("UTF8BIN", "ignored", &_packed_collation_53, "UTF-8");
    CollationInfo known(&def);
    known.get_description(strings, buf, sizeof buf);
    EXPECT_STREQ(buf, "Collation UTF8BIN (UTF-8)");
  }
}

TEST(CollationRecords, LanguagesList) {
  char buf[64];
  EXPECT_EQ(CollationInfo::GetLanguagesList(buf, sizeof buf, ",", 0x60001), 1);
  EXPECT_STREQ(buf, "hu,cs,en");
  EXPECT_EQ(CollationInfo::GetLanguagesList(buf, sizeof buf, ", ", 0), 1);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(CollationInfo::GetLanguagesList(buf, 9, ",", 0x60001), 1);  // exactly fits
  EXPECT_EQ(CollationInfo::GetLanguagesList(buf, 8, ",", 0x60001), 0);
  EXPECT_STREQ(buf, "");
}

}  // namespace
