#include "utils/locale/lang_string.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "config/conn_string.h"
#include "config/key_value_parser.h"
#include "resource_fixture.h"
#include "scoped_env.h"
#include "utils/locale/utlocale.h"

namespace {

const CharsetInfo* Charset(const char* label) {
  return UTLocale::GetCharsetInfoFromLabel(label, kSchemeAll);
}

// A catalog over the build's generated files (English and German).
class Catalog : public ::testing::Test {
 protected:
  std::string Text(UTLangStringBase& s, unsigned long id) {
    char buf[512];
    unsigned int n = s.GetString(id, buf, sizeof buf);
    EXPECT_EQ(std::strlen(buf), n);
    return buf;
  }

  ScopedEnv env_;
  UTLocale locale_;
};

TEST_F(Catalog, EnglishAlone) {
  UTLangString s(&locale_);
  ASSERT_EQ(LS_INIT_SUCCESS, s.Init("en", Charset("UTF-8"), 0));
  EXPECT_EQ(1, s.file_count());
  EXPECT_EQ(UTLocale::GetLanguageInfoFromLabel("en"), s.language());
  EXPECT_EQ("No such file or directory (%1)", Text(s, 5031));
  EXPECT_EQ(LS_INIT_SUCCESS, s.Init("de", nullptr, 0));  // already initialised
  EXPECT_EQ(1, s.file_count());
  char path[4097];
  ASSERT_EQ(1, s.GetResourcePath(path, sizeof path));
  // Found beside the test program, through "../res/".
  char* found = realpath(path, nullptr);
  char* expected = realpath(VQ_TEST_RES_DIR "/vqlgen12.res", nullptr);
  ASSERT_NE(found, nullptr) << path;
  ASSERT_NE(expected, nullptr);
  EXPECT_STREQ(expected, found);
  std::free(found);
  std::free(expected);
  s.Fini();
  EXPECT_FALSE(s.initialised());
  EXPECT_EQ(0, s.file_count());
  EXPECT_EQ("", Text(s, 5031));
  EXPECT_EQ(0, s.GetResourcePath(path, sizeof path));
  EXPECT_STREQ("", path);
}

TEST_F(Catalog, UsersLanguageFirstThenEnglish) {
  UTLangString s(&locale_);
  ASSERT_EQ(LS_INIT_SUCCESS, s.Init("German", Charset("UTF-8"), 0));
  EXPECT_EQ(2, s.file_count());
  EXPECT_EQ(UTLocale::GetLanguageInfoFromLabel("de"), s.language());
  EXPECT_EQ("Datei oder Verzeichnis nicht gefunden (%1)", Text(s, 5031));
  EXPECT_EQ("Input/output error (%1)", Text(s, 5026));  // not translated
  char buf[128];
  EXPECT_STREQ("Datei oder Verzeichnis nicht gefunden (2)", s.Strerror(2, buf, sizeof buf));
  EXPECT_STREQ("Input/output error (5)", s.Strerror(5, buf, sizeof buf));
  s.FormatMiscLangStr(6624, buf, sizeof buf);
  EXPECT_STREQ("M\xC3\xA4rz", buf);
}

TEST_F(Catalog, LanguageFromTheEnvironment) {
  env_.Set("VCLANG", "de");
  UTLocale locale;
  UTLangString s(&locale);
  ASSERT_EQ(LS_INIT_SUCCESS, s.Init(nullptr, Charset("UTF-8"), 0));
  EXPECT_EQ(UTLocale::GetLanguageInfoFromLabel("de"), s.language());
}

TEST_F(Catalog, MessagesWithoutText) {
  UTLangString s(&locale_);
  ASSERT_EQ(LS_INIT_SUCCESS, s.Init("en", Charset("UTF-8"), 0));
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(0u, s.FormatMiscLangStr(1, buf, sizeof buf, "a"));
  EXPECT_EQ(0, std::memcmp(buf, "\0\0xx", 4));
  EXPECT_EQ(0u, s.GetString(1, buf, sizeof buf));
  EXPECT_EQ(0u, s.ArrayFormatMiscLangStr(1, buf, sizeof buf, nullptr));
  EXPECT_EQ(0u, s.SQLFormatMiscLangStr(1, buf, sizeof buf, "a", 2));
  EXPECT_EQ(0u, s.FormatMiscLangStr(5031, buf, 0, "a"));
}

TEST_F(Catalog, ErrorTexts) {
  UTLangString s(&locale_);
  ASSERT_EQ(LS_INIT_SUCCESS, s.Init("en", Charset("UTF-8"), 0));
  char buf[128];
  EXPECT_STREQ("No such file or directory (2)", s.Strerror(2, buf, sizeof buf));
  EXPECT_STREQ("Unknown error (99)", s.Strerror(99, buf, sizeof buf));
  EXPECT_STREQ("Resource temporarily unavailable (11)", s.Strerror(11, buf, sizeof buf));
  EXPECT_STREQ("No ", s.Strerror(2, buf, 4));

  struct Case {
    UTErrorCode code;
    const char* text;
  };
  const Case cases[] = {
      {{0, 13}, "Permission denied (13)"},
      {{1, 0}, "Success"},
      {{1, -29994}, "Connection set-up failed: arg"},
      {{1, -29968}, "Unknown error (-29968)"},  // no message of its own
      {{1, -1}, "Unknown error (-1)"},
      {{2, 13}, ""},
  };
  for (const Case& c : cases) {
    unsigned int n = s.FormatErrorMessage(c.code, buf, sizeof buf, "arg");
    EXPECT_STREQ(c.text, buf) << c.code.kind << "/" << c.code.code;
    EXPECT_EQ(std::strlen(c.text), n);
  }

  const std::pair<int, const char*> conv[] = {
      {1, "Character conversion error 1: illegal character sequence"},
      {2, "Character conversion error 2: character has no mapping in the target character set"},
      {3, "Character conversion error 3"},
      {7, "Character conversion error 7: the converter cannot be created"},
  };
  for (const auto& [code, text] : conv) {
    s.GetVSRConvRetString(code, buf, sizeof buf);
    EXPECT_STREQ(text, buf);
  }
}

TEST_F(Catalog, ArrayAndBlockFormsLookUpTheirPattern) {
  UTLangString s(&locale_);
  ASSERT_EQ(LS_INIT_SUCCESS, s.Init("en", Charset("UTF-8"), 0));
  char buf[128];
  const char* args[] = {"ab", "cd", nullptr};
  s.ArrayFormatMiscLangStr(14994, buf, sizeof buf, args);
  EXPECT_STREQ("Kerberos error in ab: cd", buf);
  s.SQLFormatMiscLangStr(14994, buf, sizeof buf, "x\0y\0", 4);
  EXPECT_STREQ("Kerberos error in x: y", buf);
}

// A client charset with 2-byte units gets UTF-16, terminated by a zero unit and cut at
// a whole unit.
TEST_F(Catalog, Utf16ClientGetsUtf16) {
  UTLangString s(&locale_);
  ASSERT_EQ(LS_INIT_SUCCESS, s.Init("de", Charset("UTF-16LE"), 0));
  auto utf16 = [](const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) {
      bytes += static_cast<char>(c & 0xFF);
      bytes += static_cast<char>(c >> 8);
    }
    return bytes;
  };
  char buf[128];
  std::memset(buf, 'x', sizeof buf);
  unsigned int n = s.FormatMiscLangStr(5031, buf, sizeof buf, "2");
  std::string want = utf16(u"Datei oder Verzeichnis nicht gefunden (2)");
  ASSERT_EQ(want.size(), n);
  EXPECT_EQ(want, std::string(buf, n));
  EXPECT_EQ(0, std::memcmp(buf + n, "\0\0", 2));

