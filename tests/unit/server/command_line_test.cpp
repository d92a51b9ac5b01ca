#include "command_line.h"

#include <gtest/gtest.h>

using namespace vqeng;

TEST(CommandLine, LocalStartLines) {
  struct Case {
    std::vector<std::string> args;
    std::string server, file, db, key;
    bool ga, ha, tcpip;
    int port, hn;
  };
  const Case cases[] = {
      {{"-ha", "-ga", "-n", "srv", "/tmp/d.db", "-ek", "secret", "-n", "demo", "-hn", "7"},
       "srv",
       "/tmp/d.db",
       "demo",
       "secret",
       true,
       true,
       false,
       2638,
       7},
      {{"-x", "tcpip(port=0)", "-hn", "3"}, "", "", "", "", false, false, true, 0, 3},
      {{"-x", "TCPIP{ServerPort=4000;MyIP=x}", "a.db"},
       "",
       "a.db",
       "",
       "",
       false,
       false,
       true,
       4000,
       -1},
      {{"-x", "tcpip", "-n", "only"}, "only", "", "", "", false, false, true, 2638, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    CommandLine cl;
    std::string why;
    ASSERT_TRUE(parse_command_line(c.args, cl, why)) << why;
    EXPECT_EQ(cl.server_name, c.server);
    EXPECT_EQ(cl.database_file, c.file);
    EXPECT_EQ(cl.database_name, c.db);
    EXPECT_EQ(cl.database_key, c.key);
    EXPECT_EQ(cl.auto_stop, c.ga);
    EXPECT_EQ(cl.hidden, c.ha);
    EXPECT_EQ(cl.tcpip, c.tcpip);
    EXPECT_EQ(cl.port, c.port);
    EXPECT_EQ(cl.handshake_fd, c.hn);
  }
}

TEST(CommandLine, Refusals) {
  const std::vector<std::vector<std::string>> bad = {
      {"-n"},
      {"-hn", "x"},
      {"-hn", "-1"},
      {"-x", "shmem"},
      {"-x", "tcpip(port=70000)"},
      {"-x", "tcpip(port=abc)"},
      {"-x", "tcpip(port=1"},
      {"-rl"},
      {"--max-message-bytes=12"},
      {"--max-message-bytes=2X"},
      {"--max-message-bytes="},
      {"--max-connection-bytes=2T"},
      {"--max-server-bytes=100"},
      {"--max-connections=0"},
      {"--login-timeout=-1"},
      {"--login-timeout"},
      {"--max-rows=5"},
      {"--kerberos-keytab=/k.keytab"},  // a keytab without its service
      {"--kerberos-service=vellum/host"},
      {"--kerberos-keytab=", "--kerberos-service=vellum/host"},
      {"--tls-cert=/s.crt"},  // a certificate without its key
      {"--tls-key=/s.key"},
      {"--tls-cert=", "--tls-key=/s.key"},
      {"--starting=-5"},
      {"--starting=soon"},
      {"--statement-cache=-1"},
      {"--statement-cache=65536"},
  };
  for (const auto& args : bad) {
    SCOPED_TRACE(args.back());
    CommandLine cl;
    std::string why;
    EXPECT_FALSE(parse_command_line(args, cl, why));
    EXPECT_FALSE(why.empty());
  }
  // Database switches the stand-in has no use for are skipped, not refused.
  CommandLine cl;
  std::string why;
  ASSERT_TRUE(parse_command_line({"d.db", "-c", "-m"}, cl, why));
  EXPECT_EQ(cl.ignored, (std::vector<std::string>{"-c", "-m"}));
  CommandLine krb;
  ASSERT_TRUE(parse_command_line(
      {"--kerberos-keytab=/tmp/s.keytab", "--kerberos-service=vellum/localhost@R"}, krb, why))
      << why;
  EXPECT_EQ(krb.kerberos_keytab, "/tmp/s.keytab");
  EXPECT_EQ(krb.kerberos_service, "vellum/localhost@R");
  CommandLine cache;
  ASSERT_TRUE(parse_command_line({"--statement-cache=20"}, cache, why)) << why;
  EXPECT_EQ(cache.statement_cache, 20);
  EXPECT_EQ(CommandLine{}.statement_cache, 0);
  CommandLine tls;
  ASSERT_TRUE(parse_command_line({"--tls-key=/s.key", "--tls-cert=/s.crt"}, tls, why)) << why;
  EXPECT_EQ(tls.tls_cert, "/s.crt");
  EXPECT_EQ(tls.tls_key, "/s.key");
}

TEST(CommandLine, LimitOptions) {
  struct Case {
    std::vector<std::string> args;
    std::size_t message, connection;
    unsigned connections, login;
    std::size_t server = Limits{}.max_server_bytes;
  };
  const Limits defaults;
  const Case cases[] = {
      {{},
       defaults.max_message_bytes,
       defaults.max_connection_bytes,
       defaults.max_connections,
       defaults.login_timeout_seconds},
      {{"--max-message-bytes=64K", "--max-connection-bytes=3M", "--max-connections=5",
        "--login-timeout=0"},
       64 * 1024,
       3u << 20,
       5,
       0},
      {{"d.db", "--max-message-bytes=1G", "--login-timeout=2", "-n", "demo"},
       1u << 30,
       defaults.max_connection_bytes,
       defaults.max_connections,
       2},
      {{"--max-connection-bytes=5000"},
       defaults.max_message_bytes,
       5000,
       defaults.max_connections,
       defaults.login_timeout_seconds},
      {{"--max-server-bytes=2G"},
       defaults.max_message_bytes,
       defaults.max_connection_bytes,
       defaults.max_connections,
       defaults.login_timeout_seconds,
       2ull << 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "defaults" : c.args.front());
    CommandLine cl;
    std::string why;
    ASSERT_TRUE(parse_command_line(c.args, cl, why)) << why;
    EXPECT_EQ(cl.limits.max_message_bytes, c.message);
    EXPECT_EQ(cl.limits.max_connection_bytes, c.connection);
    EXPECT_EQ(cl.limits.max_connections, c.connections);
    EXPECT_EQ(cl.limits.login_timeout_seconds, c.login);
    EXPECT_EQ(cl.limits.max_server_bytes, c.server);
    EXPECT_TRUE(cl.ignored.empty());
  }
}

// A server a client starts by its default name takes its listening switches from the
// environment; the command line's own come after them (and so win where both set one).
TEST(CommandLine, EnvironmentSwitchesComeFirst) {
  struct Case {
    const char* env;
    std::vector<std::string> args;
    std::vector<std::string> all;
  };
  const Case cases[] = {
      {nullptr, {"-n", "a"}, {"-n", "a"}},
      {"", {"-n", "a"}, {"-n", "a"}},
      {"  -shm\t-x  tcpip(port=0) ", {"-n", "a"}, {"-shm", "-x", "tcpip(port=0)", "-n", "a"}},
      {"-x tcpip(port=0)", {"-x", "tcpip(port=5000)"},
       {"-x", "tcpip(port=0)", "-x", "tcpip(port=5000)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.env != nullptr ? c.env : "(unset)");
    EXPECT_EQ(with_environment_switches(c.env, c.args), c.all);
  }
  CommandLine cl;
  std::string why;
  ASSERT_TRUE(parse_command_line(with_environment_switches("-x tcpip(port=0) --starting=700",
                                                           {"-x", "tcpip(port=5000)"}),
                                 cl, why))
      << why;
  EXPECT_EQ(cl.port, 5000);
  EXPECT_EQ(cl.starting_ms, 700);
}
