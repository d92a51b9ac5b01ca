// The client's connect road over the real communication stack: vqeng12 serves shared
// memory (and TCP/IP on a loopback port) under a fresh VCTMP; the client starts, connects
// with no engine connect installed, is refused for a wrong password, disconnects and
// stops, and leaves nothing behind in VCTMP.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_session.h"

namespace {

using vq_e2e::Link;

class CmdSeqConnectEndToEnd : public testing::TestWithParam<Link> {};

TEST_P(CmdSeqConnectEndToEnd, ConnectRefuseDisconnectAndNothingLeft) {
  vq_e2e::TempVctmp vctmp;
  ASSERT_FALSE(vctmp.path().empty());
  {
    vq_e2e::Server server("cseng");
    ASSERT_TRUE(server.Start());
    ASSERT_GT(server.port(), 0);
    const std::string links = server.Links(GetParam());
    vq_e2e::Client client;
    ASSERT_TRUE(client.ok());

    a_cmdseq_conn* conn = nullptr;
    int sqlcode = 0;
    EXPECT_EQ(client.Connect("UID=dba;PWD=sql;" + links, &conn, &sqlcode), CMDSEQ_OK) << sqlcode;
    ASSERT_NE(conn, nullptr);
    EXPECT_EQ(client.Disconnect(conn, &sqlcode), CMDSEQ_OK) << sqlcode;

    a_cmdseq_conn* refused = nullptr;
    EXPECT_EQ(client.Connect("UID=dba;PWD=wrong;" + links, &refused, &sqlcode), CMDSEQ_ERROR);
    EXPECT_EQ(sqlcode, -103);
    EXPECT_EQ(refused, nullptr);
  }
  // Client and server are gone: nothing of either stays under VCTMP.
  const std::vector<std::string> left = vctmp.Files();
  EXPECT_TRUE(left.empty()) << left.size() << " files left, first " << left.front();
}

INSTANTIATE_TEST_SUITE_P(Links, CmdSeqConnectEndToEnd,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         [](const testing::TestParamInfo<Link>& info) {
                           return vq_e2e::LinkName(info.param);
                         });

}  // namespace
