// The connect calls through the driver's own entry points against vqeng12, over shared
// memory and TCP/IP: SQLDriverConnect with its completed string, SQLConnect through a data
// source, the browse rounds, the completion modes, what follows the engine connect
// (isolation level, initial statement), the server's connect faults with their states,
// the login time-out against a server that never answers, and a connection whose server
// goes away.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "cmdseq/client.h"
#include "cmdseq/connect.h"
#include "config/data_source_profile.h"
#include "e2e_session.h"
#include "odbc/connect.h"
#include "odbc/diagnostics.h"
#include "odbc/library_start.h"
#include "streams/stream_api.h"

namespace {

using vq_e2e::Link;
using Clock = std::chrono::steady_clock;

struct Diag {
  std::string state;
  SQLINTEGER native = 0;
  std::string text;
};

Diag FirstDiag(SQLHDBC dbc) {
  SQLCHAR state[6] = {0};
  SQLINTEGER native = 0;
  SQLCHAR text[600] = {0};
  SQLSMALLINT length = 0;
  Diag d;
  const SQLRETURN rc =
      SQLGetDiagRec(SQL_HANDLE_DBC, dbc, 1, state, &native, text, sizeof text, &length);
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
    d.state = reinterpret_cast<char*>(state);
    d.native = native;
    d.text = reinterpret_cast<char*>(text);
  }
  return d;
}

// vqeng12 (started by each test, with the arguments it needs), the driver started, and one
// environment and connection made through the entry points.
class Connect : public testing::TestWithParam<Link> {
 protected:
  void SetUp() override {
    i_cs_SetEngineConnect(i_cs_EngineConnect);
    ASSERT_FALSE(vctmp_.path().empty());
    ProfileFini();
    LibInit_jdbc();
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_SUCCESS);
    ASSERT_EQ(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                            0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_SUCCESS);
  }
  void TearDown() override {
    if (Dbc()->state != kDbcAllocated) (void)SQLDisconnect(dbc_);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc_), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env_), SQL_SUCCESS);
    LibFini_jdbc();
    ProfileFini();
  }

  void StartServer(const std::string& fault_rules = "") {
    std::vector<std::string> extra;
    if (!fault_rules.empty()) {
      const std::string script = vctmp_.path() + "/faults.txt";
      std::ofstream(script) << fault_rules << "\n";
      extra.push_back("--fault-script=" + script);
    }
    ASSERT_TRUE(server_.StartWithRequestLog(log_.path(), extra));
  }

  tagDBC* Dbc() { return static_cast<tagDBC*>(dbc_); }
  std::string Links() const { return server_.Links(GetParam()); }
  std::string Credentials(const char* password = "sql") const {
    return std::string("UID=dba;PWD=") + password + ";";
  }
  SQLRETURN DriverConnect(const std::string& in, SQLUSMALLINT completion = SQL_DRIVER_NOPROMPT,
                          std::string* completed = nullptr) {
    std::vector<SQLCHAR> text(in.begin(), in.end());
    text.push_back('\0');
    SQLCHAR out[1024];
    SQLSMALLINT length = -1;
    const SQLRETURN rc =
        SQLDriverConnect(dbc_, nullptr, text.data(), SQL_NTS, out, sizeof out, &length,
                         completion);
    if (completed != nullptr && (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO)) {
      *completed = reinterpret_cast<char*>(out);
      EXPECT_EQ(length, static_cast<SQLSMALLINT>(completed->size()));
    }
    return rc;
  }
  // Nothing of a failed connect is left: the handle is not connected and the server
  // holds no session of it.
  void ExpectNothingHalfOpen() {
    EXPECT_EQ(Dbc()->state, kDbcAllocated);
    EXPECT_EQ(Dbc()->conn.load(), nullptr);
    EXPECT_EQ(Dbc()->attrs[kSlotPassword].text, nullptr);
    EXPECT_TRUE(vq_e2e::RequestLog::WaitFor([&] { return log_.OpenConnections() == 0; }));
  }

  vq_e2e::TempVctmp vctmp_;
  vq_e2e::Server server_{"odbc_connect"};
  vq_e2e::RequestLog log_{vctmp_.path() + "/requests.log"};
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
};

