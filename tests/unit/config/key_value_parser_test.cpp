// The key=value parser against the client table: quoting, bracket groups, the
// command-line rule of StartLine, duplicate and unknown keys, and the error codes with
// their offending text; the header reader, yes/no words and numbers.
#include "config/key_value_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "config/option_tables.h"

namespace {

using Values = std::map<int, std::string>;

struct Outcome {
  int rc = -1;
  std::string error;
  Values values;
  std::vector<int> order;
};

Outcome Parse(const char* text, bool client = true, bool keepFirst = false,
              bool allowUnknown = false, const a_conn_option* table = MapClientOptionTable,
              unsigned count = kClientSlots) {
  Outcome out;
  a_string_parms parms = {};
  EXPECT_TRUE(InitSizedStringParms(&parms, count));
  int order[kParseOrderRoom];
  out.rc = ParseKeyValueString(text, &parms, table, client, keepFirst, allowUnknown, order);
  out.error = StringParmsError(&parms);
  for (unsigned i = 0; i < parms.count; ++i) {
    if (parms.values[i] != nullptr) out.values[int(i)] = parms.values[i];
  }
  for (int k = 0; order[k] != -1; ++k) out.order.push_back(order[k]);
  FreeStringParms(&parms);
  return out;
}

struct ParseCase {
  const char* name;
  const char* text;
  int rc;
  const char* error;  // expected error text (codes 2 and above)
  Values values;
};

// The case's name stands for it in test names and messages.
void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class ClientParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ClientParse, StoresValuesOrReportsTheOffendingText) {
  const ParseCase& c = GetParam();
  const Outcome out = Parse(c.text);
  EXPECT_EQ(out.rc, c.rc);
  if (c.rc >= kParseNoEquals) {
    EXPECT_EQ(out.error, c.error);
  }
  EXPECT_EQ(out.values, c.values);
}