  n = s.FormatMiscLangStr(6624, buf, sizeof buf);  // März: one character beyond ASCII
  EXPECT_EQ(utf16(u"M\u00e4rz"), std::string(buf, n));

  for (unsigned int size : {3u, 4u, 7u, 8u}) {
    std::memset(buf, 'x', sizeof buf);
    n = s.FormatMiscLangStr(5031, buf, size, "2");
    EXPECT_EQ(0u, n % 2) << size;
    EXPECT_LE(n + 2, size) << size;
    EXPECT_EQ(want.substr(0, n), std::string(buf, n)) << size;
    EXPECT_EQ(0, std::memcmp(buf + n, "\0\0", 2)) << size;
    EXPECT_EQ('x', buf[size]) << size;
  }
  n = s.GetString(5031, buf, sizeof buf);
  EXPECT_EQ(utf16(u"Datei oder Verzeichnis nicht gefunden (%1)"), std::string(buf, n));
  EXPECT_EQ(0, std::memcmp(buf + n, "\0\0", 2));
}

// A single-byte client gets the file's UTF-8 texts and UTF-8 arguments in its own bytes
// (the conversion goes through the Unicode library found beside the libraries).
TEST_F(Catalog, SingleByteClientGetsItsOwnBytes) {
  UTLocale locale;
  UTLangString s(&locale);
  ASSERT_EQ(LS_INIT_SUCCESS, s.Init("de", Charset("ISO_8859-1:1987"), 0));
  char buf[64];
  unsigned int n = s.FormatMiscLangStr(6624, buf, sizeof buf);
  EXPECT_EQ(std::string("M\xE4rz"), std::string(buf, n));
  EXPECT_EQ(4u, s.GetString(6624, buf, sizeof buf));
  EXPECT_STREQ("M\xE4rz", buf);
  EXPECT_EQ(2u, s.GetString(6624, buf, 3));
  EXPECT_STREQ("M\xE4", buf);

  // Without an argument charset the argument's bytes are copied; with one they are
  // converted, and a converted argument that does not fit whole is cut.
  const char* arg =
      "Gr\xC3\xB6\xC3\x9F"
      "e";
  s.FormatMiscLangStr(7944, buf, sizeof buf, arg);
  EXPECT_STREQ(
      "Unbekannter Verbindungsparameter: Gr\xC3\xB6\xC3\x9F"
      "e",
      buf);
  s.set_argument_charset(Charset("UTF-8"));
  s.reset();
  s.FormatMiscLangStr(7944, buf, sizeof buf, arg);
  EXPECT_STREQ(
      "Unbekannter Verbindungsparameter: Gr\xF6\xDF"
      "e",
      buf);
  s.FormatMiscLangStr(7944, buf, 38, arg);
  EXPECT_STREQ("Unbekannter Verbindungsparameter: Gr", buf);
}

