// Case mapping, character properties and locale names of the Unicode stand-in. The
// stream case mapping must give the mapping of the whole text at once, however the
// input is cut by the read callback and however long it is.
#include <gtest/gtest.h>

#include <string>

#include "icu_api.h"

namespace {

std::string le_bytes(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

std::u16string from_le_bytes(const std::string& b) {
  std::u16string out;
  for (size_t i = 0; i + 1 < b.size(); i += 2)
    out +=
        static_cast<char16_t>(static_cast<uint8_t>(b[i]) | static_cast<uint8_t>(b[i + 1]) << 8);
  return out;
}

// The input stream: hands out `chunk` bytes per read; fails after `fail_after` bytes.
struct Source {
  std::string bytes;
  size_t chunk = 4096;
  size_t pos = 0;
  size_t fail_after = std::string::npos;

  static int32_t read(void* context, char* buffer, int32_t size) {
    auto* s = static_cast<Source*>(context);
    if (s->pos >= s->fail_after) return -1;
    size_t n = std::min({s->chunk, static_cast<size_t>(size), s->bytes.size() - s->pos});
    s->bytes.copy(buffer, n, s->pos);
    s->pos += n;
    return static_cast<int32_t>(n);
  }
};

// The output stream: takes at most `room` bytes in all.
struct Sink {
  std::string bytes;
  size_t room = std::string::npos;

  static int32_t write(void* context, const char* data, int32_t size) {
    auto* s = static_cast<Sink*>(context);
    const size_t n = std::min(static_cast<size_t>(size), s->room - s->bytes.size());
    s->bytes.append(data, n);
    return static_cast<int32_t>(n);
  }
};

std::u16string map_whole(bool upper, const std::u16string& s, const char* locale) {
  std::u16string out(s.size() * 3 + 8, u'\0');
  vqicu_status st = VQICU_ZERO_ERROR;
  auto* fn = upper ? icu().u_strToUpper_3_4 : icu().u_strToLower_3_4;
  const int32_t n = fn(reinterpret_cast<vqicu_uchar*>(&out[0]), out.size(),
                       reinterpret_cast<const vqicu_uchar*>(s.data()), s.size(), locale, &st);
  EXPECT_EQ(st, VQICU_ZERO_ERROR);
  out.resize(n);
  return out;
}

std::u16string map_stream(bool upper, const std::u16string& s, const char* locale, size_t chunk,
                          vqicu_status* status_out = nullptr) {
  Source src{le_bytes(s), chunk};
  Sink sink;
  vqicu_status st = VQICU_ZERO_ERROR;
  auto* fn = upper ? icu().VSR_strToUpper : icu().VSR_strToLower;
  const int32_t written = fn(Sink::write, &sink, Source::read, &src, locale, &st);
  EXPECT_EQ(static_cast<size_t>(written), sink.bytes.size());
  if (status_out)
    *status_out = st;
  else
    EXPECT_EQ(st, VQICU_ZERO_ERROR);
  return from_le_bytes(sink.bytes);
}

struct CaseRow {
  const char* name;
  bool upper;
  const char* locale;
  std::u16string in;
  std::u16string out;
};

const CaseRow kCaseRows[] = {
    {"sharp s expands", true, "", u"Straße", u"STRASSE"},
    {"final sigma", false, "", u"ΟΔΟΣ ΟΔΟΣ.", u"οδος οδος."},
    {"sigma inside a word", false, "", u"ΣΑΣ", u"σας"},
    {"dotted capital I", false, "", u"İstanbul", u"i\u0307stanbul"},
    {"Turkish dotless i", false, "tr", u"ISPARTA", u"ısparta"},
    {"Turkish dotted upper", true, "tr", u"istanbul", u"İSTANBUL"},
    {"Cyrillic", true, "", u"Русский текст", u"РУССКИЙ ТЕКСТ"},
    {"supplementary letters", false, "", u"\U00010400\U00010401 x", u"\U00010428\U00010429 x"},
    {"ligature", true, "", u"ﬁle", u"FILE"},
    {"nothing to map", true, "", u"日本語 123", u"日本語 123"},
    {"empty", true, "", u"", u""},
};

TEST(IcuStandinCaseMapping, StreamMapsAsTheWholeText) {
  for (const CaseRow& r : kCaseRows) {
    for (size_t chunk : {1, 2, 3, 5, 4096}) {
      SCOPED_TRACE(std::string(r.name) + " chunk " + std::to_string(chunk));
      EXPECT_EQ(map_stream(r.upper, r.in, r.locale, chunk), r.out);
      EXPECT_EQ(map_whole(r.upper, r.in, r.locale), r.out);
    }
  }
}

TEST(IcuStandinCaseMapping, LongTextKeepsContextAcrossItsWindow) {
  // Long words of alternating alpha and sigma: a sigma becomes final only at the end
  // of its word, so a cut inside a word changes the result. The leading letters move
  // the words against the mapper's window.
  std::u16string words;
  for (int i = 0; i < 900; ++i) {
    for (int k = 0; k <= i % 41; ++k) words += u"ΑΣ";
    words += (i % 3 ? u" " : u".\u0301 ");
    words += u"\U00010400";
  }
  ASSERT_GT(words.size(), 40000u);  // well beyond what the mapper holds back
  for (size_t lead = 0; lead < 3; ++lead) {
    const std::u16string text = std::u16string(lead, u'x') + words;
    for (bool upper : {false, true}) {
      for (size_t chunk : {7, 4096}) {
        SCOPED_TRACE(std::string(upper ? "upper" : "lower") + " chunk " +
                     std::to_string(chunk) + " lead " + std::to_string(lead));
        EXPECT_EQ(map_stream(upper, text, "", chunk), map_whole(upper, text, ""));
      }
    }
  }
}

TEST(IcuStandinCaseMapping, StreamFailures) {
  {
    SCOPED_TRACE("output full");
    Source src{le_bytes(u"abcdef"), 4096};
    Sink sink;
    sink.room = 5;
    vqicu_status st = VQICU_ZERO_ERROR;
    EXPECT_EQ(icu().VSR_strToUpper(Sink::write, &sink, Source::read, &src, "", &st), 5);
    EXPECT_EQ(st, VQICU_BUFFER_OVERFLOW_ERROR);
    EXPECT_EQ(sink.bytes, le_bytes(u"ABC").substr(0, 5));
  }
  {
    SCOPED_TRACE("read fails");
    Source src{le_bytes(u"abcdef"), 4};
    src.fail_after = 4;
    Sink sink;
    vqicu_status st = VQICU_ZERO_ERROR;
    icu().VSR_strToLower(Sink::write, &sink, Source::read, &src, "", &st);
    EXPECT_EQ(st, VQICU_INVALID_STATE_ERROR);
  }
  {
    SCOPED_TRACE("odd byte at the end");
    Source src{le_bytes(u"abc") + "x", 3};
    Sink sink;
    vqicu_status st = VQICU_ZERO_ERROR;
    EXPECT_EQ(icu().VSR_strToUpper(Sink::write, &sink, Source::read, &src, "", &st), 6);
    EXPECT_EQ(st, VQICU_TRUNCATED_CHAR_FOUND);
    EXPECT_EQ(from_le_bytes(sink.bytes), u"ABC");
  }
  {
    SCOPED_TRACE("bad arguments");
    Source src{le_bytes(u"abc")};
    Sink sink;
    vqicu_status st = VQICU_ZERO_ERROR;
    EXPECT_EQ(icu().VSR_strToUpper(nullptr, &sink, Source::read, &src, "", &st), 0);
    EXPECT_EQ(st, VQICU_ILLEGAL_ARGUMENT_ERROR);
    st = VQICU_MISSING_RESOURCE_ERROR;
    EXPECT_EQ(icu().VSR_strToUpper(Sink::write, &sink, Source::read, &src, "", &st), 0);
    EXPECT_EQ(st, VQICU_MISSING_RESOURCE_ERROR);
    EXPECT_EQ(src.pos, 0u);
  }
}

TEST(IcuStandinCaseMapping, BufferFormReportsTheLengthNeeded) {
  const std::u16string in = u"Straße";
  vqicu_uchar out[4];
  vqicu_status st = VQICU_ZERO_ERROR;
  EXPECT_EQ(icu().u_strToUpper_3_4(out, 4, reinterpret_cast<const vqicu_uchar*>(in.data()),
                                   in.size(), "", &st),
            7);
  EXPECT_EQ(st, VQICU_BUFFER_OVERFLOW_ERROR);
}

TEST(IcuStandinProperties, ClassifiesCharacters) {
  struct Row {
    vqicu_uchar32 c;
    bool alphabetic, java_space, unicode_space;
    int32_t numeric_type;  // 0 none, 1 decimal, 2 digit, 3 numeric
  };
  const Row rows[] = {
      {'A', true, false, false, 0},     {'7', false, false, false, 1},
      {' ', false, true, true, 0},      {'\t', false, true, true, 0},
      {0xA0, false, false, true, 0},    {0x3000, false, true, true, 0},
      {0xBD, false, false, false, 3},   {0x0663, false, false, false, 1},
      {0x00B2, false, false, false, 2}, {0x2167, true, false, false, 3},
      {0x3042, true, false, false, 0},  {0x10400, true, false, false, 0},
      {'-', false, false, false, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.c);
    EXPECT_EQ(icu().u_isUAlphabetic_3_4(r.c) != 0, r.alphabetic);
    EXPECT_EQ(icu().u_isWhitespace_3_4(r.c) != 0, r.java_space);
    EXPECT_EQ(icu().u_isUWhiteSpace_3_4(r.c) != 0, r.unicode_space);
    EXPECT_EQ(icu().u_getIntPropertyValue_3_4(r.c, VQICU_NUMERIC_TYPE), r.numeric_type);
  }
}

TEST(IcuStandinLocale, CanonicalizesLocaleNames) {
  struct Row {
    const char* in;
    const char* out;
  };
  for (const Row& r : {Row{"en_us", "en_US"}, Row{"DE-de", "de_DE"},
                       Row{"de@collation=phonebook", "de@collation=phonebook"}}) {
    SCOPED_TRACE(r.in);
    char name[64];
    vqicu_status st = VQICU_ZERO_ERROR;
    const int32_t n = icu().uloc_canonicalize_3_4(r.in, name, sizeof name, &st);
    EXPECT_EQ(st, VQICU_ZERO_ERROR);
    EXPECT_EQ(std::string(name, n), r.out);
  }
  char small[3];
  vqicu_status st = VQICU_ZERO_ERROR;
  EXPECT_EQ(icu().uloc_canonicalize_3_4("en_us", small, sizeof small, &st), 5);
  EXPECT_EQ(st, VQICU_BUFFER_OVERFLOW_ERROR);
}

}  // namespace
