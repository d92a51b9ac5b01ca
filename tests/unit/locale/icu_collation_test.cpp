// The ICU collation over the Unicode stand-in: tailoring, orders of string pairs in a
// single-byte set and in UTF-8, the 1,024-byte prefix and the raw tie-break, sort keys
// with the raw tail, fragmented text, case mapping and classification.
#include "utils/locale/icu_collation.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "collation_test_support.h"
#include "converter_fixture.h"
#include "utils/base/memory.h"
#include "utils/base/mbcs_character.h"
#include "utils/locale/collation.h"
#include "utils/locale/utlocale.h"

namespace {

using Key = std::vector<unsigned char>;

const CharsetInfo* Cp1252() { return &UTLocale::_charset_info[46]; }
const CharsetInfo* Utf8() { return &UTLocale::_charset_info[53]; }

// A registry that loads the stand-in, and a front object set to "UCA".
class IcuTest : public ::testing::Test {
 protected:
  IcuTest() : installation_(nullptr), locale_(), coll_(&locale_) {}

  // Sets "UCA" over `charset` with a tailoring text; the set's status.
  unsigned Use(const CharsetInfo* charset, const char* tailoring_text) {
    UTCollationTailoring tailoring;
    EXPECT_EQ(tailoring.Set(tailoring_text, 0), 1u) << tailoring_text;
    return coll_.do_set_collation(true, &locale_, UTLocale::GetCollationInfoFromLabel("UCA"),
                                  charset, nullptr, tailoring, 0);
  }
  ICUCollation* Icu() { return static_cast<ICUCollation*>(&coll_.implementation()); }
  Key SortKey(const std::string& s, std::size_t room = 4096) {
    Key key(room);
    key.resize(coll_->sortkey_prefix(key.data(), key.size(), s.data(), s.size()));
    return key;
  }

