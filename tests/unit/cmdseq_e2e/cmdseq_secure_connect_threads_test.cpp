// Logins end to end over the real communication stack against vqeng12, over shared memory
// and TCP/IP. With user and password: the password travels only in the enciphered part,
// refusals arrive with their SQL codes, states and texts, and a connection lives as long
// as its references. With Kerberos: tickets from a throwaway KDC realm on loopback, the
// system's GSS-API library loaded by name, the server mapping the principal to its user,
// and the failures a user meets (no ticket, a service the KDC does not know or whose key
// is out of date, a principal that is no user, a server without Kerberos). The Kerberos
// tests skip, saying why, when the KDC programs are not installed.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cmdseq/options.h"
#include "e2e_session.h"
#include "kdc_realm.h"
#include "scoped_environment.h"

namespace {

using vq_e2e::ErrorSeen;
using vq_e2e::Link;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// vqeng12 with its request log in `dir`; Log() is what the server wrote since the last
// call of MarkLog().
class LoggedServer : public vq_e2e::Server {
 public:
  LoggedServer(std::string name, const std::string& dir)
      : Server(std::move(name)), log_(dir + "/" + this->name() + "-requests.log") {}
  bool Start(std::vector<std::string> extra = {}) {
    return StartWithRequestLog(log_, std::move(extra));
  }
  void MarkLog() { mark_ = ReadFile(log_).size(); }
  std::string Log() const {
    const std::string all = ReadFile(log_);
    return mark_ < all.size() ? all.substr(mark_) : std::string();
  }

 private:
  std::string log_;
  std::size_t mark_ = 0;
};

// An error block of the client's environment for one call.
class ErrorBlock {
 public:
  explicit ErrorBlock(a_cmdseq_env* env) { CmdSeqInitErrorParam(env, &err_, 0); }
  ~ErrorBlock() { CmdSeqFiniErrorParam(&err_); }
  ErrorBlock(const ErrorBlock&) = delete;
  ErrorBlock& operator=(const ErrorBlock&) = delete;
  a_cmdseq_error_info* get() { return &err_; }

 private:
  a_cmdseq_error_info err_;
};

// The server's name through a request on `conn`: a round trip that shows the connection
// works.
a_cmdseq_return AskServerName(vq_e2e::Client& client, a_cmdseq_conn* conn, std::string* name) {
  ErrorBlock err(client.env());
  char buffer[256] = {};
  const a_cmdseq_return r = i_cs_GetStrServerInfo(conn, err.get(), 1, buffer, sizeof buffer);
  *name = buffer;
  return r;
}

// --- User and password ------------------------------------------------------------------------

class PasswordLogin : public testing::TestWithParam<Link> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(vctmp_.path().empty());
    // A server with a named database, so that another database name is refused.
    ASSERT_TRUE(server_.Start({vctmp_.path() + "/demo.db", "-n", "demo"}));
    ASSERT_GT(server_.port(), 0);
    ASSERT_TRUE(client_.ok());
  }
  std::string Links() const { return server_.Links(GetParam()); }

  vq_e2e::TempVctmp vctmp_;
  LoggedServer server_{"pwdeng", vctmp_.path()};
  vq_e2e::Client client_;
};

