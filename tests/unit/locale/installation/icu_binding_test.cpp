// The Unicode library binding over installations laid out by the tests: the stand-bys
// of an absent library, the mismatch flag of an incomplete one, and the search through
// the installation root.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <typeinfo>

#include "converter_fixture.h"
#include "utils/locale/converters_internal.h"
#include "utils/locale/uticu.h"

namespace {

// An empty directory: no library and no data file is found there.
class EmptyDir {
 public:
  // One level inside a fresh temporary directory, since the parent of a root is
  // searched too.
  EmptyDir() {
    char templ[] = "/tmp/vq_locale_empty_XXXXXX";
    parent_ = mkdtemp(templ);
    path_ = parent_ + "/root";
    mkdir(path_.c_str(), 0700);
  }
  ~EmptyDir() {
    rmdir(path_.c_str());
    rmdir(parent_.c_str());
  }
  const char* path() const { return path_.c_str(); }

 private:
  std::string parent_;
  std::string path_;
};

TEST(UTICUInstallation, StandbysAnswerWhenTheLibraryIsAbsent) {
  EmptyDir empty;
  ScopedInstallation installation(empty.path());
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

TEST(UTICUInstallation, RegistryWithoutTheLibraryFallsBackToItsOwnConverters) {
  EmptyDir empty;
  ScopedInstallation installation(empty.path());
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
  // A single-byte pair without the table file (the empty directory has none) goes
  // through the sets' own maps, both of them built in.
  CharsetConverter pair(&locale, Charset("ISO-8859-1"), Charset("windows-1252"));
  EXPECT_TRUE(pair.valid());
  o = ConvertAll(pair, Hex("41 E9 80"));
  EXPECT_EQ(ToHex(o.out), "41 E9 1A");  // no euro sign in ISO-8859-1
  EXPECT_EQ(o.status, kConvUnmappedChar);
}

TEST(UTICUInstallation, FoundThroughTheInstallationRoot) {
  // The build directory is laid out as an installation: the library sits in bin64/.
  const std::string lib_dir = VQ_TEST_LIB_DIR;
  const std::string root = lib_dir.substr(0, lib_dir.rfind('/'));
  {
    ScopedInstallation installation(root.c_str());
    UTICU icu;
    EXPECT_TRUE(icu.loaded());
    EXPECT_FALSE(icu.mismatch());
  }
  // This program sits outside the installation: without a root nothing places it.
  {
    ScopedInstallation installation(nullptr);
    UTICU icu;
    EXPECT_FALSE(icu.loaded());
  }
}

TEST(UTICUInstallation, MissingEntryPointSetsTheMismatchFlag) {
  ScopedInstallation installation(VQ_TEST_PARTIAL_ICU_DIR);
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

}  // namespace
