// Connection strings and driver connect without a server: the slot vocabulary, the order
// of precedence among SQLConnect's arguments, the connection string, VCCONNECT and the
// data source, the Database expansion, the strings built from the slots, and the connect
// calls' refusals and browse requests, which end before any server is sought.
#include "odbc/connect.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "config/data_source_profile.h"
#include "odbc/connect_login_timeout.h"
#include "odbc/diagnostics.h"
#include "scoped_environment.h"

namespace {

// The fixture's connection, with a data-source file of the test's own (ODBCINI) holding
// "[sales]" and "[noserver]", and no VCCONNECT.
class ConnectSlots : public ApiFixture {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("vqconnect" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    const std::string ini = (dir_ / "odbc.ini").string();
    std::ofstream(ini) << "[sales]\nUID=dsnuser\nServerName=dsnserver\nDBN=dsndb\n"
                          "LivenessTimeout=77\n"
                          "[noserver]\nDescription=nothing but a user\n";
    vars_.Set("ODBCINI", ini);
    vars_.Set("HOME", dir_.string());
    ProfileFini();
    ApiFixture::SetUp();
  }
  void TearDown() override {
    Free_connect_strings(Dbc());
    ApiFixture::TearDown();
    ProfileFini();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::string Text(int slot) {
    const char* t = Dbc()->attrs[slot].text;
    return t != nullptr ? t : "<unset>";
  }
  std::int32_t Source(int slot) { return Dbc()->attrs[slot].source; }
  // ParseConnectionString as a framed call would run it: diagnostics cleared first.
  int Parse(const char* text, std::uint8_t* seen = nullptr, int mode = 1) {
    ClearError(Dbc());
    Dbc()->retcode = SQL_SUCCESS;
    return ParseConnectionString(Dbc(), text, SQL_NTS, seen, mode);
  }

  std::filesystem::path dir_;
  vq::testing::ScopedEnvironment vars_{{"VCCONNECT", "ODBCINI", "ODBC_INI", "ODBCHOME"}};
};

TEST(ConnectVocabulary, NamesPromptsAndFlagsOfTheSlots) {
  struct Case {
    int slot;
    const char* name;
    const char* short_name;
    const char* alias;
    const char* prompt;
    std::uint32_t flag;
  };
  const Case cases[] = {
      {0, "UID", "UID", nullptr, "Userid", 0},
      {1, "PWD", "PWD", nullptr, "Password", 0},
      {5, "ServerName", nullptr, "Server", "Server Name", 0},
      {9, "AutoStop", "ASTOP", nullptr, "AutoStop database", 0x8},
      {10, "DSN", nullptr, "DSN", "Data Source", 0},
      {12, "FILEDSN", "FILEDSN", nullptr, "FILEDSN", 0},
      {36, "RetryConnectionTimeout", "RetryConnTO", nullptr, "Retry Connection Timeout", 0},
      {45, "AppConnTimeout", nullptr, nullptr, "App Conn Timeout", 0},
      {47, "MSApplications", nullptr, "MSApp", "MSApplications", 0x1},
      {54, "LazierAutocommit", nullptr, nullptr, "LazierAutocommit", 0x14},
      {64, "SuppressWarnings", nullptr, nullptr, "Suppress Warnings", 0x2000},
      {66, "Escape", nullptr, nullptr, "Escape Character", 0},
      {67, nullptr, nullptr, nullptr, nullptr, 0},
      {-1, nullptr, nullptr, nullptr, nullptr, 0},
  };
  auto same = [](const char* a, const char* b) {
    return (a == nullptr && b == nullptr) || (a != nullptr && b != nullptr && !std::strcmp(a, b));
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.slot);
    EXPECT_TRUE(same(GetConnAttrName(c.slot), c.name));
    EXPECT_TRUE(same(GetConnAttrShortName(c.slot), c.short_name));
    EXPECT_TRUE(same(GetConnAttrAltName(c.slot), c.alias));
    EXPECT_TRUE(same(GetConnAttrPrompt(c.slot), c.prompt));
    EXPECT_EQ(GetConnAttrFlag(c.slot), c.flag);
  }
}

TEST(ConnectVocabulary, DescribeCursorModes) {
  const std::pair<const char*, int> cases[] = {
      {"n", 0},   {"No", 0},  {"Y", 1},   {"yes", 1}, {"always", 2}, {"A", 2},
      {"0", 0},   {"2", 2},   {"2x", 2},  {"3", -1},  {"-1", -1},    {"x", -1},
      {"", -1},   {nullptr, -1},          {"99999999999999999999999", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first != nullptr ? c.first : "(null)");
    EXPECT_EQ(MapDescCursor(c.first), c.second);
  }
}

TEST(ConnectVocabulary, RootNamesOfDatabaseValues) {
  struct Case {
    const char* value;
    const char* name;  // after MakeNameFromRoot
    bool marked;
  };
  const Case cases[] = {
      {"c:\\data\\SALES.DB", "Sales", true},
      {"Sales2", "Sales2", false},
      {"/var/db/MixedCase.db", "MixedCase", true},
      {"dir.v2/lower", "Lower", true},
      {"a.b.c", "A.b", true},
      {"dir/", "", true},
      {"/x/abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyz.db",
       "Abcdefghijklmnopqrstuvwxyzabcdefghijklm", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    char root[160];
    EXPECT_EQ(FindRootName(c.value, root, sizeof root), c.marked);
    if (c.marked) MakeNameFromRoot(root);
    EXPECT_STREQ(root, c.marked ? c.name : "Sales2");
  }
  // A small buffer is never overrun.
  char small[5] = {'#', '#', '#', '#', '#'};
  FindRootName("/x/VERYLONGNAME.db", small, 4);
  EXPECT_STREQ(small, "VER");
  EXPECT_EQ(small[4], '#');
}

TEST_F(ConnectSlots, DatabaseExpansion) {
  ASSERT_EQ(Parse("Driver=x;Database=c:\\data\\SALES.DB"), 1);
  EXPECT_EQ(Text(kSlotDatabaseName), "Sales");
  EXPECT_EQ(Text(kSlotDatabaseFile), "c:\\data\\SALES.DB");
  EXPECT_EQ(Source(kSlotDatabaseName), kAttrFromApp);
  Free_connect_strings(Dbc());

  ASSERT_EQ(Parse("Driver=x;Database=Sales2"), 1);
  EXPECT_EQ(Text(kSlotDatabaseName), "Sales2");
  EXPECT_EQ(Text(kSlotDatabaseFile), "<unset>");
  Free_connect_strings(Dbc());

  // Slots the string set keep their values.
  ASSERT_EQ(Parse("Driver=x;Database=/d/SALES.DB;DBN=given"), 1);
  EXPECT_EQ(Text(kSlotDatabaseName), "given");
  EXPECT_EQ(Text(kSlotDatabaseFile), "/d/SALES.DB");
  Free_connect_strings(Dbc());
}

// Precedence: application arguments, then the connection string, then VCCONNECT, then
// the data source.
TEST_F(ConnectSlots, PrecedenceOfTheSources) {
  struct Case {
    const char* name;
    const char* argument_user;  // as SQLConnect stores it, or null
    const char* vcconnect;      // or null
    const char* string;
    int slot;
    const char* text;
    std::int32_t source;
    const char* state;  // first diagnostic, "" for none
  };
  const Case cases[] = {
      {"string over data source", nullptr, nullptr, "DSN=sales;UID=struser", 0, "struser", 1,
       ""},
      {"data source fills the rest", nullptr, nullptr, "DSN=sales;UID=struser", 5,
       "dsnserver", 2, ""},
      {"VCCONNECT over data source", nullptr, "UID=envuser", "DSN=sales", 0, "envuser", 1, ""},
      {"string over VCCONNECT", nullptr, "UID=envuser;PWD=envpwd", "DSN=sales;UID=struser", 0,
       "struser", 1, ""},
      {"VCCONNECT fills what the string lacks", nullptr, "UID=envuser;PWD=envpwd",
       "DSN=sales;UID=struser", 1, "envpwd", 1, ""},
      {"argument over VCCONNECT, no warning", "arguser", "UID=envuser", "DSN=sales", 0,
       "arguser", 1, ""},
      {"argument over the string, with 01S00", "arguser", nullptr, "DSN=sales;UID=struser", 0,
       "arguser", 1, "01S00"},
      {"IgnoreVCCONNECT", nullptr, "UID=envuser", "DSN=sales;IgnoreVCCONNECT=YES", 0,
       "dsnuser", 2, ""},
      {"DSN first drops Driver silently", nullptr, nullptr, "DSN=sales;Driver=drv", 52,
       "<unset>", 0, ""},
      {"Driver first drops DSN silently", nullptr, nullptr, "Driver=drv;DSN=sales", 10,
       "<unset>", 0, ""},
      {"Driver means no data source is read", nullptr, nullptr, "Driver=drv;DBN=x", 5,
       "<unset>", 0, ""},
      {"first of a key given twice", nullptr, nullptr, "Driver=d;UID=one;UID=two", 0, "one", 1,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vq::testing::ScopedEnvironment env;
    env.Set("VCCONNECT", c.vcconnect);
    Free_connect_strings(Dbc());
    if (c.argument_user != nullptr) {
      ASSERT_EQ(SetConnAttr(Dbc(), kSlotUserID, c.argument_user, kAttrFromApp), 0);
    }
    Parse(c.string);
    EXPECT_EQ(Text(c.slot), c.text);
    EXPECT_EQ(Source(c.slot), c.source);
    EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), c.state);
  }
  Free_connect_strings(Dbc());
}

TEST_F(ConnectSlots, ParseFailuresRecordTheirErrorAndStoreNothing) {
  struct Case {
    const char* string;
    SQLINTEGER native;
  };
  const Case cases[] = {
      {"DSN=no such source", -754},
      {"UID=x;PWD='open", -95},
      {"UID=x;junk", -95},
      {"Driver=d;CommBufferSize=lots", -95},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.string);
    Free_connect_strings(Dbc());
    EXPECT_EQ(Parse(c.string), 0);
    EXPECT_EQ(Dbc()->retcode, SQL_ERROR);
    SQLCHAR state[6] = {0};
    SQLINTEGER native = 0;
    SQLCHAR text[600];
    SQLSMALLINT length = 0;
    ASSERT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, state, &native, text, sizeof text, &length),
              SQL_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(state), "08004");
    EXPECT_EQ(native, c.native);
    if (c.native == -95) {
      EXPECT_EQ(Text(kSlotUserID), "<unset>");
    }
  }
  Free_connect_strings(Dbc());
}

