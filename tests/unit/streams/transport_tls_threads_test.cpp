// TLS on a transport connection end to end: the client side is a c_strm_tconn over a
// socket-pair link whose reading thread feeds accept_bytes; the peer is a server-side
// TLS adapter over the build's crypto modules, as the stand-in server runs it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fake_session.h"
#include "scoped_environment.h"
#include "security/tls_adapter.h"
#include "security/vcci_objects.h"
#include "security/vcci_options.h"
#include "streams/host_functions.h"
#include "streams/transport.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/resource_file.h"
#include "utils/locale/utlocale.h"
#include "strm_fakes.h"
#include "tls_socket_end.h"

namespace {

using vq::testing::FakeSession;
using vq::testing::MakePacket;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

const std::string kCerts = VQ_TLS_CERT_DIR;
std::string cert(const char* file) { return kCerts + "/" + file; }

// The client's link: writes go to the socket; a thread hands every read to the
// transport connection above.
class SocketPconn : public c_strm_pconn {
 public:
  explicit SocketPconn(int fd) : fd_(fd) {}
  ~SocketPconn() override { stop(); }

  an_int_strm_error put(c_strm_buffer* buffer) override {
    return send_all(reinterpret_cast<const char*>(buffer->packet()), buffer->used_length());
  }
  an_int_strm_error blocking_put(const char* data, unsigned int len) override {
    if (fail_sends.load()) return STRM_LINK_FAILED;
    return send_all(data, len);
  }
  void disconnect() override { pconn_flags |= kDisconnected; }
  an_int_strm_error start_receive() override {
    pump_ = std::thread([this] {
      std::uint8_t buffer[700];  // small on purpose: records arrive in pieces
      for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        if (tconn != nullptr) tconn->accept_bytes(buffer, static_cast<std::uint32_t>(n));
      }
    });
    return STRM_OK;
  }
  void set_tls_mode() override { tls_mode = true; }
  // Ends the reading thread; done before the transport connection goes.
  void stop() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    if (pump_.joinable()) pump_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  std::atomic<bool> tls_mode{false};
  std::atomic<bool> fail_sends{false};  // the link refuses every write from now on

 private:
  an_int_strm_error send_all(const char* data, unsigned int len) {
    unsigned int done = 0;
    while (done < len) {
      const ssize_t n = ::send(fd_, data + done, len - done, MSG_NOSIGNAL);
      if (n <= 0) return STRM_LINK_FAILED;
      done += static_cast<unsigned int>(n);
    }
    return STRM_OK;
  }
  int fd_;
  std::thread pump_;
};

using ServerEnd = vq_test::TlsSocketEnd;

void ignore_log(const char*) {}
TlsCallbacks g_server_callbacks = {ServerEnd::send_all, nullptr, ignore_log, nullptr};

struct Options {
  explicit Options(const std::string& text) { ParseVCCIOptionString(text.c_str(), &list, nullptr); }
  ~Options() { FreeVCCIOptions(list); }
  _a_vcci_user_option* list = nullptr;
};

// Waits (sleeping) until the session has `n` packets or 10 s have passed.
bool WaitForPackets(FakeSession& s, std::size_t n) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (s.packets().size() < n) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