TEST_P(PasswordLogin, PasswordTravelsEncipheredAndRefusalsCarryCodeStatesAndText) {
  struct Case {
    const char* name;
    const char* keys;
    a_cmdseq_return result;
    int sqlcode;
    const char* states[3];  // server, ODBC 3, ODBC 2
    const char* message;    // the server's text; empty when the client refused by itself
    std::vector<std::string> params;
    const char* logged;  // in the server's log of the attempt; null: nothing reached it
    const char* client_logged;  // a pattern in the connection's log, or null
  };
  const Case kCases[] = {
      // The connection keeps its log: lines after the connect carry the server's number
      // for it.
      {"right password", "UID=dba;PWD=sql;DBN=demo", CMDSEQ_OK, 0, {"00000", "00000", "00000"},
       "", {}, "connect UID=dba DBN=demo", R"(\[ *[0-9]+\] Connected to the database)"},
      // The server deciphered the part (it saw a password in it) and found it wrong.
      {"wrong password", "UID=dba;PWD=wrong;DBN=demo", CMDSEQ_ERROR, -103,
       {"28000", "28000", "28000"}, "Invalid user ID or password", {}, "PWD=enciphered", nullptr},
      {"unknown user", "UID=nobody;PWD=sql", CMDSEQ_ERROR, -103, {"28000", "28000", "28000"},
       "Invalid user ID or password", {}, "connect UID=nobody", nullptr},
      // With no database start allowed, the client reports the refusal as its own -83.
      {"unknown database", "UID=dba;PWD=sql;DBN=nosuch", CMDSEQ_ERROR, -83,
       {"08W10", "08001", "08001"}, "", {}, "connect UID=dba DBN=nosuch", nullptr},
      // The client's own refusal, before the request is sent, with its table's states.
      {"no user ID", "PWD=sql;DBN=demo", CMDSEQ_ERROR, -103, {"42WQL", "HY000", "S1000"}, "",
       {}, nullptr, nullptr},
  };
  int n = 0;
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    server_.MarkLog();
    const std::string client_log = vctmp_.path() + "/client" + std::to_string(++n) + ".log";
    a_cmdseq_conn* conn = nullptr;
    EXPECT_EQ(client_.Connect(std::string(k.keys) + ";LogFile=" + client_log + ";" + Links(),
                              &conn),
              k.result);
    const ErrorSeen seen = client_.LastConnectError();
    EXPECT_EQ(seen.sqlcode, k.sqlcode);
    EXPECT_EQ(seen.server_state, k.states[0]);
    EXPECT_EQ(seen.odbc3_state, k.states[1]);
    EXPECT_EQ(seen.odbc2_state, k.states[2]);
    EXPECT_EQ(seen.message, k.message);
    EXPECT_EQ(seen.params, k.params);
    if (conn != nullptr) {
      int sqlcode = 0;
      EXPECT_EQ(client_.Disconnect(conn, &sqlcode), CMDSEQ_OK) << sqlcode;
    }
    const std::string log = server_.Log();
    if (k.logged != nullptr) {
      EXPECT_NE(log.find(k.logged), std::string::npos) << log;
      // From protocol level 13 on, a password in the connect string itself is refused:
      // whatever reached the server came enciphered.
      EXPECT_EQ(log.find("PWD=plain"), std::string::npos) << log;
    } else {
      EXPECT_EQ(log.find("connect UID="), std::string::npos) << log;
    }
    if (k.client_logged != nullptr) {
      const std::string logged = ReadFile(client_log);
      EXPECT_TRUE(std::regex_search(logged, std::regex(k.client_logged))) << logged;
    }
  }
}

// A connection lives while it is referenced: a second reference survives one release
// and a disconnect, and the last release ends it.
TEST_P(PasswordLogin, ReferencesKeepAConnectionUntilTheLastRelease) {
  a_cmdseq_conn* conn = nullptr;
  int sqlcode = 0;
  ASSERT_EQ(client_.Connect("UID=dba;PWD=sql;" + Links(), &conn, &sqlcode), CMDSEQ_OK) << sqlcode;
  ASSERT_NE(conn, nullptr);

  CmdSeqConnAddRef(conn);
  EXPECT_EQ(CmdSeqConnRelease(conn), 1);
  // The connection still works after that release.
  std::string name;
  EXPECT_EQ(AskServerName(client_, conn, &name), CMDSEQ_OK);
  EXPECT_EQ(name, "pwdeng");

  // Referenced twice, the connection outlives its disconnect: it is no longer connected,
  // a second disconnect only releases the last reference.
  CmdSeqConnAddRef(conn);
  server_.MarkLog();
  EXPECT_EQ(client_.Disconnect(conn, &sqlcode), CMDSEQ_OK) << sqlcode;
  EXPECT_EQ(CmdSeqConnIsValid(conn), 0);
  EXPECT_EQ(client_.Disconnect(conn, &sqlcode), CMDSEQ_NOT_CONNECTED);
  EXPECT_NE(server_.Log().find("disconnect"), std::string::npos) << server_.Log();
}

