// The server's address and protocol version of a connection, and the reset of its
// posted flag.
#include "cmdseq/conn_server_info.h"

#include <gtest/gtest.h>

#include <cstring>

#include "cmdseq_fixture.h"
#include "strm_client_double.h"

namespace {

TEST(ServerInfo, AddressOnlyWhileConnectedAndCutToTheBuffer) {
  CmdSeqConn t;
  vq::testing::StrmRecord::get().reset();
  vq::testing::StrmRecord::get().address = "192.0.2.17:2638";
  char buffer[32];
  EXPECT_EQ(CmdSeqGetServerAddress(t.conn, buffer, sizeof buffer), CMDSEQ_OK);
  EXPECT_STREQ(buffer, "192.0.2.17:2638");
  char shorter[8];
  std::memset(shorter, 'x', sizeof shorter);
  EXPECT_EQ(CmdSeqGetServerAddress(t.conn, shorter, sizeof shorter), CMDSEQ_OK);
  EXPECT_STREQ(shorter, "192.0.2");

  i_cs_RemoveConnection(t.conn);  // out of service: no longer connected
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(CmdSeqGetServerAddress(t.conn, buffer, sizeof buffer), CMDSEQ_NOT_CONNECTED);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(CmdSeqGetServerAddress(nullptr, buffer, sizeof buffer), CMDSEQ_NOT_CONNECTED);
}

TEST(ServerInfo, VersionAndPostedFlag) {
  CmdSeqConn t;
  t.conn->server_strm_ver = 15;
  EXPECT_EQ(CmdSeqGetServerStrmVer(t.conn), 15);
  vq::testing::StrmRecord::get().reset();
  vq::testing::Words(t.conn->strm_conn).user_data = 1;
  i_cs_InitUserData(t.conn->strm_conn);
  EXPECT_EQ(vq::testing::Words(t.conn->strm_conn).user_data.load(), 0u);
  i_cs_InitUserData(nullptr);  // nothing to clear
}

}  // namespace
