// The local server's command line, the start-database and shut-down requests over the
// scripted presentation layer, and the application information of the connect.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "cmdseq/connect.h"
#include "cmdseq_fixture.h"
#include "config/conn_parms.h"
#include "scoped_environment.h"
#include "strm_fake.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/memory.h"

namespace {

TEST(StartLine, Table) {
  struct Case {
    const char* name;
    const char* head;
    const char* parms;
    int suppress_ha;
    const char* expected;
  };
  // AutoStop is on unless turned off.
  const Case kCases[] = {
      {"everything", "vqeng12", "DBF=/d/demo.db;ENG=srv;DBN=demo;ASTOP=yes", 0,
       "vqeng12 -ha -ga -n \"srv\" \"/d/demo.db\" -n \"demo\""},
      {"-ha suppressed", "vqeng12", "ASTOP=no;DBF=a.db", 1, "vqeng12 \"a.db\""},
      {"old server: no -ha", "vqeng8", "ASTOP=no;DBF=a.db", 0, "vqeng8 \"a.db\""},
      {"other server program name", "/opt/vqsrv10", "ASTOP=no;DBF=a.db", 0, "/opt/vqsrv10 -ha \"a.db\""},
      {"%d removed, options after the end", "vqeng12 %d-q", "ASTOP=no;DBF=a.db", 0,
       "vqeng12 -q -ha \"a.db\""},
      {"head names the server", "vqeng12 -n mine", "ASTOP=no;ENG=srv", 0, "vqeng12 -n mine"},
      {"name holding a quote goes unquoted", "vqeng12", "ASTOP=no;ENG='my\"srv'", 0,
       "vqeng12 -n my\"srv"},
      {"database key", "vqeng12", "ASTOP=no;DBF=a.db;DBKEY=k1", 1, "vqeng12 \"a.db\" -ek \"k1\""},
      {"switches naming the database keep DBN off", "vqeng12", "ASTOP=no;DBF=a.db;DBN=d;DBS='-c 8m -n x'",
       1, "vqeng12 \"a.db\" -c 8m -n x"},
      {"other switches", "vqeng12", "ASTOP=no;DBF=a.db;DBN=d;DBS='-c 8m'", 1,
       "vqeng12 \"a.db\" -c 8m -n \"d\""},
      {"no file: no switches, no database name", "vqeng12", "ASTOP=no;DBN=d;DBS='-c 8m'", 0, "vqeng12"},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    c_conn_parms parms;
    ASSERT_EQ(parms.init(k.parms, false), 0);
    char* line = i_cs_BuildStartLine(k.head, &parms, k.suppress_ha);
    ASSERT_NE(line, nullptr);
    EXPECT_STREQ(line, k.expected);
    ut_free(line);
  }
}

TEST(DatabaseControl, StartDatabaseSendsTheWholeStringWithAutoStop) {
  CmdSeqConn c;
  c_conn_parms parms;
  ASSERT_EQ(parms.init("UID=dba;PWD=sql;DBF=a.db", false), 0);
  c.sconn.item(66).item(0).sync();
  EXPECT_EQ(i_cs_StartDatabase(c.conn, &c.err, &parms), CMDSEQ_OK);
  ASSERT_EQ(c.sconn.sent.size(), 2u);
  EXPECT_EQ(c.sconn.sent[0].code, CS_ITEM_START_DATABASE);
  const std::string sent(c.sconn.sent[0].bytes.begin(), c.sconn.sent[0].bytes.end());
  EXPECT_EQ(sent, parms.getConnectionString());
  EXPECT_NE(sent.find("PWD=sql"), std::string::npos);  // unmasked: the server needs it
  EXPECT_NE(sent.find("ASTOP=TRUE"), std::string::npos) << sent;
  EXPECT_NE(parms.getBool(kSlotAutoStop), 0u);
}

TEST(DatabaseControl, ShutdownAndItsRefusal) {
  CmdSeqConn c;
  c.sconn.item(66).item(0).sync();
  EXPECT_EQ(i_cs_ShutdownEngine(c.conn, &c.err, 0), CMDSEQ_OK);
  ASSERT_EQ(c.sconn.sent.size(), 2u);
  EXPECT_EQ(c.sconn.sent[0].code, CS_ITEM_SHUTDOWN);
  EXPECT_EQ(c.sconn.sent[0].bytes, Bytes{0});
  c.sconn.item(65, error_record(-121, "42W00", "42000", "37000")).item(0).item(0);
  c.sconn.item(0).sync();
  EXPECT_EQ(i_cs_ShutdownEngine(c.conn, &c.err, 1), CMDSEQ_ERROR);
  EXPECT_EQ(c.err.sqlcode, -121);
  EXPECT_EQ(c.sconn.sent[2].bytes, Bytes{1});
  EXPECT_TRUE(c.sconn.script_done());
}

TEST(DatabaseControl, StopDatabaseNamesTheDatabase) {
  struct Case {
    const char* parms;
    Bytes flag;
    std::string name;
  };
  const Case kCases[] = {
      {"DBN=demo;UNC=yes", Bytes{1}, "demo"},
      {"DBF=/d/sales.db", Bytes{0}, "sales"},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.parms);
    CmdSeqConn c;
    c_conn_parms parms;
    ASSERT_EQ(parms.init(k.parms, false), 0);
    c.sconn.item(66).item(0).sync();
    EXPECT_EQ(i_cs_StopDatabase(c.conn, &c.err, &parms), CMDSEQ_OK);
    ASSERT_EQ(c.sconn.sent.size(), 3u);
    EXPECT_EQ(c.sconn.sent[0].code, CS_ITEM_STOP_DATABASE);
    EXPECT_EQ(c.sconn.sent[0].bytes, k.flag);
    EXPECT_EQ(c.sconn.sent[1].code, CS_ITEM_SERVER_NAME);
    EXPECT_EQ(c.sconn.sent[1].bytes, text_bytes(k.name));
  }
  CmdSeqConn c;
  c_conn_parms none;
  EXPECT_EQ(i_cs_StopDatabase(c.conn, &c.err, &none), CMDSEQ_ERROR);
  EXPECT_EQ(c.err.sqlcode, -84);
  EXPECT_TRUE(c.sconn.sent.empty());
  EXPECT_TRUE(same_engine(c.conn, "DOUBLE"));  // the double's connection is named "double"
  EXPECT_FALSE(same_engine(c.conn, "other"));
}