// A dropped connection (the client's own drop, or a server that went away) is out of
// service at once, while a holder may still read it.
TEST_P(PasswordLogin, DroppedConnectionStaysReadableForItsHolder) {
  a_cmdseq_conn* conn = nullptr;
  int sqlcode = 0;
  ASSERT_EQ(client_.Connect("UID=dba;PWD=sql;" + Links(), &conn, &sqlcode), CMDSEQ_OK) << sqlcode;
  CmdSeqConnAddRef(conn);
  {
    ErrorBlock err(client_.env());
    EXPECT_EQ(CmdSeqDropConnection(conn, err.get()), CMDSEQ_OK);
  }
  EXPECT_EQ(CmdSeqConnIsValid(conn), 0);
  std::string name;
  EXPECT_NE(AskServerName(client_, conn, &name), CMDSEQ_OK);
  EXPECT_EQ(CmdSeqConnRelease(conn), 0);

  // The server goes away under a connected connection: the next request fails and takes
  // the connection out of service; the caller's reference keeps it readable.
  ASSERT_EQ(client_.Connect("UID=dba;PWD=sql;" + Links(), &conn, &sqlcode), CMDSEQ_OK) << sqlcode;
  CmdSeqConnAddRef(conn);
  server_.Stop();
  EXPECT_NE(AskServerName(client_, conn, &name), CMDSEQ_OK);
  EXPECT_EQ(CmdSeqConnIsValid(conn), 0);
  // Disconnecting it only releases the holder's reference, the last one.
  EXPECT_EQ(client_.Disconnect(conn, &sqlcode), CMDSEQ_NOT_CONNECTED);
}

INSTANTIATE_TEST_SUITE_P(Links, PasswordLogin,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         [](const testing::TestParamInfo<Link>& info) {
                           return vq_e2e::LinkName(info.param);
                         });

// --- Kerberos single sign-on --------------------------------------------------------------

constexpr const char* kRealm = "VQTEST.LOCAL";
constexpr const char* kService = "vellum/localhost";
// A service whose principal the KDC no longer knows, and one whose key the KDC changed
// after the server's keytab was written.
constexpr const char* kGoneService = "vellum/gone";
constexpr const char* kStaleService = "vellum/stale";

class KerberosLogin : public testing::TestWithParam<Link> {
 public:
  static void SetUpTestSuite() {
    skip_ = vqtest::KdcRealm::missing_programs();
    if (!skip_.empty()) return;
    // The client loads the system's library by name for each connect and unloads it after.
    // Unloaded, the library leaves its one-time state behind, which the leak checker of
    // the sanitizer build reports; held here, it stays loaded and that state reachable.
    static void* const held = dlopen("libgssapi_krb5.so.2", RTLD_NOW);
    if (held == nullptr) {
      skip_ = "the system's GSS-API library libgssapi_krb5.so.2 is not installed";
      return;
    }
    // The realm's settings are put back when the suite ends.
    env_ = new vq::testing::ScopedEnvironment(
        {"KRB5_CONFIG", "KRB5_KDC_PROFILE", "KRB5RCACHENAME", "KRB5CCNAME"});
    realm_ = new vqtest::KdcRealm(kRealm);
    error_ = realm_->start({{kService, "service.keytab"},
                            {kGoneService, "gone.keytab"},
                            {kStaleService, "stale.keytab"},
                            {"dba", "dba.keytab"},
                            {"dbuser", "dbuser.keytab"}});
    if (error_.empty()) error_ = Admin("delprinc -force " + realm_->principal(kGoneService));
    if (error_.empty())
      error_ = Admin("ktadd -k " + realm_->keytab_path("rekeyed.keytab") + " " +
                     realm_->principal(kStaleService));
    for (const char* user : {"dba", "dbuser"}) {
      if (error_.empty()) error_ = realm_->kinit(user, std::string(user) + ".keytab", Cache(user));
    }
  }
  static void TearDownTestSuite() {
    delete realm_;
    realm_ = nullptr;
    delete env_;
    env_ = nullptr;
  }