const ParseCase kClientCases[] = {
    {"QuotedSemicolon", "UID=dba;CON='a;b'", 0, "", {{0, "dba"}, {8, "a;b"}}},
    {"DoubledSingleQuote", "CON='it''s'", 0, "", {{8, "it's"}}},
    {"DoubledDoubleQuote", "CON=\"say \"\"hi\"\"\"", 0, "", {{8, "say \"hi\""}}},
    {"QuotedKeepsBlanks", "CON=' a b '  ;UID=u", 0, "", {{8, " a b "}, {0, "u"}}},
    {"TextAfterQuote", "UID=dba;CON='x' y", 7, "CON", {{0, "dba"}}},
    {"UnterminatedQuote", "UID=u;CON='abc", 3, "CON", {{0, "u"}}},
    {"CheckRejectsWord", "ASTOP=maybe", 7, "maybe", {}},
    {"CheckNormalisesYes", "ASTOP=on;UNC=0", 0, "", {{9, "YES"}, {6, "NO"}}},
    {"NumberWithUnit", "CBSIZE=4k", 0, "", {{14, "4k"}}},
    {"NumberNotDigitFirst", "CBSIZE=x4", 7, "x4", {}},
    {"NumberTrailingText", "CBSIZE=4kb", 7, "4kb", {}},
    {"LazyCloseAuto", "LCLOSE=auto", 0, "", {{33, "AUTO"}}},
    {"LazyCloseRejects", "LCLOSE=sometimes", 7, "sometimes", {}},
    {"UnknownKey", "UID=a;Foo=1", 5, "Foo", {{0, "a"}}},
    {"LastValueWins", "UID=a;UID=b", 0, "", {{0, "b"}}},
    {"BracketValue",
     "LINKS=tcpip(host=h;port=1);UID=u",
     0,
     "",
     {{20, "tcpip(host=h;port=1)"}, {0, "u"}}},
    {"BracketOtherKindIgnored", "LINKS=a{b(;)}c;UID=u", 0, "", {{20, "a{b(;)}c"}, {0, "u"}}},
    {"BracketNestedSameKind",
     "ENC=tls(a=(b;c);d=1);UID=u",
     0,
     "",
     {{16, "tls(a=(b;c);d=1)"}, {0, "u"}}},
    {"BracketOpenAtEnd", "LINKS=tcpip(host=h", 6, "LINKS", {}},
    {"BracketsMeanNothingWithoutFlag", "CON=a(b;UID=u", 0, "", {{8, "a(b"}, {0, "u"}}},
    {"StartLineArgumentKept",
     "START=eng -x tcpip(port=1;x=2) -n s",
     0,
     "",
     {{7, "eng -x tcpip(port=1;x=2) -n s"}}},
    {"StartLineUpperCaseOption",
     "START=e -XS tcpip{a;b};UID=u",
     0,
     "",
     {{7, "e -XS tcpip{a;b}"}, {0, "u"}}},
    {"StartLineEcOption", "START=e -ec tls(x=1;y=2)", 0, "", {{7, "e -ec tls(x=1;y=2)"}}},
    {"StartLineBlankInsideBracket", "START=e -x tcpip(a b)", 6, "START", {}},
    {"StartLineMismatchedCloser", "START=e -x tcpip(a}", 6, "START", {}},
    {"StartLineCloserWithNothingOpen", "START=e -x a);UID=u", 6, "START", {}},
    {"StartLineOpenAtEnd", "START=e -x tcpip(a;b", 6, "START", {}},
    {"StartLineBracketOutsideOption", "START=e (a;b)", 2, "b)", {{7, "e (a"}}},
    {"StartLineOptionWordIsNotOption",
     "START=e -xy (a;UID=u",
     0,
     "",
     {{7, "e -xy (a"}, {0, "u"}}},
    {"SeparatorsIgnored", ";;UID=a;;", 0, "", {{0, "a"}}},
    {"EmptyText", "", 0, "", {}},
    {"KeyWithoutEquals", "UID", 2, "UID", {}},
    {"KeyWithoutEqualsLater", "UID=a; PWD x", 2, "PWD x", {{0, "a"}}},
    {"HashSeparates", "UID#a", 0, "", {{0, "a"}}},
    {"BlanksTrimmed", "  UID  =  a b  \t;", 0, "", {{0, "a b"}}},
    {"EmptyValueStoresNothing", "UID=;PWD=p", 0, "", {{1, "p"}}},
    {"AliasesAndCase",
     "eng=srv;Data Source=ds;filedsn=f",
     0,
     "",
     {{5, "srv"}, {10, "ds"}, {12, "f"}}},
};

