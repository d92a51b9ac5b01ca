// The TCP link end to end against the built stand-in server: the port layer makes the
// link through its registered maker, the road connects to the server on its loopback
// port, checks its name when one is given, caches the address it reached, and the
// transport above exchanges the app-connect packets over the new connection.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../streams/fake_session.h"
#include "config/conn_parms.h"
#include "config/encrypt_level.h"
#include "scoped_environment.h"
#include "script_client.h"
#include "streams/port_layer.h"
#include "streams/transport.h"
#include "tcp_link_fixture.h"

namespace vq::testing {
namespace {

// vqeng12 on a free loopback port, named `name`, with its request log in a temporary
// directory; stopped and removed at the end.
class Vqeng12 {
 public:
  explicit Vqeng12(const std::string& name) {
    char tmpl[] = "/tmp/vqnet_e2e_XXXXXX";
    dir_ = mkdtemp(tmpl);
    log_ = dir_ + "/requests.log";
    int out[2];
    int hs[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe(hs) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      std::vector<std::string> args{VQENG12_PATH,         "-n",  name, "-x",
                                    "tcpip(port=0)",      "-rl", log_, "-hn",
                                    std::to_string(hs[1])};
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    close(hs[1]);
    std::uint16_t status = 0xFFFF;
    pollfd p{hs[0], POLLIN, 0};
    if (poll(&p, 1, 10000) == 1 && read(hs[0], &status, 2) == 2) {
      FILE* f = fdopen(out[0], "r");
      char line[64] = {};
      if (f != nullptr && std::fgets(line, sizeof line, f) != nullptr) {
        std::sscanf(line, "port=%d", &port_);
      }
      if (f != nullptr) std::fclose(f);
    } else {
      close(out[0]);
    }
    close(hs[0]);
  }
  ~Vqeng12() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int st = 0;
      waitpid(pid_, &st, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  int port() const { return port_; }
  std::string log() const {
    std::ifstream in(log_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string dir_;
  std::string log_;
};

class TcpServer : public LinkFixture {
 protected:
  void SetUp() override {
    LinkFixture::SetUp();
    char pattern[] = "/tmp/vqnet_home_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    home_ = pattern;
    env_.Set("HOME", home_.c_str());
    // The link registered itself with the port layer when the program was loaded.
    layer = std::make_unique<c_strm_port_layer>(&notifier, controller.default_pool);
  }
  void TearDown() override {
    layer.reset();
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
    LinkFixture::TearDown();
  }

  an_int_strm_error LayerConnect(const std::string& text, c_strm_pconn** pconn) {
    c_conn_parms parms;
    EXPECT_EQ(0, parms.init(text.c_str(), false)) << text;
    c_encrypt_level level(0u, nullptr);
    c_strm_conn_notifier* note = nullptr;
    err[0] = '\0';
    const an_int_strm_error rc =
        layer->connect(&parms, 0, err, sizeof err, AsHostCtx(ctx), level, &note, pconn);
    if (note != nullptr) note->release();
    return rc;
  }
  std::string CacheFile() const {
    std::ifstream in(home_ + "/.vellumcrest12/vcsrv.ini");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::unique_ptr<c_strm_port_layer> layer;

 private:
  std::string home_;
  ScopedEnvironment env_{{"HOME", "VCDIR", "VELLUM12", "ODBCINI", "ODBC_INI", "ODBCHOME"}};
};

// Sends the app-connect packet through the transport and waits for the server's answer.
std::vector<std::uint8_t> AppConnect(c_strm_tconn& tconn, FakeSession& session) {
  const std::string bytes =
      script::packet(25, 0x21, std::string(1, '\0') + script::app_connect_record({}));
  c_strm_buffer* buffer =
      session.packet_buffer(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  EXPECT_EQ(STRM_OK, tconn.put(buffer));
  session.buffer_pool()->done_buffer(buffer);
  WaitFor([&] { return !session.packets().empty(); }, 10000ms);
  const auto packets = session.packets();
  return packets.empty() ? std::vector<std::uint8_t>{} : packets.front();
}

TEST_F(TcpServer, TheLinkFindsChecksCachesAndTalksToTheServer) {
  Vqeng12 server("e2esrv");
  ASSERT_GT(server.port(), 0);
  const std::string host = "127.0.0.1:" + std::to_string(server.port());
  c_strm_pconn* pconn = nullptr;
  ASSERT_EQ(STRM_OK,
            LayerConnect("ServerName=E2ESrv;CommLinks=TCPIP{Host=" + host + "}", &pconn))
      << err;
  EXPECT_STREQ("e2esrv", pconn->server_name);
  EXPECT_EQ("[e2esrv]\nLink=TCPIP\nAddress=" + host + "\n\n", CacheFile());

  FakeSession session;
  c_strm_tconn tconn(nullptr, pconn, AsHostCtx(ctx));
  tconn.set_sconn(&session);
  ASSERT_EQ(STRM_OK, pconn->start_receive());
  const std::vector<std::uint8_t> reply = AppConnect(tconn, session);
  ASSERT_GE(reply.size(), 4u + 1 + 312);
  EXPECT_EQ(25, reply[0]);
  EXPECT_EQ(0, reply[4]);                      // the zero byte before the record
  EXPECT_EQ(312, reply[5] | (reply[6] << 8));  // the record's size
  EXPECT_TRUE(session.errors().empty());
  tconn.disconnect();
  tconn.set_sconn(nullptr);
  EXPECT_NE(std::string::npos, server.log().find("name-check asked='e2esrv'"));

  // The next connect offers the cached address to the link, which tries it first.
  const std::string refused = "127.0.0.1:" + std::to_string(RefusingPort());
  c_strm_pconn* again = nullptr;
  ASSERT_EQ(STRM_OK,
            LayerConnect("ServerName=e2esrv;CommLinks=TCPIP{Host=" + refused + "," + host + "}",
                         &again))
      << err;
  EXPECT_TRUE(Printed(Msg(9529, host.c_str())));
  EXPECT_FALSE(Printed(Msg(6370, refused.c_str())));  // the first host was never tried
  delete again;
}

TEST_F(TcpServer, AnotherNameIsNotConnectedAndLeavesNoCacheEntry) {
  Vqeng12 server("e2esrv");
  ASSERT_GT(server.port(), 0);
  const std::string host = "127.0.0.1:" + std::to_string(server.port());
  c_strm_pconn* pconn = nullptr;
  EXPECT_EQ(STRM_NO_SERVER,
            LayerConnect("ServerName=other;CommLinks=TCPIP{Host=" + host + ";DoBroadcast=NONE}",
                         &pconn));
  EXPECT_EQ(nullptr, pconn);
  EXPECT_EQ(std::string::npos, CacheFile().find("[other]"));
  EXPECT_NE(std::string::npos, server.log().find("name-check asked='other'"));
}

TEST_F(TcpServer, ANamelessConnectSkipsTheCheck) {
  Vqeng12 server("e2esrv");
  ASSERT_GT(server.port(), 0);
  const std::string host = "127.0.0.1:" + std::to_string(server.port());
  c_strm_pconn* pconn = nullptr;
  ASSERT_EQ(
      STRM_OK,
      LayerConnect("CommLinks=TCPIP{Host=" + host + ";Verify=NO;DoBroadcast=NONE}", &pconn))
      << err;
  FakeSession session;
  c_strm_tconn tconn(nullptr, pconn, AsHostCtx(ctx));
  tconn.set_sconn(&session);
  ASSERT_EQ(STRM_OK, pconn->start_receive());
  EXPECT_EQ(25, AppConnect(tconn, session).at(0));
  tconn.disconnect();
  tconn.set_sconn(nullptr);
  EXPECT_EQ(std::string::npos, server.log().find("name-check"));
}

}  // namespace
}  // namespace vq::testing