 protected:
  void SetUp() override {
    if (!skip_.empty()) GTEST_SKIP() << skip_;
    ASSERT_TRUE(error_.empty()) << error_;
    ASSERT_FALSE(vctmp_.path().empty());
    ASSERT_TRUE(client_.ok());
  }
  // The credential cache of `user`; the one of "nobody" does not exist.
  static std::string Cache(const std::string& user) {
    return "FILE:" + realm_->dir().string() + "/" + user + ".ccache";
  }
  static std::string Admin(const std::string& query) {
    std::string out;
    if (vqtest::KdcRealm::run_program(
            {vqtest::KdcRealm::find_program("kadmin.local"), "-r", kRealm, "-q", query},
            &out) != 0)
      return "kadmin.local " + query + ": " + out;
    return "";
  }
  // Server arguments for Kerberos logins as `service` with the key in `keytab`.
  static std::vector<std::string> Service(const char* service, const char* keytab) {
    return {"--kerberos-keytab=" + realm_->keytab_path(keytab),
            "--kerberos-service=" + std::string(service)};
  }

  vq_e2e::TempVctmp vctmp_;
  vq_e2e::Client client_;

  static inline vqtest::KdcRealm* realm_ = nullptr;
  static inline vq::testing::ScopedEnvironment* env_ = nullptr;
  static inline std::string skip_, error_;
};

TEST_P(KerberosLogin, TicketLogsInAsTheMappedUser) {
  LoggedServer server("krbeng", vctmp_.path());
  ASSERT_TRUE(server.Start(Service(kService, "service.keytab")));
  vq::testing::ScopedEnvironment env;
  env.Set("KRB5CCNAME", Cache("dba"));
  // The library by its default name (the development link, else the run-time file), and
  // named by its file; the connection's log says which was loaded.
  const struct {
    const char* krb;
    const char* loaded;
  } kLibraries[] = {{"YES", "GSS-API library libgssapi_krb5.so"},
                    {"libgssapi_krb5.so.2", "GSS-API library libgssapi_krb5.so.2 loaded"}};
  int n = 0;
  for (const auto& lib : kLibraries) {
    SCOPED_TRACE(lib.krb);
    server.MarkLog();
    const std::string client_log = vctmp_.path() + "/client" + std::to_string(++n) + ".log";
    a_cmdseq_conn* conn = nullptr;
    ASSERT_EQ(client_.Connect(std::string("KRB=") + lib.krb + ";LogFile=" + client_log + ";" +
                                  server.Links(GetParam()),
                              &conn),
              CMDSEQ_OK)
        << client_.LastConnectError().sqlcode << " " << client_.LastConnectError().message
        << "\n"
        << server.Log();
    std::string name;
    EXPECT_EQ(AskServerName(client_, conn, &name), CMDSEQ_OK);
    int sqlcode = 0;
    EXPECT_EQ(client_.Disconnect(conn, &sqlcode), CMDSEQ_OK) << sqlcode;
    const std::string log = server.Log();
    EXPECT_NE(log.find("connect: Kerberos principal dba@VQTEST.LOCAL is user dba"),
              std::string::npos)
        << log;
    // No user ID and no password went with it.
    EXPECT_NE(log.find("connect UID= "), std::string::npos) << log;
    EXPECT_NE(log.find("PWD=none"), std::string::npos) << log;
    const std::string logged = ReadFile(client_log);
    EXPECT_NE(logged.find(lib.loaded), std::string::npos) << logged;
  }
}

