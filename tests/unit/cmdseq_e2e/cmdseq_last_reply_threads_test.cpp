// A server's last reply before it closes the connection reaches the client before the
// closed connection does, against vqeng12 over TCP/IP: a connect refused at the
// server's connection limit reads as that refusal (-102 and its message), not as a lost
// connection, and the reply to a disconnect is read. Each is repeated, so that a race
// between the reply and the close would show.
#include <gtest/gtest.h>

#include <string>

#include "cmdseq/client.h"
#include "e2e_session.h"

namespace {

using vq_e2e::Link;

constexpr int kRounds = 50;

TEST(CmdSeqLastReply, ARefusalAtTheConnectionLimitArrivesAsTheRefusal) {
  vq_e2e::TempVctmp vctmp;
  vq_e2e::Server server("cslrfeng");
  ASSERT_TRUE(server.Start({"--max-connections=1"}));
  vq_e2e::Client client;
  ASSERT_TRUE(client.ok());
  const std::string links = "UID=dba;PWD=sql;CPOOL=NO;" + server.Links(Link::kTcpIp);
  a_cmdseq_conn* first = nullptr;
  int sqlcode = 0;
  ASSERT_EQ(client.Connect(links, &first, &sqlcode), CMDSEQ_OK) << sqlcode;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    a_cmdseq_conn* refused = nullptr;
    EXPECT_EQ(client.Connect(links, &refused, &sqlcode), CMDSEQ_ERROR);
    EXPECT_EQ(refused, nullptr);
    const vq_e2e::ErrorSeen& seen = client.LastConnectError();
    ASSERT_EQ(seen.sqlcode, -102) << seen.message;
    EXPECT_NE(seen.message.find("connection limit"), std::string::npos) << seen.message;
  }
  EXPECT_EQ(client.Disconnect(first, &sqlcode), CMDSEQ_OK) << sqlcode;
}

TEST(CmdSeqLastReply, TheReplyToADisconnectIsRead) {
  vq_e2e::TempVctmp vctmp;
  vq_e2e::Server server("csldceng");
  const std::string log_path = vctmp.path() + "/requests.log";
  ASSERT_TRUE(server.StartWithRequestLog(log_path));
  vq_e2e::Client client;
  ASSERT_TRUE(client.ok());
  // Unpooled: every disconnect goes to the server.
  const std::string links = "UID=dba;PWD=sql;CPOOL=NO;" + server.Links(Link::kTcpIp);
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    a_cmdseq_conn* conn = nullptr;
    int sqlcode = 0;
    ASSERT_EQ(client.Connect(links, &conn, &sqlcode), CMDSEQ_OK) << sqlcode;
    sqlcode = 0;
    EXPECT_EQ(client.Disconnect(conn, &sqlcode), CMDSEQ_OK);
    EXPECT_EQ(sqlcode, 0) << "the disconnect's reply was lost";
  }
  vq_e2e::RequestLog log(log_path);
  EXPECT_EQ(log.Count("disconnect"), kRounds);
}

}  // namespace