TEST_P(Connect, DriverConnectReturnsTheCompletedStringAndDisconnects) {
  StartServer();
  const std::string in = Credentials() + Links();
  SQLCHAR out[512];
  std::memset(out, 0x7E, sizeof out);
  SQLSMALLINT length = -1;
  std::vector<SQLCHAR> text(in.begin(), in.end());
  text.push_back('\0');
  ASSERT_EQ(SQLDriverConnect(dbc_, nullptr, text.data(), SQL_NTS, out, sizeof out, &length,
                             SQL_DRIVER_NOPROMPT),
            SQL_SUCCESS)
      << FirstDiag(dbc_).text;
  const std::string completed = reinterpret_cast<char*>(out);
  EXPECT_EQ(completed.rfind("UID=dba;PWD=sql;ServerName=odbc_connect", 0), 0u) << completed;
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(completed.size()));
  EXPECT_EQ(out[completed.size() + 1], 0x7E);
  EXPECT_EQ(Dbc()->state, kDbcConnected);
  EXPECT_STREQ(Dbc()->attrs[kSlotPassword].text, "***");
  EXPECT_EQ(Option(Dbc(), SQL_ATTR_ANSI_APP), 1u);

  // The fresh connection carries its handle as the stream's callback value, so the
  // server's messages and the dropped-connection callback reach the driver.
  a_cmdseq_conn* conn = Dbc()->conn.load();
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(StrmGetCallbackData(conn->strm_conn), reinterpret_cast<std::uintptr_t>(dbc_));
  // The engine string named the connection after its handle.
  EXPECT_EQ(std::string(StrmGetConnName(conn->strm_conn)), Dbc()->name);

  // A second connect on a connected handle is refused.
  EXPECT_EQ(DriverConnect(in), SQL_ERROR);
  EXPECT_EQ(FirstDiag(dbc_).state, "08002");

  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  ExpectNothingHalfOpen();

  // The completed string cut to the caller's buffer: 01004 with the full length.
  std::memset(out, 0x7E, sizeof out);
  ASSERT_EQ(SQLDriverConnect(dbc_, nullptr, text.data(), SQL_NTS, out, 10, &length,
                             SQL_DRIVER_NOPROMPT),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(FirstDiag(dbc_).state, "01004");
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(completed.size()));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out)), completed.substr(0, 9));
  EXPECT_EQ(out[10], 0x7E);
  EXPECT_EQ(Dbc()->state, kDbcConnected);
}