TEST_P(KerberosLogin, FailuresGiveTheirErrors) {
  struct Case {
    const char* name;
    const char* user;     // whose credential cache the client uses
    const char* service;  // the server's service, null: the server takes no Kerberos logins
    const char* keytab;
    const char* krb;  // the Kerberos parameter
    int sqlcode;
    const char* server_state;
    const char* message;  // the start of the server's text; empty when the client refused
    bool connect_sent;    // whether the connect request reached the server
    const char* client_logged;  // in the connection's log: the library's own text
    const char* fault = nullptr;  // a rule of the server's scripted fault mode
  };
  const Case kCases[] = {
      {"no ticket in the cache", "nobody", kService, "service.keytab", "YES", -1069, "42WB2", "",
       false, "Kerberos error in gss_init_sec_context (1)"},
      {"service the KDC does not know", "dba", kGoneService, "gone.keytab", "YES", -1069,
       "42WB2", "", false, "not found in Kerberos database"},
      {"service key out of date", "dba", kStaleService, "stale.keytab", "YES", -1069, "42WB2",
       "Kerberos login failed: gss_accept_sec_context", true, ""},
      {"principal that is no user", "dbuser", kService, "service.keytab", "YES", -103, "28000",
       "The Kerberos principal dbuser@VQTEST.LOCAL is not mapped to a user", true, ""},
      {"server without Kerberos logins", "dba", nullptr, nullptr, "YES", -1070, "42WB1",
       "This server takes no Kerberos logins", false, ""},
      {"library that cannot be loaded", "dba", kService, "service.keytab",
       "/nonexistent/libgssapi_krb5.so", -1070, "42WB1", "", false,
       "The Kerberos library /nonexistent/libgssapi_krb5.so could not be loaded"},
      // The server took the ticket, but its own token does not prove it is the service:
      // the client refuses the connection the server granted.
      {"server token that fails the client's check", "dba", kService, "service.keytab", "YES",
       -1069, "42WB2", "", true, "Kerberos error in gss_init_sec_context (2)",
       "connect garble-token"},
  };
  int n = 0;
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    LoggedServer server("krbeng" + std::to_string(++n), vctmp_.path());
    std::vector<std::string> args;
    if (k.service != nullptr) args = Service(k.service, k.keytab);
    if (k.fault != nullptr) {
      const std::string rules = vctmp_.path() + "/faults" + std::to_string(n);
      std::ofstream(rules) << k.fault << "\n";
      args.push_back("--fault-script=" + rules);
    }
    ASSERT_TRUE(server.Start(args));
    vq::testing::ScopedEnvironment env;
    env.Set("KRB5CCNAME", Cache(k.user));
    const std::string client_log = vctmp_.path() + "/client" + std::to_string(n) + ".log";
    a_cmdseq_conn* conn = nullptr;
    EXPECT_EQ(client_.Connect(std::string("KRB=") + k.krb + ";LogFile=" + client_log + ";" +
                                  server.Links(GetParam()),
                              &conn),
              CMDSEQ_ERROR);
    const ErrorSeen seen = client_.LastConnectError();
    EXPECT_EQ(conn, nullptr);
    EXPECT_EQ(seen.sqlcode, k.sqlcode) << seen.message;
    EXPECT_EQ(seen.server_state, k.server_state);
    EXPECT_EQ(seen.message.substr(0, std::string(k.message).size()), k.message) << seen.message;
    const std::string log = server.Log();
    EXPECT_EQ(log.find("connect UID=") != std::string::npos, k.connect_sent) << log;
    const std::string logged = ReadFile(client_log);
    EXPECT_NE(logged.find(k.client_logged), std::string::npos) << logged;
  }
}

INSTANTIATE_TEST_SUITE_P(Links, KerberosLogin,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         [](const testing::TestParamInfo<Link>& info) {
                           return vq_e2e::LinkName(info.param);
                         });

}  // namespace
