// The client's connect road over the real communication stack: vqeng12 serves shared
// memory (and TCP/IP on a loopback port) under a fresh VCTMP; the client starts, connects
// with no engine connect installed, is refused for a wrong password, disconnects and
// stops, and leaves nothing behind in VCTMP.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cmdseq/cmdseq_env.h"
#include "cmdseq/connect.h"
#include "cmdseq/error_info.h"
#include "config/conn_parms.h"
#include "scoped_environment.h"
#include "vqeng_process.h"

namespace {

constexpr char kServer[] = "cseng";

// vqeng12 serving shared memory under VCTMP and TCP/IP on a loopback port.
class ServerProcess : public vq_test::VqengProcess {
 public:
  bool Start() { return VqengProcess::Start(VQENG12_PATH, kServer); }
};

struct Row {
  const char* name;
  bool tcpip;
};

class CmdSeqConnectEndToEnd : public testing::TestWithParam<Row> {};

// One connect with `connect_string`; the result, the SQL code and the connection.
a_cmdseq_return Connect(a_cmdseq_env* env, const std::string& connect_string,
                        a_cmdseq_conn** conn, int* sqlcode) {
  c_conn_parms parms;
  if (parms.init(connect_string.c_str(), false) != 0) return CMDSEQ_ERROR;
  a_cmdseq_error_info err;
  CmdSeqInitErrorParam(env, &err, 0);
  a_cmdseq_strconn_param param{};
  param.parms = &parms;
  param.env = env;
  *conn = nullptr;
  const a_cmdseq_return r = CmdSeqStringConnect(conn, &err, &param);
  *sqlcode = err.sqlcode;
  CmdSeqFiniErrorParam(&err);
  return r;
}

TEST_P(CmdSeqConnectEndToEnd, ConnectRefuseDisconnectAndNothingLeft) {
  const Row& row = GetParam();
  std::string root = (std::filesystem::temp_directory_path() / "vqcsXXXXXX").string();
  ASSERT_NE(mkdtemp(root.data()), nullptr);
  {
    vq::testing::ScopedEnvironment vars{{"VCTMP"}};
    vars.Set("VCTMP", root);
    ServerProcess server;
    ASSERT_TRUE(server.Start());
    std::string links = "ServerName=" + std::string(kServer);
    if (row.tcpip) {
      ASSERT_GT(server.port(), 0);
      links += ";CommLinks=tcpip(host=127.0.0.1;port=" + std::to_string(server.port()) +
               ";DoBroadcast=NONE)";
    }

    ASSERT_GE(CmdSeqInit(), 0);
    a_cmdseq_env env;
    ASSERT_EQ(CmdSeqAllocEnv(&env), CMDSEQ_OK);
    env.app_type = 2;

    a_cmdseq_conn* conn = nullptr;
    int sqlcode = 0;
    EXPECT_EQ(Connect(&env, "UID=dba;PWD=sql;" + links, &conn, &sqlcode), CMDSEQ_OK) << sqlcode;
    ASSERT_NE(conn, nullptr);
    a_cmdseq_error_info err;
    CmdSeqInitErrorParam(&env, &err, 0);
    EXPECT_EQ(CmdSeqDisconnect(conn, &err), CMDSEQ_OK) << err.sqlcode;
    CmdSeqFiniErrorParam(&err);

    a_cmdseq_conn* refused = nullptr;
    EXPECT_EQ(Connect(&env, "UID=dba;PWD=wrong;" + links, &refused, &sqlcode), CMDSEQ_ERROR);
    EXPECT_EQ(sqlcode, -103);
    EXPECT_EQ(refused, nullptr);

    EXPECT_EQ(CmdSeqFreeEnv(&env), CMDSEQ_OK);
    CmdSeqFini();
    server.Stop();
  }
  // Client and server are gone: nothing of either stays under VCTMP.
  std::vector<std::string> left;
  std::error_code ec;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root, ec)) {
    if (!e.is_directory()) left.push_back(e.path().string());
  }
  EXPECT_TRUE(left.empty()) << left.size() << " files left, first " << left.front();
  std::filesystem::remove_all(root, ec);
}

INSTANTIATE_TEST_SUITE_P(Links, CmdSeqConnectEndToEnd,
                         testing::Values(Row{"SharedMemory", false}, Row{"TcpIp", true}),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
