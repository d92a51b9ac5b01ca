// The connection-string codec: the option tables, the old comma form, VCCONNECT and data
// source defaults, Encryption normalisation, the builders with quoting and masking, slot
// names and the messages of parse errors.
#include "config/conn_string.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "config/data_source_profile.h"
#include "config/ini_obfuscation.h"
#include "config/option_tables.h"
#include "utils/base/memory.h"
#include "utils/base/path_split.h"
#include "scoped_environment.h"

namespace {

using Values = std::map<int, std::string>;

Values Collect(const a_string_parms& parms) {
  Values out;
  for (unsigned i = 0; i < parms.count; ++i) {
    if (parms.values[i] != nullptr) out[int(i)] = parms.values[i];
  }
  return out;
}

// Owns a value block for one test.
struct Block {
  a_string_parms parms = {};
  ~Block() { FreeStringParms(&parms); }
  Values values() const { return Collect(parms); }
  std::string error() const { return StringParmsError(&parms); }
};

// Sets or clears VCCONNECT for one test and puts the old value back.
class ScopedVcconnect {
 public:
  explicit ScopedVcconnect(const char* value) { env_.Set("VCCONNECT", value); }

 private:
  vq::testing::ScopedEnvironment env_;
};

// A fake data-source file: names to key=value texts, read by the client table.
std::map<std::string, std::string> g_profiles;
std::vector<std::string> g_profile_reads;

int ReadFakeProfile(const char* name, a_string_parms* parms, bool isFile, unsigned count) {
  if (!InitSizedStringParms(parms, count)) return kParseNoMemory;
  std::string error = name;
  g_profile_reads.push_back(std::string(isFile ? "file:" : "dsn:") + name);
  auto it = g_profiles.find(std::string(isFile ? "file:" : "") + name);
  if (it == g_profiles.end()) {
    std::snprintf(StringParmsError(parms), kStringParmsErrorSize, "%s", name);
    return kParseNoDataSource;
  }
  return ParseKeyValueString(it->second.c_str(), parms, MapClientOptionTable, true, false,
                             false, nullptr);
}

class ConnString : public ::testing::Test {
 protected:
  void SetUp() override {
    g_profiles.clear();
    g_profile_reads.clear();
    vq::config::SetProfileReader(ReadFakeProfile);
  }
  void TearDown() override { vq::config::SetProfileReader(nullptr); }
  ScopedVcconnect no_vcconnect_{nullptr};
};

TEST(OptionTables, SizesAndNamesOfTheExportedTables) {
  struct Table {
    const a_conn_option* table;
    unsigned rows;
    const char* first;
    const char* last;
  };
  const Table tables[] = {
      {MapClientOptionTable, kClientSlots, "UserID", "AppConnTimeout"},
      {MapODBCOptionTable, kODBCSlots, "Description", "Escape"},
      {MapTLSOptionTable, kTLSSlots, "trusted_certificates", "fips"},
      {MapTCPIPOptionTable, kTCPIPSlots, "Host", "ipv6"},
      {MapCPoolOptionTable, kCPoolSlots, "Timeout", "StartCachingAfter"},
      {MapAppInfoOptionTable, kAppInfoSlots, "IP", "OSUSER"},
      {MapOracleOptionTable, kOracleSlots, "DataSourceName", "ServiceName"},
      {MapSyncOptionTable, kSyncSlots, "Memory", "BufferDownload"},
      {MapNotifyOptionTable, kNotifySlots, "recipient", "poll_every"},
      {vq::config::kClientAndODBCOptionTable, kClientAndODBCSlots, "UserID", "Escape"},
  };
  for (const Table& t : tables) {
    SCOPED_TRACE(t.first);
    ASSERT_EQ(vq::config::CountOptionRows(t.table), t.rows);
    EXPECT_STREQ(t.table[0].long_name, t.first);
    EXPECT_STREQ(t.table[t.rows - 1].long_name, t.last);
  }
  // Slots the rest of the system names by number.
  const std::pair<int, const char*> client[] = {
      {kSlotServerName, "ServerName"},
      {kSlotStartLine, "StartLine"},
      {kSlotDataSourceName, "DataSourceName"},
      {kSlotEncryption, "Encryption"},
      {kSlotCommLinks, "CommLinks"},
      {kSlotLazyClose, "LazyClose"},
      {kSlotIgnoreVCCONNECT, "IgnoreVCCONNECT"},
      {kSlotKerberos, "Kerberos"},
      {kSlotNewPassword, "NewPassword"},
      {kSlotConnectionPool, "ConnectionPool"},
  };
  for (const auto& [slot, name] : client)
    EXPECT_STREQ(MapClientOptionTable[slot].long_name, name);
  EXPECT_STREQ(MapTLSOptionTable[kTLSType].long_name, "tls_type");
  EXPECT_STREQ(MapTLSOptionTable[kTLSFips].long_name, "fips");
}

TEST(OptionTables, PerTableParsers) {
  struct Case {
    const char* name;
    int (*parse)(const char*, a_string_parms*);
    const char* text;
    int rc;
    Values values;
  };
  const auto tcpip = [](const char* t, a_string_parms* p) {
    return ParseTCPIPStringParms(t, p, false);
  };
  const auto tcpip_lax = [](const char* t, a_string_parms* p) {
    return ParseTCPIPStringParms(t, p, true);
  };
  const auto tls = [](const char* t, a_string_parms* p) {
    return ParseTLSStringParms(t, p, false);
  };
  const Case cases[] = {
      {"tcpip",
       tcpip,
       "IP=h1;ServerPort=2638;v6=no;VERIFY=yes",
       0,
       {{0, "h1"}, {4, "2638"}, {12, "no"}, {10, "yes"}}},
      {"tcpip unknown", tcpip, "host=a;bogus=1", kParseUnknownKey, {{0, "a"}}},
      {"tcpip unknown allowed", tcpip_lax, "host=a;bogus=1", 0, {{0, "a"}}},
      {"tls",
       tls,
       "company=c;name=n;unit=u;fips=on",
       0,
       {{1, "c"}, {2, "n"}, {3, "u"}, {7, "YES"}}},
      {"tls fips", tls, "fips=maybe", kParseBadValue, {}},
      {"cpool",
       ParseCPoolStringParms,
       "TO=60;MaxCached=5;StartCachingAfter=2",
       0,
       {{0, "60"}, {1, "5"}, {2, "2"}}},
      {"cpool number", ParseCPoolStringParms, "TO=soon", kParseBadValue, {}},
      {"appinfo",
       ParseAppInfoStringParms,
       "EXE=java;whatever=1;PID=12",
       0,
       {{5, "java"}, {3, "12"}}},
      {"oracle", ParseOracleStringParms, "DSN=o;SN=svc", 0, {{0, "o"}, {10, "svc"}}},
      {"notify",
       ParseNotifyStringParms,
       "continue=y;poll_every=10",
       0,
       {{8, "YES"}, {19, "10"}}},
      {"sync",
       ParseSyncStringParms,
       "MEM=4M;V=on;SN=site",
       0,
       {{0, "4M"}, {4, "YES"}, {15, "site"}}},
      {"odbc",
       ParseODBCStringParms,
       "MSApp=1;InitString=set(a;b);Driver=d",
       0,
       {{1, "YES"}, {15, "set(a;b)"}, {6, "d"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Block b;
    EXPECT_EQ(c.parse(c.text, &b.parms), c.rc);
    EXPECT_EQ(b.values(), c.values);
  }
}

TEST_F(ConnString, OldStyleStrings) {
  struct Case {
    const char* text;
    int rc;
    const char* error;
    Values values;
    bool old_style;
  };
  const Case cases[] = {
      {"dba,sql,/data/demo.x",
       0,
       "",
       {{0, "dba"}, {1, "sql"}, {3, "/data/demo.x"}, {5, "demo"}},
       true},
      {"dba,,/data/demo.x,conn",
       0,
       "",
       {{0, "dba"}, {3, "/data/demo.x"}, {5, "demo"}, {8, "conn"}},
       true},
      {"dba", 0, "", {{0, "dba"}}, true},
      {"a,b,c,d,e", kParseBadValue, ",e", {}, true},
      {"a,b,c,d,", kParseBadValue, ",", {}, true},
      {"", 0, "", {}, false},
      {"UID=dba;PWD=sql", 0, "", {{0, "dba"}, {1, "sql"}}, false},
      {"UID#dba", 0, "", {{0, "dba"}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Block b;
    EXPECT_EQ(ParseStringParmsStringOnly(c.text, &b.parms), c.rc);
    EXPECT_EQ(b.parms.count, kClientSlots);
    EXPECT_EQ(b.error(), c.error);
    EXPECT_EQ(b.values(), c.values);
    EXPECT_EQ((b.parms.flags & kStringParmsOldStyle) != 0, c.old_style);
  }
}

TEST(DBName, BaseNameOfADatabaseFile) {
  struct Case {
    const char* path;
    std::size_t size;
    const char* name;
  };
  const Case cases[] = {
      {"/data/demo.x", 64, "demo"}, {"c:\\db\\sales.v.db", 64, "sales"},
      {"host@db", 64, "db"},        {"plain", 64, "plain"},
      {"/dir.d/file", 64, "file"},  {"/data/verylongname.x", 5, "very"},
      {"/data/", 64, ""},           {".hidden", 64, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    char out[64];
    ParseDBName(c.path, out, c.size);
    EXPECT_STREQ(out, c.name);
  }
}

// Under a double-byte character set (here: 0x95 leads a two-byte character) a trailing
// byte that looks like '\' or '.' is part of the name, and a cut never halves a
// character.
unsigned TwoByteLead(unsigned char lead) { return lead == 0x95 ? 2 : 1; }

TEST(DBName, StepsByWholeCharacters) {
  vq::base::SetPathCharLengthFn(&TwoByteLead);
  struct Case {
    const char* path;
    std::size_t size;
    const char* name;
  };
  const Case cases[] = {
      {"c:\\db\\\x95\\x.db", 64, "\x95\\x"},
      {"/d/a\x95.b.c", 64, "a\x95.b"},
      {"/d/a\x95\\", 3, "a"},   // the two-byte character would not fit whole
      {"/d/\x95", 64, "\x95"},  // a lead byte cut by the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    char out[64];
    ParseDBName(c.path, out, c.size);
    EXPECT_STREQ(out, c.name);
  }
  vq::base::SetPathCharLengthFn(nullptr);
}

TEST_F(ConnString, VcconnectFillsOnlyEmptySlots) {
  ScopedVcconnect env("UID=envuser;PWD=envpwd;CON=envcon");
  Block b;
  ASSERT_EQ(ParseClientStringParms("UID=me;LINKS=tcpip", &b.parms), 0);
  EXPECT_EQ(b.values(), (Values{{0, "me"}, {1, "envpwd"}, {8, "envcon"}, {20, "tcpip"}}));

  Block ignored;
  ASSERT_EQ(ParseClientStringParms("UID=me;IgnoreVCCONNECT=yes", &ignored.parms), 0);
  EXPECT_EQ(ignored.values(), (Values{{0, "me"}, {34, "YES"}}));
}

TEST_F(ConnString, VcconnectErrorsReachTheCaller) {
  ScopedVcconnect env("UID=a;Nonsense=1");
  Block b;
  EXPECT_EQ(ParseClientStringParms("PWD=p", &b.parms), kParseUnknownKey);
  EXPECT_EQ(b.error(), "Nonsense");
}

TEST_F(ConnString, LongVcconnectValueIsReadWhole) {
  // A value cut at a fixed length would end a parameter in the middle.
  const std::string pad(300, 'x');
  const std::string value = "CON=" + pad + ";UID=tail";
  ScopedVcconnect env(value.c_str());
  Block b;
  ASSERT_EQ(ParseClientStringParms("", &b.parms), 0);
  EXPECT_EQ(b.values()[8], pad);
  EXPECT_EQ(b.values()[0], "tail");
}

TEST_F(ConnString, DataSourcesFillEmptySlots) {
  g_profiles["ds"] = "UID=dsuser;PWD=dspwd;ENG=dseng";
  g_profiles["file:/tmp/f.dsn"] = "UID=fileuser;LINKS=shmem";
  {
    Block b;
    ASSERT_EQ(ParseClientStringParms("DSN=ds;UID=me", &b.parms), 0);
    EXPECT_EQ(b.values(), (Values{{0, "me"}, {1, "dspwd"}, {5, "dseng"}, {10, "ds"}}));
  }
  {
    Block b;
    ASSERT_EQ(ParseClientStringParms("FILEDSN=/tmp/f.dsn", &b.parms), 0);
    EXPECT_EQ(b.values(), (Values{{0, "fileuser"}, {12, "/tmp/f.dsn"}, {20, "shmem"}}));
  }
  {
    // DataSourceName wins over FileDataSourceName.
    Block b;
    ASSERT_EQ(ParseClientStringParms("FILEDSN=/tmp/f.dsn;DSN=ds", &b.parms), 0);
    EXPECT_EQ(b.values()[0], "dsuser");
  }
  {
    Block b;
    EXPECT_EQ(ParseClientStringParms("DSN=missing", &b.parms), kParseNoDataSource);
    EXPECT_EQ(b.error(), "missing");
    char message[128] = "untouched";
    GetParseErrorInfo(kParseNoDataSource, &b.parms, nullptr, message, sizeof message);
    EXPECT_NE(std::string(message).find("missing"), std::string::npos);
  }
}

TEST(ConnStringSeams, WithoutAProfileReaderDataSourcesComeFromTheDataSourceFile) {
  ScopedVcconnect env(nullptr);
  char path[] = "/tmp/vq_odbcini_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const char text[] = "[any]\nDatabaseName=db\nUID=ignored\n";
  ASSERT_EQ(write(fd, text, sizeof text - 1), ssize_t(sizeof text - 1));
  close(fd);
  const char* old = std::getenv("ODBCINI");
  const std::string saved = old != nullptr ? old : "";
  setenv("ODBCINI", path, 1);
  vq::config::SetProfileReader(nullptr);
  {
    Block b;
    ASSERT_EQ(ParseClientStringParms("DSN=any;UID=u", &b.parms), 0);
    EXPECT_EQ(b.values(), (Values{{0, "u"}, {2, "db"}, {10, "any"}}));
    Block missing;
    ASSERT_EQ(ParseClientStringParms("DSN=none", &missing.parms), kParseNoDataSource);
    EXPECT_EQ(missing.error(), "none");
  }
  ProfileFini();
  if (old != nullptr) {
    setenv("ODBCINI", saved.c_str(), 1);
  } else {
    unsetenv("ODBCINI");
  }
  unlink(path);
}

TEST_F(ConnString, DataSourceNamedByVcconnectIsMergedAndOrdered) {
  g_profiles["envds"] = "PWD=dspwd;CON=dscon";
  ScopedVcconnect env("DSN=envds;LTO=60");
  Block b;
  int order[kParseOrderRoom];
  ASSERT_EQ(ParseODBCAndClientString("UID=me;Description=d", &b.parms, true, order), 0);
  ASSERT_EQ(AddVCCONNECTDefaults(&b.parms, true, order), 0);
  EXPECT_EQ(
      b.values(),
      (Values{{0, "me"}, {1, "dspwd"}, {8, "dscon"}, {10, "envds"}, {17, "60"}, {46, "d"}}));
  std::vector<int> listed;
  for (int k = 0; order[k] != -1; ++k) listed.push_back(order[k]);
  EXPECT_EQ(listed, (std::vector<int>{0, 46, 10, 17, 1, 8}));
  EXPECT_EQ(g_profile_reads, (std::vector<std::string>{"dsn:envds"}));
}

TEST_F(ConnString, EncryptionIsCheckedAndRebuilt) {
  {
    Block b;
    ASSERT_EQ(ParseClientStringParms("ENC=tls(tls_type=rsa;fips=yes)", &b.parms), 0);
    EXPECT_EQ(b.values()[kSlotEncryption], "tls{tls_type=rsa;fips=yes}");
  }
  {
    Block b;
    EXPECT_EQ(ParseClientStringParms("ENC=tls(a=1) x", &b.parms), kParseTextAfterGroup);
    EXPECT_EQ(b.error(), "tls(a=1) x");
  }
  char* normalised = nullptr;
  EXPECT_EQ(ParseEncryptionString(" simple , none", &normalised), 0);
  EXPECT_STREQ(normalised, "simple,none");
  ut_free(normalised);
  EXPECT_EQ(ParseEncryptionString("tls{a=1)", nullptr), kParseBrackets);
}

TEST(ConnStringBuild, QuotingSeparatorsAndMasking) {
  Block b;
  ASSERT_TRUE(InitSizedStringParms(&b.parms, kClientSlots));
  ASSERT_EQ(ParseEngStringAppend("UID=dba;CON='a b'", &b.parms), 0);
  char* text = BuildConnectString(&b.parms, false);
  EXPECT_STREQ(text, "UID=dba;CON='a b'");
  FreeConnectString(text);

  ASSERT_EQ(ParseEngStringAppend("PWD='it''s;secret';ENP=abc;DBKEY=k;NEWPWD=n;ENG=s", &b.parms),
            0);
  text = BuildConnectString(&b.parms, true);
  EXPECT_STREQ(text,
               "UID=dba;PWD=********;ServerName=s;CON='a b';ENP=********;DBKEY=********;"
               "NEWPWD=********");
  FreeConnectString(text);
  text = BuildConnectString(&b.parms, false);
  EXPECT_STREQ(text,
               "UID=dba;PWD='it''s;secret';ServerName=s;CON='a b';ENP=abc;DBKEY=k;NEWPWD=n");

  // What the builder writes parses back to the same values.
  Block again;
  ASSERT_EQ(ParseEngString(text, &again.parms), 0);
  EXPECT_EQ(again.values(), b.values());
  FreeConnectString(text);

  a_string_parms none = {};
  EXPECT_EQ(BuildConnectString(&none, false), nullptr);
}

TEST(ConnStringBuild, ValuesThatNeedQuotes) {
  const char* quoted[] = {"a'b",  "a\"b", "a;b",  "a,b",  "a=b",  "a b",
                          "a\fb", "a\nb", "a\rb", "a\tb", "a\vb", " "};
  for (const char* value : quoted) {
    SCOPED_TRACE(value);
    std::size_t length = 0;
    BuildConnectStringCalcLen(&length, "K", value, ';');
    std::string buffer(length + 1, '\0');
    buffer[0] = '\0';
    BuildConnectStringAppend(buffer.data(), "K", value, ';');
    EXPECT_EQ(std::string(buffer.c_str()).size(), length);
    EXPECT_EQ(buffer[2], '\'');
  }
  std::size_t length = 0;
  BuildConnectStringCalcLen(&length, "A", "1", ',');
  BuildConnectStringCalcLen(&length, "B", "it's", ',');
  BuildConnectStringCalcLen(&length, nullptr, "x", ',');
  char buffer[32] = "";
  BuildConnectStringAppend(buffer, "A", "1", ',');
  BuildConnectStringAppend(buffer, "B", "it's", ',');
  BuildConnectStringAppend(buffer, "C", nullptr, ',');
  EXPECT_STREQ(buffer, "A=1,B='it''s'");
  EXPECT_EQ(length, std::strlen(buffer));

  Block sync;
  ASSERT_EQ(ParseSyncStringParms("MEM=1M;V=yes;DIR=a,b", &sync.parms), 0);
  char* text = BuildSyncString(&sync.parms);
  EXPECT_STREQ(text, "MEM=1M,V=YES,DIR='a,b'");
  FreeConnectString(text);
}

TEST(ConnStringBuild, BuiltStringsParseBackToTheSameValues) {
  const char* values[] = {" lead", "trail ",     "\vvertical", "\fform", "it's", "a;b",  "x=y",
                          "\"q\"", "tcpip(a;b)", "-x a(b c)",  "a,b",    "''",   "plain"};
  const int slots[] = {kSlotConnectionName, kSlotStartLine, kSlotCommLinks, kSlotPassword};
  for (const char* value : values) {
    for (int slot : slots) {
      SCOPED_TRACE(std::string(value) + " in slot " + std::to_string(slot));
      Block b;
      ASSERT_TRUE(InitSizedStringParms(&b.parms, kClientSlots));
      b.parms.values[slot] = static_cast<char*>(ut_memdup(value, std::strlen(value) + 1));
      char* text = BuildConnectString(&b.parms, false);
      ASSERT_NE(text, nullptr);
      Block again;
      EXPECT_EQ(ParseEngString(text, &again.parms), 0) << text;
      EXPECT_EQ(again.values(), b.values()) << text;
      FreeConnectString(text);
    }
  }
}

TEST(ConnOptNames, ClientOracleAndOutOfRange) {
  const char* long_name = nullptr;
  const char* short_name = nullptr;
  const char* const* aliases = nullptr;
  int flag = -1;
  ASSERT_TRUE(ConnOpt_ClientOption_Strs(5, &long_name, &short_name, &aliases, &flag));
  EXPECT_STREQ(long_name, "ServerName");
  EXPECT_EQ(short_name, nullptr);
  ASSERT_NE(aliases, nullptr);
  EXPECT_STREQ(aliases[1], "ENG");
  EXPECT_EQ(flag, 1);
  ASSERT_TRUE(ConnOpt_ClientOption_Strs(47, &long_name, &short_name, &aliases, &flag));
  EXPECT_STREQ(long_name, "MSApplications");
  const int unflagged[] = {15, 24, 34, 35, 38, 39, 45, 54, 55, 56};
  for (int index = 0; index < 67; ++index) {
    ASSERT_TRUE(ConnOpt_ClientOption_Strs(index, nullptr, nullptr, nullptr, &flag));
    const bool expect_zero =
        std::find(std::begin(unflagged), std::end(unflagged), index) != std::end(unflagged);
    EXPECT_EQ(flag, expect_zero ? 0 : 1) << index;
  }
  EXPECT_FALSE(ConnOpt_ClientOption_Strs(67, &long_name, nullptr, nullptr, nullptr));
  EXPECT_FALSE(ConnOpt_ClientOption_Strs(-1, &long_name, nullptr, nullptr, nullptr));
  ASSERT_TRUE(ConnOpt_OracleOption_Strs(10, &long_name, &short_name, nullptr, &flag));
  EXPECT_STREQ(long_name, "ServiceName");
  EXPECT_STREQ(short_name, "SN");
  EXPECT_EQ(flag, 1);
  EXPECT_FALSE(ConnOpt_OracleOption_Strs(11, &long_name, nullptr, nullptr, nullptr));
}

TEST(ParseErrorInfo, MessageNumbersAndArguments) {
  const std::pair<int, unsigned> numbers[] = {{1, 7941}, {2, 7942},  {3, 7943},  {4, 7946},
                                              {5, 7944}, {6, 7945},  {7, 7946},  {8, 9371},
                                              {9, 9372}, {10, 8340}, {11, 7946}, {99, 7946}};
  for (const auto& [code, number] : numbers)
    EXPECT_EQ(vq::config::ParseErrorMessageNumber(code), number);

  Block b;
  ASSERT_EQ(ParseEngString("UID=a;Foo=1", &b.parms), kParseUnknownKey);
  char message[64] = "untouched";
  GetParseErrorInfo(0, &b.parms, nullptr, message, sizeof message);
  EXPECT_STREQ(message, "untouched");
  GetParseErrorInfo(kParseUnknownKey, &b.parms, nullptr, message, sizeof message);
  EXPECT_NE(std::string(message).find("'Foo'"), std::string::npos) << message;
  char tiny[8];
  GetParseErrorInfo(kParseUnknownKey, &b.parms, nullptr, tiny, sizeof tiny);
  EXPECT_EQ(std::string(tiny).size(), sizeof tiny - 1);

  // An installed formatter gets the message number and its argument.
  static unsigned seen_number;
  static std::string seen_argument;
  vq::config::SetParseMessageFormatter([](UTLangStringBase*, unsigned number,
                                          const char* argument, char* buffer,
                                          std::size_t size) {
    seen_number = number;
    seen_argument = argument;
    std::snprintf(buffer, size, "#%u", number);
  });
  GetParseErrorInfo(kParseNoMemory, &b.parms, nullptr, message, sizeof message);
  EXPECT_EQ(seen_number, 7941u);
  EXPECT_EQ(seen_argument, "");
  EXPECT_STREQ(message, "#7941");
  vq::config::SetParseMessageFormatter(nullptr);
}

TEST(DecryptENP, GivesBackThePassword) {
  char* hex = IniEncryptBlock("secret");
  char* password = DecryptENP(hex);
  EXPECT_STREQ(password, "secret");
  ut_free(password);
  ut_free(hex);
}

}  // namespace