class TransportTls : public testing::Test {
 protected:
  void SetUp() override {
    env_.Set("VCDIR", VQ_TEST_LIB_DIR);
    ASSERT_NE(0, file_.Open(VQ_TEST_RES_DIR "/vqlgen12.res"));
    UTResFile* files[] = {&file_};
    catalog_.SetResFiles(files, 1);
    catalog_.set_client_charset(UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll));
    catalog_.reset();
    vq::strm::SetLibraryCatalog(&catalog_);
  }
  void TearDown() override {
    vq::strm::SetLibraryCatalog(nullptr);
    for (auto& c : clients_) {
      c.link->stop();
      delete c.tconn;
    }
    if (server_end_ != nullptr) server_end_->stop();
    server_tls_.reset();
    server_end_.reset();
    server_stream_.reset();
  }

  struct Client {
    SocketPconn* link;
    c_strm_tconn* tconn;
    std::unique_ptr<FakeSession> session;
  };

  // A client transport connection over one end of a new socket pair; the other end's
  // descriptor is returned in *peer.
  Client& NewClient(int* peer) {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    Client c;
    c.link = new SocketPconn(fds[0]);
    c.link->port = &port_;
    c.tconn = new c_strm_tconn(&tran_, c.link, nullptr);
    c.session = std::make_unique<FakeSession>();
    c.tconn->set_sconn(c.session.get());
    c.link->start_receive();
    clients_.push_back(std::move(c));
    *peer = fds[1];
    return clients_.back();
  }

  // The server's adapter over `fd` with a stream of `type` and the server's options.
  bool NewServer(int fd, const char* type, const std::string& options) {
    DBVCCIError e;
    server_stream_.reset(tran_.vcci_env().CreateStream(nullptr, nullptr, type, &e));
    if (server_stream_ == nullptr) return false;
    Options o(options);
    if (server_stream_->Init(VCCI_SIDE_SERVER, o.list) != 0) return false;
    server_end_ = std::make_unique<ServerEnd>(fd);
    server_tls_ = std::make_unique<TlsConnection>(server_stream_.get(), &tran_.vcci_env(),
                                                  &g_server_callbacks, server_end_.get(),
                                                  nullptr, &e, o.list);
    return server_tls_->created();
  }

  // A client set up for RSA TLS and the server's adapter on the other end (not yet
  // reading).
  Client& RsaClientAndServer() {
    int peer = -1;
    Client& client = NewClient(&peer);
    c_encrypt_level level("tls",
                          ("tls_type=rsa;trusted_certificates=" + cert("rsa_ca.pem")).c_str());
    DBVCCIError e;
    EXPECT_NE(client.tconn->can_use_encryption(level, &e), 0);
    char err[512] = "";
    EXPECT_EQ(client.tconn->initialize_encryption(level, err, sizeof err), 0) << err;
    EXPECT_TRUE(NewServer(peer, "rsa", "identity=" + cert("rsa_server.pem")));
    return client;
  }

  // The client puts `packet` while the server reads it; the put's result. The server's
  // result and what it read come back in *server_rc and *at_server.
  an_int_strm_error PutWhileTheServerReads(Client& client, const Bytes& packet, Bytes* at_server,
                                           unsigned* server_rc) {
    std::thread server(
        [&] { *server_rc = server_end_->read_exactly(at_server, packet.size()); });
    c_strm_buffer* b = client.session->packet_buffer(packet);
    const an_int_strm_error rc = client.tconn->put(b);
    client.session->buffer_pool()->done_buffer(b);
    if (rc != STRM_OK) server_tls_->shut_down();
    server.join();
    return rc;
  }

  UTLocale locale_;
  UTVCResFile file_;
  UTLangStringBase catalog_{&locale_};
  vq::testing::ScopedEnvironment env_{{"VCDIR", "VELLUM12", "LD_LIBRARY_PATH", "VC_USE_VCCI_STUB"}};
  vq::testing::MinimalPort port_{STRM_PORT_TCPIP};
  c_strm_frlist_controller env_pool_{7300};
  c_strm_tran_layer tran_{nullptr, env_pool_.default_pool, nullptr};
  std::vector<Client> clients_;
  std::unique_ptr<DBVCCIStream> server_stream_;
  std::unique_ptr<ServerEnd> server_end_;
  std::unique_ptr<TlsConnection> server_tls_;
};

struct LevelCase {
  const char* name;
  const char* parms;        // the client's TLS parameters (certificates appended)
  const char* trust;        // CA file
  const char* server_type;  // the server stream's algorithm
  const char* identity;     // the server's certificate
  std::uint32_t level;      // the level number once settled
};

class TransportTlsLevels : public TransportTls, public testing::WithParamInterface<LevelCase> {};

