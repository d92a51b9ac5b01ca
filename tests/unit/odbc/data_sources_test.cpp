// Data sources: the list behind SQLDataSources read whole however long, descriptions
// without their quotes, a data source read into the connection's unset slots (also one
// only the system file has, found through the installer library), data sources added,
// changed and removed through SQLConfigDataSource, and SQLGetInstalledDrivers. Every
// file lives in a temporary directory named by ODBCINI and ODBCSYSINI.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../config/ini_store_fixture.h"
#include "api_fixture.h"
#include "config/data_source_profile.h"
#include "odbc/connect.h"
#include "odbc/data_sources.h"
#include "scoped_environment.h"
#include "utils/base/memory.h"

namespace {

using vq_test::ini::ReadAll;
using vq_test::ini::TempDir;
using vq_test::ini::WriteAll;

constexpr char kSentinel = '\x5A';

// The installer library keeps the system directory it found first for the rest of the
// process, so every test of the process shares one (removed at exit).
const std::string& SystemDir() {
  static char made[] = "/tmp/vq_odbcsys_XXXXXX";  // outlives the string, for the exit hook
  static const std::string dir = [] {
    if (mkdtemp(made) == nullptr) return std::string();
    std::atexit([] { std::system((std::string("rm -rf '") + made + "'").c_str()); });
    return std::string(made);
  }();
  return dir;
}

class DataSources : public ApiFixture {
 protected:
  void SetUp() override {
    ASSERT_FALSE(SystemDir().empty());
    env_vars_.Set("ODBCINI", dir_.file("user.ini"));
    env_vars_.Set("ODBCSYSINI", SystemDir());
    env_vars_.Set("HOME", dir_.path());
    env_vars_.Unset("ODBC_INI");
    env_vars_.Unset("ODBCHOME");
    env_vars_.Unset("ODBCSEARCH");
    env_vars_.Unset("VCCONNECT");
    WriteAll(SystemDir() + "/odbc.ini", "");
    WriteAll(SystemDir() + "/odbcinst.ini", "[Vellumcrest 12]\nDriver=/nonexistent/libvqjdbc12.so\n");
    ApiFixture::SetUp();
    ASSERT_TRUE(InstallerLoaded()) << "the installer library is part of the machine's set-up";
  }
  void TearDown() override {
    ApiFixture::TearDown();
    ProfileFini();
  }
  std::string UserFile() const { return dir_.file("user.ini"); }
  std::string SystemFile() const { return SystemDir() + "/odbc.ini"; }

  // Every data source SQLDataSources lists, as name=description, from SQL_FETCH_FIRST on.
  std::vector<std::string> List() {
    std::vector<std::string> out;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
      SQLCHAR name[SQL_MAX_DSN_LENGTH * 4 + 1] = {};
      SQLCHAR description[512] = {};
      SQLSMALLINT name_length = -1, description_length = -1;
      const SQLRETURN rc = SQLDataSources(env_, direction, name, sizeof name, &name_length,
                                          description, sizeof description, &description_length);
      if (rc == SQL_NO_DATA) break;
      EXPECT_EQ(rc, SQL_SUCCESS) << FirstState(SQL_HANDLE_ENV, env_);
      if (rc != SQL_SUCCESS) break;
      EXPECT_EQ(name_length, static_cast<SQLSMALLINT>(std::strlen(reinterpret_cast<char*>(name))));
      out.push_back(std::string(reinterpret_cast<char*>(name)) + "=" +
                    reinterpret_cast<char*>(description));
      direction = SQL_FETCH_NEXT;
    }
    return out;
  }
  // ReadIni on a fresh slot set naming data source `dsn`.
  int ReadInto(const char* dsn) {
    Free_connect_strings(Dbc());
    Dbc()->attrs[kSlotDataSourceName].text =
        static_cast<char*>(ut_memdup(dsn, std::strlen(dsn) + 1));
    Dbc()->attrs[kSlotDataSourceName].source = kAttrFromApp;
    return ReadIni(Dbc());
  }
  const char* Slot(int slot) { return Dbc()->attrs[slot].text; }