INSTANTIATE_TEST_SUITE_P(Client, ClientParse, ::testing::ValuesIn(kClientCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KeyValueParse, DuplicatesUnknownKeysAndOrder) {
  Outcome first = Parse("UID=a;PWD=b;UID=c", true, true);
  EXPECT_EQ(first.values, (Values{{0, "a"}, {1, "b"}}));
  EXPECT_EQ(first.order, (std::vector<int>{0, 1}));

  Outcome last = Parse("UID=a;PWD=b;UID=c");
  EXPECT_EQ(last.values, (Values{{0, "c"}, {1, "b"}}));
  // A slot is listed once, however often its key comes: the list cannot outgrow its room.
  EXPECT_EQ(last.order, (std::vector<int>{0, 1}));

  // An unknown key allowed: its value is read by the rules of the last matched row (here
  // a bracket row), so a ';' inside its group does not end it.
  Outcome unknown = Parse("LINKS=x;Foo=a(b;c);UID=u", true, false, true);
  EXPECT_EQ(unknown.rc, 0);
  EXPECT_EQ(unknown.values, (Values{{20, "x"}, {0, "u"}}));
  EXPECT_EQ(unknown.order, (std::vector<int>{20, 0}));
}

TEST(KeyValueParse, RepeatedKeysNeverOverrunTheOrderList) {
  std::string text;
  for (int i = 0; i < 500; ++i) text += "UID=u" + std::to_string(i) + ";PWD=p;";
  Outcome out = Parse(text.c_str());
  EXPECT_EQ(out.rc, 0);
  EXPECT_EQ(out.order, (std::vector<int>{0, 1}));
  EXPECT_EQ(out.values[0], "u499");
}

TEST(KeyValueParse, ServerNameIsCutOnlyUnderClientRules) {
  const std::string name(300, 's');
  const std::string text = "ENG=" + name;
  EXPECT_EQ(Parse(text.c_str(), true).values[5], name.substr(0, 250));
  EXPECT_EQ(Parse(text.c_str(), false).values[5], name);
}

TEST(KeyValueParse, ErrorTextIsCutTo255Bytes) {
  const std::string key(400, 'k');
  const std::string text = key + "=1";
  Outcome out = Parse(text.c_str());
  EXPECT_EQ(out.rc, kParseUnknownKey);
  EXPECT_EQ(out.error, key.substr(0, 255));
}

TEST(KeyValueParse, StartLineHasNoSpecialRuleOutsideClientRules) {
  // Without client rules StartLine is a plain bracket row: the blank is part of a group.
  Outcome out = Parse("START=e -x tcpip(a b)", false);
  EXPECT_EQ(out.rc, 0);
  EXPECT_EQ(out.values[7], "e -x tcpip(a b)");
}

TEST(KeyValueParse, NullTextAndBlocks) {
  a_string_parms parms = {};
  ASSERT_TRUE(InitSizedStringParms(&parms, 3));
  EXPECT_EQ(parms.count, 3);
  EXPECT_STREQ(StringParmsError(&parms), "");
  EXPECT_EQ(
      ParseKeyValueString(nullptr, &parms, MapCPoolOptionTable, false, false, false, nullptr),
      kParseOk);
  EXPECT_EQ(ParseKeyValueString("TO=5;MaxCached=2", &parms, MapCPoolOptionTable, false, false,
                                false, nullptr),
            kParseOk);
  EXPECT_STREQ(parms.values[0], "5");
  FreeStringParms(&parms);
  EXPECT_EQ(parms.values, nullptr);
  EXPECT_EQ(parms.count, 0);
  FreeStringParms(&parms);  // a freed block is left alone
  FreeStringParms(nullptr);
}

struct HeaderCase {
  const char* text;
  int rc;
  const char* name;  // null: no header
  const char* rest;  // text at the position after the call
};

TEST(KeyValueHeader, ReadsTheNameInFrontOfAGroup) {
  const HeaderCase cases[] = {
      {"name(k=v;x=y)", 0, "name", "k=v;x=y"},
      {"  name { k=v }  ", 0, "name", " k=v "},
      {"k=v", 0, nullptr, "k=v"},
      {"  k = v", 0, nullptr, "k = v"},
      {"k#v", 0, nullptr, "k#v"},
      {"name", 0, "name", ""},
      {"name  ", 0, "name", ""},
      {"name(k=v", kParseBrackets, nullptr, nullptr},
      {"name(k=v}", kParseBrackets, nullptr, nullptr},
      {"name(", kParseBrackets, nullptr, nullptr},
      {"name x", kParseBadHeaderText, nullptr, nullptr},
  };
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.text);
    std::string buffer = c.text;
    char* pos = buffer.data();
    char* name = nullptr;
    ASSERT_EQ(ParseKeyValueHeader(&pos, &name), c.rc);
    if (c.rc != 0) continue;
    if (c.name == nullptr) {
      EXPECT_EQ(name, nullptr);
    } else {
      ASSERT_NE(name, nullptr);
      EXPECT_STREQ(name, c.name);
    }
    EXPECT_STREQ(pos, c.rest);
  }
}

