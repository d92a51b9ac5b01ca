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

namespace {

constexpr char kServer[] = "cseng";

// vqeng12 serving shared memory under VCTMP and TCP/IP on a loopback port of its
// choosing, which it prints first ("port=N").
class ServerProcess {
 public:
  bool Start() {
    std::vector<std::string> args = {VQENG12_PATH, "-shm", "-n", kServer, "-x", "tcpip(port=0)"};
    int hs[2];
    int out[2];
    if (pipe(hs) != 0) return false;
    if (pipe(out) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      close(hs[0]);
      close(out[0]);
      dup2(out[1], STDOUT_FILENO);
      args.push_back("-hn");
      args.push_back(std::to_string(hs[1]));
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execv(VQENG12_PATH, argv.data());
      _exit(127);
    }
    close(hs[1]);
    close(out[1]);
    std::uint16_t status = 0xFFFF;
    const bool ready = pid_ > 0 && read(hs[0], &status, 2) == 2 && status == 0;
    close(hs[0]);
    std::string line;
    char c = 0;
    while (line.size() < 32 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    if (line.rfind("port=", 0) == 0) port_ = std::atoi(line.c_str() + 5);
    return ready;
  }
  int port() const { return port_; }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 1000; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = 0;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
  ~ServerProcess() { Stop(); }

 private:
  pid_t pid_ = 0;
  int port_ = 0;
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
