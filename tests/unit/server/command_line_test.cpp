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
       "srv", "/tmp/d.db", "demo", "secret", true, true, false, 2638, 7},
      {{"-x", "tcpip(port=0)", "-hn", "3"}, "", "", "", "", false, false, true, 0, 3},
      {{"-x", "TCPIP{ServerPort=4000;MyIP=x}", "a.db"}, "", "a.db", "", "", false, false, true, 4000, -1},
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
      {"-n"}, {"-hn", "x"}, {"-hn", "-1"}, {"-x", "shmem"}, {"-x", "tcpip(port=70000)"},
      {"-x", "tcpip(port=abc)"}, {"-x", "tcpip(port=1"}, {"-rl"},
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
}