  ScopedInstallation installation_;  // the library is found beside the test program
  UTLocale locale_;
  UTCollation coll_;
};

TEST_F(IcuTest, LibraryIsThere) { ASSERT_TRUE(locale_.ICUIsSupported()); }

struct PairCase {
  bool utf8;
  const char* tailoring;
  const char* a;  // windows-1252 bytes, or UTF-8 when utf8
  const char* b;
  int order;
};

const PairCase kPairs[] = {
    // Case.
    {false, "Case=Ignore", "abc", "ABC", 0},
    {false, "Case=UpperFirst", "ABC", "abc", -1},
    {false, "Case=LowerFirst", "abc", "ABC", -1},
    {true, "Case=UpperFirst", "Abc", "abc", -1},
    {false, "Case=Ignore", "apple", "Banana", -1},
    // Accents.
    {false, "Accent=Ignore", "resume", "r\xE9sum\xE9", 0},
    {false, "Accent=Respect", "resume", "r\xE9sum\xE9", -1},
    {true, "Accent=Respect", "resume", "r\xC3\xA9sum\xC3\xA9", -1},
    {true, "Accent=Ignore", "\xC3\x89T\xC3\x89", "ete", 0},
    {true, "Accent=Respect", "\xC3\xA9", "f", -1},  // the accent is secondary to the letter
    // French accents weigh from the end of the word: côte before coté.
    {false, "Accent=French", "cot\xE9", "c\xF4te", 1},
    {false, "Accent=Respect", "c\xF4te", "cot\xE9", 1},
    // Punctuation.
    {false, "Punct=Ignore", "a-b", "ab", 0},
    {false, "Punct=Primary", "a-b", "ab", -1},
    {true, "Punct=Ignore", "co-op", "coop", 0},
    {false, "Case=Respect;Accent=Respect;Punct=Quaternary", "a-b", "ab", -1},
    {false, "Case=Respect;Accent=Respect;Punct=Quaternary", "a-b", "a-c", -1},
    // Lengths and the empty string.
    {false, "", "ab", "abc", -1},
    {true, "", "", "", 0},
    {true, "", "", "a", -1},
    // Tailored orders: phonebook German sorts ä as ae.
    {true, "Locale=de;SortType=phonebook;Accent=Ignore", "\xC3\xA4", "ae", 0},
    {true, "Locale=sv;Accent=Respect", "\xC3\xA4", "z", 1},
    {true, "Locale=en;Accent=Respect", "\xC3\xA4", "z", -1},
};

class IcuPairs : public IcuTest, public ::testing::WithParamInterface<PairCase> {};

TEST_P(IcuPairs, EveryFormAgrees) {
  const PairCase& p = GetParam();
  ASSERT_EQ(Use(p.utf8 ? Utf8() : Cp1252(), p.tailoring), 1u);
  const std::string a = p.a, b = p.b;
  EXPECT_EQ(Sign(coll_->trancmp(a.c_str(), b.c_str())), p.order);
  EXPECT_EQ(Sign(coll_->trancmp(b.data(), b.size(), a.data(), a.size())), -p.order);
  EXPECT_EQ(Sign(coll_->tranncmp(a.c_str(), b.c_str(), 50)), p.order);
  EXPECT_EQ(KeyOrder(SortKey(a), SortKey(b)), p.order);
  for (unsigned piece : {1u, 3u}) {
    PieceIStream sa(a, piece), sb(b, piece);
    EXPECT_EQ(Sign(coll_->trancmp(sa, sb)), p.order) << "pieces of " << piece;
    PieceIStream ba(a, piece), bb(b, piece);
    EXPECT_EQ(Sign(coll_->trancmp(ba, a.size(), bb, b.size())), p.order)
        << "pieces of " << piece;
  }
  if (p.order == 0) {
    EXPECT_EQ(coll_->id_hash(a.data(), a.size()), coll_->id_hash(b.data(), b.size()));
  }
}

// "<a>_lt_<b>" in the text forms of NameOf, numbered to keep rows with the same texts
// apart; the printed value is the same without the number.
std::string PairName(const PairCase& p) {
  return NameOf(p.a) + "_" + OrderName(p.order) + "_" + NameOf(p.b);
}
void PrintTo(const PairCase& p, std::ostream* os) { *os << PairName(p); }

INSTANTIATE_TEST_SUITE_P(Orders, IcuPairs, ::testing::ValuesIn(kPairs),
                         [](const ::testing::TestParamInfo<PairCase>& info) {
                           return std::to_string(info.index) + "_" + PairName(info.param);
                         });

TEST_F(IcuTest, Tailoring) {
  // Quaternary punctuation while case is ignored raises case (upper first) and accent,
  // and reports it.
  UTCollationTailoring t('n', 'n', 'q');
  EXPECT_EQ(coll_.do_set_collation(true, &locale_, UTLocale::GetCollationInfoFromLabel("UCA"),
                                   Cp1252(), nullptr, t, 0),
            0u);
  EXPECT_EQ(coll_->case_sensitivity(), static_cast<a_case_sensitivity>('A'));
  EXPECT_EQ(coll_->accent_sensitivity(), static_cast<an_accent_sensitivity>('y'));
  EXPECT_LT(coll_->trancmp("A", "a"), 0);
  EXPECT_FALSE(coll_->from_default());
  EXPECT_FALSE(coll_->case_translation_preserves_sort_order());
  EXPECT_EQ(coll_->suggested_sortkey_length(10), 20u);

  ASSERT_EQ(Use(Utf8(), "Locale=xx_YY"), 1u);
  EXPECT_TRUE(coll_->from_default());
}

TEST_F(IcuTest, UsablePrefixAndRawTieBreak) {
  ASSERT_EQ(Use(Cp1252(), "Case=Ignore"), 1u);
  // Equal in the first 1,024 bytes, different at byte 1,500: by that byte.
  std::string a(2000, 'x'), b(2000, 'x');
  a[1500] = 'b';
  b[1500] = 'a';
  EXPECT_GT(coll_->trancmp(a.data(), a.size(), b.data(), b.size()), 0);
  // Equal under ICU over their prefixes (case is ignored) but longer than 1,024 bytes:
  // the raw bytes decide, so the strings are not equal.
  std::string up(1500, 'X'), low(1500, 'x');
  EXPECT_LT(coll_->trancmp(up.data(), up.size(), low.data(), low.size()), 0);
  // A 1,000-byte and a 1,500-byte string equal over their usable prefixes: shorter first.
  const std::string s1000(1000, 'x'), s1500(1500, 'x');
  EXPECT_LT(coll_->trancmp(s1000.data(), s1000.size(), s1500.data(), s1500.size()), 0);
  EXPECT_GT(coll_->trancmp(s1500.data(), s1500.size(), s1000.data(), s1000.size()), 0);
  // The same through fragments.
  PieceIStream fa(a, 7), fb(b, 7);
  EXPECT_GT(coll_->trancmp(fa, fb), 0);
  PieceIStream ga(s1000, 100), gb(s1500, 100);
  EXPECT_LT(coll_->trancmp(ga, s1000.size(), gb, s1500.size()), 0);

  EXPECT_EQ(Icu()->trimmed_prefix_len(a.data(), 900), 900u);
  EXPECT_EQ(Icu()->trimmed_prefix_len(a.data(), 2000), 1024u);
  ASSERT_EQ(Use(Utf8(), ""), 1u);
  // A three-byte character starting at byte 1,023 stays out of the prefix; one ending
  // at byte 1,023 stays in.
  std::string u(1023, 'a');
  u += "\xE2\x82\xAC"
       "bbb";
  EXPECT_EQ(Icu()->trimmed_prefix_len(u.data(), u.size()), 1023u);
  std::string v(1021, 'a');
  v += "\xE2\x82\xAC"
       "bbb";
  EXPECT_EQ(Icu()->trimmed_prefix_len(v.data(), v.size()), 1024u);

  struct Tie {
    std::size_t alen, blen;
    int expected;
  };
  const std::string big(3000, 'q');
  const Tie ties[] = {
      {10, 20, 0}, {1024, 1024, 0}, {1000, 1025, -1}, {1025, 5, 1}, {1500, 2000, -1}};
  for (const Tie& t : ties) {
    EXPECT_EQ(ICUCollation::binary_compare(big.data(), t.alen, big.data(), t.blen), t.expected)
        << t.alen << " " << t.blen;
  }
}

TEST_F(IcuTest, SortKeysOfLongStrings) {
  ASSERT_EQ(Use(Cp1252(), ""), 1u);
  const std::uint8_t expected[] = {2, 254, 255, 253, 255, 254, 255, 255};
  std::uint8_t out[8];
  EXPECT_EQ(ICUCollation::binary_encode(out, sizeof out, "\x00\xFC\xFD\xFE\xFF", 5), 8u);
  EXPECT_EQ(std::memcmp(out, expected, 8), 0);
  EXPECT_EQ(ICUCollation::binary_encode(out, 3, "\x00\xFC\xFD", 3), 3u);

  // More than 1,024 bytes: the ICU key of the prefix, 1, the raw encoding of the whole
  // string, 0.
  std::string s(1100, 'k');
  s[1050] = 'Z';
  const Key whole = SortKey(s, 8192);
  const Key prefix = SortKey(s.substr(0, 1024), 8192);
  ASSERT_GT(prefix.size(), 1u);
  const Key icu_part(prefix.begin(), prefix.end() - 1);  // less its terminator
  ASSERT_EQ(whole.size(), icu_part.size() + 1 + s.size() + 1);
  EXPECT_TRUE(std::equal(icu_part.begin(), icu_part.end(), whole.begin()));
  EXPECT_EQ(whole[icu_part.size()], 1);
  EXPECT_EQ(whole[icu_part.size() + 1 + 1050], 'Z' + 2);
  EXPECT_EQ(whole.back(), 0);
  // Streams give the same key, whole or in pieces.
  for (unsigned piece : {1u, 500u, 4096u}) {
    PieceIStream in(s, piece);
    Key k(8192);
    k.resize(coll_->sortkey_prefix(k.data(), k.size(), in, s.size()));
    EXPECT_EQ(k, whole) << piece;
    PlainIStream plain(s);
    Key t(8192);
    t.resize(coll_->sortkey_prefix_tarnel(t.data(), t.size(), plain));
    EXPECT_EQ(t, whole);
  }
  // Upper bound: the primary part and 255, 255 (a key with secondary weights).
  ASSERT_EQ(Use(Cp1252(), "Accent=Respect;Case=Respect"), 1u);
  Key ub(64);
  const Key k = SortKey("abc");
  ub.resize(coll_->sortkey_bound(kSortkeyUpperBound, ub.data(), ub.size(), k.data(), k.size()));
  const std::size_t primary = std::find(k.begin(), k.end() - 1, 1) - k.begin();
  ASSERT_LT(primary, k.size() - 1);
  ASSERT_EQ(ub.size(), primary + 3);
  EXPECT_TRUE(std::equal(k.begin(), k.begin() + primary, ub.begin()));
  EXPECT_EQ(ub[primary], 255);
  EXPECT_EQ(ub[primary + 1], 255);
  for (const char* s2 : {"abc", "ABC", "abcdef", "abc\xE9"}) {
    EXPECT_LT(KeyOrder(SortKey(s2), ub), 0) << s2;
  }
  Key lb(64);
  lb.resize(coll_->sortkey_bound(kSortkeyLowerBound, lb.data(), lb.size(), k.data(), k.size()));
  EXPECT_EQ(lb, k);
}

// compare and sort keys agree, and fragmented text compares as whole text, over random
// strings in both paths and several tailorings.
TEST_F(IcuTest, RandomStringsAgree) {
  std::mt19937 rng(1210);
  const char* sbcs_alphabet[] = {"a", "A", "b", "-", " ", "\xE9", "\xC9", "1", "\xFF", "\x80"};
  const char* utf8_alphabet[] = {
      "a", "A", "b", "-", " ", "\xC3\xA9", "\xC3\x89", "1", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
  const char* tailorings[] = {"", "Case=UpperFirst;Accent=Respect", "Punct=Ignore",
                              "Case=Respect;Accent=Respect;Punct=Quaternary", "Accent=French"};
  for (bool utf8 : {false, true}) {
    for (const char* tailoring : tailorings) {
      SCOPED_TRACE(std::string(utf8 ? "UTF-8 " : "windows-1252 ") + tailoring);
      ASSERT_EQ(Use(utf8 ? Utf8() : Cp1252(), tailoring), 1u);
      const char** alphabet = utf8 ? utf8_alphabet : sbcs_alphabet;
      for (int round = 0; round < 150; ++round) {
        std::string s[2];
        for (std::string& t : s) {
          const int n = static_cast<int>(rng() % 6);
          for (int i = 0; i < n; ++i) t += alphabet[rng() % 10];
          if (rng() % 3 == 0) t = s[0] + t;
        }
        // Now and then a long one, to reach the raw tail.
        if (rng() % 10 == 0) {
          s[0] = std::string(1030, 'a') + s[0];
          s[1] = std::string(1030, 'a') + s[1];
        }
        const int order =
            Sign(coll_->trancmp(s[0].data(), s[0].size(), s[1].data(), s[1].size()));
        ASSERT_EQ(KeyOrder(SortKey(s[0]), SortKey(s[1])), order) << s[0] << " | " << s[1];
        PieceIStream a(s[0], 1 + static_cast<unsigned>(rng() % 5));
        PieceIStream b(s[1], 1 + static_cast<unsigned>(rng() % 5));
        ASSERT_EQ(Sign(coll_->trancmp(a, b)), order);
        PlainIStream pa(s[0]), pb(s[1]);
        ASSERT_EQ(Sign(coll_->trancmp(pa, pb)), order);
      }
    }
  }
}

TEST_F(IcuTest, CaseMappingAndClasses) {
  ASSERT_EQ(Use(Utf8(), ""), 1u);
  struct Case {
    const char* in;
    const char* upper;
    const char* lower;
  };
  const Case cases[] = {
      {"Stra\xC3\x9F"
       "e",
       "STRASSE",
       "stra\xC3\x9F"
       "e"},  // full mapping: ß becomes SS
      {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9"},
      {"\xCE\xA3\xCE\xB1", "\xCE\xA3\xCE\x91", "\xCF\x83\xCE\xB1"},
      {"\xC3\x89T\xC3\x89", "\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    char buf[64];
    const std::size_t n = std::strlen(c.in);
    EXPECT_EQ(coll_->str_toupper(buf, sizeof buf, c.in, n), std::strlen(c.upper));
    EXPECT_STREQ(buf, c.upper);
    EXPECT_EQ(coll_->str_tolower(buf, sizeof buf, c.in, n), std::strlen(c.lower));
    EXPECT_STREQ(buf, c.lower);
    PieceIStream in(c.in, 1);
    StringOStream out;
    EXPECT_EQ(coll_->str_toupper(out, in), std::strlen(c.upper));
    EXPECT_EQ(out.text, c.upper);
    PieceIStream lower_in(c.in, 1);
    StringOStream lower_out;
    EXPECT_EQ(coll_->str_tolower(lower_out, lower_in), std::strlen(c.lower));
    EXPECT_EQ(lower_out.text, c.lower);
  }
  char small[4];
  EXPECT_EQ(coll_->str_toupper(small, 3, "abcdef", 6), 3u);  // cut to the room
  EXPECT_EQ(std::string(small, 3), "ABC");
  char ch[8];
  EXPECT_EQ(coll_->char_toupper(ch, sizeof ch, "\xC3\xA9x", 3), 2u);
  EXPECT_EQ(std::string(ch, 2), "\xC3\x89");
  EXPECT_EQ(coll_->char_toupper(ch, sizeof ch, "\xC3", 1), 0u);  // cut character
  EXPECT_EQ(coll_->char_tolower(ch, sizeof ch, "\xC3\x89X", 3), 2u);
  EXPECT_EQ(std::string(ch, 2), "\xC3\xA9");
  EXPECT_EQ(coll_->char_tolower(ch, sizeof ch, "Q", 1), 1u);
  EXPECT_EQ(ch[0], 'q');
  EXPECT_EQ(coll_->char_tolower(ch, sizeof ch, "Q", 0), 0u);

  EXPECT_TRUE(coll_->do_is_alpha("\xC3\xA9", 2));
  EXPECT_FALSE(coll_->do_is_alpha("\xC3", 1));  // a lead byte alone
  EXPECT_TRUE(coll_->do_is_num("7", 1));
  EXPECT_TRUE(coll_->do_is_num("\xD9\xA3", 2));  // Arabic-Indic three
  EXPECT_TRUE(coll_->do_is_alphanum("\xCE\xB1", 2));
  EXPECT_TRUE(coll_->do_is_space("\xE2\x80\x83", 3));  // em space
  EXPECT_FALSE(coll_->do_is_space("x", 1));
  EXPECT_FALSE(coll_->do_is_alpha("a", 0));

  ASSERT_EQ(Use(Cp1252(), ""), 1u);
  char out[16];
  EXPECT_EQ(coll_->str_toupper(out, sizeof out, "\xE0\xFF", 2), 2u);  // à ÿ -> À Ÿ
  EXPECT_STREQ(out, "\xC0\x9F");
  PieceIStream capitals("\xC0\x9F", 1);
  StringOStream small_letters;
  EXPECT_EQ(coll_->str_tolower(small_letters, capitals), 2u);  // À Ÿ -> à ÿ
  EXPECT_EQ(small_letters.text, "\xE0\xFF");
  EXPECT_TRUE(coll_->do_is_alpha("\xE9", 1));
  EXPECT_TRUE(coll_->do_is_space("\xA0", 1));  // no-break space through the map

  // Characters and prefixes.
  const char* end = nullptr;
  EXPECT_TRUE(coll_->is_prefix("AB", "AB" + 2, "abc", "abc" + 3, &end));
  EXPECT_EQ(end, "abc" + 2);
  EXPECT_FALSE(coll_->is_prefix("abd", "abd" + 3, "abc", "abc" + 3, &end));
  EXPECT_EQ(coll_->compare_character("a", "a" + 1, nullptr, "A", "A" + 1, nullptr), 0);
}

TEST_F(IcuTest, Hashes) {
  ASSERT_EQ(Use(Cp1252(), "Case=Ignore"), 1u);
  EXPECT_EQ(coll_->hist_hash("abc", 0, 0, 4), 0.0);
  EXPECT_LT(coll_->hist_hash("abc", 3, 0, 4), coll_->hist_hash("abd", 3, 0, 4));
  EXPECT_EQ(coll_->hist_hash("ABC", 3, 0, 4), coll_->hist_hash("abc", 3, 0, 4));
  char buf[8] = {'x'};
  EXPECT_EQ(coll_->hist_unhash(123.0, buf, sizeof buf, 0, 4), 0u);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(coll_->id_hash("Hello", 5), coll_->id_hash("hello", 5));
  EXPECT_NE(coll_->id_hash("Hello", 5), coll_->id_hash("Help", 4));
}

}  // namespace

namespace {

TEST_F(IcuTest, MultibyteCharacterCaseConversion) {
  ASSERT_EQ(Use(Utf8(), "Case=Respect"), 1u);
  struct Case {
    const char* in;
    bool upper;
    const char* out;  // the first character of the mapping only
  } cases[] = {
      {"\xC3\xA9", true, "\xC3\x89"},   // e acute
      {"\xC3\x89", false, "\xC3\xA9"},
      {"\xC3\x9F", true, "S"},          // sharp s maps to two letters
      {"\xD0\xB6", true, "\xD0\x96"},   // Cyrillic zhe
      {"7", true, "7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    an_mbcs_character ch;
    ch.impl = &coll_.implementation();
    ch.classes = Utf8()->packed_order->classes;
    ch.length = static_cast<unsigned char>(std::strlen(c.in));
    std::memcpy(ch.bytes, c.in, ch.length);
    ch.flags[0] = ch.flags[1] = 1;
    const unsigned n = c.upper ? ch.toupper() : ch.tolower();
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ch.bytes), n), c.out);
    EXPECT_EQ(ch.length, n);
    EXPECT_EQ(ch.flags[0] + ch.flags[1], 0);
  }
}

}  // namespace
