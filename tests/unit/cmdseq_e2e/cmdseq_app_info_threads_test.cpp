// The application information a connect sends, read back from vqeng12's request log and
// checked field by field against what this process is: its address, host, user, system,
// program, process and thread, the client version, the interface and the time zone,
// followed by the application's own AppInfo text.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/option_tables.h"
#include "e2e_session.h"
#include "scoped_environment.h"

namespace {

using vq_e2e::Link;
using Pairs = std::vector<std::pair<std::string, std::string>>;

// Splits "K=V;K='v;''w'''" into its pairs, in order, values unquoted. False when the text
// is not such a list.
bool ParsePairs(const std::string& text, Pairs* out) {
  out->clear();
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t eq = text.find('=', i);
    if (eq == std::string::npos) return false;
    std::string key = text.substr(i, eq - i);
    if (key.empty() || key.find(';') != std::string::npos) return false;
    i = eq + 1;
    std::string value;
    if (i < text.size() && text[i] == '\'') {
      for (++i;; ++i) {
        if (i >= text.size()) return false;  // unterminated quote
        if (text[i] == '\'') {
          if (i + 1 < text.size() && text[i + 1] == '\'') {
            value += '\'';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        value += text[i];
      }
      if (i < text.size() && text[i] != ';') return false;
    } else {
      const std::size_t end = std::min(text.find(';', i), text.size());
      value = text.substr(i, end - i);
      i = end;
    }
    out->emplace_back(key, value);
    if (i < text.size()) ++i;  // the ';'
  }
  return true;
}

std::vector<std::string> Keys(const Pairs& pairs) {
  std::vector<std::string> keys;
  for (const auto& p : pairs) keys.push_back(p.first);
  return keys;
}

std::string Value(const Pairs& pairs, const std::string& key) {
  for (const auto& p : pairs) {
    if (p.first == key) return p.second;
  }
  return "<absent>";
}

// The application information of the server's one connect line: the text between " APP="
// and the password marker, which the log writes last.
bool LoggedAppInfo(const std::string& log, std::string* line, Pairs* pairs) {
  std::vector<std::string> connects;
  for (const std::string& l : vq_e2e::FileLines(log)) {
    if (l.find(" connect UID=") != std::string::npos) connects.push_back(l);
  }
  if (connects.size() != 1) {
    ADD_FAILURE() << connects.size() << " connect lines in " << log;
    return false;
  }
  *line = connects[0];
  const std::size_t from = line->find(" APP=");
  const std::size_t to = line->rfind(" PWD=");
  if (from == std::string::npos || to == std::string::npos || to < from) {
    ADD_FAILURE() << "no application information in: " << *line;
    return false;
  }
  const std::string app = line->substr(from + 5, to - from - 5);
  if (!ParsePairs(app, pairs)) {
    ADD_FAILURE() << "not a list of pairs: " << app;
    return false;
  }
  return true;
}

// What this process is, found without the client's help.
std::vector<std::string> NonLoopbackIPv4() {
  std::vector<std::string> found;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return found;
  for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    if ((a->ifa_flags & IFF_LOOPBACK) != 0) continue;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text,
              sizeof text);
    found.push_back(text);
  }
  freeifaddrs(list);
  return found;
}

std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

std::string UserName() {
  const passwd* pw = getpwuid(getuid());
  return pw != nullptr ? pw->pw_name : "";
}

std::string SystemText() {
  utsname u{};
  uname(&u);
  return std::string(u.sysname) + " " + u.release + " " + u.version + " " + u.machine;
}

std::string Hex(unsigned long value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%lx", value);
  return text;
}

// Minutes east of UTC now, truncated toward zero, under the current TZ.
std::string ZoneMinutes() {
  tzset();
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return std::to_string(local.tm_gmtoff / 60);
}

// Connects once on a thread of its own, so that the thread the information names is not
// the test's; the connection is closed again at once.
struct ConnectOutcome {
  a_cmdseq_return result = CMDSEQ_FAILED;
  int sqlcode = 0;
  unsigned long thread = 0;
};
ConnectOutcome ConnectOnAThread(vq_e2e::Client& client, c_conn_parms* parms) {
  ConnectOutcome out;
  std::thread t([&] {
    out.thread = static_cast<unsigned long>(pthread_self());
    a_cmdseq_conn* conn = nullptr;
    out.result = client.Connect(parms, &conn, &out.sqlcode);
    if (conn != nullptr) (void)client.Disconnect(conn);
  });
  t.join();
  return out;
}

