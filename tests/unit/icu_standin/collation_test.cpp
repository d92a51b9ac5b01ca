// Collators of the Unicode stand-in: comparisons under the client's tailorings, sort-key
// prefixes of whole and incomplete text in UTF-16, single-byte and UTF-8 form, the
// single-byte comparison and the fragmented iterators, which must compare exactly as
// the whole text does however it arrives.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "collation_fixture.h"
#include "icu_api.h"

using vq_test::checked_key;
using vq_test::Collator;
using vq_test::key16;
using vq_test::units;

namespace {

template <size_t N>
std::string bytes(const char (&s)[N]) {
  return std::string(s, N - 1);
}

int sign(int v) { return (v > 0) - (v < 0); }

using Map = std::array<vqicu_uchar, 256>;

// The byte-to-UTF-16 map of a single-byte set, made with the library's own converter as
// the client makes it.
Map sbcs_map(const char* converter) {
  Map map{};
  vqicu_status st = VQICU_ZERO_ERROR;
  vqicu_converter* cnv = icu().ucnv_open_3_4(converter, &st);
  EXPECT_EQ(st, VQICU_ZERO_ERROR);
  for (int b = 0; b < 256; ++b) {
    const char in = static_cast<char>(b);
    const char* source = &in;
    vqicu_uchar out[2] = {0xFFFD, 0};
    vqicu_uchar* target = out;
    st = VQICU_ZERO_ERROR;
    icu().ucnv_resetToUnicode_3_4(cnv);
    icu().ucnv_toUnicode_3_4(cnv, &target, out + 2, &source, &in + 1, nullptr, 1, &st);
    map[b] = target == out + 1 ? out[0] : 0xFFFD;
  }
  icu().ucnv_close_3_4(cnv);
  return map;
}

std::string encode(const char* converter, const std::u16string& text) {
  vqicu_status st = VQICU_ZERO_ERROR;
  vqicu_converter* cnv = icu().ucnv_open_3_4(converter, &st);
  std::vector<char> buf(text.size() * 4 + 4);
  char* target = buf.data();
  const vqicu_uchar* source = units(text);
  icu().ucnv_fromUnicode_3_4(cnv, &target, buf.data() + buf.size(), &source,
                             source + text.size(), nullptr, 1, &st);
  icu().ucnv_close_3_4(cnv);
  EXPECT_EQ(st, VQICU_ZERO_ERROR);
  return std::string(buf.data(), target);
}

// ---- Comparison under tailorings --------------------------------------------------------

struct Attribute {
  int32_t attribute;
  int32_t value;
};

struct CompareCase {
  const char* name;
  const char* locale;
  int32_t strength;  // -1 keeps the collator's
  std::vector<Attribute> attributes;
  std::u16string a;
  std::u16string b;
  int expected;
};

const CompareCase kCompareCases[] = {
    {"lower before upper", "en", -1, {}, u"a", u"A", -1},
    {"letters before case", "en", -1, {}, u"b", u"A", 1},
    {"accent is secondary", "en", -1, {}, u"resume", u"résumé", -1},
    {"primary ignores case", "en", VQICU_COL_PRIMARY, {}, u"ABC", u"abc", 0},
    {"primary ignores accents", "en", VQICU_COL_PRIMARY, {}, u"resume", u"résumé", 0},
    {"secondary ignores case", "en", VQICU_COL_SECONDARY, {}, u"Résumé", u"résumé", 0},
    {"secondary sees accents", "en", VQICU_COL_SECONDARY, {}, u"resume", u"résumé", -1},
    {"case level on primary",
     "en",
     VQICU_COL_PRIMARY,
     {{VQICU_COL_CASE_LEVEL, VQICU_COL_ON}},
     u"résumé",
     u"Resume",
     -1},
    {"upper first", "en", -1, {{VQICU_COL_CASE_FIRST, VQICU_COL_UPPER_FIRST}}, u"a", u"A", 1},
    {"lower first", "en", -1, {{VQICU_COL_CASE_FIRST, VQICU_COL_LOWER_FIRST}}, u"a", u"A", -1},
    {"shifted ignores punctuation",
     "en",
     VQICU_COL_TERTIARY,
     {{VQICU_COL_ALTERNATE_HANDLING, VQICU_COL_SHIFTED}},
     u"co-op",
     u"coop",
     0},
    {"quaternary sees punctuation",
     "en",
     VQICU_COL_QUATERNARY,
     {{VQICU_COL_ALTERNATE_HANDLING, VQICU_COL_SHIFTED}},
     u"co-op",
     u"coop",
     -1},
    {"non-ignorable punctuation",
     "en",
     -1,
     {{VQICU_COL_ALTERNATE_HANDLING, VQICU_COL_NON_IGNORABLE}},
     u"co-op",
     u"coop",
     -1},
    {"French accents backwards",
     "fr_CA",
     -1,
     {{VQICU_COL_FRENCH_COLLATION, VQICU_COL_ON}},
     u"cote",
     u"côté",
     -1},
    {"Swedish ä after z", "sv", -1, {}, u"ä", u"z", 1},
    {"German ä near a", "de", -1, {}, u"ä", u"z", -1},
    {"Czech ch after h", "cs", -1, {}, u"chata", u"hrad", 1},
    {"Japanese kana", "ja", VQICU_COL_PRIMARY, {}, u"カタカナ", u"かたかな", 0},
};

TEST(IcuStandinCollation, ComparesUnderTailorings) {
  for (const CompareCase& c : kCompareCases) {
    SCOPED_TRACE(c.name);
    Collator coll(c.locale);
    ASSERT_NE(coll.coll, nullptr);
    ASSERT_LE(coll.status, 0);
    if (c.strength >= 0) icu().ucol_setStrength_3_4(coll.coll, c.strength);
    for (const Attribute& a : c.attributes) {
      vqicu_status st = VQICU_ZERO_ERROR;
      icu().ucol_setAttribute_3_4(coll.coll, a.attribute, a.value, &st);
      ASSERT_EQ(st, VQICU_ZERO_ERROR);
    }
    EXPECT_EQ(icu().ucol_strcoll_3_4(coll.coll, units(c.a), c.a.size(), units(c.b), c.b.size()),
              c.expected);
    EXPECT_EQ(icu().ucol_strcoll_3_4(coll.coll, units(c.b), c.b.size(), units(c.a), c.a.size()),
              -c.expected);
  }
}

TEST(IcuStandinCollation, OpenReportsWhereTheDataCameFrom) {
  struct Row {
    const char* locale;
    bool default_status2;  // status2 says the library knows nothing of the language
  };
  for (const Row& r :
       {Row{"de", false}, Row{"de_AT", false}, Row{"de@collation=phonebook", false},
        Row{"sv_SE", false}, Row{"xx_YY", true}, Row{"qq", true}}) {
    SCOPED_TRACE(r.locale);
    vqicu_status s1 = VQICU_ZERO_ERROR;
    vqicu_status s2 = VQICU_ZERO_ERROR;
    vqicu_collator* coll = icu().VSR_ucol_open(r.locale, &s1, &s2);
    ASSERT_NE(coll, nullptr);
    EXPECT_LE(s1, 0);
    EXPECT_EQ(s2, r.default_status2 ? VQICU_USING_DEFAULT_WARNING : VQICU_ZERO_ERROR);
    if (r.default_status2) {
      EXPECT_EQ(s1, VQICU_USING_DEFAULT_WARNING);
    }
    icu().ucol_close_3_4(coll);
  }
  // The second status is optional; a failed first status leaves the call without effect.
  vqicu_status s1 = VQICU_ZERO_ERROR;
  vqicu_collator* coll = icu().VSR_ucol_open("en", &s1, nullptr);
  EXPECT_NE(coll, nullptr);
  icu().ucol_close_3_4(coll);
  s1 = VQICU_MISSING_RESOURCE_ERROR;
  EXPECT_EQ(icu().VSR_ucol_open("en", &s1, nullptr), nullptr);
  EXPECT_EQ(s1, VQICU_MISSING_RESOURCE_ERROR);
}

TEST(IcuStandinCollation, SortTypeInTheLocaleString) {
  // Phonebook order reads ü as ue, the standard order as a u with an accent.
  const std::u16string a = u"Müller", b = u"Muffler";
  vqicu_status s1 = VQICU_ZERO_ERROR, s2 = VQICU_ZERO_ERROR;
  vqicu_collator* phonebook = icu().VSR_ucol_open("de@collation=phonebook", &s1, &s2);
  vqicu_collator* standard = icu().VSR_ucol_open("de", &s1, &s2);
  ASSERT_NE(phonebook, nullptr);
  ASSERT_NE(standard, nullptr);
  EXPECT_EQ(icu().ucol_strcoll_3_4(phonebook, units(a), a.size(), units(b), b.size()), -1);
  EXPECT_EQ(icu().ucol_strcoll_3_4(standard, units(a), a.size(), units(b), b.size()), 1);
  icu().ucol_close_3_4(phonebook);
  icu().ucol_close_3_4(standard);
}

// ---- Sort-key prefixes
// -----------------------------------------------------------------------

std::string key8(const vqicu_collator* coll, const std::string& s, uint32_t dstlen = 4096,
                 int8_t complete = 1, vqicu_status* status_out = nullptr) {
  return checked_key(dstlen, status_out, [&](uint8_t* dst, vqicu_status* st) {
    return icu().VSR_ucol_getSortKeyPrefixUTF8(coll, s.data(), s.size(), dst, dstlen, complete,
                                               st);
  });
}

std::string key_sbcs(const vqicu_collator* coll, const std::string& s, const Map& map,
                     uint32_t dstlen = 4096, int8_t complete = 1,
                     vqicu_status* status_out = nullptr) {
  return checked_key(dstlen, status_out, [&](uint8_t* dst, vqicu_status* st) {
    return icu().VSR_ucol_getSortKeyPrefixSBCS(coll, s.data(), s.size(), dst, dstlen,
                                               map.data(), complete, st);
  });
}

// Texts of several scripts, each also in a single-byte set that holds it.
struct KeyText {
  std::u16string text;
  const char* sbcs;  // converter of a single-byte set holding the text, or null
};

const KeyText kKeyTexts[] = {
    {u"", "ISO-8859-1"},
    {u"a", "ISO-8859-1"},
    {u"A", "ISO-8859-1"},
    {u"ab", "ISO-8859-1"},
    {u"résumé", "ISO-8859-1"},
    {u"Resume", "ISO-8859-1"},
    {u"co-op", "ISO-8859-1"},
    {u"coop", "ISO-8859-1"},
    {u"Œuvre", "ibm-5348_P100-1997"},
    {u"“zeta”", "ibm-5348_P100-1997"},
    {u"Русский", "ibm-878_P100-1996"},
    {u"русский", "ibm-878_P100-1996"},
    {u"Ελληνικά", "macos-6-10.2"},
    {u"نص", "windows-1256-2000"},
    {u"日本語", nullptr},
    {u"中文😀", nullptr},
    {u"한국어", nullptr},
};

std::string utf8(const std::u16string& s) { return encode("UTF-8", s); }

TEST(IcuStandinSortKeys, KeysOrderAsTheCollatorComparesInEveryForm) {
  for (const char* locale : {"en", "sv", "ru"}) {
    SCOPED_TRACE(locale);
    Collator coll(locale);
    std::vector<std::string> keys;
    for (const KeyText& t : kKeyTexts) {
      SCOPED_TRACE(utf8(t.text));
      const std::string k = key16(coll.coll, t.text);
      EXPECT_EQ(k.find('\0'), std::string::npos) << "0 is the caller's terminator";
      EXPECT_NE(k.find('\1'), std::string::npos) << "levels are separated by 1";
      EXPECT_EQ(key8(coll.coll, utf8(t.text)), k);
      if (t.sbcs) {
        EXPECT_EQ(key_sbcs(coll.coll, encode(t.sbcs, t.text), sbcs_map(t.sbcs)), k);
      }
      keys.push_back(k);
    }
    for (size_t i = 0; i < keys.size(); ++i) {
      for (size_t j = 0; j < keys.size(); ++j) {
        const std::u16string& a = kKeyTexts[i].text;
        const std::u16string& b = kKeyTexts[j].text;
        EXPECT_EQ(sign(keys[i].compare(keys[j])),
                  icu().ucol_strcoll_3_4(coll.coll, units(a), a.size(), units(b), b.size()))
            << utf8(a) << " vs " << utf8(b);
      }
    }
  }
}

TEST(IcuStandinSortKeys, ShortOutputHoldsTheStartOfTheKey) {
  Collator coll("en");
  const std::u16string text = u"Grüße aus Köln";
  const std::string full = key16(coll.coll, text);
  for (uint32_t dstlen = 0; dstlen <= full.size() + 1; ++dstlen) {
    SCOPED_TRACE(dstlen);
    EXPECT_EQ(key16(coll.coll, text, dstlen), full.substr(0, dstlen));
    EXPECT_EQ(key8(coll.coll, utf8(text), dstlen), full.substr(0, dstlen));
  }
}

TEST(IcuStandinSortKeys, LongTextHasItsWholeKey) {
  Collator coll("en");
  std::u16string text;
  for (int i = 0; i < 3000; ++i) text += static_cast<char16_t>(u'a' + i % 26);
  std::u16string other = text;
  other.back() = u'A';
  const std::string a = key16(coll.coll, text, 20000);
  const std::string b = key16(coll.coll, other, 20000);
  EXPECT_GT(a.size(), 3000u);
  EXPECT_EQ(sign(a.compare(b)), icu().ucol_strcoll_3_4(coll.coll, units(text), text.size(),
                                                       units(other), other.size()));
  EXPECT_EQ(key8(coll.coll, utf8(text), 20000), a);
}

TEST(IcuStandinSortKeys, IllFormedUtf8ReadsAsReplacementCharacter) {
  Collator coll("en");
  EXPECT_EQ(key8(coll.coll, bytes("a\xFF"
                                  "b")),
            key16(coll.coll, u"a\uFFFDb"));
  EXPECT_EQ(key8(coll.coll, bytes("a\xE6\x97")), key16(coll.coll, u"a\uFFFD"));
}

// An incomplete text: the start of `whole`, `cut` code units (bytes for UTF-8 and
// single-byte forms) long. Whatever key bytes come back must start the key of `whole`,
// whatever the continuation; the call succeeds only when they fill the output.
struct IncompleteCase {
  const char* name;
  const char* locale;
  std::u16string whole;
  size_t cut;
};

const IncompleteCase kIncomplete[] = {
    {"Czech c before h", "cs", u"abch", 3},
    {"Czech c before h, upper", "cs", u"ABCH", 3},
    {"Danish a before a", "da", u"kaa", 2},
    {"combining accent follows", "en", u"cafe\u0301s", 4},
    {"plain Latin", "en", u"hello world", 5},
    {"Cyrillic", "ru", u"Русский текст", 7},
    {"Spanish", "es", u"llama", 1},
};

TEST(IcuStandinSortKeys, IncompleteTextGivesOnlyFinalKeyBytes) {
  for (const IncompleteCase& c : kIncomplete) {
    SCOPED_TRACE(c.name);
    Collator coll(c.locale);
    const std::string whole = key16(coll.coll, c.whole);
    vqicu_status st = VQICU_ZERO_ERROR;
    const std::string part = key16(coll.coll, c.whole.substr(0, c.cut), 4096, 0, &st);
    EXPECT_EQ(st, VQICU_INDEX_OUTOFBOUNDS_ERROR);
    EXPECT_EQ(whole.compare(0, part.size(), part), 0) << "key bytes changed by what follows";
    EXPECT_EQ(part.find('\1'), std::string::npos);
    // With room for fewer bytes than are final, the call succeeds.
    if (part.size() >= 2) {
      st = VQICU_ZERO_ERROR;
      EXPECT_EQ(key16(coll.coll, c.whole.substr(0, c.cut), 2, 0, &st), whole.substr(0, 2));
      EXPECT_EQ(st, VQICU_ZERO_ERROR);
    }
  }
}

TEST(IcuStandinSortKeys, IncompleteTextInByteForms) {
  Collator cs("cs");
  const Map latin1 = sbcs_map("ISO-8859-1");
  vqicu_status st = VQICU_ZERO_ERROR;
  const std::string sbcs_part = key_sbcs(cs.coll, "abc", latin1, 4096, 0, &st);
  EXPECT_EQ(st, VQICU_INDEX_OUTOFBOUNDS_ERROR);
  EXPECT_EQ(key16(cs.coll, u"abch").compare(0, sbcs_part.size(), sbcs_part), 0);

  // A UTF-8 text cut inside a character: the partial character belongs to what follows.
  Collator ja("ja");
  const std::string text = utf8(u"日本語");
  const std::string whole = key8(ja.coll, text);
  for (size_t cut = 0; cut < text.size(); ++cut) {
    SCOPED_TRACE(cut);
    st = VQICU_ZERO_ERROR;
    const std::string part = key8(ja.coll, text.substr(0, cut), 4096, 0, &st);
    EXPECT_EQ(st, VQICU_INDEX_OUTOFBOUNDS_ERROR);
    EXPECT_EQ(whole.compare(0, part.size(), part), 0);
  }
  // Nothing final at all: no bytes.
  st = VQICU_ZERO_ERROR;
  EXPECT_EQ(key16(cs.coll, u"c", 4096, 0, &st), "");
  EXPECT_EQ(st, VQICU_INDEX_OUTOFBOUNDS_ERROR);
}

TEST(IcuStandinSortKeys, BadArguments) {
  Collator coll("en");
  uint8_t dst[16];
  const vqicu_uchar text[] = {'a', 'b'};
  struct Row {
    const char* name;
    int32_t srclen;
    const vqicu_collator* coll;
    uint8_t* dst;
  };
  for (const Row& r :
       {Row{"negative length", -1, coll.coll, dst}, Row{"null collator", 2, nullptr, dst},
        Row{"null output", 2, coll.coll, nullptr}}) {
    SCOPED_TRACE(r.name);
    vqicu_status st = VQICU_ZERO_ERROR;
    EXPECT_EQ(icu().VSR_ucol_getSortKeyPrefix(r.coll, text, r.srclen, r.dst, 16, 1, &st), 0);
    EXPECT_EQ(st, VQICU_ILLEGAL_ARGUMENT_ERROR);
  }
  // Comparing without a collator gives "less", as the client's stand-by does.
  EXPECT_EQ(icu().ucol_strcoll_3_4(nullptr, text, 2, text, 2), -1);
  vqicu_status st = VQICU_ZERO_ERROR;
  EXPECT_EQ(icu().VSR_ucol_getSortKeyPrefixSBCS(coll.coll, "ab", 2, dst, 16, nullptr, 1, &st),
            0);
  EXPECT_EQ(st, VQICU_ILLEGAL_ARGUMENT_ERROR);
  st = VQICU_ZERO_ERROR;
  EXPECT_EQ(icu().VSR_ucol_getSortKeyPrefixUTF8(coll.coll, "ab", -2, dst, 16, 1, &st), 0);
  EXPECT_EQ(st, VQICU_ILLEGAL_ARGUMENT_ERROR);
  // A status that already failed is left alone.
  st = VQICU_BUFFER_OVERFLOW_ERROR;
  EXPECT_EQ(icu().VSR_ucol_getSortKeyPrefixUTF8(coll.coll, "ab", 2, dst, 16, 1, &st), 0);
  EXPECT_EQ(st, VQICU_BUFFER_OVERFLOW_ERROR);
}

// ---- Single-byte comparison and iterators ---------------------------------------------------

struct PairCase {
  const char* sbcs;  // single-byte set holding both texts
  std::u16string a;
  std::u16string b;
};

const PairCase kPairs[] = {
    {"ISO-8859-1", u"résumé", u"Resume"},       {"ISO-8859-1", u"apple", u"Apple"},
    {"ISO-8859-1", u"same text", u"same text"}, {"ISO-8859-1", u"", u"a"},
    {"ISO-8859-1", u"Straße", u"Strasse"},      {"ibm-5348_P100-1997", u"Œuvre", u"oeuvre"},
    {"ibm-5348_P100-1997", u"“a”", u"a"},       {"ibm-878_P100-1996", u"Русский", u"русский"},
    {"ibm-878_P100-1996", u"ёлка", u"елка"},    {"macos-6-10.2", u"Ελληνικά", u"ελληνικα"},
    {"windows-1256-2000", u"عربي", u"عربى"},
};

TEST(IcuStandinCompare, SingleByteComparisonMatchesUtf16) {
  for (const char* locale : {"en", "ru", "el"}) {
    Collator coll(locale);
    for (const PairCase& p : kPairs) {
      SCOPED_TRACE(std::string(locale) + " " + utf8(p.a) + " vs " + utf8(p.b));
      const Map map = sbcs_map(p.sbcs);
      const std::string a = encode(p.sbcs, p.a);
      const std::string b = encode(p.sbcs, p.b);
      const int expected =
          icu().ucol_strcoll_3_4(coll.coll, units(p.a), p.a.size(), units(p.b), p.b.size());
      EXPECT_EQ(icu().VSR_ucol_strcoll_sbcs(coll.coll, map.data(), a.data(), a.size(), b.data(),
                                            b.size()),
                expected);
      EXPECT_EQ(icu().VSR_ucol_strcoll_sbcs(coll.coll, map.data(), b.data(), b.size(), a.data(),
                                            a.size()),
                -expected);
    }
  }
  const Map map = sbcs_map("ISO-8859-1");
  EXPECT_EQ(icu().VSR_ucol_strcoll_sbcs(nullptr, map.data(), "a", 1, "a", 1), -1);
  Collator coll("en");
  EXPECT_EQ(icu().VSR_ucol_strcoll_sbcs(coll.coll, nullptr, "a", 1, "a", 1), -1);
}

// A text delivered in fragments of `chunk` bytes, as a stream would give it. Every
// fill copies what is in hand to a fresh buffer and spoils the previous one, so an
// iterator that keeps a stale pointer compares garbage.
class Fragments {
 public:
  Fragments(std::string text, size_t chunk) : text_(std::move(text)), chunk_(chunk) {
    in_hand_ = std::min(chunk_, text_.size());
    store();
  }
  const char* data() const { return buffers_.back()->data(); }
  int32_t in_hand() const { return static_cast<int32_t>(in_hand_); }
  int calls() const { return calls_; }

