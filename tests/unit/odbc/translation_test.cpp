// The connection's translation library: which name is loaded (the attribute before the
// connection attribute, never a cut name), the translation option, both directions of
// the test library on data in place, a refusal with the library's text, libraries that
// cannot be used, and the unload.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>

#include "api_fixture.h"
#include "odbc/connect.h"
#include "odbc/translation.h"
#include "utils/base/memory.h"

namespace {

char* Owned(const char* text) {
  return static_cast<char*>(ut_memdup(text, std::strlen(text) + 1));
}

// Whether the test library is in the process now (RTLD_NOLOAD loads nothing).
bool TestLibraryLoaded() {
  void* h = dlopen(VQ_TEST_TRANSLATION_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (h == nullptr) return false;
  dlclose(h);
  return true;
}

class Translation : public ApiFixture {
 protected:
  void TearDown() override {
    ApiFixture::TearDown();
    EXPECT_FALSE(TestLibraryLoaded());  // the connection's free unloaded what was left
  }
  void SetAttr(int slot, const char* text) {
    ut_free(Dbc()->attrs[slot].text);
    Dbc()->attrs[slot].text = Owned(text);
    Dbc()->attrs[slot].source = kAttrFromApp;
  }
  std::string LastDiagText() {
    SQLCHAR state[6] = {}, text[256] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, state, &native, text, sizeof text,
                                     &length))) {
      return "";
    }
    return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text);
  }
};

TEST_F(Translation, NoLibraryNamedLeavesTextUnchanged) {
  EXPECT_EQ(InitTranslation(Dbc()), 1);
  EXPECT_EQ(Dbc()->translate_module, nullptr);
  char text[] = "Mixed Case";
  SQLINTEGER out = -1;
  EXPECT_EQ(TranslateToDataSource(Dbc(), SQL_CHAR, text, 10, &out), SQL_SUCCESS);
  EXPECT_EQ(TranslateToDriver(Dbc(), SQL_CHAR, text, 10, &out), SQL_SUCCESS);
  EXPECT_STREQ(text, "Mixed Case");
  EXPECT_EQ(out, 10);
}