// --- Application information -----------------------------------------------------------

// Splits "k=v;k='v;w'" into its pairs (single quotes, doubled inside).
std::map<std::string, std::string> Pairs(const std::string& s, std::string* order) {
  std::map<std::string, std::string> out;
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t eq = s.find('=', i);
    if (eq == std::string::npos) break;
    const std::string key = s.substr(i, eq - i);
    std::string value;
    i = eq + 1;
    if (i < s.size() && s[i] == '\'') {
      for (++i; i < s.size(); ++i) {
        if (s[i] == '\'' && i + 1 < s.size() && s[i + 1] == '\'') {
          value += '\'';
          ++i;
        } else if (s[i] == '\'') {
          ++i;
          break;
        } else {
          value += s[i];
        }
      }
    } else {
      const std::size_t end = s.find(';', i);
      value = s.substr(i, end == std::string::npos ? std::string::npos : end - i);
      i = end == std::string::npos ? s.size() : end;
    }
    if (i < s.size() && s[i] == ';') ++i;
    out[key] = value;
    *order += key + ",";
  }
  return out;
}

TEST(AppInfo, EveryField) {
  vq::testing::ScopedEnvironment envvars;
  envvars.Set("TZ", "XYZ+3:30");  // 3.5 hours west: -12600 seconds
  strm_fake_reset();
  strm_fake().address_type = 6;
  strm_fake().local_address = "127.0.0.1";
  CmdSeqConn c;
  c.env.app_type = 2;
  c.conn->server_strm_ver = 13;
  char* text = i_cs_BuildAppInfo(c.conn, "tag=a;b");
  ASSERT_NE(text, nullptr);
  std::string order;
  auto pairs = Pairs(text, &order);
  ut_free(text);
  EXPECT_EQ(pairs["IP"], "127.0.0.1");  // the interface in the link end's subnet
  EXPECT_FALSE(pairs["HOST"].empty());
  EXPECT_FALSE(pairs["OSUSER"].empty());
  EXPECT_FALSE(pairs["OS"].empty());
  EXPECT_NE(pairs["EXE"].find("unit_cmdseq"), std::string::npos);
  EXPECT_EQ(pairs["PID"], "0x" + [] {
    char b[16];
    std::snprintf(b, sizeof b, "%x", static_cast<unsigned>(getpid()));
    return std::string(b);
  }());
  EXPECT_EQ(pairs["THREAD"].rfind("0x", 0), 0u);
  EXPECT_EQ(pairs["VERSION"], "12.0.0.2566");
  EXPECT_EQ(pairs["API"], "ODBC");
  EXPECT_EQ(pairs["TIMEZONEADJUSTMENT"], "-210");
  EXPECT_EQ(pairs["APPINFO"], "tag=a;b");
  EXPECT_EQ(order, "IP,HOST,OSUSER,OS,EXE,PID,THREAD,VERSION,API,TIMEZONEADJUSTMENT,APPINFO,");
  strm_fake_reset();
}