class CmdSeqAppInfoEndToEnd : public testing::TestWithParam<Link> {};

TEST_P(CmdSeqAppInfoEndToEnd, EveryFieldNamesThisProcess) {
  vq_e2e::TempVctmp vctmp;
  ASSERT_FALSE(vctmp.path().empty());
  const std::string log = vctmp.path() + "/requests.log";
  vq_e2e::Server server("infoeng");
  ASSERT_TRUE(server.Start({"-rl", log}));
  vq_e2e::Client client;
  ASSERT_TRUE(client.ok());
  const std::string client_log = vctmp.path() + "/client.log";
  c_conn_parms parms;
  ASSERT_EQ(
      parms.init(
          ("UID=dba;PWD=sql;LogFile=" + client_log + ";" + server.Links(GetParam())).c_str(),
          false),
      0);
  parms.setString(kCsSlotAppInfo, "report=monthly;owner=o'hara");
  const ConnectOutcome c = ConnectOnAThread(client, &parms);
  ASSERT_EQ(c.result, CMDSEQ_OK) << c.sqlcode;

  std::string line;
  Pairs app;
  ASSERT_TRUE(LoggedAppInfo(log, &line, &app));
  SCOPED_TRACE(line);
  const std::vector<std::string> addresses = NonLoopbackIPv4();
  std::vector<std::string> keys = {
      "HOST",   "OSUSER", "OS", "EXE", "PID", "THREAD", "VERSION", "API", "TIMEZONEADJUSTMENT",
      "APPINFO"};
  if (!addresses.empty()) keys.insert(keys.begin(), "IP");
  EXPECT_EQ(Keys(app), keys);

  // The address is that of an IPv4 interface other than the loopback, over either link:
  // the TCP/IP link gives no local address of its own, so even a loopback connection
  // names the machine's first such interface.
  if (!addresses.empty()) {
    EXPECT_NE(std::find(addresses.begin(), addresses.end(), Value(app, "IP")), addresses.end())
        << Value(app, "IP");
  }
  EXPECT_EQ(Value(app, "HOST"), HostName());
  EXPECT_EQ(Value(app, "OSUSER"), UserName());
  EXPECT_EQ(Value(app, "OS"), SystemText());
  EXPECT_EQ(Value(app, "EXE"), std::filesystem::read_symlink("/proc/self/exe").string());
  EXPECT_EQ(Value(app, "PID"), Hex(static_cast<unsigned long>(getpid())));
  EXPECT_EQ(Value(app, "THREAD"), Hex(c.thread));
  EXPECT_EQ(Value(app, "VERSION"), "12.0.0.2566");
  EXPECT_EQ(Value(app, "API"), "ODBC");
  EXPECT_EQ(Value(app, "TIMEZONEADJUSTMENT"), ZoneMinutes());
  EXPECT_EQ(Value(app, "APPINFO"), "report=monthly;owner=o'hara");
  // The password stays out of the log.
  EXPECT_EQ(line.find("sql"), std::string::npos);

  // The client's own log shows the same text whole, on the line after its heading.
  const std::vector<std::string> logged = vq_e2e::FileLines(client_log);
  const auto heading = std::find_if(logged.begin(), logged.end(), [](const std::string& l) {
    return l.size() >= 24 && l.compare(l.size() - 24, 24, "Application information:") == 0;
  });
  ASSERT_NE(heading, logged.end());
  ASSERT_NE(heading + 1, logged.end());
  Pairs in_log;
  const std::size_t text_at = (heading + 1)->find(' ');  // after the time
  ASSERT_NE(text_at, std::string::npos);
  ASSERT_TRUE(ParsePairs((heading + 1)->substr(text_at + 1), &in_log)) << *(heading + 1);
  EXPECT_EQ(in_log, app);
}

INSTANTIATE_TEST_SUITE_P(Links, CmdSeqAppInfoEndToEnd,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         [](const testing::TestParamInfo<Link>& info) {
                           return vq_e2e::LinkName(info.param);
                         });