TEST(YesNo, WordsWholeAndPrefix) {
  struct Case {
    const char* text;
    bool whole;
    bool ok;
    int value;
  };
  const Case cases[] = {
      {"TRUE", true, true, 1},       {"yes", true, true, 1},        {"On", true, true, 1},
      {"1", true, true, 1},          {"t", true, true, 1},          {"Y", true, true, 1},
      {"no", true, true, 0},         {"OFF", true, true, 0},        {"0", true, true, 0},
      {"false", true, true, 0},      {"N", true, true, 0},          {"f", true, true, 0},
      {"yesterday", true, false, 0}, {"yesterday", false, true, 1}, {"nope", false, true, 0},
      {"offer", false, true, 0},     {"maybe", false, false, 0},    {"", true, false, 0},
      {"", false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + (c.whole ? " whole" : " prefix"));
    int value = -1;
    ASSERT_EQ(ParseYesNo(c.text, &value, c.whole), c.ok);
    if (c.ok) {
      EXPECT_EQ(value, c.value);
    }
  }
  int value = -1;
  EXPECT_FALSE(ParseYesNo(nullptr, &value, true));
}

TEST(KNumber, ReadsDecimalHexUnitsAndPercentages) {
  constexpr std::uint64_t kMax = ~std::uint64_t{0};
  struct Case {
    const char* text;
    std::uint64_t base;
    bool bytes;
    bool strict;
    bool ok;
    std::uint64_t value;
    const char* rest;  // text after the end pointer
  };
  const Case cases[] = {
      {"0x1F", 0, false, true, true, 31, ""},
      {"0x", 0, false, true, true, 0, ""},
      {"0X1F", 0, false, true, false, 0, "X1F"},
      {"0X1F", 0, false, false, true, 0, "X1F"},
      {"  42", 0, false, true, true, 42, ""},
      {"2M", 0, true, true, true, 2097152, ""},
      {"2m", 0, false, true, false, 2, "m"},
      {"3g", 0, true, true, true, 3ull << 30, ""},
      {"4kxyz", 0, true, true, true, 4096, "xyz"},
      {"12abc", 0, false, true, false, 12, "abc"},
      {"12abc", 0, false, false, true, 12, "abc"},
      {"50%", 200, false, true, true, 100, ""},
      {"50p", 200, false, true, true, 100, ""},
      {"150%", 200, false, true, false, 150, ""},
      {"50%", 0, false, true, false, 50, "%"},
      {"", 0, false, false, false, 0, ""},
      {"   ", 0, false, false, false, 0, ""},
      // Values that do not fit saturate instead of wrapping to something small.
      {"18446744073709551615", 0, false, true, true, kMax, ""},
      {"99999999999999999999999", 0, false, true, true, kMax, ""},
      {"0x1ffffffffffffffff", 0, false, true, true, kMax, ""},
      {"20000000000G", 0, true, true, true, kMax, ""},
      {"16777216G", 0, true, true, true, 16777216ull << 30, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::uint64_t value = 7;
    const char* end = nullptr;
    ASSERT_EQ(knumber(c.text, &value, c.base, c.bytes, c.strict, &end), c.ok);
    if (c.ok) {
      EXPECT_EQ(value, c.value);
    }
    EXPECT_STREQ(end, c.rest);
  }
  std::uint64_t value = 7;
  EXPECT_TRUE(knumber(nullptr, &value, 0, false, true, nullptr));
  EXPECT_EQ(value, 0u);
}

TEST(RTrim, RemovesBlanksButNotTabs) {
  char a[] = "abc  ";
  RTrim(a);
  EXPECT_STREQ(a, "abc");
  char b[] = "abc\t ";
  RTrim(b);
  EXPECT_STREQ(b, "abc\t");
  char c[] = "   ";
  RTrim(c);
  EXPECT_STREQ(c, "");
  RTrim(nullptr);
}

}  // namespace