TEST_P(Connect, ConnectThroughADataSource) {
  StartServer();
  const std::string ini = vctmp_.path() + "/odbc.ini";
  vq::testing::ScopedEnvironment vars;
  vars.Set("ODBCINI", ini);
  // Links() is "ServerName=...;CommLinks=...": one key a line in the file.
  {
    std::ofstream out(ini);
    const std::string links = Links();
    const std::size_t split = links.find(';');
    out << "[e2e]\n" << links.substr(0, split) << "\n";
    if (split != std::string::npos) out << links.substr(split + 1) << "\n";
    out << "UID=nobody\n";
    // The same server, with an initial statement that fails.
    out << "[e2ewarn]\n" << links.substr(0, split) << "\n";
    if (split != std::string::npos) out << links.substr(split + 1) << "\n";
    out << "InitString=SELECT * FROM no_such_table\n";
  }
  ProfileFini();
  SQLCHAR dsn[] = "e2e";
  SQLCHAR user[] = "dba";
  SQLCHAR password[] = "sql";
  ASSERT_EQ(SQLConnect(dbc_, dsn, SQL_NTS, user, SQL_NTS, password, 3), SQL_SUCCESS)
      << FirstDiag(dbc_).text;
  EXPECT_EQ(Dbc()->state, kDbcConnected);
  EXPECT_STREQ(Dbc()->attrs[kSlotDataSourceName].text, "e2e");
  EXPECT_STREQ(Dbc()->attrs[kSlotUserID].text, "dba");  // the argument, not the file's
  EXPECT_STREQ(Dbc()->attrs[kSlotPassword].text, "***");
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  ExpectNothingHalfOpen();

  // A connect that succeeds with a warning is connected like any other: it keeps its
  // data-source name.
  SQLCHAR warn[] = "e2ewarn";
  ASSERT_EQ(SQLConnect(dbc_, warn, SQL_NTS, user, SQL_NTS, password, SQL_NTS),
            SQL_SUCCESS_WITH_INFO)
      << FirstDiag(dbc_).text;
  EXPECT_EQ(Dbc()->state, kDbcConnected);
  EXPECT_STREQ(Dbc()->attrs[kSlotDataSourceName].text, "e2ewarn");
  EXPECT_STREQ(Dbc()->attrs[kSlotPassword].text, "***");
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

// A failure after the server session opened (here the translation library cannot be
// loaded) ends that session: the handle is not left connected.
TEST_P(Connect, AFailureAfterTheSessionOpenedEndsIt) {
  StartServer();
  EXPECT_EQ(DriverConnect(Credentials() + Links() + ";TranslationDLL=/nonexistent/libnone.so"),
            SQL_ERROR);
  EXPECT_EQ(FirstDiag(dbc_).state, "IM009") << FirstDiag(dbc_).text;
  EXPECT_GE(log_.Count("app-connect"), 1);
  ExpectNothingHalfOpen();
  // The handle can be freed (a connected one could not) and connects again.
  ASSERT_EQ(DriverConnect(Credentials() + Links()), SQL_SUCCESS) << FirstDiag(dbc_).text;
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

TEST_P(Connect, BrowseRounds) {
  StartServer();
  auto browse = [&](const std::string& in, std::string* out_text) {
    std::vector<SQLCHAR> text(in.begin(), in.end());
    text.push_back('\0');
    SQLCHAR out[512];
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLBrowseConnect(dbc_, text.data(), SQL_NTS, out, sizeof out, &length);
    *out_text = reinterpret_cast<char*>(out);
    return rc;
  };
  std::string out;
  ASSERT_EQ(browse(Links(), &out), SQL_NEED_DATA);
  EXPECT_EQ(out, "UID:Userid=?;PWD:Password=?");
  // A wrong password keeps browsing, with the server's reason.
  ASSERT_EQ(browse(Credentials("wrong"), &out), SQL_NEED_DATA);
  EXPECT_EQ(FirstDiag(dbc_).state, "28000");
  EXPECT_EQ(Dbc()->state, kDbcBrowsing);
  EXPECT_EQ(Dbc()->attrs[kSlotUserID].text, nullptr);
  ASSERT_EQ(browse(Credentials(), &out), SQL_SUCCESS) << FirstDiag(dbc_).text;
  EXPECT_EQ(out.rfind("UID=dba;PWD=sql;ServerName=odbc_connect", 0), 0u) << out;
  EXPECT_EQ(Dbc()->state, kDbcConnected);
  EXPECT_EQ(browse(Credentials(), &out), SQL_ERROR);
  EXPECT_EQ(FirstDiag(dbc_).state, "08002");
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  ExpectNothingHalfOpen();
}

// The completion modes never answer "no data" while the handle is connected.
TEST_P(Connect, CompletionModes) {
  StartServer();
  // A connect that succeeds with a warning (its initial statement failed) is connected.
  const std::string warned = Credentials() + Links() + ";InitString='SELECT * FROM no_such'";
  std::string completed;
  ASSERT_EQ(DriverConnect(warned, SQL_DRIVER_COMPLETE, &completed), SQL_SUCCESS_WITH_INFO)
      << FirstDiag(dbc_).text;
  EXPECT_EQ(Dbc()->state, kDbcConnected);
  EXPECT_NE(FirstDiag(dbc_).native, 0);
  EXPECT_EQ(completed.find("NewPassword"), std::string::npos);  // the driver's own is gone
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);

  ASSERT_EQ(DriverConnect(Credentials() + Links(), SQL_DRIVER_COMPLETE_REQUIRED, &completed),
            SQL_SUCCESS);
  EXPECT_EQ(completed.find("NewPassword"), std::string::npos);
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);

  // A connect that fails would ask the dialog, which this driver has not: no data, and
  // nothing connected.
  EXPECT_EQ(DriverConnect(Credentials("wrong") + Links(), SQL_DRIVER_COMPLETE), SQL_NO_DATA);
  ExpectNothingHalfOpen();
  EXPECT_EQ(DriverConnect(Credentials("wrong") + Links(), SQL_DRIVER_NOPROMPT), SQL_ERROR);
  EXPECT_EQ(FirstDiag(dbc_).state, "28000");
  ExpectNothingHalfOpen();
}