  TempDir dir_;
  vq::testing::ScopedEnvironment env_vars_;
};

// The list tests run twice: through the installer library, and through the driver's own
// store as on a machine without the library.
class DataSourceList : public DataSources, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    DataSources::SetUp();
    SetInstallerProfileReading(GetParam());
  }
  void TearDown() override {
    SetInstallerProfileReading(true);
    DataSources::TearDown();
  }
};

TEST_P(DataSourceList, TheListIsReadWholeHoweverLong) {
  std::string text = "[ODBC Data Sources]\n";
  std::vector<std::string> expected;
  for (int i = 0; i < 400; ++i) {
    const std::string name = "source_" + std::to_string(i);
    const std::string description = "description of data source number " + std::to_string(i);
    text += name + "=" + description + "\n";
    expected.push_back(name + "=" + description);
  }
  WriteAll(UserFile(), text);
  EXPECT_EQ(List(), expected);
  // After the end, SQL_FETCH_NEXT stays at the end.
  SQLCHAR name[64];
  SQLSMALLINT length = 0;
  EXPECT_EQ(SQLDataSources(env_, SQL_FETCH_NEXT, name, sizeof name, &length, nullptr, 0, nullptr),
            SQL_NO_DATA);
}

TEST_P(DataSourceList, DescriptionsLoseOnlyMatchingQuotes) {
  WriteAll(UserFile(),
           "[ODBC Data Sources]\n"
           "single='in single quotes'\n"
           "double=\"in double quotes\"\n"
           "lone='\n"
           "mixed='not a pair\"\n"
           "inner=it's fine\n"
           "empty=\n");
  EXPECT_EQ(List(), (std::vector<std::string>{"single=in single quotes", "double=in double quotes",
                                              "lone='", "mixed='not a pair\"",
                                              "inner=it's fine", "empty="}));
}

