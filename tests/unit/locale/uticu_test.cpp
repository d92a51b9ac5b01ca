// The Unicode library binding: entry points bound by name, the stand-bys of an absent
// library, the mismatch flag of an incomplete one, and the converters over it.
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

// An empty directory: no library and no data file is found there.
class EmptyDir {
 public:
  EmptyDir() {
    char templ[] = "/tmp/vq_locale_empty_XXXXXX";
    path_ = mkdtemp(templ);
  }
  ~EmptyDir() { rmdir(path_.c_str()); }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

TEST(UTICUBinding, BindsEveryEntryByNameFromTheLibrary) {
  ScopedSearchPath search(VQ_TEST_LIB_DIR);
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

TEST(UTICUBinding, StandbysAnswerWhenTheLibraryIsAbsent) {
  EmptyDir empty;
  ScopedSearchPath search(empty.path());
  UTICU icu;
  EXPECT_FALSE(icu.loaded());
  EXPECT_FALSE(icu.mismatch());
  for (int i = 0; i < UTICU::kNumEntries; ++i) {
    EXPECT_NE(icu.entry(i), nullptr) << UTICU::kEntryNames[i];
  }
  vqicu_status status = 0;
  EXPECT_EQ(icu.ucnv_open("UTF-8", &status), nullptr);
  EXPECT_EQ(status, VQICU_MISSING_RESOURCE_ERROR);
  status = 0;
  EXPECT_EQ(icu.ucol_open("en", &status), nullptr);
  EXPECT_EQ(status, VQICU_MISSING_RESOURCE_ERROR);
  status = 0;
  EXPECT_EQ(icu.VSR_ucol_open("en", &status, nullptr), nullptr);
  EXPECT_EQ(status, VQICU_MISSING_RESOURCE_ERROR);
  const vqicu_uchar a[] = {'a'};
  EXPECT_EQ(icu.ucol_strcoll(nullptr, a, 1, a, 1), -1);
  EXPECT_EQ(icu.VSR_ucol_strcoll_sbcs(nullptr, a, "a", 1, "a", 1), -1);
  status = 0;
  EXPECT_EQ(icu.ucol_strcollIter(nullptr, nullptr, nullptr, &status), -1);
  EXPECT_EQ(status, VQICU_MISSING_RESOURCE_ERROR);
  vqicu_uchar out[4];
  status = 0;
  EXPECT_EQ(icu.u_strToUpper(out, 4, a, 1, "", &status), 0);
  EXPECT_EQ(status, VQICU_MISSING_RESOURCE_ERROR);
  status = 0;
  EXPECT_EQ(icu.u_strToLower(out, 4, a, 1, "", &status), 0);
  EXPECT_EQ(status, VQICU_MISSING_RESOURCE_ERROR);
  status = 0;
  EXPECT_EQ(icu.VSR_strToUpper(nullptr, nullptr, nullptr, nullptr, "", &status), 0);
  EXPECT_EQ(status, VQICU_MISSING_RESOURCE_ERROR);
  char name[8];
  status = 0;
  EXPECT_EQ(icu.uloc_canonicalize("en", name, 8, &status), 0);
  EXPECT_EQ(status, VQICU_MISSING_RESOURCE_ERROR);
  std::uint8_t key[8];
  status = 0;
  EXPECT_EQ(icu.VSR_ucol_getSortKeyPrefixUTF8(nullptr, "a", 1, key, 8, 1, &status), 0);
  EXPECT_EQ(status, VQICU_MISSING_RESOURCE_ERROR);
  status = 0;
  icu.ucol_setAttribute(nullptr, 0, 0, &status);
  EXPECT_EQ(status, VQICU_MISSING_RESOURCE_ERROR);
  status = 0;
  const char* src = "x";
  vqicu_uchar* target = out;
  icu.ucnv_toUnicode(nullptr, &target, out + 4, &src, src + 1, nullptr, 1, &status);
  EXPECT_EQ(status, VQICU_MISSING_RESOURCE_ERROR);
  EXPECT_FALSE(icu.u_isUAlphabetic('a'));
  EXPECT_FALSE(icu.u_isWhitespace(' '));
  EXPECT_FALSE(icu.u_isUWhiteSpace(' '));
  EXPECT_EQ(icu.u_getIntPropertyValue('1', VQICU_NUMERIC_TYPE), 0);
  EXPECT_EQ(icu.VSRGetICUDataset(), 0);
  status = 0;
  const vqicu_uchar* units = a;
  char bytes[4];
  char* byte_target = bytes;
  icu.ucnv_fromUnicode(nullptr, &byte_target, bytes + 4, &units, a + 1, nullptr, 1, &status);
  EXPECT_EQ(status, VQICU_MISSING_RESOURCE_ERROR);
  status = 0;
  EXPECT_EQ(icu.VSR_ucol_getSortKeyPrefix(nullptr, a, 1, key, 8, 1, &status), 0);
  EXPECT_EQ(status, VQICU_MISSING_RESOURCE_ERROR);
  status = 0;
  EXPECT_EQ(icu.VSR_ucol_getSortKeyPrefixSBCS(nullptr, "a", 1, key, 8, a, 1, &status), 0);
  EXPECT_EQ(status, VQICU_MISSING_RESOURCE_ERROR);
  status = 0;
  EXPECT_EQ(icu.VSR_strToLower(nullptr, nullptr, nullptr, nullptr, "", &status), 0);
  EXPECT_EQ(status, VQICU_MISSING_RESOURCE_ERROR);
  // The calls that return nothing take any argument quietly.
  status = 0;
  icu.ucnv_setToUCallBack(nullptr, nullptr, nullptr, nullptr, nullptr, &status);
  icu.ucnv_setFromUCallBack(nullptr, nullptr, nullptr, nullptr, nullptr, &status);
  icu.ucnv_resetFromUnicode(nullptr);
  icu.ucol_close(nullptr);
  icu.VSR_uiter_setFragmentedSBCS(nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr);
  icu.VSR_uiter_setFragmentedUTF8Simple(nullptr, nullptr, 0, 0, nullptr, nullptr);
  icu.ucnv_close(nullptr);
  icu.ucnv_setFallback(nullptr, 1);
  icu.ucnv_resetToUnicode(nullptr);
  icu.ucol_setStrength(nullptr, 0);
  icu.uiter_setUTF8(nullptr, nullptr, 0);
}

TEST(UTICUBinding, RegistryWithoutTheLibraryFallsBackToItsOwnConverters) {
  EmptyDir empty;
  ScopedSearchPath search(empty.path());
  UTLocale locale;
  EXPECT_FALSE(locale.ICUIsSupported());
  EXPECT_FALSE(locale.ICUVersionMismatch());
  ASSERT_NE(locale.icu(), nullptr);
  vqicu_uchar a[] = {'a'};
  EXPECT_EQ(locale.icu()->ucol_strcoll(nullptr, a, 1, a, 1), -1);

  const CharsetInfo* sjis = Charset("Windows-31J");
  ToUTF16ICUCharsetConverter direct(&locale, locale.utf16le_charset(), sjis);
  EXPECT_FALSE(direct.valid());

  // Only the last resort is left for a double-byte set: ASCII kept, the rest
  // substituted and reported, SetEncodings says so.
  CharsetConverter from_sjis(&locale, locale.utf16le_charset(), sjis);
  EXPECT_FALSE(from_sjis.valid());
  EXPECT_EQ(from_sjis.SetEncodings(locale.utf16le_charset(), sjis), 0);
  Outcome o = ConvertAll(from_sjis, Hex("41 82 A0"));
  EXPECT_EQ(o.out, U16({0x41, 0xFFFD, 0xFFFD}));
  EXPECT_EQ(o.status, kConvUnmappedChar);
  EXPECT_EQ(ConvertAll(from_sjis, Hex("41 82"), kConvUnmappedChar).result, kConvUnmapped);

  CharsetConverter to_sjis(&locale, sjis, locale.utf16le_charset());
  EXPECT_EQ(to_sjis.SetEncodings(sjis, locale.utf16le_charset()), 0);
  o = ConvertAll(to_sjis, U16({0x41, 0x3042, 0xD83D, 0xDE00, 0x42}));
  EXPECT_EQ(ToHex(o.out), "41 FC FC FC FC 42");
  EXPECT_EQ(o.status, kConvUnmappedChar);
  o = ConvertAll(to_sjis, U16({0x41, 0xD800, 0x42}), kConvIllegalSequence);
  EXPECT_EQ(o.result, kConvIllegal);
  EXPECT_EQ(ToHex(o.out), "41");

  // The built-in converters need no library at all.
  CharsetConverter utf8(&locale, locale.utf16le_charset(), locale.utf8_charset());
  EXPECT_TRUE(utf8.valid());
  EXPECT_EQ(ConvertAll(utf8, Hex("C3 A9")).out, U16({0xE9}));
  // A single-byte pair still converts through the table file.
  CharsetConverter table(&locale, Charset("ISO-8859-1"), Charset("windows-1252"));
  EXPECT_FALSE(table.valid());  // the empty directory has no table file either
}

TEST(UTICUBinding, FoundThroughTheInstallationDirectory) {
  // Without a test path the library is looked for under $VCDIR/bin64 (and beside the
  // module, which for the test program is not the library directory).
  ScopedSearchPath search(nullptr);
  const std::string lib_dir = VQ_TEST_LIB_DIR;
  const std::string home = lib_dir.substr(0, lib_dir.rfind('/'));
  const char* saved = getenv("VCDIR");
  const std::string saved_value = saved != nullptr ? saved : "";
  setenv("VCDIR", home.c_str(), 1);
  {
    UTICU icu;
    EXPECT_TRUE(icu.loaded());
    EXPECT_FALSE(icu.mismatch());
  }
  // A relative VCDIR is not used: nothing is found relative to the current directory.
  setenv("VCDIR", "build", 1);
  {
    UTICU icu;
    EXPECT_FALSE(icu.loaded());
  }
  if (saved != nullptr) {
    setenv("VCDIR", saved_value.c_str(), 1);
  } else {
    unsetenv("VCDIR");
  }
}

TEST(UTICUBinding, MissingEntryPointSetsTheMismatchFlag) {
  ScopedSearchPath search(VQ_TEST_PARTIAL_ICU_DIR);
  UTICU icu;
  ASSERT_TRUE(icu.loaded());
  EXPECT_TRUE(icu.mismatch());
  // The missing slot holds its stand-by; the bound ones stay usable.
  const vqicu_uchar map[256] = {};
  EXPECT_EQ(icu.VSR_ucol_strcoll_sbcs(nullptr, map, "a", 1, "a", 1), -1);
  EXPECT_EQ(icu.VSRGetICUDataset(), 2);
  EXPECT_TRUE(icu.u_isWhitespace(' '));

  UTLocale locale;
  EXPECT_TRUE(locale.ICUVersionMismatch());
  EXPECT_FALSE(locale.ICUIsSupported());
}

// ---- Converters over the library ---------------------------------------------------------

class ICUConverterTest : public RegistryTest {};

TEST_F(ICUConverterTest, LibraryIsSupported) {
  EXPECT_TRUE(locale()->ICUIsSupported());
  EXPECT_FALSE(locale()->ICUVersionMismatch());
}

TEST_F(ICUConverterTest, UnassignedCharacterIsSubstitutedOrStops) {
  const CharsetInfo* latin1 = Charset("ISO-8859-1");
  CharsetConverter conv(locale(), latin1, locale()->utf16le_charset());
  ASSERT_EQ(typeid(*conv.impl()), typeid(FromUTF16ICUCharsetConverter));
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