// A per-connection catalog shares the environment's files.
TEST_F(Catalog, ConnectionCatalogSharesTheFiles) {
  UTLangString env(&locale_);
  ASSERT_EQ(LS_INIT_SUCCESS, env.Init("de", Charset("UTF-8"), 0));
  UTLangStringBase conn(&locale_);
  UTResFile* files[UTLangStringBase::kMaxFiles];
  for (int i = 0; i < env.file_count(); ++i) files[i] = env.files()[i];
  conn.set_client_charset(Charset("UTF-8"));
  conn.SetResFiles(files, env.file_count());
  EXPECT_EQ(2, conn.file_count());
  EXPECT_EQ("Datei oder Verzeichnis nicht gefunden (%1)", Text(conn, 5031));
  conn.SetResFiles(files, 99);  // more than 4 is taken as 4
  EXPECT_EQ(UTLangStringBase::kMaxFiles, conn.file_count());
  conn.SetResFiles(files, -1);
  EXPECT_EQ(0, conn.file_count());
  EXPECT_EQ(1, conn.AppendResFile(files[0]));
  EXPECT_EQ(1, conn.AppendResFile(files[1]));
  EXPECT_EQ(1, conn.AppendResFile(files[1]));
  EXPECT_EQ(0, conn.AppendResFile(files[1]));
  EXPECT_EQ(3, conn.file_count());
}