TEST_P(Connect, WhatFollowsTheEngineConnect) {
  StartServer();
  const std::string in = Credentials() + Links() +
                         ";IsolationLevel=2;MSApp=YES;LazierAutocommit=1;DescribeCursor=never";
  ASSERT_EQ(DriverConnect(in), SQL_SUCCESS) << FirstDiag(dbc_).text;
  EXPECT_EQ(Option(Dbc(), SQL_ATTR_TXN_ISOLATION), 4u);
  EXPECT_NE(Dbc()->cap_a & kCapIsolationGiven, 0);
  EXPECT_EQ(Dbc()->behaviour, kBehavMSApplications | kBehavLazierAutocommit |
                                  kBehavDescribeCursorNever);
  const std::vector<std::string> sent = server_.Requests(Dbc()->conn.load()->server_handle);
  bool isolation_sent = false;
  for (const std::string& line : sent) {
    isolation_sent = isolation_sent || line.find("isolation_level = '2'") != std::string::npos;
  }
  EXPECT_TRUE(isolation_sent);
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);

  // An isolation level the driver does not know changes nothing.
  ASSERT_EQ(DriverConnect(Credentials() + Links() + ";IsolationLevel=read"), SQL_SUCCESS);
  EXPECT_EQ(Option(Dbc(), SQL_ATTR_TXN_ISOLATION), 4u);  // as the first connect left it
  EXPECT_EQ(Dbc()->behaviour, 0u);
}

// Each connect fault of the server gives its state, and leaves nothing half open.
TEST_P(Connect, ServerConnectFaults) {
  struct Case {
    const char* name;
    const char* rule;
    const char* state;
  };
  const Case cases[] = {
      {"refused password", "connect error -103 Invalid user ID or password", "28000"},
      {"connection dropped mid-reply", "connect drop", "08S01"},
      {"reply in a packet of unknown type", "connect corrupt", "08S01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server_.Stop();
    StartServer(c.rule);
    EXPECT_EQ(DriverConnect(Credentials() + Links()), SQL_ERROR);
    EXPECT_EQ(FirstDiag(dbc_).state, c.state) << FirstDiag(dbc_).text;
    ExpectNothingHalfOpen();
  }
  // No server at all: the client's "server not found".
  server_.Stop();
  EXPECT_EQ(DriverConnect(Credentials() + Links()), SQL_ERROR);
  EXPECT_EQ(FirstDiag(dbc_).native, -100) << FirstDiag(dbc_).text;
  EXPECT_EQ(Dbc()->state, kDbcAllocated);
  // Browsing ends with such a failure: the handle is back to allocated, nothing kept.
  const std::string in = Credentials() + Links();
  std::vector<SQLCHAR> text(in.begin(), in.end());
  text.push_back('\0');
  SQLCHAR out[64];
  SQLSMALLINT length = 0;
  EXPECT_EQ(SQLBrowseConnect(dbc_, text.data(), SQL_NTS, out, sizeof out, &length), SQL_ERROR);
  EXPECT_EQ(FirstDiag(dbc_).native, -100);
  EXPECT_EQ(Dbc()->state, kDbcAllocated);
  EXPECT_EQ(Dbc()->attrs[kSlotUserID].text, nullptr);
}

// A server that never answers the connect: the login time-out ends it.
TEST_P(Connect, TheLoginTimeOutEndsAConnectToASilentServer) {
  StartServer("connect silent");
  ASSERT_EQ(Set_option(Dbc(), SQL_ATTR_LOGIN_TIMEOUT, 2), 0);
  const auto start = Clock::now();
  EXPECT_EQ(DriverConnect(Credentials() + Links()), SQL_ERROR);
  const auto waited = Clock::now() - start;
  EXPECT_EQ(FirstDiag(dbc_).state, "HYT00") << FirstDiag(dbc_).text;
  EXPECT_GE(waited, std::chrono::seconds(2));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_EQ(Dbc()->state, kDbcAllocated);
  EXPECT_EQ(Dbc()->conn.load(), nullptr);
  EXPECT_EQ(Dbc()->login_deadline_ns.load(), 0);
}

// The server goes away under a live connection: the dropped-connection callback reaches
// the handle through the stream's callback value.
TEST_P(Connect, AStoppedServerMarksTheConnectionDropped) {
  StartServer();
  ASSERT_EQ(DriverConnect(Credentials() + Links()), SQL_SUCCESS) << FirstDiag(dbc_).text;
  EXPECT_EQ(Dbc()->dropped.load(), 0u);
  server_.Stop();
  EXPECT_TRUE(vq_e2e::RequestLog::WaitFor([&] { return Dbc()->dropped.load() != 0; },
                                          std::chrono::seconds(15)));
  // The connection is gone already: disconnecting still ends the handle's part.
  const SQLRETURN rc = SQLDisconnect(dbc_);
  EXPECT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << FirstDiag(dbc_).text;
  EXPECT_EQ(Dbc()->state, kDbcAllocated);
  EXPECT_EQ(Dbc()->conn.load(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Links, Connect, testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         [](const testing::TestParamInfo<Link>& info) {
                           return std::string(vq_e2e::LinkName(info.param));
                         });

}  // namespace
