// The table-driven collation over the generated packed orders: orders of string pairs,
// case mapping, classes, hashes, the two sort-key forms, bounds, and the agreement of
// compare, sort keys and fragmented streams over random strings.
#include "utils/locale/legacy_collation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "collation_test_support.h"
#include "utils/locale/collation.h"
#include "utils/locale/packed_collation.h"
#include "utils/locale/utlocale.h"

namespace {

using Bytes = std::vector<unsigned char>;

const CollationInfo* Record(const char* label) {
  const CollationInfo* c = UTLocale::GetCollationInfoFromLabel(label);
  EXPECT_NE(c, nullptr) << label;
  return c;
}

// A front object set to a table-driven record with a case code.
struct Coll {
  Coll(const char* label, a_case_sensitivity case_code) : front(nullptr) {
    const CollationInfo* info = Record(label);
    const UTCollationTailoring tailoring(case_code);
    EXPECT_EQ(front.do_set_collation(true, nullptr, info, info->charset, nullptr, tailoring, 0),
              1u);
  }
  UTCollationImplementationBase* operator->() { return &front.implementation(); }
  UTCollation front;
};

Bytes Key(UTCollationImplementationBase* c, const std::string& s, std::size_t room = 256) {
  Bytes key(room);
  key.resize(c->sortkey_prefix(key.data(), key.size(), s.data(), s.size()));
  return key;
}

TEST(PackedOrders, GeneratedTablesFollowTheirRules) {
  for (int i = 0; i < kNumPackedCollationOrders; ++i) {
    EXPECT_EQ(UTLocale::_charset_info[i].packed_order, kPackedCollationOrders[i]) << i;
  }
  EXPECT_EQ(UTLocale::_charset_info[54].packed_order, nullptr);
  EXPECT_EQ(UTLocale::_charset_info[55].packed_order, nullptr);

  const a_packed_collation_order& latin1 = _packed_collation_1;
  EXPECT_EQ(latin1.case_sensitive['a'], 104);
  EXPECT_EQ(latin1.case_sensitive['A'], 105);
  EXPECT_EQ(latin1.case_sensitive['b'], 108);
  EXPECT_EQ(latin1.case_sensitive['B'], 109);
  EXPECT_EQ(latin1.case_insensitive['a'], 104);
  EXPECT_EQ(latin1.case_insensitive['A'], 104);
  EXPECT_EQ(latin1.case_insensitive['b'], 106);
  EXPECT_EQ(latin1.case_insensitive['B'], 106);

  for (int i = 0; i < kNumPackedCollationOrders; ++i) {
    SCOPED_TRACE(UTLocale::_charset_info[i].default_label->label);
    const a_packed_collation_order& o = *kPackedCollationOrders[i];
    EXPECT_EQ(o.case_sensitive[0], 0);
    EXPECT_EQ(o.case_insensitive[0], 0);
    for (int c = '0'; c <= '9'; ++c) EXPECT_EQ(o.classes[c] & 0xE0, kClassDigit);
    EXPECT_EQ(o.classes[' '] & 0xE0, kClassSpace);
    for (int c = 'a'; c <= 'z'; ++c) {
      const int u = c - 'a' + 'A';
      EXPECT_EQ(o.classes[c] & 0xE0, kClassAlpha);
      EXPECT_EQ(o.upper[c], u);
      EXPECT_EQ(o.lower[u], c);
      // Lower case just before the upper case of the same letter; one weight when
      // case is ignored; letters above digits, digits above punctuation.
      EXPECT_LT(o.case_sensitive[c], o.case_sensitive[u]);
      EXPECT_EQ(o.case_insensitive[c], o.case_insensitive[u]);
      EXPECT_GT(o.case_sensitive[c], o.case_sensitive['9']);
    }
    EXPECT_LT(o.case_sensitive['A'], o.case_sensitive['b']);
    EXPECT_GT(o.case_sensitive['0'], o.case_sensitive['-']);
    // A lead byte never announces more bytes than its set's characters have, except
    // EUC-TW, whose four-byte characters the registry counts as two-byte.
    const unsigned max_bytes = UTLocale::_charset_info[i].max_bytes;
    for (int b = 0; b < 256; ++b) {
      if (max_bytes == 1) {
        EXPECT_EQ(o.classes[b] & kClassTrailMask, 0) << b;
      }
      if (i != 10) {
        EXPECT_LE((o.classes[b] & kClassTrailMask) + 1u, max_bytes) << b;
      }
    }
  }
  // The trail counts of the multi-byte sets.
  struct Lead {
    int order;
    int byte;
    int trails;
  };
  const Lead leads[] = {{53, 0xC2, 1}, {53, 0xE0, 2}, {53, 0xF0, 3}, {53, 0xF5, 0},
                        {53, 0x80, 0}, {6, 0x81, 1},  {6, 0xA1, 0},  {6, 0xE0, 1},
                        {8, 0x8E, 1},  {8, 0x8F, 2},  {8, 0xA1, 1},  {26, 0xA1, 1},
                        {26, 0x81, 0}, {41, 0x81, 1}, {10, 0x8E, 3}};
  for (const Lead& l : leads) {
    EXPECT_EQ(kPackedCollationOrders[l.order]->classes[l.byte] & kClassTrailMask, l.trails)
        << l.order << " " << l.byte;
  }
}

struct PairCase {
  const char* label;
  char case_code;
  const char* a;
  const char* b;
  int order;  // sign of compare(a, b)
};

const PairCase kPairs[] = {
    // The C collation (ASCII): dictionary order of letters, bytes above 0x7F last by value.
    {"C", 'n', "abc", "ABC", 0},
    {"C", 'A', "B", "a", 1},
    {"C", 'A', "a", "B", -1},
    {"C", 'n', "z", "\x80", -1},
    {"C", 'n', "\x81", "\x80", 1},
    {"C", 'n', "a_b", "ab", -1},
    // Case ignored: a and A are one letter.
    {"ISO1LATIN1", 'n', "a", "A", 0},
    {"ISO1LATIN1", 'n', "Apple", "apple", 0},
    {"ISO1LATIN1", 'n', "apple", "Banana", -1},
    // Case respected: a before A before b.
    {"ISO1LATIN1", 'A', "a", "A", -1},
    {"ISO1LATIN1", 'A', "A", "b", -1},
    {"ISO1LATIN1", 'A', "Zebra", "apple", 1},
    // Accents: the accented letter follows the plain one and precedes the next letter.
    {"ISO1LATIN1", 'n', "resume", "r\xE9sum\xE9", -1},
    {"ISO1LATIN1", 'n', "r\xE9sum\xE9", "rf", -1},
    {"ISO1LATIN1", 'n', "\xC9t\xE9", "\xE9T\xC9", 0},  // accented letters fold too
    {"ISO1LATIN1", 'A', "\xE9", "\xC9", -1},
    {"1252LATIN1", 'n', "\xE6", "ae", 1},  // a variant of a, after every plain a
    {"1252LATIN1", 'n', "\xE6", "b", -1},
    {"1252LATIN1", 'n',
     "stra\xDF"
     "e",
     "strasse", 1},
    {"1252LATIN1", 'n',
     "stra\xDF"
     "e",
     "strat", -1},
    // Punctuation and digits sort before letters; space before punctuation.
    {"1252LATIN1", 'n', "a-b", "ab", -1},
    {"1252LATIN1", 'n', "a b", "a-b", -1},
    {"1252LATIN1", 'n', "9", "a", -1},
    {"1252LATIN1", 'n', "10", "9", -1},
    {"1252LATIN1", 'n', "!", "0", -1},
    // Lengths.
    {"1252LATIN1", 'n', "ab", "abc", -1},
    {"1252LATIN1", 'n', "abc", "ab", 1},
    {"1252LATIN1", 'n', "", "", 0},
    {"1252LATIN1", 'n', "", "a", -1},
    // Cyrillic in windows-1251 and KOI8-R's neighbour IBM866: by alphabet, case folded.
    {"1251CYR", 'n', "\xE0", "\xC0", 0},  // а А
    {"1251CYR", 'n', "\xE1", "\xE0", 1},  // б after а
    {"1251CYR", 'n', "z", "\xE0", -1},    // Latin before Cyrillic
    {"866RUS", 'n', "\xA0", "\x80", 0},   // а А
    // Greek and Turkish.
    {"1253ELL", 'n', "\xE1", "\xC1", 0},   // α Α
    {"1254TRK", 'A', "\xFD", "\xFE", -1},  // ı before ş
    // UTF-8: by code point above ASCII; multi-byte characters compare whole.
    {"UTF8BIN", 'n', "\xC3\xA9", "\xC3\xA8", 1},
    {"UTF8BIN", 'n', "\xE2\x82\xAC", "\xC3\xBF", 1},
    {"UTF8BIN", 'n', "A\xC3\xA9", "a\xC3\xA9", 0},
    // Shift_JIS: same lead, trail bytes by raw value ('a' as a trail byte stays a byte).
    {"SJIS2", 'n', "\x82\xA0", "\x82\xA2", -1},
    {"SJIS2", 'n',
     "\x83"
     "a",
     "\x83"
     "A",
     1},
    {"SJIS2", 'n', "a", "A", 0},
};

class LegacyPairs : public ::testing::TestWithParam<PairCase> {};

TEST_P(LegacyPairs, EveryFormAgrees) {
  const PairCase& p = GetParam();
  Coll c(p.label, static_cast<a_case_sensitivity>(p.case_code));
  const std::string a = p.a, b = p.b;
  EXPECT_EQ(Sign(c->trancmp(a.c_str(), b.c_str())), p.order);
  EXPECT_EQ(Sign(c->trancmp(b.c_str(), a.c_str())), -p.order);
  EXPECT_EQ(Sign(c->trancmp(a.data(), a.size(), b.data(), b.size())), p.order);
  EXPECT_EQ(Sign(c->tranncmp(a.c_str(), b.c_str(), 100)), p.order);
  EXPECT_EQ(KeyOrder(Key(c.operator->(), a), Key(c.operator->(), b)), p.order);
  for (unsigned piece : {1u, 2u, 3u, 64u}) {
    PieceIStream sa(a, piece), sb(b, piece);
    EXPECT_EQ(Sign(c->trancmp(sa, sb)), p.order) << "pieces of " << piece;
    PieceIStream ba(a, piece), bb(b, piece);
    EXPECT_EQ(Sign(c->trancmp(ba, a.size(), bb, b.size())), p.order) << "pieces of " << piece;
  }
  EXPECT_EQ(c->id_hash(a.data(), a.size()) == c->id_hash(b.data(), b.size()) || p.order != 0,
            true);
}

// "<collation>_<a>_lt_<b>" in the text forms of NameOf, numbered to keep rows with the
// same texts apart; the printed value is the same without the number.
std::string PairName(const PairCase& p) {
  return NameOf(p.label) + "_" + NameOf(p.a) + "_" + OrderName(p.order) + "_" + NameOf(p.b);
}
void PrintTo(const PairCase& p, std::ostream* os) { *os << PairName(p); }

INSTANTIATE_TEST_SUITE_P(Orders, LegacyPairs, ::testing::ValuesIn(kPairs),
                         [](const ::testing::TestParamInfo<PairCase>& info) {
                           return std::to_string(info.index) + "_" + PairName(info.param);
                         });

TEST(LegacyCollation, CountedAndLimitedForms) {
  Coll c("1252LATIN1", 'n');
  // Counted text: NUL is an ordinary character, and a shorter text is less.
  EXPECT_LT(c->trancmp("a\0b", 3, "a\0c", 3), 0);
  EXPECT_GT(c->trancmp("a\0", 2, "a", 1), 0);
  // At most n bytes of each.
  EXPECT_EQ(c->tranncmp("abcX", "ABCY", 3), 0);
  EXPECT_LT(c->tranncmp("abcX", "ABCY", 4), 0);
  EXPECT_LT(c->tranncmp("ab", "abc", 3), 0);
  EXPECT_EQ(c->tranncmp("ab", "abc", 2), 0);
  EXPECT_EQ(c->tranncmp("x", "y", 0), 0);
  // The buffered-stream form stops at the given lengths.
  PieceIStream a("abcdef", 2), b("abcxyz", 2);
  EXPECT_EQ(c->trancmp(a, 3, b, 3), 0);
  // So do both key forms over a buffered stream: bytes after the string are not keyed.
  for (int form = 1; form <= 2; ++form) {
    PieceIStream whole("ab", 2), longer("abzz", 3);
    std::vector<unsigned char> k1(16), k2(16);
    if (form == 1) {
      k1.resize(c->sortkey_prefix(k1.data(), k1.size(), whole, 2));
      k2.resize(c->sortkey_prefix(k2.data(), k2.size(), longer, 2));
    } else {
      k1.resize(c->sortkey_prefix_tarnel(k1.data(), k1.size(), whole, 2));
      k2.resize(c->sortkey_prefix_tarnel(k2.data(), k2.size(), longer, 2));
    }
    EXPECT_EQ(k1, k2) << "form " << form;
  }
}

TEST(LegacyCollation, CharactersAndPrefixes) {
  Coll sjis("SJIS2", 'n');
  const char* a =
      "\x82\xA0"
      "b";
  const char* b =
      "\x82\xA2"
      "b";
  const char* an = nullptr;
  const char* bn = nullptr;
  EXPECT_EQ(sjis->compare_character(a, a + 3, &an, b, b + 3, &bn), 0xA0 - 0xA2);
  EXPECT_EQ(an, a + 2);
  EXPECT_EQ(bn, b + 2);
  // A character cut by its range's end is shorter.
  EXPECT_GT(sjis->compare_character(a, a + 2, nullptr, a, a + 1, nullptr), 0);
  EXPECT_EQ(sjis->num_characters("\x82\xA0"
                                 "ab\x83\x40",
                                 6),
            4u);
  EXPECT_EQ(sjis->prev_character("a\x82\xA0", "a\x82\xA0" + 3) - "a\x82\xA0", 1);
  char one[4] = {};
  EXPECT_EQ(sjis->copy_character(one, sizeof one, a, a + 3), 2u);
  EXPECT_EQ(sjis->copy_character(one, 1, a, a + 3), 1u);

  Coll latin("1252LATIN1", 'n');
  struct Prefix {
    const char* p;
    const char* s;
    bool expected;
    int match_end;
  };
  const Prefix cases[] = {
      {"AB", "abc", true, 2},    {"", "abc", true, 0},   {"abd", "abc", false, 2},
      {"abcd", "abc", false, 3}, {"b", "abc", false, 0},
  };
  for (const Prefix& t : cases) {
    SCOPED_TRACE(t.p);
    const char* end = nullptr;
    EXPECT_EQ(latin->is_prefix(t.p, t.p + std::strlen(t.p), t.s, t.s + std::strlen(t.s), &end),
              t.expected);
    EXPECT_EQ(end - t.s, t.match_end);
  }
  const char* s = "\x82\xA0";
  const char* end = nullptr;
  EXPECT_FALSE(sjis->is_prefix(s, s + 2, s, s + 1, &end));  // p's character cut by s's end
}

TEST(LegacyCollation, CaseMappingAndClasses) {
  Coll c("1252LATIN1", 'n');
  struct Case {
    const char* in;
    const char* upper;
    const char* lower;
  };
  const Case cases[] = {
      {"Stra\xDF"
       "e",
       "STRA\xDF"
       "E",
       "stra\xDF"
       "e"},                                             // ß has no one-byte upper case
      {"\xE0\xE9\xFF", "\xC0\xC9\x9F", "\xE0\xE9\xFF"},  // ÿ becomes Ÿ in windows-1252
      {"\xC0\xC9\x9F", "\xC0\xC9\x9F", "\xE0\xE9\xFF"},
      {"Mixed 123!", "MIXED 123!", "mixed 123!"},
  };
  for (const Case& t : cases) {
    char buf[32];
    const std::size_t n = std::strlen(t.in);
    EXPECT_EQ(c->str_toupper(buf, sizeof buf, t.in, n), n);
    EXPECT_STREQ(buf, t.upper);
    EXPECT_EQ(c->str_tolower(buf, sizeof buf, t.in, n), n);
    EXPECT_STREQ(buf, t.lower);
    PlainIStream in(t.in);
    StringOStream out;
    EXPECT_EQ(c->str_toupper(out, in), n);
    EXPECT_EQ(out.text, t.upper);
    PlainIStream lower_in(t.in);
    StringOStream lower_out;
    EXPECT_EQ(c->str_tolower(lower_out, lower_in), n);
    EXPECT_EQ(lower_out.text, t.lower);
  }
  char buf[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(c->str_toupper(buf, 2, "abc", 3), 2u);  // cut to the room, no terminator
  EXPECT_EQ(std::string(buf, 3), "ABx");
  EXPECT_EQ(c->char_toupper(buf, sizeof buf, "q", 1), 1u);
  EXPECT_EQ(buf[0], 'Q');
  EXPECT_EQ(c->char_toupper(buf, sizeof buf, "q", 0), 0u);
  EXPECT_EQ(c->char_tolower(buf, sizeof buf, "\xC9q", 2), 1u);
  EXPECT_EQ(buf[0], '\xE9');
  EXPECT_EQ(c->char_tolower(buf, sizeof buf, "Q", 0), 0u);

  // Shift_JIS: the trail byte 'a' of 0x83 0x61 is not a letter and stays as it is, also
  // when the stream delivers the character in two pieces.
  Coll sjis("SJIS2", 'n');
  const std::string text =
      "a\x83"
      "ab";
  char out[8];
  EXPECT_EQ(sjis->str_toupper(out, sizeof out, text.data(), text.size()), 4u);
  EXPECT_EQ(std::string(out, 4),
            "A\x83"
            "aB");
  for (unsigned piece : {1u, 2u}) {
    PieceIStream in(text, piece);
    StringOStream o;
    EXPECT_EQ(sjis->str_toupper(o, in), 4u);
    EXPECT_EQ(o.text,
              "A\x83"
              "aB");
  }
  // Lower-casing leaves the trail byte 'A' of 0x83 0x41 alone in the same way.
  const std::string capitals =
      "A\x83"
      "AB";
  for (unsigned piece : {1u, 2u}) {
    PieceIStream in(capitals, piece);
    StringOStream o;
    EXPECT_EQ(sjis->str_tolower(o, in), 4u);
    EXPECT_EQ(o.text,
              "a\x83"
              "Ab");
  }
  char ch[4];
  EXPECT_EQ(sjis->char_toupper(ch, sizeof ch,
                               "\x83"
                               "a",
                               2),
            2u);
  EXPECT_EQ(std::string(ch, 2),
            "\x83"
            "a");

  EXPECT_TRUE(c->do_is_alpha("\xE9", 1));
  EXPECT_FALSE(c->do_is_alpha("1", 1));
  EXPECT_TRUE(c->do_is_num("7", 1));
  EXPECT_TRUE(c->do_is_alphanum("7", 1));
  EXPECT_TRUE(c->do_is_alphanum("x", 1));
  EXPECT_FALSE(c->do_is_alphanum("-", 1));
  EXPECT_TRUE(c->do_is_space(" ", 1));
  EXPECT_TRUE(c->do_is_space("\t", 1));
  EXPECT_FALSE(c->do_is_space(" ", 0));
  EXPECT_FALSE(c->do_is_alpha("a", 0));

  EXPECT_TRUE(c->case_translation_preserves_sort_order());
  Coll respect("1252LATIN1", 'A');
  EXPECT_FALSE(respect->case_translation_preserves_sort_order());
  EXPECT_FALSE(c->from_default());
  EXPECT_EQ(c->suggested_sortkey_length(17), 17u);
}

// An order whose byte 'x' weighs 254 and byte 'y' 255, to reach the escapes of both
// key forms.
a_packed_collation_order HeavyOrder() {
  a_packed_collation_order o = _packed_collation_1;
  o.case_insensitive[static_cast<unsigned char>('x')] = 254;
  o.case_insensitive[static_cast<unsigned char>('y')] = 255;
  return o;
}

TEST(LegacyCollation, SortKeyForms) {
  const a_packed_collation_order heavy = HeavyOrder();
  UTCollation front(nullptr);
  const CollationInfo* info = Record("ISO1LATIN1");
  ASSERT_EQ(front.do_set_collation(true, nullptr, info, info->charset, &heavy,
                                   UTCollationTailoring('n'), 0),
            1u);
  UTCollationImplementationBase* c = &front.implementation();
  const unsigned wa = heavy.case_insensitive[static_cast<unsigned char>('a')];
  struct Case {
    std::string text;
    Bytes first;
    Bytes second;
  };
  const Case cases[] = {
      {"", {0}, {0}},
      {"a", {static_cast<unsigned char>(wa + 1), 0}, {static_cast<unsigned char>(wa + 1), 0}},
      {"x", {255, 254, 0}, {255, 0, 0}},
      {"y", {255, 255, 0}, {255, 1, 0}},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.text);
    EXPECT_EQ(Key(c, t.text), t.first);
    Bytes key(16);
    PieceIStream in(t.text, 1);
    key.resize(c->sortkey_prefix_tarnel(key.data(), key.size(), in));
    EXPECT_EQ(key, t.second);
    PlainIStream plain(t.text);
    key.assign(16, 0xEE);
    key.resize(c->sortkey_prefix(key.data(), key.size(), plain));
    EXPECT_EQ(key, t.first);
  }
  // Truncation: exactly dstlen bytes, no terminator.
  EXPECT_EQ(Key(c, "aaa", 2).size(), 2u);
  EXPECT_EQ(Key(c, "aaa", 0).size(), 0u);
  // The buffered form reads only `length` bytes.
  PieceIStream in("aaaa", 3);
  Bytes key(16);
  key.resize(c->sortkey_prefix(key.data(), key.size(), in, 2));
  EXPECT_EQ(key, Key(c, "aa"));

  // Multi-byte: the trail bytes follow the lead's weight, escaped in the first form
  // and raw in the second.
  Coll sjis("SJIS2", 'n');
  const unsigned lead = _packed_collation_7.case_insensitive[0x82];
  const Bytes k1 = Key(sjis.operator->(), "\x82\xA0");
  ASSERT_EQ(k1.size(), lead < 254 ? 3u : 4u);
  EXPECT_EQ(k1[k1.size() - 2], 0xA1);
}

TEST(LegacyCollation, Bounds) {
  Coll c("1252LATIN1", 'n');
  struct Case {
    a_sortkey_bound_type type;
    std::size_t dstlen;
    Bytes key;
    Bytes expected;
  };
  const Case cases[] = {
      {kSortkeyUpperBound, 8, {1, 2, 0}, {1, 2, 255, 255, 0}},
      {kSortkeyUpperBound, 4, {1, 2, 0}, {1, 2, 255, 255}},
      {kSortkeyUpperBound, 3, {1, 2, 0}, {1, 255, 255}},
      {kSortkeyUpperBound, 1, {1, 2, 0}, {255}},
      {kSortkeyUpperBound, 0, {1, 2, 0}, {}},
      {kSortkeyLowerBound, 8, {1, 2, 0}, {1, 2, 0}},
      {kSortkeyLowerBound, 8, {1, 2}, {1, 2, 0}},
      {kSortkeyLowerBound, 2, {1, 2, 0}, {1, 0}},
  };
  for (const Case& t : cases) {
    Bytes out(t.dstlen + 1, 0xEE);
    out.resize(c->sortkey_bound(t.type, out.data(), t.dstlen, t.key.data(), t.key.size()));
    EXPECT_EQ(out, t.expected) << t.type << " " << t.dstlen;
  }
  // The bounds bracket every key that starts with the bound's key.
  const Bytes prefix = Key(c.operator->(), "ab");
  Bytes lo(64), hi(64);
  lo.resize(
      c->sortkey_bound(kSortkeyLowerBound, lo.data(), lo.size(), prefix.data(), prefix.size()));
  hi.resize(
      c->sortkey_bound(kSortkeyUpperBound, hi.data(), hi.size(), prefix.data(), prefix.size()));
  for (const char* s : {"ab", "abc", "ABz\xFF", "ab\xE9"}) {
    const Bytes k = Key(c.operator->(), s);
    EXPECT_LE(KeyOrder(lo, k), 0) << s;
    EXPECT_LT(KeyOrder(k, hi), 0) << s;
  }
}

TEST(LegacyCollation, Hashes) {
  Coll c("1252LATIN1", 'n');
  EXPECT_EQ(c->id_hash("", 0), 5381u);
  EXPECT_EQ(c->id_hash("Hello", 5), c->id_hash("hELLO", 5));
  EXPECT_NE(c->id_hash("Hello", 5), c->id_hash("Hellp", 5));
  // Histogram values keep the order of the first width characters.
  const char* ordered[] = {"", "a", "ab", "abc", "b", "ba", "zz"};
  for (std::size_t i = 1; i < sizeof ordered / sizeof *ordered; ++i) {
    EXPECT_LT(c->hist_hash(ordered[i - 1], std::strlen(ordered[i - 1]), 0, 3),
              c->hist_hash(ordered[i], std::strlen(ordered[i]), 0, 3));
  }
  EXPECT_EQ(c->hist_hash("Ab", 2, 0, 4), c->hist_hash("aB", 2, 0, 4));
  char back[8];
  const double h = c->hist_hash("Cat", 3, 0, 4);
  EXPECT_EQ(c->hist_unhash(h, back, sizeof back, 0, 4), 4u);
  EXPECT_EQ(std::string(back, 3), "CAT");  // the smallest byte of each weight
  EXPECT_EQ(back[3], '\0');
  EXPECT_EQ(c->hist_hash(back, 3, 0, 4), h);
  EXPECT_EQ(c->hist_unhash(h, back, 4, 0, 4), 0u);  // no room for the terminator
}

// compare, sort keys of both forms and fragmented streams agree over random strings.
TEST(LegacyCollation, RandomStringsAgree) {
  std::mt19937 rng(20261210);
  const char* labels[] = {"1252LATIN1", "ISO1LATIN1", "1251CYR", "SJIS2",
                          "UTF8BIN",    "EUC_JAPAN",  "C"};
  // A small alphabet makes equal weights and shared prefixes common.
  const unsigned char alphabet[] = {0,    'a',  'A',  'b',  'B',  ' ',  '-',  '1',  0x82, 0xA0,
                                    0xC3, 0xA9, 0xE9, 0xC9, 0xFE, 0xFF, 0x8E, 0x8F, 0x61};
  for (const char* label : labels) {
    for (char case_code : {'n', 'A'}) {
      SCOPED_TRACE(std::string(label) + " " + case_code);
      Coll c(label, static_cast<a_case_sensitivity>(case_code));
      for (int round = 0; round < 400; ++round) {
        std::string s[2];
        for (std::string& t : s) {
          const int n = static_cast<int>(rng() % 7);
          for (int i = 0; i < n; ++i) t += static_cast<char>(alphabet[rng() % sizeof alphabet]);
          if (rng() % 3 == 0) t = s[0] + t;  // shared prefixes
        }
        const int order = Sign(c->trancmp(s[0].data(), s[0].size(), s[1].data(), s[1].size()));
        ASSERT_EQ(KeyOrder(Key(c.operator->(), s[0]), Key(c.operator->(), s[1])), order);
        Bytes t[2];
        for (int k = 0; k < 2; ++k) {
          PieceIStream in(s[k], 1 + static_cast<unsigned>(rng() % 3));
          t[k].resize(32);
          t[k].resize(c->sortkey_prefix_tarnel(t[k].data(), t[k].size(), in));
        }
        ASSERT_EQ(KeyOrder(t[0], t[1]), order);
        PieceIStream a(s[0], 1 + static_cast<unsigned>(rng() % 4));
        PieceIStream b(s[1], 1 + static_cast<unsigned>(rng() % 4));
        ASSERT_EQ(Sign(c->trancmp(a, b)), order);
        if (order == 0) {
          ASSERT_EQ(c->id_hash(s[0].data(), s[0].size()), c->id_hash(s[1].data(), s[1].size()));
        }
      }
    }
  }
}

}  // namespace
