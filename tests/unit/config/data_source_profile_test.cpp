// Data-source profiles: where the data-source file is found, which names a value is
// looked up under, the slots a profile never fills, errors, file data sources, the
// process-wide cached store, and a connection string merged with VCCONNECT and a data
// source and built back into text.
#include "config/data_source_profile.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "config/conn_string.h"
#include "config/option_tables.h"
#include "data_source_profile_fixture.h"

namespace {

using vq_test::Block;
using vq_test::Profiles;
using vq_test::Values;
using vq_test::WriteAll;

TEST_F(Profiles, ConnectionStringMergedWithDefaultsAndADataSourceAndBuiltBack) {
  WriteAll(file(".odbc.ini"),
           "[other]\nUID=wrong\n\n"
           "[Sales DB]\n"
           "UserID=dsuser\n"
           "PWD=dspass\n"
           "ENG=sales_srv\n"  // an alias of ServerName
           "DatabaseName=sales\n"
           "DSN=other\n"           // never chains to another data source
           "NewPassword=secret\n"  // only "*" is taken
           "CommLinks=tcpip(host=db1;port=2638)\n"
           "Description=ignored by the client slots\n");
  setenv("VCCONNECT", "LTO=60;CON=fromenv;UID=envuser", 1);
  Block b;
  ASSERT_EQ(ParseClientStringParms("DSN=Sales DB;UID=me;Encryption=simple", &b.parms), 0);
  EXPECT_EQ(b.values(), (Values{{kSlotUserID, "me"},
                                {kSlotPassword, "dspass"},
                                {kSlotDatabaseName, "sales"},
                                {kSlotServerName, "sales_srv"},
                                {kSlotConnectionName, "fromenv"},
                                {kSlotDataSourceName, "Sales DB"},
                                {kSlotEncryption, "simple"},
                                {kSlotLivenessTimeout, "60"},
                                {kSlotCommLinks, "tcpip(host=db1;port=2638)"}}));
  char* text = BuildConnectString(&b.parms, true);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text,
               "UID=me;PWD=********;DBN=sales;ServerName=sales_srv;CON=fromenv;"
               "DataSourceName='Sales DB';ENC=simple;LTO=60;"
               "LINKS='tcpip(host=db1;port=2638)'");
  FreeConnectString(text);
}

TEST_F(Profiles, FileDataSourceReadsItsOwnOdbcSection) {
  WriteAll(file("sales.dsn"), "[ODBC]\nUID=fileuser\nServerName=filesrv\n");
  // A data-source file named by ODBCINI must not stand in for the file data source.
  WriteAll(file("elsewhere.ini"), "[ODBC]\nUID=wrongfile\n");
  setenv("ODBCINI", file("elsewhere.ini").c_str(), 1);
  for (const std::string& name : {file("sales.dsn"), std::string("sales.dsn")}) {
    SCOPED_TRACE(name);
    Block b;
    ASSERT_EQ(ParseClientStringParms(("FILEDSN=" + name).c_str(), &b.parms), 0);
    EXPECT_EQ(b.values(), (Values{{kSlotUserID, "fileuser"},
                                  {kSlotServerName, "filesrv"},
                                  {kSlotFileDataSourceName, name}}));
  }
  Block missing;
  EXPECT_EQ(ReadProfile("nope.dsn", &missing.parms, true, kClientSlots), kParseDsnFileNotFound);
  EXPECT_EQ(missing.error(), "nope.dsn");
}