TEST_F(Translation, TheLibraryTranslatesBothWaysInPlaceAndIsUnloaded) {
  SetAttr(kSlotTranslationDLL, VQ_TEST_TRANSLATION_PATH);
  SetAttr(kSlotTranslationOption, "42");
  ASSERT_EQ(InitTranslation(Dbc()), 1);
  ASSERT_NE(Dbc()->translate_module, nullptr);
  EXPECT_TRUE(TestLibraryLoaded());
  EXPECT_EQ(Option(Dbc(), SQL_ATTR_TRANSLATE_OPTION), 42u);

  // Only the given bytes are translated; the byte after them is not touched.
  char text[] = "Mixed Case!";
  SQLINTEGER out = -1;
  EXPECT_EQ(TranslateToDataSource(Dbc(), SQL_VARCHAR, text, 10, &out), SQL_SUCCESS);
  EXPECT_STREQ(text, "MIXED CASE!");
  EXPECT_EQ(out, 10);
  EXPECT_EQ(TranslateToDriver(Dbc(), SQL_CHAR, text, 5, &out), SQL_SUCCESS);
  EXPECT_STREQ(text, "mixed CASE!");
  EXPECT_EQ(out, 5);
  // The library saw the option and the SQL type.
  void* lib = dlopen(VQ_TEST_TRANSLATION_PATH, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(*static_cast<unsigned*>(dlsym(lib, "vq_test_translation_last_option")), 42u);
  EXPECT_EQ(*static_cast<short*>(dlsym(lib, "vq_test_translation_last_type")), SQL_CHAR);
  dlclose(lib);

  FiniTranslation(Dbc());
  EXPECT_EQ(Dbc()->translate_module, nullptr);
  EXPECT_FALSE(TestLibraryLoaded());
  char again[] = "abc";
  EXPECT_EQ(TranslateToDataSource(Dbc(), SQL_CHAR, again, 3, &out), SQL_SUCCESS);
  EXPECT_STREQ(again, "abc");
}

TEST_F(Translation, TheAttributeWinsAndAnOptionAlreadySetStays) {
  SetAttr(kSlotTranslationDLL, "libno_such_translation_library.so");
  SetAttr(kSlotTranslationOption, "42");
  ASSERT_EQ(Set_string_option(Dbc(), SQL_ATTR_TRANSLATE_LIB, VQ_TEST_TRANSLATION_PATH, SQL_NTS),
            0);
  ASSERT_EQ(Set_option(Dbc(), SQL_ATTR_TRANSLATE_OPTION, 3), 0);
  ASSERT_EQ(InitTranslation(Dbc()), 1);
  EXPECT_NE(Dbc()->translate_module, nullptr);
  EXPECT_EQ(Option(Dbc(), SQL_ATTR_TRANSLATE_OPTION), 3u);
  // A second load unloads the first: one reference to the library, gone after Fini.
  ASSERT_EQ(InitTranslation(Dbc()), 1);
  FiniTranslation(Dbc());
  EXPECT_FALSE(TestLibraryLoaded());
}

TEST_F(Translation, ARefusalCarriesTheLibrarysText) {
  SetAttr(kSlotTranslationDLL, VQ_TEST_TRANSLATION_PATH);
  SetAttr(kSlotTranslationOption, "7");  // the test library refuses option 7
  ASSERT_EQ(InitTranslation(Dbc()), 1);
  char text[] = "abc";
  SQLINTEGER out = 0;
  EXPECT_EQ(TranslateToDataSource(Dbc(), SQL_CHAR, text, 3, &out), SQL_ERROR);
  const std::string diag = LastDiagText();
  EXPECT_EQ(diag.substr(0, 6), "HY000 ");
  EXPECT_NE(diag.find("option 7 refused"), std::string::npos) << diag;
}

TEST_F(Translation, UnusableLibrariesLeaveNothingLoaded) {
  const std::string too_long(300, 'x');
  struct Case {
    const char* what;
    std::string name;
    const char* option_text;  // TranslationOption, or null
  };
  const Case cases[] = {
      {"missing", "libno_such_translation_library.so", nullptr},
      {"without the two functions", "libm.so.6", nullptr},
      {"a name beyond 255 characters is never cut", too_long, nullptr},
  };
  for (const Case& c : cases) {
    SetAttr(kSlotTranslationDLL, c.name.c_str());
    EXPECT_EQ(InitTranslation(Dbc()), 0) << c.what;
    EXPECT_EQ(Dbc()->translate_module, nullptr) << c.what;
    EXPECT_EQ(Dbc()->driver_to_data_source, nullptr) << c.what;
  }
  // An option too long for the attribute is refused the same way.
  const std::string long_path = std::string(VQ_TEST_TRANSLATION_PATH) + std::string(300, '/');
  ASSERT_EQ(Set_string_option(Dbc(), SQL_ATTR_TRANSLATE_LIB, long_path.c_str(), SQL_NTS), 0);
  EXPECT_EQ(InitTranslation(Dbc()), 0);
  EXPECT_FALSE(TestLibraryLoaded());
}

TEST_F(Translation, TheOptionTextIsReadAsADecimalNumberClamped) {
  SetAttr(kSlotTranslationDLL, VQ_TEST_TRANSLATION_PATH);
  for (const auto& [text, value] : {std::pair<const char*, SQLULEN>{"12abc", 12},
                                    {"x", 0},
                                    {"99999999999999", 4294967295u}}) {
    tagOPTION* entry = FindOption(Dbc(), SQL_ATTR_TRANSLATE_OPTION, false);
    if (entry != nullptr) entry->id = -1;  // as never set
    SetAttr(kSlotTranslationOption, text);
    ASSERT_EQ(InitTranslation(Dbc()), 1) << text;
    EXPECT_EQ(Option(Dbc(), SQL_ATTR_TRANSLATE_OPTION), value) << text;
  }
  // Left loaded: the free unloads it (checked in TearDown).
}

}  // namespace