TEST_F(ConnectSlots, ACountedStringEndsAtItsLength) {
  const char text[] = "Driver=d;UID=abc;PWD=secret";
  ClearError(Dbc());
  ASSERT_EQ(ParseConnectionString(Dbc(), text, 15, nullptr, 1), 1);
  EXPECT_EQ(Text(kSlotUserID), "ab");
  EXPECT_EQ(Text(kSlotPassword), "<unset>");
  Free_connect_strings(Dbc());
}

TEST_F(ConnectSlots, StringsBuiltFromTheSlots) {
  std::uint8_t seen[kConnAttrSlots] = {};
  ASSERT_EQ(Parse("DSN=sales;UID=u;PWD=p w;DBN=d;Description='a;b';LazyAutocommit=YES", seen), 1);
  EXPECT_EQ(seen[kSlotUserID], 1);
  EXPECT_EQ(seen[kSlotServerName], 0);  // from the data source

  char buffer[300];
  BuildConfigString(buffer, sizeof buffer, Dbc(), kBuildCompleted);
  // DSN first; only what the application gave; values quoted as needed.
  EXPECT_STREQ(buffer,
               "DSN=sales;UID=u;PWD='p w';DatabaseName=d;Description='a;b';LazyAutocommit=YES");

  BuildConfigString(buffer, sizeof buffer, Dbc(), kBuildEngine);
  const std::string engine = buffer;
  EXPECT_EQ(engine.find("DSN="), std::string::npos);
  EXPECT_NE(engine.find("ServerName=dsnserver"), std::string::npos);  // from the data source
  EXPECT_NE(engine.find("LivenessTimeout=77"), std::string::npos);
  EXPECT_EQ(engine.find("Description"), std::string::npos);  // ODBC slots stay here
  EXPECT_NE(engine.find(std::string("ConnectionName=") + Dbc()->name), std::string::npos);

  BuildConfigString(buffer, sizeof buffer, Dbc(), kBuildODBC);
  EXPECT_STREQ(buffer, "Description='a;b';LazyAutocommit=YES");

  // The caller's buffer is never overrun.
  char small[8];
  std::memset(small, 0x7E, sizeof small);
  BuildConfigString(small, 6, Dbc(), kBuildCompleted);
  EXPECT_STREQ(small, "DSN=s");
  EXPECT_EQ(small[6], 0x7E);
  Free_connect_strings(Dbc());

  // SAVEFILE writes every pair as it stands; a given ConnectionName is kept.
  ASSERT_EQ(Parse("Driver=d;SAVEFILE=f.dsn;UID=a b;CON=mine"), 1);
  BuildConfigString(buffer, sizeof buffer, Dbc(), kBuildCompleted);
  EXPECT_STREQ(buffer, "Driver=d;UID=a b;ConnectionName=mine;SAVEFILE=f.dsn");
  BuildConfigString(buffer, sizeof buffer, Dbc(), kBuildEngine);
  EXPECT_STREQ(buffer, "UID=a b;ConnectionName=mine");
  Free_connect_strings(Dbc());
}