TEST_F(Profiles, DataSourceFileIsFoundByTheVariablesInOrder) {
  WriteAll(file(".odbc.ini"), "[ds]\nUID=home\n");
  WriteAll(file("odbcini.ini"), "[ds]\nUID=odbcini\n");
  WriteAll(file("odbc_ini.ini"), "[ds]\nUID=odbc_ini\n");
  ASSERT_EQ(system(("mkdir -p '" + file("oh") + "'").c_str()), 0);
  WriteAll(file("oh/.odbc.ini"), "[ds]\nUID=odbchome\n");
  struct Case {
    const char* odbcini;
    const char* odbc_ini;
    const char* odbchome;
    const char* user;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, "home"},
      {"odbcini.ini", "odbc_ini.ini", "oh", "odbcini"},
      {"missing.ini", "odbc_ini.ini", "oh", "odbc_ini"},  // a missing file is passed over
      {"missing.ini", "missing.ini", "oh", "odbchome"},
      {nullptr, nullptr, "nothere", "home"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.odbcini ? c.odbcini : "-") + " " +
                 (c.odbc_ini ? c.odbc_ini : "-") + " " + (c.odbchome ? c.odbchome : "-"));
    const std::pair<const char*, const char*> vars[] = {
        {"ODBCINI", c.odbcini}, {"ODBC_INI", c.odbc_ini}, {"ODBCHOME", c.odbchome}};
    for (const auto& v : vars) {
      if (v.second != nullptr) {
        setenv(v.first, file(v.second).c_str(), 1);
      } else {
        unsetenv(v.first);
      }
    }
    Block b;
    ASSERT_EQ(ReadProfile("ds", &b.parms, false, kClientSlots), 0);
    EXPECT_EQ(b.values(), (Values{{kSlotUserID, c.user}}));
    EXPECT_EQ(b.error(), "");
  }
}

TEST_F(Profiles, ValuesAreLookedUpUnderLongShortAndAliasNames) {
  struct Case {
    const char* name;
    std::string entries;
    Values expected;
  };
  const std::string long_server(300, 's');
  const std::vector<Case> cases = {
      {"LongNameFirst", "UID=short\nUserID=long\n", {{kSlotUserID, "long"}}},
      {"EmptyLongFallsToShort", "UserID=\nUID=short\n", {{kSlotUserID, "short"}}},
      {"AliasWhenNeitherIsPresent", "ENG=alias\n", {{kSlotServerName, "alias"}}},
      {"AliasesInOrder", "ENG=second\nServer=first\n", {{kSlotServerName, "first"}}},
      // An empty entry under a name stops the search.
      {"EmptyAliasStopsTheSearch", "Server=\nENG=alias\n", {}},
      {"EmptyLongNameWithoutShortStops", "ServerName=\nENG=alias\n", {}},
      {"EmptyValuesSkipped", "PWD=\nDBN=\n", {}},
      {"NewPasswordOnlyAsStar", "NewPassword=secret\n", {}},
      {"NewPasswordStar", "NEWPWD=*\n", {{kSlotNewPassword, "*"}}},
      {"ServerNameCut",
       "ServerName=" + long_server + "\n",
       {{kSlotServerName, long_server.substr(0, 250)}}},
      {"DataSourceSlotsNeverTaken", "DSN=x\nDataSourceName=y\nFILEDSN=z\n", {}},
      {"KeysWithoutRegardToCase",
       "uid=u\ndatabasename=d\n",
       {{kSlotUserID, "u"}, {kSlotDatabaseName, "d"}}},
  };
  std::string text;
  for (const Case& c : cases) text += std::string("[") + c.name + "]\n" + c.entries + "\n";
  WriteAll(file(".odbc.ini"), text);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Block b;
    ASSERT_EQ(ReadProfile(c.name, &b.parms, false, kClientSlots), 0);
    EXPECT_EQ(b.values(), c.expected);
  }
}

TEST_F(Profiles, OdbcSlotsAndTheOracleForm) {
  WriteAll(file(".odbc.ini"),
           "[ds]\nDescription=my source\nUID=u\nDSN=kept\nNewPassword=secret\n");
  Block both;
  ASSERT_EQ(ReadProfile("ds", &both.parms, false, kClientAndODBCSlots), 0);
  EXPECT_EQ(both.parms.count, kClientAndODBCSlots);
  EXPECT_EQ(both.values(), (Values{{kSlotUserID, "u"}, {46, "my source"}}));

  Block oracle;
  ASSERT_EQ(ReadProfile_Oracle("ds", &oracle.parms, false), 0);
  EXPECT_EQ(oracle.parms.count, kOracleSlots);
  // The Oracle form takes its names from its own table and skips no slot.
  const Values got = oracle.values();
  ASSERT_EQ(got.count(0), 1u);
  EXPECT_EQ(got.at(0), "kept");
}

