// The converter front object, the built-in converters and conversions through UTF-16.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <typeinfo>

#include "converter_fixture.h"
#include "utils/locale/converters_internal.h"

namespace {

class ConverterTest : public RegistryTest {
 protected:
  const CharsetInfo* utf8() { return locale()->utf8_charset(); }
  const CharsetInfo* utf16le() { return locale()->utf16le_charset(); }
  const CharsetInfo* utf16be() { return locale()->utf16be_charset(); }
  const CharsetInfo* latin1() { return Charset("ISO-8859-1"); }
};

// ---- The front object --------------------------------------------------------------------

TEST_F(ConverterTest, ChoosesTheImplementationByPair) {
  struct Case {
    const char* to;
    const char* from;
    const std::type_info& type;
  } cases[] = {
      {"UTF-16LE", "UTF-8", typeid(UTF8ToUTF16CharsetConverter)},
      {"UTF-8", "UTF-16LE", typeid(UTF16ToUTF8CharsetConverter)},
      {"UTF-16LE", "UTF-16BE", typeid(UTF16SwapEndianCharsetConverter)},
      {"UTF-16BE", "UTF-16LE", typeid(UTF16SwapEndianCharsetConverter)},
      {"UTF-16LE", "ISO-8859-1", typeid(SBCSToUTF16MapCharsetConverter)},
      {"ISO-8859-1", "UTF-16LE", typeid(UTF16ToSBCSMapCharsetConverter)},
      {"windows-1252", "ISO-8859-1", typeid(BytemapCharsetConverter)},
      {"UTF-8", "ISO-8859-1", typeid(PivotCharsetConverter)},
      {"UTF-8", "UTF-8", typeid(IdentityCharsetConverter)},
      {"UTF-16LE", "Windows-31J", typeid(ToUTF16ICUCharsetConverter)},
      {"Shift_JIS", "UTF-16LE", typeid(FromUTF16ICUCharsetConverter)},
      {"EUC-JP", "UTF-8", typeid(PivotCharsetConverter)},
  };
  for (const Case& c : cases) {
    CharsetConverter conv(locale(), Charset(c.to), Charset(c.from));
    ASSERT_NE(conv.impl(), nullptr) << c.to << " <- " << c.from;
    EXPECT_EQ(typeid(*conv.impl()), c.type) << c.to << " <- " << c.from;
    EXPECT_TRUE(conv.valid()) << c.to << " <- " << c.from;
  }
}

TEST_F(ConverterTest, SamePairKeepsTheImplementation) {
  CharsetConverter conv(locale(), utf16le(), utf8());
  CharsetConverterBase* first = conv.impl();
  conv.set_options(kConvIllegalSequence);
  EXPECT_EQ(conv.SetEncodings(utf16le(), utf8()), 1);
  EXPECT_EQ(conv.impl(), first);
  EXPECT_EQ(conv.options(), kConvIllegalSequence);  // not rebuilt
  // Another pair rebuilds it.
  EXPECT_EQ(conv.SetEncodings(utf8(), utf16le()), 1);
  EXPECT_EQ(typeid(*conv.impl()), typeid(UTF16ToUTF8CharsetConverter));
}

TEST_F(ConverterTest, MissingCharsetCopiesBytesUnchanged) {
  CharsetConverter conv(locale(), utf8(), nullptr);
  EXPECT_FALSE(conv.valid());
  EXPECT_EQ(conv.SetEncodings(utf8(), nullptr), 0);
  EXPECT_EQ(conv.SetEncodings(nullptr, utf8()), 0);
  const Bytes in = Hex("C3 A9 FF 00 41");
  unsigned char out[16];
  unsigned int written = 0;
  EXPECT_EQ(conv.Convert(out, sizeof out, &written, in.data(), in.size()), kConvDone);
  EXPECT_EQ(Bytes(out, out + written), in);
}

TEST_F(ConverterTest, OneShotConvertTruncatesToTheDestination) {
  CharsetConverter conv(locale(), utf16le(), latin1());
  const Bytes in = Str("abcdefghij");
  unsigned char out[6];
  unsigned int written = 0;
  EXPECT_EQ(conv.Convert(out, sizeof out, &written, in.data(), in.size()), kConvDestFull);
  EXPECT_EQ(written, 6u);
  EXPECT_EQ(Bytes(out, out + 6), U16({'a', 'b', 'c'}));
  // No state carries into the next call.
  unsigned char again[32];
  EXPECT_EQ(conv.Convert(again, sizeof again, &written, in.data(), 2), kConvDone);
  EXPECT_EQ(Bytes(again, again + written), U16({'a', 'b'}));
}

TEST_F(ConverterTest, ConvertClearsStatusOfThePreviousCall) {
  CharsetConverter conv(locale(), utf16le(), utf8());
  const Bytes bad = Hex("C0 AF");
  unsigned char out[32];
  unsigned int written = 0;
  conv.Convert(out, sizeof out, &written, bad.data(), bad.size());
  EXPECT_EQ(conv.status(), kConvIllegalSequence);
  const Bytes good = Str("ok");
  conv.Convert(out, sizeof out, &written, good.data(), good.size());
  EXPECT_EQ(conv.status(), 0u);
}

// ---- UTF-8 -> UTF-16 ---------------------------------------------------------------------

TEST_F(ConverterTest, Utf8ToUtf16ValidatesEverySequence) {
  struct Case {
    const char* in;
    Bytes out;
    std::uint32_t status;
  } cases[] = {
      {"41 C3 A9", U16({0x41, 0xE9}), 0},
      {"E2 82 AC", U16({0x20AC}), 0},
      {"F0 9F 98 80", U16({0xD83D, 0xDE00}), 0},
      {"F4 8F BF BF", U16({0xDBFF, 0xDFFF}), 0},
      {"EF BB BF", U16({0xFEFF}), 0},
      // Overlong forms, each a separate ill-formed part per byte that cannot start or
      // continue a sequence.
      {"C0 AF", U16({0xFFFD, 0xFFFD}), kConvIllegalSequence},
      {"C1 BF", U16({0xFFFD, 0xFFFD}), kConvIllegalSequence},
      {"E0 80 AF", U16({0xFFFD, 0xFFFD, 0xFFFD}), kConvIllegalSequence},
      {"F0 80 80 AF", U16({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}), kConvIllegalSequence},
      // Encoded surrogates and values beyond U+10FFFF.
      {"ED A0 80", U16({0xFFFD, 0xFFFD, 0xFFFD}), kConvIllegalSequence},
      {"F4 90 80 80", U16({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}), kConvIllegalSequence},
      {"F5 80", U16({0xFFFD, 0xFFFD}), kConvIllegalSequence},
      // Stray trail bytes are no longer read as Latin-1.
      {"A9", U16({0xFFFD}), kConvIllegalSequence},
      {"41 80 42", U16({0x41, 0xFFFD, 0x42}), kConvIllegalSequence},
      // A lead byte followed by ASCII: the lead is replaced, the ASCII kept.
      {"C3 41", U16({0xFFFD, 0x41}), kConvIllegalSequence},
      {"E2 82 41", U16({0xFFFD, 0x41}), kConvIllegalSequence},
      // Truncated at the end of the final input.
      {"41 C3", U16({0x41, 0xFFFD}), kConvIncompleteInput},
      {"E2 82", U16({0xFFFD}), kConvIncompleteInput},
      {"F0 9F 98", U16({0xFFFD}), kConvIncompleteInput},
  };
  CharsetConverter conv(locale(), utf16le(), utf8());
  for (const Case& c : cases) {
    Outcome o = ConvertAll(conv, Hex(c.in));
    EXPECT_EQ(ToHex(o.out), ToHex(c.out)) << c.in;
    EXPECT_EQ(o.status, c.status) << c.in;
    EXPECT_EQ(o.result, kConvDone) << c.in;
  }
}

TEST_F(ConverterTest, Utf8OptionsStopAndReport) {
  struct Case {
    const char* in;
    std::uint32_t options;
    int result;
    Bytes out;
    std::size_t consumed;
  } cases[] = {
      {"41 C0 AF", kConvIllegalSequence, kConvIllegal, U16({0x41}), 1},
      {"41 ED A0 80", kConvIllegalSequence, kConvIllegal, U16({0x41}), 1},
      {"41 42 C3", kConvIncompleteInput, kConvIncomplete, U16({0x41, 0x42}), 2},
      // An option for another case changes nothing.
      {"41 C0 AF", kConvUnmappedChar, kConvDone, U16({0x41, 0xFFFD, 0xFFFD}), 3},
  };
  CharsetConverter conv(locale(), utf16le(), utf8());
  EXPECT_TRUE(conv.support_reporting());
  for (const Case& c : cases) {
    Outcome o = ConvertAll(conv, Hex(c.in), c.options);
    EXPECT_EQ(o.result, c.result) << c.in;
    EXPECT_EQ(ToHex(o.out), ToHex(c.out)) << c.in;
    EXPECT_EQ(o.consumed, c.consumed) << c.in;
  }
}

TEST_F(ConverterTest, SurrogatePairNeedsRoomForBothUnits) {
  // The worker itself writes nothing and leaves the input.
  UTF8ToUTF16CharsetConverter worker(locale(), utf16le(), utf8());
  const Bytes in = Hex("F0 9F 98 80");
  alignas(2) unsigned char out[2];
  unsigned char* d = out;
  const unsigned char* s = in.data();
  EXPECT_EQ(worker.to_utf16_aligned(&d, out + 2, &s, in.data() + in.size(), 1), kConvDone);
  EXPECT_EQ(d, out);
  EXPECT_EQ(s, in.data());
  // Through the driver the first unit goes out, the second waits as pending output.
  PivotBuffer pivot;
  void* dv = out;
  const void* sv = in.data();
  EXPECT_EQ(worker.ContinueConvert(pivot, &dv, out + 2, &sv, in.data() + in.size(), 1),
            kConvDestFull);
  EXPECT_EQ(Bytes(out, out + 2), U16({0xD83D}));
  dv = out;
  EXPECT_EQ(worker.ContinueConvert(pivot, &dv, out + 2, &sv, in.data() + in.size(), 1),
            kConvDone);
  EXPECT_EQ(Bytes(out, out + 2), U16({0xDE00}));
}

// ---- UTF-16 -> UTF-8 ---------------------------------------------------------------------

TEST_F(ConverterTest, Utf16ToUtf8ReplacesLoneSurrogates) {
  struct Case {
    Bytes in;
    const char* out;
    std::uint32_t status;
  } cases[] = {
      {U16({0x41, 0xE9, 0x20AC}), "41 C3 A9 E2 82 AC", 0},
      {U16({0xD83D, 0xDE00}), "F0 9F 98 80", 0},
      {U16({0xD800, 0x41}), "EF BF BD 41", kConvIllegalSequence},
      {U16({0xDC00, 0x41}), "EF BF BD 41", kConvIllegalSequence},
      {U16({0xD800, 0xD800, 0xDC00}), "EF BF BD F0 90 80 80", kConvIllegalSequence},
      // A high surrogate or half a unit at the end of the final input.
      {U16({0x41, 0xD800}), "41 EF BF BD", kConvIncompleteInput},
      {Hex("41 00 42"), "41 EF BF BD", kConvIncompleteInput},
  };
  CharsetConverter conv(locale(), utf8(), utf16le());
  for (const Case& c : cases) {
    Outcome o = ConvertAll(conv, c.in);
    EXPECT_EQ(ToHex(o.out), c.out) << ToHex(c.in);
    EXPECT_EQ(o.status, c.status) << ToHex(c.in);
  }
  Outcome stopped = ConvertAll(conv, U16({0x41, 0xD800, 0x41}), kConvIllegalSequence);
  EXPECT_EQ(stopped.result, kConvIllegal);
  EXPECT_EQ(ToHex(stopped.out), "41");
  EXPECT_EQ(stopped.consumed, 2u);
}

// ---- UTF-16 byte swap and the single-byte map --------------------------------------------

TEST_F(ConverterTest, SwapsByteOrder) {
  CharsetConverter conv(locale(), utf16le(), utf16be());
  EXPECT_EQ(ToHex(ConvertAll(conv, Hex("00 41 30 42")).out), "41 00 42 30");
  // Split after the third byte: the held byte pairs with the next call's first byte.
  Outcome split = ConvertInChunks(conv, Hex("00 41 30 42"), {3}, 1024);
  EXPECT_EQ(ToHex(split.out), "41 00 42 30");
  // An odd byte at the end of the final input becomes the target's substitute.
  Outcome odd = ConvertAll(conv, Hex("00 41 30"));
  EXPECT_EQ(ToHex(odd.out), "41 00 FD FF");
  EXPECT_EQ(odd.status, kConvIncompleteInput);
  Outcome stopped = ConvertAll(conv, Hex("00 41 30"), kConvIncompleteInput);
  EXPECT_EQ(stopped.result, kConvIncomplete);
  EXPECT_EQ(ToHex(stopped.out), "41 00");
}

TEST_F(ConverterTest, SingleByteSetsThroughTheirMaps) {
  CharsetConverter latin(locale(), utf16le(), latin1());
  Outcome o = ConvertAll(latin, Hex("41 E9 FF"));
  EXPECT_EQ(o.out, U16({0x41, 0xE9, 0xFF}));
  EXPECT_EQ(o.status, 0u);
  // US-ASCII has no upper half: the byte is substituted and reported.
  CharsetConverter ascii(locale(), utf16le(), locale()->ascii_charset());
  o = ConvertAll(ascii, Hex("41 E9"));
  EXPECT_EQ(o.out, U16({0x41, 0xFFFD}));
  EXPECT_EQ(o.status, kConvUnmappedChar);
  CharsetConverter cp1252(locale(), utf16le(), Charset("windows-1252"));
  EXPECT_EQ(ConvertAll(cp1252, Hex("80 9F")).out, U16({0x20AC, 0x0178}));
}

// ---- Conversions through UTF-16 ----------------------------------------------------------

TEST_F(ConverterTest, RoundTripsThroughOtherCharsets) {
  // UTF-8 text -> charset -> UTF-8 gives the text back; the middle form is checked
  // where it is well known.
  struct Case {
    const char* charset;
    const char* text;    // UTF-8, hex
    const char* middle;  // expected bytes in the charset, or null
  } cases[] = {
      {"ISO-8859-1", "63 61 66 C3 A9", "63 61 66 E9"},
      {"windows-1252", "E2 82 AC 31", "80 31"},
      {"KOI8-R", "D0 9F D1 80 D0 B8", "F0 D2 C9"},
      {"UTF-16BE", "41 F0 9F 98 80", "00 41 D8 3D DE 00"},
      {"UTF-16LE", "41 E2 82 AC", "41 00 AC 20"},
      {"Windows-31J", "E3 81 82 41", "82 A0 41"},
      {"EUC-JP", "E3 81 82", "A4 A2"},
      {"GB2312", "E4 B8 AD", "D6 D0"},
  };
  for (const Case& c : cases) {
    const CharsetInfo* cs = Charset(c.charset);
    CharsetConverter there(locale(), cs, utf8());
    CharsetConverter back(locale(), utf8(), cs);
    EXPECT_TRUE(there.valid()) << c.charset;
    EXPECT_TRUE(back.valid()) << c.charset;
    Outcome mid = ConvertAll(there, Hex(c.text));
    if (c.middle != nullptr) {
      EXPECT_EQ(ToHex(mid.out), c.middle) << c.charset;
    }
    Outcome o = ConvertAll(back, mid.out);
    EXPECT_EQ(ToHex(o.out), ToHex(Hex(c.text))) << c.charset;
    EXPECT_EQ(o.status | mid.status, 0u) << c.charset;
  }
}

// ---- Single-byte sets, every byte ------------------------------------------------------

// Every byte a single-byte set decodes to a character encodes back to itself, whichever
// path the system takes: the built-in map and its reverse, the byte-to-byte tables
// between two sets, and the Unicode library's converters on their own.
class SingleByteRoundTrip : public ConverterTest {
 protected:
  static bool IsSingleByte(const CharsetInfo& cs) {
    return cs.unit_width == 1 && cs.max_bytes == 1;
  }
  static Bytes AllBytes() {
    Bytes all(256);
    for (int b = 0; b < 256; ++b) all[b] = static_cast<unsigned char>(b);
    return all;
  }
  static std::uint16_t Unit(const Bytes& utf16, std::size_t i) {
    return static_cast<std::uint16_t>(utf16[2 * i] | (utf16[2 * i + 1] << 8));
  }
  static std::vector<int> Ints(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }
  // The byte of `map` that decodes to u, or -1.
  static int ByteOf(const std::uint16_t* map, std::uint16_t u) {
    for (int b = 0; b < 256; ++b) {
      if (map[b] == u) return b;
    }
    return -1;
  }
  // "1A>7F 1C>1A" for the bytes that came back as another byte ("--" for none).
  static std::string Mismatches(const std::vector<int>& expected, const std::vector<int>& got) {
    std::string out;
    char buf[32];
    for (int b = 0; b < static_cast<int>(expected.size()); ++b) {
      if (expected[b] < 0) continue;
      const int back = b < static_cast<int>(got.size()) ? got[b] : -1;
      if (back == expected[b]) continue;
      if (back < 0) {
        std::snprintf(buf, sizeof buf, "%02X>-- ", static_cast<unsigned>(b));
      } else {
        std::snprintf(buf, sizeof buf, "%02X>%02X ", static_cast<unsigned>(b),
                      static_cast<unsigned>(back));
      }
      out += buf;
    }
    return out;
  }
};

TEST_F(SingleByteRoundTrip, BuiltInMapAndItsReverse) {
  const CharsetInfo* utf16 = utf16le();
  for (const CharsetInfo& cs : UTLocale::_charset_info) {
    if (!IsSingleByte(cs)) continue;
    SCOPED_TRACE(cs.default_label->label);
    const std::uint16_t* map = locale()->FindOrLoadSBCSToUTF16(&cs);
    ASSERT_NE(map, nullptr);
    CharsetConverter decode(locale(), utf16, &cs);
    CharsetConverter encode(locale(), &cs, utf16);
    ASSERT_TRUE(decode.valid() && encode.valid());
    // Bytes to UTF-16 follow the map.
    Outcome units = ConvertAll(decode, AllBytes());
    ASSERT_EQ(units.out.size(), 512u);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(Unit(units.out, b), map[b]) << b;
    // Every defined character comes back as its own byte, alone and in one run.
    Bytes utf16_defined;
    Bytes defined;
    std::vector<int> expected(256, -1);
    std::vector<int> back(256, -1);  // -1: not exactly one byte without status
    for (int b = 0; b < 256; ++b) {
      if (map[b] == 0xFFFD) continue;
      expected[b] = b;
      const Bytes unit = U16({map[b]});
      Outcome one = ConvertAll(encode, unit);
      if (one.out.size() == 1 && one.status == 0) back[b] = one.out[0];
      utf16_defined.insert(utf16_defined.end(), unit.begin(), unit.end());
      defined.push_back(static_cast<unsigned char>(b));
    }
    EXPECT_EQ(Mismatches(expected, back), "");
    Outcome run = ConvertAll(encode, utf16_defined);
    EXPECT_EQ(ToHex(run.out), ToHex(defined));
    EXPECT_EQ(run.status, 0u);
    // A character the set lacks becomes its substitution byte and is reported.
    Outcome lacking = ConvertAll(encode, U16({0x41, 0x4E00, 0x42}));
    EXPECT_EQ(ToHex(lacking.out), ToHex({0x41, cs.subst[0], 0x42}));
    EXPECT_EQ(lacking.status, kConvUnmappedChar);
  }
}

TEST_F(SingleByteRoundTrip, TablesBetweenTwoSetsAgreeWithTheMaps) {
  for (const CharsetInfo& from : UTLocale::_charset_info) {
    if (!IsSingleByte(from)) continue;
    const std::uint16_t* from_map = locale()->FindOrLoadSBCSToUTF16(&from);
    ASSERT_NE(from_map, nullptr) << from.default_label->label;
    for (const CharsetInfo& to : UTLocale::_charset_info) {
      if (!IsSingleByte(to) || &to == &from) continue;
      SCOPED_TRACE(std::string(to.default_label->label) + " <- " + from.default_label->label);
      const std::uint16_t* to_map = locale()->FindOrLoadSBCSToUTF16(&to);
      ASSERT_NE(to_map, nullptr);
      CharsetConverter there(locale(), &to, &from);
      CharsetConverter back(locale(), &from, &to);
      ASSERT_TRUE(there.valid() && back.valid());
      Outcome moved = ConvertAll(there, AllBytes());
      ASSERT_EQ(moved.out.size(), 256u);
      // Each defined byte becomes the target's byte of the same character, or the
      // target's substitution byte; the ones the target has come back unchanged.
      std::vector<int> expected(256, -1);
      std::vector<int> returning(256, -1);
      for (int b = 0; b < 256; ++b) {
        if (from_map[b] == 0xFFFD) continue;
        const int target = ByteOf(to_map, from_map[b]);
        expected[b] = target >= 0 ? target : to.subst[0];
        if (target >= 0) returning[b] = b;
      }
      EXPECT_EQ(Mismatches(expected, Ints(moved.out)), "");
      Outcome returned = ConvertAll(back, moved.out);
      EXPECT_EQ(Mismatches(returning, Ints(returned.out)), "");
    }
  }
}

// The library's converters are opened with fallbacks on, so a byte outside its
// round-trip mappings may read as the character of another byte (a best fit); that
// character then comes back as the other byte. Every other byte comes back as itself.
TEST_F(SingleByteRoundTrip, UnicodeLibraryConvertersOnTheirOwn) {
  if (!locale()->ICUIsSupported()) GTEST_SKIP() << "the Unicode stand-in is not loadable";
  const CharsetInfo* utf16 = utf16le();
  for (const CharsetInfo& cs : UTLocale::_charset_info) {
    if (!IsSingleByte(cs)) continue;
    SCOPED_TRACE(cs.default_label->label);
    ToUTF16ICUCharsetConverter decode(locale(), utf16, &cs);
    FromUTF16ICUCharsetConverter encode(locale(), &cs, utf16);
    if (!decode.valid()) continue;  // the library does not know the set
    ASSERT_TRUE(encode.valid());
    std::vector<int> read(256, -1);  // the character of each byte, -1: none
    for (int b = 0; b < 256; ++b) {
      Outcome unit = ConvertAll(decode, Bytes{static_cast<unsigned char>(b)});
      if (unit.status == 0 && unit.out.size() == 2 && Unit(unit.out, 0) != 0xFFFD) {
        read[b] = Unit(unit.out, 0);
      }
    }
    std::vector<int> expected(256, -1);
    std::vector<int> back(256, -1);
    for (int b = 0; b < 256; ++b) {
      if (read[b] < 0) continue;
      expected[b] = b;
      Outcome one = ConvertAll(encode, U16({static_cast<std::uint16_t>(read[b])}));
      if (one.out.size() != 1 || one.status != 0) continue;
      const int got = one.out[0];
      back[b] = (got != b && read[got] == read[b]) ? b : got;  // a best-fit reading
    }
    EXPECT_EQ(Mismatches(expected, back), "");
  }
}

TEST_F(ConverterTest, PivotReportsUnmappableCharacters) {
  // U+3042 has no place in ISO-8859-1: substituted, or a stop under option bit 2.
  CharsetConverter conv(locale(), latin1(), utf8());
  Outcome o = ConvertAll(conv, Hex("41 E3 81 82 42"));
  EXPECT_EQ(ToHex(o.out), "41 1A 42");
  EXPECT_NE(o.status & kConvUnmappedChar, 0u);
  Outcome stopped = ConvertAll(conv, Hex("41 E3 81 82 42"), kConvUnmappedChar);
  EXPECT_EQ(stopped.result, kConvUnmapped);
  EXPECT_EQ(ToHex(stopped.out), "41");
  // Ill-formed UTF-8 on the way in is reported by the first stage.
  Outcome bad = ConvertAll(conv, Hex("41 C0 AF"), kConvIllegalSequence);
  EXPECT_EQ(bad.result, kConvIllegal);
  EXPECT_EQ(ToHex(bad.out), "41");
}

// The same output and status however the input is cut and however small the
// destination window is.
TEST_F(ConverterTest, SplitAnywhereGivesTheSameResult) {
  struct Case {
    const char* to;
    const char* from;
    Bytes in;
  } cases[] = {
      {"UTF-16LE", "UTF-8", Hex("41 C3 A9 E2 82 AC F0 9F 98 80 C0 AF ED A0 80 C3 41 E2 82")},
      {"UTF-8", "UTF-16LE", U16({0x41, 0xE9, 0xD83D, 0xDE00, 0xD800, 0x42, 0x20AC, 0xDC00})},
      {"UTF-16LE", "UTF-16BE", Hex("00 41 D8 3D DE 00 30 42 00")},
      {"UTF-16LE", "ISO-8859-1", Hex("41 E9 FF 80 00 7F")},
      {"ISO-8859-1", "UTF-8", Hex("63 61 66 C3 A9 E2 82 AC F0 9F 98 80 C3")},
      {"Windows-31J", "UTF-8", Hex("E3 81 82 41 E4 B8 AD F0 9F 98 80 C3 A9")},
      {"UTF-8", "Shift_JIS", Hex("82 A0 41 93 FA 96 7B B1 82")},
      {"UTF-8", "EUC-JP", Hex("A4 A2 41 C6 FC 8E B1 A4")},
      {"windows-1252", "ISO-8859-1", Hex("41 E9 80 FF")},
  };
  for (const Case& c : cases) {
    CharsetConverter conv(locale(), Charset(c.to), Charset(c.from));
    const Outcome whole = ConvertAll(conv, c.in);
    ASSERT_EQ(whole.result, kConvDone) << c.to << " <- " << c.from;
    ASSERT_FALSE(whole.out.empty()) << c.to << " <- " << c.from;
    for (std::size_t cut = 0; cut <= c.in.size(); ++cut) {
      EXPECT_EQ(ConvertInChunks(conv, c.in, {cut}, 1024), whole)
          << c.to << " <- " << c.from << " cut at " << cut;
    }
    std::vector<std::size_t> every_byte;
    for (std::size_t i = 1; i < c.in.size(); ++i) every_byte.push_back(i);
    EXPECT_EQ(ConvertInChunks(conv, c.in, every_byte, 1024), whole)
        << c.to << " <- " << c.from << " byte by byte";
    for (std::size_t window : {1, 2, 3, 5, 7}) {
      EXPECT_EQ(ConvertInChunks(conv, c.in, {}, window), whole)
          << c.to << " <- " << c.from << " window " << window;
      EXPECT_EQ(ConvertInChunks(conv, c.in, every_byte, window), whole)
          << c.to << " <- " << c.from << " byte by byte, window " << window;
    }
  }
}

TEST_F(ConverterTest, OddSourceAndDestinationAddresses) {
  // The aligned workers never see an odd address: the drivers copy through scratch
  // areas. Same results from every offset.
  struct Case {
    const char* to;
    const char* from;
    Bytes in;
  } cases[] = {
      {"UTF-8", "UTF-16LE", U16({0x41, 0xE9, 0xD83D, 0xDE00, 0x20AC})},
      {"UTF-16LE", "UTF-8", Hex("41 C3 A9 F0 9F 98 80 E2 82 AC")},
      {"UTF-16LE", "Windows-31J", Hex("82 A0 41 93 FA")},
      {"Shift_JIS", "UTF-16LE", U16({0x3042, 0x41, 0x65E5})},
  };
  for (const Case& c : cases) {
    CharsetConverter conv(locale(), Charset(c.to), Charset(c.from));
    const Outcome whole = ConvertAll(conv, c.in);
    for (int src_offset = 0; src_offset < 2; ++src_offset) {
      for (int dst_offset = 0; dst_offset < 2; ++dst_offset) {
        alignas(8) unsigned char src[64];
        alignas(8) unsigned char dst[128];
        std::memcpy(src + src_offset, c.in.data(), c.in.size());
        unsigned int written = 0;
        EXPECT_EQ(conv.Convert(dst + dst_offset, 100, &written, src + src_offset,
                               static_cast<unsigned int>(c.in.size())),
                  kConvDone);
        EXPECT_EQ(ToHex(Bytes(dst + dst_offset, dst + dst_offset + written)), ToHex(whole.out))
            << c.to << " <- " << c.from << " offsets " << src_offset << "," << dst_offset;
      }
    }
  }
}

TEST_F(ConverterTest, LongInputPassesThroughThePivotBuffer) {
  // Far more than the 1024-byte pivot buffer, through both stages.
  Bytes in;
  for (int i = 0; i < 3000; ++i) {
    in.push_back(0xC3);
    in.push_back(static_cast<unsigned char>(0x80 + i % 64));
  }
  CharsetConverter conv(locale(), latin1(), utf8());
  Outcome o = ConvertAll(conv, in);
  ASSERT_EQ(o.out.size(), 3000u);
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(o.out[i], 0xC0 + i % 64) << i;
  EXPECT_EQ(ConvertInChunks(conv, in, {1, 1001, 1002, 4000}, 333), o);
}

// ---- UTF-8 helpers -----------------------------------------------------------------------

TEST(Utf8Helpers, LengthAndEncode) {
  struct Case {
    std::uint32_t cp;
    unsigned int length;
    const char* bytes;
  } cases[] = {
      {0x0, 1, "00"},
      {0x7F, 1, "7F"},
      {0x80, 2, "C2 80"},
      {0x7FF, 2, "DF BF"},
      {0x800, 3, "E0 A0 80"},
      {0xFFFF, 3, "EF BF BF"},
      {0x10000, 4, "F0 90 80 80"},
      {0x10FFFF, 4, "F4 8F BF BF"},
      {0x110000, 0, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf8_length(c.cp), c.length) << std::hex << c.cp;
    unsigned char buf[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(utf8_encode(buf, 4, c.cp), c.length) << std::hex << c.cp;
    EXPECT_EQ(ToHex(Bytes(buf, buf + c.length)), c.bytes) << std::hex << c.cp;
  }
  // A short buffer gets the leading bytes and the full length is still returned.
  unsigned char two[3] = {0, 0, 0xEE};
  EXPECT_EQ(utf8_encode(two, 2, 0x20AC), 3u);
  EXPECT_EQ(ToHex(Bytes(two, two + 3)), "E2 82 EE");
}

TEST(Utf8Helpers, Decode) {
  struct Case {
    const char* in;
    unsigned int used;
    std::uint32_t cp;
  } cases[] = {
      {"", 0, 0},
      {"41 42", 1, 0x41},
      {"C3 A9 41", 2, 0xE9},
      {"F0 9F 98 80", 4, 0x1F600},
      {"E2 82", 2, 0},          // cut short: all of it, no character yet
      {"C0 AF", 1, 0xFFFD},     // overlong
      {"E0 80 AF", 1, 0xFFFD},  // overlong
      {"ED A0 80", 1, 0xFFFD},  // surrogate
      {"E2 82 41", 2, 0xFFFD},  // bad trail byte: the ill-formed part is two bytes
      {"A9", 1, 0xFFFD},        // stray trail byte
  };
  for (const Case& c : cases) {
    const Bytes in = Hex(c.in);
    std::uint32_t cp = 0x12345;
    EXPECT_EQ(utf8_decode(nullptr, in.data(), static_cast<unsigned int>(in.size()), &cp),
              c.used)
        << c.in;
    EXPECT_EQ(cp, c.cp) << c.in;
  }
}

}  // namespace
