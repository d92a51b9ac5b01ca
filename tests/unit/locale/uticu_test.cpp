// The Unicode library binding: entry points bound by name from the build's library, and
// the converters over it.
#include "utils/locale/uticu.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <typeinfo>

#include "converter_fixture.h"
#include "utils/locale/converters_internal.h"

namespace {

TEST(UTICUBinding, BindsEveryEntryByNameFromTheLibrary) {
  // Found beside this program (the build's bin64/) with no installation root set.
  ScopedInstallation installation(nullptr);
  UTICU icu;
  ASSERT_TRUE(icu.loaded());
  EXPECT_FALSE(icu.mismatch());
  const std::string path = std::string(VQ_TEST_LIB_DIR) + "/libvqicu12_r.so";
  void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(lib, nullptr);
  for (int i = 0; i < UTICU::kNumEntries; ++i) {
    void* expected = dlsym(lib, UTICU::kEntryNames[i]);
    ASSERT_NE(expected, nullptr) << UTICU::kEntryNames[i];
    EXPECT_EQ(icu.entry(i), expected) << UTICU::kEntryNames[i];
  }
  dlclose(lib);
  EXPECT_GT(icu.VSRGetICUDataset(), 1);
  vqicu_status status = 0;
  vqicu_converter* cnv = icu.ucnv_open("ibm-943_P15A-2003", &status);
  EXPECT_NE(cnv, nullptr);
  icu.ucnv_close(cnv);
}

// ---- Converters over the library ---------------------------------------------------------

class ICUConverterTest : public RegistryTest {};

TEST_F(ICUConverterTest, LibraryIsSupported) {
  EXPECT_TRUE(locale()->ICUIsSupported());
  EXPECT_FALSE(locale()->ICUVersionMismatch());
}

TEST_F(ICUConverterTest, UnassignedCharacterIsSubstitutedOrStops) {
  // Straight through the library's converter: the front object takes the built-in
  // reverse map for a single-byte set.
  const CharsetInfo* latin1 = Charset("ISO-8859-1");
  FromUTF16ICUCharsetConverter conv(locale(), latin1, locale()->utf16le_charset());
  ASSERT_TRUE(conv.valid());
  EXPECT_TRUE(conv.support_reporting());
  const Bytes in = U16({0x41, 0x3042, 0x42, 0x4E00});
  Outcome o = ConvertAll(conv, in);
  EXPECT_EQ(o.result, kConvDone);
  EXPECT_EQ(ToHex(o.out), "41 1A 42 1A");
  EXPECT_EQ(o.status, kConvUnmappedChar | kConvIllegalSequence);
  o = ConvertAll(conv, in, kConvUnmappedChar);
  EXPECT_EQ(o.result, kConvUnmapped);
  EXPECT_EQ(ToHex(o.out), "41");
  EXPECT_EQ(o.status, kConvUnmappedChar);
}

TEST_F(ICUConverterTest, IllegalInputIsReported) {
  const CharsetInfo* sjis = Charset("Shift_JIS");
  CharsetConverter conv(locale(), locale()->utf16le_charset(), sjis);
  ASSERT_EQ(typeid(*conv.impl()), typeid(ToUTF16ICUCharsetConverter));
  // 0x82 0x20: a lead byte with an impossible trail byte.
  Outcome o = ConvertAll(conv, Hex("41 82 20 42"));
  EXPECT_NE(o.status & kConvIllegalSequence, 0u);
  ASSERT_GE(o.out.size(), 2u);
  EXPECT_EQ(Bytes(o.out.begin(), o.out.begin() + 2), U16({0x41}));
  o = ConvertAll(conv, Hex("41 82 20 42"), kConvIllegalSequence);
  EXPECT_EQ(o.result, kConvIllegal);
  EXPECT_EQ(o.out, U16({0x41}));
  // A lead byte at the end of the final input.
  o = ConvertAll(conv, Hex("41 82"));
  EXPECT_NE(o.status & (kConvIncompleteInput | kConvIllegalSequence), 0u);
  EXPECT_EQ(ConvertAll(conv, Hex("41 82"), kConvIncompleteInput).result, kConvIncomplete);
}

TEST_F(ICUConverterTest, CloseEndsTheConverter) {
  CharsetConverter conv(locale(), locale()->utf16le_charset(), Charset("EUC-JP"));
  ASSERT_TRUE(conv.valid());
  conv.close();
  EXPECT_FALSE(conv.valid());
  unsigned char out[8];
  unsigned int written = 0;
  const unsigned char in[] = {0x41};
  EXPECT_EQ(conv.Convert(out, sizeof out, &written, in, 1), kConvFailed);
  // A closed converter is rebuilt by SetEncodings for the same pair.
  EXPECT_EQ(conv.SetEncodings(locale()->utf16le_charset(), Charset("EUC-JP")), 1);
  EXPECT_EQ(conv.Convert(out, sizeof out, &written, in, 1), kConvDone);
  EXPECT_EQ(Bytes(out, out + written), U16({0x41}));
}

TEST_F(ICUConverterTest, GeneratesSingleByteTables) {
  unsigned char out[128];
  // ISO-8859-1 into windows-1252: the same bytes where both have the character.
  ASSERT_TRUE(
      locale()->icu_generate_upper128(out, Charset("windows-1252"), Charset("ISO-8859-1")));
  EXPECT_EQ(out[0xE9 - 0x80], 0xE9);
  // An upper-half character that becomes two target bytes: no table.
  EXPECT_FALSE(
      locale()->icu_generate_upper128(out, Charset("Windows-31J"), Charset("ISO-8859-1")));
  EXPECT_FALSE(locale()->icu_generate_upper128(out, nullptr, Charset("ISO-8859-1")));
}

}  // namespace