TEST_F(Profiles, ErrorsCarryTheirCodesAndTheName) {
  // Past HOME the lookup falls back to the account's own home directory from the password
  // database; a file there (a user's, or one a driver manager made) is found as it should be.
  const passwd* account = getpwuid(getuid());
  const bool account_has_file =
      account != nullptr && account->pw_dir != nullptr &&
      access((std::string(account->pw_dir) + "/.odbc.ini").c_str(), F_OK) == 0;
  Block not_found;
  if (!account_has_file) {
    EXPECT_EQ(ReadProfile("ds", &not_found.parms, false, kClientSlots), kParseDsnFileNotFound);
    EXPECT_EQ(not_found.error(), "ds");
    char message[256];
    GetParseErrorInfo(kParseDsnFileNotFound, &not_found.parms, nullptr, message, sizeof message);
    EXPECT_STREQ(message, "Data source file for 'ds' not found");
  }

  WriteAll(file(".odbc.ini"), "[ds]\nUID=u\n");
  Block no_section;
  EXPECT_EQ(ReadProfile("other", &no_section.parms, false, kClientSlots), kParseNoDataSource);
  EXPECT_EQ(no_section.error(), "other");

  // A file that exists but cannot be opened (a socket stands in; root may open anything
  // else).
  const std::string sock = file("sock.ini");
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  setenv("ODBCINI", sock.c_str(), 1);
  Block not_opened;
  EXPECT_EQ(ReadProfile("ds", &not_opened.parms, false, kClientSlots), kParseDsnFileNotOpened);
  EXPECT_EQ(not_opened.error(), "ds");
  char out[16] = "junk";
  EXPECT_EQ(GetODBCString("ds", "UID", out, sizeof out), kParseDsnFileNotOpened);
  EXPECT_STREQ(out, "");
  close(fd);
  unsetenv("ODBCINI");
  // The next read after a failed open starts afresh.
  Block again;
  EXPECT_EQ(ReadProfile("ds", &again.parms, false, kClientSlots), 0);
}

TEST_F(Profiles, GetOdbcStringCopiesOneValue) {
  WriteAll(file(".odbc.ini"), "[ds]\nDriver=/opt/lib/driver.so\nEmpty=\n");
  struct Case {
    const char* section;
    const char* key;
    std::size_t size;
    const char* expected;
  };
  const Case cases[] = {
      {"ds", "driver", 64, "/opt/lib/driver.so"},
      {"ds", "Driver", 8, "/opt/li"},
      {"ds", "Empty", 64, ""},
      {"ds", "absent", 64, ""},
      {"nosection", "Driver", 64, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    char out[64];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(GetODBCString(c.section, c.key, out, c.size), 0);
    EXPECT_STREQ(out, c.expected);
  }
  unlink(file(".odbc.ini").c_str());
  char out[8] = "junk";
  EXPECT_EQ(GetODBCString("ds", "Driver", out, sizeof out), 0);
  EXPECT_STREQ(out, "");
}

TEST_F(Profiles, TheCachedStoreSeesEditsOfItsFile) {
  WriteAll(file(".odbc.ini"), "[a]\nUID=1\n[b]\nUID=2\n");
  Block a;
  ASSERT_EQ(ReadProfile("a", &a.parms, false, kClientSlots), 0);
  usleep(30 * 1000);
  WriteAll(file(".odbc.ini"), "[a]\nUID=1\n[b]\nUID=3\n");
  Block b;
  ASSERT_EQ(ReadProfile("b", &b.parms, false, kClientSlots), 0);
  EXPECT_EQ(b.values(), (Values{{kSlotUserID, "3"}}));
}

}  // namespace