TEST_F(ConnectSlots, ConnectCallsRefuseBadArguments) {
  SQLCHAR in[] = "Driver=d";
  SQLCHAR out[64];
  SQLSMALLINT length = 0;
  EXPECT_EQ(SQLDriverConnect(dbc_, nullptr, nullptr, SQL_NTS, out, sizeof out, &length,
                             SQL_DRIVER_NOPROMPT),
            SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "HY009");
  EXPECT_EQ(SQLDriverConnect(dbc_, nullptr, in, -5, out, sizeof out, &length,
                             SQL_DRIVER_NOPROMPT),
            SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "HY090");
  EXPECT_EQ(SQLDriverConnect(dbc_, nullptr, in, SQL_NTS, out, -1, &length, SQL_DRIVER_NOPROMPT),
            SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "HY090");
  EXPECT_EQ(SQLDriverConnect(dbc_, nullptr, in, SQL_NTS, out, sizeof out, &length, 7),
            SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "HY110");
  EXPECT_EQ(SQLBrowseConnect(dbc_, nullptr, SQL_NTS, out, sizeof out, &length), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "HY009");
  SQLCHAR dsn[] = "sales";
  EXPECT_EQ(SQLConnect(dbc_, dsn, -7, nullptr, 0, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "HY090");
  EXPECT_EQ(Dbc()->state, kDbcAllocated);
  EXPECT_EQ(Dbc()->attrs[kSlotDataSourceName].text, nullptr);

  // Prompting needs a dialog this driver does not have: no data, nothing connected.
  EXPECT_EQ(SQLDriverConnect(dbc_, nullptr, in, SQL_NTS, out, sizeof out, &length,
                             SQL_DRIVER_PROMPT),
            SQL_NO_DATA);
  EXPECT_EQ(Dbc()->state, kDbcAllocated);
  EXPECT_EQ(Dbc()->attrs[kSlotDriver].text, nullptr);
}

TEST_F(ConnectSlots, BrowseAsksForWhatIsMissing) {
  struct Case {
    const char* string;
    const char* request;
  };
  const Case cases[] = {
      {"DSN=noserver", "ServerName:Server Name=?;DatabaseName:Database Name=?;UID:Userid=?;"
                       "PWD:Password=?"},
      {"DSN=sales", "PWD:Password=?"},
      {"Driver=d;DBF=/x.db", "UID:Userid=?;PWD:Password=?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.string);
    SQLCHAR out[200];
    std::memset(out, 0x7E, sizeof out);
    SQLSMALLINT length = -1;
    SQLCHAR in[100];
    std::snprintf(reinterpret_cast<char*>(in), sizeof in, "%s", c.string);
    EXPECT_EQ(SQLBrowseConnect(dbc_, in, SQL_NTS, out, sizeof out, &length), SQL_NEED_DATA);
    EXPECT_STREQ(reinterpret_cast<char*>(out), c.request);
    EXPECT_EQ(length, static_cast<SQLSMALLINT>(std::strlen(c.request)));
    EXPECT_EQ(Dbc()->state, kDbcBrowsing);
    EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
    EXPECT_EQ(Dbc()->state, kDbcAllocated);
  }

  // Rounds: what the first round gave stays; a short buffer gets 01004 and the length.
  SQLCHAR first[] = "DSN=noserver;UID=u";
  SQLCHAR out[12];
  std::memset(out, 0x7E, sizeof out);
  SQLSMALLINT length = -1;
  EXPECT_EQ(SQLBrowseConnect(dbc_, first, SQL_NTS, out, 10, &length), SQL_NEED_DATA);
  const char* request = "ServerName:Server Name=?;DatabaseName:Database Name=?;PWD:Password=?";
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(std::strlen(request)));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out)), std::string(request, 9));
  EXPECT_EQ(out[10], 0x7E);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "01004");
  SQLCHAR second[] = "DBF=/nowhere/x.db";
  std::memset(out, 0x7E, sizeof out);
  EXPECT_EQ(SQLBrowseConnect(dbc_, second, SQL_NTS, out, sizeof out, &length), SQL_NEED_DATA);
  EXPECT_EQ(length, 14);  // PWD:Password=?
  EXPECT_EQ(Text(kSlotUserID), "u");
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  EXPECT_EQ(Text(kSlotUserID), "<unset>");

  // A connected handle browses no more.
  Dbc()->state = kDbcConnected;
  EXPECT_EQ(SQLBrowseConnect(dbc_, first, SQL_NTS, out, sizeof out, &length), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "08002");
  Dbc()->state = kDbcAllocated;
}

