// What the client takes from the app-connect reply once the exchange is over, against
// vqeng12: the server's character set becomes the stream's client character set, and
// the liveness time-out the server agreed on is watched, so that a server that stops
// answering in the middle of a request ends that request with a communication error.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

#include "cmdseq/client.h"
#include "e2e_session.h"
#include "streams/stream_api.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/utlocale.h"

namespace {

using vq_e2e::Link;

class CmdSeqAppConnectEnd : public testing::TestWithParam<Link> {};

TEST_P(CmdSeqAppConnectEnd, TheServerCharsetBecomesTheStreamClientCharset) {
  vq_e2e::TempVctmp vctmp;
  vq_e2e::Server server("csaceng");
  ASSERT_TRUE(server.Start());
  vq_e2e::Client client;
  ASSERT_TRUE(client.ok());
  // The client asks for a single-byte set; the stand-in agrees and names it.
  a_cmdseq_conn* conn = nullptr;
  int sqlcode = 0;
  ASSERT_NE(client.Connect("UID=dba;PWD=sql;CS=windows-1252;" + server.Links(GetParam()), &conn,
                           &sqlcode),
            CMDSEQ_ERROR)
      << sqlcode;
  ASSERT_NE(conn, nullptr);
  const CharsetInfo* cp1252 = UTLocale::GetCharsetInfoFromLabel("windows-1252", kSchemeAll);
  ASSERT_NE(cp1252, nullptr);
  EXPECT_EQ(StrmGetClientCSInfo(conn->strm_conn), cp1252);
  ASSERT_NE(conn->lang, nullptr);
  if (conn->own_lang) {
    EXPECT_EQ(conn->lang->client_charset(), cp1252);
  }
  EXPECT_EQ(client.Disconnect(conn, &sqlcode), CMDSEQ_OK) << sqlcode;
}

INSTANTIATE_TEST_SUITE_P(Links, CmdSeqAppConnectEnd,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         [](const testing::TestParamInfo<Link>& info) {
                           return vq_e2e::LinkName(info.param);
                         });

// Liveness runs over TCP/IP only (a shared-memory peer is watched by its process).
TEST(CmdSeqLiveness, ARequestToAServerThatFellSilentEndsWithACommunicationError) {
  vq_e2e::TempVctmp vctmp;
  vq_e2e::Server server("cslveng");
  // The server asks for 9 seconds whatever the client wished. (The client's liveness
  // pass runs every 5 seconds with one connection, so it sends a liveness packet about
  // that often; a shorter time-out would have the server drop a client that is alive.)
  ASSERT_TRUE(server.StartWithRequestLog(vctmp.path() + "/requests.log", {"--liveness=9"}));
  vq_e2e::Client client;
  ASSERT_TRUE(client.ok());
  a_cmdseq_conn* conn = nullptr;
  int sqlcode = 0;
  ASSERT_EQ(client.Connect("UID=dba;PWD=sql;" + server.Links(Link::kTcpIp), &conn, &sqlcode),
            CMDSEQ_OK)
      << sqlcode;
  ASSERT_NE(conn, nullptr);
  // The test holds a reference of its own, as the driver's connection handle does: the
  // lost connection drops the one that connecting gave, and the caller's pointer must
  // stay good until its disconnect.
  CmdSeqConnAddRef(conn);
  // Idle for longer than the time-out: the liveness packets of both sides keep the
  // connection up.
  std::this_thread::sleep_for(std::chrono::seconds(11));
  ASSERT_EQ(client.Exec(conn, "SELECT 1", &sqlcode), CMDSEQ_OK)
      << sqlcode << testing::PrintToString(vq_e2e::FileLines(vctmp.path() + "/requests.log"));
  ASSERT_EQ(client.Exec(conn,
                        "SET TEMPORARY OPTION vqeng_fault = 'exec-immediate text=stall silent'",
                        &sqlcode),
            CMDSEQ_OK)
      << sqlcode;

  // The request that meets the silence runs on its own thread, so that a client that
  // never notices cannot hang the test: after a generous wait the server is stopped,
  // which ends the call, and the test fails.
  const auto start = std::chrono::steady_clock::now();
  std::future<std::pair<a_cmdseq_return, int>> call = std::async(std::launch::async, [&] {
    int code = 0;
    const a_cmdseq_return r = client.Exec(conn, "SELECT 'stall'", &code);
    return std::make_pair(r, code);
  });
  const bool ended = call.wait_for(std::chrono::seconds(40)) == std::future_status::ready;
  if (!ended) server.Stop();
  const auto [result, code] = call.get();
  const auto waited = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(ended) << "the request was still waiting 40 seconds after the server fell silent";
  // The connection is lost (the engine interface reports it as a communication error).
  EXPECT_EQ(result, CMDSEQ_NOT_CONNECTED) << code;
  // Noticed by the client's liveness check: 9 seconds of silence, seen by a pass that
  // runs every 5 seconds.
  EXPECT_LT(waited, std::chrono::seconds(20));
  // The lost connection was closed and is out of service; disconnecting it only gives
  // up the caller's reference, the last one.
  EXPECT_EQ(CmdSeqConnIsValid(conn), 0);
  EXPECT_EQ(client.Disconnect(conn, &sqlcode), CMDSEQ_NOT_CONNECTED);
}

}  // namespace