// What varies with the caller: the interface name, the application type, the AppInfo
// text, the time zone and the server's protocol level.
TEST(CmdSeqAppInfoEndToEndCases, FieldsFollowTheCaller) {
  struct Case {
    const char* name;
    int app_type;          // of the client environment
    const char* api_name;  // set on the environment, or null
    const char* appinfo;   // AppInfo, or null
    const char* tz;        // TZ for the connect
    std::uint16_t level;   // protocol level asked for; 0: the client's own
    const char* api;       // API expected
    const char* zone;      // TIMEZONEADJUSTMENT expected
    bool osuser;           // OSUSER expected
  };
  const Case cases[] = {
      {"interface name set", 2, "QuillonJDBC", nullptr, "UTC0", 0, "QuillonJDBC", "0", true},
      {"client library", 1, nullptr, nullptr, "UTC0", 0, "VCLIB", "0", true},
      {"OLE DB", 3, nullptr, nullptr, "UTC0", 0, "OLEDB", "0", true},
      {"ADO.NET", 4, nullptr, nullptr, "UTC0", 0, "ADO.NET", "0", true},
      {"empty AppInfo is left out", 2, nullptr, "", "UTC0", 0, "ODBC", "0", true},
      {"AppInfo with quotes", 2, nullptr, "'x'='y';", "UTC0", 0, "ODBC", "0", true},
      {"west of UTC", 2, nullptr, nullptr, "XYZ+3:30", 0, "ODBC", "-210", true},
      {"seconds truncated toward zero", 2, nullptr, nullptr, "XYZ+3:30:59", 0, "ODBC", "-210",
       true},
      {"east of UTC", 2, nullptr, nullptr, "ABC-5:45", 0, "ODBC", "345", true},
      {"level 12 names no user", 2, nullptr, nullptr, "UTC0", 12, "ODBC", "0", false},
  };
  vq_e2e::TempVctmp vctmp;
  ASSERT_FALSE(vctmp.path().empty());
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string log = vctmp.path() + "/requests" + std::to_string(++n) + ".log";
    vq_e2e::Server server("caseeng");
    ASSERT_TRUE(server.Start({"-rl", log}));
    // TZ changes before the client's threads start and is back once they have ended.
    vq::testing::ScopedEnvironment zone{{"TZ"}};
    zone.Set("TZ", c.tz);
    std::string expected_zone;
    {
      vq_e2e::Client client;
      ASSERT_TRUE(client.ok());
      client.env()->app_type = c.app_type;
      if (c.api_name != nullptr) {
        ASSERT_EQ(CmdSeqSetAPIName(client.env(), c.api_name), 1);
      }
      if (c.level != 0) client.ForceLevel(c.level, 312);
      c_conn_parms parms;
      ASSERT_EQ(
          parms.init(("UID=dba;PWD=sql;" + server.Links(Link::kSharedMemory)).c_str(), false),
          0);
      if (c.appinfo != nullptr) parms.setString(kCsSlotAppInfo, c.appinfo);
      const ConnectOutcome outcome = ConnectOnAThread(client, &parms);
      ASSERT_EQ(outcome.result, CMDSEQ_OK) << outcome.sqlcode;
    }
    expected_zone = ZoneMinutes();
    EXPECT_EQ(expected_zone, c.zone);  // the oracle agrees with the row

    std::string line;
    Pairs app;
    ASSERT_TRUE(LoggedAppInfo(log, &line, &app));
    SCOPED_TRACE(line);
    EXPECT_EQ(Value(app, "API"), c.api);
    EXPECT_EQ(Value(app, "TIMEZONEADJUSTMENT"), c.zone);
    EXPECT_EQ(Value(app, "OSUSER"), c.osuser ? UserName() : "<absent>");
    const bool with_appinfo = c.appinfo != nullptr && c.appinfo[0] != '\0';
    EXPECT_EQ(Value(app, "APPINFO"), with_appinfo ? c.appinfo : "<absent>");
    // Below level 13 the password travels in the connect string itself.
    EXPECT_NE(line.find(c.level == 12 ? " PWD=plain" : " PWD=enciphered"), std::string::npos);
  }
  tzset();
}

}  // namespace