TEST_P(DataSourceList, FetchFirstRereadsTheFileAndBadDirectionsAreRefused) {
  WriteAll(UserFile(), "[ODBC Data Sources]\none=first\ntwo=second\n");
  SQLCHAR name[64] = {};
  SQLSMALLINT length = 0;
  ASSERT_EQ(SQLDataSources(env_, SQL_FETCH_FIRST, name, sizeof name, &length, nullptr, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "one");
  WriteAll(UserFile(), "[ODBC Data Sources]\nthree=third\n");
  // SQL_FETCH_NEXT goes on through the list already read...
  ASSERT_EQ(SQLDataSources(env_, SQL_FETCH_NEXT, name, sizeof name, &length, nullptr, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "two");
  // ...SQL_FETCH_FIRST takes the file as it is now.
  EXPECT_EQ(List(), std::vector<std::string>{"three=third"});

  for (SQLUSMALLINT direction : {0, 3, SQL_FETCH_FIRST_USER, SQL_FETCH_FIRST_SYSTEM}) {
    EXPECT_EQ(SQLDataSources(env_, direction, name, sizeof name, &length, nullptr, 0, nullptr),
              SQL_ERROR)
        << direction;
    EXPECT_EQ(FirstState(SQL_HANDLE_ENV, env_), "HY103") << direction;
  }
}

TEST_P(DataSourceList, ANameTooLongForItsBufferIsTruncatedWithItsFullLength) {
  WriteAll(UserFile(), "[ODBC Data Sources]\nlongername=its description\n");
  std::vector<char> name(16, kSentinel), description(16, kSentinel);
  SQLSMALLINT name_length = -1, description_length = -1;
  EXPECT_EQ(SQLDataSources(env_, SQL_FETCH_FIRST, reinterpret_cast<SQLCHAR*>(name.data()), 5,
                           &name_length, reinterpret_cast<SQLCHAR*>(description.data()), 4,
                           &description_length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(FirstState(SQL_HANDLE_ENV, env_), "01004");
  EXPECT_STREQ(name.data(), "long");
  EXPECT_EQ(name_length, 10);
  EXPECT_STREQ(description.data(), "its");
  EXPECT_EQ(description_length, 15);
  for (std::size_t i = 5; i < name.size(); ++i) EXPECT_EQ(name[i], kSentinel) << i;
  for (std::size_t i = 4; i < description.size(); ++i) EXPECT_EQ(description[i], kSentinel) << i;
}

TEST_P(DataSourceList, AMissingFileIsAnEmptyList) {
  EXPECT_EQ(List(), std::vector<std::string>{});
  if (!GetParam()) {
    // The driver's own store says why.
    EXPECT_EQ(FirstState(SQL_HANDLE_ENV, env_), "IM002");
  }
}

INSTANTIATE_TEST_SUITE_P(Readers, DataSourceList, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Installer" : "BuiltIn");
                         });

TEST_F(DataSources, ADataSourceFillsOnlyTheUnsetSlots) {
  WriteAll(UserFile(),
           "[mine]\nUID=from_dsn\nServerName=server_from_dsn\nLINKS=tcpip\n"
           "DataSourceName=ignored\n");
  Free_connect_strings(Dbc());
  Dbc()->attrs[kSlotUserID].text = static_cast<char*>(ut_memdup("from_app", 9));
  Dbc()->attrs[kSlotUserID].source = kAttrFromApp;
  Dbc()->attrs[kSlotDataSourceName].text = static_cast<char*>(ut_memdup("mine", 5));
  Dbc()->attrs[kSlotDataSourceName].source = kAttrFromApp;
  ASSERT_EQ(ReadIni(Dbc()), 0);
  EXPECT_STREQ(Slot(kSlotUserID), "from_app");
  EXPECT_EQ(Dbc()->attrs[kSlotUserID].source, kAttrFromApp);
  EXPECT_STREQ(Slot(kSlotServerName), "server_from_dsn");
  EXPECT_EQ(Dbc()->attrs[kSlotServerName].source, kAttrFromDsn);
  EXPECT_STREQ(Slot(kSlotCommLinks), "tcpip");
  EXPECT_STREQ(Slot(kSlotDataSourceName), "mine");
  EXPECT_EQ(Slot(kSlotPassword), nullptr);
}

TEST_F(DataSources, ASystemOnlyDataSourceIsFoundThroughTheInstaller) {
  WriteAll(UserFile(), "[other]\nUID=x\n");
  WriteAll(SystemFile(), "[system_only]\nDriver=Vellumcrest 12\nUID=sys_user\nServerName=sys_srv\n");
  ASSERT_EQ(ReadInto("system_only"), 0) << FirstState(SQL_HANDLE_DBC, dbc_);
  EXPECT_STREQ(Slot(kSlotUserID), "sys_user");
  EXPECT_STREQ(Slot(kSlotServerName), "sys_srv");
  EXPECT_EQ(Dbc()->attrs[kSlotServerName].source, kAttrFromDsn);
  // Neither file knows it: the not-found error with the name.
  Dbc()->retcode = SQL_SUCCESS;
  EXPECT_EQ(ReadInto("nowhere"), kParseNoDataSource);
  SQLCHAR state[6] = {}, text[300] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  ASSERT_TRUE(SQL_SUCCEEDED(
      SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, state, &native, text, sizeof text, &length)));
  EXPECT_EQ(native, -754);
  EXPECT_NE(std::string(reinterpret_cast<char*>(text)).find("nowhere"), std::string::npos) << text;
}

TEST_F(DataSources, ConfigurationAddsChangesAndRemovesDataSources) {
  WriteAll(UserFile(), "[ODBC Data Sources]\n\n[kept]\nLINKS=old_links\nUID=old\n");
  // Added: a data source that did not exist.
  EXPECT_TRUE(SQLConfigDataSource(nullptr, ODBC_ADD_DSN, "Vellumcrest 12",
                                  "DSN=added\0UID=bob\0ServerName=srv one\0\0"));
  ASSERT_EQ(ReadInto("added"), 0) << ReadAll(UserFile());
  EXPECT_STREQ(Slot(kSlotUserID), "bob");
  EXPECT_STREQ(Slot(kSlotServerName), "srv one");

  // Changed: the keys the section already uses stay (LINKS, not CommLinks); keys not
  // given keep their values, read from the data source first.
  EXPECT_TRUE(SQLConfigDataSource(nullptr, ODBC_CONFIG_DSN, "Vellumcrest 12",
                                  "DSN=kept\0CommLinks=new_links\0\0"));
  const std::string file = ReadAll(UserFile());
  EXPECT_NE(file.find("LINKS=new_links"), std::string::npos) << file;
  EXPECT_EQ(file.find("CommLinks"), std::string::npos) << file;
  ASSERT_EQ(ReadInto("kept"), 0);
  EXPECT_STREQ(Slot(kSlotCommLinks), "new_links");
  EXPECT_STREQ(Slot(kSlotUserID), "old");

  // Removed.
  EXPECT_TRUE(SQLConfigDataSource(nullptr, ODBC_REMOVE_DSN, "Vellumcrest 12", "DSN=added\0\0"));
  Dbc()->retcode = SQL_SUCCESS;
  EXPECT_EQ(ReadInto("added"), kParseNoDataSource);
  EXPECT_EQ(ReadAll(UserFile()).find("[added]"), std::string::npos);
}

TEST_F(DataSources, BadConfigurationRequestsAreRefused) {
  WriteAll(UserFile(), "[ODBC Data Sources]\n");
  const std::string long_key = std::string(80, 'K') + "=v";
  struct Case {
    const char* what;
    WORD request;
    std::string attributes;  // entries separated by '\0', ended by a second '\0'
  };
  const Case cases[] = {
      {"unknown request", 4, std::string("DSN=x\0\0", 7)},
      {"entry without '='", ODBC_ADD_DSN, std::string("DSN=x\0NOEQUALS\0\0", 16)},
      {"key of 80 characters", ODBC_ADD_DSN, long_key + std::string("\0\0", 2)},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(SQLConfigDataSource(nullptr, c.request, "Vellumcrest 12", c.attributes.c_str()))
        << c.what;
  }
  // The unknown request posted installer error 5.
  void* installer = dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(installer, nullptr);
  auto error = reinterpret_cast<decltype(&::SQLInstallerError)>(dlsym(installer, "SQLInstallerError"));
  ASSERT_NE(error, nullptr);
  (void)SQLConfigDataSource(nullptr, 4, "Vellumcrest 12", "DSN=x\0\0");
  DWORD code = 0;
  char message[256] = {};
  WORD message_length = 0;
  EXPECT_NE(error(1, &code, message, sizeof message, &message_length), SQL_NO_DATA);
  EXPECT_EQ(code, 5u);
  EXPECT_STREQ(message, "The installer request is not supported");
  dlclose(installer);
  EXPECT_EQ(ReadAll(UserFile()).find("[x]"), std::string::npos);
}

TEST(InstalledDrivers, TheListIsTheDriversNameWithBothTerminators) {
  struct Case {
    WORD size;
    std::string expected;  // the bytes written
    WORD length;
  };
  const Case cases[] = {
      {32, std::string("Vellumcrest 12\0\0", 16), 16},
      {16, std::string("Vellumcrest 12\0\0", 16), 16},
      {15, std::string("Vellumcrest 1\0\0", 15), 15},
      {2, std::string("\0\0", 2), 2},
      {1, std::string("\0", 1), 1},
      {0, std::string(), 16},
  };
  for (const Case& c : cases) {
    std::vector<char> buffer(40, kSentinel);
    WORD length = 0xFFFF;
    EXPECT_TRUE(SQLGetInstalledDrivers(buffer.data(), c.size, &length)) << c.size;
    EXPECT_EQ(std::string(buffer.data(), c.expected.size()), c.expected) << c.size;
    for (std::size_t i = c.expected.size(); i < buffer.size(); ++i) {
      EXPECT_EQ(buffer[i], kSentinel) << c.size << " at " << i;
    }
    EXPECT_EQ(length, c.length) << c.size;
  }
  WORD length = 0;
  EXPECT_TRUE(SQLGetInstalledDrivers(nullptr, 10, &length));
  EXPECT_EQ(length, 16);
}

}  // namespace