TEST_P(TransportTlsLevels, HandshakeAndPacketsBothWays) {
  const LevelCase& c = GetParam();
  int peer = -1;
  Client& client = NewClient(&peer);
  c_encrypt_level level("tls", (std::string(c.parms) + ";trusted_certificates=" + cert(c.trust)).c_str());
  DBVCCIError e;
  ASSERT_NE(client.tconn->can_use_encryption(level, &e), 0) << e.GetCode();
  char err[512] = "";
  ASSERT_EQ(client.tconn->initialize_encryption(level, err, sizeof err), 0) << err;
  EXPECT_EQ(level.level, c.level);
  EXPECT_TRUE(client.link->tls_mode.load());
  ASSERT_TRUE(NewServer(peer, c.server_type, std::string("identity=") + cert(c.identity)));
  server_end_->start(server_tls_.get());

  // Client to server: the first put runs the handshake.
  const Bytes request = MakePacket(PKT_DATA, PKT_STATUS_EOM, 3000, 5);
  Bytes at_server;
  unsigned server_rc = 99;
  ASSERT_EQ(PutWhileTheServerReads(client, request, &at_server, &server_rc), STRM_OK);
  ASSERT_EQ(server_rc, 0u);
  EXPECT_EQ(at_server, request);
  EXPECT_TRUE(client.tconn->tls()->doneHandshake());

  // Server to client: two packets in one write come out rebuilt.
  const std::vector<Bytes> reply = {MakePacket(PKT_APP_CONNECT, 0, 313, 2),
                                    MakePacket(PKT_DATA, PKT_STATUS_EOM, 5000, 8)};
  Bytes both = reply[0];
  both.insert(both.end(), reply[1].begin(), reply[1].end());
  ASSERT_EQ(server_tls_->write(both.data(), static_cast<unsigned>(both.size())), 0u);
  ASSERT_TRUE(WaitForPackets(*client.session, 2));
  EXPECT_EQ(client.session->packets(), reply);
  EXPECT_TRUE(client.session->errors().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Levels, TransportTlsLevels,
    testing::Values(LevelCase{"Rsa", "tls_type=rsa", "rsa_ca.pem", "rsa", "rsa_server.pem", 3},
                    LevelCase{"Ecc", "tls_type=ecc", "ec_ca.pem", "ecc", "ec_server.pem", 2},
                    LevelCase{"Fips", "tls_type=rsa;fips=yes", "rsa_ca.pem", "rsa",
                              "rsa_server.pem", 4}),
    [](const testing::TestParamInfo<LevelCase>& info) { return std::string(info.param.name); });

// Once the handshake is done, a packet the link cannot carry is a failed send: put must
// not report it as sent, and the TLS connection is shut down behind it.
TEST_F(TransportTls, AWriteThatFailsAfterTheHandshakeIsNotReportedAsSent) {
  Client& client = RsaClientAndServer();
  ASSERT_FALSE(HasFailure());
  server_end_->start(server_tls_.get());

  const Bytes first = MakePacket(PKT_DATA, PKT_STATUS_EOM, 200, 3);
  Bytes at_server;
  unsigned server_rc = 99;
  ASSERT_EQ(PutWhileTheServerReads(client, first, &at_server, &server_rc), STRM_OK);
  ASSERT_EQ(server_rc, 0u);
  ASSERT_TRUE(client.tconn->tls()->doneHandshake());

  client.link->fail_sends = true;
  const Bytes second = MakePacket(PKT_DATA, PKT_STATUS_EOM, 200, 4);
  c_strm_buffer* b = client.session->packet_buffer(second);
  const an_int_strm_error second_rc = client.tconn->put(b);
  client.session->buffer_pool()->done_buffer(b);
  EXPECT_NE(second_rc, STRM_OK);
  EXPECT_EQ(second_rc, 0);  // after the handshake: the connection is dead, not the handshake
  // The TLS connection is shut down: nothing more goes out through it.
  EXPECT_EQ(client.tconn->tls()->write("x", 1), 12u);
}

TEST_F(TransportTls, AnOptionTheModuleDoesNotTakeIsNamed) {
  int peer = -1;
  Client& client = NewClient(&peer);
  ::close(peer);
  c_encrypt_level level("tls", "tls_type=rsa");
  ASSERT_TRUE(level.set_parms(("tls_type=rsa;trusted_certificates=" + cert("rsa_ca.pem") +
                               ";carrier_pigeon=yes").c_str()));
  DBVCCIError e;
  ASSERT_NE(client.tconn->can_use_encryption(level, &e), 0);
  char err[512] = "";
  EXPECT_EQ(client.tconn->initialize_encryption(level, err, sizeof err), STRM_NO_SERVER);
  EXPECT_STREQ(err, "Crypto provider error: carrier_pigeon");
  EXPECT_EQ(client.tconn->tls(), nullptr);
}

TEST_F(TransportTls, TwoConnectionsShareOneProviderStream) {
  const std::string parms = "tls_type=rsa;trusted_certificates=" + cert("rsa_ca.pem");
  for (int i = 0; i < 2; ++i) {
    int peer = -1;
    Client& client = NewClient(&peer);
    ::close(peer);
    c_encrypt_level level("tls", parms.c_str());
    DBVCCIError e;
    ASSERT_NE(client.tconn->can_use_encryption(level, &e), 0);
    char err[512] = "";
    ASSERT_EQ(client.tconn->initialize_encryption(level, err, sizeof err), 0) << err;
  }
  EXPECT_EQ(tran_.vcci_stream_count(), 1u);
}

// While the client waits for a server that answers late, its thread sleeps.
TEST_F(TransportTls, TheHandshakeWaitSleeps) {
  Client& client = RsaClientAndServer();
  ASSERT_FALSE(HasFailure());

  const Bytes request = MakePacket(PKT_DATA, 0, 100);
  Bytes at_server;
  unsigned server_rc = 99;
  std::thread server([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    server_end_->start(server_tls_.get());
    server_rc = server_end_->read_exactly(&at_server, request.size());
  });
  c_strm_buffer* b = client.session->packet_buffer(request);
  const auto wall_start = Clock::now();
  const double cpu_start = ThreadCpuSeconds();
  const an_int_strm_error rc = client.tconn->put(b);
  const double cpu = ThreadCpuSeconds() - cpu_start;
  const double wall = std::chrono::duration<double>(Clock::now() - wall_start).count();
  client.session->buffer_pool()->done_buffer(b);
  server.join();
  ASSERT_EQ(rc, STRM_OK);
  EXPECT_EQ(at_server, request);
  EXPECT_GE(wall, 0.5);
  EXPECT_LT(cpu, wall / 3) << "cpu " << cpu << " s over " << wall << " s";
}

}  // namespace