// Connection-string parse errors are worded by the catalog passed to GetParseErrorInfo
// once a catalog has been initialised; without a catalog (or one that was never
// initialised) the parser's built-in English text stands in.
TEST_F(Catalog, ParseErrorsWordedByTheCatalog) {
  a_string_parms parms = {};
  ASSERT_EQ(ParseEngString("UID=a;Foo=1", &parms), kParseUnknownKey);
  UTLangString idle(&locale_);  // never initialised: no texts
  UTLangString s(&locale_);
  ASSERT_EQ(LS_INIT_SUCCESS, s.Init("en", Charset("UTF-8"), 0));
  struct Case {
    UTLangStringBase* strings;
    int code;
    const char* text;
  } cases[] = {
      {&s, kParseUnknownKey, "Unknown connection parameter: Foo"},
      {&s, kParseNoMemory, "Out of memory while parsing the connection string"},
      {nullptr, kParseUnknownKey, "Unknown connection parameter 'Foo'"},
      {&idle, kParseUnknownKey, "Unknown connection parameter 'Foo'"},
  };
  for (const Case& c : cases) {
    char message[128] = "stale";
    GetParseErrorInfo(c.code, &parms, c.strings, message, sizeof message);
    EXPECT_STREQ(message, c.text);
  }
  char untouched[16] = "untouched";
  GetParseErrorInfo(kParseOk, &parms, &s, untouched, sizeof untouched);
  EXPECT_STREQ(untouched, "untouched");
  char tiny[8];
  GetParseErrorInfo(kParseUnknownKey, &parms, &s, tiny, sizeof tiny);
  EXPECT_STREQ(tiny, "Unknown");
  FreeStringParms(&parms);
}

TEST(InitErrorText, BuiltInTextsNameTheFiles) {
  ScopedEnv env;
  struct Case {
    ls_init_return code;
    const char* language;
    unsigned int variant;
    const char* text;
  };
  const Case cases[] = {
      {LS_INIT_NOT_FOUND, "en", 0, "Cannot find the language resource file (vqlgen12.res)."},
      {LS_INIT_VARIANT_NOT_FOUND, "en", 1,
       "Cannot find the language resource file (vqlgen_bw12.res)."},
      {LS_INIT_LOAD_ERROR, "de", 0,
       "An error occurred loading the language resource file (vqlgde12_utf8.res, "
       "vqlgen12.res)."},
      {LS_INIT_VERSION_MISMATCH, "English", 0,
       "Language resource file (vqlgen12.res) version mismatch."},
      {LS_INIT_VCLOCALE_ERROR, "en", 0,
       "An error occurred parsing the VCLOCALE environment variable."},
      {LS_INIT_VARIANT_LOAD_ERROR, "no-such-language", 0,
       "An error occurred loading the language resource file (vqlgen12.res)."},
      {LS_INIT_SUCCESS, "en", 0, ""},
  };
  for (const Case& c : cases) {
    char buf[256];
    EXPECT_STREQ(c.text, UTLangStringBase::GetInitErrorStr(c.code, buf, sizeof buf, c.language,
                                                           c.variant));
  }
  char small[11];
  UTLangStringBase::GetInitErrorStr(LS_INIT_NOT_FOUND, small, sizeof small, "en", 0);
  EXPECT_STREQ("Cannot fin", small);
  env.Set("VCLANG", "de");
  char buf[256];
  UTLangStringBase::GetInitErrorStr(LS_INIT_NOT_FOUND, buf, sizeof buf, nullptr, 0);
  EXPECT_STREQ("Cannot find the language resource file (vqlgde12_utf8.res, vqlgen12.res).",
               buf);
}

}  // namespace