TEST(AppInfo, FieldsThatDependOnTheConnection) {
  struct Case {
    const char* name;
    std::uint16_t level;
    std::uint32_t app_type;
    const char* appinfo;
    bool osuser;
    const char* api;       // null: no key
    const char* api_name;  // the environment's interface name, or null
  };
  const Case kCases[] = {
      {"level 12 has no OSUSER", 12, 2, nullptr, false, "ODBC", nullptr},
      {"level 13 has it", 13, 1, "", true, "VCLIB", nullptr},
      {"OLEDB", 15, 3, nullptr, true, "OLEDB", nullptr},
      {"ADO.NET", 15, 4, nullptr, true, "ADO.NET", nullptr},
      {"unknown application type: no API", 15, 9, nullptr, true, nullptr, nullptr},
      {"an interface name wins over the type", 15, 2, nullptr, true, "QuillonJDBC",
       "QuillonJDBC"},
      {"even over a type that names none", 15, 9, nullptr, true, "CAPI_PYTHON", "CAPI_PYTHON"},
      {"an empty interface name says nothing", 15, 2, nullptr, true, "ODBC", ""},
  };
  strm_fake_reset();
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    CmdSeqConn c;
    c.env.app_type = k.app_type;
    c.env.api_name = k.api_name != nullptr ? ut_strdup(k.api_name) : nullptr;
    c.conn->server_strm_ver = k.level;
    char* text = i_cs_BuildAppInfo(c.conn, k.appinfo);
    ut_free(c.env.api_name);
    c.env.api_name = nullptr;
    ASSERT_NE(text, nullptr);
    std::string order;
    auto pairs = Pairs(text, &order);
    ut_free(text);
    EXPECT_EQ(pairs.count("OSUSER") != 0, k.osuser);
    EXPECT_EQ(pairs.count("API") != 0, k.api != nullptr);
    if (k.api != nullptr) {
      EXPECT_EQ(pairs["API"], k.api);
    }
    EXPECT_EQ(pairs.count("APPINFO"), 0u);  // empty or not given
    if (pairs.count("IP") != 0) {
      EXPECT_NE(pairs["IP"].rfind("127.", 0), 0u);  // never the loopback
    }
  }
}

}  // namespace

namespace {

a_strm_conn_rec g_probe_stream;
a_cmdseq_conn* ProbeFinds(a_cmdseq_env* env, c_conn_parms*, a_cmdseq_error_info*,
                          a_cmdseq_conn_attrib*, const a_cmdseq_strconn_param*) {
  return new a_cmdseq_conn(env, &g_probe_stream);
}

TEST(StartEngine, RefusedWithoutAStart) {
  struct Case {
    const char* name;
    const char* parms;
    int skip_probe;
    std::int32_t sqlcode;
    std::uint32_t was_running;
  };
  const Case kCases[] = {
      {"nothing names a server", "UID=dba", 1, -87, 0},
      {"only a database name", "UID=dba;DBN=demo", 1, -72, 0},
      {"a server already runs", "UID=dba;ENG=s", 0, -96, 1},
  };
  i_cs_SetEngineConnect(ProbeFinds);
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    a_cmdseq_env env;
    a_cmdseq_error_info err;
    CmdSeqInitErrorParam(&env, &err, 0);
    c_conn_parms parms;
    ASSERT_EQ(parms.init(k.parms, false), 0);
    std::uint32_t running = 9;
    std::int32_t pid = 9;
    char name[64] = "x";
    EXPECT_EQ(i_cs_StartEngine(&parms, &env, &err, &running, name, sizeof name, 0, k.skip_probe,
                               &pid),
              CMDSEQ_ERROR);
    EXPECT_EQ(err.sqlcode, k.sqlcode);
    EXPECT_EQ(running, k.was_running);
    EXPECT_EQ(pid, 0);
    EXPECT_STREQ(name, "");
    if (k.was_running != 0) {
      EXPECT_EQ(g_probe_stream.disconnects, 1);  // the probe is dropped
    }
    CmdSeqFiniErrorParam(&err);
  }
  i_cs_SetEngineConnect(nullptr);
}

// Without a communication environment to be had (the library is not started here) the
// engine connect fails before it looks for a server.
TEST(EngineConnect, NoStreamEnvironmentIsAnError) {
  a_cmdseq_env env;
  a_cmdseq_error_info err;
  CmdSeqInitErrorParam(&env, &err, 0);
  c_conn_parms parms;
  ASSERT_EQ(parms.init("UID=dba;ENG=s", false), 0);
  a_cmdseq_engine_block block{};
  block.env = &env;
  block.parms = &parms;
  // Not a connection: the call must clear it.
  a_cmdseq_conn* conn = reinterpret_cast<a_cmdseq_conn*>(&block);
  EXPECT_EQ(CmdSeqEngineConnect(&conn, &err, &block), CMDSEQ_NOT_CONNECTED);
  EXPECT_EQ(conn, nullptr);
  EXPECT_EQ(err.sqlcode, -876);
  EXPECT_EQ(env.strm_env, nullptr);

  // An installed engine connect stands in for the stack, its environment included.
  CmdSeqResetErrorParam(&err, nullptr);
  i_cs_SetEngineConnect(ProbeFinds);
  EXPECT_EQ(CmdSeqEngineConnect(&conn, &err, &block), CMDSEQ_OK);
  i_cs_SetEngineConnect(nullptr);
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(err.sqlcode, 0);
  (void)CmdSeqDropConnection(conn, &err);
  CmdSeqFiniErrorParam(&err);
}

}  // namespace