  static const char* fill(void* context, int32_t need, int32_t* available) {
    auto* self = static_cast<Fragments*>(context);
    ++self->calls_;
    while (self->in_hand_ <= static_cast<size_t>(need) && self->in_hand_ < self->text_.size())
      self->in_hand_ = std::min(self->in_hand_ + self->chunk_, self->text_.size());
    self->store();
    *available = static_cast<int32_t>(self->in_hand_);
    return self->data();
  }

 private:
  void store() {
    if (!buffers_.empty()) std::fill(buffers_.back()->begin(), buffers_.back()->end(), 'X');
    buffers_.push_back(std::make_unique<std::string>(text_.substr(0, in_hand_)));
  }
  std::string text_;
  size_t chunk_;
  size_t in_hand_ = 0;
  int calls_ = 0;
  std::vector<std::unique_ptr<std::string>> buffers_;
};

TEST(IcuStandinCompare, FragmentedTextComparesAsWholeText) {
  Collator coll("en");
  for (const PairCase& p : kPairs) {
    const int expected =
        icu().ucol_strcoll_3_4(coll.coll, units(p.a), p.a.size(), units(p.b), p.b.size());
    const Map map = sbcs_map(p.sbcs);
    for (size_t chunk : {1, 2, 3, 5, 8, 1000}) {
      for (bool known_total : {true, false}) {
        SCOPED_TRACE(utf8(p.a) + " vs " + utf8(p.b) + " chunk " + std::to_string(chunk) +
                     (known_total ? " total known" : " total unknown"));
        // UTF-8 text.
        {
          const std::string a = utf8(p.a), b = utf8(p.b);
          Fragments fa(a, chunk), fb(b, chunk);
          vqicu_char_iterator ia, ib;
          icu().VSR_uiter_setFragmentedUTF8Simple(
              &ia, fa.data(), fa.in_hand(), known_total ? a.size() : -1, Fragments::fill, &fa);
          icu().VSR_uiter_setFragmentedUTF8Simple(
              &ib, fb.data(), fb.in_hand(), known_total ? b.size() : -1, Fragments::fill, &fb);
          vqicu_status st = VQICU_ZERO_ERROR;
          EXPECT_EQ(icu().ucol_strcollIter_3_4(coll.coll, &ia, &ib, &st), expected);
          EXPECT_EQ(st, VQICU_ZERO_ERROR);
        }
        // Single-byte text through the map.
        {
          const std::string a = encode(p.sbcs, p.a), b = encode(p.sbcs, p.b);
          Fragments fa(a, chunk), fb(b, chunk);
          vqicu_char_iterator ia, ib;
          icu().VSR_uiter_setFragmentedSBCS(&ia, fa.data(), fa.in_hand(),
                                            known_total ? a.size() : -1, Fragments::fill, &fa,
                                            map.data());
          icu().VSR_uiter_setFragmentedSBCS(&ib, fb.data(), fb.in_hand(),
                                            known_total ? b.size() : -1, Fragments::fill, &fb,
                                            map.data());
          vqicu_status st = VQICU_ZERO_ERROR;
          EXPECT_EQ(icu().ucol_strcollIter_3_4(coll.coll, &ia, &ib, &st), expected);
          EXPECT_EQ(st, VQICU_ZERO_ERROR);
        }
      }
    }
  }
}

TEST(IcuStandinCompare, FragmentedTextStopsAtItsTotal) {
  // The caller may hold more bytes than the part ICU is to see.
  Collator coll("en");
  const Map map = sbcs_map("ISO-8859-1");
  Fragments fa("abcZZZ", 2), fb("abcAAA", 2);
  vqicu_char_iterator ia, ib;
  icu().VSR_uiter_setFragmentedSBCS(&ia, fa.data(), fa.in_hand(), 3, Fragments::fill, &fa,
                                    map.data());
  icu().VSR_uiter_setFragmentedUTF8Simple(&ib, fb.data(), fb.in_hand(), 3, Fragments::fill,
                                          &fb);
  vqicu_status st = VQICU_ZERO_ERROR;
  EXPECT_EQ(icu().ucol_strcollIter_3_4(coll.coll, &ia, &ib, &st), 0);
  EXPECT_LE(fa.calls(), 2);

  // Without a fill function the iterator holds the text given.
  vqicu_char_iterator ic, id;
  icu().VSR_uiter_setFragmentedSBCS(&ic, "abc", 3, -1, nullptr, nullptr, map.data());
  icu().uiter_setUTF8_3_4(&id, "abd", 3);
  EXPECT_EQ(icu().ucol_strcollIter_3_4(coll.coll, &ic, &id, &st), -1);
  EXPECT_EQ(st, VQICU_ZERO_ERROR);
}

TEST(IcuStandinCompare, SingleByteIteratorMovesLikeIcusOwn) {
  // ICU's collation walks iterators forwards and backwards and by index; the
  // single-byte iterator must answer like ICU's UTF-8 iterator over the same text.
  const Map map = sbcs_map("ISO-8859-1");
  vqicu_char_iterator s, u;
  icu().VSR_uiter_setFragmentedSBCS(&s, "abc", 3, 3, nullptr, nullptr, map.data());
  icu().uiter_setUTF8_3_4(&u, "abc", 3);
  EXPECT_EQ(s.get_index(&s, 4 /* length */), 3);
  for (auto* it : {&s, &u}) {
    SCOPED_TRACE(it == &s ? "sbcs" : "utf8");
    EXPECT_EQ(it->current(it), 'a');
    EXPECT_EQ(it->next(it), 'a');
    EXPECT_EQ(it->next(it), 'b');
    EXPECT_EQ(it->get_index(it, 1 /* current */), 2);
    EXPECT_EQ(it->move(it, 5, 1), 3);
    EXPECT_FALSE(it->has_next(it));
    EXPECT_EQ(it->next(it), -1);
    EXPECT_EQ(it->previous(it), 'c');
    EXPECT_EQ(it->move(it, -10, 1), 0);
    EXPECT_FALSE(it->has_previous(it));
    EXPECT_EQ(it->previous(it), -1);
    const uint32_t state = it->get_state(it);
    it->next(it);
    vqicu_status st = VQICU_ZERO_ERROR;
    it->set_state(it, state, &st);
    EXPECT_EQ(st, VQICU_ZERO_ERROR);
    EXPECT_EQ(it->current(it), 'a');
  }
}

}  // namespace