// The wait callback gives a wait up only for a connection whose armed deadline passed.
TEST_F(ConnectSlots, TheLoginWaitCallbackWatchesOnlyAnArmedDeadline) {
  auto value = [](void* h) { return reinterpret_cast<std::uintptr_t>(h); };
  EXPECT_EQ(LoginWaitCallback(0), 0);
  EXPECT_EQ(LoginWaitCallback(value(env_)), 0);  // not a connection
  EXPECT_EQ(LoginWaitCallback(value(dbc_)), 0);  // nothing armed
  {
    const a_login_deadline none(Dbc(), 0);
    EXPECT_EQ(Dbc()->login_deadline_ns.load(), 0);
    EXPECT_EQ(LoginWaitCallback(value(dbc_)), 0);
  }
  {
    const a_login_deadline armed(Dbc(), 30);
    EXPECT_NE(Dbc()->login_deadline_ns.load(), 0);
    EXPECT_EQ(LoginWaitCallback(value(dbc_)), 0);  // not yet
    EXPECT_FALSE(armed.expired());
    Dbc()->login_deadline_ns.store(1);  // long past
    EXPECT_EQ(LoginWaitCallback(value(dbc_)), 1);
    EXPECT_TRUE(armed.expired());
  }
  EXPECT_EQ(Dbc()->login_deadline_ns.load(), 0);  // disarmed with the scope
  EXPECT_EQ(LoginWaitCallback(value(dbc_)), 0);
  EXPECT_EQ(LoginTimeoutSeconds(Dbc()), 15u);  // the connection's default
}

}  // namespace
