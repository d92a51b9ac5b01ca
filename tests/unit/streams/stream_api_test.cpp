// The stream library's interface over fake links: environments made and freed, connect
// with its packet dump (named past existing files, directories made), disconnect that
// drains what came and schedules the deletion, the error mapping and printing.
#include "streams/stream_api.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#include "port_layer_fixture.h"
#include "stream_test_host.h"
#include "streams/packet_header.h"
#include "streams/stream_env.h"

namespace {

using vq::testing::FakePconn;
using vq::testing::FakePort;
namespace fs = std::filesystem;

// A fake link type whose connections come with a test notifier, as a real link's do.
class NotedPort : public FakePort {
 public:
  using FakePort::FakePort;
  an_int_strm_error connect(const char* server_name, c_strm_pconn** out, const char* options,
                            char* cached_addr, unsigned int cached_size,
                            c_strm_conn_notifier** notifier, char* err, std::uint32_t err_len,
                            void* host_ctx) override {
    const an_int_strm_error rc = FakePort::connect(server_name, out, options, cached_addr,
                                                   cached_size, notifier, err, err_len, host_ctx);
    if (rc == STRM_OK && notifier != nullptr) {
      last_note = new vq::testing::TestConnNotifier;
      *notifier = last_note;
    }
    return rc;
  }
  vq::testing::TestConnNotifier* last_note = nullptr;
};

class StreamApiTest : public vq::testing::PortLayerTest {
 protected:
  void SetUp() override {
    PortLayerTest::SetUp();
    vq::strm::SetPortMaker(STRM_PORT_SHARED_MEMORY, &MakeNoted);
    vq::strm::SetPortMaker(STRM_PORT_TCPIP, &MakeNotedTcp);
    dir_ = fs::temp_directory_path() / ("vqstrmapi" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    const a_strm_func_list table = vq::testing::RecordingFuncList();
    ASSERT_EQ(StrmAllocEnv(&env_, &env_note_, 2048, &table, 0, nullptr, nullptr), STRM_API_OK);
  }
  void TearDown() override {
    EXPECT_EQ(StrmFreeEnv(env_, 0), 0);
    EXPECT_EQ(vq::strm::LiveEnvironments(), 0);
    fs::remove_all(dir_);
    port_ = nullptr;
    PortLayerTest::TearDown();
  }

  static c_strm_port* MakeNoted(c_strm_port_layer*, c_strm_env_notifier*, const char*,
                                const char*, an_int_strm_error* result, void*) {
    port_ = new NotedPort(STRM_PORT_SHARED_MEMORY);
    *result = STRM_OK;
    return port_;
  }
  // A link of private buffers, which a test can feed bytes.
  static c_strm_port* MakeNotedTcp(c_strm_port_layer*, c_strm_env_notifier*, const char*,
                                   const char*, an_int_strm_error* result, void*) {
    port_ = new NotedPort(STRM_PORT_TCPIP);
    *result = STRM_OK;
    return port_;
  }

  a_strm_conn Connect(const char* dump_dir, const char* text_parms = "ServerName=srv") {
    c_conn_parms parms;
    EXPECT_EQ(parms.init(text_parms, false), 0);
    a_strm_conn conn = nullptr;
    char text[256] = "";
    EXPECT_EQ(StrmConnect(&parms, env_, 0, &conn, text, sizeof text, dump_dir,
                          vq::testing::AsHostCtx(&host_)),
              STRM_API_OK)
        << text;
    return conn;
  }
  static std::string DumpName(a_strm_conn conn) {
    c_strm_pktdump* dump = c_strm_sconn::from_handle(conn)->dump();
    return dump != nullptr ? fs::path(dump->filename()).filename().string() : "";
  }
  static unsigned long Number(const std::string& name) {
    return std::stoul(name.substr(5, name.size() - 9));  // conn_<n>.dmp
  }
  void Feed(a_strm_conn conn, const std::vector<std::uint8_t>& bytes) {
    c_strm_sconn::from_handle(conn)->tconn()->accept_bytes(
        bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  }

  static inline NotedPort* port_ = nullptr;
  fs::path dir_;
  vq::testing::TestEnvNotifier env_note_;
  vq::testing::TestHostCtx host_;
  a_strm_env env_ = nullptr;
};

TEST_F(StreamApiTest, DumpsAreNamedPastFilesThatExistAndNeverOverwriteThem) {
  a_strm_conn first = Connect(dir_.c_str());
  ASSERT_NE(first, nullptr);
  const std::string name = DumpName(first);
  ASSERT_EQ(name.rfind("conn_", 0), 0u) << name;
  const unsigned long n = Number(name);
  // The next two names are taken already: the third is used, the others kept.
  const fs::path other = dir_ / "other";
  fs::create_directories(other);
  for (unsigned long k : {n + 1, n + 2}) {
    std::ofstream(other / ("conn_" + std::to_string(k) + ".dmp")) << "keep";
  }
  a_strm_conn second = Connect(other.c_str());
  EXPECT_EQ(DumpName(second), "conn_" + std::to_string(n + 3) + ".dmp");
  for (unsigned long k : {n + 1, n + 2}) {
    std::ifstream in(other / ("conn_" + std::to_string(k) + ".dmp"));
    std::string text;
    in >> text;
    EXPECT_EQ(text, "keep");
  }
  // With a trailing slash the directory is the same.
  a_strm_conn third = Connect((other.string() + "/").c_str());
  EXPECT_EQ(c_strm_sconn::from_handle(third)->dump()->filename(),
            (other / ("conn_" + std::to_string(n + 4) + ".dmp")).string());
  EXPECT_EQ(StrmDisconResponse(first), 1);
  EXPECT_EQ(StrmDisconResponse(second), 1);
  EXPECT_EQ(StrmDisconResponse(third), 1);
}

TEST_F(StreamApiTest, AMissingDumpDirectoryIsMadeAndAFileGivesNoDump) {
  const fs::path nested = dir_ / "a" / "b" / "c";
  a_strm_conn conn = Connect(nested.c_str());
  EXPECT_TRUE(fs::is_directory(nested));
  EXPECT_NE(DumpName(conn), "");
  EXPECT_EQ((fs::status(dir_ / "a").permissions() & fs::perms::all) & ~fs::perms::owner_all,
            (fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
             fs::perms::others_exec) &
                ~(fs::perms::group_write | fs::perms::others_write))
      << "made with 0755 (less the umask)";
  const fs::path file = dir_ / "plain";
  std::ofstream(file) << "x";
  a_strm_conn plain = Connect(file.c_str());
  ASSERT_NE(plain, nullptr) << "a dump problem never fails the connect";
  EXPECT_EQ(DumpName(plain), "");
  StrmDisconResponse(conn);
  StrmDisconResponse(plain);
}

TEST_F(StreamApiTest, DisconnectDrainsWhatCameThenSchedulesTheDeletion) {
  a_strm_conn conn = Connect(nullptr, "ServerName=srv;CommLinks=tcpip");
  ASSERT_NE(conn, nullptr);
  c_strm_sconn* s = c_strm_sconn::from_handle(conn);
  FakePconn* link = port_->last_conn.load();
  ASSERT_NE(link, nullptr);
  // The reply, then a whole message of two packets nobody read.
  Feed(conn, {PKT_APP_CONNECT, 0, 0, 5, 0});
  Feed(conn, {PKT_DATA, 0, 0, 7, 2, 7, 1});
  Feed(conn, {PKT_DATA, PKT_STATUS_EOM, 0, 6, 1, 8});
  ASSERT_TRUE(s->sync_point_arrived(nullptr));
  EXPECT_EQ(StrmDisconnect(conn), 1);
  EXPECT_EQ(link->disconnects, 1);
  EXPECT_FALSE(s->sync_point_arrived(nullptr)) << "the message was read and dropped";
  EXPECT_EQ(s->state(), SCONN_WAITING_DELETE);
  EXPECT_EQ(port_->last_note->blocks(), 0) << "a closed link brings nothing more to wait for";
}

TEST_F(StreamApiTest, DisconnectWaitsForALinkStillOpenUntilTheWaitGivesUp) {
  a_strm_conn conn = Connect(nullptr, "ServerName=srv;CommLinks=tcpip");
  ASSERT_NE(conn, nullptr);
  FakePconn* link = port_->last_conn.load();
  link->keep_open_on_disconnect = true;
  port_->last_note->set_alive(false);  // the wait gives up at once
  EXPECT_EQ(StrmDisconnect(conn), 1);
  EXPECT_EQ(port_->last_note->blocks(), 1);
  EXPECT_EQ(c_strm_sconn::from_handle(conn)->state(), SCONN_WAITING_DELETE);
  EXPECT_EQ(StrmDisconnect(nullptr), 0);
}

TEST_F(StreamApiTest, AccessorsReadTheLinkUnderTheConnection) {
  a_strm_conn conn = Connect(nullptr);
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(StrmGetPortType(conn), STRM_PORT_SHARED_MEMORY);
  EXPECT_EQ(StrmBlockEventCleared(conn), 1);
  EXPECT_EQ(StrmIsConnectedToDefaultEngine(conn), 0);
  port_->last_conn.load()->pconn_flags |= 0x2;
  EXPECT_EQ(StrmIsConnectedToDefaultEngine(conn), 1);
  EXPECT_STREQ(StrmSetConnName(conn, "first"), "first");
  EXPECT_STREQ(StrmSetConnName(conn, "second"), "second");
  EXPECT_STREQ(StrmGetConnName(conn), "second");
  StrmSetUserData(conn, 7);
  StrmSetCallbackData(conn, 9);
  EXPECT_EQ(StrmGetUserData(conn), 7u);
  EXPECT_EQ(StrmGetCallbackData(conn), 9u);
  EXPECT_EQ(StrmIsAlive(conn), 1);
  EXPECT_EQ(i_strm_IsPortAdded(env_, STRM_PORT_SHARED_MEMORY), 1);
  EXPECT_EQ(i_strm_IsPortAdded(env_, STRM_PORT_TCPIP), 0);
  a_machine_addr* local = StrmGetLocalMachineAddr(conn);
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(local[0], STRM_PORT_UNKNOWN);
  StrmFreeMachineAddr(local);
  // Null handles answer nothing.
  EXPECT_EQ(StrmGetPortType(nullptr), STRM_PORT_UNKNOWN);
  EXPECT_EQ(StrmGetConnName(nullptr), nullptr);
  EXPECT_EQ(StrmIsAlive(nullptr), 0);
  StrmDisconResponse(conn);
}

TEST_F(StreamApiTest, ConnectFailuresAreMappedAndFreeingTheEnvironmentFreesConnections) {
  std::atomic<int> deleted{0};
  auto* ctx = new vq::testing::TestHostCtx(&deleted);
  {
    c_conn_parms parms;
    ASSERT_EQ(parms.init("ServerName=srv", false), 0);
    a_strm_conn conn = nullptr;
    char text[256] = "";
    ASSERT_EQ(StrmConnect(&parms, env_, 0, &conn, text, sizeof text, nullptr,
                          vq::testing::AsHostCtx(ctx)),
              STRM_API_OK);
    // Both Host and CommLinks: the link-list error.
    c_conn_parms both;
    ASSERT_EQ(both.init("Host=127.0.0.1;CommLinks=tcpip", false), 0);
    a_strm_conn none = reinterpret_cast<a_strm_conn>(&text);
    EXPECT_EQ(StrmConnect(&both, env_, 0, &none, text, sizeof text, nullptr, nullptr),
              STRM_API_LINK_LIST);
    EXPECT_EQ(none, nullptr);
    EXPECT_NE(text[0], '\0');
  }
  ctx->release();
  EXPECT_EQ(deleted.load(), 0) << "the open connection holds the host context";
  EXPECT_EQ(StrmFreeEnv(env_, 0), 0);
  EXPECT_EQ(deleted.load(), 1);
  const a_strm_func_list table = vq::testing::RecordingFuncList();
  ASSERT_EQ(StrmAllocEnv(&env_, &env_note_, 2048, &table, 0, nullptr, nullptr), STRM_API_OK);
}

TEST(StreamApiPlain, AnIncompleteHostTableCreatesNothing) {
  vq::testing::ScopedHostTable keep;
  a_strm_func_list table = vq::testing::RecordingFuncList();
  table.StrmCheckDebug = nullptr;
  a_strm_env env = reinterpret_cast<a_strm_env>(&table);
  EXPECT_EQ(StrmAllocEnv(&env, nullptr, 0, &table, 0, nullptr, nullptr), STRM_API_FAILED);
  EXPECT_EQ(env, nullptr);
  EXPECT_EQ(vq::strm::LiveEnvironments(), 0);
}

TEST(StreamApiPlain, InternalResultsMapToApiResults) {
  const struct {
    an_int_strm_error internal;
    int api;
  } rows[] = {{STRM_OK, 0},           {STRM_NO_SERVER, 2},   {STRM_LINK_FAILED, 7},
              {STRM_NO_MEMORY, 3},    {STRM_ATTN_PENDING, 4}, {STRM_UNKNOWN_LINK, 5},
              {STRM_CONN_DEAD, 1},    {STRM_NO_NETWORK, 1},  {0, 1}};
  for (const auto& r : rows) EXPECT_EQ(vq::strm::ConvertToStrmError(r.internal), r.api) << r.internal;
}

TEST(StreamApiPlain, LongConnectionlessTextsArriveWholeWithALineEnd) {
  vq::testing::ScopedHostTable table;
  const std::string text(9000, 'q');
  StrmPrintConnectionless("%s", text.c_str());
  StrmPrintConnectionless("%d", 5);
  const auto lines = vq::testing::HostPrints::get().connectionless_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].second, text + "\n");
  EXPECT_EQ(lines[1].second, "5\n");
}

}  // namespace
