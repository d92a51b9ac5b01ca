// Redirection end to end: vqeng12 "first" answers the database connect with a
// redirection to vqeng12 "second"; the client drops the first connection, rewrites its
// parameters from the entry, connects to the second server and runs a statement there.
// A second redirection, from the server reached through the first one, is not followed,
// and an entry that leads to no server ends the connect with "server not found".
//
// What the client keeps of its own parameters across the hop: ServerName becomes the
// entry's name; DatabaseName, CommLinks and Host become the entry's values (unset when
// the entry gives none); NodeType is cleared; every other slot stays, the user id and
// password among them. The password travels to the new server enciphered under that
// server's own random bytes (the second server could not read it otherwise).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/option_tables.h"
#include "e2e_session.h"

namespace {

using vq_e2e::Link;

// How the redirection entry reaches the second server.
enum class Route {
  kSharedMemory,  // no CommLinks, no Host: shared memory to the named server
  kCommLinks,     // CommLinks=tcpip(host=127.0.0.1;port=N;DoBroadcast=NONE)
  kHost,          // Host=127.0.0.1:N (the stream layer makes it a TCP/IP link)
};

struct RouteCase {
  const char* name;
  Route route;
  bool long_entry;  // the entry's parameters outgrow a short item (a long item 107)
};

const RouteCase kRoutes[] = {
    {"SharedMemory", Route::kSharedMemory, false},
    {"CommLinks", Route::kCommLinks, false},
    {"Host", Route::kHost, false},
    {"LongEntry", Route::kCommLinks, true},
};

// The connection parameters a redirection entry names for `server`. A long entry carries
// an AppInfo of 400 characters besides, which the client takes nothing from.
std::string EntryParameters(const RouteCase& c, const vq_e2e::Server& server,
                            const std::string& dbn) {
  const Route route = c.route;
  std::string p =
      c.long_entry ? "AppInfo=" + std::string(400, 'x') + ";DBN=" + dbn : "DBN=" + dbn;
  if (route == Route::kCommLinks) {
    p += ";CommLinks=tcpip(host=127.0.0.1;port=" + std::to_string(server.port()) +
         ";DoBroadcast=NONE)";
  } else if (route == Route::kHost) {
    p += ";Host=127.0.0.1:" + std::to_string(server.port());
  }
  return p;
}

// The link the client uses to reach the first server: TCP/IP when the entry does.
Link FirstLink(Route route) {
  return route == Route::kSharedMemory ? Link::kSharedMemory : Link::kTcpIp;
}

// Files of one test (fault scripts, request logs) in a folder of the test's VCTMP.
class Files {
 public:
  explicit Files(const vq_e2e::TempVctmp& vctmp) : dir_(vctmp.path() + "/redirect") {
    std::filesystem::create_directories(dir_);
  }
  std::string Write(const std::string& name, const std::string& text) const {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << text << "\n";
    return path;
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

// The lines of a request log that hold `needle`.
std::vector<std::string> LinesWith(const std::string& log, const std::string& needle) {
  std::vector<std::string> found;
  for (const std::string& line : vq_e2e::FileLines(log)) {
    if (line.find(needle) != std::string::npos) found.push_back(line);
  }
  return found;
}

// A request log whole, for failure messages.
std::string LogText(const std::string& log) {
  std::string text = log + ":\n";
  for (const std::string& line : vq_e2e::FileLines(log)) text += "  " + line + "\n";
  return text;
}

std::string Slot(c_conn_parms& parms, int slot) {
  const char* v = parms.getString(slot);
  return v != nullptr ? v : "<unset>";
}

class CmdSeqRedirectEndToEnd : public testing::TestWithParam<RouteCase> {};

TEST_P(CmdSeqRedirectEndToEnd, FollowsOneHopAndRunsAStatementThere) {
  const Route route = GetParam().route;
  vq_e2e::TempVctmp vctmp;
  ASSERT_FALSE(vctmp.path().empty());
  Files files(vctmp);
  const std::string log1 = files.Path("first.log");
  const std::string log2 = files.Path("second.log");

  vq_e2e::Server second("second");
  ASSERT_TRUE(second.Start({"-rl", log2}));
  const std::string entry = EntryParameters(GetParam(), second, "seconddb");
  const std::string script = files.Write("first.rules", "connect redirect second " + entry);
  vq_e2e::Server first("first");
  ASSERT_TRUE(first.Start({"-rl", log1, "--fault-script=" + script}));

  vq_e2e::Client client;
  ASSERT_TRUE(client.ok());
  c_conn_parms parms;
  const std::string client_log = files.Path("client.log");
  ASSERT_EQ(parms.init(("UID=dba;PWD=sql;DBN=firstdb;CON=hop;NodeType=PRIMARY;LogFile=" +
                        client_log + ";" + first.Links(FirstLink(route)))
                           .c_str(),
                       false),
            0);
  a_cmdseq_conn* conn = nullptr;
  int sqlcode = 0;
  ASSERT_EQ(client.Connect(&parms, &conn, &sqlcode), CMDSEQ_OK)
      << sqlcode << "\n"
      << LogText(log1) << LogText(log2);
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(client.Exec(conn, "CREATE TABLE reached_by_redirection (x INT)", &sqlcode),
            CMDSEQ_OK)
      << sqlcode;
  EXPECT_EQ(client.Disconnect(conn, &sqlcode), CMDSEQ_OK) << sqlcode;

  // The first server was asked once, with the caller's own parameters, and redirected.
  const auto asked1 = LinesWith(log1, " connect UID=");
  ASSERT_EQ(asked1.size(), 1u) << LogText(log1);
  EXPECT_NE(asked1[0].find("UID=dba DBN=firstdb ENG=first CON=hop"), std::string::npos)
      << asked1[0];
  EXPECT_NE(asked1[0].find(" NODETYPE=PRIMARY"), std::string::npos) << asked1[0];
  EXPECT_NE(asked1[0].find(" PWD=enciphered"), std::string::npos) << asked1[0];
  EXPECT_EQ(LinesWith(log1, "connect redirected to second").size(), 1u);
  EXPECT_TRUE(LinesWith(log1, "exec-immediate").empty());

  // The second server got the same user and password (enciphered for its own random
  // bytes: it accepted them), the entry's server and database names, no NodeType, and
  // ran the statement.
  const auto asked2 = LinesWith(log2, " connect UID=");
  ASSERT_EQ(asked2.size(), 1u) << LogText(log2);
  EXPECT_NE(asked2[0].find("UID=dba DBN=seconddb ENG=second CON=hop"), std::string::npos)
      << asked2[0];
  EXPECT_EQ(asked2[0].find("NODETYPE"), std::string::npos) << asked2[0];
  EXPECT_NE(asked2[0].find(" PWD=enciphered"), std::string::npos) << asked2[0];
  EXPECT_TRUE(LinesWith(log2, "connect refused").empty());
  EXPECT_EQ(LinesWith(log2, "exec-immediate CREATE TABLE reached_by_redirection").size(), 1u);
  // Over the link the entry named.
  EXPECT_EQ(LinesWith(log2, "shared memory link").size(),
            route == Route::kSharedMemory ? 1u : 0u)
      << LogText(log2);

  // The client's log names the entry it followed (a log line holds at most 256
  // characters of a message, so a long entry shows only its start).
  const std::string followed = "Connection parameter second: ";
  const auto named = LinesWith(client_log, followed);
  ASSERT_EQ(named.size(), 1u) << LogText(client_log);
  const std::string shown = named[0].substr(named[0].find(followed) + followed.size());
  EXPECT_FALSE(shown.empty());
  EXPECT_EQ(entry.compare(0, shown.size(), shown), 0) << shown;
  if (!GetParam().long_entry) {
    EXPECT_EQ(shown, entry);
  }

  // The caller's parameters keep the rewrite.
  EXPECT_EQ(Slot(parms, kSlotServerName), "second");
  EXPECT_EQ(Slot(parms, kSlotDatabaseName), "seconddb");
  const std::string port2 = std::to_string(second.port());
  EXPECT_EQ(Slot(parms, kSlotCommLinks),
            route == Route::kCommLinks
                ? "tcpip(host=127.0.0.1;port=" + port2 + ";DoBroadcast=NONE)"
                : std::string("<unset>"));
  EXPECT_EQ(Slot(parms, kCsSlotHost),
            route == Route::kHost ? "127.0.0.1:" + port2 : std::string("<unset>"));
  EXPECT_EQ(Slot(parms, kCsSlotNodeType), "<unset>");
  EXPECT_EQ(Slot(parms, kSlotUserID), "dba");
  EXPECT_EQ(Slot(parms, kSlotPassword), "sql");
  EXPECT_EQ(Slot(parms, kSlotConnectionName), "hop");
}

TEST_P(CmdSeqRedirectEndToEnd, SecondRedirectionIsNotFollowed) {
  const Route route = GetParam().route;
  vq_e2e::TempVctmp vctmp;
  ASSERT_FALSE(vctmp.path().empty());
  Files files(vctmp);
  const std::string log1 = files.Path("first.log");
  const std::string log2 = files.Path("second.log");
  const std::string log3 = files.Path("third.log");

  // third would take the connection; second sends the client there, first to second.
  vq_e2e::Server third("third");
  ASSERT_TRUE(third.Start({"-rl", log3}));
  vq_e2e::Server second("second");
  ASSERT_TRUE(second.Start(
      {"-rl", log2,
       "--fault-script=" +
           files.Write("second.rules", "connect redirect third " +
                                           EntryParameters(GetParam(), third, "thirddb"))}));
  vq_e2e::Server first("first");
  ASSERT_TRUE(first.Start(
      {"-rl", log1,
       "--fault-script=" +
           files.Write("first.rules", "connect redirect second " +
                                          EntryParameters(GetParam(), second, "seconddb"))}));

  vq_e2e::Client client;
  ASSERT_TRUE(client.ok());
  a_cmdseq_conn* conn = nullptr;
  int sqlcode = 0;
  EXPECT_EQ(client.Connect("UID=dba;PWD=sql;" + first.Links(FirstLink(route)), &conn, &sqlcode),
            CMDSEQ_COMM_FAILURE);
  EXPECT_EQ(sqlcode, -1380) << LogText(log1) << LogText(log2) << LogText(log3);
  EXPECT_EQ(conn, nullptr);

  EXPECT_EQ(LinesWith(log1, "connect redirected to second").size(), 1u);
  EXPECT_EQ(LinesWith(log2, "connect redirected to third").size(), 1u);
  // The client never asked the third server.
  EXPECT_TRUE(LinesWith(log3, " connect UID=").empty()) << LogText(log3);
}

TEST_P(CmdSeqRedirectEndToEnd, AnEntryThatLeadsNowhereEndsWithServerNotFound) {
  const Route route = GetParam().route;
  vq_e2e::TempVctmp vctmp;
  ASSERT_FALSE(vctmp.path().empty());
  Files files(vctmp);
  const std::string log1 = files.Path("first.log");

  // The entry names a server that has stopped: its port and its shared-memory name lead
  // nowhere now.
  vq_e2e::Server gone("gone");
  ASSERT_TRUE(gone.Start());
  const std::string entry = EntryParameters(GetParam(), gone, "gonedb");
  gone.Stop();
  vq_e2e::Server first("first");
  ASSERT_TRUE(first.Start(
      {"-rl", log1,
       "--fault-script=" + files.Write("first.rules", "connect redirect gone " + entry)}));

  vq_e2e::Client client;
  ASSERT_TRUE(client.ok());
  a_cmdseq_conn* conn = nullptr;
  int sqlcode = 0;
  EXPECT_EQ(client.Connect("UID=dba;PWD=sql;" + first.Links(FirstLink(route)), &conn, &sqlcode),
            CMDSEQ_COMM_FAILURE);
  EXPECT_EQ(sqlcode, -100) << LogText(log1);
  EXPECT_EQ(conn, nullptr);
  EXPECT_EQ(LinesWith(log1, "connect redirected to gone").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Routes, CmdSeqRedirectEndToEnd, testing::ValuesIn(kRoutes),
                         [](const testing::TestParamInfo<RouteCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
