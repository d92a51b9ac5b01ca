// Tailoring texts, their codes and rebuilt strings, and the name lookups.
#include "utils/locale/collation_tailoring.h"

#include <gtest/gtest.h>

#include <string>

#include "collation_test_support.h"

namespace {

struct SetCase {
  const char* text;
  unsigned legacy;
  unsigned result;
  char case_code, accent, punctuation;
  a_sort_type sort_type;
  const char* icu_locale;
  const char* options;
  const char* complete;
};

const SetCase kSetCases[] = {
    {"CaseSensitivity=yes", 0, 1, 'A', 'n', 'p', 0, "", "",
     "CaseSensitivity=UpperFirst;AccentSensitivity=Ignore;PunctuationSensitivity=Primary"},
    {"CaseSensitivity=yes", 1, 1, 'A', 'n', 'p', 0, "", "",
     "CaseSensitivity=Respect;AccentSensitivity=Ignore;PunctuationSensitivity=Primary"},
    {"Case=aA;Accent=f", 0, 1, 'a', 'f', 'p', 0, "", "",
     "CaseSensitivity=LowerFirst;AccentSensitivity=French;PunctuationSensitivity=Primary"},
    {"case=Aa; accent = TRUE ;", 0, 1, 'A', 'y', 'p', 0, "", "",
     "CaseSensitivity=UpperFirst;AccentSensitivity=Respect;PunctuationSensitivity=Primary"},
    {"CaseSensitive=CapsFirst;AccentSensitive=off;PunctuationSensitive=no", 0, 1, 'A', 'n', 'i',
     0, "", "",
     "CaseSensitivity=UpperFirst;AccentSensitivity=Ignore;PunctuationSensitivity=Ignore"},
    {"Case=Respect;Accent=Respect;Punct=Quaternary", 0, 1, 'A', 'y', 'q', 0, "", "",
     "CaseSensitivity=UpperFirst;AccentSensitivity=Respect;PunctuationSensitivity=Quaternary"},
    {"Locale=de;SortType=PhoneBook", 0, 1, 'n', 'n', 'p', kSortTypePhonebook,
     "de@collation=phonebook", "Locale=de",
     "Locale=de;CaseSensitivity=Ignore;AccentSensitivity=Ignore;PunctuationSensitivity=Primary;"
     "SortType=phonebook"},
    {"SortType=gb2312HAN", 0, 1, 'n', 'n', 'p', kSortTypeGb2312han, "@collation=gb2312han", "",
     "CaseSensitivity=Ignore;AccentSensitivity=Ignore;PunctuationSensitivity=Primary;"
     "SortType=gb2312han"},
    {"", 1, 1, 'n', 'n', 'p', 0, "", "",
     "CaseSensitivity=Ignore;AccentSensitivity=Ignore;PunctuationSensitivity=Primary"},
    // Failures leave the defaults.
    {"Case=AA", 0, 0, 'n', 'n', 'p', 0, "", "", ""},
    {"Case=aa", 0, 0, 'n', 'n', 'p', 0, "", "", ""},
    {"Punct=Quaternary", 0, 0, 'n', 'n', 'p', 0, "", "", ""},
    {"Case=Respect;Punct=Quaternary", 0, 0, 'n', 'n', 'p', 0, "", "", ""},
    {"Punct=Secondary", 0, 0, 'n', 'n', 'p', 0, "", "", ""},
    {"SortType=alphabetical", 0, 0, 'n', 'n', 'p', 0, "", "", ""},
    {"Colour=red", 0, 0, 'n', 'n', 'p', 0, "", "", ""},
    {"Case", 0, 0, 'n', 'n', 'p', 0, "", "", ""},
    {"Locale=de", 1, 0, 'n', 'n', 'p', 0, "", "", ""},
    {"Case=UpperFirst", 1, 0, 'n', 'n', 'p', 0, "", "", ""},
    {"Accent=Respect", 1, 0, 'n', 'n', 'p', 0, "", "", ""},
    {"SortType=pinyin", 1, 0, 'n', 'n', 'p', 0, "", "", ""},
};

class TailoringSet : public ::testing::TestWithParam<SetCase> {};

TEST_P(TailoringSet, CodesAndStrings) {
  const SetCase& c = GetParam();
  UTCollationTailoring t;
  EXPECT_EQ(t.Set(c.text, c.legacy), c.result);
  EXPECT_EQ(t.case_sensitivity, static_cast<a_case_sensitivity>(c.case_code));
  EXPECT_EQ(t.accent_sensitivity, static_cast<an_accent_sensitivity>(c.accent));
  EXPECT_EQ(t.punctuation_sensitivity, static_cast<a_punctuation_sensitivity>(c.punctuation));
  EXPECT_EQ(t.sort_type, c.sort_type);
  EXPECT_STREQ(t.GetICULocale(), c.icu_locale);
  EXPECT_STREQ(t.GetTailoringOptions(), c.options);
  EXPECT_STREQ(t.GetCompleteTailoringOptions(), c.complete);
  EXPECT_EQ(t.flags & kTailoringApplied, kTailoringApplied);
  EXPECT_EQ((t.flags & kTailoringSetOk) != 0, c.result == 1);
  EXPECT_EQ((t.flags & kTailoringLegacy) != 0, c.legacy != 0);
}

// The tailoring text in the text form of NameOf, with "_legacy" for the old spellings,
// numbered to keep rows with the same text apart.
std::string SetName(const SetCase& c) { return NameOf(c.text) + (c.legacy ? "_legacy" : ""); }
void PrintTo(const SetCase& c, std::ostream* os) { *os << SetName(c); }

INSTANTIATE_TEST_SUITE_P(Texts, TailoringSet, ::testing::ValuesIn(kSetCases),
                         [](const ::testing::TestParamInfo<SetCase>& info) {
                           return std::to_string(info.index) + "_" + SetName(info.param);
                         });

TEST(Tailoring, LaterTextsBuildOnEarlierOnes) {
  UTCollationTailoring t("Case=Respect;Accent=Respect");
  EXPECT_EQ(t.Set("Punct=Quaternary", 0), 1u);  // case and accent already respected
  EXPECT_EQ(t.punctuation_sensitivity, static_cast<a_punctuation_sensitivity>('q'));
  EXPECT_EQ(t.Set("Locale=sv", 0), 1u);
  EXPECT_EQ(t.SetSortType(kSortTypeStandard), 1u);
  EXPECT_STREQ(t.GetICULocale(), "sv@collation=standard");
  EXPECT_EQ(t.SetSortType(kSortTypeNone), 1u);
  EXPECT_STREQ(t.GetICULocale(), "sv");
  // A failing text changes nothing; with the legacy flag an empty text only sets flags.
  EXPECT_EQ(t.Set("Case=Ignore;Accent=bogus", 0), 0u);
  EXPECT_EQ(t.case_sensitivity, static_cast<a_case_sensitivity>('A'));
  EXPECT_EQ(t.Set(nullptr, 1), 1u);
  EXPECT_EQ(t.case_sensitivity, static_cast<a_case_sensitivity>('A'));
  EXPECT_STREQ(t.GetCompleteTailoringOptions(),
               "Locale=sv;CaseSensitivity=Respect;AccentSensitivity=Respect;"
               "PunctuationSensitivity=Quaternary");
}

TEST(Tailoring, Constructors) {
  const UTCollationTailoring ignore('n');
  EXPECT_EQ(ignore.accent_sensitivity, static_cast<an_accent_sensitivity>('n'));
  const UTCollationTailoring respect('A');
  EXPECT_EQ(respect.accent_sensitivity, static_cast<an_accent_sensitivity>('y'));
  EXPECT_EQ(respect.punctuation_sensitivity, static_cast<a_punctuation_sensitivity>('p'));
  const UTCollationTailoring three('a', 'f', 'i');
  EXPECT_EQ(three.case_sensitivity, static_cast<a_case_sensitivity>('a'));
  EXPECT_EQ(three.flags, 0);
  EXPECT_STREQ(three.GetCompleteTailoringOptions(), "");
}

TEST(Tailoring, Names) {
  const char* canonical = "x";
  EXPECT_EQ(GetSortType("TRADITIONAL", &canonical), kSortTypeTraditional);
  EXPECT_STREQ(canonical, "traditional");
  EXPECT_EQ(GetSortType("unknown", &canonical), kSortTypeNone);
  EXPECT_EQ(canonical, nullptr);
  EXPECT_EQ(GetSortType(nullptr, &canonical), kSortTypeNone);
  EXPECT_STREQ(GetSortTypeName(kSortTypeBig5han), "big5han");
  EXPECT_EQ(GetSortTypeName(0), nullptr);
  EXPECT_EQ(GetSortTypeName(10), nullptr);
  struct Name {
    const char* got;
    const char* expected;
  };
  const Name names[] = {
      {GetCaseTypeName('n', 0), "Ignore"},         {GetCaseTypeName('A', 0), "UpperFirst"},
      {GetCaseTypeName('a', 0), "LowerFirst"},     {GetCaseTypeName('A', 1), "Respect"},
      {GetCaseTypeName('a', 1), "Respect"},        {GetCaseTypeName('x', 0), "Ignore"},
      {GetAccentTypeName('y'), "Respect"},         {GetAccentTypeName('f'), "French"},
      {GetAccentTypeName('q'), "Ignore"},          {GetPunctuationTypeName('p'), "Primary"},
      {GetPunctuationTypeName('q'), "Quaternary"}, {GetPunctuationTypeName('i'), "Ignore"},
      {GetPunctuationTypeName('z'), "Ignore"},
  };
  for (const Name& n : names) EXPECT_STREQ(n.got, n.expected);
}

}  // namespace
